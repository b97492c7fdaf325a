#include "files/posix_file_search.h"

#include <dirent.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <vector>

#include "os/file_names.h"
#include "text/text_encoding.h"

namespace kurvane::files {
namespace {

bool in(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

// Length in bytes of the character that starts at text[i]. A byte that does
// not start a well-formed character of the encoding counts as one character.
std::size_t char_length(std::string_view text, std::size_t i, NameEncoding encoding) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    const std::size_t left = text.size() - i;
    if (encoding == NameEncoding::cp932) {
        const bool is_lead = in(lead, 0x81, 0x9F) || in(lead, 0xE0, 0xFC);
        if (is_lead && left >= 2 && (in(byte(i + 1), 0x40, 0x7E) || in(byte(i + 1), 0x80, 0xFC))) {
            return 2;
        }
        return 1;
    }
    // UTF-8 as RFC 3629 defines it: no overlong forms, no surrogates.
    std::size_t length = 0;
    unsigned char second_low = 0x80, second_high = 0xBF;
    if (in(lead, 0xC2, 0xDF)) {
        length = 2;
    } else if (in(lead, 0xE0, 0xEF)) {
        length = 3;
        if (lead == 0xE0) second_low = 0xA0;
        if (lead == 0xED) second_high = 0x9F;
    } else if (in(lead, 0xF0, 0xF4)) {
        length = 4;
        if (lead == 0xF0) second_low = 0x90;
        if (lead == 0xF4) second_high = 0x8F;
    } else {
        return 1;
    }
    if (left < length || !in(byte(i + 1), second_low, second_high)) return 1;
    for (std::size_t k = 2; k < length; ++k) {
        if (!in(byte(i + k), 0x80, 0xBF)) return 1;
    }
    return length;
}

std::vector<std::string_view> split_chars(std::string_view text, NameEncoding encoding) {
    std::vector<std::string_view> chars;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = char_length(text, i, encoding);
        chars.push_back(text.substr(i, length));
        i += length;
    }
    return chars;
}

unsigned char fold(unsigned char c) { return in(c, 'A', 'Z') ? static_cast<unsigned char>(c + 0x20) : c; }

// Single-byte characters compare with ASCII case folded; longer ones exactly.
bool same_char(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a.size() == 1) return fold(static_cast<unsigned char>(a[0])) == fold(static_cast<unsigned char>(b[0]));
    return a == b;
}

#ifdef _WIN32
// The wide directory functions: the narrow ones give names in the ANSI code
// page, which cannot hold every name.
struct DirCloser {
    void operator()(_WDIR* dir) const { _wclosedir(dir); }
};
using Dir = std::unique_ptr<_WDIR, DirCloser>;

Dir open_dir(const std::string& utf8) { return Dir(_wopendir(os::path_from_utf8(utf8).c_str())); }

// The next entry's name as UTF-8, or false at the end.
bool next_name(_WDIR* dir, std::string& name) {
    const _wdirent* entry = _wreaddir(dir);
    if (entry == nullptr) return false;
    name = text::utf16_to_utf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(entry->d_name), std::wcslen(entry->d_name)));
    return true;
}
#else
struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

Dir open_dir(const std::string& path) { return Dir(opendir(path.c_str())); }

bool next_name(DIR* dir, std::string& name) {
    const dirent* entry = readdir(dir);
    if (entry == nullptr) return false;
    name = entry->d_name;
    return true;
}
#endif

}  // namespace

bool wildcard_match(std::string_view pattern, std::string_view name, NameEncoding encoding) {
    const std::vector<std::string_view> p = split_chars(pattern, encoding);
    const std::vector<std::string_view> n = split_chars(name, encoding);
    // Greedy scan that returns to the latest star on a mismatch: linear
    // memory, and at most |p| * |n| steps.
    std::size_t pi = 0, ni = 0;
    std::size_t star = p.size(), star_ni = 0;
    while (ni < n.size()) {
        if (pi < p.size() && p[pi] == "*") {
            star = pi++;
            star_ni = ni;
        } else if (pi < p.size() && (p[pi] == "?" || same_char(p[pi], n[ni]))) {
            ++pi;
            ++ni;
        } else if (star != p.size()) {
            pi = star + 1;
            ni = ++star_ni;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == "*") ++pi;
    return pi == p.size();
}

bool name_order_less(std::string_view a, std::string_view b) {
    const auto folded_less = [](char x, char y) {
        return fold(static_cast<unsigned char>(x)) < fold(static_cast<unsigned char>(y));
    };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), folded_less)) return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), folded_less)) return false;
    // Equal but for case: order bytewise (unsigned, as std::string_view compares).
    return a < b;
}

PosixFileSearch::PosixFileSearch(std::string directory, NameEncoding encoding)
    : directory_(std::move(directory)), encoding_(encoding) {}

bool PosixFileSearch::search(std::string_view pattern,
                             const std::function<void(std::string_view name)>& found) {
    last_pattern_ = std::string(pattern);
    const Dir dir = open_dir(directory_);
    if (!dir) return false;
    std::vector<std::string> names;
    std::string name;
    while (next_name(dir.get(), name)) {
        if (wildcard_match(pattern, name, encoding_)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return name_order_less(a, b); });
    for (const std::string& listed : names) found(listed);
    return !names.empty();
}

}  // namespace kurvane::files
