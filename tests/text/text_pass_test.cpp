// The pass over the decoded encodings end to end: every encoding, output
// format, thread count and piece size against the whole-file reference
// scan, and the rules the reference does not cover (long runs, '?' for
// characters code page 932 lacks, the text filter, the encoding search).
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "engine/drive/encoding_guess.h"
#include "engine/pass_test_util.h"
#include "engine/print/printer.h"
#include "iconv_util.h"
#include "mixed_data.h"
#include "reference/reference_scan.h"
#include "text/cp932_encode.h"
#include "text/text_encoding.h"

namespace kurvane {
namespace {

using test::Bytes;
using text::InputEncoding;
using text::TextClass;

struct EncodingCase {
    InputEncoding encoding;
    const char* iconv_name;
};
constexpr EncodingCase encodings[] = {
    {InputEncoding::euc_jp, "EUC-JP"},
    {InputEncoding::utf8, "UTF-8"},
    {InputEncoding::utf16le, "UTF-16LE"},
    {InputEncoding::utf16be, "UTF-16BE"},
};
// The same with code page 932 first, and every encoding a search may name.
constexpr EncodingCase with_cp932[] = {{InputEncoding::cp932, "CP932"}, encodings[0], encodings[1], encodings[2],
                                       encodings[3]};
constexpr InputEncoding every_encoding[] = {InputEncoding::cp932, InputEncoding::euc_jp, InputEncoding::utf8,
                                            InputEncoding::utf16le, InputEncoding::utf16be};

Bytes encoded(const char* iconv_name, std::u32string_view text) {
    test::Iconv cv(iconv_name, "UTF-32LE");
    Bytes out;
    EXPECT_TRUE(cv.all(test::utf32le(std::u32string(text)), out)) << iconv_name;
    return out;
}

std::string utf8_of(std::u32string_view text) {
    const Bytes b = encoded("UTF-8", text);
    return std::string(b.begin(), b.end());
}

std::string cp932_of(std::u32string_view text) {
    text::Cp932Encoder encoder;
    std::string out;
    encoder.append(text, out);
    return out;
}

// One setting, as the reference takes it and as the settings record holds it.
struct Setting {
    const char* name;
    std::vector<TextClass> classes;
    std::uint32_t min_length;
    unsigned char xor_value;
    std::u32string excluded;  // double-byte characters of code page 932
    std::vector<std::u32string> exempt;
};

ExtractionSettings record_of(const Setting& s) {
    ExtractionSettings r;
    std::int32_t ExtractionSettings::*const flags[] = {
        &ExtractionSettings::half_digits,   &ExtractionSettings::half_upper,    &ExtractionSettings::half_lower,
        &ExtractionSettings::half_katakana, &ExtractionSettings::half_symbols,  &ExtractionSettings::full_hiragana,
        &ExtractionSettings::full_katakana, &ExtractionSettings::full_kanji,    &ExtractionSettings::full_digits,
        &ExtractionSettings::full_upper,    &ExtractionSettings::full_lower,    &ExtractionSettings::full_cyrillic,
        &ExtractionSettings::full_greek,    &ExtractionSettings::full_symbols};
    for (const auto f : flags) r.*f = 0;
    for (const TextClass c : s.classes) r.*flags[static_cast<int>(c) - 1] = 1;
    r.min_length = s.min_length;
    r.xor_value = s.xor_value;
    for (std::size_t k = 0; k < s.excluded.size(); ++k) {
        const std::string code = cp932_of(s.excluded.substr(k, 1));
        r.excluded_pairs[k][0] = static_cast<unsigned char>(code[0]);
        r.excluded_pairs[k][1] = static_cast<unsigned char>(code[1]);
    }
    for (std::size_t k = 0; k < s.exempt.size(); ++k) {
        const std::string code = cp932_of(s.exempt[k]);
        std::copy(code.begin(), code.end(), r.exempt_strings[k]);
    }
    return r;
}

test::ScanSettings reference_of(const Setting& s, InputEncoding encoding) {
    test::ScanSettings r;
    r.encoding = encoding;
    for (const TextClass c : s.classes) r.classes.add(c);
    r.min_length = s.min_length;
    r.xor_value = s.xor_value;
    r.excluded.assign(s.excluded.begin(), s.excluded.end());
    r.exempt = s.exempt;
    return r;
}

const std::vector<TextClass> japanese = {TextClass::hiragana, TextClass::katakana, TextClass::kanji};
const std::vector<TextClass> everything = {
    TextClass::half_digit, TextClass::half_upper, TextClass::half_lower, TextClass::half_kana,
    TextClass::half_symbol, TextClass::hiragana, TextClass::katakana,  TextClass::kanji,
    TextClass::full_digit, TextClass::full_upper, TextClass::full_lower, TextClass::cyrillic,
    TextClass::greek,      TextClass::full_symbol};

// The output formats, and how each writes one run found by the reference.
struct FormatCase {
    const char* name;
    OutputFormat format;
    bool lines;
};

OutputFormat format_of(TextEncoding encoding, LineEnd eol, OffsetRadix radix, std::string file, bool json) {
    OutputFormat f;
    f.encoding = encoding;
    f.eol = eol;
    f.radix = radix;
    f.file_name = std::move(file);
    f.json = json;
    return f;
}

const FormatCase formats[] = {
    {"plain", {}, true},
    {"utf-8, lf, hex offsets, name", format_of(TextEncoding::utf8, LineEnd::lf, OffsetRadix::hex, "f.dat", false),
     true},
    {"json with name", format_of(TextEncoding::cp932, LineEnd::crlf, OffsetRadix::none, "f.dat", true), true},
    {"decimal offsets, no line breaks",
     format_of(TextEncoding::cp932, LineEnd::crlf, OffsetRadix::decimal, "", false), false},
    // A name longer than the printer stores with a run goes its own way.
    {"long name", format_of(TextEncoding::cp932, LineEnd::crlf, OffsetRadix::none, std::string(100, 'n'), false),
     true},
};

std::string padded_offset(std::uint64_t v, OffsetRadix radix) {
    if (radix == OffsetRadix::none) return "";
    char text[32];
    const char* spec = radix == OffsetRadix::hex ? "%7llx " : radix == OffsetRadix::octal ? "%7llo " : "%7llu ";
    std::snprintf(text, sizeof text, spec, static_cast<unsigned long long>(v));
    return text;
}

std::string json_text(const std::string& utf8) {
    std::string out;
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20) {
            const char* named = c == '\n'   ? "\\n"
                                : c == '\r' ? "\\r"
                                : c == '\t' ? "\\t"
                                : c == '\b' ? "\\b"
                                : c == '\f' ? "\\f"
                                             : nullptr;
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", b);
            out += named != nullptr ? named : code;
        } else {
            out += c;
        }
    }
    return out;
}

std::string expected_output(const std::vector<test::ReferenceRun>& runs, const FormatCase& fc) {
    const OutputFormat& f = fc.format;
    std::string out;
    for (const test::ReferenceRun& run : runs) {
        if (f.json) {
            out += "{";
            if (!f.file_name.empty()) out += "\"file\":\"" + f.file_name + "\",";
            out += "\"offset\":" + std::to_string(run.offset) + ",\"text\":\"" + json_text(utf8_of(run.text)) +
                   "\",\"length\":" + std::to_string(run.length) + "}\n";
            continue;
        }
        if (!f.file_name.empty()) out += f.file_name + ": ";
        out += padded_offset(run.offset, f.radix);
        out += f.encoding == TextEncoding::utf8 ? utf8_of(run.text) : cp932_of(run.text);
        if (fc.lines) out += f.eol == LineEnd::lf ? "\n" : "\r\n";
    }
    return out;
}

std::string as_string(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::string run_engine(const Bytes& data, const ExtractionSettings& settings, InputEncoding encoding,
                       const OutputFormat* format, unsigned threads, std::size_t piece, test::Input input,
                       ExtractStatus* status = nullptr) {
    detail::PassOptions options;
    options.format = format;
    options.input_encoding = encoding;
    options.threads = threads;
    options.piece_size = piece;
    options.output_buffer_size = 64;
    return as_string(test::run_pass_through(input, data, settings, options, status));
}

// Every encoding, setting and format against the reference, on one thread
// and several, from both kinds of input, in pieces down to one byte.
TEST(TextPass, MatchesTheReferenceInEveryEncodingFormatAndPieceSize) {
    const std::vector<Setting> settings = {
        {"japanese", japanese, 1, 0, U"", {}},
        {"everything, -n 5, excluded, exempt", everything, 5, 0, U"の字", {U"漢", U"ｶﾀ"}},
        {"japanese, xor 0x5a, -n 3", japanese, 3, 0x5A, U"", {}},
        {"everything, -n 9", everything, 9, 0, U"", {}},
    };
    const std::size_t pieces[] = {1, 2, 3, 5, 8, 61, 4096};
    const unsigned thread_counts[] = {1, 2, 3};
    std::mt19937 rng(19);
    for (const EncodingCase& ec : encodings) {
        Bytes data = test::mixed_data(ec.iconv_name, rng);
        for (const Setting& s : settings) {
            Bytes stored = data;
            for (unsigned char& b : stored) b = static_cast<unsigned char>(b ^ s.xor_value);
            const std::vector<test::ReferenceRun> runs = test::reference_scan(stored, reference_of(s, ec.encoding));
            ASSERT_FALSE(runs.empty());
            for (const test::ReferenceRun& r : runs) ASSERT_LE(r.length, detail::split_limit);
            const ExtractionSettings record = record_of(s);
            for (const FormatCase& fc : formats) {
                const std::string want = expected_output(runs, fc);
                const OutputFormat* format = &fc.format;
                ExtractionSettings with_lines = record;
                with_lines.auto_newline = fc.lines ? 1 : 0;
                for (std::size_t p = 0; p < std::size(pieces); ++p) {
                    const unsigned threads = thread_counts[p % std::size(thread_counts)];
                    const test::Input input = test::both_inputs[(p + threads) % std::size(test::both_inputs)];
                    ASSERT_EQ(run_engine(stored, with_lines, ec.encoding, format, threads, pieces[p], input), want)
                        << ec.iconv_name << ", " << s.name << ", " << fc.name << ", threads " << threads
                        << ", piece " << pieces[p] << ", input " << test::name_of(input);
                }
            }
        }
    }
}

// Runs of ASCII shorter than the minimum, which the scan finds a block at a
// time, are written as the exempt string they hold, in every encoding, at a
// block's start, middle and end.
TEST(TextPass, ShortAsciiRunsMeetTheExemptStrings) {
    const Setting s{"ascii, -n 4, exempt", {TextClass::half_digit, TextClass::half_upper, TextClass::half_lower},
                    4, 0, U"", {U"1", U"A"}};
    const std::u32string text = U"b1\x01" U"xyz\x02" U"AB\x03" U"longer\x04" U"A";
    for (const EncodingCase& ec : encodings) {
        for (const std::size_t lead : {0, 1, 60, 62, 63, 64}) {
            Bytes data(lead * encoded(ec.iconv_name, U"\x01").size(), 0);
            const Bytes body = encoded(ec.iconv_name, text);
            data.insert(data.end(), body.begin(), body.end());
            ExtractionSettings record = record_of(s);
            // -n counts bytes of the input encoding: four characters.
            record.min_length = static_cast<std::uint32_t>(4 * encoded(ec.iconv_name, U"a").size());
            for (const std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{4096}}) {
                EXPECT_EQ(run_engine(data, record, ec.encoding, nullptr, 1, piece, test::both_inputs[0]),
                          "1\r\nA\r\nlonger\r\nA\r\n")
                    << ec.iconv_name << ", lead " << lead << ", piece " << piece;
            }
        }
    }
}

// The cp932 pass's line rule for long runs holds in input bytes: past 1000
// kept bytes a split goes out with no line break, and the rest is a run of
// its own that the length test may drop, leaving the line open.
TEST(TextPass, SplitsLongRunsAsTheCp932PassDoes) {
    const std::u32string long_run(600, U'あ');
    const Setting s{"japanese", japanese, 1, 0, U"", {}};
    for (const EncodingCase& ec : encodings) {
        const Bytes unit = encoded(ec.iconv_name, U"あ");
        const std::size_t per_char = unit.size();
        const std::size_t first_split = detail::split_limit / per_char + 1;  // chars that pass 1000 bytes
        Bytes data = encoded(ec.iconv_name, long_run);
        data.push_back(0);
        data.push_back(0);
        const Bytes tail = encoded(ec.iconv_name, U"い");
        data.insert(data.end(), tail.begin(), tail.end());
        ExtractionSettings record = record_of(s);
        const OutputFormat utf8 = format_of(TextEncoding::utf8, LineEnd::lf, OffsetRadix::none, "", false);
        const std::u32string piece1(first_split, U'あ');
        const std::u32string rest(600 - first_split, U'あ');
        // -n 1: the split and the rest form one line.
        EXPECT_EQ(run_engine(data, record, ec.encoding, &utf8, 1, 4096, test::Input::positional),
                  utf8_of(piece1 + rest) + "\n" + utf8_of(U"い") + "\n")
            << ec.iconv_name;
        // The rest is too short for -n: dropped, and the next run goes on the
        // split's line.
        record.min_length = static_cast<std::uint32_t>(rest.size() * per_char + 1);
        EXPECT_EQ(run_engine(data, record, ec.encoding, &utf8, 1, 4096, test::Input::positional), utf8_of(piece1))
            << ec.iconv_name;
        // JSON keeps a split run one object, its length in input bytes.
        record.min_length = 1;
        const OutputFormat json = format_of(TextEncoding::cp932, LineEnd::crlf, OffsetRadix::none, "", true);
        const std::string objects = run_engine(data, record, ec.encoding, &json, 2, 64, test::Input::stream);
        EXPECT_EQ(objects.substr(0, objects.find('\n') + 1),
                  "{\"offset\":0,\"text\":\"" + utf8_of(long_run) +
                      "\",\"length\":" + std::to_string(600 * per_char) + "}\n")
            << ec.iconv_name;
    }
}

// Code page 932 output writes '?' for what it lacks and counts it; UTF-8
// output writes the character.
TEST(TextPass, CountsCharactersCodePage932Lacks) {
    const Setting s{"japanese", japanese, 1, 0, U"", {}};
    for (const EncodingCase& ec : encodings) {
        if (ec.encoding == InputEncoding::euc_jp) continue;  // EUC-JP holds nothing code page 932 lacks here
        const Bytes data = encoded(ec.iconv_name, U"漢字\U00020B9Fと丂");
        std::atomic<std::uint64_t> substituted{0};
        detail::PassOptions options;
        options.input_encoding = ec.encoding;
        options.substituted = &substituted;
        test::MemorySource source(data);
        test::MemorySink sink;
        ASSERT_TRUE(detail::run_pass(source, sink, record_of(s), options).ok());
        EXPECT_EQ(as_string(sink.bytes), cp932_of(U"漢字") + "?" + cp932_of(U"と") + "?\r\n") << ec.iconv_name;
        EXPECT_EQ(substituted.load(), 2u) << ec.iconv_name;
        const OutputFormat utf8 = format_of(TextEncoding::utf8, LineEnd::lf, OffsetRadix::none, "", false);
        EXPECT_EQ(run_engine(data, record_of(s), ec.encoding, &utf8, 1, 4096, test::Input::positional),
                  utf8_of(U"漢字\U00020B9Fと丂") + "\n");
    }
}

// Japanese planted among noise of the same encoding; what --text keeps.
Bytes planted(const char* iconv_name, std::u32string_view sentence, std::mt19937& rng) {
    Bytes data;
    for (int k = 0; k < 3000; ++k) data.push_back(static_cast<unsigned char>(rng()));
    const Bytes text = encoded(iconv_name, sentence);
    data.insert(data.end(), {0, 0});
    data.insert(data.end(), text.begin(), text.end());
    data.insert(data.end(), {0, 0});
    for (int k = 0; k < 3000; ++k) data.push_back(static_cast<unsigned char>(rng()));
    return data;
}

constexpr char32_t sentence[] = U"これは日本語の文章です。設定を保存してから、もう一度お試しください。";

// Random bytes read as text now and then by chance (the score is made for
// about one such line in 80 KB of data), so the test bounds their count
// over many files rather than asking for none in one: the sentence is
// kept whole in every file, the same on one thread and three, and at most
// one file in four gains a line of noise.
TEST(TextPass, TextFilterKeepsTheSentenceAndDropsTheNoise) {
    Setting s{"japanese and ascii", everything, 1, 0, U"", {}};
    std::mt19937 rng(7);
    OutputFormat format = format_of(TextEncoding::utf8, LineEnd::lf, OffsetRadix::none, "", false);
    format.text.on = true;
    constexpr int files = 40;
    const std::string want = utf8_of(sentence) + "\n";
    for (const EncodingCase& ec : encodings) {
        int noise_lines = 0;
        for (int f = 0; f < files; ++f) {
            const Bytes data = planted(ec.iconv_name, sentence, rng);
            const std::string one = run_engine(data, record_of(s), ec.encoding, &format, 1, 97, test::Input::positional);
            ASSERT_EQ(run_engine(data, record_of(s), ec.encoding, &format, 3, 97, test::Input::positional), one)
                << ec.iconv_name << ", file " << f;
            const std::size_t at = one.find(want);
            ASSERT_TRUE(at != std::string::npos && (at == 0 || one[at - 1] == '\n'))
                << ec.iconv_name << ", file " << f << ": " << one;
            noise_lines += static_cast<int>(std::count(one.begin(), one.end(), '\n')) - 1;
        }
        EXPECT_LE(noise_lines, files / 4) << ec.iconv_name;
    }
}

// What the text filter writes of strings, each between zeros as a
// resource holds them, in one encoding, as UTF-8 lines.
std::string filtered_strings(const EncodingCase& ec, std::initializer_list<std::u32string> strings) {
    Setting s{"japanese and ascii", everything, 1, 0, U"", {}};
    OutputFormat format = format_of(TextEncoding::utf8, LineEnd::lf, OffsetRadix::none, "", false);
    format.text.on = true;
    Bytes data(4, 0);
    for (const std::u32string& string : strings) {
        const Bytes b = encoded(ec.iconv_name, string);
        data.insert(data.end(), b.begin(), b.end());
        data.insert(data.end(), 4, 0);
    }
    return run_engine(data, record_of(s), ec.encoding, &format, 1, 4096, test::Input::positional);
}

std::string utf8_lines(std::initializer_list<std::u32string> lines) {
    std::string out;
    for (const std::u32string& line : lines) out += utf8_of(line) + "\n";
    return out;
}

// In every encoding: a menu's labels are written whole with their access
// keys; text next to the C++ names of machine code is written without
// them, but for the last name before the text, which may be the text's
// own letters; a character and a mark is no word, whatever the score says
// of it, while two characters of words are, and so is a longer part among
// ASCII words.
TEST(TextPass, TextFilterWritesWhatReadsAsText) {
    // いいえ in UTF-16 is units of two printable ASCII bytes, as ASCII read
    // as UTF-16 gives; its key, which such ASCII never gives, tells it apart.
    const std::initializer_list<std::u32string> labels = {U"閉じる(_C)",           U"保存(_S)",  U"印刷(_P)...",
                                                          U"次へ(&N) >",           U"いいえ(&N)",
                                                          U"ファイルにコピー(&C)"};
    const std::u32string line = U"ファイルを開けませんでした。";
    for (const EncodingCase& ec : with_cp932) {
        EXPECT_EQ(filtered_strings(ec, labels), utf8_lines(labels)) << ec.iconv_name;
        EXPECT_EQ(filtered_strings(ec, {U"_ZNK5clang12ast_matchers8internal" + line + U"N4llvm2cl6parserE"}),
                  utf8_lines({U"8internal" + line + U"N"}))
            << ec.iconv_name;
        EXPECT_EQ(filtered_strings(ec, {U"要、", U"。上", U"人々", U"時計", U"http://www.google.com/ を URL"}),
                  utf8_lines({U"人々", U"時計", U"http://www.google.com/ を URL"}))
            << ec.iconv_name;
    }
}

// ASCII strings read as UTF-16 give ideographs ("ckag" of "package" is 正条)
// that the text filter drops, at either alignment, in either byte order.
TEST(TextPass, TextFilterDropsAsciiReadAsUtf16) {
    Setting s{"japanese and ascii", everything, 1, 0, U"", {}};
    OutputFormat format = format_of(TextEncoding::utf8, LineEnd::lf, OffsetRadix::none, "", false);
    format.text.on = true;
    const std::string strings =
        "No suitable package manager was found.\n\0Please check the package list.\0Updating the package "
        "cache (%s)\n\0";
    for (const EncodingCase& ec : {encodings[2], encodings[3]}) {
        for (std::size_t lead = 0; lead < 4; ++lead) {
            Bytes data(lead, 0);
            for (int k = 0; k < 8; ++k) data.insert(data.end(), strings.begin(), strings.end());
            data.insert(data.end(), 2, 0);
            const Bytes text = encoded(ec.iconv_name, sentence);
            data.insert(data.end(), text.begin(), text.end());
            data.insert(data.end(), 2, 0);
            EXPECT_EQ(run_engine(data, record_of(s), ec.encoding, &format, 1, 4096, test::Input::positional),
                      utf8_of(sentence) + "\n")
                << ec.iconv_name << ", lead " << lead;
        }
    }
}

// The search reads each sample as a pass over it alone would, under any
// key: its count of text characters is the count in the pass's --text
// output, here written in tiny pieces from a stream.
TEST(TextPass, SearchCountsTheTextAPassWrites) {
    Setting s{"japanese and ascii", everything, 1, 0, U"", {}};
    OutputFormat format = format_of(TextEncoding::utf8, LineEnd::lf, OffsetRadix::none, "", false);
    format.text.on = true;
    std::mt19937 rng(23);
    for (const EncodingCase& ec : with_cp932) {
        Bytes data;
        for (int k = 0; k < 3; ++k) {
            const Bytes part = planted(ec.iconv_name, sentence, rng);
            data.insert(data.end(), part.begin(), part.end());
        }
        for (const int key : {0x00, 0x3C}) {
            Bytes stored = data;
            for (unsigned char& b : stored) b = static_cast<unsigned char>(b ^ key);
            ExtractionSettings record = record_of(s);
            record.xor_value = key;
            record.auto_newline = 1;
            const std::string text = run_engine(stored, record, ec.encoding, &format, 1, 97, test::Input::stream);
            const auto chars = static_cast<std::uint64_t>(std::count_if(text.begin(), text.end(), [](char c) {
                return (static_cast<unsigned char>(c) & 0xC0u) != 0x80u && c != '\n';
            }));
            ASSERT_GE(chars, 3 * std::u32string_view(sentence).size()) << ec.iconv_name << " key " << key;
            // Several samples go through one scanner: each is read as if
            // alone, the second inheriting nothing of the first.
            const std::span<const unsigned char> twice[] = {stored, stored};
            EXPECT_EQ(text_characters(std::span(twice).first(1), record, ec.encoding), chars)
                << ec.iconv_name << " key " << key;
            EXPECT_EQ(text_characters(twice, record, ec.encoding), 2 * chars) << ec.iconv_name << " key " << key;
        }
    }
}

// Lines among ASCII strings of data with no zero bytes between them: the
// strings join the lines in one run (UTF-16 reads them as ideographs), and
// each line is kept whole, the second as well as the first. A line whose
// last character meets machine code is not cut where the other UTF-16
// alignment reads that character's last byte and the next as a longer run.
TEST(TextPass, TextFilterKeepsEveryLineOfARunWhole) {
    // Letters only, so that UTF-16 reads every two of them as an ideograph.
    const std::string strings = "XkbControlsMaskText_valuator_mask_set_range_InitInput_XkbFreeSrvLedInfo";
    const std::string code_before("\xC0y<\xE8'\x90\xFD\xFF\xC7\x00\x00\x00", 12);
    const std::string code_after("\x00\x00H\x8B\x84$8\x03\x00\x00dH", 12);
    struct Case {
        std::string before, between, after;
        std::u32string first, second;  // the second empty: one line only
    };
    const Case cases[] = {
        {strings, strings + strings, strings, U"これは日本語の文章です。", U"設定を保存してから、もう一度お試しください。"},
        {code_before, "", code_after, U"ティー", U""},
        {code_before, "", code_after, U"セーブしました。", U""},
    };
    Setting s{"japanese and ascii", everything, 1, 0, U"", {}};
    OutputFormat format = format_of(TextEncoding::utf8, LineEnd::lf, OffsetRadix::none, "", false);
    format.text.on = true;
    for (const EncodingCase& ec : encodings) {
        for (const Case& c : cases) {
            // The strings and the code are bytes in every encoding (UTF-16
            // reads ASCII strings two bytes a unit).
            const auto bytes = [](const std::string& t) { return Bytes(t.begin(), t.end()); };
            Bytes data{0, 0, 0, 0};
            const auto add = [&](const Bytes& b) { data.insert(data.end(), b.begin(), b.end()); };
            add(bytes(c.before));
            add(encoded(ec.iconv_name, c.first));
            add(bytes(c.between));
            if (!c.second.empty()) add(encoded(ec.iconv_name, c.second));
            add(bytes(c.after));
            data.insert(data.end(), {0, 0, 0, 0});
            const std::string one = run_engine(data, record_of(s), ec.encoding, &format, 1, 97, test::Input::positional);
            EXPECT_EQ(run_engine(data, record_of(s), ec.encoding, &format, 3, 7, test::Input::positional), one)
                << ec.iconv_name;
            for (const std::u32string& line : {c.first, c.second}) {
                if (line.empty()) continue;
                EXPECT_NE(one.find(utf8_of(line)), std::string::npos)
                    << ec.iconv_name << ": " << utf8_of(line) << " not whole in\n" << one;
            }
        }
    }
}

// The search names the encoding the text was written in, and with a key
// search finds the XOR too.
TEST(TextPass, SearchFindsTheEncodingAndTheKey) {
    Setting s{"japanese and ascii", everything, 1, 0, U"", {}};
    const ExtractionSettings record = record_of(s);
    std::mt19937 rng(11);
    for (const EncodingCase& ec : with_cp932) {
        Bytes data;
        // Twenty different lines: a line said again is no more evidence.
        for (std::size_t k = 0; k < 20; ++k) {
            std::u32string line(sentence);
            std::rotate(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(k), line.end());
            const Bytes part = planted(ec.iconv_name, line, rng);
            data.insert(data.end(), part.begin(), part.end());
        }
        const std::span<const unsigned char> samples[] = {data};
        const InputChoice plain = choose_input(samples, record, every_encoding, false);
        EXPECT_EQ(plain.encoding, ec.encoding) << ec.iconv_name;
        EXPECT_EQ(plain.key, 0) << ec.iconv_name;
        // Under 0x82 and 0x86 code page 932's kana are stored as the
        // units of UTF-16 rows, which other text in a file may be.
        for (const unsigned key : {0x3Cu, 0x82u, 0x86u}) {
            Bytes stored = data;
            for (unsigned char& b : stored) b = static_cast<unsigned char>(b ^ key);
            const std::span<const unsigned char> stored_samples[] = {stored};
            const InputChoice keyed = choose_input(stored_samples, record, every_encoding, true);
            EXPECT_EQ(keyed.encoding, ec.encoding) << ec.iconv_name << " key " << key;
            EXPECT_EQ(keyed.key, key) << ec.iconv_name;
            if (key != 0x3C) continue;
            // The candidates read on several threads give the same answer.
            const InputChoice threaded =
                choose_input(stored_samples, record, every_encoding, true, default_min_score, 3);
            EXPECT_TRUE(threaded.encoding == keyed.encoding && threaded.key == keyed.key &&
                        threaded.text_chars == keyed.text_chars)
                << ec.iconv_name;
        }
    }
}

// Machine code is half zeros and small values. A key that turns its zeros
// into the lead of a kana row (0xA4 for EUC-JP, 0xE3 for UTF-8) reads it
// as one kana after every other byte, more characters than the text
// planted in it holds: the search must still name the text's encoding and
// key, with the key search on and off.
TEST(TextPass, SearchIsNotFooledByZerosReadAsKana) {
    Setting s{"japanese and ascii", everything, 1, 0, U"", {}};
    const ExtractionSettings record = record_of(s);
    std::mt19937 rng(5);
    Bytes data;
    for (int k = 0; k < 40; ++k) {
        for (int b = 0; b < 6000; ++b) data.push_back(static_cast<unsigned char>(rng() % 2 ? 0 : rng() % 0x60));
        const Bytes text = encoded("CP932", sentence);
        data.insert(data.end(), text.begin(), text.end());
    }
    const std::span<const unsigned char> samples[] = {data};
    for (const int key : {0x00, 0x5A, 0xA4}) {
        Bytes stored = data;
        for (unsigned char& b : stored) b = static_cast<unsigned char>(b ^ key);
        const std::span<const unsigned char> stored_samples[] = {stored};
        const InputChoice keyed = choose_input(stored_samples, record, every_encoding, true);
        EXPECT_EQ(keyed.encoding, InputEncoding::cp932) << "key " << key;
        EXPECT_EQ(keyed.key, key) << "key " << key;
    }
    EXPECT_EQ(choose_input(samples, record, every_encoding, false).encoding, InputEncoding::cp932);
}

// Data without any text, shaped as machine code is: small values among
// zeros, negative numbers' 0xFF bytes; and bytes of any value among zeros.
// Keys that turn zeros or 0xFF into the lead of a kana row read it as the
// same few kana over and over, and the key that makes zeros 0x30 reads it
// as UTF-16 kana in both byte orders alike: the search takes no key for
// it, in any encoding, stored as it is or XORed.
TEST(TextPass, SearchFindsNoKeyInDataWithoutText) {
    Setting s{"japanese and ascii", everything, 1, 0, U"", {}};
    const ExtractionSettings record = record_of(s);
    std::mt19937 rng(17);
    constexpr std::size_t size = 600000;
    Bytes code;
    while (code.size() < size) {
        if (rng() % 2 != 0) {
            for (int b = 0; b < 64; ++b) code.push_back(static_cast<unsigned char>(rng() % 2 ? 0 : rng() % 0x60));
        } else {
            for (int b = 0; b < 16; ++b) {
                const std::uint32_t v = 0u - (rng() % 0x400);
                for (int k = 0; k < 4; ++k) code.push_back(static_cast<unsigned char>(v >> 8 * k));
            }
        }
    }
    Bytes sparse;
    while (sparse.size() < size) sparse.push_back(static_cast<unsigned char>(rng() % 2 ? 0 : rng()));
    for (const Bytes* data : {&code, &sparse}) {
        for (const int key : {0x00, 0x5A}) {
            Bytes stored = *data;
            for (unsigned char& b : stored) b = static_cast<unsigned char>(b ^ key);
            const std::span<const unsigned char> samples[] = {stored};
            const char* shape = data == &code ? "code" : "zeros among bytes";
            EXPECT_EQ(choose_input(samples, record, every_encoding, true).key, 0) << shape << " stored with " << key;
            for (const InputEncoding encoding : every_encoding)
                EXPECT_EQ(choose_input(samples, record, std::span(&encoding, 1), true).key, 0)
                    << shape << " stored with " << key << ", " << text::input_encoding_name(encoding);
        }
    }
}

// Text that is text as it is stored, in scripts other than Japanese: a
// key turns English into EUC-JP hiragana (its "e" into 0xA4), Cyrillic
// UTF-8 into EUC-JP kana and Burmese UTF-8 into UTF-8 kana, and some of
// that passes; the search takes no key for any of it, strings between
// zeros (a message catalogue) or lines.
TEST(TextPass, SearchTakesNoKeyForTextOfOtherScripts) {
    Setting s{"japanese and ascii", everything, 1, 0, U"", {}};
    const ExtractionSettings record = record_of(s);
    const std::u32string words[][8] = {
        {U"the", U"file", U"cannot", U"be", U"opened", U"when", U"value", U"default"},
        {U"файл", U"не", U"может", U"быть", U"открыт", U"значение", U"по", U"умолчанию"},
        {U"ဖိုင်", U"ဖွင့်", U"မရ", U"ပါ", U"တန်ဖိုး", U"မူလ", U"အမှား", U"စနစ်"},
    };
    std::mt19937 rng(23);
    for (const auto& script : words) {
        for (const char32_t end : {U'\0', U'\n'}) {
            std::u32string prose;
            while (prose.size() < 100000) {
                for (std::size_t n = 3 + rng() % 8; n > 0; --n) prose += script[rng() % 8] + U" ";
                prose.back() = end;
            }
            const Bytes data = encoded("UTF-8", prose);
            const std::span<const unsigned char> samples[] = {data};
            const InputChoice choice = choose_input(samples, record, every_encoding, true);
            EXPECT_EQ(choice.key, 0) << utf8_of(script[0]) << " took " << int{choice.key} << " as "
                                     << text::input_encoding_name(choice.encoding);
        }
    }
}

// A library's resources: short English strings in UTF-16, each after its
// length in a unit of its own, among a few Japanese ones. Under the key
// that turns their zeros into 0x30 each letter reads as a hiragana; the
// search takes no key for them and names the Japanese strings' encoding.
TEST(TextPass, SearchTakesNoKeyForUtf16Resources) {
    Setting s{"japanese and ascii", everything, 1, 0, U"", {}};
    const ExtractionSettings record = record_of(s);
    const std::u32string words[] = {U"Password", U"User name", U"Network", U"Cancel", U"Connect", U"Retry",
                                    U"Remember", U"Printer", U"Options", U"Close",   U"Browse",  U"Help"};
    const std::u32string japanese_strings[] = {U"設定を保存できませんでした", U"印刷中に問題が発生しました",
                                               U"接続先の名前を入力してください"};
    std::mt19937 rng(29);
    for (const EncodingCase& ec : {encodings[2], encodings[3]}) {
        const bool little = ec.encoding == InputEncoding::utf16le;
        Bytes data;
        const auto string = [&](const std::u32string& text) {
            const Bytes units = encoded(ec.iconv_name, text);
            const auto n = static_cast<unsigned char>(units.size() / 2);
            data.insert(data.end(), {little ? n : std::uint8_t{0}, little ? std::uint8_t{0} : n});
            data.insert(data.end(), units.begin(), units.end());
        };
        for (std::size_t k = 0; data.size() < 60000; ++k) {
            string(words[rng() % std::size(words)] + (k % 3 == 0 ? U"..." : U""));
            if (k % 50 == 0) string(japanese_strings[k / 50 % std::size(japanese_strings)]);
        }
        const std::span<const unsigned char> samples[] = {data};
        const InputChoice choice = choose_input(samples, record, every_encoding, true);
        EXPECT_EQ(choice.key, 0) << ec.iconv_name << " took " << int{choice.key} << " as "
                                 << text::input_encoding_name(choice.encoding);
        EXPECT_EQ(choice.encoding, ec.encoding) << ec.iconv_name;
    }
}

}  // namespace
}  // namespace kurvane
