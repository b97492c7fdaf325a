// The scan of one output format over pieces of input, between a byte source
// and a byte sink: the driver (drive/pass.h) reads the pieces, a
// PieceScanner scans them and writes what it finds to its sink.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/extraction_settings.h"
#include "engine/output_format.h"
#include "engine/pass_io.h"

namespace kurvane::detail {


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
