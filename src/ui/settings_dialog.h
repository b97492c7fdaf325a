// Copying ExtractionSettings to the settings dialog's controls and back, over
// the controls' values only, so that it runs without the dialog machinery.
#pragma once

#include <string>
#include <string_view>

#include "engine/extraction_settings.h"

namespace kurvane {

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

void show_settings(const ExtractionSettings& settings, SettingsControls& controls);
void apply_settings(const SettingsControls& controls, ExtractionSettings& settings);

}  // namespace kurvane
