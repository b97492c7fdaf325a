#include "app/cli_options.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <string_view>
#include <type_traits>
#include <utility>

#include <getopt.h>

#include "app/setting_changes.h"
#include "app/terminal_text.h"
#include "os/file_names.h"
#include "text/text_encoding.h"

namespace kurvane::cli {

namespace {

enum class Key {
    help, version, output, output_dir, settings, ext, min_length, xor_value, classes, exclude, keep,
    newline, no_newline, defaults, show_settings, save_settings, encoding, eol, radix, print_file_name, quiet,
    jobs, json, text, min_score, score, input_encoding,
};

struct OptionEntry {
    Key key;
    char short_name;  // 0 when the option has only a long form
    std::string_view long_name;
    bool takes_argument;
};

constexpr OptionEntry option_table[] = {
    {Key::help, 'h', "help", false},
    {Key::version, 0, "version", false},
    {Key::output, 'o', "output", true},
    {Key::output_dir, 'd', "output-dir", true},
    {Key::settings, 's', "settings", true},
    {Key::ext, 'e', "ext", true},
    {Key::min_length, 'n', "min-length", true},
    {Key::xor_value, 'x', "xor", true},
    {Key::classes, 'c', "classes", true},
    {Key::exclude, 0, "exclude", true},
    {Key::keep, 0, "keep", true},
    {Key::newline, 0, "newline", false},
    {Key::no_newline, 0, "no-newline", false},
    {Key::defaults, 0, "defaults", false},
    {Key::show_settings, 0, "show-settings", false},
    {Key::save_settings, 0, "save-settings", true},
    {Key::encoding, 0, "encoding", true},
    {Key::eol, 0, "eol", true},
    {Key::radix, 't', "radix", true},
    {Key::print_file_name, 'f', "print-file-name", false},
    {Key::quiet, 'q', "quiet", false},
    {Key::jobs, 'j', "jobs", true},
    {Key::json, 0, "json", false},
    {Key::text, 0, "text", false},
    {Key::min_score, 0, "min-score", true},
    {Key::score, 0, "score", false},
    {Key::input_encoding, 0, "input-encoding", true},
};

const OptionEntry* find_short(int c) {
    for (const OptionEntry& entry : option_table) {
        if (entry.short_name != 0 && entry.short_name == c) return &entry;
    }
    return nullptr;
}

// getopt_long reports a long option by the value 256 + its index in
// option_table, so that a value never collides with a short option letter
// (and optopt tells a long option's error from a short one's).
constexpr int long_value_base = 256;

// What getopt_long is given: the short letters ("-" first, so that operands
// come back in order as 1 whatever POSIXLY_CORRECT says), and the long options.
struct GetoptTables {
    std::string short_options = "-";
    std::vector<option> long_options;

    GetoptTables() {
        for (std::size_t i = 0; i < std::size(option_table); ++i) {
            const OptionEntry& entry = option_table[i];
            if (entry.short_name != 0) {
                short_options += entry.short_name;
                if (entry.takes_argument) short_options += ':';
            }
            long_options.push_back({entry.long_name.data(), entry.takes_argument ? required_argument : no_argument,
                                    nullptr, long_value_base + static_cast<int>(i)});
        }
        long_options.push_back({nullptr, 0, nullptr, 0});
    }
};

const GetoptTables& getopt_tables() {
    static const GetoptTables tables;
    return tables;
}

// A whole decimal number, or with `hex_prefix_allowed` a 0x hex one.
std::optional<std::uint64_t> parse_number(std::string_view text, bool hex_prefix_allowed) {
    int base = 10;
    if (hex_prefix_allowed && (text.starts_with("0x") || text.starts_with("0X"))) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

class Parser {
public:
    explicit Parser(Language language) : language_(language) {}

    Options parse(std::span<const char* const> args);

private:
    // Applies one option with its argument. Returns true when the parse
    // ends here: help, version, or an error (set in options_.error).
    bool apply(Key key, std::string_view name, const std::string& argument);
    // The arguments are the user's words: their control characters are
    // escaped, so that the message stays one line.
    bool fail(const Message& message, std::initializer_list<std::string_view> args = {}) {
        std::vector<std::string> escaped;
        for (const std::string_view arg : args) escaped.push_back(escaped_text(arg));
        const std::vector<std::string_view> views(escaped.begin(), escaped.end());
        options_.action = Action::usage_error;
        options_.error = format_message(language_, message, views);
        return true;
    }
    bool set_classes(std::string_view list);
    bool add_exclude(const std::string& argument);
    bool add_keep(const std::string& argument);
    void check_combination();

    Language language_;
    Options options_;
};

bool Parser::set_classes(std::string_view list) {
    std::vector<ClassStep> steps;
    bool replaces = false;
    while (true) {
        const std::size_t comma = list.find(',');
        std::string_view item = list.substr(0, comma);
        bool add = true;
        const bool relative = item.starts_with('+') || item.starts_with('-');
        if (relative) {
            add = item.front() == '+';
            item.remove_prefix(1);
        }
        replaces = replaces || !relative;
        const std::optional<ClassSet> classes = class_named(item);
        if (!classes) return fail(msg::unknown_class, {item});
        steps.push_back({add, *classes});
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    // A plain name anywhere in the list means the list is the whole set.
    if (replaces) options_.changes.class_steps.push_back({false, all_classes});
    options_.changes.class_steps.insert(options_.changes.class_steps.end(), steps.begin(), steps.end());
    return false;
}

// Characters that Unix input methods and iconv write where Windows has
// another one for the same code page 932 code (〜 for ～ at 0x8160, − for －
// at 0x817C, ...): typed on a terminal, each means that code.
constexpr std::pair<std::string_view, std::string_view> terminal_variants[] = {
    {"〜", "～"}, {"−", "－"}, {"‖", "∥"}, {"¢", "￠"}, {"£", "￡"}, {"¬", "￢"}};

// Text typed in the terminal as the code page 932 bytes the engine compares
// with the data; false when it is not valid there or code page 932 lacks a
// character of it.
bool to_cp932(std::string_view argument, std::string& cp932) {
    std::string utf8;
    if (!terminal_to_utf8(argument, utf8)) return false;
    for (const auto& [variant, windows] : terminal_variants) {
        for (std::size_t at = utf8.find(variant); at != std::string::npos; at = utf8.find(variant, at))
            utf8.replace(at, variant.size(), windows);
    }
    return text::utf8_to_cp932(utf8, cp932);
}

bool Parser::add_exclude(const std::string& argument) {
    auto& excluded = options_.changes.excluded;
    if (!excluded) excluded.emplace();
    if (excluded->size() == excluded_pair_count) return fail(msg::too_many_excludes);
    std::string bytes;
    if ((argument.starts_with("0x") || argument.starts_with("0X")) && argument.size() == 6) {
        const std::optional<std::uint64_t> value = parse_number(argument, true);
        if (!value) return fail(msg::exclude_not_one_character, {argument});
        bytes = {static_cast<char>(*value >> 8), static_cast<char>(*value & 0xFF)};
    } else {
        if (!to_cp932(argument, bytes)) return fail(msg::not_convertible, {"--exclude", argument});
        if (bytes.size() != 2 || !text::is_cp932_lead(static_cast<unsigned char>(bytes[0]))) {
            return fail(msg::exclude_not_one_character, {argument});
        }
    }
    if (bytes[0] == '\0' || bytes[1] == '\0') return fail(msg::exclude_zero_byte, {argument});
    excluded->push_back({static_cast<unsigned char>(bytes[0]), static_cast<unsigned char>(bytes[1])});
    return false;
}

bool Parser::add_keep(const std::string& argument) {
    auto& kept = options_.changes.kept;
    if (!kept) kept.emplace();
    if (kept->size() == exempt_string_count) return fail(msg::too_many_keeps);
    std::string bytes;
    if (!to_cp932(argument, bytes)) return fail(msg::not_convertible, {"--keep", argument});
    if (bytes.empty()) return fail(msg::keep_empty);
    if (bytes.size() > exempt_string_max) return fail(msg::keep_too_long, {argument, std::to_string(bytes.size())});
    kept->push_back(std::move(bytes));
    return false;
}

bool Parser::apply(Key key, std::string_view name, const std::string& argument) {
    Options& o = options_;
    auto choose = [&](auto& field, std::initializer_list<std::pair<std::string_view, int>> choices) {
        for (const auto& [word, value] : choices) {
            if (argument == word) {
                field = static_cast<std::remove_reference_t<decltype(field)>>(value);
                return false;
            }
        }
        return fail(msg::invalid_argument, {name, argument});
    };
    switch (key) {
    case Key::help: o.action = Action::help; return true;
    case Key::version: o.action = Action::version; return true;
    case Key::output: o.output = argument; return false;
    case Key::output_dir: o.output_dir = argument; return false;
    case Key::settings: o.settings_path = argument; return false;
    case Key::ext: o.extension = argument; return false;
    case Key::min_length: {
        const std::optional<std::uint64_t> n = parse_number(argument, false);
        if (!n || *n < 1 || *n > UINT32_MAX) return fail(msg::min_length_range, {argument});
        o.changes.min_length = static_cast<std::uint32_t>(*n);
        return false;
    }
    case Key::xor_value: {
        o.xor_auto = argument == "auto";
        if (o.xor_auto) {
            o.changes.xor_value.reset();
            return false;
        }
        const std::optional<std::uint64_t> n = parse_number(argument, true);
        if (!n || *n > 255) return fail(msg::xor_range, {argument});
        o.changes.xor_value = static_cast<std::uint32_t>(*n);
        return false;
    }
    case Key::classes: return set_classes(argument);
    case Key::exclude: return add_exclude(argument);
    case Key::keep: return add_keep(argument);
    case Key::newline: o.changes.newline = true; return false;
    case Key::no_newline: o.changes.newline = false; return false;
    case Key::defaults: o.changes.defaults = true; return false;
    case Key::show_settings: o.show_settings = true; return false;
    case Key::save_settings: o.save_settings_path = argument; return false;
    case Key::encoding:
        return choose(o.format.encoding, {{"cp932", int(TextEncoding::cp932)}, {"utf-8", int(TextEncoding::utf8)}});
    case Key::eol: return choose(o.format.eol, {{"crlf", int(LineEnd::crlf)}, {"lf", int(LineEnd::lf)}});
    case Key::radix:
        return choose(o.format.radix, {{"d", int(OffsetRadix::decimal)},
                                       {"o", int(OffsetRadix::octal)},
                                       {"x", int(OffsetRadix::hex)}});
    case Key::print_file_name: o.print_file_name = true; return false;
    case Key::json: o.format.json = true; return false;
    case Key::text: o.format.text.on = true; return false;
    case Key::score: o.format.text.show_score = true; return false;
    case Key::min_score: {
        const std::optional<std::uint64_t> n = parse_number(argument, false);
        if (!n || *n > 100) return fail(msg::min_score_range, {argument});
        o.format.text.min_score = static_cast<int>(*n);
        return false;
    }
    case Key::input_encoding: {
        o.input_auto = argument == "auto";
        if (o.input_auto) return false;
        const std::optional<text::InputEncoding> e = text::parse_input_encoding(argument);
        if (!e) return fail(msg::invalid_argument, {name, argument});
        o.input_encoding = *e;
        return false;
    }
    case Key::quiet: o.quiet = true; return false;
    case Key::jobs: {
        const std::optional<std::uint64_t> n = parse_number(argument, false);
        if (!n || *n < 1 || *n > UINT32_MAX) return fail(msg::invalid_argument, {name, argument});
        o.jobs = static_cast<unsigned>(*n);
        return false;
    }
    }
    return false;
}

void Parser::check_combination() {
    Options& o = options_;
    // Japanese text holds ASCII: with --text the runs take it unless -c
    // says which classes count.
    if (o.format.text.on && o.changes.class_steps.empty())
        o.changes.class_steps.push_back({true, ascii_classes});
    if (o.output && o.output_dir) {
        fail(msg::output_dir_with_output);
    } else if (o.extension) {
        if (!o.files.empty()) {
            fail(msg::ext_with_files);
        } else if (o.output) {
            fail(msg::ext_with_output);
        } else {
            o.action = Action::search_ext;
        }
    } else if (o.output && *o.output != standard_output_name && o.files.size() > 1) {
        fail(msg::output_needs_one_file);
    }
}

Options Parser::parse(std::span<const char* const> args) {
    // getopt_long takes the words as non-const and may reorder them, so it
    // gets copies; the program name in front is a placeholder it skips.
    std::vector<std::string> words{"kurvane"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    const GetoptTables& tables = getopt_tables();
    opterr = 0;  // the messages below replace its own
    optind = 0;  // starts a fresh scan: glibc and mingw-w64 both reinitialise on 0
    while (true) {
        const int c = getopt_long(argc, argv.data(), tables.short_options.c_str(), tables.long_options.data(), nullptr);
        if (c == -1) break;
        if (c == 1) {  // an operand, "-" alone among them
            options_.files.emplace_back(optarg);
            continue;
        }
        if (c == '?') {
            // Every error returns '?'; optopt and the word tell which it was.
            if (optopt >= long_value_base) {
                const OptionEntry& entry = option_table[optopt - long_value_base];
                const std::string full = "--" + std::string(entry.long_name);
                fail(entry.takes_argument ? msg::long_needs_argument : msg::no_argument_allowed, {full});
            } else if (optopt != 0) {
                const OptionEntry* entry = find_short(optopt);
                const std::string letter(1, static_cast<char>(optopt));
                fail(entry != nullptr && entry->takes_argument ? msg::short_needs_argument : msg::invalid_option,
                     {letter});
            } else {
                // A long option getopt_long found no single option for: a
                // name that begins some option's name was ambiguous.
                const std::string_view word = argv[optind - 1];
                std::string_view name = word.substr(std::min<std::size_t>(word.size(), 2));  // after "--"
                name = name.substr(0, name.find('='));
                bool begins_one = false;
                for (const OptionEntry& entry : option_table) {
                    begins_one = begins_one || entry.long_name.starts_with(name);
                }
                fail(begins_one ? msg::ambiguous_option : msg::unrecognized_option, {word});
            }
            return options_;
        }
        const OptionEntry* entry = c >= long_value_base ? &option_table[c - long_value_base] : find_short(c);
        if (entry == nullptr) {  // not expected: every value returned is in the table
            fail(msg::invalid_option, {std::string(1, static_cast<char>(c))});
            return options_;
        }
        const std::string argument = entry->takes_argument && optarg != nullptr ? std::string(optarg) : std::string();
        if (apply(entry->key, "--" + std::string(entry->long_name), argument)) return options_;
    }
    // What follows "--" is operands.
    for (int i = optind; i < argc; ++i) options_.files.emplace_back(argv[i]);
    check_combination();
    return options_;
}

}  // namespace

Options parse_options(std::span<const char* const> args, Language language) {
    return Parser(language).parse(args);
}

}  // namespace kurvane::cli
