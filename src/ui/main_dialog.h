// The main dialog's commands, written over four small views so that they run
// the same under Win32, on the command line and in tests.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "settings/settings_file.h"

namespace kurvane {

// Every text crossing these views is UTF-8: names, the extension, messages.

// The ordered file list with at most one selected entry.
class FileListView {
public:
    virtual ~FileListView() = default;
    virtual int count() const = 0;
    virtual void insert_at(int index, std::string_view name) = 0;
    virtual void delete_at(int index) = 0;  // later entries move up by one
    virtual std::string text_at(int index) const = 0;
    virtual int selection() const = 0;  // -1 when nothing is selected
};

// A modal message with one OK button.
class MessageView {
public:
    virtual ~MessageView() = default;
    virtual void show(std::string_view text, std::string_view caption) = 0;
};

// The wildcard search of the working directory: * stands for any run of
// characters, ? for one. Calls `found` once per matching bare name, in the
// order the platform yields them; returns false when nothing matched or the
// search failed.
class FileSearchView {
public:
    virtual ~FileSearchView() = default;
    virtual bool search(std::string_view pattern,
                        const std::function<void(std::string_view name)>& found) = 0;
};

struct MainDialogViews {
    FileListView& list;
    ExtensionField& extension;
    MessageView& messages;
    FileSearchView& files;
    // The extraction of one listed name; extract_file in the program.
    std::function<int(const char* name)> extract;
    // Whether two existing output names (UTF-8) are one file; null asks the
    // file system. The walk asks it only of names that differ in letters
    // outside ASCII, whose case some file systems fold (on Windows Été.txt
    // and été.txt are one file).
    std::function<bool(const std::string& a, const std::string& b)> same_file = nullptr;
};

// Follows an extract walk on the thread that runs it, and can end it early.
class WalkObserver {
public:
    virtual ~WalkObserver() = default;
    // Entry `index` (counted from 0) of `count` is taken up next; called for
    // every entry, also for one that is then passed over.
    virtual void file_started(int index, int count, std::string_view name) = 0;
    // Asked before each entry. Once true the walk ends there: the file before
    // has been written whole, the rest are left alone and no message is shown.
    virtual bool stop_requested() = 0;
};

// Each command shows why it refuses, with a message, and then returns 0.
// Empties the list, then searches for "*." and the first 11 bytes of the
// extension, counted in code page 932 bytes (see detail::bounded_prefix); 1
// once the search ran, whatever it found.
int search_files(MainDialogViews& views);
// Appends the names matching `pattern`; 0, after a message, when none does.
int fill_file_list(MainDialogViews& views, const char* pattern);
// Removes the selected entry from the list (the file itself is untouched).
int delete_selected_file(MainDialogViews& views);
// Walks the list top to bottom, calling views.extract once per listed name,
// then shows the completion message and returns 1; on an empty list shows
// why and returns 0. A name whose output an earlier name of the same walk
// has written is passed over, and before the completion message one message
// names each such file; `passed_over`, when given, receives their count.
// With an observer, the walk reports each entry to it and returns 0, without
// any message, when it stops at the observer's request.
int extract_all_files(MainDialogViews& views, int* passed_over = nullptr,
                      WalkObserver* observer = nullptr);

// True when the output file of `name` would be `name` itself (base.txt, with
// ASCII case ignored as the Windows file system ignores it); the extract
// command passes such names over so that no input is truncated.
bool is_own_output(std::string_view name);

}  // namespace kurvane
