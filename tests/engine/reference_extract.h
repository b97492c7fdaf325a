// A deliberately plain whole-file extraction pass: the whole input in one
// buffer followed by 16 zero bytes, one classify_pair call per examined
// position and a 1024-byte run buffer, as the dialog's pass is described.
// The real pass streams, uses lookup tables and writes from the input; tests
// and the fuzzer compare the two byte for byte.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "engine/extraction_settings.h"
#include "engine/output_format.h"

namespace kurvane::test {

// One write of the pass: bytes of the run that starts at input offset
// `start` (where its first character or excluded pair lies), and whether the
// line break follows them. A run over 1000 bytes is written in pieces, each
// a write of its own (`split`); the scan goes on with a new run after each
// piece, which `continues` the run when it starts right where the piece
// ended (as does the empty run min_length 0 writes after a piece). The
// bytes lay at input offsets [at, end) (at == end == start when empty).
struct ReferenceWrite {
    std::uint64_t start;
    std::vector<unsigned char> bytes;
    bool line_break;
    std::uint64_t at = 0;
    std::uint64_t end = 0;
    bool split = false;
    bool continues = false;
    // The text filter's score of the run, for JSON, whose object then
    // carries it (-1: no score).
    int score = -1;
};

// The output; with `writes`, also the writes that make it up, in order.
std::vector<unsigned char> reference_extract(std::span<const unsigned char> data,
                                             const ExtractionSettings& settings,
                                             std::vector<ReferenceWrite>* writes = nullptr);

// The writes alone, handed to `each` as they are made and not kept (for
// inputs whose writes would not fit in memory).
void reference_writes(std::span<const unsigned char> data, const ExtractionSettings& settings,
                      const std::function<void(const ReferenceWrite&)>& each);

// formatted_reference a write at a time: `out` grows by each write's
// output (a caller may take it away between writes), finish() ends it.
class FormattedReference {
public:
    FormattedReference(const OutputFormat& format, bool lines) : format_(format), lines_(lines) {}
    void add(const ReferenceWrite& w);
    void finish();
    std::vector<unsigned char> out;

private:
    void close_object();

    OutputFormat format_;
    bool lines_;
    bool prefix_due_ = true;
    std::uint64_t last_start_ = UINT64_MAX;
    bool open_ = false;  // JSON: an object is open
    std::uint64_t first_ = 0;
    std::uint64_t last_end_ = 0;
    int score_ = -1;
    std::vector<unsigned char> text_;
};

// The output of a format, built from the reference pass's writes: each
// line (with line breaks off, each run written) starts with the name and the
// offset of its first byte, printed by printf. For JSON, one object per run
// (a run's pieces joined), its text converted and escaped byte by byte.
std::vector<unsigned char> formatted_reference(const std::vector<ReferenceWrite>& writes,
                                               const OutputFormat& format, bool lines);

}  // namespace kurvane::test
