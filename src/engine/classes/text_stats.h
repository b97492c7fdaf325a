// The generated character statistics the text score weighs runs with (see
// scripts/gen_text_stats.py for how they are derived and from what): per
// character a class and a weight, and per pair of classes a transition, all
// log-likelihood ratios of Japanese prose against random bytes in 1/32 nat.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kurvane::detail {

// The classes the statistics are counted over; the generator pins the order.
enum class TextClass : std::uint8_t {
    other,  // a character code page 932 lacks, not an ideograph
    space,
    digit,
    upper,
    lower,
    punct,      // ASCII symbols and punctuation
    half_kana,  // half-width katakana and their punctuation
    hiragana,
    katakana,
    kanji1,      // JIS level-1 kanji
    kanji2,      // JIS level-2 kanji
    rare_kanji,  // the extensions, and ideographs code page 932 lacks
    symbol,      // the double-byte punctuation and symbols
    full_alnum,  // double-byte digits and Latin letters
    greek_cyrillic,
    rare_symbol,  // box drawing, the rarely used rows, the extensions' symbols
};
inline constexpr std::size_t text_class_count = 16;
// The transition row used before the first character of a run.
inline constexpr std::size_t text_class_start = text_class_count;

inline constexpr int text_stats_units_per_nat = 32;

struct TextStatsChar {
    std::uint16_t code_point;
    std::uint8_t text_class;
    std::int16_t weight;
};
// Every character the scan can report, sorted by code point.
inline constexpr std::size_t text_stats_char_count = 7484;
extern const TextStatsChar text_stats_chars[text_stats_char_count];

// Pairs of double-byte characters prose holds far more often than the
// classes and character weights predict, with the evidence they add; sorted
// by `pair`, the first character's code point << 16 | the second's.
struct TextStatsPair {
    std::uint32_t pair;
    std::int16_t bonus;
};
inline constexpr std::size_t text_stats_pair_count = 5321;
extern const TextStatsPair text_stats_pairs[text_stats_pair_count];

// Pairs of kanji that the words of a word list hold side by side, sorted,
// the first's code point << 16 | the second's; and the evidence two kanji
// side by side carry, [0] when they are no such pair and [1] when they
// are, by the classes of the first and the second (level 1, level 2, rare).
inline constexpr std::size_t text_stats_word_pair_count = 120331;
extern const std::uint32_t text_stats_word_pairs[text_stats_word_pair_count];
inline constexpr std::size_t text_stats_kanji_classes = 3;
extern const std::int16_t text_stats_kanji_pair[2][text_stats_kanji_classes][text_stats_kanji_classes];

extern const std::int16_t text_stats_transition[text_class_count + 1][text_class_count];
// The weights of characters outside the table: an ideograph, anything else.
extern const std::int16_t text_stats_unseen_ideograph;
extern const std::int16_t text_stats_unseen_other;

}  // namespace kurvane::detail
