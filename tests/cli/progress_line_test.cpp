#include "app/progress_line.h"

#include <gtest/gtest.h>

namespace kurvane::cli {
namespace {

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

}  // namespace
}  // namespace kurvane::cli
