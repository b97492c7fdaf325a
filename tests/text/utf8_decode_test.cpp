#include "text/utf8_decode.h"

#include <gtest/gtest.h>

#include "iconv_util.h"

namespace kurvane {
namespace {

using test::Bytes;

// Every scalar value, written by glibc in one go, reads back whole.
TEST(utf8_decode, reads_every_scalar_value) {
    test::Iconv encode("UTF-8", "UTF-32LE");
    ASSERT_TRUE(encode.ok());
    std::u32string all;
    for (char32_t u = 0; u < 0x110000; ++u)
        if (u < 0xD800 || u > 0xDFFF) all += u;
    Bytes utf8;
    ASSERT_TRUE(encode.all(test::utf32le(all), utf8));
    test::decodes_back(text::decode_utf8, utf8, all);
}

// Every one- and two-byte sequence, and every lead byte followed by every
// second byte and the edges of the continuation range, against glibc: the
// overlong forms (C0 80, E0 9F BF, F0 8F BF BF), the surrogates (ED A0 80),
// values past U+10FFFF (F4 90 80 80), five- and six-byte forms and
// sequences cut short are all invalid.
TEST(utf8_decode, refuses_what_glibc_refuses) {
    test::Iconv judge("UTF-32LE", "UTF-8");
    ASSERT_TRUE(judge.ok());
    constexpr unsigned char edges[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
    int failures = 0;
    for (unsigned b = 0; b < 256 && failures < 10; ++b) {
        const auto lead = static_cast<unsigned char>(b);
        failures += !test::same_first(judge, text::decode_utf8, &lead, 1);
        for (unsigned t = 0; t < 256 && failures < 10; ++t) {
            const auto second = static_cast<unsigned char>(t);
            const unsigned char two[] = {lead, second};
            failures += !test::same_first(judge, text::decode_utf8, two, 2);
            if (b < 0xE0) continue;
            for (const unsigned char third : edges) {
                const unsigned char three[] = {lead, second, third};
                failures += !test::same_first(judge, text::decode_utf8, three, 3);
                for (const unsigned char fourth : edges) {
                    const unsigned char four[] = {lead, second, third, fourth};
                    failures += !test::same_first(judge, text::decode_utf8, four, 4);
                }
            }
        }
    }
}

}  // namespace
}  // namespace kurvane
