// The threaded plain pass over a source that reads at any offset (a regular
// file). Every scanning thread reads, scans and writes its own stretches:
// no thread reads for the others or writes for them, so a stretch costs one
// read, one scan and one write, and the only hand-over is the turn to write.
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
#include <immintrin.h>
#endif

#include "engine/drive/overlapped_io.h"  // KURVANE_ENGINE_THREADS and the thread headers
#include "engine/drive/parallel_pass.h"
#include "engine/print/printer.h"

#if KURVANE_ENGINE_THREADS
namespace kurvane::detail {
namespace {

// Stretch k nominally covers [k * stretch, (k + 1) * stretch). Its boundary
// is the position after the last split byte in the window of `window` bytes
// before k * stretch; a window without one has no boundary, and the stretch
// before runs on through it on the same thread. Both the thread that takes
// stretch k and the one that scans up to it look at that window: the first
// to decide fixes the answer for both in a ring of decisions.
constexpr std::size_t window_divisor = 16;
constexpr std::size_t max_window = std::size_t{16} << 10;
std::size_t window_for(std::size_t stretch) {
    return std::clamp<std::size_t>(stretch / window_divisor, 1, max_window);
}

// Decisions for the stretches from the one whose output goes next: a thread
// takes no stretch this far ahead of it, and a run that began after the
// turn's stretch decides no boundary this far ahead of it either. So a slot
// is taken over only when the turn has passed its stretch or a run that
// began at the turn covers it: nobody still needs its decision.
constexpr std::size_t decision_ring = 256;
// A decision is the stretch number plus one in the high half (0: none yet)
// and the cut's position in its window plus one in the low half (0: the
// window holds no split byte).
constexpr unsigned decision_shift = 32;
constexpr std::uint64_t decision_mask = (std::uint64_t{1} << decision_shift) - 1;
static_assert(max_window < decision_mask);

constexpr std::uint64_t all_written = UINT64_MAX;

// A wait for the turn spins this many times before it sleeps: about a
// tenth of a millisecond.
constexpr unsigned spin_limit = 4000;
inline void relax() {
#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

class PositionalPass;

// One scanning thread's sink: the first write waits for the thread's turn,
// every write goes to the pass's output at once.
class TurnSink final : public ByteSink {
public:
    explicit TurnSink(PositionalPass& pass) : pass_(pass) {}
    void begin(std::uint64_t stretch, const PieceScanner& scanner) {
        stretch_ = stretch;
        scanner_ = &scanner;
        holds_turn_ = false;
        passed_ = false;
        skip_known_ = false;
        skip_ = 0;
        write_errno_ = 0;
    }
    // Waits until the output of the stretch begun is next. False when the
    // pass ended before it (an earlier failure): its output is dropped.
    bool take_turn();
    bool write(const unsigned char* data, std::size_t n) override;
    int error() const override { return write_errno_; }
    bool passed() const { return passed_; }
    bool write_failed() const { return write_errno_ != 0; }

private:
    PositionalPass& pass_;
    std::uint64_t stretch_ = 0;
    const PieceScanner* scanner_ = nullptr;
    bool holds_turn_ = false;
    // Bytes at the start of the stretch's output not to write: the line
    // prefix it starts with when the output before it left a line open.
    bool skip_known_ = false;
    std::size_t skip_ = 0;
    bool passed_ = false;
    int write_errno_ = 0;
};

class PositionalPass {
public:
    PositionalPass(ByteSource& input, ByteSink& output, const ExtractionSettings& settings,
                   const PassOptions& options, unsigned threads, std::uint64_t size)
        : input_(input), output_(output), settings_(settings), options_(options),
          size_(size) {
        parallel_sizes(threads, options, stretch_, output_buffer_);
        window_ = window_for(stretch_);
        room_ = piece_headroom + window_ + stretch_ + piece_padding;
        count_ = std::max<std::uint64_t>(1, (size_ + stretch_ - 1) / stretch_);
        // A small file has fewer stretches than there are threads.
        threads_ = static_cast<unsigned>(std::min<std::uint64_t>(threads, count_));
        spin_ = threads_ <= std::max(1u, std::thread::hardware_concurrency());
        for (auto& d : decisions_) d.store(0, std::memory_order_relaxed);
    }

    ~PositionalPass() {
        for (auto& worker : workers_)
            if (worker->thread.joinable()) worker->thread.join();
    }

    // False when the memory for the table or the calling thread's share is
    // not to be had; nothing has been read then.
    bool start() {
        table_ = make_cut_table(settings_, options_.input_encoding, cuts_);
        if (!table_) return false;
        workers_.reserve(threads_);
        for (unsigned w = 0; w < threads_; ++w) {
            std::unique_ptr<Worker> worker(new (std::nothrow) Worker(*this));
            if (!worker) break;
            worker->buffer.reset(new (std::nothrow) unsigned char[room_]);
            if (!worker->buffer) break;
            worker->scanner =
                PieceScanner::create(*table_, settings_, options_, worker->sink, output_buffer_);
            if (!worker->scanner) break;
            workers_.push_back(std::move(worker));
        }
        return !workers_.empty();
    }

    ExtractStatus run() {
        // The calling thread is the first worker; a thread that does not
        // start takes nothing, and the others take its share.
        for (std::size_t w = 1; w < workers_.size(); ++w) {
            try {
                workers_[w]->thread = std::thread([this, w] { work(*workers_[w], false); });
            } catch (const std::system_error&) {
                break;
            }
        }
        work(*workers_[0], true);
        for (auto& worker : workers_)
            if (worker->thread.joinable()) worker->thread.join();
        if (progress() != nullptr) (*progress())(status_.bytes_in);
        return status_;
    }

    // Waits until the output of `stretch` is next: true then, false when the
    // pass ended before it.
    bool wait_turn(std::uint64_t stretch) {
        wait_for_turn([stretch](std::uint64_t turn) { return turn >= stretch; });
        return turn_.load(std::memory_order_acquire) == stretch;
    }

    // Whether the output written so far ends inside a line; called by the
    // holder of the turn only, as is line_ends().
    bool line_open() const { return line_open_; }
    void line_ends(const StretchOutput& output) {
        if (output.wrote) line_open_ = output.line_open;
    }

    // Called by the holder of the turn only.
    bool write_output(const unsigned char* data, std::size_t n, int& error) {
        if (output_.write(data, n)) {
            status_.bytes_out += n;
            return true;
        }
        error = output_.error() != 0 ? output_.error() : EIO;
        return false;
    }

private:
    struct Worker {
        explicit Worker(PositionalPass& pass) : sink(pass) {}
        TurnSink sink;
        std::unique_ptr<PieceScanner> scanner;
        std::unique_ptr<unsigned char[]> buffer;  // headroom, window, stretch, padding
        std::thread thread;
    };

    const std::function<void(std::uint64_t)>* progress() const { return options_.progress_to_call(); }

    std::uint64_t stretch_start(std::uint64_t k) const { return k * stretch_; }

    // The cut in window w[0, window_): one past the last split byte's
    // position plus one, 0 without any.
    std::uint64_t cut_in(const unsigned char* w) const {
        const std::size_t cut = cuts_.last(w, window_);
        return cut == 0 ? 0 : cut + 1;
    }

    // The decision for the boundary of stretch k, given this thread's own
    // reading `mine` (as cut_in gives it): the first one recorded wins. A
    // thread so late that the ring has moved on finds its stretch written or
    // inside a run in progress: 0, it scans nothing. (Its own reading could
    // differ from the one recorded if the file changed between the reads.)
    std::uint64_t settle(std::uint64_t k, std::uint64_t mine) {
        std::atomic<std::uint64_t>& slot = decisions_[k % decision_ring];
        const std::uint64_t tag = (k + 1) << decision_shift;
        std::uint64_t seen = slot.load(std::memory_order_acquire);
        for (;;) {
            if ((seen & ~decision_mask) == tag) return seen & decision_mask;
            if ((seen >> decision_shift) > k + 1) return 0;
            if (slot.compare_exchange_weak(seen, tag | mine, std::memory_order_acq_rel))
                return mine;
        }
    }

    // Takes the next stretch, no further than the ring of decisions reaches.
    bool take(std::uint64_t& k) {
        k = next_.fetch_add(1, std::memory_order_relaxed);
        if (k >= count_) return false;
        const std::uint64_t stretch = k;
        wait_for_turn([stretch](std::uint64_t turn) {
            return turn == all_written || stretch < turn + decision_ring;
        });
        return turn_.load(std::memory_order_acquire) != all_written;
    }

    // Waits until `ready` holds for the turn, without a lock while it
    // already does. (A mutex and a condition: the C++20 atomic wait of some
    // toolchains misses wake-ups.)
    template <class Ready>
    void wait_for_turn(Ready ready) {
        if (ready(turn_.load(std::memory_order_acquire))) return;
        // The wait is mostly for another thread's write, a fraction of a
        // millisecond: while every thread has a core it is spun out, since
        // sleeping and waking costs as much (under Wine, round trips to its
        // server).
        if (spin_) {
            for (unsigned k = 0; k < spin_limit; ++k) {
                relax();
                if (ready(turn_.load(std::memory_order_acquire))) return;
            }
        }
        std::unique_lock<std::mutex> lock(turn_mutex_);
        turn_changed_.wait(lock, [this, &ready] {
            return ready(turn_.load(std::memory_order_acquire));
        });
    }

    // Passes the turn on (all_written: the pass ended).
    void pass_turn(std::uint64_t to) {
        {
            std::lock_guard<std::mutex> lock(turn_mutex_);
            turn_.store(to, std::memory_order_release);
        }
        turn_changed_.notify_all();
    }

    void work(Worker& me, bool reports_progress) {
        std::uint64_t k = 0;
        while (take(k)) {
            const std::uint64_t through = run_stretch(me, k);
            if (reports_progress && through != 0 && progress() != nullptr) (*progress())(through);
        }
    }

    // Ends the pass at the holder of the turn: nothing after it is written.
    void end_pass() { pass_turn(all_written); }

    // Scans stretch k and the stretches it runs on through, writes their
    // output in its turn and passes the turn on. Returns the input offset
    // through which the output is written, or 0 when it wrote nothing.
    std::uint64_t run_stretch(Worker& me, std::uint64_t k);

    ByteSource& input_;
    ByteSink& output_;
    const ExtractionSettings& settings_;
    const PassOptions& options_;
    const std::uint64_t size_;
    unsigned threads_ = 1;
    std::size_t stretch_ = 0;
    std::size_t window_ = 0;
    std::size_t output_buffer_ = 0;
    std::size_t room_ = 0;
    std::uint64_t count_ = 0;
    bool spin_ = false;  // every thread has a core: a short wait is spun out

    std::unique_ptr<ScanTable> table_;
    StretchCuts cuts_;
    std::vector<std::unique_ptr<Worker>> workers_;

    std::atomic<std::uint64_t> next_{0};  // the next stretch to take
    // The stretch whose output goes next; all_written once the pass ended.
    // Changed under turn_mutex_, read without it where a stale value only
    // means a wait.
    std::atomic<std::uint64_t> turn_{0};
    std::mutex turn_mutex_;
    std::condition_variable turn_changed_;
    std::atomic<std::uint64_t> decisions_[decision_ring];
    // Written by the holder of the turn only, read after the threads end.
    ExtractStatus status_;
    bool line_open_ = false;  // by the holder of the turn only
};

bool TurnSink::take_turn() {
    if (!holds_turn_ && !passed_) {
        holds_turn_ = pass_.wait_turn(stretch_);
        passed_ = !holds_turn_;
    }
    return holds_turn_;
}

bool TurnSink::write(const unsigned char* data, std::size_t n) {
    if (!take_turn() || write_errno_ != 0) return false;
    if (!skip_known_) {
        // The first write comes after the prefix the output starts with was
        // begun, so its length is known.
        skip_known_ = true;
        skip_ = pass_.line_open() ? scanner_->stretch_output().lead_prefix : 0;
    }
    const std::size_t skipped = std::min(skip_, n);
    skip_ -= skipped;
    if (skipped == n) return true;
    return pass_.write_output(data + skipped, n - skipped, write_errno_);
}

std::uint64_t PositionalPass::run_stretch(Worker& me, std::uint64_t k) {
    unsigned char* const buffer = me.buffer.get();
    // Where the first byte of each stretch read lands: the window before it.
    unsigned char* const at = buffer + piece_headroom + window_;
    const std::size_t room_from_at = room_ - piece_headroom - window_;
    int read_errno = 0;
    bool short_read = false;

    // The first read takes the window with the stretch.
    const std::size_t before = k == 0 ? 0 : window_;
    const std::size_t want = before + stretch_;
    const std::size_t got = input_.read_at(stretch_start(k) - before, at - before, want, read_errno);
    unsigned char* piece = at;
    std::size_t fresh = 0;
    const bool window_read = got >= before;
    if (window_read) {
        fresh = got - before;
        if (k > 0) {
            const std::uint64_t cut = settle(k, cut_in(at - before));
            if (cut == 0) return 0;  // the stretch before runs on through this one
            piece = at - before + (cut - 1);
        }
    }
    // Otherwise the window is unread, so the boundary is not decided here:
    // the stretch before decides it. Should the turn come to this stretch,
    // a read failure is reported in it; a short read without one means the
    // data ends before the stretch does (the file shrank since the stretch
    // before read its part), and the pass ends there cleanly, as the scan
    // of the empty rest below finds: the outcome of a file that shrinks
    // does not depend on which thread saw it.
    me.sink.begin(k, *me.scanner);
    std::size_t carry = 0;
    std::uint64_t j = k;  // the stretch being scanned
    for (;;) {
        if (read_errno != 0) break;
        // A short read without an error is the end of the data: at the size
        // the file had, or before it when it shrank since. The last stretch
        // reads on past that size until the data ends (a file that grew, or
        // one whose size says 0, as in /proc), so it has no boundary after it.
        short_read = fresh < stretch_;
        std::size_t scanned = static_cast<std::size_t>(at - piece) + fresh;
        bool ends = short_read;
        if (!short_read && j + 1 < count_) {
            // The next stretch's boundary, decided before the XOR runs over
            // it; a run that began after the turn's stretch first waits for
            // the turn to come within the ring (see decision_ring).
            wait_for_turn([k, j](std::uint64_t turn) {
                return turn >= k || j + 1 < turn + decision_ring;
            });
            const std::uint64_t cut = settle(j + 1, cut_in(at + stretch_ - window_));
            if (cut != 0) {
                scanned -= window_ - (cut - 1);
                ends = true;
            }
        }
        const std::size_t room = static_cast<std::size_t>(at - piece) + room_from_at;
        const std::size_t left = me.scanner->scan(piece, carry, scanned - carry, ends, room,
                                                  stretch_start(j) - static_cast<std::size_t>(at - piece));
        if (me.sink.passed() || me.sink.write_failed()) break;
        ++j;
        if (ends) break;
        // Runs on: the bytes the scan left go before the next stretch.
        std::memmove(at - left, at + fresh - left, left);
        carry = left;
        piece = at - left;
        fresh = input_.read_at(stretch_start(j), at, stretch_, read_errno);
    }
    // Whatever came out goes now, in turn; a stretch without output waits
    // for its turn all the same, to pass it on in order.
    const bool flushed = me.scanner->flush();
    if (!me.sink.take_turn()) return 0;
    line_ends(me.scanner->stretch_output());
    const std::uint64_t through = stretch_start(j);
    if (me.sink.write_failed() || !flushed) {
        status_.error = ExtractError::write_output;
        status_.sys_errno = me.sink.error();
        status_.bytes_in = through;
        end_pass();
        return 0;
    }
    if (read_errno != 0 || short_read) {
        if (read_errno != 0) {
            status_.error = ExtractError::read_input;
            status_.sys_errno = read_errno;
            status_.bytes_in = stretch_start(j);
        } else if (!window_read) {
            // The data ended in this stretch's window, so the turn came
            // from the stretch before, which decided the boundary there
            // and scanned up to it.
            const std::uint64_t cut = settle(k, 0);
            status_.bytes_in = cut != 0 ? stretch_start(k) - window_ + (cut - 1) : stretch_start(k);
        } else {
            status_.bytes_in = stretch_start(j - 1) + fresh;
        }
        end_pass();
        return status_.bytes_in;
    }
    pass_turn(j);
    return through;
}

}  // namespace

ExtractStatus run_positional_pass(ByteSource& input, ByteSink& output,
                                  const ExtractionSettings& settings, const PassOptions& options,
                                  unsigned threads, std::uint64_t size, bool& ran) {
    PositionalPass pass(input, output, settings, options, threads, size);
    ran = pass.start();
    if (!ran) return {};
    return pass.run();
}

}  // namespace kurvane::detail
#endif
