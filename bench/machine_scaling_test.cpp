#include "machine_scaling.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace kurvane::bench {
namespace {

namespace fs = std::filesystem;

// A fresh directory for one test, removed with it.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "kurvane-scaling-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::vector<unsigned char> repeated(std::initializer_list<unsigned char> pattern, std::size_t size) {
    std::vector<unsigned char> v(size);
    for (std::size_t k = 0; k < size; ++k) v[k] = pattern.begin()[k % pattern.size()];
    return v;
}

// The loop must do the work it is timed for: the sums of known blocks, and
// the vector version's equal to the scalar one's on every kind of data, or
// its figure is not the scan's kind of work.
TEST(machine_scaling, compute_sums_runs_as_the_scan_would) {
    struct Case {
        const char* what;
        std::vector<unsigned char> data;
        std::int64_t edges;  // compare_only: the two versions compared, no count known
    };
    constexpr std::int64_t compare_only = -1;
    // Every two-byte sequence, at even offsets, and so at odd ones the
    // second byte of one beside the first of the next.
    std::vector<unsigned char> all_pairs(2 * 65536);
    for (std::size_t k = 0; k < 65536; ++k) {
        all_pairs[2 * k] = static_cast<unsigned char>(k >> 8);
        all_pairs[2 * k + 1] = static_cast<unsigned char>(k);
    }
    const std::size_t blocks = 1024 / 32;
    const Case cases[] = {
        // Text in every byte: one run per block, its start the one edge.
        {"ASCII letters", repeated({'A'}, 1024), blocks},
        {"half-width katakana", repeated({0xB1}, 1024), blocks},
        // A lead byte followed by a trail byte all along: one run too.
        {"double-byte pairs", repeated({0x82, 0xA0}, 1024), blocks},
        {"zero bytes", repeated({0x00}, 1024), 0},
        // Text and non-text alternating: every byte an edge.
        {"text, control, text", repeated({'A', 0x01}, 1024), 1024},
        {"every byte pair", all_pairs, compare_only},
    };
    for (const Case& c : cases) {
        const std::uint64_t scalar = scan_shaped_sum(c.data.data(), c.data.size(), false);
        if (c.edges != compare_only) {
            EXPECT_EQ(scalar, static_cast<std::uint64_t>(c.edges)) << c.what;
        }
        if (has_vector_compute()) {
            EXPECT_EQ(scan_shaped_sum(c.data.data(), c.data.size(), true), scalar) << c.what;
        }
    }
    // A size that is not whole steps counts the whole steps only.
    const auto text = repeated({'A'}, 1024);
    EXPECT_EQ(scan_shaped_sum(text.data(), compute_block + 31, false), compute_block / 32);
}

// A loop that could not do its work reports it, never a time: a figure
// printed for it would be a machine floor of nothing.
TEST(machine_scaling, loops_report_their_failures_and_leave_no_files) {
    ScratchDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path input = dir.path() / "input.dat";
    {
        const auto bytes = repeated({'A', 0x82, 0xA0}, 300001);  // halves of odd sizes
        std::FILE* f = std::fopen(input.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        ASSERT_EQ(std::fclose(f), 0);
    }
    const fs::path scratch = dir.path() / "out";
    const fs::path missing_dir = dir.path() / "none" / "out";
    struct Case {
        ScalingLoop loop;
        unsigned threads;
        std::uint64_t bytes;
        fs::path input;
        fs::path scratch;
        bool runs;
    };
    const Case cases[] = {
        {ScalingLoop::compute, 1, 1u << 20, {}, scratch, true},
        {ScalingLoop::compute, 2, 1u << 20, {}, scratch, true},
        {ScalingLoop::read, 1, 300001, input, scratch, true},
        {ScalingLoop::read, 2, 300001, input, scratch, true},
        // More than the file holds: the file is read to its end.
        {ScalingLoop::read, 2, 1u << 30, input, scratch, true},
        // One byte: one thread's half is empty.
        {ScalingLoop::read, 2, 1, input, scratch, true},
        {ScalingLoop::read, 2, 300001, dir.path() / "missing.dat", scratch, false},
        {ScalingLoop::write, 1, 300001, {}, scratch, true},
        {ScalingLoop::write, 2, 300001, {}, scratch, true},
        {ScalingLoop::write, 2, 300001, {}, missing_dir, false},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(scaling_loop_name(c.loop)) + " on " + std::to_string(c.threads) +
                                 " threads, " + std::to_string(c.bytes) + " bytes";
        const LoopTime t = time_loop(c.loop, c.threads, c.bytes, c.input, c.scratch);
        if (c.runs) {
            EXPECT_GT(t.seconds, 0) << what;
            EXPECT_GE(t.cpu, 0) << what;
        } else {
            EXPECT_LT(t.seconds, 0) << what;
        }
        // Only the input is left: every scratch file went.
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path() != input) left.push_back(entry.path().filename().string());
        EXPECT_TRUE(left.empty()) << what << ": left " << left.front();
    }
    const Scaling failed = measure_scaling(ScalingLoop::write, 1000, {}, missing_dir);
    EXPECT_FALSE(failed.ok());
    EXPECT_LT(failed.speedup(), 0);
    const Scaling done = measure_scaling(ScalingLoop::read, 300001, input, scratch);
    EXPECT_TRUE(done.ok());
    EXPECT_GT(done.speedup(), 0);
}

TEST(machine_scaling, loop_names_parse_back) {
    for (const ScalingLoop l : {ScalingLoop::compute, ScalingLoop::read, ScalingLoop::write}) {
        ScalingLoop parsed{};
        EXPECT_TRUE(parse_scaling_loop(scaling_loop_name(l), parsed)) << scaling_loop_name(l);
        EXPECT_EQ(parsed, l) << scaling_loop_name(l);
    }
    ScalingLoop unused{};
    EXPECT_FALSE(parse_scaling_loop("copy", unused));
}

}  // namespace
}  // namespace kurvane::bench
