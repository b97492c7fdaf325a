#include "text/run_convert.h"

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/cp932_encode.h"
#include "text/input_encoding.h"
#include "text/text_encoding.h"
#include "text/utf16.h"
#include "text/utf8_decode.h"

namespace kurvane::text {
namespace {

using Bytes = std::vector<unsigned char>;

void put_utf8(char32_t u, Bytes& out) {
    if (u < 0x80) {
        out.push_back(static_cast<unsigned char>(u));
    } else if (u < 0x800) {
        out.push_back(static_cast<unsigned char>(0xC0 | u >> 6));
        out.push_back(static_cast<unsigned char>(0x80 | (u & 0x3F)));
    } else if (u < 0x10000) {
        out.push_back(static_cast<unsigned char>(0xE0 | u >> 12));
        out.push_back(static_cast<unsigned char>(0x80 | (u >> 6 & 0x3F)));
        out.push_back(static_cast<unsigned char>(0x80 | (u & 0x3F)));
    } else {
        out.push_back(static_cast<unsigned char>(0xF0 | u >> 18));
        out.push_back(static_cast<unsigned char>(0x80 | (u >> 12 & 0x3F)));
        out.push_back(static_cast<unsigned char>(0x80 | (u >> 6 & 0x3F)));
        out.push_back(static_cast<unsigned char>(0x80 | (u & 0x3F)));
    }
}

void put_utf16(char32_t u, bool big, Bytes& out) {
    const auto unit = [&](char32_t v) {
        const auto lo = static_cast<unsigned char>(v & 0xFF), hi = static_cast<unsigned char>(v >> 8);
        out.push_back(big ? hi : lo);
        out.push_back(big ? lo : hi);
    };
    if (u < 0x10000) {
        unit(u);
    } else {
        unit(0xD800 + ((u - 0x10000) >> 10));
        unit(0xDC00 + ((u - 0x10000) & 0x3FF));
    }
}

// Every character of the encoding as its bytes: all of EUC-JP's codes,
// every BMP character and every 61st past it of the others.
std::vector<Bytes> every_character(InputEncoding in) {
    std::vector<Bytes> chars;
    if (in == InputEncoding::euc_jp) {
        const Decoder decode = decoder_for(in);
        for (unsigned a = 0; a < 0x100; ++a) {
            for (unsigned b = 0; b < 0x100; ++b) {
                for (unsigned c = 0; c < (a == 0x8F ? 0x100u : 1u); ++c) {
                    const Bytes bytes = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                         static_cast<unsigned char>(c)};
                    const Decoded d = decode(bytes.data(), bytes.size());
                    // Each code once: a one-byte code at b == 0, a two-byte one at c == 0.
                    if (d.valid() && (d.length == 3 || (d.length == 2 && c == 0) || (b == 0 && c == 0)))
                        chars.emplace_back(bytes.begin(), bytes.begin() + d.length);
                }
            }
        }
        return chars;
    }
    for (char32_t u = 0; u < 0x110000; u += u < 0x10000 ? 1 : 61) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
        Bytes bytes;
        if (in == InputEncoding::utf8)
            put_utf8(u, bytes);
        else
            put_utf16(u, in == InputEncoding::utf16be, bytes);
        chars.push_back(bytes);
    }
    return chars;
}

// What the printer writes one character at a time: the decoder's code
// point, encoded.
Bytes written(InputEncoding in, bool utf8_out, const Bytes& run, std::uint64_t& lacked) {
    const Decoder decode = decoder_for(in);
    Cp932Encoder cp932;
    Bytes out;
    for (std::size_t i = 0; i < run.size();) {
        const Decoded d = decode(run.data() + i, run.size() - i);
        if (utf8_out) {
            put_utf8(d.value, out);
        } else {
            unsigned char code[cp932_max_char_bytes];
            out.insert(out.end(), code, code + cp932.put(d.value, code));
        }
        i += d.length;
    }
    lacked += cp932.substituted();
    return out;
}

Bytes converted(const RunConverter& c, const Bytes& run, std::uint64_t& lacked) {
    Bytes out(RunConverter::max_out(run.size()) + 1, 0xEE);
    const std::size_t n = c.convert(run.data(), run.size(), out.data(), lacked);
    if (n == RunConverter::failed) return {0xFA, 0x11};
    EXPECT_LE(n, RunConverter::max_out(run.size()));
    EXPECT_EQ(out[RunConverter::max_out(run.size())], 0xEE) << "stored past its room";
    out.resize(n);
    return out;
}

constexpr InputEncoding encodings[] = {InputEncoding::euc_jp, InputEncoding::utf8, InputEncoding::utf16le,
                                       InputEncoding::utf16be};

// Each character alone, then all of them in runs of many: the bytes and
// the count of '?' are those of the per-character writer.
TEST(RunConverter, WritesEveryCharacterAsThePerCharacterWriter) {
    for (const InputEncoding in : encodings) {
        const std::vector<Bytes> chars = every_character(in);
        ASSERT_GT(chars.size(), 6000u);
        for (const bool utf8_out : {false, true}) {
            SCOPED_TRACE(std::string(input_encoding_name(in)) + (utf8_out ? " to UTF-8" : " to cp932"));
            const RunConverter c(in, utf8_out);
            std::size_t bad = 0;
            for (const Bytes& ch : chars) {
                std::uint64_t want_lacked = 0, got_lacked = 0;
                if (converted(c, ch, got_lacked) != written(in, utf8_out, ch, want_lacked) ||
                    got_lacked != want_lacked)
                    ++bad;
            }
            EXPECT_EQ(bad, 0u);
            // Runs of 300 characters, and the '?' counted on top of what
            // the caller held.
            for (std::size_t from = 0; from < chars.size(); from += 300) {
                Bytes run;
                for (std::size_t k = from; k < chars.size() && k < from + 300; ++k)
                    run.insert(run.end(), chars[k].begin(), chars[k].end());
                std::uint64_t want_lacked = 5, got_lacked = 5;
                ASSERT_EQ(converted(c, run, got_lacked), written(in, utf8_out, run, want_lacked)) << from;
                ASSERT_EQ(got_lacked, want_lacked) << from;
            }
        }
    }
}

// Every run of up to four characters drawn from each kind a step can take
// (a one-byte code, a half-width katakana, a double-byte code, one code
// page 932 lacks, a pair of surrogates, a control byte): a step that moves
// the cursor or the input by the wrong count after one kind shows here as
// the next character's bytes out of place.
TEST(RunConverter, MixedShortRunsAsThePerCharacterWriter) {
    constexpr char32_t kinds[] = {U'A', U'\uFF71', U'\u3042', U'\u00E9', U'\U0001F600', U'\u0001'};
    constexpr std::size_t kind_count = std::size(kinds);
    for (const InputEncoding in : {InputEncoding::utf8, InputEncoding::utf16le, InputEncoding::utf16be}) {
        for (const bool utf8_out : {false, true}) {
            SCOPED_TRACE(std::string(input_encoding_name(in)) + (utf8_out ? " to UTF-8" : " to cp932"));
            const RunConverter c(in, utf8_out);
            std::size_t runs = 0;
            for (std::size_t length = 1; length <= 4; ++length) {
                std::size_t count = 1;
                for (std::size_t k = 0; k < length; ++k) count *= kind_count;
                for (std::size_t pick = 0; pick < count; ++pick, ++runs) {
                    Bytes run;
                    std::string picked;
                    for (std::size_t k = 0, p = pick; k < length; ++k, p /= kind_count) {
                        const char32_t u = kinds[p % kind_count];
                        picked += std::to_string(p % kind_count);
                        if (in == InputEncoding::utf8)
                            put_utf8(u, run);
                        else
                            put_utf16(u, in == InputEncoding::utf16be, run);
                    }
                    std::uint64_t want_lacked = 0, got_lacked = 0;
                    ASSERT_EQ(converted(c, run, got_lacked), written(in, utf8_out, run, want_lacked))
                        << "kinds " << picked;
                    ASSERT_EQ(got_lacked, want_lacked) << "kinds " << picked;
                }
            }
            EXPECT_EQ(runs, 6u + 36u + 216u + 1296u);
        }
    }
}

// Bytes that are no whole characters are refused, and count nothing, even
// after characters written as '?'.
TEST(RunConverter, RefusesBytesThatAreNoWholeCharacters) {
    const struct {
        InputEncoding in;
        Bytes bytes;
    } cases[] = {
        {InputEncoding::euc_jp, {0xA4}},                    // a lead at the end
        {InputEncoding::euc_jp, {0xA4, 0xA2, 0xA4, 0x41}},  // a lead before ASCII
        {InputEncoding::euc_jp, {0x8E}},
        {InputEncoding::euc_jp, {0x8E, 0xE0}},              // past the half-width katakana
        {InputEncoding::euc_jp, {0x8F, 0xB0}},
        {InputEncoding::euc_jp, {0xA9, 0xA1}},              // an unassigned code
        {InputEncoding::euc_jp, {0xFF}},
        {InputEncoding::euc_jp, {0xA0}},
        {InputEncoding::utf8, {0xE3, 0x81}},
        {InputEncoding::utf8, {0x41, 0x80}},
        {InputEncoding::utf8, {0xC0, 0x80}},                // overlong
        {InputEncoding::utf8, {0x41, 0xE0, 0x9F, 0xBF}},    // overlong, three bytes
        {InputEncoding::utf8, {0xF0, 0x9F, 0x98, 0x80, 0xED, 0xA0, 0x80}},  // a surrogate after U+1F600
        {InputEncoding::utf16le, {0x41, 0x00, 0x42}},       // half a unit
        {InputEncoding::utf16le, {0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8}},  // a high surrogate at the end
        {InputEncoding::utf16le, {0x00, 0xDC, 0x41, 0x00}},  // a low surrogate alone
        {InputEncoding::utf16be, {0xD8, 0x3D, 0x00, 0x41}},  // a high one before no low one
    };
    for (const auto& t : cases) {
        for (const bool utf8_out : {false, true}) {
            const RunConverter c(t.in, utf8_out);
            Bytes out(RunConverter::max_out(t.bytes.size()));
            std::uint64_t lacked = 7;
            EXPECT_EQ(c.convert(t.bytes.data(), t.bytes.size(), out.data(), lacked), RunConverter::failed)
                << input_encoding_name(t.in) << " " << t.bytes.size();
            EXPECT_EQ(lacked, 7u);
        }
    }
}

// The table of the plane's codes, built from the characters code page 932
// holds rather than a search for every code point, against that search for
// each: a character the build leaves out reads as one it lacks.
TEST(RunConverter, BmpCodesAreTheCodeOfEveryCodePoint) {
    const std::uint16_t* codes = cp932_bmp_codes();
    std::size_t bad = 0;
    for (char32_t u = 0; u < 0x10000; ++u) {
        const int want = cp932_code(u);
        if (codes[u] != (want < 0 ? cp932_no_code : want)) {
            if (++bad <= 5) ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(u) << ": " << codes[u];
        }
    }
    EXPECT_EQ(bad, 0u);
}

TEST(RunConverter, TakesNoCodePage932Input) {
    EXPECT_THROW(RunConverter(InputEncoding::cp932, false), std::invalid_argument);
}

}  // namespace
}  // namespace kurvane::text
