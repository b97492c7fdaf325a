// The scalar skip kernels, the nibble tables of a byte set and the choice
// of kernel at run time.
#include "engine/scan/skip_kernel.h"

#include "engine/scan/skip_kernel_blocks.h"

namespace kurvane::scan {

ByteSet::ByteSet(const std::array<unsigned char, 256>& membership)
    : member{}, low_rows{}, high_rows{}, bits{} {
    for (unsigned v = 0; v < 256; ++v) {
        if (membership[v] == 0) continue;
        member[v] = 1;
        auto& rows = v < 0x80 ? low_rows : high_rows;
        rows[v & 0x0F] = static_cast<unsigned char>(rows[v & 0x0F] | 1u << (v >> 4 & 7));
        bits[v / 8] = static_cast<unsigned char>(bits[v / 8] | 1u << v % 8);
    }
}

namespace {

// One table load per byte: the plain definition the vector kernels are
// tested against.
std::size_t scalar_find_member(const ByteSet& set, PaddedBytes bytes) {
    const unsigned char* const b = bytes.data();
    for (std::size_t k = 0; k < bytes.size(); ++k)
        if (set.member[b[k]] != 0) return k;
    return bytes.size();
}

void scalar_member_masks(const ByteSet& set, PaddedBytes bytes, std::uint64_t* masks) {
    blocks::scalar_masks(bytes, masks, [&](const unsigned char* p) { return set.member[*p] != 0; });
}

}  // namespace

const SkipKernel scalar_skip_kernel{Isa::scalar, scalar_find_member, scalar_member_masks};

const SkipKernel* skip_kernel_for(Isa isa) {
    if (!isa_supported(isa)) return nullptr;
    switch (isa) {
    case Isa::scalar: return &scalar_skip_kernel;
#ifdef KURVANE_SCAN_X86
    case Isa::ssse3: return &ssse3_skip_kernel;
    case Isa::avx2: return &avx2_skip_kernel;
    case Isa::avx512: return &avx512_skip_kernel;
#endif
    default: break;
    }
    return nullptr;
}

const SkipKernel& skip_kernel() {
    static const SkipKernel& best = best_kernel(skip_kernel_for, scalar_skip_kernel);
    return best;
}

}  // namespace kurvane::scan
