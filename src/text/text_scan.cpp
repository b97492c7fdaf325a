#include "text/text_scan.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "text/cut_bytes.h"
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
    fill_bmp_traits();
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
        // Eight at a time: the compiler cannot tell the two byte vectors
        // apart, so it would not widen a loop a byte at a time itself.
        static_assert(bmp_end % sizeof(std::uint64_t) == 0);
        constexpr std::uint64_t each_role = 0x0101010101010101ull * role_mask;
        for (std::size_t u = 0; u < bmp_end; u += sizeof(std::uint64_t)) {
            std::uint64_t eight;
            std::memcpy(&eight, bmp_traits_.data() + u, sizeof eight);
            eight &= each_role;
            std::memcpy(roles.data() + u, &eight, sizeof eight);
        }
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

// The same as traits_of for every character of the BMP, from the class
// table's blocks: a class's traits are worked out once, then each block of
// classes is read through them (the first time it is met; a block met
// again is copied), and the excluded characters go in last. A call of
// traits_of per character, with its search of the excluded, was a large
// part of a small file's run.
void ScanTables::fill_bmp_traits() {
    constexpr std::size_t block = detail::unicode_class_block_size;
    static_assert(bmp_end % block == 0 && text_class_count <= 256);
    std::array<std::uint8_t, 256> class_traits{};
    for (unsigned c = 0; c < text_class_count; ++c) {
        const auto cls = static_cast<TextClass>(c);
        if (!spec_.classes.contains(cls)) continue;
        const bool kana = cls == TextClass::hiragana || cls == TextClass::katakana || cls == TextClass::half_kana;
        class_traits[c] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(CharRole::kept) | (kana ? kana_flag : 0));
    }
    std::array<std::size_t, 256> first_met;
    first_met.fill(bmp_end);
    for (std::size_t at = 0; at < bmp_end; at += block) {
        const std::uint8_t id = detail::unicode_class_index[at / block];
        if (first_met[id] != bmp_end) {
            std::copy_n(bmp_traits_.begin() + static_cast<std::ptrdiff_t>(first_met[id]), block,
                        bmp_traits_.begin() + static_cast<std::ptrdiff_t>(at));
            continue;
        }
        first_met[id] = at;
        const std::uint8_t* classes = detail::unicode_class_blocks[id];
        for (std::size_t k = 0; k < block; ++k) bmp_traits_[at + k] = class_traits[classes[k]];
    }
    for (const char32_t u : spec_.excluded)
        if (u < bmp_end) bmp_traits_[u] = static_cast<std::uint8_t>(CharRole::excluded);
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
bool exempt_passes(const ScanTables& tables, const unsigned char* data, Span span, int& exempt) {
    exempt = -1;
    const ScanSpec& spec = tables.spec();
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
