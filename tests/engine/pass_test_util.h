// Running the extraction pass over memory, for the pass tests and the fuzzer.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/drive/pass.h"
#include "engine/drive/overlapped_io.h"

namespace kurvane::test {

using Bytes = std::vector<unsigned char>;

inline Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Data in memory, read in order or, like a regular file, at any offset.
class MemorySource final : public detail::ByteSource {
public:
    // Fails with fail_errno once `fail_at` bytes have been delivered (read
    // in order), or for a read at an offset that reaches `fail_at`.
    explicit MemorySource(std::span<const unsigned char> data, std::size_t fail_at = SIZE_MAX,
                          int fail_errno = 0)
        : data_(data), fail_at_(fail_at), fail_errno_(fail_errno), size_(data.size()) {}
    std::size_t read(unsigned char* dst, std::size_t n) override {
        const std::size_t stop = std::min(data_.size(), fail_at_);
        const std::size_t got = std::min(n, stop - pos_);
        if (got > 0) std::memcpy(dst, data_.data() + pos_, got);
        pos_ += got;
        if (got < n && pos_ == fail_at_ && fail_at_ < data_.size()) error_ = fail_errno_;
        return got;
    }
    int error() const override { return error_; }

    // Offers reads at an offset, and says the data has `size` bytes, which
    // may be wrong as a file's size may be (it grew, it shrank, /proc).
    void offer_positional(std::uint64_t size) {
        positional_ = true;
        size_ = size;
    }
    bool positional(std::uint64_t& size) override {
        size = size_;
        return positional_;
    }
    std::size_t read_at(std::uint64_t offset, unsigned char* dst, std::size_t n,
                        int& error) override {
        const std::size_t stop = std::min(data_.size(), fail_at_);
        const std::size_t from = static_cast<std::size_t>(std::min<std::uint64_t>(offset, stop));
        const std::size_t got = std::min(n, stop - from);
        if (got > 0) std::memcpy(dst, data_.data() + from, got);
        if (got < n && fail_at_ < data_.size()) error = fail_errno_;
        return got;
    }

private:
    std::span<const unsigned char> data_;
    std::size_t pos_ = 0;
    std::size_t fail_at_;
    int fail_errno_;
    int error_ = 0;
    bool positional_ = false;
    std::uint64_t size_;
};

class MemorySink final : public detail::ByteSink {
public:
    explicit MemorySink(std::size_t capacity = SIZE_MAX) : capacity_(capacity) {}
    bool write(const unsigned char* data, std::size_t n) override {
        if (bytes.size() + n > capacity_) {
            error_ = ENOSPC;
            return false;
        }
        bytes.insert(bytes.end(), data, data + n);
        return true;
    }
    int error() const override { return error_; }
    Bytes bytes;

private:
    std::size_t capacity_;
    int error_ = 0;
};

// A sink that trades every buffer it is handed for a new one of the same
// size, as the write-behind sink does, and frees the old one: a pass that
// keeps writing into or against a traded buffer is caught by ASan. The new
// buffer is filled with a marker so nothing relies on what it holds.
class TradingSink final : public detail::ByteSink {
public:
    bool write(const unsigned char* data, std::size_t n) override {
        bytes.insert(bytes.end(), data, data + n);
        return true;
    }
    bool write_buffer(std::unique_ptr<unsigned char[]>& buffer, std::size_t size,
                      std::size_t n) override {
        write(buffer.get(), n);
        std::unique_ptr<unsigned char[]> fresh(new unsigned char[size]);
        std::memset(fresh.get(), 0xA5, size);
        buffer = std::move(fresh);
        return true;
    }
    int error() const override { return 0; }
    Bytes bytes;
};

inline Bytes run_pass_on(std::span<const unsigned char> data, const ExtractionSettings& settings,
                         std::size_t piece_size = detail::default_piece_size,
                         std::size_t output_buffer = detail::default_output_buffer_size,
                         ExtractStatus* status = nullptr) {
    MemorySource source(data);
    MemorySink sink;
    const ExtractStatus st =
        detail::run_pass(source, sink, settings, {piece_size, output_buffer});
    if (status != nullptr) *status = st;
    return sink.bytes;
}

// The sinks and sources a pass can meet: one that keeps its buffer (from a
// source that also reads at any offset, as a regular file does), one that
// trades it at every flush, and the real read-ahead and write-behind
// helpers (where the build has threads).
enum class SinkKind { keeps, trades, overlapped };

inline const char* name_of(SinkKind kind) {
    switch (kind) {
    case SinkKind::keeps: return "keeps";
    case SinkKind::trades: return "trades";
    case SinkKind::overlapped: return "overlapped";
    }
    return "?";
}

// Runs the pass through the given kind of sink. For the overlapped kind,
// `block` is the read-ahead block and the write-behind capacity.
inline Bytes run_pass_through(SinkKind kind, std::span<const unsigned char> data,
                              const ExtractionSettings& settings, detail::PassOptions options,
                              std::size_t block = 4096, ExtractStatus* status = nullptr) {
    MemorySource source(data);
    ExtractStatus st;
    Bytes out;
    switch (kind) {
    case SinkKind::keeps: {
        source.offer_positional(data.size());
        MemorySink sink;
        st = detail::run_pass(source, sink, settings, options);
        out = std::move(sink.bytes);
        break;
    }
    case SinkKind::trades: {
        TradingSink sink;
        st = detail::run_pass(source, sink, settings, options);
        out = std::move(sink.bytes);
        break;
    }
    case SinkKind::overlapped: {
#if KURVANE_ENGINE_THREADS
        MemorySink sink;
        {
            detail::PrefetchSource ahead(source, block);
            detail::WriteBehindSink behind(sink, block);
            if (!ahead.start() || !behind.start()) {
                st.error = ExtractError::no_memory;
                break;
            }
            st = detail::run_pass(ahead, behind, settings, options);
            if (!behind.finish() && st.ok()) st.error = ExtractError::write_output;
        }
        out = std::move(sink.bytes);
#else
        // Without threads the file front ends use the plain source and sink.
        static_cast<void>(block);
        MemorySink sink;
        st = detail::run_pass(source, sink, settings, options);
        out = std::move(sink.bytes);
#endif
        break;
    }
    }
    if (status != nullptr) *status = st;
    return out;
}

// Printable form of a byte string for failure messages.
inline std::string hex(std::span<const unsigned char> b, std::size_t limit = 64) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t k = 0; k < b.size() && k < limit; ++k) {
        text += digits[b[k] >> 4];
        text += digits[b[k] & 15];
        text += ' ';
    }
    if (b.size() > limit) text += "... (" + std::to_string(b.size()) + " bytes)";
    return text;
}

}  // namespace kurvane::test
