// Drives kurvane.exe through its dialogs from a second process, the way a
// user would, and checks what the dialogs show: captions, field texts, list
// entries, message boxes (text, caption and owner), settings controls and the
// exit code. Files are checked by the runner script afterwards.
//
//   kurvane_wine_driver <scenario> <path of kurvane.exe>
//
// The program is started in the driver's working directory. Every wait polls
// with a deadline; on any failure the driver prints what it saw and exits 1.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "cp932.h"
#include "ui/resource.h"

namespace {

constexpr DWORD poll_ms = 20;
constexpr DWORD start_timeout_ms = 30000;  // a cold wineserver may be slow
constexpr DWORD timeout_ms = 10000;

constexpr char main_caption[] = "Kurvane ver0.84";
constexpr char settings_caption[] = "設定";
constexpr char oops[] = "おおっと";
constexpr int message_text_id = 0xFFFF;  // the static holding a message box's text

struct Child {
    PROCESS_INFORMATION process{};
    HWND main = nullptr;
};
Child g_child;
std::string g_scenario;

// ---- printing (the terminal side is UTF-8; the program's texts are CP932)

std::string utf8_of_cp932(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int wide_length =
        MultiByteToWideChar(932, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(932, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                        wide_length);
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, utf8.data(), length, nullptr,
                        nullptr);
    return utf8;
}

// "text" [hex bytes], so that a wrong byte shows even where the glyph looks right.
std::string shown(std::string_view cp932) {
    std::string out = "\"" + utf8_of_cp932(cp932) + "\" [";
    char hex[4];
    for (std::size_t i = 0; i < cp932.size(); ++i) {
        std::snprintf(hex, sizeof hex, i ? " %02x" : "%02x",
                      static_cast<unsigned char>(cp932[i]));
        out += hex;
    }
    return out + "]";
}

void say(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// ---- reading windows of the other process

std::string class_of(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// WM_GETTEXT is sent (GetWindowText would not ask a control of another process).
std::string window_text(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeout_ms,
                             &length))
        return "<no answer>";
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, timeout_ms, &copied))
        return "<no answer>";
    text.resize(std::min<std::size_t>(copied, length));
    return text;
}

// Wine 8 hands LB_GETTEXT sent as A from another process back as UTF-16, so
// entries are read as W and converted to code page 932 here.
std::vector<std::string> list_entries(HWND list) {
    std::vector<std::string> entries;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring wide(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
        const LRESULT copied = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i),
                                            reinterpret_cast<LPARAM>(wide.data()));
        wide.resize(static_cast<std::size_t>(std::max<LRESULT>(copied, 0)));
        std::string bytes(wide.size() * 2 + 1, '\0');
        const int n = WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()),
                                          bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                          nullptr);
        bytes.resize(static_cast<std::size_t>(std::max(n, 0)));
        entries.push_back(bytes);
    }
    return entries;
}

std::string joined(const std::vector<std::string>& entries) {
    std::string out = "{";
    for (const auto& entry : entries) out += (out.size() > 1 ? ", " : "") + shown(entry);
    return out + "}";
}

// The child's visible top-level dialogs (the main dialog, the settings dialog,
// message boxes).
std::vector<HWND> child_dialogs() {
    std::vector<HWND> found;
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, "#32770", nullptr)) != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid == g_child.process.dwProcessId && IsWindowVisible(window)) found.push_back(window);
    }
    return found;
}

void dump_window(HWND dialog) {
    say("  dialog " + shown(window_text(dialog)) + (IsWindowEnabled(dialog) ? "" : " (disabled)"));
    for (HWND item = GetWindow(dialog, GW_CHILD); item; item = GetWindow(item, GW_HWNDNEXT)) {
        const std::string kind = class_of(item);
        std::string line = "    " + kind + " " + std::to_string(GetDlgCtrlID(item)) + ": ";
        if (_stricmp(kind.c_str(), "ListBox") == 0)
            line += joined(list_entries(item));
        else
            line += shown(window_text(item));
        if (_stricmp(kind.c_str(), "Button") == 0 &&
            SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED)
            line += " checked";
        say(line);
    }
}

[[noreturn]] void fail(const std::string& what) {
    say("FAIL [" + g_scenario + "]: " + what);
    if (g_child.process.hProcess) {
        DWORD code = 0;
        if (GetExitCodeProcess(g_child.process.hProcess, &code) && code != STILL_ACTIVE) {
            say("  the program has ended with exit code " + std::to_string(code));
        } else {
            say("  windows of the program:");
            for (HWND dialog : child_dialogs()) dump_window(dialog);
            TerminateProcess(g_child.process.hProcess, 99);
        }
    }
    std::exit(1);
}

void expect_text(const std::string& what, std::string_view seen, std::string_view expected) {
    if (seen != expected) fail(what + ": saw " + shown(seen) + ", expected " + shown(expected));
}

// ---- waiting

template <typename Ready>
bool wait_until(DWORD limit_ms, Ready ready) {
    const ULONGLONG deadline = GetTickCount64() + limit_ms;
    for (;;) {
        if (ready()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(poll_ms);
    }
}

// A visible dialog of the child with this caption, other than `besides`.
HWND find_dialog(const char* caption, HWND besides = nullptr) {
    for (HWND dialog : child_dialogs())
        if (dialog != besides && window_text(dialog) == caption) return dialog;
    return nullptr;
}

HWND wait_dialog(const char* caption, DWORD limit_ms = timeout_ms, HWND besides = nullptr) {
    HWND found = nullptr;
    if (!wait_until(limit_ms, [&] { return (found = find_dialog(caption, besides)) != nullptr; }))
        fail("no dialog with caption " + shown(caption) + " appeared");
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(found, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeout_ms, &ignored))
        fail("dialog " + shown(caption) + " does not answer");
    return found;
}

void wait_gone(HWND window, const std::string& what) {
    if (!wait_until(timeout_ms, [&] { return !IsWindow(window); }))
        fail(what + " did not close");
}

// Returns once the dialog's thread has handled everything sent before.
void sync(HWND dialog) {
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeout_ms, &ignored))
        fail("the dialog does not answer");
}

// ---- acting

HWND item(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) fail("no control " + std::to_string(id));
    return control;
}

std::string item_text(HWND dialog, int id) { return window_text(item(dialog, id)); }

void set_item_text(HWND dialog, int id, const char* text) {
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(item(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, timeout_ms, &ignored))
        fail("cannot set the text of control " + std::to_string(id));
}

bool is_checked(HWND dialog, int id) {
    return SendMessageW(item(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void set_checked(HWND dialog, int id, bool on) {
    SendMessageW(item(dialog, id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

WPARAM click_of(int id) { return MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED); }

// A command that opens no window: sent, so it has run when this returns.
void command(HWND dialog, int id) {
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(dialog, WM_COMMAND, click_of(id),
                             reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)), SMTO_ABORTIFHUNG,
                             timeout_ms, &ignored))
        fail("command " + std::to_string(id) + " did not return (a message box open?)");
    for (HWND dialog_seen : child_dialogs())
        if (dialog_seen != g_child.main && dialog_seen != dialog)
            fail("command " + std::to_string(id) + " left a window open");
}

// A command that must end in one message box with this text and caption,
// owned by `dialog`. The box is dismissed with OK.
void command_expect_box(HWND dialog, int id, std::string_view text, const char* caption) {
    const std::string what = "command " + std::to_string(id);
    if (!PostMessageA(dialog, WM_COMMAND, click_of(id),
                      reinterpret_cast<LPARAM>(GetDlgItem(dialog, id))))
        fail("cannot post " + what);
    HWND box = nullptr;
    if (!wait_until(timeout_ms, [&] {
            for (HWND seen : child_dialogs())
                if (seen != dialog && seen != g_child.main) box = seen;
            return box != nullptr;
        }))
        fail(what + ": no message box " + shown(text) + " appeared");
    std::string seen_text;
    wait_until(timeout_ms, [&] { return !(seen_text = item_text(box, message_text_id)).empty(); });
    expect_text(what + ": message caption", window_text(box), caption);
    expect_text(what + ": message text", seen_text, text);
    if (GetWindow(box, GW_OWNER) != dialog)
        fail(what + ": the message box is not owned by the dialog");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    wait_gone(box, what + ": the message box");
    sync(dialog);
}

// The control of `dialog` that has the keyboard focus, or null.
HWND focus_in(HWND dialog) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(g_child.process.dwThreadId, &info) && info.hwndFocus &&
        (info.hwndFocus == dialog || IsChild(dialog, info.hwndFocus)))
        return info.hwndFocus;
    return nullptr;
}

// Presses a key where the keyboard focus is, as the dialog manager sees it.
void press_key(HWND dialog, WPARAM key) {
    HWND target = focus_in(dialog);
    if (!target) target = dialog;
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

// ---- the program

void start(const char* exe) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string command_line = std::string("\"") + exe + "\"";
    if (!CreateProcessA(exe, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &g_child.process))
        fail(std::string("cannot start ") + exe + ", error " + std::to_string(GetLastError()));
    g_child.main = wait_dialog(main_caption, start_timeout_ms);
}

void wait_exit() {
    if (WaitForSingleObject(g_child.process.hProcess, timeout_ms) != WAIT_OBJECT_0)
        fail("the program did not end");
    DWORD code = 1;
    GetExitCodeProcess(g_child.process.hProcess, &code);
    if (code != 0) fail("exit code " + std::to_string(code));
    CloseHandle(g_child.process.hThread);
    CloseHandle(g_child.process.hProcess);
    g_child = {};
}

HWND main_list() { return item(g_child.main, IDC_FILE_LIST); }

// The names the platform's search yields for `pattern`, in its order: the
// list must show exactly these, in this order.
std::vector<std::string> search_order(const char* pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry{};
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.emplace_back(entry.cFileName);
    while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

// The list equals the search's order for `pattern`, and holds exactly the
// names expected (so that the check does not rest on the search alone).
void expect_list(const char* pattern, std::vector<std::string> expected) {
    const std::vector<std::string> seen = list_entries(main_list());
    const std::vector<std::string> order = search_order(pattern);
    if (seen != order)
        fail("list " + joined(seen) + " is not the search order " + joined(order) + " of " +
             pattern);
    std::vector<std::string> sorted_seen = seen;
    std::sort(sorted_seen.begin(), sorted_seen.end());
    std::sort(expected.begin(), expected.end());
    if (sorted_seen != expected) fail("list " + joined(seen) + ", expected " + joined(expected));
}

void expect_exact_list(const std::vector<std::string>& expected) {
    const std::vector<std::string> seen = list_entries(main_list());
    if (seen != expected) fail("list " + joined(seen) + ", expected " + joined(expected));
}

void select_entry(std::string_view name) {
    const std::vector<std::string> seen = list_entries(main_list());
    const auto at = std::find(seen.begin(), seen.end(), name);
    if (at == seen.end()) fail("cannot select " + shown(name) + " in " + joined(seen));
    SendMessageW(main_list(), LB_SETCURSEL, static_cast<WPARAM>(at - seen.begin()), 0);
}

void search(const char* extension) {
    set_item_text(g_child.main, IDC_EXTENSION, extension);
    command(g_child.main, IDC_SEARCH);
}

void search_refused(const char* extension, std::string_view text) {
    set_item_text(g_child.main, IDC_EXTENSION, extension);
    command_expect_box(g_child.main, IDC_SEARCH, text, oops);
    expect_exact_list({});
}

HWND open_settings() {
    PostMessageA(g_child.main, WM_COMMAND, click_of(IDC_SETTINGS), 0);
    HWND settings = wait_dialog(settings_caption, timeout_ms, g_child.main);
    if (GetWindow(settings, GW_OWNER) != g_child.main)
        fail("the settings dialog is not owned by the main dialog");
    if (IsWindowEnabled(g_child.main)) fail("the main dialog is enabled under the settings dialog");
    return settings;
}

// Ends the settings dialog with a command (IDOK, IDCANCEL) or, with a key,
// through the dialog manager (Enter, Escape).
void close_settings(HWND settings, int id) {
    PostMessageA(settings, WM_COMMAND, click_of(id), 0);
    wait_gone(settings, "the settings dialog");
    sync(g_child.main);
}

void close_settings_by_key(HWND settings, WPARAM key) {
    press_key(settings, key);
    wait_gone(settings, "the settings dialog");
    sync(g_child.main);
}

struct SettingsSeen {
    std::string min_length, xor_value;
    bool auto_newline;
    std::map<int, bool> classes;
    std::map<int, std::string> texts;
};

constexpr int class_ids[] = {IDC_HALF_DIGITS,   IDC_HALF_LOWER,    IDC_HALF_UPPER,
                             IDC_HALF_KATAKANA, IDC_HALF_SYMBOLS,  IDC_FULL_HIRAGANA,
                             IDC_FULL_KATAKANA, IDC_FULL_KANJI,    IDC_FULL_DIGITS,
                             IDC_FULL_UPPER,    IDC_FULL_LOWER,    IDC_FULL_CYRILLIC,
                             IDC_FULL_GREEK,    IDC_FULL_SYMBOLS};
constexpr int excluded_count = 12;
constexpr int exempt_count = 6;

// Values shown on opening: the defaults with some changes.
SettingsSeen default_settings() {
    SettingsSeen s{"1", "0", true, {}, {}};
    for (int id : class_ids) s.classes[id] = id >= IDC_FULL_HIRAGANA;
    for (int i = 0; i < excluded_count; ++i) s.texts[IDC_EXCLUDED_FIRST + i] = "";
    for (int i = 0; i < exempt_count; ++i) s.texts[IDC_EXEMPT_FIRST + i] = "";
    return s;
}

void expect_settings(HWND settings, const SettingsSeen& expected, const std::string& when) {
    expect_text(when + ": minimum length", item_text(settings, IDC_MIN_LENGTH),
                expected.min_length);
    expect_text(when + ": XOR value", item_text(settings, IDC_XOR_VALUE), expected.xor_value);
    if (is_checked(settings, IDC_AUTO_NEWLINE) != expected.auto_newline)
        fail(when + ": line-break switch");
    for (const auto& [id, on] : expected.classes)
        if (is_checked(settings, id) != on) fail(when + ": class check box " + std::to_string(id));
    for (const auto& [id, text] : expected.texts)
        expect_text(when + ": edit " + std::to_string(id), item_text(settings, id), text);
}

// ---- scenarios

// Fresh start; every refusal of search, delete and extract; search results,
// deleting, Enter, extracting; the exit button.
void scenario_main(const char* exe) {
    start(exe);
    expect_text("extension field at start", item_text(g_child.main, IDC_EXTENSION), "");
    expect_exact_list({});
    // The focus starts on the first tab stop, the file list.
    if (focus_in(g_child.main) != main_list()) fail("the file list does not have the focus");
    const auto style = static_cast<DWORD>(GetWindowLongPtrA(g_child.main, GWL_STYLE));
    constexpr DWORD frame = WS_SYSMENU | WS_CAPTION | DS_MODALFRAME;
    if ((style & frame) != frame || (style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) != 0)
        fail("main dialog style " + std::to_string(style));
    // One selection at most; inserted entries keep their place.
    const auto list_style = static_cast<DWORD>(GetWindowLongPtrA(main_list(), GWL_STYLE));
    if ((list_style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0)
        fail("the list allows several selections");

    command_expect_box(g_child.main, IDC_DELETE, "削除するファイルがありません。", oops);
    command_expect_box(g_child.main, IDC_EXTRACT, "変換するファイルがありません。", oops);
    search_refused("", "検索する拡張子が入力されていない。");

    const std::vector<std::string> dat_files = {"a.dat", "b.dat", "d.dat", "テスト.dat"};
    search("dat");
    expect_list("*.dat", dat_files);
    // A refused search still empties the list first.
    search_refused("txt", "拡張子がtxtはこちらの都合上無理です。");
    search("dat");
    search_refused("TXT", "拡張子がtxtはこちらの都合上無理です。");
    search_refused("xyz", "*.xyzファイルは発見できませんでした。");
    // Only the first 11 bytes take part in the search.
    search_refused("abcdefghijklmn", "*.abcdefghijkファイルは発見できませんでした。");

    search("dat");
    search("dat");  // replaces the list, never adds to it
    expect_list("*.dat", dat_files);

    command_expect_box(g_child.main, IDC_DELETE, "選択されていません。", "結果報告");
    select_entry("b.dat");
    command(g_child.main, IDC_DELETE);
    std::vector<std::string> rest = search_order("*.dat");
    rest.erase(std::find(rest.begin(), rest.end(), "b.dat"));
    expect_exact_list(rest);
    // The deletion left nothing selected.
    command_expect_box(g_child.main, IDC_DELETE, "選択されていません。", "結果報告");

    // Enter (command 1) does nothing. The posted selection behind it tells
    // when the key has been handled.
    press_key(g_child.main, VK_RETURN);
    PostMessageW(main_list(), LB_SETCURSEL, 1, 0);
    if (!wait_until(timeout_ms, [] { return SendMessageW(main_list(), LB_GETCURSEL, 0, 0) == 1; }))
        fail("the key was not handled");
    if (child_dialogs().size() != 1) fail("Enter opened a window");
    expect_exact_list(rest);

    // d.dat is a directory: passed over silently.
    command_expect_box(g_child.main, IDC_EXTRACT, "変換が終了しました。", "終了");
    expect_exact_list(rest);

    PostMessageA(g_child.main, WM_COMMAND, click_of(IDC_EXIT), 0);
    wait_exit();
}

// An extension of * lists a.txt, whose extraction must leave it as it is;
// Escape saves and ends the program.
void scenario_star(const char* exe) {
    start(exe);
    search("*");
    expect_list("*.*", {".", "..", "a.txt", "b.dat", "sub"});
    command_expect_box(g_child.main, IDC_EXTRACT, "変換が終了しました。", "終了");
    press_key(g_child.main, VK_ESCAPE);
    wait_exit();
}

// The settings dialog: what it shows, the range checks, Cancel, Escape, OK
// and Enter; the effect on the next extraction; Escape on the main dialog.
void scenario_settings(const char* exe) {
    start(exe);
    SettingsSeen expected = default_settings();

    HWND settings = open_settings();
    expect_settings(settings, expected, "defaults");
    if (focus_in(settings) != item(settings, IDC_MIN_LENGTH))
        fail("the minimum length does not have the focus");
    set_item_text(settings, IDC_MIN_LENGTH, "21");
    set_item_text(settings, IDC_XOR_VALUE, "256");
    close_settings(settings, IDOK);

    settings = open_settings();
    expected.min_length = "1";
    expected.xor_value = "0";
    expect_settings(settings, expected, "after OK with 21 and 256");
    set_item_text(settings, IDC_MIN_LENGTH, "20");
    set_item_text(settings, IDC_XOR_VALUE, "255");
    close_settings(settings, IDOK);

    settings = open_settings();
    expected.min_length = "20";
    expected.xor_value = "255";
    expect_settings(settings, expected, "after OK with 20 and 255");
    // Cancel drops every change.
    set_item_text(settings, IDC_MIN_LENGTH, "5");
    set_item_text(settings, IDC_XOR_VALUE, "7");
    set_checked(settings, IDC_AUTO_NEWLINE, false);
    set_checked(settings, IDC_HALF_DIGITS, true);
    set_checked(settings, IDC_FULL_HIRAGANA, false);
    set_item_text(settings, IDC_EXCLUDED_FIRST, "ab");
    set_item_text(settings, IDC_EXEMPT_FIRST + 5, "xyz");
    close_settings(settings, IDCANCEL);

    settings = open_settings();
    expect_settings(settings, expected, "after Cancel");
    set_item_text(settings, IDC_MIN_LENGTH, "3");
    close_settings_by_key(settings, VK_ESCAPE);

    settings = open_settings();
    expect_settings(settings, expected, "after Escape");
    // Enter in the focused edit applies like OK.
    set_item_text(settings, IDC_MIN_LENGTH, "2");
    set_item_text(settings, IDC_XOR_VALUE, "0");
    set_checked(settings, IDC_HALF_UPPER, true);
    set_item_text(settings, IDC_EXCLUDED_FIRST, "い");
    set_item_text(settings, IDC_EXEMPT_FIRST, "ABCDEFGHIJKLMNOPQRSTUVWXY");
    close_settings_by_key(settings, VK_RETURN);

    settings = open_settings();
    expected.min_length = "2";
    expected.xor_value = "0";
    expected.classes[IDC_HALF_UPPER] = true;
    expected.texts[IDC_EXCLUDED_FIRST] = "い";
    expected.texts[IDC_EXEMPT_FIRST] = "ABCDEFGHIJKLMNOPQRST";  // 20 bytes kept
    expect_settings(settings, expected, "after Enter");
    close_settings(settings, IDCANCEL);

    search("dat");
    expect_list("*.dat", {"x.dat"});
    command_expect_box(g_child.main, IDC_EXTRACT, "変換が終了しました。", "終了");

    // Saved whole, although a search would use 11 bytes of it.
    set_item_text(g_child.main, IDC_EXTENSION, "abcdefghijklmn");
    press_key(g_child.main, VK_ESCAPE);
    wait_exit();
}

// A restart in the directory left by the settings scenario: the saved
// extension and settings come back, the list stays empty; the close box.
void scenario_restart(const char* exe) {
    start(exe);
    expect_text("extension field after restart", item_text(g_child.main, IDC_EXTENSION),
                "abcdefghijklmn");
    expect_exact_list({});

    HWND settings = open_settings();
    SettingsSeen expected = default_settings();
    expected.min_length = "2";
    expected.classes[IDC_HALF_UPPER] = true;
    expected.texts[IDC_EXCLUDED_FIRST] = "い";
    expected.texts[IDC_EXEMPT_FIRST] = "ABCDEFGHIJKLMNOPQRST";
    expect_settings(settings, expected, "after restart");
    // Line breaks off and XOR 0x55 for the next extraction.
    set_checked(settings, IDC_AUTO_NEWLINE, false);
    set_item_text(settings, IDC_XOR_VALUE, "85");
    close_settings(settings, IDOK);

    search("xor");
    expect_list("*.xor", {"y.xor"});
    command_expect_box(g_child.main, IDC_EXTRACT, "変換が終了しました。", "終了");

    PostMessageA(g_child.main, WM_SYSCOMMAND, SC_CLOSE, 0);
    wait_exit();
}

// Not a test: holds each window open for scripts/screenshots.sh. Prints
// "shot <name> <x> <y> <width> <height>" for a window, then waits until the
// file "shot-taken" appears in the working directory and removes it.
void hold_for_shot(const char* name, HWND window) {
    sync(window);
    RECT r{};
    GetWindowRect(window, &r);
    char line[128];
    std::snprintf(line, sizeof line, "shot %s %ld %ld %ld %ld", name, r.left, r.top,
                  r.right - r.left, r.bottom - r.top);
    say(line);
    if (!wait_until(60000, [] { return DeleteFileA("shot-taken") != 0; }))
        fail(std::string("no screenshot of ") + name);
}

void scenario_screens(const char* exe) {
    start(exe);
    search("dat");
    SendMessageW(main_list(), LB_SETCURSEL, 0, 0);
    hold_for_shot("main", g_child.main);

    HWND settings = open_settings();
    hold_for_shot("settings", settings);
    close_settings(settings, IDCANCEL);

    PostMessageA(g_child.main, WM_COMMAND, click_of(IDC_EXTRACT), 0);
    HWND box = wait_dialog("終了", timeout_ms, g_child.main);
    hold_for_shot("message", box);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    wait_gone(box, "the message box");

    PostMessageA(g_child.main, WM_COMMAND, click_of(IDC_EXIT), 0);
    wait_exit();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr,
                     "usage: kurvane_wine_driver main|star|settings|restart|screens <kurvane.exe>\n");
        return 2;
    }
    g_scenario = argv[1];
    if (GetACP() != 932)
        fail("the ANSI code page is " + std::to_string(GetACP()) +
             ", not 932 (LANG=ja_JP.UTF-8 with the locale generated?)");

    const std::map<std::string, std::function<void(const char*)>> scenarios = {
        {"main", scenario_main},
        {"star", scenario_star},
        {"settings", scenario_settings},
        {"restart", scenario_restart},
        {"screens", scenario_screens},
    };
    const auto found = scenarios.find(g_scenario);
    if (found == scenarios.end()) {
        std::fprintf(stderr, "kurvane_wine_driver: no scenario %s\n", argv[1]);
        return 2;
    }
    found->second(argv[2]);
    say("ok [" + g_scenario + "]");
    return 0;
}
