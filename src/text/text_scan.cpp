#include "text/text_scan.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/unicode_class.h"


namespace kurvane::text {
namespace {

bool excluded_char(const ScanSpec& spec, char32_t u) {
    return std::find(spec.excluded.begin(), spec.excluded.end(), u) != spec.excluded.end();
}

}  // namespace

ScanTables::ScanTables(ScanSpec spec) : spec_(std::move(spec)), bmp_traits_(unit_table_size) {
    static_assert(bmp_end == 0x10000 && unit_table_size == bmp_end + unit_table_padding, "one entry per code unit");
    if (decoder_for(spec_.encoding) == nullptr) throw std::invalid_argument("ScanTables: no decoder for code page 932");
    for (char32_t u = 0; u < bmp_end; ++u) bmp_traits_[u] = traits_of(u);
    for (char32_t u = detail::surrogate_first; u <= detail::surrogate_last; ++u)
        bmp_traits_[u] = u < detail::low_surrogate_first ? unit_pair : 0;
    unit_rows_ = UnitRows(bmp_traits_.data());
    starts_ = starts_taken(spec_.encoding, spec_.classes, spec_.excluded);
    // The skip, from the tables above: a unit starts something when its
    // role is not none.
    switch (spec_.encoding) {
        case InputEncoding::utf16le: skip_ = TextSkip::of_units(ByteOrder::little, bmp_traits_); break;
        case InputEncoding::utf16be: skip_ = TextSkip::of_units(ByteOrder::big, bmp_traits_); break;
        default: skip_ = TextSkip::of_bytes(starts_); break;
    }
    if (spec_.encoding == InputEncoding::euc_jp || spec_.encoding == InputEncoding::utf8) {
        // A surrogate's traits hold no role bits.
        std::vector<std::uint8_t> roles(bmp_end);
        for (std::size_t u = 0; u < bmp_end; ++u) roles[u] = bmp_traits_[u] & role_mask;
        const bool euc = spec_.encoding == InputEncoding::euc_jp;
        byte_roles_ = euc ? ByteRoles::euc_jp(roles) : ByteRoles::utf8(roles);
        std::array<bool, 256> leads{}, trails{};
        for (unsigned b = 0; b < 256; ++b) {
            const auto c = static_cast<unsigned char>(b);
            leads[b] = euc ? detail::euc_jp_cell(c) || c == detail::euc_jp_ss2 || c == detail::euc_jp_ss3
                           : detail::utf8_leads[c].length >= 2;
            trails[b] = euc ? detail::euc_jp_cell(c) : detail::utf8_continuation(c);
        }
        start_classes_ = StartClasses(starts_, leads, trails);
    }
}

// The traits of any character; the table of the BMP holds them for its own.
std::uint8_t ScanTables::traits_of(char32_t u) const {
    if (excluded_char(spec_, u)) return static_cast<std::uint8_t>(CharRole::excluded);
    const TextClass c = unicode_class(u);
    if (!spec_.classes.contains(c)) return static_cast<std::uint8_t>(CharRole::none);
    const bool kana = c == TextClass::hiragana || c == TextClass::katakana || c == TextClass::half_kana;
    return static_cast<std::uint8_t>(static_cast<std::uint8_t>(CharRole::kept) | (kana ? kana_flag : 0));
}

namespace {

// The kept characters of `bytes`, with the decoder inlined.
template <Decoded (*decode)(const unsigned char*, std::size_t)>
std::u32string kept_text(const ScanTables& tables, std::span<const unsigned char> bytes) {
    std::u32string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size();) {
        const Decoded d = decode(bytes.data() + i, bytes.size() - i);
        if (tables.role(d.value) == CharRole::kept) text += d.value;
        i += d.length;
    }
    return text;
}

}  // namespace

std::u32string run_text(const ScanTables& tables, const FoundRun& run) {
    if (run.exempt >= 0) return tables.spec().exempt[static_cast<std::size_t>(run.exempt)];
    switch (tables.spec().encoding) {
        case InputEncoding::utf16le: return kept_text<decode_utf16le>(tables, run.bytes);
        case InputEncoding::utf16be: return kept_text<decode_utf16be>(tables, run.bytes);
        case InputEncoding::utf8: return kept_text<decode_utf8>(tables, run.bytes);
        case InputEncoding::euc_jp: return kept_text<decode_euc_jp>(tables, run.bytes);
        case InputEncoding::cp932: break;  // no tables are made for it
    }
    return {};
}

namespace detail {

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
    // Every word is written below.
    for (auto* w : {&m.member, &m.kept, &m.kana, &m.pairs}) w->resize(words);
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

bool passes(const ScanTables& tables, const unsigned char* data, Span span, int& exempt) {
    exempt = -1;
    const ScanSpec& spec = tables.spec();
    if (span.kept_bytes >= spec.min_length) return true;
    if (spec.exempt.empty()) return false;
    const std::u32string text = run_text(tables, {0, {data + span.start, span.end - span.start}, 0, -1});
    for (std::size_t k = 0; k < spec.exempt.size(); ++k) {
        if (!spec.exempt[k].empty() && text.find(spec.exempt[k]) != std::u32string::npos) {
            exempt = static_cast<int>(k);
            return true;
        }
    }
    return false;
}

}  // namespace detail
}  // namespace kurvane::text
