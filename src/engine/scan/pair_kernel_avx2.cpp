// The pair kernel for AVX2: the group of each lead byte from four 16-entry
// lookups, then one unsigned range test per range slot, for 32 positions.
#include "engine/scan/pair_kernel.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "target_region.h"

KURVANE_TARGET_BEGIN("avx2")
#include "engine/scan/skip_kernel_avx2_nibbles.h"
#include "engine/scan/skip_kernel_blocks.h"

namespace kurvane::scan {
namespace {

class Avx2Pairs {
public:
    explicit Avx2Pairs(const PairRanges& r)
        : rows_{table(r.lead_group.data()), table(r.lead_group.data() + 16),
                table(r.lead_group.data() + 32), table(r.lead_group.data() + 48)},
          gap_(_mm256_set1_epi8(static_cast<char>(r.gap))), flip_(_mm256_set1_epi8(-128)),
          bit6_(_mm256_set1_epi8(0x40)) {
        for (std::size_t k = 0; k < PairRanges::range_slots; ++k) {
            first_[k] = table(r.first[k].data());
            width_[k] = table(r.width[k].data());
        }
    }

    std::uint32_t mask(const unsigned char* p) const {
        const __m256i lead = load(p);
        const __m256i trail = load(p + 1);
        // y = lead ^ 0x80 maps the rows 0x80-0x9F to 0x00-0x1F and 0xE0-0xFF
        // to 0x60-0x7F; a byte below 0x80 gets the top bit, for which
        // vpshufb yields 0. Bit 4 of y picks the table within a pair of
        // them, bit 6 the pair; between the rows, bits 5 and 6 differ.
        const __m256i y = _mm256_xor_si256(lead, flip_);
        const __m256i by_bit4 = _mm256_slli_epi16(y, 3);  // bit 4 to the top of each byte
        const __m256i by_bit6 = _mm256_slli_epi16(y, 1);  // bit 6 to the top, bit 5 to bit 6
        const __m256i low = _mm256_blendv_epi8(_mm256_shuffle_epi8(rows_[0], y),
                                               _mm256_shuffle_epi8(rows_[1], y), by_bit4);
        const __m256i high = _mm256_blendv_epi8(_mm256_shuffle_epi8(rows_[2], y),
                                                _mm256_shuffle_epi8(rows_[3], y), by_bit4);
        const __m256i between = _mm256_and_si256(_mm256_xor_si256(y, by_bit6), bit6_);
        const __m256i group = _mm256_andnot_si256(_mm256_cmpeq_epi8(between, bit6_),
                                                  _mm256_blendv_epi8(low, high, by_bit6));
        // trail - first <= width, unsigned, for some slot: the saturated
        // trail - first - width is 0 for it. Group 0's range is the gap
        // byte alone, so that the gap test answers for it too.
        __m256i over = _mm256_set1_epi8(-1);
        // Unrolled: a loop of four steps costs a compare and a jump each.
#pragma GCC unroll 4
        for (std::size_t k = 0; k < PairRanges::range_slots; ++k) {
            const __m256i d = _mm256_sub_epi8(trail, _mm256_shuffle_epi8(first_[k], group));
            over = _mm256_min_epu8(over, _mm256_subs_epu8(d, _mm256_shuffle_epi8(width_[k], group)));
        }
        const __m256i in = _mm256_cmpeq_epi8(over, _mm256_setzero_si256());
        return static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_andnot_si256(_mm256_cmpeq_epi8(trail, gap_), in)));
    }

private:
    // vpshufb looks up within each 16-byte lane, so both lanes hold the table.
    static __m256i table(const unsigned char* t) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
    }
    static __m256i load(const unsigned char* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }

    __m256i rows_[4];
    __m256i first_[PairRanges::range_slots];
    __m256i width_[PairRanges::range_slots];
    __m256i gap_;
    __m256i flip_;
    __m256i bit6_;
};

// The masks of `positions`, Planes words per 64 positions, from block(p),
// which gives each plane's bits for the 32 positions from p.
template <std::size_t Planes, class Block>
void masks_by_blocks(PaddedBytes positions, std::uint64_t* masks, Block block) {
    static_assert(kernel_block == 2 * pair_block);
    const unsigned char* const b = positions.data();
    const std::size_t n = positions.size();
    const auto words = [&](std::size_t k, bool both, std::uint64_t keep) {
        const std::array<std::uint32_t, Planes> low = block(b + k);
        std::array<std::uint32_t, Planes> high{};
        if (both) high = block(b + k + pair_block);
        for (std::size_t plane = 0; plane < Planes; ++plane)
            *masks++ = (std::uint64_t{high[plane]} << pair_block | low[plane]) & keep;
    };
    std::size_t k = 0;
    for (; k + kernel_block <= n; k += kernel_block) words(k, true, ~std::uint64_t{0});
    // The second half only when it holds a position: its block would read
    // past the padding of a range that ends in the first.
    if (const std::size_t tail = n - k; tail != 0) words(k, tail > pair_block, (std::uint64_t{1} << tail) - 1);
}

void avx2_double_masks(const PairRanges& ranges, PaddedBytes positions, std::uint64_t* masks) {
    const Avx2Pairs pairs(ranges);
    masks_by_blocks<1>(positions, masks, [&](const unsigned char* p) {
        return std::array<std::uint32_t, 1>{pairs.mask(p)};
    });
}

void avx2_unit_masks(const PairRanges& ranges, PaddedBytes positions, std::uint64_t* masks) {
    const Avx2Pairs pairs(ranges);
    const avx2::NibbleSet looked_up(ranges.looked_up_low.data(), ranges.looked_up_high.data());
    masks_by_blocks<2>(positions, masks, [&](const unsigned char* p) {
        const std::uint32_t doubles = pairs.mask(p);
        const auto leads = static_cast<std::uint32_t>(_mm256_movemask_epi8(
            looked_up.members(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)))));
        return std::array<std::uint32_t, 2>{doubles, leads & ~doubles};
    });
}

}  // namespace

const PairKernel avx2_pair_kernel{Isa::avx2, avx2_double_masks, avx2_unit_masks};

}  // namespace kurvane::scan
KURVANE_TARGET_END

#endif
