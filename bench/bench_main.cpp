// kurvane_bench: the extraction pass against GNU strings on generated corpora.
//
//   kurvane_bench [--size BYTES] [--runs N] [--no-micro | --micro-only]
//                 [Google Benchmark options]
//
// Generates a mixed and a text-heavy corpus in a temporary directory, warms
// the page cache, then rotates runs of the pass (extract_to_path with the
// default settings, in a child process; output to a file and to /dev/null)
// and of `strings -a -n 4` (output to /dev/null) and prints median
// throughput, the median ratios and the pass's peak resident memory. Then
// runs the in-memory micro benchmarks.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "corpus.h"
#include "engine/extract.h"
#include "engine/extract_pass.h"

namespace {

namespace fs = std::filesystem;
using kurvane::bench::CorpusKind;

struct ChildRun {
    double seconds = 0;
    long max_rss_kib = 0;
    bool ok = false;
};

// Runs argv to completion; times it from fork to exit and takes its peak RSS.
ChildRun run_child(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    ChildRun run;
    if (pid < 0) return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.max_rss_kib = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void read_through(const fs::path& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return;
    std::vector<char> buffer(std::size_t{4} << 20);
    while (std::fread(buffer.data(), 1, buffer.size(), f) == buffer.size()) {
    }
    std::fclose(f);
}

// One corpus: generate, warm, alternate, report.
bool compare_with_strings(const std::string& self, const fs::path& dir, CorpusKind kind,
                          const char* label, unsigned long long size, int runs) {
    const fs::path input = dir / (std::string(label) + ".dat");
    const fs::path output = dir / (std::string(label) + ".txt");
    if (!kurvane::bench::write_corpus(kind, size, input.c_str())) {
        std::fprintf(stderr, "kurvane_bench: cannot write %s\n", input.c_str());
        return false;
    }
    read_through(input);

    const std::vector<std::string> pass = {self, "--pass", input.string(), output.string()};
    // The same pass with its output discarded, as strings' output is.
    const std::vector<std::string> pass_null = {self, "--pass", input.string(), "/dev/null"};
    const std::vector<std::string> strings = {
        "/bin/sh", "-c", "exec strings -a -n 4 \"$1\" > /dev/null", "sh", input.string()};
    run_child(pass);  // warm-up: the output file and the binary's pages
    std::vector<double> file_mbs, null_mbs, strings_mbs, file_ratios, null_ratios;
    long peak_kib = 0;
    const double mb = static_cast<double>(size) / 1e6;
    for (int r = 0; r < runs; ++r) {
        // Rotate the order, so drift in machine load hits all three.
        ChildRun a, n, s;
        for (int k = 0; k < 3; ++k) {
            switch ((r + k) % 3) {
            case 0:
                // A first extraction: the output is created, not truncated.
                // Truncating the previous run's output would wait for the
                // disk to finish writing it back, which times the disk.
                fs::remove(output);
                a = run_child(pass);
                break;
            case 1: n = run_child(pass_null); break;
            default: s = run_child(strings); break;
            }
        }
        if (!a.ok || !n.ok || !s.ok) {
            std::fprintf(stderr, "kurvane_bench: a %s run failed\n", s.ok ? "pass" : "strings");
            return false;
        }
        file_mbs.push_back(mb / a.seconds);
        null_mbs.push_back(mb / n.seconds);
        strings_mbs.push_back(mb / s.seconds);
        file_ratios.push_back(s.seconds / a.seconds);
        null_ratios.push_back(s.seconds / n.seconds);
        peak_kib = std::max({peak_kib, a.max_rss_kib, n.max_rss_kib});
    }
    std::error_code ec;
    const auto out_size = fs::file_size(output, ec);
    std::printf("%-5s %5.0f MiB | pass to file %6.1f MB/s (%4.2fx) | pass to /dev/null %6.1f MB/s "
                "(%4.2fx) | strings %5.1f MB/s | peak RSS %4.1f MiB | output %.1f MiB\n",
                label, static_cast<double>(size) / 1048576.0, median(file_mbs), median(file_ratios),
                median(null_mbs), median(null_ratios), median(strings_mbs),
                static_cast<double>(peak_kib) / 1024.0,
                static_cast<double>(ec ? 0 : out_size) / 1048576.0);
    std::fflush(stdout);
    fs::remove(input, ec);
    fs::remove(output, ec);
    return true;
}

// In-memory micro benchmarks: the pass without file I/O, and the per-file
// table build.
class VectorSource final : public kurvane::detail::ByteSource {
public:
    explicit VectorSource(const std::vector<unsigned char>& data) : data_(data) {}
    std::size_t read(unsigned char* dst, std::size_t n) override {
        const std::size_t got = std::min(n, data_.size() - pos_);
        std::memcpy(dst, data_.data() + pos_, got);
        pos_ += got;
        return got;
    }
    int error() const override { return 0; }

private:
    const std::vector<unsigned char>& data_;
    std::size_t pos_ = 0;
};

class DiscardSink final : public kurvane::detail::ByteSink {
public:
    bool write(const unsigned char*, std::size_t) override { return true; }
    int error() const override { return 0; }
};

void pass_in_memory(benchmark::State& state, CorpusKind kind) {
    static const auto mixed = kurvane::bench::make_corpus(CorpusKind::mixed, 32u << 20);
    static const auto text = kurvane::bench::make_corpus(CorpusKind::text, 32u << 20);
    const auto& data = kind == CorpusKind::mixed ? mixed : text;
    const kurvane::ExtractionSettings settings;
    for (auto _ : state) {
        VectorSource source(data);
        DiscardSink sink;
        benchmark::DoNotOptimize(kurvane::detail::run_pass(source, sink, settings));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(data.size()));
}
BENCHMARK_CAPTURE(pass_in_memory, mixed, CorpusKind::mixed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pass_in_memory, text, CorpusKind::text)->Unit(benchmark::kMillisecond);

void pass_on_empty_input(benchmark::State& state) {
    // Fixed cost per file: buffers and the 64 KiB table.
    const std::vector<unsigned char> none;
    const kurvane::ExtractionSettings settings;
    for (auto _ : state) {
        VectorSource source(none);
        DiscardSink sink;
        benchmark::DoNotOptimize(kurvane::detail::run_pass(source, sink, settings));
    }
}
BENCHMARK(pass_on_empty_input)->Unit(benchmark::kMicrosecond);

bool compare_with_strings_in_temp_dir(unsigned long long size, int runs);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--pass") == 0) {
        const auto status = kurvane::extract_to_path(argv[2], argv[3], kurvane::ExtractionSettings{});
        return status.ok() ? 0 : 1;
    }
    unsigned long long size = 256ull << 20;
    int runs = 5;
    bool micro = true;
    bool compare = true;
    std::vector<char*> rest = {argv[0]};
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--size") == 0 && k + 1 < argc)
            size = std::strtoull(argv[++k], nullptr, 10);
        else if (std::strcmp(argv[k], "--runs") == 0 && k + 1 < argc)
            runs = std::max(1, std::atoi(argv[++k]));
        else if (std::strcmp(argv[k], "--no-micro") == 0)
            micro = false;
        else if (std::strcmp(argv[k], "--micro-only") == 0)
            compare = false;
        else
            rest.push_back(argv[k]);
    }

    if (compare && !compare_with_strings_in_temp_dir(size, runs)) return 1;
    if (micro) {
        int rest_argc = static_cast<int>(rest.size());
        benchmark::Initialize(&rest_argc, rest.data());
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    return 0;
}

namespace {

bool compare_with_strings_in_temp_dir(unsigned long long size, int runs) {
    std::string pattern = (fs::temp_directory_path() / "kurvane-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("kurvane_bench: mkdtemp");
        return false;
    }
    const fs::path dir = pattern;
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::printf("extraction pass (extract_to_path, default settings; to a new file, and to "
                "/dev/null) vs strings -a -n 4 (to /dev/null);\nmedians of %d rotating runs, "
                "(ratio) = pass speed / strings speed, MB = 10^6 bytes\n",
                runs);
    const bool ok = compare_with_strings(self, dir, CorpusKind::mixed, "mixed", size, runs) &&
                    compare_with_strings(self, dir, CorpusKind::text, "text", size, runs);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return ok;
}

}  // namespace
