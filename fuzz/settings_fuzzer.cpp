// Decodes arbitrary bytes as setting.dat and checks that what comes out
// survives a save and a load unchanged.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>

#include "settings/settings_file.h"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

// A starting record unlike the defaults, so that a field the decoder forgets
// to fill shows up as a difference.
kurvane::ExtractionSettings scrambled() {
    kurvane::ExtractionSettings s;
    s.auto_newline = -5;
    s.min_length = 0xDEADBEEF;
    s.xor_value = 0x12345678;
    s.full_symbols = 0x7F00FF00;
    s.exempt_strings[5][20] = 0xCC;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const unsigned char> input(data, size);
    std::string text;
    kurvane::ExtractionSettings decoded;
    kurvane::decode_settings(input, text, decoded);
    require(text.find('\0') == std::string::npos);

    // The text is UTF-8 here and code page 932 in the file: at most 255
    // stored bytes.
    const auto encoded = kurvane::encode_settings(text, decoded);
    require(encoded.size() >= 1 + kurvane::settings_layout_size);
    const std::size_t stored = encoded.size() - 1 - kurvane::settings_layout_size;
    require(stored <= kurvane::settings_text_buffer - 1);
    require(encoded[stored] == 0);

    // A saved file loads and saves again unchanged; the text read back is
    // the one saved unless the input held bytes that start no character
    // (read as U+FFFD, saved as '?').
    std::string text_again = "x";
    kurvane::ExtractionSettings again = scrambled();
    kurvane::decode_settings(encoded, text_again, again);
    if (text.find("\xEF\xBF\xBD") == std::string::npos) require(text_again == text);
    // Every bit of the record is in its encoding, so equal encodings mean
    // equal records.
    require(kurvane::encode_settings(text_again, again) == encoded);

    // An input whose text is stored as a save stores it, followed by the
    // whole layout, is what a save writes, followed by whatever trails it.
    if (stored < size && size >= encoded.size() && std::equal(encoded.begin(), encoded.begin() +
                                                                  static_cast<std::ptrdiff_t>(stored + 1), data))
        require(std::equal(encoded.begin(), encoded.end(), data));
    return 0;
}
