// The real kurvane program on large inputs: 64 MiB of each corpus shape under
// the settings the shape is made for, the text shape once more with the
// single-byte classes on, and a short input that puts an output block
// boundary inside a long run. The program's output file, with one scanning
// thread, two and one per core, must equal the whole-file reference pass
// byte for byte. Each case writes and reads a few
// hundred MiB, so these are the slow tests: `ctest -R shapes/large_input`
// runs only them, `ctest -E shapes/large_input` everything else.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bench/corpus.h"
#include "engine/reference_extract.h"
#include "settings/settings_file.h"
#include "support/scratch_dir.h"

#ifndef KURVANE_CLI_BINARY
#error "KURVANE_CLI_BINARY must name the kurvane binary"
#endif

extern char** environ;

namespace {

namespace fs = std::filesystem;
using kurvane::ExtractionSettings;
using kurvane::bench::CorpusKind;
using kurvane::test::read_bytes;
using kurvane::test::write_bytes;
using Bytes = std::vector<unsigned char>;

// Sixteen of the pass's 4 MiB input pieces, 64 of its 1 MiB output blocks.
constexpr std::uint64_t corpus_size = std::uint64_t{64} << 20;

struct LargeInput {
    std::string name;
    ExtractionSettings settings;
    std::function<bool(const fs::path&)> write;
};

void PrintTo(const LargeInput& input, std::ostream* os) { *os << input.name; }

// 174,666 lines of "あい" (6 output bytes each) fill the first 1 MiB output
// block to 580 bytes short of its end; the 1,500-byte run after them is
// written as a 1,002-byte piece that crosses that end, then the rest.
std::string short_lines_then_long_run() {
    const std::string line("\x82\xa0\x82\xa2\0", 5);
    std::string data;
    for (int k = 0; k < 174666; ++k) data += line;
    for (int k = 0; k < 750; ++k) data += "\x82\xa0";
    data += '\0';
    for (int k = 0; k < 200000; ++k) data += line;
    return data;
}

LargeInput corpus_input(CorpusKind kind, std::string_view suffix,
                        const ExtractionSettings& settings) {
    std::string name(kurvane::bench::corpus_kind_name(kind));
    std::replace(name.begin(), name.end(), '-', '_');
    return {name + "_64MiB" + std::string(suffix), settings, [kind](const fs::path& path) {
                return kurvane::bench::write_corpus(kind, corpus_size, path.c_str());
            }};
}

// The text corpus is double-byte runs only under the defaults. Under the
// long-runs settings without their exempt strings and with a one-byte
// minimum, its script lines become runs that mix in ASCII while its message
// lines stay plain double-byte runs, every run is kept on its length alone,
// and each output block fills from both kinds, run after run. (With exempt
// strings set, as in the long-runs row, no run is kept on its length alone.)
ExtractionSettings single_byte_classes() {
    ExtractionSettings settings = kurvane::bench::corpus_settings(CorpusKind::long_runs);
    settings.min_length = 1;
    std::memset(settings.exempt_strings, 0, sizeof settings.exempt_strings);
    return settings;
}

std::vector<LargeInput> large_inputs() {
    std::vector<LargeInput> inputs;
    for (const CorpusKind kind : kurvane::bench::all_corpus_kinds)
        inputs.push_back(corpus_input(kind, "", kurvane::bench::corpus_settings(kind)));
    inputs.push_back(corpus_input(CorpusKind::text, "_single_byte_classes", single_byte_classes()));
    inputs.push_back({"short_lines_then_long_run", ExtractionSettings{}, [](const fs::path& path) {
                          const std::string data = short_lines_then_long_run();
                          write_bytes(path, data);
                          return fs::file_size(path) == data.size();
                      }});
    return inputs;
}

// Runs kurvane with `args`, its standard output and error going to files;
// returns the exit status, or 128 + the signal that ended it.
int run_kurvane(const std::vector<std::string>& args, const fs::path& out, const fs::path& err) {
    std::vector<char*> argv{const_cast<char*>(KURVANE_CLI_BINARY)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A whole file in one read (a stream iterator takes seconds over 64 MiB).
Bytes read_file(const fs::path& path) {
    Bytes bytes(fs::file_size(path));
    std::ifstream(path, std::ios::binary)
        .read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// Up to 16 bytes from `offset` in hex.
std::string hex_at(std::span<const unsigned char> bytes, std::size_t offset) {
    std::string text;
    for (std::size_t k = offset; k < bytes.size() && k < offset + 16; ++k) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x ", bytes[k]);
        text += hex;
    }
    return text.empty() ? "(end)" : text;
}

class large_input : public ::testing::TestWithParam<LargeInput> {};

TEST_P(large_input, program_output_equals_the_reference_pass) {
    const LargeInput& input = GetParam();
    const kurvane::test::ScratchDir dir("kurvane-large");
    const fs::path data_path = dir / "input.dat";
    const fs::path settings_path = dir / "settings.dat";
    const fs::path text_path = dir / "output.txt";
    ASSERT_TRUE(input.write(data_path)) << "cannot write " << data_path;
    const Bytes settings = kurvane::encode_settings("", input.settings);
    write_bytes(settings_path, {reinterpret_cast<const char*>(settings.data()), settings.size()});

    const Bytes data = read_file(data_path);
    const Bytes expected = kurvane::test::reference_extract(data, input.settings);
    // One scanning thread, two, and one per core (the default).
    const std::vector<std::vector<std::string>> thread_options = {{"-j", "1"}, {"-j", "2"}, {}};
    for (const std::vector<std::string>& threads : thread_options) {
        const std::string shown = threads.empty() ? "(default)" : threads[0] + " " + threads[1];
        std::vector<std::string> args = threads;
        args.insert(args.end(), {"-s", settings_path, "-o", text_path, data_path});
        const int status = run_kurvane(args, dir / "stdout", dir / "stderr");
        ASSERT_EQ(status, 0) << "kurvane " << shown << " -s " << settings_path << " -o "
                             << text_path << " " << data_path << "\nstderr: "
                             << read_bytes(dir / "stderr").substr(0, 4000);
        ASSERT_TRUE(fs::exists(text_path)) << "no output file " << text_path;

        const Bytes got = read_file(text_path);
        fs::remove(text_path);
        const auto [g, e] = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
        const auto offset = static_cast<std::size_t>(g - got.begin());
        EXPECT_TRUE(g == got.end() && e == expected.end())
            << "kurvane " << shown << ": output of " << data.size()
            << " input bytes differs from the reference at byte " << offset << " (output "
            << got.size() << " bytes, reference " << expected.size()
            << ")\n  output:    " << hex_at(got, offset)
            << "\n  reference: " << hex_at(expected, offset);
    }
}

// Cases are numbered; PrintTo's name is what ctest shows after the number.
INSTANTIATE_TEST_SUITE_P(shapes, large_input, ::testing::ValuesIn(large_inputs()));

}  // namespace
