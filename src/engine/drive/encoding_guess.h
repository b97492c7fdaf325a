// Finding the encoding a data file's text is in, and with it the one-byte
// XOR it was stored with: each candidate is read with the text filter on
// samples of the file, and the one under which the most characters read as
// text wins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/classes/text_score.h"
#include "engine/extraction_settings.h"
#include "text/input_encoding.h"

namespace kurvane {

// Each reading scores at most this many bytes of the samples, an equal
// share from the start of each.
inline constexpr std::size_t guess_sample_budget = std::size_t{1} << 20;
// Keys tried for an encoding other than code page 932 (which has a search
// of its own): those under which the most frequent bytes of the samples
// stand for zeros or for the encoding's most frequent byte of text.
inline constexpr std::size_t guess_frequent_keys = 8;

struct InputChoice {
    text::InputEncoding encoding = text::InputEncoding::cp932;
    unsigned char key = 0;          // 0: no XOR
    std::uint64_t text_chars = 0;   // characters the winner kept as text
};

// The characters `--text` keeps from `samples` read in `encoding` under
// `settings` (with its XOR, classes, excluded pairs and minimum length),
// each sample as if it were a file of its own.
std::uint64_t text_characters(std::span<const std::span<const unsigned char>> samples,
                              const ExtractionSettings& settings, text::InputEncoding encoding,
                              int min_score = default_min_score);

// The best of `candidates` on `samples`; with `find_key` each is tried
// with the likely XOR keys too (settings' own XOR is ignored then), and a
// key is taken only when it keeps clearly more text than none. Without it
// the settings' XOR applies. Ties go to the earlier candidate. The
// candidates are read on up to `threads` threads (0: one per core); the
// answer does not depend on how many.
InputChoice choose_input(std::span<const std::span<const unsigned char>> samples, const ExtractionSettings& settings,
                         std::span<const text::InputEncoding> candidates, bool find_key,
                         int min_score = default_min_score, unsigned threads = 1);

}  // namespace kurvane
