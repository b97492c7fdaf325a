#include "engine/scan/text_piece_scanner.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "engine/print/text_run_printer.h"
#include "text/text_encoding.h"

namespace kurvane::detail {
namespace {

// The settings record's class flags, in the order of the classes.
constexpr std::int32_t ExtractionSettings::*class_flags[] = {
    &ExtractionSettings::half_digits,   &ExtractionSettings::half_upper,   &ExtractionSettings::half_lower,
    &ExtractionSettings::half_katakana, &ExtractionSettings::half_symbols, &ExtractionSettings::full_hiragana,
    &ExtractionSettings::full_katakana, &ExtractionSettings::full_kanji,   &ExtractionSettings::full_digits,
    &ExtractionSettings::full_upper,    &ExtractionSettings::full_lower,   &ExtractionSettings::full_cyrillic,
    &ExtractionSettings::full_greek,    &ExtractionSettings::full_symbols,
};
static_assert(std::size(class_flags) + 1 == text::text_class_count, "one flag per class after `none`");

text::ClassSet classes_of(const ExtractionSettings& settings) {
    text::ClassSet set;
    for (std::size_t k = 0; k < std::size(class_flags); ++k)
        if (settings.*class_flags[k] != 0) set.add(static_cast<text::TextClass>(k + 1));
    return set;
}

std::vector<char32_t> excluded_of(const ExtractionSettings& settings) {
    std::vector<char32_t> chars;
    for (const auto& pair : settings.excluded_pairs) {
        if (pair[0] == 0) continue;
        if (const char32_t u = text::cp932_double_char(pair[0], pair[1]); u != 0) chars.push_back(u);
    }
    return chars;
}

// An exempt string as characters; empty when its bytes are not all
// characters of code page 932.
std::u32string exempt_chars(const unsigned char (&entry)[exempt_string_width]) {
    const std::size_t n = static_cast<std::size_t>(
        std::find(entry, entry + exempt_string_max, 0) - entry);
    const std::string utf8 = text::cp932_to_utf8(std::string_view(reinterpret_cast<const char*>(entry), n));
    std::u32string chars;
    for (std::size_t k = 0; k < utf8.size();) {
        const text::Utf8Char c = text::next_utf8(utf8, k);
        if (c.value == text::replacement_char) return {};
        chars += c.value;
        k += c.length;
    }
    return chars;
}

// The printer copies a run marked ascii in fixed-size blocks from the
// input, past the run's end into the padding behind every range scanned.
static_assert(copy_extent(split_limit) - split_limit <= piece_padding);

// A split is what the whole run writes when it keeps more than split_limit
// bytes, whatever the minimum: the scan passes such runs to the printer,
// which applies the minimum to what follows the last split.
constexpr std::uint32_t longest_unsplit = static_cast<std::uint32_t>(split_limit) + 1;

class TextPieceScanner final : public PieceScanner {
public:
    TextPieceScanner(text::ScanSpec spec, const ExtractionSettings& settings, const OutputFormat* format,
                     std::atomic<std::uint64_t>* substituted, ByteSink& sink, std::size_t capacity)
        : rule_(text::cut_rule(spec.encoding, spec.classes, spec.excluded)), tables_(std::move(spec)),
          out_(tables_, settings, format, sink, capacity), key_(static_cast<unsigned char>(settings.xor_value)),
          substituted_(substituted),
          other_readings_(format != nullptr && format->text.on && tables_.spec().encoding == text::InputEncoding::euc_jp) {}

    bool allocated() const { return out_.allocated(); }

    std::size_t scan(unsigned char* b, std::size_t carry, std::size_t got, bool last, std::size_t,
                     std::uint64_t base) override {
        if (key_ != 0)
            for (std::size_t k = carry; k < carry + got; ++k) b[k] = static_cast<unsigned char>(b[k] ^ key_);
        if (fresh_) {
            out_.begin_stretch();
            fresh_ = false;
        }
        const std::size_t size = carry + got;
        const std::size_t first = first_cut(b, size);
        if (!last && first == 0) {
            hold(b, size, base);
            if (held_.size() >= max_uncut) scan_held();
            return 0;
        }
        // The bytes held go on up to the first cut; from there the piece is
        // scanned where it lies, up to its last cut or its end.
        const std::size_t upto = first == 0 ? size : first;
        if (held_.empty()) {
            scan_range(b, upto, base);
        } else {
            hold(b, upto, base);
            scan_held();
        }
        const std::size_t stop = last ? size : std::max(last_cut(b, size), upto);
        scan_range(b + upto, stop - upto, base + upto);
        if (last) {
            out_.end_stretch();
            fresh_ = true;
        } else {
            hold(b + stop, size - stop, base + stop);
        }
        return 0;
    }
    bool flush() override {
        if (substituted_ != nullptr) {
            substituted_->fetch_add(out_.substituted() - counted_, std::memory_order_relaxed);
            counted_ = out_.substituted();
        }
        return out_.flush();
    }
    bool failed() const override { return out_.failed(); }
    std::uint64_t written() const override { return out_.written(); }
    StretchOutput stretch_output() const override { return out_.stretch_output(); }
    std::uint64_t substituted() const override { return out_.substituted(); }

private:
    std::size_t first_cut(const unsigned char* b, std::size_t size) const {
        for (std::size_t k = 1; k < size; ++k)
            if (text::is_cut(rule_, b, size, k)) return k;
        return 0;
    }
    std::size_t last_cut(const unsigned char* b, std::size_t size) const {
        for (std::size_t k = size; k-- > 1;)
            if (text::is_cut(rule_, b, size, k)) return k;
        return 0;
    }
    void hold(const unsigned char* b, std::size_t n, std::uint64_t base) {
        if (held_.empty()) held_base_ = base;
        held_.insert(held_.end(), b, b + n);
    }
    void scan_held() {
        // Held bytes are scanned with the padding a piece has after them.
        const std::size_t n = held_.size();
        held_.resize(n + piece_padding);
        scan_range(held_.data(), n, held_base_);
        held_.clear();
    }
    // The scan's sink, inlined into its loop: most runs are a few bytes, and
    // a call each cost a fifth of the pass.
    struct Sink {
        TextPieceScanner& scanner;
        const unsigned char* p;
        std::size_t n;
        std::uint64_t base;
        [[gnu::always_inline]] void operator()(const text::FoundRun& run) {
            if (!scanner.other_readings_) {
                scanner.out_.run(run);
                return;
            }
            text::FoundRun other;
            scanner.out_.run(run, scanner.other_reading(p, n, base, run, other) ? &other : nullptr);
        }
        // A run of ASCII has no other reading: none of its bytes is a lead.
        template <class One>
        [[gnu::always_inline]] void ascii_runs(const unsigned char* data, std::uint64_t at, const text::AsciiRuns& runs,
                                               One&& one) {
            scanner.out_.ascii_runs(data, at, runs, one);
        }
        template <class One>
        [[gnu::always_inline]] void utf16_runs(const unsigned char* data, std::uint64_t at, const text::Utf16Runs& runs,
                                               One&& one) {
            scanner.out_.utf16_runs(data, at, runs, one);
        }
    };
    void scan_range(const unsigned char* p, std::size_t n, std::uint64_t base) {
        text::scan_text(tables_, {p, n}, base, Sink{*this, p, n, base});
    }
    // In EUC-JP a byte of data before a text may take its first byte as a
    // trail, and every character after is read across two. The other
    // reading of a run starts after the lead of one of its double-byte
    // characters; the longest one is offered (the scan of [p, p + n) holds
    // it whole: a cut ends every reading). For the text filter only, which
    // keeps the reading that scores better.
    std::size_t chain_end(const unsigned char* p, std::size_t n, std::size_t i, std::uint64_t& kept) const {
        kept = 0;
        while (i < n) {
            const text::Decoded d = text::decode_euc_jp(p + i, n - i);
            const text::CharRole role = d.valid() ? tables_.role(d.value) : text::CharRole::none;
            if (role == text::CharRole::none) break;
            kept += role == text::CharRole::kept ? d.length : 0;
            i += d.length;
        }
        return i;
    }
    bool other_reading(const unsigned char* p, std::size_t n, std::uint64_t base, const text::FoundRun& run,
                       text::FoundRun& other) const {
        if (!other_readings_) return false;
        const std::size_t start = static_cast<std::size_t>(run.offset - base);
        const std::size_t end = start + run.bytes.size();
        std::size_t best_start = 0;
        std::size_t best_end = 0;
        std::uint64_t best_kept = 0;
        // A reading from a later point of the one before is part of it.
        std::size_t reached = start;
        for (std::size_t i = start; i < end;) {
            const text::Decoded d = text::decode_euc_jp(p + i, n - i);
            if (d.length == 2 && i + 1 >= reached) {
                std::uint64_t kept = 0;
                const std::size_t e = chain_end(p, n, i + 1, kept);
                if (kept > 0 && e - (i + 1) > best_end - best_start) {
                    best_start = i + 1;
                    best_end = e;
                    best_kept = kept;
                }
                reached = e;
            }
            i += std::max<std::uint32_t>(d.length, 1);
        }
        if (best_kept == 0) return false;
        other = {base + best_start, {p + best_start, best_end - best_start}, best_kept, -1};
        return true;
    }

    const text::CutRule rule_;
    const text::ScanTables tables_;
    TextRunPrinter out_;
    const unsigned char key_;
    bool fresh_ = true;
    // Input after the last cut scanned, from offset held_base_ on.
    std::vector<unsigned char> held_;
    std::uint64_t held_base_ = 0;
    std::atomic<std::uint64_t>* const substituted_;
    std::uint64_t counted_ = 0;  // of out_.substituted(), added to *substituted_
    const bool other_readings_;
};

}  // namespace

text::ScanSpec scan_spec_for(const ExtractionSettings& settings, text::InputEncoding encoding, bool text_filter) {
    text::ScanSpec spec;
    spec.encoding = encoding;
    spec.classes = classes_of(settings);
    spec.min_length = text_filter ? 1 : std::min(settings.min_length, longest_unsplit);
    spec.excluded = excluded_of(settings);
    spec.keep_overlaps = text_filter;
    if (!text_filter) {
        // The settings file holds a slot for every exempt string, most of
        // them empty; an empty one matches nothing, and leaving it out lets
        // a scan with none at all drop short runs without reading them.
        for (const auto& entry : settings.exempt_strings) {
            std::u32string chars = exempt_chars(entry);
            if (!chars.empty()) spec.exempt.push_back(std::move(chars));
        }
    }
    return spec;
}

text::CutRule cut_rule_for(const ExtractionSettings& settings, text::InputEncoding encoding) {
    const std::vector<char32_t> excluded = excluded_of(settings);
    return text::cut_rule(encoding, classes_of(settings), excluded);
}

std::unique_ptr<PieceScanner> make_text_piece_scanner(text::InputEncoding encoding,
                                                      const ExtractionSettings& settings,
                                                      const OutputFormat* format,
                                                      std::atomic<std::uint64_t>* substituted, ByteSink& sink,
                                                      std::size_t output_buffer_size) {
    const bool filter = format != nullptr && format->text.on;
    std::unique_ptr<TextPieceScanner> scanner;
    try {
        scanner.reset(new TextPieceScanner(scan_spec_for(settings, encoding, filter), settings, format,
                                           substituted, sink, output_buffer_size));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (!scanner->allocated()) return nullptr;
    return scanner;
}

}  // namespace kurvane::detail
