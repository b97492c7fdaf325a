#include "text/unicode_class.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <utility>

#include "engine/classes/classifier.h"
#include "text/text_encoding.h"

namespace kurvane {
namespace {

using text::TextClass;

// The settings that switch on one class, in the order of TextClass.
constexpr std::array<std::int32_t ExtractionSettings::*, text::text_class_count - 1> class_flags{
    &ExtractionSettings::half_digits,   &ExtractionSettings::half_upper,    &ExtractionSettings::half_lower,
    &ExtractionSettings::half_katakana, &ExtractionSettings::half_symbols,  &ExtractionSettings::full_hiragana,
    &ExtractionSettings::full_katakana, &ExtractionSettings::full_kanji,    &ExtractionSettings::full_digits,
    &ExtractionSettings::full_upper,    &ExtractionSettings::full_lower,    &ExtractionSettings::full_cyrillic,
    &ExtractionSettings::full_greek,    &ExtractionSettings::full_symbols};

// The class the code page 932 classifier gives a code: the one class whose
// flag alone makes it text.
TextClass classifier_class(int code) {
    const auto lead = static_cast<unsigned char>(code > 0xFF ? code >> 8 : code);
    const auto trail = static_cast<unsigned char>(code > 0xFF ? code & 0xFF : 0);
    TextClass found = TextClass::none;
    for (std::size_t k = 0; k < class_flags.size(); ++k) {
        ExtractionSettings only;
        for (auto flag : class_flags) only.*flag = 0;
        only.*class_flags[k] = 1;
        if (classify_pair(only, lead, trail) != CharClass::None) {
            EXPECT_EQ(found, TextClass::none) << "code " << std::hex << code << " is in two classes";
            found = static_cast<TextClass>(k + 1);
        }
    }
    return found;
}

// Every character code page 932 holds is in the class the classifier gives
// the code written for it.
TEST(unicode_class, agrees_with_the_classifier_on_every_cp932_character) {
    int held = 0;
    int failures = 0;
    for (char32_t u = 0; u < 0x10000 && failures < 10; ++u) {
        const int code = text::cp932_code(u);
        if (code < 0) continue;
        ++held;
        const TextClass want = classifier_class(code);
        if (text::unicode_class(u) != want) {
            ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(u) << " (code " << code << ") is class "
                          << std::dec << static_cast<int>(text::unicode_class(u)) << ", the classifier's "
                          << static_cast<int>(want);
            ++failures;
        }
    }
    EXPECT_GT(held, 9206);
}

// Characters code page 932 lacks take their block's class; what fits no
// class (accented Latin, Hangul, private use, controls, past U+10FFFF) is none.
TEST(unicode_class, characters_cp932_lacks_take_their_blocks_class) {
    constexpr std::pair<char32_t, TextClass> cases[] = {
        {0x3094, TextClass::hiragana},     // ゔ
        {0x1B001, TextClass::hiragana},    // a hentaigana
        {0x30F7, TextClass::katakana},     // ヷ
        {0x31F0, TextClass::katakana},     // small ㇰ
        {0x1B000, TextClass::katakana},    // archaic katakana e
        {0x3400, TextClass::kanji},        // Extension A
        {0x9FA6, TextClass::kanji},        // past JIS, in the unified block
        {0x2000B, TextClass::kanji},       // Extension B
        {0x2F00, TextClass::kanji},        // a Kangxi radical
        {0x03AC, TextClass::greek},        // ά
        {0x0457, TextClass::cyrillic},     // ї
        {0xFF5F, TextClass::full_symbol},  // ⦅
        {0xFFE6, TextClass::full_symbol},  // ₩
        {0x00A9, TextClass::full_symbol},  // ©
        {0x1F600, TextClass::full_symbol}, // an emoji
        {0x2460, TextClass::full_symbol},  // ① (held: row 0x87)
        {0x00E9, TextClass::none},         // é
        {0xAC00, TextClass::none},         // 가
        {0xFF65, TextClass::none},         // half-width middle dot: 0xA5, in no class
        {0xE000, TextClass::none},         // private use (code page 932's user rows)
        {0x2028, TextClass::none},         // line separator
        {0xFFFD, TextClass::none},
        {0x0000, TextClass::none},
        {0x110000, TextClass::none},
    };
    for (const auto& [u, want] : cases)
        EXPECT_EQ(text::unicode_class(u), want) << "U+" << std::hex << static_cast<unsigned>(u);
}

}  // namespace
}  // namespace kurvane
