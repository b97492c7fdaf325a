#include "engine/classes/pair_ranges.h"

#include <bitset>
#include <vector>

namespace kurvane::detail {
namespace {

using TrailSet = std::bitset<256>;

constexpr unsigned char lead_at_row(std::size_t row) {
    return static_cast<unsigned char>(row < 32 ? 0x80 + row : 0xE0 + (row - 32));
}
static_assert(PairRanges::row_of(lead_at_row(0)) == 0 && PairRanges::row_of(lead_at_row(31)) == 31 &&
              PairRanges::row_of(lead_at_row(32)) == 32 &&
              PairRanges::row_of(lead_at_row(PairRanges::lead_rows - 1)) == PairRanges::lead_rows - 1);

// The byte no trail set holds, preferring 0x7F, the code page's gap in
// every row; -1 when every byte is some pair's trail.
int find_gap(const std::array<TrailSet, 256>& sets) {
    TrailSet any;
    for (const TrailSet& s : sets) any |= s;
    if (!any[0x7F]) return 0x7F;
    for (unsigned v = 0; v < 256; ++v)
        if (!any[v]) return static_cast<int>(v);
    return -1;
}

struct Range {
    unsigned first;
    unsigned last;
};

// The ranges of `set`, joined across the gap byte where the set holds both
// of its neighbours.
std::vector<Range> ranges_of(const TrailSet& set, unsigned gap) {
    const auto in = [&](unsigned v) {
        return set[v] || (v == gap && v > 0 && v < 255 && set[v - 1] && set[v + 1]);
    };
    std::vector<Range> out;
    for (unsigned v = 0; v < 256; ++v) {
        if (!in(v)) continue;
        if (!out.empty() && out.back().last + 1 == v) out.back().last = v;
        else out.push_back({v, v});
    }
    return out;
}

}  // namespace

namespace {

// The ranges, or false when the set does not fit them.
bool fill_pair_ranges(const std::array<unsigned char, 65536>& classes, unsigned char member,
                      PairRanges& ranges) {
    std::array<TrailSet, 256> sets;
    for (unsigned trail = 0; trail < 256; ++trail)
        for (unsigned lead = 0; lead < 256; ++lead)
            if (classes[trail << 8 | lead] == member) sets[lead].set(trail);
    for (unsigned lead = 0; lead < 256; ++lead) {
        const auto byte = static_cast<unsigned char>(lead);
        const bool in_rows = (byte >= 0x80 && byte < 0xA0) || byte >= 0xE0;
        if (!in_rows && sets[lead].any()) return false;
    }
    const int gap = find_gap(sets);
    if (gap < 0) return false;
    ranges.gap = static_cast<unsigned char>(gap);
    for (auto& slot : ranges.first) slot[0] = ranges.gap;

    std::vector<TrailSet> groups{TrailSet{}};  // group 0: no pairs
    for (std::size_t row = 0; row < PairRanges::lead_rows; ++row) {
        const TrailSet& set = sets[lead_at_row(row)];
        if (set.none()) continue;
        std::size_t g = 1;
        while (g < groups.size() && groups[g] != set) ++g;
        if (g == groups.size()) {
            if (groups.size() == PairRanges::max_groups) return false;
            groups.push_back(set);
        }
        ranges.lead_group[row] = static_cast<unsigned char>(g);
    }

    std::array<bool, PairRanges::max_groups> inexact{};
    for (std::size_t g = 1; g < groups.size(); ++g) {
        const std::vector<Range> list = ranges_of(groups[g], ranges.gap);
        inexact[g] = list.size() > PairRanges::range_slots;
        for (std::size_t k = 0; k < PairRanges::range_slots; ++k) {
            const Range& r = list[k < list.size() ? k : 0];
            ranges.first[k][g] = static_cast<unsigned char>(r.first);
            ranges.width[k][g] = static_cast<unsigned char>(r.last - r.first);
        }
    }
    for (std::size_t row = 0; row < PairRanges::lead_rows; ++row)
        ranges.inexact[lead_at_row(row)] = inexact[ranges.lead_group[row]] ? 1 : 0;
    return true;
}

}  // namespace

void build_pair_ranges(const std::array<unsigned char, 65536>& classes, unsigned char member,
                       PairRanges& ranges) {
    // A set that does not fit leaves every lead in group 0, so that even a
    // kernel that ignores `usable` finds no pair.
    ranges = PairRanges{};
    if (fill_pair_ranges(classes, member, ranges)) ranges.usable = true;
    else ranges = PairRanges{};
}


}  // namespace kurvane::detail
