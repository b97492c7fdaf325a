#include "engine/classes/classifier.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/classes/scan_table.h"

#ifdef __linux__
#include <iconv.h>
#endif

namespace kurvane {
namespace {

using S = ExtractionSettings;
using Flag = std::int32_t S::*;

constexpr std::array<Flag, 14> all_flags{
    &S::half_digits,   &S::half_upper,    &S::half_lower,    &S::half_katakana, &S::half_symbols,
    &S::full_hiragana, &S::full_katakana, &S::full_kanji,    &S::full_digits,   &S::full_upper,
    &S::full_lower,    &S::full_cyrillic, &S::full_greek,    &S::full_symbols};

ExtractionSettings with_flags(std::int32_t value) {
    ExtractionSettings s;
    for (Flag f : all_flags) s.*f = value;
    return s;
}

std::string pair_text(unsigned lead, unsigned trail) {
    char text[32];
    std::snprintf(text, sizeof text, "c=0x%02x t=0x%02x", lead, trail);
    return text;
}

// True when x lies in one of the ranges written as in the character tables,
// e.g. "40-7E,80-AC,FC" (hexadecimal, inclusive).
bool in(unsigned x, std::string_view ranges) {
    while (!ranges.empty()) {
        const std::size_t comma = ranges.find(',');
        const std::string item(ranges.substr(0, comma));
        unsigned first = 0;
        unsigned last = 0;
        if (std::sscanf(item.c_str(), "%x-%x", &first, &last) != 2) last = first;
        if (x >= first && x <= last) return true;
        ranges = comma == std::string_view::npos ? std::string_view{} : ranges.substr(comma + 1);
    }
    return false;
}

// The character tables transcribed row by row; slow and plain on purpose.
CharClass reference_class(const S& s, unsigned lead, unsigned trail) {
    for (const auto& e : s.excluded_pairs)
        if (e[0] != 0 && e[0] == lead && e[1] == trail) return CharClass::Excluded;
    struct SingleRow { Flag flag; const char* leads; };
    static const SingleRow singles[] = {
        {&S::half_symbols, "20-2F,3A-40,5B-60,7B-7E,A1-A4"},
        {&S::half_katakana, "A6-DF"},
        {&S::half_upper, "41-5A"},
        {&S::half_lower, "61-7A"},
        {&S::half_digits, "30-39"},
    };
    for (const auto& row : singles)
        if (s.*row.flag != 0 && in(lead, row.leads)) return CharClass::Single;
    struct DoubleRow { Flag flag; const char* leads; const char* trails; };
    static const DoubleRow doubles[] = {
        {&S::full_symbols, "81", "40-7E,80-AC,B8-BF,C8-CE,DA-E8,F0-F7,FC"},
        {&S::full_digits, "82", "4F-58"},
        {&S::full_upper, "82", "60-79"},
        {&S::full_lower, "82", "81-9A"},
        {&S::full_hiragana, "82", "9F-F1"},
        {&S::full_katakana, "83", "40-7E,80-96"},
        {&S::full_greek, "83", "9F-B6,BF-D6"},
        {&S::full_cyrillic, "84", "40-60,70-7E,80-91"},
        {&S::full_symbols, "84", "9F-BE"},
        {&S::full_symbols, "87", "40-5D,5F-75,7E,80-9C"},
        {&S::full_kanji, "88", "9F-FC"},
        {&S::full_kanji, "89-97,99-9F,E0-E9,ED,FA,FB", "40-7E,80-FC"},
        {&S::full_kanji, "98", "40-72,9F-FC"},
        {&S::full_kanji, "EA", "40-7E,80-A4"},
        {&S::full_kanji, "EE", "40-7E,80-EC,EF-FC"},
        {&S::full_kanji, "FC", "40-4B"},
    };
    for (const auto& row : doubles)
        if (s.*row.flag != 0 && in(lead, row.leads) && in(trail, row.trails))
            return CharClass::Double;
    return CharClass::None;
}

// Compares classify_pair and the pass's lookup table with the reference
// over every pair; stops after a few mismatches to keep the log readable.
void expect_all_pairs_match(const S& s, const std::string& label) {
    detail::ScanTable table;
    detail::build_scan_table(s, table);
    int failures = 0;
    for (unsigned lead = 0; lead < 256 && failures < 5; ++lead) {
        bool starts = false;
        for (unsigned trail = 0; trail < 256; ++trail) {
            const auto l = static_cast<unsigned char>(lead);
            const auto t = static_cast<unsigned char>(trail);
            const CharClass want = reference_class(s, lead, trail);
            starts = starts || want != CharClass::None;
            const CharClass got = classify_pair(s, l, t);
            const CharClass fast = table.at(l, t);
            if (got != want || fast != want) {
                ADD_FAILURE() << label << ": " << pair_text(lead, trail) << " want "
                              << int(want) << " classify_pair " << int(got) << " table "
                              << int(fast);
                ++failures;
            }
        }
        EXPECT_EQ(table.can_start[lead] != 0, starts) << label << ": can_start c=" << lead;
        if (table.range_count <= detail::ScanTable::max_ranges) {
            bool in_range = false;
            for (std::size_t r = 0; r < table.range_count; ++r)
                in_range = in_range || (lead >= table.range_first[r] && lead <= table.range_last[r]);
            EXPECT_EQ(in_range, starts) << label << ": start range c=" << lead;
        }
    }
}

TEST(classifier, class_ranges_and_their_boundaries) {
    const S on = with_flags(1);
    struct Case { unsigned lead, trail; CharClass want; };
    const Case cases[] = {
        // single-byte: each class's first and last byte and the gaps between
        {0x1F, 0x00, CharClass::None},   {0x20, 0x00, CharClass::Single},
        {0x2F, 0x00, CharClass::Single}, {0x30, 0x00, CharClass::Single},
        {0x7E, 0x00, CharClass::Single}, {0x7F, 0x00, CharClass::None},
        {0x80, 0x40, CharClass::None},   {0xA0, 0x00, CharClass::None},
        {0xA1, 0x00, CharClass::Single}, {0xA4, 0x00, CharClass::Single},
        {0xA5, 0x00, CharClass::None},   {0xA6, 0x00, CharClass::Single},
        {0xDF, 0x00, CharClass::Single}, {0xE0, 0x00, CharClass::None},
        // double-byte: row edges and holes
        {0x81, 0x40, CharClass::Double}, {0x81, 0x3F, CharClass::None},
        {0x81, 0xAD, CharClass::None},   {0x81, 0xFC, CharClass::Double},
        {0x81, 0xFB, CharClass::None},   {0x82, 0x4E, CharClass::None},
        {0x82, 0x4F, CharClass::Double}, {0x82, 0xF1, CharClass::Double},
        {0x82, 0xF2, CharClass::None},   {0x83, 0x96, CharClass::Double},
        {0x83, 0x97, CharClass::None},   {0x84, 0xBE, CharClass::Double},
        {0x84, 0xBF, CharClass::None},   {0x85, 0x40, CharClass::None},
        {0x86, 0x9F, CharClass::None},   {0x87, 0x5E, CharClass::None},
        {0x88, 0x9E, CharClass::None},   {0x88, 0x9F, CharClass::Double},
        {0x9F, 0xFC, CharClass::Double}, {0x9F, 0xFD, CharClass::None},
        {0xEA, 0xA4, CharClass::Double}, {0xEA, 0xA5, CharClass::None},
        {0xEB, 0x40, CharClass::None},   {0xEC, 0x40, CharClass::None},
        {0xED, 0x40, CharClass::Double}, {0xEE, 0xED, CharClass::None},
        {0xEE, 0xEF, CharClass::Double}, {0xF9, 0x40, CharClass::None},
        {0xFA, 0x40, CharClass::Double}, {0xFB, 0xFC, CharClass::Double},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(classify_pair(on, static_cast<unsigned char>(c.lead),
                                static_cast<unsigned char>(c.trail)),
                  c.want)
            << pair_text(c.lead, c.trail);
    }
}

TEST(classifier, cases_that_catch_range_slips) {
    const S on = with_flags(1);
    auto at = [&on](unsigned l, unsigned t) {
        return classify_pair(on, static_cast<unsigned char>(l), static_cast<unsigned char>(t));
    };
    // The trail 0x7F is never a character, even inside a full row.
    EXPECT_EQ(at(0x83, 0x7F), CharClass::None);
    EXPECT_EQ(at(0x98, 0x7F), CharClass::None);
    // Row 0x98 stops at 0x72; row 0xEE has a character at 0x73.
    EXPECT_EQ(at(0x98, 0x73), CharClass::None);
    EXPECT_EQ(at(0x98, 0x9F), CharClass::Double);
    EXPECT_EQ(at(0xEE, 0x73), CharClass::Double);
    // Row 0xFC ends at 0x4B.
    EXPECT_EQ(at(0xFC, 0x4B), CharClass::Double);
    EXPECT_EQ(at(0xFC, 0x4C), CharClass::None);
    EXPECT_EQ(at(0xF0, 0x40), CharClass::None);
    // A lead byte as the last data byte meets the zero padding.
    EXPECT_EQ(at(0x82, 0x00), CharClass::None);
    // Flags are "non-zero is on", not "equal to 1".
    S odd = with_flags(0);
    odd.full_hiragana = -7;
    odd.half_upper = 2;
    EXPECT_EQ(classify_pair(odd, 0x82, 0xA0), CharClass::Double);
    EXPECT_EQ(classify_pair(odd, 'A', 0), CharClass::Single);
    EXPECT_EQ(classify_pair(odd, 0x83, 0x40), CharClass::None);
}

TEST(classifier, excluded_pairs_come_first) {
    S s = with_flags(0);
    EXPECT_EQ(classify_pair(s, 0x82, 0xA0), CharClass::None);
    s.excluded_pairs[5][0] = 0x82;
    s.excluded_pairs[5][1] = 0xA0;
    s.excluded_pairs[5][2] = 0x77;  // byte 2 is never read
    EXPECT_EQ(classify_pair(s, 0x82, 0xA0), CharClass::Excluded);  // with every class off
    s.full_hiragana = 1;
    EXPECT_EQ(classify_pair(s, 0x82, 0xA0), CharClass::Excluded);
    EXPECT_EQ(classify_pair(s, 0x82, 0xA2), CharClass::Double);
    // 0x83 0x7F is never a character, but it can be excluded.
    s.excluded_pairs[0][0] = 0x83;
    s.excluded_pairs[0][1] = 0x7F;
    EXPECT_EQ(classify_pair(s, 0x83, 0x7F), CharClass::Excluded);
    // An entry whose byte 0 is 0 is empty, whatever byte 1 holds.
    s.excluded_pairs[1][0] = 0;
    s.excluded_pairs[1][1] = 0x41;
    EXPECT_EQ(classify_pair(s, 0x00, 0x41), CharClass::None);
    // A single character typed as an entry is that byte and a 0.
    s.half_upper = 1;
    s.excluded_pairs[2][0] = 'A';
    s.excluded_pairs[2][1] = 0;
    EXPECT_EQ(classify_pair(s, 'A', 0x00), CharClass::Excluded);
    EXPECT_EQ(classify_pair(s, 'A', 'B'), CharClass::Single);
}

TEST(classifier, every_pair_matches_the_reference_table) {
    expect_all_pairs_match(S{}, "defaults");
    expect_all_pairs_match(with_flags(1), "all on");
    expect_all_pairs_match(with_flags(0), "all off");
    for (std::size_t k = 0; k < all_flags.size(); ++k) {
        S only = with_flags(0);
        only.*all_flags[k] = 1;
        expect_all_pairs_match(only, "only flag " + std::to_string(k));
    }
    std::mt19937 rng(1234);
    for (int round = 0; round < 6; ++round) {
        S s;
        for (Flag f : all_flags) s.*f = static_cast<std::int32_t>(rng() % 3) - (round == 5 ? 1 : 0);
        for (auto& e : s.excluded_pairs) {
            // Bias towards text bytes and zeros so exclusions overlap classes.
            const unsigned pick = rng() % 4;
            e[0] = static_cast<unsigned char>(pick == 0 ? 0 : pick == 1 ? 0x82 : rng());
            e[1] = static_cast<unsigned char>(rng() % 5 == 0 ? 0 : rng());
            e[2] = static_cast<unsigned char>(rng());
        }
        expect_all_pairs_match(s, "random round " + std::to_string(round));
    }
}

#ifdef __linux__
// glibc's own code page 932 decoder as an outside opinion: with every class on,
// a pair in one of the assigned lead rows is Double exactly when it decodes to
// one character, and no pair outside those rows is ever Double.
TEST(classifier, double_pairs_are_exactly_what_iconv_decodes) {
    iconv_t cd = iconv_open("UTF-32LE", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "iconv has no CP932";
    const S on = with_flags(1);
    auto assigned_row = [](unsigned lead) {
        return (lead >= 0x81 && lead <= 0x84) || (lead >= 0x87 && lead <= 0x9F) ||
               (lead >= 0xE0 && lead <= 0xEA) || lead == 0xED || lead == 0xEE ||
               (lead >= 0xFA && lead <= 0xFC);
    };
    int failures = 0;
    for (unsigned lead = 0; lead < 256; ++lead) {
        for (unsigned trail = 0; trail < 256 && failures < 10; ++trail) {
            const bool is_double = classify_pair(on, static_cast<unsigned char>(lead),
                                                 static_cast<unsigned char>(trail)) ==
                                   CharClass::Double;
            if (!assigned_row(lead)) {
                if (is_double) {
                    ADD_FAILURE() << "Double outside the assigned rows: " << pair_text(lead, trail);
                    ++failures;
                }
                continue;
            }
            char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            char out[16];
            char* in_p = in;
            char* out_p = out;
            std::size_t in_left = 2;
            std::size_t out_left = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            const std::size_t r = iconv(cd, &in_p, &in_left, &out_p, &out_left);
            const bool one_char = r != static_cast<std::size_t>(-1) && in_left == 0 &&
                                  sizeof out - out_left == 4;
            if (one_char != is_double) {
                ADD_FAILURE() << pair_text(lead, trail) << " iconv one character: " << one_char
                              << " classify Double: " << is_double;
                ++failures;
            }
        }
    }
    iconv_close(cd);
}
#endif

}  // namespace
}  // namespace kurvane
