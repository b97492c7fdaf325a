#include "app/setting_changes.h"

#include <cstring>

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

}  // namespace

std::optional<ClassSet> class_named(std::string_view name) {
    for (std::size_t i = 0; i < class_count; ++i) {
        if (name == character_classes[i].name) return ClassSet{1} << i;
    }
    for (const ClassGroup& group : class_groups) {
        if (name == group.name) return group.classes;
    }
    return std::nullopt;
}

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

void apply_stored_options(const OutputFormat& format, text::InputEncoding input_encoding, ExtendedSettings& stored) {
    const ExtendedSettings defaults;
    if (format.encoding != defaults.output_encoding) stored.output_encoding = format.encoding;
    if (format.text.on != defaults.text_filter) stored.text_filter = format.text.on;
    if (format.text.min_score != defaults.min_score) stored.min_score = format.text.min_score;
    if (input_encoding != defaults.input_encoding) stored.input_encoding = input_encoding;
}

}  // namespace kurvane::cli
