// The masks of a range, for a scan that asks for the mask of the
// kernel_block bytes at each position it reaches: a kernel marks a window of
// them at once, so a scan that stops every few bytes pays for one call per
// window rather than one per stop.
#pragma once

#include <algorithm>
#include <array>
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

// How many masks a Marks writes per block: `planes` where it says, else 1.
template <class Marks>
constexpr std::size_t planes_of() {
    if constexpr (requires { Marks::planes; }) return Marks::planes;
    else return 1;
}

// The window over one range; `Marks` writes the masks of a part of it as a
// kernel's member_masks does, or, with several planes, that many words per
// block one after the other.
template <class Marks>
class MaskWindow {
public:
    static constexpr std::size_t planes = planes_of<Marks>();
    static constexpr std::size_t window_bytes = 16 * kernel_block;

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

    // Bit k of plane p is set when byte pos + k of the range is marked in
    // it; bytes at or past the range's end read as not marked. Fastest for
    // rising positions a few bytes apart; any position up to size() is
    // answered. A new window marks `reach` bytes (whole blocks, at most a
    // window's): fewer for a scan that may not need the rest.
    [[gnu::always_inline]] std::array<std::uint64_t, planes> masks_at(std::size_t pos,
                                                                      std::size_t reach = window_bytes) {
        assert(pos <= size());
        if (!holds(pos)) fill(pos, reach);
        const std::size_t offset = pos - start_;
        const std::size_t w = offset / kernel_block * planes;
        const std::size_t shift = offset % kernel_block;
        std::array<std::uint64_t, planes> m;
        // A shift by the full width would be undefined, and the word after
        // the last one of the window is never needed: a position that would
        // reach it starts a new window.
        for (std::size_t p = 0; p < planes; ++p)
            m[p] = shift == 0 ? words_[w + p]
                              : words_[w + p] >> shift | words_[w + planes + p] << (kernel_block - shift);
        return m;
    }
    [[gnu::always_inline]] std::uint64_t mask_at(std::size_t pos, std::size_t reach = window_bytes)
        requires(planes == 1)
    {
        return masks_at(pos, reach)[0];
    }

private:
    void fill(std::size_t pos, std::size_t reach) {
        assert(reach % kernel_block == 0 && reach >= kernel_block && reach <= window_bytes);
        const PaddedBytes part = bytes_.from(pos).first(reach);
        marks_(part, words_);
        // Past the range's end nothing is marked.
        std::fill(words_ + mask_words(part.size()) * planes, words_ + reach / kernel_block * planes,
                  std::uint64_t{0});
        start_ = pos;
        span_ = reach;
    }

    static constexpr std::size_t window_words = mask_words(window_bytes);
    const Marks marks_;
    PaddedBytes bytes_;
    std::size_t start_ = SIZE_MAX;  // no window yet: every position refills
    std::size_t span_ = window_bytes;
    std::uint64_t words_[window_words * planes];
};

// The bytes of a range that are in a byte set.
class SkipWindow : public MaskWindow<MemberMarks> {
public:
    SkipWindow(const SkipKernel& kernel, const ByteSet& set, PaddedBytes bytes)
        : MaskWindow({kernel, set}, bytes) {}
};

}  // namespace kurvane::scan
