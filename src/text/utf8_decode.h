// Strict UTF-8: the shortest form only, no surrogates, nothing beyond
// U+10FFFF.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "text/decoded.h"

namespace kurvane::text {
namespace detail {

// Per lead byte: the sequence's length (0: no lead byte) and the range of
// its second byte, narrower than 0x80-0xBF where the lead alone would allow
// an overlong form, a surrogate or a value past U+10FFFF.
struct Utf8Lead {
    std::uint8_t length;
    std::uint8_t second_first;
    std::uint8_t second_last;
};

constexpr std::array<Utf8Lead, 256> make_utf8_leads() {
    std::array<Utf8Lead, 256> t{};
    for (unsigned c = 0; c < 0x80; ++c) t[c] = {1, 0, 0};
    for (unsigned c = 0xC2; c <= 0xDF; ++c) t[c] = {2, 0x80, 0xBF};
    for (unsigned c = 0xE0; c <= 0xEF; ++c) t[c] = {3, 0x80, 0xBF};
    t[0xE0].second_first = 0xA0;  // below U+0800 is overlong
    t[0xED].second_last = 0x9F;   // U+D800-U+DFFF are surrogates
    for (unsigned c = 0xF0; c <= 0xF4; ++c) t[c] = {4, 0x80, 0xBF};
    t[0xF0].second_first = 0x90;  // below U+10000 is overlong
    t[0xF4].second_last = 0x8F;   // past U+10FFFF
    return t;
}
inline constexpr std::array<Utf8Lead, 256> utf8_leads = make_utf8_leads();

inline bool utf8_continuation(unsigned char c) { return (c & 0xC0u) == 0x80u; }

}  // namespace detail

inline constexpr std::size_t utf8_max_length = 4;

// The character at p[0, n), n >= 1.
inline Decoded decode_utf8(const unsigned char* p, std::size_t n) {
    const detail::Utf8Lead lead = detail::utf8_leads[p[0]];
    if (lead.length == 1) return {p[0], 1};
    if (lead.length == 0 || n < lead.length || p[1] < lead.second_first || p[1] > lead.second_last)
        return invalid_char;
    // The lead's value bits: 5 for two bytes, 4 for three, 3 for four.
    char32_t u = p[0] & (0x7Fu >> lead.length);
    u = u << 6 | (p[1] & 0x3Fu);
    for (std::uint32_t k = 2; k < lead.length; ++k) {
        if (!detail::utf8_continuation(p[k])) return invalid_char;
        u = u << 6 | (p[k] & 0x3Fu);
    }
    return {u, lead.length};
}

}  // namespace kurvane::text
