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
                        std::uint64_t& substituted) const {
        std::uint64_t lacked = 0;
        const std::size_t size = step_(tables_, src, n, dst, lacked);
        if (size != failed) substituted += lacked;
        return size;
    }

    // The tables a conversion reads; each is null where it reads none.
    struct Tables {
        const std::uint16_t* codes = nullptr;  // cp932_bmp_codes()
        const std::uint16_t* pairs = nullptr;  // EUC-JP: by the two bytes of a double-byte character
        const std::uint16_t* wide = nullptr;   // UTF-8 to code page 932: double-byte codes by code point
        const std::uint32_t* forms = nullptr;  // UTF-16 to code page 932: what each unit is written as
    };
    // One conversion, chosen once: most runs are a few characters, and a
    // call that picked its loop from all of them on every run would pay for
    // the registers the largest one needs. It may add to `lacked` and still fail.
    using Step = std::size_t (*)(const Tables&, const unsigned char* src, std::size_t n, unsigned char* dst,
                                 std::uint64_t& lacked);

private:
    Tables tables_;
    Step step_ = nullptr;
};

}  // namespace kurvane::text
