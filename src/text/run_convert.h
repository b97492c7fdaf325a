// Runs of whole characters of EUC-JP, UTF-8 or UTF-16 written in the output
// encoding, code page 932 or UTF-8, in one pass over their bytes: by tables
// indexed by the input's bytes, not a decode to a code point and an encode
// of each character on its own. A character code page 932 lacks is written
// as '?' and counted, as Cp932Encoder does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "text/input_encoding.h"

namespace kurvane::text {

// Code page 932 codes of the Basic Multilingual Plane, built once: entry u
// is the code of U+u (one byte below 0x100), or cp932_no_code.
inline constexpr std::uint16_t cp932_no_code = 0xFFFF;
const std::uint16_t* cp932_bmp_codes();

class RunConverter {
public:
    static constexpr std::size_t failed = std::numeric_limits<std::size_t>::max();
    // The most bytes n input bytes become: a character of L bytes gives at
    // most 2 * L, the most being an EUC-JP C1 byte in UTF-8 (two input bytes
    // of UTF-16 or EUC-JP give at most three), and none grows in code page 932.
    static constexpr std::size_t max_out(std::size_t n) { return 2 * n; }

    // Code page 932 has no converter here: its runs are copied as they are.
    RunConverter(InputEncoding in, bool utf8_out);

    // Writes src[0, n), whole characters of the input encoding, at dst, which
    // has room for max_out(n) bytes, and returns how many it wrote, adding
    // the characters written as '?' to `substituted`. Returns `failed`, with
    // `substituted` unchanged, for bytes that are not whole characters: the
    // caller writes those its own way.
    std::size_t convert(const unsigned char* src, std::size_t n, unsigned char* dst,
                        std::uint64_t& substituted) const;

private:
    enum class Path : std::uint8_t { copy, utf8_cp932, euc_utf8, euc_cp932, le_utf8, le_cp932, be_utf8, be_cp932 };
    Path path_;
    const std::uint16_t* codes_;  // cp932_bmp_codes()
    const std::uint16_t* pairs_;  // EUC-JP: by the two bytes of a double-byte character
    const std::uint16_t* wide_ = nullptr;  // UTF-8 to code page 932: double-byte codes by code point
    const std::uint32_t* forms_ = nullptr;  // UTF-16 to code page 932: what each unit is written as
};

}  // namespace kurvane::text
