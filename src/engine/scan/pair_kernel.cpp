// The scalar pair kernel and the choice of kernel at run time.
#include "engine/scan/pair_kernel.h"

#include <algorithm>

#include "engine/scan/skip_kernel_blocks.h"

namespace kurvane::scan {
namespace {

// One in_ranges() per pair: the plain definition the vector kernel is
// tested against.
void scalar_double_masks(const PairRanges& ranges, PaddedBytes positions, std::uint64_t* masks) {
    const unsigned char* const b = positions.data();
    const std::size_t n = positions.size();
    for (std::size_t w = 0; w < mask_words(n); ++w) {
        std::uint64_t m = 0;
        const std::size_t end = std::min(n - w * kernel_block, kernel_block);
        for (std::size_t k = 0; k < end; ++k) {
            const unsigned char* p = b + w * kernel_block + k;
            m |= std::uint64_t{ranges.in_ranges(p[0], p[1])} << k;
        }
        masks[w] = m;
    }
}

}  // namespace

const PairKernel scalar_pair_kernel{Isa::scalar, scalar_double_masks};

const PairKernel* pair_kernel_for(Isa isa) {
    if (isa == Isa::scalar) return &scalar_pair_kernel;
#ifdef KURVANE_SCAN_X86
    // The same check that admits the AVX2 skip kernel.
    if (isa == Isa::avx2 && skip_kernel_for(Isa::avx2) != nullptr) return &avx2_pair_kernel;
#endif
    return nullptr;
}

const PairKernel& pair_kernel() {
    static const PairKernel& best = [] () -> const PairKernel& {
        if (const PairKernel* k = pair_kernel_for(Isa::avx2)) return *k;
        return scalar_pair_kernel;
    }();
    return best;
}

}  // namespace kurvane::scan
