// One character decoded at a position of the input.
#pragma once

#include <cstdint>

namespace kurvane::text {

// The character and how many input bytes it takes; length 0 when the bytes
// at the position start no valid character of the encoding (value is then 0).
struct Decoded {
    char32_t value;
    std::uint32_t length;

    constexpr bool valid() const { return length != 0; }
};

inline constexpr Decoded invalid_char{0, 0};

}  // namespace kurvane::text
