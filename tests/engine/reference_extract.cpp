#include "reference_extract.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdint>
#include <cstring>

#include "engine/classifier.h"
#include "engine/text_encoding.h"

namespace kurvane::test {
namespace {

bool reference_match_exempt(const ExtractionSettings& settings, unsigned char* run,
                            std::size_t& n) {
    for (int k = 0; k < 6; ++k) {
        const unsigned char* pattern = settings.exempt_strings[k];
        std::int64_t length = 0;
        while (length < 20 && pattern[length] != 0) ++length;
        if (length == 0) continue;
        for (std::int64_t j = 0; j < static_cast<std::int64_t>(n) - length + 1; ++j) {
            if (std::memcmp(run + j, pattern, static_cast<std::size_t>(length)) == 0) {
                std::memcpy(run, pattern, static_cast<std::size_t>(length));
                n = static_cast<std::size_t>(length);
                return true;
            }
        }
    }
    return false;
}

}  // namespace

std::vector<unsigned char> reference_extract(std::span<const unsigned char> data,
                                             const ExtractionSettings& settings,
                                             std::vector<ReferenceWrite>* writes) {
    const std::size_t size = data.size();
    std::vector<unsigned char> buffer(data.begin(), data.end());
    buffer.resize(size + 16, 0);
    if (settings.xor_value != 0) {
        for (std::size_t k = 0; k < size; ++k)
            buffer[k] = static_cast<unsigned char>(buffer[k] ^ (settings.xor_value & 0xFF));
    }

    std::vector<unsigned char> out;
    std::size_t start = 0;
    auto write = [&](const unsigned char* p, std::size_t n, bool line_break) {
        out.insert(out.end(), p, p + n);
        if (line_break) out.insert(out.end(), {'\r', '\n'});
        if (writes != nullptr) writes->push_back({start, {p, p + n}, line_break});
    };
    auto classify = [&](std::size_t i) { return classify_pair(settings, buffer[i], buffer[i + 1]); };

    unsigned char run[1024];
    std::size_t n = 0;
    std::size_t i = 0;
    while (i < size) {
        if (classify(i) == CharClass::None) {
            ++i;
            continue;
        }
        start = i;
        for (;;) {
            const CharClass c = classify(i);
            if (c == CharClass::None) break;
            if (c == CharClass::Single) {
                run[n++] = buffer[i];
                i += 1;
            } else if (c == CharClass::Double) {
                run[n++] = buffer[i];
                run[n++] = buffer[i + 1];
                i += 2;
            } else {
                i += 2;
            }
            if (n > 1000) {
                write(run, n, false);
                n = 0;
                break;
            }
        }
        if (n >= settings.min_length || reference_match_exempt(settings, run, n)) {
            write(run, n, settings.auto_newline != 0);
        }
        n = 0;
    }
    return out;
}

std::vector<unsigned char> formatted_reference(const std::vector<ReferenceWrite>& writes,
                                               const OutputFormat& f, bool lines) {
    std::vector<unsigned char> out;
    bool prefix_due = lines;
    std::uint64_t last_start = UINT64_MAX;
    for (const ReferenceWrite& w : writes) {
        if (!lines && w.start != last_start) prefix_due = true;
        last_start = w.start;
        if (prefix_due) {
            if (!f.file_name.empty()) out.insert(out.end(), f.file_name.begin(), f.file_name.end());
            if (!f.file_name.empty()) out.insert(out.end(), {':', ' '});
            char text[32] = "";
            if (f.radix == OffsetRadix::decimal) std::snprintf(text, sizeof text, "%7" PRIu64 " ", w.start);
            if (f.radix == OffsetRadix::octal) std::snprintf(text, sizeof text, "%7" PRIo64 " ", w.start);
            if (f.radix == OffsetRadix::hex) std::snprintf(text, sizeof text, "%7" PRIx64 " ", w.start);
            out.insert(out.end(), text, text + std::strlen(text));
            prefix_due = false;
        }
        if (f.encoding == TextEncoding::utf8) {
            std::vector<unsigned char> utf8(3 * w.bytes.size() + 1);
            utf8.resize(detail::cp932_to_utf8(w.bytes.data(), w.bytes.size(), utf8.data()));
            out.insert(out.end(), utf8.begin(), utf8.end());
        } else {
            out.insert(out.end(), w.bytes.begin(), w.bytes.end());
        }
        if (w.line_break) {
            if (f.eol == LineEnd::crlf) out.push_back('\r');
            out.push_back('\n');
            prefix_due = true;
        }
    }
    return out;
}


}  // namespace kurvane::test
