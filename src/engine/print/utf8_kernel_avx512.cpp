// The UTF-8 kernel for AVX-512: the SSSE3 kernel's blocks, with a block of
// ASCII and katakana packed by one byte compress rather than four shuffles,
// and a block where double-byte characters give way to single bytes
// converted whole, each byte's entry put in its place and packed by one
// compress.
#include "engine/print/utf8_kernel.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "quiet_immintrin.h"
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
// Word c of a block holds lead << 8 | trail for the pair at byte c, as
// byte permute indexes (the pair at byte 15 reads no byte of the block).
alignas(32) constexpr auto pair_index_bytes = [] {
    std::array<unsigned char, 32> b{};
    for (std::size_t c = 0; c < utf8_block; ++c) {
        b[2 * c] = static_cast<unsigned char>(c + 1);
        b[2 * c + 1] = static_cast<unsigned char>(c);
    }
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

    // A whole block of double-byte characters, ASCII and katakana in any
    // mix, without a branch on where one kind gives way to another. Which
    // bytes start characters follows from the bytes that may lead a pair
    // (0x81-0x9F, 0xE0-0xFC) alone: the byte after any other byte starts
    // a character, so in a row of such bytes the characters start at every
    // second one from the row's first, and the byte behind a row of odd
    // length is the last one's trail. That holds while every pair so read
    // is a character and every other byte that starts one is ASCII or
    // katakana; else nothing is done. A pair whose lead is the block's last
    // byte is left to the next block.
    static bool mixed(const Utf8Tables& t, __m128i block, std::size_t& k, unsigned char*& dst) {
        const auto leads_at = [](__m128i v, int first, int count) {
            return static_cast<unsigned>(_mm_cmplt_epu8_mask(_mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(first))),
                                                             _mm_set1_epi8(static_cast<char>(count))));
        };
        // The two ranges of lead bytes made one by flipping bit 5, as is_lead does.
        const unsigned may_lead = leads_at(_mm_xor_si128(block, _mm_set1_epi8(0x20)), 0xA1, 0x3C);
        constexpr unsigned even = 0x5555;
        const unsigned row_starts = may_lead & ~(may_lead << 1);
        // Adding its first bit to a row that starts at an even byte clears
        // the row (the carry stops behind it): the bits the sum lost are
        // those rows.
        const unsigned even_rows = may_lead & ~(may_lead + (row_starts & even));
        const unsigned leads = (even_rows & even) | (may_lead & ~even_rows & ~even);
        const unsigned cut = leads >> (utf8_block - 1);  // the last byte leads
        const unsigned taken = 0xFFFFu >> cut;
        const unsigned pair_leads = leads & taken;
        const unsigned singles = ~(leads | leads << 1) & taken;
        const unsigned kana = leads_at(block, 0xA1, 0x3F);
        const unsigned ascii = leads_at(block, 0x00, 0x80);
        if ((singles & ~(kana | ascii)) != 0) return false;

        // The pairs' indexes packed to the front, their entries loaded
        // eight at a time, and each put back in its lead's place.
        const __m256i all_pairs = _mm256_permutexvar_epi8(
            _mm256_load_si256(reinterpret_cast<const __m256i*>(pair_index_bytes.data())), _mm256_castsi128_si256(block));
        const __m256i indexes = _mm256_maskz_compress_epi16(static_cast<__mmask16>(pair_leads), all_pairs);
        const EntryLanes found = LoadLookup::entries_at(t.pair, _mm256_castsi256_si128(indexes));
        const __m256i pair_entries = _mm256_inserti128_si256(_mm256_castsi128_si256(found.low), found.high, 1);
        const unsigned pairs = static_cast<unsigned>(std::popcount(pair_leads));
        const auto characters = static_cast<unsigned>(_mm256_test_epi32_mask(pair_entries, pair_entries));
        if ((characters | ~0u << pairs) != ~0u) return false;
        __m512i e = _mm512_maskz_expand_epi32(static_cast<__mmask16>(pair_leads), _mm512_castsi256_si512(pair_entries));
        const __m512i counts = _mm512_shuffle_epi8(e, _mm512_set4_epi32(0x0F0F0F0F, 0x0B0B0B0B, 0x07070707, 0x03030303));
        const std::uint64_t pair_bytes = _mm512_cmplt_epu8_mask(_mm512_set1_epi32(0x03020100), counts);

        // The single bytes as store_kana makes them, in their own places.
        const __m512i copies = _mm512_permutexvar_epi8(_mm512_load_si512(entry_bytes.data()), _mm512_castsi128_si512(block));
        const std::uint64_t single_starts = _pdep_u64(singles, entry_starts);
        const std::uint64_t kana_starts = _pdep_u64(singles & kana, entry_starts);
        const unsigned upper = static_cast<unsigned>(_mm_cmpge_epu8_mask(block, _mm_set1_epi8(static_cast<char>(0xC0))));
        const std::uint64_t upper_starts = _pdep_u64(singles & kana & upper, entry_starts);
        e = _mm512_mask_mov_epi8(e, single_starts | kana_starts << 2, copies);
        e = _mm512_mask_mov_epi8(e, kana_starts * 3, _mm512_set1_epi32(0xBDEF));
        e = _mm512_mask_add_epi8(e, upper_starts * 6, e, _mm512_set1_epi32(0xC00100));
        const std::uint64_t keep = pair_bytes | single_starts | kana_starts * 6;
        const __m512i packed = _mm512_maskz_compress_epi8(keep, e);
        const auto size = static_cast<unsigned>(std::popcount(keep));
        _mm512_mask_storeu_epi8(dst, _bzhi_u64(~std::uint64_t{0}, size), packed);
        dst += size;
        k += utf8_block - cut;
        return true;
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
