// Command-line options of the kurvane front end, parsed with getopt_long:
// short options may be bundled (-hs x) or carry their argument attached
// (-oPATH), long options take it after '=' or as the next argument, a prefix
// of a long option is accepted when it begins no other option's name (so
// --out, which begins --output-dir too, is ambiguous), options and operands
// may be mixed, and "--" ends the options.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/cli_messages.h"
#include "app/setting_changes.h"
#include "engine/extraction_settings.h"
#include "engine/output_format.h"

namespace kurvane::cli {

enum class Action {
    extract_files,  // extract each FILE operand (standard input when there is none)
    search_ext,     // -e EXT: search the working directory, then extract the list
    help,
    version,
    usage_error,
};

inline constexpr const char* standard_output_name = "-";
inline constexpr const char* standard_input_name = "-";

struct Options {
    Action action = Action::extract_files;
    std::vector<std::string> files;            // "-" is standard input
    std::optional<std::string> output;         // -o; "-" is standard output
    std::optional<std::string> output_dir;     // -d
    std::optional<std::string> settings_path;  // -s
    std::optional<std::string> extension;      // -e
    SettingChanges changes;
    OutputFormat format;                       // file_name stays empty; see print_file_name
    bool print_file_name = false;              // -f
    bool quiet = false;                        // -q
    unsigned jobs = 0;                         // -j; 0 is one per core
    bool xor_auto = false;                     // --xor=auto: find each file's key
    text::InputEncoding input_encoding = text::InputEncoding::cp932;  // --input-encoding
    bool input_auto = false;                   // --input-encoding=auto: find each file's encoding
    bool show_settings = false;
    std::optional<std::string> save_settings_path;
    std::string error;                         // the cause of a usage error, one line
};

// Parses the arguments after the program name; messages are in `language`.
// It uses getopt_long's global state, so calls must not overlap.
// Help and version end the parse where they stand; the first error found
// ends it with usage_error. Combinations are checked once all arguments are
// read: -e with FILE operands or with -o, -o other than "-" with other than
// one FILE, -o with -d. No FILE (without -e) means standard input.
Options parse_options(std::span<const char* const> args, Language language = Language::english);

}  // namespace kurvane::cli

