#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "engine/extract.h"
#include "engine/file_names.h"
#include "pass_test_util.h"
#include "support/scratch_dir.h"

namespace kurvane {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

using test::read_bytes;
using test::write_bytes;

// Each test runs in a fresh directory that is also the working directory,
// since extract_file takes bare names.
class extract_file_test : public ::testing::Test {
protected:
    void SetUp() override { saved_ = g_settings; }
    void TearDown() override { g_settings = saved_; }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
    }

    test::ScratchDir scratch_{"kurvane-engine", test::ScratchDir::Enter::yes};
    const fs::path& dir_ = scratch_.path();
    ExtractionSettings saved_;
};

using extract_file = extract_file_test;

TEST_F(extract_file, writes_the_text_beside_the_input) {
    write_bytes("a.dat", "\0\0あいう\0\x01漢字"s);
    EXPECT_EQ(kurvane::extract_file("a.dat"), 1);
    EXPECT_EQ(read_bytes("a.txt"), "あいう\r\n漢字\r\n");
    // a.b.dat also writes a.txt; the later extraction wins.
    write_bytes("a.b.dat", "カナ");
    EXPECT_EQ(kurvane::extract_file("a.b.dat"), 1);
    EXPECT_EQ(read_bytes("a.txt"), "カナ\r\n");
    // No '.' at all: the whole name and ".txt"; a leading '.' gives ".txt".
    write_bytes("noext", "ひ");
    EXPECT_EQ(kurvane::extract_file("noext"), 1);
    EXPECT_EQ(read_bytes("noext.txt"), "ひ\r\n");
    write_bytes(".dat", "");
    EXPECT_EQ(kurvane::extract_file(".dat"), 1);
    EXPECT_TRUE(fs::exists(".txt"));
    EXPECT_EQ(fs::file_size(".txt"), 0u);
    // The pass reads the global record at each call.
    g_settings.half_upper = 1;
    g_settings.auto_newline = 0;
    write_bytes("b.dat", "AB\0CD"s);
    EXPECT_EQ(kurvane::extract_file("b.dat"), 1);
    EXPECT_EQ(read_bytes("b.txt"), "ABCD");
}

TEST_F(extract_file, output_names) {
    std::string out;
    EXPECT_TRUE(output_name_for("a.b.dat", out));
    EXPECT_EQ(out, "a.txt");
    EXPECT_TRUE(output_name_for("表.dat", out));
    EXPECT_EQ(out, "表.txt");
    EXPECT_TRUE(output_name_for(std::string(251, 'x') + ".dat", out));
    EXPECT_EQ(out.size(), 255u);
    EXPECT_FALSE(output_name_for(std::string(252, 'x') + ".dat", out));
    EXPECT_FALSE(output_name_for(std::string(252, 'x'), out));
    EXPECT_TRUE(output_path_for("dir.v2/sub/a.b.dat", out));
    EXPECT_EQ(out, "dir.v2/sub/a.txt");
    EXPECT_TRUE(output_path_for("dir.v2/abc", out));
    EXPECT_EQ(out, "dir.v2/abc.txt");
    // Windows separators: 表 is 0x95 0x5C, whose trail byte is not a separator.
    EXPECT_EQ(detail::last_component_start("d\\表.dat", true), 2u);
    EXPECT_EQ(detail::last_component_start("表\\a.dat", true), 3u);
    EXPECT_EQ(detail::last_component_start("a/b\\c", true), 4u);
    EXPECT_EQ(detail::last_component_start("a/b\\c", false), 2u);

    // A 251-byte base works end to end; a 252-byte one creates nothing.
    write_bytes(std::string(251, 'x') + ".d", "あ");
    EXPECT_EQ(kurvane::extract_file((std::string(251, 'x') + ".d").c_str()), 1);
    EXPECT_EQ(read_bytes(std::string(251, 'x') + ".txt"), "あ\r\n");
    write_bytes(std::string(252, 'y') + ".d", "あ");
    const std::size_t before = entries();
    EXPECT_EQ(kurvane::extract_file((std::string(252, 'y') + ".d").c_str()), 0);
    EXPECT_EQ(entries(), before);
}

TEST_F(extract_file, never_overwrites_its_input) {
    const std::string content = "\0ぜったい消さない\0"s;
    write_bytes("a.txt", content);
    EXPECT_EQ(kurvane::extract_file("a.txt"), 0);
    EXPECT_EQ(read_bytes("a.txt"), content);
    // The same file under another name (a hard link) is caught too.
    write_bytes("c.dat", content);
    fs::create_hard_link("c.dat", "c.txt");
    const ExtractStatus st = extract_to_path("c.dat", "c.txt", g_settings);
    EXPECT_EQ(st.error, ExtractError::output_is_input);
    EXPECT_EQ(read_bytes("c.dat"), content);
}

TEST_F(extract_file, refuses_what_it_cannot_read_without_creating_output) {
    fs::create_directory("d.dat");
    EXPECT_EQ(kurvane::extract_file("d.dat"), 0);
    EXPECT_EQ(extract_to_path("d.dat", "d.txt", g_settings).error, ExtractError::not_regular);
    EXPECT_FALSE(fs::exists("d.txt"));

    EXPECT_EQ(kurvane::extract_file("missing.dat"), 0);
    const ExtractStatus missing = extract_to_path("missing.dat", "missing.txt", g_settings);
    EXPECT_EQ(missing.error, ExtractError::open_input);
    EXPECT_EQ(missing.sys_errno, ENOENT);
    EXPECT_FALSE(fs::exists("missing.txt"));

    // A device is not a regular file either (and /dev/zero would never end).
    EXPECT_EQ(extract_to_path("/dev/zero", "z.txt", g_settings).error, ExtractError::not_regular);
    EXPECT_FALSE(fs::exists("z.txt"));
}

TEST_F(extract_file, reports_output_and_read_failures) {
    write_bytes("o.dat", "\0あいう\0"s);
    fs::create_directory("o.txt");  // the output cannot be created
    EXPECT_EQ(kurvane::extract_file("o.dat"), 0);
    EXPECT_EQ(extract_to_path("o.dat", "o.txt", g_settings).error, ExtractError::create_output);

    // A full disk: a small output fails when the stream is closed, a large
    // one while the pass writes.
    if (fs::exists("/dev/full")) {
        const ExtractStatus small = extract_to_path("o.dat", "/dev/full", g_settings);
        EXPECT_EQ(small.error, ExtractError::write_output);
        EXPECT_EQ(small.sys_errno, ENOSPC);
        std::string big;
        for (int k = 0; k < 400000; ++k) big += "漢字\n";
        write_bytes("big.dat", big);
        const ExtractStatus large = extract_to_path("big.dat", "/dev/full", g_settings);
        EXPECT_EQ(large.error, ExtractError::write_output);
        EXPECT_EQ(large.sys_errno, ENOSPC);
    }
    // A regular file whose read fails: /proc/self/mem at offset 0 gives EIO.
    if (fs::is_regular_file("/proc/self/mem")) {
        const ExtractStatus st = extract_to_path("/proc/self/mem", "mem.txt", g_settings);
        EXPECT_EQ(st.error, ExtractError::read_input);
        EXPECT_NE(st.sys_errno, 0);
    }
}

TEST_F(extract_file, stream_output_gets_the_same_bytes) {
    write_bytes("s.dat", "\0あい\0う"s);
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(extract_to_stream("s.dat", out, g_settings).ok());
    std::rewind(out);
    char buffer[64] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, out);
    std::fclose(out);
    EXPECT_EQ(std::string(buffer, n), "あい\r\nう\r\n");
}

// Sizes past 2 GiB and 4 GiB need 64-bit counts all the way; a sparse file
// keeps the test quick. Text straddles both boundaries and sits at the end.
TEST_F(extract_file, handles_files_larger_than_4_gib) {
    const long long gib = 1LL << 30;
    const int fd = ::open("huge.dat", O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const long long size = 4 * gib + 4096 + 7;
    auto put = [fd](long long at, const std::string& text) {
        ASSERT_EQ(::pwrite(fd, text.data(), text.size(), static_cast<off_t>(at)),
                  static_cast<ssize_t>(text.size()));
    };
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        ::close(fd);
        GTEST_SKIP() << "cannot make a sparse file here";
    }
    put(2 * gib - 1, "漢字");
    put(4 * gib - 3, "ひらがな");
    put(size - 4, "\0末尾"s.substr(0, 4));  // "\0末" then the last data byte is the lead of 尾
    ::close(fd);

    const ExtractStatus st = extract_to_path("huge.dat", "huge.txt", ExtractionSettings{});
    ASSERT_TRUE(st.ok()) << describe(st.error);
    EXPECT_EQ(st.bytes_in, static_cast<std::uint64_t>(size));
    EXPECT_EQ(read_bytes("huge.txt"), "漢字\r\nひらがな\r\n末\r\n");
}

}  // namespace
}  // namespace kurvane
