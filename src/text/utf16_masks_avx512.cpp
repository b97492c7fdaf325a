// The unit masks for AVX-512: sixteen units' traits at a time with a
// gather, each trait bit straight into a mask register.
#include "text/utf16_masks.h"

#if defined(__x86_64__) || defined(_M_X64)

// Everything the kernel includes is included before its region, so only
// the kernel is built for AVX-512.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "target_region.h"
#include "text/utf16_masks_blocks.h"

KURVANE_TARGET_BEGIN("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi2")

namespace kurvane::text {
namespace {

template <ByteOrder order>
struct Avx512Word {
    static void masks(const std::uint8_t* table, const unsigned char* p, std::uint64_t (&m)[4]) {
        const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5, 4,
                                              7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
        const __m512i bits[4] = {_mm512_set1_epi32(unit_role_bits), _mm512_set1_epi32(unit_kept_bit),
                                 _mm512_set1_epi32(unit_kana_bit), _mm512_set1_epi32(unit_high_bit)};
        m[0] = m[1] = m[2] = m[3] = 0;
        constexpr std::size_t lanes = 16;
        constexpr __mmask16 all = 0xFFFF;
        for (std::size_t q = 0; q < detail::unit_word_bits / lanes; ++q) {
            __m256i units = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + q * lanes * utf16_unit));
            if constexpr (order == ByteOrder::big) units = _mm256_shuffle_epi8(units, swap);
            // The masked forms, with every lane on: the plain ones start
            // from an undefined vector, which GCC 12 warns of.
            const __m512i index = _mm512_maskz_cvtepu16_epi32(all, units);
            const __m512i t = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), all, index, table, 1);
            for (std::size_t b = 0; b < 4; ++b)
                m[b] |= static_cast<std::uint64_t>(_mm512_test_epi32_mask(t, bits[b])) << q * lanes;
        }
    }
};

template <ByteOrder order>
void avx512_fill(const std::uint8_t* table, const unsigned char* p, std::size_t units, std::size_t words,
                 UnitTraitWords out) {
    detail::fill_unit_words<Avx512Word<order>>(table, p, units, words, out);
}

}  // namespace

extern const UnitMaskKernel avx512_unit_mask_kernel;
const UnitMaskKernel avx512_unit_mask_kernel{Isa::avx512,
                                             {avx512_fill<ByteOrder::little>, avx512_fill<ByteOrder::big>}};

}  // namespace kurvane::text
KURVANE_TARGET_END

#endif
