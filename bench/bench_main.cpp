// kurvane_bench: the kurvane program against GNU strings on generated corpora.
//
//   kurvane_bench [--size BYTES[K|M|G]] [--runs N] [--kurvane PATH] [--dir DIR]
//                 [--wine KURVANE-CLI.EXE]
//                 [--no-micro | --micro-only] [Google Benchmark options]
//   kurvane_bench --machine compute|read|write 1|2 FILE
//
// Generates a mixed, a text-heavy and a long-run corpus in a new directory
// (under DIR, by default the temporary directory), warms the page cache, then
// alternates runs of `kurvane -j 1 FILE -o OUT` (one scanning thread),
// `kurvane FILE -o OUT` (one per core), the same two in each other output
// format (--encoding=utf-8 --eol=lf, -t x, -f, --json), `strings -a -n 4
// FILE > OUT`, `cat FILE > /dev/null` and `cat` copying the default output
// to a new file (the machine's floors for reading and for writing),
// `kurvane -j 1000 FILE -o OUT` (threads far past the cores) and `kurvane
// FILE -o /dev/null`, each output a new file in that directory; each round
// also times, in this process, reading the corpus by pread and by a memory
// map (copied out, and read in place), beside that round's cat, and what
// two threads give on this machine without kurvane (see
// machine_scaling.h), beside that round's all-cores/-j 1 ratio. With --wine, `wine KURVANE-CLI.EXE FILE -o OUT` joins them
// (in the Wine prefix and locale the environment gives; its server is kept
// running between the runs), and so does `wine KURVANE-CLI.EXE --version`,
// the start-up any Wine process pays, which is then also taken off the
// Windows program's time for a second ratio. kurvane runs with
// the corpus's settings: the defaults (no setting.dat in the working
// directory), or a settings file passed with -s for a corpus made for other
// settings. Prints median throughput, median ratios of the runs of one round
// and the peak resident memory of the kurvane process. Then runs the
// in-memory micro benchmarks of the extraction pass.
//
// A figure is printed only for output that was checked: every run's exit
// status, and every file kurvane (or the Windows program) writes against the
// reference pass over the whole corpus in that file's format. A corpus with a failed check
// gets the failure instead of its figures, and the program then exits with
// status 1.
//
// --machine times one of the machine's loops alone on one or two threads
// over FILE's size (reading FILE, computing over four times its size, or
// writing as many bytes beside it), so that `perf stat` can check the
// figures the benchmark prints for it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "corpus.h"
#include "machine_scaling.h"
#include "engine/extract.h"
#include "engine/drive/pass.h"
#include "reference_extract.h"
#include "settings/settings_file.h"

namespace {

namespace fs = std::filesystem;
using kurvane::ExtractionSettings;
using kurvane::bench::CorpusKind;

// The corpora timed against strings, in this order.
constexpr CorpusKind compared_kinds[] = {CorpusKind::mixed, CorpusKind::text,
                                         CorpusKind::long_runs};

struct ChildRun {
    double seconds = 0;
    long max_rss_kib = 0;
    double cpu_seconds = 0;  // user and system time of all its threads
    int status = -1;  // as wait4 reports it; -1 when the child was not started or not reaped
};

bool succeeded(const ChildRun& run) {
    return run.status != -1 && WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
}

std::string describe_status(int status) {
    if (status == -1) return "could not be started or waited for";
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        return "killed by signal " + std::to_string(sig) + " (" + strsignal(sig) + ")";
    }
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    return "wait status " + std::to_string(status);
}

// Runs args (args[0] looked up in PATH when it has no '/') in `dir` with
// standard output sent to `stdout_path` (created new; "" leaves it alone),
// times it from fork to exit and takes its peak RSS from wait4. The child's
// peak RSS counts the anonymous memory this process holds at the fork, so
// nothing large may be held here while the timed commands run.
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
    const auto seconds_of = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
    };
    run.cpu_seconds = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
    run.status = status;
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

using FilePtr = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

FilePtr open_file(const fs::path& path, const char* mode) {
    return FilePtr(std::fopen(path.c_str(), mode), &std::fclose);
}

std::string cannot(const char* what, const fs::path& path, int error) {
    return std::string("cannot ") + what + " " + path.string() + ": " + std::strerror(error);
}

constexpr std::size_t io_chunk = std::size_t{4} << 20;

void read_through(const fs::path& path) {
    const FilePtr f = open_file(path, "rb");
    if (!f) return;
    std::vector<char> buffer(io_chunk);
    while (std::fread(buffer.data(), 1, buffer.size(), f.get()) == buffer.size()) {
    }
}

// Ways the pass could take its input from a regular file in the page
// cache, timed in this process: positional reads into one reused buffer of
// the stretch size and of 4 MiB, a memory map copied out a stretch at a
// time (the scan needs its padding after the data, so it cannot scan the
// map itself), and a memory map read in place, a byte of every cache line:
// the least a scan of the map without a copy would pay for its input.
// Seconds for each, or a negative value where it failed.
struct InputTimes {
    double pread_stretch = -1;
    double pread_large = -1;
    double map_copy = -1;
    double map_in_place = -1;
};
constexpr std::size_t cache_line = 64;
constexpr std::size_t read_stretch = std::size_t{256} << 10;

InputTimes time_input(const fs::path& path) {
    InputTimes times;
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return times;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
        ::close(fd);
        return times;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    std::vector<unsigned char> buffer(io_chunk);
    unsigned sum = 0;  // a byte of each chunk, so no copy is left out
    const auto timed = [&](auto body) {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = body();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        return ok ? took.count() : -1.0;
    };
    const auto by_pread = [&](std::size_t chunk) {
        return timed([&] {
            for (std::size_t at = 0; at < size; at += chunk) {
                const ssize_t got = ::pread(fd, buffer.data(), chunk, static_cast<off_t>(at));
                if (got <= 0) return false;
                sum += buffer[static_cast<std::size_t>(got) - 1];
            }
            return true;
        });
    };
    times.pread_stretch = by_pread(read_stretch);
    times.pread_large = by_pread(io_chunk);
    const auto by_map = [&](auto read_stretch_of) {
        return timed([&] {
            void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
            if (map == MAP_FAILED) return false;
            const auto* bytes = static_cast<const unsigned char*>(map);
            for (std::size_t at = 0; at < size; at += read_stretch)
                read_stretch_of(bytes + at, std::min(read_stretch, size - at));
            ::munmap(map, size);
            return true;
        });
    };
    times.map_copy = by_map([&](const unsigned char* from, std::size_t n) {
        std::memcpy(buffer.data(), from, n);
        sum += buffer[n - 1];
    });
    times.map_in_place = by_map([&](const unsigned char* from, std::size_t n) {
        for (std::size_t k = 0; k < n; k += cache_line) sum += from[k];
    });
    ::close(fd);
    if (sum == 1) std::fputc(' ', stderr);  // keeps the sum, and so every copy
    return times;
}

// The machine's loops timed in each round, and how much work each does:
// reading the corpus, writing as many bytes as kurvane's default output,
// and computing over four times the corpus (the compute loop runs several
// times faster than the scan; this keeps its time near the pass's).
constexpr kurvane::bench::ScalingLoop scaling_loops[] = {
    kurvane::bench::ScalingLoop::compute, kurvane::bench::ScalingLoop::read,
    kurvane::bench::ScalingLoop::write};
constexpr std::uint64_t compute_factor = 4;
std::uint64_t scaling_bytes(kurvane::bench::ScalingLoop loop, std::uint64_t corpus, std::uint64_t output) {
    switch (loop) {
    case kurvane::bench::ScalingLoop::compute: return compute_factor * corpus;
    case kurvane::bench::ScalingLoop::read: return corpus;
    case kurvane::bench::ScalingLoop::write: return output;
    }
    return corpus;
}
using kurvane::bench::scaling_loop_name;

// Empty on success, else what went wrong.
std::string read_file(const fs::path& path, std::vector<unsigned char>& out) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) return cannot("read", path, ec.value());
    out.resize(static_cast<std::size_t>(size));
    const FilePtr f = open_file(path, "rb");
    if (!f) return cannot("open", path, errno);
    if (std::fread(out.data(), 1, out.size(), f.get()) != out.size()) {
        return cannot("read", path, std::ferror(f.get()) ? errno : EIO);
    }
    return {};
}

std::string write_file(const fs::path& path, std::span<const unsigned char> bytes) {
    FilePtr f = open_file(path, "wb");
    if (!f) return cannot("create", path, errno);
    if (std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size() ||
        std::fclose(f.release()) != 0) {
        return cannot("write", path, errno);
    }
    return {};
}

std::string differs_at(std::uint64_t offset, std::uint64_t output_size,
                       std::uint64_t reference_size) {
    return "output differs from the reference at byte " + std::to_string(offset) + " (output " +
           std::to_string(output_size) + " bytes, reference " + std::to_string(reference_size) +
           " bytes)";
}

// Empty when `output` holds the same bytes as `reference`; otherwise the
// first differing offset and both lengths.
std::string compare_with_reference(const fs::path& output, const fs::path& reference) {
    const FilePtr a = open_file(output, "rb");
    if (!a) return cannot("open", output, errno);
    const FilePtr b = open_file(reference, "rb");
    if (!b) return cannot("open", reference, errno);
    std::vector<unsigned char> x(io_chunk), y(io_chunk);
    std::uint64_t offset = 0;
    for (;;) {
        const std::size_t n = std::fread(x.data(), 1, io_chunk, a.get());
        const std::size_t m = std::fread(y.data(), 1, io_chunk, b.get());
        if (std::ferror(a.get())) return cannot("read", output, errno);
        if (std::ferror(b.get())) return cannot("read", reference, errno);
        const std::size_t common = std::min(n, m);
        const auto at = std::mismatch(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(common),
                                      y.begin());
        const auto same = static_cast<std::size_t>(at.first - x.begin());
        if (same != common || n != m) {
            std::error_code ec;
            return differs_at(offset + same, fs::file_size(output, ec),
                              fs::file_size(reference, ec));
        }
        if (n < io_chunk) return {};
        offset += n;
    }
}

// An output format timed beside the default one: its options and its
// reference output.
struct TimedFormat {
    std::string name;
    std::vector<std::string> args;
    kurvane::OutputFormat format;
    fs::path reference;
};

// The formats every corpus is timed in besides the default; -f names the
// input as the command line gives it.
std::vector<TimedFormat> timed_formats(const fs::path& dir, const std::string& label,
                                       const fs::path& input) {
    std::vector<TimedFormat> formats(4);
    formats[0].name = "utf-8 lf";
    formats[0].args = {"--encoding=utf-8", "--eol=lf"};
    formats[0].format.encoding = kurvane::TextEncoding::utf8;
    formats[0].format.eol = kurvane::LineEnd::lf;
    formats[1].name = "-t x";
    formats[1].args = {"-t", "x"};
    formats[1].format.radix = kurvane::OffsetRadix::hex;
    formats[2].name = "-f";
    formats[2].args = {"-f"};
    formats[2].format.file_name = input.string();
    formats[3].name = "--json";
    formats[3].args = {"--json"};
    formats[3].format.json = true;
    for (std::size_t k = 0; k < formats.size(); ++k)
        formats[k].reference = dir / (label + "-reference-" + std::to_string(k) + ".txt");
    return formats;
}

// The whole-buffer reference pass over `input`, written to `reference` and
// in each format to its reference file (a write at a time, a block of
// output kept at once). The corpus and the results are large and freed
// before any timed command is forked; malloc_trim hands back what the
// allocator would otherwise keep.
std::string write_reference(const fs::path& input, const ExtractionSettings& settings,
                            const fs::path& reference, const std::vector<TimedFormat>& formats) {
    std::string error;
    {
        std::vector<unsigned char> data;
        error = read_file(input, data);
        if (error.empty()) {
            error = write_file(reference, kurvane::test::reference_extract(data, settings));
        }
        std::vector<kurvane::test::FormattedReference> outputs;
        std::vector<FilePtr> files;
        for (const TimedFormat& f : formats) {
            if (!error.empty()) break;
            outputs.emplace_back(f.format, settings.auto_newline != 0);
            files.push_back(open_file(f.reference, "wb"));
            if (!files.back()) error = cannot("create", f.reference, errno);
        }
        constexpr std::size_t block = std::size_t{16} << 20;
        const auto drain = [&](std::size_t k, std::size_t least) {
            std::vector<unsigned char>& out = outputs[k].out;
            if (out.size() < least) return;
            if (std::fwrite(out.data(), 1, out.size(), files[k].get()) != out.size() && error.empty())
                error = cannot("write", formats[k].reference, errno);
            out.clear();
        };
        if (error.empty()) {
            kurvane::test::reference_writes(data, settings, [&](const kurvane::test::ReferenceWrite& w) {
                for (std::size_t k = 0; k < outputs.size(); ++k) {
                    outputs[k].add(w);
                    drain(k, block);
                }
            });
            for (std::size_t k = 0; k < outputs.size(); ++k) {
                outputs[k].finish();
                drain(k, 0);
                if (std::fclose(files[k].release()) != 0 && error.empty())
                    error = cannot("write", formats[k].reference, errno);
            }
        }
    }
    malloc_trim(0);
    return error;
}

std::vector<unsigned char> encoded_settings(const ExtractionSettings& settings) {
    return kurvane::encode_settings({}, settings);
}

// A timed command of one round. Its standard output goes to `stdout_path`
// ("" leaves it alone); `output` is kurvane's output file, checked against
// `reference` (or the default format's) after every run ("" checks the exit
// status only).
struct TimedCommand {
    std::string name;
    std::vector<std::string> args;
    std::string stdout_path;
    fs::path output;
    fs::path reference = {};
};

// How a corpus is timed: the kurvane program, and kurvane-cli.exe under
// Wine when given.
struct Programs {
    std::string kurvane;
    std::string wine_cli;  // empty: no Wine runs
};

// One corpus: generate, compute the reference, warm, alternate, check every
// run, report. False when any check failed; the failure is printed in place
// of the figures.
// A corpus's medians in MB/s, for the comparison of corpora per byte.
struct CorpusSpeed {
    double one_thread = 0;
    double all_cores = 0;
};

bool compare_with_strings(const Programs& programs, const fs::path& dir, CorpusKind kind,
                          unsigned long long size, int runs, CorpusSpeed& speeds) {
    const std::string label(kurvane::bench::corpus_kind_name(kind));
    const double mib = static_cast<double>(size) / 1048576.0;
    const std::string input_name = label + ".dat";
    const fs::path input = dir / input_name;
    const fs::path one_out = dir / (label + "-j1.txt");
    const fs::path all_out = dir / (label + "-kurvane.txt");
    const fs::path wine_name = label + "-wine.txt";
    const fs::path strings_out = dir / (label + "-strings.txt");
    const fs::path reference = dir / (label + "-reference.txt");
    const fs::path settings_path = dir / (label + "-setting.dat");
    const fs::path cat_copy = dir / (label + "-cat.txt");
    const fs::path many_out = dir / (label + "-j1000.txt");
    const fs::path scaling_scratch = dir / (label + "-scaling");
    const std::vector<TimedFormat> formats = timed_formats(dir, label, input);
    const auto format_out = [&](std::size_t k, bool all) {
        return dir / (label + (all ? "-kurvane-" : "-j1-") + std::to_string(k) + ".txt");
    };
    // Each corpus's files go when it is done, so at most one set takes disk space.
    const auto remove_files = [&] {
        std::error_code ec;
        for (const auto& path : {input, one_out, all_out, dir / wine_name, strings_out, reference,
                                 settings_path, cat_copy, many_out}) {
            fs::remove(path, ec);
        }
        for (std::size_t k = 0; k < formats.size(); ++k) {
            for (const auto& path : {formats[k].reference, format_out(k, false), format_out(k, true)})
                fs::remove(path, ec);
        }
    };
    const auto fail = [&](const std::string& what) {
        std::printf("%-9s %4.0f MiB  FAILED, no figures: %s\n", label.c_str(), mib, what.c_str());
        std::fflush(stdout);
        remove_files();
        return false;
    };
    if (!kurvane::bench::write_corpus(kind, size, input.c_str())) {
        return fail("cannot write " + input.string());
    }
    const ExtractionSettings settings = kurvane::bench::corpus_settings(kind);
    const auto settings_bytes = encoded_settings(settings);
    const bool own_settings = settings_bytes != encoded_settings(ExtractionSettings{});
    if (own_settings) {
        if (const auto error = write_file(settings_path, settings_bytes); !error.empty()) {
            return fail(error);
        }
    }
    if (const auto error = write_reference(input, settings, reference, formats); !error.empty()) {
        return fail(error);
    }
    read_through(input);

    // kurvane [-j 1] [-s SETTINGS] FILE -o OUT; the Windows program gets
    // names relative to the corpus directory, where every command runs.
    const auto kurvane_args = [&](const std::string& program, const std::vector<std::string>& jobs,
                                  const std::string& file, const std::string& out) {
        std::vector<std::string> args = {program};
        args.insert(args.end(), jobs.begin(), jobs.end());
        if (own_settings) args.insert(args.end(), {"-s", settings_path.filename().string()});
        args.insert(args.end(), {file, "-o", out});
        return args;
    };
    std::vector<TimedCommand> commands = {
        {"kurvane -j 1", kurvane_args(programs.kurvane, {"-j", "1"}, input, one_out), "", one_out},
        {"kurvane", kurvane_args(programs.kurvane, {}, input, all_out), "", all_out},
        {"strings -a -n 4", {"strings", "-a", "-n", "4", input.string()}, strings_out.string(), ""},
        {"cat > /dev/null", {"cat", input.string()}, "/dev/null", ""},
    };
    enum { one_thread, all_threads, strings_job, cat_job, wine_job, wine_start_job };
    if (!programs.wine_cli.empty()) {
        std::vector<std::string> args = kurvane_args(programs.wine_cli, {}, input_name, wine_name);
        args.insert(args.begin(), "wine");
        commands.push_back({"kurvane-cli.exe (Wine)", args, "", dir / wine_name});
        // What any program pays to start and end under Wine, timed alongside.
        commands.push_back({"kurvane-cli.exe --version (Wine)",
                            {"wine", programs.wine_cli, "--version"}, "/dev/null", ""});
    }
    // The machine's floor for writing the default output: cat copying a
    // file of its size (from the page cache) to a new file.
    const std::size_t cat_write_job = commands.size();
    commands.push_back({"cat > file", {"cat", all_out.string()}, cat_copy.string(), ""});
    // Threads far past the core count, and all cores writing nowhere (the
    // floor there is cat's read).
    const std::size_t many_threads_job = commands.size();
    commands.push_back({"kurvane -j 1000", kurvane_args(programs.kurvane, {"-j", "1000"}, input, many_out),
                        "", many_out});
    const std::size_t null_job = commands.size();
    commands.push_back({"kurvane -o /dev/null", kurvane_args(programs.kurvane, {}, input, "/dev/null"), "", ""});
    // Each format on one thread and on all, beside the default format.
    const std::size_t first_format_job = commands.size();
    for (std::size_t k = 0; k < formats.size(); ++k) {
        for (const bool all : {false, true}) {
            std::vector<std::string> options = all ? std::vector<std::string>{} : std::vector<std::string>{"-j", "1"};
            options.insert(options.end(), formats[k].args.begin(), formats[k].args.end());
            commands.push_back({std::string(all ? "kurvane " : "kurvane -j 1 ") + formats[k].name,
                                kurvane_args(programs.kurvane, options, input, format_out(k, all)), "",
                                format_out(k, all), formats[k].reference});
        }
    }
    const auto format_job = [&](std::size_t k, bool all) { return first_format_job + 2 * k + (all ? 1 : 0); };
    const std::size_t count = commands.size();

    // Runs a command and checks its status and, for kurvane's output file,
    // the content (after the clock has stopped). Empty when it passed. Each
    // output is created, not truncated: truncating the previous run's output
    // would wait for the disk to write it back.
    const auto run_checked = [&](const TimedCommand& command, ChildRun& result) -> std::string {
        std::error_code ec;
        if (!command.output.empty()) fs::remove(command.output, ec);
        if (!command.stdout_path.empty() && command.stdout_path != "/dev/null")
            fs::remove(command.stdout_path, ec);
        result = run_child(command.args, dir, command.stdout_path);
        if (!succeeded(result)) return describe_status(result.status);
        if (!command.output.empty())
            return compare_with_reference(command.output,
                                          command.reference.empty() ? reference : command.reference);
        return {};
    };
    const auto run_failed = [&](const TimedCommand& command, const std::string& when,
                                const std::string& what) {
        return fail(command.name + ", " + when + ": " + what);
    };

    // Warm-up: the binaries' pages, the file system's metadata, Wine's
    // server. Not timed, but checked like the rest.
    for (const TimedCommand& command : commands) {
        ChildRun result;
        if (const auto error = run_checked(command, result); !error.empty()) {
            return run_failed(command, "warm-up run", error);
        }
    }

    std::vector<std::vector<double>> seconds(count);
    std::vector<double> cpu_ratios;  // all cores' CPU time over -j 1's, per round
    std::vector<double> pread_stretch_seconds;
    std::vector<double> pread_large_seconds;
    std::vector<double> map_copy_seconds;
    std::vector<double> map_in_place_seconds;
    std::vector<std::vector<kurvane::bench::Scaling>> scaling(std::size(scaling_loops));
    long one_peak_kib = 0;
    long all_peak_kib = 0;
    std::error_code ec;
    for (int r = 0; r < runs; ++r) {
        // Rotate the order, so drift in machine load hits every command.
        // (The default output cat copies is there from the warm-up on.)
        std::vector<ChildRun> result(count);
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t job = (static_cast<std::size_t>(r) + k) % count;
            if (const auto error = run_checked(commands[job], result[job]); !error.empty()) {
                const std::string when =
                    "run " + std::to_string(r + 1) + " of " + std::to_string(runs);
                return run_failed(commands[job], when, error);
            }
        }
        for (std::size_t job = 0; job < count; ++job) seconds[job].push_back(result[job].seconds);
        cpu_ratios.push_back(result[all_threads].cpu_seconds /
                             std::max(result[one_thread].cpu_seconds, 1e-6));
        const InputTimes input_times = time_input(input);
        pread_stretch_seconds.push_back(input_times.pread_stretch);
        pread_large_seconds.push_back(input_times.pread_large);
        map_copy_seconds.push_back(input_times.map_copy);
        map_in_place_seconds.push_back(input_times.map_in_place);
        for (std::size_t l = 0; l < std::size(scaling_loops); ++l) {
            scaling[l].push_back(kurvane::bench::measure_scaling(
                scaling_loops[l], scaling_bytes(scaling_loops[l], size, fs::file_size(all_out, ec)), input,
                scaling_scratch));
        }
        one_peak_kib = std::max(one_peak_kib, result[one_thread].max_rss_kib);
        all_peak_kib = std::max(all_peak_kib, result[all_threads].max_rss_kib);
    }
    // Medians of the times; a ratio is the median over the rounds of one
    // command's time over another's in the same round.
    const double mb = static_cast<double>(size) / 1e6;
    const auto speed = [&](std::size_t job) { return mb / median(seconds[job]); };
    const auto ratio = [&](std::size_t slower, std::size_t faster) {
        std::vector<double> r;
        for (int k = 0; k < runs; ++k) r.push_back(seconds[slower][k] / seconds[faster][k]);
        return median(r);
    };
    speeds = {speed(one_thread), speed(all_threads)};
    const auto kurvane_size = fs::file_size(all_out, ec);
    const auto strings_size = fs::file_size(strings_out, ec);
    const std::string settings_note =
        own_settings ? "; -s " + settings_path.filename().string() : "";
    std::printf("%-9s %4.0f MiB  kurvane -j 1 %7.1f MB/s   kurvane %7.1f MB/s   strings %6.1f MB/s"
                "   cat %7.1f MB/s\n"
                "                    kurvane = %5.2fx strings, %4.2fx -j 1, %3.0f%% of cat;"
                " -j 1 = %5.2fx strings\n",
                label.c_str(), mib, speed(one_thread), speed(all_threads), speed(strings_job),
                speed(cat_job), ratio(strings_job, all_threads), ratio(one_thread, all_threads),
                100.0 / ratio(all_threads, cat_job), ratio(strings_job, one_thread));
    if (!programs.wine_cli.empty()) {
        // The same ratio with Wine's start-up of that round taken off.
        std::vector<double> net;
        for (int k = 0; k < runs; ++k)
            net.push_back((seconds[wine_job][k] - seconds[wine_start_job][k]) /
                          seconds[all_threads][k]);
        std::printf("                    kurvane-cli.exe under Wine %7.1f MB/s = %4.2fx the native"
                    " program's time;\n"
                    "                    Wine's start-up (kurvane-cli.exe --version) %.3f s,"
                    " without it %4.2fx\n",
                    speed(wine_job), ratio(wine_job, all_threads), median(seconds[wine_start_job]),
                    median(net));
    }
    std::printf("                    cat > /dev/null %.3f s: kurvane = %4.2fx its time;"
                " cat writing the output's bytes %.3f s: kurvane = %4.2fx\n",
                median(seconds[cat_job]), ratio(all_threads, cat_job), median(seconds[cat_write_job]),
                ratio(all_threads, cat_write_job));
    std::printf("                    kurvane -j 1000 = %4.2fx all cores' time;"
                " all cores to /dev/null = %4.2fx cat's read\n",
                ratio(many_threads_job, all_threads), ratio(null_job, cat_job));
    std::printf("                    CPU time (user + system), all cores / -j 1: %4.2fx\n", median(cpu_ratios));
    const auto over_cat = [&](const std::vector<double>& taken) {
        std::vector<double> r;
        for (int k = 0; k < runs; ++k) r.push_back(taken[k] < 0 ? -1.0 : taken[k] / seconds[cat_job][k]);
        return median(r);
    };
    std::printf("                    input from the page cache, time / cat's read: pread 256 KiB"
                " %4.2fx, pread 4 MiB %4.2fx, mmap copied out 256 KiB %4.2fx, mmap read in place %4.2fx\n",
                over_cat(pread_stretch_seconds), over_cat(pread_large_seconds),
                over_cat(map_copy_seconds), over_cat(map_in_place_seconds));
    // The machine's own two-thread figures beside the pass's; a failed loop
    // (a read or a write of its scratch file) prints as "failed".
    std::printf("                    two threads vs one, same work at once: kurvane all cores / -j 1 %4.2fx;"
                " the machine:", ratio(one_thread, all_threads));
    for (std::size_t l = 0; l < std::size(scaling_loops); ++l) {
        std::vector<double> speedups, cpu;
        bool failed = false;
        for (const kurvane::bench::Scaling& s : scaling[l]) {
            failed = failed || !s.ok();
            speedups.push_back(s.speedup());
            cpu.push_back(s.cpu_per_work());
        }
        if (failed)
            std::printf(" %s failed", scaling_loop_name(scaling_loops[l]));
        else
            std::printf(" %s %4.2fx (CPU per byte %4.2fx)", scaling_loop_name(scaling_loops[l]),
                        median(speedups), median(cpu));
        std::printf(l + 1 < std::size(scaling_loops) ? "," : "\n");
    }
    std::printf("                    format      time / default's:  -j 1    all cores"
                "    all cores' speed-up\n");
    for (std::size_t k = 0; k < formats.size(); ++k) {
        std::printf("                    %-10s                    %5.2fx   %5.2fx       %5.2fx\n",
                    formats[k].name.c_str(), ratio(format_job(k, false), one_thread),
                    ratio(format_job(k, true), all_threads),
                    ratio(format_job(k, false), format_job(k, true)));
    }
    std::printf("                    peak RSS kurvane -j 1 %.1f MiB, kurvane %.1f MiB; output"
                " kurvane %.1f MiB, strings %.1f MiB%s\n",
                static_cast<double>(one_peak_kib) / 1024.0,
                static_cast<double>(all_peak_kib) / 1024.0,
                static_cast<double>(kurvane_size) / 1048576.0,
                static_cast<double>(strings_size) / 1048576.0, settings_note.c_str());
    std::fflush(stdout);
    remove_files();
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

class VectorSink final : public kurvane::detail::ByteSink {
public:
    bool write(const unsigned char* data, std::size_t n) override {
        bytes.insert(bytes.end(), data, data + n);
        return true;
    }
    int error() const override { return 0; }
    std::vector<unsigned char> bytes;
};

// Set when a micro benchmark was skipped because its pass failed its check.
bool micro_check_failed = false;

// Runs the pass once over `data` and compares its output with the reference
// pass. Empty when they agree, else what differs.
std::string check_pass(const std::vector<unsigned char>& data, const ExtractionSettings& settings) {
    VectorSource source(data);
    VectorSink sink;
    const auto status = kurvane::detail::run_pass(source, sink, settings);
    if (!status.ok()) return std::string("the pass failed: ") + kurvane::describe(status.error);
    const auto expected = kurvane::test::reference_extract(data, settings);
    if (sink.bytes == expected) return {};
    const auto at =
        std::mismatch(sink.bytes.begin(), sink.bytes.end(), expected.begin(), expected.end());
    return differs_at(static_cast<std::uint64_t>(at.first - sink.bytes.begin()), sink.bytes.size(),
                      expected.size());
}

// Skips the benchmark, before its timed loop, when its pass failed the check.
void skip_unless_checked(benchmark::State& state, const std::string& check_failure) {
    if (check_failure.empty()) return;
    micro_check_failed = true;
    state.SkipWithError(check_failure.c_str());
}

// A micro benchmark's input, its settings and the result of check_pass on it.
struct MicroCorpus {
    std::vector<unsigned char> data;
    ExtractionSettings settings;
    std::string check_failure;
};

const MicroCorpus& micro_corpus(CorpusKind kind) {
    static std::map<CorpusKind, MicroCorpus> made;
    if (const auto it = made.find(kind); it != made.end()) return it->second;
    MicroCorpus corpus;
    corpus.data = kurvane::bench::make_corpus(kind, 32u << 20);
    corpus.settings = kurvane::bench::corpus_settings(kind);
    corpus.check_failure = check_pass(corpus.data, corpus.settings);
    return made.emplace(kind, std::move(corpus)).first->second;
}

// threads: 1 is the pass on this thread, 0 one scanning thread per core.
// Times the pass over the corpus in memory, its output discarded.
void time_in_memory(benchmark::State& state, const MicroCorpus& corpus, const kurvane::detail::PassOptions& options) {
    for (auto _ : state) {
        VectorSource source(corpus.data);
        DiscardSink sink;
        benchmark::DoNotOptimize(kurvane::detail::run_pass(source, sink, corpus.settings, options));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(corpus.data.size()));
}

void pass_in_memory(benchmark::State& state, CorpusKind kind, unsigned threads) {
    const MicroCorpus& corpus = micro_corpus(kind);
    skip_unless_checked(state, corpus.check_failure);
    kurvane::detail::PassOptions options;
    options.threads = threads;
    if (threads != 1) {
        // The threaded pass's output is checked once, like the one-thread pass's.
        VectorSource source(corpus.data);
        VectorSink sink;
        const auto status = kurvane::detail::run_pass(source, sink, corpus.settings, options);
        if (!status.ok() || sink.bytes != kurvane::test::reference_extract(corpus.data, corpus.settings))
            skip_unless_checked(state, "the threaded pass differs from the reference");
    }
    time_in_memory(state, corpus, options);
}
BENCHMARK_CAPTURE(pass_in_memory, mixed, CorpusKind::mixed, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pass_in_memory, text, CorpusKind::text, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pass_in_memory, long_runs, CorpusKind::long_runs, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pass_in_memory, mixed_all_cores, CorpusKind::mixed, 0)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(pass_in_memory, text_all_cores, CorpusKind::text, 0)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// What the exempt strings cost: the long-run corpus, whose runs below the
// minimum often hold one, with its settings and with them but no exempt
// string, beside each other in one run.
void exempt_in_memory(benchmark::State& state, bool exempt) {
    const MicroCorpus& corpus = micro_corpus(CorpusKind::long_runs);
    skip_unless_checked(state, corpus.check_failure);
    ExtractionSettings settings = corpus.settings;
    if (!exempt) {
        std::memset(settings.exempt_strings, 0, sizeof settings.exempt_strings);
        static const std::string check_failure = check_pass(corpus.data, settings);
        skip_unless_checked(state, check_failure);
    }
    for (auto _ : state) {
        VectorSource source(corpus.data);
        DiscardSink sink;
        benchmark::DoNotOptimize(kurvane::detail::run_pass(source, sink, settings));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(corpus.data.size()));
}
BENCHMARK_CAPTURE(exempt_in_memory, long_runs_exempt, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(exempt_in_memory, long_runs_no_exempt, false)->Unit(benchmark::kMillisecond);

// The pass in memory on one thread in each output format, beside the
// default format of the same corpus (the first case of each corpus): what
// a format costs the scan without file I/O. Each format's output is checked
// once against the reference in that format.
enum class MicroFormat { plain, utf8_lf, hex_offsets, file_names, json };

kurvane::OutputFormat micro_format(MicroFormat which) {
    kurvane::OutputFormat format;
    switch (which) {
    case MicroFormat::plain: break;
    case MicroFormat::utf8_lf:
        format.encoding = kurvane::TextEncoding::utf8;
        format.eol = kurvane::LineEnd::lf;
        break;
    case MicroFormat::hex_offsets: format.radix = kurvane::OffsetRadix::hex; break;
    case MicroFormat::file_names: format.file_name = "data/archive.dat"; break;
    case MicroFormat::json: format.json = true; break;
    }
    return format;
}

void format_in_memory(benchmark::State& state, CorpusKind kind, MicroFormat which) {
    const MicroCorpus& corpus = micro_corpus(kind);
    skip_unless_checked(state, corpus.check_failure);
    const kurvane::OutputFormat format = micro_format(which);
    kurvane::detail::PassOptions options;
    options.format = &format;
    {
        VectorSource source(corpus.data);
        VectorSink sink;
        const auto status = kurvane::detail::run_pass(source, sink, corpus.settings, options);
        std::vector<kurvane::test::ReferenceWrite> writes;
        kurvane::test::reference_extract(corpus.data, corpus.settings, &writes);
        if (!status.ok() || sink.bytes != kurvane::test::formatted_reference(
                                              writes, format, corpus.settings.auto_newline != 0))
            skip_unless_checked(state, "the pass differs from the reference in this format");
    }
    time_in_memory(state, corpus, options);
}
#define KURVANE_FORMAT_BENCHMARKS(corpus)                                                        \
    BENCHMARK_CAPTURE(format_in_memory, corpus##_default, CorpusKind::corpus, MicroFormat::plain) \
        ->Unit(benchmark::kMillisecond);                                                         \
    BENCHMARK_CAPTURE(format_in_memory, corpus##_utf8_lf, CorpusKind::corpus,                    \
                      MicroFormat::utf8_lf)->Unit(benchmark::kMillisecond);                      \
    BENCHMARK_CAPTURE(format_in_memory, corpus##_hex_offsets, CorpusKind::corpus,                \
                      MicroFormat::hex_offsets)->Unit(benchmark::kMillisecond);                  \
    BENCHMARK_CAPTURE(format_in_memory, corpus##_file_names, CorpusKind::corpus,                 \
                      MicroFormat::file_names)->Unit(benchmark::kMillisecond);                   \
    BENCHMARK_CAPTURE(format_in_memory, corpus##_json, CorpusKind::corpus, MicroFormat::json)    \
        ->Unit(benchmark::kMillisecond)
KURVANE_FORMAT_BENCHMARKS(mixed);
KURVANE_FORMAT_BENCHMARKS(text);
KURVANE_FORMAT_BENCHMARKS(long_runs);
#undef KURVANE_FORMAT_BENCHMARKS

void pass_on_empty_input(benchmark::State& state) {
    // Fixed cost per file: buffers and the 64 KiB table.
    const std::vector<unsigned char> none;
    const ExtractionSettings settings;
    static const std::string check_failure = check_pass(none, settings);
    skip_unless_checked(state, check_failure);
    for (auto _ : state) {
        VectorSource source(none);
        DiscardSink sink;
        benchmark::DoNotOptimize(kurvane::detail::run_pass(source, sink, settings));
    }
}
BENCHMARK(pass_on_empty_input)->Unit(benchmark::kMicrosecond);

int compare_in_new_dir(const Programs& programs, const fs::path& parent,
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

// BYTES with an optional K, M or G suffix (binary multiples); false on
// anything else.
bool parse_size(const char* text, unsigned long long& size) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || errno != 0) return false;
    int shift = 0;
    switch (*end) {
    case '\0': break;
    case 'K': shift = 10; break;
    case 'M': shift = 20; break;
    case 'G': shift = 30; break;
    default: return false;
    }
    if (shift != 0 && end[1] != '\0') return false;
    if (value > (~0ull >> shift)) return false;
    size = value << shift;
    return true;
}

// --machine LOOP THREADS FILE: one of the machine's loops alone, timed and
// printed; the exit status says whether it ran.
int time_machine_loop(const char* loop_name, const char* threads_text, const char* file) {
    kurvane::bench::ScalingLoop loop{};
    const bool threads_ok = std::strcmp(threads_text, "1") == 0 || std::strcmp(threads_text, "2") == 0;
    std::error_code ec;
    const std::uint64_t size = fs::file_size(file, ec);
    if (!kurvane::bench::parse_scaling_loop(loop_name, loop) || !threads_ok || ec) {
        std::fprintf(stderr, "kurvane_bench: --machine takes compute, read or write, 1 or 2, and an existing file\n");
        return 2;
    }
    const unsigned threads = threads_text[0] == '1' ? 1 : 2;
    const kurvane::bench::LoopTime t = kurvane::bench::time_loop(
        loop, threads, scaling_bytes(loop, size, size), file, std::string(file) + ".scaling");
    if (t.seconds < 0) {
        std::fprintf(stderr, "kurvane_bench: the %s loop failed\n", loop_name);
        return 1;
    }
    std::printf("%s on %u thread%s: %.3f s, CPU %.3f s\n", loop_name, threads, threads == 1 ? "" : "s",
                t.seconds, t.cpu);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long size = 256ull << 20;
    int runs = 7;
    bool micro = true;
    bool compare = true;
    std::string program;
    std::string wine_cli;
    fs::path parent;
    std::vector<char*> rest = {argv[0]};
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--size") == 0 && k + 1 < argc) {
            if (!parse_size(argv[++k], size)) {
                std::fprintf(stderr, "kurvane_bench: invalid size '%s'\n", argv[k]);
                return 2;
            }
        } else if (std::strcmp(argv[k], "--runs") == 0 && k + 1 < argc)
            runs = std::max(1, std::atoi(argv[++k]));
        else if (std::strcmp(argv[k], "--kurvane") == 0 && k + 1 < argc)
            program = argv[++k];
        else if (std::strcmp(argv[k], "--wine") == 0 && k + 1 < argc)
            wine_cli = argv[++k];
        else if (std::strcmp(argv[k], "--dir") == 0 && k + 1 < argc)
            parent = argv[++k];
        else if (std::strcmp(argv[k], "--machine") == 0 && k + 3 < argc)
            return time_machine_loop(argv[k + 1], argv[k + 2], argv[k + 3]);
        else if (std::strcmp(argv[k], "--no-micro") == 0)
            micro = false;
        else if (std::strcmp(argv[k], "--micro-only") == 0)
            compare = false;
        else if (std::strcmp(argv[k], "--help") == 0 || std::strcmp(argv[k], "-h") == 0) {
            std::printf("usage: kurvane_bench [--size BYTES[K|M|G]] [--runs N] [--kurvane PATH] [--dir DIR]\n"
                        "                     [--wine KURVANE-CLI.EXE]\n"
                        "                     [--no-micro | --micro-only] [Google Benchmark options]\n"
                        "       kurvane_bench --machine compute|read|write 1|2 FILE\n");
            return 0;
        } else
            rest.push_back(argv[k]);
    }

    int failed = 0;
    if (compare) {
        if (program.empty()) program = find_kurvane();
        if (program.empty()) {
            std::fprintf(stderr, "kurvane_bench: kurvane program not found; give --kurvane PATH\n");
            return 1;
        }
        std::error_code ec;
        // The children run in the corpus directory.
        program = fs::absolute(program, ec).string();
        if (!wine_cli.empty()) {
            wine_cli = fs::absolute(wine_cli, ec).string();
            // The Wine server ends 3 s after its last client by default, and
            // a run that has to start it again takes about a second more:
            // kept for a minute after each client, the timed runs measure
            // the program, not Wine's start. (An already running server keeps
            // its own setting.)
            if (std::system("wineserver -p60") != 0) {
                std::fprintf(stderr, "kurvane_bench: note: wineserver -p60 did not start a server\n");
            }
        }
        if (parent.empty()) parent = fs::temp_directory_path(ec);
        failed = compare_in_new_dir({program, wine_cli}, parent, size, runs);
        if (failed < 0) return 1;
    }
    if (micro) {
        int rest_argc = static_cast<int>(rest.size());
        benchmark::Initialize(&rest_argc, rest.data());
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    if (failed > 0) {
        std::fprintf(stderr, "kurvane_bench: %d of %zu corpora failed their checks\n", failed,
                     std::size(compared_kinds));
    }
    if (micro_check_failed) {
        std::fprintf(stderr, "kurvane_bench: a micro benchmark's pass failed its check\n");
    }
    return failed > 0 || micro_check_failed ? 1 : 0;
}

namespace {

// The number of corpora that failed, or -1 when the directory could not be made.
int compare_in_new_dir(const Programs& programs, const fs::path& parent,
                       unsigned long long size, int runs) {
    std::string pattern = (parent / "kurvane-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("kurvane_bench: mkdtemp");
        return -1;
    }
    const fs::path dir = pattern;
    std::printf("%s [-j 1] [-s SETTINGS] FILE -o OUT,  strings -a -n 4 FILE > OUT,\n"
                "cat FILE > /dev/null, in %s;\n"
                "kurvane with the defaults, or -s for a corpus made for other settings;\n"
                "each output file new, runs in rotating order, medians of %d;\n"
                "a ratio is the median over the rounds of the two commands' times, MB = 10^6 bytes;\n"
                "checked: every run's exit status, and kurvane's output files after every run\n"
                "against the reference pass (strings and cat: exit status only)\n",
                programs.kurvane.c_str(), dir.c_str(), runs);
    if (!programs.wine_cli.empty())
        std::printf("and wine %s [-s SETTINGS] FILE -o OUT, checked like kurvane\n",
                    programs.wine_cli.c_str());
    int failed = 0;
    std::map<CorpusKind, CorpusSpeed> speeds;
    for (const CorpusKind kind : compared_kinds) {
        CorpusSpeed speed;
        if (compare_with_strings(programs, dir, kind, size, runs, speed))
            speeds[kind] = speed;
        else
            ++failed;
    }
    // The long runs with their exempt strings and excluded pairs against
    // the mixed corpus, byte for byte.
    if (speeds.contains(CorpusKind::mixed) && speeds.contains(CorpusKind::long_runs)) {
        const CorpusSpeed& mixed = speeds[CorpusKind::mixed];
        const CorpusSpeed& long_runs = speeds[CorpusKind::long_runs];
        std::printf("long-runs time per byte / mixed's: -j 1 %4.2fx, all cores %4.2fx\n",
                    mixed.one_thread / long_runs.one_thread, mixed.all_cores / long_runs.all_cores);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return failed;
}

}  // namespace
