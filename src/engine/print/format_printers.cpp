#include "engine/print/format_printers.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace kurvane::detail {
namespace {

// Digits of an offset, two at a time for decimal.
constexpr char hex_digits[] = "0123456789abcdef";
constexpr auto digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (std::size_t k = 0; k < 100; ++k) {
        pairs[2 * k] = static_cast<char>('0' + k / 10);
        pairs[2 * k + 1] = static_cast<char>('0' + k % 10);
    }
    return pairs;
}();

constexpr auto powers_of_ten = [] {
    std::array<std::uint64_t, 20> powers{};
    std::uint64_t p = 1;
    for (auto& power : powers) {
        power = p;
        p *= 10;
    }
    return powers;
}();

// The count of v's decimal digits, from its bit width: 1233 / 4096 is just
// over log10(2), so t is the count or one less.
std::size_t decimal_digits(std::uint64_t v) {
    const auto t = static_cast<std::size_t>(std::bit_width(v | 1)) * 1233 >> 12;
    return t + ((v | 1) >= powers_of_ten[t] ? 1 : 0);
}

// Stores v's decimal digits ending before `end`.
void store_decimal(unsigned char* end, std::uint64_t v) {
    while (v >= 100) {
        const std::uint64_t pair = v % 100;
        v /= 100;
        end -= 2;
        std::memcpy(end, &digit_pairs[2 * pair], 2);
    }
    if (v >= 10) {
        end -= 2;
        std::memcpy(end, &digit_pairs[2 * v], 2);
    } else {
        *--end = static_cast<unsigned char>('0' + v);
    }
}

// The eight decimal digits of v < 10^8, as the bytes of a word in memory
// order, most significant first: the word's lanes split in halves by
// multiplying with reciprocals, 4 digits in each 32-bit lane, then 2 in
// each 16-bit lane, then 1 in each byte. Stored in registers only: digits
// stored a byte pair at a time and loaded back as a word would wait for
// the stores to land.
std::uint64_t decimal_word(std::uint32_t v) {
    const std::uint64_t fours = v / 10000 | std::uint64_t{v % 10000} << 32;
    // x * 10486 >> 20 is x / 100 for x < 10^4; x * 103 >> 10 is x / 10 for x < 100.
    const std::uint64_t hundreds = (fours * 10486 >> 20) & 0x0000007F0000007Fu;
    const std::uint64_t twos = ((fours - hundreds * 100) << 16) + hundreds;
    const std::uint64_t tens = (twos * 103 >> 10) & 0x000F000F000F000Fu;
    const std::uint64_t ones = ((twos - tens * 10) << 8) + tens;
    return ones + 0x3030303030303030u;
}

// Stores v in decimal at dst; returns the count of digits. Up to 8 digits
// are stored as one word, its leading zeros shifted out: 8 bytes are
// stored whatever the count.
std::size_t put_decimal(unsigned char* dst, std::uint64_t v) {
    const std::size_t n = decimal_digits(v);
    if (v < powers_of_ten[8]) {
        static_assert(std::endian::native == std::endian::little, "the word's first byte is its lowest");
        const std::uint64_t word = decimal_word(static_cast<std::uint32_t>(v)) >> 8 * (8 - n);
        std::memcpy(dst, &word, sizeof word);
    } else {
        store_decimal(dst + n, v);
    }
    return n;
}

// v in a power-of-two radix (a digit of `bits` bits), stored ending before `end`.
void store_bits(unsigned char* end, std::uint64_t v, std::size_t n, unsigned bits) {
    const std::uint64_t digit = (std::uint64_t{1} << bits) - 1;
    for (std::size_t k = 0; k < n; ++k) {
        *--end = static_cast<unsigned char>(hex_digits[v & digit]);
        v >>= bits;
    }
}

// The offset prefix: v right-aligned in 7 columns and a space. Returns its
// size, at most max_offset_prefix.
constexpr std::size_t offset_width = 7;
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

// The eight hex digits of v, most significant first, as the bytes of a
// word in memory order (little-endian, as put_short_offset asserts): each nibble spread to a byte, then turned to its
// digit without a lookup (a nibble of 10 or more carries into bit 4 when
// 6 is added).
std::uint64_t hex_word(std::uint32_t v) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    std::uint64_t x = v;
    x = (x | x << 16) & 0x0000FFFF0000FFFFu;
    x = (x | x << 8) & 0x00FF00FF00FF00FFu;
    x = (x | x << 4) & 0x0F0F0F0F0F0F0F0Fu;
    const std::uint64_t letters = (x + 6 * ones) >> 4 & ones;
    x += '0' * ones + letters * ('a' - '0' - 10);
    return __builtin_bswap64(x);  // the lowest byte holds the lowest digit
}

// The prefix of an offset that has at most 8 digits: its word of digits
// with the leading zeros made spaces, the last 7 columns of it or all 8,
// then a space: one 8-byte store and a byte.
std::size_t put_short_offset(unsigned char* dst, std::uint64_t word, std::size_t digits) {
    static_assert(std::endian::native == std::endian::little, "the word's first byte is its lowest");
    constexpr std::uint64_t spaces = 0x2020202020202020u;
    const std::uint64_t leading = (std::uint64_t{1} << 8 * (8 - digits) % 64) - 1;  // none for 8
    word = (word & ~leading) | (spaces & leading);
    if (digits <= offset_width) word = word >> 8 | std::uint64_t{' '} << 56;
    std::memcpy(dst, &word, sizeof word);
    dst[8] = ' ';
    return digits <= offset_width ? 8 : 9;
}

std::size_t put_offset(unsigned char* dst, std::uint64_t v, OffsetRadix radix) {
    if (radix == OffsetRadix::hex && v <= UINT32_MAX) {
        const std::size_t digits = std::max<std::size_t>(1, (static_cast<std::size_t>(std::bit_width(v)) + 3) / 4);
        return put_short_offset(dst, hex_word(static_cast<std::uint32_t>(v)), digits);
    }
    if (radix == OffsetRadix::decimal && v < powers_of_ten[8])
        return put_short_offset(dst, decimal_word(static_cast<std::uint32_t>(v)), decimal_digits(v));
    return put_offset_slow(dst, v, radix);
}
static_assert(max_offset_prefix == 22 + 1);  // 64 bits in octal, then the space

// Bytes of escape each byte takes in a JSON string (0: none). Only bytes
// below 0x20, the quote and the backslash have one.
constexpr auto json_escape_size = [] {
    std::array<unsigned char, 256> size{};
    for (unsigned c = 0; c < 0x20; ++c) size[c] = 6;
    for (unsigned char c : {'\b', '\f', '\n', '\r', '\t', '"', '\\'}) size[c] = 2;
    return size;
}();

// Whether any of the n bytes at p needs an escape (a byte below 0x20, a
// quote, a backslash), 16 at a time. The bytes from p + n up to the next
// multiple of 16 are read and ignored: the printer's buffer has them.
#if defined(__SSE2__) || defined(_M_X64)
bool any_escape(const unsigned char* p, std::size_t n) {
    const __m128i control_last = _mm_set1_epi8(0x1F);
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    for (std::size_t k = 0; k < n; k += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, control_last), control_last);
        const __m128i hit = _mm_or_si128(control, _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (n - k < 16) mask &= (1u << (n - k)) - 1;
        if (mask != 0) return true;
    }
    return false;
}
#else
bool any_escape(const unsigned char* p, std::size_t n) {
    unsigned hit = 0;
    for (std::size_t k = 0; k < n; ++k) hit |= json_escape_size[p[k]];
    return hit != 0;
}
#endif
constexpr std::size_t escape_test_overread = 15;

// Stores a literal of N bytes (its zero terminator dropped) at dst.
template <std::size_t N>
std::size_t put_literal(unsigned char* dst, const char (&text)[N]) {
    std::memcpy(dst, text, N - 1);
    return N - 1;
}

}  // namespace

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
    : BlockBuffer(sink, capacity, slack), radix_(format.radix), utf8_kernel_(utf8_kernel()),
      utf8_tables_(utf8_tables()), utf8_(format.encoding == TextEncoding::utf8), lf_(format.eol == LineEnd::lf), lines_(lines),
      has_prefix_(format.radix != OffsetRadix::none || !format.file_name.empty()) {
    if (!format.file_name.empty()) name_prefix_ = format.file_name + ": ";
    if (name_prefix_.size() <= max_short_name) std::memcpy(short_name_, name_prefix_.data(), name_prefix_.size());
}

// The name and ": ", then the offset; both as given, neither converted.
// Both are stored straight into the slack in fixed-size copies; only a
// long name goes through put(), whose flush may hand the stretch's first
// bytes on: the prefix's size is known before.
void TextPrinter::write_prefix(std::uint64_t at) {
    if (name_prefix_.size() > max_short_name) {
        unsigned char offset[max_offset_prefix] = {};
        const std::size_t offset_size = radix_ != OffsetRadix::none ? put_offset(offset, at, radix_) : 0;
        if (!wrote_) lead_prefix_ = name_prefix_.size() + offset_size;
        put(reinterpret_cast<const unsigned char*>(name_prefix_.data()), name_prefix_.size());
        std::memcpy(buffer_.get() + fill_, offset, sizeof offset);
        fill_ += offset_size;
        return;
    }
    // Formatted in place: a copy through a buffer on the stack would load
    // the digits back before their stores have landed.
    unsigned char* const dst = buffer_.get() + fill_;
    std::memcpy(dst, short_name_, max_short_name);
    const std::size_t name_size = name_prefix_.size();
    const std::size_t offset_size = radix_ != OffsetRadix::none ? put_offset(dst + name_size, at, radix_) : 0;
    if (!wrote_) lead_prefix_ = name_size + offset_size;
    fill_ += name_size + offset_size;
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
    if (object_start_.size() <= max_object_start)
        std::memcpy(short_start_, object_start_.data(), object_start_.size());
}

void JsonPrinter::open(std::uint64_t at) {
    open_ = true;
    wrote_ = true;
    first_ = at;
    last_end_ = at;
    if (object_start_.size() <= max_object_start) {
        std::memcpy(buffer_.get() + fill_, short_start_, max_object_start);
        fill_ += object_start_.size();
    } else {
        put(reinterpret_cast<const unsigned char*>(object_start_.data()), object_start_.size());
    }
    unsigned char* dst = buffer_.get() + fill_;
    dst += put_decimal(dst, at);
    dst += put_literal(dst, ",\"text\":\"");
    fill_ = static_cast<std::size_t>(dst - buffer_.get());
}

void JsonPrinter::close() {
    open_ = false;
    unsigned char* dst = buffer_.get() + fill_;
    dst += put_literal(dst, "\",\"length\":");
    dst += put_decimal(dst, last_end_ - first_);
    if (score_ >= 0) {
        dst += put_literal(dst, ",\"score\":");
        dst += put_decimal(dst, static_cast<std::uint64_t>(score_));
    }
    dst += put_literal(dst, "}\n");
    fill_ = static_cast<std::size_t>(dst - buffer_.get());
    if (fill_ >= capacity_) flush();
}
static_assert(sizeof "\",\"length\":" + 20 + sizeof ",\"score\":" + 20 + 2 <= JsonPrinter::max_close);
static_assert(sizeof ",\"text\":\"" + 20 <= JsonPrinter::max_open - JsonPrinter::max_object_start);

void JsonPrinter::write_text(const unsigned char* src, std::size_t n) {
    unsigned char* dst = buffer_.get() + fill_;
    const std::size_t size = print_utf8_run(utf8_kernel_, utf8_tables_, src, n, dst);
    // Runs of text hold a quote, a backslash or a control byte only where
    // the settings let them in: the rest is converted in place. Such a
    // byte of the UTF-8 is a single-byte character of the input (a
    // double-byte one is all bytes from 0x80), so the input is tested
    // first: the UTF-8 was just stored in pieces, and loading it back
    // would wait for the stores. A backslash may be a trail byte, so the
    // UTF-8 has the last word. Both tests read up to 15 bytes past the
    // text: the run has copy_extent(n), the buffer the slack kept for
    // escapes.
    static_assert(copy_extent(0) >= escape_test_overread + 1 && long_copy % 16 == 0);
    static_assert(escape_test_overread <= (json_per_cp932_byte - text::utf8_per_cp932_byte) * run_capacity);
    if (any_escape(src, n) && any_escape(dst, size)) {
        std::memcpy(utf8_, dst, size);
        for (std::size_t k = 0; k < size; ++k) {
            const std::size_t escaped = json_escape_byte(utf8_[k], dst);
            if (escaped == 0) *dst++ = utf8_[k];
            dst += escaped;
        }
    } else {
        dst += size;
    }
    fill_ = static_cast<std::size_t>(dst - buffer_.get());
    if (fill_ >= capacity_) flush();
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
