#include "text/input_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace kurvane {
namespace {

using text::InputEncoding;

// Every encoding is found by its name in any case; near misses are not.
TEST(input_encoding, names_read_back) {
    for (InputEncoding e : {InputEncoding::cp932, InputEncoding::euc_jp, InputEncoding::utf8, InputEncoding::utf16le,
                            InputEncoding::utf16be}) {
        const std::string name(text::input_encoding_name(e));
        EXPECT_EQ(text::parse_input_encoding(name), e) << name;
        std::string upper = name;
        for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        EXPECT_EQ(text::parse_input_encoding(upper), e) << upper;
    }
    using namespace std::string_view_literals;
    for (const std::string_view other : {""sv, "utf8"sv, "utf-16"sv, "utf-8 "sv, "sjis"sv, "auto"sv, "euc-jp\0"sv})
        EXPECT_EQ(text::parse_input_encoding(other), std::nullopt) << other;
    EXPECT_EQ(text::input_encoding_name(InputEncoding::utf16le), "utf-16le");
}

// UTF-16 runs step by code units; code page 932 is classified by its bytes.
TEST(input_encoding, decoders_and_steps) {
    EXPECT_EQ(text::decoder_for(InputEncoding::cp932), nullptr);
    const unsigned char a_le[] = {0x42, 0x30};  // あ
    EXPECT_EQ(text::decoder_for(InputEncoding::utf16le)(a_le, 2).value, U'あ');
    EXPECT_EQ(text::decoder_for(InputEncoding::utf16be)(a_le, 2).value, U'䈰');
    EXPECT_EQ(text::character_step(InputEncoding::utf16be), 2u);
    EXPECT_EQ(text::character_step(InputEncoding::euc_jp), 1u);
}

}  // namespace
}  // namespace kurvane
