// The loop every vector skip shares, over a Block type that holds one
// instruction set's range tests in registers and turns the Block::bytes
// bytes at a pointer into a mask with a bit at the first byte of each
// member. A file includes this inside the region compiled for its
// instruction set, so the Block's calls inline into the loop. Everything
// else the loop calls is included before that region (text_skip.h and the
// standard headers), so no inline function shared with the rest of the
// program is compiled for an instruction set it may lack; each Block has
// internal linkage, so the loop's instantiations do too.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "text/text_skip.h"

namespace kurvane::text {

struct SkipKernels {
    template <class Block>
    static std::size_t vector_next(const TextSkip& s, const unsigned char* p, std::size_t n, std::size_t i) {
        constexpr SkipUnit unit = Block::unit;
        constexpr std::size_t w = skip_unit_bytes(unit);
        static_assert(Block::bytes % w == 0, "a block holds whole units");
        if (i >= n) return i;
        if (s.range_count_ == 0) return i + (n - i) / w * w;
        const Block block(s.ranges_);
        using Mask = decltype(block.hits(p));
        static_assert(Block::bytes <= 8 * sizeof(Mask), "one bit of the mask per byte of a block");
        // A block is loaded only where Block::bytes of the range are left.
        static_assert(skip_overread == 0);
        for (; n - i >= Block::bytes; i += Block::bytes) {
            Mask m = block.hits(p + i);
            // Merged ranges also cover what lies between them: each hit is
            // checked until one is a member.
            if (!s.exact_) {
                while (m != 0 && !s.member(detail::skip_value_at<unit>(p + i + static_cast<std::size_t>(std::countr_zero(m)))))
                    m &= m - 1;
            }
            if (m != 0) return i + static_cast<std::size_t>(std::countr_zero(m));
        }
        return detail::scalar_skip_next<unit>(s, p, n, i);
    }
};

}  // namespace kurvane::text
