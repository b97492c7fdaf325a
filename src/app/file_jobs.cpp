#include "app/file_jobs.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <optional>
#include <vector>
#include <version>  // defines _GLIBCXX_HAS_GTHREADS where std::thread exists

#include "app/cli_report.h"
#include "app/cli_input_auto.h"
#include "app/cli_settings.h"
#include "app/file_status.h"
#include "app/progress_line.h"
#include "app/terminal_text.h"
#include "os/file_names.h"
#include "os/file_replacement.h"
#include "text/text_encoding.h"
#include "os/file_identity.h"

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

#ifndef _WIN32

// A path's file, and where it is or would be created: the identity of the
// file when it exists, and that of its directory with its name. The clash
// checks and the scheduling both tell files apart by it, so that a file
// reached two ways is one file to both.
struct Place {
    std::optional<os::FileIdentity> file;
    std::optional<os::FileIdentity> directory;
    std::string name;
    std::string path;

    explicit Place(const std::string& p) : file(os::identity_of(p)), path(p) {
        const std::size_t slash = p.rfind('/');
        directory = os::identity_of(slash == std::string::npos ? "." : p.substr(0, slash + 1));
        name = p.substr(slash == std::string::npos ? 0 : slash + 1);
    }

    // One file for certain: one existing file, or one name in one directory.
    bool same_as(const Place& other) const {
        if (file || other.file) return file && other.file && file->same_file(*other.file);
        if (directory && other.directory) return directory->same_file(*other.directory) && name == other.name;
        return path == other.path;
    }

    // One file, or names in one directory that differ only in ASCII case,
    // which some file systems take for one name.
    bool may_be_same_as(const Place& other) const {
        return same_as(other) || (directory && other.directory && directory->same_file(*other.directory) &&
                                  ascii_folded(name) == ascii_folded(other.name));
    }

private:
    static std::string ascii_folded(std::string text) {
        for (char& c : text) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return text;
    }
};

// True when `path` is a symbolic link, or cannot be examined for another
// reason than that it does not exist: an output there may lead anywhere.
bool may_lead_elsewhere(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) == 0) return S_ISLNK(info.st_mode);
    return errno != ENOENT;
}

#else

// A path's spelling as Windows file systems compare names: separators
// folded and the letters of every script upper-cased (Été.txt and été.txt
// are one file).
std::string windows_name_key(const std::string& path) {
    const std::u16string utf16 = text::utf8_to_utf16(os::windows_path_key(path));
    std::wstring upper(utf16.begin(), utf16.end());
    if (!upper.empty()) {
        const std::wstring text = upper;
        const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), static_cast<int>(text.size()),
                                    upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
        if (n <= 0) upper = text;  // ASCII case is folded all the same
    }
    return text::utf16_to_utf8(std::u16string(upper.begin(), upper.end()));
}

// The spelling folded as the file system folds it, and the identity of an
// existing file, which also finds one file under two spellings (a hard
// link, a short 8.3 name, a path through another directory).
struct Place {
    std::string folded;
    std::optional<os::FileIdentity> file;
    explicit Place(const std::string& p) : folded(windows_name_key(p)), file(os::identity_of(p)) {}
    bool same_as(const Place& other) const {
        return folded == other.folded || (file && other.file && file->same_file(*other.file));
    }
};

#endif

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

}  // namespace

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
        std::string name = output.substr(os::last_component_start(output, backslash_too));
        output = *options.output_dir;
        if (!output.empty() && output.back() != '/' && !(backslash_too && output.back() == '\\')) output += '/';
        output += name;
    }
    return true;
}

ExtractOptions extract_options_for(const Options& options, const std::string& input, ProgressLine& progress) {
    ExtractOptions how;
    how.format = options.format;
    how.input_encoding = options.input_encoding;
    if (options.print_file_name) how.format.file_name = input == standard_input_name ? standard_input_label : input;
    how.progress = progress.for_input();
    how.jobs = options.jobs;
    return how;
}

namespace {

// The size of a regular file; none for standard input, a pipe or a device,
// whose length is known only at its end.
std::optional<std::uint64_t> input_size(const std::string& path) {
    FileInfo info;
    if (path == standard_input_name || stat_utf8(path, &info) != 0 || !S_ISREG(info.st_mode)) return {};
    return static_cast<std::uint64_t>(info.st_size);
}

// Where a job reads: the file standard input has open, or the named one.
std::optional<os::FileIdentity> input_identity(const FileJob& job, std::FILE* in) {
    return job.input == standard_input_name ? os::identity_of(in) : os::identity_of(job.input);
}

// Where a job writes: the file standard output has open, or the named one.
std::optional<os::FileIdentity> output_identity(const FileJob& job, std::FILE* out) {
    return job.output.empty() ? os::identity_of(out) : os::identity_of(job.output);
}

// The first job that would read the file it writes, through standard output
// redirected to it (`>> x.dat`, which would grow without end) or a path
// given with -o (the same file by another name: /dev/stdout, a link), as the
// usage error that refuses it. An output beside its input is left to the
// extraction, which refuses its own input. Empty when there is none.
std::string input_read_into_output(const Options& options, std::span<const FileJob> jobs,
                                   std::span<const ExtractStatus> refused, std::FILE* in, std::FILE* out,
                                   Language language) {
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const FileJob& job = jobs[i];
        if (!refused[i].ok() || (!job.output.empty() && !options.output)) continue;
        const std::optional<os::FileIdentity> input = input_identity(job, in);
        if (!input || !input->regular) continue;
        const std::optional<os::FileIdentity> output = output_identity(job, out);
        if (!output || !output->same_file(*input)) continue;
        const std::string where =
            job.output.empty() ? format_message(language, msg::standard_output) : quoted_name(job.output);
        const std::string what = job.input == standard_input_name ? format_message(language, msg::standard_input)
                                                                  : quoted_name(job.input);
        return format_message(language, msg::input_is_output, {what, where});
    }
    return {};
}

}  // namespace

std::string settings_onto_job(const std::string& settings_path, std::span<const FileJob> jobs, std::FILE* in,
                              std::FILE* out, Language language) {
    const std::optional<os::FileIdentity> saved = os::identity_of(settings_path);
    const Place settings_place(settings_path);
    const std::string settings_name = quoted_name(settings_path);
    for (const FileJob& job : jobs) {
        const std::optional<os::FileIdentity> input = input_identity(job, in);
        const bool onto_input = job.input == standard_input_name
                                    ? saved && input && saved->same_file(*input)
                                    : settings_place.same_as(Place(job.input));
        if (onto_input) return format_message(language, msg::settings_onto_input, {settings_name, quoted_name(job.input)});
        const std::optional<os::FileIdentity> output = job.output.empty() ? os::identity_of(out) : std::nullopt;
        const bool onto_output = job.output.empty() ? saved && output && saved->same_file(*output)
                                                    : settings_place.same_as(Place(job.output));
        if (onto_output) return format_message(language, msg::settings_onto_output, {settings_name, quoted_name(job.input)});
    }
    return {};
}

int extract_named_files(const Options& options, const TextField& extension, std::FILE* in, std::FILE* out,
                        std::FILE* err, Language language) {
    if (options.save_settings_path && options.files.empty()) {
        return save_cli_settings(options, extension, err, language) ? exit_success : exit_failure;
    }
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
    std::string clash = clashing_outputs(to_files, language);
    if (clash.empty()) clash = input_read_into_output(options, jobs, refused, in, out, language);
    if (clash.empty() && options.save_settings_path) {
        clash = settings_onto_job(*options.save_settings_path, jobs, in, out, language);
    }
    if (!clash.empty()) {
        print_line(err, clash);
        return exit_usage;
    }
    if (options.save_settings_path && !save_cli_settings(options, extension, err, language)) return exit_failure;

    std::uint64_t total = 0;
    bool total_known = true;
    for (const std::string& input : inputs) {
        const std::optional<std::uint64_t> size = input_size(input);
        total_known = total_known && size.has_value();
        total += size.value_or(0);
    }
    ProgressLine progress(err, !options.quiet && is_terminal(err), total_known ? total : 0, language);
    std::vector<ExtractOptions> how;
    for (const FileJob& job : jobs) how.push_back(extract_options_for(options, job.input, progress));
    // Each file's own XOR key and encoding, when --xor=auto and
    // --input-encoding=auto find them; an input they cannot sample is not
    // extracted (the reason is already said).
    std::vector<ExtractionSettings> settings(jobs.size(), g_settings);
    std::vector<bool> said(jobs.size());
    for (std::size_t i = 0; i < jobs.size() && (options.xor_auto || options.input_auto); ++i) {
        if (refused[i].ok() && !choose_reading(options, jobs[i].input, settings[i], how[i], err, language)) {
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
                status = job.input == standard_input_name
                             ? extract_stream_to_path(in, job.output.c_str(), g_settings, how[i])
                             : extract_to_path(job.input.c_str(), job.output.c_str(), settings[i], how[i]);
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
        say_substituted(options, err, jobs[i].input, result, language);
        if (result.ok()) continue;
        status = exit_failure;
        if (said[i]) continue;
        print_line(err, failure_line(jobs[i].input, jobs[i].output.empty() ? standard_output : jobs[i].output,
                                     result, language));
    }
    return status;
}

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
                                      {quoted_name(jobs[i].input), quoted_name(jobs[i].output),
                                       quoted_name(jobs[k].input)});
            }
            if (k > i && outputs[i].same_as(outputs[k])) {
                return format_message(language, msg::same_output,
                                      {quoted_name(jobs[i].input), quoted_name(jobs[k].input),
                                       quoted_name(jobs[k].output)});
            }
        }
    }
    return {};
}

#ifndef _WIN32

bool jobs_are_independent(std::span<const FileJob> jobs) {
    std::vector<Place> inputs, outputs;
    for (const FileJob& job : jobs) {
        const Place& input = inputs.emplace_back(job.input);
        if (!input.file || !input.file->regular || may_lead_elsewhere(job.output)) return false;
        if (!outputs.emplace_back(job.output).directory) return false;
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (std::size_t k = i + 1; k < outputs.size(); ++k) {
            if (outputs[i].may_be_same_as(outputs[k])) return false;
        }
        if (!outputs[i].file) continue;
        for (const Place& input : inputs) {
            if (outputs[i].same_as(input)) return false;
        }
    }
    return true;
}

#else

bool jobs_are_independent(std::span<const FileJob>) { return false; }

#endif

}  // namespace kurvane::cli
