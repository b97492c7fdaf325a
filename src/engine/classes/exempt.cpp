#include "engine/classes/exempt.h"

#include <algorithm>
#include <cstring>

namespace kurvane::detail {

ExemptPatterns::ExemptPatterns(const ExtractionSettings& s) : settings(&s) {
    for (std::size_t k = 0; k < exempt_string_count; ++k) {
        const unsigned char* entry = s.exempt_strings[k];
        length[k] = static_cast<std::size_t>(
            std::find(entry, entry + exempt_string_max, 0) - entry);
        any = any || length[k] != 0;
        if (length[k] == 0) continue;
        shortest = std::min(shortest, length[k]);
        starting[entry[0]] = static_cast<std::uint8_t>(starting[entry[0]] | 1u << k);
    }
}

std::size_t ExemptPatterns::find(const unsigned char* run, std::size_t n, std::size_t& at) const {
    unsigned seen = 0;
    for (std::size_t j = 0; j < n; ++j) seen |= starting[run[j]];
    if (seen == 0) return 0;
    for (std::size_t k = 0; k < exempt_string_count; ++k) {
        const std::size_t len = length[k];
        if ((seen >> k & 1) == 0 || len > n) continue;
        const unsigned char* pattern = settings->exempt_strings[k];
        // Offsets one byte apart: a match may start on a trail byte.
        for (std::size_t j = 0; j + len <= n; ++j) {
            if (run[j] == pattern[0] && std::memcmp(run + j, pattern, len) == 0) {
                at = j;
                return len;
            }
        }
    }
    return 0;
}

bool ExemptPatterns::match(unsigned char* run, std::size_t& n) const {
    std::size_t at = 0;
    const std::size_t len = find(run, n, at);
    if (len == 0) return false;
    std::memmove(run, run + at, len);
    run[len] = 0;
    n = len;
    return true;
}

}  // namespace kurvane::detail

namespace kurvane {

int match_exempt(const ExtractionSettings& settings, unsigned char* run, std::size_t& length) {
    return detail::ExemptPatterns(settings).match(run, length) ? 1 : 0;
}

}  // namespace kurvane
