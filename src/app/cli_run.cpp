#include "app/cli_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>
#include <version>  // defines _GLIBCXX_HAS_GTHREADS where std::thread exists

#include "app/cli_xor_auto.h"
#include "app/posix_file_search.h"
#include "app/progress_line.h"
#include "app/terminal_text.h"
#include "os/file_names.h"
#include "os/file_replacement.h"
#include "engine/parallel_pass.h"
#include "text/text_encoding.h"
#include "settings/settings_file.h"
#include "ui/main_dialog.h"
#include "version.h"

#ifdef _WIN32
#include <windows.h>
#endif

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
    std::string text = program_name;
    text += ": ";
    text += line;
    text += '\n';
    write_terminal(err, text);
}

// stat() over a UTF-8 path; on Windows stat() would take the name through
// the ANSI code page.
#ifdef _WIN32
using FileInfo = struct _stat64;
int stat_utf8(const std::string& path, FileInfo* info) {
    return _wstat64(detail::path_from_utf8(path).c_str(), info);
}
#else
using FileInfo = struct stat;
int stat_utf8(const std::string& path, FileInfo* info) { return stat(path.c_str(), info); }
#endif

std::string with_cause(std::string line, int sys_errno) {
    if (sys_errno != 0) {
        line += ": ";
        line += std::strerror(sys_errno);
    }
    return line;
}

// Writes and flushes `out`; false (errno set) when anything written to it was lost.
bool finish_stream(std::FILE* out) { return std::fflush(out) == 0 && !std::ferror(out); }

int print_text(const std::string& text, std::FILE* out, std::FILE* err, Language language) {
    const bool written = write_terminal(out, text);
    if (finish_stream(out) && written) return exit_success;
    print_line(err, with_cause(format_message(language, msg::write_error), errno));
    return exit_failure;
}

// The extension field of a settings file, kept to be saved again.
class TextField : public ExtensionField {
public:
    explicit TextField(std::string text = {}) : text_(std::move(text)) {}
    std::string text() const override { return text_; }
    void set_text(std::string_view text) override { text_ = std::string(text); }

private:
    std::string text_;
};

// Loads the settings file named by -s, or setting.dat of the working
// directory when it exists, into g_settings and `field`. A file named by -s
// must exist. `source` is set to the file read, if any.
int load_cli_settings(const Options& options, TextField& field, std::string& source, std::FILE* err,
                      Language language) {
    const std::string path = options.settings_path ? *options.settings_path : settings_file_name;
    FileInfo info;
    const std::string cannot_read = format_message(language, msg::cannot_read_settings, {path});
    if (options.settings_path && stat_utf8(path, &info) != 0) {
        print_line(err, with_cause(cannot_read, errno));
        return exit_usage;
    }
    if (load_settings(field, g_settings, path.c_str()) != 0) {
        if (stat_utf8(path, &info) == 0) source = path;
        return exit_success;
    }
    // The loader says only that the file is there and cannot be read; find
    // out why for the message.
    std::string line = cannot_read;
    if (stat_utf8(path, &info) != 0) {
        line = with_cause(std::move(line), errno);
    } else if (S_ISDIR(info.st_mode)) {
        line = with_cause(std::move(line), EISDIR);
    } else if (!S_ISREG(info.st_mode)) {
        line += ": " + format_message(language, msg::not_regular_file);
    }
    print_line(err, line);
    return exit_usage;
}

#if KURVANE_CLI_THREADS
// How many files are converted at once. Every format spreads one file over
// every thread -j allows, so the files go one after another. -j 1 is one
// thread in all.
unsigned files_at_once(const ExtractOptions&) { return 1; }
#endif

// Runs the jobs on up to files_at_once() threads when they are independent,
// else in order on this thread; the results are indexed like the jobs.
std::vector<ExtractStatus> extract_jobs(const std::vector<FileJob>& jobs, const std::vector<ExtractOptions>& how,
                                        const std::vector<ExtractionSettings>& settings) {
    std::vector<ExtractStatus> results(jobs.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < jobs.size();) {
            results[i] = extract_to_path(jobs[i].input.c_str(), jobs[i].output.c_str(), settings[i], how[i]);
        }
    };
#if KURVANE_CLI_THREADS
    if (jobs.size() > 1 && files_at_once(how.front()) > 1 && jobs_are_independent(jobs)) {
        std::vector<std::thread> helpers;
        try {
            for (unsigned k = 1; k < files_at_once(how.front()); ++k) helpers.emplace_back(work);
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

// Where the text of `input` goes: "" for standard output, else a path.
// False when the input's name is too long for an output name.
bool output_for(const Options& options, const std::string& input, std::string& output) {
    const bool to_path = options.output && *options.output != standard_output_name;
    if (input == standard_input_name || (options.output && !to_path)) {
        output = to_path ? *options.output : std::string();
        return true;
    }
    if (to_path) {
        output = *options.output;
        return true;
    }
    if (!output_path_for(input, output)) return false;
    if (options.output_dir) {
#ifdef _WIN32
        constexpr bool backslash_too = true;
#else
        constexpr bool backslash_too = false;
#endif
        std::string name = output.substr(detail::last_component_start(output, backslash_too));
        output = *options.output_dir;
        if (!output.empty() && output.back() != '/' && !(backslash_too && output.back() == '\\')) output += '/';
        output += name;
    }
    return true;
}

// The size of a regular file; none for standard input, a pipe or a device,
// whose length is known only at its end.
std::optional<std::uint64_t> input_size(const std::string& path) {
    FileInfo info;
    if (path == standard_input_name || stat_utf8(path, &info) != 0 || !S_ISREG(info.st_mode)) return {};
    return static_cast<std::uint64_t>(info.st_size);
}

// Standard input into a named output. On POSIX the input is reopened by name
// so that the output gets the usual replace-when-complete treatment and the
// check that it is not the input.
ExtractStatus extract_standard_input(std::FILE* in, const std::string& output, const ExtractOptions& how) {
#ifndef _WIN32
    if (in == stdin) return extract_to_path("/dev/stdin", output.c_str(), g_settings, how);
#endif
    ExtractStatus status;
    std::FILE* file = detail::open_file(output, "wb");
    if (file == nullptr) {
        status.error = ExtractError::create_output;
        status.sys_errno = errno;
        return status;
    }
    status = extract_stream(in, file, g_settings, how);
    if (std::fclose(file) != 0 && status.ok()) {
        status.error = ExtractError::write_output;
        status.sys_errno = errno;
    }
    return status;
}

int extract_named_files(const Options& options, std::FILE* in, std::FILE* out, std::FILE* err,
                        Language language) {
    const std::vector<std::string> inputs =
        options.files.empty() ? std::vector<std::string>{standard_input_name} : options.files;
    std::vector<FileJob> jobs;
    std::vector<ExtractStatus> refused(inputs.size());
    std::vector<FileJob> to_files;  // the jobs with an output path, for the clash check
    bool any_to_stream = false;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        FileJob job{inputs[i], {}};
        if (!output_for(options, job.input, job.output)) refused[i].error = ExtractError::name_too_long;
        if (refused[i].ok() && !job.output.empty()) to_files.push_back(job);
        any_to_stream = any_to_stream || job.output.empty() || job.input == standard_input_name;
        jobs.push_back(std::move(job));
    }
    if (const std::string clash = clashing_outputs(to_files, language); !clash.empty()) {
        print_line(err, clash);
        return exit_usage;
    }

    std::uint64_t total = 0;
    bool total_known = true;
    for (const std::string& input : inputs) {
        const std::optional<std::uint64_t> size = input_size(input);
        total_known = total_known && size.has_value();
        total += size.value_or(0);
    }
    ProgressLine progress(err, !options.quiet && is_terminal(err), total_known ? total : 0, language);
    std::vector<ExtractOptions> how(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        how[i].format = options.format;
        if (options.print_file_name) {
            how[i].format.file_name = jobs[i].input == standard_input_name ? standard_input_label : jobs[i].input;
        }
        how[i].progress = progress.for_input();
        how[i].jobs = options.jobs;
    }
    // Each file's own XOR key, when --xor=auto finds them; an input it
    // cannot sample is not extracted (the reason is already said).
    std::vector<ExtractionSettings> settings(jobs.size(), g_settings);
    std::vector<bool> said(jobs.size());
    for (std::size_t i = 0; i < jobs.size() && options.xor_auto; ++i) {
        if (refused[i].ok() && !choose_xor_key(options, jobs[i].input, settings[i], err, language)) {
            refused[i].error = ExtractError::read_input;
            said[i] = true;
        }
    }

    std::vector<ExtractStatus> results(jobs.size());
    if (any_to_stream) {
        // Standard output takes the texts in order, so everything runs in order.
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            if (!refused[i].ok()) continue;
            const FileJob& job = jobs[i];
            ExtractStatus& status = results[i];
            if (!job.output.empty()) {
                status = job.input == standard_input_name ? extract_standard_input(in, job.output, how[i])
                                                          : extract_to_path(job.input.c_str(), job.output.c_str(),
                                                                            settings[i], how[i]);
                continue;
            }
            status = job.input == standard_input_name ? extract_stream(in, out, g_settings, how[i])
                                                      : extract_to_stream(job.input.c_str(), out, settings[i], how[i]);
            if (status.ok() && !finish_stream(out)) {
                status.error = ExtractError::write_output;
                status.sys_errno = errno;
            }
        }
    } else {
        // A name too long for an output name is reported in its place among
        // the others; it takes no part in the extraction.
        std::vector<FileJob> runnable;
        std::vector<ExtractOptions> runnable_how;
        std::vector<ExtractionSettings> runnable_settings;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            if (!refused[i].ok()) continue;
            runnable.push_back(jobs[i]);
            runnable_how.push_back(how[i]);
            runnable_settings.push_back(settings[i]);
        }
        const std::vector<ExtractStatus> done = extract_jobs(runnable, runnable_how, runnable_settings);
        for (std::size_t i = 0, k = 0; i < jobs.size(); ++i) {
            if (refused[i].ok()) results[i] = done[k++];
        }
    }
    progress.finish();

    int status = exit_success;
    const std::string standard_output = format_message(language, msg::standard_output);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const ExtractStatus& result = refused[i].ok() ? results[i] : refused[i];
        if (result.ok()) continue;
        status = exit_failure;
        if (said[i]) continue;
        print_line(err, failure_line(jobs[i].input, jobs[i].output.empty() ? standard_output : jobs[i].output,
                                     result, language));
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

// Prints each message on its own line. The not-found message begins with
// the search pattern, which holds the user's bytes as typed (the names of
// the file system): that part is printed as it is and only the rest is
// converted.
class TerminalMessages : public MessageView {
public:
    TerminalMessages(const PosixFileSearch& search, ProgressLine& progress, std::FILE* err)
        : search_(search), progress_(progress), err_(err) {}
    void show(std::string_view text, std::string_view) override {
        progress_.finish();
        const std::string& pattern = search_.last_pattern();
        std::string line;
        if (!pattern.empty() && text.starts_with(pattern)) {
            line = pattern;
            text.remove_prefix(pattern.size());
        }
        line += utf8_to_terminal(text);
        print_line(err_, line);
    }

private:
    const PosixFileSearch& search_;
    ProgressLine& progress_;
    std::FILE* err_;
};

int search_and_extract(const Options& options, std::FILE* err, Language language) {
    VectorFileList list;
    TextField field(*options.extension);
    PosixFileSearch search;
    ProgressLine progress(err, !options.quiet && is_terminal(err), 0, language);
    TerminalMessages messages(search, progress, err);
    bool failed = false;
    auto extract = [&](const char* name) -> int {
        ExtractStatus status;
        std::string output;
        std::error_code ec;
        const auto type = std::filesystem::status(detail::path_from_utf8(name), ec).type();
        if (!output_for(options, name, output)) {
            status.error = ExtractError::name_too_long;
        } else if (!ec && type != std::filesystem::file_type::regular) {
            // A FIFO or a device that matches the pattern would block the
            // walk; the dialog reads only regular files too.
            status.error = ExtractError::not_regular;
        } else {
            ExtractOptions how{options.format, progress.for_input()};
            if (options.print_file_name) how.format.file_name = name;
            how.jobs = options.jobs;
            ExtractionSettings settings = g_settings;
            if (options.xor_auto) {
                progress.finish();
                // A name the search found is a regular file.
                choose_xor_key(options, name, settings, err, language);
            }
            status = extract_to_path(name, output.c_str(), settings, how);
        }
        if (status.ok()) return 1;
        // A listed directory, FIFO or device, "." and "..", and a name that is
        // its own output (a.txt listed by a wildcard) are passed over as the
        // dialog does.
        if (status.error == ExtractError::not_regular || status.error == ExtractError::output_is_input) {
            return 0;
        }
        progress.finish();
        print_line(err, failure_line(name, output, status, language));
        failed = true;
        return 0;
    };
    MainDialogViews views{list, field, messages, search, extract};
    // A refused extension or an empty result ends the command here: there is
    // nothing to extract, and the refusal has been printed.
    if (search_files(views) == 0 || list.count() == 0) return exit_failure;
    // A name passed over because an earlier one wrote its output counts as
    // a file not extracted.
    int passed_over = 0;
    if (extract_all_files(views, &passed_over) == 0) return exit_failure;
    return failed || passed_over > 0 ? exit_failure : exit_success;
}

void append_setting(std::string& text, std::string_view name, std::string_view value) {
    text += name;
    text += '=';
    text += value;
    text += '\n';
}

}  // namespace

std::string settings_text(const ExtractionSettings& settings, std::string_view extension,
                          std::string_view source) {
    std::string text;
    append_setting(text, "settings-file", source.empty() ? "(defaults)" : source);
    append_setting(text, "extension", utf8_to_terminal(extension));
    append_setting(text, "min-length", std::to_string(settings.min_length));
    append_setting(text, "xor", std::to_string(settings.xor_value));
    std::string classes;
    for (const CharacterClass& c : character_classes) {
        if (settings.*c.flag == 0) continue;
        if (!classes.empty()) classes += ',';
        classes += c.name;
    }
    append_setting(text, "classes", classes.empty() ? "none" : classes);
    append_setting(text, "newline", settings.auto_newline != 0 ? "yes" : "no");
    for (const auto& pair : settings.excluded_pairs) {
        if (pair[0] == 0) continue;
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%02X%02X ", pair[0], pair[1]);
        append_setting(text, "exclude",
                       hex + utf8_to_terminal(detail::cp932_to_utf8({reinterpret_cast<const char*>(pair), 2})));
    }
    for (const auto& entry : settings.exempt_strings) {
        const auto* bytes = reinterpret_cast<const char*>(entry);
        const std::size_t length = std::find(bytes, bytes + exempt_string_width, '\0') - bytes;
        if (length > 0) append_setting(text, "keep", utf8_to_terminal(detail::cp932_to_utf8({bytes, length})));
    }
    return text;
}

std::string failure_line(std::string_view input, std::string_view output, const ExtractStatus& status,
                         Language language) {
    const bool output_failed =
        status.error == ExtractError::create_output || status.error == ExtractError::write_output;
    std::string line(output_failed ? output : input);
    line += ": ";
    line += describe_error(language, status.error);
    return with_cause(std::move(line), status.sys_errno);
}

int run(const Options& options, std::FILE* out, std::FILE* err, Language language, std::FILE* in) {
    switch (options.action) {
    case Action::usage_error:
        print_line(err, options.error);
        write_terminal(err, format_message(language, msg::try_help, {program_name}) + "\n");
        return exit_usage;
    case Action::help:
        return print_text(usage_text(language), out, err, language);
    case Action::version:
        return print_text("kurvane " KURVANE_VERSION_TEXT "\n", out, err, language);
    case Action::extract_files:
    case Action::search_ext:
        break;
    }
    TextField extension;
    std::string source;
    if (!options.changes.defaults) {
        if (const int status = load_cli_settings(options, extension, source, err, language); status != exit_success) {
            return status;
        }
    }
    apply_changes(options.changes, g_settings);
    if (options.show_settings) return print_text(settings_text(g_settings, extension.text(), source), out, err, language);
    if (options.save_settings_path) {
        errno = 0;
        if (save_settings(extension, g_settings, options.save_settings_path->c_str()) == 0) {
            print_line(err, with_cause(format_message(language, msg::cannot_save_settings,
                                                      {*options.save_settings_path}), errno));
            return exit_failure;
        }
        if (options.action == Action::extract_files && options.files.empty()) return exit_success;
    }
    if (options.action == Action::search_ext) return search_and_extract(options, err, language);
    return extract_named_files(options, in, out, err, language);
}

#ifndef _WIN32

namespace {

// A path's file, or where it would be created: the identity of the file when
// it exists, else that of its directory and its name.
struct Place {
    struct Id {
        dev_t dev = 0;
        ino_t ino = 0;
        bool operator==(const Id&) const = default;
    };
    bool exists = false;
    Id file;
    bool directory_known = false;
    Id directory;
    std::string name;
    std::string path;

    explicit Place(const std::string& p) : path(p) {
        struct stat info;
        if (stat(p.c_str(), &info) == 0) {
            exists = true;
            file = {info.st_dev, info.st_ino};
            return;
        }
        const std::size_t slash = p.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : p.substr(0, slash + 1);
        name = p.substr(slash == std::string::npos ? 0 : slash + 1);
        if (stat(dir.c_str(), &info) == 0) {
            directory_known = true;
            directory = {info.st_dev, info.st_ino};
        }
    }

    bool same_as(const Place& other) const {
        if (exists || other.exists) return exists && other.exists && file == other.file;
        if (directory_known && other.directory_known) return directory == other.directory && name == other.name;
        return path == other.path;
    }
};

}  // namespace

#else

namespace {

// Without file identities: the spelling, with separators folded and the
// letters of every script upper-cased, as Windows file systems compare names
// (Été.txt and été.txt are one file).
std::string windows_name_key(const std::string& path) {
    const std::u16string utf16 = detail::utf8_to_utf16(detail::windows_path_key(path));
    std::wstring upper(utf16.begin(), utf16.end());
    if (!upper.empty()) {
        const std::wstring text = upper;
        const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), static_cast<int>(text.size()),
                                    upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
        if (n <= 0) upper = text;  // ASCII case is folded all the same
    }
    return detail::utf16_to_utf8(std::u16string(upper.begin(), upper.end()));
}

struct Place {
    std::string folded;
    explicit Place(const std::string& p) : folded(windows_name_key(p)) {}
    bool same_as(const Place& other) const { return folded == other.folded; }
};

}  // namespace

#endif

std::string clashing_outputs(std::span<const FileJob> jobs, Language language) {
    std::vector<Place> inputs, outputs;
    for (const FileJob& job : jobs) {
        inputs.emplace_back(job.input == standard_input_name ? std::string() : job.input);
        outputs.emplace_back(job.output);
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        for (std::size_t k = 0; k < jobs.size(); ++k) {
            if (k == i) continue;
            // An overwritten input is the graver loss; it is named first.
            if (jobs[k].input != standard_input_name && outputs[i].same_as(inputs[k])) {
                return format_message(language, msg::output_is_other_input,
                                      {jobs[i].input, jobs[i].output, jobs[k].input});
            }
            if (k > i && outputs[i].same_as(outputs[k])) {
                return format_message(language, msg::same_output, {jobs[i].input, jobs[k].input, jobs[k].output});
            }
        }
    }
    return {};
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
