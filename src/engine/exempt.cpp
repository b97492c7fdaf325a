#include "engine/exempt.h"

#include <algorithm>
#include <cstring>

#include "engine/extract.h"

namespace kurvane::detail {

ExemptPatterns::ExemptPatterns(const ExtractionSettings& s) : settings(&s) {
    for (std::size_t k = 0; k < exempt_string_count; ++k) {
        const unsigned char* entry = s.exempt_strings[k];
        length[k] = static_cast<std::size_t>(
            std::find(entry, entry + exempt_string_max, 0) - entry);
        any = any || length[k] != 0;
    }
}

bool ExemptPatterns::match(unsigned char* run, std::size_t& n) const {
    for (std::size_t k = 0; k < exempt_string_count; ++k) {
        const std::size_t len = length[k];
        if (len == 0 || len > n) continue;
        const unsigned char* pattern = settings->exempt_strings[k];
        // Offsets one byte apart: a match may start on a trail byte.
        for (std::size_t j = 0; j + len <= n; ++j) {
            if (std::memcmp(run + j, pattern, len) == 0) {
                std::memcpy(run, pattern, len);
                run[len] = 0;
                n = len;
                return true;
            }
        }
    }
    return false;
}

}  // namespace kurvane::detail

namespace kurvane {

int match_exempt(const ExtractionSettings& settings, unsigned char* run, std::size_t& length) {
    return detail::ExemptPatterns(settings).match(run, length) ? 1 : 0;
}

}  // namespace kurvane
