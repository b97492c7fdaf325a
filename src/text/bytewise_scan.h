// The scan of EUC-JP and UTF-8: runs of whole characters, found from the
// positions where a character may start.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "text/scan_tables.h"
#include "text/start_mask.h"
#include "text/wide_runs.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kurvane::text::detail {

// The character at p[0, left) of a byte encoding, read from the lookups
// of the bytes.
template <InputEncoding encoding>
inline CharStep step_at(const ScanTables& t, const unsigned char* p, std::size_t left) {
    static_assert(encoding == InputEncoding::euc_jp || encoding == InputEncoding::utf8);
    if constexpr (encoding == InputEncoding::euc_jp) {
        return t.byte_roles().euc_jp_at(p, left);
    } else {
        return t.byte_roles().utf8_at(p, left, [&](char32_t u) { return static_cast<std::uint32_t>(t.role(u)); });
    }
}

// The positions of p[0, n) at which a character may start, found from the
// skip's start masks a block at a time, so that among noise, where starts
// lie a byte or two apart, each costs a bit scan rather than a call. A
// lead byte counts only where a byte that may follow it does: in noise
// most do not, and each is a branch the scan would guess wrong.
class StartCursor {
public:
    StartCursor(const ScanTables& t, const unsigned char* p, std::size_t n)
        : classes_(t.start_classes()), mask_of_(best_start_mask_kernel().mask), p_(p), n_(n) {}

    // The first position at or after i where a character may start, or a
    // position at or past n when none is left.
    std::size_t next(std::size_t i) {
        // A step past a character cut short by the end may land past n:
        // no block there may be read.
        if (i >= n_) return n_;
        std::size_t b = i / block_bytes;
        if (b != block_) load(b);
        std::uint64_t m = mask_ & ~std::uint64_t{0} << i % block_bytes;
        while (m == 0) {
            if (++b * block_bytes >= n_) return n_;
            load(b);
            m = mask_;
        }
        return b * block_bytes + static_cast<std::size_t>(std::countr_zero(m));
    }

    // How many positions from i on, i < n, are starts at bytes below 0x80:
    // one-byte characters, each kept or excluded, back to back.
    std::size_t ascii_starts(std::size_t i) {
        std::size_t b = i / block_bytes;
        if (b != block_) load(b);
        // The shift brings in clear bits, so the count stops at the block's end.
        std::size_t count = static_cast<std::size_t>(std::countr_one(ascii_ >> i % block_bytes));
        if (i % block_bytes + count < block_bytes) return count;
        // Bits past n are clear: the count stops there too.
        while (++b * block_bytes < n_) {
            load(b);
            const auto more = static_cast<std::size_t>(std::countr_one(ascii_));
            count += more;
            if (more < block_bytes) break;
        }
        return count;
    }

    // The block the last call of next() ended in, when it returned a
    // position below n: its starts, and those at bytes below 0x80.
    std::uint64_t block_starts() const { return mask_; }
    std::uint64_t block_ascii() const { return ascii_; }

    // Whether a character may start at i, i < n, in the block the last
    // call of ascii_starts() ended in: where none may, the character at i
    // is none.
    bool starts_after_ascii(std::size_t i) const { return (mask_ >> i % block_bytes & 1u) != 0; }

private:
    static constexpr std::size_t block_bytes = start_block_bytes;
    void load(std::size_t b) {
        block_ = b;
        const std::size_t from = b * block_bytes;
        // A kernel reads its block and the byte after it; the last block
        // is read a byte at a time, and bits past n stay clear.
        if (n_ - from >= start_block_reads) {
            mask_ = mask_of_(classes_, p_ + from);
            ascii_ = mask_ & ~high_bits(p_ + from);
            return;
        }
        mask_ = 0;
        for (std::size_t k = 0; from + k < n_; ++k)
            mask_ |= std::uint64_t{classes_.starts_at(p_[from + k], from + k + 1 < n_ ? p_ + from + k + 1 : nullptr)} << k;
        ascii_ = 0;
        for (std::size_t k = 0; from + k < n_; ++k) ascii_ |= std::uint64_t{p_[from + k] < 0x80} << k;
        ascii_ &= mask_;
    }

    // Bit k: the top bit of p[k], k < block_bytes. With SSE2, which every
    // x86-64 processor has, one byte mask a 16 bytes; else eight bytes a
    // word, each word's top bits gathered into its top byte by one multiply.
    static std::uint64_t high_bits(const unsigned char* p) {
#if defined(__SSE2__)
        constexpr std::size_t vector = 16;
        static_assert(block_bytes % vector == 0);
        std::uint64_t m = 0;
        for (std::size_t k = 0; k < block_bytes; k += vector) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
            m |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(v)) & 0xFFFFu} << k;
        }
        return m;
#else
        constexpr std::size_t word = sizeof(std::uint64_t);
        static_assert(block_bytes % word == 0);
        static_assert(std::endian::native == std::endian::little, "byte k of a word is its bits 8k to 8k+7");
        constexpr std::uint64_t tops = 0x8080808080808080u;
        // Bit 8j+7 moves to bit 56+j; every product of a top bit and a bit
        // of the multiplier lands on a bit of its own, so none carries.
        constexpr std::uint64_t gather = 0x0002040810204081u;
        std::uint64_t m = 0;
        for (std::size_t k = 0; k < block_bytes; k += word) {
            std::uint64_t w;
            std::memcpy(&w, p + k, word);
            m |= ((w & tops) * gather >> 56) << k;
        }
        return m;
#endif
    }

    const StartClasses& classes_;
    std::uint64_t (*const mask_of_)(const StartClasses&, const unsigned char*);
    const unsigned char* p_;
    std::size_t n_;
    std::size_t block_ = SIZE_MAX;
    std::uint64_t mask_ = 0;
    std::uint64_t ascii_ = 0;  // the starts of mask_ at bytes below 0x80
};

// The runs of EUC-JP or UTF-8 in input order: from each position where a
// character may start, a run takes whole characters while they are kept
// or excluded.
template <InputEncoding encoding, class Sink>
void scan_bytewise(const ScanTables& t, const unsigned char* p, std::size_t n, std::uint64_t base, Sink& sink) {
    static_assert(static_cast<std::uint32_t>(CharRole::kept) == 1 && static_cast<std::uint32_t>(CharRole::excluded) == 2,
                  "a step's role counts its bytes as kept by its low bit");
    StartCursor starts(t, p, n);
    const auto kept_pairs = best_wide_run_kernel().kept_pairs;
    // Where no ASCII character is excluded, every ASCII start is a kept
    // byte, counted from the start masks a stretch at a time: most runs
    // found in data are a few ASCII bytes.
    const auto& excluded = t.spec().excluded;
    const bool ascii_kept = std::none_of(excluded.begin(), excluded.end(), [](char32_t u) { return u < 0x80; });
    for (std::size_t i = starts.next(0); i < n; i = starts.next(i)) {
        // Up to the block's first start of a longer character, a run of kept
        // ASCII that ends before it is that ASCII whole: the byte after it
        // starts no character. Such runs are found from the masks, with no
        // step; among noise most runs are such. The run that reaches the
        // limit, and what starts there, go to the steps below.
        if (ascii_kept) {
            constexpr std::size_t block_bytes = start_block_bytes;
            const std::size_t block = i - i % block_bytes;
            const std::uint64_t from = ~std::uint64_t{0} << i % block_bytes;
            const std::uint64_t ascii = starts.block_ascii() & from;
            const std::uint64_t longer = starts.block_starts() & ~ascii & from;
            // Below the limit: the lowest bit of `longer`, or none.
            const std::uint64_t below = (longer - 1) & ~longer;
            const std::uint64_t kept = ascii & below;
            // Bit k set where a run opens at k, and where one ends at k; the
            // run that reaches the limit is left out.
            const std::uint64_t opens = kept & ~(kept << 1);
            const std::uint64_t ends = kept & ~(kept >> 1) & (below >> 1);
            const bool reaches = (kept & ~(below >> 1)) != 0;
            const std::uint64_t last_open =
                reaches ? std::uint64_t{1} << (block_bytes - 1 - static_cast<std::size_t>(std::countl_zero(opens))) : 0;
            const auto one = [&](std::size_t at, std::size_t end) {
                report(t, p, base, Span{at, end, end - at, 0, true}, sink);
            };
            const AsciiRuns runs{block, opens & ~last_open, ends, t.spec().min_length};
            if constexpr (takes_ascii_runs<Sink>)
                sink.ascii_runs(p, base, runs, one);
            else
                for_each_ascii_run(runs, one);
            // What is left: the run that reaches the limit, or the limit.
            const std::size_t next = static_cast<std::size_t>(std::countr_zero(reaches ? last_open : longer));
            i = block + next;
            if (next == block_bytes) continue;
        }
        const std::size_t start = i;
        std::uint64_t kept = 0;
        // Whether the run so far is only the kept ASCII counted by the masks.
        bool ascii = ascii_kept;
        for (;;) {
            if (ascii_kept) {
                const std::size_t count = starts.ascii_starts(i);
                i += count;
                kept += count;
                if (i >= n) break;
                // In data most ASCII runs end at a byte that starts nothing.
                if (!starts.starts_after_ascii(i)) break;
            }
            const CharStep s = step_at<encoding>(t, p + i, n - i);
            if (s.role == 0) break;
            ascii = false;
            kept += (s.role & 1u) * s.length;
            i += s.length;
            // Kanji and kana back to back, without the lead byte's cases.
            constexpr std::size_t wide = encoding == InputEncoding::euc_jp ? 2 : 3;
            const ByteRoles& roles = t.byte_roles();
            std::size_t steps = 0;
            for (std::uint32_t r; n - i >= wide; i += wide) {
                if constexpr (encoding == InputEncoding::euc_jp) {
                    // Past a few pairs, the kept ones by the block: among
                    // noise most runs end within the few, and a block
                    // costs more than they do.
                    if (++steps > wide_first_steps) {
                        const std::size_t k = kept_pairs(roles.pair_limits(), p + i, n - i);
                        i += k;
                        kept += k;
                        steps = 0;
                        if (n - i < wide) break;
                    }
                    r = roles.pair_role(p + i);
                } else {
                    r = roles.three_role(p + i);
                }
                if (r == 0) break;
                kept += (r & 1u) * wide;
            }
            if (i >= n) break;
        }
        // The character at i is none, so the next run starts after it.
        if (i != start) report(t, p, base, Span{start, i, kept, 0, ascii}, sink);
        ++i;
    }
}


}  // namespace kurvane::text::detail
