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
// the words of up to 16 digits are stored whole.
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

// The decimal digits of two numbers below 10^4 as the bytes of a word in
// memory order: the first's four digits, then the second's, each most
// significant first (the first in the low 32-bit half). Made in
// registers only: digits stored a byte pair at a time and loaded back as a
// word would wait for the stores to land.
#if defined(__SSE2__) || defined(_M_X64)
// Each number four times over in 16-bit lanes, times 4; a high-half
// multiply by about 2^(16+k)/10^j, then one by 2^(16-k), leaves each lane
// the number divided by 1000, 100, 10 and 1; less ten times the lane
// before, the lanes are the digits.
[[gnu::always_inline]] inline std::uint64_t decimal_fours(std::uint32_t first, std::uint32_t second) {
    const __m128i times_four = _mm_slli_epi16(_mm_cvtsi32_si128(static_cast<int>(first | second << 16)), 2);
    const __m128i pairs = _mm_unpacklo_epi16(times_four, times_four);
    const __m128i lanes = _mm_unpacklo_epi32(pairs, pairs);
    const __m128i scaled = _mm_mulhi_epu16(lanes, _mm_setr_epi16(8389, 5243, 13108, -32768, 8389, 5243, 13108, -32768));
    const __m128i quotients = _mm_mulhi_epu16(scaled, _mm_setr_epi16(1 << 7, 1 << 11, 1 << 13, -32768, 1 << 7, 1 << 11, 1 << 13, -32768));
    const __m128i tens = _mm_slli_epi64(_mm_mullo_epi16(quotients, _mm_set1_epi16(10)), 16);
    const __m128i digits = _mm_packus_epi16(_mm_sub_epi16(quotients, tens), _mm_setzero_si128());
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_add_epi8(digits, _mm_set1_epi8('0'))));
}
#else
// The lanes are split in halves by multiplying with reciprocals, 2 digits
// in each 16-bit lane, then 1 in each byte.
[[gnu::always_inline]] inline std::uint64_t decimal_fours(std::uint32_t first, std::uint32_t second) {
    const std::uint64_t fours = first | std::uint64_t{second} << 32;
    // x * 10486 >> 20 is x / 100 for x < 10^4; x * 103 >> 10 is x / 10 for x < 100.
    const std::uint64_t hundreds = (fours * 10486 >> 20) & 0x0000007F0000007Fu;
    const std::uint64_t twos = ((fours - hundreds * 100) << 16) + hundreds;
    const std::uint64_t tens = (twos * 103 >> 10) & 0x000F000F000F000Fu;
    const std::uint64_t ones = ((twos - tens * 10) << 8) + tens;
    return ones + 0x3030303030303030u;
}
#endif
inline constexpr std::uint64_t four_digits = 10000;  // the numbers of a half of decimal_fours

// The eight decimal digits of v < 10^8, as the bytes of a word in memory
// order, most significant first: its first and last four digits as the
// halves of decimal_fours.
[[gnu::always_inline]] inline std::uint64_t decimal_word(std::uint32_t v) {
    return decimal_fours(static_cast<std::uint32_t>(v / four_digits), static_cast<std::uint32_t>(v % four_digits));
}

// Stores the n decimal digits of v at dst, n being decimal_digits(v): up
// to 8 as one word, up to 16 as two, the first's leading zeros shifted
// out, each word stored whole (so up to 16 bytes, whatever n). With the
// count given, only the stores wait for the digits' arithmetic; whatever
// moves by n does not.
[[gnu::always_inline]] inline void put_decimal_digits(unsigned char* dst, std::uint64_t v, std::size_t n) {
    static_assert(std::endian::native == std::endian::little, "the word's first byte is its lowest");
    if (n <= 8) {
        const std::uint64_t digits = decimal_word(static_cast<std::uint32_t>(v)) >> 8 * (8 - n);
        std::memcpy(dst, &digits, sizeof digits);
    } else if (n <= 16) {
        // The low word stores over the high one's shifted-in zeros.
        const std::uint64_t high = decimal_word(static_cast<std::uint32_t>(v / powers_of_ten[8])) >> 8 * (16 - n);
        const std::uint64_t low = decimal_word(static_cast<std::uint32_t>(v % powers_of_ten[8]));
        std::memcpy(dst, &high, sizeof high);
        std::memcpy(dst + (n - 8), &low, sizeof low);
    } else {
        store_decimal(dst + n, v);
    }
}

// Stores v in decimal at dst; returns the count of digits.
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
    // The count from the bit width is done before the digits are.
    const std::size_t n = decimal_digits(v);
    put_decimal_digits(dst, v, n);
    return n;
}

// The decimal digits of offsets that mostly rise by less than 10^4 from
// one to the next, as a stretch's runs do, each made with a number below
// 10^4 beside it in one decimal_fours: the digits above an offset's last
// four are kept with the range of offsets that share them and their count.
// A caller asks covers(at), formats last_four(at) as the first number of
// decimal_fours and hands the low half of its word to store().
class OffsetDecimal {
public:
    // The offsets whose digits above the last four fit one word.
    static constexpr std::uint64_t limit = four_digits * powers_of_ten[8];

    // Whether at is below limit; the kept digits are then at's.
    [[gnu::always_inline]] bool covers(std::uint64_t at) { return at - low_ < span_ || recount(at); }
    // The value of at's last four digits, at being covered.
    [[gnu::always_inline]] std::uint32_t last_four(std::uint64_t at) const { return static_cast<std::uint32_t>(at - cut_); }
    // Stores the covered offset's digits at dst, from the word of its last
    // four: the kept digits as a word, then the last four's word over its
    // zeros, with the leading zeros of an offset below 10^4 shifted out.
    // Returns the count of digits; stores up to max_store bytes.
    static constexpr std::size_t max_store = 8 + 4;
    [[gnu::always_inline]] std::size_t store(unsigned char* dst, std::uint32_t last_four_digits) const {
        std::memcpy(dst, &upper_, sizeof upper_);
        const std::uint32_t last = last_four_digits >> low_shift_;
        std::memcpy(dst + upper_size_, &last, sizeof last);
        return count_;
    }

private:
    [[gnu::noinline]] bool recount(std::uint64_t at) {
        if (at >= limit) {
            span_ = 0;  // every offset asks again
            return false;
        }
        if (at < four_digits) {
            // No digits are kept: the offsets of each count share them.
            count_ = decimal_digits(at);
            cut_ = 0;
            low_ = count_ == 1 ? 0 : powers_of_ten[count_ - 1];
            span_ = powers_of_ten[count_] - low_;
            upper_ = 0;
            upper_size_ = 0;
        } else {
            const std::uint64_t upper = at / four_digits;
            upper_size_ = decimal_digits(upper);
            upper_ = decimal_word(static_cast<std::uint32_t>(upper)) >> 8 * (8 - upper_size_);
            cut_ = low_ = upper * four_digits;
            span_ = four_digits;
            count_ = upper_size_ + 4;
        }
        low_shift_ = static_cast<unsigned>(8 * (4 - (count_ - upper_size_)));
        return true;
    }

    // The range the kept digits hold for, empty until the first offset.
    std::uint64_t low_ = 0;
    std::uint64_t span_ = 0;
    std::uint64_t cut_ = 0;    // what the last four digits' value is above
    std::uint64_t upper_ = 0;  // the digits above the last four
    std::size_t upper_size_ = 0;
    std::size_t count_ = 0;
    unsigned low_shift_ = 0;   // bits of the last four's word not shown
};
static_assert(OffsetDecimal::max_store <= max_decimal);
static_assert(max_decimal >= 16);  // the two words

// The eight hex digits of v, most significant first, as the bytes of a
// word in memory order (little-endian, as put_short_offset asserts): each
// nibble spread to a byte, then turned to its digit without a lookup.
#if defined(__SSE2__) || defined(_M_X64)
// With the bytes of v reversed, most significant first, the high and low
// nibbles of each byte interleave into the digits' order; a nibble above 9
// takes the gap from '9' + 1 to 'a'.
[[gnu::always_inline]] inline std::uint64_t hex_word(std::uint32_t v) {
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
[[gnu::always_inline]] inline std::uint64_t hex_word(std::uint32_t v) {
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

// The leading columns of the offset prefixes put_column_offset makes, for
// offsets that mostly keep their count of digits from one to the next, as
// a stretch's runs do: the mask of the columns shown as spaces is kept with
// the range of offsets that have it, so an offset in that range takes it
// without looking at its digits. Hex and decimal only.
class ColumnMask {
public:
    explicit ColumnMask(OffsetRadix radix) : hex_(radix == OffsetRadix::hex) {}

    // Whether at fits the 7 columns; the mask is then at's.
    [[gnu::always_inline]] bool covers(std::uint64_t at) { return at - low_ < span_ || recount(at); }
    // The prefix of a covered offset from the word of its 8 digits (the
    // first one 0), as put_column_offset stores it: the 7 columns with the
    // leading zeros made spaces, then a space.
    [[gnu::always_inline]] std::size_t store(unsigned char* dst, std::uint64_t word) const {
        static_assert(std::endian::native == std::endian::little, "the word's first byte is its lowest");
        constexpr std::uint64_t spaces = 0x2020202020202020u;
        const std::uint64_t prefix = (word >> 8 & ~leading_) | (spaces & leading_);
        std::memcpy(dst, &prefix, sizeof prefix);
        return offset_width + 1;
    }

private:
    [[gnu::noinline]] bool recount(std::uint64_t at) {
        const std::uint64_t base = hex_ ? 16 : 10;
        std::uint64_t limit = 1;
        for (std::size_t k = 0; k < offset_width; ++k) limit *= base;
        if (at >= limit) {
            span_ = 0;  // every offset asks again
            return false;
        }
        std::size_t digits = 1;
        std::uint64_t low = 1;  // base^(digits - 1)
        while (low * base <= at) {
            low *= base;
            ++digits;
        }
        low_ = digits == 1 ? 0 : low;
        span_ = low * base - low_;
        // The columns before the digits, and the space's byte behind them.
        leading_ = ((std::uint64_t{1} << 8 * (offset_width - digits)) - 1) | std::uint64_t{0xFF} << 8 * offset_width;
        return true;
    }

    const bool hex_;
    // The range the mask holds for, empty until the first offset.
    std::uint64_t low_ = 0;
    std::uint64_t span_ = 0;
    std::uint64_t leading_ = 0;
};

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
