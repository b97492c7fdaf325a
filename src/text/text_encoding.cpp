#include "text/text_encoding.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "text/utf8_encode.h"

namespace kurvane::text {
namespace {

constexpr char32_t half_katakana_first = 0xFF61;  // 0xA1 in code page 932
constexpr unsigned char half_katakana_byte_first = 0xA1;
constexpr unsigned char half_katakana_byte_last = 0xDF;

// The single bytes outside ASCII and the katakana that Windows still maps,
// both ways: 0x80 to U+0080, and 0xA0, 0xFD-0xFF to private-use characters.
// A Japanese system's edit control kept them, so a stored text holding one
// reads back and is written again unchanged.
struct ExtraSingle {
    unsigned char byte;
    char32_t unicode;
};
constexpr ExtraSingle extra_singles[] = {
    {0x80, 0x0080}, {0xA0, 0xF8F0}, {0xFD, 0xF8F1}, {0xFE, 0xF8F2}, {0xFF, 0xF8F3}};

}  // namespace

char32_t cp932_double_char(unsigned char lead, unsigned char trail) {
    if (!is_cp932_lead(lead) || trail < cp932_trail_first || trail >= cp932_trail_first + cp932_trail_count)
        return 0;
    const std::size_t row = lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + (0x9Fu - 0x81u + 1);
    return cp932_double_table[row][trail - cp932_trail_first];
}

namespace {

static_assert(std::endian::native == std::endian::little, "entries are stored low byte first");

Utf8Entry utf8_entry(char32_t u) {
    unsigned char bytes[4] = {};
    const std::size_t n = put_utf8(u, bytes);
    return Utf8Entry{bytes[0]} | Utf8Entry{bytes[1]} << 8 | Utf8Entry{bytes[2]} << 16 |
           static_cast<Utf8Entry>(n) << utf8_length_shift;
}

struct Utf8Tables : Cp932Utf8Tables {
    Utf8Tables() : Cp932Utf8Tables{} {
        unsigned char rows = 0;
        for (unsigned c = 0; c < 256; ++c) {
            const auto b = static_cast<unsigned char>(c);
            char32_t u = replacement_char;
            bool lead = false;
            if (b < 0x80) {
                u = b;
            } else if (b >= half_katakana_byte_first && b <= half_katakana_byte_last) {
                u = half_katakana_first + (b - half_katakana_byte_first);
            } else if (const auto* extra = std::find_if(std::begin(extra_singles), std::end(extra_singles),
                                                        [b](const ExtraSingle& e) { return e.byte == b; });
                       extra != std::end(extra_singles)) {
                u = extra->unicode;
            } else {
                lead = is_cp932_lead(b);
            }
            single[c] = utf8_entry(u);
            if (!lead) continue;
            row[c] = ++rows;
            for (unsigned t = 0; t < 256; ++t) {
                const char32_t d = cp932_double_char(b, static_cast<unsigned char>(t));
                pair[rows][t] = d != 0 ? utf8_entry(d) : 0;
            }
        }
    }
};

}  // namespace

const Cp932Utf8Tables& cp932_utf8_tables() {
    static const Utf8Tables tables;
    return tables;
}

std::size_t cp932_to_utf8(const unsigned char* src, std::size_t n, unsigned char* dst) {
    const Cp932Utf8Tables& t = cp932_utf8_tables();
    unsigned char* const start = dst;
    constexpr std::size_t ascii_block = 16;
    std::size_t k = 0;
    // While two input bytes are left the output has room for four more
    // (three per input byte), so every entry is stored whole.
    while (k + 2 <= n) {
        if (k + ascii_block <= n && all_ascii16(src + k)) {
            std::memcpy(dst, src + k, ascii_block);
            dst += ascii_block;
            k += ascii_block;
            continue;
        }
        const unsigned char c = src[k];
        Utf8Entry e = 0;
        if (t.row[c] != 0) e = t.pair[t.row[c]][src[k + 1]];
        // A lead byte whose trail does not complete a character is
        // replaced alone; the trail is then read as a character itself.
        k += e != 0 ? 2 : 1;
        if (e == 0) e = t.single[c];
        std::memcpy(dst, &e, sizeof e);
        dst += e >> utf8_length_shift;
    }
    if (k < n) {
        const Utf8Entry e = t.single[src[k]];
        for (unsigned b = 0; b < (e >> utf8_length_shift); ++b)
            *dst++ = static_cast<unsigned char>(e >> (8 * b));
    }
    return static_cast<std::size_t>(dst - start);
}

std::string cp932_to_utf8(std::string_view cp932) {
    std::string out(utf8_per_cp932_byte * cp932.size(), '\0');
    out.resize(cp932_to_utf8(reinterpret_cast<const unsigned char*>(cp932.data()), cp932.size(),
                             reinterpret_cast<unsigned char*>(out.data())));
    return out;
}

int cp932_code(char32_t u) {
    if (u < 0x80) return static_cast<int>(u);
    if (u >= half_katakana_first && u <= half_katakana_first + (half_katakana_byte_last - half_katakana_byte_first))
        return static_cast<int>(half_katakana_byte_first + (u - half_katakana_first));
    for (const ExtraSingle& e : extra_singles)
        if (e.unicode == u) return e.byte;
    if (u > 0xFFFF) return -1;
    const Cp932Encoding* end = cp932_encode_table + cp932_encode_count;
    const Cp932Encoding* hit = std::lower_bound(
        cp932_encode_table, end, u, [](const Cp932Encoding& e, char32_t v) { return e.unicode < v; });
    return hit != end && hit->unicode == u ? hit->code : -1;
}

Utf8Char next_utf8(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[pos + k]); };
    const unsigned char c = byte(0);
    if (c < 0x80) return {c, 1};
    std::size_t length;
    char32_t value;
    char32_t least;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2, value = c & 0x1Fu, least = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3, value = c & 0x0Fu, least = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4, value = c & 0x07u, least = 0x10000;
    } else {
        return {replacement_char, 1};
    }
    if (text.size() - pos < length) return {replacement_char, 1};
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0u) != 0x80u) return {replacement_char, 1};
        value = value << 6 | (byte(k) & 0x3Fu);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {replacement_char, 1};
    return {value, length};
}

bool utf8_to_cp932(std::string_view utf8, std::string& cp932, char substitute) {
    cp932.clear();
    cp932.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const Utf8Char c = next_utf8(utf8, pos);
        pos += c.length;
        // A replacement character read from the text is refused like a
        // malformed byte: code page 932 has neither.
        const int code = cp932_code(c.value);
        if (code < 0 && substitute == '\0') return false;
        if (code < 0) {
            cp932.push_back(substitute);
            continue;
        }
        if (code > 0xFF) cp932.push_back(static_cast<char>(code >> 8));
        cp932.push_back(static_cast<char>(code & 0xFF));
    }
    return true;
}

std::string utf16_to_utf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t k = 0; k < utf16.size(); ++k) {
        char32_t u = utf16[k];
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < utf16.size() && utf16[k + 1] >= 0xDC00 && utf16[k + 1] <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (utf16[k + 1] - 0xDC00u);
            ++k;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = replacement_char;
        }
        if (u < 0x10000) {
            unsigned char bytes[3];
            out.append(reinterpret_cast<const char*>(bytes), put_utf8(u, bytes));
        } else {
            out += static_cast<char>(0xF0 | (u >> 18));
            out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const Utf8Char c = next_utf8(utf8, pos);
        if (c.value < 0x10000) {
            out += static_cast<char16_t>(c.value);
        } else {
            out += static_cast<char16_t>(0xD800 + ((c.value - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c.value - 0x10000) & 0x3FF));
        }
        pos += c.length;
    }
    return out;
}

std::size_t bound_width(char32_t u) {
    const int code = cp932_code(u);
    if (code >= 0) return code > 0xFF ? 2 : 1;
    return u > 0xFFFF ? 2 : 1;
}

std::size_t bound_width(std::string_view utf8) {
    std::size_t width = 0;
    for (std::size_t pos = 0; pos < utf8.size();) {
        const Utf8Char c = next_utf8(utf8, pos);
        width += bound_width(c.value);
        pos += c.length;
    }
    return width;
}

std::size_t bounded_prefix(std::string_view utf8, std::size_t max_width) {
    std::size_t width = 0;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const Utf8Char c = next_utf8(utf8, pos);
        width += bound_width(c.value);
        if (width > max_width) break;
        pos += c.length;
    }
    return pos;
}

}  // namespace kurvane::text
