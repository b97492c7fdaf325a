// The masks of a range, for a scan that asks for the mask of the
// kernel_block bytes at each position it reaches: a kernel marks a window of
// them at once, so a scan that stops every few bytes pays for one call per
// window rather than one per stop.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>

#include "engine/scan/skip_kernel.h"

namespace kurvane::scan {

// Marks with a skip kernel: the members of a byte set.
struct MemberMarks {
    const SkipKernel& kernel;
    const ByteSet& set;
    void operator()(PaddedBytes part, std::uint64_t* masks) const {
        kernel.member_masks(set, part, masks);
    }
};

// The window over one range; `Marks` writes the masks of a part of it as a
// kernel's member_masks does.
template <class Marks>
class MaskWindow {
public:
    // Bound to one range; what Marks marks and the range's bytes must not
    // change while the window is used (a new piece in the same buffer needs
    // bind()).
    MaskWindow(Marks marks, PaddedBytes bytes) : marks_(marks), bytes_(bytes) {}

    void bind(PaddedBytes bytes) {
        bytes_ = bytes;
        start_ = SIZE_MAX;
    }
    std::size_t size() const { return bytes_.size(); }
    // Whether mask_at(pos) is answered without marking a new window.
    bool holds(std::size_t pos) const {
        return pos >= start_ && pos - start_ <= span_ - kernel_block;
    }

    // Bit k is set when byte pos + k of the range is marked; bytes at or
    // past the range's end read as not marked. Fastest for rising
    // positions a few bytes apart; any position up to size() is answered.
    // A new window marks `reach` bytes (whole blocks, at most a window's):
    // fewer for a scan that may not need the rest.
    [[gnu::always_inline]] std::uint64_t mask_at(std::size_t pos, std::size_t reach = window_bytes) {
        if (!holds(pos)) fill(pos, reach);
        const std::size_t offset = pos - start_;
        const std::size_t w = offset / kernel_block;
        const std::size_t shift = offset % kernel_block;
        // A shift by the full width would be undefined, and the word after
        // the last one of the window is never needed: a position that would
        // reach it starts a new window.
        return shift == 0 ? words_[w]
                          : words_[w] >> shift | words_[w + 1] << (kernel_block - shift);
    }

    static constexpr std::size_t window_bytes = 16 * kernel_block;

private:
    void fill(std::size_t pos, std::size_t reach) {
        assert(reach % kernel_block == 0 && reach >= kernel_block && reach <= window_bytes);
        const PaddedBytes part = bytes_.from(pos).first(reach);
        marks_(part, words_);
        // Past the range's end nothing is marked.
        std::fill(words_ + mask_words(part.size()), words_ + reach / kernel_block, 0);
        start_ = pos;
        span_ = reach;
    }

    static constexpr std::size_t window_words = mask_words(window_bytes);
    const Marks marks_;
    PaddedBytes bytes_;
    std::size_t start_ = SIZE_MAX;  // no window yet: every position refills
    std::size_t span_ = window_bytes;
    std::uint64_t words_[window_words];
};

// The bytes of a range that are in a byte set.
class SkipWindow : public MaskWindow<MemberMarks> {
public:
    SkipWindow(const SkipKernel& kernel, const ByteSet& set, PaddedBytes bytes)
        : MaskWindow({kernel, set}, bytes) {}
};

}  // namespace kurvane::scan
