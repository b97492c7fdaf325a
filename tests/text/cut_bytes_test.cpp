#include "text/cut_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <utility>
#include <random>
#include <vector>

#include "iconv_util.h"
#include "mixed_data.h"
#include "reference/reference_scan.h"
#include "text/unicode_class.h"

namespace kurvane {
namespace {

using test::Bytes;
using text::ClassSet;
using text::InputEncoding;
using text::TextClass;

struct SettingsCase {
    const char* name;
    ClassSet classes;
    std::vector<char32_t> excluded;
};

std::vector<SettingsCase> settings_cases() {
    ClassSet japanese;
    japanese.add(TextClass::hiragana).add(TextClass::katakana).add(TextClass::kanji);
    ClassSet ascii;
    for (TextClass c : {TextClass::half_digit, TextClass::half_upper, TextClass::half_lower, TextClass::half_symbol})
        ascii.add(c);
    return {{"japanese", japanese, {}},
            {"all", ClassSet::all(), {}},
            {"none", ClassSet{}, {}},
            {"ascii", ascii, {}},
            {"japanese, tab and NUL excluded", japanese, {U'\t', 0}},
            {"none, Hebrew alef and a JIS X 0212 kanji excluded", ClassSet{}, {0x05D0, 0x4E02}}};
}

// Every character an encoding has, with its bytes as glibc writes them.
using Characters = std::vector<std::pair<char32_t, Bytes>>;
Characters all_characters(const char* iconv_name) {
    test::Iconv encode(iconv_name, "UTF-32LE");
    Characters out;
    for (char32_t u = 0; u < 0x110000; ++u) {
        Bytes bytes;
        if ((u < 0xD800 || u > 0xDFFF) && encode.all(test::utf32le(std::u32string(1, u)), bytes))
            out.emplace_back(u, std::move(bytes));
    }
    return out;
}

// The slow way: a byte may start a stretch when it is never a later byte
// of a character and every character it starts is neither kept nor excluded.
std::array<bool, 256> derived_cuts(const Characters& characters, const SettingsCase& s) {
    std::array<bool, 256> inside{}, taken{};
    for (const auto& [u, bytes] : characters) {
        for (std::size_t k = 1; k < bytes.size(); ++k) inside[bytes[k]] = true;
        if (s.classes.contains(text::unicode_class(u)) ||
            std::find(s.excluded.begin(), s.excluded.end(), u) != s.excluded.end())
            taken[bytes[0]] = true;
    }
    std::array<bool, 256> cuts{};
    for (unsigned b = 0; b < 256; ++b) cuts[b] = !inside[b] && !taken[b];
    return cuts;
}

TEST(cut_bytes, are_the_bytes_no_character_holds_or_keeps) {
    for (const auto& [encoding, name] : {std::pair{InputEncoding::euc_jp, "EUC-JP"}, std::pair{InputEncoding::utf8, "UTF-8"}}) {
        const Characters characters = all_characters(name);
        for (const SettingsCase& s : settings_cases()) {
            const text::CutRule rule = text::cut_rule(encoding, s.classes, s.excluded);
            const std::array<bool, 256> want = derived_cuts(characters, s);
            for (unsigned b = 0; b < 256; ++b)
                EXPECT_EQ(rule.bytes[b], want[b]) << name << ", " << s.name << ": byte " << std::hex << b;
            EXPECT_FALSE(rule.zero_triples);
        }
    }
}

// Scanning the stretches between cuts one by one gives the runs of the
// whole scan, in every encoding and under every setting.
TEST(cut_bytes, stretches_scanned_apart_give_the_whole_scan) {
    std::mt19937 rng(19);
    const std::pair<InputEncoding, const char*> encodings[] = {{InputEncoding::euc_jp, "EUC-JP"},
                                                               {InputEncoding::utf8, "UTF-8"},
                                                               {InputEncoding::utf16le, "UTF-16LE"},
                                                               {InputEncoding::utf16be, "UTF-16BE"}};
    for (const auto& [encoding, name] : encodings) {
        for (const SettingsCase& s : settings_cases()) {
            const Bytes data = test::mixed_data(name, rng);
            test::ScanSettings scan;
            scan.encoding = encoding;
            scan.classes = s.classes;
            scan.excluded = s.excluded;
            scan.exempt = {U"漢"};
            scan.min_length = 4;
            const auto whole = test::reference_scan(data, scan);
            const text::CutRule rule = text::cut_rule(encoding, s.classes, s.excluded);
            std::vector<test::ReferenceRun> pieces;
            std::size_t start = 0;
            std::size_t cuts = 0;
            for (std::size_t pos = 1; pos <= data.size(); ++pos) {
                if (pos < data.size() && !text::is_cut(rule, data.data(), data.size(), pos)) continue;
                for (test::ReferenceRun run : test::reference_scan({data.data() + start, pos - start}, scan)) {
                    run.offset += start;
                    pieces.push_back(run);
                }
                start = pos;
                ++cuts;
            }
            EXPECT_EQ(pieces, whole) << name << ", " << s.name;
            // Each rule cuts this data somewhere, except where U+0000 is excluded in UTF-16.
            if (text::character_step(encoding) == 1 || rule.zero_triples) {
                EXPECT_GT(cuts, 20u) << name << ", " << s.name;
            }
        }
    }
}

}  // namespace
}  // namespace kurvane
