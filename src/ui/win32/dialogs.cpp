#include "ui/win32/dialogs.h"

#include "engine/extract.h"
#include "engine/extraction_settings.h"
#include "settings/settings_file.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/settings_dialog.h"

namespace kurvane::win32 {

namespace {

// The main dialog's four views over its controls, for one command.
struct MainDialogControls {
    explicit MainDialogControls(HWND dialog)
        : list(GetDlgItem(dialog, IDC_FILE_LIST)), extension(dialog, IDC_EXTENSION),
          messages(dialog) {}

    MainDialogViews views() { return {list, extension, messages, files, extract_file}; }

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
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE));
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETTINGS_DIALOG), owner, settings_dialog_proc,
                    0);
}

// Runs one of the main dialog's commands; false for IDs it does not handle
// (Enter's IDOK, the list's notifications).
bool main_dialog_command(HWND dialog, int id) {
    MainDialogControls controls(dialog);
    MainDialogViews views = controls.views();
    switch (id) {
    case IDCANCEL:
    case IDC_EXIT: exit_main_dialog(dialog); return true;
    case IDC_DELETE: delete_selected_file(views); return true;
    case IDC_EXTRACT: extract_all_files(views); return true;
    case IDC_SETTINGS: open_settings_dialog(dialog); return true;
    case IDC_SEARCH: search_files(views); return true;
    default: return false;
    }
}

}  // namespace

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        // A missing or unreadable file leaves the defaults; nothing is shown.
        EditExtensionField extension(dialog, IDC_EXTENSION);
        load_settings(extension, g_settings);
        return TRUE;  // focus goes to the first tab stop, the file list
    }
    case WM_COMMAND: return main_dialog_command(dialog, LOWORD(wparam)) ? TRUE : FALSE;
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
