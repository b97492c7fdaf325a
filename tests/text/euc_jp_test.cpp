#include "text/euc_jp.h"

#include <gtest/gtest.h>

#include "iconv_util.h"

namespace kurvane {
namespace {

using test::Bytes;

// Every one- and two-byte sequence and every three bytes after SS3, each
// read as glibc reads its first character; a sequence cut short is
// invalid, as glibc finds it incomplete.
TEST(euc_jp, reads_every_sequence_as_glibc_does) {
    test::Iconv judge("UTF-32LE", "EUC-JP");
    if (!judge.ok()) GTEST_SKIP() << "iconv has no EUC-JP";
    int failures = 0;
    for (unsigned b = 0; b < 256 && failures < 10; ++b) {
        const unsigned char one[] = {static_cast<unsigned char>(b)};
        failures += !test::same_first(judge, text::decode_euc_jp, one, 1);
        for (unsigned t = 0; t < 256 && failures < 10; ++t) {
            const unsigned char two[] = {static_cast<unsigned char>(b), static_cast<unsigned char>(t)};
            failures += !test::same_first(judge, text::decode_euc_jp, two, 2);
            const unsigned char three[] = {text::detail::euc_jp_ss3, static_cast<unsigned char>(b),
                                           static_cast<unsigned char>(t)};
            failures += !test::same_first(judge, text::decode_euc_jp, three, 3);
        }
    }
}

// Every character the decoder reads is written back by glibc as the same
// bytes, so no character has two codes; and the sets hold what they should.
TEST(euc_jp, every_character_has_one_code) {
    test::Iconv encode("EUC-JP", "UTF-32LE");
    if (!encode.ok()) GTEST_SKIP() << "iconv has no EUC-JP";
    int failures = 0;
    auto count_and_write_back = [&](const Bytes& in, int& count) {
        const text::Decoded d = text::decode_euc_jp(in.data(), in.size());
        if (!d.valid() || failures >= 10) return;
        ++count;
        EXPECT_EQ(d.length, in.size()) << test::hex(in);
        Bytes back;
        if (!encode.all(test::utf32le(std::u32string(1, d.value)), back) || back != in) {
            ADD_FAILURE() << test::hex(in) << " is U+" << std::hex << static_cast<unsigned>(d.value)
                          << ", which glibc writes as " << test::hex(back);
            ++failures;
        }
    };
    int jis0208 = 0, jis0212 = 0, kana = 0;
    for (unsigned row = 0xA1; row <= 0xFE; ++row) {
        const auto r = static_cast<unsigned char>(row);
        count_and_write_back({text::detail::euc_jp_ss2, r}, kana);
        for (unsigned cell = 0xA1; cell <= 0xFE; ++cell) {
            const auto c = static_cast<unsigned char>(cell);
            count_and_write_back({r, c}, jis0208);
            count_and_write_back({text::detail::euc_jp_ss3, r, c}, jis0212);
        }
    }
    // JIS X 0208 as glibc maps it, JIS X 0212, and 0xA1-0xDF after SS2.
    EXPECT_EQ(jis0208, 6879);
    EXPECT_EQ(jis0212, 6067);
    EXPECT_EQ(kana, 0xDF - 0xA1 + 1);
}

}  // namespace
}  // namespace kurvane
