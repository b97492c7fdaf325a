#include "app/cli_options.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <string_view>
#include <type_traits>
#include <utility>

#include <getopt.h>

#include "app/terminal_text.h"
#include "os/file_names.h"
#include "text/text_encoding.h"

namespace kurvane::cli {

const std::array<CharacterClass, class_count> character_classes{{
    {"half-digit", &ExtractionSettings::half_digits},
    {"half-upper", &ExtractionSettings::half_upper},
    {"half-lower", &ExtractionSettings::half_lower},
    {"half-kana", &ExtractionSettings::half_katakana},
    {"half-symbol", &ExtractionSettings::half_symbols},
    {"hiragana", &ExtractionSettings::full_hiragana},
    {"katakana", &ExtractionSettings::full_katakana},
    {"kanji", &ExtractionSettings::full_kanji},
    {"full-digit", &ExtractionSettings::full_digits},
    {"full-upper", &ExtractionSettings::full_upper},
    {"full-lower", &ExtractionSettings::full_lower},
    {"cyrillic", &ExtractionSettings::full_cyrillic},
    {"greek", &ExtractionSettings::full_greek},
    {"full-symbol", &ExtractionSettings::full_symbols},
}};

namespace {

constexpr ClassSet half_classes = 0x1F;  // the first five
constexpr ClassSet all_classes = (ClassSet{1} << class_count) - 1;
constexpr ClassSet half_kana_class = 1u << 3;
static_assert(ascii_classes == (half_classes & ~half_kana_class));

struct ClassGroup {
    std::string_view name;
    ClassSet classes;
};
constexpr ClassGroup class_groups[] = {
    {"ascii", half_classes & ~half_kana_class},
    {"half", half_classes},
    {"full", all_classes & ~half_classes},
    {"all", all_classes},
    {"none", 0},
};

std::optional<ClassSet> class_named(std::string_view name) {
    for (std::size_t i = 0; i < class_count; ++i) {
        if (name == character_classes[i].name) return ClassSet{1} << i;
    }
    for (const ClassGroup& group : class_groups) {
        if (name == group.name) return group.classes;
    }
    return std::nullopt;
}

enum class Key {
    help, version, output, output_dir, settings, ext, min_length, xor_value, classes, exclude, keep,
    newline, no_newline, defaults, show_settings, save_settings, encoding, eol, radix, print_file_name, quiet,
    jobs, json, text, min_score, score,
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
    bool fail(const Message& message, std::initializer_list<std::string_view> args = {}) {
        options_.action = Action::usage_error;
        options_.error = format_message(language_, message, args);
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
    return detail::utf8_to_cp932(utf8, cp932);
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
        if (bytes.size() != 2 || !detail::is_cp932_lead(static_cast<unsigned char>(bytes[0]))) {
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

ClassSet classes_of(const ExtractionSettings& settings) {
    ClassSet set = 0;
    for (std::size_t i = 0; i < class_count; ++i) {
        if (settings.*character_classes[i].flag != 0) set |= ClassSet{1} << i;
    }
    return set;
}

void apply_changes(const SettingChanges& changes, ExtractionSettings& settings) {
    if (changes.min_length) settings.min_length = *changes.min_length;
    if (changes.xor_value) settings.xor_value = *changes.xor_value;
    if (changes.newline) settings.auto_newline = *changes.newline ? 1 : 0;
    ClassSet set = classes_of(settings);
    for (const ClassStep& step : changes.class_steps) set = step.add ? set | step.classes : set & ~step.classes;
    for (std::size_t i = 0; i < class_count; ++i) {
        const bool on = (set >> i & 1) != 0;
        std::int32_t& flag = settings.*character_classes[i].flag;
        if ((flag != 0) != on) flag = on ? 1 : 0;
    }
    if (changes.excluded) {
        std::memset(settings.excluded_pairs, 0, sizeof settings.excluded_pairs);
        for (std::size_t k = 0; k < changes.excluded->size(); ++k) {
            settings.excluded_pairs[k][0] = (*changes.excluded)[k][0];
            settings.excluded_pairs[k][1] = (*changes.excluded)[k][1];
        }
    }
    if (changes.kept) {
        std::memset(settings.exempt_strings, 0, sizeof settings.exempt_strings);
        for (std::size_t k = 0; k < changes.kept->size(); ++k) {
            const std::string& text = (*changes.kept)[k];
            std::memcpy(settings.exempt_strings[k], text.data(), text.size());
        }
    }
}

Options parse_options(std::span<const char* const> args, Language language) {
    return Parser(language).parse(args);
}

#define KURVANE_STR2(x) #x
#define KURVANE_STR(x) KURVANE_STR2(x)
// The default of --min-score, spelled in the usage text.
#define KURVANE_MIN_SCORE_TEXT KURVANE_STR(KURVANE_DEFAULT_MIN_SCORE)
static_assert(KURVANE_DEFAULT_MIN_SCORE == default_min_score);

std::string usage_text(Language language) {
    if (language == Language::japanese) {
        return utf8_to_terminal(
            "使い方: kurvane [オプション]... [FILE]...\n"
            "  または: kurvane -e EXT [オプション]...\n"
            "各 FILE から Shift-JIS（コードページ 932）の文字列を抜き出し、その横の\n"
            "テキストファイルに書き出します。名前は最初の '.' までに \".txt\" を付けたもの\n"
            "です（dir/a.b.dat なら dir/a.txt）。ファイルが自分自身の出力になることは\n"
            "ありません。FILE が - のとき、または FILE がないときは標準入力を読んで\n"
            "標準出力に書きます。\n"
            "\n"
            "出力先:\n"
            "  -o, --output=PATH      PATH に書き出す（'-' は標準出力）。'-' 以外は FILE が\n"
            "                         1 つのときだけ。'-' なら複数の FILE を順に書く\n"
            "  -d, --output-dir=DIR   いつもの名前で DIR の中に書き出す\n"
            "  -e, --ext=EXT          作業ディレクトリの *.EXT に一致するファイルをすべて\n"
            "                         抜き出す（ワイルドカード * と ?、大文字小文字は無視）\n"
            "  -q, --quiet            進み具合を表示しない\n"
            "  -j, --jobs=N           1 つのファイルを N 個までのスレッドで読む（既定は\n"
            "                         CPU コアの数、1 なら 1 スレッド）\n"
            "\n"
            "設定（設定ファイルの値より優先。既定値は設定ファイルがないときの値）:\n"
            "  -s, --settings=PATH    setting.dat の代わりに PATH から設定を読む\n"
            "      --defaults         設定ファイルを読まず、組み込みの既定値を使う\n"
            "  -n, --min-length=N     N バイト以上の文字列だけを書く（N は 1 以上、既定は 1）\n"
            "  -x, --xor=N            データを N（0～255、10進数か 0x の16進数）で XOR する\n"
            "                         （既定は 0 で XOR しない）\n"
            "  -c, --classes=LIST     文字として扱う文字種（カンマ区切り）。+NAME と -NAME は\n"
            "                         設定ファイルの文字種に加える・から除く。名前:\n"
            "                         half-digit half-upper half-lower half-kana half-symbol\n"
            "                         hiragana katakana kanji full-digit full-upper full-lower\n"
            "                         cyrillic greek full-symbol; まとめて: ascii（half-kana 以外\n"
            "                         の半角）half full all none。既定は full\n"
            "      --exclude=TEXT     取り除く全角文字 1 文字か 2 バイトの 0xHHHH（12 個まで）\n"
            "      --keep=TEXT        短くても残す文字列（6 個まで、932 で 20 バイトまで）\n"
            "                         --exclude と --keep は設定ファイルの一覧を置き換える\n"
            "      --newline          文字列ごとに改行する（既定）\n"
            "      --no-newline       文字列ごとには改行しない\n"
            "      --show-settings    有効な設定を表示して終了する\n"
            "      --save-settings=PATH  有効な設定を setting.dat の形式で PATH に保存する\n"
            "                         （FILE がなければそこで終了）\n"
            "\n"
            "出力形式:\n"
            "      --encoding=ENC     cp932（既定）または utf-8 で書く\n"
            "      --eol=EOL          行末を crlf（既定）または lf にする\n"
            "  -t, --radix=R          各行の前に、行頭の文字の入力中の位置を付ける\n"
            "                         （d 10進、o 8進、x 16進）既定では付けない\n"
            "  -f, --print-file-name  各行の前に入力ファイルの名前と ': ' を付ける\n"
            "      --json             JSON Lines で書く: 文字列ごとに 1 行の object で、\n"
            "                         offset と length は入力中の位置とバイト数、text は\n"
            "                         UTF-8、-f なら file も。--encoding、--eol、-t は効かない\n"
            "\n"
            "日本語の文章の抜き出し:\n"
            "      --text             日本語の文章として読める文字列だけを、前後のデータを\n"
            "                         除いて書く。-c がなければ ascii の文字種も加える。\n"
            "                         -n は残した部分の長さに効く\n"
            "      --min-score=S      --text で残す最低の点数（0～100、既定は " KURVANE_MIN_SCORE_TEXT "）\n"
            "      --score            --text で各行の文字列の前に点数を 3 桁右寄せと空白で\n"
            "                         付ける（-f と -t の後）。--json では常に score 欄\n"
            "  -x auto, --xor=auto    ファイルごとに XOR の値を標本から探して使い、標準\n"
            "                         エラーに表示する（はっきり良い値がなければ使わない）\n"
            "\n"
            "  -h, --help             この使い方を表示して終了する\n"
            "      --version          バージョンを表示して終了する\n"
            "\n"
            "-s も --defaults もなければ、作業ディレクトリに setting.dat があればそれを\n"
            "読み、なければ組み込みの既定値を使います。設定ファイルに書くのは\n"
            "--save-settings だけです。\n"
            "\n"
            "終了ステータス: すべて抜き出せたら 0、失敗があれば 1、使い方の誤り・\n"
            "読めない設定ファイル・出力先の重なりは 2。\n");
    }
    return "Usage: kurvane [OPTION]... [FILE]...\n"
           "  or:  kurvane -e EXT [OPTION]...\n"
           "Write the Shift-JIS (code page 932) text found in each FILE to a text file\n"
           "beside it: the file name up to its first '.', then \".txt\" (dir/a.b.dat\n"
           "gives dir/a.txt). A file is never its own output. With FILE '-', or no\n"
           "FILE, read standard input and write standard output.\n"
           "\n"
           "Where the text goes:\n"
           "  -o, --output=PATH      write to PATH instead ('-' for standard output);\n"
           "                         other than '-' only with exactly one FILE; with '-'\n"
           "                         several FILEs are written in order\n"
           "  -d, --output-dir=DIR   write the outputs into DIR under their usual names\n"
           "  -e, --ext=EXT          extract every file of the working directory whose\n"
           "                         name matches *.EXT (wildcards * and ?, case ignored)\n"
           "  -q, --quiet            show no progress line\n"
           "  -j, --jobs=N           scan each file on at most N threads (default: one\n"
           "                         per core; 1 scans on one thread)\n"
           "\n"
           "Settings (these override the settings file; defaults are the built-in ones):\n"
           "  -s, --settings=PATH    read the settings from PATH instead of setting.dat\n"
           "      --defaults         read no settings file; start from the defaults\n"
           "  -n, --min-length=N     write only runs of at least N bytes (N >= 1;\n"
           "                         default 1)\n"
           "  -x, --xor=N            XOR the data with N (0 to 255, decimal or 0x hex;\n"
           "                         default 0, no XOR)\n"
           "  -c, --classes=LIST     the character classes that count as text, comma\n"
           "                         separated; +NAME and -NAME add to or remove from the\n"
           "                         settings file's classes. Names: half-digit\n"
           "                         half-upper half-lower half-kana half-symbol hiragana\n"
           "                         katakana kanji full-digit full-upper full-lower\n"
           "                         cyrillic greek full-symbol; groups: ascii (the\n"
           "                         single-byte classes but half-kana) half full all none;\n"
           "                         default full\n"
           "      --exclude=TEXT     drop this double-byte character, or two bytes\n"
           "                         written 0xHHHH, from the text (up to 12 times)\n"
           "      --keep=TEXT        keep this string even in short runs (up to 6 times,\n"
           "                         each at most 20 bytes in code page 932)\n"
           "                         --exclude and --keep replace the settings file's lists\n"
           "      --newline          end each run with a line break (the default)\n"
           "      --no-newline       do not end each run with a line break\n"
           "      --show-settings    print the settings in effect and exit\n"
           "      --save-settings=PATH  save the settings in effect to PATH as a\n"
           "                         setting.dat; exit there when no FILE is named\n"
           "\n"
           "Output format:\n"
           "      --encoding=ENC     write cp932 (the default) or utf-8\n"
           "      --eol=EOL          end lines with crlf (the default) or lf\n"
           "  -t, --radix=R          start each line with the input offset of its first\n"
           "                         byte: d decimal, o octal, x hex (default: none)\n"
           "  -f, --print-file-name  start each line with the input's name and ': '\n"
           "      --json             write JSON Lines: one object per run, its offset and\n"
           "                         length in input bytes, its text in UTF-8, and with\n"
           "                         -f the file; --encoding, --eol and -t do not apply\n"
           "\n"
           "Japanese text:\n"
           "      --text             write only the runs that read as Japanese text, with\n"
           "                         the data beside them cut off; adds the ascii classes\n"
           "                         unless -c is given; -n applies to the part kept\n"
           "      --min-score=S      the least score --text keeps (0 to 100, default " KURVANE_MIN_SCORE_TEXT ")\n"
           "      --score            with --text, start each line's text with its score,\n"
           "                         right-aligned in 3 columns and a space (after -f and\n"
           "                         -t); --json always has a score field\n"
           "  -x auto, --xor=auto    find each file's XOR key on samples of it, say it on\n"
           "                         standard error and use it (none unless one clearly\n"
           "                         reads better than no XOR)\n"
           "\n"
           "  -h, --help             display this help and exit\n"
           "      --version          output version information and exit\n"
           "\n"
           "Without -s or --defaults, setting.dat in the working directory is read when\n"
           "it exists; otherwise the built-in defaults apply. Only --save-settings\n"
           "writes a settings file.\n"
           "\n"
           "Exit status: 0 when every file was extracted, 1 when any failed,\n"
           "2 for a usage error, an unreadable settings file or clashing outputs.\n";
}

}  // namespace kurvane::cli
