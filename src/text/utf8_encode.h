// One character written as UTF-8.
#pragma once

#include <cstddef>

namespace kurvane::text {

// The most bytes put_utf8 writes.
inline constexpr std::size_t max_utf8_char = 4;

// Writes the UTF-8 of code point u (not a surrogate, at most U+10FFFF) at
// dst and returns how many bytes it took.
inline std::size_t put_utf8(char32_t u, unsigned char* dst) {
    if (u < 0x80) {
        dst[0] = static_cast<unsigned char>(u);
        return 1;
    }
    if (u < 0x800) {
        dst[0] = static_cast<unsigned char>(0xC0 | u >> 6);
        dst[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        return 2;
    }
    if (u < 0x10000) {
        dst[0] = static_cast<unsigned char>(0xE0 | u >> 12);
        dst[1] = static_cast<unsigned char>(0x80 | (u >> 6 & 0x3F));
        dst[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        return 3;
    }
    dst[0] = static_cast<unsigned char>(0xF0 | u >> 18);
    dst[1] = static_cast<unsigned char>(0x80 | (u >> 12 & 0x3F));
    dst[2] = static_cast<unsigned char>(0x80 | (u >> 6 & 0x3F));
    dst[3] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    return 4;
}

}  // namespace kurvane::text
