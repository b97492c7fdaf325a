// The one driver of the pass. Its workers (the calling thread the first of
// them) each take a stretch of the input, scan it with one of their own
// scanners and hand its output over to be written in input order: the
// thread that holds the turn when the output's comes writes it, so a worker
// scans its next stretch while the output of the last one waits. The only
// hand-overs between threads are the turn and the outputs waiting for it. A stretch ends after a
// byte at which the scan may cut the input; one without any runs on, on the
// same worker, until one comes. Where the stretches come from is the one
// difference between the two inputs:
//  - a source that reads at any offset (a regular file): each worker reads
//    its own stretch there, and the boundary before it is decided by
//    whichever of the two workers it concerns looks first;
//  - a stream: a worker reads the next stretch under the reader's lock,
//    after the bytes the cut of the one before left.
// With one worker (-j 1) the pass is that worker on the calling thread.
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
#include <utility>
#include <vector>

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
#include <immintrin.h>
#endif

#include "engine/drive/pass.h"
#include "engine/drive/pass_scan.h"
#include "engine/drive/threads.h"
#include "engine/print/printer.h"

namespace kurvane::detail {

unsigned pass_threads(unsigned requested) {
#if KURVANE_ENGINE_THREADS
    if (requested == 0) requested = core_count();
    return std::min(requested, max_pass_threads);
#else
    static_cast<void>(requested);
    return 1;
#endif
}

unsigned useful_threads(unsigned requested) {
    return std::min(pass_threads(requested), core_count());
}

namespace {

// The stretches and outputs of every worker share this much memory. A
// stretch is no larger than max_stretch: it is scanned while it is still in
// the caches (reads of 256 KiB also beat larger ones on the build machine).
// On Windows a thread's wait and wake-up are kernel calls (under Wine,
// round trips to its server): there stretches are larger and turns fewer.
constexpr std::size_t memory_budget = std::size_t{24} << 20;
constexpr std::size_t min_stretch = std::size_t{64} << 10;
#ifdef _WIN32
constexpr std::size_t max_stretch = std::size_t{1} << 20;
#else
constexpr std::size_t max_stretch = std::size_t{256} << 10;
#endif

// A stretch's output is about its size in the plain format and up to a few
// times that in the others (UTF-8, offsets, JSON): a worker's output buffer
// takes this many stretches' worth, so that it scans its whole stretch
// before it needs its turn to write, instead of waiting for it halfway.
constexpr std::size_t output_factor = 4;
// A worker whose stretch's output waits for its turn scans its next stretch
// meanwhile, into a second output, and the holder of the turn writes the
// first when its turn comes: a worker waits only when both its outputs
// wait, not whenever another's stretch takes a little longer than its own.
// With more threads than cores, or very many, the other threads are that
// slack, and each worker has one output.
constexpr unsigned max_double_output_threads = 16;
unsigned outputs_per_worker(unsigned threads, unsigned requested) {
    if (threads == 1 || threads > max_double_output_threads) return 1;
    if (requested != 0) return std::min(requested, 2u);
    return threads <= core_count() ? 2 : 1;
}
// Every worker has a stretch buffer and its output buffers; a stream's
// reader keeps the bytes after a cut in one more stretch.
constexpr std::size_t buffers_for(unsigned threads) { return std::size_t{threads} + 1; }
constexpr std::size_t shares_per_buffer(unsigned outputs) { return 1 + outputs * output_factor; }
static_assert(buffers_for(max_pass_threads) * shares_per_buffer(1) * min_stretch <= memory_budget);
static_assert(buffers_for(max_double_output_threads) * shares_per_buffer(2) * min_stretch <= memory_budget);

void stretch_sizes(unsigned threads, unsigned outputs, const PassOptions& options, std::size_t& stretch,
                   std::size_t& output_buffer) {
    const std::size_t share = std::clamp(memory_budget / (shares_per_buffer(outputs) * buffers_for(threads)),
                                         min_stretch, max_stretch);
    stretch = std::max<std::size_t>(1, std::min(options.piece_size, share));
    output_buffer = std::max<std::size_t>(1, std::min(options.output_buffer_size, output_factor * stretch));
}

// Positional input: stretch k nominally covers [k * stretch, (k + 1) *
// stretch). Its boundary is the position after the last cut in the window
// of `window` bytes before k * stretch; a window without one has no
// boundary, and the stretch before runs on through it on the same worker.
// Both the worker that takes stretch k and the one that scans up to it look
// at that window: the first to decide fixes the answer for both in a ring
// of decisions.
constexpr std::size_t window_divisor = 16;
constexpr std::size_t max_window = std::size_t{16} << 10;
std::size_t window_for(std::size_t stretch) {
    return std::clamp<std::size_t>(stretch / window_divisor, 1, max_window);
}

// Decisions for the stretches from the one whose output goes next: a worker
// takes no stretch this far ahead of it, and a run that began after the
// turn's stretch decides no boundary this far ahead of it either. So a slot
// is taken over only when the turn has passed its stretch or a run that
// began at the turn covers it: nobody still needs its decision.
constexpr std::size_t decision_ring = 256;
// The outputs waiting for their turn are kept in a ring of that size too:
// every stretch in progress lies within it of the turn (a stream's turns in
// progress are at most the outputs there are).
static_assert(2 * max_pass_threads < decision_ring);
// A decision is the stretch number plus one in the high half (0: none yet)
// and the cut's position in its window plus one in the low half (0: the
// window holds no cut).
constexpr unsigned decision_shift = 32;
constexpr std::uint64_t decision_mask = (std::uint64_t{1} << decision_shift) - 1;
static_assert(max_window < decision_mask);

constexpr std::uint64_t all_written = UINT64_MAX;

// A wait for the turn spins this many times before it sleeps: about a
// tenth of a millisecond. A worker with two outputs waits only while the
// stretch before its own is still being scanned, longer than any spin:
// on Linux the spin never ended a wait and only burned a core, so only
// Windows spins, where every sleep and wake-up is a kernel call (under
// Wine, a round trip to its server).
#ifdef _WIN32
constexpr bool spin_waits = true;
#else
constexpr bool spin_waits = false;
#endif
constexpr unsigned spin_limit = 4000;
inline void relax() {
#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
    _mm_pause();
#elif KURVANE_ENGINE_THREADS
    std::this_thread::yield();
#endif
}

class Driver;

// One worker's sink: the first write waits for the worker's turn, every
// write goes to the pass's output at once.
class TurnSink final : public ByteSink {
public:
    explicit TurnSink(Driver& driver) : driver_(driver) {}
    void begin(std::uint64_t turn, const PieceScanner& scanner) {
        turn_ = turn;
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
    Driver& driver_;
    std::uint64_t turn_ = 0;
    const PieceScanner* scanner_ = nullptr;
    bool holds_turn_ = false;
    // Bytes at the start of the stretch's output not to write: the line
    // prefix it starts with when the output before it left a line open.
    bool skip_known_ = false;
    std::size_t skip_ = 0;
    bool passed_ = false;
    int write_errno_ = 0;
};

class Driver {
public:
    Driver(ByteSource& input, ByteSink& output, const PassScan& scan, const PassOptions& options,
           unsigned threads, bool positional, std::uint64_t size)
        : input_(input), output_(output), scan_(scan), options_(options), positional_(positional) {
        outputs_ = outputs_per_worker(threads, options.outputs_per_worker);
        stretch_sizes(threads, outputs_, options, stretch_, output_buffer_);
        if (positional_) {
            window_ = window_for(stretch_);
            count_ = std::max<std::uint64_t>(1, (size + stretch_ - 1) / stretch_);
            // A small file has fewer stretches than there are threads.
            threads = static_cast<unsigned>(std::min<std::uint64_t>(threads, count_));
        }
        if (threads == 1) outputs_ = 1;
        room_ = piece_headroom + window_ + stretch_ + piece_padding;
        threads_ = threads;
        spin_ = spin_waits && threads_ <= core_count();
        for (auto& d : decisions_) d.store(0, std::memory_order_relaxed);
        for (auto& w : waiting_) w.store(nullptr, std::memory_order_relaxed);
    }

    ~Driver() { join_workers(); }

    // False when the memory for the first worker is not to be had; nothing
    // has been read then. A worker more that does not get its memory is
    // left out.
    bool start() {
        if (!positional_) {
            kept_.reset(new (std::nothrow) unsigned char[stretch_]);
            if (!kept_) return false;
        }
        workers_.reserve(threads_);
        for (unsigned w = 0; w < threads_; ++w) {
            std::unique_ptr<Worker> worker(new (std::nothrow) Worker);
            if (!worker) break;
            worker->buffer.reset(new (std::nothrow) unsigned char[room_]);
            if (!worker->buffer) break;
            // A second output that does not get its memory is left out.
            for (unsigned k = 0; k < outputs_; ++k) {
                std::unique_ptr<Output> out(new (std::nothrow) Output(*this));
                if (out) out->scanner = scan_.scanner(out->sink, output_buffer_);
                if (!out || !out->scanner) break;
                worker->outputs.push_back(std::move(out));
            }
            if (worker->outputs.empty()) break;
            workers_.push_back(std::move(worker));
        }
        return !workers_.empty();
    }

    ExtractStatus run() {
#if KURVANE_ENGINE_THREADS
        // A thread that does not start takes nothing: the others take its
        // share.
        for (std::size_t w = 1; w < workers_.size(); ++w) {
            try {
                workers_[w]->thread = Thread([this, w] { work(*workers_[w], false); });
            } catch (const std::system_error&) {
                break;
            }
        }
#endif
        work(*workers_[0], true);
        join_workers();
        if (progress() != nullptr) tell(*progress(), status_.bytes_in);
        return status_;
    }

    // Waits until the output of `turn` is next: true then, false when the
    // pass ended before it.
    bool wait_turn(std::uint64_t turn) {
        wait_for_turn([turn](std::uint64_t now) { return now >= turn; });
        return turn_.load(std::memory_order_acquire) == turn;
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
    // How a worker's stretches ended, for its turn.
    struct Ending {
        std::uint64_t through = 0;  // the input offset the scan reached
        std::uint64_t next = 0;     // the turn after this one
        int read_errno = 0;         // a read failed at `through`
        bool data_ended = false;    // the data ends at `through`
        // Positional input whose data ended in the window before stretch
        // `next`: `through` is that stretch's boundary, decided by the
        // stretch before, once the turn is here.
        bool ended_in_window = false;
    };

    // A scanner and the output of the stretches it scans, from their start
    // until the output is written in its turn (or dropped, when the pass
    // ended before it), by whichever thread holds the turn then.
    struct Output {
        explicit Output(Driver& driver) : sink(driver) {}
        TurnSink sink;
        std::unique_ptr<PieceScanner> scanner;
        std::uint64_t turn = 0;
        Ending ending;
        // Set by the thread that wrote or dropped the output; the worker
        // then takes it for a stretch again.
        std::atomic<bool> idle{true};
    };

    struct Worker {
        // Headroom for the bytes a scan leaves, then (positional input) the
        // window before a stretch, the stretch, and the scan's padding.
        std::unique_ptr<unsigned char[]> buffer;
        std::vector<std::unique_ptr<Output>> outputs;
        Thread thread;
    };

    const std::function<void(std::uint64_t)>* progress() const { return options_.progress_to_call(); }

    void join_workers() {
        for (auto& worker : workers_)
            if (worker->thread.joinable()) worker->thread.join();
    }

    // The calling thread's worker tells the progress callback, after each
    // stretch it scans and each one its run goes on through.
    void work(Worker& me, bool reports_progress) {
        const std::function<void(std::uint64_t)>* const report = reports_progress ? progress() : nullptr;
        for (;;) {
            // An output first, then a stretch: a stretch taken is one the
            // turn waits for.
            Output* const out = idle_output(me);
            if (out == nullptr) return;
            std::uint64_t through = 0;
            if (positional_) {
                std::uint64_t k = 0;
                if (!take(k)) {
                    out->idle.store(true, std::memory_order_relaxed);
                    return;
                }
                through = positional_stretch(me, *out, k, report);
            } else if (!stream_stretch(me, *out, report, through)) {
                out->idle.store(true, std::memory_order_relaxed);
                return;
            }
            if (report != nullptr && through != 0) tell(*report, through);
        }
    }

    // One of the worker's outputs not in use, taken for a stretch; null when
    // the pass ended while the worker waited for one.
    Output* idle_output(Worker& me) {
        Output* found = nullptr;
        const auto any_idle = [&me, &found] {
            for (const auto& out : me.outputs) {
                if (out->idle.load(std::memory_order_acquire)) {
                    found = out.get();
                    return true;
                }
            }
            return false;
        };
        wait_until([this, &any_idle] {
            return any_idle() || turn_.load(std::memory_order_acquire) == all_written;
        });
        if (found == nullptr || turn_.load(std::memory_order_acquire) == all_written) return nullptr;
        found->idle.store(false, std::memory_order_relaxed);
        return found;
    }

    // Tells the progress callback a count it was not told last.
    void tell(const std::function<void(std::uint64_t)>& report, std::uint64_t bytes) {
        if (bytes == told_) return;
        told_ = bytes;
        report(bytes);
    }

    // Scans one piece of the worker's buffer: `carry` bytes the scan left
    // before `at`, then `got` fresh ones, at input offset `base` - carry.
    // Returns the count the next piece starts with.
    std::size_t scan_piece(Worker& me, Output& out, unsigned char* at, std::size_t carry, std::size_t got,
                           bool ends, std::uint64_t base) {
        const std::size_t room = static_cast<std::size_t>(me.buffer.get() + room_ - at) + carry;
        return out.scanner->scan(at - carry, carry, got, ends, room, base - carry);
    }

    // The scan cannot go on: the pass ended before this output's turn, or
    // its own write failed (which its turn then reports).
    static bool stopped(const Output& out) { return out.sink.passed() || out.sink.write_failed(); }

    // The output's stretches are scanned: it waits for its turn among the
    // others, and whoever holds the turn when it comes writes it, this
    // thread too if that is now.
    void hand_over(Output& out, const Ending& e) {
        out.ending = e;
        waiting_[out.turn % decision_ring].store(&out, std::memory_order_seq_cst);
        write_waiting();
    }

    // Writes the outputs waiting whose turn it is, one after the other.
    // The one for a turn is written by the first thread to find it: the one
    // that handed it over and then sees its turn, or the one that passed
    // the turn to it and then sees it waiting (each stores, then loads what
    // the other stores, in one order for all threads: one of them sees it).
    void write_waiting() {
        for (;;) {
            const std::uint64_t turn = turn_.load(std::memory_order_seq_cst);
            if (turn == all_written) return;
            std::atomic<Output*>& slot = waiting_[turn % decision_ring];
            Output* out = slot.load(std::memory_order_seq_cst);
            if (out == nullptr || !slot.compare_exchange_strong(out, nullptr, std::memory_order_seq_cst)) return;
            finish(*out);
        }
    }

    // Flushes the output in its turn, then passes the turn on, or ends the
    // pass at a failure or at the end of the data; the output is idle then.
    void finish(Output& out) {
        Ending e = out.ending;
        const bool flushed = out.scanner->flush();
        if (!out.sink.take_turn()) {
            out.idle.store(true, std::memory_order_release);
            return;
        }
        line_ends(out.scanner->stretch_output());
        const bool failed = out.sink.write_failed() || !flushed;
        const int write_errno = out.sink.error();
        // From here on the output is not touched: its worker may take it
        // again once the turn moves.
        out.idle.store(true, std::memory_order_release);
        if (failed) {
            end_pass(ExtractError::write_output, write_errno, e.through);
            return;
        }
        if (e.ended_in_window) {
            const std::uint64_t cut = settle(e.next, 0);
            e.through = cut != 0 ? stretch_start(e.next) - window_ + (cut - 1) : stretch_start(e.next);
        }
        if (e.read_errno != 0) {
            end_pass(ExtractError::read_input, e.read_errno, e.through);
        } else if (e.data_ended) {
            end_pass(ExtractError::none, 0, e.through);
        } else {
            pass_turn(e.next);
        }
    }

    // Ends the pass at the holder of the turn: nothing after it is written.
    void end_pass(ExtractError error, int sys_errno, std::uint64_t bytes_in) {
        status_.error = error;
        status_.sys_errno = sys_errno;
        status_.bytes_in = bytes_in;
        pass_turn(all_written);
    }

    // --- Stream input ---

    // Reads the next stretch under the reader's lock and scans it; false
    // when there is none. A stretch without a cut keeps the lock: the next
    // one continues its run, so this worker reads and scans on.
    bool stream_stretch(Worker& me, Output& out, const std::function<void(std::uint64_t)>* report,
                        std::uint64_t& through) {
        std::unique_lock<Mutex> reader(reader_mutex_);
        if (reader_done_ || turn_.load(std::memory_order_acquire) == all_written) return false;
        const std::uint64_t turn = turns_taken_++;
        out.turn = turn;
        out.sink.begin(turn, *out.scanner);
        unsigned char* const at = me.buffer.get() + piece_headroom;
        Ending e;
        e.next = turn + 1;
        std::size_t carry = 0;
        for (;;) {
            // The bytes after the last cut start this stretch.
            const std::size_t kept = std::exchange(kept_size_, 0);
            std::memcpy(at, kept_.get(), kept);
            const std::uint64_t base = bytes_read_ - kept;
            const std::size_t want = stretch_ - kept;
            const std::size_t got = input_.read(at + kept, want);
            if (got < want && input_.error() != 0) {
                e.read_errno = input_.error();
                e.through = bytes_read_;
                reader_done_ = true;
                break;
            }
            bytes_read_ += got;
            std::size_t size = kept + got;
            bool ends = got < want;
            e.data_ended = ends;
            reader_done_ = ends;
            if (!ends) {
                const std::size_t cut = scan_.cut_after(at, size);
                if (cut != 0) {
                    kept_size_ = size - cut;
                    std::memcpy(kept_.get(), at + cut, kept_size_);
                    size = cut;
                    ends = true;
                }
            }
            if (ends) reader.unlock();
            const std::size_t left = scan_piece(me, out, at, carry, size, ends, base);
            e.through = base + size;
            if (ends) break;
            if (stopped(out)) {
                // The rest of the run is not read: nothing after it is
                // written.
                reader_done_ = true;
                break;
            }
            std::memmove(at - left, at + size - left, left);
            carry = left;
            if (report != nullptr) tell(*report, e.through);
        }
        if (reader.owns_lock()) reader.unlock();
        through = e.through;
        hand_over(out, e);
        return true;
    }

    // --- Positional input ---

    std::uint64_t stretch_start(std::uint64_t k) const { return k * stretch_; }

    // The cut in window w[0, window_): one past the last cut's position
    // plus one, 0 without any.
    std::uint64_t cut_in(const unsigned char* w) const {
        const std::size_t cut = scan_.cut_after(w, window_);
        return cut == 0 ? 0 : cut + 1;
    }

    // The decision for the boundary of stretch k, given this worker's own
    // reading `mine` (as cut_in gives it): the first one recorded wins. A
    // worker so late that the ring has moved on finds its stretch written or
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

    // Scans stretch k and the stretches it runs on through into `out`, and
    // hands it over for its turn. Returns the input offset it scanned
    // through, 0 when it scanned nothing.
    std::uint64_t positional_stretch(Worker& me, Output& out, std::uint64_t k,
                                     const std::function<void(std::uint64_t)>* report);

    // --- The turn ---

    // Waits until `ready` holds for the turn, without a lock while it
    // already does. (A mutex and a condition: the C++20 atomic wait of some
    // toolchains misses wake-ups.)
    template <class Ready>
    void wait_for_turn(Ready ready) {
        wait_until([this, &ready] { return ready(turn_.load(std::memory_order_acquire)); });
    }

    // Waits until `done` holds, which only the turn's moving on (or an
    // output's becoming idle just before it) makes true.
    template <class Done>
    void wait_until(Done done) {
        if (done()) return;
        // Where waits are spun (see spin_waits), only while every thread
        // has a core.
        if (spin_) {
            for (unsigned k = 0; k < spin_limit; ++k) {
                relax();
                if (done()) return;
            }
        }
        std::unique_lock<Mutex> lock(turn_mutex_);
        turn_changed_.wait(lock, done);
    }

    // Passes the turn on (all_written: the pass ended).
    void pass_turn(std::uint64_t to) {
        {
            std::lock_guard<Mutex> lock(turn_mutex_);
            turn_.store(to, std::memory_order_seq_cst);
        }
        turn_changed_.notify_all();
    }

    ByteSource& input_;
    ByteSink& output_;
    const PassScan& scan_;
    const PassOptions& options_;
    const bool positional_;
    unsigned threads_ = 1;
    unsigned outputs_ = 1;  // per worker
    std::size_t stretch_ = 0;
    std::size_t window_ = 0;  // positional input only
    std::size_t output_buffer_ = 0;
    std::size_t room_ = 0;
    bool spin_ = false;  // every thread has a core: a short wait is spun out
    std::vector<std::unique_ptr<Worker>> workers_;

    // The stretch whose output goes next; all_written once the pass ended.
    // Changed under turn_mutex_, read without it where a stale value only
    // means a wait.
    std::atomic<std::uint64_t> turn_{0};
    Mutex turn_mutex_;
    Condition turn_changed_;
    // The outputs scanned and waiting for their turn, by turn.
    std::atomic<Output*> waiting_[decision_ring];
    // Written by the holder of the turn only, read after the threads end.
    ExtractStatus status_;
    bool line_open_ = false;
    // The count the progress callback was told last (the calling thread's).
    std::uint64_t told_ = UINT64_MAX;

    // Positional input.
    std::uint64_t count_ = 0;             // stretches by the size the file had
    std::atomic<std::uint64_t> next_{0};  // the next stretch to take
    std::atomic<std::uint64_t> decisions_[decision_ring];

    // Stream input, guarded by reader_mutex_.
    Mutex reader_mutex_;
    std::unique_ptr<unsigned char[]> kept_;  // the bytes after the last cut
    std::size_t kept_size_ = 0;
    std::uint64_t bytes_read_ = 0;
    std::uint64_t turns_taken_ = 0;
    bool reader_done_ = false;  // the data ended, a read failed, or the pass ended
};

bool TurnSink::take_turn() {
    if (!holds_turn_ && !passed_) {
        holds_turn_ = driver_.wait_turn(turn_);
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
        skip_ = driver_.line_open() ? scanner_->stretch_output().lead_prefix : 0;
    }
    const std::size_t skipped = std::min(skip_, n);
    skip_ -= skipped;
    if (skipped == n) return true;
    return driver_.write_output(data + skipped, n - skipped, write_errno_);
}

std::uint64_t Driver::positional_stretch(Worker& me, Output& out, std::uint64_t k,
                                         const std::function<void(std::uint64_t)>* report) {
    // Where the first byte of each stretch read lands: after the window.
    unsigned char* const at = me.buffer.get() + piece_headroom + window_;
    int read_errno = 0;

    // The first read takes the window with the stretch.
    const std::size_t before = k == 0 ? 0 : window_;
    const std::size_t got = input_.read_at(stretch_start(k) - before, at - before, before + stretch_, read_errno);
    unsigned char* piece = at;
    std::size_t fresh = 0;
    const bool window_read = got >= before;
    if (window_read) {
        fresh = got - before;
        if (k > 0) {
            const std::uint64_t cut = settle(k, cut_in(at - before));
            if (cut == 0) {  // the stretch before runs on through this one
                out.idle.store(true, std::memory_order_relaxed);
                return 0;
            }
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
    out.turn = k;
    out.sink.begin(k, *out.scanner);
    std::size_t carry = 0;
    bool short_read = false;
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
            // The next stretch's boundary, decided before the scan decodes
            // it; a run that began after the turn's stretch first waits for
            // the turn to come within the ring (see decision_ring).
            wait_for_turn([k, j](std::uint64_t turn) { return turn >= k || j + 1 < turn + decision_ring; });
            const std::uint64_t cut = settle(j + 1, cut_in(at + stretch_ - window_));
            if (cut != 0) {
                scanned -= window_ - (cut - 1);
                ends = true;
            }
        }
        const std::size_t left = scan_piece(me, out, piece + carry, carry, scanned - carry, ends,
                                            stretch_start(j) - static_cast<std::size_t>(at - piece) + carry);
        if (stopped(out)) break;
        ++j;
        if (ends) break;
        // Runs on: the bytes the scan left go before the next stretch.
        std::memmove(at - left, at + fresh - left, left);
        carry = left;
        piece = at - left;
        if (report != nullptr) tell(*report, stretch_start(j));
        fresh = input_.read_at(stretch_start(j), at, stretch_, read_errno);
    }
    Ending e;
    e.next = j;
    e.through = stretch_start(j);
    e.read_errno = read_errno;
    if (read_errno == 0 && short_read) {
        e.data_ended = true;
        e.ended_in_window = !window_read;
        if (window_read) e.through = stretch_start(j - 1) + fresh;
        if (!window_read) e.next = k;
    }
    hand_over(out, e);
    return e.through;
}

}  // namespace

ExtractStatus run_pass(ByteSource& input, ByteSink& output, const ExtractionSettings& settings,
                       const PassOptions& options) {
    ExtractStatus status;
    std::unique_ptr<PassScan> own;
    const PassScan* scan = options.scan;
    if (scan == nullptr) {
        own = make_scan(settings, options.format, options.input_encoding, options.substituted);
        scan = own.get();
    }
    const unsigned threads = pass_threads(options.threads);
    // One worker reads in order whatever the source: a regular file gains
    // nothing from reading at offsets then.
    std::uint64_t size = 0;
    const bool positional = threads > 1 && input.positional(size);
    std::unique_ptr<Driver> driver;
    if (scan != nullptr)
        driver.reset(new (std::nothrow) Driver(input, output, *scan, options, threads, positional, size));
    if (!driver || !driver->start()) {
        status.error = ExtractError::no_memory;
        return status;
    }
    return driver->run();
}

}  // namespace kurvane::detail
