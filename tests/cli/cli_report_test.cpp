#include "app/cli_report.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace kurvane::cli {
namespace {

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

}  // namespace
}  // namespace kurvane::cli
