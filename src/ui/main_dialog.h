// The main dialog's commands, written over four small views so that they run
// the same under Win32, on the command line and in tests.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/extract.h"
#include "files/file_search.h"
#include "settings/settings_file.h"
#include "ui/messages.h"

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

// What a message is about, for its icon.
enum class MessageKind { plain, warning, information };

// A modal message with one OK button.
class MessageView {
public:
    virtual ~MessageView() = default;
    virtual void show(std::string_view text, std::string_view caption) = 0;
    // The same with an icon; a view without icons shows the plain message.
    virtual void show_kind(std::string_view text, std::string_view caption, MessageKind) {
        show(text, caption);
    }
};

// The folder whose files the list shows (UTF-8, absolute). The list holds
// bare names for files in it and full paths for files from elsewhere.
class FolderView {
public:
    virtual ~FolderView() = default;
    virtual std::string folder() const = 0;
    virtual void set_folder(std::string_view folder) = 0;
};

struct MainDialogViews {
    FileListView& list;
    ExtensionField& extension;
    MessageView& messages;
    files::FileSearch& files;
    // The extraction of one listed name; extract_file in the program.
    std::function<int(const char* name)> extract;
    // Whether two existing output names (UTF-8) are one file; null asks the
    // file system. The walk asks it only of names that differ in letters
    // outside ASCII, whose case some file systems fold (on Windows Été.txt
    // and été.txt are one file).
    std::function<bool(const std::string& a, const std::string& b)> same_file = nullptr;
    // The listed folder; null lists the working directory by bare names.
    FolderView* folder = nullptr;
    // The extraction of one path with its cause; when given, it is used
    // instead of `extract`, and the files that fail are reported.
    std::function<ExtractStatus(const std::string& path)> extract_status = nullptr;
    // The texts shown; null shows the Japanese ones.
    const text::Texts* texts = nullptr;
};

// A file or folder dropped on the dialog or named on its command line.
struct DroppedPath {
    std::string path;  // UTF-8, absolute
    bool is_folder = false;
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
// extension, counted in code page 932 bytes (see text::bounded_prefix); 1
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
// With views.extract_status, a name that fails is not silent: after the
// clash message, one message names each failed file with its cause (the
// first ten, then the count). The folder entries "." and ".." are passed
// over without a word. `written`, when given, receives the output paths
// written, in walk order.
int extract_all_files(MainDialogViews& views, int* passed_over = nullptr,
                      WalkObserver* observer = nullptr,
                      std::vector<std::string>* written = nullptr);

// The path a list entry stands for: a bare name lies in the listed folder,
// anything else is a path already.
std::string entry_path(const MainDialogViews& views, std::string_view entry);
// How the list shows the file at `path`: its bare name when it lies in the
// listed folder, else the path itself.
std::string entry_text(const MainDialogViews& views, std::string_view path);

// Makes `folder` the listed folder. Every entry still names its file, by
// bare name when it lies in the new folder, else by full path; then, when the extension
// field holds text, the new folder is searched as search_files does.
void change_folder(MainDialogViews& views, std::string_view folder);
// Takes dropped files and folders: the first folder becomes the listed
// folder (change_folder), and every file is appended to the list unless it
// is listed already. Returns the number of files added.
int take_dropped(MainDialogViews& views, const std::vector<DroppedPath>& dropped);

// The folder to open after a walk: that of the first output it wrote, or
// the listed folder when it wrote none.
std::string outputs_folder(const MainDialogViews& views, const std::vector<std::string>& written);

// The line of the failure report for one file: "name: cause".
std::string failure_line(const text::Texts& texts, std::string_view entry, const ExtractStatus& status);

// The file name at the end of `path`, as this platform separates folders.
std::string_view last_component(std::string_view path);

// True when the output file of `name` would be `name` itself (base.txt, with
// ASCII case ignored as the Windows file system ignores it); the extract
// command passes such names over so that no input is truncated.
bool is_own_output(std::string_view name);

}  // namespace kurvane
