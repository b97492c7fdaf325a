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

// The entry of pair C of the block's pair indexes, in the low lane of a
// vector: the load goes straight into it.
template <int C>
__m128i entry_of(const text::Utf8Entry* pair, __m128i index) {
    return _mm_cvtsi32_si128(static_cast<int>(pair[_mm_extract_epi16(index, C)]));
}

// Four entries joined into one vector, the first in the low lane.
inline __m128i join(__m128i e0, __m128i e1, __m128i e2, __m128i e3) {
    return _mm_unpacklo_epi64(_mm_unpacklo_epi32(e0, e1), _mm_unpacklo_epi32(e2, e3));
}

struct Ssse3Lookup {
    static EntryLanes entries(const text::Utf8Entry* pair, __m128i block) {
        const __m128i index = pair_indexes(block);
        // Without a gather the loads are scalar, but none waits for another.
        // Each goes into a vector of its own, joined by unpacks: entries
        // stored to memory and loaded back as vectors would wait for all
        // eight stores to land.
        return {join(entry_of<0>(pair, index), entry_of<1>(pair, index), entry_of<2>(pair, index),
                     entry_of<3>(pair, index)),
                join(entry_of<4>(pair, index), entry_of<5>(pair, index), entry_of<6>(pair, index),
                     entry_of<7>(pair, index))};
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
