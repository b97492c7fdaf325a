// Characters to code page 932 for output: the code the Windows converter
// writes, or '?' for a character code page 932 lacks, counted so the caller
// can say how many there were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kurvane::text {

inline constexpr std::size_t cp932_max_char_bytes = 2;
inline constexpr unsigned char cp932_substitute = '?';

class Cp932Encoder {
public:
    // Stores the code of u at dst (room for cp932_max_char_bytes) and
    // returns its length, 1 or 2; a character code page 932 lacks (U+FFFD,
    // a surrogate or a value past U+10FFFF included) is stored as '?' and
    // counted.
    std::size_t put(char32_t u, unsigned char* dst);

    // Appends the codes of every character of text to out.
    void append(std::u32string_view text, std::string& out);

    // How many characters were written as '?' so far.
    std::uint64_t substituted() const { return substituted_; }

private:
    std::uint64_t substituted_ = 0;
};

}  // namespace kurvane::text
