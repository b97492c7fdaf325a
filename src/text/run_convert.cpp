#include "text/run_convert.h"

#include <cstring>
#include <stdexcept>
#include <vector>

#include "text/cp932_encode.h"
#include "text/euc_jp.h"
#include "text/euc_jp_to_cp932.h"
#include "text/text_encoding.h"
#include "text/utf16.h"
#include "text/utf16_to_cp932.h"
#include "text/utf8_encode.h"
#include "text/utf8_decode.h"

namespace kurvane::text {
namespace {

// An EUC-JP pair table's entry for two bytes that are no double-byte
// character (every code point and code page 932 code is below it, and
// cp932_no_code above it).
constexpr std::uint16_t no_pair = euc_jp_no_pair;
constexpr std::size_t pair_count = 0x10000;
// The two bytes of a double-byte character, as the pair tables index them.
inline std::size_t pair_at(const unsigned char* p) { return static_cast<std::size_t>(p[0]) << 8 | p[1]; }

// Entry p[0] << 8 | p[1] of each: the character of a two-byte EUC-JP code
// (JIS X 0208 or a half-width katakana), or its code page 932 code.
template <bool cp932>
const std::uint16_t* euc_jp_pairs() {
    static const std::vector<std::uint16_t> table = [] {
        std::vector<std::uint16_t> t(pair_count, no_pair);
        for (std::size_t k = 0; k < pair_count; ++k) {
            const unsigned char p[2] = {static_cast<unsigned char>(k >> 8), static_cast<unsigned char>(k)};
            const Decoded d = decode_euc_jp(p, 2);
            if (d.length != 2) continue;
            static_assert(cp932_no_code > no_pair);
            t[k] = cp932 ? cp932_bmp_codes()[d.value] : static_cast<std::uint16_t>(d.value);
        }
        return t;
    }();
    return table.data();
}

}  // namespace

const std::uint16_t* euc_jp_cp932_pairs() { return euc_jp_pairs<true>(); }

namespace {

// A code page 932 code, or '?' counted for cp932_no_code.
inline std::size_t put_code(std::uint16_t code, unsigned char* dst, std::uint64_t& lacked) {
    if (code < 0x100) {
        dst[0] = static_cast<unsigned char>(code);
        return 1;
    }
    if (code == cp932_no_code) {
        dst[0] = cp932_substitute;
        ++lacked;
        return 1;
    }
    dst[0] = static_cast<unsigned char>(code >> 8);
    dst[1] = static_cast<unsigned char>(code & 0xFF);
    return 2;
}

// The UTF-8 character at p[0, left), p[0] >= 0x80: the two- and
// three-byte forms most of Japanese text is made of read in place, the rest
// by the strict decoder.
[[gnu::always_inline]] inline Decoded utf8_at(const unsigned char* p, std::size_t left) {
    const unsigned char b = p[0];
    if (b >= 0xC2 && b <= 0xDF && left >= 2 && (p[1] & 0xC0u) == 0x80u)
        return {(b & 0x1Fu) << 6 | (p[1] & 0x3Fu), 2};
    if ((b & 0xF0u) == 0xE0u && left >= 3 && ((p[1] ^ 0x80u) | (p[2] ^ 0x80u)) < 0x40u) {
        const char32_t u = (b & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
        // Below U+0800 is an overlong form, and a surrogate is no character.
        if (u >= 0x800 && (u < detail::surrogate_first || u > detail::surrogate_last)) return {u, 3};
    }
    return decode_utf8(p, left);
}

// Each loop below writes one character a step and stops at the first
// sequence it does not read as one: the caller then writes the run its
// own, slower way. `lacked` is the caller's count, added to on success.

// Entry u: the double-byte code page 932 code of U+u where U+u is written
// in three bytes of UTF-8 (from U+0800 on, no surrogate), else 0, which no
// double-byte code is.
const std::uint16_t* cp932_wide_of_three() {
    static const std::vector<std::uint16_t> table = [] {
        std::vector<std::uint16_t> t(0x10000);
        const std::uint16_t* codes = cp932_bmp_codes();
        for (char32_t u = 0x800; u < 0x10000; ++u) {
            const bool surrogate = u >= detail::surrogate_first && u <= detail::surrogate_last;
            if (!surrogate && codes[u] > 0xFF && codes[u] != cp932_no_code) t[u] = codes[u];
        }
        return t;
    }();
    return table.data();
}

inline void put_wide(std::uint16_t code, unsigned char* dst) {
    dst[0] = static_cast<unsigned char>(code >> 8);
    dst[1] = static_cast<unsigned char>(code & 0xFF);
}

std::size_t utf8_to_cp932(const unsigned char* src, std::size_t n, unsigned char* dst, const std::uint16_t* codes,
                          const std::uint16_t* wide, std::uint64_t& lacked) {
    unsigned char* const start = dst;
    for (std::size_t i = 0; i < n;) {
        // Kana and kanji back to back, most of the text, in a loop of their
        // own: one test of the three bytes' top bits, and one entry that
        // says both that they are a character and what its code is.
        for (; n - i >= 3; i += 3, dst += 2) {
            const std::uint32_t x = std::uint32_t{src[i]} << 16 | std::uint32_t{src[i + 1]} << 8 | src[i + 2];
            if ((x & 0xF0C0C0u) != 0xE08080u) break;
            const std::uint16_t code = wide[(x >> 4 & 0xF000u) | (x >> 2 & 0x0FC0u) | (x & 0x3Fu)];
            if (code == 0) break;
            put_wide(code, dst);
        }
        if (i >= n) break;
        const unsigned char b = src[i];
        if (b < 0x80) {
            dst += put_code(codes[b], dst, lacked);
            ++i;
            continue;
        }
        const Decoded d = utf8_at(src + i, n - i);
        if (!d.valid()) return RunConverter::failed;
        dst += put_code(d.value < 0x10000 ? codes[d.value] : cp932_no_code, dst, lacked);
        i += d.length;
    }
    return static_cast<std::size_t>(dst - start);
}

// Whole UTF-8 characters are their own UTF-8: checked, then copied.
std::size_t utf8_to_utf8(const unsigned char* src, std::size_t n, unsigned char* dst) {
    for (std::size_t i = 0; i < n;) {
        // Kana and kanji back to back in a loop of their own, as above.
        for (; n - i >= 3; i += 3) {
            const std::uint32_t x = std::uint32_t{src[i]} << 16 | std::uint32_t{src[i + 1]} << 8 | src[i + 2];
            if ((x & 0xF0C0C0u) != 0xE08080u) break;
            const std::uint32_t u = (x >> 4 & 0xF000u) | (x >> 2 & 0x0FC0u);  // the low six bits decide nothing
            // Below U+0800 is an overlong form, and a surrogate is no character.
            if (u < 0x800 || (u >= detail::surrogate_first && u <= detail::surrogate_last)) break;
        }
        if (i >= n) break;
        if (src[i] < 0x80) {
            ++i;
            continue;
        }
        const Decoded d = utf8_at(src + i, n - i);
        if (!d.valid()) return RunConverter::failed;
        i += d.length;
    }
    std::memcpy(dst, src, n);
    return n;
}

template <bool cp932>
std::size_t euc_jp_to(const unsigned char* src, std::size_t n, unsigned char* dst, const std::uint16_t* codes,
                      const std::uint16_t* pairs, std::uint64_t& lacked) {
    unsigned char* const start = dst;
    const auto put = [&](char32_t u) {
        if constexpr (cp932)
            dst += put_code(u < 0x10000 ? codes[u] : cp932_no_code, dst, lacked);
        else
            dst += put_utf8(u, dst);
    };
    for (std::size_t i = 0; i < n;) {
        // Double-byte characters back to back, most of the text, in a loop
        // of their own. In code page 932 an entry below 0x100 is a one-byte
        // code, and none is no_pair or cp932_no_code; in UTF-8 every
        // character the table holds is written here.
        for (std::uint16_t e; n - i >= 2; i += 2) {
            e = pairs[pair_at(src + i)];
            if constexpr (cp932) {
                if (e < 0x100 || e >= no_pair) break;
                put_wide(e, dst);
                dst += 2;
            } else {
                if (e == no_pair) break;
                dst += put_utf8(e, dst);
            }
        }
        if (i >= n) break;
        // A double-byte character first: the table holds no pair for a
        // one-byte code or SS3 before any byte.
        if (i + 1 < n) {
            const std::uint16_t e = pairs[pair_at(src + i)];
            if (e != no_pair) {
                if constexpr (cp932)
                    dst += put_code(e, dst, lacked);
                else
                    dst += put_utf8(e, dst);
                i += 2;
                continue;
            }
        }
        const unsigned char b = src[i];
        if (b < detail::euc_jp_ss2) {
            // One byte, itself in both outputs' first 128 codes (and in
            // code page 932's table for 0x80-0x8D).
            put(b);
            ++i;
            continue;
        }
        // JIS X 0212, the C1 bytes, and whatever the tables do not hold.
        const Decoded d = decode_euc_jp(src + i, n - i);
        if (!d.valid()) return RunConverter::failed;
        put(d.value);
        i += d.length;
    }
    return static_cast<std::size_t>(dst - start);
}

// The rest of a run past its opening ASCII, in a call of its own (below).
[[gnu::noinline]] std::size_t utf8_rest_to_utf8(const RunConverter::Tables&, const unsigned char* src,
                                                std::size_t n, unsigned char* dst, std::uint64_t&) {
    return utf8_to_utf8(src, n, dst);
}
[[gnu::noinline]] std::size_t utf8_rest_to_cp932(const RunConverter::Tables& t, const unsigned char* src,
                                                 std::size_t n, unsigned char* dst, std::uint64_t& lacked) {
    return utf8_to_cp932(src, n, dst, t.codes, t.wide, lacked);
}
template <bool cp932>
[[gnu::noinline]] std::size_t euc_jp_rest_to(const RunConverter::Tables& t, const unsigned char* src, std::size_t n,
                                             unsigned char* dst, std::uint64_t& lacked) {
    return euc_jp_to<cp932>(src, n, dst, t.codes, t.pairs, lacked);
}

// The ASCII that opens src[0, n), copied to dst; returns its length. In
// EUC-JP and UTF-8 a byte below 0x80 is always a one-byte character, the
// same byte in both outputs (code page 932 codes U+0000-U+007F as their
// own bytes).
inline std::size_t copy_ascii(const unsigned char* src, std::size_t n, unsigned char* dst) {
    constexpr std::size_t word = sizeof(std::uint64_t);
    constexpr std::uint64_t high_bits = 0x8080808080808080u;
    std::size_t i = 0;
    for (std::uint64_t w; n - i >= word; i += word) {
        std::memcpy(&w, src + i, word);
        if ((w & high_bits) != 0) break;
        std::memcpy(dst + i, &w, word);
    }
    for (; i < n && src[i] < 0x80; ++i) dst[i] = src[i];
    return i;
}

// A step of EUC-JP or UTF-8: the ASCII that opens the run copied here, the
// rest by `rest`. Most runs found in data are a few ASCII bytes, and with
// the rest's loop inlined each of them paid for the registers that loop
// saves and restores.
template <RunConverter::Step rest>
std::size_t ascii_then(const RunConverter::Tables& t, const unsigned char* src, std::size_t n, unsigned char* dst,
                       std::uint64_t& lacked) {
    const std::size_t i = copy_ascii(src, n, dst);
    if (i == n) return n;
    const std::size_t size = rest(t, src + i, n - i, dst + i, lacked);
    return size == RunConverter::failed ? size : i + size;
}

// A surrogate unit: half of a pair, or no character on its own.
inline bool is_surrogate(char16_t u) { return (u & 0xF800u) == detail::surrogate_first; }

template <ByteOrder order>
std::size_t utf16_to_utf8(const unsigned char* src, std::size_t n, unsigned char* dst) {
    if (n % utf16_unit != 0) return RunConverter::failed;
    unsigned char* const start = dst;
    for (std::size_t i = 0; i < n;) {
        const char16_t u = detail::utf16_unit_at<order>(src + i);
        if (!is_surrogate(u)) {
            dst += put_utf8(u, dst);
            i += utf16_unit;
            continue;
        }
        const Decoded d = decode_utf16<order>(src + i, n - i);
        if (!d.valid()) return RunConverter::failed;
        dst += put_utf8(d.value, dst);
        i += d.length;
    }
    return static_cast<std::size_t>(dst - start);
}

template <ByteOrder order>
RunConverter::Step utf16_step(bool utf8_out, RunConverter::Tables& tables) {
    if (utf8_out)
        return [](const RunConverter::Tables&, const unsigned char* src, std::size_t n, unsigned char* dst,
                  std::uint64_t&) { return utf16_to_utf8<order>(src, n, dst); };
    static_assert(utf16_not_whole == RunConverter::failed);
    static_assert(RunConverter::max_out(utf16_unit) >= utf16_unit, "utf16_to_cp932 writes at most its input's size");
    tables.forms = cp932_unit_forms();
    return [](const RunConverter::Tables& t, const unsigned char* src, std::size_t n, unsigned char* dst,
              std::uint64_t& l) { return utf16_to_cp932<order>(src, n, dst, t.forms, l); };
}

}  // namespace

const std::uint16_t* cp932_bmp_codes() {
    // The search per character would cost more than the scan; a search for
    // every code point cost each run of the program more than the scan of a
    // few MiB. So the double-byte codes come from the encoding table in one
    // walk, and the codes a single byte gives (ASCII, the katakana and the
    // few other single bytes) from the encoder, asked for the character each
    // byte reads as: it gives them before the table's codes.
    static const std::vector<std::uint16_t> codes = [] {
        std::vector<std::uint16_t> table(0x10000, cp932_no_code);
        for (const Cp932Encoding& e : cp932_encode_table) table[e.unicode] = e.code;
        for (unsigned b = 0; b < 0x100; ++b) {
            const auto byte = static_cast<unsigned char>(b);
            unsigned char utf8[utf8_per_cp932_byte];
            const Decoded d = decode_utf8(utf8, cp932_to_utf8(&byte, 1, utf8));
            if (!d.valid() || d.value >= 0x10000) continue;
            const int code = cp932_code(d.value);
            table[d.value] = code < 0 ? cp932_no_code : static_cast<std::uint16_t>(code);
        }
        return table;
    }();
    return codes.data();
}

const std::uint32_t* cp932_unit_forms() {
    // One entry per unit without a branch, so the loop is a few
    // instructions a unit (it is made once a process, for every pass of
    // UTF-16 written as code page 932); the surrogates are cleared after.
    constexpr std::size_t units = 0x10000;
    // Static storage: no fill of zeros before the loop writes each entry.
    static std::uint32_t t[units];
    static const std::uint32_t* const table = [] {
        const std::uint16_t* codes = cp932_bmp_codes();
        std::uint32_t* out = t;
        for (std::size_t u = 0; u < units; ++u) {
            const std::uint32_t code = codes[u];
            const std::uint32_t lacked = code == cp932_no_code ? ~0u : 0u;
            const std::uint32_t single = code < 0x100 ? ~0u : 0u;
            const std::uint32_t stored = (code & single) | ((code >> 8 | (code & 0xFFu) << 8) & ~single);
            const std::uint32_t size = 2u - (single & 1u) - (lacked & 1u);
            out[u] = (stored & ~lacked) | (cp932_substitute & lacked) | size << unit_form::size_shift |
                     (lacked & 1u) << unit_form::lacked_shift;
        }
        std::fill(t + detail::surrogate_first, t + detail::surrogate_last + 1, 0u);
        return t;
    }();
    return table;
}

RunConverter::RunConverter(InputEncoding in, bool utf8_out) {
    tables_.codes = cp932_bmp_codes();
    switch (in) {
    case InputEncoding::utf8:
        if (utf8_out) {
            step_ = ascii_then<utf8_rest_to_utf8>;
            break;
        }
        tables_.wide = cp932_wide_of_three();
        step_ = ascii_then<utf8_rest_to_cp932>;
        break;
    case InputEncoding::euc_jp:
        tables_.pairs = utf8_out ? euc_jp_pairs<false>() : euc_jp_pairs<true>();
        step_ = utf8_out ? ascii_then<euc_jp_rest_to<false>> : ascii_then<euc_jp_rest_to<true>>;
        break;
    case InputEncoding::utf16le: step_ = utf16_step<ByteOrder::little>(utf8_out, tables_); break;
    case InputEncoding::utf16be: step_ = utf16_step<ByteOrder::big>(utf8_out, tables_); break;
    default: throw std::invalid_argument("no run converter for this input encoding");
    }
}

}  // namespace kurvane::text
