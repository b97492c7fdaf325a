// The program's texts are code page 932 bytes; a Linux terminal wants the
// encoding of the user's locale. The conversion happens here, at the edge,
// just before a text is printed.
#pragma once

#include <string>
#include <string_view>

namespace kurvane::cli {

// Converts code page 932 text to `to_codeset` (an iconv name). A byte that
// is not valid code page 932, or a character the target cannot show, comes
// out as '?'. When the conversion is not available at all the bytes are
// returned unchanged.
std::string convert_cp932_to(std::string_view cp932, const char* to_codeset);

// The encoding that terminal text is converted to: the codeset of the current
// LC_CTYPE locale, or UTF-8 when the locale is C/POSIX (plain ASCII cannot
// show the Japanese texts). Call after setlocale(LC_ALL, "").
std::string terminal_codeset();

// Code page 932 text as the terminal shows it. On Windows the console runs
// in code page 932 and the bytes are returned unchanged.
std::string cp932_to_terminal(std::string_view cp932);

// Converts text typed in the terminal's encoding to code page 932. Returns
// false, leaving `cp932` unspecified, when any part of it has no code page
// 932 form or is not valid in the terminal's encoding.
bool terminal_to_cp932(std::string_view text, std::string& cp932);

}  // namespace kurvane::cli
