#include "engine/scan_table.h"

#include <algorithm>
#include <cstring>

#include "engine/char_ranges.h"

namespace kurvane::detail {

void build_scan_table(const ExtractionSettings& settings, ScanTable& table) {
    auto& pairs = table.pair_class;
    pairs.fill(static_cast<unsigned char>(CharClass::None));
    for (const auto& r : single_ranges()) {
        if (!flag_on(settings, r.flag)) continue;
        for (unsigned lead = r.first; lead <= r.last; ++lead)
            std::fill_n(pairs.begin() + (lead << 8), 256, static_cast<unsigned char>(CharClass::Single));
    }
    for (const auto& r : double_ranges()) {
        if (!flag_on(settings, r.flag)) continue;
        for (unsigned lead = r.lead_first; lead <= r.lead_last; ++lead)
            std::fill(pairs.begin() + (lead << 8 | r.trail_first),
                      pairs.begin() + (lead << 8 | r.trail_last) + 1,
                      static_cast<unsigned char>(CharClass::Double));
    }
    // Written last because an excluded pair wins over every class.
    for (const auto& entry : settings.excluded_pairs) {
        if (entry[0] != 0)
            pairs[static_cast<std::size_t>(entry[0]) << 8 | entry[1]] =
                static_cast<unsigned char>(CharClass::Excluded);
    }

    table.range_count = 0;
    for (unsigned lead = 0; lead < 256; ++lead) {
        const auto row = pairs.begin() + (lead << 8);
        const bool starts = std::any_of(row, row + 256, [](unsigned char c) { return c != 0; });
        table.can_start[lead] = starts ? 1 : 0;
        if (!starts) continue;
        const auto byte = static_cast<unsigned char>(lead);
        if (table.range_count > 0 && table.range_count <= ScanTable::max_ranges &&
            table.range_last[table.range_count - 1] + 1u == lead) {
            table.range_last[table.range_count - 1] = byte;
        } else if (table.range_count < ScanTable::max_ranges) {
            table.range_first[table.range_count] = byte;
            table.range_last[table.range_count] = byte;
            ++table.range_count;
        } else {
            table.range_count = ScanTable::max_ranges + 1;
        }
    }
}

}  // namespace kurvane::detail
