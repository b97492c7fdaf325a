// The unit masks for AVX-512: 32 units at a time, each classed by its high
// byte first with a byte permute over the rows' traits. A unit of a row
// whose units are all alike takes the row's traits; one of an exact row
// held in registers takes them from a permute of its low byte; only the
// units of the other rows are looked up, sixteen to a gather.
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

KURVANE_TARGET_BEGIN(KURVANE_AVX512_TARGET)

namespace kurvane::text {
namespace {

// A lookup of 256 bytes by every byte of a vector: two permutes of 128
// entries each, chosen by the index's top bit.
class ByteTable {
public:
    explicit ByteTable(const std::uint8_t* entries) {
        for (std::size_t k = 0; k < 4; ++k) part_[k] = _mm512_loadu_si512(entries + 64 * k);
    }
    __m512i operator()(__m512i index) const {
        const __m512i low = _mm512_permutex2var_epi8(part_[0], index, part_[1]);
        const __m512i high = _mm512_permutex2var_epi8(part_[2], index, part_[3]);
        return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
    }

private:
    __m512i part_[4];
};

template <ByteOrder order>
class Avx512Word {
public:
    explicit Avx512Word(const UnitLookup& look)
        : table_(look.table), rows_(look.rows.row_traits),
          exact_{ByteTable(look.rows.exact_rows[0]), ByteTable(look.rows.exact_rows[1]),
                 ByteTable(look.rows.exact_rows[2])} {}
    static_assert(UnitRows::max_exact_rows == 3);

    void masks(const unsigned char* p, std::uint64_t (&m)[4]) const {
        constexpr std::size_t lanes = 32;
        static_assert(detail::unit_word_bits == 2 * lanes);
        // Written out rather than looped: GCC otherwise passes the mask
        // registers through memory and reloads them.
        const __m512i low = traits_of(p);
        const __m512i high = traits_of(p + lanes * utf16_unit);
        const auto word = [&](std::uint16_t bit) {
            const __m512i b = _mm512_set1_epi16(static_cast<short>(bit));
            return std::uint64_t{_mm512_test_epi16_mask(low, b)} | std::uint64_t{_mm512_test_epi16_mask(high, b)} << lanes;
        };
        m[0] = word(unit_role_bits);
        m[1] = word(unit_kept_bit);
        m[2] = word(unit_kana_bit);
        m[3] = word(unit_high_bit);
    }

private:
    // The traits of the 32 units at p, one to a 16-bit lane.
    __m512i traits_of(const unsigned char* p) const {
        const __m512i byte = _mm512_set1_epi16(0xFF);
        __m512i units = _mm512_loadu_si512(p);
        if constexpr (order == ByteOrder::big) {
            const __m512i swap = _mm512_set_epi8(
                14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1, 14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,
                14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1, 14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
            units = _mm512_shuffle_epi8(units, swap);
        }
        const __m512i low = _mm512_and_si512(units, byte);
        // Each unit's row class in its low byte; the high byte, from the
        // permute of a zero, is cleared.
        const __m512i row = _mm512_and_si512(rows_(_mm512_srli_epi16(units, 8)), byte);
        const auto in_row = [&](std::uint8_t value) { return _mm512_cmpeq_epi16_mask(row, _mm512_set1_epi16(value)); };
        __m512i traits = row;
        traits = _mm512_mask_mov_epi16(traits, in_row(UnitRows::exact_row + 0), exact_[0](low));
        traits = _mm512_mask_mov_epi16(traits, in_row(UnitRows::exact_row + 1), exact_[1](low));
        traits = _mm512_mask_mov_epi16(traits, in_row(UnitRows::exact_row + 2), exact_[2](low));
        const __mmask32 look = in_row(UnitRows::look_up);
        return look == 0 ? traits : looked_up(units, look, traits);
    }

    // traits with the units of `look` looked up in the table: the units at
    // even lanes by one gather, those at odd lanes by another, each in
    // its 32-bit lane (the masked form: the plain one starts from an
    // undefined vector, which GCC 12 warns of).
    __m512i looked_up(__m512i units, __mmask32 look, __m512i traits) const {
        const __m512i unit = _mm512_set1_epi32(0xFFFF);
        const auto even = static_cast<__mmask16>(_pext_u32(look, 0x55555555u));
        const auto odd = static_cast<__mmask16>(_pext_u32(look, 0xAAAAAAAAu));
        __m512i got_even = _mm512_setzero_si512(), got_odd = _mm512_setzero_si512();
        if (even != 0)
            got_even = _mm512_mask_i32gather_epi32(got_even, even, _mm512_and_si512(units, unit), table_, 1);
        if (odd != 0) got_odd = _mm512_mask_i32gather_epi32(got_odd, odd, _mm512_maskz_srli_epi32(0xFFFF, units, 16), table_, 1);
        const __m512i got = _mm512_or_si512(_mm512_and_si512(got_even, _mm512_set1_epi32(0xFF)),
                                            _mm512_maskz_slli_epi32(0xFFFF, got_odd, 16));
        return _mm512_mask_mov_epi16(traits, look, got);
    }

    const std::uint8_t* table_;
    const ByteTable rows_;
    const ByteTable exact_[UnitRows::max_exact_rows];
};

template <ByteOrder order>
void avx512_fill(const UnitLookup& look, const unsigned char* p, std::size_t units, std::size_t words,
                 UnitTraitWords out) {
    detail::fill_unit_words<Avx512Word<order>>(look, p, units, words, out);
}

}  // namespace

extern const UnitMaskKernel avx512_unit_mask_kernel;
const UnitMaskKernel avx512_unit_mask_kernel{Isa::avx512,
                                             {avx512_fill<ByteOrder::little>, avx512_fill<ByteOrder::big>}};

}  // namespace kurvane::text
KURVANE_TARGET_END

#endif
