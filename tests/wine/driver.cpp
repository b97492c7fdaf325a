// Drives kurvane.exe through its dialogs from a second process, the way a
// user would, and checks what the dialogs show: captions, field texts, list
// entries, message boxes (text, caption and owner), settings controls, the
// extract walk's progress and the exit code. Files are checked by the runner
// script afterwards.
//
//   kurvane_wine_driver <scenario> <path of kurvane.exe> [ANSI code page]
//
// The program is started in the driver's working directory. Every text is
// read back as UTF-16 and compared with the expected text, written here as
// UTF-8 literals, so the checks mean the same under any system code page.
// Every wait polls with a deadline; on any failure the driver prints what it
// saw and exits 1.
#include <windows.h>
#include <commctrl.h>

#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/resource.h"

namespace {

constexpr DWORD poll_ms = 20;
constexpr DWORD start_timeout_ms = 30000;  // a cold wineserver may be slow
constexpr DWORD timeout_ms = 10000;
constexpr DWORD walk_timeout_ms = 120000;  // a walk over a few hundred MiB
// During a walk the dialog must answer at least this fast.
constexpr DWORD answer_limit_ms = 2000;
constexpr int progress_steps = 1000;  // the walk's progress bar range

constexpr int message_text_id = 0xFFFF;  // the static holding a message box's text

struct Child {
    PROCESS_INFORMATION process{};
    HWND main = nullptr;
};
Child g_child;
std::string g_scenario;

// ---- texts: UTF-8 literals here, UTF-16 in the windows

std::wstring wide(std::u8string_view utf8) {
    if (utf8.empty()) return {};
    const auto* bytes = reinterpret_cast<const char*>(utf8.data());
    const int length =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(utf8.size()),
                            nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(utf8.size()),
                        text.data(), length);
    return text;
}

std::string utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                        nullptr, nullptr);
    return out;
}

// "text" [UTF-16 code units], so that a wrong character shows even where the
// glyph looks right (a ? from a lossy code page, a lone surrogate).
std::string shown(std::wstring_view text) {
    std::string out = "\"" + utf8(text) + "\" [";
    char hex[8];
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::snprintf(hex, sizeof hex, i ? " %04x" : "%04x", static_cast<unsigned>(text[i]));
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

std::wstring class_of(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// WM_GETTEXT is sent (GetWindowText would not ask a control of another process).
std::wstring window_text(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeout_ms,
                             &length))
        return L"<no answer>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, timeout_ms, &copied))
        return L"<no answer>";
    text.resize(std::min<std::size_t>(copied, length));
    return text;
}

std::vector<std::wstring> list_entries(HWND list) {
    std::vector<std::wstring> entries;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring entry(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
        const LRESULT copied = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i),
                                            reinterpret_cast<LPARAM>(entry.data()));
        entry.resize(static_cast<std::size_t>(std::max<LRESULT>(copied, 0)));
        entries.push_back(entry);
    }
    return entries;
}

std::vector<std::wstring> wide_all(const std::vector<std::u8string_view>& texts) {
    std::vector<std::wstring> out;
    for (std::u8string_view text : texts) out.push_back(wide(text));
    return out;
}

std::string joined(const std::vector<std::wstring>& entries) {
    std::string out = "{";
    for (const auto& entry : entries) out += (out.size() > 1 ? ", " : "") + shown(entry);
    return out + "}";
}

// The child's visible top-level dialogs (the main dialog, the settings dialog,
// message boxes).
std::vector<HWND> child_dialogs() {
    std::vector<HWND> found;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"#32770", nullptr)) != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid == g_child.process.dwProcessId && IsWindowVisible(window)) found.push_back(window);
    }
    return found;
}

void dump_window(HWND dialog) {
    say("  dialog " + shown(window_text(dialog)) + (IsWindowEnabled(dialog) ? "" : " (disabled)"));
    for (HWND item = GetWindow(dialog, GW_CHILD); item; item = GetWindow(item, GW_HWNDNEXT)) {
        const std::wstring kind = class_of(item);
        std::string line = "    " + utf8(kind) + " " + std::to_string(GetDlgCtrlID(item)) + ": ";
        if (_wcsicmp(kind.c_str(), L"ListBox") == 0)
            line += joined(list_entries(item));
        else
            line += shown(window_text(item));
        if (_wcsicmp(kind.c_str(), L"Button") == 0 &&
            SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED)
            line += " checked";
        if (!IsWindowEnabled(item)) line += " (disabled)";
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

void expect_text(const std::string& what, std::wstring_view seen, std::u8string_view expected) {
    const std::wstring want = wide(expected);
    if (seen != want) fail(what + ": saw " + shown(seen) + ", expected " + shown(want));
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
HWND find_dialog(std::u8string_view caption, HWND besides = nullptr) {
    const std::wstring want = wide(caption);
    for (HWND dialog : child_dialogs())
        if (dialog != besides && window_text(dialog) == want) return dialog;
    return nullptr;
}

HWND wait_dialog(std::u8string_view caption, DWORD limit_ms = timeout_ms, HWND besides = nullptr) {
    HWND found = nullptr;
    if (!wait_until(limit_ms, [&] { return (found = find_dialog(caption, besides)) != nullptr; }))
        fail("no dialog with caption " + shown(wide(caption)) + " appeared");
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(found, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeout_ms, &ignored))
        fail("dialog " + shown(wide(caption)) + " does not answer");
    return found;
}

void wait_gone(HWND window, const std::string& what) {
    if (!wait_until(timeout_ms, [&] { return !IsWindow(window); }))
        fail(what + " did not close");
}

// Returns once the dialog's thread has handled everything sent before.
void sync(HWND dialog) {
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeout_ms, &ignored))
        fail("the dialog does not answer");
}

// ---- acting

HWND item(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) fail("no control " + std::to_string(id));
    return control;
}

std::wstring item_text(HWND dialog, int id) { return window_text(item(dialog, id)); }

void set_item_text(HWND dialog, int id, std::u8string_view text) {
    const std::wstring value = wide(text);
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(item(dialog, id), WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>(value.c_str()), SMTO_ABORTIFHUNG, timeout_ms,
                             &ignored))
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
    if (!SendMessageTimeoutW(dialog, WM_COMMAND, click_of(id),
                             reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)), SMTO_ABORTIFHUNG,
                             timeout_ms, &ignored))
        fail("command " + std::to_string(id) + " did not return (a message box open?)");
    for (HWND dialog_seen : child_dialogs())
        if (dialog_seen != g_child.main && dialog_seen != dialog)
            fail("command " + std::to_string(id) + " left a window open");
}

void post_command(HWND dialog, int id) {
    if (!PostMessageW(dialog, WM_COMMAND, click_of(id),
                      reinterpret_cast<LPARAM>(GetDlgItem(dialog, id))))
        fail("cannot post command " + std::to_string(id));
}

// Whether a message box must show an icon; the two kinds are told apart by
// the program's choice, the driver only sees that there is one.
enum BoxIcon { icon_unchecked, icon_warning, icon_information };
constexpr int message_icon_id = 0x0440;  // the icon static of a message box

bool box_has_icon(HWND box) {
    HWND icon = GetDlgItem(box, message_icon_id);
    return icon != nullptr && IsWindowVisible(icon) && SendMessageW(icon, STM_GETICON, 0, 0) != 0;
}

// Waits for one message box with this text and caption, owned by `dialog`,
// and dismisses it with OK.
void expect_box(HWND dialog, const std::string& what, std::u8string_view text,
                std::u8string_view caption, DWORD limit_ms = timeout_ms, BoxIcon icon = icon_unchecked) {
    HWND box = nullptr;
    if (!wait_until(limit_ms, [&] {
            for (HWND seen : child_dialogs())
                if (seen != dialog && seen != g_child.main) box = seen;
            return box != nullptr;
        }))
        fail(what + ": no message box " + shown(wide(text)) + " appeared");
    std::wstring seen_text;
    wait_until(timeout_ms, [&] { return !(seen_text = item_text(box, message_text_id)).empty(); });
    expect_text(what + ": message caption", window_text(box), caption);
    expect_text(what + ": message text", seen_text, text);
    if (GetWindow(box, GW_OWNER) != dialog)
        fail(what + ": the message box is not owned by the dialog");
    if (icon != icon_unchecked && !box_has_icon(box)) fail(what + ": the message box shows no icon");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    wait_gone(box, what + ": the message box");
    sync(dialog);
}

// A command that must end in one message box with this text and caption.
void command_expect_box(HWND dialog, int id, std::u8string_view text, std::u8string_view caption) {
    post_command(dialog, id);
    expect_box(dialog, "command " + std::to_string(id), text, caption);
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
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

// ---- the program

// The program shows Japanese texts under a Japanese display language and
// English ones under any other; the previous build shows Japanese always.
bool g_japanese = true;
std::u8string_view ja_en(std::u8string_view japanese, std::u8string_view english) {
    return g_japanese ? japanese : english;
}

constexpr std::u8string_view main_caption = u8"Kurvane ver0.84";
std::u8string_view settings_caption = u8"設定";
std::u8string_view oops = u8"おおっと";
std::u8string_view report = u8"結果報告";
std::u8string_view done_caption = u8"終了";
std::u8string_view extract_done = u8"変換が終了しました。";

void choose_texts(bool japanese) {
    g_japanese = japanese;
    settings_caption = ja_en(u8"設定", u8"Settings");
    oops = ja_en(u8"おおっと", u8"Kurvane");
    report = ja_en(u8"結果報告", u8"Results");
    done_caption = ja_en(u8"終了", u8"Done");
    extract_done = ja_en(u8"変換が終了しました。", u8"The conversion has finished.");
}

void start(const wchar_t* exe, const std::vector<std::wstring>& arguments = {}) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring command_line = std::wstring(L"\"") + exe + L"\"";
    for (const std::wstring& argument : arguments) command_line += L" \"" + argument + L"\"";
    // Right after a prefix boot Wine now and then fails a start with an
    // internal error (1359); a later try works.
    DWORD error = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (CreateProcessW(exe, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &g_child.process)) {
            error = 0;
            break;
        }
        error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR) break;
        Sleep(500);
    }
    if (error != 0)
        fail("cannot start " + utf8(exe) + ", error " + std::to_string(error));
    g_child.main = wait_dialog(main_caption, start_timeout_ms);
}

void wait_exit(DWORD limit_ms = timeout_ms) {
    if (WaitForSingleObject(g_child.process.hProcess, limit_ms) != WAIT_OBJECT_0)
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
std::vector<std::wstring> search_order(std::u8string_view pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW(wide(pattern).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.emplace_back(entry.cFileName);
    while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

// The list equals the search's order for `pattern`, and holds exactly the
// names expected (so that the check does not rest on the search alone).
void expect_list(std::u8string_view pattern, const std::vector<std::u8string_view>& expected) {
    const std::vector<std::wstring> seen = list_entries(main_list());
    const std::vector<std::wstring> order = search_order(pattern);
    if (seen != order)
        fail("list " + joined(seen) + " is not the search order " + joined(order) + " of " +
             utf8(wide(pattern)));
    std::vector<std::wstring> sorted_seen = seen;
    std::vector<std::wstring> sorted_expected = wide_all(expected);
    std::sort(sorted_seen.begin(), sorted_seen.end());
    std::sort(sorted_expected.begin(), sorted_expected.end());
    if (sorted_seen != sorted_expected)
        fail("list " + joined(seen) + ", expected " + joined(sorted_expected));
}

void expect_exact_list(const std::vector<std::wstring>& expected) {
    const std::vector<std::wstring> seen = list_entries(main_list());
    if (seen != expected) fail("list " + joined(seen) + ", expected " + joined(expected));
}

void select_entry(std::u8string_view name) {
    const std::vector<std::wstring> seen = list_entries(main_list());
    const auto at = std::find(seen.begin(), seen.end(), wide(name));
    if (at == seen.end()) fail("cannot select " + shown(wide(name)) + " in " + joined(seen));
    SendMessageW(main_list(), LB_SETCURSEL, static_cast<WPARAM>(at - seen.begin()), 0);
}

void search(std::u8string_view extension) {
    set_item_text(g_child.main, IDC_EXTENSION, extension);
    command(g_child.main, IDC_SEARCH);
}

void search_refused(std::u8string_view extension, std::u8string_view text) {
    set_item_text(g_child.main, IDC_EXTENSION, extension);
    command_expect_box(g_child.main, IDC_SEARCH, text, oops);
    expect_exact_list({});
}

HWND open_settings() {
    PostMessageW(g_child.main, WM_COMMAND, click_of(IDC_SETTINGS), 0);
    HWND settings = wait_dialog(settings_caption, timeout_ms, g_child.main);
    if (GetWindow(settings, GW_OWNER) != g_child.main)
        fail("the settings dialog is not owned by the main dialog");
    if (IsWindowEnabled(g_child.main)) fail("the main dialog is enabled under the settings dialog");
    return settings;
}

// Ends the settings dialog with a command (IDOK, IDCANCEL) or, with a key,
// through the dialog manager (Enter, Escape).
void close_settings(HWND settings, int id) {
    PostMessageW(settings, WM_COMMAND, click_of(id), 0);
    wait_gone(settings, "the settings dialog");
    sync(g_child.main);
}

void close_settings_by_key(HWND settings, WPARAM key) {
    press_key(settings, key);
    wait_gone(settings, "the settings dialog");
    sync(g_child.main);
}

struct SettingsSeen {
    std::u8string min_length, xor_value;
    bool auto_newline;
    std::map<int, bool> classes;
    std::map<int, std::u8string> texts;
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
    SettingsSeen s{u8"1", u8"0", true, {}, {}};
    for (int id : class_ids) s.classes[id] = id >= IDC_FULL_HIRAGANA;
    for (int i = 0; i < excluded_count; ++i) s.texts[IDC_EXCLUDED_FIRST + i] = u8"";
    for (int i = 0; i < exempt_count; ++i) s.texts[IDC_EXEMPT_FIRST + i] = u8"";
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

void expect_main_texts();

// Fresh start; every refusal of search, delete and extract; search results,
// deleting, Enter, extracting; the exit button.
void scenario_main(const wchar_t* exe) {
    start(exe);
    expect_text("extension field at start", item_text(g_child.main, IDC_EXTENSION), u8"");
    expect_exact_list({});
    // The focus starts on the first tab stop, the file list.
    if (focus_in(g_child.main) != main_list()) fail("the file list does not have the focus");
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(g_child.main, GWL_STYLE));
    constexpr DWORD frame = WS_SYSMENU | WS_CAPTION | DS_MODALFRAME;
    if ((style & frame) != frame || (style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) != 0)
        fail("main dialog style " + std::to_string(style));
    // One selection at most; inserted entries keep their place.
    const auto list_style = static_cast<DWORD>(GetWindowLongPtrW(main_list(), GWL_STYLE));
    if ((list_style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0)
        fail("the list allows several selections");

    expect_main_texts();
    command_expect_box(g_child.main, IDC_DELETE,
                       ja_en(u8"削除するファイルがありません。", u8"There is no file to remove from the list."), oops);
    command_expect_box(g_child.main, IDC_EXTRACT,
                       ja_en(u8"変換するファイルがありません。", u8"There is no file to convert."), oops);
    search_refused(u8"", ja_en(u8"検索する拡張子が入力されていない。", u8"Type the extension of the files to search for."));

    const std::vector<std::u8string_view> dat_files = {u8"a.dat", u8"b.dat", u8"d.dat",
                                                       u8"テスト.dat"};
    search(u8"dat");
    expect_list(u8"*.dat", dat_files);
    // A refused search still empties the list first.
    const std::u8string_view txt_refused =
        ja_en(u8"拡張子がtxtはこちらの都合上無理です。", u8"The extension txt cannot be searched: the outputs are .txt files.");
    search_refused(u8"txt", txt_refused);
    search(u8"dat");
    search_refused(u8"TXT", txt_refused);
    search_refused(u8"xyz", ja_en(u8"*.xyzファイルは発見できませんでした。", u8"No file matches *.xyz."));
    // Only the first 11 bytes take part in the search.
    search_refused(u8"abcdefghijklmn",
                   ja_en(u8"*.abcdefghijkファイルは発見できませんでした。", u8"No file matches *.abcdefghijk."));

    search(u8"dat");
    search(u8"dat");  // replaces the list, never adds to it
    expect_list(u8"*.dat", dat_files);

    const std::u8string_view nothing_selected = ja_en(u8"選択されていません。", u8"No file is selected.");
    command_expect_box(g_child.main, IDC_DELETE, nothing_selected, report);
    select_entry(u8"b.dat");
    command(g_child.main, IDC_DELETE);
    std::vector<std::wstring> rest = search_order(u8"*.dat");
    rest.erase(std::find(rest.begin(), rest.end(), L"b.dat"));
    expect_exact_list(rest);
    // The deletion left nothing selected.
    command_expect_box(g_child.main, IDC_DELETE, nothing_selected, report);

    // Enter (command 1) does nothing. The posted selection behind it tells
    // when the key has been handled.
    press_key(g_child.main, VK_RETURN);
    PostMessageW(main_list(), LB_SETCURSEL, 1, 0);
    if (!wait_until(timeout_ms, [] { return SendMessageW(main_list(), LB_GETCURSEL, 0, 0) == 1; }))
        fail("the key was not handled");
    if (child_dialogs().size() != 1) fail("Enter opened a window");
    expect_exact_list(rest);

    // d.dat is a directory: named as not converted, then the completion.
    post_command(g_child.main, IDC_EXTRACT);
    expect_box(g_child.main, "the failure report",
               ja_en(u8"次のファイルは変換できませんでした。\nd.dat: フォルダです",
                     u8"These files could not be converted.\nd.dat: is a folder"),
               report, timeout_ms, icon_warning);
    expect_box(g_child.main, "the completion", extract_done, done_caption, timeout_ms, icon_information);
    expect_exact_list(rest);

    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

// An extension of * lists a.txt, whose extraction must leave it as it is;
// Escape saves and ends the program.
void scenario_star(const wchar_t* exe) {
    start(exe);
    search(u8"*");
    expect_list(u8"*.*", {u8".", u8"..", u8"a.txt", u8"b.dat", u8"sub"});
    // "." and ".." and a.txt, its own output, are passed over without a word;
    // the folder sub is named.
    post_command(g_child.main, IDC_EXTRACT);
    expect_box(g_child.main, "the failure report",
               ja_en(u8"次のファイルは変換できませんでした。\nsub: フォルダです",
                     u8"These files could not be converted.\nsub: is a folder"),
               report);
    expect_box(g_child.main, "the completion", extract_done, done_caption);
    press_key(g_child.main, VK_ESCAPE);
    wait_exit();
}

// The settings dialog: what it shows, the range checks, Cancel, Escape, OK
// and Enter; the effect on the next extraction; Escape on the main dialog.
void scenario_settings(const wchar_t* exe) {
    start(exe);
    SettingsSeen expected = default_settings();

    HWND settings = open_settings();
    expect_settings(settings, expected, "defaults");
    if (focus_in(settings) != item(settings, IDC_MIN_LENGTH))
        fail("the minimum length does not have the focus");
    set_item_text(settings, IDC_MIN_LENGTH, u8"21");
    set_item_text(settings, IDC_XOR_VALUE, u8"256");
    close_settings(settings, IDOK);

    settings = open_settings();
    expected.min_length = u8"1";
    expected.xor_value = u8"0";
    expect_settings(settings, expected, "after OK with 21 and 256");
    set_item_text(settings, IDC_MIN_LENGTH, u8"20");
    set_item_text(settings, IDC_XOR_VALUE, u8"255");
    close_settings(settings, IDOK);

    settings = open_settings();
    expected.min_length = u8"20";
    expected.xor_value = u8"255";
    expect_settings(settings, expected, "after OK with 20 and 255");
    // Cancel drops every change.
    set_item_text(settings, IDC_MIN_LENGTH, u8"5");
    set_item_text(settings, IDC_XOR_VALUE, u8"7");
    set_checked(settings, IDC_AUTO_NEWLINE, false);
    set_checked(settings, IDC_HALF_DIGITS, true);
    set_checked(settings, IDC_FULL_HIRAGANA, false);
    set_item_text(settings, IDC_EXCLUDED_FIRST, u8"ab");
    set_item_text(settings, IDC_EXEMPT_FIRST + 5, u8"xyz");
    close_settings(settings, IDCANCEL);

    settings = open_settings();
    expect_settings(settings, expected, "after Cancel");
    set_item_text(settings, IDC_MIN_LENGTH, u8"3");
    close_settings_by_key(settings, VK_ESCAPE);

    settings = open_settings();
    expect_settings(settings, expected, "after Escape");
    // Enter in the focused edit applies like OK.
    set_item_text(settings, IDC_MIN_LENGTH, u8"2");
    set_item_text(settings, IDC_XOR_VALUE, u8"0");
    set_checked(settings, IDC_HALF_UPPER, true);
    set_item_text(settings, IDC_EXCLUDED_FIRST, u8"い");
    set_item_text(settings, IDC_EXEMPT_FIRST, u8"ABCDEFGHIJKLMNOPQRSTUVWXY");
    close_settings_by_key(settings, VK_RETURN);

    settings = open_settings();
    expected.min_length = u8"2";
    expected.xor_value = u8"0";
    expected.classes[IDC_HALF_UPPER] = true;
    expected.texts[IDC_EXCLUDED_FIRST] = u8"い";
    expected.texts[IDC_EXEMPT_FIRST] = u8"ABCDEFGHIJKLMNOPQRST";  // 20 bytes kept
    expect_settings(settings, expected, "after Enter");
    close_settings(settings, IDCANCEL);

    search(u8"dat");
    expect_list(u8"*.dat", {u8"x.dat"});
    command_expect_box(g_child.main, IDC_EXTRACT, extract_done, done_caption);

    // Saved whole, although a search would use 11 bytes of it.
    set_item_text(g_child.main, IDC_EXTENSION, u8"abcdefghijklmn");
    press_key(g_child.main, VK_ESCAPE);
    wait_exit();
}

// A restart in the directory left by the settings scenario: the saved
// extension and settings come back, the list stays empty; the close box.
void scenario_restart(const wchar_t* exe) {
    start(exe);
    expect_text("extension field after restart", item_text(g_child.main, IDC_EXTENSION),
                u8"abcdefghijklmn");
    expect_exact_list({});

    HWND settings = open_settings();
    SettingsSeen expected = default_settings();
    expected.min_length = u8"2";
    expected.classes[IDC_HALF_UPPER] = true;
    expected.texts[IDC_EXCLUDED_FIRST] = u8"い";
    expected.texts[IDC_EXEMPT_FIRST] = u8"ABCDEFGHIJKLMNOPQRST";
    expect_settings(settings, expected, "after restart");
    // Line breaks off and XOR 0x55 for the next extraction.
    set_checked(settings, IDC_AUTO_NEWLINE, false);
    set_item_text(settings, IDC_XOR_VALUE, u8"85");
    close_settings(settings, IDOK);

    search(u8"xor");
    expect_list(u8"*.xor", {u8"y.xor"});
    command_expect_box(g_child.main, IDC_EXTRACT, extract_done, done_caption);

    PostMessageW(g_child.main, WM_SYSCOMMAND, SC_CLOSE, 0);
    wait_exit();
}

// Names that no single code page holds, a 0x5C trail byte among them: each
// is listed under its own name and extracted beside itself.
void scenario_names(const wchar_t* exe) {
    start(exe);
    search(u8"dat");
    expect_list(u8"*.dat", {u8"plain.dat", u8"台本.dat", u8"表示.dat", u8"café.dat",
                            u8"한국어.dat", u8"絵文字😀.dat"});
    command_expect_box(g_child.main, IDC_EXTRACT, extract_done, done_caption);
    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

// save.1.dat and save.2.dat share save.txt, and Été.1.dat and été.2.dat
// share Été.txt (Windows folds the case of É): each second one is passed over
// and named before the completion message.
void scenario_clash(const wchar_t* exe) {
    start(exe);
    search(u8"dat");
    expect_list(u8"*.dat", {u8"save.1.dat", u8"save.2.dat", u8"Été.1.dat", u8"été.2.dat"});
    post_command(g_child.main, IDC_EXTRACT);
    expect_box(g_child.main, "the clash report",
               ja_en(u8"次のファイルは、先に変換したファイルと出力ファイル名が同じになるため"
                     u8"変換しませんでした。\nsave.2.dat → save.txt\nété.2.dat → été.txt",
                     u8"These files were not converted, as a file converted before them has the same "
                     u8"output name.\nsave.2.dat → save.txt\nété.2.dat → été.txt"),
               report);
    expect_box(g_child.main, "the completion", extract_done, done_caption);
    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

// What the driver saw of the main dialog while a walk ran.
struct WalkSeen {
    std::set<int> positions;           // the progress bar's positions
    std::set<std::wstring> counts;     // "i / n"
    int position = -1;                 // at the last look
    std::wstring count;
    int repaints = 0;                  // invalidations that were painted
    int polls = 0;
    DWORD slowest_answer_ms = 0;
};

constexpr int walk_commands[] = {IDC_SEARCH, IDC_DELETE, IDC_EXTRACT, IDC_SETTINGS};

// One look at the walking dialog: it must answer within the limit, paint
// what was invalidated, and keep the other commands off while its progress
// shows. Returns false once the walk's status is gone.
bool look_at_walk(WalkSeen& seen, bool& invalidated) {
    const ULONGLONG asked = GetTickCount64();
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(g_child.main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, answer_limit_ms,
                             &ignored))
        fail("the dialog did not answer within " + std::to_string(answer_limit_ms) +
             " ms during the walk");
    seen.slowest_answer_ms =
        std::max(seen.slowest_answer_ms, static_cast<DWORD>(GetTickCount64() - asked));
    ++seen.polls;
    // Painted: the update region made below is empty again.
    if (invalidated && !GetUpdateRect(g_child.main, nullptr, FALSE)) {
        ++seen.repaints;
        invalidated = false;
    }
    if (!invalidated) invalidated = InvalidateRect(g_child.main, nullptr, FALSE) != 0;

    HWND bar = GetDlgItem(g_child.main, IDC_WALK_PROGRESS);
    HWND count = GetDlgItem(g_child.main, IDC_WALK_COUNT);
    if (!bar || !count) return false;
    std::vector<int> enabled;
    for (int id : walk_commands)
        if (IsWindowEnabled(item(g_child.main, id))) enabled.push_back(id);
    const auto position = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    const std::wstring count_text = window_text(count);
    // Still walking after the reads: what they saw belongs to the walk (the
    // status goes before the commands come back).
    if (!IsWindow(bar)) return false;
    if (!enabled.empty()) fail("command " + std::to_string(enabled[0]) + " is enabled during the walk");
    if (!IsWindowEnabled(item(g_child.main, IDC_EXIT))) fail("exit is disabled during the walk");
    if (position < 0 || position > progress_steps) fail("progress " + std::to_string(position));
    seen.positions.insert(position);
    if (!count_text.empty()) seen.counts.insert(count_text);
    seen.position = position;
    seen.count = count_text;
    return true;
}

void say_walk(const char* what, const WalkSeen& seen) {
    std::string counts;
    for (const auto& text : seen.counts) counts += " " + shown(text);
    say("  " + std::string(what) + ": " + std::to_string(seen.polls) + " looks, " +
        std::to_string(seen.positions.size()) + " progress positions, " +
        std::to_string(seen.repaints) + " repaints, slowest answer " +
        std::to_string(seen.slowest_answer_ms) + " ms, counts" + counts);
}

// The progress bar moved through the first file (big.bin, a few hundred MiB)
// while the dialog answered, painted and kept its commands off.
void expect_walk_seen(const WalkSeen& seen, const char* what) {
    say_walk(what, seen);
    const auto inside = std::count_if(seen.positions.begin(), seen.positions.end(),
                                      [](int p) { return p > 0 && p < progress_steps; });
    if (inside < 2) fail(std::string(what) + ": the progress did not move within the file");
    if (!seen.counts.contains(L"1 / 2")) fail(std::string(what) + ": no \"1 / 2\" shown");
    if (seen.repaints < 1) fail(std::string(what) + ": the dialog never repainted");
}

// A walk over a large file and a small one: the dialog stays responsive and
// shows its progress; the completion comes once. Then a second walk that the
// window's close box stops: the large file is finished, the small one is
// left alone, no message comes, and the program ends.
void scenario_walk(const wchar_t* exe) {
    start(exe);
    search(u8"bin");
    expect_exact_list({L"big.bin", L"small.bin"});

    post_command(g_child.main, IDC_EXTRACT);
    if (!wait_until(timeout_ms, [] { return GetDlgItem(g_child.main, IDC_WALK_PROGRESS) != nullptr; }))
        fail("the walk shows no progress");
    WalkSeen seen;
    bool invalidated = false;
    while (look_at_walk(seen, invalidated)) {
        if (child_dialogs().size() != 1) break;
        Sleep(poll_ms);
    }
    expect_walk_seen(seen, "first walk");
    expect_box(g_child.main, "the completion", extract_done, done_caption, walk_timeout_ms);
    for (int id : walk_commands)
        if (!IsWindowEnabled(item(g_child.main, id)))
            fail("command " + std::to_string(id) + " is still disabled after the walk");

    // The outputs go, so that the second walk's show what it wrote.
    if (!DeleteFileW(L"big.txt") || !DeleteFileW(L"small.txt"))
        fail("the first walk did not write big.txt and small.txt");
    post_command(g_child.main, IDC_EXTRACT);
    WalkSeen second;
    invalidated = false;
    // Closed well inside big.bin, so that the close cannot come after it.
    // The bar shows where the walk was when the dialog last caught up, and a
    // loaded machine lets the walk run ahead of it: the close goes in the
    // first half, leaving over a hundred MiB between it and the file's end.
    if (!wait_until(timeout_ms, [&] {
            return look_at_walk(second, invalidated) && second.count == L"1 / 2" &&
                   second.position > 0 && second.position < progress_steps / 2;
        }))
        fail("the second walk was never seen within big.bin");
    PostMessageW(g_child.main, WM_SYSCOMMAND, SC_CLOSE, 0);
    // The close waits for big.bin; meanwhile the window says it is stopping
    // and lists the files left undone. (Read only while big.bin still runs.)
    const std::wstring stopping = wide(ja_en(u8"停止中…", u8"Stopping..."));
    std::wstring status, label;
    std::vector<std::wstring> undone;
    const auto ended = [] { return WaitForSingleObject(g_child.process.hProcess, 0) == WAIT_OBJECT_0; };
    // The label and the list count only when the status says so before and
    // after they are read: big.bin may end, and the window close, between
    // two reads.
    wait_until(walk_timeout_ms, [&] {
        if (ended() || !GetDlgItem(g_child.main, IDC_WALK_COUNT)) return true;
        status = window_text(GetDlgItem(g_child.main, IDC_WALK_COUNT));
        if (status != stopping) return false;
        label = item_text(g_child.main, IDC_LIST_LABEL);
        undone = list_entries(main_list());
        status = window_text(GetDlgItem(g_child.main, IDC_WALK_COUNT));
        return status == stopping;
    });
    if (status == stopping) {
        expect_text("the label over the files left undone", label, ja_en(u8"変換しないファイル", u8"Not converted"));
        if (undone != std::vector<std::wstring>{L"small.bin"}) fail("files left undone " + joined(undone));
        say("  the stop showed " + shown(status) + " over " + joined(undone));
    } else {
        say("  the walk ended before its stop could be seen");
    }
    // No message comes before the program ends.
    say_walk("second walk until the close", second);
    if (!wait_until(walk_timeout_ms, [] {
            for (HWND dialog : child_dialogs())
                if (dialog != g_child.main) fail("a window opened after the close during a walk");
            return WaitForSingleObject(g_child.process.hProcess, 0) == WAIT_OBJECT_0;
        }))
        fail("the program did not end after the close during a walk");
    wait_exit();
}

// ---- any folder, dropped files, honest results, the new options

// The full path of `path`, relative to the working directory, as the program
// resolves its arguments and dropped names.
std::wstring full_path(const std::wstring& path) {
    wchar_t buffer[MAX_PATH * 2] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 2, buffer, nullptr);
    if (length == 0 || length >= MAX_PATH * 2) fail("cannot resolve " + utf8(path));
    return buffer;
}

void expect_wide(const std::string& what, const std::wstring& seen, const std::wstring& expected) {
    if (seen != expected) fail(what + ": saw " + shown(seen) + ", expected " + shown(expected));
}

// The main dialog's controls in the display language, and the folder shown.
void expect_main_texts() {
    const struct {
        int id;
        std::u8string_view japanese, english;
    } texts[] = {
        {IDC_LIST_LABEL, u8"変換するファイル", u8"Files to convert"},
        {IDC_SEARCH, u8"検索(&S)", u8"&Search"},
        {IDC_DELETE, u8"削除(&D)", u8"&Delete"},
        {IDC_EXTRACT, u8"抜き出し(&O)", u8"&Extract"},
        {IDC_EXIT, u8"終了(&X)", u8"E&xit"},
        {IDC_SETTINGS, u8"設定(&C)", u8"Se&ttings..."},
        {IDC_BROWSE, u8"参照(&B)", u8"&Browse..."},
        {IDC_OPEN_OUTPUTS, u8"出力先(&F)", u8"Open &folder"},
    };
    for (const auto& t : texts)
        expect_text("control " + std::to_string(t.id), item_text(g_child.main, t.id), ja_en(t.japanese, t.english));
    expect_wide("the folder shown at start", item_text(g_child.main, IDC_FOLDER), full_path(L"."));
}

// Presses Enter in the extension field.
void enter_in_extension() {
    HWND field = item(g_child.main, IDC_EXTENSION);
    // Posted messages are handled after sent ones: wait for the focus itself.
    PostMessageW(g_child.main, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
    if (!wait_until(timeout_ms, [&] { return focus_in(g_child.main) == field; }))
        fail("the extension field has no focus");
    press_key(g_child.main, VK_RETURN);
}

// Started with a folder, a file in it and a file elsewhere as arguments (as
// a drop on the icon gives them): the folder is listed, the files are taken,
// each output goes beside its input; Enter in the field searches the folder;
// setting.dat stays in the folder the program started in.
void scenario_folder(const wchar_t* exe) {
    const std::wstring data = full_path(L"..\\data");
    start(exe, {L"..\\data", L"..\\data\\extra.bin", L"..\\other\\o.dat"});
    // The arguments are taken once the dialog shows.
    wait_until(timeout_ms, [&] { return list_entries(main_list()).size() == 2; });
    expect_wide("the folder shown", item_text(g_child.main, IDC_FOLDER), data);
    expect_exact_list({L"extra.bin", full_path(L"..\\other\\o.dat")});
    command_expect_box(g_child.main, IDC_EXTRACT, extract_done, done_caption);

    set_item_text(g_child.main, IDC_EXTENSION, u8"dat");
    enter_in_extension();
    if (!wait_until(timeout_ms, [] { return list_entries(main_list()) == std::vector<std::wstring>{L"a.dat"}; }))
        fail("Enter in the extension field did not search: " + joined(list_entries(main_list())));
    command_expect_box(g_child.main, IDC_EXTRACT, extract_done, done_caption);
    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

// Drops `paths` on the main dialog as the shell does: a DROPFILES block
// with wide names, placed in the program's own memory (a drop handle is
// memory of the process that receives it).
void drop(const std::vector<std::wstring>& paths) {
    std::vector<wchar_t> names;
    for (const std::wstring& path : paths) {
        names.insert(names.end(), path.begin(), path.end());
        names.push_back(L'\0');
    }
    names.push_back(L'\0');
    DROPFILES header{};
    header.pFiles = sizeof header;
    header.fWide = TRUE;
    std::vector<char> block(sizeof header + names.size() * sizeof(wchar_t));
    std::memcpy(block.data(), &header, sizeof header);
    std::memcpy(block.data() + sizeof header, names.data(), names.size() * sizeof(wchar_t));
    void* remote = VirtualAllocEx(g_child.process.hProcess, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE,
                                  PAGE_READWRITE);
    SIZE_T written = 0;
    if (!remote || !WriteProcessMemory(g_child.process.hProcess, remote, block.data(), block.size(), &written))
        fail("cannot place the dropped names in the program");
    // A posted message is handled after any message sent later, so an
    // answer to sync() does not show that the drop was taken: wait until the
    // list or the folder changes (every drop here changes one of them).
    auto shown_state = [] { return std::make_pair(list_entries(main_list()), item_text(g_child.main, IDC_FOLDER)); };
    const auto before = shown_state();
    PostMessageW(g_child.main, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
    if (!wait_until(timeout_ms, [&] { return shown_state() != before; })) fail("the drop changed nothing");
    sync(g_child.main);
}

// Files dropped are added (bare when in the listed folder); a dropped folder
// becomes the listed folder, and with an extension typed it is searched.
void scenario_drop(const wchar_t* exe) {
    start(exe);
    const std::wstring here = full_path(L".");
    const std::wstring there = full_path(L"..\\there");
    drop({there + L"\\x.dat", here + L"\\p.dat", here + L"\\p.dat"});
    expect_exact_list({there + L"\\x.dat", L"p.dat"});
    drop({there});
    expect_wide("the folder after the drop", item_text(g_child.main, IDC_FOLDER), there);
    expect_exact_list({L"x.dat", here + L"\\p.dat"});
    command_expect_box(g_child.main, IDC_EXTRACT, extract_done, done_caption);

    set_item_text(g_child.main, IDC_EXTENSION, u8"bin");
    drop({here});
    expect_wide("the folder after the second drop", item_text(g_child.main, IDC_FOLDER), here);
    expect_exact_list({L"q.bin"});
    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

// The folder picker: the real common item dialog, given a folder by its path.
void scenario_browse(const wchar_t* exe) {
    start(exe);
    const std::wstring there = full_path(L"..\\there");
    post_command(g_child.main, IDC_BROWSE);
    HWND picker = wait_dialog(ja_en(u8"検索するフォルダ", u8"Folder to search"), timeout_ms, g_child.main);
    // The name field is the picker's one edit box that takes text.
    HWND edit = nullptr;
    EnumChildWindows(
        picker,
        [](HWND child, LPARAM found) {
            if (_wcsicmp(class_of(child).c_str(), L"Edit") != 0 || !IsWindowVisible(child)) return TRUE;
            *reinterpret_cast<HWND*>(found) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&edit));
    if (!edit) fail("the folder picker has no name field");
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(there.c_str()), SMTO_ABORTIFHUNG, timeout_ms,
                        &ignored);
    PostMessageW(picker, WM_COMMAND, IDOK, 0);
    wait_gone(picker, "the folder picker");
    sync(g_child.main);
    expect_wide("the folder picked", item_text(g_child.main, IDC_FOLDER), there);
    search(u8"dat");
    expect_exact_list({L"x.dat"});
    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

// A folder named like a data file and a file whose output is a folder: both
// are named with their cause, then the completion comes, with icons. The
// outputs' folder can be opened; the About entry shows the version.
void scenario_failure(const wchar_t* exe) {
    start(exe);
    search(u8"dat");
    expect_list(u8"*.dat", {u8"blocked.dat", u8"dir.dat", u8"good.dat"});
    post_command(g_child.main, IDC_EXTRACT);
    expect_box(g_child.main, "the failure report",
               ja_en(u8"次のファイルは変換できませんでした。\n"
                     u8"blocked.dat: 出力ファイル blocked.txt を作成できません（アクセスが拒否されました）\n"
                     u8"dir.dat: フォルダです",
                     u8"These files could not be converted.\n"
                     u8"blocked.dat: cannot create the output blocked.txt (access denied)\n"
                     u8"dir.dat: is a folder"),
               report, timeout_ms, icon_warning);
    expect_box(g_child.main, "the completion", extract_done, done_caption, timeout_ms, icon_information);
    if (!IsWindowEnabled(item(g_child.main, IDC_OPEN_OUTPUTS))) fail("the outputs' folder cannot be opened");

    PostMessageW(g_child.main, WM_SYSCOMMAND, IDM_ABOUT, 0);
    expect_box(g_child.main, "the About entry",
               ja_en(u8"Kurvane バージョン 0.8.4", u8"Kurvane version 0.8.4"),
               ja_en(u8"バージョン情報", u8"About Kurvane"), timeout_ms, icon_information);
    // A refusal warns.
    set_item_text(g_child.main, IDC_EXTENSION, u8"");
    post_command(g_child.main, IDC_SEARCH);
    expect_box(g_child.main, "the empty extension",
               ja_en(u8"検索する拡張子が入力されていない。", u8"Type the extension of the files to search for."),
               oops, timeout_ms, icon_warning);
    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

// The settings a run leaves, as the settings dialog shows them.
void expect_saved(const std::u8string_view min_length, std::u8string_view xor_value, bool utf8_output,
                  bool has_utf8_box) {
    HWND settings = open_settings();
    expect_text("saved minimum length", item_text(settings, IDC_MIN_LENGTH), min_length);
    expect_text("saved XOR value", item_text(settings, IDC_XOR_VALUE), xor_value);
    if (has_utf8_box && is_checked(settings, IDC_OUTPUT_UTF8) != utf8_output) fail("the UTF-8 box");
    close_settings(settings, IDCANCEL);
}

// UTF-8 output chosen in the settings dialog, with a hexadecimal XOR key and
// a minimum length typed with a stray letter.
void scenario_utf8(const wchar_t* exe) {
    start(exe);
    HWND settings = open_settings();
    expect_text("the UTF-8 box", item_text(settings, IDC_OUTPUT_UTF8), ja_en(u8"UTF-8で出力する", u8"Write UTF-8"));
    if (is_checked(settings, IDC_OUTPUT_UTF8)) fail("UTF-8 is on by default");
    set_item_text(settings, IDC_MIN_LENGTH, u8"2a");
    expect_text("the minimum length typed with a letter", item_text(settings, IDC_MIN_LENGTH), u8"2");
    set_item_text(settings, IDC_XOR_VALUE, u8"0x5G5");
    expect_text("the XOR value typed with a stray letter", item_text(settings, IDC_XOR_VALUE), u8"0x55");
    set_checked(settings, IDC_OUTPUT_UTF8, true);
    close_settings(settings, IDOK);
    expect_saved(u8"2", u8"85", true, true);
    search(u8"xor");
    command_expect_box(g_child.main, IDC_EXTRACT, extract_done, done_caption);
    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

// A restart reads the options back from setting.dat, with the block after
// the layout or without it.
void scenario_reread(const wchar_t* exe, bool utf8_output) {
    start(exe);
    expect_text("extension field after restart", item_text(g_child.main, IDC_EXTENSION), u8"xor");
    expect_saved(u8"2", u8"85", utf8_output, true);
    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

// The previous build in a folder whose setting.dat has the block: it reads
// the layout, ignores the block, writes code page 932, and saves the layout.
void scenario_previous(const wchar_t* exe) {
    choose_texts(true);
    start(exe);
    expect_text("extension field in the previous build", item_text(g_child.main, IDC_EXTENSION), u8"xor");
    expect_saved(u8"2", u8"85", false, false);
    search(u8"xor");
    command_expect_box(g_child.main, IDC_EXTRACT, extract_done, done_caption);
    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

// The text filter and its threshold from the settings dialog: a threshold
// out of 0..100 becomes the default on OK, the field takes digits only, and
// the walk keeps only the runs that read as text (the runner compares the
// output with the native kurvane --text).
void scenario_text(const wchar_t* exe) {
    start(exe);
    HWND settings = open_settings();
    expect_text("the text filter box", item_text(settings, IDC_TEXT_FILTER), ja_en(u8"テキスト判定", u8"Text filter"));
    if (is_checked(settings, IDC_TEXT_FILTER)) fail("the text filter is on by default");
    expect_text("the default threshold", item_text(settings, IDC_MIN_SCORE), u8"50");
    set_item_text(settings, IDC_MIN_SCORE, u8"150");
    close_settings(settings, IDOK);
    settings = open_settings();
    expect_text("a threshold of 150 after OK", item_text(settings, IDC_MIN_SCORE), u8"50");
    set_item_text(settings, IDC_MIN_SCORE, u8"7x0");
    expect_text("the threshold typed with a letter", item_text(settings, IDC_MIN_SCORE), u8"70");
    set_checked(settings, IDC_TEXT_FILTER, true);
    close_settings(settings, IDOK);
    search(u8"dat");
    command_expect_box(g_child.main, IDC_EXTRACT, extract_done, done_caption);
    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

// A restart shows the filter and threshold stored in setting.dat.
void scenario_reread_text(const wchar_t* exe) {
    start(exe);
    HWND settings = open_settings();
    if (!is_checked(settings, IDC_TEXT_FILTER)) fail("the text filter was not read back");
    expect_text("the threshold read back", item_text(settings, IDC_MIN_SCORE), u8"70");
    close_settings(settings, IDCANCEL);
    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

// The Auto button beside the XOR value: with nothing listed it says so;
// with an XORed file listed it fills the field with the file's key in hex,
// and the walk uses it.
void scenario_xor_auto(const wchar_t* exe) {
    start(exe);
    HWND settings = open_settings();
    expect_text("the Auto button", item_text(settings, IDC_XOR_AUTO), ja_en(u8"自動", u8"Auto"));
    post_command(settings, IDC_XOR_AUTO);
    expect_box(settings, "Auto with no file listed",
               ja_en(u8"XORの値を調べるファイルがありません。先にメイン画面の一覧にファイルを入れてください。",
                     u8"There is no file to find the XOR value in. List a file in the main window first."),
               oops, timeout_ms, icon_warning);
    expect_text("the XOR value after a refused Auto", item_text(settings, IDC_XOR_VALUE), u8"0");
    close_settings(settings, IDCANCEL);
    search(u8"dat");
    settings = open_settings();
    post_command(settings, IDC_XOR_AUTO);
    if (!wait_until(timeout_ms, [&] { return item_text(settings, IDC_XOR_VALUE) == L"0x5A"; }))
        fail("Auto filled the XOR value with " + shown(item_text(settings, IDC_XOR_VALUE)) + ", not 0x5A");
    sync(settings);
    if (child_dialogs().size() != 2) fail("Auto that found a key left a message open");
    close_settings(settings, IDOK);
    expect_saved(u8"1", u8"90", false, true);
    command_expect_box(g_child.main, IDC_EXTRACT, extract_done, done_caption);
    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

// The input encoding's drop-down list: its five entries, the one chosen
// stored in setting.dat and shown again after a restart.
constexpr std::u8string_view input_encodings[] = {u8"Shift-JIS (CP932)", u8"EUC-JP", u8"UTF-8", u8"UTF-16LE",
                                                  u8"UTF-16BE"};

void expect_input_encoding(HWND settings, std::u8string_view expected, const std::string& when) {
    expect_text(when + ": the input encoding", item_text(settings, IDC_INPUT_ENCODING), expected);
}

void scenario_input_encoding(const wchar_t* exe) {
    start(exe);
    HWND settings = open_settings();
    HWND list = item(settings, IDC_INPUT_ENCODING);
    const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    if (count != static_cast<LRESULT>(std::size(input_encodings)))
        fail("the input encoding list has " + std::to_string(count) + " entries");
    for (std::size_t i = 0; i < std::size(input_encodings); ++i) {
        SendMessageW(list, CB_SETCURSEL, i, 0);
        expect_input_encoding(settings, input_encodings[i], "entry " + std::to_string(i));
    }
    close_settings(settings, IDCANCEL);
    settings = open_settings();
    expect_input_encoding(settings, input_encodings[0], "after Cancel");
    SendMessageW(item(settings, IDC_INPUT_ENCODING), CB_SETCURSEL, 3, 0);
    close_settings(settings, IDOK);
    settings = open_settings();
    expect_input_encoding(settings, input_encodings[3], "after OK");
    close_settings(settings, IDCANCEL);
    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

void scenario_reread_input_encoding(const wchar_t* exe) {
    start(exe);
    HWND settings = open_settings();
    expect_input_encoding(settings, input_encodings[3], "after a restart");
    close_settings(settings, IDCANCEL);
    post_command(g_child.main, IDC_EXIT);
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
    if (!wait_until(60000, [] { return DeleteFileW(L"shot-taken") != 0; }))
        fail(std::string("no screenshot of ") + name);
}

void scenario_screens(const wchar_t* exe) {
    start(exe);
    search(u8"dat");
    SendMessageW(main_list(), LB_SETCURSEL, 0, 0);
    hold_for_shot("main", g_child.main);

    HWND settings = open_settings();
    hold_for_shot("settings", settings);
    close_settings(settings, IDCANCEL);

    post_command(g_child.main, IDC_EXTRACT);
    // dir.dat is a folder: the report of the files not converted comes first.
    HWND box = wait_dialog(report, timeout_ms, g_child.main);
    hold_for_shot("report", box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    wait_gone(box, "the report");
    box = wait_dialog(done_caption, timeout_ms, g_child.main);
    hold_for_shot("message", box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    wait_gone(box, "the message box");

    post_command(g_child.main, IDC_EXIT);
    wait_exit();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: kurvane_wine_driver "
                             "main|star|settings|restart|names|clash|walk|screens|folder|drop|browse|"
                             "failure|utf8|reread-utf8|reread-plain|previous|text|reread-text|xor-auto|"
                             "input-encoding|reread-input-encoding "
                             "<kurvane.exe> [ANSI code page]\n");
        return 2;
    }
    g_scenario = utf8(argv[1]);
    choose_texts(PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE);
    // The code page the system locale gives: 932 under ja_JP.UTF-8, 1252
    // under en_US.UTF-8. A wrong one means the run is not what it says.
    if (argc == 4 && GetACP() != static_cast<UINT>(_wtoi(argv[3])))
        fail("the ANSI code page is " + std::to_string(GetACP()) + ", not " + utf8(argv[3]) +
             " (is the locale generated?)");

    const std::map<std::string, std::function<void(const wchar_t*)>> scenarios = {
        {"main", scenario_main},   {"star", scenario_star},   {"settings", scenario_settings},
        {"restart", scenario_restart}, {"names", scenario_names}, {"clash", scenario_clash},
        {"walk", scenario_walk},   {"screens", scenario_screens},
        {"folder", scenario_folder}, {"drop", scenario_drop}, {"browse", scenario_browse},
        {"failure", scenario_failure}, {"utf8", scenario_utf8},
        {"reread-utf8", [](const wchar_t* exe) { scenario_reread(exe, true); }},
        {"reread-plain", [](const wchar_t* exe) { scenario_reread(exe, false); }},
        {"previous", scenario_previous},
        {"text", scenario_text}, {"reread-text", scenario_reread_text}, {"xor-auto", scenario_xor_auto},
        {"input-encoding", scenario_input_encoding}, {"reread-input-encoding", scenario_reread_input_encoding},
    };
    const auto found = scenarios.find(g_scenario);
    if (found == scenarios.end()) {
        std::fprintf(stderr, "kurvane_wine_driver: no scenario %s\n", g_scenario.c_str());
        return 2;
    }
    found->second(argv[2]);
    say("ok [" + g_scenario + "]");
    return 0;
}
