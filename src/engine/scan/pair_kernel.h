// The double-byte characters of a run, found 32 positions at a time from
// the pair ranges of the scan table: a vector of byte-shuffle lookups and
// range tests answers for every position of a block instead of one table
// load per pair. The scalar version is the reference and the fallback; the
// vector one is chosen once, at run time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/classes/pair_ranges.h"
#include "engine/scan/skip_kernel.h"
#include "engine/scan/skip_kernel_window.h"

namespace kurvane::scan {

using detail::PairRanges;

// A block of pair_block positions reads the pair at each, pair_block + 1
// bytes from its first position.
inline constexpr std::size_t pair_block = 32;
inline constexpr std::size_t pair_block_reach = pair_block + 1;
static_assert(pair_block == 32, "one bit of a std::uint32_t mask per position of a block");

// One instruction set's kernel.
struct PairKernel {
    Isa isa;
    // Bit k % 64 of masks[k / 64] is set when the pair at position k of
    // `positions` is in_ranges(). Writes mask_words(positions.size()) words;
    // the bits from positions.size() on are clear. The pair at the last
    // position takes the byte after it, and a block reads pair_block_reach
    // bytes from any position before the end.
    void (*double_masks)(const PairRanges& ranges, PaddedBytes positions, std::uint64_t* masks);
    // Two words per word of double_masks, one after the other: that word,
    // then the positions whose lead is looked_up and whose pair is not in
    // the ranges, the ones a scan must look up in its table.
    void (*unit_masks)(const PairRanges& ranges, PaddedBytes positions, std::uint64_t* masks);
};
static_assert(pair_block_reach - 1 <= kernel_overread, "a block from the last position stays in the padding");

// The fastest kernel this processor runs, chosen on the first call.
const PairKernel& pair_kernel();
// The kernel for `isa`, or null when this build or processor lacks it (the
// vector kernel is AVX2 only: with SSSE3 alone the scan keeps its lookups).
const PairKernel* pair_kernel_for(Isa isa);

// Marks with a pair kernel: the positions whose pair is in the ranges.
struct PairMarks {
    const PairKernel& kernel;
    const PairRanges& ranges;
    void operator()(PaddedBytes part, std::uint64_t* masks) const {
        kernel.double_masks(ranges, part, masks);
    }
};
using PairWindow = MaskWindow<PairMarks>;

// Both masks of unit_masks, as the two planes of a window.
struct UnitMarks {
    static constexpr std::size_t planes = 2;
    const PairKernel& kernel;
    const PairRanges& ranges;
    void operator()(PaddedBytes part, std::uint64_t* masks) const {
        kernel.unit_masks(ranges, part, masks);
    }
};
using UnitWindow = MaskWindow<UnitMarks>;

}  // namespace kurvane::scan
