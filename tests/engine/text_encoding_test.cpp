#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include "engine/classes/classifier.h"
#include "pass_test_util.h"

#ifdef __linux__
#include <iconv.h>
#endif

namespace kurvane {
namespace {

using test::Bytes;
using test::hex;

std::string to_chars(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// One code point as UTF-8 bytes (the test's own encoder).
Bytes to_utf8_char(char32_t u) {
    if (u < 0x80) return {static_cast<unsigned char>(u)};
    if (u < 0x800) return {static_cast<unsigned char>(0xC0 | (u >> 6)), static_cast<unsigned char>(0x80 | (u & 0x3F))};
    if (u < 0x10000)
        return {static_cast<unsigned char>(0xE0 | (u >> 12)), static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F)),
                static_cast<unsigned char>(0x80 | (u & 0x3F))};
    return {static_cast<unsigned char>(0xF0 | (u >> 18)), static_cast<unsigned char>(0x80 | ((u >> 12) & 0x3F)),
            static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F)), static_cast<unsigned char>(0x80 | (u & 0x3F))};
}

Bytes to_utf8(const Bytes& cp932) {
    Bytes out(text::utf8_per_cp932_byte * cp932.size());
    out.resize(text::cp932_to_utf8(cp932.data(), cp932.size(), out.data()));
    return out;
}

// Edges of the conversion, including bytes the classifier never lets into a
// run (an exempt string may still hold them): each becomes U+FFFD alone and
// the conversion goes on with the next byte.
TEST(text_encoding, converts_characters_and_replaces_what_is_not_one) {
    struct Case {
        Bytes in;
        Bytes want;
        const char* why;
    };
    const Case cases[] = {
        {{'A', 0x5C, 0x7E}, {'A', 0x5C, 0x7E}, "ASCII stays as it is"},
        {{0xA1, 0xB1, 0xDF}, {0xEF, 0xBD, 0xA1, 0xEF, 0xBD, 0xB1, 0xEF, 0xBE, 0x9F},
         "half-width katakana stay half-width"},
        {{0x82, 0xA0, 0x88, 0x9F}, {0xE3, 0x81, 0x82, 0xE4, 0xBA, 0x9C}, "あ 亜"},
        {{0x81, 0x5F}, {0xEF, 0xBC, 0xBC}, "the Microsoft mapping: fullwidth reverse solidus"},
        {{0x84, 0x40}, {0xD0, 0x90}, "a two-byte UTF-8 form"},
        {{0x80, 0xA0, 0xFD}, {0xC2, 0x80, 0xEF, 0xA3, 0xB0, 0xEF, 0xA3, 0xB1},
         "single bytes Windows maps to U+0080 and private-use characters"},
        {{'x', 0x82}, {'x', 0xEF, 0xBF, 0xBD}, "a lead byte at the end"},
        {{0x82, 0x20}, {0xEF, 0xBF, 0xBD, 0x20}, "a lead byte before a byte that is no trail"},
        {{0x85, 0x40}, {0xEF, 0xBF, 0xBD, 0x40}, "an unassigned pair"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(to_utf8(c.in), c.want) << c.why << ": input " << hex(c.in) << " gave "
                                         << hex(to_utf8(c.in));
}

// The conversion character by character, from the code points the table
// holds: the twin of the table-driven converter.
Bytes slow_utf8(const Bytes& in) {
    Bytes out;
    for (std::size_t k = 0; k < in.size(); ++k) {
        const unsigned char c = in[k];
        char32_t u = text::replacement_char;
        if (c < 0x80) {
            u = c;
        } else if (c >= 0xA1 && c <= 0xDF) {
            u = 0xFF61 + (c - 0xA1u);
        } else if (c == 0x80) {
            u = 0x80;
        } else if (c == 0xA0 || c >= 0xFD) {
            u = c == 0xA0 ? 0xF8F0 : 0xF8F1 + (c - 0xFDu);
        } else if (k + 1 < in.size()) {
            if (const char32_t d = text::cp932_double_char(c, in[k + 1]); d != 0) {
                u = d;
                ++k;
            }
        }
        const Bytes b = to_utf8_char(u);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

// Every pair of bytes, alone, before more text and after a block of ASCII
// that the converter copies whole: the pair is then split across the block's
// end or starts right after it.
TEST(text_encoding, table_conversion_matches_the_character_by_character_one) {
    for (unsigned lead = 0; lead < 256; ++lead) {
        for (unsigned trail = 0; trail < 256; ++trail) {
            const auto l = static_cast<unsigned char>(lead);
            const auto t = static_cast<unsigned char>(trail);
            const Bytes inputs[] = {{l, t},
                                    {l, t, 'A', 0x82, 0xA0},
                                    {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', l, t},
                                    {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', l, t}};
            for (const Bytes& in : inputs)
                ASSERT_EQ(to_utf8(in), slow_utf8(in)) << "input " << hex(in);
        }
    }
}

#ifdef __linux__
// glibc's code page 932 decoder as an outside opinion on every byte and pair
// that the classifier accepts as text with every class on.
TEST(text_encoding, agrees_with_iconv_on_every_text_character) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "iconv has no CP932";
    ExtractionSettings on;
    for (auto flag : {&ExtractionSettings::half_digits, &ExtractionSettings::half_upper,
                      &ExtractionSettings::half_lower, &ExtractionSettings::half_katakana,
                      &ExtractionSettings::half_symbols})
        on.*flag = 1;
    int checked = 0;
    int failures = 0;
    for (unsigned lead = 0; lead < 256; ++lead) {
        for (unsigned trail = 0; trail < 256 && failures < 10; ++trail) {
            const CharClass c = classify_pair(on, static_cast<unsigned char>(lead),
                                              static_cast<unsigned char>(trail));
            if (c != CharClass::Double && !(c == CharClass::Single && trail == 0)) continue;
            Bytes in{static_cast<unsigned char>(lead)};
            if (c == CharClass::Double) in.push_back(static_cast<unsigned char>(trail));
            char out[16];
            char* in_p = reinterpret_cast<char*>(in.data());
            char* out_p = out;
            std::size_t in_left = in.size();
            std::size_t out_left = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            const bool decoded =
                iconv(cd, &in_p, &in_left, &out_p, &out_left) != static_cast<std::size_t>(-1);
            const Bytes want = decoded ? Bytes(out, out_p) : Bytes{};
            ++checked;
            if (to_utf8(in) != want) {
                ADD_FAILURE() << "input " << hex(in) << " gave " << hex(to_utf8(in)) << ", iconv "
                              << hex(want);
                ++failures;
            }
        }
    }
    iconv_close(cd);
    // Every double-byte character of the classes and the single-byte ones.
    EXPECT_GT(checked, 7000);
}
#endif

#ifdef __linux__
// The way back, against glibc's encoder, over every code point of the Basic
// Multilingual Plane and a sample beyond it. glibc writes the code Windows
// writes for a character with several codes (0xFA40 for U+2170, not 0xEEEF;
// 0x81CA for U+FFE2, not 0xEEF9 or 0xFA54). It also writes a few characters
// one way only (U+00A5 as 0x5C, which reads back as a backslash): where
// glibc's bytes do not read back as the character, ours must refuse it.
TEST(text_encoding, writes_what_iconv_writes_for_every_character) {
    iconv_t cd = iconv_open("CP932", "UTF-32LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "iconv has no CP932";
    int same = 0;
    int one_way = 0;
    int failures = 0;
    for (char32_t u = 1; u < 0x20000 && failures < 10; u += u < 0x10000 ? 1 : 97) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
        unsigned char in[4] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                               static_cast<unsigned char>(u >> 16), 0};
        char out[8];
        char* in_p = reinterpret_cast<char*>(in);
        char* out_p = out;
        std::size_t in_left = sizeof in;
        std::size_t out_left = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const bool encoded = iconv(cd, &in_p, &in_left, &out_p, &out_left) != static_cast<std::size_t>(-1);
        const Bytes theirs = encoded ? Bytes(out, out_p) : Bytes{};
        // Taken only when it reads back as the same character.
        Bytes want;
        if (!theirs.empty() && to_utf8(theirs) == to_utf8_char(u)) {
            want = theirs;
            ++same;
        } else if (!theirs.empty()) {
            ++one_way;
        }
        // Windows also maps five single bytes that glibc does not.
        constexpr std::pair<char32_t, unsigned char> windows_only[] = {
            {0x0080, 0x80}, {0xF8F0, 0xA0}, {0xF8F1, 0xFD}, {0xF8F2, 0xFE}, {0xF8F3, 0xFF}};
        for (const auto& [unicode, byte] : windows_only)
            if (u == unicode && want.empty()) want = Bytes{byte};
        const int code = text::cp932_code(u);
        Bytes ours;
        if (code > 0xFF) ours.push_back(static_cast<unsigned char>(code >> 8));
        if (code >= 0) ours.push_back(static_cast<unsigned char>(code & 0xFF));
        if (ours != want) {
            ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(u) << " gave " << hex(ours)
                          << ", iconv " << hex(theirs);
            ++failures;
        }
    }
    iconv_close(cd);
    // Every character of the table (single bytes included) was checked.
    EXPECT_EQ(same, static_cast<int>(text::cp932_encode_count) + 0x7F + 63);
    EXPECT_LT(one_way, 20);
}
#endif

// Every character the classifier lets into a run reads back to the bytes it
// came from, except the second and third codes of a character with several,
// which come back as the code Windows writes: a JIS X 0208 code first, then
// NEC row 13 (lead 0x87), then the IBM extensions (0xFA-0xFC), never the NEC
// selection of them (0xED-0xEE).
TEST(text_encoding, every_text_character_goes_back_to_its_windows_code) {
    ExtractionSettings on;
    for (auto flag : {&ExtractionSettings::half_digits, &ExtractionSettings::half_upper,
                      &ExtractionSettings::half_lower, &ExtractionSettings::half_katakana,
                      &ExtractionSettings::half_symbols})
        on.*flag = 1;
    const auto rank = [](unsigned code) {
        const unsigned lead = code >> 8;
        return lead == 0x87 ? 1 : (lead >= 0xFA ? 2 : (lead == 0xED || lead == 0xEE ? 3 : 0));
    };
    int same = 0;
    int moved = 0;
    for (unsigned lead = 1; lead < 256; ++lead) {
        for (unsigned trail = 0; trail < 256; ++trail) {
            const CharClass c = classify_pair(on, static_cast<unsigned char>(lead),
                                              static_cast<unsigned char>(trail));
            const bool single = c == CharClass::Single && trail == 0;
            if (c != CharClass::Double && !single) continue;
            const Bytes in = single ? Bytes{static_cast<unsigned char>(lead)}
                                    : Bytes{static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
            const std::string utf8(to_chars(to_utf8(in)));
            std::string back;
            ASSERT_TRUE(text::utf8_to_cp932(utf8, back)) << hex(in);
            if (Bytes(back.begin(), back.end()) == in) {
                ++same;
                continue;
            }
            // Another code of the same character, ranked before this one.
            ++moved;
            const Bytes other(back.begin(), back.end());
            ASSERT_EQ(other.size(), 2u) << hex(in);
            EXPECT_EQ(to_utf8(other), to_utf8(in)) << hex(in) << " came back as " << hex(other);
            const unsigned code = lead << 8 | trail;
            const unsigned chosen = static_cast<unsigned>(other[0]) << 8 | other[1];
            EXPECT_TRUE(rank(chosen) < rank(code) || (rank(chosen) == rank(code) && chosen < code))
                << hex(in) << " came back as " << hex(other);
        }
    }
    EXPECT_GT(same, 7000);
    EXPECT_EQ(moved, 398);  // the codes beyond the first of the 396 shared characters, in text classes
}

TEST(text_encoding, utf8_text_converts_or_is_refused) {
    const struct {
        std::string utf8;
        bool ok;
        Bytes cp932;
    } cases[] = {
        {"", true, {}},
        {"A\\~", true, {'A', 0x5C, 0x7E}},
        {"\xe8\xa1\xa8\xef\xbd\xb1", true, {0x95, 0x5C, 0xB1}},  // 表ｱ
        {"\xc2\xa5", false, {}},              // ¥: no exact code (0x5C is the backslash)
        {"\xe2\x82\xac", false, {}},         // €
        {"\xc3\xa9", false, {}},              // é
        {"\xf0\x9f\x98\x80", false, {}},    // an emoji
        {"\xef\xbf\xbd", false, {}},         // U+FFFD itself
        {"a\xff", false, {}},                  // not UTF-8
        {"\xe8\xa1", false, {}},              // a cut-off character
        {"\xc0\xaf", false, {}},              // an overlong '/'
        {"\xed\xa0\x80", false, {}},         // a surrogate
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(text::utf8_to_cp932(c.utf8, out), c.ok) << hex(Bytes(c.utf8.begin(), c.utf8.end()));
        if (c.ok) {
            EXPECT_EQ(Bytes(out.begin(), out.end()), c.cp932);
        }
    }
}

// The byte bounds of the dialogs: code page 932 bytes for what it holds,
// UTF-16 units for the rest; a character crossing the bound is dropped whole.
TEST(text_encoding, bounded_prefix_counts_code_page_932_bytes) {
    const struct {
        const char8_t* text;
        std::size_t max;
        std::size_t width;  // of the whole text
        std::size_t kept;   // UTF-8 bytes
    } cases[] = {
        {u8"abcdefghiあ", 11, 11, 12},
        {u8"abcdefghijあ", 11, 12, 10},
        {u8"ｱｲｳ", 2, 3, 6},
        {u8"表示", 3, 4, 3},
        {u8"한국어", 2, 3, 6},
        {u8"café", 4, 4, 5},
        {u8"a😀", 2, 3, 1},
        {u8"a😀", 3, 3, 5},
    };
    for (const auto& c : cases) {
        const std::string text = reinterpret_cast<const char*>(c.text);
        EXPECT_EQ(text::bound_width(text), c.width) << text;
        EXPECT_EQ(text::bounded_prefix(text, c.max), c.kept) << text;
    }
}

TEST(text_encoding, utf16_and_utf8_convert_both_ways) {
    // Names of every width, both ways: one, two and three UTF-8 bytes in one
    // UTF-16 unit, four bytes in a surrogate pair.
    for (const char8_t* name : {u8"plain.dat", u8"café.dat", u8"台本.dat", u8"한국어.dat", u8"絵文字\U0001F600.dat"}) {
        const std::string utf8 = reinterpret_cast<const char*>(name);
        EXPECT_EQ(text::utf16_to_utf8(text::utf8_to_utf16(utf8)), utf8) << utf8;
    }
    EXPECT_EQ(text::utf8_to_utf16("\xf0\x9f\x98\x80"), u"\U0001F600");
    EXPECT_EQ(text::utf16_to_utf8(u"\U0001F600"), "\xf0\x9f\x98\x80");
    // A surrogate without its partner, as a Windows name may hold.
    EXPECT_EQ(text::utf16_to_utf8(std::u16string(1, u'\xD800') + u"a"), "\xef\xbf\xbd" "a");
    EXPECT_EQ(text::utf16_to_utf8(std::u16string(1, u'\xDC00')), "\xef\xbf\xbd");
    // Malformed UTF-8 (a stray continuation, a truncated form) gives U+FFFD.
    EXPECT_EQ(text::utf8_to_utf16("a\x80" "b\xe3\x81"), u"a\uFFFDb\uFFFD\uFFFD");
}

}  // namespace
}  // namespace kurvane
