// The UTF-8 kernel for AVX-512: the SSSE3 kernel's blocks, with a block of
// ASCII and katakana packed by one byte compress rather than four shuffles.
#include "engine/print/utf8_kernel.h"

#if defined(__x86_64__) || defined(_M_X64)

// GCC 12 starts some AVX-512 intrinsics' results from an undefined
// register, which its flow analysis then reports as read uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "target_region.h"

KURVANE_TARGET_BEGIN(KURVANE_AVX512_TARGET)
#include "engine/print/utf8_kernel_blocks.h"

namespace kurvane::detail {
namespace {

// Entry c of a block's sixteen, four bytes each, starts as four copies of
// input byte c: the permute's indexes.
alignas(64) constexpr auto entry_bytes = [] {
    std::array<unsigned char, 64> b{};
    for (std::size_t k = 0; k < b.size(); ++k) b[k] = static_cast<unsigned char>(k / 4);
    return b;
}();
// Bit 4c of a mask over the entries' bytes: byte 0 of entry c.
constexpr std::uint64_t entry_starts = 0x1111111111111111u;

struct Avx512Lookup : LoadLookup {
    // The UTF-8 of a block of ASCII and katakana (bit c of `kana` set where
    // byte c is katakana): each byte an entry of its UTF-8 bytes, packed by
    // one byte compress and stored with as many bytes as it packed, so the
    // last block stores nothing past its own room. A byte of another kind
    // packs to garbage.
    static void store_kana(__m128i block, unsigned kana, unsigned char* dst) {
        // Katakana take EF, then BD or BE, then the byte less 0x40 for the
        // upper half (U+FF61 on: EF BD A1-BF, then EF BE 80-9F).
        const auto upper = static_cast<unsigned>(_mm_cmpge_epu8_mask(block, _mm_set1_epi8(static_cast<char>(0xC0)))) & kana;
        const std::uint64_t kana_starts = _pdep_u64(kana, entry_starts);
        const std::uint64_t upper_starts = _pdep_u64(upper, entry_starts);
        __m512i e = _mm512_permutexvar_epi8(_mm512_load_si512(entry_bytes.data()), _mm512_castsi128_si512(block));
        e = _mm512_mask_mov_epi8(e, kana_starts * 3, _mm512_set1_epi32(0xBDEF));
        // +1 to the second byte and -0x40 to the third, in one add.
        e = _mm512_mask_add_epi8(e, upper_starts * 6, e, _mm512_set1_epi32(0xC00100));
        const std::uint64_t keep = entry_starts | kana_starts * 6;
        const __m512i packed = _mm512_maskz_compress_epi8(keep, e);
        _mm512_mask_storeu_epi8(dst, _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(std::popcount(keep))), packed);
    }
};
// What the store packs: 1 or 3 bytes for each of the block's 16, at most
// the block's room; in the last block the zeros past its live bytes pack
// to 1 byte each, within the kernel's overrun.
static_assert(text::utf8_per_cp932_byte * utf8_block <= sizeof(__m512i));
static_assert(utf8_block - 1 <= utf8_store_overrun);

std::size_t avx512_print(const Utf8Tables& t, const unsigned char* src, std::size_t n, unsigned char* dst) {
    return print_blocks<Avx512Lookup>(t, src, n, dst);
}

}  // namespace

extern const Utf8Kernel avx512_utf8_kernel;
const Utf8Kernel avx512_utf8_kernel{Isa::avx512, avx512_print};

}  // namespace kurvane::detail
KURVANE_TARGET_END

#endif
