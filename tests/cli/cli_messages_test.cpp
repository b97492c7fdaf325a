#include "app/cli_messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kurvane::cli {
namespace {

std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

TEST(messages, language_follows_the_first_locale_variable_set) {
    struct Case {
        const char* lc_all;
        const char* lc_messages;
        const char* lang;
        Language expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, "ja_JP.UTF-8", Language::japanese},
        {"", "", "ja", Language::japanese},                   // empty counts as unset
        {"C", nullptr, "ja_JP.UTF-8", Language::english},     // LC_ALL wins
        {nullptr, "en_US.UTF-8", "ja_JP.UTF-8", Language::english},
        {nullptr, "ja_JP.eucJP", "C", Language::japanese},
        {nullptr, nullptr, nullptr, Language::english},
        {nullptr, nullptr, "jv_ID", Language::english},
    };
    for (const Case& c : cases) {
        static const Case* current;
        current = &c;
        const Language language = message_language([](const char* name) -> const char* {
            if (std::strcmp(name, "LC_ALL") == 0) return current->lc_all;
            if (std::strcmp(name, "LC_MESSAGES") == 0) return current->lc_messages;
            if (std::strcmp(name, "LANG") == 0) return current->lang;
            return nullptr;
        });
        EXPECT_EQ(language, c.expected) << "LC_ALL=" << (c.lc_all ? c.lc_all : "(unset)")
                                        << " LC_MESSAGES=" << (c.lc_messages ? c.lc_messages : "(unset)")
                                        << " LANG=" << (c.lang ? c.lang : "(unset)");
    }
}

TEST(messages, arguments_are_inserted_as_given_in_either_language) {
    const Message message{"{1} then {0}, {2}{x}", "{0}と{1}"};
    // The arguments are not converted: a UTF-8 name stays UTF-8.
    const std::string e_acute = "\xc3\xa9";  // é in UTF-8
    EXPECT_EQ(format_message(Language::english, message, {"a", e_acute}), e_acute + " then a, {2}{x}");
    EXPECT_EQ(format_message(Language::japanese, message, {utf8(u8"あ"), "b"}), utf8(u8"あとb"));
    EXPECT_EQ(describe_error(Language::english, ExtractError::open_input), describe(ExtractError::open_input));
    EXPECT_NE(describe_error(Language::japanese, ExtractError::open_input), describe(ExtractError::open_input));
}

}  // namespace
}  // namespace kurvane::cli
