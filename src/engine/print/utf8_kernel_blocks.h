// The block loop of the vector UTF-8 kernels, over an instruction set's
// lookup of the table entries of eight pairs. Each kernel file includes
// this inside its own instruction-set region (internal linkage, as the
// steps it falls back on).
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "engine/print/utf8_kernel_steps.h"

namespace kurvane::detail {
namespace {

// The entries of characters 0-3 and 4-7 of a block.
struct EntryLanes {
    __m128i low;
    __m128i high;
};

// How four entries of 2 or 3 bytes each are packed into their UTF-8 by one
// byte shuffle: row m has the entries whose bit is set in m take 3 bytes,
// the others 2. The shuffle keeps each entry's low bytes, in order.
struct PackRow {
    alignas(16) std::array<unsigned char, 16> control;
    std::size_t size;
};
constexpr std::size_t lane_chars = 4;
constexpr auto pack_rows = [] {
    std::array<PackRow, 1u << lane_chars> rows{};
    for (unsigned m = 0; m < rows.size(); ++m) {
        rows[m].control.fill(0x80);  // a set top bit stores a zero
        std::size_t out = 0;
        for (unsigned c = 0; c < lane_chars; ++c)
            for (unsigned b = 0; b < (m >> c & 1 ? 3u : 2u); ++b)
                rows[m].control[out++] = static_cast<unsigned char>(4 * c + b);
        rows[m].size = out;
    }
    return rows;
}();
static_assert(pack_rows.back().size == 12, "four characters of 3 bytes");

inline __m128i load16(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store16(unsigned char* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// Bit c set where entry c (of four) has `bytes` bytes.
inline unsigned lanes_of_size(__m128i entries, int bytes) {
    const __m128i size = _mm_srli_epi32(entries, static_cast<int>(text::utf8_length_shift));
    return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(size, _mm_set1_epi32(bytes)))));
}

// The sizes of a block's eight entries: bit c of `three` set where entry
// c has 3 bytes, of `pairs` where it has 2 or 3 (it is a character).
struct EntrySizes {
    unsigned three;
    unsigned pairs;
};
inline EntrySizes entry_sizes(const EntryLanes& e) {
    const unsigned three = lanes_of_size(e.low, 3) | lanes_of_size(e.high, 3) << lane_chars;
    const unsigned two = lanes_of_size(e.low, 2) | lanes_of_size(e.high, 2) << lane_chars;
    return {three, three | two};
}

// Stores the entries packed; the lanes' sizes are those `three` says, an
// entry that is no character counted as 2 bytes.
inline void store_packed(const EntryLanes& e, unsigned three, unsigned char* dst) {
    const PackRow& low = pack_rows[three & 15];
    const PackRow& high = pack_rows[three >> lane_chars];
    store16(dst, _mm_shuffle_epi8(e.low, _mm_load_si128(reinterpret_cast<const __m128i*>(low.control.data()))));
    store16(dst + low.size,
            _mm_shuffle_epi8(e.high, _mm_load_si128(reinterpret_cast<const __m128i*>(high.control.data()))));
}

constexpr unsigned all_chars = (1u << utf8_block / 2) - 1;

template <class Lookup>
std::size_t print_blocks(const Utf8Tables& t, const unsigned char* src, std::size_t n, unsigned char* dst) {
    unsigned char* const start = dst;
    std::size_t k = 0;
    // Where the block is what the text mostly is (ASCII, or eight
    // characters of 3 bytes) the positions move by constants behind a
    // branch, so the next block is loaded before this one's lookups are
    // done: moving by counts taken from the lookups would chain the blocks.
    while (k + utf8_block <= n) {
        const __m128i block = load16(src + k);
        const auto high = static_cast<unsigned>(_mm_movemask_epi8(block));
        if (high == 0) {
            store16(dst, block);
            dst += utf8_block;
            k += utf8_block;
            continue;
        }
        if (const auto ascii = static_cast<std::size_t>(std::countr_zero(high)); ascii != 0) {
            store16(dst, block);
            dst += ascii;
            k += ascii;
            continue;
        }
        const EntryLanes e = Lookup::entries(t.pair, block);
        const EntrySizes sizes = entry_sizes(e);
        store_packed(e, sizes.three, dst);
        if (sizes.pairs == all_chars && sizes.three == all_chars) {
            dst += 3 * utf8_block / 2;
            k += utf8_block;
            continue;
        }
        // The characters past the first pair that is none were stored as
        // well, beyond the bytes dst moves past; what comes next stores
        // over them.
        const auto taken = static_cast<std::size_t>(std::countr_one(sizes.pairs));
        dst += 2 * taken + static_cast<std::size_t>(std::popcount(sizes.three & ((1u << taken) - 1)));
        k += 2 * taken;
        if (taken == 0) single_steps(t, src, k, n, dst, utf8_block / 2);
    }
    while (k + 2 <= n) single_steps(t, src, k, n, dst, n);
    last_single(t, src, k, n, dst);
    return static_cast<std::size_t>(dst - start);
}

// The pairs of a block as 16-bit values lead << 8 | trail.
inline __m128i pair_indexes(__m128i block) {
    return _mm_shuffle_epi8(block, _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
}

}  // namespace
}  // namespace kurvane::detail
