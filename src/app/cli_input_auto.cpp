#include "app/cli_input_auto.h"

#include <array>
#include <span>
#include <vector>

#include "app/cli_xor_auto.h"
#include "engine/drive/encoding_guess.h"
#include "os/file_names.h"

namespace kurvane::cli {
namespace {

// Every encoding, code page 932 first: a tie keeps what the program reads
// without the option.
constexpr std::array all_encodings = {text::InputEncoding::cp932, text::InputEncoding::euc_jp,
                                      text::InputEncoding::utf8, text::InputEncoding::utf16le,
                                      text::InputEncoding::utf16be};

}  // namespace

std::string encoding_label(text::InputEncoding encoding) {
    std::string label(text::input_encoding_name(encoding));
    for (char& c : label)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return label;
}

bool choose_reading(const Options& options, const std::string& input, ExtractionSettings& settings,
                    ExtractOptions& how, std::FILE* err, Language language) {
    how.input_encoding = options.input_encoding;
    if (!options.input_auto) {
        if (!options.xor_auto) return true;
        if (options.input_encoding == text::InputEncoding::cp932)
            return choose_xor_key(options, input, settings, err, language);
    }
    settings.xor_value = options.xor_auto ? 0 : settings.xor_value;
    const Message& refusal = options.input_auto ? msg::input_auto_needs_file : msg::xor_auto_needs_file;
    if (input == standard_input_name) {
        say(err, format_message(language, refusal, {input}));
        return false;
    }
    std::FILE* file = os::open_file(input, "rb");
    if (file == nullptr) return true;
    std::vector<std::vector<unsigned char>> samples;
    const bool regular = read_samples(file, samples);
    std::fclose(file);
    if (!regular) {
        say(err, format_message(language, refusal, {input}));
        return false;
    }
    const std::vector<std::span<const unsigned char>> spans(samples.begin(), samples.end());
    const std::span<const text::InputEncoding> candidates =
        options.input_auto ? std::span<const text::InputEncoding>(all_encodings)
                           : std::span<const text::InputEncoding>(&options.input_encoding, 1);
    const InputChoice choice = choose_input(spans, search_settings(options, settings), candidates, options.xor_auto,
                                            options.format.text.min_score, options.jobs);
    how.input_encoding = choice.encoding;
    // A file with no text in any reading is read as the first candidate;
    // naming that as its text's encoding would be a guess.
    if (options.input_auto)
        say(err, format_message(language, choice.text_chars == 0 ? msg::input_encoding_none : msg::input_encoding_found,
                                {input, encoding_label(choice.encoding)}));
    if (options.xor_auto) {
        settings.xor_value = choice.key;
        say_key(err, input, choice.key != 0, choice.key, language);
    }
    return true;
}

void say_substituted(const Options& options, std::FILE* err, const std::string& input, const ExtractStatus& status,
                     Language language) {
    if (status.substituted == 0 || options.quiet) return;
    say(err, format_message(language, msg::substituted_note, {input, std::to_string(status.substituted)}));
}

}  // namespace kurvane::cli
