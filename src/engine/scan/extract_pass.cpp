#include "engine/scan/extract_pass.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "engine/classes/exempt.h"
#include "engine/print/format_printers.h"
#include "engine/print/printer.h"
#include "engine/classes/scan_table.h"
#include "engine/scan/split_bytes.h"
#include "engine/print/scoring_printer.h"
#include "engine/scan/pair_kernel.h"
#include "engine/scan/run_masks.h"
#include "engine/scan/skip_kernel.h"
#include "engine/scan/skip_kernel_window.h"
#include "text/text_encoding.h"

#if defined(__SANITIZE_ADDRESS__)  // GCC
#define KURVANE_ASAN 1
#elif defined(__has_feature)       // Clang
#if __has_feature(address_sanitizer)
#define KURVANE_ASAN 1
#endif
#endif
#ifdef KURVANE_ASAN
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(addr, size) static_cast<void>(0)
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) static_cast<void>(0)
#endif

namespace kurvane::detail {
namespace {

// The block scan takes the candidates of scan::kernel_block bytes at once,
// from any position before the end of the data.
constexpr std::size_t vector_block = scan::kernel_block;
// The double-byte strides look up stride_pairs pairs at once, from a
// position at most at the end of the data (after a double-byte character).
constexpr std::size_t stride_pairs = 8;
// A run steps past the data only over an excluded pair at its last byte.
// The block scan's one-character test reads the pair at the class value
// from a candidate (3 for Excluded), one byte further than run() steps.
constexpr std::size_t past_end_step = static_cast<std::size_t>(CharClass::Excluded);
// A block with at most this many candidates is taken candidate by candidate
// rather than by its unit masks.
constexpr int sparse_candidates = 4;

// Padding contract of the piece buffer: every piece's data is followed by
// `padding` zero bytes, as many as the farthest read past the data needs.
// Zeros end every run (no pair with a zero byte is text, an excluded pair
// with lead 0 never matches), so the scan never takes padding as data.
constexpr std::size_t padding = std::max({
    scan::kernel_overread,      // the skip kernel's block from the last data byte
    long_copy - 1,              // the last block of a long run that ends with the data
    short_copy + 1,             // an empty run copied from after an excluded last pair
    2 * stride_pairs,           // a stride from the end of the data
    past_end_step + max_char,   // the pair read past the end
    scan::pair_block_reach,     // a pair block from the last data byte
});

// Bytes of the previous piece carried into the next: the scan of a piece
// that is not the last stops before its last byte, whose trail is unread,
// or after it when a character or an excluded pair took it.
constexpr std::size_t max_carry = max_char - 1;
// The piece buffers of other drivers are laid out by the public constants.
static_assert(max_carry == piece_headroom && padding == piece_padding);

constexpr unsigned char none = static_cast<unsigned char>(CharClass::None);
constexpr unsigned char excluded = static_cast<unsigned char>(CharClass::Excluded);
constexpr unsigned char double_byte = static_cast<unsigned char>(CharClass::Double);
constexpr unsigned char single_byte = static_cast<unsigned char>(CharClass::Single);

// Whether m has at most N bits set: clearing the lowest N leaves none. The
// baseline instruction set has no population count.
template <int N>
constexpr bool at_most_bits(std::uint64_t m) {
    for (int k = 0; k < N; ++k) m &= m - 1;
    return m == 0;
}
static_assert(at_most_bits<4>(0xF0) && !at_most_bits<4>(0x1F) && at_most_bits<4>(0));

// A printer that reads each run with the input bytes just before it, which
// stay readable until the end() of the run's first unit.
template <class Printer>
concept reads_lead_in = requires(Printer& p, const unsigned char* b) {
    p.lead_in(b, std::size_t{}, std::uint64_t{});
};

// A printer that reads lead-ins and takes a whole run without one in one
// call: most runs of data have none, the byte before them holding no
// character.
template <class Printer>
concept takes_runs_without_lead_in = reads_lead_in<Printer> && requires(Printer& p, const unsigned char* b) {
    p.run_without_lead_in(b, std::size_t{}, std::uint64_t{}, End::line);
};

// Walks pieces of the input and keeps the state of a run that crosses from
// one piece into the next, reporting each unit written to the printer (see
// print/printer.h). Positions are indices into the current piece.
template <class Printer>
class Scanner {
    // The offset no split ended at: nothing goes on from it.
    static constexpr std::uint64_t no_split = UINT64_MAX;

public:
    Scanner(const ScanTable& table, const ExtractionSettings& settings, Printer& out)
        : pairs_(table.pair_class.data()), out_(out),
          min_length_(settings.min_length), line_break_(settings.auto_newline != 0),
          run_end_(line_break_ ? End::line : End::run), exempt_(settings),
          exempt_floor_(exempt_.shortest),
          // The short paths decide a run's fate by its length (and, below
          // the minimum, the exempt strings); with min_length 0, which
          // writes empty runs, every run takes the general path.
          one_char_runs_(min_length_ != 0), skip_kernel_(scan::skip_kernel()),
          lead_set_(table.can_start), single_stops_(single_stops(table)),
          single_set_(table.always_single),
          // The ranges pay only with a vector kernel: the scalar one tests
          // them pair by pair, slower than the table's lookups.
          ranges_(table.pair_ranges.usable && scan::pair_kernel().isa != Isa::scalar
                      ? &table.pair_ranges
                      : nullptr),
          by_masks_(one_char_runs_ && ranges_ != nullptr),
          any_single_(std::ranges::any_of(table.always_single, [](unsigned char v) { return v != 0; })),
          pair_window_(scan::UnitMarks{scan::pair_kernel(), table.pair_ranges},
                       scan::PaddedBytes::padded<padding>(nullptr, 0)),
          none_stops_(none_stops(table)) {
        if constexpr (reads_lead_in<Printer>) find_split_bytes(table, split_);
    }

    // The input offset of the next piece's first byte (carried bytes included).
    void set_base(std::uint64_t base) { base_ = base; }

    // Scans the piece b[0, size) (followed by `padding` zero bytes). When
    // `last` is false, the piece's last byte is not examined and the run in
    // progress, if any, is suspended; returns the position where the next
    // piece must resume (size - 1 or size).
    std::size_t scan(const unsigned char* b, std::size_t size, bool last) {
        if (fresh_) {
            out_.begin_stretch();
            fresh_ = false;
            history_size_ = 0;
        }
        const std::size_t resume = scan_piece(b, size, last);
        if constexpr (reads_lead_in<Printer>) {
            if (!last) keep_history(b, resume);
        }
        if (last) {
            // The stretch is over: whatever the printer holds open ends
            // here, and the next piece starts afresh.
            out_.end_stretch();
            split_end_ = no_split;
            fresh_ = true;
        }
        return resume;
    }

private:
    std::size_t scan_piece(const unsigned char* b, std::size_t size, bool last) {
        // In the last piece the zero padding ends every run, so only the
        // start of runs needs a bound; elsewhere a run stops where the next
        // byte has not been read yet.
        const std::size_t end = last ? size : size - 1;
        size_ = size;
        // Positions from end on are no double-byte characters to the window,
        // as the trail of the last byte of a piece that is not the last is
        // still unread.
        if (ranges_ != nullptr) pair_window_.bind(scan::PaddedBytes::padded<padding>(b, end));
        const std::size_t run_end = last ? SIZE_MAX : end;
        std::size_t i = 0;
        if (in_run_) {
            i = run(b, 0, run_end);
            if (in_run_) return i;
        }
        return scan_blocks(b, i, end, run_end);
    }

    unsigned pair_at(const unsigned char* p) const { return pairs_[ScanTable::index(p[0], p[1])]; }

    // The scan outside runs: positions in [i, end) whose pair is None are
    // skipped, a run starts at any other. Returns where the next piece must
    // resume: end, or further when a run went past it. The skip kernel
    // marks the bytes that can start text a window at a time, and the
    // block's candidate mask is kept across the short runs that start
    // inside it: in binary data a candidate turns up every few bytes.
    // With a vector pair kernel (by_masks_), a block of many candidates
    // takes its runs from its unit masks instead; without one, each
    // candidate's pairs are looked up.
    std::size_t scan_blocks(const unsigned char* b, std::size_t i, std::size_t end,
                            std::size_t run_end) {
        // Positions at or past end are no candidates: the window ends there.
        scan::SkipWindow window(skip_kernel_, lead_set_,
                                scan::PaddedBytes::padded<padding>(b, end));
        // Members the loop reads, held in locals: the output bytes stored in
        // the loop could alias the members but not these.
        const unsigned char* const pairs = pairs_;
        const auto pair_at = [pairs](const unsigned char* p) -> unsigned {
            return pairs[ScanTable::index(p[0], p[1])];
        };
        const bool one_char_runs = one_char_runs_;
        const std::uint32_t min_length = min_length_;
        const std::size_t exempt_floor = exempt_floor_;
        const std::uint64_t offset = base_;
        const std::size_t line_break = line_break_ ? crlf_size : 0;
        // The write position of the plain printer, and of one that takes
        // whole units, is kept here, in registers; it is handed back before
        // anything else writes and fetched after.
        [[maybe_unused]] OutputCursor o{};
        // A printer that reads lead-ins takes them before each run's text.
        constexpr bool whole_units = writes_units<Printer> && !reads_lead_in<Printer>;
        constexpr bool holds_cursor = Printer::raw || whole_units;
        const auto fetch = [&] {
            if constexpr (holds_cursor) o = out_.cursor();
        };
        const auto hand_back = [&] {
            if constexpr (holds_cursor) out_.set_cursor(o);
        };
        fetch();
        // The n bytes from p are a whole run, of characters only. For the
        // plain printer they and the line break are stored whatever
        // happens, and the cursor moves past them only for a run that is
        // kept. A run below the minimum may still hold an exempt string.
        const auto end_run = [&](std::size_t p, std::size_t n) __attribute__((always_inline)) {
            if constexpr (Printer::raw) {
                copy_run(o.pos, b + p, n);
                o.pos[n] = '\r';
                o.pos[n + 1] = '\n';
                o.pos += n >= min_length ? n + line_break : 0;
                if (o.full()) out_.flush(o);
            } else if (n >= min_length) {
                if constexpr (whole_units) {
                    // The whole run in one call, through the cursor.
                    out_.unit(o, b + p, n, offset + p, offset + p != split_end_, run_end_);
                } else {
                    const bool first = offset + p != split_end_;
                    if constexpr (takes_runs_without_lead_in<Printer>) {
                        if (first) {
                            // The run ends here, so keep_history() never
                            // needs its lead-in: it is not kept.
                            const LeadIn lead = find_lead_in(b, p);
                            if (lead.size == 0) {
                                out_.run_without_lead_in(b + p, n, offset + p, run_end_);
                                return;
                            }
                            out_.lead_in(lead.at, lead.size, offset + p);
                        }
                    } else {
                        hand_lead_in(b, p);
                    }
                    out_.text(b + p, n, offset + p, first);
                    out_.end(run_end_);
                }
            }
            if (n < min_length && n >= exempt_floor) [[unlikely]] {
                hand_back();
                exempt_run(b, p, n);
                fetch();
            }
        };

        // A resumed run may already have gone past end.
        std::size_t resume = std::max(i, end);
        if (by_masks_) {
            // Runs the masks cannot take go to run(): those that reach the
            // end of a piece that is not the last, or step past the data
            // over an excluded pair at its last byte. A run that holds an
            // excluded pair is taken here segment by segment: the pair is
            // a gap in the bytes written, the bytes before it are spilled
            // to be joined with the rest.
            const scan::PaddedBytes data = scan::PaddedBytes::padded<padding>(b, end);
            scan::SkipWindow singles(skip_kernel_, single_set_, data);
            scan::RunCarry carry{};
            // The run open at i: where its unwritten, unspilled segment
            // starts, and whether start_run() was called for it, which the
            // first spill or split needs. A run whose bytes are all still
            // in one segment of the piece is written by end_run(p, n).
            std::size_t open_at = 0;
            bool started = false;
            const auto by_run = [&](std::size_t p) {
                hand_back();
                if (!started) start_run(b, p);
                started = false;
                const std::size_t after = run(b, p, run_end);
                if (!in_run_) fetch();
                return after;
            };
            const auto start_once = [&] {
                if (started) return;
                hand_back();
                start_run(b, open_at);
                fetch();
                started = true;
            };
            // Takes the open run on to `to` (at most the block's end):
            // the split where its bytes pass split_limit and the excluded
            // pairs `gaps` (bits from the block's start i). A block is
            // shorter than a split, so a segment that starts in it splits
            // after it; one carried in splits at most once in it.
            static_assert(vector_block <= split_limit);
            const auto take_on = [&](std::size_t blk, std::uint64_t units, std::uint64_t gaps,
                                     std::size_t to) {
                // What the loop reads is held in locals between the gaps of
                // a block: the spilled bytes stored could alias the members
                // and the captures but not these.
                const unsigned char* const piece = b;
                unsigned char* const spilled = run_;
                std::size_t seg = open_at;
                std::size_t filled = fill_;
                bool is_started = started;
                for (;;) {
                    const std::size_t gap = gaps != 0 ? blk + static_cast<std::size_t>(std::countr_zero(gaps)) : to;
                    // The character that holds the byte split_limit bytes
                    // into the run's unwritten part ends the split; a
                    // trail there is no unit's first byte.
                    if (const std::size_t over = seg + (split_limit - filled); over < gap) [[unlikely]] {
                        const std::size_t taken = (units >> (over - blk) & 1) != 0 ? 2 : 1;
                        open_at = seg;
                        fill_ = filled;
                        start_once();
                        is_started = true;
                        hand_back();
                        write_split(b, seg, over + taken - seg);
                        fetch();
                        seg = over + taken;
                        filled = fill_;
                        continue;
                    }
                    if (gaps == 0) break;
                    if (!is_started) [[unlikely]] {
                        open_at = seg;
                        fill_ = filled;
                        start_once();
                        is_started = true;
                    }
                    if constexpr (Printer::raw) {
                        // Where a segment lies in the input is of no use to
                        // the plain printer, so its bytes go on at once.
                        const std::size_t n = gap - seg;
                        spill_bytes(spilled + filled, piece + seg, n);
                        filled += n;
                    } else {
                        fill_ = filled;
                        spill(piece, seg, gap - seg);
                        filled = fill_;
                    }
                    seg = gap + 2;
                    gaps &= gaps - 1;
                }
                open_at = seg;
                fill_ = filled;
            };
            // The open run ends at e, after take_on() brought it there.
            const auto finish = [&](std::size_t e) {
                if (started) {
                    hand_back();
                    this->end_run(b, open_at, e - open_at);
                    fetch();
                    started = false;
                } else {
                    end_run(open_at, e - open_at);
                }
            };
            // Bits of [from, to) of a block at blk, both in it or at its end.
            const auto span = [](std::size_t blk, std::size_t from, std::size_t to) {
                const auto below = [blk](std::size_t k) {
                    return k - blk >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << (k - blk)) - 1;
                };
                return below(to) & ~below(from);
            };
            // A run that ends at or past `stop` goes to run(): in the last
            // piece only one past the data's end, after an excluded pair.
            const std::size_t stop = std::min(run_end, end + 1);
            // The block from a candidate that starts more than a
            // one-character run is taken by its masks.
            bool by_block = false;
            // What a new mask window marks: the block and the next at first.
            constexpr std::size_t window_reach = scan::UnitWindow::window_bytes;
            std::size_t reach = 2 * vector_block;
            // A run open at the end of the data ends in the block from end,
            // whose masks are empty; one whose last character's trail is
            // the byte at end, in a piece that is not the last, is open
            // past it, where there are no masks: run() takes it on.
            while (i < end || carry.open) {
                if (i > end) {
                    i = by_run(open_at);
                    if (in_run_) return i;
                    resume = std::max(end, i);
                    carry = {};
                    continue;
                }
                if (!carry.open && !by_block) {
                    const std::uint64_t candidates = window.mask_at(i);
                    if (candidates == 0) {
                        i += vector_block;
                        continue;
                    }
                    // In record tables a few candidates turn up per block,
                    // nearly all one character or none: two lookups each
                    // cost less than marking the block's units.
                    if (at_most_bits<sparse_candidates>(candidates)) {
                        std::size_t skip = i;  // before it: the trail of a run taken
                        std::size_t more = SIZE_MAX;  // a candidate that starts more
                        for (std::uint64_t m = candidates; m != 0; m &= m - 1) {
                            const std::size_t p = i + static_cast<std::size_t>(std::countr_zero(m));
                            if (p < skip) continue;
                            const unsigned c0 = pair_at(b + p);
                            const std::size_t q = p + c0;
                            const unsigned c1 = pair_at(b + q);  // c0 None: q == p, c1 None
                            if ((c0 != excluded) & (c1 == none) & (q < run_end)) {
                                end_run(p, c0);
                                skip = q;
                                continue;
                            }
                            if (c0 == none) continue;
                            more = p;
                            break;
                        }
                        by_block = more != SIZE_MAX;
                        i = by_block ? more : std::max(i + vector_block, skip);
                        reach = 2 * vector_block;
                        continue;
                    }
                }
                by_block = false;
                // A pair in the ranges is a double-byte character whatever
                // its lead; only the others of a looked-up lead need the table.
                const auto [in_ranges, look] = pair_window_.masks_at(i, reach);
                std::uint64_t twos = in_ranges;
                std::uint64_t ones = any_single_ ? singles.mask_at(i, reach) : 0;
                std::uint64_t dropped = 0;
                // Blocks taken by their masks one after another mark ever
                // longer windows.
                reach = std::min(2 * reach, window_reach);
                for (std::uint64_t m = look; m != 0; m &= m - 1) {
                    const int k = std::countr_zero(m);
                    const std::uint64_t bit = std::uint64_t{1} << k;
                    const unsigned c = pair_at(b + i + static_cast<std::size_t>(k));
                    // Excluded pairs take two bytes as characters do.
                    twos |= c >= double_byte ? bit : 0;
                    ones = (ones & ~bit) | (c == single_byte ? bit : 0);
                    dropped |= c == excluded ? bit : 0;
                }
                const scan::BlockRuns r = scan::block_runs(twos, ones, carry);
                const std::uint64_t x = r.units & dropped;
                const auto at = [i](std::uint64_t m) {
                    return i + static_cast<std::size_t>(std::countr_zero(m));
                };
                std::uint64_t starts = r.starts;
                std::uint64_t ends = r.ends;
                const std::size_t next = i + vector_block;
                std::size_t by_run_at = SIZE_MAX;
                if (carry.open) {
                    // The run carried in covers the block up to e.
                    const bool goes_on = ends == 0;
                    const std::size_t e = goes_on ? next : at(ends);
                    if (!goes_on && e >= stop) {
                        by_run_at = open_at;
                    } else {
                        const std::uint64_t gaps = x == 0 ? 0 : x & span(i, i, e);
                        if (gaps != 0 || open_at + (split_limit - fill_) < e)
                            take_on(i, r.units, gaps, e);
                        if (goes_on) {
                            carry = r.carry;
                            i = next;
                            continue;
                        }
                        ends &= ends - 1;
                        finish(e);
                    }
                }
                // The other runs start and end in the block; each start
                // pairs with the next end but the last, whose run may be
                // open at the block's end.
                if (by_run_at == SIZE_MAX) {
                    for (; ends != 0; starts &= starts - 1, ends &= ends - 1) {
                        const std::size_t p = at(starts);
                        const std::size_t e = at(ends);
                        if (e >= stop) [[unlikely]] {
                            by_run_at = p;
                            break;
                        }
                        const std::uint64_t gaps = x == 0 ? 0 : x & span(i, p, e);
                        if (gaps == 0) {
                            end_run(p, e - p);
                            continue;
                        }
                        open_at = p;
                        take_on(i, r.units, gaps, e);
                        finish(e);
                    }
                }
                if (by_run_at == SIZE_MAX && starts != 0) {
                    open_at = at(starts);
                    // Too short to split in this block.
                    if (const std::uint64_t gaps = x == 0 ? 0 : x & span(i, open_at, next); gaps != 0)
                        take_on(i, r.units, gaps, next);
                    carry = r.carry;
                    i = next;
                    continue;
                }
                carry = {};
                i = next;
                if (by_run_at != SIZE_MAX) {
                    i = by_run(by_run_at);
                    if (in_run_) return i;
                    resume = std::max(end, i);
                }
            }
            hand_back();
            return resume;
        }
        std::size_t skip_to = 0;
        while (i < end) {
            const std::size_t base = i;
            std::uint64_t mask = window.mask_at(base);
            i = base + vector_block;
            while (mask != 0) {
                const std::size_t p = base + static_cast<std::size_t>(std::countr_zero(mask));
                if (p < skip_to) {
                    mask &= mask - 1;
                    continue;
                }
                // Most runs in binary data are one character long, and which
                // candidates start one is a coin toss for the branch
                // predictor. So a candidate that is not text (c0 None) and a
                // one-character run take the same path, without branching on
                // which it was: the bytes and the line break are stored
                // either way and counted only for a run that is kept.
                const unsigned c0 = pair_at(b + p);
                const std::size_t q = p + c0;
                const unsigned c1 = pair_at(b + q);  // c0 None: q == p, c1 None
                if (one_char_runs & (c0 != excluded) & (c1 == none) & (q < run_end)) {
                    end_run(p, c0);
                    mask &= mask - 1;
                    // The trail of a double-byte character starts nothing.
                    // Testing that on the next candidate keeps the mask
                    // free of a dependency on this lookup.
                    skip_to = q;
                    continue;
                }
                if (c0 == none) {
                    mask &= mask - 1;
                    continue;
                }
                std::size_t after;
                // Most longer runs are double-byte characters up to a byte
                // that is not text, and run() would take them the same way.
                // Anything else (a single-byte character or an excluded pair
                // after them, the piece limit, the end of the piece) goes to
                // run() from the start. The lookups start again at p, so
                // they need not wait for c0 and c1.
                std::size_t stop = 0;
                if (one_char_runs) {
                    stop = double_run(b, p, p + split_limit);
                    if (stop < p + 4 || stop >= run_end) stop = 0;
                }
                if (stop != 0) {
                    end_run(p, stop - p);
                    after = stop;
                } else {
                    // run() appends and may flush, which may trade the
                    // buffer: the cursor is handed back and fetched anew.
                    hand_back();
                    start_run(b, p);
                    after = run(b, p, run_end);
                    if (in_run_) return after;
                    fetch();
                }
                resume = std::max(end, after);
                if (after >= base + vector_block) {
                    i = after;
                    break;
                }
                // after > p: drops p and what the run took.
                mask &= ~std::uint64_t{0} << (after - base);
            }
        }
        hand_back();
        return resume;
    }

    // Runs from i, which holds text (or resumes a suspended run at 0).
    // Accepted bytes stay in the piece as the segment [seg, i) as long as
    // they are contiguous; an excluded pair or the end of a piece moves them
    // into run_ (the rare case), so most runs are written from the input.
    std::size_t run(const unsigned char* b, std::size_t i, std::size_t end) {
        in_run_ = false;
        std::size_t seg = i;
        // The run holds more than split_limit bytes once i passes piece_at.
        std::size_t piece_at = seg + (split_limit - fill_);
        bool after_double = false;
        bool after_single = false;
        for (;;) {
            if (after_double) {
                // In Japanese text more double-byte characters follow.
                i = double_stride(b, i, piece_at);
                if (i > piece_at) {
                    write_split(b, seg, i - seg);
                    return i;
                }
            } else if (after_single) {
                // And in script lines and names more single-byte ones.
                i = single_stride(b, i, std::min({end, piece_at + 1, size_}));
                if (i > piece_at) {
                    write_split(b, seg, i - seg);
                    return i;
                }
            }
            if (i >= end) {
                spill(b, seg, i - seg);
                in_run_ = true;
                return i;
            }
            const unsigned c = pair_at(b + i);
            if (c == none) {
                end_run(b, seg, i - seg);
                return i;
            }
            if (c == excluded) {
                spill(b, seg, i - seg);
                i += 2;
                seg = i;
                piece_at = seg + (split_limit - fill_);
                continue;
            }
            i += c;  // Single takes 1 byte, Double 2
            if (i > piece_at) {
                write_split(b, seg, i - seg);
                return i;
            }
            after_double = c == double_byte;
            after_single = c == single_byte;
        }
    }

    // Japanese text is long stretches of double-byte characters, and each
    // step of the one-character loop waits for two dependent loads. This
    // looks up the next eight even offsets at once and moves on by sixteen
    // bytes while all eight are double-byte characters; the next position
    // does not wait for the lookups, so successive strides overlap. Returns
    // the position after the leading double-byte characters, or, when one
    // takes the run past piece_at, the position after that character. No
    // pair with a zero byte is Double, so the zero padding stops it before
    // the piece's last byte, whose trail may still be unread.
    std::size_t double_stride(const unsigned char* b, std::size_t i, std::size_t piece_at) {
        static_assert(stride_pairs == 8);  // the eight lookups below
        const unsigned char* const pairs = pairs_;
        if (ranges_ == nullptr || !pair_window_.holds(i)) {
            for (;;) {
                const auto is_double = [pairs, b, i](unsigned k) {
                    const unsigned char* p = b + i + 2 * k;
                    return unsigned{pairs[ScanTable::index(p[0], p[1])] == double_byte} << k;
                };
                const unsigned doubles = is_double(0) | is_double(1) | is_double(2) | is_double(3) |
                                         is_double(4) | is_double(5) | is_double(6) | is_double(7);
                const std::size_t taken =
                    doubles == 0xFF ? 8 : static_cast<std::size_t>(std::countr_one(doubles));
                if (i + 2 * taken > piece_at) return i + 2 * ((piece_at - i) / 2 + 1);
                if (taken < 8) return i + 2 * taken;
                i += 16;
                // A run this long goes on for a while: on by the ranges' masks.
                if (ranges_ != nullptr) break;
            }
        }
        for (;;) {
            // Past piece_at the span stops at the character that crosses it.
            i = span_by_ranges(i, piece_at + 1);
            if (i > piece_at || !ranges_->inexact[b[i]] || pair_at(b + i) != double_byte) return i;
            i += 2;  // a character of a lead whose ranges are not all tested
            if (i > piece_at) return i;
        }
    }

    // The one-byte counterpart of double_stride: the skip kernel finds the
    // first byte before `limit` (at most the piece's size) that is not a
    // single-byte character whatever follows it, many bytes at a time. The
    // one-character loop takes it from there (it may still be one, before
    // a byte with which it makes no excluded pair).
    std::size_t single_stride(const unsigned char* b, std::size_t i, std::size_t limit) const {
        if (i >= limit) return i;
        return i + skip_kernel_.find_member(single_stops_,
                                            scan::PaddedBytes::padded<padding>(b + i, limit - i));
    }

    // The bytes that stop single_stride: all but those that are a
    // single-byte character before any byte.
    static scan::ByteSet single_stops(const ScanTable& table) {
        std::array<unsigned char, 256> stops{};
        for (unsigned v = 0; v < 256; ++v) stops[v] = table.always_single[v] == 0;
        return scan::ByteSet(stops);
    }

    // The leads whose every pair outside the ranges is None: a lead of an
    // exact group with no single-byte character or excluded pair.
    static std::array<bool, 256> none_stops(const ScanTable& table) {
        std::array<bool, 256> known{};
        for (unsigned v = 0; v < 256; ++v) {
            known[v] = table.pair_ranges.inexact[v] == 0;
            for (unsigned t = 0; t < 256 && known[v]; ++t) {
                const unsigned c = table.pair_class[ScanTable::index(v, t)];
                known[v] = c == none || c == double_byte;
            }
        }
        return known;
    }

    // For the block scan: the position after the double-byte characters
    // from i when it is at most limit and the pair there is None; otherwise
    // 0. The class of the pair that stops the stride is known from the
    // stride's own lookups, so no further lookup waits for the stride.
    std::size_t double_run(const unsigned char* b, std::size_t i, std::size_t limit) {
        static_assert(stride_pairs == 8);  // the eight lookups below
        const unsigned char* const pairs = pairs_;
        // In text the window marked for one run holds the next ones.
        if (ranges_ == nullptr || !pair_window_.holds(i)) {
            for (;;) {
                const auto at = [pairs, b, i](unsigned k) -> unsigned {
                    const unsigned char* p = b + i + 2 * k;
                    return pairs[ScanTable::index(p[0], p[1])];
                };
                const unsigned c[8] = {at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7)};
                const unsigned doubles =
                    unsigned{c[0] == double_byte} | unsigned{c[1] == double_byte} << 1 |
                    unsigned{c[2] == double_byte} << 2 | unsigned{c[3] == double_byte} << 3 |
                    unsigned{c[4] == double_byte} << 4 | unsigned{c[5] == double_byte} << 5 |
                    unsigned{c[6] == double_byte} << 6 | unsigned{c[7] == double_byte} << 7;
                const auto taken = static_cast<std::size_t>(std::countr_one(doubles));
                if (i + 2 * taken > limit) return 0;
                if (taken < 8) return c[taken] == none ? i + 2 * taken : 0;
                i += 16;
                if (ranges_ != nullptr) break;
            }
        }
        for (;;) {
            i = span_by_ranges(i, limit + 1);
            if (i > limit) return 0;
            // Most stops are known to be None without a lookup that would
            // wait for the span; only a lead whose ranges are not all tested
            // can still be a double-byte character here.
            const unsigned char lead = b[i];
            if (none_stops_[lead]) return i;
            const unsigned c = pairs[ScanTable::index(lead, b[i + 1])];
            if (c != double_byte) return c == none ? i : 0;
            i += 2;
            if (i > limit) return 0;
        }
    }

    // The first of i, i + 2, ... that is at or past `limit` or whose pair is
    // not in the ranges, from the pair window's masks: 32 steps at a time.
    std::size_t span_by_ranges(std::size_t i, std::size_t limit) {
        constexpr std::uint64_t steps = 0x5555555555555555u;  // the even bits
        // Past the window's range, which ends where the piece's data or its
        // read trails end, no pair is in the ranges. A run gets there after
        // a double-byte character that ends a piece that is not the last.
        const std::size_t range = pair_window_.size();
        if (i >= limit || i > range) return i;
        const std::size_t cap = i + ((limit - i + 1) & ~std::size_t{1});
        for (;;) {
            const std::uint64_t misses = ~pair_window_.masks_at(i)[0] & steps;
            if (misses != 0)
                return std::min(cap, i + static_cast<std::size_t>(std::countr_zero(misses)));
            i += scan::kernel_block;
            if (i >= cap || i > range) return std::min(cap, i);
        }
    }

    // A run starts at i: where its scan began, for the printers that tell
    // a run going on from a split from a new one.
    void start_run(const unsigned char* b, std::size_t i) {
        run_start_ = base_ + i;
        hand_lead_in(b, i);
    }

    // For a printer that reads a run with the bytes before it: up to
    // max_lead_in bytes before b + i, from this piece and the ones before,
    // back to the last byte that no character holds. The threaded drivers
    // cut the input after such a byte, so every driver hands the same bytes.
    // A run that goes on from a split has none. The bytes are handed in
    // place where the piece holds them all, else joined in lead_; either
    // way they stay readable until the run's first unit is written (see
    // keep_history).
    [[gnu::always_inline]] void hand_lead_in(const unsigned char* b, std::size_t i) {
        if constexpr (reads_lead_in<Printer>) {
            if (base_ + i == split_end_) return;
            const LeadIn lead = find_lead_in(b, i);
            lead_at_ = lead.at;
            lead_size_ = lead.size;
            out_.lead_in(lead_at_, lead_size_, base_ + i);
        } else {
            static_cast<void>(b);
            static_cast<void>(i);
        }
    }

    // The lead-in of a run: `size` bytes from `at`, in the piece or in lead_.
    struct LeadIn {
        const unsigned char* at;
        std::size_t size;
    };

    // The lead-in of a run at b + i that does not go on from a split (see
    // hand_lead_in).
    [[gnu::always_inline]] LeadIn find_lead_in(const unsigned char* b, std::size_t i) {
        // Most runs of data follow a byte no character holds: their
        // lead-in is empty, which the byte before tells alone. (From the
        // piece or the history, the lead-in's last byte is b[i - 1].)
        if (i > 0 && split_[b[i - 1]]) return {b + i, 0};
        const unsigned char* lead = b + i - std::min(i, max_lead_in);
        std::size_t n = std::min(i, max_lead_in);
        if (i < max_lead_in && history_size_ > 0) {
            n = bytes_before(b, i, lead_);
            lead = lead_;
        }
        // The position after the last split byte, without a branch on
        // each byte: in data such bytes stand anywhere. Reading all
        // max_lead_in bytes from `lead` stays in the piece, whose data
        // goes on past i and whose padding follows it.
        static_assert(max_lead_in <= padding && max_lead_in <= 32);
        std::uint32_t splits = 0;
        for (std::size_t k = 0; k < max_lead_in; ++k) splits |= std::uint32_t{split_[lead[k]]} << k;
        splits &= (std::uint32_t{1} << n) - 1;
        const auto s = static_cast<std::size_t>(std::bit_width(splits));
        return {lead + s, n - s};
    }

    // The last bytes before where the next piece starts, b + resume. A run
    // suspended before anything of it was written still needs its
    // lead-in, which may lie in this piece: it moves to lead_.
    void keep_history(const unsigned char* b, std::size_t resume) {
        if (in_run_ && run_start_ != split_end_ && lead_at_ != lead_) {
            std::memmove(lead_, lead_at_, lead_size_);
            lead_at_ = lead_;
            out_.lead_in(lead_, lead_size_, run_start_);
        }
        unsigned char joined[max_lead_in];
        history_size_ = bytes_before(b, resume, joined);
        std::memcpy(history_, joined, history_size_);
    }

    // Copies into `to` the last max_lead_in (or fewer) input bytes before
    // b + i: the piece's own, after the history's that precede them.
    // Returns how many.
    std::size_t bytes_before(const unsigned char* b, std::size_t i, unsigned char (&to)[max_lead_in]) const {
        const std::size_t from_piece = std::min(i, max_lead_in);
        const std::size_t from_history = std::min(history_size_, max_lead_in - from_piece);
        std::memcpy(to, history_ + history_size_ - from_history, from_history);
        std::memcpy(to + from_history, b + i - from_piece, from_piece);
        return from_history + from_piece;
    }

    // Copies n bytes from src to dst, which is run_ + k with k + n at most
    // max_split. The segments between excluded pairs are short: nearly all
    // go by one fixed-size copy, the longer ones by the printers' block
    // copy; either reads into the piece's padding and writes into run_'s
    // room behind a split.
    static constexpr std::size_t spill_block = 2 * long_copy;
    static void spill_bytes(unsigned char* dst, const unsigned char* src, std::size_t n) {
        static_assert(run_room >= max_split + spill_block - 1 && padding >= spill_block - 1);
        if (n <= spill_block)
            std::memcpy(dst, src, spill_block);
        else
            copy_run(dst, src, n);
    }

    // Moves [seg, seg + n) of the piece behind the run's bytes in run_,
    // noting where in the input it lay. The segments between excluded
    // pairs are short: they go by the printers' block copy, which reads
    // into the piece's padding and writes into run_'s room behind a split.
    void spill(const unsigned char* b, std::size_t seg, std::size_t n) {
        if (n == 0) return;
        assert(fill_ + n <= max_split);
        spill_bytes(run_ + fill_, b + seg, n);
        // The plain printer writes the bytes in one call and has no use
        // for where they lay.
        if constexpr (!Printer::raw) {
            spilled_[segments_] = {fill_, base_ + seg};
            ++segments_;
        }
        fill_ += n;
    }

    // Hands run_[from, to) to the printer, each spilled segment with its
    // input offset; the plain printer, which has no use for them, takes
    // it in one call.
    void print_spilled(std::size_t from, std::size_t to, bool& first) {
        if (from >= to) return;
        if constexpr (Printer::raw) {
            out_.text(run_ + from, to - from, 0, first);
            first = false;
            return;
        }
        // Segments that lie back to back in the input go in one call: `from`
        // need not be where the scan read a character to start (an exempt
        // string may begin on a trail byte), so a segment's edge may fall
        // inside a character of the bytes written, which a converting
        // printer must see whole. Only an excluded character, left out
        // between two segments, parts them.
        for (std::size_t k = 0; k < segments_; ++k) {
            const std::size_t seg_from = spilled_[k].pos;
            const std::uint64_t seg_at = spilled_[k].at;
            std::size_t last = k;
            while (last + 1 < segments_ &&
                   spilled_[last + 1].at == spilled_[last].at + (spilled_[last + 1].pos - spilled_[last].pos))
                ++last;
            const std::size_t seg_to = last + 1 < segments_ ? spilled_[last + 1].pos : fill_;
            k = last;
            const std::size_t lo = std::max(from, seg_from);
            const std::size_t hi = std::min(to, seg_to);
            if (lo >= hi) continue;
            out_.text(run_ + lo, hi - lo, seg_at + (lo - seg_from), first);
            first = false;
        }
    }

    // The run's spilled bytes and then [seg, seg + n) of the piece, ending
    // as `e` says. An empty unit is given the offset its run began at.
    void print_unit(const unsigned char* b, std::size_t seg, std::size_t n, End e) {
        bool first = run_start_ != split_end_;
        print_spilled(0, fill_, first);
        if (n > 0 || fill_ == 0) out_.text(b + seg, n, n > 0 ? base_ + seg : run_start_, first);
        out_.end(e);
    }

    // A run of n < min_length bytes at b + p, all in the piece, that an
    // exempt string may hold: the string is written in its place.
    void exempt_run(const unsigned char* b, std::size_t p, std::size_t n) {
        std::size_t at = 0;
        const std::size_t length = exempt_.find(b + p, n, at);
        if (length == 0) return;
        out_.text(b + p + at, length, base_ + p + at, base_ + p != split_end_);
        out_.end(run_end_);
    }

    // The exempt string found at run_[at, at + n), written in the run's
    // place: in one call, so that a converting printer sees its characters
    // whole even where an excluded character parted its bytes in the input
    // (a string may begin on a trail byte). A printer that reports the
    // input span is told where the string's last byte lay.
    void print_exempt(std::size_t at, std::size_t n) {
        out_.text(run_ + at, n, run_offset(at), run_start_ != split_end_);
        if constexpr (requires(std::uint64_t end) { out_.extend_to(end); }) out_.extend_to(run_offset(at + n - 1) + 1);
    }

    // The input offset of run_[pos], from the spilled segment that holds it.
    std::uint64_t run_offset(std::size_t pos) const {
        if constexpr (Printer::raw) return 0;
        std::size_t k = 0;
        while (k + 1 < segments_ && spilled_[k + 1].pos <= pos) ++k;
        return spilled_[k].at + (pos - spilled_[k].pos);
    }

    // End of a run on a byte that is not text: run_ then [seg, seg + n).
    void end_run(const unsigned char* b, std::size_t seg, std::size_t n) {
        const std::size_t length = fill_ + n;
        if (length >= min_length_) {
            print_unit(b, seg, n, run_end_);
        } else if (length >= exempt_floor_) {
            spill(b, seg, n);
            std::size_t at = 0;
            if (const std::size_t kept = exempt_.find(run_, length, at); kept != 0) {
                print_exempt(at, kept);
                out_.end(run_end_);
            }
        }
        fill_ = 0;
        segments_ = 0;
    }

    // The run passed split_limit: out it goes with no line break, and the
    // end-of-run step sees an empty run, which only min_length 0 writes (an
    // exempt string never fits in an empty run).
    void write_split(const unsigned char* b, std::size_t seg, std::size_t n) {
        print_unit(b, seg, n, End::split);
        fill_ = 0;
        segments_ = 0;
        split_end_ = base_ + seg + n;
        run_start_ = split_end_;
        if (min_length_ == 0 && line_break_) {
            out_.text(run_, 0, split_end_, false);
            out_.end(End::line);
        }
    }

    const unsigned char* pairs_;
    Printer& out_;
    const std::uint32_t min_length_;
    const bool line_break_;
    const End run_end_;  // how a run that is not a split ends
    const ExemptPatterns exempt_;
    // Runs shorter than this hold no exempt string (SIZE_MAX: none given).
    const std::size_t exempt_floor_;
    const bool one_char_runs_;
    // Zero-initialised so the fixed-size copy of a short run never reads
    // indeterminate bytes. A block copy of a part of it from any position
    // reads, and a spill writes, less than spill_block bytes past the
    // run's max_split.
    static constexpr std::size_t run_room = run_capacity + spill_block;
    unsigned char run_[run_room] = {};
    std::size_t fill_ = 0;
    // Where each non-empty segment of the bytes in run_ starts there and in
    // the input: every segment holds at least one byte of the run.
    struct Spilled {
        std::size_t pos;
        std::uint64_t at;
    };
    Spilled spilled_[max_split] = {};
    std::size_t segments_ = 0;
    std::uint64_t run_start_ = 0;
    std::uint64_t split_end_ = no_split;
    bool fresh_ = true;
    bool in_run_ = false;
    std::uint64_t base_ = 0;
    // For a printer that reads lead-ins: the bytes no character holds, and
    // the last input bytes before the current piece.
    std::array<bool, 256> split_ = {};
    unsigned char history_[max_lead_in] = {};
    std::size_t history_size_ = 0;
    // The lead-in handed for the current run, and lead_, where it is
    // joined from the history or kept while the run waits for a piece.
    unsigned char lead_[max_lead_in] = {};
    const unsigned char* lead_at_ = nullptr;
    std::size_t lead_size_ = 0;
    const scan::SkipKernel& skip_kernel_;
    const scan::ByteSet lead_set_;  // the bytes that can start text
    const scan::ByteSet single_stops_;
    const scan::ByteSet single_set_;  // single-byte characters before any byte
    // Null when the table's double-byte pairs have no usable ranges or the
    // processor has no vector kernel for them.
    const PairRanges* const ranges_;
    // Runs are found from the block's unit masks (see by_masks()).
    const bool by_masks_;
    // Whether any byte is a single-byte character whatever follows it.
    const bool any_single_;
    // The positions of the piece whose pair is in the ranges.
    scan::UnitWindow pair_window_;
    const std::array<bool, 256> none_stops_;
    std::size_t size_ = 0;  // of the piece being scanned
};

// Under AddressSanitizer the piece buffer past the current piece's padding
// is poisoned: the last piece is shorter than the buffer, and a read beyond
// the padding contract is reported there too, not only at the buffer's end.
void fence_piece(unsigned char* buffer, std::size_t in_use, std::size_t capacity) {
    ASAN_UNPOISON_MEMORY_REGION(buffer, capacity);
    ASAN_POISON_MEMORY_REGION(buffer + in_use, capacity - in_use);
    static_cast<void>(buffer);
    static_cast<void>(in_use);
    static_cast<void>(capacity);
}

void apply_xor(unsigned char* data, std::size_t n, unsigned char key) {
    for (std::size_t k = 0; k < n; ++k) data[k] = static_cast<unsigned char>(data[k] ^ key);
}

// Prepares and scans one piece b[0, carry + got) of a buffer of `room`
// bytes: the padding contract, the XOR of the fresh bytes, the scan. Returns
// the count of bytes at the end the next piece starts with.
template <class Printer>
std::size_t scan_piece(Scanner<Printer>& scanner, unsigned char* b, std::size_t carry,
                       std::size_t got, bool last, std::size_t room, unsigned char key) {
    const std::size_t size = carry + got;
    assert(size + padding <= room);
    std::memset(b + size, 0, padding);
    fence_piece(b, size + padding, room);
    if (key != 0) apply_xor(b + carry, got, key);
    const std::size_t resume = scanner.scan(b, size, last);
    if (last) return 0;
    assert(resume <= size && size - resume <= max_carry);
    return size - resume;
}

// The scan of one printer as a PieceScanner.
template <class Printer>
class PrinterScanner final : public PieceScanner {
public:
    template <class... Args>
    PrinterScanner(const ScanTable& table, const ExtractionSettings& settings, Args&&... printer)
        : out_(std::forward<Args>(printer)...), scanner_(table, settings, out_),
          key_(static_cast<unsigned char>(settings.xor_value & 0xFFu)) {}

    bool allocated() const { return out_.allocated(); }
    std::size_t scan(unsigned char* b, std::size_t carry, std::size_t got, bool last,
                     std::size_t room, std::uint64_t base) override {
        scanner_.set_base(base);
        const std::size_t left = scan_piece(scanner_, b, carry, got, last, room, key_);
        // The buffer is the driver's again, to be filled whole.
        fence_piece(b, room, room);
        return left;
    }
    bool flush() override { return out_.flush(); }
    bool failed() const override { return out_.failed(); }
    std::uint64_t written() const override { return out_.written(); }
    StretchOutput stretch_output() const override { return out_.stretch_output(); }

private:
    Printer out_;
    Scanner<Printer> scanner_;
    unsigned char key_;
};

template <class Printer, class... Args>
std::unique_ptr<PieceScanner> make_scanner(const ScanTable& table, const ExtractionSettings& settings,
                                           Args&&... printer) {
    std::unique_ptr<PrinterScanner<Printer>> scanner(new (std::nothrow) PrinterScanner<Printer>(
        table, settings, std::forward<Args>(printer)...));
    if (!scanner || !scanner->allocated()) return nullptr;
    return scanner;
}

}  // namespace

std::unique_ptr<PieceScanner> PieceScanner::create(const ScanTable& table,
                                                   const ExtractionSettings& settings,
                                                   const OutputFormat* format, ByteSink& sink,
                                                   std::size_t output_buffer_size) {
    if (format != nullptr && format->text.on) {
        // The scan hands every run to the score, which applies the minimum
        // length to the part it keeps.
        ExtractionSettings scan = settings;
        scan.min_length = 1;
        const ScoreStage stage{format->text.min_score, format->text.show_score, settings.min_length,
                               settings.auto_newline != 0};
        if (format->json)
            return make_scanner<ScoringPrinter<JsonPrinter>>(table, scan, stage, sink,
                                                             output_buffer_size, *format);
        if (format->plain())
            return make_scanner<ScoringPrinter<PlainPrinter>>(table, scan, stage, sink,
                                                              output_buffer_size);
        return make_scanner<ScoringPrinter<TextPrinter>>(table, scan, stage, sink, output_buffer_size,
                                                         *format, settings.auto_newline != 0);
    }
    if (format == nullptr || format->plain())
        return make_scanner<PlainPrinter>(table, settings, sink, output_buffer_size);
    if (format->json) return make_scanner<JsonPrinter>(table, settings, sink, output_buffer_size, *format);
    return make_scanner<TextPrinter>(table, settings, sink, output_buffer_size, *format,
                                     settings.auto_newline != 0);
}

}  // namespace kurvane::detail
