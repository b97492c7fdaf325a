// The role of the character at a position of EUC-JP or UTF-8 input, read
// from small tables indexed by its bytes (the lead byte, the row and cell
// of a double-byte code) instead of a decode to a code point and a lookup
// of its class. The scan of those encodings steps through a run with these.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "text/euc_jp.h"
#include "text/utf8_decode.h"
#include "text/wide_runs.h"

namespace kurvane::text {

// A role as the scan reads it: 0 none, 1 kept, 2 excluded (CharRole's
// values), and the length in bytes of the character.
struct CharStep {
    std::uint32_t role;
    std::uint32_t length;
};

// The lookups of one setting for one byte encoding.
class ByteRoles {
public:
    // Entries of `single` above the roles: the lead byte of a longer
    // sequence, read from the tables below.
    static constexpr std::uint8_t lead_2 = 4;  // UTF-8 two bytes, EUC-JP a JIS X 0208 row
    static constexpr std::uint8_t lead_3 = 5;  // UTF-8 three bytes
    static constexpr std::uint8_t lead_4 = 6;  // UTF-8 four bytes, read by its decoder
    static constexpr std::uint8_t lead_ss2 = 7;
    static constexpr std::uint8_t lead_ss3 = 8;
    static constexpr std::size_t euc_cells = detail::euc_jp_cells;

    ByteRoles() = default;
    // From the role (0, 1, 2) of every BMP code point, surrogates none.
    static ByteRoles euc_jp(const std::vector<std::uint8_t>& bmp_roles);
    static ByteRoles utf8(const std::vector<std::uint8_t>& bmp_roles);

    // The character at p[0, left), left >= 1; role 0 when it is none or no
    // valid character, and then the length means nothing.
    CharStep euc_jp_at(const unsigned char* p, std::size_t left) const {
        const std::uint32_t s = single_[p[0]];
        if (s < lead_2) return {s, 1};
        if (left < 2) return {0, 0};
        if (s == lead_2) return {pair_role(p), 2};
        // A byte below the first cell wraps to a large index.
        const std::uint32_t cell = static_cast<std::uint32_t>(p[1]) - detail::euc_jp_cell_first;
        if (s == lead_ss2) return cell < euc_cells ? CharStep{kana_[cell], 2} : CharStep{0, 0};
        if (left < 3) return {0, 0};
        const std::uint32_t cell2 = static_cast<std::uint32_t>(p[2]) - detail::euc_jp_cell_first;
        return cell < euc_cells && cell2 < euc_cells ? CharStep{jis0212_[cell * euc_cells + cell2], 3} : CharStep{0, 0};
    }
    // The role of the JIS X 0208 character p[0, 2), none for any two bytes
    // that are not one: one load, for the run of double-byte characters that
    // most Japanese text is.
    std::uint32_t pair_role(const unsigned char* p) const { return jis0208_[p[0] << 8 | p[1]]; }
    // The kept JIS X 0208 characters that open each row (text/wide_runs.h).
    const PairLimits& pair_limits() const { return pair_limits_; }

    // `beyond(u)` gives the role of a code point past the BMP.
    // Inlined into the scan's loop, the four-byte form left to a call: a
    // call per step cost the scan of UTF-8 text an eighth of its time.
    template <class Beyond>
    [[gnu::always_inline]] CharStep utf8_at(const unsigned char* p, std::size_t left, const Beyond& beyond) const {
        const std::uint32_t s = single_[p[0]];
        if (s < lead_2) return {s, 1};
        if (s == lead_3) return {left >= 3 ? three_role(p) : 0u, 3};
        if (s == lead_2) {
            if (left < 2 || (p[1] & 0xC0u) != 0x80u) return {0, 0};
            return {bmp_[(p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu)], 2};
        }
        return utf8_beyond(p, left, beyond);
    }

    // The role of p[0, 3) as a three-byte UTF-8 character, none for any
    // three bytes that are not one: the BMP characters Japanese text is made
    // of, without the lead byte's cases.
    std::uint32_t three_role(const unsigned char* p) const {
        if ((p[0] & 0xF0u) != 0xE0u || !continuations(p[1], p[2])) return 0;
        const std::uint32_t u = (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
        // Overlong forms are below U+0800; a surrogate's entry is none.
        return u >= utf8_three_first ? bmp_[u] : 0u;
    }

private:
    template <class Beyond>
    [[gnu::noinline]] static CharStep utf8_beyond(const unsigned char* p, std::size_t left, const Beyond& beyond) {
        const Decoded d = decode_utf8(p, left);
        return d.valid() ? CharStep{beyond(d.value), d.length} : CharStep{0, 0};
    }
    static constexpr std::uint32_t utf8_three_first = 0x800;
    static bool continuations(unsigned char a, unsigned char b) {
        return ((a ^ 0x80u) | (b ^ 0x80u)) < 0x40u;
    }

    std::array<std::uint8_t, 256> single_{};
    // EUC-JP: JIS X 0208 by its two bytes (64 KiB, of which the scan
    // reads the rows and cells 0xA1-0xFE: 188 cache lines), JIS X 0212 by
    // row and cell, the half-width katakana by cell.
    std::vector<std::uint8_t> jis0208_, jis0212_;
    std::array<std::uint8_t, euc_cells> kana_{};
    PairLimits pair_limits_{};
    // UTF-8: the role of every BMP code point.
    std::vector<std::uint8_t> bmp_;
};

}  // namespace kurvane::text
