// The members of a skip and their covering ranges, the scalar and SSE2
// skips, and the choice of skip at run time.
#include "text/text_skip.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/text_skip_loop.h"

namespace kurvane::text {

#if defined(__x86_64__) || defined(_M_X64)
#define KURVANE_TEXT_SKIP_AVX2 1
namespace detail {
// Defined in text_skip_avx2.cpp.
SkipNext avx2_skip(SkipUnit unit);
}  // namespace detail
#endif

namespace {

#if defined(__SSE2__)
// The ranges tested on 16 bytes at once: a value v is in [first, last] when
// v - first, wrapping, is at most last - first, which a saturating subtract
// of the width turns into a test for zero.
template <SkipUnit Unit>
class Sse2Block {
public:
    static constexpr SkipUnit unit = Unit;
    static constexpr std::size_t bytes = 16;

    explicit Sse2Block(std::span<const SkipRange, skip_ranges> ranges) {
        for (std::size_t r = 0; r < skip_ranges; ++r) {
            if constexpr (unit == SkipUnit::byte) {
                first_[r] = _mm_set1_epi8(static_cast<char>(ranges[r].first));
                width_[r] = _mm_set1_epi8(static_cast<char>(ranges[r].last - ranges[r].first));
            } else {
                first_[r] = _mm_set1_epi16(static_cast<short>(ranges[r].first));
                width_[r] = _mm_set1_epi16(static_cast<short>(ranges[r].last - ranges[r].first));
            }
        }
    }

    // A bit at the first byte of each member of the 16 bytes at p.
    std::uint32_t hits(const unsigned char* p) const {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if constexpr (unit == SkipUnit::utf16be) x = _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));
        __m128i hit = _mm_setzero_si128();
        for (std::size_t r = 0; r < skip_ranges; ++r) {
            if constexpr (unit == SkipUnit::byte)
                hit = _mm_or_si128(hit, _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(x, first_[r]), width_[r]),
                                                       _mm_setzero_si128()));
            else
                hit = _mm_or_si128(hit, _mm_cmpeq_epi16(_mm_subs_epu16(_mm_sub_epi16(x, first_[r]), width_[r]),
                                                        _mm_setzero_si128()));
        }
        const auto m = static_cast<std::uint32_t>(_mm_movemask_epi8(hit));
        // A unit's two bytes give two bits: keep the one at its first byte.
        return unit == SkipUnit::byte ? m : m & 0x5555u;
    }

private:
    __m128i first_[skip_ranges];
    __m128i width_[skip_ranges];
};

detail::SkipNext sse2_skip(SkipUnit unit) {
    switch (unit) {
        case SkipUnit::byte: return SkipKernels::vector_next<Sse2Block<SkipUnit::byte>>;
        case SkipUnit::utf16le: return SkipKernels::vector_next<Sse2Block<SkipUnit::utf16le>>;
        case SkipUnit::utf16be: break;
    }
    return SkipKernels::vector_next<Sse2Block<SkipUnit::utf16be>>;
}
#endif

detail::SkipNext scalar_skip(SkipUnit unit) {
    switch (unit) {
        case SkipUnit::byte: return detail::scalar_skip_next<SkipUnit::byte>;
        case SkipUnit::utf16le: return detail::scalar_skip_next<SkipUnit::utf16le>;
        case SkipUnit::utf16be: break;
    }
    return detail::scalar_skip_next<SkipUnit::utf16be>;
}

// The skip of `isa`, which must be available.
detail::SkipNext skip_for(SkipIsa isa, SkipUnit unit) {
    switch (isa) {
#if defined(__SSE2__)
        case SkipIsa::sse2: return sse2_skip(unit);
#endif
#if defined(KURVANE_TEXT_SKIP_AVX2)
        case SkipIsa::avx2: return detail::avx2_skip(unit);
#endif
        default: break;
    }
    return scalar_skip(unit);
}

SkipIsa best_isa() {
    for (const SkipIsa isa : {SkipIsa::avx2, SkipIsa::sse2})
        if (skip_isa_available(isa)) return isa;
    return SkipIsa::scalar;
}

// The first value at or after v, below `values`, whose bit is `set`; else
// `values`. Whole words at a time: a skip over 2^16 units is made for
// every pass, and a value at a time it was most of a small file's run.
std::size_t next_bit(const std::uint64_t* bits, std::size_t values, std::size_t v, bool set) {
    constexpr std::size_t w = 64;
    const std::uint64_t flip = set ? 0 : ~std::uint64_t{0};
    if (v >= values) return values;
    std::size_t k = v / w;
    std::uint64_t x = (bits[k] ^ flip) & ~std::uint64_t{0} << v % w;
    while (x == 0) {
        if (++k == values / w) return values;
        x = bits[k] ^ flip;
    }
    return std::min(values, k * w + static_cast<std::size_t>(std::countr_zero(x)));
}

// The runs of members, the nearest merged until at most skip_ranges are
// left. `values` is a multiple of 64.
std::vector<SkipRange> covering_ranges(const std::uint64_t* bits, std::size_t values, bool& exact) {
    std::vector<SkipRange> runs;
    for (std::size_t v = next_bit(bits, values, 0, true); v < values;) {
        const std::size_t end = next_bit(bits, values, v, false);
        runs.push_back({static_cast<std::uint16_t>(v), static_cast<std::uint16_t>(end - 1)});
        v = next_bit(bits, values, end, true);
    }
    exact = runs.size() <= skip_ranges;
    if (exact) return runs;
    // Keep the widest skip_ranges - 1 gaps between runs (the earlier of
    // equal ones) and close the others: one pass that keeps the widest
    // found so far, widest first, a later gap going after the equal ones.
    constexpr std::size_t keep = skip_ranges - 1;
    const auto width = [&](std::size_t k) { return runs[k + 1].first - runs[k].last; };
    std::array<std::size_t, keep> widest{};
    std::size_t kept = 0;
    for (std::size_t k = 0; k + 1 < runs.size(); ++k) {
        if (kept == keep && width(k) <= width(widest[keep - 1])) continue;
        std::size_t at = kept < keep ? kept++ : keep - 1;
        for (; at > 0 && width(widest[at - 1]) < width(k); --at) widest[at] = widest[at - 1];
        widest[at] = k;
    }
    // More than skip_ranges runs have at least `keep` gaps: all are kept.
    std::sort(widest.begin(), widest.end());
    std::vector<SkipRange> merged;
    std::size_t from = 0;
    for (std::size_t g = 0; g < keep; ++g) {
        merged.push_back({runs[from].first, runs[widest[g]].last});
        from = widest[g] + 1;
    }
    merged.push_back({runs[from].first, runs.back().last});
    return merged;
}

// A bit for each nonzero byte of the eight at p, the first byte's lowest.
std::uint64_t nonzero_bytes(const unsigned char* p) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t x;
        std::memcpy(&x, p, sizeof x);
        constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
        // Each byte's top bit is set when any of its bits is, then the
        // multiply gathers the eight top bits into the highest byte.
        const std::uint64_t top = (((x & low7) + low7) | x) & ~low7;
        return (top * 0x0002040810204081ull) >> 56;
    } else {
        std::uint64_t m = 0;
        for (unsigned k = 0; k < 8; ++k) m |= std::uint64_t{p[k] != 0} << k;
        return m;
    }
}

}  // namespace

std::string_view skip_isa_name(SkipIsa isa) {
    switch (isa) {
        case SkipIsa::scalar: return "scalar";
        case SkipIsa::sse2: return "sse2";
        case SkipIsa::avx2: return "avx2";
    }
    return "unknown";
}

bool skip_isa_available(SkipIsa isa) {
    switch (isa) {
        case SkipIsa::scalar: return true;
        case SkipIsa::sse2:
#if defined(__SSE2__)
            return true;
#else
            return false;
#endif
        case SkipIsa::avx2:
#if defined(KURVANE_TEXT_SKIP_AVX2)
            return __builtin_cpu_supports("avx2");
#else
            return false;
#endif
    }
    return false;
}

TextSkip::TextSkip(SkipUnit unit, const Bits& members, std::size_t values)
    : unit_(unit), bits_(members), next_(best(unit)) {
    static_assert(byte_values % word_bits == 0 && unit_values % word_bits == 0);
    const std::vector<SkipRange> ranges = covering_ranges(bits_.data(), values, exact_);
    range_count_ = ranges.size();
    std::copy(ranges.begin(), ranges.end(), ranges_.begin());
    // A repeated range changes no test, so the vector loop tests all of
    // them whatever the count.
    if (range_count_ != 0) std::fill(ranges_.begin() + static_cast<std::ptrdiff_t>(range_count_), ranges_.end(), ranges_[0]);
}

TextSkip::TextSkip() : TextSkip(SkipUnit::byte, [] {
    Bits all{};
    std::fill_n(all.begin(), byte_values / word_bits, ~std::uint64_t{0});
    return all;
}(), byte_values) {}

TextSkip TextSkip::of_bytes(const std::array<bool, 256>& starts) {
    static_assert(sizeof(starts) == byte_values);
    Bits members{};
    for (std::size_t v = 0; v < byte_values; ++v)
        if (starts[v]) members[v / word_bits] |= std::uint64_t{1} << v % word_bits;
    return TextSkip(SkipUnit::byte, members, byte_values);
}

TextSkip TextSkip::of_units(ByteOrder order, std::span<const std::uint8_t> bmp_roles) {
    Bits members{};
    const std::size_t roles = std::min(bmp_roles.size(), unit_values);
    std::size_t u = 0;
    for (; u + word_bits <= roles; u += word_bits) {
        std::uint64_t m = 0;
        for (unsigned k = 0; k < word_bits; k += 8) m |= nonzero_bytes(bmp_roles.data() + u + k) << k;
        members[u / word_bits] = m;
    }
    for (; u < roles; ++u)
        if (bmp_roles[u] != 0) members[u / word_bits] |= std::uint64_t{1} << u % word_bits;
    static_assert(detail::surrogate_first % word_bits == 0 && detail::low_surrogate_first % word_bits == 0);
    std::fill(members.begin() + detail::surrogate_first / word_bits,
              members.begin() + detail::low_surrogate_first / word_bits, ~std::uint64_t{0});
    return TextSkip(order == ByteOrder::little ? SkipUnit::utf16le : SkipUnit::utf16be, members, unit_values);
}

std::size_t TextSkip::next_with(SkipIsa isa, const unsigned char* p, std::size_t n, std::size_t i) const {
    return skip_for(isa, unit_)(*this, p, n, i);
}

namespace {
// Chosen once per process; a function-local static is initialised once
// even when threads race to it.
SkipIsa chosen_isa() {
    static const SkipIsa isa = best_isa();
    return isa;
}
}  // namespace

detail::SkipNext TextSkip::best(SkipUnit unit) { return skip_for(chosen_isa(), unit); }

}  // namespace kurvane::text
