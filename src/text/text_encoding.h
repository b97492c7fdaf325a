// Code page 932 and UTF-8, both ways. UTF-8 is the program's own text form;
// code page 932 is what data files, the extracted text and setting.dat hold.
// Portable: generated tables, no platform converter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kurvane::text {

// A byte that leads a double-byte character of code page 932.
inline bool is_cp932_lead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The double-byte table's rows: leads 0x81-0x9F then 0xE0-0xFC, trails
// 0x40-0xFC. An entry is the Unicode code point, 0 where none is assigned.
inline constexpr std::size_t cp932_lead_rows = 0x9F - 0x81 + 1 + 0xFC - 0xE0 + 1;
inline constexpr unsigned cp932_trail_first = 0x40;
inline constexpr std::size_t cp932_trail_count = 0xFC - cp932_trail_first + 1;
extern const std::uint16_t cp932_double_table[cp932_lead_rows][cp932_trail_count];

// The way back for double-byte characters, sorted by code point. Where a
// character has several codes, the one Windows writes (see
// scripts/gen_cp932_table.py).
struct Cp932Encoding {
    std::uint16_t unicode;
    std::uint16_t code;  // lead << 8 | trail
};
inline constexpr std::size_t cp932_encode_count = 9206;
extern const Cp932Encoding cp932_encode_table[cp932_encode_count];

inline constexpr char32_t replacement_char = 0xFFFD;

// The most UTF-8 bytes one input byte turns into: a single-byte katakana
// or a replacement character takes 3, a double-byte character at most 3.
inline constexpr std::size_t utf8_per_cp932_byte = 3;

// The code point of the double-byte character lead, trail, or 0 when the
// pair is not one.
char32_t cp932_double_char(unsigned char lead, unsigned char trail);

// The code page 932 to UTF-8 conversion as tables, for converters that store
// a character at a time: an entry holds a character's UTF-8 bytes in its low
// three bytes and their count in the high one (one four-byte store and a
// shift per character). `single` is what each byte is alone; a lead byte's
// `row` names its row of `pair`, what each trail makes of it (0: the pair is
// no character, and the lead stands alone). Row 0 is all zeros, the row of
// every byte that leads nothing, so a pair lookup needs no test first.
using Utf8Entry = std::uint32_t;
inline constexpr unsigned utf8_length_shift = 24;
struct Cp932Utf8Tables {
    Utf8Entry single[256];
    unsigned char row[256];
    Utf8Entry pair[cp932_lead_rows + 1][256];
};
const Cp932Utf8Tables& cp932_utf8_tables();

// True when the 16 bytes at p are all ASCII.
inline bool all_ascii16(const unsigned char* p) {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + 8, 8);
    return ((a | b) & 0x8080808080808080u) == 0;
}

// Converts src[0, n) and stores the UTF-8 bytes at dst, which has room for
// utf8_per_cp932_byte * n of them; returns how many were stored. A byte
// that does not start a character of code page 932 (or a lead byte without
// a valid trail) becomes U+FFFD. Half-width katakana stay half-width.
std::size_t cp932_to_utf8(const unsigned char* src, std::size_t n, unsigned char* dst);

// The same over strings.
std::string cp932_to_utf8(std::string_view cp932);

// The code page 932 code of a code point: 0x00-0xFF for a single byte,
// lead << 8 | trail for a double-byte character, -1 when code page 932 has
// no such character. Only exact mappings count (no "best fit": U+00A5 is
// not written as 0x5C).
int cp932_code(char32_t u);

// One character of UTF-8 text at text[pos]: its code point and its length
// in bytes. A byte that starts no well-formed character (a stray
// continuation byte, an overlong or truncated form, a surrogate) is one
// character of its own, U+FFFD.
struct Utf8Char {
    char32_t value;
    std::size_t length;
};
Utf8Char next_utf8(std::string_view text, std::size_t pos);

// UTF-8 to code page 932. False, with `cp932` unspecified, when the text is
// not well-formed UTF-8 or holds a character code page 932 has no code for;
// with a `substitute` byte, each such character becomes that byte instead
// and the conversion always succeeds.
bool utf8_to_cp932(std::string_view utf8, std::string& cp932, char substitute = '\0');

// UTF-16 (a Windows name or argument) to UTF-8. A surrogate without its
// partner, which Windows names may hold, becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view utf16);

// UTF-8 to UTF-16 (a Windows name, a dialog text). A byte that starts no
// well-formed character becomes U+FFFD, as next_utf8 reads it.
std::u16string utf8_to_utf16(std::string_view utf8);

// How many bytes a character takes in the program's byte bounds: its code
// page 932 length when it has one (1 or 2), otherwise its UTF-16 length (1,
// or 2 beyond the Basic Multilingual Plane). A Japanese system's bounds count
// code page 932 bytes; a character that code page holds no code for counts
// as Windows counts it in a file name.
std::size_t bound_width(char32_t u);

// The bound width of a whole text.
std::size_t bound_width(std::string_view utf8);

// The most UTF-8 bytes per unit of bound width: a half-width katakana or a
// Hangul syllable takes 3 bytes for a width of 1 (a kanji 3 for 2, an emoji 4
// for 2).
inline constexpr std::size_t utf8_per_bound_unit = 3;

// The length in bytes of the longest prefix of `utf8` whose bound width is
// at most max_width, never ending inside a character: a character that
// would cross the bound is dropped whole.
std::size_t bounded_prefix(std::string_view utf8, std::size_t max_width);

}  // namespace kurvane::text
