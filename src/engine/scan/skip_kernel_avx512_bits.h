// The AVX-512 membership test of a byte set held as a 256-bit bitmap (see
// ByteSet::bits): for files that include it inside their AVX-512 region, so
// that it inlines into their kernels.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace kurvane::scan::avx512 {

class BitSet {
public:
    // The 32 bytes of the bitmap, bit v % 8 of byte v / 8 for the value v.
    explicit BitSet(const unsigned char* bits)
        // vpermb indexes 64 bytes by six bits; the bitmap's 32 bytes are in
        // both halves, so the index's bit 5 (see members) does not matter.
        : bits_(_mm512_broadcast_i64x4(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bits)))),
          // Entry k: the bit of a value v with v % 64 == k in its byte.
          bit_of_(_mm512_set1_epi64(0x8040201008040201)) {}

    // Bit k is set when byte k of x is in the set. A 16-bit shift by three
    // leaves v / 8 in the low five bits of each byte; the bit above them
    // comes from the next byte and picks a half of the table that is the
    // same. Each value's low six bits pick its bit's mask.
    std::uint64_t members(__m512i x) const {
        const __m512i byte = _mm512_permutexvar_epi8(_mm512_srli_epi16(x, 3), bits_);
        return _mm512_test_epi8_mask(byte, _mm512_permutexvar_epi8(x, bit_of_));
    }

private:
    __m512i bits_;
    __m512i bit_of_;
};

}  // namespace kurvane::scan::avx512
