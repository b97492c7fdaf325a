// File names and paths. Paths are UTF-8 throughout the program; on Windows
// they reach the file system through the wide (UTF-16) interfaces, never
// through the ANSI code page, so that any name opens.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace kurvane::detail {

inline bool is_cp932_lead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Index of the first byte of the last component of the UTF-8 `path`. '/'
// separates components; with `backslash_too` (Windows) '\\' does as well.
// No byte of a multi-byte UTF-8 character is either (表 is E8 A1 A8).
std::size_t last_component_start(std::string_view path, bool backslash_too);

// A UTF-8 path as Windows compares it: ASCII letters in lower case and '\\'
// as '/'; every other character is kept as it is.
std::string windows_path_key(std::string_view path);

// The file-system path of UTF-8 text (on Windows its UTF-16 form).
std::filesystem::path path_from_utf8(std::string_view utf8);
// The UTF-8 text of a file-system path.
std::string utf8_from_path(const std::filesystem::path& path);

// std::fopen and std::remove over a UTF-8 path (_wfopen and _wremove on
// Windows). `mode` is ASCII.
std::FILE* open_file(const std::string& utf8_path, const char* mode);
int remove_file(const std::string& utf8_path);

}  // namespace kurvane::detail
