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

// The character classes, in the order -c names them and --show-settings
// lists them; bit i of a ClassSet is class i.
using ClassSet = std::uint32_t;
inline constexpr std::size_t class_count = 14;
struct CharacterClass {
    const char* name;
    std::int32_t ExtractionSettings::*flag;
};
extern const std::array<CharacterClass, class_count> character_classes;
// The single-byte classes but half-width katakana: what --text adds.
inline constexpr ClassSet ascii_classes = 0x1F & ~ClassSet{1u << 3};

// Turns classes on (add) or off in the set that came before.
struct ClassStep {
    bool add;
    ClassSet classes;
};

// Setting changes given on the command line, applied over the settings file
// (or over the defaults with --defaults). Texts are code page 932 bytes.
struct SettingChanges {
    bool defaults = false;
    std::optional<std::uint32_t> min_length;
    std::optional<std::uint32_t> xor_value;
    std::vector<ClassStep> class_steps;
    std::optional<bool> newline;
    std::optional<std::vector<std::array<unsigned char, 2>>> excluded;  // replaces the table when given
    std::optional<std::vector<std::string>> kept;                      // replaces the table when given
};

// Applies the changes to `settings`. A class flag is written only when its
// state changes, so a file's other bits survive a load and save.
void apply_changes(const SettingChanges& changes, ExtractionSettings& settings);

// The set of classes a record has on (a non-zero flag).
ClassSet classes_of(const ExtractionSettings& settings);

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

// The text that --help prints, in the terminal's encoding.
std::string usage_text(Language language = Language::english);

}  // namespace kurvane::cli
