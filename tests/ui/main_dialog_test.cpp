// The main dialog's commands against a recording fake view set: every list
// operation, search, message and extraction goes into one log in call order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ui/main_dialog.h"
#include "ui/messages.h"

namespace kurvane {
namespace {

using Log = std::vector<std::string>;

std::string message(const char* text, const char* caption) {
    return std::string("message ") + text + " / " + caption;
}

struct FakeList final : FileListView {
    Log& log;
    std::vector<std::string> entries;
    int selected = -1;
    explicit FakeList(Log& l) : log(l) {}
    int count() const override { return static_cast<int>(entries.size()); }
    void insert_at(int index, std::string_view name) override {
        log.push_back("insert " + std::to_string(index) + " " + std::string(name));
        entries.insert(entries.begin() + index, std::string(name));
    }
    // Like a single-selection list box: deleting an entry leaves nothing
    // selected.
    void delete_at(int index) override {
        log.push_back("delete " + std::to_string(index));
        entries.erase(entries.begin() + index);
        selected = -1;
    }
    std::string text_at(int index) const override { return entries.at(static_cast<size_t>(index)); }
    int selection() const override { return selected; }
};

struct FakeField final : ExtensionField {
    std::string value;
    std::string text() const override { return value; }
    void set_text(std::string_view text) override { value = text; }
};

struct FakeMessages final : MessageView {
    Log& log;
    explicit FakeMessages(Log& l) : log(l) {}
    void show(std::string_view text, std::string_view caption) override {
        log.push_back("message " + std::string(text) + " / " + std::string(caption));
    }
};

// Yields the scripted names for any pattern; an empty script finds nothing.
struct FakeSearch final : FileSearchView {
    Log& log;
    std::vector<std::string> names;
    explicit FakeSearch(Log& l) : log(l) {}
    bool search(std::string_view pattern,
                const std::function<void(std::string_view)>& found) override {
        log.push_back("search " + std::string(pattern));
        for (const std::string& name : names) {
            found(name);
        }
        return !names.empty();
    }
};

struct Dialog {
    Log log;
    FakeList list{log};
    FakeField field;
    FakeMessages messages{log};
    FakeSearch search{log};
    std::vector<std::string> failing;  // names whose extraction fails
    MainDialogViews views{list, field, messages, search, [this](const char* name) {
                              log.push_back(std::string("extract ") + name);
                              return std::find(failing.begin(), failing.end(), name) == failing.end() ? 1 : 0;
                          }};

    // Starts from a list holding `names`, with an empty log.
    void listing(std::vector<std::string> names) {
        list.entries = std::move(names);
        log.clear();
    }
};

TEST(main_dialog, refused_searches_empty_the_list_first) {
    const struct {
        const char* field;
        const char* text;
    } cases[] = {
        {"", text::no_extension},
        {"txt", text::txt_refused},
        {"TXT", text::txt_refused},
        {"Txt", text::txt_refused},
    };
    for (const auto& c : cases) {
        Dialog d;
        d.listing({"old1.dat", "old2.dat"});
        d.field.value = c.field;
        EXPECT_EQ(search_files(d.views), 0) << "field=" << c.field;
        EXPECT_EQ(d.log, (Log{"delete 0", "delete 0", message(c.text, text::caption_oops)}))
            << "field=" << c.field;
        EXPECT_TRUE(d.list.entries.empty()) << "field=" << c.field;
    }
}

TEST(main_dialog, search_pattern_is_built_from_the_first_11_bytes) {
    const struct {
        std::string field;
        std::string pattern;
    } cases[] = {
        {"dat", "*.dat"},
        {"abcdefghijklmn", "*.abcdefghijk"},
        // Only the whole text is compared with txt.
        {"txt ", "*.txt "},
        {"txta", "*.txta"},
        {"t?t", "*.t?t"},
        // A double-byte character ending at byte 11 is kept whole ...
        {"abcdefghiあ", "*.abcdefghiあ"},
        // ... one whose trail byte would be byte 12 is dropped, lead and all.
        {"abcdefghijあ", "*.abcdefghij"},
        // Half-width katakana are one byte each (three in UTF-8).
        {"ｱｲｳｴｵｶｷｸｹｺｻｼ", "*.ｱｲｳｴｵｶｷｸｹｺｻ"},
        // Characters code page 932 lacks count their UTF-16 units.
        {"abcdefghij한", "*.abcdefghij한"},
        {"abcdefghij😀", "*.abcdefghij"},
        {"café", "*.café"},
    };
    for (const auto& c : cases) {
        Dialog d;
        d.field.value = c.field;
        d.search.names = {"x"};
        EXPECT_EQ(search_files(d.views), 1) << "field=" << c.field;
        EXPECT_EQ(d.log, (Log{"search " + c.pattern, "insert 0 x"})) << "field=" << c.field;
        EXPECT_EQ(d.field.value, c.field) << "the field itself is left whole";
    }
}

TEST(main_dialog, search_lists_names_as_found_and_replaces_the_list) {
    Dialog d;
    d.field.value = "dat";
    // Unsorted, with the directory entries and a base.txt: nothing is
    // filtered or re-ordered at listing time.
    d.search.names = {"b.dat", "a.dat", ".", "..", "a.txt"};
    EXPECT_EQ(search_files(d.views), 1);
    EXPECT_EQ(d.log, (Log{"search *.dat", "insert 0 b.dat", "insert 1 a.dat", "insert 2 .",
                          "insert 3 ..", "insert 4 a.txt"}));

    d.log.clear();
    d.search.names = {"c.dat"};
    EXPECT_EQ(search_files(d.views), 1);
    EXPECT_EQ(d.log.size(), 7u);
    EXPECT_EQ(d.list.entries, (std::vector<std::string>{"c.dat"}));
}

TEST(main_dialog, search_that_finds_nothing_shows_the_pattern) {
    Dialog d;
    d.listing({"old.dat"});
    d.field.value = "xyz";
    // The command still succeeds: the search itself ran.
    EXPECT_EQ(search_files(d.views), 1);
    const std::string expected = std::string("*.xyz") + "ファイルは発見できませんでした。";
    EXPECT_EQ(d.log, (Log{"delete 0", "search *.xyz", message(expected.c_str(), text::caption_oops)}));

    // The longest patterns the search builds fit the message whole: 11
    // bytes of ASCII, and 11 half-width katakana (33 bytes of UTF-8).
    for (const std::string pattern : {"*.abcdefghijk", "*.ｱｲｳｴｵｶｷｸｹｺｻ", "*.한국어한국어한국어한국"}) {
        d.listing({});
        EXPECT_EQ(fill_file_list(d.views, pattern.c_str()), 0);
        EXPECT_EQ(d.log.back(), message((pattern + "ファイルは発見できませんでした。").c_str(), text::caption_oops));
    }
}

TEST(main_dialog, delete_removes_only_the_selected_entry) {
    Dialog d;
    EXPECT_EQ(delete_selected_file(d.views), 0);
    EXPECT_EQ(d.log, (Log{message(text::nothing_to_delete, text::caption_oops)}));

    d.listing({"a.dat", "b.dat", "c.dat"});
    EXPECT_EQ(delete_selected_file(d.views), 0);
    EXPECT_EQ(d.log, (Log{message(text::nothing_selected, text::caption_report)}));

    d.listing({"a.dat", "b.dat", "c.dat"});
    d.list.selected = 1;
    EXPECT_EQ(delete_selected_file(d.views), 1);
    // A second delete without selecting again finds nothing selected.
    EXPECT_EQ(delete_selected_file(d.views), 0);
    EXPECT_EQ(d.log, (Log{"delete 1", message(text::nothing_selected, text::caption_report)}));
    EXPECT_EQ(d.list.entries, (std::vector<std::string>{"a.dat", "c.dat"}));
}

TEST(main_dialog, extract_walks_the_list_then_reports_completion) {
    Dialog d;
    EXPECT_EQ(extract_all_files(d.views), 0);
    EXPECT_EQ(d.log, (Log{message(text::nothing_to_extract, text::caption_oops)}));

    d.listing({"b.dat", "a.dat", "."});
    EXPECT_EQ(extract_all_files(d.views), 1);
    EXPECT_EQ(d.log, (Log{"extract b.dat", "extract a.dat", "extract .",
                          message(text::extract_done, text::caption_done)}));
    EXPECT_EQ(d.list.entries.size(), 3u) << "extracted names stay listed";
}

TEST(main_dialog, extract_never_passes_a_name_that_is_its_own_output) {
    Dialog d;
    d.listing({"a.txt", "b.dat", "C.TXT", "d.Txt", "e.b.txt", "f.txt.dat", "txt", ".txt"});
    EXPECT_EQ(extract_all_files(d.views), 1);
    // e.b.txt writes e.txt, f.txt.dat writes f.txt, txt writes txt.txt:
    // none of them overwrites its input.
    EXPECT_EQ(d.log, (Log{"extract b.dat", "extract e.b.txt", "extract f.txt.dat", "extract txt",
                          message(text::extract_done, text::caption_done)}));
}

TEST(main_dialog, a_walk_never_overwrites_an_output_it_wrote) {
    Dialog d;
    // save.1.dat writes save.txt first; save.2.dat and save.dat would
    // overwrite it. fail.dat wrote nothing, so fail.b.dat may write fail.txt.
    // Save.dat is another file here (names differ in case off Windows).
    d.listing({"save.1.dat", "save.2.dat", "fail.dat", "fail.b.dat", "save.dat", "Save.dat"});
    d.failing = {"fail.dat"};
    int passed_over = -1;
    EXPECT_EQ(extract_all_files(d.views, &passed_over), 1);
    EXPECT_EQ(passed_over, 2);
    const std::string report = std::string(text::clash_intro) + "\nsave.2.dat → save.txt" +
                               "\nsave.dat → save.txt";
    EXPECT_EQ(d.log, (Log{"extract save.1.dat", "extract fail.dat", "extract fail.b.dat", "extract Save.dat",
                          message(report.c_str(), text::caption_report),
                          message(text::extract_done, text::caption_done)}));

    // A long list names the first ten and counts the rest.
    std::vector<std::string> names;
    for (int k = 0; k < 14; ++k) names.push_back("x." + std::to_string(k) + ".dat");
    d.listing(names);
    d.failing.clear();
    EXPECT_EQ(extract_all_files(d.views, &passed_over), 1);
    EXPECT_EQ(passed_over, 13);
    const std::string shown = d.log.at(d.log.size() - 2);
    EXPECT_NE(shown.find("x.10.dat → x.txt\n" + std::string("ほか 3 件")), std::string::npos) << shown;
    EXPECT_EQ(shown.find("x.11.dat"), std::string::npos) << shown;

    // Names that differ in the case of letters outside ASCII: one file
    // where the file system folds them (as Windows does), two where it does
    // not. Only a name of the same shape is asked about.
    for (const bool folds : {true, false}) {
        Log asked;
        d.views.same_file = [&](const std::string& a, const std::string& b) {
            asked.push_back(a + " ~ " + b);
            return folds;
        };
        d.listing({"Été.1.dat", "été.2.dat", "Ete.dat", "Étés.dat"});
        EXPECT_EQ(extract_all_files(d.views, &passed_over), 1);
        EXPECT_EQ(passed_over, folds ? 1 : 0);
        EXPECT_EQ(asked, Log{"Été.txt ~ été.txt"});
        EXPECT_EQ(d.log.front(), "extract Été.1.dat");
        EXPECT_EQ(std::count(d.log.begin(), d.log.end(), "extract été.2.dat"), folds ? 0 : 1);
    }
}

// Logs each entry the walk takes up; a close of the window "arrives" while
// entry `stop_at` is worked on (-1: before the walk, past the end: never).
struct RecordingObserver final : WalkObserver {
    Log& log;
    int stop_at;
    bool stop = false;
    RecordingObserver(Log& l, int at) : log(l), stop_at(at), stop(at < 0) {}
    void file_started(int index, int count, std::string_view name) override {
        log.push_back("file " + std::to_string(index) + "/" + std::to_string(count) + " " + std::string(name));
        stop = stop || index == stop_at;
    }
    bool stop_requested() override { return stop; }
};

TEST(main_dialog, a_stop_request_ends_the_walk_after_the_current_file) {
    // a.2.dat is passed over (its output is a.1.dat's), so the clash report
    // would come before the completion message.
    const std::vector<std::string> names = {"a.1.dat", "a.2.dat", "b.dat"};
    const int n = static_cast<int>(names.size());
    for (int stop_at = -1; stop_at <= n; ++stop_at) {
        Dialog d;
        d.listing(names);
        RecordingObserver observer(d.log, stop_at);
        const int result = extract_all_files(d.views, nullptr, &observer);
        Log expected;
        for (int i = 0; i < n && i <= stop_at; ++i) {
            expected.push_back("file " + std::to_string(i) + "/3 " + names[i]);
            if (i != 1) expected.push_back("extract " + names[i]);
        }
        const bool stopped = stop_at < n;
        if (!stopped) {
            const std::string report = std::string(text::clash_intro) + "\na.2.dat → a.txt";
            expected.push_back(message(report.c_str(), text::caption_report));
            expected.push_back(message(text::extract_done, text::caption_done));
        }
        // A stopped walk shows nothing, not even the clash report, and the
        // files after the current one are never touched.
        EXPECT_EQ(result, stopped ? 0 : 1) << "stop at " << stop_at;
        EXPECT_EQ(d.log, expected) << "stop at " << stop_at;
    }
}

}  // namespace
}  // namespace kurvane
