#include "ui/win32/dialogs.h"

#include <commctrl.h>
#include <process.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/extract.h"
#include "settings/settings_file.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/settings_dialog.h"
#include "version.h"

namespace kurvane::win32 {

namespace {

// Posted by an extract walk to the main dialog, in this order per entry.
constexpr UINT walk_file_message = WM_APP + 1;      // wparam: entry index, lparam: entry count
constexpr UINT walk_progress_message = WM_APP + 2;  // the step is taken from the walk
constexpr UINT walk_done_message = WM_APP + 3;      // the walk has ended; its thread is ending
// Posted at initialisation: the command line's files and folders are taken
// once the dialog shows, so that a message of the search they start has a
// window to stand over.
constexpr UINT take_arguments_message = WM_APP + 4;

// The progress bar's range: a step is a thousandth of the current file.
constexpr int progress_steps = 1000;

// The commands a walk disables. Exit stays: during a walk it asks the walk to
// stop after the current file and ends the program then.
constexpr int commands_off_during_walk[] = {IDC_SEARCH, IDC_DELETE, IDC_EXTRACT, IDC_SETTINGS,
                                            IDC_BROWSE, IDC_OPEN_OUTPUTS};
// The buttons whose place the walk's status takes while it runs.
constexpr int commands_hidden_during_walk[] = {IDC_BROWSE, IDC_OPEN_OUTPUTS};

// The walk's status, shown only while it runs, in dialog units (left, top,
// right, bottom): the space of the folder buttons, between the settings and
// extract buttons.
constexpr RECT walk_count_rect = {78, 100, 132, 109};
constexpr RECT walk_bar_rect = {78, 112, 132, 117};

// The list's entries when the walk began: the walk reads them on its own
// thread, which must not wait on the dialog's thread for the list box.
class ListSnapshot final : public FileListView {
public:
    explicit ListSnapshot(const FileListView& list) {
        for (int i = 0; i < list.count(); ++i) entries_.push_back(list.text_at(i));
    }
    int count() const override { return static_cast<int>(entries_.size()); }
    void insert_at(int index, std::string_view name) override {
        entries_.insert(entries_.begin() + index, std::string(name));
    }
    void delete_at(int index) override { entries_.erase(entries_.begin() + index); }
    std::string text_at(int index) const override {
        return entries_.at(static_cast<std::size_t>(index));
    }
    int selection() const override { return -1; }

private:
    std::vector<std::string> entries_;
};

// The walk's messages, kept until the walk has ended: message boxes open on
// the dialog's thread only, and only once the commands are back.
class HeldMessages final : public MessageView {
public:
    void show(std::string_view text, std::string_view caption) override {
        show_kind(text, caption, MessageKind::plain);
    }
    void show_kind(std::string_view text, std::string_view caption, MessageKind kind) override {
        held_.push_back({std::string(text), std::string(caption), kind});
    }
    void show_all(MessageView& to) const {
        for (const Held& message : held_) to.show_kind(message.text, message.caption, message.kind);
    }

private:
    struct Held {
        std::string text, caption;
        MessageKind kind;
    };
    std::vector<Held> held_;
};

// A folder that stays as it was given: the walk's, fixed when it began.
class FixedFolder final : public FolderView {
public:
    explicit FixedFolder(std::string folder) : folder_(std::move(folder)) {}
    std::string folder() const override { return folder_; }
    void set_folder(std::string_view) override {}

private:
    std::string folder_;
};

// The language of the dialogs and their texts, chosen once from the user's
// display language: Japanese on a Japanese Windows, English elsewhere.
bool japanese_display() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE; }

const text::Texts& display_texts() {
    static const bool japanese = japanese_display();
    return japanese ? text::japanese : text::english;
}

// Opens a dialog template in the display language, so the choice does not
// rest on how the resource loader ranks languages; a template missing in it
// is taken as the loader finds it.
INT_PTR dialog_box(HINSTANCE instance, int id, HWND owner, DLGPROC procedure, LPARAM parameter) {
    const WORD language = japanese_display() ? MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)
                                             : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    HRSRC found = FindResourceExW(instance, MAKEINTRESOURCEW(5) /* RT_DIALOG */, MAKEINTRESOURCEW(id), language);
    HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
    const void* dialog_template = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (dialog_template == nullptr)
        return DialogBoxParamW(instance, MAKEINTRESOURCEW(id), owner, procedure, parameter);
    return DialogBoxIndirectParamW(instance, static_cast<LPCDLGTEMPLATEW>(dialog_template), owner, procedure,
                                   parameter);
}

// The size of a listed (UTF-8) name; 0 when it cannot be read, and the bar
// then stays at 0 until the file is done.
std::uint64_t file_size(const std::string& name) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(utf16_of(name).c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// One extract walk over the list as it was at the start, on a thread of its
// own so that the dialog keeps painting and answering. It tells the dialog
// how far it is with posted messages and posts walk_done_message last.
class ExtractWalk final : public WalkObserver {
public:
    ExtractWalk(HWND dialog, const FileListView& list, std::string folder, const DialogSettings& settings)
        : dialog_(dialog), list_(list), extension_(dialog, IDC_EXTENSION), folder_(std::move(folder)),
          settings_(settings) {}
    ~ExtractWalk() override { join(); }
    ExtractWalk(const ExtractWalk&) = delete;
    ExtractWalk& operator=(const ExtractWalk&) = delete;

    // Starts the thread; without one, the walk runs here before this returns.
    void start() {
        thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, thread_main, this, 0, nullptr));
        if (thread_ == nullptr) run();
    }

    // Called once the walk has posted walk_done_message: the thread is ending.
    void join() {
        if (thread_ == nullptr) return;
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }

    void request_stop() { stop_ = true; }
    const HeldMessages& messages() const { return messages_; }
    // The outputs written, once the walk has ended.
    const std::vector<std::string>& written() const { return written_; }
    // The entries not yet taken up; the one being converted is finished.
    std::vector<std::string> left_undone() const {
        std::vector<std::string> names;
        for (int i = started_ + 1; i < list_.count(); ++i) names.push_back(list_.text_at(i));
        return names;
    }

    bool stop_requested() override { return stop_; }
    void file_started(int index, int count, std::string_view) override {
        started_ = index;
        latest_step_ = 0;
        PostMessageW(dialog_, walk_file_message, static_cast<WPARAM>(index), count);
    }

    // The step to show, called when a walk_progress_message arrives. Clearing
    // the flag before reading lets a later step post the next message.
    WPARAM take_progress() {
        progress_posted_ = false;
        return latest_step_;
    }

private:
    static unsigned __stdcall thread_main(void* walk) {
        static_cast<ExtractWalk*>(walk)->run();
        return 0;
    }

    void run() {
        // The extension field and the file search are not used by the walk.
        MainDialogViews views{list_, extension_, messages_, files_, nullptr};
        views.folder = &folder_;
        views.extract_status = [this](const std::string& path) { return extract(path); };
        views.texts = &display_texts();
        extract_all_files(views, nullptr, this, &written_);
        PostMessageW(dialog_, walk_done_message, 0, 0);
    }

    ExtractStatus extract(const std::string& path) {
        const std::uint64_t size = file_size(path);
        WPARAM shown = 0;
        ExtractOptions options = extract_options(settings_);
        options.progress = [&](std::uint64_t bytes_read) {
            const std::uint64_t read = std::min(bytes_read, size);
            const auto step = static_cast<WPARAM>(size == 0 ? 0 : read * progress_steps / size);
            if (step != shown) {
                shown = step;
                show_progress(step);
            }
        };
        return extract_beside(path.c_str(), settings_.record, options);
    }

    // At most one progress message waits in the dialog's queue: a queue of
    // them would fall behind a fast read, and a close posted behind them
    // would be seen only after the walk had gone on to the next file. A
    // message that could not be posted leaves the next step to try again.
    void show_progress(WPARAM step) {
        latest_step_ = step;
        if (!progress_posted_.exchange(true) && !PostMessageW(dialog_, walk_progress_message, 0, 0))
            progress_posted_ = false;
    }

    HWND dialog_;
    ListSnapshot list_;
    EditExtensionField extension_;
    HeldMessages messages_;
    FindFileSearch files_;
    FixedFolder folder_;
    // The settings as the walk began: the settings dialog cannot open
    // during a walk, and the walk's thread reads its own copy.
    const DialogSettings settings_;
    std::vector<std::string> written_;
    std::atomic<bool> stop_{false};
    std::atomic<int> started_{-1};
    std::atomic<WPARAM> latest_step_{0};
    std::atomic<bool> progress_posted_{false};
    HANDLE thread_ = nullptr;
};

// What the main dialog keeps between messages; it lives in run_main_dialog.
struct MainDialogState {
    std::vector<DroppedPath> arguments;  // the command line's files and folders
    std::string folder;                  // the listed folder (UTF-8, absolute)
    std::vector<std::string> written;    // the outputs of the last walk
    DialogSettings settings;             // the program's settings for this run
    std::unique_ptr<ExtractWalk> walk;   // while a walk runs
    bool exit_requested = false;         // an exit waits for the walk to stop
    HWND focus_before_walk = nullptr;
};

MainDialogState* state_of(HWND dialog) {
    return reinterpret_cast<MainDialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// The listed folder, kept in the dialog's state and shown above the list.
class DialogFolder final : public FolderView {
public:
    DialogFolder(HWND dialog, MainDialogState& state) : dialog_(dialog), state_(state) {}
    std::string folder() const override { return state_.folder; }
    void set_folder(std::string_view folder) override {
        state_.folder = folder;
        SetDlgItemTextW(dialog_, IDC_FOLDER, utf16_of(folder).c_str());
    }

private:
    HWND dialog_;
    MainDialogState& state_;
};

// The main dialog's views over its controls, for one command.
struct MainDialogControls {
    MainDialogControls(HWND dialog, MainDialogState& state)
        : list(GetDlgItem(dialog, IDC_FILE_LIST)), extension(dialog, IDC_EXTENSION),
          messages(dialog), folder(dialog, state), settings(state.settings) {}

    MainDialogViews views() {
        MainDialogViews v{list, extension, messages, files,
                          [&record = settings.record](const char* name) { return extract_file(name, record); }};
        v.folder = &folder;
        v.texts = &display_texts();
        return v;
    }

    ListBoxView list;
    EditExtensionField extension;
    MessageBoxView messages;
    FindFileSearch files;
    DialogFolder folder;
    const DialogSettings& settings;
};

// setting.dat lives in the folder the program was started in, whatever
// folder the list shows: its full path is fixed before anything can change.
const std::string& settings_path() {
    static const std::string path = [] {
        const DWORD length = GetFullPathNameW(utf16_of(settings_file_name).c_str(), 0, nullptr, nullptr);
        std::wstring full(length, L'\0');
        const DWORD copied = GetFullPathNameW(utf16_of(settings_file_name).c_str(), length, full.data(), nullptr);
        if (copied == 0 || copied >= length) return std::string(settings_file_name);
        full.resize(copied);
        return utf8_of(full);
    }();
    return path;
}

void exit_main_dialog(HWND dialog, const MainDialogState& state) {
    // The result is not shown: a settings file that cannot be written ends
    // the program all the same.
    save_settings(EditExtensionField(dialog, IDC_EXTENSION), state.settings.record, state.settings.extended,
                  settings_path().c_str());
    EndDialog(dialog, 1);
}

HINSTANCE instance_of(HWND window) {
    return reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
}

// What the settings dialog works on: the program's settings, and the file
// its Auto button searches for the XOR value.
struct SettingsDialogContext {
    DialogSettings& settings;
    std::string first_file;  // the full path of the first listed file; empty when none
};

void open_settings_dialog(HWND owner, MainDialogState& state) {
    MainDialogControls controls(owner, state);
    const MainDialogViews views = controls.views();
    SettingsDialogContext context{state.settings,
                                  controls.list.count() > 0 ? entry_path(views, controls.list.text_at(0)) : ""};
    dialog_box(instance_of(owner), IDD_SETTINGS_DIALOG, owner, settings_dialog_proc,
               reinterpret_cast<LPARAM>(&context));
}

// The full path of a dropped or named file or folder, and which it is.
DroppedPath dropped_path(const std::wstring& given) {
    const DWORD length = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    std::wstring full(length, L'\0');
    const DWORD copied = length == 0 ? 0 : GetFullPathNameW(given.c_str(), length, full.data(), nullptr);
    full.resize(copied != 0 && copied < length ? copied : 0);
    if (full.empty()) full = given;
    const DWORD attributes = GetFileAttributesW(full.c_str());
    return {utf8_of(full), attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
}

void take_drop(HWND dialog, MainDialogState& state, HDROP drop) {
    std::vector<DroppedPath> dropped;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring name(static_cast<std::size_t>(length) + 1, L'\0');
        name.resize(DragQueryFileW(drop, i, name.data(), length + 1));
        if (!name.empty()) dropped.push_back(dropped_path(name));
    }
    DragFinish(drop);
    MainDialogControls controls(dialog, state);
    MainDialogViews views = controls.views();
    take_dropped(views, dropped);
}

// The folder picker of the common item dialog; the folder chosen, or empty.
std::string pick_folder(HWND owner, const std::string& start) {
    std::string chosen;
    IFileOpenDialog* picker = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                reinterpret_cast<void**>(&picker))))
        return chosen;
    DWORD options = 0;
    picker->GetOptions(&options);
    picker->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    picker->SetTitle(utf16_of(display_texts().browse_title).c_str());
    IShellItem* folder = nullptr;
    if (SUCCEEDED(SHCreateItemFromParsingName(utf16_of(start).c_str(), nullptr, IID_IShellItem,
                                              reinterpret_cast<void**>(&folder)))) {
        picker->SetFolder(folder);
        folder->Release();
    }
    IShellItem* result = nullptr;
    if (SUCCEEDED(picker->Show(owner)) && SUCCEEDED(picker->GetResult(&result))) {
        wchar_t* path = nullptr;
        if (SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
            chosen = utf8_of(path);
            CoTaskMemFree(path);
        }
        result->Release();
    }
    picker->Release();
    return chosen;
}

void browse_folder(HWND dialog, MainDialogState& state) {
    const std::string folder = pick_folder(dialog, state.folder);
    if (folder.empty()) return;
    MainDialogControls controls(dialog, state);
    MainDialogViews views = controls.views();
    change_folder(views, folder);
}

void open_outputs(HWND dialog, MainDialogState& state) {
    MainDialogControls controls(dialog, state);
    const std::string folder = outputs_folder(controls.views(), state.written);
    ShellExecuteW(dialog, L"open", utf16_of(folder).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void show_about(HWND dialog) {
    const text::Texts& texts = display_texts();
    const std::string version = std::to_string(KURVANE_VERSION_MAJOR) + "." + std::to_string(KURVANE_VERSION_MINOR) +
                                "." + std::to_string(KURVANE_VERSION_PATCH);
    std::string message = texts.about_format;
    message.replace(message.find("%s"), 2, version);
    MessageBoxView(dialog).show_kind(message, texts.about_caption, MessageKind::information);
}

// The icon in the caption and the About entry of the system menu.
void dress_window(HWND dialog) {
    const HINSTANCE instance = instance_of(dialog);
    const auto big = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_KURVANE), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    const auto small = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_KURVANE), IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    HMENU menu = GetSystemMenu(dialog, FALSE);
    if (menu == nullptr) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUT, utf16_of(display_texts().about_entry).c_str());
}

void add_walk_control(HWND dialog, const wchar_t* window_class, DWORD style, int id, RECT rect) {
    MapDialogRect(dialog, &rect);
    HWND control = CreateWindowExW(
        0, window_class, L"", WS_CHILD | WS_VISIBLE | style, rect.left, rect.top,
        rect.right - rect.left, rect.bottom - rect.top, dialog,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE)), nullptr);
    const auto font = static_cast<WPARAM>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    SendMessageW(control, WM_SETFONT, font, FALSE);
}

// Shows the walk's status and turns the other commands off, or the reverse.
// The commands are off whenever the status shows. The keyboard focus leaves
// a button that is turned off for exit, and comes back after the walk.
void show_walk(HWND dialog, MainDialogState& state, bool walking) {
    if (walking) {
        HWND focus = GetFocus();
        const bool focus_turned_off = std::any_of(
            std::begin(commands_off_during_walk), std::end(commands_off_during_walk),
            [&](int id) { return focus != nullptr && focus == GetDlgItem(dialog, id); });
        state.focus_before_walk = focus_turned_off ? focus : nullptr;
        if (focus_turned_off)
            SendMessageW(dialog, WM_NEXTDLGCTL,
                         reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_EXIT)), TRUE);
        for (int id : commands_off_during_walk) EnableWindow(GetDlgItem(dialog, id), FALSE);
        for (int id : commands_hidden_during_walk) ShowWindow(GetDlgItem(dialog, id), SW_HIDE);
        add_walk_control(dialog, L"STATIC", SS_LEFT, IDC_WALK_COUNT, walk_count_rect);
        add_walk_control(dialog, PROGRESS_CLASSW, 0, IDC_WALK_PROGRESS, walk_bar_rect);
        SendDlgItemMessageW(dialog, IDC_WALK_PROGRESS, PBM_SETRANGE32, 0, progress_steps);
        return;
    }
    DestroyWindow(GetDlgItem(dialog, IDC_WALK_COUNT));
    DestroyWindow(GetDlgItem(dialog, IDC_WALK_PROGRESS));
    for (int id : commands_off_during_walk) EnableWindow(GetDlgItem(dialog, id), TRUE);
    for (int id : commands_hidden_during_walk) ShowWindow(GetDlgItem(dialog, id), SW_SHOW);
    if (state.focus_before_walk != nullptr) {
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(state.focus_before_walk), TRUE);
        state.focus_before_walk = nullptr;
    }
}

void start_walk(HWND dialog, MainDialogState& state) {
    MainDialogControls controls(dialog, state);
    if (controls.list.count() == 0) {
        // Nothing to walk: the refusal's message at once.
        MainDialogViews views = controls.views();
        extract_all_files(views);
        return;
    }
    state.walk = std::make_unique<ExtractWalk>(dialog, controls.list, state.folder, state.settings);
    show_walk(dialog, state, true);
    state.walk->start();
}

void show_walk_file(HWND dialog, int index, int count) {
    const std::wstring text = std::to_wstring(index + 1) + L" / " + std::to_wstring(count);
    SetDlgItemTextW(dialog, IDC_WALK_COUNT, text.c_str());
    SendDlgItemMessageW(dialog, IDC_WALK_PROGRESS, PBM_SETPOS, 0, 0);
}

// The walk has ended: the commands come back, then its messages are shown,
// or the exit asked for during the walk happens.
void end_walk(HWND dialog, MainDialogState& state) {
    const std::unique_ptr<ExtractWalk> walk = std::move(state.walk);
    if (!walk) return;
    walk->join();
    show_walk(dialog, state, false);
    if (state.exit_requested) {
        exit_main_dialog(dialog, state);
        return;
    }
    state.written = walk->written();
    MessageBoxView boxes(dialog);
    walk->messages().show_all(boxes);
}

// A close during a walk: the status says the program stops after the current
// file, and the list keeps only the files that will not be converted, under
// a label that says so. The window closes once the current file is done.
void show_stopping(HWND dialog, MainDialogState& state) {
    const text::Texts& texts = display_texts();
    SetDlgItemTextW(dialog, IDC_WALK_COUNT, utf16_of(texts.stopping).c_str());
    SetDlgItemTextW(dialog, IDC_LIST_LABEL, utf16_of(texts.left_undone).c_str());
    ListBoxView list(GetDlgItem(dialog, IDC_FILE_LIST));
    while (list.count() > 0) list.delete_at(0);
    for (const std::string& name : state.walk->left_undone()) list.insert_at(list.count(), name);
}

// Runs one of the main dialog's commands; false for IDs it does not handle
// (Enter's IDOK, the list's notifications). During a walk only exit acts:
// it stops the walk after the current file, and the dialog ends then.
bool main_dialog_command(HWND dialog, MainDialogState& state, int id) {
    if (state.walk) {
        switch (id) {
        case IDCANCEL:
        case IDC_EXIT:
            if (!state.exit_requested) show_stopping(dialog, state);
            state.exit_requested = true;
            state.walk->request_stop();
            return true;
        case IDC_DELETE:
        case IDC_EXTRACT:
        case IDC_SETTINGS:
        case IDC_BROWSE:
        case IDC_OPEN_OUTPUTS:
        case IDC_SEARCH: return true;
        default: return false;
        }
    }
    MainDialogControls controls(dialog, state);
    MainDialogViews views = controls.views();
    switch (id) {
    case IDCANCEL:
    case IDC_EXIT: exit_main_dialog(dialog, state); return true;
    case IDC_DELETE: delete_selected_file(views); return true;
    case IDC_EXTRACT: start_walk(dialog, state); return true;
    case IDC_SETTINGS: open_settings_dialog(dialog, state); return true;
    case IDC_SEARCH: search_files(views); return true;
    case IDC_BROWSE: browse_folder(dialog, state); return true;
    case IDC_OPEN_OUTPUTS: open_outputs(dialog, state); return true;
    // Enter in the extension field searches; elsewhere it does nothing.
    case IDOK:
        if (GetFocus() == GetDlgItem(dialog, IDC_EXTENSION)) search_files(views);
        return true;
    default: return false;
    }
}

// Drops what cannot be part of a number from a numeric edit as it is typed,
// with a beep, leaving the caret where the typing was.
void keep_numeric_text(HWND dialog, int id) {
    const std::string typed = dialog_item_text(dialog, id);
    const std::string kept = numeric_text(id, typed);
    if (kept == typed) return;
    DWORD caret = 0;
    SendDlgItemMessageW(dialog, id, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
    SetDlgItemTextW(dialog, id, utf16_of(kept).c_str());
    const auto at = static_cast<LPARAM>(std::min<std::size_t>(caret, kept.size()));
    SendDlgItemMessageW(dialog, id, EM_SETSEL, static_cast<WPARAM>(at), at);
    MessageBeep(MB_OK);
}

}  // namespace

void run_main_dialog(HINSTANCE instance) {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // The folder picker is a COM object of the shell.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    MainDialogState state;
    // Files and folders named on the command line (dropped on the icon, Send
    // to) are taken as if dropped on the window.
    int count = 0;
    if (wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) state.arguments.push_back(dropped_path(arguments[i]));
        LocalFree(arguments);
    }
    settings_path();
    dialog_box(instance, IDD_MAIN_DIALOG, nullptr, main_dialog_proc, reinterpret_cast<LPARAM>(&state));
    if (SUCCEEDED(com)) CoUninitialize();
}

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    MainDialogState* state = state_of(dialog);
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        state = state_of(dialog);
        // A missing or unreadable file leaves the defaults; nothing is shown.
        EditExtensionField extension(dialog, IDC_EXTENSION);
        load_settings(extension, state->settings.record, state->settings.extended, settings_path().c_str());
        dress_window(dialog);
        DialogFolder(dialog, *state).set_folder(dropped_path(L".").path);
        DragAcceptFiles(dialog, TRUE);
        if (!state->arguments.empty()) PostMessageW(dialog, take_arguments_message, 0, 0);
        return TRUE;  // focus goes to the first tab stop, the file list
    }
    case take_arguments_message:
        if (state != nullptr && !state->walk) {
            MainDialogControls controls(dialog, *state);
            MainDialogViews views = controls.views();
            take_dropped(views, state->arguments);
        }
        return TRUE;
    case WM_DROPFILES:
        // Taken when the commands are on; during a walk the list is fixed.
        if (state != nullptr && !state->walk) take_drop(dialog, *state, reinterpret_cast<HDROP>(wparam));
        else DragFinish(reinterpret_cast<HDROP>(wparam));
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) == IDM_ABOUT) {
            show_about(dialog);
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 0);
            return TRUE;
        }
        return FALSE;
    case WM_COMMAND:
        return state != nullptr && main_dialog_command(dialog, *state, LOWORD(wparam)) ? TRUE
                                                                                        : FALSE;
    case walk_file_message:
        show_walk_file(dialog, static_cast<int>(wparam), static_cast<int>(lparam));
        return TRUE;
    case walk_progress_message:
        if (state != nullptr && state->walk)
            SendDlgItemMessageW(dialog, IDC_WALK_PROGRESS, PBM_SETPOS, state->walk->take_progress(), 0);
        return TRUE;
    case walk_done_message:
        if (state != nullptr) end_walk(dialog, *state);
        return TRUE;
    default: return FALSE;
    }
}

INT_PTR CALLBACK settings_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* context = reinterpret_cast<SettingsDialogContext*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        context = reinterpret_cast<SettingsDialogContext*>(lparam);
        DialogSettingsControls controls(dialog);
        show_settings(context->settings.record, controls);
        show_extended_settings(context->settings.extended, controls);
        return TRUE;  // focus goes to the first tab stop, the minimum length
    }
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK: {
            const DialogSettingsControls controls(dialog);
            apply_settings(controls, context->settings.record);
            apply_extended_settings(controls, context->settings.extended);
            EndDialog(dialog, 2);
            return TRUE;
        }
        case IDCANCEL: EndDialog(dialog, 2); return TRUE;
        case IDC_MIN_LENGTH:
        case IDC_XOR_VALUE:
        case IDC_MIN_SCORE:
            if (HIWORD(wparam) == EN_UPDATE) keep_numeric_text(dialog, LOWORD(wparam));
            return TRUE;
        case IDC_XOR_AUTO: {
            DialogSettingsControls controls(dialog);
            MessageBoxView messages(dialog);
            // The search reads up to a few MiB: the wait cursor while it runs.
            const HCURSOR before = SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
            find_xor_value(controls, context->first_file, messages, display_texts());
            SetCursor(before);
            return TRUE;
        }
        default: return TRUE;  // check box clicks switch themselves
        }
    default: return FALSE;
    }
}

}  // namespace kurvane::win32
