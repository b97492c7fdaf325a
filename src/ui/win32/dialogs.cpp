#include "ui/win32/dialogs.h"

#include <commctrl.h>
#include <process.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/extract.h"
#include "engine/extraction_settings.h"
#include "settings/settings_file.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/settings_dialog.h"

namespace kurvane::win32 {

namespace {

// Posted by an extract walk to the main dialog, in this order per entry.
constexpr UINT walk_file_message = WM_APP + 1;      // wparam: entry index, lparam: entry count
constexpr UINT walk_progress_message = WM_APP + 2;  // wparam: steps of the current file read
constexpr UINT walk_done_message = WM_APP + 3;      // the walk has ended; its thread is ending

// The progress bar's range: a step is a thousandth of the current file.
constexpr int progress_steps = 1000;

// The commands a walk disables. Exit stays: during a walk it asks the walk to
// stop after the current file and ends the program then.
constexpr int commands_off_during_walk[] = {IDC_SEARCH, IDC_DELETE, IDC_EXTRACT, IDC_SETTINGS};

// The walk's status, shown only while it runs, in dialog units (left, top,
// right, bottom): the free space between the settings and extract buttons.
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
        held_.emplace_back(std::string(text), std::string(caption));
    }
    void show_all(MessageView& to) const {
        for (const auto& [text, caption] : held_) to.show(text, caption);
    }

private:
    std::vector<std::pair<std::string, std::string>> held_;
};

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
    ExtractWalk(HWND dialog, const FileListView& list)
        : dialog_(dialog), list_(list), extension_(dialog, IDC_EXTENSION) {}
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

    bool stop_requested() override { return stop_; }
    void file_started(int index, int count, std::string_view) override {
        PostMessageW(dialog_, walk_file_message, static_cast<WPARAM>(index), count);
    }

private:
    static unsigned __stdcall thread_main(void* walk) {
        static_cast<ExtractWalk*>(walk)->run();
        return 0;
    }

    void run() {
        // The extension field and the file search are not used by the walk.
        MainDialogViews views{list_, extension_, messages_, files_,
                              [this](const char* name) { return extract(name); }};
        extract_all_files(views, nullptr, this);
        PostMessageW(dialog_, walk_done_message, 0, 0);
    }

    int extract(const char* name) {
        const std::uint64_t size = file_size(name);
        WPARAM shown = 0;
        return extract_file(name, [&](std::uint64_t bytes_read) {
            const std::uint64_t read = std::min(bytes_read, size);
            const auto step = static_cast<WPARAM>(size == 0 ? 0 : read * progress_steps / size);
            if (step != shown) {
                shown = step;
                PostMessageW(dialog_, walk_progress_message, step, 0);
            }
        });
    }

    HWND dialog_;
    ListSnapshot list_;
    EditExtensionField extension_;
    HeldMessages messages_;
    FindFileSearch files_;
    std::atomic<bool> stop_{false};
    HANDLE thread_ = nullptr;
};

// What the main dialog keeps between messages; it lives in run_main_dialog.
struct MainDialogState {
    std::unique_ptr<ExtractWalk> walk;  // while a walk runs
    bool exit_requested = false;        // an exit waits for the walk to stop
    HWND focus_before_walk = nullptr;
};

MainDialogState* state_of(HWND dialog) {
    return reinterpret_cast<MainDialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// The main dialog's four views over its controls, for one command.
struct MainDialogControls {
    explicit MainDialogControls(HWND dialog)
        : list(GetDlgItem(dialog, IDC_FILE_LIST)), extension(dialog, IDC_EXTENSION),
          messages(dialog) {}

    MainDialogViews views() {
        return {list, extension, messages, files, [](const char* name) { return extract_file(name); }};
    }

    ListBoxView list;
    EditExtensionField extension;
    MessageBoxView messages;
    FindFileSearch files;
};

void exit_main_dialog(HWND dialog) {
    // The result is not shown: a settings file that cannot be written ends
    // the program all the same.
    save_settings(EditExtensionField(dialog, IDC_EXTENSION), g_settings);
    EndDialog(dialog, 1);
}

void open_settings_dialog(HWND owner) {
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE));
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SETTINGS_DIALOG), owner, settings_dialog_proc,
                    0);
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
        add_walk_control(dialog, L"STATIC", SS_LEFT, IDC_WALK_COUNT, walk_count_rect);
        add_walk_control(dialog, PROGRESS_CLASSW, 0, IDC_WALK_PROGRESS, walk_bar_rect);
        SendDlgItemMessageW(dialog, IDC_WALK_PROGRESS, PBM_SETRANGE32, 0, progress_steps);
        return;
    }
    DestroyWindow(GetDlgItem(dialog, IDC_WALK_COUNT));
    DestroyWindow(GetDlgItem(dialog, IDC_WALK_PROGRESS));
    for (int id : commands_off_during_walk) EnableWindow(GetDlgItem(dialog, id), TRUE);
    if (state.focus_before_walk != nullptr) {
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(state.focus_before_walk), TRUE);
        state.focus_before_walk = nullptr;
    }
}

void start_walk(HWND dialog, MainDialogState& state) {
    MainDialogControls controls(dialog);
    if (controls.list.count() == 0) {
        // Nothing to walk: the refusal's message at once.
        MainDialogViews views = controls.views();
        extract_all_files(views);
        return;
    }
    state.walk = std::make_unique<ExtractWalk>(dialog, controls.list);
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
        exit_main_dialog(dialog);
        return;
    }
    MessageBoxView boxes(dialog);
    walk->messages().show_all(boxes);
}

// Runs one of the main dialog's commands; false for IDs it does not handle
// (Enter's IDOK, the list's notifications). During a walk only exit acts:
// it stops the walk after the current file, and the dialog ends then.
bool main_dialog_command(HWND dialog, MainDialogState& state, int id) {
    if (state.walk) {
        switch (id) {
        case IDCANCEL:
        case IDC_EXIT:
            state.exit_requested = true;
            state.walk->request_stop();
            return true;
        case IDC_DELETE:
        case IDC_EXTRACT:
        case IDC_SETTINGS:
        case IDC_SEARCH: return true;
        default: return false;
        }
    }
    MainDialogControls controls(dialog);
    MainDialogViews views = controls.views();
    switch (id) {
    case IDCANCEL:
    case IDC_EXIT: exit_main_dialog(dialog); return true;
    case IDC_DELETE: delete_selected_file(views); return true;
    case IDC_EXTRACT: start_walk(dialog, state); return true;
    case IDC_SETTINGS: open_settings_dialog(dialog); return true;
    case IDC_SEARCH: search_files(views); return true;
    default: return false;
    }
}

}  // namespace

void run_main_dialog(HINSTANCE instance) {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    MainDialogState state;
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr, main_dialog_proc,
                    reinterpret_cast<LPARAM>(&state));
}

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    MainDialogState* state = state_of(dialog);
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        // A missing or unreadable file leaves the defaults; nothing is shown.
        EditExtensionField extension(dialog, IDC_EXTENSION);
        load_settings(extension, g_settings);
        return TRUE;  // focus goes to the first tab stop, the file list
    }
    case WM_COMMAND:
        return state != nullptr && main_dialog_command(dialog, *state, LOWORD(wparam)) ? TRUE
                                                                                        : FALSE;
    case walk_file_message:
        show_walk_file(dialog, static_cast<int>(wparam), static_cast<int>(lparam));
        return TRUE;
    case walk_progress_message:
        SendDlgItemMessageW(dialog, IDC_WALK_PROGRESS, PBM_SETPOS, wparam, 0);
        return TRUE;
    case walk_done_message:
        if (state != nullptr) end_walk(dialog, *state);
        return TRUE;
    default: return FALSE;
    }
}

INT_PTR CALLBACK settings_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        DialogSettingsControls controls(dialog);
        show_settings(g_settings, controls);
        return TRUE;  // focus goes to the first tab stop, the minimum length
    }
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK: apply_settings(DialogSettingsControls(dialog), g_settings); [[fallthrough]];
        case IDCANCEL: EndDialog(dialog, 2); return TRUE;
        default: return TRUE;  // check box clicks switch themselves
        }
    default: return FALSE;
    }
}

}  // namespace kurvane::win32
