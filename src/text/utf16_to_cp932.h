// Runs of whole UTF-16 characters written in code page 932, one table entry
// a unit. Inline, so that a printer can convert the short runs UTF-16 read
// over data is full of in its own loop, without a call per run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <bit>
#include <limits>

#include "text/cp932_encode.h"
#include "text/utf16.h"

namespace kurvane::text {

// What a UTF-16 unit becomes in code page 932, as one entry: the bytes in
// the order they are stored (the second one of a one-byte code is any),
// their count, and 1 where it is the '?' of a character code page 932
// lacks. A count of 0 marks a surrogate, which a unit alone cannot say.
namespace unit_form {
inline constexpr unsigned size_shift = 16;
inline constexpr unsigned lacked_shift = 24;
inline constexpr std::uint32_t size_mask = 0xFF;
}  // namespace unit_form

// The entries of every unit, built once.
const std::uint32_t* cp932_unit_forms();

// What utf16_to_cp932 returns for bytes that are not whole characters.
inline constexpr std::size_t utf16_not_whole = std::numeric_limits<std::size_t>::max();

// Writes src[0, n), whole UTF-16 characters, at dst in code page 932 and
// returns how many bytes it wrote, at most n; adds the characters written
// as '?' to `lacked`. Returns utf16_not_whole, with `lacked` unchanged,
// for bytes that are not whole characters. Stores up to one byte past what
// it wrote, within the n bytes of room.
//
// UTF-16 read over data gives short runs, many of characters code page 932
// lacks, so the step of one unit is one entry and no branch on the common
// case: both bytes are stored and the cursor moves by the entry's count.
// The second byte of a one-byte code lies within the room of its unit (two
// output bytes a unit), and the next code overwrites it.
template <ByteOrder order>
[[gnu::always_inline]] inline std::size_t utf16_to_cp932(const unsigned char* src, std::size_t n, unsigned char* dst,
                                                         const std::uint32_t* forms, std::uint64_t& lacked) {
    if (n % utf16_unit != 0) return utf16_not_whole;
    unsigned char* const start = dst;
    std::uint64_t missing = 0;
    for (std::size_t i = 0; i < n; i += utf16_unit) {
        const char16_t u = detail::utf16_unit_at<order>(src + i);
        const std::uint32_t e = forms[u];
        const std::uint32_t size = e >> unit_form::size_shift & unit_form::size_mask;
        if (size == 0) [[unlikely]] {
            // A pair is one character, beyond the plane code page 932 covers.
            const Decoded d = decode_utf16<order>(src + i, n - i);
            if (!d.valid()) return utf16_not_whole;
            *dst++ = cp932_substitute;
            ++missing;
            i += d.length - utf16_unit;
            continue;
        }
        // Both bytes in one store: the entry's low half holds them in
        // memory order.
        static_assert(std::endian::native == std::endian::little, "byte 0 of the entry is its low byte");
        const std::uint16_t bytes = static_cast<std::uint16_t>(e);
        std::memcpy(dst, &bytes, sizeof bytes);
        dst += size;
        missing += e >> unit_form::lacked_shift;
    }
    lacked += missing;
    return static_cast<std::size_t>(dst - start);
}

}  // namespace kurvane::text
