#include "engine/drive/encoding_guess.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "engine/classes/xor_key.h"
#include "engine/output_format.h"
#include "engine/drive/pass.h"

namespace kurvane {
namespace {

// A key is taken over none when it keeps this many times the characters
// and this many more.
constexpr std::uint64_t clear_factor = 2;
constexpr std::uint64_t clear_gain = 16;

class SpanSource final : public detail::ByteSource {
public:
    explicit SpanSource(std::span<const unsigned char> data) : data_(data) {}
    std::size_t read(unsigned char* dst, std::size_t n) override {
        const std::size_t got = std::min(n, data_.size() - pos_);
        if (got > 0) std::memcpy(dst, data_.data() + pos_, got);
        pos_ += got;
        return got;
    }
    int error() const override { return 0; }

private:
    std::span<const unsigned char> data_;
    std::size_t pos_ = 0;
};

// Counts the characters of UTF-8 lines, line breaks left out.
class CharCounter final : public detail::ByteSink {
public:
    bool write(const unsigned char* data, std::size_t n) override {
        for (std::size_t k = 0; k < n; ++k) chars += (data[k] & 0xC0u) != 0x80u && data[k] != '\n';
        return true;
    }
    int error() const override { return 0; }
    std::uint64_t chars = 0;
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

std::uint64_t text_in(std::span<const std::span<const unsigned char>> samples, const ExtractionSettings& settings,
                      text::InputEncoding encoding, int min_score) {
    std::uint64_t chars = 0;
    for (const auto& s : samples) chars += text_characters(s, settings, encoding, min_score);
    return chars;
}

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

// The keys worth trying in `encoding`: for code page 932 the one its own
// search finds; else those that turn the most frequent stored bytes into
// zeros (data is full of them) or into the encoding's typical byte.
std::vector<unsigned char> likely_keys(std::span<const std::span<const unsigned char>> samples,
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
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

}  // namespace

std::uint64_t text_characters(std::span<const unsigned char> sample, const ExtractionSettings& settings,
                              text::InputEncoding encoding, int min_score) {
    OutputFormat format;
    format.encoding = TextEncoding::utf8;
    format.eol = LineEnd::lf;
    format.text.on = true;
    format.text.min_score = min_score;
    detail::PassOptions pass;
    pass.format = &format;
    pass.input_encoding = encoding;
    pass.piece_size = std::max<std::size_t>(sample.size(), 1);
    SpanSource source(sample);
    CharCounter counter;
    ExtractionSettings run = settings;
    run.auto_newline = 1;
    detail::run_pass(source, counter, run, pass);
    return counter.chars;
}

InputChoice choose_input(std::span<const std::span<const unsigned char>> all_samples,
                         const ExtractionSettings& settings, std::span<const text::InputEncoding> candidates,
                         bool find_key, int min_score) {
    const std::vector<std::span<const unsigned char>> samples = trimmed(all_samples, guess_sample_budget);
    // Keys are tried on a smaller part of the samples.
    const std::vector<std::span<const unsigned char>> key_samples = trimmed(all_samples, guess_sample_budget / 4);
    ExtractionSettings plain = settings;
    if (find_key) plain.xor_value = 0;
    InputChoice best;
    bool any = false;
    for (const text::InputEncoding encoding : candidates) {
        InputChoice choice{encoding, static_cast<unsigned char>(plain.xor_value),
                           text_in(samples, plain, encoding, min_score)};
        const std::uint64_t none = choice.text_chars;
        unsigned char best_key = 0;
        std::uint64_t best_key_chars = text_in(key_samples, plain, encoding, min_score);
        const std::uint64_t key_none = best_key_chars;
        for (const unsigned char key : find_key ? likely_keys(key_samples, plain, encoding, min_score)
                                                : std::vector<unsigned char>{}) {
            ExtractionSettings keyed = plain;
            keyed.xor_value = key;
            const std::uint64_t chars = text_in(key_samples, keyed, encoding, min_score);
            if (chars > best_key_chars) {
                best_key = key;
                best_key_chars = chars;
            }
        }
        if (best_key != 0 && best_key_chars >= clear_factor * key_none && best_key_chars >= key_none + clear_gain) {
            ExtractionSettings keyed = plain;
            keyed.xor_value = best_key;
            const std::uint64_t chars = text_in(samples, keyed, encoding, min_score);
            if (chars > none) choice = {encoding, best_key, chars};
        }
        if (!any || choice.text_chars > best.text_chars) best = choice;
        any = true;
    }
    return best;
}

}  // namespace kurvane
