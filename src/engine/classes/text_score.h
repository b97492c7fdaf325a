// How much a run of characters reads as Japanese text rather than bytes of
// data, and which part of it does. Defined over Unicode code points, so any
// input encoding can feed it; a printer scores each run it is handed and
// keeps the part this marks, or drops the run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "text/input_encoding.h"

namespace kurvane {

// The default least score of a run that is kept as text (0-100).
// (The macro spells it where text is put together at compile time.)
#define KURVANE_DEFAULT_MIN_SCORE 50
inline constexpr int default_min_score = KURVANE_DEFAULT_MIN_SCORE;

struct ScoredRun {
    int score = 0;  // 0 (data) to 100 (text) for the kept part
    // The part that reads as text, [keep_begin, keep_end) in the units the
    // characters were added in (characters, or bytes for code page 932);
    // what lies outside it at the run's ends is noise. Empty when no part
    // reads as text at all (score 0).
    std::size_t keep_begin = 0;
    std::size_t keep_end = 0;

    bool kept(int min_score) const { return keep_end > keep_begin && score >= min_score; }
};

// Scores a run fed in pieces (a run that arrives in splits), character by
// character, in constant space.
class TextScorer {
public:
    TextScorer() = default;
    // For runs decoded from `encoding`, whose noise may pass for text more
    // often than random code page 932 bytes do (see noise_prior_nats).
    explicit TextScorer(text::InputEncoding encoding);

    // Evidence in the statistics' units (1/32 nat). `full` weighs every
    // character and chooses the part to keep; `japanese` leaves out what
    // only single-byte characters say, and gives the score.
    struct Segment {
        std::int64_t full = 0;
        std::int64_t peak = 0;  // the most `full` reached on the way to `end`
        std::int64_t japanese = 0;
        // What the ASCII before the part's first other character, and the
        // ASCII after its last, said among themselves in `japanese`
        // (never above 0); see edge_free_japanese.
        std::int64_t ascii_lead = 0;
        std::int64_t ascii_tail = 0;
        std::size_t begin = 0;
        std::size_t end = 0;
        bool past_lead = false;  // a character other than ASCII was read
    };
    // One reading of the run up to some point: the best part ending there,
    // and the last character read.
    struct Path {
        Segment current;
        // A part starting after current's that the current part falls back
        // on when it gives up its start (current's own start when none).
        Segment later;
        char32_t last_char = 0;
        std::uint16_t last_code = 0;  // its code page 932 code, if double-byte
        unsigned char last_class = 0;
        bool any = false;  // false: nothing read yet, the next character starts
    };

    // Adds the next character, which takes `width` units of the run (1 for
    // a character count, its byte length for a byte count).
    void add(char32_t c, std::size_t width = 1) {
        extend_into(path_, c, position_, width, path_);
        position_ += width;
    }
    void add(std::span<const char32_t> chars) {
        for (const char32_t c : chars) add(c);
    }
    // Reads `c`, `width` units at unit `at`, after `path`, and stores the
    // longer path in `out`, which may be `path`; the best part so far takes
    // it into account. For a byte encoding where a character may start at
    // more than one place, so that every reading can be followed at once,
    // each in a place of its own: no path is copied.
    void extend_into(const Path& path, char32_t c, std::size_t at, std::size_t width, Path& out);

    ScoredRun result() const;
    // The result when the kept part was chosen as the best of `placements`
    // parts of its length that the run offers (its characters less the
    // part's, plus one): by chance alone, the best of many parts of data
    // reads better than one does, by the log of their number.
    // `extra_nats`: more evidence the kept part needs, for what the caller
    // knows of where it was read (see ascii_read_as_utf16_nats).
    ScoredRun result_among(std::size_t placements, double extra_nats = 0.0) const;
    void reset() {
        const double extra = extra_prior_nats_;
        *this = TextScorer{};
        extra_prior_nats_ = extra;
    }

private:
    double extra_prior_nats_ = 0.0;  // evidence needed beyond code page 932's
    Path path_;
    Segment best_;  // the best part of any path
    std::size_t position_ = 0;
};

// The score of a whole run of characters; keep_* count characters.
ScoredRun score_text(std::span<const char32_t> run);

constexpr bool is_ascii_alnum(char32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A menu's or a button's label ends in its access key, the key's letter
// in brackets after the label's last character ("開く(_O)", "はい(&Y)"),
// with at most access_key_tail bytes of ASCII after it ("次へ(&N) >"), or
// in "..." for a label that opens a dialog ("保存...", "印刷(_P)...").
// Neither says anything of the label, yet as ASCII right after a Japanese
// character each would count against it, and the trimming would cut the
// key's bracket off. So a run that ends in them is scored without them
// (the key, and the dots that end the run right after the label or its
// key), and the kept part takes them with the character before them.
inline constexpr std::size_t access_key_size = 4;  // "(_O)"
inline constexpr std::size_t access_key_tail = 3;
inline constexpr std::size_t ellipsis_size = 3;    // "..."
struct LabelTail {
    std::size_t at;    // where the characters left out start; n for none
    std::size_t size;  // how many
};
// The tail of `n` characters (see above; `at(k)` is the k-th, and
// `beyond_ascii(k)` whether the one before the k-th is a character beyond
// ASCII).
template <class At, class BeyondAscii>
LabelTail label_tail_at(std::size_t n, At at, BeyondAscii beyond_ascii) {
    const auto printable = [](char32_t c) { return c >= 0x20 && c < 0x7F; };
    const auto dots_at = [&](std::size_t k) {
        return k + ellipsis_size == n && at(k) == '.' && at(k + 1) == '.' && at(k + 2) == '.';
    };
    for (std::size_t tail = 0; tail <= access_key_tail && access_key_size + tail < n; ++tail) {
        const std::size_t k = n - tail - access_key_size;
        if (at(k) == '(' && (at(k + 1) == '_' || at(k + 1) == '&') && is_ascii_alnum(at(k + 2)) && at(k + 3) == ')' &&
            beyond_ascii(k)) {
            bool ascii = true;
            for (std::size_t j = k + access_key_size; j < n; ++j) ascii = ascii && printable(at(j));
            if (ascii) return {k, dots_at(k + access_key_size) ? access_key_size + ellipsis_size : access_key_size};
        }
        if (!printable(at(n - tail - 1))) break;
    }
    if (n > ellipsis_size && dots_at(n - ellipsis_size) && beyond_ascii(n - ellipsis_size))
        return {n - ellipsis_size, ellipsis_size};
    return {n, 0};
}
// The same for code page 932 bytes, where the character before the tail
// is double-byte.
LabelTail cp932_label_tail_at(std::span<const unsigned char> bytes);
// The score of a run that ends in `tail`, where `without(size)` scores it
// with the first `size` characters of the tail left out: without the
// whole tail, or, where dots may read better with the label than without
// it ("印刷..."), without the key alone, whichever scores higher.
template <class Without>
ScoredRun score_label(const LabelTail& tail, Without without) {
    const ScoredRun s = without(tail.size);
    if (tail.size == access_key_size) return s;
    const ScoredRun with_dots = without(tail.size - ellipsis_size);
    return with_dots.score > s.score ? with_dots : s;
}

// A mark says how text goes on, not that there is text: a part of one
// character of words and a mark ("要、", "。上") is what data gives by the
// thousand, and no word. So a part of fewer than short_part_chars
// characters is written only where it holds least_word_chars characters of
// words (kana, kanji and the marks that repeat them, full-width letters and
// digits, Greek and Cyrillic), the fewest a word has, unless it goes on
// with the line written before. (A longer part with one such character is
// text among ASCII words: "WPA と WPA2".)
inline constexpr std::size_t least_word_chars = 2;
inline constexpr std::size_t short_part_chars = 4;
bool is_word_char(char32_t c);
// Whether a part of `chars` characters holding `words` characters of words
// may be written.
constexpr bool holds_word(std::size_t chars, std::size_t words) {
    return chars >= short_part_chars || words >= least_word_chars;
}
// The same over the characters of code page 932 bytes, read in step from
// the first.
bool cp932_holds_word(std::span<const unsigned char> part);

// The ASCII strings of machine code hold C++ names as the compilers of
// Unix-like systems store them, each name its length and then its letters
// ("_ZN4llvm18initializeAnalysisERNS_12PassRegistryE"). Text that lies
// next to such a string reads with it as one run, yet the names are no
// part of it, and they make most of the line. A token of ASCII letters,
// digits and underscores holds such names where two of them stand whole
// in it: a length of 2 or more after a letter or an underscore, that many
// characters from a letter or an underscore on, and after them the token's
// end, a digit, a capital or an underscore, which a mangled name puts next
// ("4llvm" before "18"). Prose gives hardly one ("tune2fs" has one; of the
// 2,317 lines of the statistics' text none has two in a token).
//
// symbol_prefix_end(ascii): in the ASCII before a part's first character
// beyond ASCII, where the names of its last such token end (but for a
// last name that ends the last token), 0 for none.
// symbol_suffix_start(ascii): in the ASCII after the part's last such
// character, where the names of its first such token start, ascii.size()
// for none.
std::size_t symbol_prefix_end(std::span<const char> ascii);
std::size_t symbol_suffix_start(std::span<const char> ascii);
// The most ASCII read for names on either side of a part.
inline constexpr std::size_t score_symbol_room = 256;
// A part [keep_begin, keep_end) of a run of n characters, char_at(k) the
// k-th, without the names at its ends. The names are read in the run's
// ASCII on either side of the part's text: the score may have cut a
// symbol's first names off already.
template <class CharAt>
ScoredRun without_symbol_edges(ScoredRun s, std::size_t n, CharAt char_at) {
    // The shortest token with two names: "2ab2cd".
    constexpr std::size_t least = 6;
    if (s.keep_end <= s.keep_begin || (char_at(s.keep_begin) >= 0x80 && char_at(s.keep_end - 1) >= 0x80)) return s;
    const auto ascii_char = [&](std::size_t k) { return char_at(k) >= 0x20 && char_at(k) < 0x7F; };
    std::size_t first = s.keep_begin;
    while (first < s.keep_end && char_at(first) < 0x80) ++first;
    if (first == s.keep_end) return s;  // no character beyond ASCII
    std::size_t last = s.keep_end;
    while (char_at(last - 1) < 0x80) --last;
    // The ASCII read: at most the room, nearest the text.
    char buffer[score_symbol_room];
    const auto ascii = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k) buffer[k - from] = static_cast<char>(char_at(k));
        return std::span<const char>(buffer, to - from);
    };
    std::size_t from = first;
    while (from > 0 && first - from < sizeof buffer && ascii_char(from - 1)) --from;
    if (first - from >= least) {
        const std::size_t end = symbol_prefix_end(ascii(from, first));
        if (end != 0) s.keep_begin = std::max(s.keep_begin, from + end);
    }
    std::size_t to = last;
    while (to < n && to - last < sizeof buffer && ascii_char(to)) ++to;
    if (to - last >= least) {
        const std::span<const char> after = ascii(last, to);
        const std::size_t start = symbol_suffix_start(after);
        if (start != after.size()) s.keep_end = std::min(s.keep_end, last + start);
    }
    return s;
}

// The most input bytes before a run worth reading with it: a sentence whose
// first character the scan read as the trail of a byte before it has lost
// at most a few bytes to the run before.
inline constexpr std::size_t max_lead_in = 8;

// The score of a run of code page 932 bytes, bytes[lead_in, size), where
// the `lead_in` bytes before it (at most max_lead_in, fewer at the start of
// the input) are the input bytes just before the run, as decoded. Every way
// of reading the bytes as characters is weighed, not only the scan's. The
// kept part counts bytes of `bytes`, starts and ends on a character of the
// reading that wins, may start in the lead-in (the text then begins before
// the run) and always ends after it. A script's command that opens the
// kept part ("@sel 12 ", "<w 40>") is left out of it when the line after
// it scores as text by default_min_score on its own.
//
// With a `min_score` above 0, a run that cannot reach it in any reading
// comes back with nothing kept, without being read in full: the result
// differs from the one without it only where that is not kept(min_score).
ScoredRun score_cp932(std::span<const unsigned char> bytes, std::size_t lead_in = 0, int min_score = 0);

namespace detail {
// The coarse first bound of Cp932Dismissal, one load a byte: for each
// byte's row and the byte after it, the most the character they start may
// add, in steps of sieve_unit rounded up: when no double-byte character
// may end just before it (bits 0-6) and when one may (bits 7-13), at most
// sieve_share_mask; bit 14: the character is a level-1 kanji, of which a
// word alone is made; bit 15: the character is double-byte. A lead byte's
// row tells the character by the byte after it; the rows after the lead
// bytes' are a single-byte character's, one per class, and no character's
// (all 0).
inline constexpr std::size_t sieve_lead_rows = 60;
inline constexpr std::size_t sieve_rows = sieve_lead_rows + 1 + 6;
inline constexpr std::int64_t sieve_unit = 16;
inline constexpr unsigned sieve_share_bits = 7;
inline constexpr unsigned sieve_share_mask = (1u << sieve_share_bits) - 1;
inline constexpr unsigned sieve_word_bit = 14;
inline constexpr unsigned sieve_double_bit = 15;
static_assert(2 * sieve_share_bits <= sieve_word_bit);
struct DismissalSieve {
    std::uint8_t row[256];
    std::uint16_t share[sieve_rows][256];
    // The most units a run of at most two bytes has: neither byte has a
    // character before it to pair with.
    std::uint32_t most_of_two;
    bool opens_command[256];  // the byte may open a script's command
};
const DismissalSieve& dismissal_sieve();
// The coarse bound of a run in sieve units: one load a byte, each byte's
// share taken as if the byte two before started a double-byte character
// wherever its own share says it may. A share past what the bits hold
// counts as their most, which alone reaches any threshold a sieve is used
// for, so the bound needs no more than the bits. Out of line: its loop
// then keeps its state in registers, which it cannot when inlined in a scan.
std::uint32_t sieve_units(const DismissalSieve& sieve, std::span<const unsigned char> bytes);
}  // namespace detail

// A test quicker than score_cp932 that a run of code page 932 bytes, with
// its lead-in as score_cp932 takes it, keeps nothing at `min_score`: true
// only where score_cp932(bytes, lead_in, min_score) keeps no part, never at
// a min_score of 0. Most runs of data are dismissed so, without being read:
// a coarse bound a load a byte, then, for what it leaves, the bound
// score_cp932 itself starts with.
class Cp932Dismissal {
public:
    explicit Cp932Dismissal(int min_score);

    // Inlined where the printer calls it, once a run: most runs of data
    // are a byte or two, which it dismisses without a call.
    [[gnu::always_inline]] bool dismisses(std::span<const unsigned char> bytes, std::size_t lead_in) const {
        if (!dismisses_any_) return false;
        if (bytes.size() <= short_run_) return true;
        // A label scores without its tail, which no bound here leaves out.
        if (may_end_in_label_tail(bytes) && cp932_label_tail_at(bytes).size != 0) return false;
        // A word alone scores by its shape, whatever its characters say,
        // and so does one after a script's command, wherever the run
        // starts: a run that may end in one goes to the close test, which
        // looks for both. Either way its last two bytes are a kanji of a
        // word.
        const std::size_t n = bytes.size();
        const bool may_be_word = n >= 2 * word_min_chars && ends_in_word_char(bytes) &&
                                 ((lead_in == 0 && n <= 2 * word_max_chars) || may_hold_command(bytes));
        if (!may_be_word && detail::sieve_units(*sieve_, bytes) < sieve_least_) return true;
        return dismisses_exactly(bytes, lead_in);
    }

private:
    static constexpr std::size_t word_min_chars = 2;
    static constexpr std::size_t word_max_chars = 4;
    bool dismisses_exactly(std::span<const unsigned char> bytes, std::size_t lead_in) const;

    bool may_hold_command(std::span<const unsigned char> bytes) const {
        for (const unsigned char b : bytes)
            if (sieve_->opens_command[b]) return true;
        return false;
    }

    // Whether a ")" or a "." lies where a label's tail would have one (see
    // label_tail_at).
    [[gnu::always_inline]] static bool may_end_in_label_tail(std::span<const unsigned char> bytes) {
        const std::size_t n = bytes.size();
        static_assert(access_key_tail + 1 == 4, "the last four bytes hold the bracket");
        return n > ellipsis_size + 1 &&
               (bytes[n - 1] == '.' || (n > access_key_size && (bytes[n - 1] == ')' || bytes[n - 2] == ')' ||
                                                               bytes[n - 3] == ')' || bytes[n - 4] == ')')));
    }

    // Whether the last two of `bytes` (at least two) are a character a
    // word alone is made of.
    [[gnu::always_inline]] bool ends_in_word_char(std::span<const unsigned char> bytes) const {
        const std::size_t n = bytes.size();
        const unsigned e = sieve_->share[sieve_->row[bytes[n - 2]]][bytes[n - 1]];
        return (e >> detail::sieve_word_bit & 1) != 0;
    }

    const detail::DismissalSieve* sieve_;
    std::int64_t least_;  // the least evidence that may score min_score
    // The least sieve units that may score min_score; 0 where a share the
    // bits cannot hold might fall short of it, so the sieve dismisses nothing.
    std::uint32_t sieve_least_;
    // The longest runs (with their lead-in) the sieve's most for them
    // leaves short of sieve_least_: 0 or two bytes, fewer than a word's.
    static constexpr std::size_t two_bytes = 2;
    static_assert(two_bytes < 2 * word_min_chars);
    std::size_t short_run_;
    bool dismisses_any_;
};

// The score a run's evidence (in nats) earns: the chance it is text, given
// how rarely text stands among the runs of a data file.
int score_from_evidence(double nats);

// How much more evidence, in nats, a run decoded from `encoding` needs than
// one of code page 932 bytes for the same score: the log of how much more
// often the encoding's noise gives the shortest runs that pass.
double noise_prior_nats(text::InputEncoding encoding);

// Data holds ASCII strings, and UTF-16 read over them gives units whose two
// bytes are both printable ASCII, mostly ideographs (U+4E00-U+7E7E) and kana
// of the printable rows: 正条 is "ckag" of "package". Such a unit is one of
// 95 x 95 that ASCII text gives, not one of the 65,536 random bytes give,
// so where every character of a part is one, the part needs ln(65536 / 9025)
// nats more evidence per character to read as text rather than as ASCII.
// (A line of real Japanese made of such units alone is rare: most kana and
// half the kanji have a byte outside the printable range.)
bool is_printable_ascii_pair(char32_t c);
double ascii_read_as_utf16_nats(std::size_t characters);

}  // namespace kurvane
