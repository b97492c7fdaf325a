// The start mask for AVX-512: the class of each of 64 bytes by two 128-entry
// byte permutes, tested straight into mask registers.
#include "text/start_mask.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "target_region.h"

KURVANE_TARGET_BEGIN(KURVANE_AVX512_TARGET)

namespace kurvane::text {
namespace {

static_assert(StartClasses::byte_values == 4 * sizeof(__m512i), "the table is four registers");

std::uint64_t avx512_mask(const StartClasses& c, const unsigned char* p) {
    const auto* t = reinterpret_cast<const __m512i*>(c.table());
    const __m512i x = _mm512_loadu_si512(p);
    // A permute indexes 128 entries by the low seven bits; the top bit
    // picks the half of the table.
    const __m512i below = _mm512_permutex2var_epi8(_mm512_loadu_si512(t), x, _mm512_loadu_si512(t + 1));
    const __m512i above = _mm512_permutex2var_epi8(_mm512_loadu_si512(t + 2), x, _mm512_loadu_si512(t + 3));
    const __m512i classes = _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), below, above);
    const auto has = [&](std::uint8_t bit) {
        return static_cast<std::uint64_t>(_mm512_test_epi8_mask(classes, _mm512_set1_epi8(static_cast<char>(bit))));
    };
    const std::uint64_t followed =
        has(StartClasses::trail) >> 1 |
        std::uint64_t{(c.of(p[start_block_bytes]) & StartClasses::trail) != 0} << (start_block_bytes - 1);
    return has(StartClasses::start) & (~has(StartClasses::lead) | followed);
}

}  // namespace

namespace detail {
const StartMaskKernel* avx512_start_mask_kernel() {
    static constexpr StartMaskKernel kernel{Isa::avx512, avx512_mask};
    return &kernel;
}
}  // namespace detail

}  // namespace kurvane::text

KURVANE_TARGET_END

#endif
