// The printer of the runs found in input of the decoded encodings (EUC-JP,
// UTF-8, UTF-16): it takes each run the scan finds whole, as characters with
// their input offsets, and writes it in the output format with the line
// rules of the code page 932 pass: a run that keeps more than split_limit
// input bytes goes out in splits with no line break between them, and what
// is left after the last split is a run of its own under the length test.
// Offsets and JSON lengths are input byte offsets. Under the text filter
// each run is scored by its characters and trimmed to the part kept.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/classes/text_score.h"
#include "engine/extraction_settings.h"
#include "engine/output_format.h"
#include "engine/print/format_printers.h"
#include "engine/print/printer.h"
#include "text/cp932_encode.h"  // the substitute
#include "text/euc_jp_to_cp932.h"
#include "text/run_convert.h"
#include "text/text_scan.h"
#include "text/utf16_to_cp932.h"

namespace kurvane::detail {

// JSON Lines for text already decoded: the objects of JsonPrinter, with the
// text handed over as UTF-8 and the input span of each object given by the
// caller (the output's bytes say nothing of the input's).
class DecodedJsonPrinter : public BlockBuffer {
public:
    DecodedJsonPrinter(ByteSink& sink, std::size_t capacity, const OutputFormat& format);

    // Starts an object at input offset `at`, closing one still open.
    void open(std::uint64_t at);
    // Appends UTF-8 text to the open object's text; `end` is the input
    // offset just after the characters it comes from. `plain`: the caller
    // knows it is valid UTF-8 with no byte to escape, and it is copied.
    void append(std::string_view utf8, std::uint64_t end, bool plain = false);
    // Closes the open object, if any, with its score (-1: none).
    void close(int score);
    bool is_open() const { return open_; }
    void begin_stretch() { wrote_ = false; }
    StretchOutput stretch_output() const { return {0, wrote_, false}; }

private:
    std::string object_start_;  // {"file":"...","offset":
    std::uint64_t first_ = 0;
    std::uint64_t end_ = 0;
    bool open_ = false;
    bool wrote_ = false;
};

// The characters of a run kept as they lay in the input.
struct RunChar {
    char32_t value;
    std::uint64_t offset;
    std::uint32_t length;
    bool kept;  // else excluded: it holds the run together but is not written
};

class TextRunPrinter {
public:
    // `tables` outlives the printer; `format` null is the plain format.
    TextRunPrinter(const text::ScanTables& tables, const ExtractionSettings& settings, const OutputFormat* format,
                   ByteSink& sink, std::size_t capacity);

    bool allocated() const;
    // One run as the scan reports it (text/text_scan.h), in input order.
    // `other`, when given, is the run read one byte later (EUC-JP, whose
    // double-byte characters can be read from either byte of a text): the
    // text filter keeps the reading that scores better. A run marked
    // `ascii` has copy_extent(its size) bytes readable from its first.
    [[gnu::always_inline]] void run(const text::FoundRun& found, const text::FoundRun* other = nullptr) {
        // Most runs found in data are a few ASCII bytes: those go from the
        // input to the output as they are, with one room check.
        if (plain_text_ && found.bytes.size() <= split_limit) {
            if (found.ascii) {
                OutputCursor o = text_->cursor();
                text_->unit(o, found.bytes.data(), found.bytes.size(), found.offset, true, run_end_);
                text_->set_cursor(o);
                return;
            }
            // Most others hold no excluded character: converted in one go;
            // UTF-16 in code page 932, whose runs over data are a character
            // or two, many of them written as '?', right here.
            if (found.exempt < 0 && found.kept_bytes == found.bytes.size() && write_whole_run(found)) return;
        }
        run_any(found, other);
    }
    // Runs of kept ASCII a block at a time (text/scan_tables.h), with the
    // output cursor held across them: the few-byte runs of noise cost a
    // copy and a line end each.
    template <class One>
    [[gnu::always_inline]] void ascii_runs(const unsigned char* data, std::uint64_t base, const text::AsciiRuns& runs,
                                           One&& one) {
        static_assert(text::start_block_bytes <= split_limit, "a run within a block is never split");
        if (!plain_text_) {
            text::for_each_ascii_run(runs, one);
            return;
        }
        OutputCursor o = text_->cursor();
        const auto hand_back = handing_back(o, one);
        if (text_->bare()) {
            // The default format: each run is its bytes and a line break.
            const TextPrinter::BareEnd line_end = text_->bare_end(run_end_);
            bool stored = false;
            text::for_each_ascii_run(runs, [&](std::size_t at, std::size_t end) __attribute__((always_inline)) {
                if (end - at < runs.min_length) [[unlikely]] {
                    if (short_runs_dropped_) return;
                    if (stored) text_->end_bare(run_end_);
                    stored = false;
                    hand_back(at, end);
                    return;
                }
                TextPrinter::bare_unit(o, data + at, end - at, line_end);
                stored = true;
                if (o.full()) text_->flush(o);
            });
            if (stored) text_->end_bare(run_end_);
        } else {
            text::for_each_ascii_run(runs, [&](std::size_t at, std::size_t end) __attribute__((always_inline)) {
                if (end - at < runs.min_length) [[unlikely]] {
                    if (!short_runs_dropped_) hand_back(at, end);
                    return;
                }
                text_->unit(o, data + at, end - at, base + at, true, run_end_);
            });
        }
        text_->set_cursor(o);
    }
    // Runs of UTF-16 a block at a time (text/scan_tables.h), converted to
    // code page 932 with the output cursor held across them: over data
    // most are a character or two, and each costs the conversion and a
    // line end.
    template <class One>
    [[gnu::always_inline]] void utf16_runs(const unsigned char* data, std::uint64_t base, const text::Utf16Runs& runs,
                                           One&& one) {
        static_assert(text::utf16_runs_block <= split_limit, "a run within a block is never split");
        if (!plain_text_ || unit_forms_ == nullptr) {
            text::for_each_block_run(runs.block, runs.opens, runs.ends, one);
            return;
        }
        if (big_endian_) utf16_block<text::ByteOrder::big>(data, base, runs, one);
        else utf16_block<text::ByteOrder::little>(data, base, runs, one);
    }
    void begin_stretch();
    void end_stretch();
    bool flush();
    bool failed() const;
    std::uint64_t written() const;
    StretchOutput stretch_output() const;
    // Characters written as '?' because code page 932 lacks them.
    std::uint64_t substituted() const { return substituted_; }

private:
    // A unit written: characters chars_[from, to) (the kept ones), or
    // `replacement` in their place; [at, end) of the input.
    struct Unit {
        std::size_t from;
        std::size_t to;
        const std::u32string* replacement;
        std::uint64_t at;
        std::uint64_t end;
        End how;
        bool first;  // false: it goes on from a split
        int score;   // -1 without the text filter
    };

    // A run shorter than the minimum is written only as an exempt string it
    // holds, if any does, by the report it goes back to: the cursor held in
    // `o` is handed back around it.
    template <class One>
    auto handing_back(OutputCursor& o, One& one) {
        return [this, &o, &one](std::size_t at, std::size_t end) {
            text_->set_cursor(o);
            one(at, end);
            o = text_->cursor();
        };
    }

    void run_any(const text::FoundRun& found, const text::FoundRun* other);
    template <text::ByteOrder order, class One>
    [[gnu::always_inline]] void utf16_block(const unsigned char* data, std::uint64_t base, const text::Utf16Runs& runs,
                                            One&& one) {
        static_assert(text::utf16_runs_block <= TextPrinter::max_text, "a run converted stores at most its own size");
        OutputCursor o = text_->cursor();
        const auto hand_back = handing_back(o, one);
        if (text_->bare()) {
            // The default format: each run is its characters and a line break.
            const TextPrinter::BareEnd line_end = text_->bare_end(run_end_);
            bool stored = false;
            text::for_each_block_run(runs.block, runs.opens, runs.ends,
                                     [&](std::size_t at, std::size_t end) __attribute__((always_inline)) {
                if (end - at < runs.min_length && short_runs_dropped_) return;
                const std::size_t n = end - at < runs.min_length
                                          ? text::utf16_not_whole
                                          : text::utf16_to_cp932<order>(data + at, end - at, o.pos, unit_forms_,
                                                                        substituted_);
                if (n == text::utf16_not_whole) [[unlikely]] {
                    if (stored) text_->end_bare(run_end_);
                    stored = false;
                    hand_back(at, end);
                    return;
                }
                std::memcpy(o.pos + n, line_end.bytes, crlf_size);
                o.pos += n + line_end.size;
                stored = true;
                if (o.full()) text_->flush(o);
            });
            if (stored) text_->end_bare(run_end_);
        } else {
            text::for_each_block_run(runs.block, runs.opens, runs.ends,
                                     [&](std::size_t at, std::size_t end) __attribute__((always_inline)) {
                if (end - at < runs.min_length && short_runs_dropped_) return;
                const bool wrote = end - at >= runs.min_length &&
                                   text_->stored_unit(o, base + at, run_end_, [&](unsigned char* dst) __attribute__((always_inline)) {
                                       return text::utf16_to_cp932<order>(data + at, end - at, dst, unit_forms_,
                                                                          substituted_);
                                   });
                if (!wrote) [[unlikely]] hand_back(at, end);
            });
        }
        text_->set_cursor(o);
    }
    // A whole run of kept characters, short of a split, converted into the
    // text printer's buffer by the quickest way its encodings have.
    [[gnu::always_inline]] bool write_whole_run(const text::FoundRun& found) {
        if (unit_forms_ != nullptr) return write_utf16_whole(found);
        if (euc_pairs_ != nullptr && write_euc_jp_whole(found)) return true;
        return write_whole_in_place(found);
    }
    // write_whole_in_place() for UTF-16 in code page 932, inlined.
    [[gnu::always_inline]] bool write_utf16_whole(const text::FoundRun& found) {
        static_assert(text::utf16_not_whole == TextPrinter::no_text);
        static_assert(split_limit <= TextPrinter::max_text, "a run converted stores at most its own size");
        return store_whole(found, [&](unsigned char* dst) __attribute__((always_inline)) {
            const unsigned char* src = found.bytes.data();
            const std::size_t n = found.bytes.size();
            return big_endian_ ? text::utf16_to_cp932<text::ByteOrder::big>(src, n, dst, unit_forms_, substituted_)
                               : text::utf16_to_cp932<text::ByteOrder::little>(src, n, dst, unit_forms_, substituted_);
        });
    }
    // The same for EUC-JP in code page 932, for runs of ASCII and
    // double-byte characters only; false, with nothing written, for others.
    [[gnu::always_inline]] bool write_euc_jp_whole(const text::FoundRun& found) {
        static_assert(text::euc_jp_not_plain == TextPrinter::no_text);
        static_assert(split_limit <= TextPrinter::max_text, "a run converted keeps its size");
        return store_whole(found, [&](unsigned char* dst) __attribute__((always_inline)) {
            return text::euc_jp_plain_to_cp932(found.bytes.data(), found.bytes.size(), dst, euc_pairs_);
        });
    }
    // One whole run that store(dst) converts into the text printer's
    // buffer, through its cursor; false, with nothing written, where store
    // returns TextPrinter::no_text.
    template <class Store>
    [[gnu::always_inline]] bool store_whole(const text::FoundRun& found, Store&& store) {
        OutputCursor o = text_->cursor();
        const bool wrote = text_->stored_unit(o, found.offset, run_end_, store);
        text_->set_cursor(o);
        return wrote;
    }
    void decode(const text::FoundRun& found, bool kept_only);
    // Writes a run of kept characters only, short of a split, converted in
    // one go; false, with nothing written, when the converter does not take
    // its bytes.
    bool write_whole(const text::FoundRun& found);
    // write_whole() converting into the text printer's buffer itself.
    bool write_whole_in_place(const text::FoundRun& found);
    void write_splits(const text::FoundRun& found);
    void write_scored(const text::FoundRun& found, const text::FoundRun* other);
    // The score of the decoded characters [from, to), keep_* counting from
    // the first of chars_.
    ScoredRun score(std::size_t from, std::size_t to) const;
    ScoredRun score_chars(std::size_t from, std::size_t to, std::size_t key, std::size_t skip) const;
    void write_parts(std::size_t from, std::size_t to, ScoredRun s);
    // A part kept, written once no part of a later run can overlap it.
    void offer(std::size_t from, std::size_t to, int score);
    // Writes the parts held that end at or before input offset `upto`.
    void write_held(std::uint64_t upto);
    // The exempt string that occurs in the kept characters [from, to), or null.
    const std::u32string* exempt_in(std::size_t from, std::size_t to) const;
    void write(const Unit& unit);
    // Writes the unit whose kept characters each_char(add) hands to
    // add(character, input offset).
    template <class EachChar>
    void emit(const Unit& unit, EachChar&& each_char);
    void put_char(char32_t u);
    void hand_text(std::uint64_t at, bool& first);

    const text::ScanTables& tables_;
    const std::uint32_t min_length_;
    const bool min_zero_lines_;  // min_length 0 with line breaks: each split is followed by an empty line
    const End run_end_;
    const bool utf8_;
    const TextFilter filter_;
    std::optional<TextPrinter> text_;
    std::optional<DecodedJsonPrinter> json_;
    const bool plain_text_;  // text_ without the text filter
    // No exempt string can keep a run shorter than the minimum, so the
    // block writers drop such runs rather than hand them back.
    const bool short_runs_dropped_;
    const bool utf16_;       // the input is UTF-16
    // UTF-16 input written plain in code page 932: every unit's form, and
    // the byte order. Null otherwise.
    const std::uint32_t* const unit_forms_;
    const bool big_endian_;
    // EUC-JP input written plain in code page 932: the codes of its pairs.
    // Null otherwise.
    const std::uint16_t* const euc_pairs_;
    const std::uint16_t* const codes_;  // code page 932 codes of the BMP
    std::uint64_t substituted_ = 0;
    const text::Decoder decoder_;
    const text::RunConverter converter_;
    std::vector<RunChar> chars_;
    // Under the text filter, the kept parts not yet written, in input order
    // and disjoint: runs of the two UTF-16 alignments may overlap, and of
    // parts that overlap only the one that reads best as text is written.
    struct HeldPart {
        std::vector<RunChar> chars;
        int score;
        std::uint64_t begin() const { return chars.front().offset; }
        std::uint64_t end() const { return chars.back().offset + chars.back().length; }
    };
    std::vector<HeldPart> held_;
    // The unit's output bytes collected for one call of the printer below.
    unsigned char chunk_[run_capacity + 4] = {};
    std::size_t chunk_size_ = 0;
    // A whole run converted: its kept bytes, at most split_limit, grown to
    // the output encoding, with the fixed-size copy the text printer reads
    // and the bytes the JSON escape test reads past it.
    static constexpr std::size_t whole_max = text::RunConverter::max_out(split_limit);
    static constexpr std::size_t whole_room = std::max(copy_extent(whole_max), whole_max + escape_test_overread);
    static_assert(copy_extent(whole_max) <= TextPrinter::max_text);
    unsigned char whole_[whole_room] = {};
};

}  // namespace kurvane::detail
