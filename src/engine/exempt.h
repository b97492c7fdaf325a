// The exempt strings of a settings record, measured once per file.
#pragma once

#include <array>
#include <cstddef>

#include "engine/extraction_settings.h"

namespace kurvane::detail {

struct ExemptPatterns {
    // Each entry's bytes up to its first zero, at most exempt_string_max
    // bytes even when a loaded entry has no zero within its width.
    std::array<std::size_t, exempt_string_count> length{};
    const ExtractionSettings* settings;
    bool any = false;

    explicit ExemptPatterns(const ExtractionSettings& s);

    // The exempt rule on run[0, n): the lowest-index pattern found at any
    // byte offset replaces the whole run. Returns true and updates n then.
    bool match(unsigned char* run, std::size_t& n) const;
};

}  // namespace kurvane::detail
