#include "engine/classes/classifier.h"

#include <array>

#include "engine/classes/char_ranges.h"

namespace kurvane {
namespace detail {
namespace {

using S = ExtractionSettings;

constexpr std::array single_table{
    SingleRange{&S::half_symbols, 0x20, 0x2F},  SingleRange{&S::half_symbols, 0x3A, 0x40},
    SingleRange{&S::half_symbols, 0x5B, 0x60},  SingleRange{&S::half_symbols, 0x7B, 0x7E},
    SingleRange{&S::half_symbols, 0xA1, 0xA4},  SingleRange{&S::half_katakana, 0xA6, 0xDF},
    SingleRange{&S::half_upper, 0x41, 0x5A},    SingleRange{&S::half_lower, 0x61, 0x7A},
    SingleRange{&S::half_digits, 0x30, 0x39},
};

// Code page 932 rows 0x81-0x84, 0x87-0x9F, 0xE0-0xEA, 0xED-0xEE and 0xFA-0xFC,
// each code point under exactly one class; the trail 0x7F is never a character.
constexpr std::array double_table{
    DoubleRange{&S::full_symbols, 0x81, 0x81, 0x40, 0x7E},
    DoubleRange{&S::full_symbols, 0x81, 0x81, 0x80, 0xAC},
    DoubleRange{&S::full_symbols, 0x81, 0x81, 0xB8, 0xBF},
    DoubleRange{&S::full_symbols, 0x81, 0x81, 0xC8, 0xCE},
    DoubleRange{&S::full_symbols, 0x81, 0x81, 0xDA, 0xE8},
    DoubleRange{&S::full_symbols, 0x81, 0x81, 0xF0, 0xF7},
    DoubleRange{&S::full_symbols, 0x81, 0x81, 0xFC, 0xFC},
    DoubleRange{&S::full_digits, 0x82, 0x82, 0x4F, 0x58},
    DoubleRange{&S::full_upper, 0x82, 0x82, 0x60, 0x79},
    DoubleRange{&S::full_lower, 0x82, 0x82, 0x81, 0x9A},
    DoubleRange{&S::full_hiragana, 0x82, 0x82, 0x9F, 0xF1},
    DoubleRange{&S::full_katakana, 0x83, 0x83, 0x40, 0x7E},
    DoubleRange{&S::full_katakana, 0x83, 0x83, 0x80, 0x96},
    DoubleRange{&S::full_greek, 0x83, 0x83, 0x9F, 0xB6},
    DoubleRange{&S::full_greek, 0x83, 0x83, 0xBF, 0xD6},
    DoubleRange{&S::full_cyrillic, 0x84, 0x84, 0x40, 0x60},
    DoubleRange{&S::full_cyrillic, 0x84, 0x84, 0x70, 0x7E},
    DoubleRange{&S::full_cyrillic, 0x84, 0x84, 0x80, 0x91},
    DoubleRange{&S::full_symbols, 0x84, 0x84, 0x9F, 0xBE},
    DoubleRange{&S::full_symbols, 0x87, 0x87, 0x40, 0x5D},
    DoubleRange{&S::full_symbols, 0x87, 0x87, 0x5F, 0x75},
    DoubleRange{&S::full_symbols, 0x87, 0x87, 0x7E, 0x7E},
    DoubleRange{&S::full_symbols, 0x87, 0x87, 0x80, 0x9C},
    DoubleRange{&S::full_kanji, 0x88, 0x88, 0x9F, 0xFC},
    DoubleRange{&S::full_kanji, 0x89, 0x97, 0x40, 0x7E},
    DoubleRange{&S::full_kanji, 0x89, 0x97, 0x80, 0xFC},
    DoubleRange{&S::full_kanji, 0x98, 0x98, 0x40, 0x72},
    DoubleRange{&S::full_kanji, 0x98, 0x98, 0x9F, 0xFC},
    DoubleRange{&S::full_kanji, 0x99, 0x9F, 0x40, 0x7E},
    DoubleRange{&S::full_kanji, 0x99, 0x9F, 0x80, 0xFC},
    DoubleRange{&S::full_kanji, 0xE0, 0xE9, 0x40, 0x7E},
    DoubleRange{&S::full_kanji, 0xE0, 0xE9, 0x80, 0xFC},
    DoubleRange{&S::full_kanji, 0xEA, 0xEA, 0x40, 0x7E},
    DoubleRange{&S::full_kanji, 0xEA, 0xEA, 0x80, 0xA4},
    DoubleRange{&S::full_kanji, 0xED, 0xED, 0x40, 0x7E},
    DoubleRange{&S::full_kanji, 0xED, 0xED, 0x80, 0xFC},
    DoubleRange{&S::full_kanji, 0xEE, 0xEE, 0x40, 0x7E},
    DoubleRange{&S::full_kanji, 0xEE, 0xEE, 0x80, 0xEC},
    DoubleRange{&S::full_kanji, 0xEE, 0xEE, 0xEF, 0xFC},
    DoubleRange{&S::full_kanji, 0xFA, 0xFB, 0x40, 0x7E},
    DoubleRange{&S::full_kanji, 0xFA, 0xFB, 0x80, 0xFC},
    DoubleRange{&S::full_kanji, 0xFC, 0xFC, 0x40, 0x4B},
};

}  // namespace

std::span<const SingleRange> single_ranges() { return single_table; }
std::span<const DoubleRange> double_ranges() { return double_table; }

}  // namespace detail

CharClass classify_pair(const ExtractionSettings& settings, unsigned char lead,
                        unsigned char trail) {
    // Excluded sequences win over every class, even with all classes off.
    for (const auto& entry : settings.excluded_pairs) {
        if (entry[0] != 0 && entry[0] == lead && entry[1] == trail) return CharClass::Excluded;
    }
    for (const auto& r : detail::single_table) {
        if (lead >= r.first && lead <= r.last && detail::flag_on(settings, r.flag))
            return CharClass::Single;
    }
    for (const auto& r : detail::double_table) {
        if (lead >= r.lead_first && lead <= r.lead_last && trail >= r.trail_first &&
            trail <= r.trail_last && detail::flag_on(settings, r.flag))
            return CharClass::Double;
    }
    return CharClass::None;
}

}  // namespace kurvane
