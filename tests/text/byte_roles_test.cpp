#include "text/byte_roles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "iconv_util.h"
#include "text/text_scan.h"

namespace kurvane {
namespace {

using test::Bytes;
using text::CharStep;
using text::ClassSet;
using text::InputEncoding;
using text::TextClass;

struct Setting {
    const char* name;
    ClassSet classes;
    std::vector<char32_t> excluded;
};

std::vector<Setting> settings() {
    ClassSet japanese;
    japanese.add(TextClass::hiragana).add(TextClass::katakana).add(TextClass::kanji);
    ClassSet half;
    half.add(TextClass::half_kana).add(TextClass::half_digit).add(TextClass::greek);
    return {{"japanese", japanese, {}},
            {"all, excluded in each set", ClassSet::all(), {U'の', U'\t', 0x4E02, 0xFF76, 0x20B9F, 0x00A9}},
            {"half-width and Greek", half, {}},
            {"none, excluded only", ClassSet{}, {U'a', U'字', 0x0080}}};
}

// The plain definition: decode, then the role of the character; none for
// bytes that start no valid character.
CharStep decoded_step(const text::ScanTables& t, const unsigned char* p, std::size_t left) {
    const text::Decoded d = t.spec().encoding == InputEncoding::euc_jp ? text::decode_euc_jp(p, left)
                                                                       : text::decode_utf8(p, left);
    const auto role = d.valid() ? static_cast<std::uint32_t>(t.role(d.value)) : 0u;
    return {role, role != 0 ? d.length : 0};
}

template <InputEncoding e>
void expect_step(const text::ScanTables& t, const Setting& s, const unsigned char* p, std::size_t left, int& failures) {
    const CharStep want = decoded_step(t, p, left);
    CharStep got = text::detail::step_at<e>(t, p, left);
    if (got.role == 0) got.length = 0;  // a none step's length means nothing
    if (got.role == want.role && got.length == want.length) return;
    if (++failures <= 5)
        ADD_FAILURE() << text::input_encoding_name(e) << ", " << s.name << ": bytes " << test::hex(p, left) << " step role "
                      << got.role << " length " << got.length << ", decoded role " << want.role << " length "
                      << want.length;
}

// Every byte, every pair of bytes, and every three-byte sequence the lead
// bytes of longer characters start (each cut short too), read from the
// byte tables as decoding and classifying reads them.
TEST(byte_roles, step_as_the_decoder_and_the_classes_read) {
    for (const Setting& s : settings()) {
        int failures = 0;
        const text::ScanTables euc({InputEncoding::euc_jp, s.classes, 1, s.excluded, {}});
        const text::ScanTables utf8({InputEncoding::utf8, s.classes, 1, s.excluded, {}});
        unsigned char b[4] = {};
        for (unsigned x = 0; x < 0x10000; ++x) {
            b[0] = static_cast<unsigned char>(x >> 8);
            b[1] = static_cast<unsigned char>(x);
            for (std::size_t left = 1; left <= 2; ++left) {
                expect_step<InputEncoding::euc_jp>(euc, s, b, left, failures);
                expect_step<InputEncoding::utf8>(utf8, s, b, left, failures);
            }
            // JIS X 0212 after SS3, and the one-lookup pair against the step.
            const unsigned char ss3[3] = {0x8F, b[0], b[1]};
            expect_step<InputEncoding::euc_jp>(euc, s, ss3, 3, failures);
            const CharStep pair = text::detail::step_at<InputEncoding::euc_jp>(euc, b, 2);
            EXPECT_EQ(euc.byte_roles().pair_role(b), b[0] >= 0xA1 && b[0] <= 0xFE ? pair.role : 0u)
                << s.name << ": " << test::hex(b, 2);
        }
        // Three-byte UTF-8 after every lead from 0xE0 to 0xEF, and the
        // one-lookup form after every byte at all.
        for (unsigned lead = 0; lead < 0x100; ++lead) {
            for (unsigned x = 0; x < 0x10000; ++x) {
                const unsigned char seq[3] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(x >> 8),
                                              static_cast<unsigned char>(x)};
                const bool three = lead >= 0xE0 && lead <= 0xEF;
                if (three) expect_step<InputEncoding::utf8>(utf8, s, seq, 3, failures);
                if (!three && (x & 0x3F) != 0x3F && (x & 0x3F) != 0) continue;
                const CharStep want = decoded_step(utf8, seq, 3);
                EXPECT_EQ(utf8.byte_roles().three_role(seq), want.length == 3 ? want.role : 0u)
                    << s.name << ": " << test::hex(seq, 3);
            }
        }
        // Four-byte UTF-8: every lead, the second byte's edges, some others.
        for (unsigned lead = 0xF0; lead < 0x100; ++lead) {
            for (const unsigned second : {0x7Fu, 0x80u, 0x8Fu, 0x90u, 0xA0u, 0xBFu, 0xC0u}) {
                for (const unsigned rest : {0x80u, 0x9Fu, 0xBFu, 0xC0u, 0x00u}) {
                    const unsigned char seq[4] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(second),
                                                  static_cast<unsigned char>(rest), 0xB9};
                    for (std::size_t left = 1; left <= 4; ++left)
                        expect_step<InputEncoding::utf8>(utf8, s, seq, left, failures);
                }
            }
        }
        // U+20B9F (𠮟) is F0 A0 AE 9F: excluded in one setting, kanji in the others.
        const unsigned char shikaru[4] = {0xF0, 0xA0, 0xAE, 0x9F};
        expect_step<InputEncoding::utf8>(utf8, s, shikaru, 4, failures);
    }
}

}  // namespace
}  // namespace kurvane
