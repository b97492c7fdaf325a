// UTF-16 in either byte order: a code unit, or a high surrogate followed by
// a low one; a surrogate without its partner is invalid.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/decoded.h"

namespace kurvane::text {

enum class ByteOrder : std::uint8_t { little, big };

inline constexpr std::size_t utf16_unit = 2;

namespace detail {

template <ByteOrder order>
inline char16_t utf16_unit_at(const unsigned char* p) {
    if constexpr (order == ByteOrder::little) return static_cast<char16_t>(p[0] | p[1] << 8);
    else return static_cast<char16_t>(p[0] << 8 | p[1]);
}

inline constexpr char16_t surrogate_first = 0xD800;
inline constexpr char16_t low_surrogate_first = 0xDC00;
inline constexpr char16_t surrogate_last = 0xDFFF;

}  // namespace detail

// The character at p[0, n), n >= 1; a lone byte is invalid.
template <ByteOrder order>
inline Decoded decode_utf16(const unsigned char* p, std::size_t n) {
    using namespace detail;
    if (n < utf16_unit) return invalid_char;
    const char16_t first = utf16_unit_at<order>(p);
    if (first < surrogate_first || first > surrogate_last) return {first, 2};
    if (first >= low_surrogate_first || n < 2 * utf16_unit) return invalid_char;
    const char16_t second = utf16_unit_at<order>(p + utf16_unit);
    if (second < low_surrogate_first || second > surrogate_last) return invalid_char;
    return {0x10000 + ((char32_t{first} - surrogate_first) << 10) + (second - low_surrogate_first), 4};
}

inline Decoded decode_utf16le(const unsigned char* p, std::size_t n) {
    return decode_utf16<ByteOrder::little>(p, n);
}
inline Decoded decode_utf16be(const unsigned char* p, std::size_t n) {
    return decode_utf16<ByteOrder::big>(p, n);
}

}  // namespace kurvane::text
