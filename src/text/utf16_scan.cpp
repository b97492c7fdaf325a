#include "text/utf16_scan.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kurvane::text::detail {

namespace {

struct TraitMasks {
    std::uint64_t member, kept, kana, pairs;
};

// Bit k of each mask from traits[k]: a role, the kept bit, the kana bit,
// the pair bit.
TraitMasks trait_masks(const std::uint8_t (&traits)[mask_bits]) {
    static_assert(ScanTables::unit_role == 3 && ScanTables::unit_kana == 4 && ScanTables::unit_pair == 8 &&
                      static_cast<unsigned>(CharRole::kept) == 1,
                  "the shifts below take a unit's bits from its traits");
    TraitMasks m{};
#if defined(__SSE2__)
    // A left shift by 7 - b puts bit b of every byte at its top, which
    // the byte mask gathers.
    constexpr std::size_t lanes = 16;
    for (std::size_t q = 0; q < mask_bits / lanes; ++q) {
        const __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(traits + q * lanes));
        const auto gather = [&](__m128i y) { return static_cast<std::uint64_t>(_mm_movemask_epi8(y)) << q * lanes; };
        const __m128i no_role = _mm_cmpeq_epi8(_mm_and_si128(x, _mm_set1_epi8(ScanTables::unit_role)), _mm_setzero_si128());
        m.member |= ~gather(no_role) & std::uint64_t{0xFFFF} << q * lanes;
        m.kept |= gather(_mm_slli_epi16(x, 7));
        m.kana |= gather(_mm_slli_epi16(x, 5));
        m.pairs |= gather(_mm_slli_epi16(x, 4));
    }
#else
    for (std::size_t k = 0; k < mask_bits; ++k) {
        const std::uint64_t unit = traits[k];
        m.member |= std::uint64_t{(unit & ScanTables::unit_role) != 0} << k;
        m.kept |= (unit & 1) << k;
        m.kana |= (unit >> 2 & 1) << k;
        m.pairs |= (unit >> 3 & 1) << k;
    }
#endif
    return m;
}

// The kernel's masks, without a vector unit: a word of units is looked up
// only where the skip finds something in it.
template <ByteOrder order>
void fill_skipping(const ScanTables& t, const unsigned char* p, std::size_t n, const UnitMasks& m, std::size_t words,
                   UnitTraitWords out) {
    const TextSkip& skip = t.skip();
    clear_unit_words(0, words, out);
    for (std::size_t w = 0; w < words; ++w) {
        const std::size_t count = std::min(mask_bits, m.units - std::min(m.units, w * mask_bits));
        const std::size_t from = m.first + w * mask_bits * utf16_unit;
        const std::size_t to = from + count * utf16_unit;
        // Most blocks of data start nothing, which the vector skip tells.
        if (count == 0 || skip.next(p, std::min(n, to), from) >= to) continue;
        // The units' traits side by side, then each trait bit of all of
        // them gathered into a mask at once.
        alignas(16) std::uint8_t traits[mask_bits] = {};
        for (std::size_t k = 0; k < count; ++k) traits[k] = t.unit_traits(utf16_unit_at<order>(p + from + k * utf16_unit));
        const TraitMasks bits = trait_masks(traits);
        out.member[w] = bits.member;
        out.kept[w] = bits.kept;
        out.kana[w] = bits.kana;
        out.high[w] = bits.pairs;
    }
}

}  // namespace

template <ByteOrder order>
void fill_unit_masks(const ScanTables& t, const unsigned char* p, std::size_t n, std::size_t first, UnitMasks& m) {
    m.first = first;
    m.units = n > first ? (n - first) / utf16_unit : 0;
    const std::size_t words = unit_mask_words(n);
    // Every word the scan reads is written below, so the masks only grow:
    // a resize after a smaller scan would clear the words first.
    for (auto* w : {&m.member, &m.kept, &m.kana, &m.pairs})
        if (w->size() < words) w->resize(words);
    // The pairs mask holds every high surrogate at first, and after the
    // walk below only those that start a kept or excluded character.
    const UnitTraitWords out{m.member.data(), m.kept.data(), m.kana.data(), m.pairs.data()};
    const UnitMaskKernel& kernel = unit_mask_kernel();
    if (kernel.isa == Isa::scalar) fill_skipping<order>(t, p, n, m, words, out);
    else kernel(order, t.unit_lookup(), p + first, m.units, words, out);
    // A high surrogate: its pair is decoded, and both units take the
    // character's bits (the low one may be in the next word).
    for (std::size_t w = 0; w < words; ++w) {
        const std::uint64_t highs = m.pairs[w];
        m.pairs[w] = 0;
        for (std::uint64_t pairs = highs; pairs != 0; pairs &= pairs - 1) {
            const std::size_t k = w * mask_bits + static_cast<std::size_t>(std::countr_zero(pairs));
            const std::size_t at = first + k * utf16_unit;
            const Decoded d = decode_utf16<order>(p + at, n - at);
            const CharRole r = d.valid() ? t.role(d.value) : CharRole::none;
            if (r == CharRole::none) continue;
            m.pairs[k / mask_bits] |= std::uint64_t{1} << k % mask_bits;
            for (const std::size_t u : {k, k + 1}) {
                const std::uint64_t bit = std::uint64_t{1} << u % mask_bits;
                m.member[u / mask_bits] |= bit;
                if (r == CharRole::kept) m.kept[u / mask_bits] |= bit;
            }
            if (t.kept_kana(d.value)) m.kana[k / mask_bits] |= std::uint64_t{1} << k % mask_bits;
        }
    }
}

template void fill_unit_masks<ByteOrder::little>(const ScanTables&, const unsigned char*, std::size_t, std::size_t,
                                                 UnitMasks&);
template void fill_unit_masks<ByteOrder::big>(const ScanTables&, const unsigned char*, std::size_t, std::size_t,
                                              UnitMasks&);

}  // namespace kurvane::text::detail
