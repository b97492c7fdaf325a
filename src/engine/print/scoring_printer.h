// The printer stage that keeps only the runs that read as Japanese text: it
// collects each run the scan hands it, scores it with the bytes just before
// it, and hands the part the score keeps to the printer of the output
// format. Runs that do not read as text are never written.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "engine/classes/text_score.h"
#include "engine/print/printer.h"
#include "text/text_encoding.h"

namespace kurvane::detail {

// A run is scored whole up to this many bytes. A longer one, which the scan
// hands over in splits, is scored a window at a time: each window is kept,
// trimmed or dropped on its own, and kept windows that meet stay one line.
inline constexpr std::size_t score_window = 8 * split_limit;

// What the stage needs besides the format's printer.
struct ScoreStage {
    int min_score = default_min_score;
    bool show_score = false;      // each line's text starts with its score
    std::uint32_t min_length = 1; // the least bytes of a kept part
    bool line_break = true;       // a run ends its line
};

// The score as the prefix of a line's text: right-aligned in 3 columns and
// a space.
inline constexpr std::size_t score_prefix_size = 4;

template <class Inner>
class ScoringPrinter {
public:
    static constexpr bool raw = false;

    template <class... Args>
    explicit ScoringPrinter(const ScoreStage& stage, Args&&... inner)
        : inner_(std::forward<Args>(inner)...), stage_(stage), dismissal_(stage.min_score),
          run_end_(stage.line_break ? End::line : End::run),
          bytes_(new (std::nothrow) unsigned char[buffer_room]()), window_(bytes_.get() + lead_slack) {
        segments_.reserve(64);
    }

    bool allocated() const { return bytes_ != nullptr && inner_.allocated(); }
    bool flush() { return inner_.flush(); }
    bool failed() const { return inner_.failed(); }
    std::uint64_t written() const { return inner_.written(); }
    StretchOutput stretch_output() const { return inner_.stretch_output(); }

    // The decoded input bytes just before a run that starts at input offset
    // `at` (at most max_lead_in), called before the first text() of a run
    // that does not go on from a split; they stay readable until the end()
    // of the run's first unit, as a unit's texts do until its end(), so
    // they are read in place, not copied. A run still open ended after a
    // split with nothing more to write: it ends here.
    void lead_in(const unsigned char* p, std::size_t n, std::uint64_t at) {
        assert(n <= max_lead_in && at >= n && !deferred_);
        if (collecting_) decide(true);
        lead_src_ = p;
        pending_size_ = n;
        pending_at_ = at - n;
    }

    // A whole run, one text() that a split does not go on, with no bytes
    // before it to read with it: what lead_in() with none, text() and
    // end(e) do with it. A kept part of it starts in the run, after the
    // byte no character holds that ended the run before, so it never goes
    // on with the line that run left open: the line is closed whether the
    // run is kept or dropped. Most runs of data come so and are dismissed
    // here, without the state of a run put off.
    [[gnu::always_inline]] void run_without_lead_in(const unsigned char* src, std::size_t n, std::uint64_t at,
                                                    End e) {
        assert(!deferred_ && e != End::split);
        if (collecting_) [[unlikely]] decide(true);
        pending_size_ = 0;
        if (n > 0 && dismissal_.dismisses(std::span<const unsigned char>(src, n), 0)) {
            close_line();
            return;
        }
        keep_without_lead_in(src, n, at, e);
    }

    // text() and end() are inlined where the scan calls them, once a run:
    // most runs take their first branch, which costs less than the call.
    [[gnu::always_inline]] void text(const unsigned char* src, std::size_t n, std::uint64_t at, bool first) {
        // Most runs are one text() that lies in the input right after its
        // lead-in: that run is weighed in place at its end(), and copied
        // only when it may be kept.
        if (!deferred_ && !collecting_ && first && n > 0 &&
            (pending_size_ == 0 || lead_src_ + pending_size_ == src || unprinted_lead() == 0)) {
            put_off(src, n, at);
            return;
        }
        collect(src, n, at, first);
    }
    [[gnu::always_inline]] void end(End e) {
        if (deferred_ && e != End::split) {
            const std::size_t lead = unprinted_lead();
            if (dismissal_.dismisses(std::span<const unsigned char>(deferred_src_ - lead, lead + deferred_size_),
                                     lead)) {
                // As decide() drops a run: it closes the line left open.
                deferred_ = false;
                pending_size_ = 0;
                close_line();
                return;
            }
        }
        end_collected(e);
    }
    void begin_stretch() {
        inner_.begin_stretch();
        collecting_ = false;
        open_ = false;
        deferred_ = false;
        printed_end_ = 0;
        pending_size_ = 0;
    }
    void end_stretch() {
        // A run that ended right after a split (with nothing more to write)
        // ends here, as it does where the next run starts, and so does the
        // line left open for a run that did not go on with it.
        assert(!deferred_);
        if (collecting_) decide(true);
        close_line();
        inner_.end_stretch();
    }

private:
    // A window holds its lead-in, its part of a run and the split that
    // takes it past score_window: at most buffer_size bytes. The lead-in
    // starts the window right-aligned before lead_slack (the lead-in the
    // window before leaves waits there in place), so the window starts at most
    // lead_slack bytes in; after it there is room for the block copies of
    // the bytes appended (copy_run) and handed to the format's printer.
    static constexpr std::size_t lead_slack = max_lead_in;
    static constexpr std::size_t buffer_size = lead_slack + score_window + max_split;
    static constexpr std::size_t buffer_room = lead_slack + buffer_size + run_capacity;
    static_assert(score_window >= max_split && score_window % split_limit == 0);
    static_assert(copy_extent(max_split) <= run_capacity);

    // Where the lead-in of a window ends.
    unsigned char* pending() { return bytes_.get() + lead_slack; }

    // A stretch of the collected bytes that lay contiguous in the input.
    struct Segment {
        std::size_t pos;
        std::uint64_t at;
        std::size_t size;
    };

    // The bytes of the pending lead-in not written yet: a kept part may
    // have taken the first of them.
    std::size_t unprinted_lead() const {
        if (printed_end_ <= pending_at_) return pending_size_;
        return pending_size_ - static_cast<std::size_t>(std::min<std::uint64_t>(printed_end_ - pending_at_, pending_size_));
    }

    // A window starts: with the run's lead-in when a run starts, else with
    // the last bytes of the window before (the bytes just before this one),
    // but never with a byte already written. The lead-in is moved in front
    // of lead_slack (from where the window before left it, or from the
    // input).
    void start_window() {
        segments_.clear();
        collecting_ = true;
        lead_ = unprinted_lead();
        window_ = pending() - lead_;
        const unsigned char* const from = lead_src_ + (pending_size_ - lead_);
        // Most lead-ins are a few bytes, for which a call to memcpy costs
        // more than they do.
        if (from != window_) {
            if (lead_ >= 4) {
                std::memcpy(window_, from, 4);
                std::memcpy(window_ + lead_ - 4, from + lead_ - 4, 4);
            } else {
                for (std::size_t k = 0; k < lead_; ++k) window_[k] = from[k];
            }
        }
        if (lead_ > 0) segments_.push_back({0, pending_at_ + (pending_size_ - lead_), lead_});
        size_ = lead_;
        pending_size_ = 0;
    }

    // text() for any text but a run's first with nothing held: the run
    // before is collected or ended first, and this one may still be put off.
    [[gnu::noinline]] void collect(const unsigned char* src, std::size_t n, std::uint64_t at, bool first) {
        if (deferred_) collect_deferred();  // the unit has more than one text
        if (first && collecting_) decide(true);
        if (!collecting_) {
            const std::size_t lead = unprinted_lead();
            if (first && n > 0 && (lead == 0 || lead_src_ + pending_size_ == src)) {
                put_off(src, n, at);
                return;
            }
            start_window();
        }
        append(src, n, at);
    }

    // What run_without_lead_in() does with a run the dismissal did not drop.
    [[gnu::noinline]] void keep_without_lead_in(const unsigned char* src, std::size_t n, std::uint64_t at, End e) {
        lead_in(src, 0, at);
        if (n == 0) {
            text(src, n, at, true);
            end(e);
            return;
        }
        put_off(src, n, at);
        end_collected(e);
    }

    // What end() does with a run the dismissal did not drop.
    [[gnu::noinline]] void end_collected(End e) {
        if (deferred_) {
            collect_deferred();
            if (e != End::split) {
                // The dismissal has already let the run through.
                decide(true, false);
                return;
            }
        }
        if (e != End::split) {
            decide(true);
        } else if (size_ + max_split > buffer_size - lead_slack) {
            decide(false);
        }
    }

    void put_off(const unsigned char* src, std::size_t n, std::uint64_t at) {
        deferred_ = true;
        deferred_src_ = src;
        deferred_size_ = n;
        deferred_at_ = at;
    }

    // The run put off at its text(), now collected as any other.
    void collect_deferred() {
        deferred_ = false;
        start_window();
        append(deferred_src_, deferred_size_, deferred_at_);
    }

    void append(const unsigned char* src, std::size_t n, std::uint64_t at) {
        if (n == 0) return;
        assert(size_ + n <= buffer_size);
        copy_run(window_ + size_, src, n);
        if (!segments_.empty() && segments_.back().at + segments_.back().size == at &&
            segments_.back().pos + segments_.back().size == size_) {
            segments_.back().size += n;
        } else {
            segments_.push_back({size_, at, n});
        }
        size_ += n;
    }

    // The input offset just after collected byte `pos - 1`.
    std::uint64_t offset_after(std::size_t pos) const {
        for (const Segment& s : segments_)
            if (pos > s.pos && pos <= s.pos + s.size) return s.at + (pos - s.pos);
        return 0;
    }
    std::uint64_t offset_of(std::size_t pos) const {
        for (const Segment& s : segments_)
            if (pos >= s.pos && pos < s.pos + s.size) return s.at + (pos - s.pos);
        return 0;
    }

    void close_line() {
        // Most runs close no line: they store nothing.
        if (open_) {
            inner_.end(run_end_);
            open_ = false;
        }
    }

    // Scores the window collected and writes what it keeps. `run_ends`:
    // the run ends with it; otherwise more of the run follows. `dismiss`:
    // the quick test is still to be made.
    void decide(bool run_ends, bool dismiss = true) {
        if (!collecting_) return;
        if (size_ == lead_) {  // nothing of the run came after the lead-in
            collecting_ = false;
            return;
        }
        const std::span<const unsigned char> window(window_, size_);
        // A run the dismissal lets through may reach the threshold, so
        // score_cp932 need not look for the same bound again: with a
        // threshold of 0 it gives the same score and part to keep, and
        // only those of a run that reaches the threshold are used.
        const ScoredRun s =
            dismiss && dismissal_.dismisses(window, lead_) ? ScoredRun{} : score_cp932(window, lead_, 0);
        const std::size_t begin = s.keep_begin;
        const std::size_t end = s.keep_end;
        // A kept part that starts where the line written last stopped goes
        // on with it: the next window of a long run, or the next run when
        // the scan cut a sentence in two where it read a character out of
        // step (the part kept then starts in the lead-in, and the one before
        // may end short of its run's end).
        const bool goes_on = open_ && s.kept(0) && offset_of(begin) == printed_end_;
        const bool keep = s.kept(stage_.min_score) &&
                          (goes_on || (end - begin >= stage_.min_length &&
                                       cp932_holds_word(window.subspan(begin, end - begin))));
        if (!(keep && goes_on)) close_line();
        if (keep) {
            const bool prefixed = !goes_on && write_score(s.score, offset_of(begin));
            write(begin, end, !goes_on && !prefixed);
            printed_end_ = offset_after(end);
            // The line stays open: the next window or run may go on with it.
            open_ = true;
            inner_.end(End::split);
        }
        if (run_ends) {
            collecting_ = false;
            return;
        }
        // The window's last bytes lead in to the next.
        const Segment& last = segments_.back();
        pending_size_ = std::min(last.size, max_lead_in);
        std::memmove(pending() - pending_size_, window_ + last.pos + last.size - pending_size_, pending_size_);
        lead_src_ = pending() - pending_size_;
        pending_at_ = last.at + last.size - pending_size_;
        start_window();
    }

    // Gives a line's score to the format's printer: JSON takes it as a
    // field, text as the prefix of the line's text when asked for. True
    // when a prefix was written, which opened the line.
    bool write_score(int score, std::uint64_t at) {
        if constexpr (requires(Inner& p) { p.set_score(0); }) {
            inner_.set_score(score);
            return false;
        } else {
            if (!stage_.show_score) return false;
            // The copy of a short unit reads short_copy bytes.
            unsigned char prefix[short_copy] = {' ', ' ', ' ', ' '};
            static_assert(score_prefix_size <= short_copy);
            auto v = static_cast<unsigned>(std::clamp(score, 0, 100));
            std::size_t k = score_prefix_size - 1;
            do {
                prefix[--k] = static_cast<unsigned char>('0' + v % 10);
                v /= 10;
            } while (v != 0);
            inner_.text(prefix, score_prefix_size, at, true);
            return true;
        }
    }

    // Hands bytes [begin, end) to the format's printer, a segment at a time
    // and at most split_limit bytes a call, cut between characters.
    void write(std::size_t begin, std::size_t end, bool first) {
        for (const Segment& s : segments_) {
            const std::size_t lo = std::max(begin, s.pos);
            const std::size_t hi = std::min(end, s.pos + s.size);
            if (lo >= hi) continue;
            std::size_t from = lo;
            for (std::size_t p = lo; p < hi;) {
                const std::size_t width = text::is_cp932_lead(window_[p]) && p + 1 < hi ? 2 : 1;
                if (p + width - from > split_limit) {
                    inner_.text(window_ + from, p - from, s.at + (from - s.pos), first);
                    first = false;
                    from = p;
                }
                p += width;
            }
            inner_.text(window_ + from, hi - from, s.at + (from - s.pos), first);
            first = false;
        }
    }

    Inner inner_;
    const ScoreStage stage_;
    const Cp932Dismissal dismissal_;
    const End run_end_;
    std::unique_ptr<unsigned char[]> bytes_;
    unsigned char* window_;  // the window's first byte, in bytes_
    std::vector<Segment> segments_;
    std::size_t size_ = 0;
    std::size_t lead_ = 0;
    bool collecting_ = false;  // a window is being collected
    bool open_ = false;        // the format's printer has a split open
    std::uint64_t printed_end_ = 0;
    // The lead-in of the next window: pending_size_ bytes from lead_src_,
    // the first at input offset pending_at_.
    const unsigned char* lead_src_ = nullptr;
    std::size_t pending_size_ = 0;
    std::uint64_t pending_at_ = 0;
    // A run's only text so far, not yet collected (see text()).
    bool deferred_ = false;
    const unsigned char* deferred_src_ = nullptr;
    std::size_t deferred_size_ = 0;
    std::uint64_t deferred_at_ = 0;
};

}  // namespace kurvane::detail
