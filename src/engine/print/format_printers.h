// The printers of the formats other than the plain one: text with a line
// prefix, another encoding or line break, and JSON Lines. Each takes the
// scan's units as PlainPrinter does (see print/printer.h).
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "engine/output_format.h"
#include "engine/print/digits.h"
#include "engine/print/printer.h"
#include "engine/print/utf8_kernel.h"
#include "text/text_encoding.h"

namespace kurvane::detail {

// Code page 932 to UTF-8 as cp932_to_utf8 converts it, by the fastest
// kernel of this processor; reads and stores as a Utf8Kernel does.
std::size_t print_utf8(const unsigned char* src, std::size_t n, unsigned char* dst);
// What the printers hand the kernels: copy_extent(n) bytes are readable.
static_assert(copy_extent(0) >= utf8_block);

// The UTF-8 of a run of one double-byte character, which binary data is
// full of, looked up without a call and stored at dst; or 0 (with garbage
// stored) when the run is none. Its bytes are all from 0x80.
[[gnu::always_inline]] inline std::size_t print_utf8_pair(const Utf8Tables& tables, const unsigned char* src,
                                                           std::size_t n, unsigned char* dst) {
    if (n != 2) return 0;
    const text::Utf8Entry e = tables.pair[src[0] << 8 | src[1]];
    std::memcpy(dst, &e, sizeof e);
    return e >> text::utf8_length_shift;
}
// print_utf8 by `kernel`, for the printers, a run of one double-byte
// character by the lookup above.
[[gnu::always_inline]] inline std::size_t print_utf8_run(const Utf8Kernel& kernel, const Utf8Tables& tables, const unsigned char* src,
                                  std::size_t n, unsigned char* dst) {
    if (const std::size_t size = print_utf8_pair(tables, src, n, dst); size != 0) return size;
    return kernel.print(tables, src, n, dst);
}

// Stores a literal of N bytes (its zero terminator dropped) at dst.
template <std::size_t N>
std::size_t put_literal(unsigned char* dst, const char (&text)[N]) {
    std::memcpy(dst, text, N - 1);
    return N - 1;
}

// Code page 932 or UTF-8 text, each line ended by the format's line break
// and started by its prefix: the file name and ": ", then the input offset
// of the line's first byte right-aligned in 7 columns and a space. With
// line breaks off there are no lines, and every unit written starts with a
// prefix of its own.
class TextPrinter : public BlockBuffer {
public:
    static constexpr bool raw = false;
    // Every call starts storing before the capacity (a full buffer is
    // flushed first): a short name prefix, an offset prefix, a converted
    // unit and a line break fit in the slack behind it, so a whole unit
    // takes one room check. A longer name prefix is put() in before them.
    static constexpr std::size_t max_short_name = 64;  // stored whole up to this
    static constexpr std::size_t max_text = text::utf8_per_cp932_byte * run_capacity + utf8_store_overrun;
    static constexpr std::size_t slack = max_short_name + max_offset_prefix + max_text + crlf_size;
    // A unit's text stores at most max_text bytes, its line break ends
    // within them, and the fixed copy of a short name is followed by the
    // offset stored from the name's end.
    static_assert(copy_extent(max_split) <= max_text);
    static_assert(text::utf8_per_cp932_byte * max_split + crlf_size <= max_text);

    TextPrinter(ByteSink& sink, std::size_t capacity, const OutputFormat& format, bool lines);

    void text(const unsigned char* src, std::size_t n, std::uint64_t at, bool) {
        if (prefix_due_) {
            if (long_name_)
                write_long_prefix(at);
            else
                fill_ += store_prefix(buffer_.get() + fill_, at);
        }
        wrote_ = true;
        fill_ += store_text(buffer_.get() + fill_, src, n);
        if (fill_ >= capacity_) flush();
    }
    void end(End e) {
        if (e == End::line) {
            fill_ += store_line_end(buffer_.get() + fill_);
            if (fill_ >= capacity_) flush();
        }
        prefix_due_ = e == End::line || !lines_;
    }
    // text() and end() in one go, with one room check: the block scan's
    // call for most runs.
    [[gnu::always_inline]] void unit(OutputCursor& o, const unsigned char* src, std::size_t n, std::uint64_t at,
                                     bool first, End e) {
        // A line whose prefix is one of the kinds most lines have takes a
        // path of its own: the prefix, the text and the line break, after
        // which the next line's prefix is due again.
        const LinePrefix kind = line_prefix_;
        const auto line = [&](unsigned char* dst) __attribute__((always_inline)) {
            wrote_ = true;
            dst += store_text(dst, src, n);
            o.pos = dst + store_line_end(dst);
            if (o.full()) flush(o);
        };
        if (prefix_due_ && e == End::line) {
            if (kind == LinePrefix::none) return line(o.pos);
            if (kind == LinePrefix::name) {
                // A short name alone, as -f writes: one fixed copy, the
                // same size on every line (so also the stretch's first).
                std::memcpy(o.pos, short_name_, max_short_name);
                lead_prefix_ = name_size_;
                return line(o.pos + name_size_);
            }
            if (kind == LinePrefix::offset && columns_.covers(at)) {
                // An offset alone in its 7 columns, as -t writes: the
                // columns' mask is kept from the lines before, so the
                // prefix is one store of the offset's digits.
                const auto v = static_cast<std::uint32_t>(at);
                const std::size_t prefix = columns_.store(o.pos, radix_ == OffsetRadix::hex ? hex_word(v) : decimal_word(v));
                if (!wrote_) lead_prefix_ = prefix;
                return line(o.pos + prefix);
            }
        }
        if (kind == LinePrefix::long_name) [[unlikely]] {
            set_cursor(o);
            text(src, n, at, first);
            end(e);
            o = cursor();
            return;
        }
        unsigned char* dst = o.pos;
        if (prefix_due_) dst += store_prefix(dst, at);
        wrote_ = true;
        dst += store_text(dst, src, n);
        if (e == End::line) dst += store_line_end(dst);
        prefix_due_ = e == End::line || !lines_;
        o.pos = dst;
        if (o.full()) flush(o);
    }
    // Units with no prefix whose bytes are stored as they are, for a batch
    // of them with the line break in registers: bare() says whether the
    // format is such, bare_end() is the break of a unit ending `e`,
    // bare_unit() stores one unit through the cursor, and end_bare() follows
    // the last, if any was stored.
    struct BareEnd {
        unsigned char bytes[crlf_size];
        std::size_t size;
    };
    bool bare() const { return !has_prefix_ && !utf8_ && !long_name_; }
    BareEnd bare_end(End e) const {
        BareEnd b{};
        std::memcpy(b.bytes, line_end_, crlf_size);
        b.size = e == End::line ? line_end_size_ : 0;
        return b;
    }
    [[gnu::always_inline]] static void bare_unit(OutputCursor& o, const unsigned char* src, std::size_t n,
                                                 const BareEnd& end) {
        copy_run(o.pos, src, n);
        std::memcpy(o.pos + n, end.bytes, crlf_size);
        o.pos += n + end.size;
    }
    void end_bare(End e) {
        wrote_ = true;
        prefix_due_ = e == End::line || !lines_;
    }
    // unit() for text that store(dst) writes at dst itself, at most
    // max_text bytes, and returns the size of: no copy through a buffer,
    // whose narrow stores a wide load would wait on. False, with nothing
    // written, when the name prefix is long or store() returns no_text.
    static constexpr std::size_t no_text = SIZE_MAX;
    template <class Store>
    [[gnu::always_inline]] bool stored_unit(OutputCursor& o, std::uint64_t at, End e, Store&& store) {
        if (long_name_) return false;
        unsigned char* dst = o.pos;
        const bool due = prefix_due_;
        const std::size_t lead = lead_prefix_;
        if (due) dst += store_prefix(dst, at);
        const std::size_t n = store(dst);
        if (n == no_text) {
            prefix_due_ = due;
            lead_prefix_ = lead;
            return false;
        }
        wrote_ = true;
        dst += n;
        if (e == End::line) dst += store_line_end(dst);
        prefix_due_ = e == End::line || !lines_;
        o.pos = dst;
        if (o.full()) flush(o);
        return true;
    }
    void begin_stretch() {
        prefix_due_ = true;
        wrote_ = false;
        lead_prefix_ = 0;
    }
    void end_stretch() {}
    StretchOutput stretch_output() const { return {lead_prefix_, wrote_, !prefix_due_}; }

private:
    // The prefix of a line starting at input offset `at`, if the format has
    // one, stored at dst when the name is short: the name in the fixed-size
    // blocks a run is copied in, the offset formatted in place behind it (a
    // copy through a buffer on the stack would load the digits back before
    // their stores have landed). Returns its size.
    [[gnu::always_inline]] std::size_t store_prefix(unsigned char* dst, std::uint64_t at) {
        prefix_due_ = false;
        if (!has_prefix_) return 0;
        const std::size_t name_size = name_size_;
        // A name of up to 16 bytes, as most are, is one 16-byte copy.
        if (name_size != 0) copy_run(dst, short_name_, name_size);
        const std::size_t size =
            name_size + (radix_ != OffsetRadix::none ? put_offset(dst + name_size, at, radix_) : 0);
        if (!wrote_) lead_prefix_ = size;
        return size;
    }
    void write_long_prefix(std::uint64_t at);
    [[gnu::always_inline]] std::size_t store_text(unsigned char* dst, const unsigned char* src, std::size_t n) const {
        if (utf8_) return print_utf8_run(utf8_kernel_, utf8_tables_, src, n, dst);
        copy_run(dst, src, n);
        return n;
    }
    // The line break's bytes are stored whole whatever its size.
    std::size_t store_line_end(unsigned char* dst) const {
        std::memcpy(dst, line_end_, crlf_size);
        return line_end_size_;
    }

    const OffsetRadix radix_;
    ColumnMask columns_;
    const Utf8Kernel& utf8_kernel_;
    const Utf8Tables& utf8_tables_;
    const bool utf8_;
    const bool lines_;
    const bool has_prefix_;  // a name or an offset starts each line
    bool prefix_due_ = true;
    bool wrote_ = false;
    std::size_t lead_prefix_ = 0;
    unsigned char line_end_[crlf_size] = {};
    std::size_t line_end_size_ = 0;
    std::string name_prefix_;
    std::size_t name_size_ = 0;
    bool long_name_ = false;  // the name prefix is put() in
    // The kinds of line prefix unit() writes by a path of its own.
    // (A long name is put() in by text() and end().)
    enum class LinePrefix : unsigned char { long_name, general, none, name, offset };
    LinePrefix line_prefix_ = LinePrefix::general;
    // The name prefix zero-padded to be stored in fixed-size blocks, when it fits.
    unsigned char short_name_[max_short_name] = {};
};
static_assert(TextPrinter::max_short_name + max_offset_prefix <= TextPrinter::slack - TextPrinter::max_text);
// The short name is copied as runs are, from an array that holds the
// whole copy.
static_assert(copy_extent(TextPrinter::max_short_name) == TextPrinter::max_short_name);

// Whether any of the n bytes at p needs an escape in a JSON string (a byte
// below 0x20, a quote, a backslash), 16 at a time. The bytes from p + n up
// to the next multiple of 16 are read and ignored, and 16 when n is 0.
inline constexpr std::size_t escape_test_overread = 15;
#if defined(__SSE2__) || defined(_M_X64)
// Bit k set where p[k] needs an escape, for 16 bytes.
[[gnu::always_inline]] inline unsigned json_escape_bits(const unsigned char* p) {
    const __m128i control_last = _mm_set1_epi8(0x1F);
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, control_last), control_last);
    const __m128i hit = _mm_or_si128(
        control, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))));
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
}
[[gnu::always_inline]] inline bool any_json_escape(const unsigned char* p, std::size_t n) {
    // Most runs are one block: only the last block is masked, once.
    std::size_t k = 0;
    for (; k + 16 < n; k += 16)
        if (json_escape_bits(p + k) != 0) return true;
    return (json_escape_bits(p + k) & ((1u << (n - k)) - 1)) != 0;
}
#else
inline bool any_json_escape(const unsigned char* p, std::size_t n) {
    bool hit = false;
    for (std::size_t k = 0; k < n; ++k) hit |= p[k] < 0x20 || p[k] == '"' || p[k] == '\\';
    return hit;
}
#endif

// JSON Lines: one object per run (the splits of a long run joined), with
// the input offset of its first byte, its text in UTF-8 and the input bytes
// from its first to its last byte; and the file name when the format has
// one. The length goes last, since a run's text is streamed out whole
// before its end is known; under the text filter the run's score follows:
//   {"file":"a.dat","offset":2,"text":"い","length":2}
//   {"offset":2,"text":"い","length":2,"score":87}
class JsonPrinter : public BlockBuffer {
public:
    static constexpr bool raw = false;
    // A unit's bytes become at most json_per_cp932_byte bytes each (a
    // control byte kept by an exempt string is \u00XX). One text() may close
    // an object, open the next and write a unit, and one unit() opens,
    // writes and closes one: all of it is stored straight into the slack
    // (the object start is put() in when long).
    static constexpr std::size_t json_per_cp932_byte = 6;
    static constexpr std::size_t max_object_start = 32;  // stored whole below this
    static constexpr std::size_t max_close = 64;         // the fields after the text
    static constexpr std::size_t max_open = max_object_start + 32;
    static constexpr std::size_t slack =
        max_close + max_open + json_per_cp932_byte * run_capacity + utf8_store_overrun;

    JsonPrinter(ByteSink& sink, std::size_t capacity, const OutputFormat& format);

    void text(const unsigned char* src, std::size_t n, std::uint64_t at, bool first) {
        if (first && open_) close();
        if (!open_) open(at);
        if (n == 0) return;
        last_end_ = at + n;
        fill_ = static_cast<std::size_t>(store_text(buffer_.get() + fill_, src, n) - buffer_.get());
        if (fill_ >= capacity_) flush();
    }
    void end(End e) {
        if (e != End::split) close();
    }
    // The open object's input span reaches at least to `end`: its text came
    // in one call from bytes the input held apart.
    void extend_to(std::uint64_t end) { last_end_ = std::max(last_end_, end); }
    // A whole object in one go, with one room check: the block scan's call
    // for most runs. A unit that goes on from a split, one that is split or
    // one behind an object still open takes the calls above.
    [[gnu::always_inline]] void unit(OutputCursor& o, const unsigned char* src, std::size_t n, std::uint64_t at,
                                     bool first, End e) {
        if (!first || open_ || long_start_ || e == End::split) [[unlikely]] {
            set_cursor(o);
            text(src, n, at, first);
            end(e);
            o = cursor();
            return;
        }
        if (!offsets_.covers(at)) [[unlikely]] {
            set_cursor(o);
            text(src, n, at, first);
            end(e);
            o = cursor();
            return;
        }
        wrote_ = true;
        // The offset's last four digits and the length are made in one go;
        // the offset's count of digits is kept, so the text is placed
        // without waiting for them.
        static_assert(max_split < four_digits);
        const std::uint64_t digits = decimal_fours(offsets_.last_four(at), static_cast<std::uint32_t>(n));
        unsigned char* dst = store_start(o.pos);
        dst += offsets_.store(dst, static_cast<std::uint32_t>(digits));
        dst += put_literal(dst, ",\"text\":\"");
        dst = store_text(dst, src, n);
        o.pos = store_short_close(dst, static_cast<std::uint32_t>(digits >> 32), n);
        if (o.full()) flush(o);
    }
    void begin_stretch() { wrote_ = false; }
    void end_stretch() {
        if (open_) close();
    }
    StretchOutput stretch_output() const { return {0, wrote_, false}; }
    // The score the objects closed from now on carry, after their length
    // (the text filter's; without it objects have no score).
    void set_score(int score) { score_ = score; }

private:
    void open(std::uint64_t at);
    void close();
    // The parts of an object, each stored at dst; each returns where it ended.
    [[gnu::always_inline]] unsigned char* store_start(unsigned char* dst) const {
        std::memcpy(dst, short_start_, max_object_start);
        return dst + start_size_;
    }
    unsigned char* store_offset(unsigned char* dst, std::uint64_t at) {
        if (offsets_.covers(at))
            dst += offsets_.store(dst, static_cast<std::uint32_t>(decimal_fours(offsets_.last_four(at), 0)));
        else
            dst += put_decimal(dst, at);
        return dst + put_literal(dst, ",\"text\":\"");
    }
    [[gnu::always_inline]] unsigned char* store_text(unsigned char* dst, const unsigned char* src, std::size_t n) {
        // A run of one double-byte character, as binary data is full of,
        // has nothing to escape.
        if (const std::size_t pair = print_utf8_pair(utf8_tables_, src, n, dst); pair != 0) return dst + pair;
        const std::size_t size = utf8_kernel_.print(utf8_tables_, src, n, dst);
        // Runs of text hold a quote, a backslash or a control byte only
        // where the settings let them in: the rest is converted in place.
        // Such a byte of the UTF-8 is a single-byte character of the input
        // (a double-byte one is all bytes from 0x80), so the input is tested
        // first: the UTF-8 was just stored in pieces, and loading it back
        // would wait for the stores. A backslash may be a trail byte, so the
        // UTF-8 has the last word. Both tests read up to 15 bytes past the
        // text: the run has copy_extent(n), the buffer the slack kept for
        // escapes.
        static_assert(copy_extent(0) >= escape_test_overread + 1 && long_copy % 16 == 0);
        static_assert(escape_test_overread <= (json_per_cp932_byte - text::utf8_per_cp932_byte) * run_capacity);
        if (any_json_escape(src, n) && any_json_escape(dst, size)) [[unlikely]]
            return escape_in_place(dst, size);
        return dst + size;
    }
    // Escapes the `size` bytes of UTF-8 at dst where they lie.
    unsigned char* escape_in_place(unsigned char* dst, std::size_t size);
    [[gnu::always_inline]] unsigned char* store_close(unsigned char* dst, std::uint64_t length) const {
        dst += put_literal(dst, "\",\"length\":");
        dst += put_decimal(dst, length);
        if (score_ >= 0) {
            dst += put_literal(dst, ",\"score\":");
            dst += put_decimal(dst, static_cast<std::uint64_t>(score_));
        }
        return dst + put_literal(dst, "}\n");
    }
    // The count of decimal digits of each length of a unit.
    static constexpr auto length_digits = [] {
        std::array<unsigned char, max_split + 1> count{};
        for (std::size_t n = 0; n <= max_split; ++n) count[n] = static_cast<unsigned char>(n < 10 ? 1 : n < 100 ? 2 : n < 1000 ? 3 : 4);
        return count;
    }();
    // The same for the length of a unit, from the word of its four digits:
    // its digits and the object's end are one store without a score.
    [[gnu::always_inline]] unsigned char* store_short_close(unsigned char* dst, std::uint32_t four, std::size_t length) const {
        assert(length <= max_split);
        dst += put_literal(dst, "\",\"length\":");
        const std::size_t count = length_digits[length];
        std::uint64_t word = four >> 8 * (4 - count);
        if (score_ >= 0) {
            std::memcpy(dst, &word, sizeof word);
            dst += count;
            dst += put_literal(dst, ",\"score\":");
            dst += put_decimal(dst, static_cast<std::uint64_t>(score_));
            return dst + put_literal(dst, "}\n");
        }
        word |= std::uint64_t{'}' | '\n' << 8} << 8 * count;
        std::memcpy(dst, &word, sizeof word);
        return dst + count + 2;
    }

    const Utf8Kernel& utf8_kernel_;
    const Utf8Tables& utf8_tables_;
    std::string object_start_;  // {"file":"...","offset":
    std::size_t start_size_ = 0;
    bool long_start_ = false;  // object_start_ is put() in
    // The same, zero-padded to be stored in one fixed-size copy, when it fits.
    unsigned char short_start_[max_object_start] = {};
    bool open_ = false;
    bool wrote_ = false;
    std::uint64_t first_ = 0;
    std::uint64_t last_end_ = 0;
    OffsetDecimal offsets_;
    int score_ = -1;
    unsigned char utf8_[text::utf8_per_cp932_byte * run_capacity + utf8_store_overrun];
};
static_assert(sizeof "\",\"length\":" + max_decimal + sizeof ",\"score\":" + max_decimal + 2 <=
              JsonPrinter::max_close);
static_assert(sizeof ",\"text\":\"" + max_decimal <= JsonPrinter::max_open - JsonPrinter::max_object_start);

// The text of a JSON string for UTF-8 bytes, without the quotes: quote,
// backslash and control characters escaped, ill-formed bytes as U+FFFD.
std::string json_escape(std::string_view utf8);

// How a byte of well-formed UTF-8 is written inside a JSON string: 0 as it
// is, else the count of bytes of its escape (\" \\ \b \f \n \r \t, or \u00XX).
// Stores the escape at dst, which has room for 6 bytes.
std::size_t json_escape_byte(unsigned char c, unsigned char* dst);

}  // namespace kurvane::detail
