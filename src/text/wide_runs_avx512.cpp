// The kept pairs for AVX-512: 32 pairs of 64 bytes at once, each as a
// 16-bit lane (lead low, trail high), the limit of every lead from one
// 128-entry byte permute, the pairs kept in one mask.
#include "text/wide_runs.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <immintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>

#include "target_region.h"

KURVANE_TARGET_BEGIN(KURVANE_AVX512_TARGET)

namespace kurvane::text {
namespace {

using detail::euc_pair_bytes;

constexpr std::size_t block_bytes = sizeof(__m512i);
constexpr unsigned block_pairs = block_bytes / euc_pair_bytes;
static_assert(block_pairs == 32, "one bit of a 32-bit mask per pair");

std::size_t avx512_kept_pairs(const PairLimits& limits, const unsigned char* p, std::size_t n) {
    // Every lead of a pair is at least first_trail: the permute of its low
    // seven bits looks up the upper half of the table.
    static_assert(first_trail >= 0x80);
    const __m512i upper_low = _mm512_loadu_si512(limits.data() + 0x80);
    const __m512i upper_high = _mm512_loadu_si512(limits.data() + 0xC0);
    const __m512i lane_low = _mm512_set1_epi16(0xFF);
    const __m512i first = _mm512_set1_epi16(first_trail);
    std::size_t i = 0;
    for (;;) {
        const std::size_t left = n - i;
        const unsigned whole = static_cast<unsigned>(left >= block_bytes ? block_pairs : left / euc_pair_bytes);
        if (whole == 0) return i;
        // The bytes of the whole pairs; the lanes past them read zero, no pair.
        const __mmask64 bytes = whole == block_pairs ? ~__mmask64{0} : (__mmask64{1} << (2 * whole)) - 1;
        const __m512i x = _mm512_maskz_loadu_epi8(bytes, p + i);
        const __m512i limit = _mm512_and_si512(_mm512_permutex2var_epi8(upper_low, x, upper_high), lane_low);
        const __m512i trail = _mm512_srli_epi16(x, 8);
        // A lead below 0x80 would look up a wrong entry: its lane is no pair.
        const __m512i lead = _mm512_and_si512(x, lane_low);
        const __mmask32 kept = _mm512_cmpge_epu16_mask(trail, first) & _mm512_cmple_epu16_mask(trail, limit) &
                               _mm512_cmpge_epu16_mask(lead, first);
        const unsigned taken = static_cast<unsigned>(std::countr_one(static_cast<std::uint32_t>(kept)));
        const unsigned counted = taken < whole ? taken : whole;
        i += counted * euc_pair_bytes;
        if (counted < block_pairs) return i;
    }
}

}  // namespace

namespace detail {
const WideRunKernel* avx512_wide_run_kernel() {
    static constexpr WideRunKernel kernel{Isa::avx512, avx512_kept_pairs};
    return &kernel;
}
}  // namespace detail

}  // namespace kurvane::text

KURVANE_TARGET_END

#endif
