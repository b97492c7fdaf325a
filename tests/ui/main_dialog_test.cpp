// The main dialog's commands against a recording fake view set: every list
// operation, search, message and extraction goes into one log in call order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
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
    bool with_kinds = false;  // log "warning ..." and "information ..." by icon
    explicit FakeMessages(Log& l) : log(l) {}
    void show(std::string_view text, std::string_view caption) override {
        log.push_back("message " + std::string(text) + " / " + std::string(caption));
    }
    void show_kind(std::string_view text, std::string_view caption, MessageKind kind) override {
        static constexpr const char* kinds[] = {"message", "warning", "information"};
        log.push_back(std::string(with_kinds ? kinds[static_cast<int>(kind)] : "message") + " " +
                      std::string(text) + " / " + std::string(caption));
    }
};

// Yields the scripted names for any pattern; an empty script finds nothing.
struct FakeSearch final : files::FileSearch {
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


// ---- any folder, dropped files, honest results

struct FakeFolder final : FolderView {
    std::string value;
    std::string folder() const override { return value; }
    void set_folder(std::string_view folder) override { value = folder; }
};

// A dialog listing the folder /data, whose extractions report a status.
struct FolderDialog : Dialog {
    FakeFolder folder;
    std::map<std::string, ExtractStatus> results;  // by path; absent: success
    FolderDialog() {
        folder.value = "/data";
        views.folder = &folder;
        views.extract_status = [this](const std::string& path) {
            log.push_back("extract " + path);
            const auto found = results.find(path);
            return found == results.end() ? ExtractStatus{} : found->second;
        };
    }
};

ExtractStatus failed(ExtractError error, int sys_errno = 0) {
    ExtractStatus status;
    status.error = error;
    status.sys_errno = sys_errno;
    return status;
}

TEST(main_dialog, the_listed_folder_is_searched_and_shown_by_bare_names) {
    FolderDialog d;
    d.field.value = "dat";
    d.search.names = {"a.dat"};
    EXPECT_EQ(search_files(d.views), 1);
    EXPECT_EQ(d.log, (Log{"search /data/*.dat", "insert 0 a.dat"}));
    // The message names the pattern alone; the folder shows beside the list.
    d.search.names.clear();
    d.field.value = "xyz";
    search_files(d.views);
    EXPECT_EQ(d.log.back(), message((std::string("*.xyz") + "ファイルは発見できませんでした。").c_str(), text::caption_oops));

    EXPECT_EQ(entry_path(d.views, "a.dat"), "/data/a.dat");
    EXPECT_EQ(entry_path(d.views, "/else/b.dat"), "/else/b.dat");
    EXPECT_EQ(entry_text(d.views, "/data/a.dat"), "a.dat");
    EXPECT_EQ(entry_text(d.views, "/data/sub/a.dat"), "/data/sub/a.dat");
    EXPECT_EQ(entry_text(d.views, "/database/a.dat"), "/database/a.dat");
    d.folder.value = "/";  // a root ends in its separator
    EXPECT_EQ(entry_path(d.views, "a.dat"), "/a.dat");
    EXPECT_EQ(entry_text(d.views, "/a.dat"), "a.dat");
}

TEST(main_dialog, dropped_files_are_added_and_a_dropped_folder_is_listed) {
    FolderDialog d;
    d.listing({"a.dat"});
    // Files are appended once each: a.dat is listed already, under its bare name.
    EXPECT_EQ(take_dropped(d.views, {{"/data/b.dat", false}, {"/else/c.dat", false}, {"/data/a.dat", false},
                                     {"/else/c.dat", false}}),
              2);
    EXPECT_EQ(d.list.entries, (std::vector<std::string>{"a.dat", "b.dat", "/else/c.dat"}));

    // A folder without an extension typed: every entry keeps naming its
    // file, in its place, by bare name when it lies in the new folder.
    d.log.clear();
    EXPECT_EQ(take_dropped(d.views, {{"/else/d.dat", false}, {"/else", true}, {"/other", true}}), 1);
    EXPECT_EQ(d.folder.value, "/else");
    EXPECT_EQ(d.list.entries, (std::vector<std::string>{"/data/a.dat", "/data/b.dat", "c.dat", "d.dat"}));

    // With an extension, the new folder is searched, which replaces the list.
    d.field.value = "bin";
    d.search.names = {"x.bin"};
    d.log.clear();
    take_dropped(d.views, {{"/data", true}});
    EXPECT_EQ(d.folder.value, "/data");
    EXPECT_EQ(d.list.entries, (std::vector<std::string>{"x.bin"}));
    EXPECT_NE(std::find(d.log.begin(), d.log.end(), "search /data/*.bin"), d.log.end());
}

TEST(main_dialog, failed_files_are_named_with_their_cause_before_the_completion) {
    FolderDialog d;
    d.messages.with_kinds = true;
    d.results["/data/dir.dat"] = failed(ExtractError::not_regular);
    d.results["/data/blocked.dat"] = failed(ExtractError::create_output, EACCES);
    d.results["/else/gone.dat"] = failed(ExtractError::open_input, ENOENT);
    d.results["/data/odd.dat"] = failed(ExtractError::write_output, 9999);
    d.results["/data/."] = failed(ExtractError::not_regular);
    d.results["/data/.."] = failed(ExtractError::not_regular);
    d.listing({".", "..", "a.dat", "dir.dat", "blocked.dat", "/else/gone.dat", "odd.dat"});
    std::vector<std::string> written;
    EXPECT_EQ(extract_all_files(d.views, nullptr, nullptr, &written), 1);
    const std::string report = std::string("次のファイルは変換できませんでした。") +
                               "\ndir.dat: フォルダです" +
                               "\nblocked.dat: 出力ファイル blocked.txt を作成できません（アクセスが拒否されました）" +
                               "\n/else/gone.dat: 開けません（見つかりません）" +
                               "\nodd.dat: 書き込みに失敗しました（エラー 9999）";
    EXPECT_EQ(d.log, (Log{"extract /data/.", "extract /data/..", "extract /data/a.dat", "extract /data/dir.dat",
                          "extract /data/blocked.dat", "extract /else/gone.dat", "extract /data/odd.dat",
                          "warning " + report + " / 結果報告", "information 変換が終了しました。 / 終了"}));
    EXPECT_EQ(written, (std::vector<std::string>{"/data/a.txt"}));
    EXPECT_EQ(outputs_folder(d.views, written), "/data/");
    EXPECT_EQ(outputs_folder(d.views, {}), "/data");

    // Twelve failures: ten named, then the count, in English.
    std::vector<std::string> names;
    for (int k = 0; k < 12; ++k) {
        names.push_back("f" + std::to_string(k) + ".dat");
        d.results["/data/" + names.back()] = failed(ExtractError::read_input);
    }
    d.listing(names);
    d.views.texts = &text::english;
    extract_all_files(d.views);
    ASSERT_EQ(d.log.size(), 14u);
    EXPECT_EQ(d.log[12].substr(0, d.log[12].find('\n')), "warning These files could not be converted.");
    EXPECT_NE(d.log[12].find("\nf9.dat: cannot be read\nand 2 more / Results"), std::string::npos) << d.log[12];
    EXPECT_EQ(d.log[13], "information The conversion has finished. / Done");
}

TEST(main_dialog, outputs_of_files_in_different_folders_never_clash) {
    FolderDialog d;
    d.listing({"save.dat", "/else/save.dat", "/data/save.1.dat"});
    EXPECT_EQ(extract_all_files(d.views), 1);
    // The third writes /data/save.txt again and is passed over, named as listed.
    const std::string report = std::string(text::clash_intro) + "\n/data/save.1.dat → save.txt";
    EXPECT_EQ(d.log, (Log{"extract /data/save.dat", "extract /else/save.dat", message(report.c_str(), text::caption_report),
                          message(text::extract_done, text::caption_done)}));
}

TEST(main_dialog, every_text_has_an_english_counterpart_with_the_same_placeholders) {
    // A format's placeholder must survive the translation, or a name or a
    // count would be lost from the message.
    const auto placeholders = [](const char* text) {
        std::string out;
        for (const char* p = text; *p != '\0'; ++p)
            if (*p == '%') out += p[1];
        return out;
    };
    constexpr std::size_t fields = sizeof(text::Texts) / sizeof(const char*);
    const auto* ja = reinterpret_cast<const char* const*>(&text::japanese);
    const auto* en = reinterpret_cast<const char* const*>(&text::english);
    for (std::size_t i = 0; i < fields; ++i) {
        ASSERT_NE(ja[i], nullptr) << i;
        ASSERT_NE(en[i], nullptr) << i;
        EXPECT_GT(std::strlen(en[i]), 0u) << i;
        EXPECT_EQ(placeholders(ja[i]), placeholders(en[i])) << ja[i] << " / " << en[i];
    }
}

}  // namespace
}  // namespace kurvane
