#include "engine/drive/encoding_guess.h"

#include <algorithm>
#include <array>
#include <bit>
#include <atomic>
#include <cstring>
#include <memory>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "engine/classes/xor_key.h"
#include "engine/output_format.h"
#include "engine/drive/pass.h"
#include "engine/drive/pass_scan.h"
#include "engine/drive/threads.h"
#include "engine/scan/extract_pass.h"
#include "text/text_encoding.h"
#include "text/utf8_decode.h"

namespace kurvane {
namespace {

// A key is taken over none when it keeps this many times the characters
// and this many more: at least one short line, and one character in
// clear_gain_share bytes read. Data under the best of the wrong keys reads
// as text in up to about one character per 1,000 bytes (machine code read
// as UTF-16 kana by the key that makes its zeros 0x30), while text that
// fills 2% of a file's bytes brings one per 100 under its key.
constexpr std::uint64_t clear_factor = 4;
constexpr std::uint64_t clear_gain = 16;
constexpr std::uint64_t clear_gain_share = 512;
// UTF-16 text reads better in its own byte order than in the other (1.2
// to 2 times the characters), while data whose zero bytes a key turns into
// 0x30, the kana row's high byte, reads alike in both (within 3%). A key is
// taken for UTF-16 only where its order reads this many times (9/8) what
// the other does under it.
constexpr std::uint64_t own_order_numerator = 9;
constexpr std::uint64_t own_order_denominator = 8;

// Counts the characters of UTF-8 lines, line breaks left out, how often
// each character beyond ASCII stands among them, and the lines not seen
// before.
class CharCounter final : public detail::ByteSink {
public:
    CharCounter() : seen_(bmp_values) {}

    bool write(const unsigned char* data, std::size_t n) override {
        for (std::size_t k = 0; k < n; ++k) {
            const unsigned char b = data[k];
            if (b != '\n') line_hash_ = (line_hash_ ^ b) * hash_step;
            if ((b & 0xC0u) == 0x80u) {
                code_ = code_ << 6 | (b & 0x3Fu);
                continue;
            }
            end_character();
            if (b == '\n') {
                end_line();
                previous_ = no_character;
            } else {
                ++chars;
                // The bits of the lead byte a character's code starts with.
                code_ = b < 0x80 ? b : b & (0x7Fu >> std::countl_one(static_cast<unsigned char>(b)));
                open_ = true;
            }
        }
        return true;
    }
    int error() const override { return 0; }

    // Starts a new count of characters and of lines seen.
    void restart() {
        end_character();
        std::fill(seen_.begin(), seen_.end(), 0);
        beyond_ascii_ = 0;
        most_seen_ = 0;
        previous_ = no_character;
        lines_seen_.clear();
        line_hash_ = hash_start;
        line_chars_ = 0;
    }
    // Whether one character makes up more than a share of the characters
    // beyond ASCII. Such a reading is what a key makes of data whose one
    // frequent byte (zeros, fill) it turns into the lead of a kana row: a
    // kana after every other byte, い or ゥ a third to a half of them,
    // where in text the most frequent (の, ー, 、, …) makes up a few
    // hundredths.
    bool one_character_dominates() {
        end_character();
        return beyond_ascii_ >= dominance_floor && most_seen_ * dominance_share > beyond_ascii_;
    }

    std::uint64_t chars = 0;
    // The characters of lines, a short line only the first time since the
    // restart. Data read in the wrong encoding or key yields the same few
    // short lines over and over (a table's fill, one instruction's bytes:
    // いれ-, ゥゥァア), where a text's short lines (はい, いいえ) are few.
    std::uint64_t evidence_chars = 0;

private:
    static constexpr std::size_t bmp_values = 0x10000;
    static constexpr char32_t no_character = 0xFFFFFFFF;
    // Too few characters beyond ASCII to say what their mix is.
    static constexpr std::uint64_t dominance_floor = 64;
    // More than one character in this many.
    static constexpr std::uint64_t dominance_share = 5;
    // Lines of fewer characters are short.
    static constexpr std::uint64_t long_line = 8;
    // FNV-1a over a line's bytes: lines told apart by a 64-bit hash, where
    // a clash among the few thousand lines of the samples costs one line.
    static constexpr std::uint64_t hash_start = 0xCBF29CE484222325u;
    static constexpr std::uint64_t hash_step = 0x100000001B3u;

    void end_character() {
        if (!open_) return;
        open_ = false;
        // A line's evidence leaves out a character that repeats the one
        // before it or is next to it in code (an ascending table read as
        // kana).
        const bool step = code_ == previous_ + 1;
        const bool repeat = code_ == previous_;
        previous_ = code_;
        if (!step && !repeat) ++line_chars_;
        // The mix is that of the characters beyond ASCII: a text's spaces
        // and letters may be many, a wrong reading's kana are what
        // crowd it.
        if (code_ < 0x80) return;
        ++beyond_ascii_;
        // Characters past the BMP share the counts of the BMP's: they are
        // too rare in either text or noise to matter here.
        most_seen_ = std::max<std::uint64_t>(most_seen_, ++seen_[code_ % bmp_values]);
    }
    void end_line() {
        if (line_chars_ >= long_line || (line_chars_ != 0 && lines_seen_.insert(line_hash_).second))
            evidence_chars += line_chars_;
        line_hash_ = hash_start;
        line_chars_ = 0;
    }

    std::vector<std::uint32_t> seen_;
    std::uint64_t beyond_ascii_ = 0;
    std::uint64_t most_seen_ = 0;
    char32_t code_ = 0;
    char32_t previous_ = no_character;
    bool open_ = false;
    std::unordered_set<std::uint64_t> lines_seen_;
    std::uint64_t line_hash_ = hash_start;
    std::uint64_t line_chars_ = 0;
};

// The samples cut to the budget: the start of each, in equal shares.
std::vector<std::span<const unsigned char>> trimmed(std::span<const std::span<const unsigned char>> samples,
                                                    std::size_t budget) {
    std::vector<std::span<const unsigned char>> out;
    if (samples.empty()) return out;
    const std::size_t share = budget / samples.size();
    for (const auto& s : samples) out.push_back(s.first(std::min(s.size(), share)));
    return out;
}

bool same_spans(std::span<const std::span<const unsigned char>> a, std::span<const std::span<const unsigned char>> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return x.data() == y.data() && x.size() == y.size(); });
}

// What a key makes of bytes that are text as they are stored is no text:
// English under the key that turns its "e" into 0xA4 reads as EUC-JP
// hiragana, Cyrillic UTF-8 under another, Burmese UTF-8 (E1 80 xx) under
// 0x02 as UTF-8 kana, UTF-16 names under 0x30 as kana. So under a key the
// stored bytes' stretches of words read as zeros: at least
// stored_text_least bytes of ASCII text, UTF-8 characters and the zeros
// between strings, two thirds of them (zeros aside) letters or characters
// beyond ASCII, as in words and names. Japanese stored with a key seldom
// gives such a stretch: under most keys its bytes are as good as random,
// which seldom form UTF-8 for long, and where a key makes it 7-bit (EUC-JP
// under 0x80 is JIS code: $"$k$s) its bytes are letters less than half
// the time.
constexpr std::size_t stored_text_least = 16;
constexpr std::size_t word_letters_numerator = 2;
constexpr std::size_t word_letters_denominator = 3;

// The length of the text character that `p` starts, 0 for none, and
// whether it is a letter or beyond ASCII.
struct StoredChar {
    std::size_t length = 0;
    bool letter = false;
};
StoredChar stored_text_char(const unsigned char* p, std::size_t left) {
    const unsigned char b = *p;
    if (b < 0x80) {
        const bool letter = (b | 0x20) >= 'a' && (b | 0x20) <= 'z';
        return b == 0 || (b >= '\t' && b <= '\r') || (b >= 0x20 && b < 0x7F) ? StoredChar{1, letter} : StoredChar{};
    }
    const text::Decoded d = text::decode_utf8(p, left);
    return d.valid() ? StoredChar{d.length, true} : StoredChar{};
}

// Resources hold their strings in UTF-16, each after its length in a
// unit of its own ("Password" is 08 00 50 00 61 00 ...), so most are
// stretches of fewer than stored_text_least letters; under the key that
// makes their zeros 0x30 they read as UTF-16 hiragana, one for each
// letter. So a stretch of stored_utf16_least units or more of printable
// ASCII, each with a zero after it, two thirds of them letters, is stored
// text too: in either byte order, the units of one are those of the
// other a byte on. Japanese under a key seldom gives one. Under 0x30 a
// UTF-16 kana's second byte is 0, but its first is printable for 14 of
// the 83 hiragana and no katakana; under 0x82 a code page 932 hiragana's
// lead byte is 0, but its trail a letter for 37 of the 83.
constexpr std::size_t stored_utf16_least = 4;

// Zeros `decoded` where `stored` holds such a stretch of UTF-16.
void blank_stored_utf16(std::span<const unsigned char> stored, unsigned char* decoded) {
    const auto ascii_unit = [&](std::size_t k) {
        return k + 1 < stored.size() && stored[k] >= 0x20 && stored[k] < 0x7F && stored[k + 1] == 0;
    };
    for (std::size_t k = 0; k < stored.size();) {
        if (!ascii_unit(k)) {
            ++k;
            continue;
        }
        const std::size_t begin = k;
        std::size_t units = 0, letters = 0;
        for (; ascii_unit(k); k += 2) {
            ++units;
            letters += (stored[k] | 0x20) >= 'a' && (stored[k] | 0x20) <= 'z' ? 1 : 0;
        }
        if (units >= stored_utf16_least && word_letters_denominator * letters >= word_letters_numerator * units)
            std::fill(decoded + begin, decoded + k, 0);
    }
}

// Zeros `decoded` (the samples' bytes under a key) where `stored` holds a
// stretch of words, as above.
void blank_stored_text(std::span<const unsigned char> stored, unsigned char* decoded) {
    blank_stored_utf16(stored, decoded);
    std::size_t k = 0;
    while (k < stored.size()) {
        const std::size_t begin = k;
        std::size_t text_bytes = 0, letter_bytes = 0;
        for (StoredChar c; k < stored.size() && (c = stored_text_char(stored.data() + k, stored.size() - k)).length != 0;
             k += c.length) {
            if (stored[k] != 0) text_bytes += c.length;
            if (c.letter) letter_bytes += c.length;
        }
        if (text_bytes >= stored_text_least &&
            word_letters_denominator * letter_bytes >= word_letters_numerator * text_bytes)
            std::fill(decoded + begin, decoded + k, 0);
        if (k == begin) ++k;
    }
}

// One encoding's reading of samples under any XOR key. The scan and its
// scanner are made once, for every sample and key: each sample is copied
// into a piece of its own, the key applied on the way, and scanned as a
// stretch that ends with it, so its runs are those of a pass over the
// sample alone.
class SampleReader {
public:
    SampleReader(const ExtractionSettings& settings, text::InputEncoding encoding, int min_score)
        : settings_(settings) {
        settings_.xor_value = 0;
        settings_.auto_newline = 1;
        format_.encoding = TextEncoding::utf8;
        format_.eol = LineEnd::lf;
        format_.text.on = true;
        format_.text.min_score = min_score;
        scan_ = detail::make_scan(settings_, &format_, encoding);
        if (scan_) scanner_ = scan_->scanner(counter_, detail::default_output_buffer_size);
    }
    SampleReader(const SampleReader&) = delete;
    SampleReader& operator=(const SampleReader&) = delete;

    // The characters --text keeps from `samples` stored with `key`; 0 when
    // the memory for the scan was not to be had.
    std::uint64_t text_in(std::span<const std::span<const unsigned char>> samples, unsigned char key) {
        if (!scanner_) return 0;
        counter_.restart();
        const std::uint64_t before = counter_.chars;
        for (const auto& s : samples) {
            if (s.empty()) continue;
            // The scan's contract: headroom before the piece, and padding
            // after it that the scan fills itself.
            piece_.resize(detail::piece_headroom + s.size() + detail::piece_padding);
            unsigned char* const b = piece_.data() + detail::piece_headroom;
            for (std::size_t k = 0; k < s.size(); ++k) b[k] = static_cast<unsigned char>(s[k] ^ key);
            if (key != 0) blank_stored_text(s, b);
            scanner_->scan(b, 0, s.size(), true, s.size() + detail::piece_padding, 0);
        }
        scanner_->flush();
        return counter_.chars - before;
    }

    // The same as evidence of text in this encoding and key (a short line
    // counted once, CharCounter::evidence_chars), none when one character
    // dominates what was kept.
    std::uint64_t evidence_in(std::span<const std::span<const unsigned char>> samples, unsigned char key) {
        const std::uint64_t before = counter_.evidence_chars;
        text_in(samples, key);
        return counter_.one_character_dominates() ? 0 : counter_.evidence_chars - before;
    }

private:
    ExtractionSettings settings_;
    OutputFormat format_;
    CharCounter counter_;
    std::unique_ptr<detail::PassScan> scan_;
    std::unique_ptr<detail::PieceScanner> scanner_;
    std::vector<unsigned char> piece_;
};

// The byte Japanese text holds most in an encoding: a hiragana's lead in
// EUC-JP and UTF-8, its high byte in UTF-16.
unsigned char typical_byte(text::InputEncoding encoding) {
    switch (encoding) {
    case text::InputEncoding::euc_jp: return 0xA4;
    case text::InputEncoding::utf8: return 0xE3;
    case text::InputEncoding::utf16le:
    case text::InputEncoding::utf16be: return 0x30;
    case text::InputEncoding::cp932: break;
    }
    return 0x82;
}

// Whether `b` starts a character beyond ASCII in `encoding` (UTF-16: none,
// its units take two bytes either way).
bool starts_wide_character(text::InputEncoding encoding, unsigned char b) {
    switch (encoding) {
    case text::InputEncoding::euc_jp: return (b >= 0xA1 && b <= 0xFE) || b == 0x8E || b == 0x8F;
    case text::InputEncoding::utf8: return b >= 0xC2 && b <= 0xF4;
    case text::InputEncoding::cp932: return text::is_cp932_lead(b);
    case text::InputEncoding::utf16le:
    case text::InputEncoding::utf16be: break;
    }
    return false;
}

// The keys worth trying in `encoding`: for code page 932 the one its own
// search finds; else those that turn the most frequent stored bytes into
// zeros (data is full of them) or into the encoding's typical byte, but
// none that turns the data's fill into the first byte of a character (see
// fill_byte).
std::vector<unsigned char> likely_keys(std::span<const std::span<const unsigned char>> samples, int fill,
                                       const ExtractionSettings& settings, text::InputEncoding encoding,
                                       int min_score) {
    std::vector<unsigned char> keys;
    if (encoding == text::InputEncoding::cp932) {
        const XorKeyChoice cp932 = find_xor_key(samples, settings, min_score);
        if (cp932.found) keys.push_back(cp932.key);
        return keys;
    }
    std::array<std::uint64_t, 256> count{};
    for (const auto& s : samples)
        for (const unsigned char b : s) ++count[b];
    for (std::size_t k = 0; k < guess_frequent_keys; ++k) {
        const auto top = std::max_element(count.begin(), count.end());
        if (*top == 0) break;
        const auto b = static_cast<unsigned char>(top - count.begin());
        keys.push_back(b);
        keys.push_back(static_cast<unsigned char>(b ^ typical_byte(encoding)));
        *top = 0;
    }
    std::erase(keys, 0);
    if (fill >= 0)
        std::erase_if(keys, [&](unsigned char key) {
            return starts_wide_character(encoding, static_cast<unsigned char>(fill ^ key));
        });
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

}  // namespace

std::uint64_t text_characters(std::span<const std::span<const unsigned char>> samples,
                              const ExtractionSettings& settings, text::InputEncoding encoding, int min_score) {
    SampleReader reader(settings, encoding, min_score);
    return reader.text_in(samples, static_cast<unsigned char>(settings.xor_value & 0xFF));
}

namespace {

// Whether `chars`, what UTF-16 in `encoding` kept under `key`, is clearly
// more than the other byte order keeps under it, where that is itself as
// much as a key must bring (`gain`); true for other encodings.
bool reads_in_own_order(const std::vector<std::span<const unsigned char>>& samples, const ExtractionSettings& plain,
                        text::InputEncoding encoding, int min_score, unsigned char key, std::uint64_t chars,
                        std::uint64_t gain) {
    using text::InputEncoding;
    if (encoding != InputEncoding::utf16le && encoding != InputEncoding::utf16be) return true;
    const InputEncoding other = encoding == InputEncoding::utf16le ? InputEncoding::utf16be : InputEncoding::utf16le;
    SampleReader reader(plain, other, min_score);
    const std::uint64_t other_chars = reader.evidence_in(samples, key);
    return other_chars < gain || chars * own_order_denominator >= other_chars * own_order_numerator;
}

// The best reading of `samples` in `encoding`: with `find_key` under the
// likely keys too (`fill`: the key samples' fill_byte), a key taken only
// when it keeps clearly more text.
InputChoice read_candidate(const std::vector<std::span<const unsigned char>>& samples,
                           const std::vector<std::span<const unsigned char>>& key_samples, int fill,
                           const ExtractionSettings& plain, text::InputEncoding encoding, bool find_key,
                           int min_score) {
    // A small file's samples are the key samples: what was read once is
    // not read again.
    const bool keys_on_samples = same_spans(samples, key_samples);
    const auto own_key = static_cast<unsigned char>(plain.xor_value & 0xFF);
    SampleReader reader(plain, encoding, min_score);
    InputChoice choice{encoding, own_key, reader.evidence_in(samples, own_key)};
    if (!find_key) return choice;
    const std::uint64_t none = choice.text_chars;
    const std::vector<unsigned char> keys = likely_keys(key_samples, fill, plain, encoding, min_score);
    const std::uint64_t key_none = keys_on_samples ? none : reader.evidence_in(key_samples, 0);
    unsigned char best_key = 0;
    std::uint64_t best_key_chars = key_none;
    for (const unsigned char key : keys) {
        const std::uint64_t chars = reader.evidence_in(key_samples, key);
        if (chars > best_key_chars) {
            best_key = key;
            best_key_chars = chars;
        }
    }
    std::uint64_t key_bytes = 0;
    for (const auto& s : key_samples) key_bytes += s.size();
    const std::uint64_t gain = std::max(clear_gain, key_bytes / clear_gain_share);
    if (best_key != 0 && best_key_chars >= clear_factor * key_none && best_key_chars >= key_none + gain) {
        const std::uint64_t chars = keys_on_samples ? best_key_chars : reader.evidence_in(samples, best_key);
        if (chars > none && reads_in_own_order(samples, plain, encoding, min_score, best_key, chars, gain))
            choice = {encoding, best_key, chars};
    }
    return choice;
}

}  // namespace

InputChoice choose_input(std::span<const std::span<const unsigned char>> all_samples,
                         const ExtractionSettings& settings, std::span<const text::InputEncoding> candidates,
                         bool find_key, int min_score, unsigned threads) {
    const std::vector<std::span<const unsigned char>> samples = trimmed(all_samples, guess_sample_budget);
    // Keys are tried on a smaller part of the samples.
    const std::vector<std::span<const unsigned char>> key_samples = trimmed(all_samples, guess_sample_budget / 4);
    ExtractionSettings plain = settings;
    if (find_key) plain.xor_value = 0;
    const int fill = find_key ? fill_byte(key_samples) : -1;
    // Each candidate is read on its own, on whichever thread takes it.
    std::vector<InputChoice> choices(candidates.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < candidates.size();)
            choices[i] = read_candidate(samples, key_samples, fill, plain, candidates[i], find_key, min_score);
    };
    std::vector<detail::Thread> helpers;
#if KURVANE_ENGINE_THREADS
    const std::size_t helper_count =
        std::min<std::size_t>(detail::useful_threads(threads), std::max<std::size_t>(candidates.size(), 1)) - 1;
    try {
        for (std::size_t k = 0; k < helper_count; ++k) helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // No thread to be had: this one reads what is left.
    }
#else
    static_cast<void>(threads);
#endif
    work();
    for (detail::Thread& helper : helpers) helper.join();
    InputChoice best;
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (i == 0 || choices[i].text_chars > best.text_chars) best = choices[i];
    return best;
}

}  // namespace kurvane
