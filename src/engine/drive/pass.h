// The extraction pass between a byte source and a byte sink: the one entry
// the file front ends, the tests and the fuzzer call. It runs one driver:
// each of its worker threads takes a stretch of the input, scans it and
// writes its output in input order, so the output does not depend on the
// stretch size or the thread count.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "engine/pass_io.h"
#include "engine/extraction_settings.h"
#include "engine/scan/extract_pass.h"
#include "text/input_encoding.h"

namespace kurvane::detail {

class PassScan;

struct PassOptions {
    // The largest stretch a worker reads and scans at once (input bytes);
    // the driver takes less where its memory budget says so.
    std::size_t piece_size = default_piece_size;
    std::size_t output_buffer_size = default_output_buffer_size;
    // Null or plain: the runs are written as they are. Otherwise the
    // format's printer writes the same runs as it says.
    const OutputFormat* format = nullptr;
    // Null or empty: nothing. Otherwise called now and then, and once at
    // the end, with the input bytes scanned so far.
    const std::function<void(std::uint64_t)>* progress = nullptr;
    // The progress callback when there is one to call, else null.
    const std::function<void(std::uint64_t)>* progress_to_call() const {
        return progress != nullptr && *progress ? progress : nullptr;
    }
    // Worker threads: 1 is the calling thread alone, 0 one per core.
    unsigned threads = 1;
    // The outputs each of several workers scans into, so that it scans on
    // while the last one waits for its turn to be written: 1 or 2, or 0 for
    // the driver to choose (2 while every worker has a core of its own).
    unsigned outputs_per_worker = 0;
    // Null: the scan of the settings in `format` with the input read in
    // `input_encoding` (see make_scan). Otherwise the scan to run, which
    // outlives the pass, and the two below do not apply.
    const PassScan* scan = nullptr;
    text::InputEncoding input_encoding = text::InputEncoding::cp932;
    // Null, or where the decoding scans add the characters they wrote as
    // '?' (code page 932 output of text code page 932 lacks).
    std::atomic<std::uint64_t>* substituted = nullptr;
};

// Scans everything `input` yields and writes the accepted runs to `output`.
// Reports read_input, write_output (the sink failed) or no_memory, the
// first in input order; nothing is written after it. The sink is not
// closed.
ExtractStatus run_pass(ByteSource& input, ByteSink& output, const ExtractionSettings& settings,
                       const PassOptions& options = {});

// The worker threads a pass given `requested` runs: one per core for 0,
// never more than max_pass_threads.
inline constexpr unsigned max_pass_threads = 64;
unsigned pass_threads(unsigned requested);
// The threads worth running for `requested`: pass_threads(), but no more
// than there are cores. A thread more waits for a core and for its turn to
// write, and gains nothing.
unsigned useful_threads(unsigned requested);

}  // namespace kurvane::detail
