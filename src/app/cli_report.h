// What the command reports on its error stream: lines that begin with the
// program's name, the line for a failed extraction, and the exit statuses.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "app/cli_messages.h"
#include "engine/extract.h"

namespace kurvane::cli {

inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;  // at least one file was not extracted
inline constexpr int exit_usage = 2;    // bad options or an unreadable settings file

inline constexpr const char* program_name = "kurvane";

// Prints "kurvane: <line>" and a line break in the terminal's encoding.
void print_line(std::FILE* err, std::string_view line);

// The line with ": <system error text>" after it when `sys_errno` is set.
std::string with_cause(std::string line, int sys_errno);

// Writes and flushes `out`; false (errno set) when anything written to it was lost.
bool finish_stream(std::FILE* out);

// The line that reports a failed extraction, without the line break:
// "kurvane: a.dat: <what failed>: <system error text>". Failures of the
// output name the output, all others the input.
std::string failure_line(std::string_view input, std::string_view output, const ExtractStatus& status,
                         Language language = Language::english);

}  // namespace kurvane::cli
