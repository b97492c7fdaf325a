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
// the group is at most grid_bits bytes long, its units as grid bits (below)
// counted from its first, bit b for the unit that starts at byte start + b;
// 0 otherwise.
struct CoverGroup {
    std::size_t start;
    std::size_t end;
    unsigned lanes;
    std::uint64_t grid;
};

// CoverGroup::lanes: a bit for each alignment with units in the group.
inline constexpr unsigned even_lane = 1;
inline constexpr unsigned odd_lane = 2;
inline constexpr unsigned both_lanes = even_lane | odd_lane;

// The lanes with units in `units`, grid bits, as CoverGroup::lanes.
constexpr unsigned lanes_of(std::uint64_t units) {
    return ((units & even_bits) != 0 ? even_lane : 0u) | ((units & ~even_bits) != 0 ? odd_lane : 0u);
}

// The groups that lie wholly in one grid word, at bits `inside` of the word
// that starts at byte `at`: `grid` its units, `covered` its bytes any unit
// covers. No group inside reaches the word's first or last bit unless it
// starts or ends there, so the groups are the stretches of covered bits.
struct CoverWord {
    std::size_t at;
    std::uint64_t grid;
    std::uint64_t covered;
    std::uint64_t inside;
    // The first and the last byte of each group inside, as bits.
    std::uint64_t firsts() const { return covered & ~(covered << 1) & inside; }
    std::uint64_t lasts() const { return covered & ~(covered >> 1) & inside; }
};

// The bits [from, to] of a word, from <= to < grid_bits.
constexpr std::uint64_t bits_through(unsigned from, unsigned to) {
    return (~std::uint64_t{0} << from) & (~std::uint64_t{0} >> (grid_bits - 1 - to));
}

// Calls f(const CoverGroup&) for each group of w, in input order.
template <class F>
void for_each_group_in(const CoverWord& w, F&& f) {
    for (std::uint64_t firsts = w.firsts(), lasts = w.lasts(); firsts != 0; firsts &= firsts - 1, lasts &= lasts - 1) {
        const unsigned s = static_cast<unsigned>(std::countr_zero(firsts));
        const unsigned l = static_cast<unsigned>(std::countr_zero(lasts));
        const std::uint64_t units = w.grid & bits_through(s, l);
        f(static_cast<const CoverGroup&>(CoverGroup{w.at + s, w.at + l + 1, lanes_of(units), units >> s}));
    }
}

// The groups in input order, from the member masks of the alignment at
// byte 0 and of the one at byte 1, `words` words each (bit k of word w for
// the unit at 64w + k): group(const CoverGroup&) for each that crosses an
// edge of the grid (below), word(const CoverWord&) for those that lie
// wholly in one grid word, all of them at once. Bytes are laid out as a
// grid with bit b set where a unit starts at byte b: alignment 0's units
// at the even bits, alignment 1's at the odd ones; a unit covers its byte
// and the next, and a group ends at the first byte no unit covers.
template <class Group, class Word>
void for_each_cover_word(const std::uint64_t* even, const std::uint64_t* odd, std::size_t words, Group&& group,
                         Word&& word) {
    bool open = false;
    CoverGroup g{0, 0, 0, 0};  // a crossing group, while open
    std::uint64_t carry = 0;   // the last grid bit of the word before
    std::uint64_t before = 0;  // the grid word before
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
        const std::uint64_t last_grid = before;
        before = grid;
        const std::size_t base = gw * grid_bits;
        std::uint64_t rest = ~std::uint64_t{0};  // the bits past the group open from the word before
        if (open) {
            const std::uint64_t gap = ~covered;
            if (gap == 0) {
                g.lanes |= lanes_of(grid);
                continue;
            }
            const unsigned e = static_cast<unsigned>(std::countr_zero(gap));
            g.lanes |= lanes_of(grid & ((std::uint64_t{1} << e) - 1));
            g.end = base + e;
            // A group from the word before that spans at most a word has
            // its units in the two words' bits (the word's below e).
            if (g.start + grid_bits >= base && g.end - g.start <= grid_bits) {
                const unsigned s = static_cast<unsigned>(g.start % grid_bits);
                g.grid = (last_grid >> s | (s == 0 ? 0 : grid << (grid_bits - s))) &
                         (~std::uint64_t{0} >> (grid_bits - (g.end - g.start)));
            }
            group(static_cast<const CoverGroup&>(g));
            open = false;
            if (e + 1 >= grid_bits) continue;
            rest = ~std::uint64_t{0} << (e + 1);
        }
        std::uint64_t inside = rest;
        if ((covered & rest) >> (grid_bits - 1) != 0) {
            // A group reaches the word's last bit: it starts after the
            // highest gap, or where the rest does.
            const std::uint64_t gaps = ~covered & rest;
            const auto high_clear = static_cast<std::size_t>(std::countl_zero(gaps));
            const unsigned s = gaps == 0 ? static_cast<unsigned>(std::countr_zero(rest))
                                         : static_cast<unsigned>(grid_bits - high_clear);
            g = {base + s, 0, lanes_of(grid & ~std::uint64_t{0} << s), 0};
            open = true;
            inside = rest & ((std::uint64_t{1} << s) - 1);
        }
        if ((covered & inside) != 0) word(static_cast<const CoverWord&>(CoverWord{base, grid, covered, inside}));
    }
}

// Calls f(const CoverGroup&) for each group in input order, as above.
template <class F>
void for_each_cover_group(const std::uint64_t* even, const std::uint64_t* odd, std::size_t words, F&& f) {
    for_each_cover_word(even, odd, words, f, [&](const CoverWord& w) { for_each_group_in(w, f); });
}

}  // namespace kurvane::text::detail
