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

// The two inputs the driver reads: a source that also reads at any offset,
// as a regular file does (with several threads each reads its own
// stretches there), and a stream read in order.
enum class Input { positional, stream };
inline constexpr Input both_inputs[] = {Input::positional, Input::stream};

inline const char* name_of(Input input) { return input == Input::positional ? "positional" : "stream"; }

inline Bytes run_pass_through(Input input, std::span<const unsigned char> data,
                              const ExtractionSettings& settings, const detail::PassOptions& options,
                              ExtractStatus* status = nullptr) {
    MemorySource source(data);
    if (input == Input::positional) source.offer_positional(data.size());
    MemorySink sink;
    const ExtractStatus st = detail::run_pass(source, sink, settings, options);
    if (status != nullptr) *status = st;
    return std::move(sink.bytes);
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
