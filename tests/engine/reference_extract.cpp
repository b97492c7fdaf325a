#include "reference_extract.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/classes/classifier.h"
#include "text/text_encoding.h"

namespace kurvane::test {
namespace {

// Also moves the input offsets of the bytes along with them.
bool reference_match_exempt(const ExtractionSettings& settings, unsigned char* run,
                            std::uint64_t* run_at, std::size_t& n) {
    for (int k = 0; k < 6; ++k) {
        const unsigned char* pattern = settings.exempt_strings[k];
        std::int64_t length = 0;
        while (length < 20 && pattern[length] != 0) ++length;
        if (length == 0) continue;
        for (std::int64_t j = 0; j < static_cast<std::int64_t>(n) - length + 1; ++j) {
            if (std::memcmp(run + j, pattern, static_cast<std::size_t>(length)) == 0) {
                std::memcpy(run, pattern, static_cast<std::size_t>(length));
                std::memmove(run_at, run_at + j, static_cast<std::size_t>(length) * sizeof *run_at);
                n = static_cast<std::size_t>(length);
                return true;
            }
        }
    }
    return false;
}

}  // namespace

namespace {

// The pass; `each`, when given, is told every write.
std::vector<unsigned char> reference_pass(std::span<const unsigned char> data,
                                          const ExtractionSettings& settings, bool keep_output,
                                          const std::function<void(const ReferenceWrite&)>* each) {
    const std::size_t size = data.size();
    std::vector<unsigned char> buffer(data.begin(), data.end());
    buffer.resize(size + 16, 0);
    if (settings.xor_value != 0) {
        for (std::size_t k = 0; k < size; ++k)
            buffer[k] = static_cast<unsigned char>(buffer[k] ^ (settings.xor_value & 0xFF));
    }

    std::vector<unsigned char> out;
    std::size_t start = 0;
    unsigned char run[1024];
    std::uint64_t run_at[1024];  // the input offset of each byte in run
    std::size_t split_end = SIZE_MAX;
    bool continues = false;
    auto write = [&](std::size_t n, bool line_break, bool split) {
        if (keep_output) {
            out.insert(out.end(), run, run + n);
            if (line_break) out.insert(out.end(), {'\r', '\n'});
        }
        if (each != nullptr) {
            const std::uint64_t at = n > 0 ? run_at[0] : start;
            const std::uint64_t end = n > 0 ? run_at[n - 1] + 1 : start;
            (*each)({start, {run, run + n}, line_break, at, end, split, continues});
        }
    };
    auto classify = [&](std::size_t i) { return classify_pair(settings, buffer[i], buffer[i + 1]); };

    std::size_t n = 0;
    std::size_t i = 0;
    while (i < size) {
        if (classify(i) == CharClass::None) {
            ++i;
            continue;
        }
        start = i;
        continues = i == split_end;
        for (;;) {
            const CharClass c = classify(i);
            if (c == CharClass::None) break;
            if (c == CharClass::Single) {
                run_at[n] = i;
                run[n++] = buffer[i];
                i += 1;
            } else if (c == CharClass::Double) {
                run_at[n] = i;
                run[n++] = buffer[i];
                run_at[n] = i + 1;
                run[n++] = buffer[i + 1];
                i += 2;
            } else {
                i += 2;
            }
            if (n > 1000) {
                write(n, false, true);
                n = 0;
                split_end = i;
                continues = true;
                break;
            }
        }
        if (n >= settings.min_length || reference_match_exempt(settings, run, run_at, n)) {
            write(n, settings.auto_newline != 0, false);
        }
        n = 0;
    }
    return out;
}

}  // namespace

std::vector<unsigned char> reference_extract(std::span<const unsigned char> data,
                                             const ExtractionSettings& settings,
                                             std::vector<ReferenceWrite>* writes) {
    if (writes == nullptr) return reference_pass(data, settings, true, nullptr);
    const std::function<void(const ReferenceWrite&)> keep = [writes](const ReferenceWrite& w) {
        writes->push_back(w);
    };
    return reference_pass(data, settings, true, &keep);
}

void reference_writes(std::span<const unsigned char> data, const ExtractionSettings& settings,
                      const std::function<void(const ReferenceWrite&)>& each) {
    reference_pass(data, settings, false, &each);
}

namespace {

void append(std::vector<unsigned char>& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

std::vector<unsigned char> utf8_of(const std::vector<unsigned char>& cp932) {
    std::vector<unsigned char> utf8(3 * cp932.size() + 1);
    utf8.resize(text::cp932_to_utf8(cp932.data(), cp932.size(), utf8.data()));
    return utf8;
}

void append_json_string(std::vector<unsigned char>& out, const std::vector<unsigned char>& utf8) {
    for (const unsigned char c : utf8) {
        char text[8];
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (c == '\n') {
            append(out, "\\n");
        } else if (c == '\r') {
            append(out, "\\r");
        } else if (c == '\t') {
            append(out, "\\t");
        } else if (c == '\b') {
            append(out, "\\b");
        } else if (c == '\f') {
            append(out, "\\f");
        } else if (c < 0x20) {
            std::snprintf(text, sizeof text, "\\u%04x", c);
            append(out, text);
        } else {
            out.push_back(c);
        }
    }
}

}  // namespace

void FormattedReference::close_object() {
    if (!open_) return;
    const OutputFormat& f = format_;
    append(out, "{");
    if (!f.file_name.empty()) {
        append(out, "\"file\":\"");
        append_json_string(out, std::vector<unsigned char>(f.file_name.begin(), f.file_name.end()));
        append(out, "\",");
    }
    append(out, "\"offset\":" + std::to_string(first_) + ",\"text\":\"");
    append_json_string(out, utf8_of(text_));
    append(out, "\",\"length\":" + std::to_string(last_end_ - first_));
    if (score_ >= 0) append(out, ",\"score\":" + std::to_string(score_));
    append(out, "}\n");
    open_ = false;
    text_.clear();
}

void FormattedReference::add(const ReferenceWrite& w) {
    const OutputFormat& f = format_;
    if (f.json) {
        // One object per run, its pieces joined.
        if (!w.continues) close_object();
        if (!open_) {
            open_ = true;
            first_ = last_end_ = w.at;
            score_ = w.score;
        }
        text_.insert(text_.end(), w.bytes.begin(), w.bytes.end());
        if (!w.bytes.empty()) last_end_ = w.end;
        if (!w.split) close_object();
        return;
    }
    if (!lines_ && w.start != last_start_) prefix_due_ = true;
    last_start_ = w.start;
    if (prefix_due_) {
        if (!f.file_name.empty()) out.insert(out.end(), f.file_name.begin(), f.file_name.end());
        if (!f.file_name.empty()) out.insert(out.end(), {':', ' '});
        char text[32] = "";
        if (f.radix == OffsetRadix::decimal) std::snprintf(text, sizeof text, "%7" PRIu64 " ", w.at);
        if (f.radix == OffsetRadix::octal) std::snprintf(text, sizeof text, "%7" PRIo64 " ", w.at);
        if (f.radix == OffsetRadix::hex) std::snprintf(text, sizeof text, "%7" PRIx64 " ", w.at);
        out.insert(out.end(), text, text + std::strlen(text));
        prefix_due_ = false;
    }
    if (f.encoding == TextEncoding::utf8) {
        const std::vector<unsigned char> utf8 = utf8_of(w.bytes);
        out.insert(out.end(), utf8.begin(), utf8.end());
    } else {
        out.insert(out.end(), w.bytes.begin(), w.bytes.end());
    }
    if (w.line_break) {
        if (f.eol == LineEnd::crlf) out.push_back('\r');
        out.push_back('\n');
        prefix_due_ = true;
    }
}

void FormattedReference::finish() { close_object(); }

std::vector<unsigned char> formatted_reference(const std::vector<ReferenceWrite>& writes,
                                               const OutputFormat& f, bool lines) {
    FormattedReference reference(f, lines);
    for (const ReferenceWrite& w : writes) reference.add(w);
    reference.finish();
    return std::move(reference.out);
}

}  // namespace kurvane::test
