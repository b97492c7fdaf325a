#include "engine/scan/run_masks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kurvane::scan {
namespace {

enum Unit : unsigned char { none, one, two };

// The walk the masks stand for, over the whole sequence at once: a two-byte
// unit covers its byte and the next, and the walk goes on after it.
struct Walked {
    std::vector<bool> unit_at, covered;
};

Walked walk(const std::vector<Unit>& units) {
    const std::size_t n = units.size();
    Walked w{std::vector<bool>(n), std::vector<bool>(n + 1)};
    for (std::size_t i = 0; i < n;) {
        if (units[i] == none) {
            ++i;
            continue;
        }
        w.covered[i] = true;
        if (units[i] == two) {
            w.unit_at[i] = true;
            w.covered[i + 1] = true;
            i += 2;
        } else {
            ++i;
        }
    }
    return w;
}

std::string where(const char* what, std::size_t pos, const std::vector<Unit>& units) {
    std::string s = std::string(what) + " at " + std::to_string(pos) + " of units ";
    for (std::size_t k = pos < 8 ? 0 : pos - 8; k < units.size() && k < pos + 8; ++k)
        s += static_cast<char>('0' + units[k]);
    return s;
}

// Blocks one after another, carrying the two bits, against the walk of the
// whole: sparse units (binary data), dense ones (text), chains of two-byte
// units of every parity across block edges, all units one kind.
TEST(run_masks, blocks_in_a_row_agree_with_a_walk) {
    struct Mix {
        unsigned none_share, one_share;  // of 100; the rest are two-byte units
    };
    const Mix mixes[] = {{90, 5}, {50, 25}, {10, 10}, {2, 0}, {0, 0}, {0, 100}, {30, 0}, {5, 60}};
    std::mt19937 rng(17);
    for (const Mix& mix : mixes) {
        for (int round = 0; round < 200; ++round) {
            const std::size_t blocks = 1 + rng() % 6;
            std::vector<Unit> units(64 * blocks);
            for (Unit& u : units) {
                const auto r = static_cast<unsigned>(rng() % 100);
                u = r < mix.none_share ? none : r < mix.none_share + mix.one_share ? one : two;
            }
            const Walked want = walk(units);
            RunCarry carry{};
            for (std::size_t blk = 0; blk < blocks; ++blk) {
                std::uint64_t pairs = 0, singles = 0;
                for (std::size_t k = 0; k < 64; ++k) {
                    pairs |= std::uint64_t{units[64 * blk + k] == two} << k;
                    singles |= std::uint64_t{units[64 * blk + k] == one} << k;
                }
                const BlockRuns got = block_runs(pairs, singles, carry);
                for (std::size_t k = 0; k < 64; ++k) {
                    const std::size_t pos = 64 * blk + k;
                    const bool before = pos > 0 && want.covered[pos - 1];
                    const bool start = want.covered[pos] && !before;
                    const bool end = !want.covered[pos] && before;
                    ASSERT_EQ((got.units >> k & 1) != 0, want.unit_at[pos]) << where("unit", pos, units);
                    ASSERT_EQ((got.starts >> k & 1) != 0, start) << where("start", pos, units);
                    ASSERT_EQ((got.ends >> k & 1) != 0, end) << where("end", pos, units);
                }
                const std::size_t next = 64 * (blk + 1);
                ASSERT_EQ(got.carry.open, want.covered[next - 1]) << where("open", next - 1, units);
                ASSERT_EQ(got.carry.trail, want.unit_at[next - 1]) << where("trail", next - 1, units);
                carry = got.carry;
            }
        }
    }
}

// The chain arithmetic at the top bit: a chain that runs into bit 63 and
// carries out of the word, of either parity, after a trail or not.
TEST(run_masks, chains_up_to_the_last_bit_carry_their_trail) {
    struct Case {
        std::uint64_t pairs;
        bool trail_in;
        bool trail_out;
        const char* why;
    };
    const Case cases[] = {
        {~std::uint64_t{0}, false, false, "64 bits from 0: units on even bits, 62 the last"},
        {~std::uint64_t{0}, true, true, "after a trail: units on odd bits, 63 the last"},
        {~std::uint64_t{0} << 1, false, true, "from bit 1: 63 starts a unit"},
        {std::uint64_t{1} << 63, false, true, "bit 63 alone"},
        {std::uint64_t{3} << 62, false, false, "bits 62 and 63: one unit at 62"},
    };
    for (const Case& c : cases) {
        const BlockRuns r = block_runs(c.pairs, 0, {c.trail_in, c.trail_in});
        EXPECT_EQ(r.carry.trail, c.trail_out) << c.why;
        EXPECT_TRUE(r.carry.open) << c.why;
        EXPECT_EQ(r.ends, 0u) << c.why;
    }
}

}  // namespace
}  // namespace kurvane::scan
