// The record that says what the extraction pass treats as text and how it
// writes it. The engine holds none of its own: each front end keeps the
// record its settings file fills and its user edits, and hands it to every
// extraction.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kurvane {

inline constexpr std::size_t excluded_pair_count = 12;
inline constexpr std::size_t excluded_pair_width = 3;   // two bytes and a 0
inline constexpr std::size_t exempt_string_count = 6;
inline constexpr std::size_t exempt_string_width = 21;  // 20 bytes and a 0
inline constexpr std::size_t exempt_string_max = exempt_string_width - 1;

// Values loaded from a settings file are never range-checked: every reader
// must cope with any bit pattern (min_length 0, xor_value 300, a flag of 7,
// table entries without a terminating zero).
struct ExtractionSettings {
    std::int32_t auto_newline = 1;  // line break after every run written at its end
    std::uint32_t min_length = 1;   // bytes; compared unsigned, 0 writes empty runs
    std::uint32_t xor_value = 0;    // only the low byte is applied; 0 disables the step
    std::int32_t half_digits = 0;
    std::int32_t half_upper = 0;
    std::int32_t half_lower = 0;
    std::int32_t half_katakana = 0;
    std::int32_t half_symbols = 0;
    std::int32_t full_hiragana = 1;
    std::int32_t full_katakana = 1;
    std::int32_t full_kanji = 1;
    std::int32_t full_digits = 1;
    std::int32_t full_upper = 1;
    std::int32_t full_lower = 1;
    std::int32_t full_cyrillic = 1;
    std::int32_t full_greek = 1;
    std::int32_t full_symbols = 1;
    // Byte 0 and 1 are the sequence; an entry whose byte 0 is 0 is empty.
    unsigned char excluded_pairs[excluded_pair_count][excluded_pair_width] = {};
    // Zero-terminated within the entry's width when written by the dialog;
    // readers stop at the width whatever the entry holds.
    unsigned char exempt_strings[exempt_string_count][exempt_string_width] = {};
};

}  // namespace kurvane
