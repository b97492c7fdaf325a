// The AVX2 membership test of a byte set held as nibble rows (see ByteSet):
// for files that include it inside their AVX2 region, so that it inlines
// into their kernels.
#pragma once

#include <immintrin.h>

namespace kurvane::scan::avx2 {

class NibbleSet {
public:
    // The rows for the values below 0x80 and from 0x80 on, 16 bytes each,
    // aligned to 16.
    NibbleSet(const unsigned char* low_rows, const unsigned char* high_rows)
        : low_rows_(rows(low_rows)), high_rows_(rows(high_rows)),
          // The bit of a high nibble h in a row: 1 << h % 8, in both lanes.
          row_bit_(_mm256_broadcastsi128_si256(
              _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128))),
          low_nibble_(_mm256_set1_epi8(0x0F)), top_bit_(_mm256_set1_epi8(-128)) {}

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

private:
    // vpshufb looks up within each 16-byte lane, so both lanes hold the table.
    static __m256i rows(const unsigned char* table) {
        return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(table)));
    }

    __m256i low_rows_;
    __m256i high_rows_;
    __m256i row_bit_;
    __m256i low_nibble_;
    __m256i top_bit_;
};

}  // namespace kurvane::scan::avx2
