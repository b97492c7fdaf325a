#include "app/cli_options.h"

#include <array>
#include <string_view>

namespace kurvane::cli {
namespace {

enum class Key { help, version, output, settings, ext };

struct OptionEntry {
    Key key;
    char short_name;  // 0 when the option has only a long form
    std::string_view long_name;
    bool takes_argument;
};

constexpr std::array<OptionEntry, 5> option_table{{
    {Key::help, 'h', "help", false},
    {Key::version, 0, "version", false},
    {Key::output, 'o', "output", true},
    {Key::settings, 's', "settings", true},
    {Key::ext, 'e', "ext", true},
}};

const OptionEntry* find_short(char c) {
    for (const OptionEntry& entry : option_table) {
        if (entry.short_name != 0 && entry.short_name == c) return &entry;
    }
    return nullptr;
}

// An exact name wins; otherwise a prefix must select exactly one option.
const OptionEntry* find_long(std::string_view name, bool& ambiguous) {
    ambiguous = false;
    const OptionEntry* found = nullptr;
    for (const OptionEntry& entry : option_table) {
        if (entry.long_name == name) return &entry;
        if (!name.empty() && entry.long_name.starts_with(name)) {
            if (found != nullptr) ambiguous = true;
            found = &entry;
        }
    }
    return ambiguous ? nullptr : found;
}

Options usage_error(std::string message) {
    Options failed;
    failed.action = Action::usage_error;
    failed.error = std::move(message);
    return failed;
}

// Applies one option with its argument; returns true when the parse ends here
// (help and version).
bool apply(Options& options, Key key, std::string argument) {
    switch (key) {
    case Key::help:
        options.action = Action::help;
        return true;
    case Key::version:
        options.action = Action::version;
        return true;
    case Key::output:
        options.output = std::move(argument);
        return false;
    case Key::settings:
        options.settings_path = std::move(argument);
        return false;
    case Key::ext:
        options.extension = std::move(argument);
        return false;
    }
    return false;
}

// Checks the combinations once every argument has been read.
Options check_combination(Options options) {
    if (options.extension) {
        if (!options.files.empty()) return usage_error("--ext takes no FILE operands");
        if (options.output) return usage_error("--ext cannot be combined with --output");
        options.action = Action::search_ext;
        return options;
    }
    if (options.files.empty()) return usage_error("missing file operand");
    if (options.output && options.files.size() != 1) {
        return usage_error("--output needs exactly one FILE");
    }
    return options;
}

}  // namespace

Options parse_options(std::span<const char* const> args) {
    Options options;
    std::size_t i = 0;
    // The argument of an option that takes one: the rest of the word when it
    // is not empty, else the next argument.
    auto take_argument = [&](std::string_view rest, std::string& argument) {
        if (!rest.empty()) {
            argument = std::string(rest);
            return true;
        }
        if (i + 1 >= args.size()) return false;
        argument = args[++i];
        return true;
    };

    for (; i < args.size(); ++i) {
        const std::string_view word = args[i];
        if (word == "--") {
            for (++i; i < args.size(); ++i) options.files.emplace_back(args[i]);
            break;
        }
        if (word.starts_with("--")) {
            const std::string_view body = word.substr(2);
            const std::size_t equals = body.find('=');
            const std::string_view name = body.substr(0, equals);
            bool ambiguous = false;
            const OptionEntry* entry = find_long(name, ambiguous);
            if (ambiguous) return usage_error("option '" + std::string(word) + "' is ambiguous");
            if (entry == nullptr) return usage_error("unrecognized option '" + std::string(word) + "'");
            const std::string full = "--" + std::string(entry->long_name);
            std::string argument;
            if (entry->takes_argument) {
                if (equals != std::string_view::npos) {
                    argument = std::string(body.substr(equals + 1));
                } else if (!take_argument({}, argument)) {
                    return usage_error("option '" + full + "' requires an argument");
                }
            } else if (equals != std::string_view::npos) {
                return usage_error("option '" + full + "' doesn't allow an argument");
            }
            if (apply(options, entry->key, std::move(argument))) return options;
            continue;
        }
        if (word.size() < 2 || word[0] != '-') {  // an operand; "-" alone is one too
            options.files.emplace_back(word);
            continue;
        }
        for (std::size_t k = 1; k < word.size(); ++k) {
            const OptionEntry* entry = find_short(word[k]);
            if (entry == nullptr) {
                return usage_error(std::string("invalid option -- '") + word[k] + "'");
            }
            std::string argument;
            if (entry->takes_argument) {
                if (!take_argument(word.substr(k + 1), argument)) {
                    return usage_error(std::string("option requires an argument -- '") + word[k] + "'");
                }
                k = word.size();  // the rest of the word was the argument
            }
            if (apply(options, entry->key, std::move(argument))) return options;
        }
    }
    return check_combination(std::move(options));
}

const char* usage_text() {
    return "Usage: kurvane [OPTION]... FILE...\n"
           "  or:  kurvane -e EXT [OPTION]...\n"
           "Write the Shift-JIS (code page 932) text found in each FILE to a text file\n"
           "beside it: the file name up to its first '.', then \".txt\" (dir/a.b.dat\n"
           "gives dir/a.txt). A file is never its own output.\n"
           "\n"
           "  -o, --output=PATH    write to PATH instead ('-' for standard output);\n"
           "                       only with exactly one FILE\n"
           "  -s, --settings=PATH  read the settings from PATH instead of setting.dat\n"
           "  -e, --ext=EXT        extract every file of the working directory whose\n"
           "                       name matches *.EXT (wildcards * and ?, case ignored)\n"
           "  -h, --help           display this help and exit\n"
           "      --version        output version information and exit\n"
           "\n"
           "Without -s, setting.dat in the working directory is read when it exists;\n"
           "otherwise the built-in defaults apply. Settings are never written.\n"
           "\n"
           "Exit status: 0 when every file was extracted, 1 when any failed,\n"
           "2 for a usage error or an unreadable settings file.\n";
}

}  // namespace kurvane::cli
