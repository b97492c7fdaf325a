// The skip kernels for SSSE3: four 16-byte lookups per block.
#include "engine/scan/skip_kernel.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "target_region.h"

KURVANE_TARGET_BEGIN("ssse3")
#include "engine/scan/skip_kernel_blocks.h"

namespace kurvane::scan {
namespace {

class Ssse3Block {
public:
    explicit Ssse3Block(const ByteSet& set)
        : low_rows_(load(set.low_rows.data())), high_rows_(load(set.high_rows.data())),
          // The bit of a high nibble h in a row: 1 << h % 8.
          row_bit_(_mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128)),
          low_nibble_(_mm_set1_epi8(0x0F)), top_bit_(_mm_set1_epi8(-128)) {}

    std::uint64_t mask(const unsigned char* p) const {
        std::uint64_t m = 0;
        for (unsigned k = 0; k < 4; ++k)
            m |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(members(load(p + 16 * k))))}
                 << 16 * k;
        return m;
    }

private:
    static __m128i load(const unsigned char* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }

    // 0xFF for each byte of x in the set. pshufb indexes with the low nibble
    // and yields 0 where the index's top bit is set, so each row lookup
    // answers for its half of the values and 0 for the other.
    __m128i members(__m128i x) const {
        const __m128i row = _mm_or_si128(_mm_shuffle_epi8(low_rows_, x),
                                         _mm_shuffle_epi8(high_rows_, _mm_xor_si128(x, top_bit_)));
        const __m128i high_nibble = _mm_and_si128(_mm_srli_epi16(x, 4), low_nibble_);
        const __m128i bit = _mm_shuffle_epi8(row_bit_, high_nibble);
        return _mm_cmpeq_epi8(_mm_and_si128(row, bit), bit);
    }

    __m128i low_rows_;
    __m128i high_rows_;
    __m128i row_bit_;
    __m128i low_nibble_;
    __m128i top_bit_;
};

std::size_t ssse3_find_member(const ByteSet& set, PaddedBytes bytes) {
    return blocks::find_member<Ssse3Block>(set, bytes);
}

void ssse3_member_masks(const ByteSet& set, PaddedBytes bytes, std::uint64_t* masks) {
    blocks::member_masks<Ssse3Block>(set, bytes, masks);
}

}  // namespace

const SkipKernel ssse3_skip_kernel{Isa::ssse3, ssse3_find_member, ssse3_member_masks};

}  // namespace kurvane::scan
KURVANE_TARGET_END

#endif
