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
#include <vector>

#include "text/cut_bytes.h"
#include "text/euc_jp.h"
#include "text/input_encoding.h"
#include "text/text_class.h"
#include "text/text_skip.h"
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
    // True when no byte below 0x80 starts one (no single-byte class is on and
    // no ASCII character is excluded), so ASCII can be skipped in blocks.
    bool ascii_starts_nothing() const { return ascii_starts_nothing_; }
    // The skip over what starts no kept or excluded character.
    const TextSkip& skip() const { return skip_; }

private:
    static constexpr char32_t bmp_end = 0x10000;
    CharRole role_beyond_bmp(char32_t u) const;

    ScanSpec spec_;
    std::vector<std::uint8_t> bmp_roles_;
    std::array<bool, 256> starts_;
    bool ascii_starts_nothing_;
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

// Settles runs of the two UTF-16 alignments that overlap (all of `group`
// overlaps into one stretch): the one with more kana in an overlap keeps
// its characters, then the one with more kept bytes, then the earlier; the
// other loses those that touch it. Leaves what is left in `settled`, in
// input order; `group` is used up.
void settle_overlaps(const ScanTables& tables, const unsigned char* data, std::size_t size, std::vector<Span>& group,
                     std::vector<Span>& settled);

// Two that overlap, `first` starting before `second`: writes what is left
// of them to out in input order and returns how many there are.
std::size_t settle_pair(const ScanTables& tables, const unsigned char* data, std::size_t size, Span first,
                        Span second, Span (&out)[3]);

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
// starts; a run takes whole characters.
template <Decoded (*decode)(const unsigned char*, std::size_t), std::size_t step, bool skip_bytes>
inline bool next_span(const ScanTables& t, const unsigned char* p, std::size_t n, std::size_t& i, Span& out) {
    while (i < n) {
        // Past what starts nothing, in blocks.
        i = t.skip().next(p, n, i);
        if (i >= n) break;
        if constexpr (skip_bytes) {
            if (!t.may_start(p[i])) {
                ++i;
                continue;
            }
        }
        Decoded d;
        CharRole r = role_at<decode>(t, p + i, n - i, d);
        if (r == CharRole::none) {
            i += step;
            continue;
        }
        out = {i, i, 0};
        do {
            out.kept_bytes += r == CharRole::kept ? d.length : 0;
            i += d.length;
        } while (i < n && (r = role_at<decode>(t, p + i, n - i, d)) != CharRole::none);
        out.end = i;
        return true;
    }
    return false;
}

// From i, past the bytes below 0x80 in blocks, to the first byte at or
// above 0x80 or the last block's start; reads only data[i, n).
std::size_t skip_ascii(const unsigned char* p, std::size_t n, std::size_t i);

template <Decoded (*decode)(const unsigned char*, std::size_t), class Sink>
void scan_bytewise(const ScanTables& t, const unsigned char* p, std::size_t n, std::uint64_t base, Sink& sink) {
    const bool skip = t.ascii_starts_nothing();
    std::size_t i = 0;
    Span span;
    for (;;) {
        if (skip) i = skip_ascii(p, n, i);
        if (!next_span<decode, 1, true>(t, p, n, i, span)) break;
        report(t, p, base, span, sink);
    }
}

// Both alignments at once: runs that overlap no run of the other
// alignment go straight to the sink; a group that overlaps is settled first.
template <Decoded (*decode)(const unsigned char*, std::size_t), class Sink>
void scan_utf16(const ScanTables& t, const unsigned char* p, std::size_t n, std::uint64_t base, Sink& sink) {
    std::size_t at[2] = {0, 1};
    Span next[2];
    bool has[2];
    for (int a = 0; a < 2; ++a) has[a] = next_span<decode, utf16_unit, false>(t, p, n, at[a], next[a]);
    std::vector<Span> group, settled;
    while (has[0] || has[1]) {
        int a = !has[0] || (has[1] && next[1].start < next[0].start) ? 1 : 0;
        group.assign(1, next[a]);
        std::size_t end = next[a].end;
        has[a] = next_span<decode, utf16_unit, false>(t, p, n, at[a], next[a]);
        for (bool grew = true; grew;) {
            grew = false;
            for (a = 0; a < 2; ++a) {
                while (has[a] && next[a].start < end) {
                    group.push_back(next[a]);
                    end = std::max(end, next[a].end);
                    has[a] = next_span<decode, utf16_unit, false>(t, p, n, at[a], next[a]);
                    grew = true;
                }
            }
        }
        if (group.size() == 1) {
            report(t, p, base, group[0], sink);
            continue;
        }
        if (group.size() == 2) {
            // The common case in data: two runs of one or two units. group[0]
            // starts first, and what is left of a pair overlaps no more.
            Span parts[3];
            const std::size_t count = settle_pair(t, p, n, group[0], group[1], parts);
            for (std::size_t k = 0; k < count; ++k) report(t, p, base, parts[k], sink);
            continue;
        }
        settle_overlaps(t, p, n, group, settled);
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
