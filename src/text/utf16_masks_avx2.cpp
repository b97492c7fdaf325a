// The unit masks for AVX2: eight units' traits at a time with a gather,
// 32 of them packed to bytes for each trait's mask.
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
        m[0] = m[1] = m[2] = m[3] = 0;
        constexpr std::size_t half = 32;  // units whose traits one register holds as bytes
        for (std::size_t h = 0; h < detail::unit_word_bits / half; ++h) {
            const __m256i b = traits(p + h * half * utf16_unit);
            // A shift puts the trait bit at the top of its byte, which the
            // byte mask gathers.
            const auto top = [&](__m256i x) {
                return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(x))) << h * half;
            };
            const __m256i no_role = _mm256_cmpeq_epi8(_mm256_and_si256(b, _mm256_set1_epi8(unit_role_bits)),
                                                      _mm256_setzero_si256());
            m[0] |= ~top(no_role) & std::uint64_t{0xFFFFFFFF} << h * half;
            m[1] |= top(_mm256_slli_epi16(b, 7));
            m[2] |= top(_mm256_slli_epi16(b, 5));
            m[3] |= top(_mm256_slli_epi16(b, 4));
        }
    }

private:
    // The traits of the 32 units at p, a byte each in unit order: four
    // gathers of eight, packed to bytes.
    __m256i traits(const unsigned char* p) const {
        const __m128i swap = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
        constexpr std::size_t lanes = 8;
        __m256i t[4];
        for (std::size_t q = 0; q < 4; ++q) {
            __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + q * lanes * utf16_unit));
            if constexpr (order == ByteOrder::big) units = _mm_shuffle_epi8(units, swap);
            // A gather reads four bytes at each unit: its traits are the low one.
            t[q] = _mm256_and_si256(
                _mm256_i32gather_epi32(reinterpret_cast<const int*>(table_), _mm256_cvtepu16_epi32(units), 1),
                _mm256_set1_epi32(0xFF));
        }
        // The packs work within 128-bit lanes: the dwords come out as units
        // 0-3, 8-11, 16-19, 24-27, 4-7, 12-15, 20-23, 28-31, put back in order.
        const __m256i packed = _mm256_packs_epi16(_mm256_packs_epi32(t[0], t[1]), _mm256_packs_epi32(t[2], t[3]));
        return _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    }

    const std::uint8_t* table_;
};
static_assert(unit_kept_bit == 1 << 0 && unit_kana_bit == 1 << 2 && unit_high_bit == 1 << 3,
              "the shifts above take each trait bit to the top of its byte");
static_assert(detail::unit_word_bits % 32 == 0);

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
