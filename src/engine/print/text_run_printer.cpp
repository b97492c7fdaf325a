#include "engine/print/text_run_printer.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <vector>

#include "engine/classes/text_score.h"
#include "engine/print/scoring_printer.h"
#include "text/input_encoding.h"
#include "text/text_encoding.h"
#include "text/utf8_encode.h"

namespace kurvane::detail {
namespace {

// The most bytes one character takes in either output encoding.
constexpr std::size_t max_out_char = 4;

void append_number(std::string& out, std::uint64_t v) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, v);
    out.append(digits, result.ptr);
}

// The text printer passes the bytes it is handed through unchanged when its
// format says code page 932; this printer hands it bytes already encoded.
OutputFormat pass_through(const OutputFormat& format) {
    OutputFormat f = format;
    f.encoding = TextEncoding::cp932;
    return f;
}

}  // namespace

DecodedJsonPrinter::DecodedJsonPrinter(ByteSink& sink, std::size_t capacity, const OutputFormat& format)
    : BlockBuffer(sink, capacity, 0), object_start_("{") {
    if (!format.file_name.empty()) {
        object_start_.append("\"file\":\"");
        object_start_.append(json_escape(format.file_name));
        object_start_.append("\",");
    }
    object_start_.append("\"offset\":");
}

void DecodedJsonPrinter::open(std::uint64_t at) {
    if (open_) close(-1);
    open_ = true;
    wrote_ = true;
    first_ = at;
    end_ = at;
    std::string head = object_start_;
    append_number(head, at);
    head.append(",\"text\":\"");
    put(reinterpret_cast<const unsigned char*>(head.data()), head.size());
}

void DecodedJsonPrinter::append(std::string_view utf8, std::uint64_t end, bool plain) {
    if (plain) {
        put(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size());
    } else {
        const std::string escaped = json_escape(utf8);
        put(reinterpret_cast<const unsigned char*>(escaped.data()), escaped.size());
    }
    end_ = std::max(end_, end);
}

void DecodedJsonPrinter::close(int score) {
    if (!open_) return;
    open_ = false;
    std::string tail = "\",\"length\":";
    append_number(tail, end_ - first_);
    if (score >= 0) {
        tail.append(",\"score\":");
        append_number(tail, static_cast<std::uint64_t>(score));
    }
    tail.append("}\n");
    put(reinterpret_cast<const unsigned char*>(tail.data()), tail.size());
}

TextRunPrinter::TextRunPrinter(const text::ScanTables& tables, const ExtractionSettings& settings,
                               const OutputFormat* format, ByteSink& sink, std::size_t capacity)
    : tables_(tables), min_length_(settings.min_length),
      min_zero_lines_(settings.min_length == 0 && settings.auto_newline != 0),
      run_end_(settings.auto_newline != 0 ? End::line : End::run),
      utf8_(format != nullptr && (format->json || format->encoding == TextEncoding::utf8)),
      filter_(format != nullptr ? format->text : TextFilter{}),
      plain_text_(!filter_.on && (format == nullptr || !format->json)),
      short_runs_dropped_(tables.spec().exempt.empty()),
      utf16_(tables.spec().encoding == text::InputEncoding::utf16le ||
             tables.spec().encoding == text::InputEncoding::utf16be),
      unit_forms_(plain_text_ && !utf8_ && utf16_ ? text::cp932_unit_forms() : nullptr),
      big_endian_(tables.spec().encoding == text::InputEncoding::utf16be),
      euc_pairs_(plain_text_ && !utf8_ && tables.spec().encoding == text::InputEncoding::euc_jp
                     ? text::euc_jp_cp932_pairs()
                     : nullptr),
      codes_(text::cp932_bmp_codes()),
      decoder_(text::decoder_for(tables.spec().encoding)),
      converter_(tables.spec().encoding, utf8_) {
    const OutputFormat plain;
    const OutputFormat& f = format != nullptr ? *format : plain;
    if (f.json)
        json_.emplace(sink, capacity, f);
    else
        text_.emplace(sink, capacity, pass_through(f), settings.auto_newline != 0);
    chars_.reserve(max_split);
}

bool TextRunPrinter::allocated() const { return text_ ? text_->allocated() : json_->allocated(); }
bool TextRunPrinter::flush() { return text_ ? text_->flush() : json_->flush(); }
bool TextRunPrinter::failed() const { return text_ ? text_->failed() : json_->failed(); }
std::uint64_t TextRunPrinter::written() const { return text_ ? text_->written() : json_->written(); }
StretchOutput TextRunPrinter::stretch_output() const {
    return text_ ? text_->stretch_output() : json_->stretch_output();
}

void TextRunPrinter::begin_stretch() {
    if (text_)
        text_->begin_stretch();
    else
        json_->begin_stretch();
}

void TextRunPrinter::end_stretch() {
    write_held(std::numeric_limits<std::uint64_t>::max());
    if (json_) json_->close(-1);
}

void TextRunPrinter::run_any(const text::FoundRun& found, const text::FoundRun* other) {
    if (filter_.on) {
        write_scored(found, other);
        return;
    }
    if (found.exempt >= 0) {
        const std::u32string& e = tables_.spec().exempt[static_cast<std::size_t>(found.exempt)];
        write({0, 0, &e, found.offset, found.offset + found.bytes.size(), run_end_, true, -1});
        return;
    }
    write_splits(found);
}

void TextRunPrinter::decode(const text::FoundRun& found, bool kept_only) {
    chars_.clear();
    const text::Decoder decoder = decoder_;
    const unsigned char* p = found.bytes.data();
    const std::size_t n = found.bytes.size();
    for (std::size_t i = 0; i < n;) {
        const text::Decoded d = decoder(p + i, n - i);
        const bool kept = tables_.role(d.value) == text::CharRole::kept;
        if (kept || !kept_only) chars_.push_back({d.value, found.offset + i, d.length, kept});
        i += d.length;
    }
}

// The code page 932 pass's rule for long runs, in input bytes: once the
// kept characters pass split_limit bytes they go out as a split, and the
// characters after the last split are a run of their own.
void TextRunPrinter::write_splits(const text::FoundRun& found) {
    if (found.kept_bytes <= split_limit) {
        // Most runs hold no excluded character: converted in one go.
        // (run() has tried the text printer's own ways already.)
        if (found.kept_bytes == found.bytes.size() && write_whole(found)) return;
        // Most other runs: never split, and written as the scan passed them,
        // straight from their bytes.
        const Unit unit{0, 0, nullptr, found.offset, found.offset + found.bytes.size(), run_end_, true, -1};
        emit(unit, [&](auto&& add) {
            const unsigned char* p = found.bytes.data();
            const std::size_t n = found.bytes.size();
            for (std::size_t i = 0; i < n;) {
                const text::Decoded d = decoder_(p + i, n - i);
                if (tables_.role(d.value) == text::CharRole::kept) add(d.value, found.offset + i);
                i += d.length;
            }
        });
        return;
    }
    decode(found, false);
    const std::uint64_t run_stop = found.offset + found.bytes.size();
    std::size_t from = 0;
    std::uint64_t kept = 0;
    bool first = true;
    for (std::size_t k = 0; k < chars_.size(); ++k) {
        if (!chars_[k].kept) continue;
        kept += chars_[k].length;
        if (kept <= split_limit) continue;
        const std::uint64_t stop = chars_[k].offset + chars_[k].length;
        write({from, k + 1, nullptr, chars_[from].offset, stop, End::split, first, -1});
        if (min_zero_lines_) write({k + 1, k + 1, nullptr, stop, stop, End::line, false, -1});
        first = false;
        from = k + 1;
        kept = 0;
    }
    // After a split, nothing left is no run at all.
    if (!first && from == chars_.size()) return;
    const std::uint64_t at = from < chars_.size() ? chars_[from].offset : run_stop;
    if (first || kept >= min_length_) {
        // A run that was never split passed the scan's own length test.
        write({from, chars_.size(), nullptr, at, run_stop, run_end_, first, -1});
    } else if (const std::u32string* e = exempt_in(from, chars_.size()); e != nullptr) {
        write({from, chars_.size(), e, at, run_stop, run_end_, false, -1});
    }
}

bool TextRunPrinter::write_whole(const text::FoundRun& found) {
    static_assert(sizeof whole_ >= whole_max);
    const std::size_t n = converter_.convert(found.bytes.data(), found.bytes.size(), whole_, substituted_);
    if (n == text::RunConverter::failed) return false;
    if (json_) {
        // The converter wrote whole characters: valid UTF-8, escaped only
        // where it holds a byte to escape.
        static_assert(sizeof whole_ >= whole_max + escape_test_overread);
        json_->open(found.offset);
        json_->append(std::string_view(reinterpret_cast<const char*>(whole_), n), found.offset + found.bytes.size(),
                      !any_json_escape(whole_, n));
        json_->close(-1);
        return true;
    }
    // Most runs are a few characters: the prefix, the text and the line end
    // go out with one room check.
    OutputCursor o = text_->cursor();
    text_->unit(o, whole_, n, found.offset, true, run_end_);
    text_->set_cursor(o);
    return true;
}

bool TextRunPrinter::write_whole_in_place(const text::FoundRun& found) {
    static_assert(text::RunConverter::failed == TextPrinter::no_text);
    static_assert(whole_max <= TextPrinter::max_text, "the converted run fits where the printer stores text");
    OutputCursor o = text_->cursor();
    const bool wrote = text_->stored_unit(o, found.offset, run_end_, [&](unsigned char* dst) {
        return converter_.convert(found.bytes.data(), found.bytes.size(), dst, substituted_);
    });
    text_->set_cursor(o);
    return wrote;
}

const std::u32string* TextRunPrinter::exempt_in(std::size_t from, std::size_t to) const {
    std::u32string text;
    for (std::size_t k = from; k < to; ++k)
        if (chars_[k].kept) text += chars_[k].value;
    for (const std::u32string& e : tables_.spec().exempt)
        if (!e.empty() && text.find(e) != std::u32string::npos) return &e;
    return nullptr;
}

// Under the text filter the run's kept characters are scored as a whole,
// and the part that reads as text is written as one line if it keeps at
// least the minimum length in input bytes.
ScoredRun TextRunPrinter::score(std::size_t from, std::size_t to) const {
    // A label is scored without its tail (see label_tail_at).
    const LabelTail tail = label_tail_at(
        to - from, [&](std::size_t k) { return chars_[from + k].value; },
        [&](std::size_t k) { return k > 0 && chars_[from + k - 1].value >= 0x80; });
    // The names at the part's ends are read in chars_[from, to).
    const auto without_names = [&](ScoredRun s) {
        if (s.keep_end <= s.keep_begin) return s;
        s = without_symbol_edges(ScoredRun{s.score, s.keep_begin - from, s.keep_end - from}, to - from,
                                 [&](std::size_t k) { return chars_[from + k].value; });
        return ScoredRun{s.score, s.keep_begin + from, s.keep_end + from};
    };
    if (tail.size == 0) return without_names(score_chars(from, to, to, 0));
    // A part that ends with the label takes its tail.
    const std::size_t at = from + tail.at;
    const auto without = [&](std::size_t size) {
        ScoredRun s = score_chars(from, to, at, size);
        if (s.keep_end == at && s.keep_end > s.keep_begin) s.keep_end += size;
        return s;
    };
    return without_names(score_label(tail, without));
}

ScoredRun TextRunPrinter::score_chars(std::size_t from, std::size_t to, std::size_t key, std::size_t skip) const {
    // The characters scored: chars_[from, to) but the `skip` of a label's
    // tail at `key`. Units of the scorer's result are characters scored.
    const auto index = [&](std::size_t scored) { return scored < key - from ? from + scored : from + scored + skip; };
    TextScorer scorer(tables_.spec().encoding);
    for (std::size_t k = from; k < to; ++k)
        if (k < key || k >= key + skip) scorer.add(chars_[k].value);
    // The scan hands a decoded run over whole however long it is (UTF-16
    // read over ASCII strings gives runs of ideographs as long as the
    // strings), so its kept part is the best of as many as it offers.
    const ScoredRun best = scorer.result();
    double extra = 0.0;
    if (utf16_ && best.keep_end > best.keep_begin) {
        // A label's tail that the part would take is part of what it was
        // read from: ASCII read as UTF-16 gives no "(&N)".
        const std::size_t end = index(best.keep_end - 1) + 1;
        const std::size_t read_to = end == key ? key + skip : end;
        if (std::all_of(chars_.begin() + static_cast<std::ptrdiff_t>(index(best.keep_begin)),
                        chars_.begin() + static_cast<std::ptrdiff_t>(read_to),
                        [](const RunChar& c) { return is_printable_ascii_pair(c.value); }))
            extra = ascii_read_as_utf16_nats(best.keep_end - best.keep_begin);
    }
    ScoredRun s = scorer.result_among(to - from - skip - (best.keep_end - best.keep_begin) + 1, extra);
    if (s.keep_end > s.keep_begin) {
        s.keep_begin = index(s.keep_begin);
        s.keep_end = index(s.keep_end - 1) + 1;
    } else {
        s.keep_begin = s.keep_end = from;
    }
    return s;
}

void TextRunPrinter::write_scored(const text::FoundRun& found, const text::FoundRun* other) {
    // Runs come in input order of their starts, and a part lies within its
    // run: no part of this run or a later one starts before found.offset.
    write_held(found.offset);
    decode(found, true);
    ScoredRun s = score(0, chars_.size());
    if (other != nullptr) {
        decode(*other, true);
        const ScoredRun o = score(0, chars_.size());
        // The better score wins, then the longer text; the found reading on a tie.
        if (std::pair(o.score, o.keep_end - o.keep_begin) <= std::pair(s.score, s.keep_end - s.keep_begin))
            decode(found, true);
        else
            s = o;
    }
    write_parts(0, chars_.size(), s);
}

// Writes the parts of chars_[from, to) that read as text, in input order,
// given `s`, the score of the whole. A run may hold more than one line:
// strings of data that read as one run (UTF-16 read over ASCII gives a
// run of ideographs as long as the strings) can hold a line here and
// another further on, and the score keeps one part of what it reads. So
// once a part is kept, what lies before it and after it is read again on
// its own. A part that is not kept stops the search: the part the score
// chose was the best of its piece.
void TextRunPrinter::write_parts(std::size_t from, std::size_t to, ScoredRun s) {
    while (from < to && s.kept(filter_.min_score)) {
        if (s.keep_begin > from) write_parts(from, s.keep_begin, score(from, s.keep_begin));
        std::uint64_t kept = 0;
        for (std::size_t k = s.keep_begin; k < s.keep_end; ++k) kept += chars_[k].length;
        // Only a short part needs its characters of words counted.
        const std::size_t chars = s.keep_end - s.keep_begin;
        const auto words = chars >= short_part_chars
                               ? 0
                               : std::count_if(chars_.begin() + static_cast<std::ptrdiff_t>(s.keep_begin),
                                               chars_.begin() + static_cast<std::ptrdiff_t>(s.keep_end),
                                               [](const RunChar& c) { return c.kept && is_word_char(c.value); });
        if (kept >= min_length_ && holds_word(chars, static_cast<std::size_t>(words)))
            offer(s.keep_begin, s.keep_end, s.score);
        from = s.keep_end;
        if (from < to) s = score(from, to);
    }
}

void TextRunPrinter::offer(std::size_t from, std::size_t to, int score) {
    HeldPart part{std::vector<RunChar>(chars_.begin() + static_cast<std::ptrdiff_t>(from),
                                       chars_.begin() + static_cast<std::ptrdiff_t>(to)),
                  score};
    // The better score wins, then the longer part; the one held on a tie.
    const auto rank = [](const HeldPart& p) { return std::pair(p.score, p.end() - p.begin()); };
    auto first = std::find_if(held_.begin(), held_.end(), [&](const HeldPart& h) { return h.end() > part.begin(); });
    auto last = std::find_if(first, held_.end(), [&](const HeldPart& h) { return h.begin() >= part.end(); });
    if (std::any_of(first, last, [&](const HeldPart& h) { return rank(h) >= rank(part); })) return;
    held_.insert(held_.erase(first, last), std::move(part));
}

void TextRunPrinter::write_held(std::uint64_t upto) {
    std::size_t done = 0;
    for (; done < held_.size() && held_[done].end() <= upto; ++done) {
        HeldPart& part = held_[done];
        const Unit unit{0, part.chars.size(), nullptr, part.begin(), part.end(), run_end_, true, part.score};
        chars_.swap(part.chars);
        write(unit);
        chars_.swap(part.chars);
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(done));
}

void TextRunPrinter::put_char(char32_t u) {
    unsigned char* dst = chunk_ + chunk_size_;
    if (utf8_) {
        chunk_size_ += text::put_utf8(u, dst);
        return;
    }
    const std::uint16_t code = u < 0x10000 ? codes_[u] : text::cp932_no_code;
    if (code == text::cp932_no_code) {
        *dst = text::cp932_substitute;
        ++substituted_;
        chunk_size_ += 1;
    } else if (code < 0x100) {
        *dst = static_cast<unsigned char>(code);
        chunk_size_ += 1;
    } else {
        dst[0] = static_cast<unsigned char>(code >> 8);
        dst[1] = static_cast<unsigned char>(code & 0xFF);
        chunk_size_ += 2;
    }
}

void TextRunPrinter::hand_text(std::uint64_t at, bool& first) {
    text_->text(chunk_, chunk_size_, at, first);
    first = false;
    chunk_size_ = 0;
}

template <class EachChar>
void TextRunPrinter::emit(const Unit& unit, EachChar&& each_char) {
    static_assert(sizeof chunk_ >= run_capacity + max_out_char - 1);
    bool first = unit.first;
    if (json_) {
        if (first || !json_->is_open()) json_->open(unit.at);
        const auto append = [&] {
            json_->append(std::string_view(reinterpret_cast<const char*>(chunk_), chunk_size_), unit.end);
            chunk_size_ = 0;
        };
        each_char([&](char32_t u, std::uint64_t) {
            if (chunk_size_ + max_out_char > run_capacity) append();
            put_char(u);
        });
        append();
        if (unit.how != End::split) json_->close(unit.score);
        return;
    }
    if (filter_.on && filter_.show_score) {
        // The score, right-aligned in three columns and a space, opens the line.
        const auto v = static_cast<unsigned>(std::clamp(unit.score, 0, 100));
        chunk_size_ = score_prefix_size;
        std::fill(chunk_, chunk_ + score_prefix_size, ' ');
        chunk_[2] = static_cast<unsigned char>('0' + v % 10);
        if (v >= 10) chunk_[1] = static_cast<unsigned char>('0' + v / 10 % 10);
        if (v >= 100) chunk_[0] = '1';
        hand_text(unit.at, first);
    }
    // The first call carries the unit's offset, which a prefix shows.
    std::uint64_t at = unit.at;
    each_char([&](char32_t u, std::uint64_t offset) {
        if (chunk_size_ + max_out_char > run_capacity) {
            hand_text(at, first);
            at = offset;
        }
        put_char(u);
    });
    hand_text(at, first);
    text_->end(unit.how);
}

void TextRunPrinter::write(const Unit& unit) {
    emit(unit, [&](auto&& add) {
        if (unit.replacement != nullptr) {
            for (const char32_t u : *unit.replacement) add(u, unit.at);
            return;
        }
        for (std::size_t k = unit.from; k < unit.to; ++k)
            if (chars_[k].kept) add(chars_[k].value, chars_[k].offset);
    });
}

}  // namespace kurvane::detail
