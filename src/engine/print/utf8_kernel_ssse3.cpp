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

std::size_t ssse3_print(const Utf8Tables& t, const unsigned char* src, std::size_t n, unsigned char* dst) {
    return print_blocks<LoadLookup>(t, src, n, dst);
}

}  // namespace

extern const Utf8Kernel ssse3_utf8_kernel;
const Utf8Kernel ssse3_utf8_kernel{Isa::ssse3, ssse3_print};

}  // namespace kurvane::detail
KURVANE_TARGET_END

#endif
