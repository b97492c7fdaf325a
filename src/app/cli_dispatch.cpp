#include "app/cli_dispatch.h"

#include <cerrno>
#include <string>

#include "app/cli_settings.h"
#include "app/ext_walk.h"
#include "app/file_jobs.h"
#include "app/setting_changes.h"
#include "app/terminal_text.h"
#include "app/usage_text.h"
#include "version.h"

namespace kurvane::cli {
namespace {

int print_text(const std::string& text, std::FILE* out, std::FILE* err, Language language) {
    const bool written = write_terminal(out, text);
    if (finish_stream(out) && written) return exit_success;
    print_line(err, with_cause(format_message(language, msg::write_error), errno));
    return exit_failure;
}

}  // namespace

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
    if (options.action == Action::search_ext) return search_and_extract(options, extension, err, language);
    return extract_named_files(options, extension, in, out, err, language);
}

}  // namespace kurvane::cli
