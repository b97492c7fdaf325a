#include "engine/classes/text_score.h"

#include <algorithm>
#include <array>
#include <limits>
#include <cmath>
#include <memory>
#include <vector>

#include "engine/classes/text_stats.h"
#include "text/text_encoding.h"
#include "text/unicode_class.h"

namespace kurvane {
namespace {

using detail::TextClass;

struct CharStats {
    std::int16_t weight;
    std::uint8_t text_class;
    std::uint16_t code;  // lead << 8 | trail in code page 932, 0 for none or one byte
    // The most a double-byte character before it can add for the pair
    // (the prose's pair bonus and what two kanji say), never below 0.
    std::int16_t pair_in_bound = 0;
};

constexpr std::size_t bmp_size = 0x10000;

constexpr auto kanji_base = static_cast<unsigned>(TextClass::kanji1);
bool is_kanji(unsigned cls) {
    return cls >= kanji_base && cls <= static_cast<unsigned>(TextClass::rare_kanji);
}
static_assert(static_cast<unsigned>(TextClass::rare_kanji) - kanji_base + 1 == detail::text_stats_kanji_classes);

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
            const int code = text::cp932_code(e.code_point);
            t[e.code_point] = CharStats{e.weight, e.text_class,
                                        static_cast<std::uint16_t>(code > 0xFF ? code : 0)};
        }
        for (const detail::TextStatsPair& p : detail::text_stats_pairs) {
            std::int16_t& in = t[p.pair & 0xFFFF].pair_in_bound;
            in = std::max(in, p.bonus);
        }
        // The most what two kanji say adds into each class of kanji.
        std::int16_t most[detail::text_stats_kanji_classes] = {};
        for (const auto& by_word : detail::text_stats_kanji_pair)
            for (const auto& row : by_word)
                for (std::size_t cls = 0; cls < detail::text_stats_kanji_classes; ++cls)
                    most[cls] = std::max(most[cls], row[cls]);
        for (std::size_t u = 0; u < bmp_size; ++u) {
            const unsigned cls = t[u].text_class;
            if (!is_kanji(cls)) continue;
            t[u].pair_in_bound = static_cast<std::int16_t>(t[u].pair_in_bound + most[cls - kanji_base]);
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

// Where the entries of a table of pairs, sorted by the first character's
// code point << 16 | the second's, start for each first character: a pair
// is then looked for among the few of its first character.
template <class KeyAt>
std::vector<std::uint32_t> by_first(std::size_t count, KeyAt key_at) {
    std::vector<std::uint32_t> at(bmp_size + 1);
    std::size_t k = 0;
    for (std::size_t u = 0; u <= bmp_size; ++u) {
        while (k < count && (key_at(k) >> 16) < u) ++k;
        at[u] = static_cast<std::uint32_t>(k);
    }
    return at;
}

std::uint32_t pair_key(char32_t first, char32_t second) {
    return static_cast<std::uint32_t>(first) << 16 | static_cast<std::uint32_t>(second);
}

// The pairs prose holds as words, by open addressing over twice as many
// slots as pairs or more: text asks for nearly every pair of double-byte
// characters it holds, and a pair is found, or found missing, in a probe
// or two rather than by a search. (No pair is 0: no character is U+0000.)
class ProsePairs {
public:
    ProsePairs() {
        for (const detail::TextStatsPair& p : detail::text_stats_pairs) {
            std::size_t k = home(p.pair);
            while (keys_[k] != 0) k = (k + 1) & (slots - 1);
            keys_[k] = p.pair;
            bonus_[k] = p.bonus;
        }
    }
    std::int16_t bonus(std::uint32_t key) const {
        for (std::size_t k = home(key);; k = (k + 1) & (slots - 1)) {
            if (keys_[k] == key) return bonus_[k];
            if (keys_[k] == 0) return 0;
        }
    }

private:
    static constexpr unsigned slot_bits = 14;
    static constexpr std::size_t slots = std::size_t{1} << slot_bits;
    static_assert(2 * detail::text_stats_pair_count <= slots);
    // Fibonacci hashing: the multiplier's top bits mix both characters.
    static std::size_t home(std::uint32_t key) {
        return static_cast<std::size_t>((key * std::uint64_t{0x9E3779B97F4A7C15u}) >> (64 - slot_bits));
    }
    std::array<std::uint32_t, slots> keys_{};
    std::array<std::int16_t, slots> bonus_{};
};

// The extra evidence of a pair of double-byte characters that prose holds
// as a word, 0 for any other pair.
std::int64_t pair_bonus(char32_t first, char32_t second) {
    if (first >= bmp_size || second >= bmp_size) return 0;
    static const std::unique_ptr<const ProsePairs> pairs = std::make_unique<const ProsePairs>();
    return pairs->bonus(pair_key(first, second));
}

bool is_word_pair(char32_t first, char32_t second) {
    if (first >= bmp_size || second >= bmp_size) return false;
    static const std::vector<std::uint32_t> at = by_first(
        detail::text_stats_word_pair_count, [](std::size_t k) { return detail::text_stats_word_pairs[k]; });
    return std::binary_search(detail::text_stats_word_pairs + at[first], detail::text_stats_word_pairs + at[first + 1],
                              pair_key(first, second));
}

// What two kanji side by side say: real words are made of pairs the word
// list holds, machine code puts kanji side by side at random. 0 for any
// other pair of characters.
std::int64_t kanji_pair(char32_t first, unsigned first_class, char32_t second, unsigned second_class) {
    if (!is_kanji(first_class) || !is_kanji(second_class)) return 0;
    return detail::text_stats_kanji_pair[is_word_pair(first, second)][first_class - kanji_base]
                                        [second_class - kanji_base];
}

// What a character says beyond its weight and the step from the class of
// the one before: the pair they make. `extra` is added; an echo caps what
// the character adds at 0.
struct PairEvidence {
    std::int64_t extra = 0;
    bool echo = false;
};
PairEvidence pair_evidence(char32_t previous, unsigned previous_class, unsigned previous_code, char32_t c,
                           const CharStats& s) {
    // A pair prose holds as a word (利用, 特定) is worth its bonus even
    // when its two characters share a byte.
    const std::int64_t bonus = s.code != 0 && previous_code != 0 ? pair_bonus(previous, c) : 0;
    const std::int64_t kanji = kanji_pair(previous, previous_class, c, s.text_class);
    // A pair of the word list that echoes is still what data gives most
    // (89 DF 89 C2: 過可); only prose vouches for such a pair.
    return {bonus + kanji, bonus == 0 && echoes(c, s, previous, previous_class, previous_code)};
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

bool is_ascii_class(unsigned cls) {
    return cls >= static_cast<unsigned>(TextClass::space) && cls <= static_cast<unsigned>(TextClass::punct);
}

// The evidence that gives a part its score. ASCII that opens or closes the
// part (what the trimming kept at its ends) counts only where it meets the
// Japanese beside it, not for how its characters follow each other: data
// files are full of ASCII strings (symbols such as "St9_Identity", names,
// tags) that are neither prose nor random bytes, and a line that lies next
// to one has its evidence as a line all the same; a word of the line
// ("tune2fs(8) ", "Exim4 ") says as little as such a string. ASCII between
// Japanese characters still counts against the part in full ("H記$8H坑").
// The part's evidence only ever grows by this, so runs that data gives
// with ASCII inside are judged as before.
std::int64_t edge_free_japanese(const TextScorer::Segment& part) {
    return part.past_lead ? part.japanese - part.ascii_lead - part.ascii_tail : part.japanese;
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

// A word alone: a run of 2 to 4 level-1 kanji and nothing else, each two
// side by side a pair of the word list and not an echo (machine code gives
// the pairs of one lead byte by the thousand: 89 xx 89 xx, a mov after a
// mov), with no byte of data before it (it follows a control byte or starts
// the input): a name or an item in a table of records. Its characters say
// little (宝箱: two kanji the prose rarely uses), but its shape says much.
// Random bytes give such a run at about P(control byte before) 0.15 x
// P(two level-1 kanji) (2,965 / 65,536)^2 x P(a word pair, no echo) 0.012
// x P(the run ends) 0.3, 1.1e-6 per byte: some ten runs in 8 MiB, of about
// a million candidate runs, 1e-5 of them; among runs of text in data,
// fields of one word are common, say 5%. Such a run so carries
// ln(0.05 / 1e-5) = 8.5 nats of evidence at the least.
constexpr double word_alone_nats = 8.5;
constexpr std::size_t word_alone_min_chars = 2;
constexpr std::size_t word_alone_max_chars = 4;

bool word_alone(std::span<const char32_t> run) {
    if (run.size() < word_alone_min_chars || run.size() > word_alone_max_chars) return false;
    CharStats last{};
    for (std::size_t k = 0; k < run.size(); ++k) {
        const CharStats s = stats_of(run[k]);
        if (s.text_class != static_cast<unsigned>(TextClass::kanji1)) return false;
        if (k > 0 && pair_bonus(run[k - 1], run[k]) == 0 &&
            (!is_word_pair(run[k - 1], run[k]) || echoes(run[k], s, run[k - 1], last.text_class, last.code)))
            return false;
        last = s;
    }
    return true;
}

// The characters of `run` read in step from its first byte, when they are
// all double-byte and fit `out`; else none (0).
std::size_t double_chars(std::span<const unsigned char> run, std::span<char32_t> out) {
    if (run.size() % 2 != 0 || run.size() / 2 > out.size()) return 0;
    for (std::size_t k = 0; k < run.size(); k += 2) {
        out[k / 2] = text::cp932_double_char(run[k], run[k + 1]);
        if (out[k / 2] == 0) return 0;
    }
    return run.size() / 2;
}

// The character a reading of code page 932 bytes finds at run[k], 0 for
// none, and how many bytes it takes.
struct Read {
    char32_t c = 0;
    std::size_t width = 1;
};
Read read_at(std::span<const unsigned char> run, std::size_t k) {
    constexpr unsigned char half_first = 0xA1;
    constexpr unsigned char half_last = 0xDF;
    constexpr char32_t half_katakana_first = 0xFF61;
    const unsigned char b = run[k];
    if (b < 0x20 || b == 0x7F) return {};  // a control byte is text in no reading
    if (b < 0x80) return {b, 1};
    if (b >= half_first && b <= half_last) return {half_katakana_first + (b - half_first), 1};
    if (k + 1 < run.size()) return {text::cp932_double_char(b, run[k + 1]), 2};
    return {};
}

// The bound below takes each position of a run as the start of the
// character found there, whatever reading it belongs to, and adds the most
// that character can add, given the characters that may end just before it:
// the step from the run's start, from a single-byte character one byte
// before, or from a double-byte one two bytes before (with the most a pair
// into it adds). So a character's share is the best of three steps, each a
// row of one table: none is taken where there is no such character, and a
// single-byte character is weighed after a double-byte one only (alone or
// after a single-byte one it only counts against a run).
namespace bound {
// Rows: the class of a double-byte character before, of a single-byte one
// before, the start, and none.
constexpr std::size_t classes = detail::text_class_count;
constexpr std::size_t after_double = 0;
constexpr std::size_t after_single = classes;
constexpr std::size_t start_row = 2 * classes;
constexpr std::size_t none_row = start_row + 1;
constexpr std::size_t rows = none_row + 1;
// Columns: a double-byte character of each class, a single-byte one of
// each class, and no character.
constexpr std::size_t double_column = 0;
constexpr std::size_t single_column = classes;
constexpr std::size_t none_column = 2 * classes;
constexpr std::size_t columns = none_column + 1;
// Below any sum of real steps and weights, so that max() never takes it
// and a share built on it stays below 0.
constexpr std::int32_t never = -(1 << 24);
static_assert(rows <= 0xFF && columns <= 0xFF);  // they fit Char's bytes
}  // namespace bound

// What the bound needs of the character a byte, or two, start.
struct BoundChar {
    std::int16_t weight = 0;   // 0 for a single-byte character: its steps say it all
    std::int16_t pair_in = 0;  // the most a pair into it adds
    std::uint8_t column = bound::none_column;
    std::uint8_t row_after = bound::none_row;       // for the character at the next byte
    std::uint8_t row_two_after = bound::none_row;   // for the one two bytes on
};
// Double-byte characters start with a lead byte of 0x81-0x9F or 0xE0-0xFC
// and end with a trail byte of 0x40-0xFC: rows of the lead bytes only, so
// that the table stays small enough for the cache on random bytes.
constexpr unsigned trail_first = 0x40;
constexpr unsigned trail_count = 0xFD - trail_first;
constexpr bool leads_double(unsigned b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
constexpr std::size_t lead_rows = (0x9F - 0x81 + 1) + (0xFC - 0xE0 + 1);
static_assert([] {
    std::size_t n = 0;
    for (unsigned b = 0; b < 256; ++b) n += leads_double(b) ? 1 : 0;
    return n == lead_rows && lead_rows < 0xFF;  // and a row number fits lead_row's byte
}());
// After the lead bytes' rows, one of no character, and one for each class
// of single-byte character, alike in every column: so that which a byte
// starts is one lookup, without a branch.
constexpr auto first_single_class = static_cast<std::size_t>(TextClass::space);
constexpr std::size_t no_char_row = lead_rows;
constexpr std::size_t char_rows = no_char_row + 1 + static_cast<std::size_t>(TextClass::half_kana) - first_single_class + 1;
static_assert(char_rows <= 0xFF);  // a row number fits char_row's byte
struct BoundTable {
    BoundChar single[256];  // a byte that leads no double-byte character
    std::uint8_t lead_row[256];  // lead_rows for a byte that leads nothing
    std::uint8_t char_row[256];  // a lead byte's row, or its single-byte character's
    BoundChar pair[char_rows][trail_count + 1];  // the last column: no trail
    // The step into each column from each row, a column's rows side by side.
    std::int32_t step[bound::columns][bound::rows];

    // The character that starts with `b`, followed by `next` (0 when `b`
    // is the run's last byte: it trails nothing).
    const BoundChar& at(unsigned char b, unsigned char next) const {
        const unsigned t = next - trail_first;  // wraps below 0x40
        return pair[char_row[b]][t < trail_count ? t : trail_count];
    }
};
const BoundTable& bound_table() {
    static const std::unique_ptr<BoundTable> table = [] {
        using namespace bound;
        auto t = std::make_unique<BoundTable>();
        const auto set = [](BoundChar& e, std::span<const unsigned char> bytes) {
            const Read r = read_at(bytes, 0);
            if (r.c == 0 || r.width != bytes.size()) return;
            const CharStats s = stats_of(r.c);
            if (r.width == 1) {
                e = BoundChar{0, 0, static_cast<std::uint8_t>(single_column + s.text_class),
                              static_cast<std::uint8_t>(after_single + s.text_class), none_row};
            } else {
                e = BoundChar{s.weight, s.pair_in_bound, static_cast<std::uint8_t>(double_column + s.text_class),
                              none_row, static_cast<std::uint8_t>(after_double + s.text_class)};
            }
        };
        std::size_t row = 0;
        for (unsigned b = 0; b < 256; ++b) {
            const bool leads = leads_double(b);
            t->lead_row[b] = static_cast<std::uint8_t>(leads ? row : lead_rows);
            if (!leads) {
                const unsigned char one[1] = {static_cast<unsigned char>(b)};
                set(t->single[b], one);
                continue;
            }
            for (unsigned k = 0; k < trail_count; ++k) {
                const unsigned char two[2] = {static_cast<unsigned char>(b),
                                              static_cast<unsigned char>(trail_first + k)};
                set(t->pair[row][k], two);
            }
            ++row;
        }
        for (unsigned b = 0; b < 256; ++b) {
            const std::size_t column = t->single[b].column;
            const std::size_t own = t->lead_row[b] < lead_rows ? t->lead_row[b]
                                    : column == bound::none_column
                                        ? no_char_row
                                        : no_char_row + 1 + (column - bound::single_column) - first_single_class;
            t->char_row[b] = static_cast<std::uint8_t>(own);
            if (own > no_char_row) std::fill(std::begin(t->pair[own]), std::end(t->pair[own]), t->single[b]);
        }
        const auto& step = detail::text_stats_transition;
        for (auto& column : t->step) std::fill(std::begin(column), std::end(column), never);
        for (std::size_t c = 0; c < classes; ++c) {
            t->step[double_column + c][start_row] = step[detail::text_class_start][c];
            for (std::size_t r = 0; r < classes; ++r) {
                t->step[double_column + c][after_double + r] = step[r][c];
                t->step[double_column + c][after_single + r] = step[r][c];
                t->step[single_column + c][after_double + r] = step[r][c];
            }
        }
        return t;
    }();
    return *table;
}

// At least the `japanese` evidence of any part of any reading of `run`, or
// a value of at least `least` once it reaches that: each character that
// may start at a byte adds the most it can, given the characters that may
// end just before it, and only when that is above 0.
// The parts of one reading take each byte once, so no part weighs more.
// Branch-free but for the stop once it reaches `least` (each byte only
// adds to it), which data seldom takes: on the short runs of data which
// class comes next is a coin toss.
std::int64_t evidence_bound(std::span<const unsigned char> run, std::int64_t least) {
    const BoundTable& table = bound_table();
    std::int64_t bound = 0;
    if (run.empty()) return 0;
    // The rows of the characters that may end just before byte k, and of
    // the double-byte one that starts at k - 1.
    std::size_t row_single = bound::none_row, row_double = bound::none_row, double_from_last = bound::none_row;
    const std::size_t last = run.size() - 1;
    for (std::size_t k = 0; k <= last; ++k) {
        const BoundChar& e = table.at(run[k], k < last ? run[k + 1] : 0);
        const std::int32_t* in = table.step[e.column];
        const std::int32_t best_in =
            std::max({in[bound::start_row], in[row_single], in[row_double] + e.pair_in});
        bound += std::max(e.weight + best_in, 0);
        if (bound >= least) return bound;
        row_single = e.row_after;
        row_double = double_from_last;
        double_from_last = e.row_two_after;
    }
    return bound;
}

// As evidence_bound, but a double-byte character two bytes after another
// is weighed with the pair the two make rather than with the most any pair
// into it adds: machine code puts kanji side by side by the thousand, and
// few such pairs are words. Dearer by the pair's lookups, and closer.
// Each byte only adds to it, so it stops once it reaches `least`: a run of
// text need not be weighed to its end to tell that it may pass.
std::int64_t paired_bound(std::span<const unsigned char> run, std::int64_t least) {
    const BoundTable& table = bound_table();
    std::int64_t bound = 0;
    std::size_t row_single = bound::none_row, row_double = bound::none_row, double_from_last = bound::none_row;
    for (std::size_t k = 0; k < run.size(); ++k) {
        const unsigned char next = k + 1 < run.size() ? run[k + 1] : 0;
        const BoundChar& e = table.at(run[k], next);
        const std::int32_t* in = table.step[e.column];
        std::int64_t pair_in = e.pair_in;
        if (row_double != bound::none_row && e.row_two_after != bound::none_row) {
            // Both characters are known from their bytes.
            const char32_t previous = text::cp932_double_char(run[k - 2], run[k - 1]);
            const char32_t c = text::cp932_double_char(run[k], next);
            const CharStats p = stats_of(previous);
            const PairEvidence pair = pair_evidence(previous, p.text_class, p.code, c, stats_of(c));
            pair_in = pair.echo ? bound::never : pair.extra;
        }
        const std::int64_t best_in =
            std::max<std::int64_t>({in[bound::start_row], in[row_single], in[row_double] + pair_in});
        bound += std::max<std::int64_t>(e.weight + best_in, 0);
        if (bound >= least) return bound;
        row_single = e.row_after;
        row_double = double_from_last;
        double_from_last = e.row_two_after;
    }
    return bound;
}

// The least evidence, in the statistics' units, that scores `min_score`.
std::int64_t least_evidence(int min_score) {
    static const auto table = [] {
        std::array<std::int64_t, 102> t{};
        std::int64_t units = -100 * detail::text_stats_units_per_nat;
        for (int score = 0; score <= 101; ++score) {
            while (score <= 100 && units < 100 * detail::text_stats_units_per_nat &&
                   score_from_evidence(static_cast<double>(units) / detail::text_stats_units_per_nat) < score)
                ++units;
            t[static_cast<std::size_t>(score)] = score > 100 ? std::numeric_limits<std::int64_t>::max() : units;
        }
        return t;
    }();
    return table[static_cast<std::size_t>(std::clamp(min_score, 0, 101))];
}

// Whether `run` is a word alone, which scores by its shape whatever its
// characters' evidence.
bool reads_as_word_alone(std::span<const unsigned char> run, std::size_t lead_in) {
    if (lead_in != 0) return false;
    char32_t chars[word_alone_max_chars];
    const std::size_t n = double_chars(run, chars);
    return n > 0 && word_alone(std::span<const char32_t>(chars, n));
}

}  // namespace

void TextScorer::extend_into(const Path& path, char32_t c, std::size_t at, std::size_t width, Path& out) {
    const CharStats s = stats_of(c);
    const unsigned cls = s.text_class;
    const bool single = single_byte(cls);
    const std::int64_t weight = s.weight;
    const std::int64_t start = detail::text_stats_transition[detail::text_class_start][cls];
    const std::int64_t fresh_full = weight + start;
    const bool ascii = is_ascii_class(cls);
    const std::int64_t fresh_japanese = japanese_part(weight, single) + japanese_part(start, single);
    const std::int64_t fresh_edge = ascii ? fresh_japanese : 0;
    const Segment fresh{fresh_full, fresh_full, fresh_japanese, fresh_edge, fresh_edge, at, at + width, !ascii};
    // The parts are worked on as locals and stored once, at the end: `out`
    // may be `path`.
    Segment current = fresh, later = fresh;
    if (path.any) {
        current = path.current;
        later = path.later;
        const std::int64_t step = detail::text_stats_transition[path.last_class][cls];
        std::int64_t full = weight + step;
        std::int64_t japanese =
            japanese_part(weight, single) + japanese_part(step, single && single_byte(path.last_class));
        const PairEvidence pair = pair_evidence(path.last_char, path.last_class, path.last_code, c, s);
        full += pair.extra;
        japanese += pair.extra;
        if (pair.echo) {
            full = std::min<std::int64_t>(full, 0);
            japanese = std::min<std::int64_t>(japanese, 0);
        }
        // ASCII after ASCII adds to the ends' stretches; ASCII after any
        // other character opens the closing stretch with what it says on
        // its own, not with how it meets that character.
        const bool among_ascii = ascii && is_ascii_class(path.last_class);
        const std::int64_t edge = among_ascii ? japanese : ascii ? japanese_part(weight, single) : 0;
        const auto grow = [&](Segment& part) {
            part.full += full;
            part.peak = std::max(part.peak, part.full);
            part.japanese += japanese;
            if (!part.past_lead) part.ascii_lead += edge;
            part.ascii_tail = among_ascii ? part.ascii_tail + edge : edge;
            part.past_lead = part.past_lead || !ascii;
            part.end = at + width;
        };
        // The part that starts latest yet within the tolerance of starting
        // here: where the current part must give up its start, it starts
        // there, not at this character (the "1" of "A1から" goes with the
        // sentence, the "A" before it does not).
        if (later.begin == current.begin || fresh.full > later.full + full + end_tolerance) {
            later = fresh;
        } else {
            grow(later);
        }
        if (fresh.full > current.full + full + end_tolerance) {
            current = later;
            later = fresh;
        } else {
            grow(current);
        }
    }
    if (current.begin == best_.begin && best_.end > best_.begin) {
        // The best part goes on: its end follows as long as what was added
        // since its peak stays within the tolerance.
        if (current.full >= current.peak - end_tolerance && current.end > best_.end) best_ = current;
    } else if (current.full > best_.peak) {
        best_ = current;
    }
    out.current = current;
    out.later = later;
    out.last_char = c;
    out.last_code = s.code;
    out.last_class = static_cast<unsigned char>(cls);
    out.any = true;
}

TextScorer::TextScorer(text::InputEncoding encoding) : extra_prior_nats_(noise_prior_nats(encoding)) {}

ScoredRun TextScorer::result() const { return result_among(1); }

ScoredRun TextScorer::result_among(std::size_t placements, double extra_nats) const {
    if (best_.end == best_.begin) return {};
    const double nats = static_cast<double>(edge_free_japanese(best_)) / detail::text_stats_units_per_nat -
                        extra_prior_nats_ - extra_nats -
                        std::log(static_cast<double>(std::max<std::size_t>(placements, 1)));
    return ScoredRun{score_from_evidence(nats), best_.begin, best_.end};
}

int score_from_evidence(double nats) {
    const double p = 1.0 / (1.0 + std::exp(-(nats + text_prior_nats)));
    return static_cast<int>(std::lround(100.0 * p));
}

// The statistics weigh text against random bytes read as code page 932:
// of the characters such bytes give, a level-1 kanji is one in 16 (2,965
// codes of two bytes, 2^-16 each, in a mass of 0.73 that ASCII and
// half-width katakana fill most of). Random UTF-16 gives almost no ASCII or
// half-width character (95 + 63 of 65,536 units), so of the characters it
// gives a level-1 kanji is one in 11 (2,965 of the 33,667 code points the
// scan can report). Each kanji of UTF-16 noise is so likelier than the
// statistics assume, and the runs of noise nearest the least score, two
// kanji side by side (a pair of the word list), pass too easily by
// 2 ln(share in UTF-16 / share in the statistics) = 0.7 nats: so much more
// evidence a run of UTF-16 needs. In EUC-JP and UTF-8 single bytes fill
// the noise as in code page 932 (and UTF-8 gives a kanji at some 6 / 256 x
// (64 / 256)^2 per byte, far less often), so their runs need no more.
double noise_prior_nats(text::InputEncoding encoding) {
    static const double utf16 = [] {
        constexpr double byte_chance = 1.0 / 256;
        const auto kanji1 = static_cast<std::uint8_t>(TextClass::kanji1);
        double mass = 0, kanji_mass = 0;
        double kanji_codes = 0;
        for (const detail::TextStatsChar& e : detail::text_stats_chars) {
            const double m = text::cp932_code(e.code_point) > 0xFF ? byte_chance * byte_chance : byte_chance;
            mass += m;
            if (e.text_class == kanji1) {
                kanji_mass += m;
                ++kanji_codes;
            }
        }
        double reported = 0;
        for (char32_t u = 0; u < bmp_size; ++u) reported += text::unicode_class(u) != text::TextClass::none ? 1 : 0;
        return 2 * std::log((kanji_codes / reported) / (kanji_mass / mass));
    }();
    switch (encoding) {
        case text::InputEncoding::utf16le:
        case text::InputEncoding::utf16be: return utf16;
        case text::InputEncoding::cp932:
        case text::InputEncoding::euc_jp:
        case text::InputEncoding::utf8: break;
    }
    return 0.0;
}

bool is_printable_ascii_pair(char32_t c) {
    const auto printable = [](char32_t b) { return b >= 0x20 && b <= 0x7E; };
    return c <= 0xFFFF && printable(c >> 8) && printable(c & 0xFF);
}

double ascii_read_as_utf16_nats(std::size_t characters) {
    constexpr double printable = 0x7E - 0x20 + 1;
    static const double per_character = std::log(65536.0 / (printable * printable));
    return per_character * static_cast<double>(characters);
}

ScoredRun score_text(std::span<const char32_t> run) {
    TextScorer scorer;
    scorer.add(run);
    return scorer.result();
}

namespace {

ScoredRun score_cp932_readings(std::span<const unsigned char> run, std::size_t lead_in, int min_score) {
    // Most runs data gives are short ASCII. Printable ASCII alone reads one
    // way only, as single-byte characters, which never count for a run: it
    // scores 0 and is kept whole by a threshold of 0, without being read
    // character by character.
    if (std::all_of(run.begin(), run.end(), [](unsigned char b) { return b >= 0x20 && b < 0x7F; }))
        return run.size() > lead_in ? ScoredRun{0, lead_in, run.size()} : ScoredRun{};
    const bool alone = reads_as_word_alone(run, lead_in);
    // The many short runs of data fall short of any threshold by far: what
    // no reading can reach is not read in full.
    const std::int64_t least = least_evidence(min_score);
    if (!alone && min_score > 0 && evidence_bound(run, least) < least) return {};
    TextScorer scorer;
    // The best path that reaches each of the next three bytes after a
    // character of one byte and of two: slot[at % 3][width - 1] of pool.
    // A path is made in the spare and, where it beats the one in its slot,
    // trades places with it; none is copied.
    TextScorer::Path pool[3 * 2 + 1];
    std::uint8_t slot[3][2] = {{0, 1}, {2, 3}, {4, 5}};
    std::uint8_t spare = 6;
    static const TextScorer::Path start{};
    bool reaches[3][2] = {};
    // Of two readings whose parts start at different bytes, the one that
    // starts later wins only by the tolerance a cut start needs: its first
    // character is cut only where that is clearly data (表 before "2.2":
    // a kanji before a digit weighs less than a backslash does).
    const auto better = [](const TextScorer::Segment& a, const TextScorer::Segment& b) {
        if (a.begin > b.begin) return a.full > b.full + end_tolerance;
        if (a.begin < b.begin) return a.full + end_tolerance >= b.full;
        return a.full > b.full;
    };
    // Offers the spare, a path that reads a character of `width` bytes
    // up to byte `at`.
    const auto offer = [&](std::size_t at, std::size_t width) {
        const std::size_t kind = width - 1;
        std::uint8_t& held = slot[at % 3][kind];
        if (!reaches[at % 3][kind] || better(pool[spare].current, pool[held].current)) std::swap(held, spare);
        reaches[at % 3][kind] = true;
    };
    for (std::size_t k = 0; k < run.size(); ++k) {
        const auto [c, width] = read_at(run, k);
        bool* const here = reaches[k % 3];
        if (c != 0) {
            if (!here[0] && !here[1]) {
                scorer.extend_into(start, c, k, width, pool[spare]);
                offer(k + width, width);
            }
            for (std::size_t kind = 0; kind < 2; ++kind) {
                if (!here[kind]) continue;
                scorer.extend_into(pool[slot[k % 3][kind]], c, k, width, pool[spare]);
                offer(k + width, width);
            }
        }
        here[0] = here[1] = false;
    }
    // The part kept is the best of the placements the run offers, counted
    // in bytes: a pair of kanji from machine code is one of many.
    ScoredRun result = scorer.result();
    const std::size_t span = run.size() - std::min(lead_in, run.size());
    const std::size_t kept = result.keep_end - result.keep_begin;
    result = scorer.result_among(span > kept ? span - kept + 1 : 1);
    if (alone) result = ScoredRun{std::max(result.score, score_from_evidence(word_alone_nats)), 0, run.size()};
    // Text wholly inside the lead-in belongs to the run before.
    return result.keep_end > lead_in ? result : ScoredRun{};
}

// Scripts and markup open their commands with a sigil: "@sel 12 ", "#voice
// v0012 ", "<w 40>", "[name=C2]", "\r12:", "{p}". Prose almost never opens a
// line with one (of the 2,317 lines of the statistics' text, one does), so
// such a command before a line is not a word of the sentence after it. The
// model cannot tell: ASCII weighs alike in a tag and in "Debian アーカイブ",
// and a space before kana is strong evidence of text.
struct Sigil {
    char open;
    char close;  // the byte that ends the tag, 0: it ends with its name
};
constexpr Sigil tag_sigils[] = {{'@', 0}, {'#', 0}, {'\\', 0}, {'<', '>'}, {'[', ']'}, {'{', '}'}};

bool is_ascii_alpha(unsigned char b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }
bool is_ascii_digit(unsigned char b) { return b >= '0' && b <= '9'; }
bool is_ascii_printable(unsigned char b) { return b >= 0x20 && b < 0x7F; }

// Where the command that opens `kept` ends, spaces after it included; 0 for
// none. A command is its sigil and name (up to its closing bracket, for a
// bracket; else a name that opens with a letter and ends at a space or at
// the text, so that "@2.1" or "#full-upgrade" is none), then at most one
// argument: a number, or an id of letters then digits ("v0012"), with a
// space after it. A number that touches the text
// ("2番目", "2004年") or follows the argument ("1.6.3. 置換式", "68980 つ")
// counts or numbers the line and stays with it, as does any other ASCII
// ("grep(1) による"). Only printable ASCII makes a command, and text must
// follow it.
std::size_t tag_end(std::span<const unsigned char> kept) {
    if (kept.empty()) return 0;
    const auto sigil = std::find_if(std::begin(tag_sigils), std::end(tag_sigils),
                                    [&](const Sigil& t) { return static_cast<unsigned char>(t.open) == kept[0]; });
    if (sigil == std::end(tag_sigils)) return 0;
    const auto ends_ascii = [&](std::size_t k) { return k == kept.size() || !is_ascii_printable(kept[k]); };
    std::size_t k = 1;
    if (sigil->close != 0) {
        while (k < kept.size() && is_ascii_printable(kept[k]) && kept[k] != sigil->close) ++k;
        if (ends_ascii(k)) return 0;
        ++k;
    } else {
        if (kept.size() < 2 || !is_ascii_alpha(kept[1])) return 0;
        while (k < kept.size() && (is_ascii_alpha(kept[k]) || is_ascii_digit(kept[k]) || kept[k] == '_')) ++k;
        if (k < kept.size() && (kept[k] == ':' || kept[k] == '=')) ++k;
        if (!ends_ascii(k) && kept[k] != ' ') return 0;  // "#qsafe-upgrade" is a word
    }
    const auto skip_spaces = [&](std::size_t from) {
        while (from < kept.size() && kept[from] == ' ') ++from;
        return from;
    };
    const std::size_t name_end = k;
    k = skip_spaces(k);
    std::size_t arg = k;
    while (arg < kept.size() && is_ascii_alpha(kept[arg])) ++arg;
    const std::size_t digits = arg;
    while (arg < kept.size() && is_ascii_digit(kept[arg])) ++arg;
    if (k > name_end && arg > digits && arg < kept.size() && kept[arg] == ' ') k = skip_spaces(arg);
    return k < kept.size() && k > 0 ? k : 0;
}

// Whether a line after a script's command in `run` may be a word alone:
// the line is the run's bytes from where the command ends to the run's
// end, so only its last two to four characters' worth need reading.
bool may_end_in_word_alone(std::span<const unsigned char> run, std::size_t lead_in) {
    for (std::size_t chars = word_alone_min_chars; chars <= word_alone_max_chars; ++chars) {
        const std::size_t n = 2 * chars;
        if (run.size() >= n + lead_in && reads_as_word_alone(run.last(n), 0)) return true;
    }
    return false;
}

// The bytes that open a script's command.
constexpr std::array<bool, 256> sigil_bytes = [] {
    std::array<bool, 256> t{};
    for (const Sigil& sigil : tag_sigils) t[static_cast<unsigned char>(sigil.open)] = true;
    return t;
}();

}  // namespace

const detail::DismissalSieve& detail::dismissal_sieve() {
    // The single-byte characters' rows follow the lead bytes' and the row
    // of no character, one per class from space to half_kana.
    constexpr std::size_t none_row = sieve_lead_rows;
    constexpr auto first_single = static_cast<std::size_t>(TextClass::space);
    static_assert(sieve_lead_rows == lead_rows);
    static_assert(sieve_rows == none_row + 1 + static_cast<std::size_t>(TextClass::half_kana) - first_single + 1);
    static const std::unique_ptr<DismissalSieve> sieve = [] {
        auto t = std::make_unique<DismissalSieve>();
        const BoundTable& table = bound_table();
        const auto& step = text_stats_transition;
        const auto units = [](std::int64_t v) { return (std::max<std::int64_t>(v, 0) + sieve_unit - 1) / sieve_unit; };
        const auto share = [](std::int64_t alone, std::int64_t paired, bool two, bool word = false) {
            return static_cast<std::uint16_t>(std::min<std::int64_t>(alone, sieve_share_mask) |
                                              std::min<std::int64_t>(paired, sieve_share_mask) << sieve_share_bits |
                                              unsigned{word} << sieve_word_bit | unsigned{two} << sieve_double_bit);
        };
        for (unsigned b = 0; b < 256; ++b) {
            const std::size_t column = table.single[b].column;
            t->row[b] = static_cast<std::uint8_t>(
                table.lead_row[b] < lead_rows ? table.lead_row[b]
                : column == bound::none_column
                    ? none_row
                    : none_row + 1 + (column - bound::single_column) - first_single);
        }
        // A single-byte character adds only after a double-byte one: the
        // most any step into its class from one adds.
        for (std::size_t cls = first_single; cls <= static_cast<std::size_t>(TextClass::half_kana); ++cls) {
            std::int64_t after_double = 0;
            for (std::size_t c = 0; c < text_class_count; ++c)
                if (!single_byte(static_cast<unsigned>(c))) after_double = std::max<std::int64_t>(after_double, step[c][cls]);
            std::fill(std::begin(t->share[none_row + 1 + cls - first_single]),
                      std::end(t->share[none_row + 1 + cls - first_single]), share(0, units(after_double), false));
        }
        // The steps into each class of double-byte character from what
        // may stand before it: the start or a single-byte character, and
        // a double-byte one (to which the pair into it adds).
        std::int64_t from_single[text_class_count], from_double[text_class_count];
        for (std::size_t cls = 0; cls < text_class_count; ++cls) {
            from_single[cls] = step[text_class_start][cls];
            from_double[cls] = bound::never;
            for (std::size_t c = 0; c < text_class_count; ++c) {
                std::int64_t& best = single_byte(static_cast<unsigned>(c)) ? from_single[cls] : from_double[cls];
                best = std::max<std::int64_t>(best, step[c][cls]);
            }
        }
        for (std::size_t row = 0; row < sieve_lead_rows; ++row) {
            for (unsigned next = 0; next < 256; ++next) {
                const unsigned t_index = next - trail_first;
                const BoundChar& e = table.pair[row][t_index < trail_count ? t_index : trail_count];
                if (e.column == bound::none_column) continue;
                const std::size_t cls = e.column - bound::double_column;
                const std::int64_t paired = std::max(from_single[cls], from_double[cls] + e.pair_in);
                t->share[row][next] = share(units(e.weight + from_single[cls]), units(e.weight + paired), true,
                                            cls == static_cast<std::size_t>(TextClass::kanji1));
            }
        }
        // A run of two bytes x y adds the share of x before y and that of
        // y as the last byte, both alone; one byte only the latter.
        std::uint32_t before[256] = {};
        for (const auto& by_next : t->share)
            for (unsigned next = 0; next < 256; ++next)
                before[next] = std::max<std::uint32_t>(before[next], by_next[next] & sieve_share_mask);
        for (unsigned b = 0; b < 256; ++b) t->opens_command[b] = sigil_bytes[b];
        t->most_of_two = 0;
        for (unsigned b = 0; b < 256; ++b)
            t->most_of_two = std::max<std::uint32_t>(t->most_of_two, before[b] + (t->share[t->row[b]][0] & sieve_share_mask));
        return t;
    }();
    return *sieve;
}

std::uint32_t detail::sieve_units(const DismissalSieve& sieve, std::span<const unsigned char> bytes) {
    const unsigned char* const b = bytes.data();
    const std::size_t n = bytes.size();
    if (n == 0) return 0;
    // The shift that picks a byte's share: by whether a double-byte
    // character may start two bytes back (shift_before) and one byte back
    // (shift_last).
    unsigned shift_before = 0, shift_last = 0;
    std::uint32_t units = 0;
    const auto share_of = [&](std::size_t k, unsigned char next) { return sieve.share[sieve.row[b[k]]][next]; };
    const auto shift_after = [](unsigned e) { return (e >> sieve_double_bit) * sieve_share_bits; };
    // The last byte trails nothing: it is weighed after the loops, so that
    // they read the next byte without a test. Two bytes a step: each
    // byte's share is picked by the one two bytes back, so the two shifts
    // trade places instead of moving down one a byte.
    std::size_t k = 0;
    for (; k + 2 < n; k += 2) {
        const unsigned e0 = share_of(k, b[k + 1]);
        const unsigned e1 = share_of(k + 1, b[k + 2]);
        units += ((e0 >> shift_before) & sieve_share_mask) + ((e1 >> shift_last) & sieve_share_mask);
        shift_before = shift_after(e0);
        shift_last = shift_after(e1);
    }
    if (k + 1 < n) {
        const unsigned e = share_of(k, b[k + 1]);
        units += (e >> shift_before) & sieve_share_mask;
        shift_before = shift_last;
    }
    return units + ((share_of(n - 1, 0) >> shift_before) & sieve_share_mask);
}

Cp932Dismissal::Cp932Dismissal(int min_score)
    : sieve_(&detail::dismissal_sieve()), least_(least_evidence(min_score)),
      sieve_least_(least_ > 0 && least_ <= std::int64_t{detail::sieve_share_mask} * detail::sieve_unit
                       ? static_cast<std::uint32_t>((least_ + detail::sieve_unit - 1) / detail::sieve_unit)
                       : 0),
      short_run_(sieve_->most_of_two < sieve_least_ ? two_bytes : 0), dismisses_any_(min_score > 0) {
    static_assert(word_min_chars == word_alone_min_chars && word_max_chars == word_alone_max_chars);
}

bool Cp932Dismissal::dismisses_exactly(std::span<const unsigned char> bytes, std::size_t lead_in) const {
    // As score_cp932 reads the run: a part it keeps has at least this
    // evidence, or the run is a word alone. (A run of printable ASCII,
    // which it keeps with a score of 0, has a bound of 0.) The closer
    // bound is dearer but needed by few runs.
    if (!dismisses_any_) return false;
    if (evidence_bound(bytes, least_) >= least_ && paired_bound(bytes, least_) >= least_) return false;
    // A line after a script's command scores on its own, from its first
    // character: it cannot weigh more than the bound of the whole run, but
    // it may be a word alone there.
    const bool sigil = std::any_of(bytes.begin(), bytes.end(), [](unsigned char b) { return sigil_bytes[b]; });
    if (sigil && may_end_in_word_alone(bytes, lead_in)) return false;
    return !reads_as_word_alone(bytes, lead_in);
}

LabelTail cp932_label_tail_at(std::span<const unsigned char> bytes) {
    return label_tail_at(
        bytes.size(), [&](std::size_t k) -> char32_t { return bytes[k]; },
        [&](std::size_t k) { return k >= 2 && text::cp932_double_char(bytes[k - 2], bytes[k - 1]) != 0; });
}

namespace {

ScoredRun score_cp932_unkeyed(std::span<const unsigned char> run, std::size_t lead_in, int min_score);

}  // namespace

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool in_token(char c) { return is_ascii_alnum(static_cast<unsigned char>(c)) || c == '_'; }

// The names that stand whole in a token (see symbol_prefix_end): how
// many, where the first one's length starts and where the last one ends.
struct TokenNames {
    std::size_t count = 0;
    std::size_t first = 0;
    std::size_t end = 0;
    std::size_t end_before = 0;  // of the name before the last
    std::size_t size = 0;        // the token's
};
TokenNames names_in(std::span<const char> token) {
    constexpr std::size_t most_digits = 2;
    TokenNames names;
    names.size = token.size();
    for (std::size_t k = 1; k < token.size(); ++k) {
        const char before = token[k - 1];
        if (!is_digit(token[k]) || !(is_letter(before) || before == '_')) continue;
        std::size_t digits = 1;
        while (k + digits < token.size() && is_digit(token[k + digits])) ++digits;
        if (digits > most_digits) continue;
        std::size_t length = 0;
        for (std::size_t j = 0; j < digits; ++j) length = 10 * length + static_cast<std::size_t>(token[k + j] - '0');
        const std::size_t from = k + digits;
        const std::size_t end = from + length;
        if (length < 2 || end > token.size() || !(is_letter(token[from]) || token[from] == '_')) continue;
        if (end < token.size()) {
            const char next = token[end];
            if (!(is_digit(next) || (next >= 'A' && next <= 'Z') || next == '_')) continue;
        }
        if (names.count++ == 0) names.first = k;
        names.end_before = names.end;
        names.end = end;
    }
    return names;
}

// Calls f(start, names) for each token of `ascii` that holds two names or
// more, in order, until f returns false.
template <class F>
void for_each_symbol(std::span<const char> ascii, F&& f) {
    constexpr std::size_t least_names = 2;
    for (std::size_t k = 0; k < ascii.size();) {
        if (!in_token(ascii[k])) {
            ++k;
            continue;
        }
        std::size_t end = k;
        while (end < ascii.size() && in_token(ascii[end])) ++end;
        const TokenNames names = names_in(ascii.subspan(k, end - k));
        if (names.count >= least_names && !f(k, names)) return;
        k = end;
    }
}

}  // namespace

bool is_word_char(char32_t c) {
    // The half-width forms' own marks come before their katakana.
    constexpr char32_t half_marks_last = 0xFF65;
    // The marks that repeat or stand for a character of a word, which the
    // statistics class with the symbols: 々 〆 〇, ゝ ゞ, ヽ ヾ.
    if ((c >= 0x3005 && c <= 0x3007) || c == 0x309D || c == 0x309E || c == 0x30FD || c == 0x30FE) return true;
    switch (static_cast<TextClass>(stats_of(c).text_class)) {
        case TextClass::half_kana: return c > half_marks_last;
        case TextClass::hiragana:
        case TextClass::katakana:
        case TextClass::kanji1:
        case TextClass::kanji2:
        case TextClass::rare_kanji:
        case TextClass::full_alnum:
        case TextClass::greek_cyrillic: return true;
        default: return false;
    }
}

bool cp932_holds_word(std::span<const unsigned char> part) {
    std::size_t chars = 0, words = 0;
    for (std::size_t k = 0; k < part.size() && !holds_word(chars, words);) {
        const Read r = read_at(part, k);
        ++chars;
        words += r.c != 0 && is_word_char(r.c);
        k += r.c == 0 ? 1 : r.width;
    }
    return holds_word(chars, words);
}

std::size_t symbol_prefix_end(std::span<const char> ascii) {
    std::size_t start = 0;
    TokenNames last;
    for_each_symbol(ascii, [&](std::size_t at, const TokenNames& names) {
        start = at;
        last = names;
        return true;
    });
    if (last.count == 0) return 0;
    // A last name that ends the last token before the text may be a word
    // of the text whose letters happen to fill the length ("18_Rb_tree_"
    // before "Shoreline ..."): the cut is then made after the name before.
    const auto rest = ascii.subspan(start + last.size);
    const bool reaches_text = last.end == last.size && std::none_of(rest.begin(), rest.end(), in_token);
    return start + (reaches_text ? last.end_before : last.end);
}

std::size_t symbol_suffix_start(std::span<const char> ascii) {
    std::size_t cut = ascii.size();
    for_each_symbol(ascii, [&](std::size_t start, const TokenNames& names) {
        cut = start + names.first;
        return false;
    });
    return cut;
}

namespace {

// A kept part of code page 932 bytes without the names at its ends, read
// character by character: a trail byte may be ASCII. The ASCII before the
// part is read byte by byte back from it.
ScoredRun cp932_without_symbol_edges(std::span<const unsigned char> run, const ScoredRun& s) {
    if (s.keep_end <= s.keep_begin || (run[s.keep_begin] >= 0x80 && run[s.keep_end - 1] >= 0x80)) return s;
    // Kept by each thread from one run to the next: most runs scored have
    // ASCII at an end, and an allocation apiece cost more than the read.
    static thread_local std::vector<char32_t> chars;
    static thread_local std::vector<std::size_t> at;  // each character's first byte, and the end of the last
    chars.clear();
    at.clear();
    std::size_t k = s.keep_begin;
    while (k > 0 && s.keep_begin - k < score_symbol_room && run[k - 1] >= 0x20 && run[k - 1] < 0x7F) --k;
    for (; k < s.keep_begin; ++k) {
        at.push_back(k);
        chars.push_back(run[k]);
    }
    const std::size_t begin = chars.size();
    std::size_t end = 0;
    for (k = s.keep_begin; k < run.size();) {
        if (k == s.keep_end) end = chars.size();
        const Read r = read_at(run, k);
        // Past the part, only the ASCII that goes on from it is read.
        if (k >= s.keep_end && (r.c == 0 || r.c >= 0x80 || k - s.keep_end >= score_symbol_room)) break;
        at.push_back(k);
        chars.push_back(r.c);
        k += r.c == 0 ? 1 : r.width;
    }
    if (k == s.keep_end) end = chars.size();
    at.push_back(k);
    const ScoredRun t =
        without_symbol_edges(ScoredRun{s.score, begin, end}, chars.size(), [&](std::size_t j) { return chars[j]; });
    return {s.score, at[t.keep_begin], at[t.keep_end]};
}

}  // namespace

ScoredRun score_cp932(std::span<const unsigned char> run, std::size_t lead_in, int min_score) {
    const LabelTail tail = cp932_label_tail_at(run);
    if (tail.size == 0 || tail.at < lead_in + 2)
        return cp932_without_symbol_edges(run, score_cp932_unkeyed(run, lead_in, min_score));
    const auto without = [&](std::size_t size) {
        std::vector<unsigned char> label(run.begin(), run.begin() + static_cast<std::ptrdiff_t>(tail.at));
        label.insert(label.end(), run.begin() + static_cast<std::ptrdiff_t>(tail.at + size), run.end());
        ScoredRun s = score_cp932_unkeyed(label, lead_in, 0);
        if (s.keep_end >= tail.at && s.keep_end > s.keep_begin) s.keep_end += size;
        return s;
    };
    return cp932_without_symbol_edges(run, score_label(tail, without));
}

namespace {

ScoredRun score_cp932_unkeyed(std::span<const unsigned char> run, std::size_t lead_in, int min_score) {
    // The line after a script's command may be a word alone, which scores
    // by its shape, not by what bounds the run's evidence: such a run is
    // read in full.
    const bool command_word =
        min_score > 0 && std::any_of(run.begin(), run.end(), [](unsigned char b) { return sigil_bytes[b]; }) &&
        may_end_in_word_alone(run, lead_in);
    const ScoredRun result = score_cp932_readings(run, lead_in, command_word ? 0 : min_score);
    if (result.keep_end <= result.keep_begin) return result;
    // A tag before a line goes when the line stands as text without it: it
    // is then scored from its own first character, not from the tag's space.
    const std::size_t tag = tag_end(run.subspan(result.keep_begin, result.keep_end - result.keep_begin));
    if (tag == 0) return result;
    const std::size_t cut = result.keep_begin + tag;
    // The line stands when it scores as text by the default threshold,
    // whatever `min_score` is: a threshold only ever drops a run, never
    // changes what is kept of it. So the rest is read in full whenever it
    // may reach that.
    const int rest_min = min_score > 0 ? std::min(min_score, default_min_score) : 0;
    const ScoredRun rest = score_cp932_readings(run.subspan(cut), lead_in > cut ? lead_in - cut : 0, rest_min);
    if (!rest.kept(default_min_score)) return result;
    // ASCII the line kept after the command stays with it ("n番目" after
    // "[name=C5]"), though alone at the start it would not open the line.
    const auto after_tag = run.subspan(cut, rest.keep_begin);
    const bool ascii_kept = cut + rest.keep_begin <= result.keep_end &&
                            std::all_of(after_tag.begin(), after_tag.end(), is_ascii_printable);
    // The command has no say in where the line ends.
    return ScoredRun{rest.score, ascii_kept ? cut : cut + rest.keep_begin,
                     std::max(result.keep_end, cut + rest.keep_end)};
}

}  // namespace

}  // namespace kurvane
