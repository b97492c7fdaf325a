#include "engine/text_encoding.h"

#include <gtest/gtest.h>

#include "engine/classifier.h"
#include "pass_test_util.h"

#ifdef __linux__
#include <iconv.h>
#endif

namespace kurvane {
namespace {

using test::Bytes;
using test::hex;

Bytes to_utf8(const Bytes& cp932) {
    Bytes out(detail::utf8_per_cp932_byte * cp932.size());
    out.resize(detail::cp932_to_utf8(cp932.data(), cp932.size(), out.data()));
    return out;
}

// Edges of the conversion, including bytes the classifier never lets into a
// run (an exempt string may still hold them): each becomes U+FFFD alone and
// the conversion goes on with the next byte.
TEST(text_encoding, converts_characters_and_replaces_what_is_not_one) {
    struct Case {
        Bytes in;
        Bytes want;
        const char* why;
    };
    const Case cases[] = {
        {{'A', 0x5C, 0x7E}, {'A', 0x5C, 0x7E}, "ASCII stays as it is"},
        {{0xA1, 0xB1, 0xDF}, {0xEF, 0xBD, 0xA1, 0xEF, 0xBD, 0xB1, 0xEF, 0xBE, 0x9F},
         "half-width katakana stay half-width"},
        {{0x82, 0xA0, 0x88, 0x9F}, {0xE3, 0x81, 0x82, 0xE4, 0xBA, 0x9C}, "あ 亜"},
        {{0x81, 0x5F}, {0xEF, 0xBC, 0xBC}, "the Microsoft mapping: fullwidth reverse solidus"},
        {{0x84, 0x40}, {0xD0, 0x90}, "a two-byte UTF-8 form"},
        {{0x80, 0xA0, 0xFD}, {0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD},
         "bytes that start no character"},
        {{'x', 0x82}, {'x', 0xEF, 0xBF, 0xBD}, "a lead byte at the end"},
        {{0x82, 0x20}, {0xEF, 0xBF, 0xBD, 0x20}, "a lead byte before a byte that is no trail"},
        {{0x85, 0x40}, {0xEF, 0xBF, 0xBD, 0x40}, "an unassigned pair"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(to_utf8(c.in), c.want) << c.why << ": input " << hex(c.in) << " gave "
                                         << hex(to_utf8(c.in));
}

#ifdef __linux__
// glibc's code page 932 decoder as an outside opinion on every byte and pair
// that the classifier accepts as text with every class on.
TEST(text_encoding, agrees_with_iconv_on_every_text_character) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "iconv has no CP932";
    ExtractionSettings on;
    for (auto flag : {&ExtractionSettings::half_digits, &ExtractionSettings::half_upper,
                      &ExtractionSettings::half_lower, &ExtractionSettings::half_katakana,
                      &ExtractionSettings::half_symbols})
        on.*flag = 1;
    int checked = 0;
    int failures = 0;
    for (unsigned lead = 0; lead < 256; ++lead) {
        for (unsigned trail = 0; trail < 256 && failures < 10; ++trail) {
            const CharClass c = classify_pair(on, static_cast<unsigned char>(lead),
                                              static_cast<unsigned char>(trail));
            if (c != CharClass::Double && !(c == CharClass::Single && trail == 0)) continue;
            Bytes in{static_cast<unsigned char>(lead)};
            if (c == CharClass::Double) in.push_back(static_cast<unsigned char>(trail));
            char out[16];
            char* in_p = reinterpret_cast<char*>(in.data());
            char* out_p = out;
            std::size_t in_left = in.size();
            std::size_t out_left = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            const bool decoded =
                iconv(cd, &in_p, &in_left, &out_p, &out_left) != static_cast<std::size_t>(-1);
            const Bytes want = decoded ? Bytes(out, out_p) : Bytes{};
            ++checked;
            if (to_utf8(in) != want) {
                ADD_FAILURE() << "input " << hex(in) << " gave " << hex(to_utf8(in)) << ", iconv "
                              << hex(want);
                ++failures;
            }
        }
    }
    iconv_close(cd);
    // Every double-byte character of the classes and the single-byte ones.
    EXPECT_GT(checked, 7000);
}
#endif

}  // namespace
}  // namespace kurvane
