#include "ui/settings_dialog.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <system_error>

#include "engine/classes/xor_key.h"
#include "os/file_names.h"
#include "text/text_encoding.h"
#include "ui/resource.h"

namespace kurvane {

namespace {

constexpr std::uint32_t min_length_low = 1;
constexpr std::uint32_t min_length_high = 20;
constexpr std::uint32_t min_length_default = 1;
constexpr std::uint32_t xor_value_high = 255;
constexpr std::uint32_t xor_value_default = 0;
// The text of an excluded pair: the sequence's two bytes, no more.
constexpr std::size_t excluded_pair_max = excluded_pair_width - 1;

// Every switch of the record beside its check box; all of them are shown
// checked when non-zero and stored as 1 or 0.
struct SwitchControl {
    int id;
    std::int32_t ExtractionSettings::*field;
};

constexpr SwitchControl switch_controls[] = {
    {IDC_AUTO_NEWLINE, &ExtractionSettings::auto_newline},
    {IDC_HALF_DIGITS, &ExtractionSettings::half_digits},
    {IDC_HALF_UPPER, &ExtractionSettings::half_upper},
    {IDC_HALF_LOWER, &ExtractionSettings::half_lower},
    {IDC_HALF_KATAKANA, &ExtractionSettings::half_katakana},
    {IDC_HALF_SYMBOLS, &ExtractionSettings::half_symbols},
    {IDC_FULL_HIRAGANA, &ExtractionSettings::full_hiragana},
    {IDC_FULL_KATAKANA, &ExtractionSettings::full_katakana},
    {IDC_FULL_KANJI, &ExtractionSettings::full_kanji},
    {IDC_FULL_DIGITS, &ExtractionSettings::full_digits},
    {IDC_FULL_UPPER, &ExtractionSettings::full_upper},
    {IDC_FULL_LOWER, &ExtractionSettings::full_lower},
    {IDC_FULL_CYRILLIC, &ExtractionSettings::full_cyrillic},
    {IDC_FULL_GREEK, &ExtractionSettings::full_greek},
    {IDC_FULL_SYMBOLS, &ExtractionSettings::full_symbols},
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex_digit(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool has_hex_prefix(std::string_view text) { return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'); }

int hex_value(char c) {
    if (is_digit(c)) return c - '0';
    return (c >= 'a' ? c - 'a' : c - 'A') + 10;
}

// The XOR value: "0x" and one or more hexadecimal digits (blanks around
// allowed, as for decimal), else a decimal number.
std::optional<std::uint32_t> parse_xor(std::string_view text);

// The number a numeric edit holds. Accepted: optional blanks (space or tab),
// one or more decimal digits, optional blanks, and a value that fits 32 bits
// unsigned. Everything else is no number: an empty or blank text, a sign,
// hexadecimal such as ff, letters before, inside or after the digits, and a
// value above 4294967295.
std::optional<std::uint32_t> parse_unsigned(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) {
        ++i;
    }
    const std::size_t digits_begin = i;
    std::uint64_t value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > UINT32_MAX) {
            return std::nullopt;
        }
        ++i;
    }
    if (i == digits_begin) {
        return std::nullopt;
    }
    while (i < text.size() && is_blank(text[i])) {
        ++i;
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> parse_xor(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    if (!has_hex_prefix(text)) return parse_unsigned(text);
    const std::string_view digits = text.substr(2);
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (!is_hex_digit(c)) return std::nullopt;
        value = value * 16 + static_cast<std::uint64_t>(hex_value(c));
        if (value > UINT32_MAX) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// An entry's text as UTF-8: its code page 932 bytes up to the first zero,
// never more than max_bytes, so an entry loaded without a terminator is not
// read past its width.
std::string entry_text(const unsigned char* entry, std::size_t max_bytes) {
    const char* bytes = reinterpret_cast<const char*>(entry);
    const void* zero = std::memchr(bytes, 0, max_bytes);
    return text::cp932_to_utf8(
        {bytes, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - bytes) : max_bytes});
}

// Stores the UTF-8 `text` as code page 932 bytes, at most max_bytes of
// them, in an entry of max_bytes + 1 bytes, zero-filled behind it; the data
// the engine compares an entry with is code page 932. A double-byte
// character that would be split by the limit is dropped whole: an excluded
// pair or exempt string ending in a lone lead byte would match half a
// character. A text holding a character code page 932 lacks can never occur
// in such data, so its entry is left empty, which matches nothing either.
void store_entry(std::string_view text, unsigned char* entry, std::size_t max_bytes) {
    std::memset(entry, 0, max_bytes + 1);
    std::string bytes;
    if (!text::utf8_to_cp932(text.substr(0, text::bounded_prefix(text, max_bytes)), bytes)) return;
    std::memcpy(entry, bytes.data(), bytes.size());  // bounded_prefix kept it within max_bytes
}

}  // namespace

void show_settings(const ExtractionSettings& settings, SettingsControls& controls) {
    for (const SwitchControl& control : switch_controls) {
        controls.set_checked(control.id, settings.*control.field != 0);
    }
    // Shown as they are, even when a loaded file put them out of range.
    controls.set_text(IDC_XOR_VALUE, std::to_string(settings.xor_value));
    controls.set_text(IDC_MIN_LENGTH, std::to_string(settings.min_length));
    for (std::size_t i = 0; i < excluded_pair_count; ++i) {
        controls.set_text(IDC_EXCLUDED_FIRST + static_cast<int>(i),
                          entry_text(settings.excluded_pairs[i], excluded_pair_max));
    }
    for (std::size_t i = 0; i < exempt_string_count; ++i) {
        controls.set_text(IDC_EXEMPT_FIRST + static_cast<int>(i),
                          entry_text(settings.exempt_strings[i], exempt_string_max));
    }
}

void apply_settings(const SettingsControls& controls, ExtractionSettings& settings) {
    for (const SwitchControl& control : switch_controls) {
        settings.*control.field = controls.checked(control.id) ? 1 : 0;
    }

    const std::optional<std::uint32_t> min_length = parse_unsigned(controls.text(IDC_MIN_LENGTH));
    settings.min_length = (min_length && *min_length >= min_length_low && *min_length <= min_length_high)
                              ? *min_length
                              : min_length_default;
    const std::optional<std::uint32_t> xor_value = parse_xor(controls.text(IDC_XOR_VALUE));
    settings.xor_value = (xor_value && *xor_value <= xor_value_high) ? *xor_value : xor_value_default;

    for (std::size_t i = 0; i < excluded_pair_count; ++i) {
        store_entry(controls.text(IDC_EXCLUDED_FIRST + static_cast<int>(i)),
                    settings.excluded_pairs[i], excluded_pair_max);
    }
    for (std::size_t i = 0; i < exempt_string_count; ++i) {
        store_entry(controls.text(IDC_EXEMPT_FIRST + static_cast<int>(i)),
                    settings.exempt_strings[i], exempt_string_max);
    }
}

namespace {

// The least score the dialog's field holds: the default when the text is no
// number or lies outside 0..100.
int min_score_of(const SettingsControls& controls) {
    const std::optional<std::uint32_t> score = parse_unsigned(controls.text(IDC_MIN_SCORE));
    return score && *score <= static_cast<std::uint32_t>(min_score_high) ? static_cast<int>(*score)
                                                                         : default_min_score;
}

}  // namespace

void show_extended_settings(const ExtendedSettings& extended, SettingsControls& controls) {
    controls.set_checked(IDC_OUTPUT_UTF8, extended.output_encoding == TextEncoding::utf8);
    controls.set_checked(IDC_TEXT_FILTER, extended.text_filter);
    controls.set_text(IDC_MIN_SCORE, std::to_string(extended.min_score));
    std::vector<std::string> names;
    int chosen = 0;
    for (const InputEncodingChoice& choice : input_encoding_choices) {
        if (choice.encoding == extended.input_encoding) chosen = static_cast<int>(names.size());
        names.emplace_back(choice.name);
    }
    controls.set_choices(IDC_INPUT_ENCODING, names);
    controls.choose(IDC_INPUT_ENCODING, chosen);
}

void apply_extended_settings(const SettingsControls& controls, ExtendedSettings& extended) {
    extended.output_encoding = controls.checked(IDC_OUTPUT_UTF8) ? TextEncoding::utf8 : TextEncoding::cp932;
    extended.text_filter = controls.checked(IDC_TEXT_FILTER);
    extended.min_score = min_score_of(controls);
    const int chosen = controls.chosen(IDC_INPUT_ENCODING);
    const std::span choices(input_encoding_choices);
    extended.input_encoding = chosen >= 0 && static_cast<std::size_t>(chosen) < choices.size()
                                  ? choices[static_cast<std::size_t>(chosen)].encoding
                                  : text::InputEncoding::cp932;
}

ExtractOptions extract_options(const DialogSettings& settings) {
    ExtractOptions options;
    options.format.encoding = settings.extended.output_encoding;
    options.format.text.on = settings.extended.text_filter;
    options.format.text.min_score = settings.extended.min_score;
    options.input_encoding = settings.extended.input_encoding;
    return options;
}

bool read_xor_samples(const std::string& path, std::vector<std::vector<unsigned char>>& samples) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file_path = os::path_from_utf8(path);
    if (!fs::is_regular_file(file_path, ec)) return false;
    const std::uintmax_t size = fs::file_size(file_path, ec);
    if (ec) return false;
    std::ifstream in(file_path, std::ios::binary);
    if (!in) return false;
    for (const XorSample& plan : plan_xor_samples(size)) {
        std::vector<unsigned char> bytes(plan.size);
        // A file that shrank since its size was read gives what it has.
        in.clear();
        in.seekg(static_cast<std::streamoff>(plan.offset));
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        samples.push_back(std::move(bytes));
    }
    return true;
}

bool find_xor_value(SettingsControls& controls, const std::string& path, MessageView& messages,
                    const text::Texts& texts) {
    if (path.empty()) {
        messages.show_kind(texts.xor_no_file, texts.caption_oops, MessageKind::warning);
        return false;
    }
    const std::string name(last_component(path));
    std::vector<std::vector<unsigned char>> samples;
    if (!read_xor_samples(path, samples)) {
        messages.show_kind(text::format_one(texts.xor_unreadable_format, name), texts.caption_oops,
                           MessageKind::warning);
        return false;
    }
    // The classes and excluded pairs as the dialog shows them now, which
    // need not be the record's yet.
    ExtractionSettings search;
    apply_settings(controls, search);
    const std::vector<std::span<const unsigned char>> spans(samples.begin(), samples.end());
    const XorKeyChoice choice = find_xor_key(spans, search, min_score_of(controls));
    if (!choice.found) {
        messages.show_kind(text::format_one(texts.xor_none_format, name), texts.caption_report,
                           MessageKind::information);
        return false;
    }
    static constexpr char hex[] = "0123456789ABCDEF";
    controls.set_text(IDC_XOR_VALUE, std::string{'0', 'x', hex[choice.key >> 4], hex[choice.key & 0xF]});
    return true;
}

std::string numeric_text(int id, std::string_view typed) {
    std::string kept;
    std::string_view rest = typed;
    const bool hex = id == IDC_XOR_VALUE && has_hex_prefix(typed);
    if (hex) {
        kept = typed.substr(0, 2);
        rest.remove_prefix(2);
    }
    for (const char c : rest)
        if (hex ? is_hex_digit(c) : is_digit(c)) kept += c;
    return kept;
}

}  // namespace kurvane
