// The scalar pair kernel and the choice of kernel at run time.
#include "engine/scan/pair_kernel.h"

#include <algorithm>

#include "engine/scan/skip_kernel_blocks.h"

namespace kurvane::scan {
namespace {

// One in_ranges() per pair: the plain definition the vector kernel is
// tested against.
void scalar_double_masks(const PairRanges& ranges, PaddedBytes positions, std::uint64_t* masks) {
    blocks::scalar_masks(positions, masks, [&](const unsigned char* p) { return ranges.in_ranges(p[0], p[1]); });
}

void scalar_unit_masks(const PairRanges& ranges, PaddedBytes positions, std::uint64_t* masks) {
    for (std::size_t w = 0; w < mask_words(positions.size()); ++w) {
        const PaddedBytes block = positions.from(w * kernel_block).first(kernel_block);
        scalar_double_masks(ranges, block, masks + 2 * w);
        blocks::scalar_masks(block, masks + 2 * w + 1, [&](const unsigned char* p) {
            return ranges.looked_up[p[0]] != 0 && !ranges.in_ranges(p[0], p[1]);
        });
    }
}

}  // namespace

const PairKernel scalar_pair_kernel{Isa::scalar, scalar_double_masks, scalar_unit_masks};

const PairKernel* pair_kernel_for(Isa isa) {
    if (!isa_supported(isa)) return nullptr;
    if (isa == Isa::scalar) return &scalar_pair_kernel;
#ifdef KURVANE_SCAN_X86
    if (isa == Isa::avx2) return &avx2_pair_kernel;
    if (isa == Isa::avx512) return &avx512_pair_kernel;
#endif
    return nullptr;
}

const PairKernel& pair_kernel() {
    static const PairKernel& best = best_kernel(pair_kernel_for, scalar_pair_kernel);
    return best;
}

}  // namespace kurvane::scan
