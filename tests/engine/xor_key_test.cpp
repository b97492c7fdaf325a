// Narrow literals here are code page 932 bytes (see cp932.h).
#include "engine/classes/xor_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "cp932.h"

namespace kurvane {
namespace {

const char* const lines[] = {
    "村の長老に話を聞いてみよう。",
    "宿屋に泊まりますか？　一泊１０ゴールドです。",
    "このアイテムは売ることができません",
    "経験値を%d獲得した！",
    "扉の向こうから誰かの声が聞こえる……",
    "メニューを開くには X ボタンを押してください",
};

// Data shaped like records: small little-endian numbers, zero padding and
// some random bytes, with lines of text among them when `text` is set.
std::vector<unsigned char> data(bool text, unsigned char key, std::size_t size, bool fields = true) {
    std::mt19937_64 rng(11);
    std::vector<unsigned char> out;
    std::size_t line = 0;
    while (out.size() < size) {
        for (int k = 0; k < 8; ++k) {
            out.push_back(static_cast<unsigned char>(rng() % 200));
            out.push_back(fields ? 0 : static_cast<unsigned char>(rng()));
        }
        for (int k = 0; k < 8; ++k) out.push_back(static_cast<unsigned char>(rng()));
        if (text && rng() % 4 == 0) {
            const std::string s = lines[line++ % std::size(lines)];
            out.insert(out.end(), s.begin(), s.end());
        }
    }
    for (unsigned char& b : out) b = static_cast<unsigned char>(b ^ key);
    return out;
}

ExtractionSettings text_settings() {
    ExtractionSettings s;
    s.half_digits = s.half_upper = s.half_lower = s.half_symbols = 1;
    return s;
}

XorKeyChoice search(const std::vector<unsigned char>& bytes) {
    std::vector<std::span<const unsigned char>> samples;
    for (const XorSample& s : plan_xor_samples(bytes.size()))
        samples.push_back(std::span<const unsigned char>(bytes).subspan(s.offset, s.size));
    return find_xor_key(samples, text_settings());
}

TEST(xor_key, finds_the_key_of_xored_text) {
    for (const unsigned key : {0x01u, 0x5Au, 0x80u, 0x81u, 0x82u, 0x86u, 0x87u, 0xC3u, 0xFFu}) {
        const XorKeyChoice c = search(data(true, static_cast<unsigned char>(key), 256 << 10));
        EXPECT_TRUE(c.found) << "key " << key;
        EXPECT_EQ(c.key, key);
        EXPECT_GT(c.text_bytes, c.plain_text_bytes);
    }
}

// The records padded with zeros between them, as data files are: the
// padding is then their fill.
std::vector<unsigned char> padded(bool text, unsigned char key, std::size_t size) {
    std::vector<unsigned char> records = data(text, key, size / 2);
    std::vector<unsigned char> out;
    for (std::size_t k = 0; k < records.size(); k += 24) {
        out.insert(out.end(), records.begin() + static_cast<std::ptrdiff_t>(k),
                   records.begin() + static_cast<std::ptrdiff_t>(std::min(k + 24, records.size())));
        out.insert(out.end(), 24, key);
    }
    return out;
}

std::vector<std::span<const unsigned char>> whole(const std::vector<unsigned char>& bytes) {
    return {std::span<const unsigned char>(bytes)};
}

TEST(xor_key, the_fill_is_the_byte_of_the_most_common_repeat) {
    for (const unsigned key : {0x00u, 0x5Au, 0x83u}) {
        const auto bytes = padded(true, static_cast<unsigned char>(key), 64 << 10);
        EXPECT_EQ(fill_byte(whole(bytes)), static_cast<int>(key));
    }
    // Text and records without padding have no fill.
    std::string prose;
    for (int k = 0; k < 50; ++k) prose += lines[k % std::size(lines)];
    const std::vector<unsigned char> text(prose.begin(), prose.end());
    EXPECT_EQ(fill_byte(whole(text)), -1);
    EXPECT_EQ(fill_byte({}), -1);
}

// A key that makes the fill a lead byte is never taken, but the right key
// turns the fill back into zeros whatever it is, a lead byte included.
TEST(xor_key, the_right_key_of_padded_data_is_found) {
    for (const unsigned key : {0x01u, 0x5Au, 0x81u, 0x82u, 0x83u, 0xE0u}) {
        const XorKeyChoice c = search(padded(true, static_cast<unsigned char>(key), 256 << 10));
        EXPECT_TRUE(c.found) << "key " << key;
        EXPECT_EQ(c.key, key);
    }
    for (const unsigned key : {0x00u, 0x82u}) {
        const XorKeyChoice none = search(padded(false, static_cast<unsigned char>(key), 256 << 10));
        EXPECT_FALSE(none.found) << "key " << key << " took " << int{none.key};
    }
}

TEST(xor_key, no_key_without_a_clear_winner) {
    // Plain text: no XOR is best.
    const XorKeyChoice plain = search(data(true, 0, 256 << 10));
    EXPECT_FALSE(plain.found);
    EXPECT_EQ(plain.key, 0);
    EXPECT_GT(plain.plain_text_bytes, 0u);
    // No text under any key: no key either, also for data with a zero byte
    // every other byte, which under 0x82 and 0x83 reads as random hiragana
    // and katakana.
    for (const bool fields : {false, true}) {
        for (const unsigned key : {0u, 0x5Au}) {
            const XorKeyChoice none = search(data(false, static_cast<unsigned char>(key), 256 << 10, fields));
            EXPECT_FALSE(none.found) << "key " << key << " fields " << fields << " best text bytes "
                                     << none.text_bytes << " key " << int{none.key};
            EXPECT_EQ(none.key, 0);
        }
    }
    EXPECT_FALSE(search({}).found);
}

// Records without text, with a line every `every` bytes: in a large file,
// text fills a few thousandths of it.
std::vector<unsigned char> sparse(unsigned char key, std::size_t size, std::size_t every) {
    std::vector<unsigned char> out = data(false, 0, size, false);
    std::size_t line = 0;
    for (std::size_t at = every / 2; at + 64 < out.size(); at += every) {
        const std::string s = lines[line++ % std::size(lines)];
        std::copy(s.begin(), s.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
    }
    for (unsigned char& b : out) b = static_cast<unsigned char>(b ^ key);
    return out;
}

TEST(xor_key, finds_the_key_of_sparse_text) {
    // One line in 12 KiB: text fills 0.3% of the bytes.
    for (const unsigned key : {0x5Au, 0x86u, 0xA7u, 0xE0u}) {
        const XorKeyChoice c = search(sparse(static_cast<unsigned char>(key), 1 << 20, 12 << 10));
        EXPECT_TRUE(c.found) << "key " << key << " text bytes " << c.text_bytes;
        EXPECT_EQ(c.key, key);
    }
}

// ASCII text (sources, manuals, message catalogues with their zeros) reads
// as kanji under the keys that set its high bits, and some of that passes
// for text; it is not text stored with a key.
TEST(xor_key, ascii_text_takes_no_key) {
    const char* const words[] = {"the",   "of",      "and",   "to",     "in",      "is",   "for",    "that",
                                 "with",  "file",    "when",  "which",  "option",  "value", "return", "string",
                                 "error", "message", "cannot", "number", "package", "system", "default", "this"};
    std::mt19937_64 rng(5);
    for (const bool zeros : {false, true}) {
        std::vector<unsigned char> prose;
        while (prose.size() < (256u << 10)) {
            const std::size_t n = 4 + rng() % 12;
            for (std::size_t k = 0; k < n; ++k) {
                const std::string w = words[rng() % std::size(words)];
                prose.insert(prose.end(), w.begin(), w.end());
                prose.push_back(k + 1 < n ? ' ' : '.');
            }
            prose.push_back(zeros ? '\0' : '\n');
        }
        const XorKeyChoice c = search(prose);
        EXPECT_FALSE(c.found) << "zeros " << zeros << " took " << int{c.key} << " text bytes " << c.text_bytes;
    }
}

// Libraries hold tables of the kana's codes in order. Stored as they are
// or with some bits flipped, a key turns them into lines of kana that
// score as text ("ぁあぃいぅう", or "えぉうぇいぅあぃ" a few bits off);
// they are no text stored with a key. Text that is, among such tables,
// still has its key found.
TEST(xor_key, tables_of_kana_codes_take_no_key) {
    const auto tables = [](unsigned char flip) {
        std::vector<unsigned char> out;
        for (const auto& [lead, first, last] : {std::tuple{0x82u, 0x9Fu, 0xF1u}, std::tuple{0x83u, 0x40u, 0x96u}}) {
            for (unsigned trail = first; trail <= last; ++trail) {
                if (trail == 0x7F) continue;
                out.push_back(static_cast<unsigned char>(lead ^ flip));
                out.push_back(static_cast<unsigned char>(trail ^ flip));
            }
            out.push_back(0);
        }
        return out;
    };
    for (const unsigned flip : {0x00u, 0x80u, 0x86u, 0x06u}) {
        for (const unsigned text_key : {0x00u, 0x5Au}) {
            std::vector<unsigned char> bytes = text_key != 0 ? sparse(static_cast<unsigned char>(text_key), 256 << 10, 8 << 10)
                                                             : data(false, 0, 256 << 10, false);
            // Within the part of the file the search scores in full.
            const std::vector<unsigned char> t = tables(static_cast<unsigned char>(flip));
            for (std::size_t at = 1000; at + t.size() < (32u << 10); at += 6000)
                std::copy(t.begin(), t.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
            const XorKeyChoice c = search(bytes);
            EXPECT_EQ(c.found, text_key != 0) << "flip " << flip << " took " << int{c.key};
            EXPECT_EQ(c.key, text_key) << "flip " << flip;
        }
    }
}

// Tables of values each a few times over read under some key as kana
// repeated ("ををををじじじじ"); they are no text either.
TEST(xor_key, tables_of_repeated_values_take_no_key) {
    std::mt19937_64 rng(7);
    for (const unsigned flip : {0x80u, 0x86u}) {
        std::vector<unsigned char> bytes = data(false, 0, 256 << 10, false);
        for (std::size_t at = 1000; at + 400 < (32u << 10); at += 3000) {
            std::size_t k = at;
            for (int value = 0; value < 12; ++value) {
                // Hiragana and katakana: values of two rows.
                const bool kata = rng() % 2 != 0;
                const auto trail = static_cast<unsigned char>(kata ? 0x40 + rng() % 0x3F : 0x9F + rng() % 0x53);
                for (int copy = 0; copy < 4; ++copy) {
                    bytes[k++] = static_cast<unsigned char>((kata ? 0x83 : 0x82) ^ flip);
                    bytes[k++] = static_cast<unsigned char>(trail ^ flip);
                }
            }
            bytes[k] = 0;
        }
        const XorKeyChoice c = search(bytes);
        EXPECT_FALSE(c.found) << "flip " << flip << " took " << int{c.key};
    }
}

// Resources hold their strings in UTF-16 (a dialog's controls: a few
// small numbers, then a caption ending in a zero unit). A key that turns
// a script's row into the lead of a kana row reads them as kana (Hebrew
// under 0x86 as katakana, Cyrillic as hiragana); they are no text stored
// with a key.
TEST(xor_key, utf16_strings_of_other_scripts_take_no_key) {
    const std::u16string captions[] = {u"אפשרויות",        u"גודל הסמן",      u"היסטוריית הפקודות", u"התפריט הקובץ",
                                       u"Параметры",       u"Размер курсора", u"История команд",    u"Сохранить файл",
                                       u"Имя пользователя", u"Отмена"};
    const unsigned char control[] = {0x09, 0x00, 0x01, 0x50, 0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0x12, 0x00,
                                     0x32, 0x00, 0x0A, 0x00, 0x01, 0x01, 0xFF, 0xFF, 0x80, 0x00, 0x26, 0x00};
    std::mt19937_64 rng(3);
    std::vector<unsigned char> bytes;
    while (bytes.size() < (128u << 10)) {
        bytes.insert(bytes.end(), std::begin(control), std::end(control));
        bytes[bytes.size() - 8] = static_cast<unsigned char>(rng());
        for (const char16_t u : captions[rng() % std::size(captions)]) {
            bytes.push_back(static_cast<unsigned char>(u & 0xFF));
            bytes.push_back(static_cast<unsigned char>(u >> 8));
        }
        bytes.insert(bytes.end(), {0, 0, 0, 0});
    }
    const XorKeyChoice c = search(bytes);
    EXPECT_FALSE(c.found) << "took " << int{c.key} << " text bytes " << c.text_bytes;
}

TEST(xor_key, samples_spread_over_the_file_within_the_budget) {
    EXPECT_TRUE(plan_xor_samples(0).empty());
    for (const std::uint64_t size : {std::uint64_t{1}, std::uint64_t{xor_sample_budget}}) {
        const auto plan = plan_xor_samples(size);
        ASSERT_EQ(plan.size(), 1u);
        EXPECT_EQ(plan[0].offset, 0u);
        EXPECT_EQ(plan[0].size, size);
    }
    for (const std::uint64_t size : {std::uint64_t{xor_sample_budget} + 1, std::uint64_t{1} << 40}) {
        const auto plan = plan_xor_samples(size);
        ASSERT_EQ(plan.size(), xor_sample_count);
        std::uint64_t total = 0;
        for (std::size_t k = 0; k < plan.size(); ++k) {
            total += plan[k].size;
            if (k > 0) {
                EXPECT_GE(plan[k].offset, plan[k - 1].offset + plan[k - 1].size) << k;
            }
        }
        EXPECT_EQ(plan.front().offset, 0u);
        EXPECT_EQ(plan.back().offset + plan.back().size, size);
        EXPECT_LE(total, xor_sample_budget);
    }
}

}  // namespace
}  // namespace kurvane
