#include "text/cp932_encode.h"

#include <gtest/gtest.h>

#include <string>

#include "text/text_encoding.h"

namespace kurvane {
namespace {

// Every character code page 932 holds is written as bytes that read back
// as it; every other one, U+FFFD, surrogates and values past U+10FFFF
// included, is one '?' and counted.
TEST(cp932_encode, writes_held_characters_and_counts_the_rest) {
    text::Cp932Encoder encoder;
    std::uint64_t lacking = 0;
    int failures = 0;
    for (char32_t u = 1; u < 0x110100 && failures < 10; u += u < 0x30000 ? 1 : 251) {
        unsigned char bytes[text::cp932_max_char_bytes] = {};
        const std::size_t n = encoder.put(u, bytes);
        const std::string cp932(reinterpret_cast<const char*>(bytes), n);
        const bool held = text::cp932_code(u) >= 0;
        lacking += !held;
        std::u16string unit;
        if (u < 0x10000) unit = std::u16string(1, static_cast<char16_t>(u));
        const bool ok = held ? text::utf8_to_utf16(text::cp932_to_utf8(cp932)) == unit : cp932 == "?";
        if (!ok || encoder.substituted() != lacking) {
            ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(u) << " gave " << n << " bytes, "
                          << encoder.substituted() << " substituted";
            ++failures;
        }
    }
    EXPECT_GT(lacking, 0x10000u);
}

TEST(cp932_encode, appends_text_with_one_question_mark_per_lacking_character) {
    text::Cp932Encoder encoder;
    std::string out = "x";
    encoder.append(U"あ한A\U0001F600\uFFFD", out);
    EXPECT_EQ(out, "x\x82\xA0?A??");
    EXPECT_EQ(encoder.substituted(), 3u);
    encoder.append(U"ｱ", out);  // half-width katakana is one byte
    EXPECT_EQ(out, "x\x82\xA0?A??\xB1");
    EXPECT_EQ(encoder.substituted(), 3u);
}

}  // namespace
}  // namespace kurvane
