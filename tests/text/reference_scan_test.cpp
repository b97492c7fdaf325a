#include "reference/reference_scan.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "iconv_util.h"

namespace kurvane {
namespace {

using test::Bytes;
using test::ReferenceRun;
using test::ScanSettings;
using text::InputEncoding;
using text::TextClass;

// The bytes of UTF-8 text in another encoding, written by glibc.
Bytes encoded(const char* encoding, std::string_view utf8) {
    test::Iconv cv(encoding, "UTF-8");
    Bytes out;
    EXPECT_TRUE(cv.all(Bytes(utf8.begin(), utf8.end()), out)) << encoding;
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

ScanSettings japanese(InputEncoding encoding) {
    ScanSettings s;
    s.encoding = encoding;
    s.classes.add(TextClass::hiragana).add(TextClass::katakana).add(TextClass::kanji);
    return s;
}

struct EncodingCase {
    InputEncoding encoding;
    const char* iconv_name;
};
constexpr EncodingCase encodings[] = {{InputEncoding::euc_jp, "EUC-JP"},
                                      {InputEncoding::utf8, "UTF-8"},
                                      {InputEncoding::utf16le, "UTF-16LE"},
                                      {InputEncoding::utf16be, "UTF-16BE"}};

// In every encoding: a run is found between noise bytes at its input
// offset, a character of a class that is off ends it, the minimum length
// counts bytes of the input encoding, and XOR applies first.
TEST(reference_scan, finds_runs_at_their_input_offsets_in_every_encoding) {
    for (const EncodingCase& e : encodings) {
        const Bytes kana = encoded(e.iconv_name, "ひらがな");
        const Bytes kanji = encoded(e.iconv_name, "漢字");
        const Bytes comma = encoded(e.iconv_name, "、");
        const Bytes noise{0x00, 0x00, 0x00, 0x01};
        const Bytes data = cat({noise, kana, comma, kanji, noise});
        ScanSettings s = japanese(e.encoding);
        const std::vector<ReferenceRun> want{{noise.size(), kana.size(), U"ひらがな"},
                                             {noise.size() + kana.size() + comma.size(), kanji.size(), U"漢字"}};
        EXPECT_EQ(test::reference_scan(data, s), want) << e.iconv_name;

        // "漢字" is 4 bytes in EUC-JP and UTF-16, 6 in UTF-8.
        s.min_length = static_cast<std::uint32_t>(kanji.size() + 1);
        EXPECT_EQ(test::reference_scan(data, s), std::vector<ReferenceRun>{want[0]}) << e.iconv_name;

        s.min_length = 1;
        s.xor_value = 0x5A;
        Bytes stored = data;
        for (unsigned char& b : stored) b ^= 0x5A;
        EXPECT_EQ(test::reference_scan(stored, s), want) << e.iconv_name;
    }
}

// An excluded character is dropped without ending the run, even when no
// class takes it; a short run holding an exempt string is written as that
// string, the first listed winning.
TEST(reference_scan, drops_excluded_characters_and_keeps_exempt_strings) {
    for (const EncodingCase& e : encodings) {
        const Bytes data = cat({Bytes{0}, encoded(e.iconv_name, "あ「い」う"), Bytes{0, 0, 0}});
        ScanSettings s = japanese(e.encoding);
        s.excluded = {U'「', U'」'};
        const auto runs = test::reference_scan(data, s);
        ASSERT_EQ(runs.size(), 1u) << e.iconv_name;
        EXPECT_EQ(runs[0].text, U"あいう");
        EXPECT_EQ(runs[0].offset, 1u);
        EXPECT_EQ(runs[0].length, data.size() - 4);

        s.min_length = 100;
        s.exempt = {U"xyz", U"いう", U"あ"};
        const auto exempt = test::reference_scan(data, s);
        ASSERT_EQ(exempt.size(), 1u) << e.iconv_name;
        EXPECT_EQ(exempt[0].text, U"いう");
        // Matched on the kept characters: the excluded 」 between い and う is gone.
        s.exempt = {U"い」う"};
        EXPECT_TRUE(test::reference_scan(data, s).empty()) << e.iconv_name;
    }
}

// UTF-16 text is found at either alignment, and its reading one byte off
// (as long, and all valid kanji) is not written over it.
TEST(reference_scan, finds_utf16_text_at_either_alignment) {
    for (const EncodingCase& e : encodings) {
        if (text::character_step(e.encoding) != 2) continue;
        const Bytes word = encoded(e.iconv_name, "ひらがなのテキスト");
        for (const Bytes& before : {Bytes{0x41}, Bytes{0x00}, Bytes{0xFF, 0xFF, 0xFF}}) {
            const Bytes data = cat({before, word, Bytes{0x00, 0x00}, word, Bytes{0x00}, word, Bytes{0x21}});
            const std::vector<ReferenceRun> want{
                {before.size(), word.size(), U"ひらがなのテキスト"},
                {before.size() + word.size() + 2, word.size(), U"ひらがなのテキスト"},
                {before.size() + 2 * word.size() + 3, word.size(), U"ひらがなのテキスト"}};
            EXPECT_EQ(test::reference_scan(data, japanese(e.encoding)), want)
                << e.iconv_name << " after " << test::hex(before);
        }
    }
}

// A character cut short by the end of the data ends the run before it.
TEST(reference_scan, a_character_cut_short_at_the_end_is_not_text) {
    for (const EncodingCase& e : encodings) {
        Bytes data = encoded(e.iconv_name, "あい");
        data.pop_back();
        const auto runs = test::reference_scan(data, japanese(e.encoding));
        ASSERT_EQ(runs.size(), 1u) << e.iconv_name;
        EXPECT_EQ(runs[0].text, U"あ");
    }
}

TEST(reference_scan, refuses_code_page_932) {
    EXPECT_THROW(test::reference_scan(Bytes{0x82, 0xA0}, japanese(InputEncoding::cp932)), std::invalid_argument);
}

}  // namespace
}  // namespace kurvane
