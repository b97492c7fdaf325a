#include "engine/file_names.h"

#include <cwchar>

namespace kurvane::detail {

std::size_t last_component_start(std::string_view path, bool backslash_too) {
    std::size_t start = 0;
    for (std::size_t k = 0; k < path.size(); ++k) {
        if (path[k] == '/' || (backslash_too && path[k] == '\\')) start = k + 1;
    }
    return start;
}

std::string windows_path_key(std::string_view path) {
    std::string key(path);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        } else if (c == '\\') {
            c = '/';
        }
    }
    return key;
}

std::filesystem::path path_from_utf8(std::string_view utf8) {
    // A char8_t string is taken as UTF-8 on every platform; a char string
    // would go through the ANSI code page on Windows.
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8_from_path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::FILE* open_file(const std::string& utf8_path, const char* mode) {
#ifdef _WIN32
    const std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(path_from_utf8(utf8_path).c_str(), wide_mode.c_str());
#else
    return std::fopen(utf8_path.c_str(), mode);
#endif
}

int remove_file(const std::string& utf8_path) {
#ifdef _WIN32
    return _wremove(path_from_utf8(utf8_path).c_str());
#else
    return std::remove(utf8_path.c_str());
#endif
}

}  // namespace kurvane::detail
