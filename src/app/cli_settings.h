// The settings file of the command line: loading the one -s names (or
// setting.dat of the working directory) into g_settings, saving where
// --save-settings says, and the text --show-settings prints.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "app/cli_options.h"
#include "settings/settings_file.h"

namespace kurvane::cli {

// The command line's settings record for the whole run: loaded from the
// settings file, changed by the options, read by every extraction.
extern ExtractionSettings g_settings;

// The extension field of a settings file, kept to be saved again.
class TextField : public ExtensionField {
public:
    explicit TextField(std::string text = {}) : text_(std::move(text)) {}
    std::string text() const override { return text_; }
    void set_text(std::string_view text) override { text_ = std::string(text); }

    // The options the file stored after the record's layout (the dialog's
    // encodings and text filter), kept to be saved again. The command line
    // does not extract by them: its output is what its own options say.
    ExtendedSettings stored;

private:
    std::string text_;
};

// Loads the settings file named by -s, or setting.dat of the working
// directory when it exists, into g_settings and `field`. A file named by -s
// must exist. `source` is set to the file read, if any. Returns an exit
// status: exit_usage after a message when the file cannot be read.
int load_cli_settings(const Options& options, TextField& field, std::string& source, std::FILE* err,
                      Language language);

// Saves the settings where --save-settings says, with the block after the
// layout when the stored options or the command line's (see
// apply_stored_options) are off their defaults; false after a message.
bool save_cli_settings(const Options& options, const TextField& extension, std::FILE* err, Language language);

// The settings in effect, one "name=value" line each, texts in the
// terminal's encoding (what --show-settings prints). `source` names the
// settings file read, or is empty for the defaults.
std::string settings_text(const ExtractionSettings& settings, std::string_view extension,
                          std::string_view source);

}  // namespace kurvane::cli
