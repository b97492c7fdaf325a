#include "engine/classes/text_score.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "engine/classes/text_stats.h"
#include "text/text_encoding.h"

namespace kurvane {
namespace {

using detail::TextClass;

struct CharStats {
    std::int16_t weight;
    std::uint8_t text_class;
    std::uint16_t code;  // lead << 8 | trail in code page 932, 0 for none or one byte
};

constexpr std::size_t bmp_size = 0x10000;

bool is_ideograph(char32_t u) {
    return (u >= 0x3400 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF) ||
           (u >= 0x20000 && u <= 0x3FFFF);
}

CharStats unseen(char32_t u) {
    return is_ideograph(u) ? CharStats{detail::text_stats_unseen_ideograph,
                                       static_cast<std::uint8_t>(TextClass::rare_kanji), 0}
                           : CharStats{detail::text_stats_unseen_other,
                                       static_cast<std::uint8_t>(TextClass::other), 0};
}

// One entry per code point of the Basic Multilingual Plane, made once from
// the generated list so that each character costs one load.
const CharStats* bmp_stats() {
    static const std::unique_ptr<CharStats[]> table = [] {
        auto t = std::make_unique<CharStats[]>(bmp_size);
        for (std::size_t u = 0; u < bmp_size; ++u) t[u] = unseen(static_cast<char32_t>(u));
        for (const detail::TextStatsChar& e : detail::text_stats_chars) {
            const int code = detail::cp932_code(e.code_point);
            t[e.code_point] = CharStats{e.weight, e.text_class,
                                        static_cast<std::uint16_t>(code > 0xFF ? code : 0)};
        }
        return t;
    }();
    return table.get();
}

CharStats stats_of(char32_t u) { return u < bmp_size ? bmp_stats()[u] : unseen(u); }

// Kana sit in one or two rows of the code table, so kana after kana share
// a lead byte by nature; other double-byte characters do so by chance.
bool shares_rows_by_nature(unsigned cls) {
    return cls == static_cast<unsigned>(TextClass::hiragana) ||
           cls == static_cast<unsigned>(TextClass::katakana);
}

// Data repeats itself far more often than random bytes do: fill and
// padding, tables of one value, and above all fields with one fixed byte
// every other byte (16-bit numbers, zero-padded records, a one-byte XOR of
// either). Read as text, that gives a character repeated, or double-byte
// characters one after the other with the same lead or the same trail
// byte. Such a character is never evidence of text; the repeats of text
// (ーー, ……, two kanji of one row) cost nothing.
bool echoes(char32_t c, const CharStats& s, char32_t previous, unsigned previous_class,
            unsigned previous_code) {
    if (c == previous) return true;
    if (s.code == 0 || previous_code == 0 || shares_rows_by_nature(s.text_class) ||
        shares_rows_by_nature(previous_class))
        return false;
    return (s.code >> 8) == (previous_code >> 8) || (s.code & 0xFF) == (previous_code & 0xFF);
}

// The extra evidence of a pair of double-byte characters that prose holds
// as a word, 0 for any other pair.
std::int64_t pair_bonus(char32_t first, char32_t second) {
    if (first >= bmp_size || second >= bmp_size) return 0;
    const std::uint32_t key = static_cast<std::uint32_t>(first) << 16 | static_cast<std::uint32_t>(second);
    const auto* end = detail::text_stats_pairs + detail::text_stats_pair_count;
    const auto* hit = std::lower_bound(detail::text_stats_pairs, end, key,
                                       [](const detail::TextStatsPair& p, std::uint32_t k) { return p.pair < k; });
    return hit != end && hit->pair == key ? hit->bonus : 0;
}

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
// line: it is no longer whole, and the reader must search the data for the
// rest. Keeping a character of data costs one character in a line still
// read as text. Weighing a lost line as some 100 characters of noise (a
// line of about 30 and the search for it), an end is cut only where it is
// 100 times likelier data than text, ln 100 = 4.6 nats. The same holds at
// the start, where a new part begins only once it beats the one running by
// as much.
constexpr std::int64_t end_tolerance = 147;  // 4.6 * 32

// The prior log-odds of text against data for one run. A data file of tens
// of MiB breaks into about a million candidate runs, among them some
// thousands of lines of text; for at most 5% of the kept lines to be data,
// a data run may pass at a rate of about 0.05 * 5,000 / 1,000,000 = 2.5e-4,
// that is, it needs evidence of ln(1 / 2.5e-4) = 8.3 nats, rounded to 8.
constexpr double text_prior_nats = -8.0;

}  // namespace

TextScorer::Path TextScorer::extend(const Path& path, char32_t c, std::size_t at,
                                    std::size_t width) {
    const CharStats s = stats_of(c);
    const unsigned cls = s.text_class;
    const bool single = single_byte(cls);
    const std::int64_t weight = s.weight;
    const std::int64_t start = detail::text_stats_transition[detail::text_class_start][cls];
    const std::int64_t fresh_full = weight + start;
    const Segment fresh{fresh_full, fresh_full,
                        japanese_part(weight, single) + japanese_part(start, single), at, at + width};
    Path next{path.current, c, s.code, static_cast<unsigned char>(cls), true};
    Segment& current = next.current;
    if (!path.any) {
        current = fresh;
    } else {
        const std::int64_t step = detail::text_stats_transition[path.last_class][cls];
        std::int64_t full = weight + step;
        std::int64_t japanese =
            japanese_part(weight, single) + japanese_part(step, single && single_byte(path.last_class));
        // A pair prose holds as a word (利用, 特定) is worth its bonus even
        // when its two characters share a byte.
        const std::int64_t bonus = s.code != 0 && path.last_code != 0 ? pair_bonus(path.last_char, c) : 0;
        full += bonus;
        japanese += bonus;
        if (bonus == 0 && echoes(c, s, path.last_char, path.last_class, path.last_code)) {
            full = std::min<std::int64_t>(full, 0);
            japanese = std::min<std::int64_t>(japanese, 0);
        }
        if (fresh.full > current.full + full + end_tolerance) {
            current = fresh;
        } else {
            current.full += full;
            current.peak = std::max(current.peak, current.full);
            current.japanese += japanese;
            current.end = at + width;
        }
    }
    if (current.begin == best_.begin && best_.end > best_.begin) {
        // The best part goes on: its end follows as long as what was added
        // since its peak stays within the tolerance.
        if (current.full >= current.peak - end_tolerance && current.end > best_.end) best_ = current;
    } else if (current.full > best_.peak) {
        best_ = current;
    }
    return next;
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

ScoredRun score_cp932(std::span<const unsigned char> run, std::size_t lead_in) {
    // Most runs data gives are short ASCII. Printable ASCII alone reads one
    // way only, as single-byte characters, which never count for a run: it
    // scores 0 and is kept whole by a threshold of 0, without being read
    // character by character.
    if (std::all_of(run.begin(), run.end(), [](unsigned char b) { return b >= 0x20 && b < 0x7F; }))
        return run.size() > lead_in ? ScoredRun{0, lead_in, run.size()} : ScoredRun{};
    constexpr unsigned char half_first = 0xA1;
    constexpr unsigned char half_last = 0xDF;
    constexpr char32_t half_katakana_first = 0xFF61;
    // A scan pairs bytes from the run's start, so a lead byte of data just
    // before a sentence takes the sentence's first byte as its trail, and
    // the sentence is read out of step up to its next single-byte
    // character, or the scan ends the run there and starts the next one
    // after the sentence's first character. So every reading is followed,
    // from the lead-in on: a character may start at any byte. Of the
    // readings that reach a byte, the one whose current part weighs more
    // goes on, one ending in a single-byte character and one ending in a
    // double-byte one, since what may follow depends on that most (a word
    // of ASCII before a sentence loses to a stray kanji at first, and wins
    // once the sentence begins). reached[k % 3][kind] is such a reading
    // that ends at byte k, when reaches[k % 3][kind] says one does.
    TextScorer scorer;
    TextScorer::Path reached[3][2];
    bool reaches[3][2] = {};
    const auto offer = [&](std::size_t at, std::size_t width, const TextScorer::Path& path) {
        const std::size_t kind = width - 1;
        TextScorer::Path& slot = reached[at % 3][kind];
        if (!reaches[at % 3][kind] || path.current.full > slot.current.full) slot = path;
        reaches[at % 3][kind] = true;
    };
    for (std::size_t k = 0; k < run.size(); ++k) {
        const unsigned char b = run[k];
        char32_t c = 0;
        std::size_t width = 1;
        if (b < 0x20 || b == 0x7F) {
            // A control byte is text in no reading (the lead-in may hold one).
        } else if (b < 0x80) {
            c = b;
        } else if (b >= half_first && b <= half_last) {
            c = half_katakana_first + (b - half_first);
        } else if (k + 1 < run.size()) {
            c = detail::cp932_double_char(b, run[k + 1]);
            width = 2;
        }
        bool* const here = reaches[k % 3];
        if (c != 0) {
            if (!here[0] && !here[1]) offer(k + width, width, scorer.extend(TextScorer::Path{}, c, k, width));
            for (std::size_t kind = 0; kind < 2; ++kind)
                if (here[kind]) offer(k + width, width, scorer.extend(reached[k % 3][kind], c, k, width));
        }
        here[0] = here[1] = false;
    }
    const ScoredRun result = scorer.result();
    // Text wholly inside the lead-in belongs to the run before.
    return result.keep_end > lead_in ? result : ScoredRun{};
}

}  // namespace kurvane
