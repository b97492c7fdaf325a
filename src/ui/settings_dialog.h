// Copying ExtractionSettings to the settings dialog's controls and back, over
// the controls' values only, so that it runs without the dialog machinery.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/extraction_settings.h"
#include "engine/output_format.h"
#include "settings/settings_file.h"
#include "ui/main_dialog.h"
#include "ui/messages.h"

namespace kurvane {

// The settings the Windows program keeps for its run: loaded from
// setting.dat at start, edited by the settings dialog, handed to every
// extraction, saved at exit.
struct DialogSettings {
    ExtractionSettings record;
    ExtendedSettings extended;  // the options stored after the record's layout
};

// How the Windows program extracts a file under `settings`: the output
// encoding, the text filter with its least score and the input encoding.
ExtractOptions extract_options(const DialogSettings& settings);

// The settings dialog's controls, addressed by their IDs (ui/resource.h).
class SettingsControls {
public:
    virtual ~SettingsControls() = default;
    virtual bool checked(int id) const = 0;
    virtual void set_checked(int id, bool on) = 0;
    // Texts are UTF-8. A numeric edit shows an unsigned decimal.
    virtual std::string text(int id) const = 0;
    virtual void set_text(int id, std::string_view text) = 0;
    // A drop-down list: its entries (UTF-8), and which one is chosen (-1
    // for none).
    virtual void set_choices(int id, std::span<const std::string> entries) = 0;
    virtual int chosen(int id) const = 0;
    virtual void choose(int id, int index) = 0;
};

// The entries of the input encoding's drop-down list, in this order.
struct InputEncodingChoice {
    const char* name;
    text::InputEncoding encoding;
};
inline constexpr InputEncodingChoice input_encoding_choices[] = {
    {"Shift-JIS (CP932)", text::InputEncoding::cp932}, {"EUC-JP", text::InputEncoding::euc_jp},
    {"UTF-8", text::InputEncoding::utf8},               {"UTF-16LE", text::InputEncoding::utf16le},
    {"UTF-16BE", text::InputEncoding::utf16be},
};

// The minimum length is read as decimal, the XOR value as decimal or as
// hexadecimal after 0x (0x5A, as hex editors show keys); a value out of
// range or no number gives the defaults 1 and 0.
void show_settings(const ExtractionSettings& settings, SettingsControls& controls);
void apply_settings(const SettingsControls& controls, ExtractionSettings& settings);

// The options stored after the settings layout: the output encoding's check
// box, the text filter's check box and least score, the input encoding's
// list. A least score out of 0..100, or no number, gives the default.
void show_extended_settings(const ExtendedSettings& extended, SettingsControls& controls);
void apply_extended_settings(const SettingsControls& controls, ExtendedSettings& extended);

// What a numeric edit keeps of a typed text: the minimum length and the
// least score digits only; the XOR value digits, or 0x and hexadecimal
// digits. Every other character is dropped as it is typed, so the text
// always reads as a number or as nothing.
std::string numeric_text(int id, std::string_view typed);

// The samples of the file at `path` (UTF-8) that the XOR key search reads
// (see plan_xor_samples); false when it is not a regular file that can be
// opened.
bool read_xor_samples(const std::string& path, std::vector<std::vector<unsigned char>>& samples);

// The Auto button beside the XOR value: searches the file at `path` (the
// first listed file; empty when the list is empty) for its key under the
// classes, excluded pairs and least score the dialog shows, and puts the key
// into the XOR field as 0x and two hexadecimal digits. When there is no
// file, it cannot be read or no key is clearly better than none, the field
// stays as it was and a message says why. Returns true when it filled the
// field.
bool find_xor_value(SettingsControls& controls, const std::string& path, MessageView& messages,
                    const text::Texts& texts);

}  // namespace kurvane
