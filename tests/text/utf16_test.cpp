#include "text/utf16.h"

#include <gtest/gtest.h>

#include "iconv_util.h"

namespace kurvane {
namespace {

using test::Bytes;

struct Order {
    const char* iconv_name;
    text::Decoder decode;
    text::ByteOrder order;
};
constexpr Order orders[] = {{"UTF-16LE", text::decode_utf16le, text::ByteOrder::little},
                            {"UTF-16BE", text::decode_utf16be, text::ByteOrder::big}};

void put_unit(Bytes& out, char16_t unit, text::ByteOrder order) {
    const auto low = static_cast<unsigned char>(unit & 0xFF);
    const auto high = static_cast<unsigned char>(unit >> 8);
    if (order == text::ByteOrder::little) out.insert(out.end(), {low, high});
    else out.insert(out.end(), {high, low});
}

// Every code unit alone, and followed by a unit of each kind (a character,
// a high and a low surrogate at their edges), in both byte orders, against
// glibc: a lone surrogate, a high one before anything but a low one, and
// an odd byte are invalid.
TEST(utf16, reads_every_unit_as_glibc_does) {
    constexpr char16_t next_units[] = {0x0041, 0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000};
    for (const Order& o : orders) {
        test::Iconv judge("UTF-32LE", o.iconv_name);
        ASSERT_TRUE(judge.ok()) << o.iconv_name;
        int failures = 0;
        for (unsigned u = 0; u < 0x10000 && failures < 10; ++u) {
            Bytes in;
            put_unit(in, static_cast<char16_t>(u), o.order);
            failures += !test::same_first(judge, o.decode, in.data(), 1);
            failures += !test::same_first(judge, o.decode, in.data(), 2);
            for (const char16_t next : next_units) {
                in.resize(2);
                put_unit(in, next, o.order);
                failures += !test::same_first(judge, o.decode, in.data(), 3);
                failures += !test::same_first(judge, o.decode, in.data(), 4);
            }
        }
    }
}

// Every surrogate pair, written by glibc in one go, reads back whole.
TEST(utf16, reads_every_surrogate_pair) {
    std::u32string all;
    for (char32_t u = 0x10000; u < 0x110000; ++u) all += u;
    for (const Order& o : orders) {
        test::Iconv encode(o.iconv_name, "UTF-32LE");
        ASSERT_TRUE(encode.ok()) << o.iconv_name;
        Bytes utf16;
        ASSERT_TRUE(encode.all(test::utf32le(all), utf16));
        test::decodes_back(o.decode, utf16, all);
    }
}

}  // namespace
}  // namespace kurvane
