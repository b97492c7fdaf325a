// The scan of EUC-JP and UTF-8: runs of whole characters, found from the
// positions where a character may start.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "text/scan_tables.h"
#include "text/start_mask.h"
#include "text/wide_runs.h"

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

private:
    static constexpr std::size_t block_bytes = start_block_bytes;
    void load(std::size_t b) {
        block_ = b;
        const std::size_t from = b * block_bytes;
        // A kernel reads its block and the byte after it; the last block
        // is read a byte at a time, and bits past n stay clear.
        if (n_ - from >= start_block_reads) {
            mask_ = mask_of_(classes_, p_ + from);
            return;
        }
        mask_ = 0;
        for (std::size_t k = 0; from + k < n_; ++k)
            mask_ |= std::uint64_t{classes_.starts_at(p_[from + k], from + k + 1 < n_ ? p_ + from + k + 1 : nullptr)} << k;
    }

    const StartClasses& classes_;
    std::uint64_t (*const mask_of_)(const StartClasses&, const unsigned char*);
    const unsigned char* p_;
    std::size_t n_;
    std::size_t block_ = SIZE_MAX;
    std::uint64_t mask_ = 0;
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
    for (std::size_t i = starts.next(0); i < n; i = starts.next(i)) {
        CharStep s = step_at<encoding>(t, p + i, n - i);
        if (s.role == 0) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        std::uint64_t kept = 0;
        do {
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
        } while (i < n && (s = step_at<encoding>(t, p + i, n - i)).role != 0);
        report(t, p, base, Span{start, i, kept}, sink);
        // The character at i is none, so the next run starts after it.
        ++i;
    }
}


}  // namespace kurvane::text::detail
