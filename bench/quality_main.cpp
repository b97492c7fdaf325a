// kurvane_quality: how much of what an extraction writes is the text a user
// wants, on real Japanese lines planted in data of several shapes.
//
//   kurvane_quality [--host-mib N] [--dir DIR] [--keep] [--encodings-only] [--misses N] [--noise N]
//                   [--planting-source TEXT]
//
// The planted lines are the quarter of the Japanese Debian reference manual
// that the text statistics leave out (scripts/gen_text_stats.py
// --planting-lines), or with --planting-source the prose lines of another
// document of Japanese text (UTF-8, gzipped or not), to see how the score
// does on text of another hand. The shapes: machine code (the ELF files of /usr/bin,
// N MiB, 8 by default), compressed data (that machine code through gzip and
// xz), a game script with ASCII tags, a table of records named with 2-4
// character words, and the machine code XORed with one byte. For each it
// prints, per setting, the lines written, the planted lines one written line
// holds whole, and the share of written lines at least half planted text:
// for `-n 8`, `-c +ascii -n 8`, GNU `strings -e S -n 8`, and the real
// `kurvane --text` (the XORed file: `--text --xor=auto`). It also times
// `kurvane --text` against the plain pass over the same classes
// (`-c +ascii`), on one thread and on every core, a shape smaller than
// 8 MiB repeated to that size. Then the same lines in
// EUC-JP, UTF-8, UTF-16LE and UTF-16BE in the machine code, through
// `--text --input-encoding=ENC` and `=auto` (whether auto named the
// encoding), with each encoding's plain pass timed against the cp932 pass
// on the same file, on one thread, on every core and with -n 8
// (`--encodings-only` runs just these). `--misses N`
// counts the planted lines `--text` missed by how it missed them (dropped,
// start or end cut, split) and shows N of each kind beside what was written
// there; `--noise N` shows N written lines that are not text. `--keep`
// leaves each shape's input file in the work directory (under DIR, named
// after the shape), so that outputs can be compared across builds. Exits
// with status 1 when a helper program fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <iconv.h>
#include <unistd.h>

#include "engine/classes/text_score.h"
#include "engine/classes/xor_key.h"
#include "engine/drive/pass.h"
#include "text/text_encoding.h"
#include "pass_test_util.h"
#include "quality_corpus.h"

namespace fs = std::filesystem;
using namespace kurvane;
using namespace kurvane::quality;

namespace {

bool keep_inputs = false;

constexpr unsigned char bench_xor_key = 0xA7;
// The shortest planted line: three double-byte characters.
constexpr std::size_t min_planted_bytes = 6;

struct Failure {
    std::string what;
};

// Runs `command` through the shell and returns its standard output.
Bytes command_output(const std::string& command) {
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) throw Failure{"cannot run: " + command};
    Bytes out;
    unsigned char buffer[1 << 16];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
        out.insert(out.end(), buffer, buffer + got);
    if (pclose(p) != 0) throw Failure{"failed: " + command};
    return out;
}

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// The held-out lines of the statistics' source, or with `other` the prose
// lines of that document, which the statistics never saw.
std::vector<std::string> planting_lines(const fs::path& source_dir, const std::string& other) {
    const Bytes utf8 = command_output("python3 " + quoted(source_dir / "scripts" / "gen_text_stats.py") +
                                      " --planting-lines" + (other.empty() ? "" : " --planting-source " + quoted(fs::path(other))));
    std::vector<std::string> lines;
    std::string_view rest(reinterpret_cast<const char*>(utf8.data()), utf8.size());
    while (!rest.empty()) {
        const std::size_t eol = std::min(rest.find('\n'), rest.size());
        std::string cp932;
        if (text::utf8_to_cp932(rest.substr(0, eol), cp932) && cp932.size() >= min_planted_bytes)
            lines.push_back(cp932);
        rest.remove_prefix(std::min(eol + 1, rest.size()));
    }
    return lines;
}

Bytes machine_code(std::size_t size) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator("/usr/bin"))
        if (e.is_regular_file() && e.file_size() <= (std::size_t{4} << 20)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    Bytes host;
    for (const fs::path& f : files) {
        if (host.size() >= size) break;
        std::ifstream in(f, std::ios::binary);
        Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (data.size() < 4 || data[0] != 0x7F || data[1] != 'E' || data[2] != 'L' || data[3] != 'F') continue;
        host.insert(host.end(), data.begin(), data.end());
    }
    host.resize(std::min(host.size(), size));
    return host;
}

void write_file(const fs::path& path, std::span<const unsigned char> bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw Failure{"cannot write " + path.string()};
}

struct Line {
    std::uint64_t offset;
    std::string_view text;
};

// Lines of "OFFSET TEXT\n" with the offset in hex after optional spaces, as
// both kurvane's -t x and strings -t x write them.
std::vector<Line> parse_lines(const Bytes& out) {
    std::vector<Line> lines;
    std::string_view rest(reinterpret_cast<const char*>(out.data()), out.size());
    while (!rest.empty()) {
        const std::size_t eol = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(std::min(eol + 1, rest.size()));
        line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos) continue;
        lines.push_back({std::strtoull(std::string(line.substr(0, space)).c_str(), nullptr, 16),
                         line.substr(space + 1)});
    }
    return lines;
}

Bytes extract(const Bytes& input, const ExtractionSettings& settings) {
    test::MemorySource source(input);
    test::MemorySink sink;
    OutputFormat format;
    format.eol = LineEnd::lf;
    format.radix = OffsetRadix::hex;
    detail::PassOptions options;
    options.format = &format;
    if (!detail::run_pass(source, sink, settings, options).ok())
        throw Failure{"the extraction pass failed"};
    return sink.bytes;
}

std::vector<Range> ranges_of(const std::vector<Line>& lines) {
    std::vector<Range> out;
    for (const Line& l : lines) out.push_back({l.offset, l.text.size()});
    return out;
}

// What the kurvane binary writes for `options` on `file`, as ranges of
// the input; its standard error goes to `err`.
std::vector<Range> kurvane_text(const std::string& options, const fs::path& file, const fs::path& err) {
    const Bytes out = command_output(quoted(KURVANE_CLI_BINARY) + " --defaults " + options +
                                     " -t x --eol=lf -o - " + quoted(file) + " 2>" + quoted(err));
    return ranges_of(parse_lines(out));
}

// The least size a shape is timed at.
constexpr std::size_t timed_least = std::size_t{8} << 20;

// The fastest of three runs of kurvane with `options`, its output thrown away.
double best_seconds(const std::string& options, const fs::path& file) {
    double best = 1e300;
    for (int k = 0; k < 3; ++k) {
        const auto begin = std::chrono::steady_clock::now();
        command_output(quoted(KURVANE_CLI_BINARY) + " --defaults " + options + " -o - " + quoted(file) +
                       " >/dev/null");
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    }
    return best;
}

std::string utf8_of(std::span<const unsigned char> cp932) {
    return text::cp932_to_utf8(std::string_view(reinterpret_cast<const char*>(cp932.data()), cp932.size()));
}

// How many misses of each kind and how many written lines that are not
// text to show per shape (--misses N, --noise N): what to look at when
// changing the score.
std::size_t shown_misses = 0;
std::size_t shown_noise = 0;

// A planted line of at most this many characters outside ASCII is mostly
// ASCII: one or two Japanese characters among words, names and options.
constexpr std::size_t few_japanese = 2;

std::size_t non_ascii_chars(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0xC0;  // the first byte of a character past ASCII
    }));
}

// Input bytes [from, to) with printable ASCII as it is and any other byte
// as \xHH, so that the data around a miss shows what the scan saw.
std::string escaped_bytes(const Bytes& input, std::uint64_t from, std::uint64_t to) {
    std::string out;
    char b[8];
    for (std::uint64_t k = from; k < std::min<std::uint64_t>(to, input.size()); ++k) {
        const unsigned char c = input[k];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(b, sizeof b, "\\x%02X", c);
            out += b;
        }
    }
    return out;
}

// The planted lines of `input` that the written `lines` do not hold whole:
// how many of each kind (and of them, how many are mostly ASCII), and up to
// shown_misses of each kind with the input bytes around them and what was
// written over them, all as UTF-8 by `utf8_of_range`.
template <class Utf8Of>
void print_misses(const PlantedInput& input, const std::vector<Range>& lines, Utf8Of&& utf8_of_range) {
    if (shown_misses == 0) return;
    const std::vector<Miss> missed = misses(lines, input.planted);
    std::size_t count[miss_kinds] = {}, ascii_heavy[miss_kinds] = {};
    for (const Miss& m : missed) {
        const auto kind = static_cast<std::size_t>(m.kind);
        ascii_heavy[kind] += non_ascii_chars(utf8_of_range(m.planted)) <= few_japanese ? 1 : 0;
        if (++count[kind] > shown_misses) continue;
        constexpr std::uint64_t context = 12;
        const Range& p = m.planted;
        std::printf("    %s: \"%s\" [%s] \"%s\"\n", miss_name(m.kind),
                    escaped_bytes(input.bytes, p.offset >= context ? p.offset - context : 0, p.offset).c_str(),
                    utf8_of_range(p).c_str(), escaped_bytes(input.bytes, p.end(), p.end() + context).c_str());
        for (const Range& w : m.written)
            std::printf("      wrote %+lld..%+lld [%s]\n", static_cast<long long>(w.offset - p.offset),
                        static_cast<long long>(w.end() - p.end()), utf8_of_range(w).c_str());
    }
    std::printf("  misses:");
    for (std::size_t k = 0; k < miss_kinds; ++k)
        std::printf(" %s %zu (%zu mostly ASCII)%s", miss_name(static_cast<MissKind>(k)), count[k], ascii_heavy[k],
                    k + 1 < miss_kinds ? "," : "\n");
}

// Up to shown_noise written lines that are not planted text: what passed
// the score that should not have.
template <class Utf8Of>
void print_noise(const PlantedInput& input, const std::vector<Range>& lines, Utf8Of&& utf8_of_range) {
    std::size_t shown = 0;
    for (const Range& line : lines) {
        if (shown == shown_noise) break;
        if (tally({line}, input.planted).text != 0) continue;
        ++shown;
        std::printf("    noise [%s]\n", utf8_of_range(line).c_str());
    }
}

ExtractionSettings with_length(ExtractionSettings s, std::uint32_t n) {
    s.min_length = n;
    return s;
}

ExtractionSettings with_ascii(ExtractionSettings s) {
    s.half_digits = s.half_upper = s.half_lower = s.half_symbols = 1;
    return s;
}

struct Goal {
    double found;
    double text;
};

void print_row(const char* setting, const Tally& t, std::size_t planted) {
    std::printf("  %-24s %9zu %8.1f%% %8.1f%%\n", setting, t.lines, 100.0 * static_cast<double>(t.found) / static_cast<double>(planted),
                t.lines == 0 ? 0.0 : 100.0 * static_cast<double>(t.text) / static_cast<double>(t.lines));
}

struct KeySearch {
    XorKeyChoice choice;
    double seconds;
};

KeySearch search_key(const Bytes& input) {
    const auto begin = std::chrono::steady_clock::now();
    std::vector<std::span<const unsigned char>> samples;
    for (const XorSample& s : plan_xor_samples(input.size()))
        samples.push_back(std::span<const unsigned char>(input).subspan(static_cast<std::size_t>(s.offset), s.size));
    const XorKeyChoice choice = find_xor_key(samples, with_ascii(ExtractionSettings{}));
    return {choice, std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count()};
}

// Prints the table of one shape; returns whether the score met its goal.
bool report(const char* name, const PlantedInput& input, const fs::path& dir, Goal goal,
            unsigned char xor_key = 0) {
    std::printf("%s, %.1f MiB, %zu planted lines\n", name, static_cast<double>(input.bytes.size()) / (1 << 20),
                input.planted.size());
    std::printf("  %-24s %9s %9s %9s\n", "setting", "lines out", "found", "text");
    ExtractionSettings plain;
    plain.xor_value = xor_key;
    const auto time_plain_start = std::chrono::steady_clock::now();
    const Tally n8 = tally(ranges_of(parse_lines(extract(input.bytes, with_length(plain, 8)))), input.planted);
    const double plain_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - time_plain_start).count();
    print_row("-n 8", n8, input.planted.size());
    print_row("-c +ascii -n 8", tally(ranges_of(parse_lines(extract(input.bytes, with_ascii(with_length(plain, 8))))), input.planted),
              input.planted.size());
    const fs::path file = dir / "input.dat";
    Bytes on_disk = input.bytes;
    for (unsigned char& b : on_disk) b = static_cast<unsigned char>(b ^ xor_key);
    write_file(file, on_disk);
    if (keep_inputs) {
        std::string kept_name = name;
        std::replace_if(kept_name.begin(), kept_name.end(), [](char c) { return c == ' ' || c == ','; }, '-');
        write_file(dir / (kept_name + ".dat"), on_disk);
    }
    const Bytes strings_out = command_output("strings -a -e S -n 8 -t x " + quoted(file));
    print_row("strings -e S -n 8", tally(ranges_of(parse_lines(strings_out)), input.planted), input.planted.size());

    const KeySearch key = search_key(on_disk);
    std::printf("  key search: %s 0x%02X (text bytes %llu, without XOR %llu) in %.3f s; "
                "-n 8 pass %.3f s (%.2fx)\n",
                key.choice.found ? "key" : "no key, best", key.choice.key,
                static_cast<unsigned long long>(key.choice.text_bytes),
                static_cast<unsigned long long>(key.choice.plain_text_bytes), key.seconds, plain_seconds,
                key.seconds / plain_seconds);
    const fs::path err = dir / "err.txt";
    const std::vector<Range> kept = kurvane_text(xor_key != 0 ? "--text --xor=auto" : "--text", file, err);
    std::ifstream err_in(err);
    const std::string said((std::istreambuf_iterator<char>(err_in)), std::istreambuf_iterator<char>());
    const auto cp932_text = [&](const Range& r) { return utf8_of(std::span(input.bytes).subspan(r.offset, r.size)); };
    print_misses(input, kept, cp932_text);
    print_noise(input, kept, cp932_text);
    const Tally s = tally(kept, input.planted);
    print_row(xor_key != 0 ? "kurvane --text --xor=auto" : "kurvane --text", s, input.planted.size());
    if (!said.empty()) std::printf("  said: %s", said.c_str());
    // The XORed file is timed with its key given, as the pass it is. A
    // small shape is timed repeated to timed_least bytes, so that what its
    // text costs shows rather than the start-up: a script or a table of
    // names is mostly text, where --text pays most.
    const std::string key_option = xor_key != 0 ? " -x " + std::to_string(xor_key) : "";
    fs::path timed = file;
    std::string timed_note;
    if (on_disk.size() < timed_least) {
        const std::size_t times = (timed_least + on_disk.size() - 1) / on_disk.size();
        Bytes repeated;
        repeated.reserve(times * on_disk.size());
        for (std::size_t k = 0; k < times; ++k) repeated.insert(repeated.end(), on_disk.begin(), on_disk.end());
        timed = dir / "timed.dat";
        write_file(timed, repeated);
        char note[64];
        std::snprintf(note, sizeof note, " (the input %zu times, %.1f MiB)", times,
                      static_cast<double>(repeated.size()) / 1048576.0);
        timed_note = note;
    }
    for (const char* jobs : {"-j 1", ""}) {  // one thread; one per core
        const double plain_time = best_seconds(jobs + key_option + " -c +ascii", timed);
        const double text_time = best_seconds(jobs + key_option + " --text", timed);
        std::printf("  time %s: --text %.3f s, -c +ascii %.3f s: %.2fx%s\n", *jobs != '\0' ? "-j 1     " : "all cores",
                    text_time, plain_time, text_time / plain_time, timed_note.c_str());
    }
    const double found = static_cast<double>(s.found) / static_cast<double>(input.planted.size());
    const double share = s.lines == 0 ? 0.0 : static_cast<double>(s.text) / static_cast<double>(s.lines);
    char key_said[32];
    std::snprintf(key_said, sizeof key_said, "XOR key 0x%02X\n", xor_key);
    const bool key_ok = key.choice.key == xor_key && (xor_key == 0 || said.ends_with(key_said));
    // Both searches at once must still name code page 932 and the key.
    kurvane_text("--text --xor=auto --input-encoding=auto", file, err);
    std::ifstream both_in(err);
    const std::string both((std::istreambuf_iterator<char>(both_in)), std::istreambuf_iterator<char>());
    const bool both_ok = both.find(": CP932 text\n") != std::string::npos &&
                         (xor_key == 0 ? both.find("XOR key 0x") == std::string::npos
                                       : both.find(key_said) != std::string::npos);
    std::printf("  --xor=auto --input-encoding=auto said: %s  named CP932 and the key: %s\n", both.c_str(),
                both_ok ? "yes" : "NO");
    const bool met = found >= goal.found && share >= goal.text && key_ok && both_ok;
    std::printf("  goal: found >= %.0f%%, text >= %.0f%%%s: %s\n\n", 100 * goal.found, 100 * goal.text,
                xor_key != 0 ? ", key found" : ", no key", met ? "met" : "MISSED");
    return met;
}

// The other input encodings: the planted lines re-encoded by glibc's
// converter, planted in the same machine code, and read back with
// --text --input-encoding=ENC and =auto. Offsets and lengths come from
// --json, in input bytes.
struct EncodingShape {
    const char* option;  // --input-encoding's name
    const char* iconv_name;
    const char* label;   // as auto names it
};
constexpr EncodingShape encoding_shapes[] = {
    {"euc-jp", "EUC-JP", "EUC-JP"},
    {"utf-8", "UTF-8", "UTF-8"},
    {"utf-16le", "UTF-16LE", "UTF-16LE"},
    {"utf-16be", "UTF-16BE", "UTF-16BE"},
};

// `cp932` lines in another encoding; a line the converter cannot take whole
// is left out.
std::vector<std::string> reencoded(const std::vector<std::string>& cp932, const char* to) {
    iconv_t cd = iconv_open(to, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw Failure{std::string("iconv cannot write ") + to};
    std::vector<std::string> out;
    for (const std::string& line : cp932) {
        std::string utf8 = text::cp932_to_utf8(line);
        std::string converted(utf8.size() * 4 + 8, '\0');
        char* in = utf8.data();
        std::size_t in_left = utf8.size();
        char* dst = converted.data();
        std::size_t out_left = converted.size();
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &in, &in_left, &dst, &out_left) == static_cast<std::size_t>(-1) || in_left != 0) continue;
        converted.resize(converted.size() - out_left);
        out.push_back(std::move(converted));
    }
    iconv_close(cd);
    return out;
}

// The "offset" and "length" of each JSON line kurvane wrote.
std::vector<Range> json_ranges(const Bytes& out) {
    std::vector<Range> ranges;
    std::string_view rest(reinterpret_cast<const char*>(out.data()), out.size());
    const auto field = [](std::string_view line, std::string_view key) -> std::uint64_t {
        const std::size_t at = line.rfind(key);
        return at == std::string_view::npos ? 0
                                            : std::strtoull(std::string(line.substr(at + key.size())).c_str(),
                                                            nullptr, 10);
    };
    while (!rest.empty()) {
        const std::size_t eol = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(std::min(eol + 1, rest.size()));
        // The offset leads the object and the length follows the text, so
        // neither can be matched inside the text.
        const std::size_t offset_at = line.find("\"offset\":");
        if (offset_at == std::string_view::npos) continue;
        ranges.push_back({std::strtoull(std::string(line.substr(offset_at + 9)).c_str(), nullptr, 10),
                          static_cast<std::size_t>(field(line, "\"length\":"))});
    }
    return ranges;
}

// Seconds of the plain pass (`-c +ascii`) over `file` read in `encoding`;
// the count of characters written as '?' is not shown.
double plain_seconds(const char* encoding, const char* jobs, const fs::path& file) {
    return best_seconds(std::string(jobs) + " -c +ascii --input-encoding=" + encoding + " 2>/dev/null", file);
}

// Input bytes in `iconv_name` as UTF-8, for the misses and noise shown.
class Utf8From {
public:
    explicit Utf8From(const char* iconv_name) : cd_(iconv_open("UTF-8", iconv_name)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) throw Failure{std::string("iconv cannot read ") + iconv_name};
    }
    ~Utf8From() { iconv_close(cd_); }
    Utf8From(const Utf8From&) = delete;
    Utf8From& operator=(const Utf8From&) = delete;

    std::string operator()(std::span<const unsigned char> bytes) const {
        std::string in(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        std::string out(in.size() * 4 + 8, '\0');
        char* src = in.data();
        std::size_t src_left = in.size();
        char* dst = out.data();
        std::size_t dst_left = out.size();
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        iconv(cd_, &src, &src_left, &dst, &dst_left);
        out.resize(out.size() - dst_left);
        return out + (src_left != 0 ? "<unconverted>" : "");
    }

private:
    iconv_t cd_;
};

// Prints the table of one encoding; returns whether the goals were met.
bool report_encoding(const EncodingShape& shape, const std::vector<std::string>& cp932_lines, const Bytes& code,
                     const fs::path& dir, Goal goal) {
    const PlantedInput input = plant_in(code, reencoded(cp932_lines, shape.iconv_name), 11);
    std::printf("machine code, %s, %.1f MiB, %zu planted lines\n", shape.label,
                static_cast<double>(input.bytes.size()) / (1 << 20), input.planted.size());
    std::printf("  %-34s %9s %9s %9s\n", "setting", "lines out", "found", "text");
    // One file per encoding, so that --keep keeps each of them.
    const fs::path file = dir / (std::string(shape.option) + ".dat");
    write_file(file, input.bytes);
    const fs::path err = dir / "err.txt";
    bool met = true;
    for (const std::string& encoding : {std::string(shape.option), std::string("auto"), std::string("auto --xor=auto")}) {
        const std::string options = "--text --json --input-encoding=" + encoding;
        const Bytes out = command_output(quoted(KURVANE_CLI_BINARY) + " --defaults " + options + " -o - " +
                                         quoted(file) + " 2>" + quoted(err));
        std::ifstream err_in(err);
        const std::string said((std::istreambuf_iterator<char>(err_in)), std::istreambuf_iterator<char>());
        const Tally t = tally(json_ranges(out), input.planted);
        if (encoding != "auto") {
            const Utf8From from(shape.iconv_name);
            const auto encoded_text = [&](const Range& r) {
                return from(std::span(input.bytes).subspan(r.offset, r.size));
            };
            print_misses(input, json_ranges(out), encoded_text);
            print_noise(input, json_ranges(out), encoded_text);
        }
        print_row(("kurvane " + options).c_str(), t, input.planted.size());
        const double found = static_cast<double>(t.found) / static_cast<double>(input.planted.size());
        const double share = t.lines == 0 ? 0.0 : static_cast<double>(t.text) / static_cast<double>(t.lines);
        met &= found >= goal.found && share >= goal.text;
        if (encoding.starts_with("auto")) {
            // The text is stored without XOR: a key search must say so.
            const bool named = said.find(std::string(": ") + shape.label + " text\n") != std::string::npos &&
                               said.find("XOR key 0x") == std::string::npos;
            std::printf("  auto said: %s  auto named %s: %s\n", said.c_str(), shape.label, named ? "yes" : "NO");
            met &= named;
        }
    }
    // The same file read as code page 932 and in its own encoding: bytes
    // per second of the plain pass, as a ratio measured in this run; also
    // with a minimum length, under which most runs of data are dropped.
    struct Timing {
        const char* options;
        const char* label;
    };
    for (const Timing& timing : {Timing{"-j 1", "-j 1     "}, Timing{"", "all cores"}, Timing{"-j 1 -n 8", "-j 1 -n 8"}}) {
        const double own = plain_seconds(shape.option, timing.options, file);
        const double cp932 = plain_seconds("cp932", timing.options, file);
        std::printf("  speed %s: %s plain %.3f s, cp932 plain %.3f s: %.2fx the cp932 pass's bytes/s\n", timing.label,
                    shape.label, own, cp932, cp932 / own);
    }
    std::printf("  goal: found >= %.0f%%, text >= %.0f%%, auto names %s: %s\n\n", 100 * goal.found,
                100 * goal.text, shape.label, met ? "met" : "MISSED");
    return met;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t host_mib = 8;
    bool encodings_only = false;
    std::string planting_source;
    fs::path parent = fs::temp_directory_path();
    for (int k = 1; k < argc; ++k) {
        const std::string_view a = argv[k];
        if (a == "--host-mib" && k + 1 < argc) {
            host_mib = std::strtoul(argv[++k], nullptr, 10);
        } else if ((a == "--misses" || a == "--noise") && k + 1 < argc) {
            (a == "--misses" ? shown_misses : shown_noise) = std::strtoul(argv[++k], nullptr, 10);
        } else if (a == "--keep") {
            keep_inputs = true;
        } else if (a == "--encodings-only") {
            encodings_only = true;
        } else if (a == "--dir" && k + 1 < argc) {
            parent = argv[++k];
        } else if (a == "--planting-source" && k + 1 < argc) {
            planting_source = argv[++k];
        } else {
                std::fprintf(stderr, "usage: kurvane_quality [--host-mib N] [--dir DIR] [--keep] [--encodings-only] "
                                     "[--misses N] [--noise N] [--planting-source TEXT]\n");
                return 2;
        }
    }
    const fs::path dir = parent / ("kurvane-quality-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    int status = 0;
    try {
        const std::vector<std::string> lines = planting_lines(KURVANE_SOURCE_DIR, planting_source);
        const Bytes code = machine_code(host_mib << 20);
        write_file(dir / "code.bin", code);
        const Goal lines_goal{0.98, 0.95};
        if (encodings_only) {
            bool met = true;
            for (const EncodingShape& shape : encoding_shapes)
                met &= report_encoding(shape, lines, code, dir, lines_goal);
            std::printf("%s\n", met ? "every goal met" : "some goals missed");
        } else {
            Bytes packed = command_output("gzip -9 -c " + quoted(dir / "code.bin"));
            const Bytes xz = command_output("xz -c " + quoted(dir / "code.bin"));
            packed.insert(packed.end(), xz.begin(), xz.end());
            const std::vector<std::string> words = short_words(lines);
            const Goal words_goal{0.95, 0.90};
            const PlantedInput in_code = plant_in(code, lines, 1);
            bool met = report("machine code", in_code, dir, lines_goal);
            met &= report("compressed data", plant_in(packed, lines, 2), dir, lines_goal);
            met &= report("script shape", script_shape(lines, 3), dir, lines_goal);
            met &= report("short words", word_table(words, 4), dir, words_goal);
            met &= report("machine code, XORed", in_code, dir, lines_goal, bench_xor_key);
            for (const EncodingShape& shape : encoding_shapes) met &= report_encoding(shape, lines, code, dir, lines_goal);
            std::printf("%s\n", met ? "every goal met" : "some goals missed");
        }
    } catch (const Failure& f) {
        std::fprintf(stderr, "kurvane_quality: %s\n", f.what.c_str());
        status = 1;
    }
    if (keep_inputs) {
        std::printf("inputs kept in %s\n", dir.string().c_str());
    } else {
        fs::remove_all(dir);
    }
    return status;
}
