// The stretches of UTF-16 input that the runs of its two alignments cover
// without a gap. Runs of different groups never overlap, so a group holding
// the units of one alignment only is a single run, written as it is, and
// only a group holding both needs its overlaps settled. The groups come
// from the member masks alone, a word at a time, before any per-run work.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace kurvane::text::detail {

// Bit k of v at bit 2k of the result, the odd bits clear.
constexpr std::uint64_t spread_to_even_bits(std::uint32_t v) {
    std::uint64_t x = v;
    x = (x | x << 16) & 0x0000FFFF0000FFFFull;
    x = (x | x << 8) & 0x00FF00FF00FF00FFull;
    x = (x | x << 4) & 0x0F0F0F0F0F0F0F0Full;
    x = (x | x << 2) & 0x3333333333333333ull;
    x = (x | x << 1) & 0x5555555555555555ull;
    return x;
}
static_assert(spread_to_even_bits(0xFFFFFFFFu) == 0x5555555555555555ull && spread_to_even_bits(0b1011) == 0b1000101);

inline constexpr std::uint64_t even_bits = 0x5555555555555555ull;

inline constexpr std::size_t grid_bits = 64;

// A group: bytes [start, end) of the data, and the alignments with units in
// it (bit 0 for the one at even bytes, bit 1 for the other). `grid`: where
// the whole group lies in one grid word (below), its units there, bit b for
// the unit that starts at byte start - start % grid_bits + b; 0 otherwise.
struct CoverGroup {
    std::size_t start;
    std::size_t end;
    unsigned lanes;
    std::uint64_t grid;
};

// Calls f(const CoverGroup&) for each group in input order, from the member
// masks of the alignment at byte 0 and of the one at byte 1, `words` words
// each (bit k of word w for the unit at 64w + k). Bytes are laid out as a
// grid with bit b set where a unit starts at byte b: alignment 0's units
// at the even bits, alignment 1's at the odd ones; a unit covers its byte
// and the next, and a group ends at the first byte no unit covers.
template <class F>
void for_each_cover_group(const std::uint64_t* even, const std::uint64_t* odd, std::size_t words, F&& f) {
    bool open = false;
    CoverGroup g{0, 0, 0, 0};
    std::uint64_t carry = 0;  // the last grid bit of the word before
    // One grid word more than the masks fill, all clear, ends a group
    // still open at the end of the data.
    const std::size_t grid_words = 2 * words + 1;
    for (std::size_t gw = 0; gw < grid_words; ++gw) {
        std::uint64_t grid = 0;
        if (gw < 2 * words) {
            const std::size_t w = gw / 2;
            const unsigned shift = gw % 2 == 0 ? 0 : 32;
            grid = spread_to_even_bits(static_cast<std::uint32_t>(even[w] >> shift)) |
                   spread_to_even_bits(static_cast<std::uint32_t>(odd[w] >> shift)) << 1;
        }
        const std::uint64_t covered = grid | grid << 1 | carry;
        carry = grid >> 63;
        const std::size_t base = gw * grid_bits;
        std::uint64_t rest = ~std::uint64_t{0};  // the bits of this word not yet passed
        for (;;) {
            if (!open) {
                const std::uint64_t x = covered & rest;
                if (x == 0) break;
                const unsigned b = static_cast<unsigned>(std::countr_zero(x));
                g = {base + b, 0, 0, 0};
                open = true;
                rest = ~std::uint64_t{0} << b;
            }
            const std::uint64_t gap = ~covered & rest;
            const std::uint64_t inside = gap == 0 ? rest : rest & ((gap & (0 - gap)) - 1);
            const std::uint64_t units = grid & inside;
            g.lanes |= ((units & even_bits) != 0 ? 1u : 0u) | ((units & ~even_bits) != 0 ? 2u : 0u);
            if (gap == 0) break;
            const unsigned e = static_cast<unsigned>(std::countr_zero(gap));
            g.end = base + e;
            // A group opened in this word has all its units in `units`.
            g.grid = g.start >= base ? units : 0;
            f(static_cast<const CoverGroup&>(g));
            open = false;
            if (e + 1 >= grid_bits) break;
            rest = ~std::uint64_t{0} << (e + 1);
        }
    }
}

}  // namespace kurvane::text::detail
