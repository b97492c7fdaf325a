#include "ui/win32/views.h"

#include <memory>
#include <type_traits>

#include "text/text_encoding.h"

namespace kurvane::win32 {

namespace {

struct FindCloser {
    void operator()(HANDLE handle) const { FindClose(handle); }
};
using FindHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

}  // namespace

// wchar_t is UTF-16 on Windows: the engine's converters serve the Win32 calls.
std::wstring utf16_of(std::string_view utf8) {
    const std::u16string text = text::utf8_to_utf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string utf8_of(std::wstring_view utf16) {
    return text::utf16_to_utf8(std::u16string(utf16.begin(), utf16.end()));
}

std::string dialog_item_text(HWND dialog, int id) {
    // The length may overestimate; the copy's count is exact.
    const int length = GetWindowTextLengthW(GetDlgItem(dialog, id));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const UINT copied = GetDlgItemTextW(dialog, id, text.data(), length + 1);
    text.resize(copied);
    return utf8_of(text);
}

int ListBoxView::count() const {
    return static_cast<int>(SendMessageW(list_, LB_GETCOUNT, 0, 0));
}

void ListBoxView::insert_at(int index, std::string_view name) {
    const std::wstring text = utf16_of(name);
    SendMessageW(list_, LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.c_str()));
}

void ListBoxView::delete_at(int index) {
    SendMessageW(list_, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

std::string ListBoxView::text_at(int index) const {
    const LRESULT length = SendMessageW(list_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied = SendMessageW(list_, LB_GETTEXT, static_cast<WPARAM>(index),
                                        reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == LB_ERR ? 0 : static_cast<std::size_t>(copied));
    return utf8_of(text);
}

int ListBoxView::selection() const {
    return static_cast<int>(SendMessageW(list_, LB_GETCURSEL, 0, 0));
}

void EditExtensionField::set_text(std::string_view text) {
    SetDlgItemTextW(dialog_, id_, utf16_of(text).c_str());
}

void MessageBoxView::show(std::string_view text, std::string_view caption) {
    show_kind(text, caption, MessageKind::plain);
}

void MessageBoxView::show_kind(std::string_view text, std::string_view caption, MessageKind kind) {
    const UINT icon = kind == MessageKind::warning       ? MB_ICONWARNING
                      : kind == MessageKind::information ? MB_ICONINFORMATION
                                                         : 0;
    MessageBoxW(owner_, utf16_of(text).c_str(), utf16_of(caption).c_str(), MB_OK | icon);
}

bool FindFileSearch::search(std::string_view pattern,
                            const std::function<void(std::string_view name)>& found) {
    WIN32_FIND_DATAW entry{};
    HANDLE first = FindFirstFileW(utf16_of(pattern).c_str(), &entry);
    if (first == INVALID_HANDLE_VALUE) return false;
    const FindHandle handle(first);
    do {
        found(utf8_of(entry.cFileName));
    } while (FindNextFileW(handle.get(), &entry));
    return true;
}

bool DialogSettingsControls::checked(int id) const {
    return IsDlgButtonChecked(dialog_, id) == BST_CHECKED;
}

void DialogSettingsControls::set_checked(int id, bool on) {
    CheckDlgButton(dialog_, id, on ? BST_CHECKED : BST_UNCHECKED);
}

void DialogSettingsControls::set_text(int id, std::string_view text) {
    SetDlgItemTextW(dialog_, id, utf16_of(text).c_str());
}

void DialogSettingsControls::set_choices(int id, std::span<const std::string> entries) {
    SendDlgItemMessageW(dialog_, id, CB_RESETCONTENT, 0, 0);
    for (const std::string& entry : entries)
        SendDlgItemMessageW(dialog_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(utf16_of(entry).c_str()));
}

int DialogSettingsControls::chosen(int id) const {
    const LRESULT index = SendDlgItemMessageW(dialog_, id, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void DialogSettingsControls::choose(int id, int index) {
    SendDlgItemMessageW(dialog_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

}  // namespace kurvane::win32
