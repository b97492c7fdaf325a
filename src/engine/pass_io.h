// What a pass reads from and writes to, and how it ended: the byte source
// and sink every driver, scanner and printer works between, and the status
// the file front ends report.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace kurvane {

// Why an extraction did not happen or did not complete. The engine never
// prints; front ends turn this into a message (or, in the dialog, silence).
enum class ExtractError {
    none,
    name_too_long,    // the part of the name before its first '.' exceeds 251 bytes (see output_name_for)
    output_is_input,  // the output would be the input file itself
    open_input,       // the input cannot be opened (errno in sys_errno)
    not_regular,      // the input is a directory
    read_input,       // reading the input failed (errno in sys_errno)
    create_output,    // the output cannot be created (errno in sys_errno)
    write_output,     // writing or closing the output failed (errno in sys_errno)
    no_memory,        // the working buffers cannot be allocated
};

struct ExtractStatus {
    ExtractError error = ExtractError::none;
    int sys_errno = 0;
    std::uint64_t bytes_in = 0;   // data bytes scanned
    std::uint64_t bytes_out = 0;  // text bytes written
    // Characters of decoded input written as '?' in code page 932 output,
    // which has no code for them.
    std::uint64_t substituted = 0;
    bool ok() const { return error == ExtractError::none; }
};

}  // namespace kurvane

namespace kurvane::detail {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to n bytes into dst. Returns fewer than n only at the end of
    // the data or on an error; error() then tells which (an errno value).
    virtual std::size_t read(unsigned char* dst, std::size_t n) = 0;
    virtual int error() const = 0;
    // A source that can read at any offset without moving (a regular file)
    // returns true and its size in bytes; the threaded pass then reads its
    // stretches on the scanning threads themselves. Others return false.
    virtual bool positional(std::uint64_t& size) {
        static_cast<void>(size);
        return false;
    }
    // For a positional source: reads up to n bytes at `offset`, from any
    // thread and several at once. Returns fewer than n only at the end of
    // the data or on an error, and then sets `error` (an errno value) for an
    // error. Offsets count from the position the source had when the pass
    // began.
    virtual std::size_t read_at(std::uint64_t offset, unsigned char* dst, std::size_t n,
                                int& error) {
        static_cast<void>(offset);
        static_cast<void>(dst);
        static_cast<void>(n);
        error = EINVAL;
        return 0;
    }
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes all n bytes or returns false; error() then holds an errno value.
    virtual bool write(const unsigned char* data, std::size_t n) = 0;
    virtual int error() const = 0;
    // Writes the first n bytes of `buffer`, which holds `size` bytes, like
    // write(). A sink that writes later may keep the buffer and leave in
    // `buffer` another one of the same size for the caller to fill next.
    virtual bool write_buffer(std::unique_ptr<unsigned char[]>& buffer, std::size_t size,
                              std::size_t n) {
        static_cast<void>(size);
        return write(buffer.get(), n);
    }
};

}  // namespace kurvane::detail
