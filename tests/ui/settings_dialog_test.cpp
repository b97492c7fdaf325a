// Copying the settings record to the dialog's controls and back, against a
// fake control set that remembers check states and texts by ID.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/scratch_dir.h"
#include "text/text_encoding.h"
#include "ui/resource.h"
#include "ui/settings_dialog.h"

namespace kurvane {
namespace {

struct FakeControls final : SettingsControls {
    std::map<int, bool> checks;
    std::map<int, std::string> texts;
    bool checked(int id) const override {
        const auto it = checks.find(id);
        return it != checks.end() && it->second;
    }
    void set_checked(int id, bool on) override { checks[id] = on; }
    std::string text(int id) const override {
        const auto it = texts.find(id);
        return it == texts.end() ? std::string() : it->second;
    }
    void set_text(int id, std::string_view text) override { texts[id] = text; }
    std::map<int, std::vector<std::string>> choices;
    std::map<int, int> chosen_entries;
    void set_choices(int id, std::span<const std::string> entries) override {
        choices[id].assign(entries.begin(), entries.end());
        chosen_entries[id] = -1;  // a list refilled has no entry chosen
    }
    int chosen(int id) const override {
        const auto it = chosen_entries.find(id);
        return it == chosen_entries.end() ? -1 : it->second;
    }
    void choose(int id, int index) override {
        const auto it = choices.find(id);
        chosen_entries[id] = it != choices.end() && index >= 0 && index < static_cast<int>(it->second.size()) ? index : -1;
    }
};

// The check boxes with the field each one stands for, as the dialog's
// template labels them.
struct Switch {
    int id;
    const char* name;
    std::int32_t ExtractionSettings::*field;
    bool double_byte;
};
const Switch switches[] = {
    {IDC_HALF_DIGITS, "half_digits", &ExtractionSettings::half_digits, false},
    {IDC_HALF_LOWER, "half_lower", &ExtractionSettings::half_lower, false},
    {IDC_HALF_UPPER, "half_upper", &ExtractionSettings::half_upper, false},
    {IDC_HALF_KATAKANA, "half_katakana", &ExtractionSettings::half_katakana, false},
    {IDC_HALF_SYMBOLS, "half_symbols", &ExtractionSettings::half_symbols, false},
    {IDC_FULL_HIRAGANA, "full_hiragana", &ExtractionSettings::full_hiragana, true},
    {IDC_FULL_KATAKANA, "full_katakana", &ExtractionSettings::full_katakana, true},
    {IDC_FULL_KANJI, "full_kanji", &ExtractionSettings::full_kanji, true},
    {IDC_FULL_DIGITS, "full_digits", &ExtractionSettings::full_digits, true},
    {IDC_FULL_UPPER, "full_upper", &ExtractionSettings::full_upper, true},
    {IDC_FULL_LOWER, "full_lower", &ExtractionSettings::full_lower, true},
    {IDC_FULL_CYRILLIC, "full_cyrillic", &ExtractionSettings::full_cyrillic, true},
    {IDC_FULL_GREEK, "full_greek", &ExtractionSettings::full_greek, true},
    {IDC_FULL_SYMBOLS, "full_symbols", &ExtractionSettings::full_symbols, true},
};

// Every switch off, so that one switched on stands out.
ExtractionSettings all_off() {
    ExtractionSettings s;
    s.auto_newline = 0;
    for (const Switch& sw : switches) {
        s.*sw.field = 0;
    }
    return s;
}

std::string entry_bytes(const unsigned char* entry, std::size_t width) {
    return {reinterpret_cast<const char*>(entry), width};
}

TEST(settings_dialog, defaults_are_shown) {
    FakeControls c;
    show_settings(ExtractionSettings{}, c);
    EXPECT_TRUE(c.checked(IDC_AUTO_NEWLINE));
    EXPECT_EQ(c.text(IDC_MIN_LENGTH), "1");
    EXPECT_EQ(c.text(IDC_XOR_VALUE), "0");
    for (const Switch& sw : switches) {
        EXPECT_EQ(c.checked(sw.id), sw.double_byte) << sw.name;
    }
    // 2000..2011 the excluded pairs, 2012..2017 the exempt strings.
    for (int i = 0; i < 18; ++i) {
        ASSERT_TRUE(c.texts.count(IDC_EXCLUDED_FIRST + i)) << "edit " << IDC_EXCLUDED_FIRST + i;
        EXPECT_EQ(c.text(IDC_EXCLUDED_FIRST + i), "") << "edit " << IDC_EXCLUDED_FIRST + i;
    }
    EXPECT_EQ(c.checks.size(), 15u);
    EXPECT_EQ(c.texts.size(), 20u);
}

TEST(settings_dialog, each_check_box_maps_to_its_own_flag) {
    for (const Switch& sw : switches) {
        // Control to record: only this flag becomes 1.
        FakeControls c;
        show_settings(all_off(), c);
        c.set_checked(sw.id, true);
        ExtractionSettings s;
        apply_settings(c, s);
        EXPECT_EQ(s.auto_newline, 0) << sw.name;
        for (const Switch& other : switches) {
            EXPECT_EQ(s.*other.field, other.id == sw.id ? 1 : 0) << sw.name << " checked, " << other.name;
        }

        // Record to control: any non-zero value checks only this box.
        ExtractionSettings one = all_off();
        one.*sw.field = 7;
        FakeControls shown;
        show_settings(one, shown);
        for (const Switch& other : switches) {
            EXPECT_EQ(shown.checked(other.id), other.id == sw.id) << sw.name << " set, " << other.name;
        }
    }
    FakeControls c;
    show_settings(all_off(), c);
    EXPECT_FALSE(c.checked(IDC_AUTO_NEWLINE));
    c.set_checked(IDC_AUTO_NEWLINE, true);
    ExtractionSettings s = all_off();
    apply_settings(c, s);
    EXPECT_EQ(s.auto_newline, 1);
}

TEST(settings_dialog, numbers_are_range_checked_on_apply) {
    const struct {
        const char* text;
        std::uint32_t min_length;
        std::uint32_t xor_value;
    } cases[] = {
        // The XOR field also reads 0x and hexadecimal digits, as hex
        // editors show a key; the minimum length stays decimal.
        {"0x5A", 1, 0x5A},
        {"0Xff", 1, 255},
        {" 0x10 ", 1, 16},
        {"0x100", 1, 0},    // above 255
        {"0x", 1, 0},
        {"0x5G", 1, 0},
        {"x5A", 1, 0},
        {"0x1_0", 1, 0},
        {"0x00000000FF", 1, 255},
        {"0x100000000", 1, 0},  // beyond 32 bits: refused, not wrapped
        {"0", 1, 0},
        {"1", 1, 1},
        {"20", 20, 20},
        {"21", 1, 21},
        {"255", 1, 255},
        {"256", 1, 0},
        {"", 1, 0},
        {"abc", 1, 0},
        {"ff", 1, 0},
        {" 7\t", 7, 7},     // blanks around the digits are accepted
        {"+7", 1, 0},       // no sign
        {"-1", 1, 0},
        {"7x", 1, 0},       // nothing after the digits
        {"1 2", 1, 0},
        {"4294967301", 1, 0},  // 2^32 + 5: refused, not wrapped to 5
    };
    for (const auto& tc : cases) {
        FakeControls c;
        show_settings(ExtractionSettings{}, c);
        c.set_text(IDC_MIN_LENGTH, tc.text);
        c.set_text(IDC_XOR_VALUE, tc.text);
        ExtractionSettings s;
        s.min_length = 99;
        s.xor_value = 99;
        apply_settings(c, s);
        EXPECT_EQ(s.min_length, tc.min_length) << "text=\"" << tc.text << "\"";
        EXPECT_EQ(s.xor_value, tc.xor_value) << "text=\"" << tc.text << "\"";
    }
}

TEST(settings_dialog, numeric_edits_keep_only_what_can_form_a_number) {
    const struct {
        int id;
        const char* typed;
        const char* kept;
    } cases[] = {
        {IDC_MIN_LENGTH, "12", "12"},
        {IDC_MIN_LENGTH, "1a2", "12"},
        {IDC_MIN_LENGTH, "0x5", "05"},   // no hexadecimal here
        {IDC_MIN_LENGTH, "１２", ""},     // full-width digits are no digits
        {IDC_XOR_VALUE, "0x5A", "0x5A"},
        {IDC_XOR_VALUE, "0X5g", "0X5"},
        {IDC_XOR_VALUE, "0", "0"},
        {IDC_XOR_VALUE, "0x", "0x"},       // on the way to a hexadecimal key
        {IDC_XOR_VALUE, "5A", "5"},        // hexadecimal only after 0x
        {IDC_XOR_VALUE, "x1", "1"},
        {IDC_XOR_VALUE, "0x0x1", "0x01"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(numeric_text(c.id, c.typed), c.kept) << "id=" << c.id << " typed=\"" << c.typed << "\"";
        // What is kept is kept again unchanged: the edit settles at once.
        EXPECT_EQ(numeric_text(c.id, c.kept), c.kept) << "id=" << c.id << " kept=\"" << c.kept << "\"";
    }
}

// The options after the layout: each control shows its option and gives
// it back, and none of them touches the record's own switches.
TEST(settings_dialog, extended_options_are_shown_and_applied) {
    const std::vector<std::string> names = {"Shift-JIS (CP932)", "EUC-JP", "UTF-8", "UTF-16LE", "UTF-16BE"};
    const struct {
        const char* what;
        ExtendedSettings extended;
        bool utf8, filter;
        const char* score;
        int chosen;
    } cases[] = {
        {"defaults", {}, false, false, "50", 0},
        {"UTF-8 out", {TextEncoding::utf8, false, 50, text::InputEncoding::cp932}, true, false, "50", 0},
        {"filter at 0", {TextEncoding::cp932, true, 0, text::InputEncoding::euc_jp}, false, true, "0", 1},
        {"filter at 100", {TextEncoding::utf8, true, 100, text::InputEncoding::utf8}, true, true, "100", 2},
        {"UTF-16LE in", {TextEncoding::cp932, false, 73, text::InputEncoding::utf16le}, false, false, "73", 3},
        {"UTF-16BE in", {TextEncoding::cp932, false, 50, text::InputEncoding::utf16be}, false, false, "50", 4},
    };
    for (const auto& c : cases) {
        FakeControls controls;
        show_extended_settings(c.extended, controls);
        EXPECT_EQ(controls.checked(IDC_OUTPUT_UTF8), c.utf8) << c.what;
        EXPECT_EQ(controls.checked(IDC_TEXT_FILTER), c.filter) << c.what;
        EXPECT_EQ(controls.text(IDC_MIN_SCORE), c.score) << c.what;
        EXPECT_EQ(controls.choices[IDC_INPUT_ENCODING], names) << c.what;
        EXPECT_EQ(controls.chosen(IDC_INPUT_ENCODING), c.chosen) << c.what;
        ExtendedSettings back;
        back.output_encoding = c.utf8 ? TextEncoding::cp932 : TextEncoding::utf8;  // all overwritten
        back.text_filter = !c.filter;
        back.input_encoding = text::InputEncoding::utf16be;
        apply_extended_settings(controls, back);
        EXPECT_EQ(back, c.extended) << c.what;
        ExtractionSettings s = all_off();
        apply_settings(controls, s);
        EXPECT_EQ(s.auto_newline, 0) << c.what;
    }
    // No entry chosen reads as the default encoding.
    FakeControls controls;
    show_extended_settings({}, controls);
    controls.choose(IDC_INPUT_ENCODING, -1);
    ExtendedSettings back;
    back.input_encoding = text::InputEncoding::utf8;
    apply_extended_settings(controls, back);
    EXPECT_EQ(back.input_encoding, text::InputEncoding::cp932);
}

// The least score takes 0..100; anything else gives the default on OK, as
// the other numeric fields do.
TEST(settings_dialog, least_score_is_range_checked_on_apply) {
    const struct {
        const char* text;
        int score;
    } cases[] = {{"0", 0}, {"100", 100}, {"37", 37}, {" 70 ", 70}, {"101", default_min_score},
                 {"", default_min_score}, {"abc", default_min_score}, {"-1", default_min_score},
                 {"4294967296", default_min_score}};
    for (const auto& c : cases) {
        FakeControls controls;
        show_extended_settings({}, controls);
        controls.set_text(IDC_MIN_SCORE, c.text);
        ExtendedSettings back;
        back.min_score = 1;
        apply_extended_settings(controls, back);
        EXPECT_EQ(back.min_score, c.score) << "text=\"" << c.text << "\"";
    }
    EXPECT_EQ(numeric_text(IDC_MIN_SCORE, "0x5a"), "05");
}

TEST(settings_dialog, extraction_takes_every_stored_option) {
    DialogSettings settings;
    settings.extended = {TextEncoding::utf8, true, 64, text::InputEncoding::utf16be};
    const ExtractOptions options = extract_options(settings);
    EXPECT_EQ(options.format.encoding, TextEncoding::utf8);
    EXPECT_TRUE(options.format.text.on);
    EXPECT_EQ(options.format.text.min_score, 64);
    EXPECT_EQ(options.input_encoding, text::InputEncoding::utf16be);
    EXPECT_TRUE(extract_options(DialogSettings{}).format.plain());
    EXPECT_FALSE(extract_options(DialogSettings{}).format.text.on);
}

struct FakeMessages final : MessageView {
    std::vector<std::string> log;
    void show(std::string_view text, std::string_view caption) override {
        log.push_back(std::string(caption) + ": " + std::string(text));
    }
};

// Record-like data with Japanese lines among the fields, XORed with `key`.
std::string xored_data(unsigned char key) {
    const char8_t* const lines[] = {u8"村の長老に話を聞いてみよう。", u8"宿屋に泊まりますか？一泊十ゴールドです。",
                                    u8"このアイテムは売ることができません", u8"扉の向こうから誰かの声が聞こえる……"};
    std::mt19937 rng(5);
    std::string out;
    for (std::size_t line = 0; out.size() < (64u << 10); ++line) {
        for (int k = 0; k < 12; ++k) out += static_cast<char>(rng() % 4 == 0 ? rng() : 0);
        std::string bytes;
        text::utf8_to_cp932(reinterpret_cast<const char*>(lines[line % std::size(lines)]), bytes);
        out += bytes;
    }
    for (char& b : out) b = static_cast<char>(static_cast<unsigned char>(b) ^ key);
    return out;
}

// The Auto button fills the XOR field with the key it finds, in hex; with
// no file, a file it cannot read or no clear key it says so and leaves the
// field alone.
TEST(settings_dialog, auto_finds_the_xor_value_of_the_first_file) {
    const test::ScratchDir dir("kurvane-ui");
    const std::string xored = (dir / "x.dat").string();
    const std::string plain = (dir / "plain.dat").string();
    test::write_bytes(xored, xored_data(0x5A));
    test::write_bytes(plain, xored_data(0));
    std::filesystem::create_directory(dir / "folder.dat");
    const text::Texts& texts = text::english;

    const auto run = [&](const std::string& path, FakeControls& controls, FakeMessages& messages) {
        show_settings(ExtractionSettings{}, controls);
        show_extended_settings({}, controls);
        controls.set_text(IDC_XOR_VALUE, "7");
        return find_xor_value(controls, path, messages, texts);
    };
    {
        FakeControls controls;
        FakeMessages messages;
        EXPECT_TRUE(run(xored, controls, messages));
        EXPECT_EQ(controls.text(IDC_XOR_VALUE), "0x5A");
        EXPECT_TRUE(messages.log.empty()) << messages.log.front();
        // What it filled in is what OK stores.
        ExtractionSettings s;
        apply_settings(controls, s);
        EXPECT_EQ(s.xor_value, 0x5Au);
    }
    const struct {
        const char* what;
        std::string path;
        std::string message;
    } refusals[] = {
        {"no file listed", "", std::string("Kurvane: ") + texts.xor_no_file},
        {"a folder", (dir / "folder.dat").string(), "Kurvane: folder.dat cannot be read."},
        {"a missing file", (dir / "gone.dat").string(), "Kurvane: gone.dat cannot be read."},
        {"text without XOR", plain, "Results: No XOR value makes plain.dat read clearly better than none."},
    };
    for (const auto& r : refusals) {
        FakeControls controls;
        FakeMessages messages;
        EXPECT_FALSE(run(r.path, controls, messages)) << r.what;
        EXPECT_EQ(controls.text(IDC_XOR_VALUE), "7") << r.what;
        EXPECT_EQ(messages.log, std::vector<std::string>{r.message}) << r.what;
    }
}

TEST(settings_dialog, loaded_values_are_shown_as_they_are) {
    ExtractionSettings loaded;
    loaded.min_length = 0;
    loaded.xor_value = 300;
    FakeControls c;
    show_settings(loaded, c);
    EXPECT_EQ(c.text(IDC_MIN_LENGTH), "0");
    EXPECT_EQ(c.text(IDC_XOR_VALUE), "300");
    // OK without touching anything applies the ranges.
    apply_settings(c, loaded);
    EXPECT_EQ(loaded.min_length, 1u);
    EXPECT_EQ(loaded.xor_value, 0u);
    show_settings(loaded, c);
    EXPECT_EQ(c.text(IDC_MIN_LENGTH), "1");

    // Entries without a zero within their width: never read past it, even
    // though the next entry follows directly in memory.
    std::memset(loaded.excluded_pairs, 'p', sizeof loaded.excluded_pairs);
    std::memset(loaded.exempt_strings, 'x', sizeof loaded.exempt_strings);
    show_settings(loaded, c);
    EXPECT_EQ(c.text(IDC_EXCLUDED_FIRST), "pp");
    EXPECT_EQ(c.text(IDC_EXEMPT_FIRST), std::string(20, 'x'));
    EXPECT_EQ(c.text(IDC_EXEMPT_FIRST + 5), std::string(20, 'x'));

    // Code page 932 entries show as their characters and go back byte for byte.
    ExtractionSettings japanese;
    std::memcpy(japanese.excluded_pairs[0], "\x95\x5C", 3);
    std::memcpy(japanese.exempt_strings[0], "\x83\x65\x83\x58\x83\x67", 7);
    show_settings(japanese, c);
    EXPECT_EQ(c.text(IDC_EXCLUDED_FIRST), "表");
    EXPECT_EQ(c.text(IDC_EXEMPT_FIRST), "テスト");
    ExtractionSettings back;
    apply_settings(c, back);
    EXPECT_EQ(std::memcmp(back.excluded_pairs, japanese.excluded_pairs, sizeof back.excluded_pairs), 0);
    EXPECT_EQ(std::memcmp(back.exempt_strings, japanese.exempt_strings, sizeof back.exempt_strings), 0);
}

TEST(settings_dialog, each_entry_has_its_own_edit) {
    ExtractionSettings s;
    for (std::size_t k = 0; k < 12; ++k) {
        s.excluded_pairs[k][0] = static_cast<unsigned char>('A' + k);
    }
    for (std::size_t k = 0; k < 6; ++k) {
        s.exempt_strings[k][0] = 's';
        s.exempt_strings[k][1] = static_cast<unsigned char>('0' + k);
    }
    FakeControls c;
    show_settings(s, c);
    for (int k = 0; k < 12; ++k) {
        EXPECT_EQ(c.text(IDC_EXCLUDED_FIRST + k), std::string(1, static_cast<char>('A' + k))) << "entry " << k;
    }
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(c.text(IDC_EXEMPT_FIRST + k), "s" + std::to_string(k)) << "entry " << k;
    }
    ExtractionSettings back;
    apply_settings(c, back);
    EXPECT_EQ(std::memcmp(back.excluded_pairs, s.excluded_pairs, sizeof s.excluded_pairs), 0);
    EXPECT_EQ(std::memcmp(back.exempt_strings, s.exempt_strings, sizeof s.exempt_strings), 0);
}

TEST(settings_dialog, texts_are_cut_to_their_entries) {
    const std::string z(1, '\0');
    const struct {
        std::string text;
        std::string excluded;  // the entry's 3 bytes
    } pairs[] = {
        {"abc", "ab" + z},
        {"a", "a" + z + z},
        {"", z + z + z},
        {"あ", "\x82\xA0" + z},
        {"あい", "\x82\xA0" + z},
        {"表", "\x95\x5C" + z},  // the trail byte is 0x5C
        // The limit falls inside the second character: it is dropped whole.
        {"aあ", "a" + z + z},
        // No code page 932 data can hold these: the entry stays empty.
        {"é", z + z + z},
        {"😀", z + z + z},
    };
    for (std::size_t i = 0; i < std::size(pairs); ++i) {
        FakeControls c;
        show_settings(ExtractionSettings{}, c);
        // Each entry gets its own text, so a mix-up of entries shows.
        for (int k = 0; k < 12; ++k) {
            c.set_text(IDC_EXCLUDED_FIRST + k, k == static_cast<int>(i) ? pairs[i].text : "");
        }
        ExtractionSettings s;
        std::memset(s.excluded_pairs, 0xEE, sizeof s.excluded_pairs);
        apply_settings(c, s);
        for (std::size_t k = 0; k < 12; ++k) {
            EXPECT_EQ(entry_bytes(s.excluded_pairs[k], 3), k == i ? pairs[i].excluded : z + z + z)
                << "text=\"" << pairs[i].text << "\" in edit " << IDC_EXCLUDED_FIRST + static_cast<int>(i)
                << ", entry " << k;
        }
    }

    const std::string twenty = "abcdefghijklmnopqrst";
    const struct {
        std::string text;
        std::string stored;  // up to the first zero
    } exempts[] = {
        {twenty + "uvwxy", twenty},
        {twenty, twenty},
        {"", ""},
        {"あいうえおかきくけこ", "\x82\xa0\x82\xa2\x82\xa4\x82\xa6\x82\xa8\x82\xa9\x82\xab\x82\xad\x82\xaf\x82\xb1"},
        // Byte 20 would be the lead byte of あ: the character is dropped.
        {twenty.substr(0, 19) + "あ", twenty.substr(0, 19)},
        {"ｱｲ", "\xb1\xb2"},  // half-width katakana: one byte each
        {"café", ""},
        {twenty + "é", twenty},  // cut before the character code page 932 lacks
    };
    for (std::size_t i = 0; i < std::size(exempts); ++i) {
        const int slot = static_cast<int>(i % 6);
        FakeControls c;
        show_settings(ExtractionSettings{}, c);
        c.set_text(IDC_EXEMPT_FIRST + slot, exempts[i].text);
        ExtractionSettings s;
        std::memset(s.exempt_strings, 0xEE, sizeof s.exempt_strings);
        apply_settings(c, s);
        const std::string expected = exempts[i].stored + std::string(21 - exempts[i].stored.size(), '\0');
        EXPECT_EQ(entry_bytes(s.exempt_strings[slot], 21), expected)
            << "text=\"" << exempts[i].text << "\" in slot " << slot;
    }
}

}  // namespace
}  // namespace kurvane
