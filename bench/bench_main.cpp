// kurvane_bench: the kurvane program against GNU strings on generated corpora.
//
//   kurvane_bench [--size BYTES] [--runs N] [--kurvane PATH] [--dir DIR]
//                 [--no-micro | --micro-only] [Google Benchmark options]
//
// Generates a mixed and a text-heavy corpus in a new directory (under DIR, by
// default the temporary directory), warms the page cache, then alternates
// runs of `kurvane FILE -o OUT` (default settings: no setting.dat in the
// working directory) and of `strings -a -n 4 FILE > OUT`, both writing a new
// file in that directory and both writing to /dev/null. Prints median
// throughput, median ratios of the paired runs and the peak resident memory
// of the kurvane process. Then runs the in-memory micro benchmarks of the
// extraction pass.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
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

// Runs args (args[0] looked up in PATH when it has no '/') in `dir` with
// standard output sent to `stdout_path` (created new; "" leaves it alone),
// times it from fork to exit and takes its peak RSS from wait4.
ChildRun run_child(const std::vector<std::string>& args, const fs::path& dir,
                   const std::string& stdout_path = {}) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        if (!stdout_path.empty()) {
            const int fd = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(126);
            close(fd);
        }
        execvp(argv[0], argv.data());
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

// The four timed commands of one round.
enum Job { kurvane_file, strings_file, kurvane_null, strings_null, job_count };

// One corpus: generate, warm, alternate, report.
bool compare_with_strings(const std::string& program, const fs::path& dir, CorpusKind kind,
                          const char* label, unsigned long long size, int runs) {
    const fs::path input = dir / (std::string(label) + ".dat");
    const fs::path kurvane_out = dir / (std::string(label) + "-kurvane.txt");
    const fs::path strings_out = dir / (std::string(label) + "-strings.txt");
    if (!kurvane::bench::write_corpus(kind, size, input.c_str())) {
        std::fprintf(stderr, "kurvane_bench: cannot write %s\n", input.c_str());
        return false;
    }
    read_through(input);

    const std::vector<std::string> to_file = {program, input.string(), "-o", kurvane_out.string()};
    const std::vector<std::string> to_null = {program, input.string(), "-o", "/dev/null"};
    const std::vector<std::string> strings = {"strings", "-a", "-n", "4", input.string()};
    const auto run_job = [&](int job) {
        switch (job) {
        case kurvane_file:
            // Each output is created, not truncated: truncating the previous
            // run's output would wait for the disk to write it back.
            fs::remove(kurvane_out);
            return run_child(to_file, dir);
        case strings_file: fs::remove(strings_out); return run_child(strings, dir, strings_out);
        case kurvane_null: return run_child(to_null, dir);
        default: return run_child(strings, dir, "/dev/null");
        }
    };
    // Warm-up: the binaries' pages and the file system's metadata.
    for (int job = 0; job < job_count; ++job) run_job(job);

    std::vector<double> mbs[job_count], file_ratios, null_ratios;
    long peak_kib = 0;
    const double mb = static_cast<double>(size) / 1e6;
    for (int r = 0; r < runs; ++r) {
        // Rotate the order, so drift in machine load hits all four.
        ChildRun result[job_count];
        for (int k = 0; k < job_count; ++k) {
            const int job = (r + k) % job_count;
            result[job] = run_job(job);
            if (!result[job].ok) {
                std::fprintf(stderr, "kurvane_bench: a %s run failed\n",
                             job == kurvane_file || job == kurvane_null ? "kurvane" : "strings");
                return false;
            }
        }
        for (int job = 0; job < job_count; ++job) mbs[job].push_back(mb / result[job].seconds);
        file_ratios.push_back(result[strings_file].seconds / result[kurvane_file].seconds);
        null_ratios.push_back(result[strings_null].seconds / result[kurvane_null].seconds);
        peak_kib = std::max({peak_kib, result[kurvane_file].max_rss_kib,
                             result[kurvane_null].max_rss_kib});
    }
    std::error_code ec;
    const auto kurvane_size = fs::file_size(kurvane_out, ec);
    const auto strings_size = fs::file_size(strings_out, ec);
    std::printf("%-5s %4.0f MiB  to file:      kurvane %6.1f MB/s  strings %5.1f MB/s  ratio %5.2fx\n"
                "                to /dev/null: kurvane %6.1f MB/s  strings %5.1f MB/s  ratio %5.2fx\n"
                "                kurvane peak RSS %.1f MiB; output kurvane %.1f MiB, strings %.1f MiB\n",
                label, static_cast<double>(size) / 1048576.0, median(mbs[kurvane_file]),
                median(mbs[strings_file]), median(file_ratios), median(mbs[kurvane_null]),
                median(mbs[strings_null]), median(null_ratios),
                static_cast<double>(peak_kib) / 1024.0,
                static_cast<double>(kurvane_size) / 1048576.0,
                static_cast<double>(strings_size) / 1048576.0);
    std::fflush(stdout);
    fs::remove(input, ec);
    fs::remove(kurvane_out, ec);
    fs::remove(strings_out, ec);
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

bool compare_in_new_dir(const std::string& program, const fs::path& parent,
                        unsigned long long size, int runs);

// The kurvane program: the path the build gave, else the one beside this
// program (build/bench and build/src/app).
std::string find_kurvane() {
    std::error_code ec;
#ifdef KURVANE_CLI_PATH
    if (fs::is_regular_file(KURVANE_CLI_PATH, ec)) return KURVANE_CLI_PATH;
#endif
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    for (const fs::path& p : {self.parent_path() / "kurvane",
                              self.parent_path().parent_path() / "src" / "app" / "kurvane"}) {
        if (fs::is_regular_file(p, ec)) return p.string();
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long size = 256ull << 20;
    int runs = 7;
    bool micro = true;
    bool compare = true;
    std::string program;
    fs::path parent;
    std::vector<char*> rest = {argv[0]};
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--size") == 0 && k + 1 < argc)
            size = std::strtoull(argv[++k], nullptr, 10);
        else if (std::strcmp(argv[k], "--runs") == 0 && k + 1 < argc)
            runs = std::max(1, std::atoi(argv[++k]));
        else if (std::strcmp(argv[k], "--kurvane") == 0 && k + 1 < argc)
            program = argv[++k];
        else if (std::strcmp(argv[k], "--dir") == 0 && k + 1 < argc)
            parent = argv[++k];
        else if (std::strcmp(argv[k], "--no-micro") == 0)
            micro = false;
        else if (std::strcmp(argv[k], "--micro-only") == 0)
            compare = false;
        else if (std::strcmp(argv[k], "--help") == 0 || std::strcmp(argv[k], "-h") == 0) {
            std::printf("usage: kurvane_bench [--size BYTES] [--runs N] [--kurvane PATH] [--dir DIR]\n"
                        "                     [--no-micro | --micro-only] [Google Benchmark options]\n");
            return 0;
        } else
            rest.push_back(argv[k]);
    }

    if (compare) {
        if (program.empty()) program = find_kurvane();
        if (program.empty()) {
            std::fprintf(stderr, "kurvane_bench: kurvane program not found; give --kurvane PATH\n");
            return 1;
        }
        std::error_code ec;
        // The children run in the corpus directory.
        program = fs::absolute(program, ec).string();
        if (parent.empty()) parent = fs::temp_directory_path(ec);
        if (!compare_in_new_dir(program, parent, size, runs)) return 1;
    }
    if (micro) {
        int rest_argc = static_cast<int>(rest.size());
        benchmark::Initialize(&rest_argc, rest.data());
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    return 0;
}

namespace {

bool compare_in_new_dir(const std::string& program, const fs::path& parent,
                        unsigned long long size, int runs) {
    std::string pattern = (parent / "kurvane-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("kurvane_bench: mkdtemp");
        return false;
    }
    const fs::path dir = pattern;
    std::printf("%s FILE -o OUT  vs  strings -a -n 4 FILE > OUT, default settings, in %s;\n"
                "each output file new, paired runs in rotating order, medians of %d;\n"
                "ratio = strings time / kurvane time in the same round, MB = 10^6 bytes\n",
                program.c_str(), dir.c_str(), runs);
    const bool ok = compare_with_strings(program, dir, CorpusKind::mixed, "mixed", size, runs) &&
                    compare_with_strings(program, dir, CorpusKind::text, "text", size, runs);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return ok;
}

}  // namespace
