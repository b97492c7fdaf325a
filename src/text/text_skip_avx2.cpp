// The skips for AVX2: the range tests of text_skip.cpp on 32 bytes at once.
// The rest of the build stays baseline x86-64; these are called only after
// a run-time check that the processor has AVX2.
#include "text/text_skip.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <immintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#elif defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "text/text_skip_loop.h"

namespace kurvane::text {
namespace {

template <SkipUnit Unit>
class Avx2Block {
public:
    static constexpr SkipUnit unit = Unit;
    static constexpr std::size_t bytes = 32;

    explicit Avx2Block(std::span<const SkipRange, skip_ranges> ranges) {
        for (std::size_t r = 0; r < skip_ranges; ++r) {
            if constexpr (unit == SkipUnit::byte) {
                first_[r] = _mm256_set1_epi8(static_cast<char>(ranges[r].first));
                width_[r] = _mm256_set1_epi8(static_cast<char>(ranges[r].last - ranges[r].first));
            } else {
                first_[r] = _mm256_set1_epi16(static_cast<short>(ranges[r].first));
                width_[r] = _mm256_set1_epi16(static_cast<short>(ranges[r].last - ranges[r].first));
            }
        }
    }

    // A bit at the first byte of each member of the 32 bytes at p; v is in
    // [first, last] when v - first, wrapping, minus the width saturates to 0.
    std::uint32_t hits(const unsigned char* p) const {
        __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        if constexpr (unit == SkipUnit::utf16be)
            x = _mm256_or_si256(_mm256_slli_epi16(x, 8), _mm256_srli_epi16(x, 8));
        __m256i hit = _mm256_setzero_si256();
        for (std::size_t r = 0; r < skip_ranges; ++r) {
            if constexpr (unit == SkipUnit::byte)
                hit = _mm256_or_si256(hit, _mm256_cmpeq_epi8(_mm256_subs_epu8(_mm256_sub_epi8(x, first_[r]), width_[r]),
                                                             _mm256_setzero_si256()));
            else
                hit = _mm256_or_si256(
                    hit, _mm256_cmpeq_epi16(_mm256_subs_epu16(_mm256_sub_epi16(x, first_[r]), width_[r]),
                                            _mm256_setzero_si256()));
        }
        const auto m = static_cast<std::uint32_t>(_mm256_movemask_epi8(hit));
        return unit == SkipUnit::byte ? m : m & 0x55555555u;
    }

private:
    __m256i first_[skip_ranges];
    __m256i width_[skip_ranges];
};

}  // namespace

namespace detail {

SkipNext avx2_skip(SkipUnit unit) {
    switch (unit) {
        case SkipUnit::byte: return SkipKernels::vector_next<Avx2Block<SkipUnit::byte>>;
        case SkipUnit::utf16le: return SkipKernels::vector_next<Avx2Block<SkipUnit::utf16le>>;
        case SkipUnit::utf16be: break;
    }
    return SkipKernels::vector_next<Avx2Block<SkipUnit::utf16be>>;
}

}  // namespace detail
}  // namespace kurvane::text

#if defined(__clang__)
#pragma clang attribute pop
#elif defined(__GNUC__)
#pragma GCC pop_options
#endif

#endif
