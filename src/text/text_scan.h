// The scan of input in EUC-JP, UTF-8 or UTF-16: finds the runs of text under
// one setting and hands each to a sink, with its input offset and bytes.
// The sink is a template parameter, so a plain one costs nothing in the
// loop. Code page 932 has its own scan in the engine.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "text/cut_bytes.h"
#include "text/euc_jp.h"
#include "text/input_encoding.h"
#include "text/text_class.h"
#include "text/text_skip.h"
#include "text/unicode_class.h"
#include "text/utf16.h"
#include "text/utf8_decode.h"

namespace kurvane::text {

// What counts as text.
struct ScanSpec {
    InputEncoding encoding = InputEncoding::utf8;
    ClassSet classes;
    std::uint32_t min_length = 1;  // bytes of the input encoding a run keeps
    std::vector<char32_t> excluded;
    std::vector<std::u32string> exempt;  // written for a shorter run that holds one
    // Runs of the two UTF-16 alignments that overlap are reported whole,
    // both of them, rather than settled: for a printer that reads each run
    // and keeps only the parts that read best as text. Settling by kana
    // cuts a line's last character, or the ASCII word that opens it, where
    // the other alignment's run over the bytes beside it is longer.
    bool keep_overlaps = false;
};

enum class CharRole : std::uint8_t { none, kept, excluded };

// The lookups of one setting, made once and shared by every thread.
class ScanTables {
public:
    // Throws std::invalid_argument for code page 932.
    explicit ScanTables(ScanSpec spec);

    const ScanSpec& spec() const { return spec_; }
    CharRole role(char32_t u) const {
        return u < bmp_end ? static_cast<CharRole>(bmp_roles_[u]) : role_beyond_bmp(u);
    }
    // False for a byte that starts no kept or excluded character.
    bool may_start(unsigned char b) const { return starts_[b]; }
    // The skip over what starts no kept or excluded character.
    const TextSkip& skip() const { return skip_; }

private:
    static constexpr char32_t bmp_end = 0x10000;
    CharRole role_beyond_bmp(char32_t u) const;

    ScanSpec spec_;
    std::vector<std::uint8_t> bmp_roles_;
    std::array<bool, 256> starts_;
    TextSkip skip_;
};

// A run found: `bytes` are the input from its first kept or excluded
// character to its end, at input offset `offset`; `kept_bytes` counts its
// kept characters' bytes. exempt is -1 when the run is written as it is,
// else the index of the exempt string written in its place.
struct FoundRun {
    std::uint64_t offset;
    std::span<const unsigned char> bytes;
    std::uint64_t kept_bytes;
    int exempt;
};

// The characters a run writes: its kept characters, or its exempt string.
std::u32string run_text(const ScanTables& tables, const FoundRun& run);

namespace detail {

// A run's span before the length test: [start, end) of the data.
struct Span {
    std::size_t start;
    std::size_t end;
    std::uint64_t kept_bytes;
};

// The length test and the exempt rule; false when the run is not written.
bool passes(const ScanTables& tables, const unsigned char* data, Span span, int& exempt);

// In a run of UTF-16 every unit is a whole character or one half of a
// surrogate pair, so the character that holds a byte is found from the unit
// there: the start of s's character that holds byte pos - 1, for
// s.start < pos <= s.end. Other encodings do not resynchronise backwards in
// one step; for them it is s.start, and the walks below read the whole run.
// The byte order of a UTF-16 decoder, told apart by template matching: a
// comparison of function addresses is no constant expression in every
// build (the sanitizers' builds refuse it).
template <Decoded (*decode)(const unsigned char*, std::size_t)>
struct Utf16Order {
    static constexpr bool utf16 = false;
    static constexpr ByteOrder order = ByteOrder::little;
};
template <>
struct Utf16Order<&decode_utf16le> {
    static constexpr bool utf16 = true;
    static constexpr ByteOrder order = ByteOrder::little;
};
template <>
struct Utf16Order<&decode_utf16be> {
    static constexpr bool utf16 = true;
    static constexpr ByteOrder order = ByteOrder::big;
};

template <Decoded (*decode)(const unsigned char*, std::size_t)>
inline std::size_t char_holding(const unsigned char* data, const Span& s, std::size_t pos) {
    if constexpr (Utf16Order<decode>::utf16) {
        constexpr ByteOrder order = Utf16Order<decode>::order;
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

// Two that overlap, `first` starting before `second`: writes what is left
// of them to out in input order and returns how many there are. It reads only the characters near
// the overlap where it can: a run of one alignment is often long and the
// other alignment's run overlaps it by a unit or two at one end.
template <Decoded (*decode)(const unsigned char*, std::size_t)>
inline std::size_t settle_pair(const ScanTables& tables, const unsigned char* data, std::size_t size, Span first,
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

// Settles runs of the two UTF-16 alignments that overlap (all of `group`
// overlaps into one stretch): the one with more kana in an overlap keeps
// its characters, then the one with more kept bytes, then the earlier; the
// other loses those that touch it. Leaves what is left in `settled`, in
// input order; `group` is used up.
template <Decoded (*decode)(const unsigned char*, std::size_t)>
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
        const std::size_t count = settle_pair<decode>(tables, data, size, group[front], group[front + 1], parts);
        const auto rest = group.begin() + static_cast<std::ptrdiff_t>(front);
        group.erase(rest, rest + 2);
        for (std::size_t k = 0; k < count; ++k) {
            const auto at = std::lower_bound(group.begin() + static_cast<std::ptrdiff_t>(front), group.end(),
                                             parts[k].start, [](const Span& x, std::size_t v) { return x.start < v; });
            group.insert(at, parts[k]);
        }
    }
}

template <class Sink>
void report(const ScanTables& tables, const unsigned char* data, std::uint64_t base, Span span, Sink& sink) {
    int exempt = -1;
    if (passes(tables, data, span, exempt))
        sink(FoundRun{base + span.start, {data + span.start, span.end - span.start}, span.kept_bytes, exempt});
}

template <Decoded (*decode)(const unsigned char*, std::size_t)>
inline CharRole role_at(const ScanTables& t, const unsigned char* p, std::size_t n, Decoded& d) {
    d = decode(p, n);
    return d.valid() ? t.role(d.value) : CharRole::none;
}

// One alignment's runs after `i`, examined `step` bytes apart until a run
// starts; a run takes whole characters. The skip stops only where a
// character may start, so what it passes needs no test here.
template <Decoded (*decode)(const unsigned char*, std::size_t), std::size_t step>
inline bool next_span(const ScanTables& t, const unsigned char* p, std::size_t n, std::size_t& at, Span& out) {
    const TextSkip& skip = t.skip();
    for (std::size_t i = at; i < n;) {
        i = skip.next(p, n, i);
        if (i >= n) break;
        Decoded d;
        CharRole r = role_at<decode>(t, p + i, n - i, d);
        if (r == CharRole::none) {
            i += step;
            continue;
        }
        const std::size_t start = i;
        std::uint64_t kept = 0;
        do {
            kept += r == CharRole::kept ? d.length : 0;
            i += d.length;
        } while (i < n && (r = role_at<decode>(t, p + i, n - i, d)) != CharRole::none);
        out = {start, i, kept};
        at = i;
        return true;
    }
    at = n;
    return false;
}

template <Decoded (*decode)(const unsigned char*, std::size_t), class Sink>
void scan_bytewise(const ScanTables& t, const unsigned char* p, std::size_t n, std::uint64_t base, Sink& sink) {
    std::size_t i = 0;
    Span span;
    while (next_span<decode, 1>(t, p, n, i, span)) report(t, p, base, span, sink);
}

// Both alignments at once: runs that overlap no run of the other
// alignment go straight to the sink; a group that overlaps is settled first.
template <Decoded (*decode)(const unsigned char*, std::size_t), class Sink>
void scan_utf16(const ScanTables& t, const unsigned char* p, std::size_t n, std::uint64_t base, Sink& sink) {
    std::size_t at[2] = {0, 1};
    Span next[2];
    bool has[2];
    for (int a = 0; a < 2; ++a) has[a] = next_span<decode, utf16_unit>(t, p, n, at[a], next[a]);
    std::vector<Span> group, settled;
    // Settling leaves each run whole or a part of it, never with more kept
    // bytes, so a group whose runs are all too short writes nothing unless
    // an exempt string may stand in for one.
    const std::uint64_t min_length = t.spec().exempt.empty() ? t.spec().min_length : 0;
    while (has[0] || has[1]) {
        int a = !has[0] || (has[1] && next[1].start < next[0].start) ? 1 : 0;
        group.assign(1, next[a]);
        std::size_t end = next[a].end;
        std::uint64_t most_kept = next[a].kept_bytes;
        has[a] = next_span<decode, utf16_unit>(t, p, n, at[a], next[a]);
        for (bool grew = true; grew;) {
            grew = false;
            for (a = 0; a < 2; ++a) {
                while (has[a] && next[a].start < end) {
                    group.push_back(next[a]);
                    end = std::max(end, next[a].end);
                    most_kept = std::max(most_kept, next[a].kept_bytes);
                    has[a] = next_span<decode, utf16_unit>(t, p, n, at[a], next[a]);
                    grew = true;
                }
            }
        }
        if (most_kept < min_length) continue;
        if (group.size() == 1) {
            report(t, p, base, group[0], sink);
            continue;
        }
        if (t.spec().keep_overlaps) {
            std::sort(group.begin(), group.end(), [](const Span& x, const Span& y) { return x.start < y.start; });
            for (const Span& s : group) report(t, p, base, s, sink);
            continue;
        }
        if (group.size() == 2) {
            // The common case in data: two runs of one or two units. group[0]
            // starts first, and what is left of a pair overlaps no more.
            Span parts[3];
            const std::size_t count = settle_pair<decode>(t, p, n, group[0], group[1], parts);
            for (std::size_t k = 0; k < count; ++k) report(t, p, base, parts[k], sink);
            continue;
        }
        settle_overlaps<decode>(t, p, n, group, settled);
        for (const Span& s : settled) report(t, p, base, s, sink);
    }
}

}  // namespace detail

// Scans data, whose first byte is at input offset `base`, and calls
// sink(const FoundRun&) for each run written, in input order. The result
// is that of one scan of the whole input when data begins at a cut
// (cut_bytes.h) and ends at one or at the end of the input.
template <class Sink>
void scan_text(const ScanTables& tables, std::span<const unsigned char> data, std::uint64_t base, Sink&& sink) {
    const unsigned char* p = data.data();
    const std::size_t n = data.size();
    switch (tables.spec().encoding) {
        case InputEncoding::euc_jp: detail::scan_bytewise<decode_euc_jp>(tables, p, n, base, sink); break;
        case InputEncoding::utf8: detail::scan_bytewise<decode_utf8>(tables, p, n, base, sink); break;
        case InputEncoding::utf16le: detail::scan_utf16<decode_utf16le>(tables, p, n, base, sink); break;
        case InputEncoding::utf16be: detail::scan_utf16<decode_utf16be>(tables, p, n, base, sink); break;
        case InputEncoding::cp932: break;
    }
}

}  // namespace kurvane::text
