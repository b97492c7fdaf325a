#include "ui/win32/views.h"

#include <memory>
#include <type_traits>

namespace kurvane::win32 {

namespace {

// The A functions want zero-terminated text; views hand over string_views.
std::string terminated(std::string_view text) { return std::string(text); }

struct FindCloser {
    void operator()(HANDLE handle) const { FindClose(handle); }
};
using FindHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

}  // namespace

std::string dialog_item_text(HWND dialog, int id) {
    // The length may overestimate for double-byte text; the copy's count is exact.
    const int length = GetWindowTextLengthA(GetDlgItem(dialog, id));
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const UINT copied = GetDlgItemTextA(dialog, id, text.data(), length + 1);
    text.resize(copied);
    return text;
}

int ListBoxView::count() const {
    return static_cast<int>(SendMessageA(list_, LB_GETCOUNT, 0, 0));
}

void ListBoxView::insert_at(int index, std::string_view name) {
    const std::string text = terminated(name);
    SendMessageA(list_, LB_INSERTSTRING, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text.c_str()));
}

void ListBoxView::delete_at(int index) {
    SendMessageA(list_, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

std::string ListBoxView::text_at(int index) const {
    const LRESULT length = SendMessageA(list_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT copied = SendMessageA(list_, LB_GETTEXT, static_cast<WPARAM>(index),
                                        reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == LB_ERR ? 0 : static_cast<std::size_t>(copied));
    return text;
}

int ListBoxView::selection() const {
    return static_cast<int>(SendMessageA(list_, LB_GETCURSEL, 0, 0));
}

void EditExtensionField::set_text(std::string_view text) {
    SetDlgItemTextA(dialog_, id_, terminated(text).c_str());
}

void MessageBoxView::show(std::string_view text, std::string_view caption) {
    MessageBoxA(owner_, terminated(text).c_str(), terminated(caption).c_str(), MB_OK);
}

bool FindFileSearch::search(std::string_view pattern,
                            const std::function<void(std::string_view name)>& found) {
    WIN32_FIND_DATAA entry{};
    HANDLE first = FindFirstFileA(terminated(pattern).c_str(), &entry);
    if (first == INVALID_HANDLE_VALUE) return false;
    const FindHandle handle(first);
    do {
        found(entry.cFileName);
    } while (FindNextFileA(handle.get(), &entry));
    return true;
}

bool DialogSettingsControls::checked(int id) const {
    return IsDlgButtonChecked(dialog_, id) == BST_CHECKED;
}

void DialogSettingsControls::set_checked(int id, bool on) {
    CheckDlgButton(dialog_, id, on ? BST_CHECKED : BST_UNCHECKED);
}

void DialogSettingsControls::set_text(int id, std::string_view text) {
    SetDlgItemTextA(dialog_, id, terminated(text).c_str());
}

}  // namespace kurvane::win32
