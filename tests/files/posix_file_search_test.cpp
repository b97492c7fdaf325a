#include "files/posix_file_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace kurvane::files {
namespace {

namespace fs = std::filesystem;

struct MatchCase {
    const char* pattern;
    const char* name;
    bool matches;
};

void expect_matches(const std::vector<MatchCase>& cases, NameEncoding encoding) {
    for (const MatchCase& c : cases) {
        EXPECT_EQ(wildcard_match(c.pattern, c.name, encoding), c.matches)
            << "pattern='" << c.pattern << "' name='" << c.name << "'";
    }
}

TEST(wildcard_match, star_and_question_mark) {
    expect_matches({
                       {"*.dat", "a.dat", true},
                       {"*.dat", ".dat", true},        // * may stand for nothing
                       {"*.dat", "a.b.dat", true},
                       {"*.dat", "a.dat.txt", false},
                       {"*.dat", "a.data", false},     // no short-name matching here
                       {"*.dat", "adat", false},
                       {"*", ".", true},
                       {"*", "..", true},
                       {"*.*", "abc", false},          // a dot is required
                       {"?.dat", "a.dat", true},
                       {"?.dat", "ab.dat", false},
                       {"?.dat", ".dat", false},       // ? is exactly one character
                       {"*.t?t", "a.txt", true},
                       {"*.t?t", "a.tt", false},
                       {"a*b*c", "axxbyyc", true},
                       {"a*b*c", "axxbyycz", false},
                       {"*a", "bab", false},
                       {"**.dat", "x.dat", true},
                       {"", "", true},
                       {"", "a", false},
                   },
                   NameEncoding::utf8);
}

TEST(wildcard_match, ascii_letters_match_without_regard_to_case) {
    expect_matches({
                       {"*.dat", "X.DAT", true},
                       {"*.DAT", "x.dat", true},
                       {"*.Dat", "x.dAT", true},
                       {"*.dat", "x.d@t", false},  // @ is A - 0x01, [ is Z + 0x01: not letters
                       {"*.[", "x.{", false},
                       {"*.\xc3\xa4", "x.\xc3\x84", false},  // UTF-8 a/A with umlaut: not folded
                   },
                   NameEncoding::utf8);
}

TEST(wildcard_match, question_mark_takes_one_whole_character_of_the_encoding) {
    // UTF-8: "あ" is three bytes and one character.
    expect_matches({
                       {"?.dat", "\xe3\x81\x82.dat", true},
                       {"??.dat", "\xe3\x81\x82.dat", false},
                       {"?.dat", "\xff.dat", true},          // an invalid byte is one character
                       {"?.dat", "\xe3\x81.dat", false},     // a cut sequence: two characters
                       {"*\xe3\x81\x82", "x\xe3\x81\x82", true},
                   },
                   NameEncoding::utf8);
    // Code page 932: "あ" is 0x82 0xA0; the trail byte of 0x83 0x41 is the
    // letter A's value and must not be folded to match 0x83 0x61.
    expect_matches({
                       {"?.dat", "\x82\xa0.dat", true},
                       {"??.dat", "\x82\xa0.dat", false},
                       {"*.\x83\x61", "x.\x83\x41", false},
                       {"*.\x83\x41", "x.\x83\x41", true},
                       {"?", "\x82", true},  // a lead byte at the end stands alone
                       {"*\x5c", "\x95\x5c", false},  // 0x5C is the trail byte of a kanji here
                   },
                   NameEncoding::cp932);
}

TEST(wildcard_match, many_stars_against_a_long_name_finish) {
    // A backtracking matcher without the greedy restart takes exponential
    // time on this; the loop here is bounded by pattern length * name length.
    const std::string name(4000, 'a');
    EXPECT_FALSE(wildcard_match("*a*a*a*a*a*a*a*a*a*a*b", name, NameEncoding::utf8));
    EXPECT_TRUE(wildcard_match("*a*a*a*a*a*a*a*a*a*a", name, NameEncoding::utf8));
}

TEST(name_order, case_insensitive_then_bytewise) {
    std::vector<std::string> names{"b.dat", "B.DAT", "a.dat", "A.dat", "..", ".", "_x", "a", "\xe3\x81\x82", "Z"};
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return name_order_less(a, b); });
    const std::vector<std::string> expected{".", "..", "_x", "a", "A.dat", "a.dat", "B.DAT", "b.dat", "Z",
                                            "\xe3\x81\x82"};
    EXPECT_EQ(names, expected);
    // A strict order: never both ways, never for equal names.
    EXPECT_FALSE(name_order_less("a.dat", "a.dat"));
    EXPECT_NE(name_order_less("A.dat", "a.dat"), name_order_less("a.dat", "A.dat"));
}

class posix_file_search : public ::testing::Test {
protected:
    void touch(const char* name) { std::ofstream(dir_ / name) << "x"; }

    std::vector<std::string> run(PosixFileSearch& search, const char* pattern, bool& found) {
        std::vector<std::string> names;
        found = search.search(pattern, [&](std::string_view name) { names.emplace_back(name); });
        return names;
    }

    kurvane::test::ScratchDir scratch_{"kurvane-search"};
    const fs::path& dir_ = scratch_.path();
};

TEST_F(posix_file_search, lists_matching_entries_directories_included_in_name_order) {
    for (const char* name : {"b.dat", "A.DAT", "c.txt", "a.b.dat", "setting.dat"}) touch(name);
    fs::create_directory(dir_ / "sub.dat");
    PosixFileSearch search(dir_.string(), NameEncoding::utf8);

    bool found = false;
    EXPECT_EQ(run(search, "*.dat", found),
              (std::vector<std::string>{"a.b.dat", "A.DAT", "b.dat", "setting.dat", "sub.dat"}));
    EXPECT_TRUE(found);
    EXPECT_EQ(search.last_pattern(), "*.dat");

    // "*" brings in the directory's own entries, as the Windows search does.
    const std::vector<std::string> all = run(search, "*", found);
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[0], ".");
    EXPECT_EQ(all[1], "..");
    EXPECT_EQ(all.size(), 8u);
}

TEST_F(posix_file_search, reports_nothing_found_and_an_unreadable_directory) {
    touch("a.dat");
    PosixFileSearch search(dir_.string(), NameEncoding::utf8);
    bool found = true;
    EXPECT_TRUE(run(search, "*.xyz", found).empty());
    EXPECT_FALSE(found);
    EXPECT_EQ(search.last_pattern(), "*.xyz");

    PosixFileSearch missing((dir_ / "no-such-dir").string(), NameEncoding::utf8);
    found = true;
    EXPECT_TRUE(run(missing, "*", found).empty());
    EXPECT_FALSE(found);
}

}  // namespace
}  // namespace kurvane::files
