// The start mask for AVX2: each class of 32 bytes by two nibble lookups.
#include "text/start_mask.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "target_region.h"

KURVANE_TARGET_BEGIN("avx2")

namespace kurvane::text {
namespace {

__m256i rows_of(const std::uint8_t* rows) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows)));
}

// The bits of one half of a block: start, lead and trail.
struct HalfMasks {
    std::uint32_t start, lead, trail;
};

HalfMasks half_masks(const StartClasses& c, const unsigned char* p) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i low = _mm256_and_si256(x, nibble);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble);
    // Bit h % 8 of a row is the value with high nibble h.
    const __m256i bit = _mm256_shuffle_epi8(
        _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1,
                         2, 4, 8, 16, 32, 64, -128),
        high);
    std::uint32_t m[StartClasses::class_count];
    for (std::size_t k = 0; k < StartClasses::class_count; ++k) {
        // The top bit of a byte is the top bit of its high nibble, which
        // picks the rows of h >= 8.
        const __m256i row = _mm256_blendv_epi8(_mm256_shuffle_epi8(rows_of(c.low_rows(k)), low),
                                               _mm256_shuffle_epi8(rows_of(c.high_rows(k)), low), x);
        m[k] = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(row, bit), bit)));
    }
    return {m[0], m[1], m[2]};
}

std::uint64_t avx2_mask(const StartClasses& c, const unsigned char* p) {
    constexpr std::size_t half = start_block_bytes / 2;
    const HalfMasks a = half_masks(c, p);
    const HalfMasks b = half_masks(c, p + half);
    const auto join = [](std::uint32_t lo, std::uint32_t hi) { return std::uint64_t{hi} << half | lo; };
    const std::uint64_t trail = join(a.trail, b.trail);
    const std::uint64_t followed =
        trail >> 1 | std::uint64_t{(c.of(p[start_block_bytes]) & StartClasses::trail) != 0} << (start_block_bytes - 1);
    return join(a.start, b.start) & (~join(a.lead, b.lead) | followed);
}

}  // namespace

namespace detail {
const StartMaskKernel* avx2_start_mask_kernel() {
    static constexpr StartMaskKernel kernel{Isa::avx2, avx2_mask};
    return &kernel;
}
}  // namespace detail

}  // namespace kurvane::text

KURVANE_TARGET_END

#endif
