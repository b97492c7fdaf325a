// The unit masks for AVX2: eight units' traits at a time with a gather.
#include "text/utf16_masks.h"

#if defined(__x86_64__) || defined(_M_X64)

// Everything the kernel includes is included before its region, so only
// the kernel is built for AVX2.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "target_region.h"
#include "text/utf16_masks_blocks.h"

KURVANE_TARGET_BEGIN("avx2")

namespace kurvane::text {
namespace {

template <ByteOrder order>
class Avx2Word {
public:
    explicit Avx2Word(const UnitLookup& look) : table_(look.table) {}
    void masks(const unsigned char* p, std::uint64_t (&m)[4]) const {
        const __m128i swap = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
        const __m256i role = _mm256_set1_epi32(unit_role_bits);
        m[0] = m[1] = m[2] = m[3] = 0;
        constexpr std::size_t lanes = 8;
        for (std::size_t q = 0; q < detail::unit_word_bits / lanes; ++q) {
            __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + q * lanes * utf16_unit));
            if constexpr (order == ByteOrder::big) units = _mm_shuffle_epi8(units, swap);
            const __m256i t = _mm256_i32gather_epi32(reinterpret_cast<const int*>(table_), _mm256_cvtepu16_epi32(units), 1);
            // A shift puts the trait bit at the top of its lane, which the
            // sign mask gathers.
            const auto top = [&](__m256i x) {
                return static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(x))))
                       << q * lanes;
            };
            const __m256i no_role = _mm256_cmpeq_epi32(_mm256_and_si256(t, role), _mm256_setzero_si256());
            m[0] |= ~top(no_role) & std::uint64_t{0xFF} << q * lanes;
            m[1] |= top(_mm256_slli_epi32(t, 31));
            m[2] |= top(_mm256_slli_epi32(t, 29));
            m[3] |= top(_mm256_slli_epi32(t, 28));
        }
    }

private:
    const std::uint8_t* table_;
};
static_assert(unit_kept_bit == 1 << 0 && unit_kana_bit == 1 << 2 && unit_high_bit == 1 << 3,
              "the shifts above take each trait bit to the top of its lane");

template <ByteOrder order>
void avx2_fill(const UnitLookup& look, const unsigned char* p, std::size_t units, std::size_t words,
               UnitTraitWords out) {
    detail::fill_unit_words<Avx2Word<order>>(look, p, units, words, out);
}

}  // namespace

extern const UnitMaskKernel avx2_unit_mask_kernel;
const UnitMaskKernel avx2_unit_mask_kernel{Isa::avx2, {avx2_fill<ByteOrder::little>, avx2_fill<ByteOrder::big>}};

}  // namespace kurvane::text
KURVANE_TARGET_END

#endif
