#include "text/text_scan.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "text/unicode_class.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kurvane::text {
namespace {

bool excluded_char(const ScanSpec& spec, char32_t u) {
    return std::find(spec.excluded.begin(), spec.excluded.end(), u) != spec.excluded.end();
}

}  // namespace

ScanTables::ScanTables(ScanSpec spec) : spec_(std::move(spec)), bmp_roles_(bmp_end) {
    if (decoder_for(spec_.encoding) == nullptr) throw std::invalid_argument("ScanTables: no decoder for code page 932");
    for (char32_t u = 0; u < bmp_end; ++u) {
        CharRole r = spec_.classes.contains(unicode_class(u)) ? CharRole::kept : CharRole::none;
        bmp_roles_[u] = static_cast<std::uint8_t>(r);
    }
    for (const char32_t u : spec_.excluded)
        if (u < bmp_end) bmp_roles_[u] = static_cast<std::uint8_t>(CharRole::excluded);
    starts_ = starts_taken(spec_.encoding, spec_.classes, spec_.excluded);
    ascii_starts_nothing_ = std::none_of(starts_.begin(), starts_.begin() + 0x80, [](bool b) { return b; });
    // The skip, from the tables above.
    switch (spec_.encoding) {
        case InputEncoding::utf16le: skip_ = TextSkip::of_units(ByteOrder::little, bmp_roles_); break;
        case InputEncoding::utf16be: skip_ = TextSkip::of_units(ByteOrder::big, bmp_roles_); break;
        default: skip_ = TextSkip::of_bytes(starts_); break;
    }
}

CharRole ScanTables::role_beyond_bmp(char32_t u) const {
    if (excluded_char(spec_, u)) return CharRole::excluded;
    return spec_.classes.contains(unicode_class(u)) ? CharRole::kept : CharRole::none;
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

std::size_t skip_ascii(const unsigned char* p, std::size_t n, std::size_t i) {
#if defined(__SSE2__)
    constexpr std::size_t block = 16;
    while (n - i >= block) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
        if (high != 0) return i + static_cast<std::size_t>(__builtin_ctz(high));
        i += block;
    }
#else
    constexpr std::size_t block = 8;
    while (n - i >= block) {
        std::uint64_t v;
        std::memcpy(&v, p + i, block);
        v &= 0x8080808080808080u;
        if (v != 0) break;
        i += block;
    }
#endif
    return i;
}

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

void settle_overlaps(const ScanTables& tables, const unsigned char* data, std::size_t size, std::vector<Span>& group,
                     std::vector<Span>& settled) {
    // Everything before the first two that overlap is settled for good: no
    // part of a later run starts before the later of those two.
    std::sort(group.begin(), group.end(), [](const Span& x, const Span& y) { return x.start < y.start; });
    settled.clear();
    std::size_t front = 0;
    while (front < group.size()) {
        if (front + 1 == group.size() || group[front + 1].start >= group[front].end) {
            settled.push_back(group[front++]);
            continue;
        }
        Span parts[3];
        const std::size_t count = settle_pair(tables, data, size, group[front], group[front + 1], parts);
        const auto rest = group.begin() + static_cast<std::ptrdiff_t>(front);
        group.erase(rest, rest + 2);
        for (std::size_t k = 0; k < count; ++k) {
            const auto at = std::lower_bound(group.begin() + static_cast<std::ptrdiff_t>(front), group.end(),
                                             parts[k].start, [](const Span& x, std::size_t v) { return x.start < v; });
            group.insert(at, parts[k]);
        }
    }
}

namespace {

// In a run of UTF-16 every unit is a whole character or one half of a
// surrogate pair, so the character that holds a byte is found from the unit
// there: the start of s's character that holds byte pos - 1, for
// s.start < pos <= s.end. Other encodings do not resynchronise backwards in
// one step; for them it is s.start, and the walks below read the whole run.
template <Decoded (*decode)(const unsigned char*, std::size_t)>
std::size_t char_holding(const unsigned char* data, const Span& s, std::size_t pos) {
    constexpr bool little = decode == &decode_utf16le;
    constexpr bool big = decode == &decode_utf16be;
    if constexpr (little || big) {
        constexpr ByteOrder order = little ? ByteOrder::little : ByteOrder::big;
        std::size_t j = s.start + ((pos - 1 - s.start) & ~(utf16_unit - 1));
        const char16_t unit = utf16_unit_at<order>(data + j);
        if (j > s.start && unit >= low_surrogate_first && unit <= surrogate_last) j -= utf16_unit;
        return j;
    } else {
        (void)data;
        (void)pos;
        return s.start;
    }
}

// settle_pair with the decoder inlined. It reads only the characters near
// the overlap where it can: a run of one alignment is often long and the
// other alignment's run overlaps it by a unit or two at one end.
template <Decoded (*decode)(const unsigned char*, std::size_t)>
std::size_t settle_pair_with(const ScanTables& tables, const unsigned char* data, std::size_t size, Span first,
                             Span second, Span (&out)[3]) {
    const std::size_t lo = second.start;
    const std::size_t hi = std::min(first.end, second.end);
    // The kana of s's characters that touch [lo, hi), then its kept bytes.
    auto key = [&](const Span& s) {
        std::size_t kana = 0;
        const std::size_t from = s.start < lo ? char_holding<decode>(data, s, lo) : s.start;
        for (std::size_t i = from; i < s.end && i < hi;) {
            const Decoded d = decode(data + i, size - i);
            if (i + d.length > lo && tables.role(d.value) == CharRole::kept) {
                const TextClass c = unicode_class(d.value);
                kana += c == TextClass::hiragana || c == TextClass::katakana || c == TextClass::half_kana;
            }
            i += d.length;
        }
        return std::tuple(kana, s.kept_bytes, ~s.start);
    };
    const bool first_wins = key(first) > key(second);
    const Span& w = first_wins ? first : second;
    const Span& l = first_wins ? second : first;
    // The loser keeps its characters wholly before the winner and wholly
    // after it. When the winner reaches past the loser's end, the walk
    // starts at the loser's character that holds the winner's first byte
    // and what comes before it is counted by difference.
    const std::size_t from = w.start > l.start && w.end >= l.end ? char_holding<decode>(data, l, w.start) : l.start;
    Span before{l.start, from, 0};
    Span after{l.end, l.end, 0};
    std::uint64_t middle_kept = 0;
    for (std::size_t i = from; i < l.end;) {
        if (i >= w.end) {
            after.start = i;
            break;
        }
        const Decoded d = decode(data + i, size - i);
        const std::uint64_t kept = tables.role(d.value) == CharRole::kept ? d.length : 0;
        if (i + d.length <= w.start) {
            before.end = i + d.length;
            before.kept_bytes += kept;
        } else {
            middle_kept += kept;
        }
        i += d.length;
    }
    if (from == l.start)
        after.kept_bytes = l.kept_bytes - before.kept_bytes - middle_kept;
    else
        before.kept_bytes = l.kept_bytes - middle_kept;
    std::size_t count = 0;
    if (before.end > before.start) out[count++] = before;
    out[count++] = w;
    if (after.start < after.end) out[count++] = after;
    return count;
}

}  // namespace

std::size_t settle_pair(const ScanTables& tables, const unsigned char* data, std::size_t size, Span first,
                        Span second, Span (&out)[3]) {
    if (tables.spec().encoding == InputEncoding::utf16be)
        return settle_pair_with<decode_utf16be>(tables, data, size, first, second, out);
    if (tables.spec().encoding == InputEncoding::utf16le)
        return settle_pair_with<decode_utf16le>(tables, data, size, first, second, out);
    if (tables.spec().encoding == InputEncoding::utf8)
        return settle_pair_with<decode_utf8>(tables, data, size, first, second, out);
    return settle_pair_with<decode_euc_jp>(tables, data, size, first, second, out);
}

}  // namespace detail
}  // namespace kurvane::text
