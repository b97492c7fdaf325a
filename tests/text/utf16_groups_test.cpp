#include "text/utf16_groups.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace kurvane {
namespace {

using text::detail::CoverGroup;

struct Group {
    std::size_t start, end;
    unsigned lanes;
    std::uint64_t units;  // bit b for a unit at start + b, for a group of at most 64 bytes
    bool operator==(const Group&) const = default;
};

void PrintTo(const Group& g, std::ostream* out) {
    *out << "{" << g.start << ", " << g.end << ", lanes " << g.lanes << ", units 0x" << std::hex << g.units
         << std::dec << "}";
}

// The groups from a byte-by-byte cover: unit k of alignment a covers bytes
// a + 2k and a + 2k + 1.
std::vector<Group> plain_groups(const std::vector<std::uint64_t> (&masks)[2], std::size_t words) {
    const std::size_t bytes = words * 128 + 2;
    std::vector<unsigned> cover(bytes, 0);  // the lanes whose units cover a byte
    std::vector<unsigned> starts(bytes, 0);
    for (unsigned a = 0; a < 2; ++a) {
        for (std::size_t k = 0; k < words * 64; ++k) {
            if ((masks[a][k / 64] >> k % 64 & 1) == 0) continue;
            cover[a + 2 * k] |= 1u << a;
            cover[a + 2 * k + 1] |= 1u << a;
            starts[a + 2 * k] |= 1u << a;
        }
    }
    std::vector<Group> out;
    for (std::size_t b = 0; b < bytes;) {
        if (cover[b] == 0) {
            ++b;
            continue;
        }
        Group g{b, b, 0, 0};
        for (; g.end < bytes && cover[g.end] != 0; ++g.end) g.lanes |= starts[g.end];
        if (g.end - g.start <= 64)
            for (std::size_t k = g.start; k < g.end; ++k)
                if (starts[k] != 0) g.units |= std::uint64_t{1} << (k - g.start);
        out.push_back(g);
        b = g.end;
    }
    return out;
}

// The groups of random masks at every density, and of masks whose units
// run across grid words and to the end of the data, match the plain walk.
TEST(cover_groups, match_a_byte_by_byte_cover) {
    std::mt19937_64 rng(19);
    struct Case {
        const char* name;
        std::size_t words;
        double density[2];  // of member bits in each alignment, when random
        std::uint64_t fixed[2];  // every word, when density is negative
    };
    const Case cases[] = {
        {"no words", 0, {0.5, 0.5}, {}},
        {"sparse", 4, {0.05, 0.05}, {}},
        {"half", 4, {0.5, 0.5}, {}},
        {"dense, so groups run across words", 4, {0.97, 0.97}, {}},
        {"one alignment only", 3, {0.6, 0.0}, {}},
        {"the other alignment only", 3, {0.0, 0.6}, {}},
        {"every unit: one group to the end", 3, {-1, -1}, {~0ull, ~0ull}},
        {"alternate units of each: gaps of one byte", 2, {-1, -1}, {0x5555555555555555ull, 0x5555555555555555ull}},
        {"a unit at each word's edge", 3, {-1, -1}, {0x8000000000000001ull, 0x8000000000000000ull}},
        {"the other alignment's last unit only", 2, {-1, -1}, {0, 0x8000000000000000ull}},
        // Groups of 62, 64 and 66 bytes across the edges of grid words
        // (units 32 and 64): the units of one that spans at most 64 bytes
        // come from both words.
        {"31 units astride each grid edge", 3, {-1, -1}, {0x00007FFFFFFF0000ull, 0xF000000007FFFFFFull}},
        {"32 units astride each grid edge", 3, {-1, -1}, {0x0000FFFFFFFF0000ull, 0xF00000000FFFFFFFull}},
        {"33 units astride each grid edge", 3, {-1, -1}, {0x0001FFFFFFFF0000ull, 0xF00000001FFFFFFFull}},
        {"both alignments, 63 bytes astride each edge", 3, {-1, -1}, {0xF000000007FFFFFFull, 0xF000000007FFFFFFull}},
        {"both alignments, 65 bytes astride each edge", 3, {-1, -1}, {0xF00000000FFFFFFFull, 0xF00000000FFFFFFFull}},
    };
    for (const Case& c : cases) {
        for (int round = 0; round < 20; ++round) {
            std::vector<std::uint64_t> masks[2];
            for (unsigned a = 0; a < 2; ++a) {
                masks[a].assign(c.words, c.fixed[a]);
                if (c.density[a] < 0) continue;
                std::bernoulli_distribution bit(c.density[a]);
                for (std::size_t k = 0; k < c.words * 64; ++k)
                    if (bit(rng)) masks[a][k / 64] |= std::uint64_t{1} << k % 64;
            }
            std::vector<Group> got;
            text::detail::for_each_cover_group(masks[0].data(), masks[1].data(), c.words,
                                               [&](const CoverGroup& g) { got.push_back({g.start, g.end, g.lanes, g.grid}); });
            ASSERT_EQ(got, plain_groups(masks, c.words)) << c.name << ", round " << round;
        }
    }
}

}  // namespace
}  // namespace kurvane
