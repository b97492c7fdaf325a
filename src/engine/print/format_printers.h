// The printers of the formats other than the plain one: text with a line
// prefix, another encoding or line break, and JSON Lines. Each takes the
// scan's units as PlainPrinter does (see print/printer.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/output_format.h"
#include "engine/print/printer.h"
#include "engine/print/utf8_kernel.h"
#include "text/text_encoding.h"

namespace kurvane::detail {

// Code page 932 to UTF-8 as cp932_to_utf8 converts it, by the fastest
// kernel of this processor; reads and stores as a Utf8Kernel does.
std::size_t print_utf8(const unsigned char* src, std::size_t n, unsigned char* dst);
// What the printers hand the kernels: copy_extent(n) bytes are readable.
static_assert(copy_extent(0) >= utf8_block);

// print_utf8 by `kernel`, for the printers: a run of one double-byte
// character, which binary data is full of, is looked up here without a
// call.
inline std::size_t print_utf8_run(const Utf8Kernel& kernel, const Utf8Tables& tables, const unsigned char* src,
                                  std::size_t n, unsigned char* dst) {
    if (n == 2) {
        if (const text::Utf8Entry e = tables.pair[src[0] << 8 | src[1]]; e != 0) {
            std::memcpy(dst, &e, sizeof e);
            return e >> text::utf8_length_shift;
        }
    }
    return kernel.print(tables, src, n, dst);
}

// The most bytes an input offset takes as a line prefix: 22 octal digits
// hold any 64-bit offset, and a space follows them.
inline constexpr std::size_t max_offset_prefix = 22 + 1;

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
    // unit and a line break fit in the slack behind it. A longer name
    // prefix is put() in before them.
    static constexpr std::size_t max_short_name = 64;  // stored whole up to this
    static constexpr std::size_t slack = max_short_name + max_offset_prefix +
                                         text::utf8_per_cp932_byte * run_capacity + utf8_store_overrun + crlf_size;
    static_assert(copy_extent(max_split) <= text::utf8_per_cp932_byte * run_capacity);

    TextPrinter(ByteSink& sink, std::size_t capacity, const OutputFormat& format, bool lines);

    void text(const unsigned char* src, std::size_t n, std::uint64_t at, bool) {
        if (prefix_due_) {
            prefix_due_ = false;
            if (has_prefix_) write_prefix(at);
        }
        wrote_ = true;
        unsigned char* dst = buffer_.get() + fill_;
        if (utf8_) {
            n = print_utf8_run(utf8_kernel_, utf8_tables_, src, n, dst);
        } else {
            copy_run(dst, src, n);
        }
        fill_ += n;
        if (fill_ >= capacity_) flush();
    }
    void end(End e) {
        if (e == End::line) {
            unsigned char* dst = buffer_.get() + fill_;
            if (!lf_) *dst++ = '\r';
            *dst = '\n';
            fill_ += lf_ ? 1 : 2;
            if (fill_ >= capacity_) flush();
        }
        prefix_due_ = e == End::line || !lines_;
    }
    void begin_stretch() {
        prefix_due_ = true;
        wrote_ = false;
        lead_prefix_ = 0;
    }
    void end_stretch() {}
    StretchOutput stretch_output() const { return {lead_prefix_, wrote_, !prefix_due_}; }

private:
    void write_prefix(std::uint64_t at);

    const OffsetRadix radix_;
    const Utf8Kernel& utf8_kernel_;
    const Utf8Tables& utf8_tables_;
    const bool utf8_;
    const bool lf_;
    const bool lines_;
    const bool has_prefix_;  // a name or an offset starts each line
    bool prefix_due_ = true;
    bool wrote_ = false;
    std::size_t lead_prefix_ = 0;
    std::string name_prefix_;
    // The same, zero-padded to be stored in one fixed-size copy, when it fits.
    unsigned char short_name_[max_short_name] = {};
};

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
    // an object, open the next and write a unit: all of it is stored
    // straight into the slack (the object start is put() in when long).
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
        write_text(src, n);
    }
    void end(End e) {
        if (e != End::split) close();
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
    void write_text(const unsigned char* src, std::size_t n);

    const Utf8Kernel& utf8_kernel_;
    const Utf8Tables& utf8_tables_;
    std::string object_start_;  // {"file":"...","offset":
    // The same, zero-padded to be stored in one fixed-size copy, when it fits.
    unsigned char short_start_[max_object_start] = {};
    bool open_ = false;
    bool wrote_ = false;
    std::uint64_t first_ = 0;
    std::uint64_t last_end_ = 0;
    int score_ = -1;
    unsigned char utf8_[text::utf8_per_cp932_byte * run_capacity + utf8_store_overrun];
};

// The text of a JSON string for UTF-8 bytes, without the quotes: quote,
// backslash and control characters escaped, ill-formed bytes as U+FFFD.
std::string json_escape(std::string_view utf8);

// How a byte of well-formed UTF-8 is written inside a JSON string: 0 as it
// is, else the count of bytes of its escape (\" \\ \b \f \n \r \t, or \u00XX).
// Stores the escape at dst, which has room for 6 bytes.
std::size_t json_escape_byte(unsigned char c, unsigned char* dst);

}  // namespace kurvane::detail
