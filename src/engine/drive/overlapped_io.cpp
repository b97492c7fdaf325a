#include "engine/drive/overlapped_io.h"

#if KURVANE_ENGINE_THREADS
#include <algorithm>
#include <cstring>

namespace kurvane::detail {

void HelperThread::stop_helper() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

PrefetchSource::PrefetchSource(ByteSource& inner, std::size_t block)
    : inner_(inner), block_(std::max<std::size_t>(block, 1)) {}

bool PrefetchSource::start() {
    return start_helper(block_, [this] { fetch_loop(); });
}

void PrefetchSource::fetch_loop() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || !full_; });
            if (stop_) return;
        }
        const std::size_t got = inner_.read(buffer_.get(), block_);
        const int err = got < block_ ? inner_.error() : 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            fetched_ = got;
            fetch_error_ = err;
            full_ = true;
        }
        changed_.notify_all();
        if (got < block_) return;  // the end or an error: nothing more to read
    }
}

std::size_t PrefetchSource::read(unsigned char* dst, std::size_t n) {
    std::size_t done = 0;
    while (done < n && !ended_) {
        std::size_t fetched = 0;
        int err = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return full_; });
            fetched = fetched_;
            err = fetch_error_;
        }
        const std::size_t take = std::min(n - done, fetched - taken_);
        if (take > 0) std::memcpy(dst + done, buffer_.get() + taken_, take);
        taken_ += take;
        done += take;
        if (taken_ == fetched) {
            if (fetched < block_) {
                ended_ = true;
                error_ = err;
            }
            taken_ = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                full_ = false;
            }
            changed_.notify_all();
        }
    }
    return done;
}

WriteBehindSink::WriteBehindSink(ByteSink& inner, std::size_t capacity)
    : inner_(inner), capacity_(std::max<std::size_t>(capacity, 1)) {}

bool WriteBehindSink::start() {
    return start_helper(capacity_, [this] { write_loop(); });
}

void WriteBehindSink::write_loop() {
    for (;;) {
        std::size_t size = 0;
        const unsigned char* data = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || pending_; });
            if (!pending_) return;  // stopped with nothing left to write
            size = pending_size_;
            data = buffer_.get();
        }
        const bool ok = inner_.write(data, size);
        const int err = ok ? 0 : inner_.error();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!ok) {
                failed_ = true;
                failed_errno_ = err;
            }
            pending_ = false;
        }
        changed_.notify_all();
    }
}

bool WriteBehindSink::wait_idle(std::unique_lock<std::mutex>& lock) {
    changed_.wait(lock, [this] { return !pending_; });
    if (!failed_) return true;
    error_ = failed_errno_;
    return false;
}

// Writes on the caller's thread while the helper idles.
bool WriteBehindSink::write_here(std::unique_lock<std::mutex>& lock, const unsigned char* data,
                                 std::size_t n) {
    lock.unlock();
    if (inner_.write(data, n)) return true;
    lock.lock();
    failed_ = true;
    failed_errno_ = error_ = inner_.error();
    return false;
}

void WriteBehindSink::hand_over(std::unique_lock<std::mutex>& lock, std::size_t n) {
    pending_size_ = n;
    pending_ = true;
    lock.unlock();
    changed_.notify_all();
}

bool WriteBehindSink::write(const unsigned char* data, std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!wait_idle(lock)) return false;
    if (n > capacity_) return write_here(lock, data, n);
    std::memcpy(buffer_.get(), data, n);
    hand_over(lock, n);
    return true;
}

bool WriteBehindSink::write_buffer(std::unique_ptr<unsigned char[]>& buffer, std::size_t size,
                                   std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!wait_idle(lock)) return false;
    if (size != capacity_) {
        // The first trade: a spare of the caller's size replaces the buffer.
        std::unique_ptr<unsigned char[]> spare(new (std::nothrow) unsigned char[size]);
        if (!spare) return write_here(lock, buffer.get(), n);
        buffer_ = std::move(spare);
        capacity_ = size;
    }
    buffer_.swap(buffer);
    hand_over(lock, n);
    return true;
}

bool WriteBehindSink::finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    return wait_idle(lock);
}

}  // namespace kurvane::detail
#endif
