// The setting changes the command line makes to the record loaded from the
// settings file: the character classes by name, and the record edit that
// applies -n, -x, -c, --newline, --exclude and --keep.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/extraction_settings.h"
#include "engine/output_format.h"
#include "settings/settings_file.h"
#include "text/input_encoding.h"

namespace kurvane::cli {

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

// Every class on.
inline constexpr ClassSet all_classes = (ClassSet{1} << class_count) - 1;

// The set a class or group name (ascii, half, full, all, none) stands for;
// none for an unknown name.
std::optional<ClassSet> class_named(std::string_view name);

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

// The options a settings file stores after the record's layout, as the
// command line sets them for --save-settings: each of --encoding, --text,
// --min-score and --input-encoding that is off its default replaces what
// `stored` (the loaded file's block) holds; one at its default leaves it.
// So a file saved with the default options stays what it was, block or
// none, and one from the dialog keeps the dialog's options.
void apply_stored_options(const OutputFormat& format, text::InputEncoding input_encoding, ExtendedSettings& stored);

}  // namespace kurvane::cli
