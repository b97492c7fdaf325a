// The encodings input data is read in, by name, and the decoder of each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "text/decoded.h"

namespace kurvane::text {

enum class InputEncoding : std::uint8_t { cp932, euc_jp, utf8, utf16le, utf16be };

// "cp932", "euc-jp", "utf-8", "utf-16le", "utf-16be", as options name them.
std::string_view input_encoding_name(InputEncoding encoding);

// The encoding of a name as input_encoding_name writes it, ASCII letters in
// either case; nothing for any other name.
std::optional<InputEncoding> parse_input_encoding(std::string_view name);

// One character at p[0, n), n >= 1.
using Decoder = Decoded (*)(const unsigned char* p, std::size_t n);

// The decoder of an encoding. Code page 932 has none here: its text is
// classified by its bytes (the engine's classifier and scan table), where a
// character with two codes may be in two classes, so the answer is nullptr.
Decoder decoder_for(InputEncoding encoding);

// How far apart the positions are at which a character may start: 2 for
// UTF-16 (a run keeps the alignment it started at), else 1.
std::size_t character_step(InputEncoding encoding);

}  // namespace kurvane::text
