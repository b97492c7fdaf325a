#include "engine/drive/parallel_pass.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "engine/drive/overlapped_io.h"  // KURVANE_ENGINE_THREADS and the thread headers
#include "engine/print/printer.h"
#include "engine/scan/text_piece_scanner.h"

namespace kurvane::detail {

void find_split_bytes(const ScanTable& table, std::array<bool, 256>& split) {
    constexpr auto none = static_cast<unsigned char>(CharClass::None);
    constexpr auto single = static_cast<unsigned char>(CharClass::Single);
    for (unsigned s = 0; s < 256; ++s) {
        bool ends_runs = true;
        for (unsigned other = 0; other < 256 && ends_runs; ++other) {
            // A run at s stops there: nothing that starts with s is taken.
            ends_runs = table.pair_class[ScanTable::index(s, other)] == none;
            // A character before s takes one byte or stops: s is no trail.
            const unsigned char before = table.pair_class[ScanTable::index(other, s)];
            ends_runs = ends_runs && (before == none || before == single);
        }
        split[s] = ends_runs;
    }
}

void StretchCuts::by_rule(const text::CutRule& rule, unsigned char key) {
    // A rule byte is no part of a run and no later byte of a character, so
    // the scan of the whole input stands between runs right after it, as
    // the scan of a stretch starting there does.
    triples_ = rule.zero_triples;
    triple_ = key;
    for (unsigned v = 0; v < 256; ++v) after_[v] = rule.bytes[v ^ key];
}

std::unique_ptr<ScanTable> make_cut_table(const ExtractionSettings& settings, text::InputEncoding encoding,
                                          StretchCuts& cuts) {
    std::unique_ptr<ScanTable> table(new (std::nothrow) ScanTable);
    if (!table) return nullptr;
    build_scan_table(settings, *table);
    const auto key = static_cast<unsigned char>(settings.xor_value & 0xFFu);
    if (encoding != text::InputEncoding::cp932) {
        cuts.by_rule(cut_rule_for(settings, encoding), key);
        return table;
    }
    std::array<bool, 256> split{};
    find_split_bytes(*table, split);
    std::array<bool, 256> stored_split{};
    for (unsigned v = 0; v < 256; ++v) stored_split[v] = split[v ^ key];
    cuts.after_bytes(stored_split);
    return table;
}

// Output and stretches of every thread, and the stretches waiting to be
// scanned or written, share this much memory. A stretch is no larger than
// max_stretch: it is scanned while it is still in the caches, and the
// buffers touched stay few. On Windows a thread's wait and wake-up are
// kernel calls (under Wine, round trips to its server) that cost as much as
// scanning tens of KiB: there stretches are larger and hand-overs fewer.
constexpr std::size_t memory_budget = std::size_t{24} << 20;
constexpr std::size_t min_stretch = std::size_t{64} << 10;
#ifdef _WIN32
constexpr std::size_t max_stretch = std::size_t{1} << 20;
#else
constexpr std::size_t max_stretch = std::size_t{256} << 10;
#endif

// Each thread has one stretch being scanned and one waiting, and the
// calling thread one being read and one being written.
constexpr std::size_t slots_for(unsigned threads) { return 2 * std::size_t{threads} + 2; }

// At max_pass_threads, the stretches and their output stay within budget.
static_assert(slots_for(max_pass_threads) * 2 * min_stretch <= memory_budget);

void parallel_sizes(unsigned threads, const PassOptions& options, std::size_t& stretch,
                    std::size_t& output_buffer) {
    // A stretch's output is about as large as the stretch at most (text of
    // one-byte runs grows by half): room for both in every slot.
    const std::size_t share =
        std::clamp(memory_budget / (2 * slots_for(threads)), min_stretch, max_stretch);
    stretch = std::max<std::size_t>(1, std::min(options.piece_size, share));
    output_buffer = std::max<std::size_t>(1, std::min(options.output_buffer_size, stretch));
}

#if KURVANE_ENGINE_THREADS

unsigned pass_threads(unsigned requested) {
    if (requested == 0) requested = std::max(1u, std::thread::hardware_concurrency());
    return std::min(requested, max_pass_threads);
}

unsigned useful_threads(unsigned requested) {
    return std::min(pass_threads(requested), std::max(1u, std::thread::hardware_concurrency()));
}

namespace {

// A block of a stretch's output, in the order written.
struct Block {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;      // bytes of output in it
    std::size_t capacity = 0;  // non-zero: a pool buffer of this size, returned after writing
};

// The output buffers the threads trade their full ones for, shared and
// reused so that memory stays flat. Every scanner's buffers have one size.
class BufferPool {
public:
    std::unique_ptr<unsigned char[]> take(std::size_t size) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                std::unique_ptr<unsigned char[]> buffer = std::move(free_.back());
                free_.pop_back();
                return buffer;
            }
        }
        return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[size]);
    }
    void give(std::unique_ptr<unsigned char[]> buffer) {
        std::lock_guard<std::mutex> lock(mutex_);
        try {
            free_.push_back(std::move(buffer));
        } catch (const std::bad_alloc&) {
            // Freed instead of kept.
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<unsigned char[]>> free_;
};

// The sink of one thread's scanner: the blocks it fills are kept, in order,
// in the list of the stretch being scanned, for the calling thread to write.
class BlockSink final : public ByteSink {
public:
    explicit BlockSink(BufferPool& pool) : pool_(pool) {}
    void target(std::vector<Block>* blocks) { blocks_ = blocks; }

    bool write(const unsigned char* data, std::size_t n) override {
        std::unique_ptr<unsigned char[]> copy(new (std::nothrow) unsigned char[n]);
        if (!copy) return fail();
        std::memcpy(copy.get(), data, n);
        return keep({std::move(copy), n, 0});
    }
    // Keeps the full buffer and hands back one of the same size.
    bool write_buffer(std::unique_ptr<unsigned char[]>& buffer, std::size_t size,
                      std::size_t n) override {
        std::unique_ptr<unsigned char[]> fresh = pool_.take(size);
        if (!fresh) return fail();
        std::unique_ptr<unsigned char[]> full = std::move(buffer);
        buffer = std::move(fresh);
        return keep({std::move(full), n, size});
    }
    int error() const override { return ENOMEM; }

private:
    bool fail() { return false; }
    bool keep(Block&& block) {
        try {
            blocks_->push_back(std::move(block));
        } catch (const std::bad_alloc&) {
            return fail();
        }
        return true;
    }

    BufferPool& pool_;
    std::vector<Block>* blocks_ = nullptr;
};

// One stretch of the input on its way from the reader through a scanner to
// the writer. The fields other than `blocks` are set by the calling thread
// before the stretch is handed out; `blocks` and `failed` by the scanning
// thread before it marks the stretch done.
struct Slot {
    std::unique_ptr<unsigned char[]> buffer;  // headroom, the stretch, padding
    std::size_t got = 0;                      // input bytes in the stretch
    std::uint64_t base = 0;                   // the input offset of its first byte
    // The stretch does not end at a split byte: the next one continues its
    // run, on the same thread.
    bool continues = false;
    std::vector<Block> blocks;
    // The scanner started afresh at this stretch (the one before it on
    // that thread ended at a split byte), and what its output inherits.
    bool fresh = false;
    StretchOutput output;
    bool failed = false;
    bool done = false;
};

class ParallelPass {
public:
    ParallelPass(ByteSource& input, ByteSink& output, const ExtractionSettings& settings,
                 const PassOptions& options, unsigned threads)
        : input_(input), output_(output), settings_(settings), options_(options),
          threads_(threads), slot_count_(slots_for(threads)) {
        parallel_sizes(threads, options, stretch_, output_buffer_);
        room_ = piece_headroom + stretch_ + piece_padding;
    }

    ~ParallelPass() { stop_workers(); }

    // False when the memory or the first thread is not to be had; nothing
    // has been read then.
    bool start() {
        table_ = make_cut_table(settings_, options_.input_encoding, cuts_);
        if (!table_) return false;

        slots_.reset(new (std::nothrow) Slot[slot_count_]);
        if (!slots_) return false;
        for (std::size_t k = 0; k < slot_count_; ++k) {
            slots_[k].buffer.reset(new (std::nothrow) unsigned char[room_]);
            if (!slots_[k].buffer) return false;
        }
        pool_.reset(new (std::nothrow) BufferPool);
        if (!pool_) return false;
        workers_.reserve(threads_);
        for (unsigned w = 0; w < threads_; ++w) {
            std::unique_ptr<Worker> worker(new (std::nothrow) Worker);
            if (!worker) break;
            worker->sink.reset(new (std::nothrow) BlockSink(*pool_));
            if (!worker->sink) break;
            worker->scanner =
                PieceScanner::create(*table_, settings_, options_, *worker->sink, output_buffer_);
            if (!worker->scanner) break;
            workers_.push_back(std::move(worker));
        }
        return !workers_.empty() && launch();
    }

    ExtractStatus run();

private:
    struct Worker {
        std::unique_ptr<BlockSink> sink;
        std::unique_ptr<PieceScanner> scanner;
        std::thread thread;
    };

    Slot& slot(std::size_t job) { return slots_[job % slot_count_]; }
    void work(std::size_t w);
    bool launch();
    void stop_workers();
    // Waits for the oldest stretch not yet written, writes its output and
    // frees its slot; false (and status_ set) on the first failure.
    bool write_next();

    ByteSource& input_;
    ByteSink& output_;
    const ExtractionSettings& settings_;
    const PassOptions& options_;
    const unsigned threads_;
    const std::size_t slot_count_;
    std::size_t stretch_ = 0;
    std::size_t output_buffer_ = 0;
    std::size_t room_ = 0;

    std::unique_ptr<ScanTable> table_;
    StretchCuts cuts_;
    std::unique_ptr<Slot[]> slots_;
    std::unique_ptr<BufferPool> pool_;
    std::vector<std::unique_ptr<Worker>> workers_;

    // Guarded by mutex_: stretches handed out (job numbers below it), the
    // next one a thread takes, and whether that one continues a run the
    // thread `chain_owner_` has in progress (then only that thread takes it).
    std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable work_done_;
    std::size_t handed_out_ = 0;
    std::size_t next_take_ = 0;
    bool chained_ = false;
    std::size_t chain_owner_ = 0;
    bool stopping_ = false;
    std::size_t idle_ = 0;  // threads waiting for a stretch
    // The stretch the calling thread waits for, if any.
    static constexpr std::size_t no_job = SIZE_MAX;
    std::size_t awaited_ = no_job;

    // The calling thread's side.
    std::size_t written_ = 0;  // stretches written (job numbers below it)
    bool line_open_ = false;   // the output written so far ends inside a line
    bool skip_due_ = false;    // and did when the stretches being written began
    ExtractStatus status_;
};

void ParallelPass::work(std::size_t w) {
    Worker& me = *workers_[w];
    unsigned char carry[piece_headroom];
    std::size_t carried = 0;
    bool fresh = true;
    for (;;) {
        std::size_t job = 0;
        bool more = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ++idle_;
            work_ready_.wait(lock, [this, w] {
                return stopping_ ||
                       (next_take_ < handed_out_ && (!chained_ || chain_owner_ == w));
            });
            --idle_;
            if (stopping_) return;
            job = next_take_++;
            chained_ = slot(job).continues;
            chain_owner_ = w;
            more = !chained_ && next_take_ < handed_out_;
        }
        // Stretches handed out while a run held them back wait for a thread.
        if (more) work_ready_.notify_one();
        Slot& s = slot(job);
        unsigned char* const data = s.buffer.get() + piece_headroom;
        std::memcpy(data - carried, carry, carried);
        me.sink->target(&s.blocks);
        s.fresh = fresh;
        const std::size_t left = me.scanner->scan(data - carried, carried, s.got, !s.continues,
                                                  room_ - (piece_headroom - carried), s.base - carried);
        fresh = !s.continues;
        const bool ok = me.scanner->flush();
        s.output = me.scanner->stretch_output();
        std::memcpy(carry, data + s.got - left, left);
        carried = left;
        bool awaited = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            s.failed = !ok;
            s.done = true;
            awaited = awaited_ == job;
        }
        if (awaited) work_done_.notify_one();
    }
}

bool ParallelPass::launch() {
    std::size_t started = 0;
    for (std::size_t w = 0; w < workers_.size(); ++w) {
        try {
            workers_[w]->thread = std::thread([this, w] { work(w); });
            ++started;
        } catch (const std::system_error&) {
            break;
        }
    }
    // A thread that did not start takes nothing: the others take its share.
    return started > 0;
}

void ParallelPass::stop_workers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_ready_.notify_all();
    for (auto& worker : workers_)
        if (worker->thread.joinable()) worker->thread.join();
}

bool ParallelPass::write_next() {
    Slot& s = slot(written_);
    {
        std::unique_lock<std::mutex> lock(mutex_);
        awaited_ = written_;
        work_done_.wait(lock, [&s] { return s.done; });
        awaited_ = no_job;
    }
    bool ok = !s.failed;
    if (!ok && status_.ok()) status_.error = ExtractError::no_memory;
    // A stretch scanned afresh starts its output with a line's prefix,
    // which a line left open before it does not have. The output may come
    // only in a stretch that continues it, scanned after it on its thread.
    if (s.fresh) skip_due_ = line_open_;
    std::size_t skip = 0;
    if (s.output.wrote) {
        if (skip_due_) skip = s.output.lead_prefix;
        skip_due_ = false;
        line_open_ = s.output.line_open;
    }
    for (Block& block : s.blocks) {
        const std::size_t skipped = std::min(skip, block.size);
        skip -= skipped;
        if (ok && block.size > skipped) {
            // A sink that writes later may take a pool buffer and give back
            // another of its size, which goes to the pool in its place.
            const bool written =
                block.capacity != 0 && skipped == 0
                    ? output_.write_buffer(block.data, block.capacity, block.size)
                    : output_.write(block.data.get() + skipped, block.size - skipped);
            if (written) {
                status_.bytes_out += block.size - skipped;
            } else {
                ok = false;
                if (status_.ok()) {
                    status_.error = ExtractError::write_output;
                    status_.sys_errno = output_.error();
                }
            }
        }
        if (block.capacity != 0 && block.data) pool_->give(std::move(block.data));
    }
    s.blocks.clear();
    s.done = false;
    s.failed = false;
    ++written_;
    return ok;
}

ExtractStatus ParallelPass::run() {
    const std::function<void(std::uint64_t)>* progress = options_.progress_to_call();
    std::size_t filling = 0;   // the job whose slot is being read into
    std::size_t kept = 0;      // bytes at its start kept from the one before
    bool failed = false;
    ExtractStatus read_failure;
    for (bool last = false; !last;) {
        // Every slot is in use up to the one being filled: the oldest must
        // be written first.
        while (filling >= written_ + slot_count_ - 1 && !failed) failed = !write_next();
        if (failed) break;
        Slot& s = slot(filling);
        unsigned char* const data = s.buffer.get() + piece_headroom;
        s.base = status_.bytes_in - kept;
        const std::size_t want = stretch_ - kept;
        const std::size_t got = input_.read(data + kept, want);
        if (got < want && input_.error() != 0) {
            read_failure.error = ExtractError::read_input;
            read_failure.sys_errno = input_.error();
            break;
        }
        status_.bytes_in += got;
        last = got < want;
        std::size_t size = kept + got;
        s.continues = false;
        kept = 0;
        if (!last) {
            // The stretch ends after its last split byte; the bytes behind it
            // start the next one. Without any, the run may go on: the next
            // stretch is scanned after this one by the same thread.
            const std::size_t cut = cuts_.last(data, size);
            if (cut == 0) {
                s.continues = true;
            } else {
                kept = size - cut;
                size = cut;
                // The next slot is free: at most slot_count_ - 1 are in use.
                std::memcpy(slot(filling + 1).buffer.get() + piece_headroom, data + cut, kept);
            }
        }
        s.got = size;
        bool for_owner = false;
        bool idle = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            handed_out_ = ++filling;
            for_owner = chained_;
            idle = idle_ > 0;
        }
        // Any idle thread may take the stretch, unless it continues a run in
        // progress: then the thread that has it must be the one woken.
        if (for_owner)
            work_ready_.notify_all();
        else if (idle)
            work_ready_.notify_one();
        if (progress != nullptr && !last) (*progress)(status_.bytes_in);
    }
    // The stretches handed out precede any read failure in the input: their
    // output is written, up to the first failure.
    while (written_ < filling && !failed) failed = !write_next();
    if (status_.ok() && !read_failure.ok()) {
        status_.error = read_failure.error;
        status_.sys_errno = read_failure.sys_errno;
    }
    stop_workers();
    if (progress != nullptr) (*progress)(status_.bytes_in);
    return status_;
}

}  // namespace

ExtractStatus run_parallel_pass(ByteSource& input, ByteSink& output,
                                const ExtractionSettings& settings, const PassOptions& options) {
    const unsigned threads = pass_threads(options.threads);
    PassOptions one = options;
    one.threads = 1;
    if (threads <= 1) return run_pass(input, output, settings, one);
    std::uint64_t size = 0;
    if (input.positional(size)) {
        bool ran = false;
        const ExtractStatus status =
            run_positional_pass(input, output, settings, options, threads, size, ran);
        if (ran) return status;
        return run_pass(input, output, settings, one);
    }
    ParallelPass pass(input, output, settings, options, threads);
    // Without the memory or threads for the parallel pass, nothing has been
    // read yet: the one-thread pass takes over.
    if (!pass.start()) return run_pass(input, output, settings, one);
    return pass.run();
}

#else  // no threads: the pass runs on the calling thread

unsigned pass_threads(unsigned) { return 1; }
unsigned useful_threads(unsigned) { return 1; }

ExtractStatus run_parallel_pass(ByteSource& input, ByteSink& output,
                                const ExtractionSettings& settings, const PassOptions& options) {
    PassOptions one = options;
    one.threads = 1;
    return run_pass(input, output, settings, one);
}

#endif

}  // namespace kurvane::detail
