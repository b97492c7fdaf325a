#include "app/cli_options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/usage_text.h"

namespace kurvane::cli {
namespace {

using Words = std::vector<const char*>;

Options parse(const Words& words) { return parse_options(words); }

std::string joined(const Words& words) {
    std::string text;
    for (const char* word : words) text += std::string(" '") + word + "'";
    return text;
}

TEST(cli_options, every_spelling_of_an_option_argument_is_taken) {
    for (const auto& words : std::vector<Words>{
             {"-o", "out.txt", "a.dat"},
             {"-oout.txt", "a.dat"},
             {"--output=out.txt", "a.dat"},
             {"--output", "out.txt", "a.dat"},
             {"a.dat", "-o", "out.txt"},         // operands and options mixed
         }) {
        const Options options = parse(words);
        EXPECT_EQ(options.action, Action::extract_files) << joined(words) << ": " << options.error;
        EXPECT_EQ(options.output.value_or("<none>"), "out.txt") << joined(words);
        EXPECT_EQ(options.files, std::vector<std::string>{"a.dat"}) << joined(words);
    }
}

TEST(cli_options, short_options_bundle_and_the_argument_ends_the_bundle) {
    // -s takes the rest of the word, so the "o" here is its argument, not -o.
    Options options = parse({"-so", "a.dat", "b.dat"});
    EXPECT_EQ(options.action, Action::extract_files) << options.error;
    EXPECT_EQ(options.settings_path.value_or("<none>"), "o");
    EXPECT_EQ(options.files, (std::vector<std::string>{"a.dat", "b.dat"}));

    options = parse({"-es", "-sx.dat"});
    EXPECT_EQ(options.action, Action::search_ext) << options.error;
    EXPECT_EQ(options.extension.value_or("<none>"), "s");
    EXPECT_EQ(options.settings_path.value_or("<none>"), "x.dat");
}

TEST(cli_options, operands_keep_their_order_and_double_dash_ends_the_options) {
    Options options = parse({"b.dat", "-", "-s", "set.dat", "a.dat", "--", "-o", "--help", "-"});
    EXPECT_EQ(options.action, Action::extract_files) << options.error;
    EXPECT_EQ(options.files, (std::vector<std::string>{"b.dat", "-", "a.dat", "-o", "--help", "-"}));
    EXPECT_FALSE(options.output.has_value());

    // An argument that looks like an option is still the option's argument.
    options = parse({"-o", "-h", "a.dat"});
    EXPECT_EQ(options.action, Action::extract_files) << options.error;
    EXPECT_EQ(options.output.value_or("<none>"), "-h");

    options = parse({"-o", "--", "a.dat"});
    EXPECT_EQ(options.output.value_or("<none>"), "--");
    EXPECT_EQ(options.files, std::vector<std::string>{"a.dat"});

    options = parse({"-o", "-", "a.dat"});
    EXPECT_EQ(options.output.value_or("<none>"), standard_output_name);
}

TEST(cli_options, help_and_version_end_the_parse_where_they_stand) {
    EXPECT_EQ(parse({"--help", "--no-such-option"}).action, Action::help);
    EXPECT_EQ(parse({"-h"}).action, Action::help);
    EXPECT_EQ(parse({"a.dat", "b.dat", "-o", "x", "--vers"}).action, Action::version);
    // An error met before them wins.
    EXPECT_EQ(parse({"--no-such-option", "--help"}).action, Action::usage_error);
}

TEST(cli_options, an_empty_extension_is_passed_on_for_the_search_to_refuse) {
    for (const auto& words : std::vector<Words>{
             {"-e", ""}, {"--ext="}, {"--ext", ""}}) {
        const Options options = parse(words);
        EXPECT_EQ(options.action, Action::search_ext) << joined(words) << ": " << options.error;
        EXPECT_EQ(options.extension.value_or("<none>"), "") << joined(words);
    }
}

TEST(cli_options, errors_name_the_offending_option) {
    struct Case {
        Words words;
        const char* error;
    };
    const Case cases[] = {
        {{"-y", "a.dat"}, "invalid option -- 'y'"},
        {{"-ox", "-z"}, "invalid option -- 'z'"},
        {{"--frob", "a.dat"}, "unrecognized option '--frob'"},
        {{"--output-file=x", "a.dat"}, "unrecognized option '--output-file=x'"},
        {{"a.dat", "-o"}, "option requires an argument -- 'o'"},
        {{"a.dat", "--settings"}, "option '--settings' requires an argument"},
        {{"a.dat", "--set"}, "option '--settings' requires an argument"},
        {{"--help=yes"}, "option '--help' doesn't allow an argument"},
        {{"a.dat", "--output"}, "option '--output' requires an argument"},
        {{"--no-n=x"}, "option '--no-newline' doesn't allow an argument"},
        {{"--=x"}, "option '--=x' is ambiguous"},  // the empty name begins every option's
        {{"-o", "x.txt", "a.dat", "b.dat"}, "--output needs exactly one FILE"},
        {{"-o", "x.txt", "-d", "out", "a.dat"}, "--output-dir cannot be combined with --output"},
        {{"--e=x"}, "option '--e=x' is ambiguous"},
        // A prefix of --output is one of --output-dir too, and the two differ.
        {{"--out=x", "a.dat"}, "option '--out=x' is ambiguous"},
        {{"-e", "dat", "a.dat"}, "--ext takes no FILE operands"},
        {{"-e", "dat", "-o", "x.txt"}, "--ext cannot be combined with --output"},
    };
    for (const Case& c : cases) {
        const Options options = parse(c.words);
        EXPECT_EQ(options.action, Action::usage_error) << joined(c.words);
        EXPECT_EQ(options.error, c.error) << joined(c.words);
    }
}

TEST(cli_options, no_file_means_standard_input) {
    for (const auto& words : std::vector<Words>{{}, {"-s", "setting.dat"}, {"-o", "x.txt"}}) {
        const Options options = parse(words);
        EXPECT_EQ(options.action, Action::extract_files) << joined(words) << ": " << options.error;
        EXPECT_TRUE(options.files.empty()) << joined(words);
    }
}

// The parts of Options that the setting and output options fill, as one line.
std::string summary(const Options& o) {
    std::string text;
    auto add = [&](const std::string& part) { text += (text.empty() ? "" : " ") + part; };
    if (o.changes.defaults) add("defaults");
    if (o.changes.min_length) add("n=" + std::to_string(*o.changes.min_length));
    if (o.changes.xor_value) add("x=" + std::to_string(*o.changes.xor_value));
    for (const ClassStep& step : o.changes.class_steps) {
        char part[16];
        std::snprintf(part, sizeof part, "%c%04x", step.add ? '+' : '-', step.classes);
        add(part);
    }
    if (o.changes.newline) add(*o.changes.newline ? "newline" : "no-newline");
    if (o.changes.excluded) {
        std::string part = "exclude=";
        for (const auto& pair : *o.changes.excluded) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%02x%02x,", pair[0], pair[1]);
            part += hex;
        }
        add(part);
    }
    if (o.changes.kept) {
        std::string part = "keep=";
        for (const std::string& kept : *o.changes.kept) {
            for (const char c : kept) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(c));
                part += hex;
            }
            part += ',';
        }
        add(part);
    }
    if (o.format.encoding == TextEncoding::utf8) add("utf-8");
    if (o.format.eol == LineEnd::lf) add("lf");
    if (o.format.radix != OffsetRadix::none) add("radix=" + std::to_string(static_cast<int>(o.format.radix)));
    if (o.print_file_name) add("f");
    if (o.format.json) add("json");
    if (o.quiet) add("q");
    if (o.output_dir) add("d=" + *o.output_dir);
    if (o.show_settings) add("show");
    if (o.save_settings_path) add("save=" + *o.save_settings_path);
    return text;
}

TEST(cli_options, setting_and_format_options_sweep) {
    struct Case {
        Words words;
        const char* expected;  // summary(), or the error when it starts with "!"
    };
    // Class bits: half-digit 0x1, half-upper 0x2, half-lower 0x4, half-kana
    // 0x8, half-symbol 0x10, then the double-byte classes from 0x20 to 0x2000.
    const Case cases[] = {
        {{"-n", "10"}, "n=10"},
        {{"-n10", "--min-length=4294967295"}, "n=4294967295"},
        {{"-n", "0"}, "!--min-length must be a whole number from 1 to 4294967295: '0'"},
        {{"-n", "4294967296"}, "!--min-length must be a whole number from 1 to 4294967295: '4294967296'"},
        {{"--min-length=-3"}, "!--min-length must be a whole number from 1 to 4294967295: '-3'"},
        {{"-n", "1x"}, "!--min-length must be a whole number from 1 to 4294967295: '1x'"},
        {{"-n", ""}, "!--min-length must be a whole number from 1 to 4294967295: ''"},
        {{"-x", "255"}, "x=255"},
        {{"--xor=0xA5"}, "x=165"},
        {{"-x0X0f"}, "x=15"},
        {{"-x", "0"}, "x=0"},
        {{"-x", "256"}, "!--xor must be 0 to 255 (decimal or 0x hex): '256'"},
        {{"-x", "0x100"}, "!--xor must be 0 to 255 (decimal or 0x hex): '0x100'"},
        {{"-x", "0x"}, "!--xor must be 0 to 255 (decimal or 0x hex): '0x'"},
        // A plain list clears the set first; +/- items work on what came before.
        {{"-c", "kanji"}, "-3fff +0080"},
        {{"-c", "+ascii"}, "+0017"},
        {{"--classes=all,-half-kana"}, "-3fff +3fff -0008"},
        {{"-c", "-full,+half"}, "-3fe0 +001f"},
        {{"-c", "none"}, "-3fff +0000"},
        {{"-c", "+kanji", "-c", "hiragana"}, "+0080 -3fff +0020"},
        {{"-c", "kanji,"}, "!unknown character class ''"},
        {{"-c", "Kanji"}, "!unknown character class 'Kanji'"},
        {{"-c", "+"}, "!unknown character class ''"},
        {{"-yq"}, "!invalid option -- 'y'"},  // the next parse starts afresh, without this q
        {{"--no-newline"}, "no-newline"},
        {{"--no-newline", "--newline"}, "newline"},
        {{"--defaults"}, "defaults"},
        // あ is 82 a0 and 漢 8a bf in code page 932.
        {{"--exclude=\xe3\x81\x82", "--exclude", "0x8ABF"}, "exclude=82a0,8abf,"},
        {{"--exclude=0x815c"}, "exclude=815c,"},
        {{"--exclude=a"}, "!--exclude takes one double-byte character or two bytes written 0xHHHH: 'a'"},
        {{"--exclude=\xe3\x81\x82\xe3\x81\x82"},
         "!--exclude takes one double-byte character or two bytes written 0xHHHH: '\xe3\x81\x82\xe3\x81\x82'"},
        {{"--exclude=0x82"}, "!--exclude takes one double-byte character or two bytes written 0xHHHH: '0x82'"},
        {{"--exclude=0x82zz"}, "!--exclude takes one double-byte character or two bytes written 0xHHHH: '0x82zz'"},
        {{"--exclude=0x0041"}, "!--exclude cannot hold a zero byte: '0x0041'"},
        {{"--exclude=\xe2\x82\xac"}, "!--exclude '\xe2\x82\xac' cannot be converted to code page 932"},  // €
        {{"--exclude=\xff"}, "!--exclude '\xff' cannot be converted to code page 932"},
        {{"--keep=ABC", "--keep=\xe6\xbc\xa2"}, "keep=414243,8abf,"},
        // 表 ends in 0x5C; ⅰ has two codes, and Windows writes 0xFA40.
        {{"--keep=\xe8\xa1\xa8\xe2\x85\xb0"}, "keep=955cfa40,"},
        // 〜 − ‖ ¢ £ ¬ as a Unix terminal types them: the codes of ～ － ∥ ￠ ￡ ￢.
        {{"--keep=\xe3\x80\x9c\xe2\x88\x92\xe2\x80\x96\xc2\xa2\xc2\xa3\xc2\xac"},
         "keep=8160817c81618191819281ca,"},
        {{"--keep=caf\xc3\xa9"}, "!--keep 'caf\xc3\xa9' cannot be converted to code page 932"},
        {{"--keep=12345678901234567890"}, "keep=3132333435363738393031323334353637383930,"},
        {{"--keep=123456789012345678901"},
         "!--keep text '123456789012345678901' is 21 bytes in code page 932; at most 20 fit"},
        {{"--keep="}, "!--keep needs a non-empty text"},
        {{"--encoding=utf-8", "--eol=lf", "-t", "x", "-f", "-q"}, "utf-8 lf radix=3 f q"},
        {{"--encoding=cp932", "--eol=crlf", "-td"}, "radix=1"},
        {{"--radix=o"}, "radix=2"},
        {{"--json", "-f"}, "f json"},
        {{"--encoding=utf8"}, "!invalid argument 'utf8' for '--encoding'"},
        {{"-t", "h"}, "!invalid argument 'h' for '--radix'"},
        {{"--eol=cr"}, "!invalid argument 'cr' for '--eol'"},
        {{"-d", "out", "--show-settings", "--save-settings=s.dat"}, "d=out show save=s.dat"},
        {{"--output=x", "--output-d=y"}, "!--output-dir cannot be combined with --output"},
        {{"--save", "s.dat"}, "save=s.dat"},
        {{"--newl"}, "newline"},  // a prefix of one option only
        {{"--show"}, "show"},
        {{"--s"}, "!option '--s' is ambiguous"},
    };
    for (const Case& c : cases) {
        Words words = c.words;
        words.push_back("a.dat");
        const Options options = parse(words);
        if (c.expected[0] == '!') {
            EXPECT_EQ(options.action, Action::usage_error) << joined(words);
            EXPECT_EQ(options.error, c.expected + 1) << joined(words);
        } else {
            EXPECT_EQ(options.action, Action::extract_files) << joined(words) << ": " << options.error;
            EXPECT_EQ(summary(options), c.expected) << joined(words);
        }
    }
}

// --text takes ASCII into runs unless -c names the classes; --min-score
// takes 0 to 100; --xor=auto and -x N replace each other, the last winning.
TEST(cli_options, text_filter_and_xor_auto) {
    struct Case {
        Words words;
        bool text;
        int min_score;
        bool show_score;
        bool xor_auto;
        std::size_t class_steps;  // --text adds one when -c gives none
        const char* error;
    };
    const int d = default_min_score;
    const Case cases[] = {
        {{"--text"}, true, d, false, false, 1, ""},
        {{"--text", "-c", "kanji"}, true, d, false, false, 2, ""},
        {{"--text", "--min-score=0", "--score"}, true, 0, true, false, 1, ""},
        {{"--min-score", "100"}, false, 100, false, false, 0, ""},
        {{"--xor=auto"}, false, d, false, true, 0, ""},
        {{"-x", "auto", "-x", "7"}, false, d, false, false, 0, ""},
        {{"-x", "7", "--xor=auto"}, false, d, false, true, 0, ""},
        {{"--min-score=101"}, false, d, false, false, 0,
         "--min-score must be a whole number from 0 to 100: '101'"},
        {{"--min-score=-1"}, false, d, false, false, 0,
         "--min-score must be a whole number from 0 to 100: '-1'"},
        {{"--min-score="}, false, d, false, false, 0, "--min-score must be a whole number from 0 to 100: ''"},
        {{"--xor=Auto"}, false, d, false, false, 0, "--xor must be 0 to 255 (decimal or 0x hex): 'Auto'"},
    };
    for (const Case& c : cases) {
        Words words = c.words;
        words.push_back("a.dat");
        const Options o = parse(words);
        EXPECT_EQ(o.error, c.error) << joined(words);
        if (*c.error != '\0') continue;
        EXPECT_EQ(o.format.text.on, c.text) << joined(words);
        EXPECT_EQ(o.format.text.min_score, c.min_score) << joined(words);
        EXPECT_EQ(o.format.text.show_score, c.show_score) << joined(words);
        EXPECT_EQ(o.xor_auto, c.xor_auto) << joined(words);
        ASSERT_EQ(o.changes.class_steps.size(), c.class_steps) << joined(words);
        if (c.class_steps == 1) {
            EXPECT_TRUE(o.changes.class_steps[0].add);
            EXPECT_EQ(o.changes.class_steps[0].classes, ascii_classes);
        }
    }
}

TEST(cli_options, too_many_table_entries_are_refused) {
    Words words;
    for (int i = 0; i < 13; ++i) words.push_back("--exclude=0x8140");
    EXPECT_EQ(parse(words).error, "--exclude can be given at most 12 times");
    words.pop_back();
    EXPECT_EQ(parse(words).action, Action::extract_files) << parse(words).error;
    words.assign(7, "--keep=a");
    EXPECT_EQ(parse(words).error, "--keep can be given at most 6 times");
    words.pop_back();
    EXPECT_EQ(parse(words).action, Action::extract_files) << parse(words).error;
}

TEST(cli_options, messages_follow_the_language) {
    const Words words{"--frob"};
    EXPECT_EQ(parse_options(words, Language::english).error, "unrecognized option '--frob'");
    const std::string japanese = parse_options(words, Language::japanese).error;
    EXPECT_NE(japanese, "unrecognized option '--frob'");
    EXPECT_NE(japanese.find("'--frob'"), std::string::npos) << japanese;
    EXPECT_NE(usage_text(Language::japanese), usage_text(Language::english));
}

}  // namespace
}  // namespace kurvane::cli
