// The scan of UTF-16: both alignments' runs found from bit masks of their
// units, and where two overlap, settled so that each byte is written once.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <vector>

#include "text/decoded.h"
#include "text/scan_tables.h"
#include "text/utf16.h"
#include "text/utf16_groups.h"
#include "text/utf16_masks.h"

namespace kurvane::text::detail {

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

// In a run of UTF-16 every unit is a whole character or one half of a
// surrogate pair, so the character that holds a byte is found from the unit
// there: the start of s's character that holds byte pos - 1, for
// s.start < pos <= s.end. Other encodings do not resynchronise backwards in
// one step; for them it is s.start, and the walks below read the whole run.
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

// The kept bytes of the characters in [from, to), both character bounds.
template <Decoded (*decode)(const unsigned char*, std::size_t)>
inline std::uint64_t kept_between(const ScanTables& tables, const unsigned char* data, std::size_t size,
                                  std::size_t from, std::size_t to) {
    std::uint64_t kept = 0;
    for (std::size_t i = from; i < to;) {
        const Decoded d = decode(data + i, size - i);
        kept += tables.role(d.value) == CharRole::kept ? d.length : 0;
        i += d.length;
    }
    return kept;
}

// The kept kana of s's characters that touch [lo, hi), counted up to
// `cap`: a caller that compares the count with c needs no more than c + 1.
// A run known to hold no kana is not read.
template <Decoded (*decode)(const unsigned char*, std::size_t)>
inline std::uint64_t kana_touching(const ScanTables& tables, const unsigned char* data, std::size_t size,
                                   const Span& s, std::size_t lo, std::size_t hi, std::uint64_t cap) {
    cap = std::min(cap, s.kana);
    if (cap == 0) return 0;
    std::uint64_t kana = 0;
    const std::size_t from = s.start < lo ? char_holding<decode>(data, s, lo) : s.start;
    for (std::size_t i = from; i < s.end && i < hi && kana < cap;) {
        const Decoded d = decode(data + i, size - i);
        kana += i + d.length > lo && tables.kept_kana(d.value);
        i += d.length;
    }
    return kana;
}

// What settling two overlapping runs leaves: the winner stays whole; of
// the loser, its characters wholly before the winner and wholly after it
// (each empty when start == end).
struct Settled {
    bool first_wins;
    Span before;
    Span after;
};

// Two runs of the two alignments that overlap, `first` starting before
// `second`: the one with more kana in the overlap keeps its characters,
// then the one with more kept bytes, then the earlier; the other loses
// those that touch it. Only the characters near the overlap are read, and
// of a run that reaches past both ends of the other, the shorter end: a run
// of one alignment is often long and the other's overlaps it by a unit or
// two.
template <Decoded (*decode)(const unsigned char*, std::size_t)>
inline Settled settle_pair(const ScanTables& tables, const unsigned char* data, std::size_t size, const Span& first,
                           const Span& second) {
    const std::size_t lo = second.start;
    const std::size_t hi = std::min(first.end, second.end);
    // The run that may hold fewer kana is counted whole, the other only as
    // far as the comparison needs.
    std::uint64_t kana_first, kana_second;
    if (first.kana <= second.kana) {
        kana_first = kana_touching<decode>(tables, data, size, first, lo, hi, UINT64_MAX);
        kana_second = kana_touching<decode>(tables, data, size, second, lo, hi, kana_first + 1);
    } else {
        kana_second = kana_touching<decode>(tables, data, size, second, lo, hi, UINT64_MAX);
        kana_first = kana_touching<decode>(tables, data, size, first, lo, hi, kana_second + 1);
    }
    // The earlier wins a tie: first.start < second.start.
    const bool first_wins = std::tuple(kana_first, first.kept_bytes) >= std::tuple(kana_second, second.kept_bytes);
    const Span& w = first_wins ? first : second;
    const Span& l = first_wins ? second : first;
    Settled out{first_wins, {l.start, l.start, 0, l.kana}, {l.end, l.end, 0, l.kana}};
    if (l.start >= w.start && l.end <= w.end) return out;
    if constexpr (Utf16Order<decode>::utf16) {
        if (tables.spec().excluded.empty()) {
            // Every character is kept, so a part keeps its length; its end
            // is found from the character that holds the winner's first or
            // last byte.
            const auto after_char = [&](std::size_t c) {
                const char16_t unit = utf16_unit_at<Utf16Order<decode>::order>(data + c);
                return c + (unit >= surrogate_first && unit < low_surrogate_first ? 2 * utf16_unit : utf16_unit);
            };
            if (l.start < w.start) {
                const std::size_t c = char_holding<decode>(data, l, w.start);
                out.before.end = after_char(c) <= w.start ? after_char(c) : c;
                out.before.kept_bytes = out.before.end - l.start;
            }
            if (w.end < l.end) {
                out.after.start = after_char(char_holding<decode>(data, l, w.end));
                out.after.kept_bytes = l.end - out.after.start;
            }
            return out;
        }
    }
    // The walk reads the loser's characters that touch the winner, from
    // the one that holds the winner's first byte; before that everything is
    // in the part before.
    const std::size_t from = l.start < w.start ? char_holding<decode>(data, l, w.start) : l.start;
    out.before.end = from;
    std::uint64_t walked_before = 0, middle = 0;
    for (std::size_t i = from; i < l.end;) {
        if (i >= w.end) {
            out.after.start = i;
            break;
        }
        const Decoded d = decode(data + i, size - i);
        const std::uint64_t kept = tables.role(d.value) == CharRole::kept ? d.length : 0;
        if (i + d.length <= w.start) {
            out.before.end = i + d.length;
            walked_before += kept;
        } else {
            middle += kept;
        }
        i += d.length;
    }
    // What was not walked is counted by difference; where both parts are
    // left, the shorter one is walked.
    const std::uint64_t outside = l.kept_bytes - middle - walked_before;  // [l.start, from) and after
    if (out.after.start == out.after.end) {
        out.before.kept_bytes = walked_before + outside;
    } else if (from == l.start) {
        out.before.kept_bytes = walked_before;
        out.after.kept_bytes = outside;
    } else if (from - l.start <= l.end - out.after.start) {
        out.before.kept_bytes = walked_before + kept_between<decode>(tables, data, size, l.start, from);
        out.after.kept_bytes = outside - (out.before.kept_bytes - walked_before);
    } else {
        out.after.kept_bytes = kept_between<decode>(tables, data, size, out.after.start, l.end);
        out.before.kept_bytes = walked_before + outside - out.after.kept_bytes;
    }
    return out;
}

// The traits of one UTF-16 alignment's code units as bit masks, bit k for
// the unit at byte first + 2k: `member` where a run may go on (both units
// of a pair whose character is kept or excluded), `kept` the units of kept
// characters, `kana` the first unit of a kept kana. A run is a stretch of
// member bits, and its kept bytes and kana are counts of bits in it, so
// each unit is looked up once, without a branch on what it holds. `pairs`
// marks the first unit of a surrogate pair in a run. Bits from `units` on
// are clear up to the end of the scan's words (unit_mask_words); the words
// past those, left from a larger scan, are never read.
struct UnitMasks {
    std::size_t first = 0;
    std::size_t units = 0;
    std::vector<std::uint64_t> member, kept, kana, pairs;
};
inline constexpr std::size_t mask_bits = 64;

// The words of each alignment's masks for n bytes: as many for both, so
// the groups read them side by side.
constexpr std::size_t unit_mask_words(std::size_t n) { return (n / utf16_unit + mask_bits - 1) / mask_bits; }

// Fills m for the alignment that starts at byte `first` of p[0, n).
template <ByteOrder order>
void fill_unit_masks(const ScanTables& t, const unsigned char* p, std::size_t n, std::size_t first, UnitMasks& m);

// The set bits of w in [from, to).
inline std::uint64_t bits_between(const std::vector<std::uint64_t>& w, std::size_t from, std::size_t to) {
    if (from >= to) return 0;
    const std::size_t a = from / mask_bits;
    const std::size_t b = (to - 1) / mask_bits;
    const std::uint64_t head = ~std::uint64_t{0} << from % mask_bits;
    const std::uint64_t tail = ~std::uint64_t{0} >> (mask_bits - 1 - (to - 1) % mask_bits);
    if (a == b) return static_cast<std::uint64_t>(std::popcount(w[a] & head & tail));
    std::uint64_t count = static_cast<std::uint64_t>(std::popcount(w[a] & head));
    for (std::size_t k = a + 1; k < b; ++k) count += static_cast<std::uint64_t>(std::popcount(w[k]));
    return count + static_cast<std::uint64_t>(std::popcount(w[b] & tail));
}

// Whether word(k), the kth word of a mask, has a set bit in [from, to).
template <class Word>
bool any_in_words(Word word, std::size_t from, std::size_t to) {
    if (from >= to) return false;
    const std::size_t a = from / mask_bits;
    const std::size_t b = (to - 1) / mask_bits;
    const std::uint64_t head = ~std::uint64_t{0} << from % mask_bits;
    const std::uint64_t tail = ~std::uint64_t{0} >> (mask_bits - 1 - (to - 1) % mask_bits);
    if (a == b) return (word(a) & head & tail) != 0;
    if ((word(a) & head) != 0 || (word(b) & tail) != 0) return true;
    for (std::size_t k = a + 1; k < b; ++k)
        if (word(k) != 0) return true;
    return false;
}

// Whether w has a set bit in [from, to).
inline bool any_between(const std::vector<std::uint64_t>& w, std::size_t from, std::size_t to) {
    return any_in_words([&](std::size_t k) { return w[k]; }, from, to);
}

// Whether units [from, to) of m hold a kana or a surrogate pair: the
// units a plain settle cannot take, both masks read in one pass.
inline bool any_kana_or_pair(const UnitMasks& m, std::size_t from, std::size_t to) {
    if (from >= to) return false;
    // Most groups of data lie in one word or two that hold neither, which
    // the words tell whole, before any bound is cut out of them.
    const std::size_t a = from / mask_bits;
    const std::size_t b = (to - 1) / mask_bits;
    if (b <= a + 1 && (m.kana[a] | m.pairs[a] | m.kana[b] | m.pairs[b]) == 0) return false;
    return any_in_words([&](std::size_t k) { return m.kana[k] | m.pairs[k]; }, from, to);
}

inline bool bit_at(const std::vector<std::uint64_t>& w, std::size_t k) {
    return (w[k / mask_bits] >> k % mask_bits & 1) != 0;
}

// The first bit at or after `from` that is set (flip 0) or clear (flip
// all ones) in w, or `limit` when there is none before it.
inline std::size_t next_bit(const std::vector<std::uint64_t>& w, std::size_t from, std::size_t limit,
                            std::uint64_t flip) {
    if (from >= limit) return limit;
    std::size_t k = from / mask_bits;
    std::uint64_t x = (w[k] ^ flip) & ~std::uint64_t{0} << from % mask_bits;
    while (x == 0) {
        if (++k * mask_bits >= limit) return limit;
        x = w[k] ^ flip;
    }
    return std::min(limit, k * mask_bits + static_cast<std::size_t>(std::countr_zero(x)));
}

// The runs of one UTF-16 alignment in input order, read from its masks,
// after what a settle put back in front of them.
class AlignedRuns {
public:
    // The runs of units [from, limit) of m.
    AlignedRuns(const UnitMasks& m, bool any_excluded, std::size_t from, std::size_t limit)
        : m_(m), any_excluded_(any_excluded), limit_(limit), next_(from) {
        advance();
    }
    // An empty lane's head starts and ends past every byte, so the other
    // lane's head comes first and overlaps nothing, with no test for it.
    bool empty() const { return head_.start == none_left; }
    const Span& head() const { return head_; }
    void advance() {
        if (has_queued_) {
            head_ = queued_;
            has_queued_ = false;
            return;
        }
        const std::size_t start = next_bit(m_.member, next_, limit_, 0);
        if (start == limit_) {
            head_ = {none_left, none_left, 0, 0};
            return;
        }
        const std::size_t end = next_bit(m_.member, start, limit_, ~std::uint64_t{0});
        // Without excluded characters every unit of a run is kept. A run's
        // units bound its kana, which is all a settle needs to know
        // before it reads them (and counting them would cost more: the
        // build has no popcount instruction to assume).
        const std::uint64_t units = end - start;
        head_ = {m_.first + start * utf16_unit, m_.first + end * utf16_unit,
                 (any_excluded_ ? bits_between(m_.kept, start, end) : units) * utf16_unit,
                 any_between(m_.kana, start, end) ? units : 0};
        next_ = end;
    }
    // Drops the head and every run after it that ends by byte `end` and
    // holds no kana: those that a run of the other alignment reaching to
    // `end` takes from, one by one, keeping more bytes. Only where no run
    // waits in front of the rest, which are read from the masks.
    void drop_kana_free_through(std::size_t end) {
        if (has_queued_ || end < m_.first + utf16_unit) return advance();
        // Units wholly before `end`, and of those the first kana: the runs
        // before both go, the one that holds either is the new head.
        const std::size_t within = std::min(limit_, (end - m_.first) / utf16_unit);
        const std::size_t stop = next_bit(m_.kana, next_, within, 0);
        if (stop > next_ && stop < limit_ && bit_at(m_.member, stop)) {
            std::size_t k = stop;
            while (k > next_ && bit_at(m_.member, k - 1)) --k;
            next_ = k;
        } else {
            next_ = std::max(next_, stop);
        }
        advance();
    }
    // The head lost an overlap: what is left of it takes its place.
    void replace_head(const Settled& s) {
        const bool before = s.before.start < s.before.end;
        const bool after = s.after.start < s.after.end;
        if (before && after) {
            // A part before the winner is written next, before the head
            // can lose again, so one part waits at most.
            head_ = s.before;
            queued_ = s.after;
            has_queued_ = true;
        } else if (before || after) {
            head_ = before ? s.before : s.after;
        } else {
            advance();
        }
    }

private:
    const UnitMasks& m_;
    const bool any_excluded_;
    const std::size_t limit_;
    std::size_t next_;  // the unit after the last run read
    Span head_{};
    static constexpr std::size_t none_left = SIZE_MAX;
    Span queued_{};
    bool has_queued_ = false;
};

// The units [from, to) of alignment a (the one at byte a) that start in g.
struct UnitRange {
    std::size_t from;
    std::size_t to;
};
inline UnitRange units_in(const CoverGroup& g, std::size_t a) {
    return {(g.start + 1 - a) / utf16_unit, (g.end - a) / utf16_unit};
}

// The runs of a group that holds both alignments, in one forward pass. The
// run that starts first is settled for good once the other alignment's next
// run starts at or after its end: runs of one alignment never overlap, and
// what a settle leaves of a run lies inside it.
template <Decoded (*decode)(const unsigned char*, std::size_t), class Sink>
void settle_group(const ScanTables& t, const unsigned char* p, std::size_t n, std::uint64_t base,
                  const UnitMasks (&masks)[2], const CoverGroup& g, Sink& sink) {
    const bool any_excluded = !t.spec().excluded.empty();
    const auto lane = [&](std::size_t a) {
        return AlignedRuns(masks[a], any_excluded, units_in(g, a).from, units_in(g, a).to);
    };
    AlignedRuns runs[2] = {lane(0), lane(1)};
    while (!runs[0].empty() || !runs[1].empty()) {
        const bool a = runs[1].head().start < runs[0].head().start;
        AlignedRuns& x = runs[a];
        AlignedRuns& y = runs[!a];
        // For a printer that keeps only what reads best, overlapping runs
        // are reported whole, in input order, and never settled.
        if (y.head().start >= x.head().end || t.spec().keep_overlaps) {
            report(t, p, base, x.head(), sink);
            x.advance();
            continue;
        }
        // The common case among text: the other alignment's run, read one
        // byte off, lies inside this one and holds no kana. It loses
        // whatever the kana here, when this one keeps as many bytes.
        if (y.head().kana == 0 && y.head().end <= x.head().end && x.head().kept_bytes >= y.head().kept_bytes) {
            // Without excluded characters, each run of the other alignment
            // that lies inside this one keeps fewer bytes, so all those
            // that hold no kana go at once.
            if (any_excluded) y.advance();
            else y.drop_kana_free_through(x.head().end);
            continue;
        }
        const Settled s = settle_pair<decode>(t, p, n, x.head(), y.head());
        (s.first_wins ? y : x).replace_head(s);
    }
}

// The runs of one alignment's member bits over units [from, limit) of m,
// read from the masks as they are.
class MaskRunSource {
public:
    MaskRunSource(const UnitMasks& m, UnitRange u) : m_(m), limit_(u.to), next_(u.from) {}
    // The next run's bytes [start, end), or false when none is left.
    bool next(std::size_t& start, std::size_t& end) {
        const std::size_t s = next_bit(m_.member, next_, limit_, 0);
        if (s == limit_) return false;
        next_ = next_bit(m_.member, s, limit_, ~std::uint64_t{0});
        start = m_.first + s * utf16_unit;
        end = m_.first + next_ * utf16_unit;
        return true;
    }

private:
    const UnitMasks& m_;
    const std::size_t limit_;
    std::size_t next_;
};

// The same for fewer than mask_bits units, which most groups of data
// are: their member bits held in one register, each run found by two
// counts of zeros, with no bound to test.
class WindowRunSource {
public:
    static constexpr std::size_t max_units = mask_bits - 1;
    // u holds 1 to max_units units.
    WindowRunSource(const UnitMasks& m, UnitRange u) : first_(m.first + u.from * utf16_unit) {
        const std::size_t k = u.from / mask_bits;
        const unsigned shift = u.from % mask_bits;
        std::uint64_t w = m.member[k] >> shift;
        // The units past the first word, if any, are in the next one.
        if (shift != 0 && (u.to - 1) / mask_bits != k) w |= m.member[k + 1] << (mask_bits - shift);
        bits_ = w & ((std::uint64_t{1} << (u.to - u.from)) - 1);
    }
    bool next(std::size_t& start, std::size_t& end) {
        if (bits_ == 0) return false;
        const unsigned s = static_cast<unsigned>(std::countr_zero(bits_));
        // Bit max_units and above are clear, so the run ends below bit 64.
        const unsigned e = s + static_cast<unsigned>(std::countr_one(bits_ >> s));
        bits_ &= ~std::uint64_t{0} << e;
        start = first_ + s * utf16_unit;
        end = first_ + e * utf16_unit;
        return true;
    }

private:
    const std::size_t first_;  // the byte of bit 0's unit
    std::uint64_t bits_;       // the units not yet read
};

// The bytes a run's part beside the other alignment's winning run needs
// from that run's edge: the other alignment's bounds are one byte off this
// one's units, so the byte at the edge is half of a unit of neither, and a
// whole unit must fit beyond it.
inline constexpr std::size_t loser_part_room = 1 + utf16_unit;

// One alignment's runs in a group where every unit is a kept character of
// its own and none is a kana: a run is its bytes [start, end), and what a
// settle leaves of it is found from its ends alone.
template <class Source>
class PlainRuns {
public:
    explicit PlainRuns(Source source) : source_(source) { advance(); }
    bool empty() const { return start == none_left; }
    void advance() {
        if (queued_end_ != 0) {
            start = queued_start_;
            end = queued_end_;
            queued_end_ = 0;
            return;
        }
        if (!source_.next(start, end)) start = end = none_left;
    }
    // The head lost to a run of the other alignment at bytes [from, to):
    // its units wholly before and wholly after that run are left, and the
    // one before is written first.
    void lose_to(std::size_t from, std::size_t to) {
        const bool before = from >= start + loser_part_room;
        const bool after = end >= to + loser_part_room;
        if (before && after) {
            queued_start_ = to + 1;
            queued_end_ = end;
            end = from - 1;
        } else if (before) {
            end = from - 1;
        } else if (after) {
            start = to + 1;
        } else {
            advance();
        }
    }

    std::size_t start = 0;
    std::size_t end = 0;

private:
    static constexpr std::size_t none_left = SIZE_MAX;
    Source source_;
    std::size_t queued_start_ = 0;
    std::size_t queued_end_ = 0;  // 0: none waits
};

// The runs of one alignment's units as grid bits (all at even bits or all
// at odd ones), bytes counted from bit 0's.
class GridRunSource {
public:
    explicit GridRunSource(std::uint64_t units)
        : starts_(units & ~(units << utf16_unit)), lasts_(units & ~(units >> utf16_unit)) {}
    bool next(std::size_t& start, std::size_t& end) {
        if (starts_ == 0) return false;
        start = static_cast<std::size_t>(std::countr_zero(starts_));
        end = static_cast<std::size_t>(std::countr_zero(lasts_)) + utf16_unit;
        starts_ &= starts_ - 1;
        lasts_ &= lasts_ - 1;
        return true;
    }

private:
    std::uint64_t starts_;  // the first unit of each run
    std::uint64_t lasts_;   // the last unit of each run
};

// Whether the first of two overlapping runs of kept characters of one unit
// each, none a kana, wins: the longer does, the earlier on a tie.
struct LongerWins {
    [[gnu::always_inline]] bool operator()(std::size_t x_start, std::size_t x_end, std::size_t y_start,
                                           std::size_t y_end) const {
        return x_end - x_start >= y_end - y_start;
    }
};

// settle_group where every unit is a kept character of its own: of two
// overlapping runs, x starting first, x keeps its characters where
// wins(x.start, x.end, y.start, y.end), else y does. Calls put(start, end)
// for each run left, in input order.
template <class Source, class Put, class Wins = LongerWins>
[[gnu::always_inline]] inline void settle_plain_lanes(Source in_even, Source in_odd, Put&& put, Wins wins = {}) {
    // Two lanes by name, not an array indexed by which starts first: the
    // index kept them in memory, and a run's bounds, stored one by one,
    // were read back as one wide load that waited on both stores.
    PlainRuns<Source> even(in_even), odd(in_odd);
    // x starts first.
    const auto step = [&](PlainRuns<Source>& x, PlainRuns<Source>& y) __attribute__((always_inline)) {
        if (y.start >= x.end) {
            put(x.start, x.end);
            x.advance();
        } else if (wins(x.start, x.end, y.start, y.end)) {
            y.lose_to(x.start, x.end);
        } else {
            x.lose_to(y.start, y.end);
        }
    };
    while (!even.empty() || !odd.empty()) {
        if (odd.start < even.start) step(odd, even);
        else step(even, odd);
    }
}

// The units come by value, in registers: a group stored field by field
// just before the call and read back as one wide load waited on both.
template <class Sink>
void settle_plain_group(const ScanTables& t, const unsigned char* p, std::uint64_t base, const UnitMasks (&masks)[2],
                        UnitRange in_even, UnitRange in_odd, Sink& sink) {
    constexpr std::size_t window = WindowRunSource::max_units;
    const auto put = [&](std::size_t from, std::size_t to) __attribute__((always_inline)) {
        report(t, p, base, Span{from, to, to - from, 0}, sink);
    };
    if (in_even.to - in_even.from <= window && in_odd.to - in_odd.from <= window)
        return settle_plain_lanes(WindowRunSource(masks[0], in_even), WindowRunSource(masks[1], in_odd), put);
    settle_plain_lanes(MaskRunSource(masks[0], in_even), MaskRunSource(masks[1], in_odd), put);
}

// Whether the set bits of grid units, all of one alignment (every other
// bit), are one run: with each bit's gap to the next filled, the bits from
// the lowest on are all ones.
inline bool one_run(std::uint64_t units) {
    const std::uint64_t u = units >> std::countr_zero(units);
    const std::uint64_t filled = u | u >> 1;
    return (filled & (filled + 1)) == 0;
}

// settle_plain_lanes for the units of a group at most a grid word long, as
// grid bits, bytes counted from bit 0's. Most groups that hold both
// alignments are one run of each, a unit or a few long, settled from their
// ends with no walk.
template <class Put>
[[gnu::always_inline]] inline void settle_plain_units(std::uint64_t units, Put&& put) {
    const std::uint64_t even = units & even_bits;
    const std::uint64_t odd = units & ~even_bits;
    if (!one_run(even) || !one_run(odd)) return settle_plain_lanes(GridRunSource(even), GridRunSource(odd), put);
    // A run's last unit starts at its highest bit and covers the next byte.
    const auto bounds = [&](std::uint64_t lane) __attribute__((always_inline)) {
        return Span{static_cast<std::size_t>(std::countr_zero(lane)),
                    grid_bits + 1 - static_cast<std::size_t>(std::countl_zero(lane)), 0, 0};
    };
    const Span e = bounds(even), o = bounds(odd);
    // x starts first; the longer wins, x on a tie. The loser keeps its units
    // wholly before and after the winner, whose bounds are one byte off its
    // units: a part is left where a unit fits beside that byte
    // (loser_part_room).
    const bool odd_first = o.start < e.start;
    const Span& x = odd_first ? o : e;
    const Span& y = odd_first ? e : o;
    if (x.end - x.start >= y.end - y.start) {
        put(x.start, x.end);
        if (y.end >= x.end + loser_part_room) put(x.end + 1, y.end);
    } else {
        if (y.start >= x.start + loser_part_room) put(x.start, y.start - 1);
        put(y.start, y.end);
        if (x.end >= y.end + loser_part_room) put(y.end + 1, x.end);
    }
}

// The same where some units are kana, `kana` their bits: of two overlapping
// runs the one with more kana among its characters that touch the overlap
// wins, then the longer, then the earlier. A unit touches the overlap
// [y.start, min(x.end, y.end)) where it starts a byte before it or inside
// it, and the units of a lane there are all the run's own.
template <class Put>
[[gnu::always_inline]] inline void settle_kana_units(std::uint64_t units, std::uint64_t kana, Put&& put) {
    const auto wins = [kana](std::size_t x_start, std::size_t x_end, std::size_t y_start,
                             std::size_t y_end) __attribute__((always_inline)) {
        const std::uint64_t touching =
            kana & bits_through(static_cast<unsigned>(y_start - 1), static_cast<unsigned>(std::min(x_end, y_end) - 1));
        const std::uint64_t x_lane = x_start % 2 == 0 ? even_bits : ~even_bits;
        const int kana_x = std::popcount(touching & x_lane);
        const int kana_y = std::popcount(touching & ~x_lane);
        return kana_x != kana_y ? kana_x > kana_y : x_end - x_start >= y_end - y_start;
    };
    settle_plain_lanes(GridRunSource(units & even_bits), GridRunSource(units & ~even_bits), put, wins);
}

// The units of both alignments in grid word gw whose bits of = of(m, w)
// gives for mask word w of each, as grid bits.
template <class Of>
[[gnu::always_inline]] inline std::uint64_t unit_grid(const UnitMasks (&masks)[2], std::size_t gw, Of&& of) {
    const std::size_t w = gw / 2;
    const unsigned shift = gw % 2 == 0 ? 0 : 32;
    const std::uint32_t even = static_cast<std::uint32_t>(of(masks[0], w) >> shift);
    const std::uint32_t odd = static_cast<std::uint32_t>(of(masks[1], w) >> shift);
    // Most words hold none of the rarer units.
    if ((even | odd) == 0) return 0;
    return spread_to_even_bits(even) | spread_to_even_bits(odd) << 1;
}

// The groups that lie in one grid word, where no character is excluded and
// overlaps are settled:
// a group of one alignment is one run, written as it is; a group of both
// without kana or pairs is settled from its units' bits; any other goes to
// settle_group. The runs left are gathered as bits of their first and last
// bytes and written in input order.
template <Decoded (*decode)(const unsigned char*, std::size_t), class Sink>
[[gnu::always_inline]] inline void settle_word(const ScanTables& t, const unsigned char* p, std::size_t n,
                                               std::uint64_t base, const UnitMasks (&masks)[2], const CoverWord& w,
                                               Sink& sink) {
    const std::uint64_t firsts = w.firsts();
    const std::uint64_t lasts = w.lasts();
    std::uint64_t opens = firsts, ends = lasts;
    static_assert(grid_bits == utf16_runs_block, "a word's runs go to the sink as one block");
    const auto write = [&](std::uint64_t o, std::uint64_t e) __attribute__((always_inline)) {
        const auto one = [&](std::size_t from, std::size_t to) {
            report(t, p, base, Span{from, to, to - from, 0}, sink);
        };
        if constexpr (takes_utf16_runs<Sink>) {
            if (o != 0) sink.utf16_runs(p, base, Utf16Runs{w.at, o, e, t.spec().min_length}, one);
        } else {
            for_each_block_run(w.at, o, e, one);
        }
    };
    // A unit of each alignment side by side: a group that holds both.
    std::uint64_t both = w.grid & w.grid >> 1 & w.inside;
    if (both != 0) {
        // Only a pair takes the walk over characters; kana are counted from
        // their bits.
        const std::size_t gw = w.at / grid_bits;
        const std::uint64_t pairs = unit_grid(masks, gw, [](const UnitMasks& m, std::size_t k) { return m.pairs[k]; });
        const std::uint64_t special =
            pairs | unit_grid(masks, gw, [](const UnitMasks& m, std::size_t k) { return m.kana[k]; });
        do {
            const unsigned x = static_cast<unsigned>(std::countr_zero(both));
            const auto opening = static_cast<std::size_t>(std::countl_zero(firsts & bits_through(0, x)));
            const auto s = static_cast<unsigned>(grid_bits - 1 - opening);
            const unsigned l = static_cast<unsigned>(std::countr_zero(lasts & ~std::uint64_t{0} << x));
            const std::uint64_t group = bits_through(s, l);
            both &= ~group;
            opens &= ~group;
            ends &= ~group;
            const std::uint64_t kana = special & group;
            if (kana != 0 && (pairs & group) != 0) {
                // The runs before it are written first.
                const std::uint64_t before = (std::uint64_t{1} << s) - 1;
                write(opens & before, ends & before);
                opens &= ~before;
                ends &= ~before;
                const CoverGroup g{w.at + s, w.at + l + 1, both_lanes, w.grid & group};
                settle_group<decode>(t, p, n, base, masks, g, sink);
                continue;
            }
            const auto put = [&](std::size_t from, std::size_t to) __attribute__((always_inline)) {
                opens |= std::uint64_t{1} << from;
                ends |= std::uint64_t{1} << (to - 1);
            };
            // Without pairs, the group's special units are all kana.
            if (kana != 0) settle_kana_units(w.grid & group, kana, put);
            else settle_plain_units(w.grid & group, put);
        } while (both != 0);
    }
    write(opens, ends);
}

// The covered bits of w's groups inside that are `least` bytes or longer.
// A group inside ends before the word's last bit, so adding its first bit
// clears it with no carry out of the word.
inline std::uint64_t groups_of_at_least(const CoverWord& w, std::uint32_t least) {
    const std::uint64_t covered = w.covered & w.inside;
    if (least > grid_bits) return 0;
    // Bit b of `starts`: bits [b, b + least) are all covered.
    std::uint64_t starts = covered;
    for (std::uint32_t span = 1; span < least;) {
        const std::uint32_t step = std::min(span, least - span);
        starts &= starts >> step;
        span += step;
    }
    const std::uint64_t firsts = w.firsts() & starts;
    return covered & ~(covered + firsts);
}

// Both alignments, a group of runs at a time: most groups are one run, of
// one alignment, written without any settle.
template <Decoded (*decode)(const unsigned char*, std::size_t), class Sink>
void scan_utf16(const ScanTables& t, const unsigned char* p, std::size_t n, std::uint64_t base, Sink& sink) {
    constexpr ByteOrder order = Utf16Order<decode>::order;
    // Kept by each thread from one scan to the next, so a scan allocates
    // only when its data is larger than any before.
    static thread_local UnitMasks masks[2];
    for (std::size_t a = 0; a < 2; ++a) fill_unit_masks<order>(t, p, n, a, masks[a]);
    const bool any_excluded = !t.spec().excluded.empty();
    const auto group = [&](const CoverGroup& g) __attribute__((always_inline)) {
        if (g.lanes == both_lanes) {
            const UnitRange u[2] = {units_in(g, 0), units_in(g, 1)};
            if (any_excluded || t.spec().keep_overlaps || any_kana_or_pair(masks[0], u[0].from, u[0].to) ||
                any_kana_or_pair(masks[1], u[1].from, u[1].to))
                return settle_group<decode>(t, p, n, base, masks, g, sink);
            if (g.grid != 0)
                return settle_plain_units(g.grid, [&](std::size_t from, std::size_t to) __attribute__((always_inline)) {
                    report(t, p, base, Span{g.start + from, g.start + to, to - from, 0}, sink);
                });
            return settle_plain_group(t, p, base, masks, u[0], u[1], sink);
        }
        const std::size_t a = g.lanes == odd_lane;
        const std::uint64_t kept =
            any_excluded
                ? bits_between(masks[a].kept, (g.start - a) / utf16_unit, (g.end - a) / utf16_unit) * utf16_unit
                : g.end - g.start;
        report(t, p, base, Span{g.start, g.end, kept, 0}, sink);
    };
    const bool plain = !any_excluded && !t.spec().keep_overlaps;
    // Without exempt strings a run shorter than the minimum is dropped,
    // and a group's runs are no longer than the group: the groups of a word
    // shorter than the minimum go before any settle.
    const std::uint32_t least = plain && t.spec().exempt.empty() ? t.spec().min_length : 1;
    for_each_cover_word(masks[0].member.data(), masks[1].member.data(), unit_mask_words(n), group,
                        [&](const CoverWord& w) __attribute__((always_inline)) {
        if (!plain) return for_each_group_in(w, group);
        if (least <= 1) return settle_word<decode>(t, p, n, base, masks, w, sink);
        const std::uint64_t kept = groups_of_at_least(w, least);
        if (kept != 0) settle_word<decode>(t, p, n, base, masks, CoverWord{w.at, w.grid & kept, kept, w.inside}, sink);
    });
}


}  // namespace kurvane::text::detail
