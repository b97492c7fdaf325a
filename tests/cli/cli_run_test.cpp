#include "app/cli_run.h"

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

#include "app/terminal_text.h"
#include "support/scratch_dir.h"

namespace kurvane::cli {
namespace {

namespace fs = std::filesystem;

std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Code page 932 bytes of "変換が終了しました。", written out so that this file
// needs no code page 932 literals.
constexpr char done_cp932[] = "\x95\xcf\x8a\xb7\x82\xaa\x8f\x49\x97\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42";

TEST(terminal_text, converts_code_page_932_to_the_target_encoding) {
    EXPECT_EQ(convert_cp932_to(done_cp932, "UTF-8"), utf8(u8"変換が終了しました。"));
    // 0x5C as a trail byte belongs to the kanji; as a lone byte it is the
    // backslash (CP932 as Windows maps it).
    EXPECT_EQ(convert_cp932_to("\x95\x5c\x5c", "UTF-8"), utf8(u8"表\\"));
    EXPECT_EQ(convert_cp932_to("\x82\xa0", "EUC-JP"), "\xa4\xa2");
    EXPECT_EQ(convert_cp932_to("", "UTF-8"), "");
}

TEST(terminal_text, bytes_that_are_not_code_page_932_become_question_marks) {
    // A lead byte at the end, then an undefined lead row (0x85), in text.
    EXPECT_EQ(convert_cp932_to("ab\x82", "UTF-8"), "ab?");
    EXPECT_EQ(convert_cp932_to("\x82\xa0x\x82", "UTF-8"), utf8(u8"あx?"));
    const std::string converted = convert_cp932_to("a\x85\x40z", "UTF-8");
    EXPECT_EQ(converted.front(), 'a');
    EXPECT_EQ(converted.back(), 'z');
    EXPECT_NE(converted.find('?'), std::string::npos) << converted;
}

TEST(terminal_text, plain_c_locale_falls_back_to_utf8) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    EXPECT_EQ(terminal_codeset(), "UTF-8");
    EXPECT_EQ(cp932_to_terminal(done_cp932), utf8(u8"変換が終了しました。"));
    if (std::setlocale(LC_ALL, "C.UTF-8") != nullptr) {
        EXPECT_EQ(terminal_codeset(), "UTF-8");
    }
    std::setlocale(LC_ALL, saved.c_str());
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

}  // namespace
}  // namespace kurvane::cli
