// Runs of EUC-JP written in code page 932 in a printer's own loop, for the
// runs that hold only ASCII and double-byte characters, as most runs of
// EUC-JP text do: each is a table entry, and the run keeps its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace kurvane::text {

// Entry p[0] << 8 | p[1]: the code page 932 code of the two-byte EUC-JP
// character p[0, 2) (JIS X 0208 or a half-width katakana), cp932_no_code
// where code page 932 lacks it, euc_jp_no_pair for two bytes that are none.
inline constexpr std::uint16_t euc_jp_no_pair = 0xFFFE;
const std::uint16_t* euc_jp_cp932_pairs();

// What euc_jp_plain_to_cp932 returns for a run it does not take.
inline constexpr std::size_t euc_jp_not_plain = std::numeric_limits<std::size_t>::max();

// Writes src[0, n), whole EUC-JP characters, at dst in code page 932 and
// returns n, when every character is ASCII or a double-byte character that
// code page 932 codes in two bytes; else returns euc_jp_not_plain, having
// stored up to n bytes, and the caller converts the run its own way.
[[gnu::always_inline]] inline std::size_t euc_jp_plain_to_cp932(const unsigned char* src, std::size_t n,
                                                                unsigned char* dst, const std::uint16_t* pairs) {
    // Each character keeps its size, so its bytes go where it lay.
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = src[i];
        if (b < 0x80) {
            dst[i++] = b;
            continue;
        }
        if (n - i < 2) return euc_jp_not_plain;
        const std::uint16_t code = pairs[static_cast<std::size_t>(b) << 8 | src[i + 1]];
        // A one-byte code (half-width katakana), a character code page 932
        // lacks, and no character at all take the caller's way.
        if (code < 0x100 || code >= euc_jp_no_pair) return euc_jp_not_plain;
        dst[i] = static_cast<unsigned char>(code >> 8);
        dst[i + 1] = static_cast<unsigned char>(code & 0xFF);
        i += 2;
    }
    return n;
}

}  // namespace kurvane::text
