#include "text/text_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <vector>

#include "iconv_util.h"
#include "mixed_data.h"
#include "reference/reference_scan.h"
#include "text/unicode_class.h"

namespace kurvane {
namespace {

using test::Bytes;
using test::ReferenceRun;
using text::ClassSet;
using text::InputEncoding;
using text::TextClass;

std::vector<ReferenceRun> fast_runs(const text::ScanTables& tables, const Bytes& data) {
    std::vector<ReferenceRun> runs;
    text::scan_text(tables, data, 0, [&](const text::FoundRun& run) {
        EXPECT_EQ(run.bytes.data(), data.data() + run.offset);
        runs.push_back({run.offset, run.bytes.size(), text::run_text(tables, run)});
    });
    return runs;
}

Bytes lines_one_byte_apart(const char* iconv_name, std::mt19937& rng, const std::u32string& text) {
    test::Iconv encode(iconv_name, "UTF-32LE");
    Bytes line, out;
    encode.all(test::utf32le(text), line);
    for (int k = 0; k < 40; ++k) {
        out.insert(out.end(), line.begin(), line.begin() + static_cast<std::ptrdiff_t>(rng() % line.size()) + 1);
        out.push_back(static_cast<unsigned char>(rng()));
    }
    return out;
}

struct Setting {
    const char* name;
    ClassSet classes;
    std::uint32_t min_length;
    std::vector<char32_t> excluded;
    std::vector<std::u32string> exempt;
};

// The scan's tables and the reference's settings for one setting.
text::ScanTables tables_of(InputEncoding encoding, const Setting& s) {
    return text::ScanTables({encoding, s.classes, s.min_length, s.excluded, s.exempt});
}
test::ScanSettings reference_of(InputEncoding encoding, const Setting& s) {
    test::ScanSettings ref;
    ref.encoding = encoding;
    ref.classes = s.classes;
    ref.min_length = s.min_length;
    ref.excluded = s.excluded;
    ref.exempt = s.exempt;
    return ref;
}

std::vector<Setting> settings() {
    ClassSet japanese;
    japanese.add(TextClass::hiragana).add(TextClass::katakana).add(TextClass::kanji);
    ClassSet full = japanese;
    for (TextClass c : {TextClass::full_digit, TextClass::full_upper, TextClass::full_lower, TextClass::cyrillic,
                        TextClass::greek, TextClass::full_symbol})
        full.add(c);
    return {{"japanese", japanese, 1, {}, {}},
            {"double-byte classes, min 6", full, 6, {}, {}},
            {"all, min 9, exempt", ClassSet::all(), 9, {}, {U"漢", U"ｶﾀ"}},
            {"japanese, excluded", japanese, 4, {U'の', U'\t', U'😀'}, {U"テキ"}},
            {"none, excluded only, min 0", ClassSet{}, 0, {U'a', U'字'}, {}}};
}

// A character's traits the way the tables were first filled, one
// character at a time: excluded first, then kept by its class, with the
// kana flag for the three kana classes; a high surrogate is a pair's first
// half, a low one nothing.
std::uint8_t traits_one_at_a_time(const Setting& s, char32_t u) {
    using T = text::ScanTables;
    if (u >= 0xD800 && u <= 0xDFFF) return u < 0xDC00 ? T::unit_pair : 0;
    if (std::find(s.excluded.begin(), s.excluded.end(), u) != s.excluded.end())
        return static_cast<std::uint8_t>(text::CharRole::excluded);
    const TextClass c = text::unicode_class(u);
    if (!s.classes.contains(c)) return 0;
    const bool kana = c == TextClass::hiragana || c == TextClass::katakana || c == TextClass::half_kana;
    return static_cast<std::uint8_t>(static_cast<std::uint8_t>(text::CharRole::kept) | (kana ? T::unit_kana : 0));
}

// The table of every code unit's traits, filled a block of classes at a
// time, holds what the one at a time way gives, for every unit, under
// every setting (classes that share blocks, excluded characters inside
// and beyond the BMP) and in every encoding the tables are made for; and
// the characters beyond it get their role and kana as before.
TEST(text_scan, unit_traits_are_those_of_each_character) {
    std::vector<Setting> all = settings();
    ClassSet kana;
    kana.add(TextClass::hiragana).add(TextClass::katakana).add(TextClass::half_kana);
    all.push_back({"kana, excluded at the ends of the plane", kana, 1, {0, 0xFFFF, U'あ', 0xFF71, 0x10000}, {}});
    for (const InputEncoding e : {InputEncoding::euc_jp, InputEncoding::utf8, InputEncoding::utf16le,
                                  InputEncoding::utf16be}) {
        for (const Setting& s : all) {
            const text::ScanTables tables = tables_of(e, s);
            std::size_t wrong = 0;
            char32_t first_wrong = 0;
            for (char32_t u = 0; u < 0x10000; ++u) {
                if (tables.unit_traits(static_cast<char16_t>(u)) == traits_one_at_a_time(s, u)) continue;
                if (wrong++ == 0) first_wrong = u;
            }
            EXPECT_EQ(wrong, 0u) << s.name << ", first at U+" << std::hex << static_cast<std::uint32_t>(first_wrong);
            for (char32_t u = 0x10000; u < 0x110000; u += 97) {
                const std::uint8_t t = traits_one_at_a_time(s, u);
                ASSERT_EQ(static_cast<std::uint8_t>(tables.role(u)), t & text::ScanTables::unit_role) << std::hex << static_cast<std::uint32_t>(u);
                ASSERT_EQ(tables.kept_kana(u), (t & text::ScanTables::unit_kana) != 0) << std::hex << static_cast<std::uint32_t>(u);
            }
        }
    }
}

// The fast scan writes the reference scan's runs, in every encoding, under
// every setting, over characters of every kind among random bytes.
TEST(text_scan, writes_the_reference_runs) {
    std::mt19937 rng(2026);
    const std::pair<InputEncoding, const char*> encodings[] = {{InputEncoding::euc_jp, "EUC-JP"},
                                                               {InputEncoding::utf8, "UTF-8"},
                                                               {InputEncoding::utf16le, "UTF-16LE"},
                                                               {InputEncoding::utf16be, "UTF-16BE"}};
    for (const auto& [encoding, name] : encodings) {
        for (const Setting& s : settings()) {
            const test::ScanSettings ref = reference_of(encoding, s);
            const text::ScanTables tables = tables_of(encoding, s);
            const bool unicode = encoding != InputEncoding::euc_jp;
            for (int round = 0; round < (unicode ? 24 : 20); ++round) {
                Bytes data = test::mixed_data(name, rng);
                // Pure noise too, where both alignments of UTF-16 find short runs.
                if (round % 4 == 3)
                    for (unsigned char& b : data) b = static_cast<unsigned char>(rng());
                // Lines one byte apart, so that in UTF-16 a run of one
                // alignment reaches into the next line read one byte off.
                if (round % 4 == 2) data = lines_one_byte_apart(name, rng, U"ひらがなの行、漢字の行");
                // The same with kanji beyond the BMP, so that in UTF-16 a run
                // of one alignment overlaps the other's inside a surrogate pair.
                if (round >= 20) data = lines_one_byte_apart(name, rng, U"𠀋かな𠀋漢字𠮷カナ𠀋");
                const auto want = test::reference_scan(data, ref);
                ASSERT_EQ(fast_runs(tables, data), want) << name << ", " << s.name << ", round " << round;
            }
        }
    }
}

// UTF-16 runs longer than a word of the scan's unit masks (64 units), with
// a surrogate pair or a kana of the other alignment where a word ends, at
// every offset of a mask word, with and without excluded characters.
TEST(text_scan, utf16_runs_cross_the_words_of_its_unit_masks) {
    const auto times = [](const std::u32string& s, std::size_t n) {
        std::u32string out;
        for (std::size_t k = 0; k < n; ++k) out += s;
        return out;
    };
    // U+4230 then U+5730 read one byte off in UTF-16LE hold U+3042, a kana.
    const std::u32string kana_off = U"\u4230\u5730";
    const std::pair<const char*, std::u32string> texts[] = {
        {"63 units: a word less one", times(U"あ", 63)},
        {"64 units: one word", times(U"あ", 64)},
        {"65 units: a word and one", times(U"あ", 65)},
        {"a pair across the end of the first word", times(U"あ", 63) + U"𠀋" + times(U"漢", 10)},
        {"a pair that ends the first word", times(U"あ", 62) + U"𠀋" + times(U"か", 3)},
        {"a kana one byte off near a word's end", times(U"あ", 60) + kana_off + times(U"あ", 70)},
        {"kanji only, so the run one byte off holds no kana", times(U"漢", 200)},
        // 乎 is U+4E4E, so the run one byte off is the same kanji: a group
        // of both alignments with no kana, whose lanes one register holds
        // up to 63 units.
        {"62 units of a kanji read alike one byte off", times(U"乎", 62)},
        {"63 units of a kanji read alike one byte off", times(U"乎", 63)},
        {"64 units of a kanji read alike one byte off", times(U"乎", 64)},
        {"65 units of a kanji read alike one byte off", times(U"乎", 65)},
        // The only kana, one byte off, in a middle word of a group of four
        // or more: the words at the group's ends hold none.
        {"kana one byte off amid 200 kanji read alike", times(U"乎", 100) + kana_off + times(U"乎", 100)},
        {"pairs and kana one byte off every 61 units", times(times(U"ひ", 57) + U"𠀋" + kana_off, 5)},
    };
    ClassSet japanese;
    japanese.add(TextClass::hiragana).add(TextClass::katakana).add(TextClass::kanji);
    const Setting settings[] = {{"japanese", japanese, 1, {}, {}},
                                {"japanese, min 9", japanese, 9, {}, {}},
                                {"all, excluded", ClassSet::all(), 4, {U'か', U'𠀋'}, {}}};
    for (const auto& [encoding, name] : {std::pair(InputEncoding::utf16le, "UTF-16LE"), std::pair(InputEncoding::utf16be, "UTF-16BE")}) {
        test::Iconv encode(name, "UTF-32LE");
        for (const auto& [why, text] : texts) {
            Bytes line;
            encode.all(test::utf32le(text), line);
            for (const Setting& s : settings) {
                const text::ScanTables tables = tables_of(encoding, s);
                const test::ScanSettings ref = reference_of(encoding, s);
                // Every offset of the line in a mask word, both alignments.
                for (std::size_t lead = 0; lead < 2 * 64 + 1; lead += 9) {
                    Bytes data(lead, 0x01);
                    data.insert(data.end(), line.begin(), line.end());
                    data.push_back(0x30);
                    ASSERT_EQ(fast_runs(tables, data), test::reference_scan(data, ref))
                        << name << ", " << why << ", " << s.name << ", " << lead << " bytes before";
                }
            }
        }
    }
}

// Runs of EUC-JP and UTF-8 at every offset around the 64-byte blocks the
// scan takes its starts from: a lead byte last in a block with its trail
// first in the next, a run across a block's end, a block that ends the data
// exactly, and the data cut inside the run's last character.
TEST(text_scan, byte_runs_cross_the_blocks_of_its_starts) {
    ClassSet japanese;
    japanese.add(TextClass::hiragana).add(TextClass::katakana).add(TextClass::kanji);
    const Setting settings[] = {{"japanese", japanese, 1, {}, {}},
                                {"all, excluded", ClassSet::all(), 3, {U'か', U'A'}, {}}};
    for (const auto& [encoding, name] : {std::pair(InputEncoding::euc_jp, "EUC-JP"), std::pair(InputEncoding::utf8, "UTF-8")}) {
        test::Iconv encode(name, "UTF-32LE");
        Bytes line;
        encode.all(test::utf32le(U"漢字かなAカナ"), line);
        for (const Setting& s : settings) {
            const text::ScanTables tables = tables_of(encoding, s);
            const test::ScanSettings ref = reference_of(encoding, s);
            for (std::size_t lead = 0; lead <= 2 * 64 + 2; ++lead) {
                // Filler that starts nothing; a lead byte alone before the
                // line, so the byte after a lead is tested at every offset.
                Bytes data(lead, 0x01);
                if (lead > 0) data[lead - 1] = line[0];
                data.insert(data.end(), line.begin(), line.end());
                for (std::size_t cut = 0; cut <= 2; ++cut) {
                    const Bytes in(data.begin(), data.end() - static_cast<std::ptrdiff_t>(cut));
                    ASSERT_EQ(fast_runs(tables, in), test::reference_scan(in, ref))
                        << name << ", " << s.name << ", " << lead << " bytes before, " << cut << " cut off";
                }
            }
        }
    }
}

// ASCII runs are counted from the start masks a block at a time: runs
// just under, at and past one and two 64-byte blocks, at every offset of a
// block, ending the data or followed by a kana, a lead byte with no trail,
// a byte of no class or an excluded character, then more ASCII; with no
// ASCII character excluded, and with one (which the run must still hold).
TEST(text_scan, ascii_runs_cross_the_blocks_of_its_starts) {
    const Setting settings[] = {{"all, a kana excluded", ClassSet::all(), 1, {U'の'}, {}},
                                {"all, min 64, 'A' excluded", ClassSet::all(), 64, {U'A', U'の'}, {}}};
    for (const auto& [encoding, name] : {std::pair(InputEncoding::euc_jp, "EUC-JP"), std::pair(InputEncoding::utf8, "UTF-8")}) {
        test::Iconv encode(name, "UTF-32LE");
        const auto encoded = [&](const std::u32string& text) {
            Bytes out;
            encode.all(test::utf32le(text), out);
            return out;
        };
        const Bytes lone_lead = {encoding == InputEncoding::euc_jp ? static_cast<unsigned char>(0xA4)
                                                                   : static_cast<unsigned char>(0xE3),
                                 0x01};
        const std::pair<const char*, Bytes> tails[] = {{"nothing", {}},
                                                       {"a kana", encoded(U"か")},
                                                       {"a lead with no trail", lone_lead},
                                                       {"a byte of no class", {0x01}},
                                                       {"an excluded kana", encoded(U"の")}};
        for (const Setting& s : settings) {
            const text::ScanTables tables = tables_of(encoding, s);
            const test::ScanSettings ref = reference_of(encoding, s);
            for (const std::size_t length : {1u, 2u, 63u, 64u, 65u, 127u, 128u, 129u}) {
                Bytes ascii;
                for (std::size_t k = 0; k < length; ++k) ascii.push_back(static_cast<unsigned char>('A' + k * 7 % 26));
                for (std::size_t lead = 0; lead <= 65; ++lead) {
                    for (const auto& [tail_name, tail] : tails) {
                        Bytes data(lead, 0x01);
                        data.insert(data.end(), ascii.begin(), ascii.end());
                        data.insert(data.end(), tail.begin(), tail.end());
                        if (!tail.empty()) data.insert(data.end(), ascii.begin(), ascii.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(3, length)));
                        ASSERT_EQ(fast_runs(tables, data), test::reference_scan(data, ref))
                            << name << ", " << s.name << ", " << length << " ASCII bytes after " << lead
                            << ", then " << tail_name;
                    }
                }
            }
        }
    }
}

// Groups of both alignments side by side, several to a 64-byte word of the
// scan's grid and astride its edges, at every offset: groups settled from
// their units' bits alone, and between them one that a kana or a pair
// decides, so the runs before, inside and after it keep their order.
TEST(text_scan, utf16_groups_of_a_grid_word_keep_their_order) {
    // U+4230 then U+5730 read one byte off hold a kana in either byte
    // order; U+4E4E (乎) reads as itself one byte off.
    const std::u32string kana_off = U"\u4230\u5730";
    const std::u32string gap = U"\u0001";
    const std::pair<const char*, std::u32string> texts[] = {
        {"runs alike one byte off, a tie", U"乎乎乎" + gap + U"乎乎乎乎"},
        {"the later run longer", U"漢乎乎" + gap + U"漢乎乎乎乎"},
        {"a kana between plain groups", U"乎乎" + gap + U"漢" + kana_off + U"漢" + gap + U"漢乎乎乎"},
        {"a pair between plain groups", U"乎乎乎" + gap + U"乎𠀋乎" + gap + U"乎乎"},
        {"a chain of runs in one group", U"乎漢乎乎字乎乎乎"},
        // The kana starts a byte before the other alignment's run, whose
        // overlap it touches.
        {"a kana before alike kanji", U"乎乎あ乎乎乎"},
        {"kana on both sides of alike kanji", U"字あ乎乎乎か漢"},
    };
    ClassSet japanese;
    japanese.add(TextClass::hiragana).add(TextClass::katakana).add(TextClass::kanji);
    const Setting settings[] = {{"japanese", japanese, 1, {}, {}},
                                {"japanese, min 5, exempt", japanese, 5, {}, {U"乎"}},
                                {"all", ClassSet::all(), 1, {}, {}}};
    for (const auto& [encoding, name] : {std::pair(InputEncoding::utf16le, "UTF-16LE"), std::pair(InputEncoding::utf16be, "UTF-16BE")}) {
        test::Iconv encode(name, "UTF-32LE");
        for (const auto& [why, text] : texts) {
            Bytes line;
            encode.all(test::utf32le(text + gap + text + gap + text), line);
            for (const Setting& s : settings) {
                const text::ScanTables tables = tables_of(encoding, s);
                const test::ScanSettings ref = reference_of(encoding, s);
                for (std::size_t lead = 0; lead <= 2 * 64 + 1; ++lead) {
                    Bytes data(lead, 0x01);
                    data.insert(data.end(), line.begin(), line.end());
                    ASSERT_EQ(fast_runs(tables, data), test::reference_scan(data, ref))
                        << name << ", " << why << ", " << s.name << ", " << lead << " bytes before";
                }
            }
        }
    }
}

// UTF-16 units drawn at random from kanji (read one byte off, often kanji
// again), kana, pairs, units of no class and noise, at every mix: groups of
// one alignment, of both without kana or pairs (settled from their ends
// alone) and of both with them, against the reference.
TEST(text_scan, utf16_unit_mixes_match_the_reference) {
    std::mt19937 rng(1919);
    ClassSet japanese;
    japanese.add(TextClass::hiragana).add(TextClass::katakana).add(TextClass::kanji);
    const Setting settings[] = {{"japanese", japanese, 1, {}, {}},
                                {"japanese, min 5, exempt", japanese, 5, {}, {U"漢"}},
                                {"japanese, excluded", japanese, 2, {U'\u4E00'}, {}},
                                {"all", ClassSet::all(), 1, {}, {}}};
    struct Mix {
        const char* name;
        unsigned kanji, kana, pair, none, noise;  // weights
    };
    const Mix mixes[] = {{"kanji and gaps", 6, 0, 0, 3, 0},  {"kanji only", 1, 0, 0, 0, 0},
                         {"kanji, some kana", 6, 1, 0, 2, 0}, {"kanji and pairs", 6, 0, 1, 2, 0},
                         {"noise", 0, 0, 0, 0, 1},            {"everything", 4, 2, 1, 2, 3}};
    const char16_t kanji[] = {0x4E00, 0x5B57, 0x6F22, 0x8A9E, 0x4E30, 0x3042};
    for (const auto& [encoding, order] : {std::pair(InputEncoding::utf16le, text::ByteOrder::little),
                                          std::pair(InputEncoding::utf16be, text::ByteOrder::big)}) {
        for (const Setting& s : settings) {
            const text::ScanTables tables = tables_of(encoding, s);
            const test::ScanSettings ref = reference_of(encoding, s);
            for (const Mix& m : mixes) {
                std::discrete_distribution<unsigned> pick({double(m.kanji), double(m.kana), double(m.pair),
                                                           double(m.none), double(m.noise)});
                for (int round = 0; round < 6; ++round) {
                    Bytes data(rng() % 2, 0x4E);  // either alignment first
                    const auto put = [&](char16_t u) {
                        const auto hi = static_cast<unsigned char>(u >> 8), lo = static_cast<unsigned char>(u);
                        if (order == text::ByteOrder::little) data.insert(data.end(), {lo, hi});
                        else data.insert(data.end(), {hi, lo});
                    };
                    for (int k = 0; k < 700; ++k) {
                        switch (pick(rng)) {
                            case 0: put(kanji[rng() % std::size(kanji)]); break;
                            case 1: put(static_cast<char16_t>(0x3041 + rng() % 0x5E)); break;
                            case 2: put(0xD840), put(static_cast<char16_t>(0xDC00 + rng() % 0x400)); break;
                            case 3: put(static_cast<char16_t>(rng() % 0x80)); break;
                            default: data.push_back(static_cast<unsigned char>(rng())); break;
                        }
                    }
                    ASSERT_EQ(fast_runs(tables, data), test::reference_scan(data, ref))
                        << text::input_encoding_name(encoding) << ", " << s.name << ", " << m.name << ", round "
                        << round;
                }
            }
        }
    }
}

// The edges: empty input, one byte, a character cut short at the end, and
// offsets counted from the base given.
TEST(text_scan, handles_the_ends_of_the_data) {
    ClassSet japanese;
    japanese.add(TextClass::hiragana);
    for (InputEncoding e : {InputEncoding::euc_jp, InputEncoding::utf8, InputEncoding::utf16le, InputEncoding::utf16be}) {
        const text::ScanTables tables({e, japanese, 1, {}, {}});
        EXPECT_TRUE(fast_runs(tables, {}).empty());
        EXPECT_TRUE(fast_runs(tables, {0xA4}).empty());
        std::vector<std::uint64_t> offsets;
        const Bytes a = e == InputEncoding::euc_jp   ? Bytes{0xA4, 0xA2, 0xA4}
                        : e == InputEncoding::utf8    ? Bytes{0xE3, 0x81, 0x82, 0xE3, 0x81}
                        : e == InputEncoding::utf16le ? Bytes{0x42, 0x30, 0x42}
                                                      : Bytes{0x30, 0x42, 0x30};
        text::scan_text(tables, a, 1000, [&](const text::FoundRun& run) {
            offsets.push_back(run.offset);
            EXPECT_EQ(text::run_text(tables, run), U"あ");
        });
        EXPECT_EQ(offsets, std::vector<std::uint64_t>{1000}) << text::input_encoding_name(e);
    }
    EXPECT_THROW(text::ScanTables({InputEncoding::cp932, japanese, 1, {}, {}}), std::invalid_argument);
}

}  // namespace
}  // namespace kurvane
