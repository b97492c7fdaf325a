#include "app/cli_report.h"

#include <cstring>

#include "app/terminal_text.h"

namespace kurvane::cli {

void print_line(std::FILE* err, std::string_view line) {
    std::string text = program_name;
    text += ": ";
    text += line;
    text += '\n';
    write_terminal(err, text);
}

std::string with_cause(std::string line, int sys_errno) {
    if (sys_errno != 0) {
        line += ": ";
        line += std::strerror(sys_errno);
    }
    return line;
}

bool finish_stream(std::FILE* out) { return std::fflush(out) == 0 && !std::ferror(out); }

std::string failure_line(std::string_view input, std::string_view output, const ExtractStatus& status,
                         Language language) {
    const bool output_failed =
        status.error == ExtractError::create_output || status.error == ExtractError::write_output;
    std::string line = quoted_name(output_failed ? output : input);
    line += ": ";
    line += describe_error(language, status.error);
    return with_cause(std::move(line), status.sys_errno);
}

}  // namespace kurvane::cli
