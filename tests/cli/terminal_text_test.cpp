#include "app/terminal_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace kurvane::cli {
namespace {

std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

TEST(terminal_text, converts_utf8_to_the_target_encoding) {
    const struct {
        std::string text;
        const char* codeset;
        std::string want;
    } cases[] = {
        {utf8(u8"変換が終了しました。"), "UTF-8", utf8(u8"変換が終了しました。")},
        {utf8(u8"あ"), "EUC-JP", "\xa4\xa2"},
        {utf8(u8"表\\"), "SHIFT_JIS", "\x95\x5c\x5c"},
        {"", "EUC-JP", ""},
        // Malformed UTF-8 (a cut-off character, a stray continuation byte)
        // shows as '?', in every target.
        {"ab\xe3\x81", "UTF-8", "ab??"},
        {"a\x80z", "EUC-JP", "a?z"},
        // A character the target lacks is transliterated or shown as '?'.
        {utf8(u8"a한z"), "EUC-JP", "a?z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(convert_utf8_to(c.text, c.codeset), c.want) << c.codeset << " " << c.text;
    }
}

TEST(terminal_text, plain_c_locale_falls_back_to_utf8) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    EXPECT_EQ(terminal_codeset(), "UTF-8");
    EXPECT_EQ(utf8_to_terminal(utf8(u8"変換が終了しました。")), utf8(u8"変換が終了しました。"));
    if (std::setlocale(LC_ALL, "C.UTF-8") != nullptr) {
        EXPECT_EQ(terminal_codeset(), "UTF-8");
    }
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(terminal_text, terminal_text_is_read_as_utf8_or_refused) {
    // Run under the C locale, where the terminal's encoding counts as UTF-8.
    const struct {
        std::string text;
        bool ok;
    } cases[] = {
        {utf8(u8"あ漢"), true},
        {"ab", true},
        {"", true},
        {utf8(u8"€한"), true},  // UTF-8 holds them; code page 932 is not asked here
        {"a\xff", false},      // not UTF-8
        {"\xe3\x81", false},  // a cut-off character
    };
    for (const auto& c : cases) {
        std::string text;
        EXPECT_EQ(terminal_to_utf8(c.text, text), c.ok) << "text=" << c.text;
        if (c.ok) {
            EXPECT_EQ(text, c.text);
        }
    }
}

TEST(terminal_text, names_with_control_characters_are_quoted_as_a_shell_reads_them) {
    const struct {
        std::string name;
        std::string shown;
    } cases[] = {
        {"a.dat", "a.dat"},
        {"", ""},
        {"it's a b.dat", "it's a b.dat"},  // nothing to escape: shown as it is
        {"\xe5\x8f\xb0\xe6\x9c\xac\xc3\xa9.dat", "\xe5\x8f\xb0\xe6\x9c\xac\xc3\xa9.dat"},  // 台本é.dat
        {"nl\nx", "'nl'$'\\n''x'"},
        {"\n", "$'\\n'"},
        {"a\r\n", "'a'$'\\r\\n'"},
        {"\a\b\t\v\f", "$'\\a\\b\\t\\v\\f'"},
        {"x\x01\x1b\x7f", "'x'$'\\001\\033\\177'"},
        {"q'\n", "'q'\\'''$'\\n'"},
        // C1 controls in UTF-8 (NEL, CSI) would also move a terminal.
        {"a\xc2\x85" "b\xc2\x9b", "'a'$'\\302\\205''b'$'\\302\\233'"},
        // A character that merely starts with the same byte is kept.
        {"\t\xc2\xa9", "$'\\t''\xc2\xa9'"},
    };
    for (const auto& c : cases) EXPECT_EQ(quoted_name(c.name), c.shown) << c.name;
}

TEST(terminal_text, quoted_texts_show_control_characters_as_c_escapes) {
    const struct {
        std::string text;
        std::string shown;
    } cases[] = {
        {"1x", "1x"},
        {"1\n2", "1\\n2"},
        {"\x1b[2J", "\\033[2J"},
        {"a\xc2\x9b" "b", "a\\302\\233b"},
        {"\xe3\x81\x82\t", "\xe3\x81\x82\\t"},  // あ and a tab
    };
    for (const auto& c : cases) EXPECT_EQ(escaped_text(c.text), c.shown) << c.text;
}

}  // namespace
}  // namespace kurvane::cli
