#include "settings/settings_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "text/text_encoding.h"
#include "support/scratch_dir.h"

namespace kurvane {
namespace {

namespace fs = std::filesystem;
using S = ExtractionSettings;
using Bytes = std::vector<unsigned char>;

// The file layout after the text's terminator, written out independently of
// the code under test: offset of each word, and where the two tables lie.
template <auto Member>
std::uint32_t get_word(const S& s) {
    return static_cast<std::uint32_t>(s.*Member);
}
template <auto Member>
void set_word(S& s, std::uint32_t v) {
    s.*Member = static_cast<std::remove_cvref_t<decltype(s.*Member)>>(v);
}
struct WordField {
    const char* name;
    std::size_t offset;
    std::uint32_t (*get)(const S&);
    void (*set)(S&, std::uint32_t);
};
#define WORD(field, offset) WordField{#field, offset, &get_word<&S::field>, &set_word<&S::field>}
const WordField scalars[] = {WORD(auto_newline, 0), WORD(min_length, 4), WORD(xor_value, 8)};
// The flags in the record's order, which is the file's order.
const WordField flags[] = {
    WORD(half_digits, 174),   WORD(half_upper, 178),    WORD(half_lower, 182),
    WORD(half_katakana, 186), WORD(half_symbols, 190),  WORD(full_hiragana, 194),
    WORD(full_katakana, 198), WORD(full_kanji, 202),    WORD(full_digits, 206),
    WORD(full_upper, 210),    WORD(full_lower, 214),    WORD(full_cyrillic, 218),
    WORD(full_greek, 222),    WORD(full_symbols, 226)};
#undef WORD
constexpr std::size_t excluded_offset = 12;
constexpr std::size_t excluded_size = 36;
constexpr std::size_t exempt_offset = 48;
constexpr std::size_t exempt_size = 126;

unsigned char* excluded(S& s) { return &s.excluded_pairs[0][0]; }
unsigned char* exempt(S& s) { return &s.exempt_strings[0][0]; }
const unsigned char* excluded(const S& s) { return &s.excluded_pairs[0][0]; }
const unsigned char* exempt(const S& s) { return &s.exempt_strings[0][0]; }

std::vector<const WordField*> all_words() {
    std::vector<const WordField*> out;
    for (const auto& w : scalars) out.push_back(&w);
    for (const auto& w : flags) out.push_back(&w);
    return out;
}

// Every field of a record, for comparisons whose failure shows the difference.
std::string describe(const S& s) {
    std::string out;
    char buf[64];
    for (const WordField* w : all_words()) {
        std::snprintf(buf, sizeof buf, "%s=0x%08x\n", w->name, w->get(s));
        out += buf;
    }
    auto hex = [&out](const char* name, const unsigned char* p, std::size_t n) {
        out += name;
        out += '=';
        for (std::size_t i = 0; i < n; ++i) {
            char b[4];
            std::snprintf(b, sizeof b, "%02x", p[i]);
            out += b;
        }
        out += '\n';
    };
    hex("excluded_pairs", excluded(s), excluded_size);
    hex("exempt_strings", exempt(s), exempt_size);
    return out;
}

// Two records with a distinct non-zero value in every byte of every field, so
// that a field taken from the wrong place or not kept shows.
S distinctive(unsigned char base) {
    S s;
    std::uint32_t k = 0;
    for (const WordField* w : all_words()) {
        const auto b = static_cast<std::uint32_t>(base + 4 * k++);
        w->set(s, b | (b + 1) << 8 | (b + 2) << 16 | (b + 3) << 24);
    }
    for (std::size_t i = 0; i < excluded_size; ++i) excluded(s)[i] = static_cast<unsigned char>(base + 100 + i);
    for (std::size_t i = 0; i < exempt_size; ++i) exempt(s)[i] = static_cast<unsigned char>(base + 1 + i);
    return s;
}

std::uint32_t word_at(const Bytes& b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v |= std::uint32_t{b[at + i]} << (8 * i);
    return v;
}

// The extension field as the settings store sees it, with a log of every text
// the store put into it.
class FakeField : public ExtensionField {
public:
    explicit FakeField(std::string initial = {}) : text_(std::move(initial)) {}
    std::string text() const override { return text_; }
    void set_text(std::string_view text) override {
        text_ = text;
        log.emplace_back(text);
    }
    std::vector<std::string> log;

private:
    std::string text_;
};

TEST(settings_codec, defaults_with_empty_and_dat_text_give_the_documented_bytes) {
    const S defaults;
    const Bytes empty = encode_settings("", defaults);
    ASSERT_EQ(empty.size(), 231u);
    EXPECT_EQ(empty[0], 0);

    Bytes expected = {'d', 'a', 't', 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    expected.insert(expected.end(), 162, 0);
    for (int i = 0; i < 5; ++i) expected.insert(expected.end(), {0, 0, 0, 0});
    for (int i = 0; i < 9; ++i) expected.insert(expected.end(), {1, 0, 0, 0});
    EXPECT_EQ(encode_settings("dat", defaults), expected);
    EXPECT_TRUE(std::equal(empty.begin() + 1, empty.end(), expected.begin() + 4));
}

TEST(settings_codec, every_word_has_its_own_little_endian_place) {
    // One field at a time, so that two swapped flags cannot pass.
    for (const WordField* w : all_words()) {
        S s;
        for (const WordField* other : all_words()) other->set(s, 0);
        w->set(s, 0x04030201u);
        const Bytes b = encode_settings("ab", s);
        ASSERT_EQ(b.size(), 233u);
        for (const WordField* other : all_words())
            EXPECT_EQ(word_at(b, 3 + other->offset), other == w ? 0x04030201u : 0u)
                << "set " << w->name << ", read " << other->name;
        EXPECT_EQ(b[3 + w->offset], 0x01) << w->name;
    }
}

TEST(settings_codec, text_is_saved_up_to_255_bytes_and_up_to_a_zero) {
    const S s;
    const std::string long_text(300, 'e');
    const Bytes b = encode_settings(long_text, s);
    ASSERT_EQ(b.size(), 255u + 231u);
    EXPECT_EQ(b[254], 'e');
    EXPECT_EQ(b[255], 0);

    std::string back;
    S loaded;
    decode_settings(b, back, loaded);
    EXPECT_EQ(back, long_text.substr(0, 255));

    // A zero inside the text would end it on load and shift every field.
    const Bytes cut = encode_settings(std::string("ab\0cd", 5), s);
    EXPECT_EQ(cut, encode_settings("ab", s));
}

TEST(settings_codec, round_trip_keeps_every_byte) {
    S s = distinctive(0x21);
    s.excluded_pairs[3][0] = 0;  // empty entry that still carries bytes
    s.exempt_strings[2][4] = 0;  // text with bytes after its zero
    const std::string text = "テスト";
    const std::string stored = "\x83\x65\x83\x58\x83\x67";  // テスト in code page 932
    const Bytes b = encode_settings(text, s);
    EXPECT_EQ(std::string(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(stored.size())), stored);
    // The tables stand whole between the scalars and the flags.
    const auto layout = b.begin() + static_cast<std::ptrdiff_t>(stored.size() + 1);
    EXPECT_TRUE(std::equal(excluded(s), excluded(s) + excluded_size, layout + excluded_offset));
    EXPECT_TRUE(std::equal(exempt(s), exempt(s) + exempt_size, layout + exempt_offset));

    std::string back = "old";
    S loaded = distinctive(0x90);
    decode_settings(b, back, loaded);
    EXPECT_EQ(back, text);
    EXPECT_EQ(describe(loaded), describe(s));
    EXPECT_EQ(encode_settings(back, loaded), b);
}

// Every code page 932 character in the form Windows writes it: the bytes a
// Japanese system has stored for a typed extension.
std::vector<std::string> stored_characters() {
    std::vector<std::string> out;
    for (int c = 1; c < 0x80; ++c) out.push_back(std::string(1, static_cast<char>(c)));
    for (int c = 0xA1; c <= 0xDF; ++c) out.push_back(std::string(1, static_cast<char>(c)));
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            const char32_t u = text::cp932_double_char(static_cast<unsigned char>(lead),
                                                         static_cast<unsigned char>(trail));
            if (u != 0 && text::cp932_code(u) == static_cast<int>(lead << 8 | trail))
                out.push_back({static_cast<char>(lead), static_cast<char>(trail)});
        }
    }
    return out;
}

// A file as a Japanese system wrote it reads back and saves again byte for
// byte; the text in between is UTF-8.
TEST(settings_codec, random_records_survive_a_round_trip) {
    const std::vector<std::string> characters = stored_characters();
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> pick(0, characters.size() - 1);
    std::uniform_int_distribution<std::size_t> length(0, 255);
    for (int round = 0; round < 500; ++round) {
        S s;
        for (const WordField* w : all_words()) w->set(s, static_cast<std::uint32_t>(rng()));
        for (std::size_t i = 0; i < excluded_size; ++i) excluded(s)[i] = static_cast<unsigned char>(byte(rng));
        for (std::size_t i = 0; i < exempt_size; ++i) exempt(s)[i] = static_cast<unsigned char>(byte(rng));
        const std::size_t n = length(rng);
        std::string stored;
        while (stored.size() < n) {
            const std::string& c = characters[pick(rng)];
            if (stored.size() + c.size() > n) break;
            stored += c;
        }
        Bytes file(stored.begin(), stored.end());
        file.push_back(0);
        const Bytes rest = encode_settings("", s);
        file.insert(file.end(), rest.begin() + 1, rest.end());

        std::string back;
        S loaded = distinctive(0x33);
        decode_settings(file, back, loaded);
        ASSERT_EQ(describe(loaded), describe(s)) << "round " << round;
        ASSERT_EQ(encode_settings(back, loaded), file) << "round " << round << " text " << back;
    }
}

// The extension is UTF-8 to the program and code page 932 in the file. What
// that code page lacks is stored as '?', the one-character wildcard, so that
// the loaded extension still finds the same files.
TEST(settings_codec, extension_is_stored_in_code_page_932) {
    const struct {
        std::string text;
        std::string stored;
        std::string loaded;
    } cases[] = {
        {"dat", "dat", "dat"},
        {"台本", "\x91\xe4\x96\x7b", "台本"},
        {"表", "\x95\x5c", "表"},                // trail byte 0x5C
        {"ｱ", "\xb1", "ｱ"},                       // half-width katakana
        {"ⅰ", "\xfa\x40", "ⅰ"},                // also 0xEEEF: Windows writes 0xFA40
        {"纊", "\xfa\x5c", "纊"},                // also 0xED40
        {"café", "caf?", "caf?"},
        {"한국어", "???", "???"},
        {"d😀t", "d?t", "d?t"},
        {"a\xff" "b", "a?b", "a?b"},              // malformed UTF-8
    };
    for (const auto& c : cases) {
        const Bytes b = encode_settings(c.text, S{});
        ASSERT_EQ(b.size(), c.stored.size() + 1 + 230) << c.text;
        EXPECT_EQ(std::string(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(c.stored.size())), c.stored)
            << c.text;
        std::string back;
        S loaded;
        decode_settings(b, back, loaded);
        EXPECT_EQ(back, c.loaded) << c.text;
    }
    // A stored byte that starts no character reads as U+FFFD.
    std::string back;
    S loaded;
    const Bytes lone_lead = {'a', 0x82, 0};
    decode_settings(lone_lead, back, loaded);
    EXPECT_EQ(back, "a\uFFFD");
}

// What a file cut after `cut` bytes must leave in a record that held `before`:
// a word takes the bytes present as its low-order bytes, a table is cleared
// and takes what is present.
S expected_after_cut(const S& file, const S& before, std::size_t cut) {
    S out = before;
    for (const WordField* w : all_words()) {
        std::uint32_t v = w->get(before);
        for (std::size_t i = 0; i < 4; ++i)
            if (w->offset + i < cut) {
                const std::uint32_t mask = 0xFFu << (8 * i);
                v = (v & ~mask) | (w->get(file) & mask);
            }
        w->set(out, v);
    }
    for (std::size_t i = 0; i < excluded_size; ++i)
        excluded(out)[i] = excluded_offset + i < cut ? excluded(file)[i] : 0;
    for (std::size_t i = 0; i < exempt_size; ++i)
        exempt(out)[i] = exempt_offset + i < cut ? exempt(file)[i] : 0;
    return out;
}

TEST(settings_codec, short_file_fills_only_what_it_reaches) {
    const S file_record = distinctive(0x41);
    const S before = distinctive(0xA1);
    const std::string text = "dat";
    const Bytes full = encode_settings(text, file_record);
    for (std::size_t size = 1; size <= full.size(); ++size) {
        std::string back = "old";
        S loaded = before;
        decode_settings(std::span(full).first(size), back, loaded);
        const std::size_t after_text = size > text.size() ? size - text.size() - 1 : 0;
        // Ending inside the text: the text is what is there, and no setting is reached.
        EXPECT_EQ(back, text.substr(0, size)) << "size " << size;
        ASSERT_EQ(describe(loaded), describe(expected_after_cut(file_record, before, after_text)))
            << "size " << size;
    }
}

TEST(settings_codec, trailing_bytes_are_ignored) {
    const S s = distinctive(0x51);
    Bytes b = encode_settings("dat", s);
    b.insert(b.end(), 100, 0xEE);
    std::string back;
    S loaded;
    decode_settings(b, back, loaded);
    EXPECT_EQ(back, "dat");
    EXPECT_EQ(describe(loaded), describe(s));
}

TEST(settings_codec, file_without_a_zero_in_its_first_256_bytes) {
    const S file_record = distinctive(0x61);
    const S before = distinctive(0xB1);

    // 256 bytes or more: 255 bytes of text, the 256th byte stands for the
    // terminator and the settings follow it as after a saved 255-byte text.
    Bytes b(256, 'a');
    const Bytes layout = encode_settings("", file_record);
    b.insert(b.end(), layout.begin() + 1, layout.end());
    std::string back;
    S loaded = before;
    decode_settings(b, back, loaded);
    EXPECT_EQ(back, std::string(255, 'a'));
    EXPECT_EQ(describe(loaded), describe(file_record));

    // Exactly 256 bytes: the text, and nothing reached after it.
    loaded = before;
    decode_settings(std::span(b).first(256), back, loaded);
    EXPECT_EQ(back, std::string(255, 'a'));
    EXPECT_EQ(describe(loaded), describe(expected_after_cut(file_record, before, 0)));

    // Ending before any zero (255 bytes, 1 byte, nothing): all of it is text.
    for (const std::size_t size : {std::size_t{255}, std::size_t{1}, std::size_t{0}}) {
        loaded = before;
        back = "old";
        decode_settings(std::span(b).first(size), back, loaded);
        EXPECT_EQ(back, std::string(size, 'a')) << "size " << size;
        EXPECT_EQ(describe(loaded), describe(expected_after_cut(file_record, before, 0))) << "size " << size;
    }
}

// The block after the layout: exchanged both ways with versions that read
// only the layout.
TEST(settings_codec, extended_block_follows_the_layout_and_only_when_needed) {
    const S s = distinctive(0x33);
    const Bytes plain = encode_settings("dat", s);
    // At their defaults the options add nothing: the file is what every
    // version writes.
    EXPECT_EQ(encode_settings("dat", s, ExtendedSettings{}), plain);

    ExtendedSettings utf8;
    utf8.output_encoding = TextEncoding::utf8;
    const Bytes with_block = encode_settings("dat", s, utf8);
    ASSERT_EQ(with_block.size(), plain.size() + 12);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), with_block.begin())) << "the first 231 + L bytes change";
    EXPECT_EQ(Bytes(with_block.begin() + static_cast<std::ptrdiff_t>(plain.size()), with_block.end()),
              (Bytes{'K', 'V', 'X', '1', 1, 0, 4, 0, 1, 0, 0, 0}));

    // Read by this version: the option comes back; read as an older version
    // reads it: the record alone, unchanged.
    std::string text;
    S loaded;
    ExtendedSettings back;
    decode_settings(with_block, text, loaded, back);
    EXPECT_EQ(back.output_encoding, TextEncoding::utf8);
    EXPECT_EQ(text, "dat");
    EXPECT_EQ(describe(loaded), describe(s));
    S old_reader;
    decode_settings(with_block, text, old_reader);
    EXPECT_EQ(describe(old_reader), describe(s));

    // A 255-byte text without its zero: the block starts after byte 486.
    Bytes long_text(256, 'a');
    long_text.insert(long_text.end(), with_block.begin() + 4, with_block.end());
    back = {};
    decode_settings(long_text, text, loaded, back);
    EXPECT_EQ(back.output_encoding, TextEncoding::utf8);
}

TEST(settings_codec, extended_block_that_is_odd_gives_defaults_or_skips) {
    const Bytes plain = encode_settings("", S{});
    const auto decode = [&](const Bytes& tail) {
        Bytes b = plain;
        b.insert(b.end(), tail.begin(), tail.end());
        std::string text;
        S s;
        ExtendedSettings e;
        e.output_encoding = TextEncoding::utf8;  // overwritten by every decode
        decode_settings(b, text, s, e);
        return e.output_encoding == TextEncoding::utf8;
    };
    const struct {
        const char* what;
        Bytes tail;
        bool utf8;
    } cases[] = {
        {"no block", {}, false},
        {"trailing bytes without the signature", {0xEE, 0xEE, 0xEE, 0xEE, 1, 0, 4, 0, 1, 0, 0, 0}, false},
        {"signature alone", {'K', 'V', 'X', '1'}, false},
        {"value cut short", {'K', 'V', 'X', '1', 1, 0, 4, 0, 1, 0}, false},
        {"unknown encoding", {'K', 'V', 'X', '1', 1, 0, 4, 0, 9, 0, 0, 0}, false},
        {"wrong size", {'K', 'V', 'X', '1', 1, 0, 2, 0, 1, 0}, false},
        // A later version's record first: skipped by its size.
        {"unknown tag skipped", {'K', 'V', 'X', '1', 7, 0, 3, 0, 9, 9, 9, 1, 0, 4, 0, 1, 0, 0, 0}, true},
        {"tag 0 ends the records", {'K', 'V', 'X', '1', 0, 0, 0, 0, 1, 0, 4, 0, 1, 0, 0, 0}, false},
        {"size past the end", {'K', 'V', 'X', '1', 7, 0, 0xFF, 0xFF, 1, 0, 4, 0, 1, 0, 0, 0}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(decode(c.tail), c.utf8) << c.what;
}

// Every option is one record of its own, written only when the option is
// off its default, in tag order; each comes back alone and all together.
TEST(settings_codec, each_option_is_a_record_written_only_off_its_default) {
    const S s = distinctive(0x21);
    const Bytes plain = encode_settings("x", s);
    const struct {
        const char* what;
        void (*change)(ExtendedSettings&);
        Bytes records;
    } cases[] = {
        {"UTF-8 output", [](ExtendedSettings& e) { e.output_encoding = TextEncoding::utf8; }, {1, 0, 4, 0, 1, 0, 0, 0}},
        {"text filter on", [](ExtendedSettings& e) { e.text_filter = true; }, {2, 0, 4, 0, 1, 0, 0, 0}},
        {"least score 0", [](ExtendedSettings& e) { e.min_score = 0; }, {3, 0, 4, 0, 0, 0, 0, 0}},
        {"least score 100", [](ExtendedSettings& e) { e.min_score = 100; }, {3, 0, 4, 0, 100, 0, 0, 0}},
        {"input EUC-JP", [](ExtendedSettings& e) { e.input_encoding = text::InputEncoding::euc_jp; }, {4, 0, 4, 0, 1, 0, 0, 0}},
        {"input UTF-16BE", [](ExtendedSettings& e) { e.input_encoding = text::InputEncoding::utf16be; }, {4, 0, 4, 0, 4, 0, 0, 0}},
        {"all of them",
         [](ExtendedSettings& e) {
             e.output_encoding = TextEncoding::utf8;
             e.text_filter = true;
             e.min_score = 73;
             e.input_encoding = text::InputEncoding::utf8;
         },
         {1, 0, 4, 0, 1, 0, 0, 0, 2, 0, 4, 0, 1, 0, 0, 0, 3, 0, 4, 0, 73, 0, 0, 0, 4, 0, 4, 0, 2, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        ExtendedSettings e;
        c.change(e);
        const Bytes bytes = encode_settings("x", s, e);
        Bytes expected = plain;
        expected.insert(expected.end(), {'K', 'V', 'X', '1'});
        expected.insert(expected.end(), c.records.begin(), c.records.end());
        EXPECT_EQ(bytes, expected) << c.what;
        std::string text;
        S loaded;
        ExtendedSettings back;
        decode_settings(bytes, text, loaded, back);
        EXPECT_EQ(back, e) << c.what;
        EXPECT_EQ(describe(loaded), describe(s)) << c.what;
    }
    // The default least score is not written even beside another option.
    ExtendedSettings filter;
    filter.text_filter = true;
    filter.min_score = default_min_score;
    EXPECT_EQ(encode_settings("x", s, filter).size(), plain.size() + 4 + 8);
}

// A record whose value this version does not know, or that the file cuts
// short, leaves its option at the default; the records around it still count.
TEST(settings_codec, a_record_it_cannot_use_leaves_the_default) {
    const Bytes plain = encode_settings("", S{});
    const auto decode = [&](const Bytes& records) {
        Bytes b = plain;
        b.insert(b.end(), {'K', 'V', 'X', '1'});
        b.insert(b.end(), records.begin(), records.end());
        std::string text;
        S s;
        ExtendedSettings e;
        e.text_filter = true;  // every decode starts from the defaults
        e.min_score = 7;
        decode_settings(b, text, s, e);
        return e;
    };
    const struct {
        const char* what;
        Bytes records;
        bool text_filter;
        int min_score;
        text::InputEncoding input;
    } cases[] = {
        {"filter 2", {2, 0, 4, 0, 2, 0, 0, 0}, false, default_min_score, text::InputEncoding::cp932},
        {"score 101", {3, 0, 4, 0, 101, 0, 0, 0}, false, default_min_score, text::InputEncoding::cp932},
        {"score with a high byte", {3, 0, 4, 0, 50, 0, 0, 1}, false, default_min_score, text::InputEncoding::cp932},
        {"input 5", {4, 0, 4, 0, 5, 0, 0, 0}, false, default_min_score, text::InputEncoding::cp932},
        {"score cut short", {2, 0, 4, 0, 1, 0, 0, 0, 3, 0, 4, 0, 60, 0}, true, default_min_score,
         text::InputEncoding::cp932},
        {"two-byte score of a later version skipped", {3, 0, 2, 0, 60, 0, 4, 0, 4, 0, 3, 0, 0, 0}, false,
         default_min_score, text::InputEncoding::utf16le},
        {"unknown value, then a good record", {4, 0, 4, 0, 9, 0, 0, 0, 3, 0, 4, 0, 10, 0, 0, 0}, false, 10,
         text::InputEncoding::cp932},
    };
    for (const auto& c : cases) {
        const ExtendedSettings e = decode(c.records);
        EXPECT_EQ(e.text_filter, c.text_filter) << c.what;
        EXPECT_EQ(e.min_score, c.min_score) << c.what;
        EXPECT_EQ(e.input_encoding, c.input) << c.what;
        EXPECT_EQ(e.output_encoding, TextEncoding::cp932) << c.what;
    }
}

// Each file test works in a scratch directory of its own, removed afterwards.
class settings_file : public ::testing::Test {
protected:
    std::string path(const char* name = "setting.dat") const { return (dir_ / name).string(); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir_)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    static Bytes read(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    static void write(const std::string& p, const Bytes& b) {
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    kurvane::test::ScratchDir scratch_{"kurvane-settings"};
    const fs::path& dir_ = scratch_.path();
};

TEST_F(settings_file, no_file_keeps_defaults_and_empties_the_field) {
    // The default name is relative to the working directory.
    const fs::path old_cwd = fs::current_path();
    fs::current_path(dir_);
    FakeField field("dat");
    S s;
    const int result = load_settings(field, s);
    fs::current_path(old_cwd);

    EXPECT_EQ(result, 1);
    EXPECT_EQ(field.log, std::vector<std::string>{""});
    EXPECT_EQ(describe(s), describe(S{}));
}

TEST_F(settings_file, name_that_cannot_be_read_returns_0_and_keeps_the_record) {
    const S before = distinctive(0x71);
    fs::create_directory(path());
    FakeField field("dat");
    S s = before;
    EXPECT_EQ(load_settings(field, s, path().c_str()), 0);
    EXPECT_EQ(field.log, std::vector<std::string>{""});
    EXPECT_EQ(describe(s), describe(before));

    // A link to nothing is there by name but cannot be opened.
    fs::create_symlink(path("missing"), path("link.dat"));
    EXPECT_EQ(load_settings(field, s, path("link.dat").c_str()), 0);
    EXPECT_EQ(describe(s), describe(before));
}

TEST_F(settings_file, save_then_load_gives_back_text_and_record) {
    S s = distinctive(0x12);
    s.exempt_strings[0][3] = 0;
    FakeField out("テスト");
    ASSERT_EQ(save_settings(out, s, path().c_str()), 1);
    EXPECT_EQ(read(path()), encode_settings(out.text(), s));
    const Bytes stored = {0x83, 0x65, 0x83, 0x58, 0x83, 0x67, 0};
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), read(path()).begin()));
    EXPECT_EQ(names(), std::vector<std::string>{"setting.dat"});

    FakeField in("old");
    S loaded;
    EXPECT_EQ(load_settings(in, loaded, path().c_str()), 1);
    EXPECT_EQ(in.log, (std::vector<std::string>{"", out.text()}));
    EXPECT_EQ(describe(loaded), describe(s));
}

TEST_F(settings_file, extended_options_survive_a_save_and_a_load) {
    ExtendedSettings utf8;
    utf8.output_encoding = TextEncoding::utf8;
    const FakeField out("dat");
    ASSERT_EQ(save_settings(out, S{}, utf8, path().c_str()), 1);
    EXPECT_EQ(read(path()).size(), 234u + 12u);
    FakeField in;
    S s;
    ExtendedSettings back;
    ASSERT_EQ(load_settings(in, s, back, path().c_str()), 1);
    EXPECT_EQ(back, utf8);
    // The save of a version that knows no block drops it; loaded again,
    // the option is at its default.
    ASSERT_EQ(save_settings(out, s, path().c_str()), 1);
    ASSERT_EQ(load_settings(in, s, back, path().c_str()), 1);
    EXPECT_EQ(back, ExtendedSettings{});
    EXPECT_EQ(read(path()).size(), 234u);
}

TEST_F(settings_file, save_replaces_a_longer_file_whole) {
    write(path(), Bytes(1000, 0xAB));
    FakeField field("dat");
    ASSERT_EQ(save_settings(field, S{}, path().c_str()), 1);
    EXPECT_EQ(read(path()), encode_settings("dat", S{}));
    EXPECT_EQ(names(), std::vector<std::string>{"setting.dat"});
}

TEST_F(settings_file, failed_save_returns_0_and_leaves_the_old_file) {
    FakeField field("new");
    // Inside a directory that does not exist: nothing can be created.
    EXPECT_EQ(save_settings(field, S{}, path("absent/setting.dat").c_str()), 0);
    EXPECT_TRUE(names().empty());

    // A directory in the way of the target: the new content cannot replace it.
    fs::create_directory(path());
    EXPECT_EQ(save_settings(field, S{}, path().c_str()), 0);
    EXPECT_TRUE(fs::is_directory(path()));
    EXPECT_EQ(names(), std::vector<std::string>{"setting.dat"});
}

// A settings file is saved where an extraction output would be written: a
// link's file is replaced and the link kept, and what is not a regular file
// is written in place, never replaced by one.
TEST_F(settings_file, save_follows_links_and_writes_devices_and_fifos_in_place) {
    const Bytes saved = encode_settings("dat", S{});
    FakeField field("dat");
    write(path("real.dat"), Bytes{1, 2, 3});
    fs::create_symlink("real.dat", path("link.dat"));
    fs::create_symlink("absent.dat", path("dangling.dat"));
    ASSERT_EQ(::mkfifo(path("pipe.dat").c_str(), 0600), 0);
    // Null and full devices of the test's own where it may make them (as
    // root, so that a save that replaced one cannot take the system's), else
    // the system's, whose directory an unprivileged run cannot rename into.
    const auto device = [&](const char* name, unsigned minor, const char* system) {
        if (::mknod(path(name).c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0) return path(name);
        return ::geteuid() != 0 && fs::exists(system) ? std::string(system) : std::string();
    };
    const std::string null_device = device("null.dat", 3, "/dev/null");
    const std::string full_device = device("full.dat", 7, "/dev/full");

    EXPECT_EQ(save_settings(field, S{}, path("link.dat").c_str()), 1);
    EXPECT_TRUE(fs::is_symlink(path("link.dat")));
    EXPECT_EQ(read(path("real.dat")), saved);

    EXPECT_EQ(save_settings(field, S{}, path("dangling.dat").c_str()), 1);
    EXPECT_TRUE(fs::is_symlink(path("dangling.dat")));
    EXPECT_EQ(read(path("absent.dat")), saved);

    // The reading end is open first, so the save does not wait for a reader.
    const int reader = ::open(path("pipe.dat").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(save_settings(field, S{}, path("pipe.dat").c_str()), 1);
    Bytes piped(saved.size() + 1);
    const ssize_t got = ::read(reader, piped.data(), piped.size());
    ::close(reader);
    piped.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    EXPECT_EQ(piped, saved);
    EXPECT_TRUE(fs::is_fifo(path("pipe.dat")));

    if (!null_device.empty()) {
        EXPECT_EQ(save_settings(field, S{}, null_device.c_str()), 1);
        EXPECT_TRUE(fs::is_character_file(null_device));
    }
    if (!full_device.empty()) {
        errno = 0;
        EXPECT_EQ(save_settings(field, S{}, full_device.c_str()), 0);
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_TRUE(fs::is_character_file(full_device));
    }
    std::vector<std::string> expected = {"absent.dat", "dangling.dat", "link.dat", "pipe.dat", "real.dat"};
    for (const std::string& own : {full_device, null_device}) {
        if (own.starts_with(dir_.string())) expected.push_back(fs::path(own).filename().string());
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names(), expected);
}

TEST_F(settings_file, save_that_runs_out_of_space_keeps_the_old_file) {
    const Bytes old = encode_settings("old", distinctive(0x31));
    write(path(), old);

    // A file size limit below the new file's size makes the write fail the
    // way a full disk does.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous_handler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    FakeField field("new");
    const int result = save_settings(field, S{}, path().c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous_handler);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(read(path()), old);
    EXPECT_EQ(names(), std::vector<std::string>{"setting.dat"});
}

}  // namespace
}  // namespace kurvane
