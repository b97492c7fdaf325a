// Splitting a path into its directory and last component.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kurvane::detail {

inline bool is_cp932_lead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Index of the first byte of the last component of `path`. '/' separates
// components; with `backslash_too` (Windows) '\\' does as well, except as
// the trail byte of a code page 932 double-byte character (表 is 0x95 0x5C).
std::size_t last_component_start(std::string_view path, bool backslash_too);

// A path as Windows compares it: ASCII letters in lower case and '\\' as
// '/', the two bytes of each double-byte character kept as they are (a trail
// byte may fall in the letter range, or be 0x5C).
std::string windows_path_key(std::string_view path);

}  // namespace kurvane::detail
