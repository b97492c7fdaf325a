// What every printer shares: the limits of what one call hands it, the block
// buffer its output collects in, and the plain printer, which writes the
// runs as they are.
//
// A printer is a template parameter of the scan. The scan hands it each
// written unit of a run as one or more text() calls (the bytes in order,
// each with the input offset of its first byte) and one end() call, and it
// never asks what the printer does with them:
//   text(src, n, at, first)  n <= run_capacity bytes, copy_extent(n) readable
//                            from src; `first`: the first text of a run that
//                            does not go on from a split
//   end(End)                 the unit is complete (see End)
//   begin_stretch()          a stretch starts: no line is open
//   end_stretch()            the stretch ended; the scan state is fresh
// A printer that writes whole units fast (writes_units below) also takes
//   unit(cursor, src, n, at, first, End)
//                            the same bytes as text(src, n, at, first) and
//                            end(End), stored through the block scan's
//                            cursor (see BlockBuffer::cursor()), which it
//                            flushes when full
// and for the in-order writers of the threaded drivers, what a stretch's
// output inherits from the one before (see StretchOutput).
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "engine/pass_io.h"

namespace kurvane::detail {

// A run that holds more than split_limit bytes is written out at once
// without a line break, a split, and the scan goes on with an empty run.
inline constexpr std::size_t split_limit = 1000;
inline constexpr std::size_t max_char = 2;  // bytes of the longest character
// The character that takes a run past split_limit may be a double-byte
// one, so this is the most bytes any run or split holds.
inline constexpr std::size_t max_split = split_limit + max_char;
inline constexpr std::size_t crlf_size = 2;

// Runs are copied in fixed-size blocks: one short_copy block for a run of at
// most that many bytes, long_copy blocks for a longer one. A copy reads and
// stores copy_extent(n) bytes, more than the run's n.
inline constexpr std::size_t short_copy = 16;
inline constexpr std::size_t long_copy = 32;
constexpr std::size_t round_up(std::size_t n, std::size_t m) { return (n + m - 1) / m * m; }
constexpr std::size_t copy_extent(std::size_t n) {
    return n <= short_copy ? short_copy : round_up(n, long_copy);
}

[[gnu::always_inline]] inline void copy_run(unsigned char* dst, const unsigned char* src, std::size_t n) {
    // A fixed-size copy is one vector move; most runs in binary data are a
    // few bytes long, where a variable-length memcpy costs more than the run.
    if (n <= short_copy) {
        std::memcpy(dst, src, short_copy);
        return;
    }
    // Longer runs are a few dozen bytes in text: whole blocks beat a call to
    // a variable-length copy.
    for (std::size_t k = 0; k < n; k += long_copy) std::memcpy(dst + k, src + k, long_copy);
}

// The run buffer holds a run spilled out of the input and is read back by
// copy_run, so it has room for the copy of the longest run. match_exempt
// promises its callers the same room.
inline constexpr std::size_t run_capacity = copy_extent(max_split);
static_assert(run_capacity == 1024);

// How a written unit ends: a run with its line break, a run without one
// (line breaks are off), or a split of a run that goes on.
enum class End { line, run, split };

// What a stretch's output inherits from the output before it, for the
// writers that put stretches scanned apart in order: a stretch is scanned
// as if it started a line, and when the output before it left a line open
// its first `lead_prefix` bytes (the line's prefix) are not written.
struct StretchOutput {
    std::size_t lead_prefix = 0;  // bytes of the prefix the stretch's output starts with
    bool wrote = false;           // the stretch wrote anything
    bool line_open = false;       // its output ends inside a line
};

// The block scan's write position in the output buffer and the limit of the
// buffer it points into, as one value: a flush may trade the buffer for
// another, and whatever fetches the position again gets the limit of the
// same buffer with it.
struct OutputCursor {
    unsigned char* pos;
    const unsigned char* limit;
    // At the limit or past it the buffer must be flushed before the next store.
    bool full() const { return pos >= limit; }
};

// A buffer of `capacity` bytes and `slack` more behind it, handed to the
// sink whole each time it fills: what every printer's output shares.
class BlockBuffer {
public:
    BlockBuffer(ByteSink& sink, std::size_t capacity, std::size_t slack)
        : sink_(sink), capacity_(std::max<std::size_t>(capacity, 1)), slack_(slack),
          buffer_(new (std::nothrow) unsigned char[size()]) {}

    // The size of each buffer: the capacity and the slack behind it.
    std::size_t size() const { return capacity_ + slack_; }
    bool allocated() const { return buffer_ != nullptr; }
    bool failed() const { return failed_; }
    std::uint64_t written() const { return written_; }

    // Hands the filled part to the sink, which may trade the buffer for
    // another of the same size.
    bool flush() {
        if (fill_ > 0 && !failed_) {
            if (sink_.write_buffer(buffer_, size(), fill_))
                written_ += fill_;
            else
                failed_ = true;
        }
        fill_ = 0;
        return !failed_;
    }

    // The write position, for the block scan, which keeps it in registers:
    // a byte stored through a member pointer could alias any member, so
    // every store would reload them. Stores through the cursor follow the
    // printer's contract: each starts before the limit and ends within the
    // slack. set_cursor() hands the position back before anything else
    // appends or flushes, and cursor() is fetched again after.
    OutputCursor cursor() const {
        unsigned char* const start = buffer_.get();
        return {start + fill_, start + capacity_};
    }
    void set_cursor(OutputCursor c) {
        assert(c.limit == buffer_.get() + capacity_ && c.pos >= buffer_.get() &&
               c.pos <= buffer_.get() + capacity_ + slack_);
        fill_ = static_cast<std::size_t>(c.pos - buffer_.get());
    }
    // Hands the cursor back, flushes and fetches it again, from the new
    // buffer if the sink traded it.
    void flush(OutputCursor& c) {
        set_cursor(c);
        flush();
        c = cursor();
    }

protected:
    // Any number of bytes, a buffer at a time (a file name may be long).
    void put(const unsigned char* p, std::size_t n) {
        while (n > 0) {
            const std::size_t take = std::min(n, capacity_ - fill_);
            std::memcpy(buffer_.get() + fill_, p, take);
            fill_ += take;
            p += take;
            n -= take;
            if (fill_ >= capacity_) flush();
        }
    }

    ByteSink& sink_;
    const std::size_t capacity_;
    const std::size_t slack_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t fill_ = 0;

private:
    std::uint64_t written_ = 0;
    bool failed_ = false;
};

// A printer that takes a whole unit in one call, through the cursor.
template <class Printer>
concept writes_units = requires(Printer& p, OutputCursor& c, const unsigned char* src) {
    p.unit(c, src, std::size_t{}, std::uint64_t{}, true, End::line);
};

// The plain printer: the runs' code page 932 bytes, each run ended by CR LF.
// The block scan stores through its cursor, kept in registers.
class PlainPrinter : public BlockBuffer {
public:
    // The scan may store through cursor() itself (see BlockBuffer).
    static constexpr bool raw = true;
    // The most bytes one append stores from the write position: the copy of
    // the run, or the run and the line break behind it. A run of one
    // character in the block scan stores one short copy and the line break
    // within it.
    static constexpr std::size_t max_store = std::max(copy_extent(max_split), max_split + crlf_size);
    static_assert(copy_extent(max_char) >= max_char + crlf_size);
    // Every store starts before the limit (a full buffer is flushed first)
    // and takes at most max_store bytes, so it ends at most this far past it.
    static constexpr std::size_t slack = max_store - 1;

    PlainPrinter(ByteSink& sink, std::size_t capacity) : BlockBuffer(sink, capacity, slack) {}

    void text(const unsigned char* src, std::size_t n, std::uint64_t, bool) {
        assert(n <= max_split && fill_ < capacity_);
        copy_run(buffer_.get() + fill_, src, n);
        fill_ += n;
        if (fill_ >= capacity_) flush();
    }
    void end(End e) {
        if (e != End::line) return;
        unsigned char* dst = buffer_.get() + fill_;
        dst[0] = '\r';
        dst[1] = '\n';
        fill_ += crlf_size;
        if (fill_ >= capacity_) flush();
    }
    void begin_stretch() {}
    void end_stretch() {}
    StretchOutput stretch_output() const { return {}; }
};

}  // namespace kurvane::detail
