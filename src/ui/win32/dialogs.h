// The dialog procedures of MainDialog and SettingsDialog.
#pragma once

#include "ui/win32/views.h"

namespace kurvane::win32 {

// Opens MainDialog from `instance` with no owner and returns when it has
// ended; the whole application runs inside.
void run_main_dialog(HINSTANCE instance);

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK settings_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace kurvane::win32
