// Copying ExtractionSettings to the settings dialog's controls and back, over
// the controls' values only, so that it runs without the dialog machinery.
#pragma once

#include <string>
#include <string_view>

#include "engine/extraction_settings.h"
#include "settings/settings_file.h"

namespace kurvane {

// The settings the Windows program keeps for its run: loaded from
// setting.dat at start, edited by the settings dialog, handed to every
// extraction, saved at exit.
struct DialogSettings {
    ExtractionSettings record;
    ExtendedSettings extended;  // the options stored after the record's layout
};

// The settings dialog's controls, addressed by their IDs (ui/resource.h).
class SettingsControls {
public:
    virtual ~SettingsControls() = default;
    virtual bool checked(int id) const = 0;
    virtual void set_checked(int id, bool on) = 0;
    // Texts are UTF-8. A numeric edit shows an unsigned decimal.
    virtual std::string text(int id) const = 0;
    virtual void set_text(int id, std::string_view text) = 0;
};

// The minimum length is read as decimal, the XOR value as decimal or as
// hexadecimal after 0x (0x5A, as hex editors show keys); a value out of
// range or no number gives the defaults 1 and 0.
void show_settings(const ExtractionSettings& settings, SettingsControls& controls);
void apply_settings(const SettingsControls& controls, ExtractionSettings& settings);

// The options stored after the settings layout: the output encoding's check box.
void show_extended_settings(const ExtendedSettings& extended, SettingsControls& controls);
void apply_extended_settings(const SettingsControls& controls, ExtendedSettings& extended);

// What a numeric edit keeps of a typed text: the minimum length digits only;
// the XOR value digits, or 0x and hexadecimal digits. Every other character
// is dropped as it is typed, so the text always reads as a number or as
// nothing.
std::string numeric_text(int id, std::string_view typed);

}  // namespace kurvane
