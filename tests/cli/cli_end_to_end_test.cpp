// Runs the real kurvane binary in a scratch directory and compares the files
// it writes byte for byte.
#include <fcntl.h>
#include <iconv.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "settings/settings_file.h"
#include "support/scratch_dir.h"

#ifndef KURVANE_CLI_BINARY
#error "KURVANE_CLI_BINARY must name the kurvane binary"
#endif

namespace {

namespace fs = std::filesystem;

std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Data with the hiragana "あいう" (code page 932) between zero bytes, and the
// text file it gives under the built-in settings.
const std::string hiragana_data("\0\0\x82\xa0\x82\xa2\x82\xa4\0\0", 10);
const std::string hiragana_text("\x82\xa0\x82\xa2\x82\xa4\r\n");
// Upper-case letters and one hiragana: the letters are text only when
// half_upper is on.
const std::string mixed_data("\0ABC\0\x82\xa0\0", 8);
const std::string mixed_text_default("\x82\xa0\r\n");
const std::string mixed_text_upper("ABC\r\n\x82\xa0\r\n");

struct Result {
    int status = -1;
    int signal = 0;  // the signal that ended the program, if one did
    std::string out;
    std::string err;
};

using kurvane::test::read_bytes;
using kurvane::test::write_bytes;

class cli_binary : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(work_);
        write_bytes(stdin_path_, "");
    }

    // Runs kurvane in the work directory under `locale`; standard output goes
    // to `stdout_path` when given (e.g. /dev/full), else it is captured.
    Result run(const std::vector<std::string>& args, const char* locale = "C.UTF-8",
               const char* stdout_path = nullptr) {
        return finish(start(args, locale, stdout_path));
    }

    struct Child {
        pid_t pid = -1;
        fs::path out_path;
        fs::path err_path;
        bool capture_out = true;
    };

    // Starts kurvane as run() does without waiting for it; `tag` keeps the
    // captured streams of programs running at once apart. With a `gate` (the
    // reading end of a pipe), the program starts only once it has read a byte
    // from it, so that several can be let go at the same moment.
    Child start(const std::vector<std::string>& args, const char* locale = "C.UTF-8",
                const char* stdout_path = nullptr, const std::string& tag = "", int gate = -1) {
        std::vector<std::string> command{KURVANE_CLI_BINARY};
        command.insert(command.end(), args.begin(), args.end());
        return spawn(command, locale, stdout_path, tag, gate);
    }

    // Runs `script` with /bin/sh in the work directory as run() runs the
    // program, "$K" naming the program: for what only a shell sets up (a
    // stream opened for appending, a pipe, a descriptor 3).
    Result sh(const std::string& script, const char* locale = "C.UTF-8") {
        return finish(spawn({"/bin/sh", "-c", script}, locale, nullptr, "", -1));
    }

    Child spawn(const std::vector<std::string>& command, const char* locale, const char* stdout_path,
                const std::string& tag, int gate) {
        Child child;
        child.capture_out = stdout_path == nullptr;
        child.out_path = stdout_path ? fs::path(stdout_path) : root_ / ("stdout" + tag);
        child.err_path = root_ / ("stderr" + tag);
        std::vector<char*> argv;
        for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        // A locale with '=' is a whole variable (LANG=...); otherwise LC_ALL's value.
        const std::string lc_all = std::strchr(locale, '=') ? std::string(locale) : std::string("LC_ALL=") + locale;
        const std::string program = std::string("K=") + KURVANE_CLI_BINARY;
        char* envp[] = {const_cast<char*>(lc_all.c_str()), const_cast<char*>("PATH=/usr/bin:/bin"),
                        const_cast<char*>(program.c_str()), nullptr};
        const std::string input = stdin_path_.string();

        child.pid = fork();
        if (child.pid == 0) {
            const int out = open(child.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(child.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int in = open(input.c_str(), O_RDONLY);
            if (out < 0 || err < 0 || in < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || dup2(in, 0) < 0 ||
                chdir(work_.c_str()) != 0) {
                _exit(126);
            }
            char none;
            if (gate >= 0 && read(gate, &none, 1) != 1) _exit(126);
            execve(argv[0], argv.data(), envp);
            _exit(127);
        }
        return child;
    }

    Result finish(const Child& child) {
        Result result;
        int wait_status = 0;
        if (child.pid < 0 || waitpid(child.pid, &wait_status, 0) != child.pid) {
            ADD_FAILURE() << "cannot run " << KURVANE_CLI_BINARY << ": " << std::strerror(errno);
            return result;
        }
        result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
        if (WIFSIGNALED(wait_status)) result.signal = WTERMSIG(wait_status);
        if (child.capture_out) result.out = read_bytes(child.out_path);
        result.err = read_bytes(child.err_path);
        return result;
    }

    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& entry : fs::directory_iterator(work_)) out.insert(entry.path().filename().string());
        return out;
    }

    fs::path at(const char* name) const { return work_ / name; }
    std::string file(const char* name) const { return read_bytes(work_ / name); }
    void put(const char* name, const std::string& bytes) const { write_bytes(work_ / name, bytes); }

    kurvane::test::ScratchDir scratch_{"kurvane-cli"};
    const fs::path& root_ = scratch_.path();
    const fs::path work_ = root_ / "work";
    fs::path stdin_path_ = root_ / "stdin";  // what the program reads as standard input
};

// Prints what the program said on failure.
#define EXPECT_RUN(result, expected_status) \
    EXPECT_EQ((result).status, expected_status) << "stdout: " << (result).out << "\nstderr: " << (result).err

TEST_F(cli_binary, extracts_each_file_beside_itself) {
    put("a.dat", hiragana_data);
    fs::create_directory(at("dir"));
    put("dir/a.b.dat", mixed_data);
    const Result r = run({"a.dat", "dir/a.b.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(file("a.txt"), hiragana_text);
    EXPECT_EQ(file("dir/a.txt"), mixed_text_default);
    EXPECT_FALSE(fs::exists(at("dir/a.b.txt")));
    EXPECT_EQ(file("a.dat"), hiragana_data);
}

TEST_F(cli_binary, output_option_writes_the_named_file_or_standard_output) {
    put("a.dat", hiragana_data);
    Result r = run({"-o", "out.bin", "a.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(file("out.bin"), hiragana_text);
    EXPECT_FALSE(fs::exists(at("a.txt")));

    r = run({"--output=-", "a.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.out, hiragana_text);  // binary: CR LF as written, nothing added
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(at("a.txt")));
}

TEST_F(cli_binary, output_option_needs_exactly_one_file) {
    put("a.dat", hiragana_data);
    put("b.dat", hiragana_data);
    const Result r = run({"-o", "out.txt", "a.dat", "b.dat"});
    EXPECT_RUN(r, 2);
    EXPECT_NE(r.err.find("Try 'kurvane --help'"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(at("out.txt")));
    EXPECT_FALSE(fs::exists(at("a.txt")));
}

// An input that is the file its text would go to, by any name, is refused
// before anything is read: appended to standard output it would grow
// without end, and a replaced output would be the input lost.
TEST_F(cli_binary, an_input_that_is_its_own_output_is_refused_before_it_is_read) {
    const std::string refused_stdout = "kurvane: x.dat: input file is output file (standard output); nothing was extracted\n";
    const std::string refused_stdin = "kurvane: standard input: input file is output file (standard output); nothing was extracted\n";
    const struct {
        const char* script;
        std::string err;
    } cases[] = {
        {"\"$K\" --defaults -o - x.dat >> x.dat", refused_stdout},
        {"\"$K\" --defaults -j 1 -o - x.dat >> x.dat", refused_stdout},
        {"\"$K\" --defaults -j 2 -o - x.dat >> x.dat", refused_stdout},
        {"\"$K\" --defaults -o - a.dat x.dat >> x.dat", refused_stdout},  // a.dat is not written either
        {"\"$K\" --defaults < x.dat >> x.dat", refused_stdin},
        {"\"$K\" --defaults -o - - < x.dat 1<> x.dat", refused_stdin},
        {"\"$K\" --defaults -o /dev/stdout x.dat >> x.dat",
         "kurvane: x.dat: input file is output file (/dev/stdout); nothing was extracted\n"},
        {"\"$K\" --defaults -o x.dat x.dat", "kurvane: x.dat: input file is output file (x.dat); nothing was extracted\n"},
        {"\"$K\" --defaults -o ./x.dat x.dat",
         "kurvane: x.dat: input file is output file (./x.dat); nothing was extracted\n"},
        {"\"$K\" --defaults -o link.dat x.dat",
         "kurvane: x.dat: input file is output file (link.dat); nothing was extracted\n"},
        {"\"$K\" --defaults -o x.dat < x.dat",
         "kurvane: standard input: input file is output file (x.dat); nothing was extracted\n"},
    };
    put("a.dat", hiragana_data);
    fs::create_symlink("x.dat", at("link.dat"));
    for (const auto& c : cases) {
        put("x.dat", hiragana_data);
        const Result r = sh(c.script);
        EXPECT_RUN(r, 2) << c.script;
        EXPECT_EQ(r.err, c.err) << c.script;
        EXPECT_EQ(file("x.dat"), hiragana_data) << c.script;
        EXPECT_EQ(names(), (std::set<std::string>{"a.dat", "link.dat", "x.dat"})) << c.script;
    }
    // The same names when they are not one file are written as usual.
    const Result r = sh("\"$K\" --defaults -o - x.dat >> other.txt && \"$K\" --defaults < a.dat >> other.txt");
    EXPECT_RUN(r, 0);
    EXPECT_EQ(file("other.txt"), hiragana_text + hiragana_text);
}

// Standard input is read from where its descriptor stands, as every
// filter reads it: what the shell read before is not read again.
TEST_F(cli_binary, standard_input_is_read_from_its_offset) {
    put("two.dat", std::string("\x82\xa0\0\x82\xa2\0", 6));  // あ, then い from offset 3
    for (const char* output : {"-o out.txt", "-o -"}) {
        const Result r = sh(std::string("{ dd bs=1 count=3 of=/dev/null 2>/dev/null; \"$K\" --defaults ") + output +
                            " > piped; } < two.dat");
        EXPECT_RUN(r, 0) << output;
        EXPECT_EQ(file(output[3] == '-' ? "piped" : "out.txt"), "\x82\xa2\r\n") << output;
    }
}

// -o naming a descriptor the program has open writes through it: into a
// pipe, and at the end of a file opened for appending, which keeps what it
// held.
TEST_F(cli_binary, an_output_naming_an_open_descriptor_is_written_through_it) {
    put("a.dat", hiragana_data);
    put("log", "old\n");
    put("log3", "old\n");
    const struct {
        const char* script;
        const char* file;
        std::string content;
    } cases[] = {
        {"{ \"$K\" --defaults -o /dev/stdout a.dat; echo $? > status; } | cat > piped", "piped", hiragana_text},
        {"\"$K\" --defaults -o /dev/stdout a.dat >> log; echo $? > status", "log", "old\n" + hiragana_text},
        {"\"$K\" --defaults -o /dev/fd/3 a.dat 3>> log3; echo $? > status", "log3", "old\n" + hiragana_text},
    };
    for (const auto& c : cases) {
        const Result r = sh(c.script);
        EXPECT_EQ(r.err, "") << c.script;
        EXPECT_EQ(file("status"), "0\n") << c.script;
        EXPECT_EQ(file(c.file), c.content) << c.script;
    }
    EXPECT_EQ(names(), (std::set<std::string>{"a.dat", "log", "log3", "piped", "status"}));
}

// File i holds i + 1 hiragana between zero bytes, so a mixed-up output shows.
std::string hiragana_run(int i) {
    std::string run;
    for (int k = 0; k <= i; ++k) run += "\x82\xa0";
    return run;
}

TEST_F(cli_binary, failures_are_reported_in_order_and_the_other_files_done) {
    // Enough files for the two workers to share them. Outputs blocked by a
    // directory fail only once extraction has begun, so the files still
    // count as independent and the workers run.
    std::vector<std::string> args;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "f" + std::to_string(i) + ".dat";
        write_bytes(work_ / name, std::string(1, '\0') + hiragana_run(i) + std::string(1, '\0'));
        args.push_back(name);
    }
    fs::create_directory(at("f2.txt"));
    fs::create_directory(at("f5.txt"));
    Result r = run(args);
    EXPECT_RUN(r, 1);
    std::istringstream lines(r.err);
    std::string first, second, rest;
    std::getline(lines, first);
    std::getline(lines, second);
    std::getline(lines, rest, '\0');
    EXPECT_TRUE(first.starts_with("kurvane: f2.txt: ")) << r.err;
    EXPECT_TRUE(first.ends_with(": Is a directory")) << r.err;
    EXPECT_TRUE(second.starts_with("kurvane: f5.txt: ")) << r.err;
    EXPECT_EQ(rest, "") << r.err;
    for (int i = 0; i < 8; ++i) {
        if (i == 2 || i == 5) continue;
        const std::string name = "f" + std::to_string(i) + ".txt";
        EXPECT_EQ(read_bytes(work_ / name), hiragana_run(i) + "\r\n") << name;
    }

    // A missing file and a directory among the files.
    fs::create_directory(at("sub"));
    r = run({"missing.dat", "f0.dat", "sub", "f1.dat"});
    EXPECT_RUN(r, 1);
    EXPECT_TRUE(r.err.starts_with("kurvane: missing.dat: ")) << r.err;
    const std::size_t line_end = r.err.find('\n');
    EXPECT_EQ(r.err.substr(line_end - std::strlen(": No such file or directory"), std::strlen(": No such file or directory")),
              ": No such file or directory") << r.err;
    EXPECT_EQ(r.err.substr(line_end + 1), "kurvane: sub: is a directory\n");
    EXPECT_FALSE(fs::exists(at("missing.txt")));
    EXPECT_FALSE(fs::exists(at("sub.txt")));
}

TEST_F(cli_binary, a_name_too_long_for_its_output_name_is_a_failure) {
    // 251 bytes before the first '.' still fit the output name; 252 do not.
    const std::string fits = std::string(251, 'a') + ".dat";
    const std::string too_long = std::string(252, 'b') + ".dat";
    write_bytes(work_ / fits, hiragana_data);
    write_bytes(work_ / too_long, hiragana_data);
    const Result r = run({too_long, fits});
    EXPECT_RUN(r, 1);
    EXPECT_TRUE(r.err.starts_with("kurvane: " + too_long + ": ")) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(read_bytes(work_ / (std::string(251, 'a') + ".txt")), hiragana_text);
}

TEST_F(cli_binary, inputs_whose_outputs_clash_are_refused_before_anything_is_written) {
    put("a.dat", hiragana_data);
    put("a.b.dat", mixed_data);
    fs::create_directory(at("dir"));
    put("dir/a.dat", mixed_data);
    fs::create_directory(at("out"));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"a.dat", "a.b.dat"}, "kurvane: a.dat and a.b.dat would both be written to a.txt; nothing was extracted\n"},
        {{"a.dat", "./a.dat"}, "kurvane: a.dat and ./a.dat would both be written to ./a.txt; nothing was extracted\n"},
        {{"-d", "out", "a.dat", "dir/a.dat"},
         "kurvane: a.dat and dir/a.dat would both be written to out/a.txt; nothing was extracted\n"},
        {{"-d", ".", "dir/a.dat", "a.b.dat"},
         "kurvane: dir/a.dat and a.b.dat would both be written to ./a.txt; nothing was extracted\n"},
    };
    for (const Case& c : cases) {
        const Result r = run(c.args);
        EXPECT_RUN(r, 2);
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(names(), (std::set<std::string>{"a.b.dat", "a.dat", "dir", "out"}));
        EXPECT_TRUE(fs::is_empty(at("out")));
    }
    // An output that is another input of the command is refused the same way.
    put("a.txt", "keep");
    const Result r = run({"a.dat", "a.txt"});
    EXPECT_RUN(r, 2);
    EXPECT_EQ(r.err, "kurvane: a.dat would be written to a.txt, which is the input a.txt; nothing was extracted\n");
    EXPECT_EQ(file("a.txt"), "keep");
}

TEST_F(cli_binary, standard_input_and_several_files_to_standard_output) {
    put("a.dat", hiragana_data);
    put("m.dat", mixed_data);
    write_bytes(stdin_path_, mixed_data);
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"-"}, {"-o", "-", "/dev/stdin"}}) {
        const Result r = run(args);
        EXPECT_RUN(r, 0);
        EXPECT_EQ(r.out, mixed_text_default) << args.size() << " arguments";
    }
    // In order, standard input where it stands among the files.
    Result r = run({"-o", "-", "m.dat", "-", "a.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.out, mixed_text_default + mixed_text_default + hiragana_text);
    EXPECT_EQ(names(), (std::set<std::string>{"a.dat", "m.dat"}));

    // A failed file among them is reported and the others still written.
    r = run({"-o", "-", "missing.dat", "a.dat"});
    EXPECT_RUN(r, 1);
    EXPECT_EQ(r.out, hiragana_text);
    EXPECT_TRUE(r.err.starts_with("kurvane: missing.dat: ")) << r.err;

    // The name -f gives standard input, and standard input into a named file.
    r = run({"-f", "-c", "+ascii", "-"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.out, "{standard input}: ABC\r\n{standard input}: \x82\xa0\r\n");
    r = run({"-o", "in.txt"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(file("in.txt"), mixed_text_default);
}

// A sentence (code page 932) planted among random bytes 30 times, as
// strings lie in a program's data.
const std::string sentence(
    "\x8e\x9f\x82\xcc\x83\x58\x83\x65\x81\x5b\x83\x57\x82\xd6\x90\x69\x82\xdd\x82\xdc\x82\xb7\x82\xa9\x81\x48");
std::string planted_data() {
    std::mt19937 rng(3);
    std::string d;
    for (int k = 0; k < 30; ++k) {
        for (int n = 0; n < 300; ++n) d += static_cast<char>(rng());
        d += sentence;
    }
    return d;
}
std::string xored(std::string d, unsigned char key) {
    for (char& c : d) c = static_cast<char>(static_cast<unsigned char>(c) ^ key);
    return d;
}
std::size_t count_of(const std::string& text, const std::string& line) {
    std::size_t n = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
}

TEST_F(cli_binary, text_keeps_the_planted_sentences_whole) {
    const int default_score = 50;  // what --help says
    put("a.dat", planted_data());
    Result r = run({"--defaults", "--text", "-o", "-", "a.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(count_of(r.out, sentence), 30u);
    const auto lines = [](const std::string& text) { return count_of(text, "\n"); };
    EXPECT_LT(lines(r.out), 35u);
    // The plain pass finds the noise as well.
    EXPECT_GT(lines(run({"--defaults", "-c", "+ascii", "-o", "-", "a.dat"}).out), 300u);

    // The score before each line's text, and as a JSON field.
    const Result scored = run({"--defaults", "--text", "--score", "-o", "-", "a.dat"});
    EXPECT_RUN(scored, 0);
    std::istringstream in(scored.out);
    std::size_t prefixed = 0;
    for (std::string line; std::getline(in, line);) {
        const int score = std::atoi(line.substr(0, 3).c_str());
        prefixed += line.size() > 4 && line[3] == ' ' && score >= default_score && score <= 100;
    }
    EXPECT_EQ(prefixed, lines(r.out));
    EXPECT_EQ(scored.out.size(), r.out.size() + 4 * prefixed);
    r = run({"--defaults", "--text", "--json", "-o", "-", "a.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(count_of(r.out, ",\"score\":"), lines(r.out));
    EXPECT_EQ(count_of(r.out, ",\"score\":100}"), 30u);

    r = run({"--text", "--min-score=101", "a.dat"});
    EXPECT_RUN(r, 2);
    EXPECT_TRUE(r.err.starts_with("kurvane: --min-score must be a whole number from 0 to 100: '101'\n"))
        << r.err;
}

TEST_F(cli_binary, xor_auto_finds_the_key_or_says_there_is_none) {
    put("a.dat", planted_data());
    put("x.dat", xored(planted_data(), 0x5A));
    std::mt19937 rng(5);
    std::string noise;
    for (int n = 0; n < 20000; ++n) noise += static_cast<char>(rng());
    put("n.dat", noise);
    const Result plain = run({"--defaults", "--text", "-o", "-", "a.dat"});

    Result r = run({"--defaults", "--text", "--xor=auto", "-o", "-", "x.dat", "a.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.err, "kurvane: x.dat: XOR key 0x5A\n"
                     "kurvane: a.dat: no XOR key reads clearly better than none; no XOR is used\n");
    EXPECT_EQ(r.out, plain.out + plain.out);

    // A file of noise gets no key, and the extraction is the plain one.
    r = run({"--defaults", "--xor=auto", "-o", "-", "n.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.err, "kurvane: n.dat: no XOR key reads clearly better than none; no XOR is used\n");
    EXPECT_EQ(r.out, run({"--defaults", "-o", "-", "n.dat"}).out);

    // Each file beside itself, the message in Japanese; standard input
    // cannot be sampled and is a failure, the other files still done.
    write_bytes(stdin_path_, planted_data());
    r = run({"--defaults", "-x", "auto", "--text", "x.dat", "-"}, "ja_JP.UTF-8");
    EXPECT_RUN(r, 1);
    EXPECT_EQ(r.err, utf8(u8"kurvane: x.dat: XOR キー 0x5A\n") +
                         utf8(u8"kurvane: -: --xor=auto には途中を読める通常のファイルが必要です\n"));
    EXPECT_EQ(file("x.txt"), plain.out);
}

TEST_F(cli_binary, output_dir_takes_the_outputs_under_their_usual_names) {
    put("a.dat", hiragana_data);
    fs::create_directory(at("dir"));
    put("dir/m.b.dat", mixed_data);
    fs::create_directory(at("out"));
    const Result r = run({"--output-dir=out", "a.dat", "dir/m.b.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(file("out/a.txt"), hiragana_text);
    EXPECT_EQ(file("out/m.txt"), mixed_text_default);
    EXPECT_FALSE(fs::exists(at("a.txt")));
    EXPECT_FALSE(fs::exists(at("dir/m.txt")));
}

TEST_F(cli_binary, write_errors_are_failures) {
    put("a.dat", hiragana_data);
    Result r = run({"-o", "/dev/full", "a.dat"});
    EXPECT_RUN(r, 1);
    EXPECT_TRUE(r.err.starts_with("kurvane: /dev/full: ")) << r.err;
    EXPECT_TRUE(r.err.ends_with(": No space left on device\n")) << r.err;

    r = run({"-o", "-", "a.dat"}, "C.UTF-8", "/dev/full");
    EXPECT_RUN(r, 1);
    EXPECT_TRUE(r.err.ends_with(": No space left on device\n")) << r.err;

    r = run({"--version"}, "C.UTF-8", "/dev/full");
    EXPECT_RUN(r, 1);
}

TEST_F(cli_binary, an_output_that_cannot_be_created_is_a_failure) {
    put("a.dat", hiragana_data);
    const Result r = run({"-o", "no-such-dir/a.txt", "a.dat"});
    EXPECT_RUN(r, 1);
    EXPECT_TRUE(r.err.starts_with("kurvane: no-such-dir/a.txt: ")) << r.err;
    EXPECT_TRUE(r.err.ends_with(": No such file or directory\n")) << r.err;
}

// `blocks` runs of `run_bytes` bytes of one double-byte character (between
// zero bytes), and the text they give.
struct LargeInput {
    std::string data;
    std::string text;
};
LargeInput large_input(const char* character, std::size_t run_bytes, std::size_t blocks) {
    std::string run;
    while (run.size() < run_bytes) run += character;
    LargeInput input;
    input.data.reserve(blocks * (run.size() + 1));
    input.text.reserve(blocks * (run.size() + 2));
    for (std::size_t k = 0; k < blocks; ++k) {
        input.data += run;
        input.data += '\0';
        input.text += run;
        input.text += "\r\n";
    }
    return input;
}

// A run stopped by a signal while it writes leaves the previous output as it
// was and no temporary file, and dies of that signal; one that finished
// before the signal has written the whole output.
TEST_F(cli_binary, a_stopped_run_leaves_the_previous_output) {
    const LargeInput input = large_input("\x8a\xbf", 1000, 40000);  // 漢, 40 MB
    put("big.dat", input.data);
    const std::string previous = "previous\r\n";
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        put("big.txt", previous);
        const std::set<std::string> before = names();
        const Child child = start({"big.dat"});
        // Signalled as soon as its temporary file is there (or after 30 ms).
        for (int waited = 0; waited < 30 && names() == before; ++waited) usleep(1000);
        kill(child.pid, signal_number);
        const Result r = finish(child);
        if (r.signal != 0) {
            EXPECT_EQ(r.signal, signal_number) << r.err;
            EXPECT_TRUE(file("big.txt") == previous) << "signal " << signal_number;
        } else {
            EXPECT_RUN(r, 0) << " signal " << signal_number;
            EXPECT_TRUE(file("big.txt") == input.text) << "signal " << signal_number;
        }
        EXPECT_EQ(names(), before) << "signal " << signal_number;
    }
}

// Two runs writing one output at once: it is replaced whole by one of them.
TEST_F(cli_binary, runs_writing_one_output_at_once_leave_one_whole_output) {
    const LargeInput kanji = large_input("\x8a\xbf", 1000, 24000);    // 漢
    const LargeInput hiragana = large_input("\x82\xa0", 600, 30000);  // あ
    put("k.dat", kanji.data);
    put("h.dat", hiragana.data);
    put("same.txt", "previous\r\n");
    int gate[2];
    ASSERT_EQ(pipe2(gate, O_CLOEXEC), 0);
    const Child first = start({"-o", "same.txt", "k.dat"}, "C.UTF-8", nullptr, "1", gate[0]);
    const Child second = start({"-o", "same.txt", "h.dat"}, "C.UTF-8", nullptr, "2", gate[0]);
    EXPECT_EQ(write(gate[1], "go", 2), 2);  // a byte for each
    close(gate[1]);
    close(gate[0]);
    EXPECT_RUN(finish(first), 0);
    EXPECT_RUN(finish(second), 0);
    const std::string text = file("same.txt");
    EXPECT_TRUE(text == kanji.text || text == hiragana.text) << text.size() << " bytes";
    EXPECT_EQ(names(), (std::set<std::string>{"h.dat", "k.dat", "same.txt"}));
}

TEST_F(cli_binary, settings_come_from_setting_dat_or_the_named_file) {
    kurvane::ExtractionSettings upper;
    upper.half_upper = 1;
    const std::vector<unsigned char> upper_bytes = kurvane::encode_settings("dat", upper);
    put("setting.dat", std::string(upper_bytes.begin(), upper_bytes.end()));
    put("m.dat", mixed_data);

    Result r = run({"m.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(file("m.txt"), mixed_text_upper);

    // -s replaces setting.dat; here a file holding the defaults.
    const std::vector<unsigned char> default_bytes = kurvane::encode_settings("", {});
    write_bytes(root_ / "defaults.dat", std::string(default_bytes.begin(), default_bytes.end()));
    r = run({"-s", (root_ / "defaults.dat").string(), "m.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(file("m.txt"), mixed_text_default);

    // The settings file itself is never written.
    EXPECT_EQ(file("setting.dat"), std::string(upper_bytes.begin(), upper_bytes.end()));
}

TEST_F(cli_binary, unreadable_settings_stop_before_anything_is_extracted) {
    put("m.dat", mixed_data);
    Result r = run({"-s", "missing.dat", "m.dat"});
    EXPECT_RUN(r, 2);
    EXPECT_EQ(r.err, "kurvane: cannot read settings missing.dat: No such file or directory\n");
    EXPECT_FALSE(fs::exists(at("m.txt")));

    fs::create_directory(at("setting.dat"));
    r = run({"m.dat"});
    EXPECT_RUN(r, 2);
    EXPECT_EQ(r.err, "kurvane: cannot read settings setting.dat: Is a directory\n");
    EXPECT_FALSE(fs::exists(at("m.txt")));

    r = run({"-e", "dat"});
    EXPECT_RUN(r, 2);
    EXPECT_FALSE(fs::exists(at("m.txt")));
}

TEST_F(cli_binary, ext_search_extracts_every_listed_file) {
    put("a.dat", hiragana_data);
    put("B.DAT", mixed_data);
    put("c.bin", hiragana_data);
    fs::create_directory(at("d.dat"));  // listed, passed over silently
    // A FIFO that nobody writes to: reading it would block the walk forever.
    ASSERT_EQ(mkfifo(at("f.dat").c_str(), 0600), 0);
    const Result r = run({"-e", "dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.err, std::string("kurvane: conversion finished\n"));
    EXPECT_EQ(file("a.txt"), hiragana_text);
    EXPECT_EQ(file("B.txt"), mixed_text_default);
    EXPECT_FALSE(fs::exists(at("c.txt")));
    EXPECT_FALSE(fs::exists(at("d.txt")));
    EXPECT_FALSE(fs::exists(at("f.txt")));
}

TEST_F(cli_binary, ext_search_extracts_names_of_any_script_beside_themselves) {
    const struct {
        const char8_t* name;
        const char8_t* output;
    } cases[] = {
        {u8"台本.dat", u8"台本.txt"},
        {u8"表示.dat", u8"表示.txt"},  // 0x5C trail byte in code page 932
        {u8"café.v2.dat", u8"café.txt"},
        {u8"한국어.dat", u8"한국어.txt"},
        {u8"セーブ😀.dat", u8"セーブ😀.txt"},
    };
    for (const auto& c : cases) put(utf8(c.name).c_str(), hiragana_data);
    const Result r = run({"-e", "dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.err, std::string("kurvane: conversion finished\n"));
    for (const auto& c : cases) EXPECT_EQ(file(utf8(c.output).c_str()), hiragana_text) << utf8(c.name);
}

TEST_F(cli_binary, ext_search_never_overwrites_an_output_of_the_same_walk) {
    put("save.1.dat", hiragana_data);
    put("save.2.dat", mixed_data);
    const Result r = run({"-e", "dat"});
    EXPECT_RUN(r, 1);
    EXPECT_EQ(file("save.txt"), hiragana_text);  // the first file's text is kept
    EXPECT_EQ(r.err, utf8(u8"kurvane: not converted, as their output has the name of one converted before them:\n"
                          u8"kurvane: save.2.dat → save.txt\n"
                          u8"kurvane: conversion finished\n"));
}

// The walk's messages are the dialog's texts under a Japanese locale and
// English otherwise, one line each; a search pattern is printed as typed.
TEST_F(cli_binary, ext_search_messages_follow_the_locale) {
    put("a.txt", "keep");
    put("save.1.dat", hiragana_data);
    put("save.2.dat", mixed_data);
    put("save.3.dat", mixed_data);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string english;
        std::string japanese;
    };
    const Case cases[] = {
        {{"-e", "txt"}, 1, "kurvane: the extension txt cannot be searched: it is the outputs' own\n",
         utf8(u8"kurvane: 拡張子がtxtはこちらの都合上無理です。\n")},
        {{"-e", "TXT"}, 1, "kurvane: the extension txt cannot be searched: it is the outputs' own\n",
         utf8(u8"kurvane: 拡張子がtxtはこちらの都合上無理です。\n")},
        {{"--ext="}, 1, "kurvane: no extension to search for was given\n",
         utf8(u8"kurvane: 検索する拡張子が入力されていない。\n")},
        {{"-e", "xyz"}, 1, "kurvane: no file matches *.xyz\n", utf8(u8"kurvane: *.xyzファイルは発見できませんでした。\n")},
        {{"-e", utf8(u8"あ")}, 1, utf8(u8"kurvane: no file matches *.あ\n"),
         utf8(u8"kurvane: *.あファイルは発見できませんでした。\n")},
        // Every name passed over has a line of its own, under the intro.
        {{"-e", "dat"}, 1,
         utf8(u8"kurvane: not converted, as their output has the name of one converted before them:\n"
              u8"kurvane: save.2.dat → save.txt\nkurvane: save.3.dat → save.txt\nkurvane: conversion finished\n"),
         utf8(u8"kurvane: 次のファイルは、先に変換したファイルと出力ファイル名が同じになるため変換しませんでした。\n"
              u8"kurvane: save.2.dat → save.txt\nkurvane: save.3.dat → save.txt\nkurvane: 変換が終了しました。\n")},
    };
    for (const Case& c : cases) {
        for (const char* locale : {"C", "C.UTF-8", "LANG=ja_JP.UTF-8"}) {
            fs::remove(at("save.txt"));
            const Result r = run(c.args, locale);
            EXPECT_RUN(r, c.status) << c.args.back() << " " << locale;
            EXPECT_EQ(r.err, std::string_view(locale).starts_with("LANG=ja") ? c.japanese : c.english)
                << c.args.back() << " " << locale;
        }
    }
    EXPECT_EQ(file("a.txt"), "keep");
    EXPECT_EQ(file("save.txt"), hiragana_text);
}

TEST_F(cli_binary, ext_search_with_wildcards_never_destroys_a_text_file) {
    put("keep.txt", "keep this");
    put("b.dat", hiragana_data);
    fs::create_directory(at("sub"));
    Result r = run({"-e", "*"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.err, std::string("kurvane: conversion finished\n"));
    EXPECT_EQ(file("keep.txt"), "keep this");
    EXPECT_EQ(file("b.txt"), hiragana_text);

    // a.dat's own output is a.txt: it is replaced by a.dat's text, never
    // truncated by being opened as its own output.
    put("a.dat", mixed_data);
    put("a.txt", "old");
    r = run({"-e", "*"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(file("a.txt"), mixed_text_default);
    EXPECT_EQ(file("keep.txt"), "keep this");
}

TEST_F(cli_binary, ext_search_reports_a_file_it_cannot_read) {
    // A link to nothing is listed by the search but cannot be opened, even
    // with privileges that ignore permissions (CI runs as root).
    fs::create_symlink("missing", at("a.dat"));
    put("b.dat", hiragana_data);
    const Result r = run({"-e", "dat"});
    EXPECT_RUN(r, 1);
    std::istringstream lines(r.err);
    std::string first, rest;
    std::getline(lines, first);
    std::getline(lines, rest, '\0');
    EXPECT_TRUE(first.starts_with("kurvane: a.dat: ")) << r.err;
    EXPECT_TRUE(first.ends_with(": No such file or directory")) << r.err;
    EXPECT_EQ(rest, std::string("kurvane: conversion finished\n"));
    EXPECT_EQ(file("b.txt"), hiragana_text);
}

TEST_F(cli_binary, ext_cannot_be_combined_with_files_or_output) {
    put("a.dat", hiragana_data);
    EXPECT_RUN(run({"-e", "dat", "a.dat"}), 2);
    EXPECT_RUN(run({"-e", "dat", "-o", "x.txt"}), 2);
    EXPECT_FALSE(fs::exists(at("a.txt")));
    EXPECT_FALSE(fs::exists(at("x.txt")));
}

TEST_F(cli_binary, version_help_and_usage_errors) {
    Result r = run({"--version"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.out, "kurvane 0.8.4\n");

    r = run({"--help"});
    EXPECT_RUN(r, 0);
    EXPECT_TRUE(r.out.starts_with("Usage: kurvane [OPTION]... [FILE]...\n")) << r.out;
    EXPECT_EQ(r.err, "");

    r = run({"--frobnicate", "a.dat"});
    EXPECT_RUN(r, 2);
    EXPECT_EQ(r.err, "kurvane: unrecognized option '--frobnicate'\nTry 'kurvane --help' for more information.\n");

    r = run({"a.dat", "-o"});
    EXPECT_RUN(r, 2);
    EXPECT_EQ(r.err, "kurvane: option requires an argument -- 'o'\nTry 'kurvane --help' for more information.\n");

    // No FILE reads standard input, here empty.
    r = run({});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.out, "");
}

TEST_F(cli_binary, setting_options_override_the_file_and_save_a_file_the_program_reads) {
    kurvane::ExtractionSettings upper;
    upper.half_upper = 1;
    const std::vector<unsigned char> upper_bytes = kurvane::encode_settings("dat", upper);
    put("setting.dat", std::string(upper_bytes.begin(), upper_bytes.end()));
    put("m.dat", mixed_data);

    Result r = run({"-o", "-", "-n", "3", "m.dat"});  // あ is 2 bytes: too short now
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.out, "ABC\r\n");
    r = run({"-o", "-", "--defaults", "m.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.out, mixed_text_default);
    r = run({"-o", "-", "-c", "-half-upper", "--no-newline", "m.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.out, "\x82\xa0");

    r = run({"--save-settings=saved.dat", "-n", "3", "-x", "0x20", "-c", "+hiragana,-kanji", "--exclude=0x8140",
             "--keep=" + utf8(u8"漢字")});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.out + r.err, "");
    std::string extension;
    kurvane::ExtractionSettings saved;
    const std::string bytes = file("saved.dat");
    kurvane::decode_settings({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}, extension, saved);
    EXPECT_EQ(bytes.size(), std::size_t{3 + 231});
    EXPECT_EQ(extension, "dat");  // kept from the file that was read
    EXPECT_EQ(saved.min_length, 3u);
    EXPECT_EQ(saved.xor_value, 0x20u);
    EXPECT_EQ(saved.half_upper, 1);
    EXPECT_EQ(saved.full_kanji, 0);
    EXPECT_EQ(saved.excluded_pairs[0][0], 0x81);
    EXPECT_EQ(saved.excluded_pairs[0][1], 0x40);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(saved.exempt_strings[0])), "\x8a\xbf\x8e\x9a");

    // The options stored after the layout: a block only when one is off its
    // default, and a save with the default options keeps the loaded block.
    r = run({"--save-settings=options.dat", "--encoding=utf-8", "--text", "--min-score=70"});
    EXPECT_RUN(r, 0);
    const std::string with_block = file("options.dat");
    ASSERT_EQ(with_block.size(), std::size_t{3 + 231 + 28});
    EXPECT_EQ(with_block.substr(3 + 231),
              std::string("KVX1\x01\0\x04\0\x01\0\0\0\x02\0\x04\0\x01\0\0\0\x03\0\x04\0\x46\0\0\0", 28));
    r = run({"-s", "options.dat", "--save-settings=again.dat", "-n", "3"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(file("again.dat").substr(3 + 231), with_block.substr(3 + 231));

    r = run({"-s", "saved.dat", "--show-settings"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.out, utf8(u8"settings-file=saved.dat\nextension=dat\nmin-length=3\nxor=32\n"
                          u8"classes=half-upper,hiragana,katakana,full-digit,full-upper,full-lower,cyrillic,greek,full-symbol\n"
                          u8"newline=yes\nexclude=0x8140 　\nkeep=漢字\n"));
    EXPECT_FALSE(fs::exists(at("m.txt")));
    EXPECT_EQ(file("setting.dat"), std::string(upper_bytes.begin(), upper_bytes.end()));
}

// --save-settings writes where an output would be written: the file a link
// leads to, and a FIFO or a device in place, never replacing either.
TEST_F(cli_binary, save_settings_never_replaces_what_is_not_a_regular_file) {
    const std::vector<unsigned char> defaults = kurvane::encode_settings("", kurvane::ExtractionSettings{});
    const std::string saved(defaults.begin(), defaults.end());
    put("real.dat", "real");
    fs::create_symlink("real.dat", at("link.dat"));
    ASSERT_EQ(mkfifo(at("p").c_str(), 0600), 0);
    // Devices of the test's own, where it may make them (as root).
    const bool devices = mknod(at("nul").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
                         mknod(at("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;

    Result r = run({"--defaults", "--save-settings=link.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_TRUE(fs::is_symlink(at("link.dat")));
    EXPECT_EQ(file("real.dat"), saved);

    // The reader gives up after a while: a save that replaced the FIFO
    // would leave it waiting for a writer forever.
    r = sh("timeout 10 cat p > from-fifo & \"$K\" --defaults --save-settings=p; s=$?; wait; exit $s");
    EXPECT_RUN(r, 0);
    EXPECT_TRUE(fs::is_fifo(at("p")));
    EXPECT_EQ(file("from-fifo"), saved);

    if (devices) {
        r = run({"--defaults", "--save-settings=nul"});
        EXPECT_RUN(r, 0);
        r = run({"--defaults", "--save-settings=full"});
        EXPECT_RUN(r, 1);
        EXPECT_EQ(r.err, "kurvane: cannot save settings full: No space left on device\n");
        EXPECT_TRUE(fs::is_character_file(at("nul")));
        EXPECT_TRUE(fs::is_character_file(at("full")));
    }
}

// --save-settings onto a file the same command reads or writes is refused
// before anything is saved or extracted.
TEST_F(cli_binary, save_settings_onto_an_input_or_an_output_is_refused) {
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"--save-settings=in.dat", "in.dat"},
         "kurvane: --save-settings=in.dat is the input in.dat; nothing was saved or extracted\n"},
        {{"--save-settings=./in.dat", "-o", "-", "in.dat"},
         "kurvane: --save-settings=./in.dat is the input in.dat; nothing was saved or extracted\n"},
        {{"--save-settings=hard.lnk", "in.dat"},
         "kurvane: --save-settings=hard.lnk is the input in.dat; nothing was saved or extracted\n"},
        {{"--save-settings=in.txt", "in.dat"},
         "kurvane: --save-settings=in.txt is where in.dat would be written; nothing was saved or extracted\n"},
        {{"--save-settings=out.bin", "-o", "out.bin", "in.dat"},
         "kurvane: --save-settings=out.bin is where in.dat would be written; nothing was saved or extracted\n"},
        {{"--save-settings=in.dat", "-"},
         "kurvane: --save-settings=in.dat is the input -; nothing was saved or extracted\n"},
        {{"--save-settings=in.dat", "-e", "dat"},
         "kurvane: --save-settings=in.dat is the input in.dat; nothing was saved or extracted\n"},
        {{"--save-settings=in.txt", "-e", "dat"},
         "kurvane: --save-settings=in.txt is where in.dat would be written; nothing was saved or extracted\n"},
    };
    put("in.dat", hiragana_data);
    fs::create_hard_link(at("in.dat"), at("hard.lnk"));
    stdin_path_ = at("in.dat");
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_RUN(r, 2) << c.args.front();
        EXPECT_EQ(r.err, c.err) << c.args.front();
        EXPECT_EQ(file("in.dat"), hiragana_data) << c.args.front();
        EXPECT_EQ(names(), (std::set<std::string>{"hard.lnk", "in.dat"})) << c.args.front();
    }
    // Elsewhere the settings are saved and the file extracted.
    const Result r = run({"--defaults", "--save-settings=other.dat", "in.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(file("in.txt"), hiragana_text);
    EXPECT_EQ(file("other.dat").size(), std::size_t{231});
}

// A name with control characters is quoted as a shell reads it back, so a
// message stays one line and sends no control sequence to the terminal.
TEST_F(cli_binary, control_characters_in_names_are_quoted) {
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"nl\nmissing.dat"}, "kurvane: 'nl'$'\\n''missing.dat': cannot open input: No such file or directory\n"},
        {{"\x1b[31mred\t.dat"}, "kurvane: $'\\033''[31mred'$'\\t''.dat': cannot open input: No such file or directory\n"},
        {{"it's\r.dat"}, "kurvane: 'it'\\''s'$'\\r''.dat': cannot open input: No such file or directory\n"},
        {{"-s", "a\nb"}, "kurvane: cannot read settings 'a'$'\\n''b': No such file or directory\n"},
        {{"--defaults", "--save-settings=no\ndir/s.dat"},
         "kurvane: cannot save settings 'no'$'\\n''dir/s.dat': No such file or directory\n"},
        {{"--defaults", "-o", "no\ndir/a.txt", "a.dat"},
         "kurvane: 'no'$'\\n''dir/a.txt': cannot create output: No such file or directory\n"},
        {{"--defaults", "-e", "x\ny"}, "kurvane: no file matches '*.x'$'\\n''y'\n"},
        // An option's argument is quoted by the message already: its control
        // characters are escaped inside the quotes.
        {{"-n", "1\n2", "a.dat"},
         "kurvane: --min-length must be a whole number from 1 to 4294967295: '1\\n2'\n"
         "Try 'kurvane --help' for more information.\n"},
        {{"--fr\x1bob"}, "kurvane: unrecognized option '--fr\\033ob'\nTry 'kurvane --help' for more information.\n"},
        {{"--defaults", "a\n.dat", "a\n.1.dat"},
         "kurvane: 'a'$'\\n''.dat' and 'a'$'\\n''.1.dat' would both be written to 'a'$'\\n''.txt'; nothing was extracted\n"},
    };
    put("a.dat", hiragana_data);
    put("a\n.dat", hiragana_data);
    put("a\n.1.dat", hiragana_data);
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.err, c.err) << c.args.front();
    }
}

TEST_F(cli_binary, messages_follow_the_locale) {
    put("a.dat", hiragana_data);
    put("a.b.dat", hiragana_data);
    struct Case {
        std::vector<std::string> args;
        const char* locale;
        std::string err;
    };
    const Case cases[] = {
        {{"--frob"}, "LANG=C", "kurvane: unrecognized option '--frob'\nTry 'kurvane --help' for more information.\n"},
        {{"--frob"}, "LANG=ja_JP.UTF-8",
         utf8(u8"kurvane: 認識できないオプションです: '--frob'\n詳しくは 'kurvane --help' を実行してください。\n")},
        {{"a.dat", "a.b.dat"}, "LC_ALL=ja_JP.UTF-8",
         utf8(u8"kurvane: a.dat と a.b.dat はどちらも a.txt に書き出されることになります。何も抜き出していません\n")},
        {{"missing.dat"}, "LANG=ja_JP.UTF-8", utf8(u8"kurvane: missing.dat: 入力ファイルを開けません: ")},
    };
    for (const Case& c : cases) {
        const Result r = run(c.args, c.locale);
        EXPECT_TRUE(r.err.starts_with(c.err)) << c.locale << "\n" << r.err;
    }
    const Result help = run({"--help"}, "LANG=ja_JP.UTF-8");
    EXPECT_TRUE(help.out.starts_with(utf8(u8"使い方: kurvane"))) << help.out;
}

}  // namespace
namespace {

// Data with text of every class among random bytes: hiragana, kanji,
// katakana, full-width symbols (the double-byte space among them), ASCII
// words with the escape \n, half-width katakana, and the strings はい and
// HP that the cases below keep.
std::string varied_data() {
    const char* const parts[] = {
        "\x82\xa0\x82\xa2\x82\xa4\x82\xa6",  // あいうえ
        "\x8a\xbf\x8e\x9a\x95\xb6\x8f\x91",  // 漢字文書
        "\x83\x4a\x83\x5e\x83\x4a\x83\x69",  // カタカナ
        "\x81\x40\x81\x41\x81\x42",          // 　、。
        "HP 100\\n score", "\xb1\xb2\xb3\xb4", "\x82\xcd\x82\xa2",  // ｱｲｳｴ, はい
        "A\x82\xa0" "B", "\x81\x40\x8a\xbf\x81\x40", "HP",
    };
    std::string data;
    std::uint32_t state = 12345;
    const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    while (data.size() < (std::size_t{1} << 20)) {
        const std::uint32_t roll = next() >> 24;
        if (roll < 100) {
            for (std::uint32_t k = (next() >> 28) + 1; k > 0; --k) data += static_cast<char>(next() >> 24);
        } else {
            for (std::uint32_t k = (next() >> 29) + 1; k > 0; --k) data += parts[(next() >> 16) % std::size(parts)];
            if (roll & 1) data += '\0';
        }
    }
    return data;
}

// Code page 932 to UTF-8 with the system's converter, independent of the
// program's own table.
std::string iconv_utf8(const std::string& cp932) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "iconv_open failed";
    std::string out(cp932.size() * 3 + 16, '\0');
    char* in = const_cast<char*>(cp932.data());
    std::size_t in_left = cp932.size();
    char* dst = out.data();
    std::size_t out_left = out.size();
    const std::size_t done = iconv(cd, &in, &in_left, &dst, &out_left);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1)) return "iconv failed";
    out.resize(out.size() - out_left);
    return out;
}

std::string crlf_to_lf(std::string text) {
    std::string out;
    for (std::size_t k = 0; k < text.size(); ++k)
        if (!(text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n')) out += text[k];
    return out;
}

}  // namespace

// Each setting given as options gives exactly the output of the same record
// loaded from a setting.dat.
TEST_F(cli_binary, setting_options_equal_the_same_record_from_a_file) {
    const std::string data = varied_data();
    std::string xored = data;
    for (char& c : xored) c = static_cast<char>(c ^ 0x5A);
    put("plain.dat", data);
    put("xored.dat", xored);
    const auto with = [](auto change) {
        kurvane::ExtractionSettings s;
        change(s);
        return s;
    };
    struct Case {
        std::vector<std::string> options;
        const char* input;
        kurvane::ExtractionSettings record;
    };
    const Case cases[] = {
        {{"-n", "8"}, "plain.dat", with([](auto& s) { s.min_length = 8; })},
        {{"-c", "+ascii"}, "plain.dat",
         with([](auto& s) { s.half_digits = s.half_upper = s.half_lower = s.half_symbols = 1; })},
        {{"-c", "kanji,half-kana", "--no-newline"}, "plain.dat", with([](auto& s) {
             s.full_hiragana = s.full_katakana = s.full_digits = s.full_upper = s.full_lower = 0;
             s.full_cyrillic = s.full_greek = s.full_symbols = 0;
             s.half_katakana = 1;
             s.auto_newline = 0;
         })},
        {{"-x", "0x5A", "-n", "4"}, "xored.dat", with([](auto& s) {
             s.xor_value = 0x5A;
             s.min_length = 4;
         })},
        {{"-c", "all", "-n", "12", "--keep=" + utf8(u8"はい"), "--keep=HP"}, "plain.dat", with([](auto& s) {
             s.half_digits = s.half_upper = s.half_lower = s.half_katakana = s.half_symbols = 1;
             s.min_length = 12;
             std::memcpy(s.exempt_strings[0], "\x82\xcd\x82\xa2", 4);
             std::memcpy(s.exempt_strings[1], "HP", 2);
         })},
        {{"-c", "+ascii", "--exclude=" + utf8(u8"　"), "--exclude=0x5C6E"}, "plain.dat", with([](auto& s) {
             s.half_digits = s.half_upper = s.half_lower = s.half_symbols = 1;
             s.excluded_pairs[0][0] = 0x81;
             s.excluded_pairs[0][1] = 0x40;
             s.excluded_pairs[1][0] = 0x5C;
             s.excluded_pairs[1][1] = 0x6E;
         })},
    };
    const Result defaults = run({"--defaults", "-o", "-", "plain.dat"});
    for (const Case& c : cases) {
        const std::vector<unsigned char> record = kurvane::encode_settings("", c.record);
        put("record.dat", std::string(record.begin(), record.end()));
        std::vector<std::string> args = {"--defaults", "-o", "-", c.input};
        args.insert(args.begin() + 1, c.options.begin(), c.options.end());
        const Result by_options = run(args);
        const Result by_file = run({"-s", "record.dat", "-o", "-", c.input});
        const std::string what = ::testing::PrintToString(c.options);
        EXPECT_RUN(by_options, 0) << what;
        EXPECT_RUN(by_file, 0) << what;
        EXPECT_FALSE(by_file.out.empty()) << what;
        EXPECT_NE(by_file.out, defaults.out) << what << ": the case changes nothing";
        EXPECT_TRUE(by_options.out == by_file.out)
            << what << ": " << by_options.out.size() << " bytes by options, " << by_file.out.size()
            << " from the file";
    }
}

// The UTF-8 output is the system converter's reading of the default output.
TEST_F(cli_binary, utf8_output_equals_iconv_of_the_default_output) {
    put("v.dat", varied_data());
    for (const std::vector<std::string>& classes : {std::vector<std::string>{}, {"-c", "all"}}) {
        std::vector<std::string> plain = {"--defaults", "-o", "-", "v.dat"};
        plain.insert(plain.end(), classes.begin(), classes.end());
        std::vector<std::string> utf8_args = plain;
        utf8_args.insert(utf8_args.end(), {"--encoding=utf-8", "--eol=lf"});
        const Result cp932 = run(plain);
        const Result converted = run(utf8_args);
        EXPECT_RUN(cp932, 0);
        EXPECT_RUN(converted, 0);
        EXPECT_FALSE(cp932.out.empty());
        EXPECT_TRUE(converted.out == iconv_utf8(crlf_to_lf(cp932.out)))
            << ::testing::PrintToString(classes) << ": " << converted.out.size() << " bytes, iconv gives "
            << iconv_utf8(crlf_to_lf(cp932.out)).size();
    }
}

namespace {

// Code page 932 text in another encoding, by the system's converter.
std::string iconv_from_cp932(const std::string& cp932, const char* to) {
    iconv_t cd = iconv_open(to, "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "iconv_open failed";
    std::string out(cp932.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(cp932.data());
    std::size_t in_left = cp932.size();
    char* dst = out.data();
    std::size_t out_left = out.size();
    const std::size_t done = iconv(cd, &in, &in_left, &dst, &out_left);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1)) return "iconv failed";
    out.resize(out.size() - out_left);
    return out;
}

// The planted sentence in `to` among the same random bytes.
std::string planted_in(const char* to) {
    std::mt19937 rng(3);
    std::string d;
    const std::string encoded = iconv_from_cp932(sentence, to);
    for (int k = 0; k < 30; ++k) {
        for (int n = 0; n < 300; ++n) d += static_cast<char>(rng());
        d += encoded;
    }
    return d;
}

}  // namespace

// Each encoding read as named, and found by auto (with its XOR key under
// --xor=auto), the text written as code page 932 or UTF-8.
TEST_F(cli_binary, input_encoding_reads_and_finds_each_encoding) {
    struct Case {
        const char* option;
        const char* iconv_name;
        const char* label;
    };
    const Case cases[] = {{"euc-jp", "EUC-JP", "EUC-JP"},
                          {"utf-8", "UTF-8", "UTF-8"},
                          {"utf-16le", "UTF-16LE", "UTF-16LE"},
                          {"utf-16be", "UTF-16BE", "UTF-16BE"}};
    put("a.dat", planted_data());
    const std::string want = run({"--defaults", "--text", "-o", "-", "a.dat"}).out;
    ASSERT_EQ(count_of(want, sentence), 30u);
    for (const Case& c : cases) {
        put("e.dat", planted_in(c.iconv_name));
        put("x.dat", xored(planted_in(c.iconv_name), 0x5A));
        const std::string option = std::string("--input-encoding=") + c.option;
        // The noise beside the sentences differs from encoding to
        // encoding, so the lines may too; the sentences are all there whole.
        const Result named = run({"--defaults", "--text", option, "-o", "-", "e.dat"});
        EXPECT_RUN(named, 0) << c.option;
        EXPECT_EQ(count_of(named.out, sentence), 30u) << c.option;
        EXPECT_LT(count_of(named.out, "\n"), 35u) << c.option;
        Result r = run({"--defaults", "--text", option, "--encoding=utf-8", "-o", "-", "e.dat"});
        EXPECT_EQ(r.out, iconv_utf8(named.out)) << c.option;
        r = run({"--defaults", "--text", "--input-encoding=auto", "-o", "-", "e.dat"});
        EXPECT_RUN(r, 0) << c.option;
        EXPECT_EQ(r.err, std::string("kurvane: e.dat: ") + c.label + " text\n");
        EXPECT_EQ(r.out, named.out) << c.option;
        r = run({"--defaults", "--text", "--input-encoding=auto", "--xor=auto", "-o", "-", "x.dat"});
        EXPECT_RUN(r, 0) << c.option;
        EXPECT_EQ(r.err, std::string("kurvane: x.dat: ") + c.label + " text\nkurvane: x.dat: XOR key 0x5A\n");
        EXPECT_EQ(r.out, named.out) << c.option;
    }

    // The default is code page 932, as without the option.
    EXPECT_EQ(run({"--defaults", "--text", "--input-encoding=cp932", "-o", "-", "a.dat"}).out, want);
    Result r = run({"--defaults", "--text", "--input-encoding=auto", "-o", "-", "a.dat"});
    EXPECT_EQ(r.err, "kurvane: a.dat: CP932 text\n");
    EXPECT_EQ(r.out, want);
    // With no text in any reading, the file is read as code page 932 and
    // no encoding is named as its text's.
    put("z.dat", std::string(1 << 16, '\0'));
    r = run({"--defaults", "--text", "--input-encoding=auto", "--xor=auto", "-o", "-", "z.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.err, "kurvane: z.dat: no text found in any encoding; read as CP932\n"
                     "kurvane: z.dat: no XOR key reads clearly better than none; no XOR is used\n");
    EXPECT_EQ(r.out, "");

    // A character code page 932 lacks is '?' and counted; UTF-8 has it.
    put("u.dat", iconv_from_cp932(sentence, "UTF-8") + "\xF0\xA0\xAE\x9F" + std::string(4, '\0'));
    r = run({"--defaults", "--input-encoding=utf-8", "-o", "-", "u.dat"});
    EXPECT_RUN(r, 0);
    EXPECT_EQ(r.out, sentence + "?\r\n");
    EXPECT_EQ(r.err, "kurvane: u.dat: characters that code page 932 lacks, written as '?': 1\n");
    // -q drops the note, to a file, to standard output and in the -e walk
    // (whose closing line stays); the text is the same.
    struct Quiet {
        std::vector<std::string> args;
        const char* err;
    };
    const Quiet quiet[] = {
        {{"--defaults", "--input-encoding=utf-8", "-q", "-o", "-", "u.dat"}, ""},
        {{"--defaults", "--input-encoding=utf-8", "--quiet", "u.dat"}, ""},
        {{"--defaults", "--input-encoding=utf-8", "-q", "-e", "dat"}, "kurvane: conversion finished\n"}};
    for (const Quiet& q : quiet) {
        r = run(q.args);
        EXPECT_RUN(r, 0) << q.args[2] << " " << q.args[3];
        EXPECT_EQ(r.err, q.err) << q.args[2] << " " << q.args[3];
    }
    EXPECT_EQ(run(quiet[0].args).out, sentence + "?\r\n");
    EXPECT_EQ(file("u.txt"), sentence + "?\r\n");
    r = run({"--defaults", "--input-encoding=utf-8", "--encoding=utf-8", "-o", "-", "u.dat"});
    EXPECT_EQ(r.out, iconv_utf8(sentence) + "\xF0\xA0\xAE\x9F\r\n");
    EXPECT_EQ(r.err, "");

    // Standard input cannot be sampled; a name that is no encoding is a usage error.
    write_bytes(stdin_path_, planted_data());
    r = run({"--defaults", "--input-encoding=auto", "-"});
    EXPECT_RUN(r, 1);
    EXPECT_EQ(r.err, "kurvane: -: --input-encoding=auto needs a regular file, which it samples at offsets\n");
    r = run({"--defaults", "--input-encoding=latin1", "a.dat"});
    EXPECT_RUN(r, 2);
    EXPECT_TRUE(r.err.starts_with("kurvane: invalid argument 'latin1' for '--input-encoding'\n")) << r.err;
}
