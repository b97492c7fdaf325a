// The lookup tables the extraction pass scans with, built once per file from
// the settings record: one load per examined position instead of a chain of
// range tests.
#pragma once

#include <array>
#include <cstddef>

#include "engine/classes/classifier.h"
#include "engine/extraction_settings.h"
#include "engine/classes/pair_ranges.h"

namespace kurvane::detail {

struct ScanTable {
    // CharClass of the pair (lead, trail) at index trail << 8 | lead, the
    // excluded pairs folded in: the index is the little-endian 16-bit word at
    // the position, one load on the usual targets. The values double as the
    // number of bytes a Single or Double character takes.
    std::array<unsigned char, 65536> pair_class;
    // Non-zero for a lead byte that starts a character or an excluded pair
    // with at least one trail. 0x00 never does.
    std::array<unsigned char, 256> can_start;
    // can_start as a list of byte ranges, for the vector skip; when there are
    // more than max_ranges of them, range_count is max_ranges + 1 and the
    // byte-at-a-time skip is used.
    static constexpr std::size_t max_ranges = 8;
    std::size_t range_count;
    std::array<unsigned char, max_ranges> range_first;
    std::array<unsigned char, max_ranges> range_last;
    // The double-byte pairs as trail ranges per group of lead bytes, for
    // the vector test of long runs (usable false: the runs keep the lookups).
    // Its looked_up bytes are those that can start text and whose pairs
    // the ranges and always_single do not class exactly (an inexact group,
    // an excluded pair).
    PairRanges pair_ranges;
    // 1 for a byte that is a single-byte character before any byte.
    std::array<unsigned char, 256> always_single;

    static std::size_t index(unsigned lead, unsigned trail) { return trail << 8 | lead; }

    CharClass at(unsigned char lead, unsigned char trail) const {
        return static_cast<CharClass>(pair_class[index(lead, trail)]);
    }
};

// Fills `table` for `settings`: for every pair, at() equals classify_pair().
void build_scan_table(const ExtractionSettings& settings, ScanTable& table);

}  // namespace kurvane::detail
