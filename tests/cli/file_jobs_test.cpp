#include "app/file_jobs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace kurvane::cli {
namespace {

namespace fs = std::filesystem;

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
