// What the driver knows of the scan: it makes one scanner per worker and
// asks where the input may be cut into stretches. An input encoding is one
// implementation of this, made once per pass and shared by the workers.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/extraction_settings.h"
#include "engine/output_format.h"
#include "engine/scan/extract_pass.h"
#include "text/input_encoding.h"

namespace kurvane::detail {

class PassScan {
public:
    virtual ~PassScan() = default;
    // A scanner writing to `sink` in buffers of `output_buffer_size` bytes;
    // null when the memory for it is not to be had.
    virtual std::unique_ptr<PieceScanner> scanner(ByteSink& sink,
                                                  std::size_t output_buffer_size) const = 0;
    // Where a stretch of the stored (not yet decoded) bytes b[0, n) may end:
    // the position of the last cut in it, after which the scan of what
    // follows starts afresh and still gives the runs of the whole input;
    // 0 when it has none. Called from several threads at once.
    virtual std::size_t cut_after(const unsigned char* b, std::size_t n) const = 0;
};

// The code page 932 scan of `settings`, written as `format` says (null:
// the plain format); null when the memory for it is not to be had.
std::unique_ptr<PassScan> make_cp932_scan(const ExtractionSettings& settings,
                                          const OutputFormat* format);

// The scan of the settings with the input read in `encoding`: the code page
// 932 scan for cp932, else the decoding scan of that encoding, which adds
// the characters it wrote as '?' to `substituted` when given. Null when the
// memory for it is not to be had.
std::unique_ptr<PassScan> make_scan(const ExtractionSettings& settings, const OutputFormat* format,
                                    text::InputEncoding encoding,
                                    std::atomic<std::uint64_t>* substituted = nullptr);

}  // namespace kurvane::detail
