// The plain pass spread over several threads. The input is cut into
// stretches that end at a byte which ends every run and is never the trail
// of a character; each stretch is then scanned on its own, and the outputs,
// written in input order, are the one-thread pass's bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/scan/extract_pass.h"
#include "engine/classes/scan_table.h"
#include "text/cut_bytes.h"

namespace kurvane::detail {

// Marks the bytes at which the input may be cut under `table`: no pair
// that starts with one is text or excluded (a run reaching it ends there),
// and no pair that ends with one is a double-byte character or excluded
// (no run steps over it). Only the table decides, so a class or an excluded
// pair that takes a byte in clears its mark.
void find_split_bytes(const ScanTable& table, std::array<bool, 256>& split);
// The position after the last byte of b[0, n) that `stored_split` marks,
// or 0 when there is none.
inline std::size_t cut_after(const std::array<bool, 256>& stored_split, const unsigned char* b,
                             std::size_t n) {
    for (std::size_t k = n; k > 0; --k)
        if (stored_split[b[k - 1]]) return k;
    return 0;
}

// Where the drivers may cut the stored input (before the XOR) into
// stretches: after a split byte of the code page 932 scan, or where the cut
// rule of another input encoding lets a stretch start.
class StretchCuts {
public:
    void after_bytes(const std::array<bool, 256>& stored_split) { after_ = stored_split; }
    void by_rule(const text::CutRule& rule, unsigned char key);
    // The position in b[0, n) the next stretch may start at, the last one
    // there is (at most n), or 0 when there is none.
    std::size_t last(const unsigned char* b, std::size_t n) const {
        if (!triples_) return cut_after(after_, b, n);
        // A middle zero of three, all three in b[0, n).
        for (std::size_t k = n >= 2 ? n - 1 : 0; k-- > 1;)
            if (b[k] == triple_ && b[k - 1] == triple_ && b[k + 1] == triple_) return k;
        return 0;
    }

private:
    std::array<bool, 256> after_{};
    bool triples_ = false;
    unsigned char triple_ = 0;
};

// The scan table for `settings`, or null when there is no memory for it, and
// the stretch cuts of the input encoding.
std::unique_ptr<ScanTable> make_cut_table(const ExtractionSettings& settings, text::InputEncoding encoding,
                                          StretchCuts& cuts);

// The scanning threads a pass given `requested` runs: one per core for 0,
// never more than max_pass_threads.
inline constexpr unsigned max_pass_threads = 64;
unsigned pass_threads(unsigned requested);
// The threads worth running for `requested`: pass_threads(), but no more
// than there are cores. A thread more waits for a core and for its turn to
// write, and gains nothing.
unsigned useful_threads(unsigned requested);

// The piece (stretch) size and output buffer size each thread works with
// when `threads` threads share the memory budget and the caller asked for
// at most `options`' sizes. Fills the two values.
void parallel_sizes(unsigned threads, const PassOptions& options, std::size_t& stretch,
                    std::size_t& output_buffer);

// run_pass for the plain format with options.threads threads (0: one per
// core). From a positional source (see ByteSource) each thread reads,
// scans and writes its own stretches in turn; from any other
// the calling thread reads, cuts and writes in order and the others scan.
// Reports the first error in input order; nothing is written after it.
ExtractStatus run_parallel_pass(ByteSource& input, ByteSink& output,
                                const ExtractionSettings& settings, const PassOptions& options);

// The positional form with `threads` threads, the calling thread one of
// them, over `input`, whose size said `size` bytes: the stretches are laid
// out by it, and the last one reads on to the data's end. `ran` is false
// when the memory for it was not to be had; nothing has been read then.
ExtractStatus run_positional_pass(ByteSource& input, ByteSink& output,
                                  const ExtractionSettings& settings, const PassOptions& options,
                                  unsigned threads, std::uint64_t size, bool& ran);

}  // namespace kurvane::detail
