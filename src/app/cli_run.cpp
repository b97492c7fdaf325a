#include "app/cli_run.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>
#include <version>  // defines _GLIBCXX_HAS_GTHREADS where std::thread exists

#include "app/posix_file_search.h"
#include "app/terminal_text.h"
#include "engine/file_replacement.h"
#include "settings/settings_file.h"
#include "ui/main_dialog.h"
#include "version.h"

// MinGW's win32 thread model has no std::thread; there the files are done one
// after another, which gives the same result.
#if defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)
#define KURVANE_CLI_THREADS 0
#else
#define KURVANE_CLI_THREADS 1
#include <thread>
#endif

namespace kurvane::cli {
namespace {

constexpr unsigned max_workers = 2;
// Each worker writes one temporary file at a time; the signal handler must be
// able to find every one of them.
static_assert(max_workers <= tracked_temporary_files);

void print_line(std::FILE* err, std::string_view line) {
    std::fprintf(err, "%s: %.*s\n", program_name, static_cast<int>(line.size()), line.data());
}

std::string with_cause(std::string line, int sys_errno) {
    if (sys_errno != 0) {
        line += ": ";
        line += std::strerror(sys_errno);
    }
    return line;
}

// Writes and flushes `out`; false (errno set) when anything written to it was lost.
bool finish_stream(std::FILE* out) { return std::fflush(out) == 0 && !std::ferror(out); }

int print_text(const char* text, std::FILE* out, std::FILE* err) {
    std::fputs(text, out);
    if (finish_stream(out)) return exit_success;
    print_line(err, with_cause("write error", errno));
    return exit_failure;
}

// Loads the settings file named by -s, or setting.dat of the working
// directory when it exists, into g_settings. A file named by -s must exist.
int load_cli_settings(const Options& options, std::FILE* err) {
    const char* path = options.settings_path ? options.settings_path->c_str() : settings_file_name;
    struct stat info;
    if (options.settings_path && stat(path, &info) != 0) {
        print_line(err, with_cause(std::string("cannot read settings ") + path, errno));
        return exit_usage;
    }
    class IgnoredField : public ExtensionField {  // the saved extension is not used here
    public:
        std::string text() const override { return {}; }
        void set_text(std::string_view) override {}
    } field;
    if (load_settings(field, g_settings, path) != 0) return exit_success;
    // The loader says only that the file is there and cannot be read; find
    // out why for the message.
    std::string line = std::string("cannot read settings ") + path;
    if (stat(path, &info) != 0) {
        line = with_cause(std::move(line), errno);
    } else if (S_ISDIR(info.st_mode)) {
        line = with_cause(std::move(line), EISDIR);
    } else if (!S_ISREG(info.st_mode)) {
        line += ": not a regular file";
    }
    print_line(err, line);
    return exit_usage;
}

// Runs the jobs on up to two threads when they are independent, else in
// order on this thread; the results are indexed like the jobs.
std::vector<ExtractStatus> extract_jobs(const std::vector<FileJob>& jobs) {
    std::vector<ExtractStatus> results(jobs.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < jobs.size();) {
            results[i] = extract_to_path(jobs[i].input.c_str(), jobs[i].output.c_str(), g_settings);
        }
    };
#if KURVANE_CLI_THREADS
    if (jobs.size() > 1 && std::thread::hardware_concurrency() != 1 && jobs_are_independent(jobs)) {
        std::vector<std::thread> helpers;
        try {
            for (unsigned k = 1; k < max_workers; ++k) helpers.emplace_back(work);
        } catch (const std::system_error&) {
            // No thread to be had: this thread does all that is left.
        }
        work();
        for (std::thread& helper : helpers) helper.join();
        return results;
    }
#endif
    work();
    return results;
}

int extract_named_files(const Options& options, std::FILE* out, std::FILE* err) {
    if (options.output && *options.output == standard_output_name) {
        const std::string& input = options.files.front();
        ExtractStatus status = extract_to_stream(input.c_str(), out, g_settings);
        if (status.ok() && !finish_stream(out)) {
            status.error = ExtractError::write_output;
            status.sys_errno = errno;
        }
        if (status.ok()) return exit_success;
        print_line(err, failure_line(input, "standard output", status));
        return exit_failure;
    }

    std::vector<FileJob> jobs;
    std::vector<ExtractStatus> refused(options.files.size());
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        FileJob job{options.files[i], {}};
        if (options.output) {
            job.output = *options.output;
        } else if (!output_path_for(job.input, job.output)) {
            refused[i].error = ExtractError::name_too_long;
        }
        jobs.push_back(std::move(job));
    }
    // A name too long for an output name is reported in its place among the
    // others; it takes no part in the extraction.
    std::vector<FileJob> runnable;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (refused[i].ok()) runnable.push_back(jobs[i]);
    }
    const std::vector<ExtractStatus> done = extract_jobs(runnable);

    int status = exit_success;
    for (std::size_t i = 0, k = 0; i < jobs.size(); ++i) {
        const ExtractStatus& result = refused[i].ok() ? done[k++] : refused[i];
        if (result.ok()) continue;
        print_line(err, failure_line(jobs[i].input, jobs[i].output, result));
        status = exit_failure;
    }
    return status;
}

// The views the dialog logic runs over on a terminal.
class VectorFileList : public FileListView {
public:
    int count() const override { return static_cast<int>(names_.size()); }
    void insert_at(int index, std::string_view name) override {
        names_.insert(names_.begin() + index, std::string(name));
    }
    void delete_at(int index) override { names_.erase(names_.begin() + index); }
    std::string text_at(int index) const override { return names_[static_cast<std::size_t>(index)]; }
    int selection() const override { return -1; }

private:
    std::vector<std::string> names_;
};

class TextField : public ExtensionField {
public:
    explicit TextField(std::string text) : text_(std::move(text)) {}
    std::string text() const override { return text_; }
    void set_text(std::string_view text) override { text_ = std::string(text); }

private:
    std::string text_;
};

// Prints each message on its own line. The not-found message begins with
// the search pattern, which holds the user's bytes rather than code page 932
// text: that part is printed as it is and only the rest is converted.
class TerminalMessages : public MessageView {
public:
    TerminalMessages(const PosixFileSearch& search, std::FILE* err) : search_(search), err_(err) {}
    void show(std::string_view text, std::string_view) override {
        const std::string& pattern = search_.last_pattern();
        std::string line;
        if (!pattern.empty() && text.starts_with(pattern)) {
            line = pattern;
            text.remove_prefix(pattern.size());
        }
        line += cp932_to_terminal(text);
        print_line(err_, line);
    }

private:
    const PosixFileSearch& search_;
    std::FILE* err_;
};

int search_and_extract(const std::string& extension, std::FILE* err) {
    VectorFileList list;
    TextField field(extension);
    PosixFileSearch search;
    TerminalMessages messages(search, err);
    bool failed = false;
    auto extract = [&](const char* name) -> int {
        ExtractStatus status;
        std::string output;
        if (!output_path_for(name, output)) {
            status.error = ExtractError::name_too_long;
        } else {
            status = extract_to_path(name, output.c_str(), g_settings);
        }
        if (status.ok()) return 1;
        // A listed directory, "." and "..", and a name that is its own output
        // (a.txt listed by a wildcard) are passed over as the dialog does.
        if (status.error == ExtractError::not_regular || status.error == ExtractError::output_is_input) {
            return 0;
        }
        print_line(err, failure_line(name, output, status));
        failed = true;
        return 0;
    };
    MainDialogViews views{list, field, messages, search, extract};
    // A refused extension or an empty result ends the command here: there is
    // nothing to extract, and the refusal has been printed.
    if (search_files(views) == 0 || list.count() == 0) return exit_failure;
    if (extract_all_files(views) == 0) return exit_failure;
    return failed ? exit_failure : exit_success;
}

}  // namespace

std::string failure_line(std::string_view input, std::string_view output, const ExtractStatus& status) {
    const bool output_failed =
        status.error == ExtractError::create_output || status.error == ExtractError::write_output;
    std::string line(output_failed ? output : input);
    line += ": ";
    line += describe(status.error);
    return with_cause(std::move(line), status.sys_errno);
}

int run(const Options& options, std::FILE* out, std::FILE* err) {
    switch (options.action) {
    case Action::usage_error:
        print_line(err, options.error);
        std::fprintf(err, "Try '%s --help' for more information.\n", program_name);
        return exit_usage;
    case Action::help:
        return print_text(usage_text(), out, err);
    case Action::version:
        return print_text("kurvane " KURVANE_VERSION_TEXT "\n", out, err);
    case Action::extract_files:
    case Action::search_ext:
        break;
    }
    if (const int status = load_cli_settings(options, err); status != exit_success) return status;
    if (options.action == Action::search_ext) return search_and_extract(*options.extension, err);
    return extract_named_files(options, out, err);
}

#ifndef _WIN32

bool jobs_are_independent(std::span<const FileJob> jobs) {
    struct Id {
        dev_t dev;
        ino_t ino;
        bool operator==(const Id&) const = default;
    };
    struct OutputKey {
        Id directory;
        std::string folded_name;  // ASCII case folded: some file systems ignore case
        bool operator==(const OutputKey&) const = default;
    };
    std::vector<Id> inputs, existing_outputs;
    std::vector<OutputKey> outputs;
    struct stat info;
    for (const FileJob& job : jobs) {
        if (stat(job.input.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
        inputs.push_back({info.st_dev, info.st_ino});

        if (lstat(job.output.c_str(), &info) == 0) {
            if (S_ISLNK(info.st_mode)) return false;
            existing_outputs.push_back({info.st_dev, info.st_ino});
        } else if (errno != ENOENT) {
            return false;
        }
        const std::size_t slash = job.output.rfind('/');
        const std::string directory = slash == std::string::npos ? "." : job.output.substr(0, slash + 1);
        if (stat(directory.c_str(), &info) != 0) return false;
        std::string name = job.output.substr(slash == std::string::npos ? 0 : slash + 1);
        for (char& c : name) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        outputs.push_back({{info.st_dev, info.st_ino}, std::move(name)});
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (std::size_t k = i + 1; k < outputs.size(); ++k) {
            if (outputs[i] == outputs[k]) return false;
        }
    }
    for (std::size_t i = 0; i < existing_outputs.size(); ++i) {
        for (std::size_t k = i + 1; k < existing_outputs.size(); ++k) {
            if (existing_outputs[i] == existing_outputs[k]) return false;
        }
        for (const Id& input : inputs) {
            if (existing_outputs[i] == input) return false;
        }
    }
    return true;
}

#else

bool jobs_are_independent(std::span<const FileJob>) { return false; }

#endif

}  // namespace kurvane::cli
