#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

#include "cp932.h"  // Japanese literals here are data bytes in code page 932
#include "engine/extract.h"
#include "os/file_names.h"
#include "pass_test_util.h"
#include "reference_extract.h"
#include "support/scratch_dir.h"

namespace kurvane {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

using test::read_bytes;
using test::write_bytes;

// Names are UTF-8; the narrow literals of this file are code page 932 data.
std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Each test runs in a fresh directory that is also the working directory,
// since extract_file takes bare names.
class extract_file_test : public ::testing::Test {
protected:
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
    }
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& entry : fs::directory_iterator(dir_)) out.insert(entry.path().filename().string());
        return out;
    }

    test::ScratchDir scratch_{"kurvane-engine", test::ScratchDir::Enter::yes};
    const fs::path& dir_ = scratch_.path();
    ExtractionSettings settings_;
};

using extract_file = extract_file_test;

TEST_F(extract_file, writes_the_text_beside_the_input) {
    write_bytes("a.dat", "\0\0あいう\0\x01漢字"s);
    EXPECT_EQ(kurvane::extract_file("a.dat", settings_), 1);
    EXPECT_EQ(read_bytes("a.txt"), "あいう\r\n漢字\r\n");
    // a.b.dat also writes a.txt; the later extraction wins.
    write_bytes("a.b.dat", "カナ");
    EXPECT_EQ(kurvane::extract_file("a.b.dat", settings_), 1);
    EXPECT_EQ(read_bytes("a.txt"), "カナ\r\n");
    // No '.' at all: the whole name and ".txt"; a leading '.' gives ".txt".
    write_bytes("noext", "ひ");
    EXPECT_EQ(kurvane::extract_file("noext", settings_), 1);
    EXPECT_EQ(read_bytes("noext.txt"), "ひ\r\n");
    write_bytes(".dat", "");
    EXPECT_EQ(kurvane::extract_file(".dat", settings_), 1);
    EXPECT_TRUE(fs::exists(".txt"));
    EXPECT_EQ(fs::file_size(".txt"), 0u);
    // The pass reads the record it is given at each call.
    settings_.half_upper = 1;
    settings_.auto_newline = 0;
    write_bytes("b.dat", "AB\0CD"s);
    EXPECT_EQ(kurvane::extract_file("b.dat", settings_), 1);
    EXPECT_EQ(read_bytes("b.txt"), "ABCD");
}

TEST_F(extract_file, output_names) {
    std::string out;
    EXPECT_TRUE(output_name_for("a.b.dat", out));
    EXPECT_EQ(out, "a.txt");
    EXPECT_TRUE(output_name_for(utf8(u8"表.dat"), out));
    EXPECT_EQ(out, utf8(u8"表.txt"));
    EXPECT_TRUE(output_name_for(std::string(251, 'x') + ".dat", out));
    EXPECT_EQ(out.size(), 255u);
    EXPECT_FALSE(output_name_for(std::string(252, 'x') + ".dat", out));
    EXPECT_FALSE(output_name_for(std::string(252, 'x'), out));
    EXPECT_TRUE(output_path_for("dir.v2/sub/a.b.dat", out));
    EXPECT_EQ(out, "dir.v2/sub/a.txt");
    EXPECT_TRUE(output_path_for("dir.v2/abc", out));
    EXPECT_EQ(out, "dir.v2/abc.txt");
    // Paths are UTF-8: 表 is E8 A1 A8 there (0x95 0x5C only in code page 932).
    EXPECT_EQ(os::last_component_start(utf8(u8"d\\表.dat"), true), 2u);
    EXPECT_EQ(os::last_component_start(utf8(u8"表\\a.dat"), true), 4u);
    EXPECT_EQ(os::last_component_start("a/b\\c", true), 4u);
    EXPECT_EQ(os::last_component_start("a/b\\c", false), 2u);

    // A 251-byte base works end to end; a 252-byte one creates nothing.
    write_bytes(std::string(251, 'x') + ".d", "あ");
    EXPECT_EQ(kurvane::extract_file((std::string(251, 'x') + ".d").c_str(), settings_), 1);
    EXPECT_EQ(read_bytes(std::string(251, 'x') + ".txt"), "あ\r\n");
    write_bytes(std::string(252, 'y') + ".d", "あ");
    const std::size_t before = entries();
    EXPECT_EQ(kurvane::extract_file((std::string(252, 'y') + ".d").c_str(), settings_), 0);
    EXPECT_EQ(entries(), before);
}

// Any name: each file is extracted beside itself under its own name, with
// the output named by the first '.' of the Unicode name.
TEST_F(extract_file, names_of_any_script) {
    const struct {
        std::string name;
        std::string output;
    } cases[] = {
        {utf8(u8"台本.dat"), utf8(u8"台本.txt")},
        {utf8(u8"表示.dat"), utf8(u8"表示.txt")},  // 0x5C trail byte in code page 932
        {utf8(u8"café.v1.dat"), utf8(u8"café.txt")},
        {utf8(u8"한국어.dat"), utf8(u8"한국어.txt")},
        {utf8(u8"セーブ😀.dat"), utf8(u8"セーブ😀.txt")},
    };
    for (const auto& c : cases) {
        write_bytes(c.name, "\0\0あいう\0"s);
        EXPECT_EQ(kurvane::extract_file(c.name.c_str(), settings_), 1) << c.name;
        EXPECT_EQ(read_bytes(c.output), "あいう\r\n") << c.name;
    }
    EXPECT_EQ(entries(), 2 * std::size(cases));

    // The base-name bound: code page 932 bytes for what that code page holds
    // (a kanji counts 2), UTF-16 units for the rest (an emoji counts 2).
    const auto repeat = [](const std::string& unit, std::size_t n) {
        std::string text;
        for (std::size_t k = 0; k < n; ++k) text += unit;
        return text;
    };
    const struct {
        std::string base;
        bool ok;
    } bounds[] = {
        {repeat(utf8(u8"漢"), 125) + "x", true},   // 251
        {repeat(utf8(u8"漢"), 126), false},         // 252
        {repeat(utf8(u8"ｱ"), 251), true},           // half-width: one byte each
        {repeat(utf8(u8"한"), 251), true},          // 251 UTF-16 units
        {repeat(utf8(u8"한"), 252), false},
        {repeat(utf8(u8"😀"), 125) + "x", true},   // 251 units
        {repeat(utf8(u8"😀"), 126), false},
    };
    for (const auto& b : bounds) {
        std::string out;
        EXPECT_EQ(output_name_for(b.base + ".dat", out), b.ok) << b.base;
        if (b.ok) {
            EXPECT_EQ(out, b.base + ".txt");
        }
    }
}

TEST_F(extract_file, never_overwrites_its_input) {
    const std::string content = "\0ぜったい消さない\0"s;
    write_bytes("a.txt", content);
    EXPECT_EQ(kurvane::extract_file("a.txt", settings_), 0);
    EXPECT_EQ(read_bytes("a.txt"), content);
    // The same file under another name (a hard link) is caught too.
    write_bytes("c.dat", content);
    fs::create_hard_link("c.dat", "c.txt");
    const ExtractStatus st = extract_to_path("c.dat", "c.txt", settings_);
    EXPECT_EQ(st.error, ExtractError::output_is_input);
    EXPECT_EQ(read_bytes("c.dat"), content);
}

TEST_F(extract_file, refuses_what_it_cannot_read_without_creating_output) {
    fs::create_directory("d.dat");
    EXPECT_EQ(kurvane::extract_file("d.dat", settings_), 0);
    EXPECT_EQ(extract_to_path("d.dat", "d.txt", settings_).error, ExtractError::not_regular);
    EXPECT_FALSE(fs::exists("d.txt"));

    EXPECT_EQ(kurvane::extract_file("missing.dat", settings_), 0);
    const ExtractStatus missing = extract_to_path("missing.dat", "missing.txt", settings_);
    EXPECT_EQ(missing.error, ExtractError::open_input);
    EXPECT_EQ(missing.sys_errno, ENOENT);
    EXPECT_FALSE(fs::exists("missing.txt"));
}

// The dialog's walk names each failure with its cause, and a file in
// another folder is written beside itself there, not in the working folder.
TEST_F(extract_file, beside_reports_the_cause_and_writes_next_to_the_input) {
    fs::create_directory("sub");
    write_bytes("sub/a.b.dat", "\0あい\0"s);
    ExtractOptions utf8_out;
    utf8_out.format.encoding = TextEncoding::utf8;
    EXPECT_TRUE(extract_beside((dir_ / "sub" / "a.b.dat").string().c_str(), settings_, utf8_out).ok());
    EXPECT_EQ(read_bytes("sub/a.txt"), utf8(u8"あい\r\n"));
    EXPECT_FALSE(fs::exists("a.txt"));

    fs::create_directory("dir.dat");
    EXPECT_EQ(extract_beside("dir.dat", settings_).error, ExtractError::not_regular);
    const ExtractStatus missing = extract_beside("sub/missing.dat", settings_);
    EXPECT_EQ(missing.error, ExtractError::open_input);
    EXPECT_EQ(missing.sys_errno, ENOENT);
    EXPECT_EQ(extract_beside((std::string(252, 'y') + ".d").c_str(), settings_).error, ExtractError::name_too_long);

    // An output that is a directory cannot be created; the input stays.
    write_bytes("blocked.dat", "\0あ\0"s);
    fs::create_directory("blocked.txt");
    const ExtractStatus blocked = extract_beside("blocked.dat", settings_);
    EXPECT_EQ(blocked.error, ExtractError::create_output);
    EXPECT_NE(blocked.sys_errno, 0);
    EXPECT_TRUE(fs::is_directory("blocked.txt"));
}

// Writes `data` to fd on a thread of its own and closes it, so a reader
// that needs more than a pipe's buffer can take it.
std::thread feed(int fd, const std::string& data) {
    return std::thread([fd, &data] {
        for (std::size_t at = 0; at < data.size();) {
            const ssize_t n = ::write(fd, data.data() + at, data.size() - at);
            if (n <= 0) break;
            at += static_cast<std::size_t>(n);
        }
        ::close(fd);
    });
}

// Inputs that are not regular files are read to their end as streams: a
// FIFO by name, an open pipe, a device. The dialog, which converts what a
// directory listing names, still takes regular files only.
TEST_F(extract_file, reads_fifos_pipes_and_devices_as_streams) {
    // More than one 4 MiB piece and far more than a pipe holds.
    std::string data;
    std::string plain;
    std::string formatted;
    for (std::size_t k = 0; k < 500000; ++k) {
        char offset[32];
        std::snprintf(offset, sizeof offset, "%7zx ", 10 * k + 1);
        data += "\0漢字かな\x01"s;
        plain += "漢字かな\r\n";
        formatted += offset;
        formatted += reinterpret_cast<const char*>(u8"漢字かな\n");
    }
    ExtractOptions options;
    options.format.encoding = TextEncoding::utf8;
    options.format.eol = LineEnd::lf;
    options.format.radix = OffsetRadix::hex;
    std::vector<std::uint64_t> progress;
    options.progress = [&progress](std::uint64_t n) { progress.push_back(n); };

    ASSERT_EQ(::mkfifo("in.dat", 0600), 0);
    EXPECT_EQ(kurvane::extract_file("in.dat", settings_), 0);  // does not wait for a writer
    EXPECT_FALSE(fs::exists("in.txt"));
    std::thread writer([&data] {
        const int fd = ::open("in.dat", O_WRONLY);
        if (fd >= 0) feed(fd, data).join();
    });
    const ExtractStatus fifo = extract_to_path("in.dat", "in.txt", settings_, options);
    writer.join();
    EXPECT_TRUE(fifo.ok()) << describe(fifo.error);
    EXPECT_EQ(fifo.bytes_in, data.size());
    EXPECT_TRUE(read_bytes("in.txt") == formatted) << "FIFO, formatted";
    EXPECT_GE(progress.size(), 2u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.empty() ? 0 : progress.back(), data.size());

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::FILE* in = ::fdopen(fds[0], "rb");
    std::FILE* out = std::tmpfile();
    ASSERT_TRUE(in != nullptr && out != nullptr);
    std::thread pipe_writer = feed(fds[1], data);
    const ExtractStatus piped = extract_stream(in, out, settings_);
    pipe_writer.join();
    std::fclose(in);
    EXPECT_TRUE(piped.ok()) << describe(piped.error);
    std::rewind(out);
    std::string got(plain.size() + 1, '\0');
    got.resize(std::fread(got.data(), 1, got.size(), out));
    std::fclose(out);
    EXPECT_TRUE(got == plain) << "pipe, plain: " << got.size() << " bytes, want " << plain.size();

    // A device is read to its end too.
    const ExtractStatus empty = extract_to_path("/dev/null", "null.txt", settings_);
    EXPECT_TRUE(empty.ok()) << describe(empty.error);
    EXPECT_TRUE(fs::is_regular_file("null.txt") && fs::file_size("null.txt") == 0);
    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    EXPECT_TRUE(extract_to_stream("/dev/null", sink, settings_).ok());
    std::fclose(sink);
}

TEST_F(extract_file, reports_output_and_read_failures) {
    write_bytes("o.dat", "\0あいう\0"s);
    fs::create_directory("o.txt");  // the output cannot be created
    EXPECT_EQ(kurvane::extract_file("o.dat", settings_), 0);
    EXPECT_EQ(extract_to_path("o.dat", "o.txt", settings_).error, ExtractError::create_output);

    // A full disk: a small output fails when the stream is closed, a large
    // one while the pass writes.
    if (fs::exists("/dev/full")) {
        const ExtractStatus small = extract_to_path("o.dat", "/dev/full", settings_);
        EXPECT_EQ(small.error, ExtractError::write_output);
        EXPECT_EQ(small.sys_errno, ENOSPC);
        std::string big;
        for (int k = 0; k < 400000; ++k) big += "漢字\n";
        write_bytes("big.dat", big);
        const ExtractStatus large = extract_to_path("big.dat", "/dev/full", settings_);
        EXPECT_EQ(large.error, ExtractError::write_output);
        EXPECT_EQ(large.sys_errno, ENOSPC);
    }
    // A regular file whose read fails: /proc/self/mem at offset 0 gives EIO.
    if (fs::is_regular_file("/proc/self/mem")) {
        const ExtractStatus st = extract_to_path("/proc/self/mem", "mem.txt", settings_);
        EXPECT_EQ(st.error, ExtractError::read_input);
        EXPECT_NE(st.sys_errno, 0);
    }
}

// Whatever stops an extraction, a previous output stays byte for byte and no
// temporary file is left beside it; a complete one replaces it.
TEST_F(extract_file, an_output_is_replaced_whole_or_not_at_all) {
    const std::string previous = "前の出力\r\n";
    write_bytes("text.dat", "\0あいう\0"s);
    std::string big;
    for (int k = 0; k < 400000; ++k) big += "漢字\n";
    write_bytes("big.dat", big);
    fs::create_symlink("out.txt", "link.txt");
    constexpr rlim_t no_limit = 0;

    struct Case {
        const char* what;
        const char* input;
        const char* output;
        ExtractError error;
        int sys_errno;          // 0: any
        rlim_t file_size_limit; // makes writes past it fail like a full disk
    };
    const Case cases[] = {
        {"complete", "text.dat", "out.txt", ExtractError::none, 0, no_limit},
        // Through a link the file it names is replaced and the link kept.
        {"through a link", "text.dat", "link.txt", ExtractError::none, 0, no_limit},
        {"input missing", "missing.dat", "out.txt", ExtractError::open_input, ENOENT, no_limit},
        {"output is the input", "out.txt", "link.txt", ExtractError::output_is_input, 0, no_limit},
        // The first blocks are written before the limit is reached.
        {"write fails part-way", "big.dat", "out.txt", ExtractError::write_output, EFBIG, 64 * 1024},
        // /proc/self/mem is a regular file whose read fails at offset 0.
        {"read fails", "/proc/self/mem", "out.txt", ExtractError::read_input, 0, no_limit},
    };
    for (const Case& c : cases) {
        if (c.input[0] == '/' && !fs::is_regular_file(c.input)) continue;
        write_bytes("out.txt", previous);
        // A private output stays private when it is replaced.
        const fs::perms private_file = fs::perms::owner_read | fs::perms::owner_write;
        fs::permissions("out.txt", private_file);
        const std::set<std::string> before = names();

        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previous_handler = signal(SIGXFSZ, SIG_IGN);
        if (c.file_size_limit != no_limit) {
            rlimit small = saved;
            small.rlim_cur = c.file_size_limit;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        const ExtractStatus st = extract_to_path(c.input, c.output, settings_);
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, previous_handler);

        EXPECT_EQ(st.error, c.error) << c.what << ": " << describe(st.error);
        if (c.sys_errno != 0) {
            EXPECT_EQ(st.sys_errno, c.sys_errno) << c.what;
        }
        EXPECT_EQ(read_bytes("out.txt"), st.ok() ? "あいう\r\n" : previous) << c.what;
        EXPECT_EQ(names(), before) << c.what;
        EXPECT_TRUE(fs::is_symlink("link.txt")) << c.what;
        EXPECT_EQ(fs::status("out.txt").permissions(), private_file) << c.what;
    }
}

// An output that is not a regular file is written where it is: there is no
// file to replace, and a rename would put a file in place of the device.
// The temporary file is created only where nothing has its name: an existing
// file, a link to one and a dangling link are each left as they are.
TEST_F(extract_file, a_new_file_takes_no_existing_name) {
    write_bytes("taken.tmp", "kept");
    fs::create_symlink("taken.tmp", "link.tmp");
    fs::create_symlink("nowhere", "dangling.tmp");
    for (const char* name : {"taken.tmp", "link.tmp", "dangling.tmp"}) {
        errno = 0;
        std::FILE* file = kurvane::os::create_new_file(name);
        EXPECT_EQ(file, nullptr) << name;
        if (file != nullptr) std::fclose(file);
        EXPECT_EQ(errno, EEXIST) << name;
    }
    EXPECT_EQ(read_bytes("taken.tmp"), "kept");
    EXPECT_FALSE(fs::exists("nowhere"));
    std::FILE* file = kurvane::os::create_new_file("fresh.tmp");
    ASSERT_NE(file, nullptr);
    std::fputs("new", file);
    std::fclose(file);
    EXPECT_EQ(read_bytes("fresh.tmp"), "new");
}

TEST_F(extract_file, other_outputs_are_written_in_place) {
    write_bytes("text.dat", "\0あいう\0"s);
    // A null device of the test's own where it may make one (as root, so that
    // a faulty replacement cannot take the system's), else /dev/null, whose
    // directory an unprivileged run cannot rename into.
    std::string device;
    if (::mknod("null.txt", S_IFCHR | 0666, makedev(1, 3)) == 0) {
        if (std::FILE* f = std::fopen("null.txt", "wb")) {
            std::fclose(f);
            device = "null.txt";
        } else {
            fs::remove("null.txt");  // a file system that refuses devices
        }
    } else if (::geteuid() != 0) {
        device = "/dev/null";
    }
    ASSERT_EQ(::mkfifo("pipe.txt", 0600), 0);
    const std::set<std::string> before = names();

    if (!device.empty()) {
        const ExtractStatus st = extract_to_path("text.dat", device.c_str(), settings_);
        EXPECT_TRUE(st.ok()) << device << ": " << describe(st.error);
        EXPECT_TRUE(fs::is_character_file(device)) << device;
    }
    // The reading end is open before the extraction, so the writer does not
    // wait, and the text fits the pipe's buffer.
    const int fd = ::open("pipe.txt", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    const ExtractStatus st = extract_to_path("text.dat", "pipe.txt", settings_);
    char buffer[64];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    EXPECT_TRUE(st.ok()) << describe(st.error);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0), "あいう\r\n");
    EXPECT_TRUE(fs::is_fifo("pipe.txt"));
    EXPECT_EQ(names(), before);
}

// A name of a descriptor the process has open is written through that
// descriptor: a file opened for appending keeps what it held, a pipe is
// written although its name in /proc leads nowhere, and the file the
// descriptor has open is still the input's own file when it is the input.
TEST_F(extract_file, a_name_of_an_open_descriptor_is_written_through_it) {
    write_bytes("text.dat", "\0あいう\0"s);
    write_bytes("log.txt", "old\n");
    const int log = ::open("log.txt", O_WRONLY | O_APPEND);
    ASSERT_GE(log, 0);
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const fs::file_status fd_dir = fs::status("/dev/fd");
    const std::string via_proc = "/proc/self/fd/" + std::to_string(log);
    const std::string via_dev = "/dev/fd/" + std::to_string(log);
    const std::string pipe_name = "/proc/self/fd/" + std::to_string(pipe_fds[1]);
    if (fs::is_directory(fd_dir)) {
        for (const std::string& name : {via_proc, via_dev}) {
            const ExtractStatus st = extract_to_path("text.dat", name.c_str(), settings_);
            EXPECT_TRUE(st.ok()) << name << ": " << describe(st.error);
        }
        EXPECT_EQ(read_bytes("log.txt"), "old\nあいう\r\nあいう\r\n");

        const ExtractStatus st = extract_to_path("text.dat", pipe_name.c_str(), settings_);
        EXPECT_TRUE(st.ok()) << describe(st.error);
        char buffer[64];
        const ssize_t got = ::read(pipe_fds[0], buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0), "あいう\r\n");

        const ExtractStatus same = extract_to_path("log.txt", via_dev.c_str(), settings_);
        EXPECT_EQ(same.error, ExtractError::output_is_input);
    }
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    ::close(log);
    EXPECT_EQ(names(), (std::set<std::string>{"log.txt", "text.dat"}));
}

TEST_F(extract_file, stream_output_gets_the_same_bytes) {
    write_bytes("s.dat", "\0あい\0う"s);
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(extract_to_stream("s.dat", out, settings_).ok());
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

// A file that shrinks or grows while it is read, from the progress callback
// after the first stretch: one thread reads it in order, two read their own
// stretches at offsets. Either way the pass ends cleanly, and its output is
// that of the bytes it says it read. One thread reads to the file's new
// end; with several, stretches read before the change count as read.
TEST_F(extract_file, a_file_that_changes_size_while_read_ends_cleanly) {
    std::string data;
    for (int k = 0; data.size() < (std::size_t{4} << 20); ++k) {
        data += k % 3 == 0 ? "漢字かな" : k % 3 == 1 ? "あ" : "カタカナ漢";
        data.append(static_cast<std::size_t>(1 + k % 5), '\0');
    }
    const std::size_t shrunk = (std::size_t{3} << 19) + 1001;
    const std::string more(std::size_t{1} << 20, 'x');
    for (const bool grows : {false, true}) {
        for (const unsigned jobs : {1u, 2u}) {
            write_bytes("c.dat", data);
            bool changed = false;
            ExtractOptions options;
            options.jobs = jobs;
            options.progress = [&](std::uint64_t) {
                if (changed) return;
                changed = true;
                if (grows) {
                    std::ofstream("c.dat", std::ios::binary | std::ios::app) << more;
                } else {
                    ASSERT_EQ(::truncate("c.dat", static_cast<off_t>(shrunk)), 0);
                }
            };
            const ExtractStatus st = extract_to_path("c.dat", "c.txt", ExtractionSettings{}, options);
            // The bytes read are the file's as it was when they were read.
            const std::string read_from = grows ? data + more : data;
            ASSERT_TRUE(st.ok() && changed) << "grows " << grows << ", jobs " << jobs << ": "
                                           << describe(st.error);
            ASSERT_LE(st.bytes_in, read_from.size()) << "grows " << grows << ", jobs " << jobs;
            // One thread reads on to the end the file has after the change.
            if (jobs == 1) {
                EXPECT_EQ(st.bytes_in, grows ? read_from.size() : shrunk);
            }
            const test::Bytes want_bytes = test::reference_extract(
                test::bytes(std::string_view(read_from).substr(0, st.bytes_in)), ExtractionSettings{});
            EXPECT_TRUE(read_bytes("c.txt") == std::string(want_bytes.begin(), want_bytes.end()))
                << "grows " << grows << ", jobs " << jobs << ": the output is not that of the "
                << st.bytes_in << " bytes read";
        }
    }
}

}  // namespace
}  // namespace kurvane
