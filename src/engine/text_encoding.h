// Code page 932 text to UTF-8, for output that a UTF-8 terminal or pipeline
// reads. Portable: a generated table, no platform converter.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kurvane::detail {

// The double-byte table's rows: leads 0x81-0x9F then 0xE0-0xFC, trails
// 0x40-0xFC. An entry is the Unicode code point, 0 where none is assigned.
inline constexpr std::size_t cp932_lead_rows = 0x9F - 0x81 + 1 + 0xFC - 0xE0 + 1;
inline constexpr unsigned cp932_trail_first = 0x40;
inline constexpr std::size_t cp932_trail_count = 0xFC - cp932_trail_first + 1;
extern const std::uint16_t cp932_double_table[cp932_lead_rows][cp932_trail_count];

inline constexpr char32_t replacement_char = 0xFFFD;

// The most UTF-8 bytes one input byte turns into: a single-byte katakana
// or a replacement character takes 3, a double-byte character at most 3.
inline constexpr std::size_t utf8_per_cp932_byte = 3;

// The code point of the double-byte character lead, trail, or 0 when the
// pair is not one.
char32_t cp932_double_char(unsigned char lead, unsigned char trail);

// Converts src[0, n) and stores the UTF-8 bytes at dst, which has room for
// utf8_per_cp932_byte * n of them; returns how many were stored. A byte
// that does not start a character of code page 932 (or a lead byte without
// a valid trail) becomes U+FFFD. Half-width katakana stay half-width.
std::size_t cp932_to_utf8(const unsigned char* src, std::size_t n, unsigned char* dst);

}  // namespace kurvane::detail
