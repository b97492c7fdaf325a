// How much a run of characters reads as Japanese text rather than bytes of
// data, and which part of it does. Defined over Unicode code points, so any
// input encoding can feed it; a printer scores each run it is handed and
// keeps the part this marks, or drops the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kurvane {

// The default least score of a run that is kept as text (0-100).
inline constexpr int default_min_score = 50;

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
    // Adds the next character, which takes `width` units of the run (1 for
    // a character count, its byte length for a byte count).
    void add(char32_t c, std::size_t width = 1);
    void add(std::span<const char32_t> chars) {
        for (const char32_t c : chars) add(c);
    }
    ScoredRun result() const;
    void reset() { *this = TextScorer{}; }

private:
    // Evidence in the statistics' units (1/32 nat). `full` weighs every
    // character and chooses the part to keep; `japanese` leaves out what
    // only single-byte characters say, and gives the score.
    struct Segment {
        std::int64_t full = 0;
        std::int64_t peak = 0;  // the most `full` reached on the way to `end`
        std::int64_t japanese = 0;
        std::size_t begin = 0;
        std::size_t end = 0;
    };
    Segment current_;  // the best part ending at the last character
    Segment best_;
    std::size_t position_ = 0;
    char32_t previous_char_ = 0;
    unsigned char previous_class_ = 0;
    bool any_ = false;
};

// The score of a whole run of characters; keep_* count characters.
ScoredRun score_text(std::span<const char32_t> run);

// The score of a run of code page 932 bytes as the scan reports them (single
// bytes and lead-trail pairs); keep_* count bytes and never split a pair.
ScoredRun score_cp932(std::span<const unsigned char> run);

// The score a run's evidence (in nats) earns: the chance it is text, given
// how rarely text stands among the runs of a data file.
int score_from_evidence(double nats);

}  // namespace kurvane
