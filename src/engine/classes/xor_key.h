// Finding the one-byte XOR a data file was stored with: every key is tried
// on samples of the file, and the key whose decoded bytes hold the most text
// wins, if it clearly beats reading the file as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/classes/text_score.h"
#include "engine/extraction_settings.h"

namespace kurvane {

// The most bytes of a file the search reads, in this many samples spread
// over it.
inline constexpr std::size_t xor_sample_budget = std::size_t{4} << 20;
inline constexpr std::size_t xor_sample_count = 16;

struct XorSample {
    std::uint64_t offset;
    std::size_t size;
};

// Where to sample a file of `file_size` bytes: the whole file when it fits
// the budget, else xor_sample_count equal samples from its start to its end.
std::vector<XorSample> plan_xor_samples(std::uint64_t file_size);

struct XorKeyChoice {
    bool found = false;      // `key` is clearly better than no XOR
    unsigned char key = 0;   // the key to use: 0 when none was found
    // Bytes kept as text in the part of the samples scored in full.
    std::uint64_t text_bytes = 0;        // with the best key
    std::uint64_t plain_text_bytes = 0;  // the same with no XOR
};

// The byte that fills the data of `samples`: the one whose repeat (00 00)
// is their most common pair of bytes, as in files of padding, tables and
// numbers with zero high bytes; -1 when that pair is no repeat, as in text.
// A key that turns it into the first byte of a character of the encoding
// read turns the data's fill into characters (under the key that makes
// zeros 0x83, zero-padded numbers read as runs of katakana), so no such key
// is taken: the right key turns the fill back into what the data holds.
int fill_byte(std::span<const std::span<const unsigned char>> samples);

// Tries the 256 keys on `samples` under the classes and excluded pairs of
// `settings` (its own XOR and minimum length are ignored) and picks one: the
// key under which the runs scoring at least `min_score` keep the most bytes,
// when that is clearly more than with no XOR.
XorKeyChoice find_xor_key(std::span<const std::span<const unsigned char>> samples,
                          const ExtractionSettings& settings, int min_score = default_min_score);

}  // namespace kurvane
