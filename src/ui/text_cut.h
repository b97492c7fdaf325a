// Cutting a code page 932 text to a byte limit without splitting a
// double-byte character.
#pragma once

#include <cstddef>
#include <string_view>

namespace kurvane {

// True for the bytes that begin a double-byte character in code page 932.
constexpr bool is_cp932_lead(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The length of the longest prefix of `text` that holds at most `max_bytes`
// bytes and does not end inside a double-byte character: when the limit falls
// between a lead byte and its trail byte, the whole character is dropped
// rather than leaving a lone lead byte behind. A text that fits is kept whole,
// as typed, even if it ends in a lone lead byte.
constexpr std::size_t cp932_cut_length(std::string_view text, std::size_t max_bytes) {
    if (text.size() <= max_bytes) {
        return text.size();
    }
    std::size_t end = 0;
    while (end < max_bytes) {
        const std::size_t width = is_cp932_lead(static_cast<unsigned char>(text[end])) ? 2 : 1;
        if (end + width > max_bytes) {
            break;
        }
        end += width;
    }
    return end;
}

}  // namespace kurvane
