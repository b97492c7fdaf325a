// The double-byte pairs of a scan table as a few trail ranges per group of
// lead bytes, the form in which a vector kernel tests 32 pairs at once.
// Built once per table; a table they cannot hold is marked unusable.
#pragma once

#include <array>
#include <cstddef>

namespace kurvane::detail {

// The double-byte pairs as ranges. A lead byte belongs to a group (0: it
// leads no double-byte pair); a pair is in the set when its trail lies in
// one of its group's ranges and is not the gap byte. Ranges may span the gap
// byte, which is in no set, so that the rows split only by it (trail 0x7F in
// code page 932) take one range, not two.
struct PairRanges {
    // Groups 1 to max_groups - 1 name distinct trail sets; the byte-shuffle
    // lookup of a group's range takes a four-bit index.
    static constexpr std::size_t max_groups = 16;
    // The ranges tested per pair. A group with more ranges keeps the first
    // range_slots of them and is inexact: a pair of its lead that is outside
    // them may still be in the set.
    static constexpr std::size_t range_slots = 4;
    // Lead bytes that can have a group: 0x80-0x9F and 0xE0-0xFF, at lead_rows
    // indices 0-31 and 32-63. Every other byte is in group 0.
    static constexpr std::size_t lead_rows = 64;

    // False when the set does not fit this form (a lead byte outside the rows,
    // more groups, no gap byte): every answer is then "not in the set", and a
    // scan must use its table.
    bool usable = false;
    unsigned char gap = 0;
    alignas(16) std::array<unsigned char, lead_rows> lead_group{};
    // Range k of group g: trails first[k][g] to first[k][g] + width[k][g].
    // Unused slots repeat the group's first range; group 0's are the gap
    // byte alone, so that a kernel's gap test answers for group 0 too.
    alignas(16) std::array<std::array<unsigned char, max_groups>, range_slots> first{};
    alignas(16) std::array<std::array<unsigned char, max_groups>, range_slots> width{};
    // 1 for a lead byte whose group is inexact.
    std::array<unsigned char, 256> inexact{};
    // The bytes that start text whose pairs a scan by these ranges must
    // look up in its table (set by the table's builder, see
    // mark_looked_up): 1 in looked_up, as nibble rows for a byte-shuffle
    // test, bit h % 8 of row l for the byte h << 4 | l (low rows: h < 8),
    // and as a bitmap for a byte-permute test, bit v % 8 of byte v / 8.
    std::array<unsigned char, 256> looked_up{};
    alignas(16) std::array<unsigned char, 16> looked_up_low{};
    alignas(16) std::array<unsigned char, 16> looked_up_high{};
    alignas(32) std::array<unsigned char, 32> looked_up_bits{};

    void mark_looked_up(unsigned char lead) {
        looked_up[lead] = 1;
        auto& rows = lead < 0x80 ? looked_up_low : looked_up_high;
        rows[lead & 0x0Fu] = static_cast<unsigned char>(rows[lead & 0x0Fu] | 1u << (lead >> 4 & 7));
        looked_up_bits[lead / 8u] = static_cast<unsigned char>(looked_up_bits[lead / 8u] | 1u << lead % 8u);
    }

    static constexpr std::size_t row_of(unsigned char lead) {
        return lead < 0xA0 ? lead - 0x80u : lead - 0xE0u + 32u;
    }
    unsigned group_of(unsigned char lead) const {
        const bool in_rows = (lead >= 0x80 && lead < 0xA0) || lead >= 0xE0;
        return in_rows ? lead_group[row_of(lead)] : 0u;
    }
    // Whether (lead, trail) is in the set as these ranges say: exact for a
    // lead that is not inexact, a subset of it for one that is.
    bool in_ranges(unsigned char lead, unsigned char trail) const {
        const unsigned g = group_of(lead);
        if (!usable || g == 0 || trail == gap) return false;
        for (std::size_t k = 0; k < range_slots; ++k)
            if (static_cast<unsigned char>(trail - first[k][g]) <= width[k][g]) return true;
        return false;
    }
};

// Builds the ranges of the pairs with classes[trail << 8 | lead] == member.
void build_pair_ranges(const std::array<unsigned char, 65536>& classes, unsigned char member,
                       PairRanges& ranges);

}  // namespace kurvane::detail
