// What the kurvane command does once its options are parsed: load the
// settings, extract the named files (or search and extract the listed ones
// through the dialog's own logic), report each failure on one line, and
// return the exit status.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "app/cli_options.h"
#include "engine/extract.h"

namespace kurvane::cli {

inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;  // at least one file was not extracted
inline constexpr int exit_usage = 2;    // bad options or an unreadable settings file

inline constexpr const char* program_name = "kurvane";

// Runs the command: results go to `out` (help, version, -o -), messages to
// `err` in `language`; FILE "-" reads `in`. Returns the exit status.
int run(const Options& options, std::FILE* out, std::FILE* err, Language language = Language::english,
        std::FILE* in = stdin);

// The settings in effect, one "name=value" line each, texts in the
// terminal's encoding (what --show-settings prints). `source` names the
// settings file read, or is empty for the defaults.
std::string settings_text(const ExtractionSettings& settings, std::string_view extension,
                          std::string_view source);

// The name -f gives standard input.
inline constexpr const char* standard_input_label = "{standard input}";

// One input and the path its text goes to.
struct FileJob {
    std::string input;
    std::string output;
};

// True when the jobs may run in any order and at the same time with the same
// result as one after another: every input is an existing regular file, no
// two outputs are the same file (by directory identity and name, ASCII case
// folded, or by the identity of an existing file), no output is an existing
// input, and no output is a symbolic link. Anything it cannot establish
// counts as a conflict. Always false where file identities are not known.
bool jobs_are_independent(std::span<const FileJob> jobs);

// The line that reports a failed extraction, without the line break:
// "kurvane: a.dat: <what failed>: <system error text>". Failures of the
// output name the output, all others the input.
std::string failure_line(std::string_view input, std::string_view output, const ExtractStatus& status,
                         Language language = Language::english);

// The first pair of jobs that must not run in one command, as the usage
// error that refuses them: two outputs that are one file, or an output that
// is another job's input (an output that is its own input is left to the
// extraction, which refuses it). Empty when there is none.
std::string clashing_outputs(std::span<const FileJob> jobs, Language language = Language::english);

}  // namespace kurvane::cli
