#include "engine/classes/scan_table.h"

#include "engine/classes/char_ranges.h"

namespace kurvane::detail {

void build_scan_table(const ExtractionSettings& settings, ScanTable& table) {
    auto& pairs = table.pair_class;
    auto& starts = table.can_start;
    const auto set = [&](unsigned lead, unsigned trail, CharClass c) {
        pairs[ScanTable::index(lead, trail)] = static_cast<unsigned char>(c);
        starts[lead] = 1;
    };
    pairs.fill(static_cast<unsigned char>(CharClass::None));
    starts.fill(0);
    for (const auto& r : single_ranges()) {
        if (!flag_on(settings, r.flag)) continue;
        for (unsigned lead = r.first; lead <= r.last; ++lead)
            for (unsigned trail = 0; trail < 256; ++trail) set(lead, trail, CharClass::Single);
    }
    for (const auto& r : double_ranges()) {
        if (!flag_on(settings, r.flag)) continue;
        for (unsigned lead = r.lead_first; lead <= r.lead_last; ++lead)
            for (unsigned trail = r.trail_first; trail <= r.trail_last; ++trail)
                set(lead, trail, CharClass::Double);
    }
    // Written last because an excluded pair wins over every class.
    for (const auto& entry : settings.excluded_pairs) {
        if (entry[0] != 0) set(entry[0], entry[1], CharClass::Excluded);
    }

    build_pair_ranges(pairs, static_cast<unsigned char>(CharClass::Double), table.pair_ranges);
    for (unsigned lead = 0; lead < 256; ++lead) {
        const auto byte = static_cast<unsigned char>(lead);
        bool single = true;
        for (unsigned trail = 0; trail < 256 && single; ++trail)
            single = table.at(byte, static_cast<unsigned char>(trail)) == CharClass::Single;
        table.always_single[lead] = single ? 1 : 0;
        bool exact = true;
        for (unsigned trail = 0; trail < 256 && exact && starts[lead]; ++trail) {
            const auto t = static_cast<unsigned char>(trail);
            const CharClass told = table.pair_ranges.in_ranges(byte, t) ? CharClass::Double
                                   : single                           ? CharClass::Single
                                                                      : CharClass::None;
            exact = table.at(byte, t) == told;
        }
        if (!exact) table.pair_ranges.mark_looked_up(byte);
    }

    table.range_count = 0;
    for (unsigned lead = 0; lead < 256; ++lead) {
        if (!starts[lead]) continue;
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
