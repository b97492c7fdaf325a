// The UTF-8 kernel for SSSE3: eight table loads per block of pairs, their
// entries packed by byte shuffles.
#include "engine/print/utf8_kernel.h"

#if defined(__x86_64__) || defined(_M_X64)

// Everything the kernel includes is included before its region, so only
// the kernel's own functions are compiled for SSSE3.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "target_region.h"

KURVANE_TARGET_BEGIN("ssse3")
#include "engine/print/utf8_kernel_blocks.h"

namespace kurvane::detail {
namespace {

struct Ssse3Lookup {
    static EntryLanes entries(const text::Utf8Entry* pair, __m128i block) {
        const __m128i index = pair_indexes(block);
        alignas(16) text::Utf8Entry e[8];
        // Without a gather the loads are scalar, but none waits for another.
        e[0] = pair[_mm_extract_epi16(index, 0)];
        e[1] = pair[_mm_extract_epi16(index, 1)];
        e[2] = pair[_mm_extract_epi16(index, 2)];
        e[3] = pair[_mm_extract_epi16(index, 3)];
        e[4] = pair[_mm_extract_epi16(index, 4)];
        e[5] = pair[_mm_extract_epi16(index, 5)];
        e[6] = pair[_mm_extract_epi16(index, 6)];
        e[7] = pair[_mm_extract_epi16(index, 7)];
        return {_mm_load_si128(reinterpret_cast<const __m128i*>(e)),
                _mm_load_si128(reinterpret_cast<const __m128i*>(e + 4))};
    }
};

std::size_t ssse3_print(const Utf8Tables& t, const unsigned char* src, std::size_t n, unsigned char* dst) {
    return print_blocks<Ssse3Lookup>(t, src, n, dst);
}

}  // namespace

extern const Utf8Kernel ssse3_utf8_kernel;
const Utf8Kernel ssse3_utf8_kernel{Isa::ssse3, ssse3_print};

}  // namespace kurvane::detail
KURVANE_TARGET_END

#endif
