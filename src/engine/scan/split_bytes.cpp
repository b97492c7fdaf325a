#include "engine/scan/split_bytes.h"

#include <new>

namespace kurvane::detail {

void find_split_bytes(const ScanTable& table, std::array<bool, 256>& split) {
    constexpr auto none = static_cast<unsigned char>(CharClass::None);
    constexpr auto single = static_cast<unsigned char>(CharClass::Single);
    for (unsigned s = 0; s < 256; ++s) {
        bool ends_runs = true;
        for (unsigned other = 0; other < 256 && ends_runs; ++other) {
            // A run at s stops there: nothing that starts with s is taken.
            ends_runs = table.pair_class[ScanTable::index(s, other)] == none;
            // A character before s takes one byte or stops: s is no trail.
            const unsigned char before = table.pair_class[ScanTable::index(other, s)];
            ends_runs = ends_runs && (before == none || before == single);
        }
        split[s] = ends_runs;
    }
}

std::unique_ptr<ScanTable> make_cut_table(const ExtractionSettings& settings,
                                          std::array<bool, 256>& stored_split) {
    std::unique_ptr<ScanTable> table(new (std::nothrow) ScanTable);
    if (!table) return nullptr;
    build_scan_table(settings, *table);
    std::array<bool, 256> split{};
    find_split_bytes(*table, split);
    const auto key = static_cast<unsigned char>(settings.xor_value & 0xFFu);
    for (unsigned v = 0; v < 256; ++v) stored_split[v] = split[v ^ key];
    return table;
}

}  // namespace kurvane::detail
