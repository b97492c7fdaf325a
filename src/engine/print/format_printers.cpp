#include "engine/print/format_printers.h"

#include <cstring>

namespace kurvane::detail {
namespace {

// Digits of v in `base` stored backwards before `end`; returns the first.
unsigned char* digits_before(unsigned char* end, std::uint64_t v, unsigned base) {
    do {
        *--end = static_cast<unsigned char>("0123456789abcdef"[v % base]);
        v /= base;
    } while (v != 0);
    return end;
}

// 22 octal digits hold any 64-bit offset.
constexpr std::size_t max_digits = 22;

// Bytes a JSON string must not hold as they are: the quote, the backslash
// and the control characters.
constexpr bool needs_escape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

// The escape of such a byte: a short form where JSON has one.
std::size_t escape_byte(unsigned char c, unsigned char* dst) {
    const char* shorter = nullptr;
    switch (c) {
    case '"': shorter = "\\\""; break;
    case '\\': shorter = "\\\\"; break;
    case '\b': shorter = "\\b"; break;
    case '\f': shorter = "\\f"; break;
    case '\n': shorter = "\\n"; break;
    case '\r': shorter = "\\r"; break;
    case '\t': shorter = "\\t"; break;
    default: break;
    }
    if (shorter != nullptr) {
        dst[0] = static_cast<unsigned char>(shorter[0]);
        dst[1] = static_cast<unsigned char>(shorter[1]);
        return 2;
    }
    std::memcpy(dst, "\\u00", 4);
    dst[4] = static_cast<unsigned char>("0123456789abcdef"[c >> 4]);
    dst[5] = static_cast<unsigned char>("0123456789abcdef"[c & 15]);
    return 6;
}

}  // namespace

TextPrinter::TextPrinter(ByteSink& sink, std::size_t capacity, const OutputFormat& format, bool lines)
    : BlockBuffer(sink, capacity, slack), radix_(format.radix),
      utf8_(format.encoding == TextEncoding::utf8), lf_(format.eol == LineEnd::lf), lines_(lines) {
    if (!format.file_name.empty()) name_prefix_ = format.file_name + ": ";
}

// The name and ": ", then the offset; both as given, neither converted.
void TextPrinter::write_prefix(std::uint64_t at) {
    prefix_due_ = false;
    constexpr std::size_t width = 7;
    unsigned char text[max_digits + 1];
    unsigned char* const end = text + sizeof text;
    unsigned char* first = end;
    if (radix_ != OffsetRadix::none) {
        const unsigned base = radix_ == OffsetRadix::octal ? 8 : radix_ == OffsetRadix::hex ? 16 : 10;
        *--first = ' ';
        first = digits_before(first, at, base);
        while (static_cast<std::size_t>(end - first) < width + 1) *--first = ' ';
    }
    const auto offset_size = static_cast<std::size_t>(end - first);
    if (!wrote_) lead_prefix_ = name_prefix_.size() + offset_size;
    put(reinterpret_cast<const unsigned char*>(name_prefix_.data()), name_prefix_.size());
    put(first, offset_size);
}

JsonPrinter::JsonPrinter(ByteSink& sink, std::size_t capacity, const OutputFormat& format)
    : BlockBuffer(sink, capacity, slack), object_start_("{") {
    if (!format.file_name.empty()) {
        object_start_.append("\"file\":\"");
        object_start_.append(json_escape(format.file_name));
        object_start_.append("\",");
    }
    object_start_.append("\"offset\":");
}

void JsonPrinter::open(std::uint64_t at) {
    open_ = true;
    wrote_ = true;
    first_ = at;
    last_end_ = at;
    put(reinterpret_cast<const unsigned char*>(object_start_.data()), object_start_.size());
    unsigned char text[max_digits + 9];
    unsigned char* const end = text + sizeof text;
    static constexpr char key[] = ",\"text\":\"";
    constexpr std::size_t key_size = sizeof key - 1;
    unsigned char* first = digits_before(end - key_size, at, 10);
    std::memcpy(end - key_size, key, key_size);
    put(first, static_cast<std::size_t>(end - first));
}

void JsonPrinter::close() {
    open_ = false;
    const auto field = [this](const char* key, std::size_t key_size, std::uint64_t value) {
        unsigned char text[16 + max_digits];
        unsigned char* const end = text + sizeof text;
        unsigned char* first = digits_before(end, value, 10) - key_size;
        std::memcpy(first, key, key_size);
        put(first, static_cast<std::size_t>(end - first));
    };
    static constexpr char length_key[] = "\",\"length\":";
    field(length_key, sizeof length_key - 1, last_end_ - first_);
    if (score_ >= 0) {
        static constexpr char score_key[] = ",\"score\":";
        field(score_key, sizeof score_key - 1, static_cast<std::uint64_t>(score_));
    }
    static constexpr unsigned char close_object[] = {'}', '\n'};
    put(close_object, sizeof close_object);
}

void JsonPrinter::write_text(const unsigned char* src, std::size_t n) {
    const std::size_t size = cp932_to_utf8(src, n, utf8_);
    unsigned char* dst = buffer_.get() + fill_;
    for (std::size_t k = 0; k < size;) {
        // Bytes that need no escape go in one copy up to the next that does.
        std::size_t plain = k;
        while (plain < size && !needs_escape(utf8_[plain])) ++plain;
        std::memcpy(dst, utf8_ + k, plain - k);
        dst += plain - k;
        k = plain;
        if (k < size) dst += escape_byte(utf8_[k++], dst);
    }
    fill_ = static_cast<std::size_t>(dst - buffer_.get());
    if (fill_ >= capacity_) flush();
}

std::string json_escape(std::string_view utf8) {
    std::string out;
    for (std::size_t k = 0; k < utf8.size();) {
        const Utf8Char c = next_utf8(utf8, k);
        const auto b = static_cast<unsigned char>(utf8[k]);
        if (c.value == replacement_char && !(c.length == 3 && utf8.substr(k, 3) == "\xEF\xBF\xBD")) {
            out += "\xEF\xBF\xBD";
        } else if (c.length == 1 && needs_escape(b)) {
            unsigned char e[6];
            out.append(reinterpret_cast<const char*>(e), escape_byte(b, e));
        } else {
            out.append(utf8.substr(k, c.length));
        }
        k += c.length;
    }
    return out;
}

}  // namespace kurvane::detail
