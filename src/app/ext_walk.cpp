#include "app/ext_walk.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli_report.h"
#include "app/cli_input_auto.h"
#include "app/cli_settings.h"
#include "app/file_jobs.h"
#include "files/posix_file_search.h"
#include "app/progress_line.h"
#include "app/terminal_text.h"
#include "os/file_names.h"
#include "os/file_identity.h"
#include "ui/main_dialog.h"

namespace kurvane::cli {
namespace {

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

// Follows the walk, to name on the terminal each entry it passed over
// because an earlier one wrote its output: each entry started that was
// neither extracted nor its own output.
class WalkRecord : public WalkObserver {
public:
    void file_started(int, int, std::string_view name) override {
        names_.emplace_back(name);
        extracted_.push_back(false);
    }
    bool stop_requested() override { return false; }
    // Called by the extraction of the entry last started.
    void extracting() {
        if (!extracted_.empty()) extracted_.back() = true;
    }
    std::vector<std::string> passed_over() const {
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < names_.size(); ++i) {
            std::string output;
            if (extracted_[i] || is_own_output(names_[i]) || !output_name_for(names_[i], output)) continue;
            lines.push_back(quoted_name(names_[i]) + " → " + quoted_name(output));
        }
        return lines;
    }

private:
    std::vector<std::string> names_;
    std::vector<bool> extracted_;
};

// Prints the walk's messages, each on one line of its own, in the message
// language: the dialog's texts under Japanese, their English otherwise. The
// not-found message begins with the search pattern, which holds the user's
// bytes as typed (the names of the file system): that part is printed as it
// is, quoted if need be, and only the rest is converted. The report of
// entries passed over gives one line to each of them, all of them (a
// message box shows only the first few).
class TerminalMessages : public MessageView {
public:
    TerminalMessages(const files::PosixFileSearch& search, const WalkRecord& walk, ProgressLine& progress, std::FILE* err,
                     Language language)
        : search_(search), walk_(walk), progress_(progress), err_(err), language_(language) {}
    void show(std::string_view text, std::string_view) override {
        progress_.finish();
        static constexpr const Message* fixed[] = {&msg::walk_no_extension, &msg::walk_txt_refused,
                                                   &msg::walk_nothing_to_extract, &msg::walk_done};
        for (const Message* message : fixed) {
            if (text == message->japanese) return print_line(err_, format_message(language_, *message));
        }
        if (text.starts_with(text::clash_intro)) {
            print_line(err_, format_message(language_, msg::walk_passed_over));
            for (const std::string& line : walk_.passed_over()) print_line(err_, utf8_to_terminal(line));
            return;
        }
        const std::string& pattern = search_.last_pattern();
        if (!pattern.empty() && text.starts_with(pattern)) {
            return print_line(err_, format_message(language_, msg::walk_not_found, {quoted_name(pattern)}));
        }
        // A text this table does not know yet: shown as the dialog has it.
        print_line(err_, quoted_name(utf8_to_terminal(text)));
    }

private:
    const files::PosixFileSearch& search_;
    const WalkRecord& walk_;
    ProgressLine& progress_;
    std::FILE* err_;
    Language language_;
};

// The file list, as the jobs --save-settings must not touch.
std::vector<FileJob> listed_jobs(const Options& options, const FileListView& list) {
    std::vector<FileJob> jobs;
    for (int i = 0; i < list.count(); ++i) {
        FileJob job{list.text_at(i), {}};
        if (output_for(options, job.input, job.output)) jobs.push_back(std::move(job));
    }
    return jobs;
}

}  // namespace

int search_and_extract(const Options& options, const TextField& extension, std::FILE* err, Language language) {
    VectorFileList list;
    TextField field(*options.extension);
    files::PosixFileSearch search;
    ProgressLine progress(err, !options.quiet && is_terminal(err), 0, language);
    WalkRecord walk;
    TerminalMessages messages(search, walk, progress, err, language);
    bool failed = false;
    auto extract = [&](const char* name) -> int {
        walk.extracting();
        ExtractStatus status;
        std::string output;
        const std::optional<os::FileIdentity> file = os::identity_of(name);
        if (!output_for(options, name, output)) {
            status.error = ExtractError::name_too_long;
        } else if (file && !file->regular) {
            // A FIFO or a device that matches the pattern would block the
            // walk; the dialog reads only regular files too.
            status.error = ExtractError::not_regular;
        } else {
            ExtractionSettings settings = g_settings;
            ExtractOptions how = extract_options_for(options, name, progress);
            if (options.xor_auto || options.input_auto) {
                progress.finish();
                // A name the search found is a regular file.
                choose_reading(options, name, settings, how, err, language);
            }
            status = extract_to_path(name, output.c_str(), settings, how);
            say_substituted(options, err, name, status, language);
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
    const bool searched = search_files(views) != 0;
    // The settings are saved whatever the search found, once it is known
    // that no listed file is the one they are saved to, and no output is.
    if (options.save_settings_path) {
        const std::vector<FileJob> jobs = listed_jobs(options, list);
        if (const std::string clash = settings_onto_job(*options.save_settings_path, jobs, stdin, stdout, language);
            !clash.empty()) {
            print_line(err, clash);
            return exit_usage;
        }
        if (!save_cli_settings(options, extension, err, language)) return exit_failure;
    }
    // A refused extension or an empty result ends the command here: there is
    // nothing to extract, and the refusal has been printed.
    if (!searched || list.count() == 0) return exit_failure;
    // A name passed over because an earlier one wrote its output counts as
    // a file not extracted.
    int passed_over = 0;
    if (extract_all_files(views, &passed_over, &walk) == 0) return exit_failure;
    return failed || passed_over > 0 ? exit_failure : exit_success;
}

}  // namespace kurvane::cli
