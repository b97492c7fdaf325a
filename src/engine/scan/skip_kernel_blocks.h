// The loops every vector skip kernel shares, over a Block type that holds
// one instruction set's lookup tables in registers and turns the
// kernel_block bytes at a pointer into a membership mask.
//
// A file that instantiates them includes this header inside its
// target-specific region, so the loops are compiled for that instruction
// set and the Block's calls inline into them. Everything the header needs
// from the standard library is included before such a region, so no
// standard inline function is compiled for an instruction set the rest of
// the program may not have.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "engine/scan/skip_kernel.h"

namespace kurvane::scan::blocks {

// The plain definition of a kernel's masks: bit k % 64 of masks[k / 64] is
// is_member(b + k) for each position k of `bytes`.
template <class IsMember>
void scalar_masks(PaddedBytes bytes, std::uint64_t* masks, IsMember is_member) {
    const unsigned char* const b = bytes.data();
    const std::size_t n = bytes.size();
    for (std::size_t w = 0; w < mask_words(n); ++w) {
        std::uint64_t m = 0;
        const std::size_t end = std::min(n - w * kernel_block, kernel_block);
        for (std::size_t k = 0; k < end; ++k)
            m |= std::uint64_t{is_member(b + w * kernel_block + k)} << k;
        masks[w] = m;
    }
}

template <class Block>
std::size_t find_member(const ByteSet& set, PaddedBytes bytes) {
    const Block block(set);
    const unsigned char* const b = bytes.data();
    const std::size_t n = bytes.size();
    for (std::size_t k = 0; k < n; k += kernel_block) {
        // Members in the padding may be set in the last block's mask; the
        // lowest bit is past the range only when the range has none left.
        if (const std::uint64_t m = block.mask(b + k); m != 0)
            return std::min(n, k + static_cast<std::size_t>(std::countr_zero(m)));
    }
    return n;
}

template <class Block>
void member_masks(const ByteSet& set, PaddedBytes bytes, std::uint64_t* masks) {
    const Block block(set);
    const unsigned char* const b = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t k = 0;
    for (; k + kernel_block <= n; k += kernel_block) *masks++ = block.mask(b + k);
    if (const std::size_t tail = n - k; tail != 0)
        *masks = block.mask(b + k) & ((std::uint64_t{1} << tail) - 1);
}

}  // namespace kurvane::scan::blocks

namespace kurvane::scan {

// The kernels of each instruction set, defined in their own files.
struct PairKernel;
extern const SkipKernel scalar_skip_kernel;
extern const PairKernel scalar_pair_kernel;
#if defined(__x86_64__) || defined(_M_X64)
#define KURVANE_SCAN_X86 1
extern const SkipKernel ssse3_skip_kernel;
extern const SkipKernel avx2_skip_kernel;
extern const PairKernel avx2_pair_kernel;
extern const SkipKernel avx512_skip_kernel;
extern const PairKernel avx512_pair_kernel;
#endif

}  // namespace kurvane::scan
