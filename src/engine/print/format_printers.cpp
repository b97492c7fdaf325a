#include "engine/print/format_printers.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "engine/print/digits.h"

namespace kurvane::detail {
namespace {

// v in a power-of-two radix (a digit of `bits` bits), stored ending before `end`.
void store_bits(unsigned char* end, std::uint64_t v, std::size_t n, unsigned bits) {
    const std::uint64_t digit = (std::uint64_t{1} << bits) - 1;
    for (std::size_t k = 0; k < n; ++k) {
        *--end = static_cast<unsigned char>(hex_digits[v & digit]);
        v >>= bits;
    }
}

// Bytes of escape each byte takes in a JSON string (0: none). Only bytes
// below 0x20, the quote and the backslash have one.
constexpr auto json_escape_size = [] {
    std::array<unsigned char, 256> size{};
    for (unsigned c = 0; c < 0x20; ++c) size[c] = 6;
    for (unsigned char c : {'\b', '\f', '\n', '\r', '\t', '"', '\\'}) size[c] = 2;
    return size;
}();

}  // namespace

std::size_t put_offset_slow(unsigned char* dst, std::uint64_t v, OffsetRadix radix) {
    const auto width_of = [v](unsigned bits) {
        return std::max<std::size_t>(1, (static_cast<std::size_t>(std::bit_width(v)) + bits - 1) / bits);
    };
    const std::size_t n = radix == OffsetRadix::hex     ? width_of(4)
                          : radix == OffsetRadix::octal ? width_of(3)
                                                        : decimal_digits(v);
    const std::size_t digits_end = std::max(n, offset_width);
    std::memset(dst, ' ', offset_width);
    switch (radix) {
    case OffsetRadix::hex: store_bits(dst + digits_end, v, n, 4); break;
    case OffsetRadix::octal: store_bits(dst + digits_end, v, n, 3); break;
    default: store_decimal(dst + digits_end, v); break;
    }
    dst[digits_end] = ' ';
    return digits_end + 1;
}
static_assert(max_offset_prefix == 22 + 1);  // 64 bits in octal, then the space

std::size_t print_utf8(const unsigned char* src, std::size_t n, unsigned char* dst) {
    return utf8_kernel().print(utf8_tables(), src, n, dst);
}

std::size_t json_escape_byte(unsigned char c, unsigned char* dst) {
    const unsigned char size = json_escape_size[c];
    if (size == 0) return 0;
    if (size == 6) {
        std::memcpy(dst, "\\u00", 4);
        dst[4] = static_cast<unsigned char>(hex_digits[c >> 4]);
        dst[5] = static_cast<unsigned char>(hex_digits[c & 15]);
        return 6;
    }
    char shorter = static_cast<char>(c);
    switch (c) {
    case '\b': shorter = 'b'; break;
    case '\f': shorter = 'f'; break;
    case '\n': shorter = 'n'; break;
    case '\r': shorter = 'r'; break;
    case '\t': shorter = 't'; break;
    default: break;  // the quote and the backslash stand for themselves
    }
    dst[0] = '\\';
    dst[1] = static_cast<unsigned char>(shorter);
    return 2;
}

TextPrinter::TextPrinter(ByteSink& sink, std::size_t capacity, const OutputFormat& format, bool lines)
    : BlockBuffer(sink, capacity, slack), radix_(format.radix), columns_(format.radix), utf8_kernel_(utf8_kernel()),
      utf8_tables_(utf8_tables()), utf8_(format.encoding == TextEncoding::utf8), lines_(lines),
      has_prefix_(format.radix != OffsetRadix::none || !format.file_name.empty()) {
    const bool lf = format.eol == LineEnd::lf;
    line_end_[0] = lf ? '\n' : '\r';
    line_end_[1] = '\n';
    line_end_size_ = lf ? 1 : crlf_size;
    if (!format.file_name.empty()) name_prefix_ = format.file_name + ": ";
    name_size_ = name_prefix_.size();
    long_name_ = name_size_ > max_short_name;
    if (!long_name_) std::memcpy(short_name_, name_prefix_.data(), name_size_);
    const bool columns = radix_ == OffsetRadix::hex || radix_ == OffsetRadix::decimal;
    if (long_name_)
        line_prefix_ = LinePrefix::long_name;
    else if (!has_prefix_)
        line_prefix_ = LinePrefix::none;
    else if (name_size_ != 0 && !long_name_ && radix_ == OffsetRadix::none)
        line_prefix_ = LinePrefix::name;
    else if (name_size_ == 0 && columns)
        line_prefix_ = LinePrefix::offset;
}

// The name and ": ", then the offset; both as given, neither converted.
// Only the offset is stored straight into the slack: the name goes through
// put(), whose flush may hand the stretch's first bytes on, so the
// prefix's size is known before.
void TextPrinter::write_long_prefix(std::uint64_t at) {
    prefix_due_ = false;
    unsigned char offset[max_offset_prefix] = {};
    const std::size_t offset_size = radix_ != OffsetRadix::none ? put_offset(offset, at, radix_) : 0;
    if (!wrote_) lead_prefix_ = name_size_ + offset_size;
    put(reinterpret_cast<const unsigned char*>(name_prefix_.data()), name_size_);
    std::memcpy(buffer_.get() + fill_, offset, sizeof offset);
    fill_ += offset_size;
}

JsonPrinter::JsonPrinter(ByteSink& sink, std::size_t capacity, const OutputFormat& format)
    : BlockBuffer(sink, capacity, slack), utf8_kernel_(utf8_kernel()), utf8_tables_(utf8_tables()),
      object_start_("{") {
    if (!format.file_name.empty()) {
        object_start_.append("\"file\":\"");
        object_start_.append(json_escape(format.file_name));
        object_start_.append("\",");
    }
    object_start_.append("\"offset\":");
    start_size_ = object_start_.size();
    long_start_ = start_size_ > max_object_start;
    if (!long_start_) std::memcpy(short_start_, object_start_.data(), start_size_);
}

void JsonPrinter::open(std::uint64_t at) {
    open_ = true;
    wrote_ = true;
    first_ = at;
    last_end_ = at;
    if (long_start_) {
        put(reinterpret_cast<const unsigned char*>(object_start_.data()), start_size_);
        fill_ = static_cast<std::size_t>(store_offset(buffer_.get() + fill_, at) - buffer_.get());
    } else {
        fill_ = static_cast<std::size_t>(store_offset(store_start(buffer_.get() + fill_), at) - buffer_.get());
    }
}

void JsonPrinter::close() {
    open_ = false;
    fill_ = static_cast<std::size_t>(store_close(buffer_.get() + fill_, last_end_ - first_) - buffer_.get());
    if (fill_ >= capacity_) flush();
}

unsigned char* JsonPrinter::escape_in_place(unsigned char* dst, std::size_t size) {
    std::memcpy(utf8_, dst, size);
    for (std::size_t k = 0; k < size; ++k) {
        const std::size_t escaped = json_escape_byte(utf8_[k], dst);
        if (escaped == 0) *dst++ = utf8_[k];
        dst += escaped;
    }
    return dst;
}

std::string json_escape(std::string_view utf8) {
    std::string out;
    for (std::size_t k = 0; k < utf8.size();) {
        const text::Utf8Char c = text::next_utf8(utf8, k);
        const auto b = static_cast<unsigned char>(utf8[k]);
        if (c.value == text::replacement_char && !(c.length == 3 && utf8.substr(k, 3) == "\xEF\xBF\xBD")) {
            out += "\xEF\xBF\xBD";
        } else if (unsigned char e[6]; c.length == 1 && json_escape_byte(b, e) != 0) {
            out.append(reinterpret_cast<const char*>(e), json_escape_byte(b, e));
        } else {
            out.append(utf8.substr(k, c.length));
        }
        k += c.length;
    }
    return out;
}

}  // namespace kurvane::detail
