#include "engine/text_encoding.h"

#include "engine/file_names.h"

namespace kurvane::detail {
namespace {

std::size_t put_utf8(char32_t u, unsigned char* dst) {
    if (u < 0x80) {
        dst[0] = static_cast<unsigned char>(u);
        return 1;
    }
    if (u < 0x800) {
        dst[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
        dst[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        return 2;
    }
    // Code page 932 maps into the Basic Multilingual Plane only.
    dst[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
    dst[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
    dst[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    return 3;
}

}  // namespace

char32_t cp932_double_char(unsigned char lead, unsigned char trail) {
    if (!is_cp932_lead(lead) || trail < cp932_trail_first || trail >= cp932_trail_first + cp932_trail_count)
        return 0;
    const std::size_t row = lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + (0x9Fu - 0x81u + 1);
    return cp932_double_table[row][trail - cp932_trail_first];
}

std::size_t cp932_to_utf8(const unsigned char* src, std::size_t n, unsigned char* dst) {
    std::size_t out = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const unsigned char c = src[k];
        char32_t u = replacement_char;
        if (c < 0x80) {
            u = c;
        } else if (c >= 0xA1 && c <= 0xDF) {
            u = 0xFF61 + (c - 0xA1u);  // half-width katakana and punctuation
        } else if (is_cp932_lead(c) && k + 1 < n) {
            // A lead byte whose trail does not complete a character is
            // replaced alone; the trail is then read as a character itself.
            if (const char32_t d = cp932_double_char(c, src[k + 1]); d != 0) {
                u = d;
                ++k;
            }
        }
        out += put_utf8(u, dst + out);
    }
    return out;
}

}  // namespace kurvane::detail
