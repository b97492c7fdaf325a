// The dialog's wildcard file search done with opendir/readdir (their wide
// forms on Windows, so that every name is found), for the command line. It
// follows the Windows search where the program relies on it: * stands for any run of characters and ? for exactly one, ASCII letters
// match without regard to case, every entry is a candidate (directories and
// the "." and ".." entries included), and the names come back in one fixed
// order: case-insensitively sorted, ties broken bytewise.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "files/file_search.h"

namespace kurvane::files {

// How a name's bytes group into characters, which is what ? consumes and
// which bytes may be case-folded: a trail byte of a double-byte character
// is never folded even when it lies in the ASCII letter range.
enum class NameEncoding {
    utf8,   // the program's names (on Windows read as UTF-16 and converted):
            // a valid UTF-8 sequence is one character
    cp932,  // names as the Windows ANSI interfaces of a Japanese system give them
};

inline constexpr NameEncoding native_name_encoding = NameEncoding::utf8;

bool wildcard_match(std::string_view pattern, std::string_view name,
                    NameEncoding encoding = native_name_encoding);

// Case-insensitive order of names (ASCII letters folded), then bytewise.
bool name_order_less(std::string_view a, std::string_view b);

class PosixFileSearch : public FileSearch {
public:
    explicit PosixFileSearch(std::string directory = ".",
                             NameEncoding encoding = native_name_encoding);

    // Lists the matching entries of the directory in name order; false when
    // the directory cannot be read or nothing matched.
    bool search(std::string_view pattern,
                const std::function<void(std::string_view name)>& found) override;

    // The pattern of the latest search, as it was passed in.
    const std::string& last_pattern() const { return last_pattern_; }

private:
    std::string directory_;
    NameEncoding encoding_;
    std::string last_pattern_;
};

}  // namespace kurvane::files
