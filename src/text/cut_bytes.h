// Where the threaded pass may cut input into stretches that are scanned
// independently: at a cut no character and no run crosses, so the scan of
// the stretch after it gives the runs a scan of the whole input gives there.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "text/input_encoding.h"
#include "text/text_class.h"

namespace kurvane::text {

struct CutRule {
    // A stretch may start at a byte of these values: one that is never
    // inside a character, and whose character (if it starts one) is neither
    // in the classes nor excluded.
    std::array<bool, 256> bytes{};
    // UTF-16, where no single byte is safe in both alignments: a stretch may
    // start at the middle one of three zero bytes, which both alignments read
    // as part of U+0000 (unless U+0000 is excluded, when this is false).
    bool zero_triples = false;
};

// The rule for one encoding, class set and excluded characters. Code page
// 932 gets an empty rule: the engine derives its cut bytes from its scan
// table.
CutRule cut_rule(InputEncoding encoding, ClassSet classes, std::span<const char32_t> excluded);

// The bytes that start some character that is kept or excluded, in
// EUC-JP and UTF-8; a scan skips the others without decoding. Every byte
// for the other encodings.
std::array<bool, 256> starts_taken(InputEncoding encoding, ClassSet classes, std::span<const char32_t> excluded);

// Whether a stretch may start at data[pos], 0 < pos < size.
bool is_cut(const CutRule& rule, const unsigned char* data, std::size_t size, std::size_t pos);

}  // namespace kurvane::text
