// Narrow literals here are code page 932 bytes (see cp932.h).
#include "engine/classes/text_score.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cp932.h"
#include "pass_test_util.h"
#include "text/text_encoding.h"

namespace kurvane {
namespace {

std::span<const unsigned char> bytes_of(std::string_view s) {
    return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

std::string utf8(std::string_view cp932) { return text::cp932_to_utf8(cp932); }

ScoredRun score(std::string_view cp932) { return score_cp932(bytes_of(cp932)); }

// Sentences written for these tests, of the kinds a game or a program holds.
const std::vector<std::string> sentences = {
    "セーブデータを読み込んでいます。しばらくお待ちください。",
    "この扉は鍵がかかっている。",
    "設定を保存しました",
    "Enter キーで決定、Esc キーで戻ります",
    "%d 個のアイテムを捨てますか？",
    "「ありがとう、また来てね」",
    "画面の明るさを調整してください",
    "ファイルが見つかりません",
};

TEST(text_score, keeps_text_and_drops_data) {
    struct Case {
        std::string run;
        bool kept;
    };
    std::vector<Case> cases;
    for (const std::string& s : sentences) cases.push_back({s, true});
    // Short words are kept on their own too.
    for (const char* word : {"日本語", "ダンジョン", "ありがとう"}) cases.push_back({word, true});
    // Kanji the statistics' prose rarely uses (宝, 剣, 章) are still kanji
    // that words are made of.
    for (const char* line : {"宝箱", "「勇者は剣を手に入れた！」", "「第3章　北の村へ」"}) cases.push_back({line, true});
    const Case data[] = {
        {"H記$8H坑", false},        // machine code: ASCII and kanji alternating
        {"L汽$@L記$H亀$T", false},
        {"GLIBC_2.2.5", false},     // ASCII alone is not Japanese text
        {"Copyright (C) the authors", false},
        {"亀坑", false},            // two kanji that go together in no word
        {"記記記記記記記記", false},  // one value repeated
        {"ＡＢＣＤ", false},
        {"ｱｲｳｴｵｶｷｸ", false},        // half-width katakana runs of random bytes
        {"\x89\x40\x89\x41\x89\x42\x89\x43\x89\x44", false},  // one lead byte, every other byte
        {"\x88\xa0\x89\xa0\x8a\xa0\x8b\xa0\x8c\xa0", false},  // one trail byte, every other byte
        {"過可", false},  // 89 DF 89 C2: a mov after a mov, though the word list holds the pair
        {"亀坑亀坑", false},
    };
    cases.insert(cases.end(), std::begin(data), std::end(data));
    for (const Case& c : cases) {
        const ScoredRun s = score(c.run);
        EXPECT_EQ(s.kept(default_min_score), c.kept) << utf8(c.run) << " scored " << s.score;
    }
}

TEST(text_score, random_bytes_rarely_pass) {
    // Runs of random bytes as the scan would report them with ASCII on:
    // only a small share may read as text.
    std::mt19937_64 rng(7);
    int runs = 0, passed = 0;
    for (int k = 0; k < 20000; ++k) {
        std::string run;
        for (int n = 0; n < 12; ++n) {
            const auto b = static_cast<unsigned char>(rng());
            if (b >= 0x20 && b < 0x7F) {
                run.push_back(static_cast<char>(b));
            } else if (const auto t = static_cast<unsigned char>(rng());
                       text::cp932_double_char(b, t) != 0) {
                run.push_back(static_cast<char>(b));
                run.push_back(static_cast<char>(t));
            }
        }
        ++runs;
        if (score(run).kept(default_min_score)) ++passed;
    }
    EXPECT_LT(passed, runs / 200) << passed << " of " << runs << " random runs kept";
}

TEST(text_score, trims_data_at_the_ends_and_keeps_the_sentence) {
    const std::string before = "\xE8\x12H記$8H坑";  // bytes the scan took into the run
    const std::string after = "$8H坑L汽$@";
    for (const std::string& s : sentences) {
        const std::string run = before.substr(2) + s + after;
        const ScoredRun r = score(run);
        const std::size_t begin = before.size() - 2, end = begin + s.size();
        EXPECT_TRUE(r.kept(default_min_score)) << utf8(s);
        // The sentence is whole, and at most a few bytes of data stay at each
        // end (an end is cut only where it is clearly data).
        EXPECT_LE(r.keep_begin, begin) << utf8(s);
        EXPECT_GE(r.keep_end, end) << utf8(s);
        EXPECT_GE(r.keep_begin + 4, begin) << utf8(run.substr(r.keep_begin, r.keep_end - r.keep_begin));
        EXPECT_LE(r.keep_end, end + 4) << utf8(run.substr(r.keep_begin, r.keep_end - r.keep_begin));
    }
}

// Data files hold long ASCII strings (symbols, names) with no byte between
// them and a line that lies next to them. How the ASCII characters follow
// each other says nothing of the line: it is kept whole, with the strings
// or without them, and data beside the same strings is still data.
TEST(text_score, a_line_between_ascii_strings_of_data) {
    const std::string symbols[] = {
        "_ZNSt8_Rb_treeIPKcSt4pairIKS1_S1_ESt10_Select1stIS4_ESt9_Identity",
        "IS1_ESt4lessIS1_ESaIS4_EE8_M_eraseEPSt13_Rb_tree_nodeIS4_E",
        "XkbControlsMaskText",
    };
    for (const std::string& before : symbols) {
        for (const std::string& after : symbols) {
            for (const std::string& s : sentences) {
                const std::string run = before + s + after;
                const ScoredRun r = score(run);
                EXPECT_TRUE(r.kept(default_min_score)) << utf8(run) << " scored " << r.score;
                EXPECT_LE(r.keep_begin, before.size()) << utf8(run);
                EXPECT_GE(r.keep_end, before.size() + s.size()) << utf8(run);
            }
            for (const char* data : {"亀坑", "H記$8H坑", "ｱｲｳｴｵｶｷｸ", "記記記記"}) {
                const std::string run = before + data + after;
                EXPECT_FALSE(score(run).kept(default_min_score)) << utf8(run) << " scored " << score(run).score;
            }
        }
    }
}

// A sentence's first character stays with it when it is only a little
// less likely than the sentence starting after it: a digit before kana, a
// kanji before a number.
TEST(text_score, keeps_a_first_character_that_goes_with_the_sentence) {
    struct Case {
        std::string noise, sentence;
    };
    const Case cases[] = {
        {"A", "1から100までプリント"},
        {"$", "表2.2 Debian アーカイブサイトのリスト"},
        {"H$8", "第5章　ネットワークの設定"},
    };
    for (const Case& c : cases) {
        const ScoredRun r = score(c.noise + c.sentence);
        EXPECT_TRUE(r.kept(default_min_score)) << utf8(c.sentence);
        EXPECT_LE(r.keep_begin, c.noise.size()) << utf8(c.sentence) << " kept from " << r.keep_begin;
        EXPECT_EQ(r.keep_end, c.noise.size() + c.sentence.size()) << utf8(c.sentence);
    }
}

// A script's command before a line is not part of it; ASCII that belongs
// to the line, and a tag whose line cannot stand without it, stay.
TEST(text_score, trims_a_command_before_a_line) {
    struct Case {
        std::string run;
        std::size_t kept_from;  // where the kept part starts
    };
    const Case cases[] = {
        {"@sel 263 ヒント", 9},
        {"#voice v01320 セーブしました", 14},
        {"#voice v01320 1.6.3. 置換式", 14},
        {"<w 4589>ヒント", 8},
        {"\\r8888:ヒント", 7},
        {"[name=C2631]パッケージ", 12},
        {"[name=C588]n番目の括弧で囲まれた正規表現", 11},
        {"@msg 0120 68980 つのパッケージが利用できます。", 10},
        {"@sel 239 2番目の行を表示", 9},
        {"@sel 12 grep(1) によって正規表現を使った文字列探索ができます。", 8},
        {"@sel 12 Debian アーカイブの基本", 8},
        // no command: prose, numbering, words that only look like one
        {"Debian アーカイブの基本", 0},
        {"2.1.4. Debian アーカイブの基本", 0},
        {"@2.1.2. 基本的な注意事項", 0},
        {"#full-upgrade\" と \"apt-get\" の違い", 0},
        {"<file ファイルが見つかりません", 0},
    };
    for (const Case& c : cases) {
        const ScoredRun r = score(c.run);
        EXPECT_TRUE(r.kept(default_min_score)) << utf8(c.run);
        EXPECT_EQ(r.keep_begin, c.kept_from) << utf8(c.run);
        EXPECT_EQ(r.keep_end, c.run.size()) << utf8(c.run);
    }
}

// Menu and button labels end in their access key or in "...", which stay
// with them; a key after data, or the same brackets after ASCII, are no
// label's.
const char* const labels[] = {"開く(_O)",   "閉じる(_C)", "保存(_S)",   "ヘルプ(_H)",          "印刷(_P)...",
                              "開く(_O)...", "開く...",    "はい(&Y)",   "いいえ(&N)", "次へ(&N) >",
                              "ファイルにコピー(&C)"};

TEST(text_score, keeps_a_label_with_its_tail) {
    for (const char* label : labels) {
        const std::string run = label;
        const ScoredRun r = score(run);
        EXPECT_TRUE(r.kept(default_min_score)) << utf8(run) << " score " << r.score;
        EXPECT_EQ(r.keep_begin, 0u) << utf8(run);
        EXPECT_EQ(r.keep_end, run.size()) << utf8(run);
        EXPECT_FALSE(Cp932Dismissal(default_min_score).dismisses(bytes_of(run), 0)) << utf8(run);
    }
    const auto tail_at = [](std::string_view run) { return cp932_label_tail_at(bytes_of(run)); };
    for (const char* other : {"H\x8bL$(_O)", "open(_O)", "\x8b(&)", "Loading...", "開く(_O)....", "開く..(_O)"})
        EXPECT_EQ(tail_at(other).size, 0u) << other;
    EXPECT_EQ(tail_at("開く(_O)...").at, std::string_view("開く").size());
    EXPECT_EQ(tail_at("開く(_O)...").size, access_key_size + ellipsis_size);
    EXPECT_EQ(tail_at("次へ(&N) >").size, access_key_size);
    EXPECT_EQ(tail_at("設定...").size, ellipsis_size);
}

// C++ names as stored in machine code, read as text's neighbours: where
// the names of the ASCII before a part end, and where those after it start.
TEST(text_score, finds_the_names_of_a_symbol_beside_text) {
    struct Case {
        const char* ascii;
        std::size_t prefix_end;    // symbol_prefix_end
        std::size_t suffix_start;  // symbol_suffix_start
    };
    constexpr std::size_t none = SIZE_MAX;  // the ASCII's size
    const Case cases[] = {
        {"_ZN5clang12ast_matchers8internal", 23, 3},  // a last name up to the text stays
        {"izeAnalysisERNS_12PassRegistryE", 0, none},  // one name alone is no symbol
        {"lvm2cl15OptionValueBase", 6, 3},
        {"N5clang7toolingX", 15, 1},        // a name ends before a capital
        {"N5clang7toolingx", 0, none},      // not before a small letter
        {"96detail5writeIcNS0_8appenderEf", 29, 8},  // a length at the token's start counts for nothing
        {"tune2fs mke2fs ip6tables e2fsprogs", 0, none},  // prose: one name a token at most
        {"x N4llvm5Value4dump y", 19, 3},
        {"x N4llvm5Value4dump .", 14, 3},  // the last name ends the last token
        {"A4llvm5Value 7abcdefg8abcdefgh", 12, 1},  // the last (first) token that holds two
        {"N123abc45defgh", 0, none},       // a length of three digits is none
        {"", 0, none},
    };
    for (const Case& c : cases) {
        const std::span<const char> ascii(c.ascii, std::strlen(c.ascii));
        EXPECT_EQ(symbol_prefix_end(ascii), c.prefix_end) << c.ascii;
        EXPECT_EQ(symbol_suffix_start(ascii), c.suffix_start == none ? ascii.size() : c.suffix_start) << c.ascii;
    }
    // A part keeps its text but not the names; after it, the letters
    // before the first name's length stay.
    const std::string line = "ネットワークを";
    const std::string run = "_ZN4llvm5Value6Config1x" + line + "ERNS_12PassRegistry9internalE";
    const ScoredRun r = score(run);
    ASSERT_TRUE(r.kept(default_min_score));
    EXPECT_EQ(run.substr(r.keep_begin, r.keep_end - r.keep_begin), line + "ERNS_");
}

TEST(text_score, keeps_a_command_its_line_needs) {
    // A word the text rarely uses does not stand alone, so it keeps the
    // command's space before it: the run is kept as it was.
    const std::string run = "@sel 263 箱";
    const ScoredRun with = score(run);
    const ScoredRun alone = score(run.substr(9));
    ASSERT_FALSE(alone.kept(default_min_score));
    EXPECT_EQ(with.keep_begin, 0u);
}

TEST(text_score, reads_a_sentence_the_scan_read_out_of_step) {
    // 0x83 pairs with the first byte of "で" (0x82 0xC5), and 0xC5 then ends
    // the scan's run: the run it reports starts after the first character.
    const std::string sentence = "では、はじめましょう";
    const std::string input = std::string("\x48\x83") + sentence;
    const std::size_t run_start = 2 + 2;  // after "H", "\x83\x82" and "\xC5" is not text
    const std::size_t lead_in = run_start;
    const ScoredRun r = score_cp932(bytes_of(input), lead_in);
    ASSERT_TRUE(r.kept(default_min_score));
    EXPECT_EQ(r.keep_begin, 2u);
    EXPECT_EQ(r.keep_end, input.size());
    // Text that lies wholly in the lead-in is the run before's.
    const std::string earlier = sentence + "\x01";
    EXPECT_FALSE(score_cp932(bytes_of(earlier), sentence.size()).kept(0));
    // Within one run, a sentence read out of step is read in step too.
    const ScoredRun whole = score(input);
    EXPECT_EQ(whole.keep_begin, 2u) << whole.keep_begin;
}

TEST(text_score, ascii_word_before_a_sentence_after_a_stray_lead_byte) {
    // 0x8B 0x55 is a kanji, so one reading takes the "U" of "Ubuntu" into
    // it; the reading where the word starts at "U" must win once the
    // sentence follows, with or without control bytes in the lead-in.
    const std::string sentence = "Ubuntu の画面を開きます。";
    for (const std::string& lead : {std::string("H\x8B"), std::string("\x00\x00H\x8B", 4)}) {
        const std::string bytes = lead + sentence + "C(H";
        const ScoredRun r = score_cp932(bytes_of(bytes), lead.size());
        ASSERT_TRUE(r.kept(default_min_score)) << lead.size();
        EXPECT_EQ(r.keep_begin, lead.size()) << utf8(bytes.substr(r.keep_begin, r.keep_end - r.keep_begin));
        EXPECT_GE(r.keep_end, lead.size() + sentence.size());
    }
}

TEST(text_score, two_kanji_words_in_a_record) {
    // Words alone between zero bytes of a table, as the scan reports them;
    // 利用 has two kanji of one lead byte (0x97), which data with a fixed
    // byte every other byte also gives, but it is a word.
    for (const char* word : {"確認", "設定", "利用", "削除", "保存"}) {
        const ScoredRun r = score(word);
        EXPECT_TRUE(r.kept(default_min_score)) << utf8(word) << " scored " << r.score;
        EXPECT_EQ(r.keep_end - r.keep_begin, std::string_view(word).size()) << utf8(word);
    }
}

// A run on its own between control bytes of 2-4 level-1 kanji that words
// are made of is a word of a table; with data before it, or a pair no word
// holds, it is not.
TEST(text_score, a_word_alone_in_a_record) {
    struct Case {
        const char* run;
        std::size_t lead_in;
        bool kept;
    };
    const Case cases[] = {
        {"宝箱", 0, true},       {"奇妙", 0, true},     {"留意点", 0, true},  {"難解奇異", 0, true},
        {"H$宝箱", 2, false},    // bytes of data before it
        {"亀坑", 0, false},      // no word holds the pair
        {"宝箱宝箱宝", 0, false}, // longer than a word of a table: scored as prose
    };
    for (const Case& c : cases) {
        const ScoredRun r = score_cp932(bytes_of(c.run), c.lead_in);
        EXPECT_EQ(r.kept(default_min_score), c.kept) << utf8(c.run) << " scored " << r.score;
        if (c.kept) {
            EXPECT_EQ(r.keep_end - r.keep_begin, std::string_view(c.run).size()) << utf8(c.run);
        }
    }
}

// Runs as machine code gives them: this test program's own bytes (where
// the system names them /proc/self/exe), cut at the control bytes no
// character holds, each with the bytes before it as its lead-in (capped,
// as the printer caps it).
std::vector<std::pair<std::string, std::size_t>> machine_code_runs(std::size_t limit) {
    std::vector<std::pair<std::string, std::size_t>> runs;
    std::ifstream in("/proc/self/exe", std::ios::binary);
    const std::string code((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
    std::size_t from = 0;
    while (from < code.size() && runs.size() < limit) {
        std::size_t to = from;
        while (to < code.size() && !control(code[to])) ++to;
        // A run the scan reports may start anywhere in such a stretch.
        for (std::size_t start = from; start < to; start += 1 + (to - start) / 3) {
            const std::size_t lead_in = std::min<std::size_t>(start - from, max_lead_in);
            runs.emplace_back(code.substr(start - lead_in, std::min<std::size_t>(to - start, 40) + lead_in), lead_in);
        }
        from = to + 1;
    }
    return runs;
}

// Given a threshold, a run no reading of which can reach it is dismissed
// without being read in full, by score_cp932 itself and by the quicker test
// a printer makes first; every run the full score keeps at that threshold
// comes back the same, and is never dismissed. Swept over every pair of
// bytes after a few lead-ins, over random runs of text, data and noise
// bytes, and over runs of real machine code.
TEST(text_score, a_threshold_never_drops_what_the_full_score_keeps) {
    std::vector<std::pair<std::string, std::size_t>> runs;  // with the size of the lead-in
    const auto with_lead_ins = [&](const std::string& run) {
        for (std::size_t lead_in = 0; lead_in <= std::min<std::size_t>(run.size(), 2); ++lead_in)
            runs.emplace_back(run, lead_in);
    };
    for (const std::string& lead : {std::string(), std::string("\x82"), std::string("\x88\xEA"), std::string("A")})
        for (unsigned pair = 0; pair < 0x10000; ++pair)
            with_lead_ins(lead + static_cast<char>(pair >> 8) + static_cast<char>(pair & 0xFF));
    std::mt19937_64 rng(5);
    const std::string alphabet =
        std::string("宝箱の設定を保存しましたダンジョン剣章亀坑 %sH$8@[]v") + "\x89\x8B\xE8\x00\xFF";
    for (int k = 0; k < 40000; ++k) {
        std::string run;
        const std::size_t n = 1 + rng() % 14;
        const bool noise = k % 2 == 0;
        for (std::size_t j = 0; j < n; ++j)
            run.push_back(noise ? static_cast<char>(rng()) : alphabet[rng() % alphabet.size()]);
        with_lead_ins(run);
    }
    // Sentences, words alone and script lines, in data and after a lead-in.
    for (const std::string& s : sentences) {
        with_lead_ins(s);
        with_lead_ins("H\x8bL$" + s + "\x8b\x4c");
        runs.emplace_back("@sel 12 " + s, 0);
    }
    for (const char* label : labels) {
        with_lead_ins(label);
        with_lead_ins("H\x8bL$" + std::string(label));
    }
    // 丁丑, a year's name: a pair of the word list whose kanji alone say
    // too little for any bound to reach a threshold.
    for (const char* word : {"宝箱", "設定", "日本語", "剣章", "丁丑"}) {
        with_lead_ins(word);
        // A word alone after a script's command scores on its own.
        for (const char* tag : {"@sel ", "#voice v0012 ", "<w 40>", "[name=C2]", "{p}"}) {
            runs.emplace_back(std::string(tag) + word, 0);
            // and after the bytes of data the scan read before the command
            for (const char* before : {"\x01", "H", "\x8b", "$8"}) with_lead_ins(before + std::string(tag) + word);
            // and after machine code that reads as little, where only the
            // word after the command can reach a threshold
            for (const char* before : {"H\x8bL$", "\x8b\x4c$@", "L\x89\xe5#"})
                with_lead_ins(before + std::string(tag) + word);
        }
    }
    const auto code = machine_code_runs(60000);
#ifdef __linux__
    EXPECT_GT(code.size(), 10000u) << "this program's own bytes could not be read";
#endif
    runs.insert(runs.end(), code.begin(), code.end());

    std::size_t kept = 0, dismissed = 0;
    const int thresholds[] = {1, 20, default_min_score, 80, 100};
    std::vector<Cp932Dismissal> dismissals;
    for (const int min_score : thresholds) dismissals.emplace_back(min_score);
    EXPECT_FALSE(Cp932Dismissal(0).dismisses(bytes_of("\x01"), 0));  // a threshold of 0 keeps all
    for (const auto& [run, lead_in] : runs) {
        const ScoredRun full = score_cp932(bytes_of(run), lead_in);
        for (std::size_t t = 0; t < std::size(thresholds); ++t) {
            const int min_score = thresholds[t];
            const ScoredRun quick = score_cp932(bytes_of(run), lead_in, min_score);
            ASSERT_EQ(quick.kept(min_score), full.kept(min_score))
                << test::hex(bytes_of(run)) << " lead-in " << lead_in << " min " << min_score;
            const bool dismiss = dismissals[t].dismisses(bytes_of(run), lead_in);
            dismissed += dismiss ? 1 : 0;
            if (!full.kept(min_score)) continue;
            ++kept;
            ASSERT_FALSE(dismiss) << test::hex(bytes_of(run)) << " lead-in " << lead_in << " min " << min_score;
            ASSERT_EQ(quick.score, full.score) << test::hex(bytes_of(run));
            ASSERT_EQ(quick.keep_begin, full.keep_begin) << test::hex(bytes_of(run));
            ASSERT_EQ(quick.keep_end, full.keep_end) << test::hex(bytes_of(run));
        }
    }
    EXPECT_GT(kept, 1000u);  // the sweep holds runs that are kept
    EXPECT_GT(dismissed, runs.size());  // and most others are dismissed quickly
}

// Runs of at most two bytes are dismissed by the sieve's most for them
// alone: it must bound the sieve of every such run, and be reached by one.
TEST(text_score, the_sieve_bounds_every_run_of_two_bytes) {
    const detail::DismissalSieve& sieve = detail::dismissal_sieve();
    std::uint32_t most = 0;
    for (unsigned pair = 0; pair < 0x10000; ++pair) {
        const unsigned char run[2] = {static_cast<unsigned char>(pair >> 8), static_cast<unsigned char>(pair)};
        for (std::size_t n = 1; n <= 2; ++n) {
            const std::uint32_t units = detail::sieve_units(sieve, std::span<const unsigned char>(run, n));
            ASSERT_LE(units, sieve.most_of_two) << test::hex(std::span<const unsigned char>(run, n));
            most = std::max(most, units);
        }
    }
    EXPECT_EQ(most, sieve.most_of_two);
}

// The sieve as its definition reads, a byte a step: each byte's share
// before the byte after it (0 after the last), taken paired where the
// byte two back may start a double-byte character.
std::uint32_t sieve_by_definition(const detail::DismissalSieve& sieve, std::span<const unsigned char> run) {
    std::uint32_t units = 0;
    for (std::size_t k = 0; k < run.size(); ++k) {
        const unsigned e = sieve.share[sieve.row[run[k]]][k + 1 < run.size() ? run[k + 1] : 0];
        const bool paired =
            k >= 2 && (sieve.share[sieve.row[run[k - 2]]][run[k - 1]] >> detail::sieve_double_bit & 1) != 0;
        units += (e >> (paired ? detail::sieve_share_bits : 0)) & detail::sieve_share_mask;
    }
    return units;
}

// The sieve takes two bytes a step: swept against its definition over
// runs of every length up to past a few steps, of noise, of lead bytes
// (each may pair with the next) and of machine code.
TEST(text_score, the_sieve_reads_as_its_definition) {
    const detail::DismissalSieve& sieve = detail::dismissal_sieve();
    std::mt19937_64 rng(9);
    std::vector<std::pair<std::string, std::size_t>> runs = machine_code_runs(20000);
    for (int k = 0; k < 30000; ++k) {
        std::string run;
        const std::size_t n = 1 + static_cast<std::size_t>(k) % 21;
        const bool leads = k % 3 == 0;
        for (std::size_t j = 0; j < n; ++j)
            run.push_back(static_cast<char>(leads ? 0x81 + rng() % 31 : rng()));
        runs.emplace_back(run, 0);
    }
    for (const auto& [run, lead_in] : runs) {
        static_cast<void>(lead_in);
        ASSERT_EQ(detail::sieve_units(sieve, bytes_of(run)), sieve_by_definition(sieve, bytes_of(run)))
            << test::hex(bytes_of(run));
    }
}

TEST(text_score, threshold_edges) {
    EXPECT_EQ(score_from_evidence(-1000.0), 0);
    EXPECT_EQ(score_from_evidence(1000.0), 100);
    EXPECT_EQ(score_from_evidence(8.0), 50);  // even odds: the default threshold
    for (double e = -20; e < 20; e += 0.25) EXPECT_LE(score_from_evidence(e), score_from_evidence(e + 0.25));
    const ScoredRun r = score("この扉は鍵がかかっている。");
    EXPECT_TRUE(r.kept(r.score));
    EXPECT_FALSE(r.kept(r.score + 1));
    EXPECT_TRUE(r.kept(0));
    // Nothing to keep is never kept, whatever the threshold.
    EXPECT_FALSE(score("").kept(0));
    EXPECT_FALSE(score("\x01").kept(0));
    EXPECT_FALSE(score("GLIBC_2.2.5").kept(1));
}

// The best part of a long run of data is the best of many: it needs the
// log of their number more evidence, so two kanji picked out of a long run
// of ideographs (ASCII strings read as UTF-16) score lower than alone, and
// a sentence stays text however long the run around it.
TEST(text_score, the_best_of_many_parts_needs_more_evidence) {
    const std::u32string pair = U"正条";
    const std::u32string sentence = U"設定を保存してから、もう一度お試しください。";
    for (const std::u32string* run : {&pair, &sentence}) {
        TextScorer scorer;
        scorer.add(*run);
        const ScoredRun alone = scorer.result();
        EXPECT_EQ(scorer.result_among(1).score, alone.score);
        int last = alone.score;
        for (const std::size_t placements : {2u, 10u, 100u, 1000u}) {
            const ScoredRun among = scorer.result_among(placements);
            EXPECT_LE(among.score, last) << placements;
            EXPECT_EQ(among.keep_begin, alone.keep_begin);
            EXPECT_EQ(among.keep_end, alone.keep_end);
            last = among.score;
        }
        // The pair alone is text; picked out of a thousand places, data.
        if (run == &pair) {
            EXPECT_LT(last, alone.score);
        }
        EXPECT_TRUE(alone.kept(default_min_score));
        EXPECT_EQ(scorer.result_among(1000).kept(default_min_score), run == &sentence);
    }
}

// In code page 932 bytes too: two kanji that stand as a word on their own
// are data when the score picks them out of a run of machine code.
TEST(text_score, a_pair_picked_out_of_data_is_data) {
    const std::string code = "H$8L$@Hx";
    const struct {
        std::string run;
        bool kept;
    } cases[] = {
        {"信会", true},
        {code + "信会" + "L$H8", false},
        {code + code + "信会" + code, false},
        {code + "この扉は鍵がかかっている。" + "L$H8", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(score(c.run).kept(default_min_score), c.kept) << utf8(c.run) << " scored " << score(c.run).score;
}

TEST(text_score, characters_in_pieces_score_as_a_whole) {
    const std::u32string run = U"x$H記ゲームを始めますか？（はい／いいえ）$8H";
    const ScoredRun whole = score_text(run);
    ASSERT_TRUE(whole.kept(default_min_score));
    for (std::size_t split = 0; split <= run.size(); ++split) {
        TextScorer scorer;
        scorer.add(std::u32string_view(run).substr(0, split));
        scorer.add(std::u32string_view(run).substr(split));
        const ScoredRun pieces = scorer.result();
        EXPECT_EQ(pieces.score, whole.score) << split;
        EXPECT_EQ(pieces.keep_begin, whole.keep_begin) << split;
        EXPECT_EQ(pieces.keep_end, whole.keep_end) << split;
    }
    // The same text in code page 932 bytes keeps the same characters.
    EXPECT_GE(score("ゲームを始めますか？").score, default_min_score);
}

TEST(text_score, characters_code_page_932_lacks) {
    // Other encodings bring ideographs code page 932 has no code for (U+29E3D);
    // they weigh as rare kanji, and a sentence holding one stays text.
    EXPECT_TRUE(score_text(U"\U00029E3Dを焼いて食べました。").kept(default_min_score));
    // Hangul (U+C548 ...) is not Japanese.
    EXPECT_FALSE(score_text(U"\uC548\uB155\uD558\uC138\uC694 \uC5EC\uB7EC\uBD84").kept(default_min_score));
}

// Random UTF-16 gives kanji more often than the statistics' noise does, so a
// run decoded from UTF-16 scores lower on the same characters; the other
// encodings score as code page 932 does, and a sentence is text in all.
TEST(text_score, each_encoding_scores_against_its_own_noise) {
    const std::u32string pair = U"査証";  // two kanji of a word, as noise gives them
    const std::u32string sentence = U"設定を保存してから、もう一度お試しください。";
    using text::InputEncoding;
    const struct {
        InputEncoding encoding;
        bool lower;
    } cases[] = {{InputEncoding::cp932, false},
                 {InputEncoding::euc_jp, false},
                 {InputEncoding::utf8, false},
                 {InputEncoding::utf16le, true},
                 {InputEncoding::utf16be, true}};
    for (const auto& c : cases) {
        const auto scored = [&](const std::u32string& run) {
            TextScorer scorer(c.encoding);
            scorer.add(pair);  // scored, then forgotten: reset keeps the encoding
            scorer.reset();
            scorer.add(run);
            return scorer.result();
        };
        const auto name = text::input_encoding_name(c.encoding);
        if (c.lower)
            EXPECT_LT(scored(pair).score, score_text(pair).score) << name;
        else
            EXPECT_EQ(scored(pair).score, score_text(pair).score) << name;
        EXPECT_TRUE(scored(sentence).kept(default_min_score)) << name;
        // The same characters are kept; only the score moves.
        EXPECT_EQ(scored(sentence).keep_begin, score_text(sentence).keep_begin) << name;
        EXPECT_EQ(scored(sentence).keep_end, score_text(sentence).keep_end) << name;
    }
}

}  // namespace
}  // namespace kurvane
