// The skip over what starts no text, for the scan of EUC-JP, UTF-8 and
// UTF-16: from a position, the first one at which a kept or excluded
// character may start. EUC-JP and UTF-8 are skipped a byte at a time
// (ASCII no class takes, continuation bytes, zeros), UTF-16 a code unit at a
// time, two bytes apart (zero units, units of blocks no class takes).
//
// The members are held exactly, one bit per byte or code unit, and as a few
// ranges that cover them, which a vector tests at once on a block of bytes
// or units. Where more ranges than that are needed, the nearest are merged
// and a vector hit is checked against the bits. Each skip has a scalar
// version beside it, which is the reference the vector ones are tested
// against and the fallback where the processor has no vector unit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "text/utf16.h"

namespace kurvane::text {

// The vector skips load whole blocks inside [i, n) only and leave the rest
// to the scalar loop, so the data needs no padding after it.
inline constexpr std::size_t skip_overread = 0;
inline constexpr std::size_t skip_ranges = 4;  // covering ranges one vector test takes
inline constexpr std::size_t skip_probe = 8;   // units next() tests one by one before the vector skip

enum class SkipIsa : std::uint8_t { scalar, sse2, avx2 };
inline constexpr SkipIsa all_skip_isas[] = {SkipIsa::scalar, SkipIsa::sse2, SkipIsa::avx2};
std::string_view skip_isa_name(SkipIsa isa);
// Whether this build and this processor run the skips of `isa`.
bool skip_isa_available(SkipIsa isa);

// What the skip steps over: single bytes, or UTF-16 code units in either
// byte order.
enum class SkipUnit : std::uint8_t { byte, utf16le, utf16be };

// The width of the values of a unit kind, in bytes.
constexpr std::size_t skip_unit_bytes(SkipUnit unit) { return unit == SkipUnit::byte ? 1 : utf16_unit; }

struct SkipRange {
    std::uint16_t first;
    std::uint16_t last;  // inclusive
};

class TextSkip;
namespace detail {

// The value of the unit at p.
template <SkipUnit unit>
inline std::uint32_t skip_value_at(const unsigned char* p) {
    if constexpr (unit == SkipUnit::byte) return p[0];
    else if constexpr (unit == SkipUnit::utf16le) return utf16_unit_at<ByteOrder::little>(p);
    else return utf16_unit_at<ByteOrder::big>(p);
}

using SkipNext = std::size_t (*)(const TextSkip&, const unsigned char* p, std::size_t n, std::size_t i);
}  // namespace detail

class TextSkip {
public:
    // Every byte may start something: the skip stops at once.
    TextSkip();

    // The byte values that may start a character, for EUC-JP and UTF-8.
    static TextSkip of_bytes(const std::array<bool, 256>& starts);
    // The code units that may start a character, for UTF-16: those whose
    // role (0: none) is not none, and every high surrogate, whose pair's
    // role is decided by the scan.
    static TextSkip of_units(ByteOrder order, std::span<const std::uint8_t> bmp_roles);

    SkipUnit unit() const { return unit_; }
    // Whether value v (a byte, or a code unit) may start a character.
    bool member(std::uint32_t v) const { return (bits_[v / 64] >> v % 64 & 1u) != 0; }
    std::span<const SkipRange> ranges() const { return {ranges_.data(), range_count_}; }
    // True when the ranges hold exactly the members, so a vector hit needs
    // no check.
    bool exact() const { return exact_; }

    // The first position k of i, i + w, i + 2w, ... (w the unit's width)
    // at which a whole unit p[k, k + w) is a member; else the first such k
    // with fewer than w bytes left (n for bytes). Returns i when i >= n.
    // Reads only p[i, n).
    std::size_t next(const unsigned char* p, std::size_t n, std::size_t i) const {
        switch (unit_) {
            case SkipUnit::byte: break;
            case SkipUnit::utf16le: return probe_then_skip<SkipUnit::utf16le>(p, n, i);
            case SkipUnit::utf16be: return probe_then_skip<SkipUnit::utf16be>(p, n, i);
        }
        return probe_then_skip<SkipUnit::byte>(p, n, i);
    }
    // The same with the skip of one instruction set, which must be
    // available.
    std::size_t next_with(SkipIsa isa, const unsigned char* p, std::size_t n, std::size_t i) const;

private:
    static constexpr std::size_t byte_values = 256;
    static constexpr std::size_t unit_values = 0x10000;
    static constexpr std::size_t word_bits = 64;
    using Bits = std::array<std::uint64_t, unit_values / word_bits>;
    // From the members' bits among the first `values` values.
    TextSkip(SkipUnit unit, const Bits& members, std::size_t values);

    template <SkipUnit unit>
    std::size_t probe_then_skip(const unsigned char* p, std::size_t n, std::size_t i) const {
        // In text and among noise the next start is mostly a few units
        // away: look there before paying for the call and the vector set-up.
        constexpr std::size_t w = skip_unit_bytes(unit);
        for (std::size_t k = 0; k < skip_probe && i < n && n - i >= w; ++k, i += w)
            if (member(detail::skip_value_at<unit>(p + i))) return i;
        return next_(*this, p, n, i);
    }
    static detail::SkipNext best(SkipUnit unit);

    SkipUnit unit_;
    Bits bits_{};  // bytes use the first four words
    std::array<SkipRange, skip_ranges> ranges_{};  // unused ones repeat the first
    std::size_t range_count_ = 0;
    bool exact_ = true;
    detail::SkipNext next_;

    friend struct SkipKernels;
};

namespace detail {

// The plain skip: one unit at a time.
template <SkipUnit unit>
inline std::size_t scalar_skip_next(const TextSkip& s, const unsigned char* p, std::size_t n, std::size_t i) {
    constexpr std::size_t w = skip_unit_bytes(unit);
    for (; i < n && n - i >= w; i += w)
        if (s.member(skip_value_at<unit>(p + i))) return i;
    return i;
}

}  // namespace detail

}  // namespace kurvane::text
