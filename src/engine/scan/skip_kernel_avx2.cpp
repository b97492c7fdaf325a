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
#include "engine/scan/skip_kernel_avx2_nibbles.h"
#include "engine/scan/skip_kernel_blocks.h"

namespace kurvane::scan {
namespace {

class Avx2Block {
public:
    explicit Avx2Block(const ByteSet& set) : set_(set.low_rows.data(), set.high_rows.data()) {}

    std::uint64_t mask(const unsigned char* p) const {
        const auto low = static_cast<std::uint32_t>(_mm256_movemask_epi8(set_.members(load(p))));
        const auto high = static_cast<std::uint32_t>(_mm256_movemask_epi8(set_.members(load(p + 32))));
        return std::uint64_t{high} << 32 | low;
    }

private:
    static __m256i load(const unsigned char* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }

    avx2::NibbleSet set_;
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
