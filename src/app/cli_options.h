// Command-line options of the kurvane front end, parsed GNU style: short
// options may be bundled (-hs x) or carry their argument attached (-oPATH),
// long options take it after '=' or as the next argument, unambiguous
// prefixes of long options are accepted, options and operands may be mixed,
// and "--" ends the options.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kurvane::cli {

enum class Action {
    extract_files,  // extract each FILE operand
    search_ext,     // -e EXT: search the working directory, then extract the list
    help,
    version,
    usage_error,
};

inline constexpr const char* standard_output_name = "-";

struct Options {
    Action action = Action::extract_files;
    std::vector<std::string> files;
    std::optional<std::string> output;         // -o; "-" is standard output
    std::optional<std::string> settings_path;  // -s
    std::optional<std::string> extension;      // -e
    std::string error;                         // the cause of a usage error, one line
};

// Parses the arguments after the program name. Help and version end the
// parse where they stand; the first error found ends it with usage_error.
// Combinations are checked once all arguments are read: -e with FILE
// operands or with -o, -o with other than one FILE, and no FILE at all.
Options parse_options(std::span<const char* const> args);

// The text that --help prints.
const char* usage_text();

}  // namespace kurvane::cli
