// Win32 controls behind the dialog logic's views. Each adapter is built on the
// stack from the dialog's window for the message being handled, and holds no
// state of its own besides that window.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "settings/settings_file.h"
#include "ui/main_dialog.h"
#include "ui/settings_dialog.h"

namespace kurvane::win32 {

// The views' texts are UTF-8; the controls are spoken to with the wide (W)
// functions only, so that no text goes through the ANSI code page. These two
// convert at that edge.
std::wstring utf16_of(std::string_view utf8);
std::string utf8_of(std::wstring_view utf16);

// The whole text of a dialog item, as UTF-8.
std::string dialog_item_text(HWND dialog, int id);

class ListBoxView final : public FileListView {
public:
    explicit ListBoxView(HWND list) : list_(list) {}
    int count() const override;
    void insert_at(int index, std::string_view name) override;
    void delete_at(int index) override;
    std::string text_at(int index) const override;
    int selection() const override;

private:
    HWND list_;
};

class EditExtensionField final : public ExtensionField {
public:
    EditExtensionField(HWND dialog, int id) : dialog_(dialog), id_(id) {}
    std::string text() const override { return dialog_item_text(dialog_, id_); }
    void set_text(std::string_view text) override;

private:
    HWND dialog_;
    int id_;
};

class MessageBoxView final : public MessageView {
public:
    explicit MessageBoxView(HWND owner) : owner_(owner) {}
    void show(std::string_view text, std::string_view caption) override;
    void show_kind(std::string_view text, std::string_view caption, MessageKind kind) override;

private:
    HWND owner_;
};

class FindFileSearch final : public files::FileSearch {
public:
    bool search(std::string_view pattern,
                const std::function<void(std::string_view name)>& found) override;
};

class DialogSettingsControls final : public SettingsControls {
public:
    explicit DialogSettingsControls(HWND dialog) : dialog_(dialog) {}
    bool checked(int id) const override;
    void set_checked(int id, bool on) override;
    std::string text(int id) const override { return dialog_item_text(dialog_, id); }
    void set_text(int id, std::string_view text) override;
    void set_choices(int id, std::span<const std::string> entries) override;
    int chosen(int id) const override;
    void choose(int id, int index) override;

private:
    HWND dialog_;
};

}  // namespace kurvane::win32
