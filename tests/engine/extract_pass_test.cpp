#include <gtest/gtest.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "engine/classes/exempt.h"
#include "engine/extract.h"
#include "engine/drive/pass.h"
#include "engine/scan/split_bytes.h"
#include "text/text_encoding.h"
#include "pass_test_util.h"
#include "reference_extract.h"

namespace kurvane {
namespace {

using namespace std::string_literals;
using test::Bytes;
using test::bytes;
using test::hex;

const Bytes crlf = {0x0D, 0x0A};

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes repeat(std::string_view text, std::size_t times) {
    Bytes all;
    for (std::size_t k = 0; k < times; ++k) all.insert(all.end(), text.begin(), text.end());
    return all;
}

ExtractionSettings upper_letters(std::uint32_t min_length = 1) {
    ExtractionSettings s;
    s.half_upper = 1;
    s.min_length = min_length;
    return s;
}

void set_exempt(ExtractionSettings& s, std::size_t k, std::string_view text) {
    std::memset(s.exempt_strings[k], 0, exempt_string_width);
    std::memcpy(s.exempt_strings[k], text.data(), std::min(text.size(), exempt_string_width));
}

void set_excluded(ExtractionSettings& s, std::size_t k, unsigned char b0, unsigned char b1) {
    s.excluded_pairs[k][0] = b0;
    s.excluded_pairs[k][1] = b1;
}

// Hand-written expectations hold for the reference pass and for the real
// pass at every piece size: one byte, sizes that split double-byte
// characters and long runs, and the default.
void expect_output(const Bytes& data, const ExtractionSettings& s, const Bytes& want) {
    EXPECT_EQ(test::reference_extract(data, s), want)
        << "reference, input " << hex(data) << "\n want " << hex(want);
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7},
                              std::size_t{1000}, std::size_t{1001}, detail::default_piece_size}) {
        const Bytes got = test::run_pass_on(data, s, piece, 4096);
        EXPECT_EQ(got, want) << "piece " << piece << ", input " << hex(data) << "\n got  "
                             << hex(got) << "\n want " << hex(want);
    }
}

TEST(extract_pass, runs_become_lines) {
    const ExtractionSettings defaults;
    expect_output({}, defaults, {});
    // Nothing under the defaults: single-byte classes are off.
    expect_output(bytes("\0\0ABC 123\x7f\x85\x40"s), defaults, {});
    expect_output(bytes("\0あいう\0"s), defaults, cat({bytes("あいう"), crlf}));
    // Runs at the very start and the very end, and a run broken by one non-text byte.
    expect_output(bytes("漢字\0\0カナ。\x01ｱ全角"s), defaults,
                  cat({bytes("漢字"), crlf, bytes("カナ。"), crlf, bytes("全角"), crlf}));
    ExtractionSettings no_break;
    no_break.auto_newline = 0;
    expect_output(bytes("あ\0い\0う"s), no_break, bytes("あいう"));
}

TEST(extract_pass, lengths_are_bytes_and_compared_unsigned) {
    ExtractionSettings s = upper_letters(4);
    s.full_hiragana = 1;
    // Two double-byte characters are 4 bytes; three letters are 3.
    expect_output(bytes("\0ああ\0ABC\0ABCD"s), s, cat({bytes("ああ"), crlf, bytes("ABCD"), crlf}));
    s.min_length = 0xFFFFFFFFu;  // as loaded from a file: nothing is long enough
    expect_output(bytes("ABCDEFGH"), s, {});
    s.min_length = 0;
    // min_length 0 writes empty runs too: here a run made only of an excluded pair.
    set_excluded(s, 0, 0x82, 0xA0);
    expect_output(bytes("\0あ\0A"s), s, cat({crlf, bytes("A"), crlf}));
    s.auto_newline = 0;
    expect_output(bytes("\0あ\0A"s), s, bytes("A"));
}

TEST(extract_pass, excluded_pairs_vanish_without_breaking_the_run) {
    ExtractionSettings s = upper_letters();
    s.full_symbols = 1;
    set_excluded(s, 3, 0x81, 0x40);  // the double-byte space
    expect_output(bytes("\0A　B\0"s), s, cat({bytes("AB"), crlf}));
    // Only excluded pairs: an empty run, not written when min_length is 1.
    expect_output(bytes("\0　　\0C"s), s, cat({bytes("C"), crlf}));
    // An excluded pair is taken two bytes at a time even where a character would
    // start at its second byte.
    set_excluded(s, 4, 'X', 'Y');
    expect_output(bytes("AXYZ"), s, cat({bytes("AZ"), crlf}));
}

TEST(extract_pass, exempt_strings_rescue_short_runs) {
    ExtractionSettings s = upper_letters(20);
    set_exempt(s, 0, "ABC");
    // The run becomes exactly the exempt string.
    expect_output(bytes("\0XYABCZ\0"s), s, cat({bytes("ABC"), crlf}));
    // The lowest index wins, not the first occurrence in the run.
    set_exempt(s, 0, "CD");
    set_exempt(s, 1, "AB");
    expect_output(bytes("ABCD"), s, cat({bytes("CD"), crlf}));
    // A long enough run is written whole even though it holds an exempt string.
    s.min_length = 4;
    expect_output(bytes("ABCD"), s, cat({bytes("ABCD"), crlf}));
    // Offsets are one byte apart: a pattern may start on a trail byte.
    ExtractionSettings jp;
    jp.min_length = 20;
    set_exempt(jp, 2, "\xA0\x82");
    expect_output(bytes("\0あい\0"s), jp, cat({bytes("\xA0\x82"), crlf}));
    // A pattern longer than the run never matches.
    set_exempt(jp, 2, "あいう");
    expect_output(bytes("\0あい\0"s), jp, {});
    // A loaded entry with no zero in its 21 bytes counts its first 20.
    ExtractionSettings full = upper_letters(100);
    std::memcpy(full.exempt_strings[0], "ABCDEFGHIJKLMNOPQRSTU", 21);
    expect_output(bytes("\0ABCDEFGHIJKLMNOPQRST\0"s), full,
                  cat({bytes("ABCDEFGHIJKLMNOPQRST"), crlf}));
}

TEST(extract_pass, long_run_is_written_in_pieces) {
    const ExtractionSettings defaults;
    // 2,000 bytes: a piece of 1,002 with no line break, then 998 passing the test.
    const Bytes kanji = repeat("漢", 1000);
    expect_output(kanji, defaults, cat({kanji, crlf}));
    ExtractionSettings strict;
    strict.min_length = 999;  // the 998-byte rest is dropped
    expect_output(kanji, strict, Bytes(kanji.begin(), kanji.begin() + 1002));
    ExtractionSettings zero;
    zero.min_length = 0;  // the empty run after a piece writes a line break
    expect_output(kanji, zero,
                  cat({Bytes(kanji.begin(), kanji.begin() + 1002), crlf,
                       Bytes(kanji.begin() + 1002, kanji.end()), crlf}));
    // The same at an odd offset: with small pieces the 1,002nd byte is then
    // the last of a piece, and the scan must resume after it, not on it (the
    // trail byte of 漢, 0xBF, would read as a single-byte katakana).
    zero.half_katakana = 1;
    expect_output(cat({bytes("\0"s), kanji}), zero,
                  cat({Bytes(kanji.begin(), kanji.begin() + 1002), crlf,
                       Bytes(kanji.begin() + 1002, kanji.end()), crlf}));

    // 1,001 letters end as a piece; the next run continues the same line.
    const ExtractionSettings s = upper_letters(2);
    expect_output(cat({repeat("A", 1001), bytes("\0XY"s)}), s,
                  cat({repeat("A", 1001), bytes("XY"), crlf}));
    // Exactly 1,000 bytes is still an ordinary run.
    expect_output(cat({repeat("A", 1000), bytes("\0XY"s)}), s,
                  cat({repeat("A", 1000), crlf, bytes("XY"), crlf}));
    // A double-byte character at byte 1,000 makes a piece of 1,002 and is not split.
    ExtractionSettings both = upper_letters();
    both.full_hiragana = 1;
    expect_output(cat({repeat("A", 1000), bytes("あ\0B"s)}), both,
                  cat({repeat("A", 1000), bytes("あB"), crlf}));
    // After a piece the next byte starts a new run at once when it is text.
    expect_output(cat({repeat("A", 1003), bytes("\0"s)}), both,
                  cat({repeat("A", 1003), crlf}));
    // An excluded pair adds nothing to the length.
    ExtractionSettings ex = upper_letters();
    set_excluded(ex, 0, 'Q', 'Q');
    expect_output(cat({repeat("A", 1000), bytes("QQB\0C"s)}), ex,
                  cat({repeat("A", 1000), bytes("BC"), crlf}));
}

// The block scan takes the candidates of 64 bytes at a time from a window
// of its skip kernel's masks, refilled every 1,024 bytes or when a run takes
// the scan past it. Runs are placed at every offset around those widths,
// before and after a stretch of binary bytes that can start text but
// mostly do not (lone lead bytes), so runs start and end on every side of
// a block's and a window's edge and of the piece's last byte.
TEST(extract_pass, runs_at_every_offset_around_the_block_and_window_edges) {
    ExtractionSettings s;
    s.half_upper = 1;
    s.min_length = 2;
    const Bytes leads = repeat("\x82\x01\x88\x7F", 80);  // candidates, none text
    for (std::size_t at = 0; at < 1100; ++at) {
        const std::size_t step = at < 40 || (at > 980 && at < 1100) ? 1 : 37;
        if (at % step != 0) continue;
        const Bytes data = cat({Bytes(at, 0), bytes("あA"), Bytes(1, 0), bytes("B"), leads,
                                repeat("漢", 40), bytes("XY"), Bytes(at % 67, 0x20), bytes("\x82")});
        const Bytes want = test::reference_extract(data, s);
        for (std::size_t piece : {std::size_t{63}, std::size_t{64}, std::size_t{65}, std::size_t{1023},
                                  std::size_t{1024}, std::size_t{1025}, detail::default_piece_size}) {
            const Bytes got = test::run_pass_on(data, s, piece, 4096);
            ASSERT_EQ(got, want) << "runs at " << at << ", piece " << piece;
        }
    }
}

// Double-byte runs long enough to go on by the pair masks, which are marked
// a window of 1,024 positions at a time and refilled wherever a run leaves
// one, ending in every kind of stop: a pair that is no text, one of a lead
// whose ranges the masks do not all test (0x81) both as text and not, a
// single-byte character, an excluded pair, the end of the data. Runs of 8
// characters and more take the masks; 1,000 bytes and more are split.
TEST(extract_pass, long_double_runs_end_where_the_table_says) {
    const Bytes chars[] = {bytes("漢"), bytes("あ"), bytes("ア"), bytes("、"), bytes("♪"),
                           bytes("◯"), bytes("ー"), bytes("０")};
    const Bytes stops[] = {bytes("\x82\x01"s), bytes("\x81\xFD"s), bytes("\x81\xF0"s), bytes("A"),
                           bytes("\x81\x45"s), bytes("\0"s)};
    ExtractionSettings letters;
    letters.half_upper = 1;
    ExtractionSettings excluded = letters;
    set_excluded(excluded, 0, 0x81, 0x45);
    ExtractionSettings empty_runs = excluded;
    empty_runs.min_length = 0;  // every run takes the general path
    ExtractionSettings strict = excluded;
    strict.min_length = 40;
    std::mt19937 rng(932);
    for (std::size_t at : {0, 1, 31, 33, 63, 959, 960, 961, 1023, 1025}) {
        Bytes data(at, 0x20);
        for (std::size_t n : {8, 9, 16, 17, 31, 32, 33, 100, 480, 499, 500, 501, 700}) {
            for (const Bytes& stop : stops) {
                for (std::size_t k = 0; k < n; ++k) {
                    const Bytes& c = chars[rng() % 8 < 5 ? 0 : rng() % std::size(chars)];
                    data.insert(data.end(), c.begin(), c.end());
                }
                data.insert(data.end(), stop.begin(), stop.end());
                data.insert(data.end(), rng() % 3, 0x01);
            }
        }
        // The last run ends with the data, on a lone lead byte.
        for (std::size_t k = 0; k < 40; ++k) data.insert(data.end(), chars[0].begin(), chars[0].end());
        data.push_back(0x88);
        for (const ExtractionSettings& s : {ExtractionSettings{}, letters, excluded, empty_runs, strict}) {
            const Bytes want = test::reference_extract(data, s);
            for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{64}, std::size_t{1000},
                                      std::size_t{1025}, detail::default_piece_size}) {
                const Bytes got = test::run_pass_on(data, s, piece, 4096);
                ASSERT_EQ(got, want) << "runs from " << at << ", piece " << piece << ", min length "
                                     << s.min_length << ", excluded " << int{s.excluded_pairs[0][0]};
            }
        }
    }
}

// Runs of single- and double-byte characters several splits long, after
// dense binary bytes of random length, so that the 64-byte blocks the scan
// takes by their masks start anywhere in a run and a split's last
// character lies on every side of a block's edge: its first byte at the
// edge, its trail there, a single-byte one there.
TEST(extract_pass, splits_end_on_every_side_of_a_block_edge) {
    ExtractionSettings s;
    s.half_upper = 1;
    s.half_katakana = 1;
    ExtractionSettings strict = s;
    strict.min_length = 3;
    std::mt19937 rng(1002);
    for (int round = 0; round < 150; ++round) {
        Bytes data;
        for (int part = 0; part < 3; ++part) {
            // Lead bytes before trails that mostly make no text.
            for (std::size_t k = rng() % 160; k > 0; --k) {
                data.push_back(static_cast<unsigned char>(0x88 + rng() % 8));
                data.push_back(static_cast<unsigned char>(rng() % 0x50));
            }
            data.push_back(0);
            for (std::size_t n = 1000 + rng() % 4000, k = 0; k < n; ++k) {
                const Bytes c = rng() % 3 == 0 ? bytes(rng() % 2 == 0 ? "A" : "\xB1") : bytes("漢");
                data.insert(data.end(), c.begin(), c.end());
            }
        }
        for (const ExtractionSettings& settings : {s, strict}) {
            const Bytes want = test::reference_extract(data, settings);
            for (std::size_t piece : {std::size_t{999}, detail::default_piece_size})
                ASSERT_EQ(test::run_pass_on(data, settings, piece, 4096), want)
                    << "round " << round << ", piece " << piece << ", min length " << settings.min_length;
        }
    }
}

TEST(extract_pass, end_of_data) {
    const ExtractionSettings defaults;
    // A lead byte as the last byte ends the run before it and is not written.
    expect_output(bytes("\0あ\x82"s), defaults, cat({bytes("あ"), crlf}));
    expect_output(bytes("\x82"), defaults, {});
    // An excluded single character meets the first padding byte, the pass
    // steps past the end, and the run ends there.
    ExtractionSettings s = upper_letters();
    set_excluded(s, 0, 'Z', 0);
    expect_output(bytes("ABZ"), s, cat({bytes("AB"), crlf}));
    expect_output(bytes("Z"), s, {});
    expect_output(bytes("AZB"), s, cat({bytes("AZB"), crlf}));
    // The XOR step leaves the padding zero: 0x22 ^ 0xA0 is the lead 0x82, and
    // were the padding XORed too it would read as 0x82 0xA0.
    ExtractionSettings x;
    x.xor_value = 0xA0;
    expect_output(bytes("\x22"), x, {});
    expect_output(bytes("\x22\xA0\x22"), x, {});
}

TEST(extract_pass, xor_uses_the_low_byte_on_data_only) {
    const Bytes plain = bytes("\0ひらがな\x01カタカナ漢字\x02\x82"s);
    ExtractionSettings s;
    const Bytes want = test::reference_extract(plain, s);
    ASSERT_EQ(want, cat({bytes("ひらがな"), crlf, bytes("カタカナ漢字"), crlf}));
    for (std::uint32_t value : {0x55u, 0x1FFu, 0x12345678u}) {
        Bytes stored = plain;
        for (auto& b : stored) b = static_cast<unsigned char>(b ^ (value & 0xFF));
        s.xor_value = value;
        expect_output(stored, s, want);
    }
    s.xor_value = 0x100;  // low byte 0: no change
    expect_output(plain, s, want);
}

// Random settings and inputs built from the pieces that matter (text of every
// class, lead bytes, zeros, excluded pairs, exempt strings, long runs), run
// with random piece and output-buffer sizes against the reference.
class RandomCase {
public:
    explicit RandomCase(std::uint32_t seed) : rng_(seed) {}

    ExtractionSettings settings() {
        ExtractionSettings s;
        for (auto* f : {&s.half_digits, &s.half_upper, &s.half_lower, &s.half_katakana,
                        &s.half_symbols, &s.full_hiragana, &s.full_katakana, &s.full_kanji,
                        &s.full_digits, &s.full_upper, &s.full_lower, &s.full_cyrillic,
                        &s.full_greek, &s.full_symbols})
            *f = pick(3) == 0 ? 0 : static_cast<std::int32_t>(rng_());
        const std::uint32_t lengths[] = {0, 1, 1, 2, 3, 4, 7, 20, 999, 1001, 0xFFFFFFFF};
        s.min_length = lengths[pick(std::size(lengths))];
        s.auto_newline = pick(4) == 0 ? 0 : 1;
        s.xor_value = pick(3) == 0 ? static_cast<std::uint32_t>(rng_()) : 0;
        for (auto& e : s.excluded_pairs) {
            if (pick(3) != 0) continue;
            const unsigned char* src = byte_pool(pick(4));
            e[0] = src[0];
            e[1] = pick(4) == 0 ? static_cast<unsigned char>(0) : src[1];
        }
        for (auto& e : s.exempt_strings) {
            if (pick(2) != 0) continue;
            const std::size_t n = 1 + pick(21);
            for (std::size_t k = 0; k < n; ++k) e[k] = byte_pool(pick(4))[pick(2)];
        }
        return s;
    }

    Bytes data() {
        Bytes d;
        const std::size_t parts = pick(40);
        for (std::size_t p = 0; p < parts; ++p) {
            switch (pick(8)) {
            case 0: append_random(d, 1 + pick(40)); break;
            case 1: d.insert(d.end(), 1 + pick(20), 0); break;
            case 2: append_ascii(d, 1 + pick(30)); break;
            case 3:
            case 4: append_sjis(d, 1 + pick(30)); break;
            case 5: append_sjis(d, 400 + pick(700)); break;  // crosses the 1,000-byte rule
            case 6: d.push_back(static_cast<unsigned char>(0x81 + pick(0x1F))); break;
            default: d.insert(d.end(), byte_pool(0), byte_pool(0) + 2); break;
            }
        }
        return d;
    }

    std::size_t pick(std::size_t n) { return rng_() % n; }

private:
    // A few bytes that the settings and the data share, so that excluded
    // pairs and exempt strings actually occur.
    const unsigned char* byte_pool(std::size_t k) {
        static const unsigned char pool[][2] = {
            {0x82, 0xA0}, {'A', 'B'}, {0x81, 0x40}, {0xB1, 0x20}};
        return pool[k % 4];
    }
    void append_random(Bytes& d, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) d.push_back(static_cast<unsigned char>(rng_()));
    }
    void append_ascii(Bytes& d, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) d.push_back(static_cast<unsigned char>(0x20 + pick(0x5F)));
    }
    void append_sjis(Bytes& d, std::size_t n) {
        static const unsigned char leads[] = {0x81, 0x82, 0x83, 0x84, 0x88, 0x93, 0x98,
                                              0xE0, 0xEA, 0xEE, 0xFA, 0xFC, 0x85, 0xF0};
        for (std::size_t k = 0; k < n; ++k) {
            if (pick(30) == 0) {
                d.push_back(static_cast<unsigned char>(0x41 + pick(26)));
                continue;
            }
            d.push_back(leads[pick(std::size(leads))]);
            d.push_back(static_cast<unsigned char>(0x40 + pick(0xBD)));
        }
    }
    std::mt19937 rng_;
};

TEST(extract_pass, matches_the_reference_on_random_inputs) {
    for (std::uint32_t seed = 1; seed <= 1500; ++seed) {
        RandomCase rc(seed);
        const ExtractionSettings s = rc.settings();
        const Bytes data = rc.data();
        const Bytes want = test::reference_extract(data, s);
        const std::size_t piece = rc.pick(3) == 0 ? 1 + rc.pick(4) : 1 + rc.pick(3000);
        const std::size_t out_buffer = 1 + rc.pick(5000);
        const test::Input input = test::both_inputs[seed % 2];
        detail::PassOptions options{piece, out_buffer};
        // Stretches of a few bytes are a hand-over each: several threads
        // take them in one case of eight.
        const unsigned thread_counts[] = {1, 2, 3, 8};
        if (piece > 4 || seed % 8 == 0) options.threads = thread_counts[seed / 3 % std::size(thread_counts)];
        const Bytes got = test::run_pass_through(input, data, s, options);
        ASSERT_EQ(got, want) << "seed " << seed << " input " << test::name_of(input) << " threads "
                             << options.threads << " piece " << piece << " output buffer "
                             << out_buffer << " input " << hex(data);
    }
}

TEST(extract_pass, matches_the_reference_on_a_large_input) {
    // Large enough for several default-size output flushes and vector-skip blocks.
    RandomCase rc(99);
    Bytes data;
    while (data.size() < (std::size_t{3} << 20)) {
        const Bytes part = rc.data();
        data.insert(data.end(), part.begin(), part.end());
    }
    ExtractionSettings s;
    s.half_katakana = 1;
    const Bytes want = test::reference_extract(data, s);
    EXPECT_EQ(test::run_pass_on(data, s), want);
    EXPECT_EQ(test::run_pass_on(data, s, 65537, 3000), want);
}

// Every path of the scan, met at every offset against piece and output
// buffer boundaries: short and long runs of each class, runs of 999 to 1,003
// bytes around the piece rule, double-byte runs up to 5,000 bytes, runs
// that mix the two widths, excluded pairs and exempt strings inside runs,
// and a lead byte as the last byte of the input.
Bytes boundary_input() {
    std::mt19937 rng(11);
    Bytes d;
    const auto gap = [&] {
        d.push_back(0);
        for (std::size_t k = rng() % 5; k > 0; --k) d.push_back(static_cast<unsigned char>(rng()));
        d.push_back(0);
    };
    const auto add = [&](const Bytes& part) {
        d.insert(d.end(), part.begin(), part.end());
        gap();
    };
    add(bytes("あいう"));
    add(bytes("ABC def 123 !?"));
    add(bytes("ｱｲｳｴｵ"));
    for (std::size_t n : {999, 1000, 1001, 1002, 1003, 2003}) add(repeat("A", n));
    for (std::size_t n : {499, 500, 501, 502, 1000, 2500}) add(repeat("漢", n));
    add(cat({repeat("か", 300), bytes("x"), repeat("字", 400), bytes("ｱ"), repeat("Z", 450)}));
    add(cat({repeat("A", 998), bytes("　B"), repeat("ア", 600), bytes("QQ"), repeat("b", 30)}));
    add(cat({bytes("xyABCz"), bytes("\0"s), bytes("えあいお"), bytes("\0"s), bytes("QQQQ")}));
    for (int k = 0; k < 40; ++k) add(repeat("ん", 1 + rng() % 12));
    d.push_back(0x82);  // a lead byte with no trail
    return d;
}

struct SettingsShape {
    const char* name;
    ExtractionSettings settings;
};

std::vector<SettingsShape> boundary_shapes() {
    std::vector<SettingsShape> shapes;
    shapes.push_back({"defaults", ExtractionSettings{}});
    ExtractionSettings half;
    half.half_digits = half.half_upper = half.half_lower = half.half_katakana =
        half.half_symbols = 1;
    shapes.push_back({"half-width on", half});
    ExtractionSettings zero = half;  // empty runs are written too
    zero.min_length = 0;
    set_excluded(zero, 0, 'Q', 'Q');
    shapes.push_back({"min_length 0, excluded pair", zero});
    ExtractionSettings joined = half;
    joined.auto_newline = 0;
    joined.min_length = 3;
    shapes.push_back({"no line break", joined});
    ExtractionSettings rules = half;
    rules.min_length = 8;
    set_excluded(rules, 0, 0x81, 0x40);
    set_excluded(rules, 5, 'Q', 'Q');
    set_exempt(rules, 0, "ABC");
    set_exempt(rules, 3, "あい");
    shapes.push_back({"excluded pairs and exempt strings", rules});
    ExtractionSettings xored = rules;
    xored.xor_value = 0x5A;
    shapes.push_back({"xor", xored});
    // Excluded pairs that hold the zero byte: a run goes on over "A\0", so
    // the input may no longer be cut at zeros, only at the other separators.
    ExtractionSettings held = half;
    set_excluded(held, 0, 'A', 0x00);
    set_excluded(held, 1, 0x82, 0x00);
    set_excluded(held, 2, 0x01, 0x02);
    shapes.push_back({"zero byte in excluded pairs", held});
    return shapes;
}

// Runs that hold excluded pairs, each a gap in the bytes written: leading,
// trailing, back to back, only gaps, dense enough that the joined bytes
// pass the split rule or just fall short of the minimum (where an exempt
// string may span a gap), in both widths. Each stands at every offset to
// the 64-byte blocks and meets piece ends; every printer writes the
// reference's bytes and offsets.
TEST(extract_pass, runs_holding_excluded_pairs_match_the_reference_at_every_offset) {
    ExtractionSettings s;
    s.half_digits = s.half_upper = s.half_lower = s.half_katakana = s.half_symbols = 1;
    s.min_length = 8;
    set_excluded(s, 0, '\\', 'n');
    set_excluded(s, 1, 0x81, 0x40);  // the double-byte space
    set_exempt(s, 0, "HP");
    set_exempt(s, 2, "n\\");  // matches across a kept byte and a lead
    set_exempt(s, 4, "ｱｲ");
    set_exempt(s, 5, "\x92\x92");  // a double-byte character, from a trail byte and a lead
    const Bytes gap = bytes("\\n");
    const std::vector<Bytes> runs = {
        cat({bytes("ab"), gap, bytes("cd")}),                // short, no exempt
        cat({bytes("H"), gap, bytes("Pxy")}),                // the exempt string over the gap
        cat({bytes("\x8A\x92"), gap, bytes("\x92\x40")}),    // a double-byte one over the gap
        cat({gap, bytes("ABCDEFGHIJ")}),                     // a gap leads
        cat({bytes("ABCDEFGH"), gap}),                       // a gap ends it
        cat({gap, gap, gap}),                                // only gaps
        cat({bytes("ABCDEFG"), gap, gap, bytes("n\\")}),     // eight written, one a gap apart
        repeat("wxyz\\n", 300),                              // a split in the joined bytes
        repeat("ｱ\\n\x81\x40", 700),                         // two gaps per byte written
        repeat("あ\\n", 600),                                // double-byte, over two splits
        cat({repeat("漢", 498), gap, bytes("字字字字")}),     // the split just past a gap
    };
    std::vector<OutputFormat> formats(3);
    formats[1].encoding = TextEncoding::utf8;
    formats[1].eol = LineEnd::lf;
    formats[1].radix = OffsetRadix::hex;
    formats[2].json = true;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        for (std::size_t at = 0; at < 130; ++at) {
            // Each run twice, the second at another block offset.
            const Bytes data = cat({Bytes(at, 0), runs[r], Bytes(1 + at % 7, 0), runs[r], bytes("\0Q"s)});
            std::vector<test::ReferenceWrite> writes;
            const Bytes want_plain = test::reference_extract(data, s, &writes);
            for (std::size_t f = 0; f < formats.size(); ++f) {
                const Bytes want =
                    f == 0 ? want_plain : test::formatted_reference(writes, formats[f], true);
                for (std::size_t piece : {std::size_t{5}, std::size_t{64}, std::size_t{1001},
                                          detail::default_piece_size}) {
                    if (f != 0 && piece == 5 && at % 13 != 0) continue;
                    detail::PassOptions options{piece, 4096};
                    if (f != 0) options.format = &formats[f];
                    const Bytes got = test::run_pass_through(test::Input::positional, data, s, options);
                    const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
                    ASSERT_EQ(got, want) << "run " << r << " at " << at << ", format " << f
                                         << ", piece " << piece << ", first difference at "
                                         << (diff.first - got.begin());
                }
            }
        }
    }
}

// Both inputs of the driver, each with one thread and with several, at
// every stretch size from a byte up: the output is the reference's.
TEST(extract_pass, every_boundary_with_every_input_and_thread_count_matches_the_reference) {
    const Bytes plain = boundary_input();
    const std::size_t pieces[] = {1, 2, 3, 63, 64, 65, 999, 1000, 1001, 1003, 4096,
                                  detail::default_piece_size};
    // Output buffers from one byte up past the longest store behind the end.
    const std::size_t outputs[] = {1, 2, 3, 4, 5, 15, 16, 17, 31, 32, 33, 1000, 1002, 1025, 4096};
    const unsigned thread_counts[] = {1, 2, 3, 8};
    for (const SettingsShape& shape : boundary_shapes()) {
        Bytes data = plain;
        for (auto& c : data) c = static_cast<unsigned char>(c ^ (shape.settings.xor_value & 0xFF));
        const Bytes want = test::reference_extract(data, shape.settings);
        for (const test::Input input : test::both_inputs) {
            for (std::size_t t = 0; t < std::size(thread_counts); ++t) {
                for (std::size_t p = 0; p < std::size(pieces); ++p) {
                    for (std::size_t o = 0; o < std::size(outputs); ++o) {
                        const std::size_t piece = pieces[p];
                        const std::size_t output = outputs[o];
                        // Every stretch is a turn between threads: with
                        // several, each of the smallest stretches meets one
                        // output size and the middle ones every third.
                        if (t > 0 && piece < 64 && o != (p * 5 + t) % std::size(outputs)) continue;
                        if (t > 0 && piece >= 64 && piece < 4096 && o % 3 != (p + t) % 3) continue;
                        detail::PassOptions options{piece, output};
                        options.threads = thread_counts[t];
                        // Workers with one output wait for their turn;
                        // with two, the holder of the turn writes theirs.
                        options.outputs_per_worker = 1 + static_cast<unsigned>((p + o) % 2);
                        ExtractStatus st;
                        const Bytes got = test::run_pass_through(input, data, shape.settings, options, &st);
                        const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
                        ASSERT_TRUE(st.ok() && got == want && st.bytes_in == data.size())
                            << shape.name << ", input " << test::name_of(input) << ", threads "
                            << options.threads << " with " << options.outputs_per_worker << " outputs, piece " << piece
                            << ", output buffer " << output
                            << ": " << got.size() << " bytes, want " << want.size()
                            << ", first difference at " << (diff.first - got.begin());
                    }
                }
            }
        }
    }
}

std::vector<OutputFormat> test_formats() {
    std::vector<OutputFormat> formats(7);
    formats[0].encoding = TextEncoding::utf8;
    formats[1].eol = LineEnd::lf;
    formats[2].radix = OffsetRadix::hex;
    formats[3].radix = OffsetRadix::decimal;
    formats[3].file_name = "a.dat";
    formats[4].encoding = TextEncoding::utf8;
    formats[4].eol = LineEnd::lf;
    formats[4].radix = OffsetRadix::octal;
    formats[4].file_name = "データ/" + std::string(1500, 'n');  // longer than most output buffers
    formats[5].json = true;
    formats[6].json = true;
    formats[6].file_name = "a \"b\"\\c\td.dat";  // each of these needs an escape
    return formats;
}

// Every printer writes the plain pass's runs, byte for byte, at every
// boundary and with every driver and thread count, each line's offset that
// of the input byte where its first printed byte lies. With more than one
// thread, a source that reads at offsets has the workers read their own
// stretches, a stream is read by each worker in turn: stretches as small
// as a byte show what a stretch inherits (a line left open).
TEST(extract_pass, formatted_output_at_every_boundary_matches_the_reference) {
    const Bytes plain = boundary_input();
    const std::size_t pieces[] = {1, 3, 64, 1001, detail::default_piece_size};
    const std::size_t outputs[] = {1, 17, 1025};
    const unsigned thread_counts[] = {1, 2, 3, 8};
    const std::vector<SettingsShape> shapes = boundary_shapes();
    for (std::size_t shape_index = 0; shape_index < shapes.size(); ++shape_index) {
        const SettingsShape& shape = shapes[shape_index];
        Bytes data = plain;
        for (auto& c : data) c = static_cast<unsigned char>(c ^ (shape.settings.xor_value & 0xFF));
        std::vector<test::ReferenceWrite> writes;
        test::reference_extract(data, shape.settings, &writes);
        const std::vector<OutputFormat> formats = test_formats();
        for (std::size_t f = 0; f < formats.size(); ++f) {
            const OutputFormat& format = formats[f];
            const Bytes want = test::formatted_reference(writes, format, shape.settings.auto_newline != 0);
            for (std::size_t p = 0; p < std::size(pieces); ++p) {
                for (std::size_t o = 0; o < std::size(outputs); ++o) {
                    const test::Input input = test::both_inputs[(p + o + shape_index) % 2];
                    detail::PassOptions options{pieces[p], outputs[o]};
                    options.format = &format;
                    // Each pass on threads starts them and hands over every
                    // stretch: half the cases take them, and with stretches
                    // of a few bytes one output size, which shows what a
                    // stretch inherits.
                    options.threads = thread_counts[(p + o + f) % std::size(thread_counts)];
                    if ((pieces[p] < 64 && o != 0) || (shape_index + f) % 2 != 0) options.threads = 1;
                    options.outputs_per_worker = 1 + static_cast<unsigned>((p + shape_index) % 2);
                    ExtractStatus st;
                    const Bytes got = test::run_pass_through(input, data, shape.settings, options, &st);
                    const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
                    ASSERT_TRUE(st.ok() && got == want && st.bytes_out == got.size())
                        << shape.name << ", format " << f
                        << " (utf8 " << (format.encoding == TextEncoding::utf8) << ", radix "
                        << static_cast<int>(format.radix) << ", json " << format.json
                        << "), input " << test::name_of(input) << ", threads " << options.threads
                        << " with " << options.outputs_per_worker << " outputs, piece " << pieces[p] << ", output buffer " << outputs[o] << ": "
                        << got.size() << " bytes, want " << want.size()
                        << ", first difference at " << (diff.first - got.begin()) << ": "
                        << test::hex({diff.first, got.end()}, 16);
                }
            }
        }
    }
}

// Both scans report a failing source or sink, and count what they read and
// wrote; progress follows the pieces read and ends at the input's size.
TEST(extract_pass, read_and_write_failures_are_reported) {
    const Bytes data = cat({repeat("漢", 3000), bytes("\0かな\0"s)});
    const ExtractionSettings defaults;
    OutputFormat formatted;
    formatted.radix = OffsetRadix::hex;
    struct Case {
        const char* name;
        const OutputFormat* format;
        unsigned threads;
        bool positional;  // the threads read their own stretches
        unsigned outputs = 1;  // per worker: with 2 another thread may write it
    };
    const Case cases[] = {{"plain", nullptr, 1, false},
                          {"plain, 3 threads", nullptr, 3, false},
                          {"plain, 3 threads reading at offsets", nullptr, 3, true},
                          {"plain, 3 threads, 2 outputs each", nullptr, 3, false, 2},
                          {"plain, 3 threads reading at offsets, 2 outputs each", nullptr, 3, true, 2},
                          {"formatted", &formatted, 1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const OutputFormat* const format = c.format;
        detail::PassOptions options{1024, 4096};
        options.format = format;
        options.threads = c.threads;
        options.outputs_per_worker = c.outputs;
        const auto source_for = [&c](const Bytes& d, std::size_t fail_at = SIZE_MAX) {
            test::MemorySource source(d, fail_at, EIO);
            if (c.positional) source.offer_positional(d.size());
            return source;
        };
        {
            test::MemorySource source = source_for(data, 5000);
            test::MemorySink sink;
            const ExtractStatus st = detail::run_pass(source, sink, defaults, options);
            EXPECT_EQ(st.error, ExtractError::read_input);
            EXPECT_EQ(st.sys_errno, EIO);
        }
        {
            test::MemorySource source = source_for(data);
            test::MemorySink sink(100);
            const ExtractStatus st = detail::run_pass(source, sink, defaults, options);
            EXPECT_EQ(st.error, ExtractError::write_output);
            EXPECT_EQ(st.sys_errno, ENOSPC);
            // Nothing after the failed write: what was written begins the output.
            const Bytes all = test::reference_extract(data, defaults);
            if (format == nullptr) {
                EXPECT_TRUE(std::equal(sink.bytes.begin(), sink.bytes.end(), all.begin()));
            }
        }
        {
            std::vector<std::uint64_t> seen;
            const std::function<void(std::uint64_t)> progress = [&seen](std::uint64_t n) {
                seen.push_back(n);
            };
            options.progress = &progress;
            test::MemorySource source = source_for(data);
            test::MemorySink sink;
            const ExtractStatus st = detail::run_pass(source, sink, defaults, options);
            EXPECT_TRUE(st.ok());
            EXPECT_EQ(st.bytes_in, data.size());
            EXPECT_EQ(st.bytes_out, sink.bytes.size());
            if (format == nullptr) {
                EXPECT_EQ(sink.bytes, test::reference_extract(data, defaults));
            }
            // Several threads read stretches cut at separators: their count varies.
            if (c.threads == 1) {
                EXPECT_EQ(seen.size(), data.size() / 1024 + 1);
            }
            EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
            EXPECT_EQ(seen.empty() ? 0 : seen.back(), data.size());
        }
    }
}

// A regular file's size may be wrong by the time it is read: it grew, it
// shrank, or it says 0 as files in /proc do. Threads reading their own
// stretches read on to the data's end, and stop at it, either way.
TEST(extract_pass, threads_reading_at_offsets_go_by_the_data_not_its_size) {
    const Bytes data = boundary_input();
    const std::size_t n = data.size();
    const std::uint64_t sizes[] = {0, 1, n / 3, n - 1, n + 1, 3 * n};
    const std::size_t pieces[] = {1, 7, 64, 1000, 4096};
    const unsigned thread_counts[] = {2, 3, 8};
    for (const SettingsShape& shape : boundary_shapes()) {
        Bytes stored = data;
        for (auto& c : stored) c = static_cast<unsigned char>(c ^ (shape.settings.xor_value & 0xFF));
        const Bytes want = test::reference_extract(stored, shape.settings);
        for (std::size_t z = 0; z < std::size(sizes); ++z) {
            for (std::size_t p = 0; p < std::size(pieces); ++p) {
                test::MemorySource source(stored);
                source.offer_positional(sizes[z]);
                test::MemorySink sink;
                detail::PassOptions options{pieces[p], 1000};
                options.threads = thread_counts[(z + p) % std::size(thread_counts)];
                const ExtractStatus st = detail::run_pass(source, sink, shape.settings, options);
                ASSERT_TRUE(st.ok() && sink.bytes == want && st.bytes_in == n)
                    << shape.name << ", size said " << sizes[z] << ", piece " << pieces[p]
                    << ", threads " << options.threads << ": " << sink.bytes.size()
                    << " bytes, want " << want.size() << ", read " << st.bytes_in;
            }
        }
    }
}

// Data that is cut short while it is read: a read that starts at or after
// `from` sees only the first `left` bytes, as if the file shrank between
// the reads of two stretches. The size it gives is the whole data's, when
// it reads at offsets at all.
class ShrinkingSource final : public detail::ByteSource {
public:
    ShrinkingSource(std::span<const unsigned char> data, std::size_t from, std::size_t left,
                    test::Input input)
        : data_(data), from_(from), left_(left), positional_(input == test::Input::positional) {}
    std::size_t read(unsigned char* dst, std::size_t n) override {
        int error = 0;
        const std::size_t got = read_at(pos_, dst, n, error);
        pos_ += got;
        return got;
    }
    int error() const override { return 0; }
    bool positional(std::uint64_t& size) override {
        size = data_.size();
        return positional_;
    }
    std::size_t read_at(std::uint64_t offset, unsigned char* dst, std::size_t n, int&) override {
        const std::size_t end = offset >= from_ ? left_ : data_.size();
        if (offset >= end) return 0;
        const std::size_t got = std::min<std::size_t>(n, end - static_cast<std::size_t>(offset));
        std::memcpy(dst, data_.data() + offset, got);
        return got;
    }

private:
    std::span<const unsigned char> data_;
    std::size_t from_;
    std::size_t left_;
    bool positional_;
    std::uint64_t pos_ = 0;
};

// A file that shrinks while it is read ends the pass cleanly with whatever
// was read before, from either input and with any number of threads: a
// short read is the end of the data, never a read error, even where a
// thread's read ends before the part of the file it needed to find its
// stretch's start.
TEST(extract_pass, a_file_that_shrinks_while_read_ends_cleanly) {
    // Short runs between gaps of zero bytes, at which the input is cut: the
    // file may shrink right where the stretch before a boundary ends, so
    // that the next thread finds no data at all.
    Bytes data;
    for (int k = 0; k < 150; ++k) {
        const Bytes run = bytes(k % 3 == 0 ? "漢字かな" : k % 3 == 1 ? "あ" : "カタカナ漢");
        data.insert(data.end(), run.begin(), run.end());
        data.insert(data.end(), 1 + k % 6, 0);
    }
    const ExtractionSettings settings;
    std::map<std::size_t, Bytes> want;  // by the bytes read
    for (std::size_t from = 1; from < data.size(); ++from) {
        for (const std::size_t cut : {1, 40}) {
            for (const unsigned threads : {1u, 2u, 3u}) {
                const test::Input input = test::both_inputs[(from + threads) % 2];
                ShrinkingSource source(data, from, from - std::min(from, cut), input);
                test::MemorySink sink;
                detail::PassOptions options{64, 1000};
                options.threads = threads;
                const ExtractStatus st = detail::run_pass(source, sink, settings, options);
                ASSERT_TRUE(st.ok()) << "shrank at " << from << " by " << cut << ", input "
                                     << test::name_of(input) << ", threads " << threads << ": error " << static_cast<int>(st.error)
                                     << ", errno " << st.sys_errno;
                // What was read is what was scanned: the output is that of
                // the data up to there.
                const auto read = static_cast<std::size_t>(st.bytes_in);
                if (!want.contains(read)) want[read] = test::reference_extract({data.data(), read}, settings);
                ASSERT_TRUE(sink.bytes == want[read])
                    << "shrank at " << from << " by " << cut << ", threads " << threads
                    << ": the output is not that of the " << read << " bytes read";
            }
        }
    }
}

// A thread that reads its stretch late, after a run on another thread has
// gone a whole ring of stretches further, while the file changed under it:
// its window no longer holds the split byte that ended the stretch before.
// The decision made first still counts, and the pass ends.
TEST(extract_pass, a_late_reader_keeps_the_boundary_first_decided) {
    constexpr std::size_t stretch = 16;  // a window of one byte
    class ChangingSource final : public detail::ByteSource {
    public:
        explicit ChangingSource(Bytes data) : data_(std::move(data)) {}
        std::size_t read(unsigned char*, std::size_t) override { return 0; }
        int error() const override { return 0; }
        bool positional(std::uint64_t& size) override {
            size = data_.size();
            return true;
        }
        std::size_t read_at(std::uint64_t offset, unsigned char* dst, std::size_t n,
                            int&) override {
            if (offset >= offset_far) {
                std::lock_guard<std::mutex> lock(mutex_);
                far_read_ = true;
                far_.notify_all();
            }
            const bool late = offset == stretch - 1;
            if (late) {
                // Stretch 1 with its window: read once a run has reached
                // stretch 256, a moment later, and with the zero gone.
                std::unique_lock<std::mutex> lock(mutex_);
                far_.wait(lock, [this] { return far_read_; });
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            const std::size_t from = std::min<std::size_t>(offset, data_.size());
            const std::size_t got = std::min(n, data_.size() - from);
            std::memcpy(dst, data_.data() + from, got);
            if (late) dst[0] = '@';
            return got;
        }

    private:
        const std::uint64_t offset_far = 256 * stretch;
        Bytes data_;
        std::mutex mutex_;
        std::condition_variable far_;
        bool far_read_ = false;
    };
    // No text under the defaults; zeros end stretches 0 and 1 at first.
    Bytes data(400 * stretch, '@');
    data[stretch - 1] = 0;
    data[2 * stretch - 1] = 0;
    ChangingSource source(data);
    test::MemorySink sink;
    detail::PassOptions options{stretch, 4096};
    options.threads = 3;
    const ExtractStatus st = detail::run_pass(source, sink, ExtractionSettings{}, options);
    EXPECT_TRUE(st.ok());
    EXPECT_EQ(st.bytes_in, data.size());
}

// With two outputs, a worker whose stretch must wait for the one before to
// be written scans on: here the first stretch's read is held up until the
// other worker has read two more, which it can only do when it need not
// wait for its turn. The output is still the reference's, in order.
TEST(extract_pass, a_worker_scans_on_while_its_output_waits_for_its_turn) {
    constexpr std::size_t stretch = 1024;
    class HeldSource final : public detail::ByteSource {
    public:
        explicit HeldSource(const Bytes& data) : data_(data) {}
        std::size_t read(unsigned char*, std::size_t) override { return 0; }
        int error() const override { return 0; }
        bool positional(std::uint64_t& size) override {
            size = data_.size();
            return true;
        }
        std::size_t read_at(std::uint64_t offset, unsigned char* dst, std::size_t n, int&) override {
            std::unique_lock<std::mutex> lock(mutex_);
            if (offset == 0) {
                // Bounded only so that a driver that does wait fails the
                // test instead of hanging it.
                others_read_ = read_.wait_for(lock, std::chrono::seconds(20), [this] { return others_ >= 2; });
            } else {
                ++others_;
                read_.notify_all();
            }
            lock.unlock();
            const std::size_t from = std::min<std::size_t>(static_cast<std::size_t>(offset), data_.size());
            const std::size_t got = std::min(n, data_.size() - from);
            std::memcpy(dst, data_.data() + from, got);
            return got;
        }
        bool others_read() const { return others_read_; }

    private:
        const Bytes& data_;
        std::mutex mutex_;
        std::condition_variable read_;
        unsigned others_ = 0;
        bool others_read_ = false;
    };
    // Zeros in every window, so that every stretch ends at its own.
    const Bytes data = repeat("漢字かな\0\0"s, 8 * stretch / 10);
    HeldSource source(data);
    test::MemorySink sink;
    detail::PassOptions options{stretch, 4096};
    options.threads = 2;
    options.outputs_per_worker = 2;
    const ExtractStatus st = detail::run_pass(source, sink, ExtractionSettings{}, options);
    EXPECT_TRUE(source.others_read());
    EXPECT_TRUE(st.ok() && st.bytes_in == data.size());
    EXPECT_EQ(sink.bytes, test::reference_extract(data, ExtractionSettings{}));
}

// The bytes the threaded pass may cut the input at: the control bytes end
// every run and are no trail under every class, each class alone or all on,
// unless an excluded pair holds one, as a lead or as a trail.
TEST(extract_pass, control_bytes_cut_the_input_unless_an_excluded_pair_holds_them) {
    ExtractionSettings none;
    for (auto* f : {&none.full_hiragana, &none.full_katakana, &none.full_kanji, &none.full_digits,
                    &none.full_upper, &none.full_lower, &none.full_cyrillic, &none.full_greek,
                    &none.full_symbols})
        *f = 0;
    std::vector<std::pair<ExtractionSettings, std::vector<unsigned>>> cases;  // settings, bytes held
    ExtractionSettings all = none;
    for (std::int32_t ExtractionSettings::*flag :
         {&ExtractionSettings::half_digits, &ExtractionSettings::half_upper,
          &ExtractionSettings::half_lower, &ExtractionSettings::half_katakana,
          &ExtractionSettings::half_symbols, &ExtractionSettings::full_hiragana,
          &ExtractionSettings::full_katakana, &ExtractionSettings::full_kanji,
          &ExtractionSettings::full_digits, &ExtractionSettings::full_upper,
          &ExtractionSettings::full_lower, &ExtractionSettings::full_cyrillic,
          &ExtractionSettings::full_greek, &ExtractionSettings::full_symbols}) {
        ExtractionSettings one = none;
        one.*flag = 1;
        all.*flag = 7;
        cases.push_back({one, {}});
    }
    cases.push_back({all, {}});
    ExtractionSettings held = all;
    set_excluded(held, 0, 0x82, 0x05);  // 0x05 as a trail
    set_excluded(held, 4, 0x07, 'A');   // 0x07 as a lead
    set_excluded(held, 11, 'A', 0x00);  // the zero byte as a trail
    cases.push_back({held, {0x00, 0x05, 0x07}});
    for (const auto& [settings, taken] : cases) {
        detail::ScanTable table;
        detail::build_scan_table(settings, table);
        std::array<bool, 256> split{};
        detail::find_split_bytes(table, split);
        for (unsigned b = 0; b < 0x20; ++b) {
            const bool held_byte = std::find(taken.begin(), taken.end(), b) != taken.end();
            EXPECT_EQ(split[b], !held_byte) << "byte " << b;
        }
        // A lead byte of the double-byte rows is never one.
        EXPECT_FALSE(split[0x82] && settings.full_hiragana != 0);
    }
}

// An offset names where the printed text lies: not where a run began when
// an excluded pair leads it or an exempt string stands inside it. JSON
// gives the same offset, the input bytes the text spans (an excluded pair
// inside included) and escapes what a JSON string cannot hold.
TEST(extract_pass, offsets_name_the_first_printed_byte) {
    const Bytes ai = bytes("xx\x82\xa0\x82\xa2yy");  // あ at 2, い at 4
    ExtractionSettings drop_a;
    set_excluded(drop_a, 0, 0x82, 0xA0);
    ExtractionSettings keep_i;
    keep_i.min_length = 5;
    set_exempt(keep_i, 0, "い");
    ExtractionSettings keep_quote;  // an exempt string may hold any byte
    keep_quote.half_symbols = 1;
    keep_quote.min_length = 9;
    set_exempt(keep_quote, 0, "\"\\");
    ExtractionSettings gap = drop_a;  // あ dropped inside the run
    OutputFormat decimal;
    decimal.radix = OffsetRadix::decimal;
    OutputFormat json;
    json.json = true;
    OutputFormat json_named = json;
    json_named.file_name = "d/\xff\t.dat";  // a name that is not UTF-8, with a control character
    struct Case {
        Bytes data;
        const ExtractionSettings* settings;
        const OutputFormat* format;
        std::string want;
    };
    const Case cases[] = {
        {ai, &drop_a, &decimal, "      4 \x82\xa2\r\n"},
        {ai, &keep_i, &decimal, "      4 \x82\xa2\r\n"},
        // (This file's literals are code page 932: the UTF-8 is spelled out.)
        {ai, &drop_a, &json, "{\"offset\":4,\"text\":\"\xe3\x81\x84\",\"length\":2}\n"},
        {ai, &keep_i, &json_named,
         "{\"file\":\"d/\xef\xbf\xbd\\t.dat\",\"offset\":4,\"text\":\"\xe3\x81\x84\",\"length\":2}\n"},
        {bytes("\x82\xa2\x82\xa0\x82\xa4"), &gap, &json,
         "{\"offset\":0,\"text\":\"\xe3\x81\x84\xe3\x81\x86\",\"length\":6}\n"},
        {bytes("ab\"\\cd"), &keep_quote, &json, "{\"offset\":2,\"text\":\"\\\"\\\\\",\"length\":2}\n"},
    };
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        for (const unsigned threads : {1u, 2u}) {
            detail::PassOptions options{3, 5};
            options.format = c.format;
            options.threads = threads;
            const Bytes got = test::run_pass_through(test::Input::positional, c.data, *c.settings, options);
            EXPECT_EQ(std::string(got.begin(), got.end()), c.want) << "case " << k << ", threads " << threads;
        }
    }
}

TEST(extract_pass, match_exempt_rewrites_the_run) {
    ExtractionSettings s;
    set_exempt(s, 4, "CD");
    unsigned char run[1024] = "ABCDE";
    std::size_t length = 5;
    EXPECT_EQ(match_exempt(s, run, length), 1);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(run), length), "CD");
    unsigned char other[1024] = "XYZ";
    length = 3;
    EXPECT_EQ(match_exempt(s, other, length), 0);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(other)), "XYZ");
}

}  // namespace
}  // namespace kurvane
