// Reading ahead and writing behind on a helper thread, so that the file
// front ends overlap the kernel's copies with the scan. Both wrap another
// source or sink and keep its contract: the same bytes in the same order,
// and the same errno values for a failed read or write.
#pragma once

#include <version>  // defines _GLIBCXX_HAS_GTHREADS where std::thread exists

#include <cstddef>
#include <memory>

#include "engine/scan/extract_pass.h"

// A MinGW toolchain of the win32 thread model has no std::thread (the
// Windows build uses the posix one); with it the file front ends would read,
// scan and write on the calling thread.
#if defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)
#define KURVANE_ENGINE_THREADS 0
#else
#define KURVANE_ENGINE_THREADS 1
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#endif

#if KURVANE_ENGINE_THREADS
namespace kurvane::detail {

// What both wrappers share: one buffer handed back and forth between the
// caller and one helper thread, the lock and signal that guard the hand-over,
// and the helper's start and stop.
class HelperThread {
protected:
    HelperThread() = default;
    ~HelperThread() = default;
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;

    // Allocates `size` bytes for buffer_ and runs `loop` on the helper
    // thread; false when either is not to be had.
    template <class Loop>
    bool start_helper(std::size_t size, Loop loop) {
        buffer_.reset(new (std::nothrow) unsigned char[size]);
        if (!buffer_) return false;
        try {
            thread_ = std::thread(loop);
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }
    // Asks the loop to end and waits for it. An owner calls it first in its
    // destructor, while the members its loop uses still exist.
    void stop_helper();

    std::unique_ptr<unsigned char[]> buffer_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;  // guarded by mutex_
    std::thread thread_;
};

// Reads `block` bytes at a time from the inner source on a helper thread: the
// next block is read while the caller works on the one it took. A read error
// shows only once the caller has taken every byte read before it.
class PrefetchSource final : public ByteSource, private HelperThread {
public:
    PrefetchSource(ByteSource& inner, std::size_t block);
    ~PrefetchSource() override { stop_helper(); }

    // Starts the helper thread; false when no memory or thread is to be had,
    // and then nothing has been read from the inner source.
    bool start();
    std::size_t read(unsigned char* dst, std::size_t n) override;
    int error() const override { return error_; }

private:
    void fetch_loop();

    ByteSource& inner_;
    const std::size_t block_;
    // Guarded by mutex_: the buffer holds a block the caller has not used up
    // (the helper writes the buffer only while this is false).
    bool full_ = false;
    std::size_t fetched_ = 0;
    int fetch_error_ = 0;
    // The caller's side.
    std::size_t taken_ = 0;
    bool ended_ = false;
    int error_ = 0;
};

// Lets a helper thread pass each write to the inner sink while the caller
// goes on: write_buffer() takes the caller's buffer and gives back the one
// written before, write() copies the data. A write reports the failure of
// the one before it, and finish() that of the last: the caller must call
// finish() before it counts the output as written.
class WriteBehindSink final : public ByteSink, private HelperThread {
public:
    WriteBehindSink(ByteSink& inner, std::size_t capacity);
    ~WriteBehindSink() override { stop_helper(); }

    // Starts the helper thread; false when no memory or thread is to be had.
    bool start();
    bool write(const unsigned char* data, std::size_t n) override;
    bool write_buffer(std::unique_ptr<unsigned char[]>& buffer, std::size_t size,
                      std::size_t n) override;
    int error() const override { return error_; }
    // Waits for the write in progress; false when any write failed.
    bool finish();

private:
    void write_loop();

    // Waits until the helper is idle; false (and error() set) after a failure.
    bool wait_idle(std::unique_lock<std::mutex>& lock);
    bool write_here(std::unique_lock<std::mutex>& lock, const unsigned char* data, std::size_t n);
    void hand_over(std::unique_lock<std::mutex>& lock, std::size_t n);

    ByteSink& inner_;
    std::size_t capacity_;
    // Guarded by mutex_: the buffer holds `pending_size_` bytes not yet
    // written (the caller fills the buffer only while this is false).
    bool pending_ = false;
    std::size_t pending_size_ = 0;
    bool failed_ = false;
    int failed_errno_ = 0;
    int error_ = 0;  // the caller's side
};

}  // namespace kurvane::detail
#endif
