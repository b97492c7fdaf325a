#include "app/cli_messages.h"

#include <cstdlib>

#include "app/terminal_text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kurvane::cli {

Language message_language(const char* (*getenv)(const char*)) {
    if (getenv == nullptr) getenv = [](const char* name) -> const char* { return std::getenv(name); };
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return std::string_view(value).starts_with("ja") ? Language::japanese : Language::english;
    }
#ifdef _WIN32
    // Windows users set no locale variables; the user interface language says it.
    if (PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE) return Language::japanese;
#endif
    return Language::english;
}

std::string format_message(Language language, const Message& message,
                           std::initializer_list<std::string_view> args) {
    return format_message(language, message, std::span<const std::string_view>(args.begin(), args.size()));
}

std::string format_message(Language language, const Message& message, std::span<const std::string_view> args) {
    const std::string text =
        language == Language::japanese ? utf8_to_terminal(message.japanese) : std::string(message.english);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // "{N}" with a single digit N that names an argument.
        if (text[i] == '{' && i + 2 < text.size() && text[i + 2] == '}' && text[i + 1] >= '0' &&
            text[i + 1] <= '9') {
            const auto index = static_cast<std::size_t>(text[i + 1] - '0');
            if (index < args.size()) {
                out += args[index];
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string describe_error(Language language, ExtractError error) {
    if (language == Language::english) return describe(error);
    const char* text = "不明なエラー";
    switch (error) {
    case ExtractError::none: text = "成功"; break;
    case ExtractError::name_too_long: text = "最初の '.' より前の名前が 251 バイトを超えています"; break;
    case ExtractError::output_is_input: text = "出力ファイルが入力ファイルそのものになります"; break;
    case ExtractError::open_input: text = "入力ファイルを開けません"; break;
    case ExtractError::not_regular: text = "ディレクトリです"; break;
    case ExtractError::read_input: text = "読み込みエラー"; break;
    case ExtractError::create_output: text = "出力ファイルを作成できません"; break;
    case ExtractError::write_output: text = "書き込みエラー"; break;
    case ExtractError::no_memory: text = "メモリが足りません"; break;
    }
    return utf8_to_terminal(text);
}

}  // namespace kurvane::cli
