// The program's texts are UTF-8. A Linux terminal wants the encoding of the
// user's locale, a Windows console UTF-16. The conversion happens here, at
// the edge: texts are converted just before they are printed, and text typed
// in the terminal just after it is read.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace kurvane::cli {

// Converts UTF-8 text to `to_codeset` (an iconv name). A byte that is not
// well-formed UTF-8, or a character the target cannot show, comes out as '?'.
// When the conversion is not available at all the bytes are returned
// unchanged. On Windows the text is returned unchanged.
std::string convert_utf8_to(std::string_view utf8, const char* to_codeset);

// The encoding that terminal text is converted to: the codeset of the current
// LC_CTYPE locale, or UTF-8 when the locale is C/POSIX (plain ASCII cannot
// show the Japanese texts). Call after setlocale(LC_ALL, ""). On Windows
// "UTF-8": write_terminal does the conversion there.
std::string terminal_codeset();

// UTF-8 text in the terminal's encoding, ready for write_terminal.
std::string utf8_to_terminal(std::string_view utf8);

// Text typed in the terminal's encoding, as UTF-8. False, leaving `utf8`
// unspecified, when it is not valid in that encoding.
bool terminal_to_utf8(std::string_view text, std::string& utf8);

// A name (a file name, a path, a search pattern) as a message shows it: as
// it is when it holds no control character, else quoted as a shell reads it
// back, as GNU tools quote names ('nl'$'\n''a.dat'), so that every message
// stays one line and no terminal control sequence is sent. Control
// characters are the C0 ones, DEL and, in UTF-8, U+0080 to U+009F.
std::string quoted_name(std::string_view name);

// Text that a message already quotes (an option's argument) with each control
// character, as quoted_name counts them, in the C escape form: "a\nb" is
// shown as a\nb, ESC as \033.
std::string escaped_text(std::string_view text);

// Writes terminal text to `stream`. On Windows a console gets it through
// WriteConsoleW, so that every character shows whatever the console's code
// page; a redirected stream gets the console's output code page (the ANSI
// code page without a console), as other console programs write it, with
// '?' for what that page lacks. Elsewhere the bytes are written as they are.
// Returns false when the write failed.
bool write_terminal(std::FILE* stream, std::string_view text);

}  // namespace kurvane::cli
