#include "app/setting_changes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kurvane::cli {
namespace {

TEST(setting_changes, apply_over_the_loaded_record) {
    ExtractionSettings loaded;  // the defaults: every double-byte class on
    loaded.full_kanji = 7;      // any non-zero value is on, and stays as it was
    loaded.excluded_pairs[11][0] = 0x81;
    loaded.exempt_strings[5][0] = 'z';
    SettingChanges changes;
    changes.min_length = 5;
    changes.xor_value = 0x20;
    changes.newline = false;
    changes.class_steps = {{true, 0x17}, {false, 0x20}};  // +ascii -hiragana
    changes.excluded = {{0x82, 0xa0}};
    changes.kept = {"ab"};
    ExtractionSettings s = loaded;
    apply_changes(changes, s);
    EXPECT_EQ(s.min_length, 5u);
    EXPECT_EQ(s.xor_value, 0x20u);
    EXPECT_EQ(s.auto_newline, 0);
    EXPECT_EQ(classes_of(s), 0x3fdfu ^ 0x8u) << std::hex << classes_of(s);
    EXPECT_EQ(s.full_kanji, 7);
    EXPECT_EQ(s.full_hiragana, 0);
    EXPECT_EQ(s.half_digits, 1);
    EXPECT_EQ(s.excluded_pairs[0][0], 0x82);
    EXPECT_EQ(s.excluded_pairs[0][1], 0xa0);
    EXPECT_EQ(s.excluded_pairs[11][0], 0) << "a given list replaces the table";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.exempt_strings[0])), "ab");
    EXPECT_EQ(s.exempt_strings[5][0], 0);

    // Nothing given: the record is unchanged byte for byte.
    s = loaded;
    apply_changes({}, s);
    EXPECT_EQ(std::memcmp(&s, &loaded, sizeof s), 0);
}

// --save-settings stores an option given off its default and keeps the
// loaded file's option otherwise, so saving with default options changes
// nothing.
TEST(setting_changes, stored_options_take_what_the_command_line_changes) {
    ExtendedSettings dialog;  // a file the dialog wrote
    dialog.output_encoding = TextEncoding::utf8;
    dialog.text_filter = true;
    dialog.min_score = 80;
    dialog.input_encoding = text::InputEncoding::euc_jp;
    OutputFormat plain;
    const struct {
        const char* what;
        void (*options)(OutputFormat&, text::InputEncoding&);
        ExtendedSettings loaded;
        ExtendedSettings saved;
    } cases[] = {
        {"defaults over none", [](OutputFormat&, text::InputEncoding&) {}, {}, {}},
        {"defaults over the dialog's", [](OutputFormat&, text::InputEncoding&) {}, dialog, dialog},
        {"--encoding=utf-8", [](OutputFormat& f, text::InputEncoding&) { f.encoding = TextEncoding::utf8; }, {},
         {TextEncoding::utf8, false, default_min_score, text::InputEncoding::cp932}},
        {"--text --min-score=30",
         [](OutputFormat& f, text::InputEncoding&) {
             f.text.on = true;
             f.text.min_score = 30;
         },
         dialog, {TextEncoding::utf8, true, 30, text::InputEncoding::euc_jp}},
        {"--input-encoding=utf-16le", [](OutputFormat&, text::InputEncoding& e) { e = text::InputEncoding::utf16le; },
         {}, {TextEncoding::cp932, false, default_min_score, text::InputEncoding::utf16le}},
    };
    for (const auto& c : cases) {
        OutputFormat format = plain;
        text::InputEncoding input = text::InputEncoding::cp932;
        c.options(format, input);
        ExtendedSettings stored = c.loaded;
        apply_stored_options(format, input, stored);
        EXPECT_EQ(stored, c.saved) << c.what;
    }
}

}  // namespace
}  // namespace kurvane::cli
