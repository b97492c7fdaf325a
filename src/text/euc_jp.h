// EUC-JP, as glibc's converter of that name reads it: ASCII and the C1
// controls as single bytes, JIS X 0208 as two bytes 0xA1-0xFE, half-width
// katakana as 0x8E then 0xA1-0xDF, and JIS X 0212 as 0x8F then two bytes
// 0xA1-0xFE.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/decoded.h"

namespace kurvane::text {
namespace detail {

inline constexpr unsigned char euc_jp_cell_first = 0xA1;
inline constexpr unsigned char euc_jp_cell_last = 0xFE;
inline constexpr std::size_t euc_jp_cells = euc_jp_cell_last - euc_jp_cell_first + 1;
inline constexpr unsigned char euc_jp_ss2 = 0x8E;  // half-width katakana follow
inline constexpr unsigned char euc_jp_ss3 = 0x8F;  // a JIS X 0212 character follows
inline constexpr unsigned char euc_jp_kana_last = 0xDF;
inline constexpr unsigned char euc_jp_c1_last = 0x9F;  // 0xA0 is no character
inline constexpr char32_t half_katakana_first = 0xFF61;  // the byte 0xA1 after SS2

// Row then cell, each 0xA1-0xFE; 0 where the set assigns no character.
extern const std::uint16_t euc_jp_jis0208[euc_jp_cells][euc_jp_cells];
extern const std::uint16_t euc_jp_jis0212[euc_jp_cells][euc_jp_cells];

inline bool euc_jp_cell(unsigned char c) { return c >= euc_jp_cell_first && c <= euc_jp_cell_last; }

}  // namespace detail

// The character at p[0, n), n >= 1. A set's unassigned code, a truncated
// character and the bytes 0xA0 and 0xFF are invalid.
inline Decoded decode_euc_jp(const unsigned char* p, std::size_t n) {
    using namespace detail;
    const unsigned char c = p[0];
    if (c < euc_jp_ss2 || (c > euc_jp_ss3 && c <= euc_jp_c1_last)) return {c, 1};
    if (euc_jp_cell(c)) {
        if (n < 2 || !euc_jp_cell(p[1])) return invalid_char;
        const char32_t u = euc_jp_jis0208[c - euc_jp_cell_first][p[1] - euc_jp_cell_first];
        return u != 0 ? Decoded{u, 2} : invalid_char;
    }
    if (c == euc_jp_ss2) {
        if (n < 2 || p[1] < euc_jp_cell_first || p[1] > euc_jp_kana_last) return invalid_char;
        return {half_katakana_first + (p[1] - euc_jp_cell_first), 2};
    }
    if (c == euc_jp_ss3) {
        if (n < 3 || !euc_jp_cell(p[1]) || !euc_jp_cell(p[2])) return invalid_char;
        const char32_t u = euc_jp_jis0212[p[1] - euc_jp_cell_first][p[2] - euc_jp_cell_first];
        return u != 0 ? Decoded{u, 3} : invalid_char;
    }
    return invalid_char;  // 0xFF
}

}  // namespace kurvane::text
