// The exempt strings of a settings record, measured once per file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/extraction_settings.h"

namespace kurvane::detail {

struct ExemptPatterns {
    // Each entry's bytes up to its first zero, at most exempt_string_max
    // bytes even when a loaded entry has no zero within its width.
    std::array<std::size_t, exempt_string_count> length{};
    const ExtractionSettings* settings;
    bool any = false;
    // The shortest non-empty pattern's length, SIZE_MAX without any: a
    // shorter run holds none.
    std::size_t shortest = SIZE_MAX;
    // For each byte, the patterns (bit k for entry k) that start with it:
    // a run none of whose bytes starts one is dismissed without a compare.
    std::array<std::uint8_t, 256> starting{};
    static_assert(exempt_string_count <= 8, "one bit per pattern in `starting`");

    explicit ExemptPatterns(const ExtractionSettings& s);

    // The exempt rule on run[0, n): the lowest-index pattern found at any
    // byte offset replaces the whole run. Returns true and updates n then.
    bool match(unsigned char* run, std::size_t& n) const;

    // The same test without the rewrite: the length of the pattern that
    // would replace run[0, n) and, in `at`, where in the run it was found;
    // 0 when none is.
    std::size_t find(const unsigned char* run, std::size_t n, std::size_t& at) const;
};

}  // namespace kurvane::detail

namespace kurvane {

// The exempt-string rule for a run shorter than min_length: when one of the
// exempt strings (lowest index first) occurs in run[0..length), the run
// becomes exactly that string, length is updated, and 1 is returned;
// otherwise 0 and the run is unchanged. run has room for 1024 bytes.
int match_exempt(const ExtractionSettings& settings, unsigned char* run, std::size_t& length);

}  // namespace kurvane
