// A deliberately plain scan of input in one of the encodings other than code
// page 932 (whose reference is the engine's, tests/engine/reference_extract):
// decode a character at each position, keep it when its class is in the set,
// skip it and go on when it is excluded, end the run at anything else.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "text/input_encoding.h"
#include "text/text_class.h"

namespace kurvane::test {

struct ScanSettings {
    text::InputEncoding encoding = text::InputEncoding::utf8;
    text::ClassSet classes;
    std::uint32_t min_length = 1;  // bytes of the input encoding that the run keeps
    unsigned char xor_value = 0;   // applied to every byte before the scan
    std::vector<char32_t> excluded;
    std::vector<std::u32string> exempt;  // kept even in runs shorter than min_length
};

// One run written: it starts at input offset `offset` (its first kept or
// excluded character) and takes `length` input bytes; `text` is what is
// written, its kept characters, or the exempt string it holds when it is
// shorter than min_length.
struct ReferenceRun {
    std::uint64_t offset;
    std::uint64_t length;
    std::u32string text;

    bool operator==(const ReferenceRun&) const = default;
};

// The runs in input order, never split, whatever their length. A run ends
// at the first character that is neither kept nor excluded, and the scan
// goes on at that position.
//
// UTF-16 is scanned in each alignment on its own (a run keeps the alignment
// it starts at). Read one byte off, Japanese UTF-16 is a run of valid kanji
// as long as the text, so where runs of the two alignments overlap, the one
// with more kana in the overlap keeps its characters (then the one with
// more kept bytes, then the earlier), and the other loses those that touch
// it; the length test applies to what remains.
std::vector<ReferenceRun> reference_scan(std::span<const unsigned char> data, const ScanSettings& settings);

// For test failures: the offset, the length and the code points.
void PrintTo(const ReferenceRun& run, std::ostream* out);

}  // namespace kurvane::test
