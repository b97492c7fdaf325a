#include "engine/classes/text_score.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "engine/classes/text_stats.h"
#include "engine/text_encoding.h"

namespace kurvane {
namespace {

using detail::TextClass;

struct CharStats {
    std::int16_t weight;
    std::uint8_t text_class;
};

constexpr std::size_t bmp_size = 0x10000;

bool is_ideograph(char32_t u) {
    return (u >= 0x3400 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF) ||
           (u >= 0x20000 && u <= 0x3FFFF);
}

CharStats unseen(char32_t u) {
    return is_ideograph(u) ? CharStats{detail::text_stats_unseen_ideograph,
                                       static_cast<std::uint8_t>(TextClass::rare_kanji)}
                           : CharStats{detail::text_stats_unseen_other,
                                       static_cast<std::uint8_t>(TextClass::other)};
}

// One entry per code point of the Basic Multilingual Plane, made once from
// the generated list so that each character costs one load.
const CharStats* bmp_stats() {
    static const std::unique_ptr<CharStats[]> table = [] {
        auto t = std::make_unique<CharStats[]>(bmp_size);
        for (std::size_t u = 0; u < bmp_size; ++u) t[u] = unseen(static_cast<char32_t>(u));
        for (const detail::TextStatsChar& e : detail::text_stats_chars)
            t[e.code_point] = CharStats{e.weight, e.text_class};
        return t;
    }();
    return table.get();
}

CharStats stats_of(char32_t u) { return u < bmp_size ? bmp_stats()[u] : unseen(u); }

bool single_byte(unsigned cls) {
    return cls >= static_cast<unsigned>(TextClass::space) &&
           cls <= static_cast<unsigned>(TextClass::half_kana);
}

// Data files hold ASCII strings that neither the text model nor random
// bytes describe, and inside a stretch of single-byte characters real prose
// reads just like them. So for the score, what a single-byte character
// says on its own, or after another single-byte character or the run's
// start, counts only against a run, never for it: the case for Japanese
// must come from Japanese characters and how they meet the ASCII around
// them. Trimming still weighs everything, so an ASCII word that belongs to
// a sentence stays with it.
std::int64_t japanese_part(std::int64_t value, bool single) {
    return single ? std::min<std::int64_t>(value, 0) : value;
}

// How much evidence of noise a run's end may carry and still be kept, in
// the statistics' units. Cutting a character of text off costs the whole
// line (it is no longer whole), keeping a byte of data next to text costs a
// byte: so an end is cut only where it is ten times likelier data than text,
// ln 10 = 2.3 nats. The same holds at the start, where a new part begins
// only once it beats the one running by as much.
constexpr std::int64_t end_tolerance = 74;  // 2.3 * 32

// The prior log-odds of text against data for one run. A data file of tens
// of MiB breaks into about a million candidate runs, among them some
// thousands of lines of text; for at most 5% of the kept lines to be data,
// a data run may pass at a rate of about 0.05 * 5,000 / 1,000,000 = 2.5e-4,
// that is, it needs evidence of ln(1 / 2.5e-4) = 8.3 nats, rounded to 8.
constexpr double text_prior_nats = -8.0;

}  // namespace

void TextScorer::add(char32_t c, std::size_t width) {
    const CharStats s = stats_of(c);
    const unsigned cls = s.text_class;
    const bool single = single_byte(cls);
    const std::int64_t weight = s.weight;
    const std::int64_t start = detail::text_stats_transition[detail::text_class_start][cls];
    const std::int64_t fresh_full = weight + start;
    const Segment fresh{fresh_full, fresh_full,
                        japanese_part(weight, single) + japanese_part(start, single), position_,
                        position_ + width};
    if (!any_) {
        current_ = fresh;
    } else {
        const std::int64_t step = detail::text_stats_transition[previous_class_][cls];
        std::int64_t full = weight + step;
        std::int64_t japanese =
            japanese_part(weight, single) + japanese_part(step, single && single_byte(previous_class_));
        // Data repeats bytes (fill, padding, tables of one value) far more
        // often than random bytes do, so a character repeated is never
        // evidence of text; the repeats of text (ーー, ……) cost nothing.
        if (c == previous_char_) {
            full = std::min<std::int64_t>(full, 0);
            japanese = std::min<std::int64_t>(japanese, 0);
        }
        if (fresh.full > current_.full + full + end_tolerance) {
            current_ = fresh;
        } else {
            current_.full += full;
            current_.peak = std::max(current_.peak, current_.full);
            current_.japanese += japanese;
            current_.end = position_ + width;
        }
    }
    if (current_.begin == best_.begin && best_.end > best_.begin) {
        // The best part goes on: its end follows as long as what was added
        // since its peak stays within the tolerance.
        if (current_.full >= current_.peak - end_tolerance) best_ = current_;
    } else if (current_.full > best_.peak) {
        best_ = current_;
    }
    position_ += width;
    previous_char_ = c;
    previous_class_ = static_cast<unsigned char>(cls);
    any_ = true;
}

ScoredRun TextScorer::result() const {
    if (best_.end == best_.begin) return {};
    return ScoredRun{score_from_evidence(static_cast<double>(best_.japanese) /
                                         detail::text_stats_units_per_nat),
                     best_.begin, best_.end};
}

int score_from_evidence(double nats) {
    const double p = 1.0 / (1.0 + std::exp(-(nats + text_prior_nats)));
    return static_cast<int>(std::lround(100.0 * p));
}

ScoredRun score_text(std::span<const char32_t> run) {
    TextScorer scorer;
    scorer.add(run);
    return scorer.result();
}

ScoredRun score_cp932(std::span<const unsigned char> run) {
    constexpr unsigned char half_first = 0xA1;
    constexpr unsigned char half_last = 0xDF;
    constexpr char32_t half_katakana_first = 0xFF61;
    TextScorer scorer;
    for (std::size_t k = 0; k < run.size();) {
        const unsigned char b = run[k];
        if (b < 0x80) {
            scorer.add(b, 1);
            ++k;
        } else if (b >= half_first && b <= half_last) {
            scorer.add(half_katakana_first + (b - half_first), 1);
            ++k;
        } else if (const char32_t d = k + 1 < run.size() ? detail::cp932_double_char(b, run[k + 1]) : 0;
                   d != 0) {
            scorer.add(d, 2);
            k += 2;
        } else {
            scorer.add(detail::replacement_char, 1);
            ++k;
        }
    }
    return scorer.result();
}

}  // namespace kurvane
