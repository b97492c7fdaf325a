#include "app/cli_settings.h"

#include <algorithm>
#include <cerrno>

#include "app/cli_report.h"
#include "app/setting_changes.h"
#include "app/file_status.h"
#include "app/terminal_text.h"
#include "text/text_encoding.h"

namespace kurvane::cli {

ExtractionSettings g_settings;

namespace {

void append_setting(std::string& text, std::string_view name, std::string_view value) {
    text += name;
    text += '=';
    text += value;
    text += '\n';
}

}  // namespace

int load_cli_settings(const Options& options, TextField& field, std::string& source, std::FILE* err,
                      Language language) {
    const std::string path = options.settings_path ? *options.settings_path : settings_file_name;
    FileInfo info;
    const std::string cannot_read = format_message(language, msg::cannot_read_settings, {quoted_name(path)});
    if (options.settings_path && stat_utf8(path, &info) != 0) {
        print_line(err, with_cause(cannot_read, errno));
        return exit_usage;
    }
    if (load_settings(field, g_settings, field.stored, path.c_str()) != 0) {
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

bool save_cli_settings(const Options& options, const TextField& extension, std::FILE* err, Language language) {
    ExtendedSettings stored = extension.stored;
    // --input-encoding=auto is found per file and stored as no choice.
    apply_stored_options(options.format, options.input_encoding, stored);
    errno = 0;
    if (save_settings(extension, g_settings, stored, options.save_settings_path->c_str()) != 0) return true;
    print_line(err, with_cause(format_message(language, msg::cannot_save_settings,
                                              {quoted_name(*options.save_settings_path)}),
                               errno));
    return false;
}

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
                       hex + utf8_to_terminal(text::cp932_to_utf8({reinterpret_cast<const char*>(pair), 2})));
    }
    for (const auto& entry : settings.exempt_strings) {
        const auto* bytes = reinterpret_cast<const char*>(entry);
        const std::size_t length = std::find(bytes, bytes + exempt_string_width, '\0') - bytes;
        if (length > 0) append_setting(text, "keep", utf8_to_terminal(text::cp932_to_utf8({bytes, length})));
    }
    return text;
}

}  // namespace kurvane::cli
