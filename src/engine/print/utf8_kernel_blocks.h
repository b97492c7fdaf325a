// The block loop of the vector UTF-8 kernels, over an instruction set's
// lookup of the table entries of eight pairs and its store of a block of
// ASCII and katakana. Each kernel file includes
// this inside its own instruction-set region (internal linkage, as the
// steps it falls back on).
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <concepts>
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
using PackRows = std::array<PackRow, 1u << lane_chars>;
// The rows for entries of `other` bytes where m has no bit.
constexpr PackRows make_pack_rows(unsigned other) {
    PackRows rows{};
    for (unsigned m = 0; m < rows.size(); ++m) {
        rows[m].control.fill(0x80);  // a set top bit stores a zero
        std::size_t out = 0;
        for (unsigned c = 0; c < lane_chars; ++c)
            for (unsigned b = 0; b < (m >> c & 1 ? 3u : other); ++b)
                rows[m].control[out++] = static_cast<unsigned char>(4 * c + b);
        rows[m].size = out;
    }
    return rows;
}
constexpr PackRows pack_rows = make_pack_rows(2);   // double-byte characters
constexpr PackRows kana_rows = make_pack_rows(1);   // ASCII and katakana
static_assert(pack_rows.back().size == 12, "four characters of 3 bytes");

inline __m128i load16(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store16(unsigned char* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// The last n - k < 16 bytes as a block, zeros behind them (a zero is ASCII
// and trails nothing). Loads end at n when 16 bytes are there, else start
// at src, which has utf8_block readable bytes.
inline __m128i last_block(const unsigned char* src, std::size_t k, std::size_t n) {
    const std::size_t base = n >= utf8_block ? n - utf8_block : 0;
    const __m128i lane = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i from = _mm_add_epi8(lane, _mm_set1_epi8(static_cast<char>(k - base)));
    const __m128i live = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(n - k)), lane);
    const __m128i dead = _mm_andnot_si128(live, _mm_set1_epi8(-128));
    return _mm_shuffle_epi8(load16(src + base), _mm_or_si128(from, dead));
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

// Bits per byte of a block: ASCII or half-width katakana (0xA1-0xDF), and
// katakana alone.
struct KanaMasks {
    unsigned single;
    unsigned kana;
};
inline __m128i kana_bytes(__m128i block) {
    return _mm_and_si128(_mm_cmpgt_epi8(block, _mm_set1_epi8(static_cast<char>(0xA0))),
                         _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(0xE0)), block));
}
inline KanaMasks kana_masks(__m128i block) {
    const __m128i kana = kana_bytes(block);
    const __m128i ascii = _mm_cmpgt_epi8(block, _mm_set1_epi8(-1));
    return {static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(ascii, kana))),
            static_cast<unsigned>(_mm_movemask_epi8(kana))};
}

// Stores the UTF-8 of a block of ASCII and katakana (U+FF61 on: EF BD
// A1-BF, then EF BE 80-9F), each byte 1 or 3 bytes of it, by arithmetic
// and four byte shuffles. A byte of another kind is stored as garbage.
inline void shuffle_kana(__m128i block, unsigned three, unsigned char* dst) {
    const __m128i kana = kana_bytes(block);
    const __m128i upper = _mm_and_si128(kana, _mm_cmpgt_epi8(block, _mm_set1_epi8(static_cast<char>(0xBF))));
    // Per byte: the ASCII byte or EF, then BD or BE, then the byte less 0x40
    // for the upper half; as an entry of 4 bytes per input byte.
    const __m128i first = _mm_or_si128(_mm_and_si128(kana, _mm_set1_epi8(static_cast<char>(0xEF))),
                                       _mm_andnot_si128(kana, block));
    const __m128i second = _mm_sub_epi8(_mm_set1_epi8(static_cast<char>(0xBD)), upper);
    const __m128i third = _mm_sub_epi8(block, _mm_and_si128(upper, _mm_set1_epi8(0x40)));
    const __m128i zero = _mm_setzero_si128();
    const __m128i pairs_low = _mm_unpacklo_epi8(first, second);
    const __m128i pairs_high = _mm_unpackhi_epi8(first, second);
    const __m128i thirds_low = _mm_unpacklo_epi8(third, zero);
    const __m128i thirds_high = _mm_unpackhi_epi8(third, zero);
    const __m128i entries[4] = {_mm_unpacklo_epi16(pairs_low, thirds_low), _mm_unpackhi_epi16(pairs_low, thirds_low),
                                _mm_unpacklo_epi16(pairs_high, thirds_high),
                                _mm_unpackhi_epi16(pairs_high, thirds_high)};
    for (unsigned q = 0; q < 4; ++q) {
        const PackRow& row = kana_rows[three >> (lane_chars * q) & 15];
        store16(dst, _mm_shuffle_epi8(entries[q], _mm_load_si128(reinterpret_cast<const __m128i*>(row.control.data()))));
        dst += row.size;
    }
}
// Its last store starts at most 3 * 12 bytes in, and ends within the
// block's room and the kernel's overrun; in the last block, where one byte
// may be all that is left, 3 + 11 bytes in (the zeros are 1 byte each).
static_assert(3 * 12 + 16 <= text::utf8_per_cp932_byte * utf8_block + utf8_store_overrun);
static_assert(3 + 11 + 16 <= text::utf8_per_cp932_byte * 1 + utf8_store_overrun);

// Whether c leads double-byte characters (0x81-0x9F, 0xE0-0xFC): the XOR
// makes the two ranges one.
inline bool is_lead(unsigned char c) { return static_cast<unsigned char>((c ^ 0x20) - 0xA1) < 0x3C; }

constexpr unsigned all_chars = (1u << utf8_block / 2) - 1;

// A lookup may convert a whole block of mixed kinds in one go:
// mixed(t, block, k, dst) converts from src[k], a character's first byte,
// moves k and dst past what it converted and answers true, or answers
// false having done nothing.
template <class Lookup>
concept has_mixed = requires(const Utf8Tables& t, __m128i block, std::size_t& k, unsigned char*& dst) {
    { Lookup::mixed(t, block, k, dst) } -> std::same_as<bool>;
};

template <class Lookup>
std::size_t print_blocks(const Utf8Tables& t, const unsigned char* src, std::size_t n, unsigned char* dst) {
    unsigned char* const start = dst;
    std::size_t k = 0;
    // Where the block is what the text mostly is (ASCII, katakana, or
    // eight characters of 3 bytes) the positions move by constants behind
    // a branch, so the next block is loaded before this one's lookups are
    // done: moving by counts taken from the lookups would chain the blocks.
    // The last block is the bytes left and zeros, which are ASCII and no
    // trail, so it takes the same paths; only its bytes count.
    while (k + utf8_block / 2 <= n) {
        const bool whole = k + utf8_block <= n;
        const std::size_t live = whole ? utf8_block : n - k;
        const __m128i block = whole ? load16(src + k) : last_block(src, k, n);
        const auto high = static_cast<unsigned>(_mm_movemask_epi8(block));
        if (high == 0) {
            store16(dst, block);
            dst += live;
            k += live;
            continue;
        }
        if (!is_lead(src[k])) {
            // ASCII and katakana up to the first byte of another kind (the
            // zeros past the live bytes never count).
            const KanaMasks m = kana_masks(block);
            const auto singles = std::min<std::size_t>(live, static_cast<std::size_t>(std::countr_one(m.single)));
            if (singles == 0) {
                single_steps(t, src, k, n, dst, utf8_block / 2);
                last_single(t, src, k, n, dst);
                continue;
            }
            const unsigned kana = m.kana & ((1u << singles) - 1);
            if (kana == 0) {
                store16(dst, block);
            } else {
                Lookup::store_kana(block, m.kana, dst);
            }
            dst += singles + 2 * static_cast<std::size_t>(std::popcount(kana));
            // A whole block moves k by a constant, as above.
            k += singles == utf8_block ? utf8_block : singles;
            continue;
        }
        const EntryLanes e = Lookup::entries(t.pair, block);
        const EntrySizes sizes = entry_sizes(e);
        if (sizes.pairs == all_chars && sizes.three == all_chars) {
            store_packed(e, sizes.three, dst);
            dst += 3 * utf8_block / 2;
            k += utf8_block;
            continue;
        }
        // Where the pairs give way to another kind, a lookup that converts
        // mixed blocks takes the block whole, rather than the pairs here
        // and the rest in the next round. (Blocks of pairs only, or that
        // start with a single byte, cost it more than the paths above.)
        if constexpr (has_mixed<Lookup>) {
            if (whole && Lookup::mixed(t, block, k, dst)) continue;
        }
        // The characters past the first pair that is none are stored as
        // well, beyond the bytes dst moves past; what comes next stores
        // over them.
        const auto taken = static_cast<std::size_t>(std::countr_one(sizes.pairs));
        if (taken != 0) {
            store_packed(e, sizes.three, dst);
            dst += 2 * taken + static_cast<std::size_t>(std::popcount(sizes.three & ((1u << taken) - 1)));
            k += 2 * taken;
        } else {
            single_steps(t, src, k, n, dst, utf8_block / 2);
            last_single(t, src, k, n, dst);
        }
    }
    while (k + 2 <= n) single_steps(t, src, k, n, dst, n);
    last_single(t, src, k, n, dst);
    return static_cast<std::size_t>(dst - start);
}

// The pairs of a block as 16-bit values lead << 8 | trail.
inline __m128i pair_indexes(__m128i block) {
    return _mm_shuffle_epi8(block, _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
}

// The entry of pair C of the block's pair indexes, in the low lane of a
// vector: the load goes straight into it.
template <int C>
__m128i entry_of(const text::Utf8Entry* pair, __m128i index) {
    return _mm_cvtsi32_si128(static_cast<int>(pair[_mm_extract_epi16(index, C)]));
}

// Four entries joined into one vector, the first in the low lane.
inline __m128i join(__m128i e0, __m128i e1, __m128i e2, __m128i e3) {
    return _mm_unpacklo_epi64(_mm_unpacklo_epi32(e0, e1), _mm_unpacklo_epi32(e2, e3));
}

// The eight entries of a block by eight table loads.
struct LoadLookup {
    static void store_kana(__m128i block, unsigned kana, unsigned char* dst) {
        shuffle_kana(block, kana, dst);
    }
    static EntryLanes entries(const text::Utf8Entry* pair, __m128i block) {
        return entries_at(pair, pair_indexes(block));
    }
    // The entries of eight pair indexes.
    static EntryLanes entries_at(const text::Utf8Entry* pair, __m128i index) {
        // The loads are scalar, but none waits for another. Each goes into
        // a vector of its own, joined by unpacks: entries stored to memory
        // and loaded back as vectors would wait for all eight stores to
        // land.
        return {join(entry_of<0>(pair, index), entry_of<1>(pair, index), entry_of<2>(pair, index),
                     entry_of<3>(pair, index)),
                join(entry_of<4>(pair, index), entry_of<5>(pair, index), entry_of<6>(pair, index),
                     entry_of<7>(pair, index))};
    }
};

}  // namespace
}  // namespace kurvane::detail
