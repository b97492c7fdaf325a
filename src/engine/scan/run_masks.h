// The runs of a block of 64 positions, found from its class masks with bit
// arithmetic instead of a walk from byte to byte: which positions a walk
// reads (not the second byte of a two-byte unit before them), which bytes a
// run covers, and where runs start and end. A block hands the next one the
// two bits a walk would carry over.
#pragma once

#include <cstdint>

namespace kurvane::scan {

// What a walk carries from the last position of a block into the next.
struct RunCarry {
    bool trail = false;  // the next block's first byte is the second of a unit
    bool open = false;   // the block's last byte is in a run
};

struct BlockRuns {
    std::uint64_t units;   // the positions where a two-byte unit starts
    std::uint64_t starts;  // the first byte of each run that starts here
    std::uint64_t ends;    // the byte after each run that ends here
    RunCarry carry;
};

// `pairs`: the positions whose byte and the next make a two-byte unit;
// `singles`: those whose byte is a one-byte unit; the two do not meet. A
// walk reads a position unless a unit started on the one before: in a chain
// of `pairs` bits it takes every other one, from the chain's first, so the
// units are the chain bits of the first's parity. Adding each chain's
// lowest bit clears the chain and nothing else, which sorts the chains by
// the parity they start on without a loop.
[[gnu::always_inline]] constexpr BlockRuns block_runs(std::uint64_t pairs, std::uint64_t singles, RunCarry in) {
    constexpr std::uint64_t even = 0x5555555555555555u;
    const std::uint64_t trail = in.trail ? 1u : 0u;
    const std::uint64_t p = pairs & ~trail;
    const std::uint64_t chain_starts = p & ~(p << 1);
    const std::uint64_t odd_chains = p & (p + (chain_starts & even));
    const std::uint64_t even_chains = p ^ odd_chains;
    const std::uint64_t units = (even_chains & even) | (odd_chains & ~even);
    // A one-byte unit on the second byte of a two-byte one is covered anyway.
    const std::uint64_t covered = units | units << 1 | trail | singles;
    const std::uint64_t before = covered << 1 | (in.open ? 1u : 0u);
    return {units, covered & ~before, ~covered & before, {(units >> 63) != 0, (covered >> 63) != 0}};
}

}  // namespace kurvane::scan
