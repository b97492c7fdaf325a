// Running the extraction pass over memory, for the pass tests and the fuzzer.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/extract_pass.h"

namespace kurvane::test {

using Bytes = std::vector<unsigned char>;

inline Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

class MemorySource final : public detail::ByteSource {
public:
    // Fails with fail_errno once `fail_at` bytes have been delivered.
    explicit MemorySource(std::span<const unsigned char> data, std::size_t fail_at = SIZE_MAX,
                          int fail_errno = 0)
        : data_(data), fail_at_(fail_at), fail_errno_(fail_errno) {}
    std::size_t read(unsigned char* dst, std::size_t n) override {
        const std::size_t stop = std::min(data_.size(), fail_at_);
        const std::size_t got = std::min(n, stop - pos_);
        if (got > 0) std::memcpy(dst, data_.data() + pos_, got);
        pos_ += got;
        if (got < n && pos_ == fail_at_ && fail_at_ < data_.size()) error_ = fail_errno_;
        return got;
    }
    int error() const override { return error_; }

private:
    std::span<const unsigned char> data_;
    std::size_t pos_ = 0;
    std::size_t fail_at_;
    int fail_errno_;
    int error_ = 0;
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
