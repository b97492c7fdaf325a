// Inputs for the quality benchmark: real Japanese lines planted in data of
// several shapes, with where each planted line lies, and the measure of an
// extraction's lines against them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kurvane::quality {

using Bytes = std::vector<unsigned char>;

// Input bytes [offset, offset + size).
struct Range {
    std::uint64_t offset;
    std::size_t size;
    std::uint64_t end() const { return offset + size; }
};

struct PlantedInput {
    Bytes bytes;
    std::vector<Range> planted;  // sorted by offset, disjoint
};

// `lines` (code page 932) inserted, in order, at random places of `host`.
PlantedInput plant_in(std::span<const unsigned char> host, const std::vector<std::string>& lines,
                      std::uint64_t seed);

// A game script: records of a binary opcode and arguments, an ASCII tag and
// a line of text ended by a zero byte, with commands without text between.
PlantedInput script_shape(const std::vector<std::string>& lines, std::uint64_t seed);

// The words of 2 to 4 kanji or katakana in `lines`, each once, in order of
// first appearance.
std::vector<std::string> short_words(const std::vector<std::string>& lines);

// A table of fixed-size records (an id, a zero-padded name, small numbers)
// whose names are `words`.
PlantedInput word_table(const std::vector<std::string>& words, std::uint64_t seed);

struct Tally {
    std::size_t lines = 0;  // lines written
    std::size_t found = 0;  // planted lines that one written line holds whole
    std::size_t text = 0;   // written lines at least half of whose bytes were planted
};

// Measures written lines, given as the input range each holds.
Tally tally(std::vector<Range> lines, const std::vector<Range>& planted);

// How the written lines fail to hold a planted line whole.
enum class MissKind { dropped, start_cut, end_cut, both_cut, split };
inline constexpr std::size_t miss_kinds = 5;
const char* miss_name(MissKind kind);

struct Miss {
    Range planted;
    MissKind kind;
    std::vector<Range> written;  // the written lines over the planted one, in order
};

// The planted lines that no written line holds whole, in order.
std::vector<Miss> misses(std::vector<Range> lines, const std::vector<Range>& planted);

}  // namespace kurvane::quality
