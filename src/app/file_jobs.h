// The jobs of a command that names its files: each input with the path its
// text goes to, the checks that refuse jobs which would overwrite one
// another's files, and running them, at once where that gives the same
// result as one after another.
#pragma once

#include <cstdio>
#include <span>
#include <string>

#include "app/cli_messages.h"
#include "app/cli_options.h"
#include "engine/extract.h"

namespace kurvane::cli {

class ProgressLine;
class TextField;

// The name -f gives standard input.
inline constexpr const char* standard_input_label = "{standard input}";

// One input and the path its text goes to.
struct FileJob {
    std::string input;
    std::string output;
};

// Where the text of `input` goes: "" for standard output, else a path.
// False when the input's name is too long for an output name.
bool output_for(const Options& options, const std::string& input, std::string& output);

// How `input` is extracted as the options say: their format, -f naming
// the input (standard input by its label), their -j, and a share of
// `progress`.
ExtractOptions extract_options_for(const Options& options, const std::string& input, ProgressLine& progress);

// True when the jobs may run in any order and at the same time with the same
// result as one after another: every input is an existing regular file, no
// two outputs are the same file (by directory identity and name, ASCII case
// folded, or by the identity of an existing file), no output is an existing
// input, and no output is a symbolic link. Anything it cannot establish
// counts as a conflict. Always false on Windows, where a path that does
// not exist yet is known only by its spelling.
bool jobs_are_independent(std::span<const FileJob> jobs);

// The first pair of jobs that must not run in one command, as the usage
// error that refuses them: two outputs that are one file, or an output that
// is another job's input (an output that is its own input is left to the
// extraction, which refuses it). Empty when there is none.
std::string clashing_outputs(std::span<const FileJob> jobs, Language language = Language::english);

// The first job whose input or output is the file --save-settings names, as
// the usage error that refuses them: saving would replace the input, or the
// text would replace the settings. Empty when there is none.
std::string settings_onto_job(const std::string& settings_path, std::span<const FileJob> jobs, std::FILE* in,
                              std::FILE* out, Language language);

// Extracts the FILE operands (standard input when there are none) as the
// options say, saving the settings first when --save-settings asks, and
// returns the exit status.
int extract_named_files(const Options& options, const TextField& extension, std::FILE* in, std::FILE* out,
                        std::FILE* err, Language language);

}  // namespace kurvane::cli
