// The pair kernel for AVX-512: the group of each lead byte from one 128-entry
// byte permute, then one unsigned range test per range slot, for 64
// positions, the answer straight in a mask register.
#include "engine/scan/pair_kernel.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "quiet_immintrin.h"
#include "target_region.h"

KURVANE_TARGET_BEGIN(KURVANE_AVX512_TARGET)
#include "engine/scan/skip_kernel_avx512_bits.h"
#include "engine/scan/skip_kernel_blocks.h"

namespace kurvane::scan {
namespace {

static_assert(PairRanges::lead_rows == 64 && PairRanges::max_groups == 16);

class Avx512Pairs {
public:
    // The group table is indexed by the low seven bits of a lead from 0x80
    // on: rows 0x80-0x9F at 0x00-0x1F and 0xE0-0xFF at 0x60-0x7F, the
    // leads 0xA0-0xDF between them in group 0.
    explicit Avx512Pairs(const PairRanges& r)
        : groups_low_(_mm512_zextsi256_si512(half(r.lead_group.data()))),
          groups_high_(_mm512_inserti64x4(_mm512_setzero_si512(), half(r.lead_group.data() + 32), 1)),
          gap_(_mm512_set1_epi8(static_cast<char>(r.gap))) {
        for (std::size_t k = 0; k < PairRanges::range_slots; ++k) {
            first_[k] = table(r.first[k].data());
            width_[k] = table(r.width[k].data());
        }
    }

    // The positions of the 64 leads from p whose pair is in the ranges,
    // given the leads and the trails (the bytes from p + 1).
    std::uint64_t mask(__m512i lead, __m512i trail) const {
        // A lead below 0x80 has its top bit clear and is in group 0.
        const __m512i group =
            _mm512_maskz_permutex2var_epi8(_mm512_movepi8_mask(lead), groups_low_, lead, groups_high_);
        // trail - first <= width, unsigned, for some slot: the saturated
        // trail - first - width is 0 for it. Group 0's range is the gap
        // byte alone, so that the gap test answers for it too. A group is
        // below 16, so vpshufb looks it up in each lane's copy of a table.
        __m512i over = _mm512_set1_epi8(-1);
#pragma GCC unroll 4
        for (std::size_t k = 0; k < PairRanges::range_slots; ++k) {
            const __m512i d = _mm512_sub_epi8(trail, _mm512_shuffle_epi8(first_[k], group));
            over = _mm512_min_epu8(over, _mm512_subs_epu8(d, _mm512_shuffle_epi8(width_[k], group)));
        }
        return _mm512_testn_epi8_mask(over, over) & ~_mm512_cmpeq_epi8_mask(trail, gap_);
    }

private:
    static __m256i half(const unsigned char* t) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t));
    }
    static __m512i table(const unsigned char* t) {
        return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
    }

    __m512i groups_low_;
    __m512i groups_high_;
    __m512i first_[PairRanges::range_slots];
    __m512i width_[PairRanges::range_slots];
    __m512i gap_;
};

// The masks of `positions`, Planes words per 64 positions, from
// block(lead, trail), given the 64 bytes from a position and the 64 after
// it. The last block loads only its positions and their trails (masked
// loads do not touch the bytes they leave out), so it stays within the
// byte after the range that a pair kernel may read.
template <std::size_t Planes, class Block>
void masks_by_blocks(PaddedBytes positions, std::uint64_t* masks, Block block) {
    const unsigned char* const b = positions.data();
    const std::size_t n = positions.size();
    const auto words = [&](const std::array<std::uint64_t, Planes>& m, std::uint64_t keep) {
        for (std::size_t plane = 0; plane < Planes; ++plane) *masks++ = m[plane] & keep;
    };
    std::size_t k = 0;
    for (; k + kernel_block <= n; k += kernel_block)
        words(block(_mm512_loadu_si512(b + k), _mm512_loadu_si512(b + k + 1)), ~std::uint64_t{0});
    if (const std::size_t tail = n - k; tail != 0) {
        const __mmask64 keep = (std::uint64_t{1} << tail) - 1;
        words(block(_mm512_maskz_loadu_epi8(keep, b + k), _mm512_maskz_loadu_epi8(keep, b + k + 1)), keep);
    }
}

void avx512_double_masks(const PairRanges& ranges, PaddedBytes positions, std::uint64_t* masks) {
    const Avx512Pairs pairs(ranges);
    masks_by_blocks<1>(positions, masks, [&](__m512i lead, __m512i trail) {
        return std::array<std::uint64_t, 1>{pairs.mask(lead, trail)};
    });
}

void avx512_unit_masks(const PairRanges& ranges, PaddedBytes positions, std::uint64_t* masks) {
    const Avx512Pairs pairs(ranges);
    const avx512::BitSet looked_up(ranges.looked_up_bits.data());
    masks_by_blocks<2>(positions, masks, [&](__m512i lead, __m512i trail) {
        const std::uint64_t doubles = pairs.mask(lead, trail);
        return std::array<std::uint64_t, 2>{doubles, looked_up.members(lead) & ~doubles};
    });
}

}  // namespace

const PairKernel avx512_pair_kernel{Isa::avx512, avx512_double_masks, avx512_unit_masks};

}  // namespace kurvane::scan
KURVANE_TARGET_END

#endif
