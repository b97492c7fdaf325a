// The skip kernels for AVX-512: one 64-byte bitmap lookup per block, its
// answer straight in a mask register.
#include "engine/scan/skip_kernel.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "quiet_immintrin.h"
#include "target_region.h"

KURVANE_TARGET_BEGIN(KURVANE_AVX512_TARGET)
#include "engine/scan/skip_kernel_avx512_bits.h"
#include "engine/scan/skip_kernel_blocks.h"

namespace kurvane::scan {
namespace {

class Avx512Block {
public:
    explicit Avx512Block(const ByteSet& set) : set_(set.bits.data()) {}

    std::uint64_t mask(const unsigned char* p) const { return set_.members(_mm512_loadu_si512(p)); }

private:
    avx512::BitSet set_;
};

std::size_t avx512_find_member(const ByteSet& set, PaddedBytes bytes) {
    return blocks::find_member<Avx512Block>(set, bytes);
}

void avx512_member_masks(const ByteSet& set, PaddedBytes bytes, std::uint64_t* masks) {
    blocks::member_masks<Avx512Block>(set, bytes, masks);
}

}  // namespace

const SkipKernel avx512_skip_kernel{Isa::avx512, avx512_find_member, avx512_member_masks};

}  // namespace kurvane::scan
KURVANE_TARGET_END

#endif
