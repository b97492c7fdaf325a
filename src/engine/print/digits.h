// Numbers as the printers write them: input offsets as line prefixes in
// each radix and decimal numbers in JSON. Inline, as the printers write one
// or two per run and a call would cost more than the digits.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "engine/output_format.h"

namespace kurvane::detail {

// The most bytes an input offset takes as a line prefix: 22 octal digits
// hold any 64-bit offset, and a space follows them.
inline constexpr std::size_t max_offset_prefix = 22 + 1;
// The most bytes put_decimal stores: 20 digits hold any 64-bit value, and
// the word of up to 8 digits is stored whole.
inline constexpr std::size_t max_decimal = 20;

inline constexpr char hex_digits[] = "0123456789abcdef";

// Digits of a decimal number two at a time.
inline constexpr auto digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (std::size_t k = 0; k < 100; ++k) {
        pairs[2 * k] = static_cast<char>('0' + k / 10);
        pairs[2 * k + 1] = static_cast<char>('0' + k % 10);
    }
    return pairs;
}();

inline constexpr auto powers_of_ten = [] {
    std::array<std::uint64_t, 20> powers{};
    std::uint64_t p = 1;
    for (auto& power : powers) {
        power = p;
        p *= 10;
    }
    return powers;
}();

// The count of v's decimal digits, from its bit width: 1233 / 4096 is just
// over log10(2), so t is the count or one less.
inline std::size_t decimal_digits(std::uint64_t v) {
    const auto t = static_cast<std::size_t>(std::bit_width(v | 1)) * 1233 >> 12;
    return t + ((v | 1) >= powers_of_ten[t] ? 1 : 0);
}

// Stores v's decimal digits ending before `end`.
inline void store_decimal(unsigned char* end, std::uint64_t v) {
    while (v >= 100) {
        const std::uint64_t pair = v % 100;
        v /= 100;
        end -= 2;
        std::memcpy(end, &digit_pairs[2 * pair], 2);
    }
    if (v >= 10) {
        end -= 2;
        std::memcpy(end, &digit_pairs[2 * v], 2);
    } else {
        *--end = static_cast<unsigned char>('0' + v);
    }
}

// The eight decimal digits of v < 10^8, as the bytes of a word in memory
// order, most significant first: the word's lanes split in halves by
// multiplying with reciprocals, 4 digits in each 32-bit lane, then 2 in
// each 16-bit lane, then 1 in each byte. Stored in registers only: digits
// stored a byte pair at a time and loaded back as a word would wait for
// the stores to land.
[[gnu::always_inline]] inline std::uint64_t decimal_word(std::uint32_t v) {
    const std::uint64_t fours = v / 10000 | std::uint64_t{v % 10000} << 32;
    // x * 10486 >> 20 is x / 100 for x < 10^4; x * 103 >> 10 is x / 10 for x < 100.
    const std::uint64_t hundreds = (fours * 10486 >> 20) & 0x0000007F0000007Fu;
    const std::uint64_t twos = ((fours - hundreds * 100) << 16) + hundreds;
    const std::uint64_t tens = (twos * 103 >> 10) & 0x000F000F000F000Fu;
    const std::uint64_t ones = ((twos - tens * 10) << 8) + tens;
    return ones + 0x3030303030303030u;
}

// Stores v in decimal at dst; returns the count of digits. Below 100 two
// bytes are stored; else up to 16 digits are stored as one or two words,
// the first's leading zeros shifted out: 8 or 16 bytes whatever the count. Offsets in files of 100 MB
// and more have 9 digits: their first one or two digits are a byte pair
// from the table, stored before the word of the last eight, which stores
// over the pair's second byte when there is one digit.
[[gnu::always_inline]] inline std::size_t put_decimal(unsigned char* dst, std::uint64_t v) {
    // Most JSON lengths are one or two digits: a pair from the table, from
    // its second byte for one digit (the byte stored behind it is not part
    // of the number). One branch for both, as lengths of one and of two
    // digits alternate without a pattern.
    if (v < 100) {
        const std::size_t two = v >= 10 ? 1 : 0;
        std::memcpy(dst, &digit_pairs[2 * v + 1 - two], 2);
        return 1 + two;
    }
    static_assert(std::endian::native == std::endian::little, "the word's first byte is its lowest");
    if (v < powers_of_ten[8]) {
        // The leading zeros are the word's low bytes that are '0', found in
        // the word rather than counted from v: v >= 100 has a digit other
        // than 0 in it, so the XOR is not 0.
        const std::uint64_t word = decimal_word(static_cast<std::uint32_t>(v));
        const auto zero_bits = static_cast<unsigned>(std::countr_zero(word ^ 0x3030303030303030u)) & ~7u;
        const std::uint64_t digits = word >> zero_bits;
        std::memcpy(dst, &digits, sizeof digits);
        return 8 - zero_bits / 8;
    }
    const std::size_t n = decimal_digits(v);
    if (v < powers_of_ten[10]) {
        const std::uint64_t high = v / powers_of_ten[8];  // below 100
        const std::uint64_t low = decimal_word(static_cast<std::uint32_t>(v % powers_of_ten[8]));
        std::memcpy(dst, &digit_pairs[2 * high + (10 - n)], 2);
        std::memcpy(dst + (n - 8), &low, sizeof low);
    } else if (v < powers_of_ten[16]) {
        const std::uint64_t high = decimal_word(static_cast<std::uint32_t>(v / powers_of_ten[8])) >> 8 * (16 - n);
        const std::uint64_t low = decimal_word(static_cast<std::uint32_t>(v % powers_of_ten[8]));
        std::memcpy(dst, &high, sizeof high);
        std::memcpy(dst + (n - 8), &low, sizeof low);
    } else {
        store_decimal(dst + n, v);
    }
    return n;
}
static_assert(max_decimal >= 16);  // the two words

// The eight hex digits of v, most significant first, as the bytes of a
// word in memory order (little-endian, as put_short_offset asserts): each
// nibble spread to a byte, then turned to its digit without a lookup.
#if defined(__SSE2__) || defined(_M_X64)
// With the bytes of v reversed, most significant first, the high and low
// nibbles of each byte interleave into the digits' order; a nibble above 9
// takes the gap from '9' + 1 to 'a'.
inline std::uint64_t hex_word(std::uint32_t v) {
    const __m128i bytes = _mm_cvtsi32_si128(static_cast<int>(__builtin_bswap32(v)));
    const __m128i low_nibble = _mm_set1_epi8(0x0F);
    const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), low_nibble);
    const __m128i nibbles = _mm_unpacklo_epi8(high, _mm_and_si128(bytes, low_nibble));
    const __m128i letters = _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)), _mm_set1_epi8('a' - '0' - 10));
    const __m128i digits = _mm_add_epi8(nibbles, _mm_add_epi8(letters, _mm_set1_epi8('0')));
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(digits));
}
#else
// A nibble of 10 or more carries into bit 4 when 6 is added.
inline std::uint64_t hex_word(std::uint32_t v) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    std::uint64_t x = v;
    x = (x | x << 16) & 0x0000FFFF0000FFFFu;
    x = (x | x << 8) & 0x00FF00FF00FF00FFu;
    x = (x | x << 4) & 0x0F0F0F0F0F0F0F0Fu;
    const std::uint64_t letters = (x + 6 * ones) >> 4 & ones;
    x += '0' * ones + letters * ('a' - '0' - 10);
    return __builtin_bswap64(x);  // the lowest byte holds the lowest digit
}
#endif

// The offset prefix: v right-aligned in 7 columns and a space.
inline constexpr std::size_t offset_width = 7;

// The prefix of an offset that has at most 8 digits: its word of digits
// with the leading zeros made spaces, the last 7 columns of it or all 8,
// then a space: one 8-byte store and a byte.
inline std::size_t put_short_offset(unsigned char* dst, std::uint64_t word, std::size_t digits) {
    static_assert(std::endian::native == std::endian::little, "the word's first byte is its lowest");
    constexpr std::uint64_t spaces = 0x2020202020202020u;
    const std::uint64_t leading = (std::uint64_t{1} << 8 * (8 - digits) % 64) - 1;  // none for 8
    word = (word & ~leading) | (spaces & leading);
    if (digits <= offset_width) word = word >> 8 | std::uint64_t{' '} << 56;
    std::memcpy(dst, &word, sizeof word);
    dst[8] = ' ';
    return digits <= offset_width ? 8 : 9;
}

// The prefix of an offset that has at most 7 digits, from the word of its
// 8 digits (the first one 0): the last 7 columns with the leading zeros
// made spaces, then a space, in one 8-byte store. The leading zeros are
// found in the word itself, without counting the digits: bit 7 is set in
// each column whose digit is not 0 and in the last column (offset 0 shows
// one digit), and the columns below the lowest such bit are the leading ones.
[[gnu::always_inline]] inline std::size_t put_column_offset(unsigned char* dst, std::uint64_t word) {
    static_assert(std::endian::native == std::endian::little, "the word's first byte is its lowest");
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t space_byte = std::uint64_t{0xFF} << 8 * offset_width;
    const std::uint64_t columns = word >> 8;  // the 7 columns; the space's byte is 0
    // Each column's digit less '0': at most 'f' - '0', so adding 0x7F
    // carries into no other byte.
    const std::uint64_t values = columns - ('0' * ones & ~space_byte);
    const std::uint64_t shown =
        (((values + 0x7F * ones) | values) & (0x80 * ones & ~space_byte)) | std::uint64_t{0x80} << 8 * (offset_width - 1);
    const std::uint64_t leading = (((shown & (0 - shown)) >> 7) - 1) | space_byte;
    const std::uint64_t prefix = (columns & ~leading) | (' ' * ones & leading);
    std::memcpy(dst, &prefix, sizeof prefix);
    return offset_width + 1;
}

// Any offset in any radix: the digits a character at a time.
std::size_t put_offset_slow(unsigned char* dst, std::uint64_t v, OffsetRadix radix);

// Stores the offset prefix of v at dst; returns its size, at most
// max_offset_prefix (and stores no more).
[[gnu::always_inline]] inline std::size_t put_offset(unsigned char* dst, std::uint64_t v, OffsetRadix radix) {
    // Offsets below 256 MiB in hex, below 10 MB in decimal: 7 columns.
    if (radix == OffsetRadix::hex && v < std::uint64_t{1} << 4 * offset_width)
        return put_column_offset(dst, hex_word(static_cast<std::uint32_t>(v)));
    if (radix == OffsetRadix::decimal && v < powers_of_ten[offset_width])
        return put_column_offset(dst, decimal_word(static_cast<std::uint32_t>(v)));
    if (radix == OffsetRadix::hex && v <= UINT32_MAX) {
        const std::size_t digits = std::max<std::size_t>(1, (static_cast<std::size_t>(std::bit_width(v)) + 3) / 4);
        return put_short_offset(dst, hex_word(static_cast<std::uint32_t>(v)), digits);
    }
    if (radix == OffsetRadix::decimal && v < powers_of_ten[16]) {
        if (v < powers_of_ten[8])
            return put_short_offset(dst, decimal_word(static_cast<std::uint32_t>(v)), decimal_digits(v));
        // Nine digits and more fill the columns: the number, then the space.
        const std::size_t n = put_decimal(dst, v);
        dst[n] = ' ';
        return n + 1;
    }
    return put_offset_slow(dst, v, radix);
}
static_assert(max_offset_prefix >= 9);  // the short prefix's word and space
static_assert(max_offset_prefix >= 16 + 1);  // put_decimal's two words and the space

}  // namespace kurvane::detail
