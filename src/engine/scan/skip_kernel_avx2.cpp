// The skip kernels for AVX2: two 32-byte lookups per block.
#include "engine/scan/skip_kernel.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "target_region.h"

KURVANE_TARGET_BEGIN("avx2")
#include "engine/scan/skip_kernel_blocks.h"

namespace kurvane::scan {
namespace {

class Avx2Block {
public:
    explicit Avx2Block(const ByteSet& set)
        : low_rows_(rows(set.low_rows.data())), high_rows_(rows(set.high_rows.data())),
          // The bit of a high nibble h in a row: 1 << h % 8, in both lanes.
          row_bit_(_mm256_broadcastsi128_si256(
              _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128))),
          low_nibble_(_mm256_set1_epi8(0x0F)), top_bit_(_mm256_set1_epi8(-128)) {}

    std::uint64_t mask(const unsigned char* p) const {
        const auto low = static_cast<std::uint32_t>(_mm256_movemask_epi8(members(load(p))));
        const auto high = static_cast<std::uint32_t>(_mm256_movemask_epi8(members(load(p + 32))));
        return std::uint64_t{high} << 32 | low;
    }

private:
    // vpshufb looks up within each 16-byte lane, so both lanes hold the table.
    static __m256i rows(const unsigned char* table) {
        return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(table)));
    }
    static __m256i load(const unsigned char* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }

    // 0xFF for each byte of x in the set. vpshufb indexes with the low
    // nibble and yields 0 where the index's top bit is set, so each row
    // lookup answers for its half of the values and 0 for the other.
    __m256i members(__m256i x) const {
        const __m256i row = _mm256_or_si256(
            _mm256_shuffle_epi8(low_rows_, x),
            _mm256_shuffle_epi8(high_rows_, _mm256_xor_si256(x, top_bit_)));
        const __m256i high_nibble = _mm256_and_si256(_mm256_srli_epi16(x, 4), low_nibble_);
        const __m256i bit = _mm256_shuffle_epi8(row_bit_, high_nibble);
        return _mm256_cmpeq_epi8(_mm256_and_si256(row, bit), bit);
    }

    __m256i low_rows_;
    __m256i high_rows_;
    __m256i row_bit_;
    __m256i low_nibble_;
    __m256i top_bit_;
};

std::size_t avx2_find_member(const ByteSet& set, PaddedBytes bytes) {
    return blocks::find_member<Avx2Block>(set, bytes);
}

void avx2_member_masks(const ByteSet& set, PaddedBytes bytes, std::uint64_t* masks) {
    blocks::member_masks<Avx2Block>(set, bytes, masks);
}

}  // namespace

const SkipKernel avx2_skip_kernel{Isa::avx2, avx2_find_member, avx2_member_masks};

}  // namespace kurvane::scan
KURVANE_TARGET_END

#endif
