#include "app/cli_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
             {"--out=out.txt", "a.dat"},         // an unambiguous prefix
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
    Options options = parse({"b.dat", "-s", "set.dat", "a.dat", "--", "-o", "--help", "-"});
    EXPECT_EQ(options.action, Action::extract_files) << options.error;
    EXPECT_EQ(options.files, (std::vector<std::string>{"b.dat", "a.dat", "-o", "--help", "-"}));
    EXPECT_FALSE(options.output.has_value());

    // An argument that looks like an option is still the option's argument.
    options = parse({"-o", "-h", "a.dat"});
    EXPECT_EQ(options.action, Action::extract_files) << options.error;
    EXPECT_EQ(options.output.value_or("<none>"), "-h");

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
        {{"-x", "a.dat"}, "invalid option -- 'x'"},
        {{"-ox", "-q"}, "invalid option -- 'q'"},
        {{"--frob", "a.dat"}, "unrecognized option '--frob'"},
        {{"--output-file=x", "a.dat"}, "unrecognized option '--output-file=x'"},
        {{"a.dat", "-o"}, "option requires an argument -- 'o'"},
        {{"a.dat", "--settings"}, "option '--settings' requires an argument"},
        {{"a.dat", "--set"}, "option '--settings' requires an argument"},
        {{"--help=yes"}, "option '--help' doesn't allow an argument"},
        {{"--=x"}, "unrecognized option '--=x'"},
        {{}, "missing file operand"},
        {{"-s", "setting.dat"}, "missing file operand"},
        {{"-o", "x.txt"}, "missing file operand"},
        {{"-o", "x.txt", "a.dat", "b.dat"}, "--output needs exactly one FILE"},
        {{"-e", "dat", "a.dat"}, "--ext takes no FILE operands"},
        {{"-e", "dat", "-o", "x.txt"}, "--ext cannot be combined with --output"},
    };
    for (const Case& c : cases) {
        const Options options = parse(c.words);
        EXPECT_EQ(options.action, Action::usage_error) << joined(c.words);
        EXPECT_EQ(options.error, c.error) << joined(c.words);
    }
}

}  // namespace
}  // namespace kurvane::cli
