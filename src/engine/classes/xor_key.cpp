#include "engine/classes/xor_key.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>

#include "engine/classes/text_stats.h"
#include "engine/classes/scan_table.h"
#include "text/text_encoding.h"

namespace kurvane {
namespace {

constexpr std::size_t key_count = 256;

// Keys scored in full after the quick pass: the best few by the quick
// measure, and no XOR, which is always scored to compare against.
constexpr std::size_t finalists = 6;
constexpr std::size_t full_score_share = 4;

// A key is taken only when it keeps this many times the text that no XOR
// keeps, and this many times what any other key among the finalists keeps.
// The right key keeps the file's text, the wrong ones only the data that
// passes for text: at most 5% of what is kept, by the score's aim, so the
// two differ by a factor of 20 or more. A factor of 4 lies halfway between
// them on a log scale (sqrt(20) = 4.5, rounded down), leaving room for
// either side to miss its mark by that much. Where no key is right, the
// best wrong ones read alike (prose in ASCII under keys that turn its
// letters into kanji, one key beside its neighbours), so no key wins.
constexpr std::uint64_t clear_factor = 4;
// ... and the best key must bring at least one short line (eight
// double-byte characters), and one byte in clear_gain_share of the bytes
// scored. Counted as kept_text_bytes counts a key's text (lines, not what
// the key makes of ASCII), the best wrong key that no other finalist comes
// near keeps up to about 0.09% of the bytes of libraries, fonts, sources
// and message catalogues (199 of them; one, whose table of kana codes in
// order reads as a line of kana, reaches 0.4%), and text that fills 0.25%
// of a sparse file must still be found: 1/1024, just above the one.
constexpr std::uint64_t clear_gain = 16;
constexpr std::uint64_t clear_gain_share = 1024;

using PairCounts = std::array<std::uint32_t, 65536>;

std::size_t pair_index(unsigned lead, unsigned trail) { return lead << 8 | trail; }

// How often each byte pair occurs at any position of the samples. XOR with
// a key maps pair (a, b) to (a ^ k, b ^ k), so one count serves all keys.
void count_pairs(std::span<const std::span<const unsigned char>> samples, PairCounts& counts) {
    counts.fill(0);
    for (const auto sample : samples)
        for (std::size_t k = 1; k < sample.size(); ++k) ++counts[pair_index(sample[k - 1], sample[k])];
}

struct TextPair {
    std::uint16_t pair;
    std::uint16_t weight;
};

// The hiragana the settings accept that are more common in prose than
// among random bytes, with their weight. Data almost never decodes to
// hiragana while nearly every line of Japanese holds some, so the quick
// measure of a key is how much of them its decoded pairs hold.
std::vector<TextPair> text_pairs(const detail::ScanTable& table) {
    std::vector<TextPair> pairs;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        for (unsigned trail = text::cp932_trail_first; trail <= 0xFC; ++trail) {
            if (table.at(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)) !=
                CharClass::Double)
                continue;
            const char32_t u =
                text::cp932_double_char(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail));
            const auto found = std::lower_bound(
                std::begin(detail::text_stats_chars), std::end(detail::text_stats_chars), u,
                [](const detail::TextStatsChar& e, char32_t v) { return e.code_point < v; });
            if (found == std::end(detail::text_stats_chars) || found->code_point != u || found->weight <= 0)
                continue;
            const auto cls = static_cast<detail::TextClass>(found->text_class);
            if (cls == detail::TextClass::hiragana)
                pairs.push_back({static_cast<std::uint16_t>(pair_index(lead, trail)),
                                 static_cast<std::uint16_t>(found->weight)});
        }
    }
    return pairs;
}

// Each pair counts by the logarithm of how often it occurs, so that a pair
// data holds by the thousand under some key (a fill byte and its neighbour)
// weighs no more than a few hiragana that text holds by the dozen.
double quick_measure(const PairCounts& counts, const std::vector<TextPair>& pairs, unsigned key) {
    const unsigned both = key << 8 | key;
    double sum = 0;
    for (const TextPair& p : pairs) sum += std::log1p(static_cast<double>(counts[p.pair ^ both])) * p.weight;
    return sum;
}

// Japanese text spreads its double-byte characters over many lead bytes:
// hiragana on one (0x82), katakana on the next, punctuation on 0x81, the
// kanji over some forty more; in the prose hiragana are about 40% of them.
// Data with one fixed byte every other byte (zero-padded 16-bit numbers)
// decodes under the key that makes that byte 0x82 into random hiragana,
// which reads as text character by character, but all its double-byte
// characters share that one lead byte. So the text a key keeps counts only
// when at least a tenth of its double-byte characters (a quarter of what
// text gives, at the least) lie off its most common lead byte.
constexpr std::uint64_t off_lead_share = 10;

// Data whose one frequent byte (zeros) a key turns into the lead or the
// trail of kana reads as text where that kana stands every other character
// (モこモさモ: little-endian numbers under the key that makes 01 00 a モ);
// in text the most frequent character (の, ー, 、) makes up a few
// hundredths of the double-byte ones. So the text a key keeps counts only
// when no one character makes up more than one in dominance_share of at
// least dominance_floor double-byte characters.
constexpr std::uint64_t dominance_share = 5;
constexpr std::uint64_t dominance_floor = 64;
// A line of text under a key: see kept_text_bytes.
constexpr std::size_t long_part_chars = 8;
// The high bytes of the UTF-16 of Greek, Cyrillic and Hebrew letters, and
// the share of a part's double-byte characters stored in those rows that
// makes it stored text: see kept_text_bytes.
constexpr unsigned utf16_script_rows_first = 0x03;
constexpr unsigned utf16_script_rows_last = 0x05;
constexpr std::size_t utf16_row_share_num = 3;
constexpr std::size_t utf16_row_share_den = 4;

// Libraries hold tables of character codes in order (the kana of code
// page 932, 82 9F, 82 A0, 82 A1, ...) and of numbers that count up, which
// some key reads as characters a code or a few apart: "ぁあぃいぅう", or
// under a key that flips low bits "えぉうぇいぅあぃ", or, where the numbers
// are four bytes, one character in two ("察ど皐て傘ば珊つ": 8E 40, 8E 48,
// 8E 50, ...), the characters between them often alike ("ど皐ど"). Such a
// table is no text, whatever the score says of it. A double-byte
// character follows the one a character or two before it "in order" when
// both are double-byte, share their lead byte, and their trails differ by
// 1 to in_order_span (by 0 as well, two apart: one apart, that is an echo
// the score weighs already). In some 16,000 lines of Japanese prose (four
// documents, lines of eight such characters or more) at most 62% of the
// characters are in order one character apart and 75% two apart, and
// fewer than 50 lines either way reach a half, while a table has nearly
// all of them so. A part counts as a table from in_order_share_num /
// in_order_share_den of them either way, with at least long_part_chars.
constexpr unsigned in_order_span = 15;
constexpr std::size_t in_order_share_num = 4;
constexpr std::size_t in_order_share_den = 5;
constexpr std::size_t in_order_strides = 2;
// Tables of values each a few times over read as a character repeated,
// then the next ("ををををじじじじ"). In the same prose at most 15% of
// the characters repeat the one before; a part where half of them do is a
// table too.
constexpr std::size_t repeat_share_num = 1;
constexpr std::size_t repeat_share_den = 2;

// Whether the double-byte characters of `part`, read from its first byte,
// run in code order or repeat as those of a table do.
bool reads_as_code_table(std::span<const unsigned char> part) {
    struct Code {
        bool any = false;
        unsigned lead = 0, trail = 0;
    };
    // The characters 1 and 2 before, [0] the nearer.
    Code before[in_order_strides];
    std::size_t followers[in_order_strides] = {}, in_order[in_order_strides] = {};
    std::size_t repeats = 0;
    for (std::size_t k = 0; k < part.size();) {
        Code here;
        std::size_t width = 1;
        if (text::is_cp932_lead(part[k]) && k + 1 < part.size()) {
            here = {true, part[k], part[k + 1]};
            width = 2;
        }
        for (std::size_t s = 0; s < in_order_strides; ++s) {
            const Code& b = before[s];
            if (!here.any || !b.any) continue;
            ++followers[s];
            const unsigned gap = here.trail > b.trail ? here.trail - b.trail : b.trail - here.trail;
            in_order[s] += here.lead == b.lead && (gap > 0 || s > 0) && gap <= in_order_span ? 1 : 0;
            if (s == 0) repeats += here.lead == b.lead && gap == 0 ? 1 : 0;
        }
        before[1] = before[0];
        before[0] = here;
        k += width;
    }
    for (std::size_t s = 0; s < in_order_strides; ++s)
        if (followers[s] >= long_part_chars && in_order[s] * in_order_share_den >= followers[s] * in_order_share_num)
            return true;
    return followers[0] >= long_part_chars && repeats * repeat_share_den >= followers[0] * repeat_share_num;
}

struct KeptText {
    std::uint64_t bytes = 0;
    std::array<std::uint64_t, 256> leads{};  // kept double-byte characters by lead byte
    std::vector<std::uint32_t> chars = std::vector<std::uint32_t>(std::size_t{1} << 16);
    std::uint64_t most_char = 0;

    void add_double(unsigned char lead, unsigned char trail) {
        ++leads[lead];
        most_char = std::max<std::uint64_t>(most_char, ++chars[pair_index(lead, trail)]);
    }

    std::uint64_t text_bytes() const {
        std::uint64_t all = 0, most = 0;
        for (const std::uint64_t n : leads) {
            all += n;
            most = std::max(most, n);
        }
        const bool one_dominates = all >= dominance_floor && most_char * dominance_share > all;
        return off_lead_share * (all - most) >= all && !one_dominates ? bytes : 0;
    }
};

// The sample bytes that runs scoring at least min_score keep, the samples
// decoded with `key`.
std::uint64_t kept_text_bytes(std::span<const std::span<const unsigned char>> samples,
                              const detail::ScanTable& table, unsigned key, int min_score) {
    KeptText kept;
    std::vector<unsigned char> decoded;
    std::vector<unsigned char> run;
    bool any_double = false;
    // A run of single-byte characters alone never scores above 0, so only
    // runs holding a double-byte character are scored: most runs data gives
    // are short ASCII. Of the rest, most keep nothing, which the dismissal
    // tells at a fraction of what scoring them costs.
    const Cp932Dismissal dismissal(min_score);
    // What a key makes of the file's own bytes that are no text counts for
    // nothing: under keys with the high bit set, English prose and names
    // read as kanji, a character for every two letters, and some of it
    // passes; and data's short runs pass by the dozen under some key or
    // other. So under a key, a kept part counts only when its stored bytes
    // are not all ASCII text (printable, tabs and line breaks: Japanese
    // under such a key is stored with a control byte every few characters),
    // and only with at least long_part_chars double-byte characters: a
    // line of text, not a word that chance gives (nor the ASCII that every
    // key makes of binary bytes). With no XOR everything kept counts but a
    // table of codes, so that a key must beat all the text a plain reading
    // gives.
    const auto stored_as_ascii = [&](std::size_t begin, std::size_t end) {
        for (std::size_t k = begin; k < end; ++k) {
            const unsigned stored = run[k] ^ key;
            if (stored >= 0x7F || (stored < 0x20 && (stored < '\t' || stored > '\r'))) return false;
        }
        return true;
    };
    // Resources hold strings in UTF-16, and a key that turns the high byte
    // of a script's row into a lead byte reads them as kana: Cyrillic
    // (04 xx) under 0x86 as hiragana, Hebrew (05 xx) as katakana. So under
    // a key a part whose double-byte characters are nearly all stored as
    // units of such rows is stored text too (the bytes around a string add
    // a character or two of any kind). Japanese stored with a key gives
    // that only under the keys 0x80, 0x81, 0x86 and 0x87, in a line of
    // kana and punctuation alone; its lines with kanji still count. The
    // rows of Latin letters are left out: under 0x82 and 0x83 the kana
    // are stored in them, and lines of kana alone are too many to lose.
    const auto stored_as_utf16 = [&](std::size_t begin, std::size_t end) {
        std::size_t doubles = 0, in_rows = 0;
        for (std::size_t k = begin; k < end;) {
            if (!text::is_cp932_lead(run[k])) {
                ++k;
                continue;
            }
            ++doubles;
            const unsigned row = run[k] ^ key;
            in_rows += row >= utf16_script_rows_first && row <= utf16_script_rows_last ? 1 : 0;
            k += 2;
        }
        return in_rows * utf16_row_share_den >= doubles * utf16_row_share_num;
    };
    const auto count_part = [&](std::size_t begin, std::size_t end) {
        // The kept part starts on a character of the reading that won.
        const auto width_at = [&](std::size_t k) -> std::size_t { return text::is_cp932_lead(run[k]) ? 2 : 1; };
        // A table of codes is no text under any key, none included.
        if (reads_as_code_table(std::span<const unsigned char>(run).subspan(begin, end - begin))) return;
        if (key != 0) {
            std::size_t doubles = 0;
            for (std::size_t k = begin; k < end; k += width_at(k)) doubles += width_at(k) == 2 ? 1 : 0;
            if (doubles < long_part_chars || stored_as_ascii(begin, end) || stored_as_utf16(begin, end)) return;
        }
        kept.bytes += end - begin;
        for (std::size_t k = begin; k < end; k += width_at(k))
            if (width_at(k) == 2) kept.add_double(run[k], run[k + 1]);
    };
    const auto score_run = [&] {
        if (any_double && !dismissal.dismisses(run, 0))
            if (const ScoredRun s = score_cp932(run, 0, min_score); s.kept(min_score))
                count_part(s.keep_begin, s.keep_end);
        run.clear();
        any_double = false;
    };
    for (const auto sample : samples) {
        // One zero byte after the data: a lead byte at the end reads it as
        // its trail, which no double-byte class accepts.
        decoded.resize(sample.size() + 1);
        for (std::size_t k = 0; k < sample.size(); ++k)
            decoded[k] = static_cast<unsigned char>(sample[k] ^ key);
        decoded[sample.size()] = 0;
        for (std::size_t k = 0; k < sample.size();) {
            switch (table.at(decoded[k], decoded[k + 1])) {
            case CharClass::Single:
                run.push_back(decoded[k]);
                k += 1;
                break;
            case CharClass::Double:
                run.insert(run.end(), decoded.begin() + static_cast<std::ptrdiff_t>(k),
                           decoded.begin() + static_cast<std::ptrdiff_t>(k + 2));
                k += 2;
                any_double = true;
                break;
            case CharClass::Excluded:
                k += 2;
                break;
            case CharClass::None:
                score_run();
                k += 1;
                break;
            }
        }
        score_run();
    }
    return kept.text_bytes();
}

// The byte whose repeat is the most common pair counted, -1 when that pair
// is no repeat.
int fill_of(const PairCounts& counts) {
    const auto most = std::max_element(counts.begin(), counts.end());
    if (*most == 0) return -1;
    const auto pair = static_cast<std::size_t>(most - counts.begin());
    return (pair >> 8) == (pair & 0xFF) ? static_cast<int>(pair & 0xFF) : -1;
}

// The bytes that lead a double-byte character under the settings.
std::array<bool, 256> lead_bytes(const detail::ScanTable& table) {
    std::array<bool, 256> leads{};
    for (unsigned lead = 0; lead < 256; ++lead)
        for (unsigned trail = 0; trail < 256 && !leads[lead]; ++trail)
            leads[lead] = table.at(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)) ==
                          CharClass::Double;
    return leads;
}

}  // namespace

int fill_byte(std::span<const std::span<const unsigned char>> samples) {
    const auto counts = std::make_unique<PairCounts>();
    count_pairs(samples, *counts);
    return fill_of(*counts);
}

std::vector<XorSample> plan_xor_samples(std::uint64_t file_size) {
    if (file_size <= xor_sample_budget) {
        if (file_size == 0) return {};
        return {XorSample{0, static_cast<std::size_t>(file_size)}};
    }
    constexpr std::size_t size = xor_sample_budget / xor_sample_count;
    static_assert(size > 0 && xor_sample_count >= 2);
    std::vector<XorSample> plan;
    const std::uint64_t span = file_size - size;
    // span * k cannot overflow for any file below 2^59 bytes.
    for (std::size_t k = 0; k < xor_sample_count; ++k)
        plan.push_back({span * k / (xor_sample_count - 1), size});
    return plan;
}

XorKeyChoice find_xor_key(std::span<const std::span<const unsigned char>> samples,
                          const ExtractionSettings& settings, int min_score) {
    const auto table = std::make_unique<detail::ScanTable>();
    detail::build_scan_table(settings, *table);
    const auto counts = std::make_unique<PairCounts>();
    count_pairs(samples, *counts);
    const std::vector<TextPair> pairs = text_pairs(*table);

    // A key that turns the samples' fill into a lead byte is never taken
    // (see fill_byte): in a library it would keep tens of thousands of
    // bytes of such katakana, more than the text of a sparse file keeps.
    const int fill = fill_of(*counts);
    const std::array<bool, 256> leads = lead_bytes(*table);
    const auto fills_with_characters = [&](unsigned key) {
        return key != 0 && fill >= 0 && leads[static_cast<unsigned>(fill) ^ key];
    };
    std::array<double, key_count> quick{};
    std::array<unsigned, key_count> order{};
    for (unsigned key = 0; key < key_count; ++key) {
        quick[key] = fills_with_characters(key) ? -std::numeric_limits<double>::infinity()
                                                : quick_measure(*counts, pairs, key);
        order[key] = key;
    }
    std::partial_sort(order.begin(), order.begin() + finalists, order.end(),
                      [&](unsigned a, unsigned b) { return quick[a] != quick[b] ? quick[a] > quick[b] : a < b; });

    // The full scoring reads the first quarter of each sample: as spread
    // over the file, and enough text for a clear decision, at a quarter of
    // the cost.
    std::vector<std::span<const unsigned char>> scored;
    for (const auto sample : samples) scored.push_back(sample.first(sample.size() / full_score_share));
    XorKeyChoice choice;
    choice.plain_text_bytes = kept_text_bytes(scored, *table, 0, min_score);
    std::uint64_t scored_bytes = 0;
    for (const auto sample : scored) scored_bytes += sample.size();
    const std::uint64_t gain = std::max(clear_gain, scored_bytes / clear_gain_share);
    // A key is taken only at `needed` or more, and then the first one with
    // the most text, when no other finalist keeps a clear_factor-th of it.
    const std::uint64_t needed =
        std::max(clear_factor * choice.plain_text_bytes, choice.plain_text_bytes + gain);
    std::uint64_t best = 0, runner_up = 0;
    unsigned best_key = 0;
    for (std::size_t k = 0; k < finalists; ++k) {
        const unsigned key = order[k];
        if (key == 0 || fills_with_characters(key)) continue;
        const std::uint64_t kept = kept_text_bytes(scored, *table, key, min_score);
        if (kept > best) {
            runner_up = best;
            best = kept;
            best_key = key;
        } else {
            runner_up = std::max(runner_up, kept);
        }
    }
    if (best < needed || best < clear_factor * runner_up) best_key = 0;
    choice.found = best_key != 0;
    if (choice.found) {
        choice.key = static_cast<unsigned char>(best_key);
        choice.text_bytes = best;
    } else {
        choice.text_bytes = choice.plain_text_bytes;
    }
    return choice;
}

}  // namespace kurvane
