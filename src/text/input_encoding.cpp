#include "text/input_encoding.h"

#include <array>

#include "text/euc_jp.h"
#include "text/utf16.h"
#include "text/utf8_decode.h"

namespace kurvane::text {
namespace {

struct EncodingEntry {
    InputEncoding encoding;
    std::string_view name;
    Decoder decoder;
    std::size_t step;
};

constexpr std::array<EncodingEntry, 5> encodings{{
    {InputEncoding::cp932, "cp932", nullptr, 1},
    {InputEncoding::euc_jp, "euc-jp", decode_euc_jp, 1},
    {InputEncoding::utf8, "utf-8", decode_utf8, 1},
    {InputEncoding::utf16le, "utf-16le", decode_utf16le, utf16_unit},
    {InputEncoding::utf16be, "utf-16be", decode_utf16be, utf16_unit},
}};

const EncodingEntry& entry(InputEncoding encoding) {
    return encodings[static_cast<std::size_t>(encoding)];
}

constexpr bool entries_in_enum_order() {
    for (std::size_t k = 0; k < encodings.size(); ++k)
        if (static_cast<std::size_t>(encodings[k].encoding) != k) return false;
    return true;
}
static_assert(entries_in_enum_order(), "entry() indexes the table by the enum's value");

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string_view input_encoding_name(InputEncoding encoding) { return entry(encoding).name; }

std::optional<InputEncoding> parse_input_encoding(std::string_view name) {
    for (const EncodingEntry& e : encodings) {
        if (e.name.size() != name.size()) continue;
        bool same = true;
        for (std::size_t k = 0; k < name.size() && same; ++k) same = ascii_lower(name[k]) == e.name[k];
        if (same) return e.encoding;
    }
    return std::nullopt;
}

Decoder decoder_for(InputEncoding encoding) { return entry(encoding).decoder; }

std::size_t character_step(InputEncoding encoding) { return entry(encoding).step; }

}  // namespace kurvane::text
