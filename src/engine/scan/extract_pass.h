// The scan of one output format over pieces of input, between a byte source
// and a byte sink: the driver (drive/pass.h) reads the pieces, a
// PieceScanner scans them and writes what it finds to its sink.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/extract.h"
#include "engine/extraction_settings.h"

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

inline constexpr std::size_t default_piece_size = std::size_t{4} << 20;
inline constexpr std::size_t default_output_buffer_size = std::size_t{1} << 20;

// A piece buffer holds, before each piece, the previous piece's bytes that
// its scan left for the next one, and after it zero padding the scan may
// read past the data.
inline constexpr std::size_t piece_headroom = 1;
inline constexpr std::size_t piece_padding = 63;

struct ScanTable;
struct StretchOutput;

// The scan of one output format as one object, for a driver that hands it
// pieces: output goes to `sink` in buffers of `output_buffer_size` bytes and
// some slack.
class PieceScanner {
public:
    // The format's printer over the scan (null: the plain format); null when
    // the memory for it is not to be had.
    static std::unique_ptr<PieceScanner> create(const ScanTable& table,
                                                const ExtractionSettings& settings,
                                                const OutputFormat* format, ByteSink& sink,
                                                std::size_t output_buffer_size);
    virtual ~PieceScanner() = default;
    // Scans the piece b[0, carry + got), where the first `carry` bytes are
    // what the previous scan returned (already decoded) and the `got` after
    // them fresh input, which is decoded with the settings' XOR here; b[0]
    // lies at input offset `base`. The buffer has `room` bytes from b, at
    // least carry + got + piece_padding. When `last` is false, the run in
    // progress is kept for the next piece and the count of bytes at the
    // piece's end the next piece must start with (at most piece_headroom) is
    // returned; when true, the stretch ends: 0 is returned and the scanner
    // starts afresh on the next piece, as if at the start of a line.
    virtual std::size_t scan(unsigned char* b, std::size_t carry, std::size_t got, bool last,
                             std::size_t room, std::uint64_t base) = 0;
    // Hands everything buffered to the sink; false once the sink failed.
    virtual bool flush() = 0;
    virtual bool failed() const = 0;
    virtual std::uint64_t written() const = 0;  // bytes the sink took
    // Characters written as '?' so far (code page 932 output of decoded text).
    virtual std::uint64_t substituted() const { return 0; }
    // What the output of the stretch scanned since the scanner started
    // afresh inherits from the output before it (see print/printer.h).
    virtual StretchOutput stretch_output() const = 0;
};

}  // namespace kurvane::detail
