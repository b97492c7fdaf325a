#include "app/cli_report.h"
#include "app/file_jobs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/progress_line.h"
#include "app/terminal_text.h"
#include "support/scratch_dir.h"

namespace kurvane::cli {
namespace {

namespace fs = std::filesystem;

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

TEST(messages, language_follows_the_first_locale_variable_set) {
    struct Case {
        const char* lc_all;
        const char* lc_messages;
        const char* lang;
        Language expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, "ja_JP.UTF-8", Language::japanese},
        {"", "", "ja", Language::japanese},                   // empty counts as unset
        {"C", nullptr, "ja_JP.UTF-8", Language::english},     // LC_ALL wins
        {nullptr, "en_US.UTF-8", "ja_JP.UTF-8", Language::english},
        {nullptr, "ja_JP.eucJP", "C", Language::japanese},
        {nullptr, nullptr, nullptr, Language::english},
        {nullptr, nullptr, "jv_ID", Language::english},
    };
    for (const Case& c : cases) {
        static const Case* current;
        current = &c;
        const Language language = message_language([](const char* name) -> const char* {
            if (std::strcmp(name, "LC_ALL") == 0) return current->lc_all;
            if (std::strcmp(name, "LC_MESSAGES") == 0) return current->lc_messages;
            if (std::strcmp(name, "LANG") == 0) return current->lang;
            return nullptr;
        });
        EXPECT_EQ(language, c.expected) << "LC_ALL=" << (c.lc_all ? c.lc_all : "(unset)")
                                        << " LC_MESSAGES=" << (c.lc_messages ? c.lc_messages : "(unset)")
                                        << " LANG=" << (c.lang ? c.lang : "(unset)");
    }
}

TEST(messages, arguments_are_inserted_as_given_in_either_language) {
    const Message message{"{1} then {0}, {2}{x}", "{0}と{1}"};
    // The arguments are not converted: a UTF-8 name stays UTF-8.
    const std::string e_acute = "\xc3\xa9";  // é in UTF-8
    EXPECT_EQ(format_message(Language::english, message, {"a", e_acute}), e_acute + " then a, {2}{x}");
    EXPECT_EQ(format_message(Language::japanese, message, {utf8(u8"あ"), "b"}), utf8(u8"あとb"));
    EXPECT_EQ(describe_error(Language::english, ExtractError::open_input), describe(ExtractError::open_input));
    EXPECT_NE(describe_error(Language::japanese, ExtractError::open_input), describe(ExtractError::open_input));
}

TEST(progress_line, shows_done_total_speed_and_time_left) {
    EXPECT_EQ(byte_count_text(1023), "1023 B");
    EXPECT_EQ(byte_count_text(1024), "1.0 KiB");
    EXPECT_EQ(byte_count_text(3 * 1024 * 1024 + 512 * 1024), "3.5 MiB");
    // 10 MiB of 40 MiB in 2 s: 5 MiB/s, 6 s left.
    EXPECT_EQ(progress_text(Language::english, 10 << 20, 40 << 20, 2.0), "10.0 MiB of 40.0 MiB  5.0 MiB/s  0:06 left");
    EXPECT_EQ(progress_text(Language::english, 10 << 20, 0, 2.0), "10.0 MiB  5.0 MiB/s");  // total unknown
    EXPECT_EQ(progress_text(Language::english, 1 << 20, 3601ull << 20, 1.0), "1.0 MiB of 3.5 GiB  1.0 MiB/s  1:00:00 left");
    // A file that grew past the size it had at the start: no time left to show.
    EXPECT_EQ(progress_text(Language::english, 2048, 1024, 1.0), "2.0 KiB  2.0 KiB/s");
}

TEST(failure_line, names_the_output_only_for_output_failures) {
    ExtractStatus status;
    status.error = ExtractError::create_output;
    status.sys_errno = ENOSPC;
    std::string line = failure_line("a.dat", "out/a.txt", status);
    EXPECT_TRUE(line.starts_with("out/a.txt: ")) << line;
    EXPECT_TRUE(line.ends_with(std::string(": ") + std::strerror(ENOSPC))) << line;

    status.error = ExtractError::open_input;
    status.sys_errno = ENOENT;
    line = failure_line("a.dat", "a.txt", status);
    EXPECT_TRUE(line.starts_with("a.dat: ")) << line;
    EXPECT_TRUE(line.ends_with(std::string(": ") + std::strerror(ENOENT))) << line;

    // No system error: no trailing cause.
    status.error = ExtractError::output_is_input;
    status.sys_errno = 0;
    line = failure_line("a.txt", "a.txt", status);
    EXPECT_EQ(line, std::string("a.txt: ") + describe(ExtractError::output_is_input));
}

class file_jobs : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"a.dat", "b.dat", "A.DAT", "c"}) std::ofstream(name) << "x";
        fs::create_directory("sub");
    }

    static bool independent(std::vector<FileJob> jobs) { return jobs_are_independent(jobs); }

    kurvane::test::ScratchDir scratch_{"kurvane-jobs", kurvane::test::ScratchDir::Enter::yes};
    const fs::path& dir_ = scratch_.path();
};

TEST_F(file_jobs, distinct_files_may_run_together) {
    EXPECT_TRUE(independent({{"a.dat", "a.txt"}, {"b.dat", "b.txt"}, {"c", "c.txt"}}));
    EXPECT_TRUE(independent({{"a.dat", "sub/a.txt"}, {"b.dat", "a.txt"}}));
}

TEST_F(file_jobs, one_output_under_two_spellings_is_a_conflict) {
    EXPECT_FALSE(independent({{"a.dat", "a.txt"}, {"a.dat", "a.txt"}}));
    EXPECT_FALSE(independent({{"a.dat", "a.txt"}, {"b.dat", "./a.txt"}}));
    EXPECT_FALSE(independent({{"a.dat", "sub/../a.txt"}, {"b.dat", "a.txt"}}));
    // Names that differ only in ASCII case may be one file on some systems.
    EXPECT_FALSE(independent({{"a.dat", "a.txt"}, {"A.DAT", "A.txt"}}));
}

TEST_F(file_jobs, an_output_that_is_another_job_s_input_is_a_conflict) {
    // c.txt exists as a second name of the input a.dat: writing it changes a.dat.
    ASSERT_EQ(link("a.dat", "c.txt"), 0) << std::strerror(errno);
    EXPECT_FALSE(independent({{"a.dat", "a.txt"}, {"c", "c.txt"}}));
}

TEST_F(file_jobs, two_outputs_that_are_one_file_are_a_conflict) {
    std::ofstream("a.txt") << "x";
    ASSERT_EQ(link("a.txt", "b.txt"), 0) << std::strerror(errno);
    EXPECT_FALSE(independent({{"a.dat", "a.txt"}, {"b.dat", "b.txt"}}));
}

TEST_F(file_jobs, what_cannot_be_established_is_a_conflict) {
    EXPECT_FALSE(independent({{"missing.dat", "missing.txt"}, {"a.dat", "a.txt"}}));
    EXPECT_FALSE(independent({{"sub", "sub.txt"}, {"a.dat", "a.txt"}}));
    EXPECT_FALSE(independent({{"a.dat", "no-dir/a.txt"}, {"b.dat", "b.txt"}}));
    // An output behind a link, even a dangling one, may lead anywhere.
    ASSERT_EQ(symlink("elsewhere.txt", "a.txt"), 0) << std::strerror(errno);
    EXPECT_FALSE(independent({{"a.dat", "a.txt"}, {"b.dat", "b.txt"}}));
}

TEST_F(file_jobs, jobs_that_clash_never_run_together) {
    // One file reached two ways: through a linked directory, a hard link, a
    // path that leaves and re-enters a directory.
    ASSERT_EQ(symlink("sub", "linked"), 0) << std::strerror(errno);
    std::ofstream("sub/old.txt") << "x";
    ASSERT_EQ(link("sub/old.txt", "hard.txt"), 0) << std::strerror(errno);
    const std::vector<FileJob> clashing[] = {
        {{"a.dat", "sub/a.txt"}, {"b.dat", "linked/a.txt"}},
        {{"a.dat", "linked/old.txt"}, {"b.dat", "hard.txt"}},
        {{"a.dat", "linked/../b.txt"}, {"b.dat", "b.txt"}},
        {{"a.dat", "x.txt"}, {"b.dat", "linked/../a.dat"}},
    };
    for (const std::vector<FileJob>& jobs : clashing) {
        std::string names;
        for (const FileJob& job : jobs) names += " " + job.input + "->" + job.output;
        EXPECT_NE(clashing_outputs(jobs), "") << "jobs:" << names;
        EXPECT_FALSE(independent(jobs)) << "jobs:" << names;
    }
}

TEST_F(file_jobs, outputs_that_clash_are_named_with_both_inputs) {
    std::ofstream("old.txt") << "x";
    ASSERT_EQ(link("old.txt", "hard.txt"), 0) << std::strerror(errno);
    struct Case {
        std::vector<FileJob> jobs;
        std::string expected;  // empty: no clash
    };
    const Case cases[] = {
        {{{"a.dat", "a.txt"}, {"b.dat", "b.txt"}}, ""},
        {{{"a.dat", "a.txt"}, {"a.b.dat", "a.txt"}}, "a.dat and a.b.dat would both be written to a.txt; nothing was extracted"},
        {{{"a.dat", "a.txt"}, {"b.dat", "b.txt"}, {"sub/../a.dat", "./a.txt"}},
         "a.dat and sub/../a.dat would both be written to ./a.txt; nothing was extracted"},
        {{{"a.dat", "old.txt"}, {"b.dat", "hard.txt"}}, "a.dat and b.dat would both be written to hard.txt; nothing was extracted"},
        // Names that differ in case are different files here.
        {{{"a.dat", "a.txt"}, {"A.DAT", "A.txt"}}, ""},
        // An output that is another input.
        {{{"a.dat", "b.dat"}, {"b.dat", "c.txt"}},
         "a.dat would be written to b.dat, which is the input b.dat; nothing was extracted"},
        {{{"c", "x.txt"}, {"b.dat", "./c"}}, "b.dat would be written to ./c, which is the input c; nothing was extracted"},
        // Its own input is left to the extraction to refuse.
        {{{"a.dat", "a.dat"}}, ""},
    };
    for (const Case& c : cases) {
        std::string jobs;
        for (const FileJob& job : c.jobs) jobs += " " + job.input + "->" + job.output;
        EXPECT_EQ(clashing_outputs(c.jobs), c.expected) << "jobs:" << jobs;
    }
}

}  // namespace
}  // namespace kurvane::cli
