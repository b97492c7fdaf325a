// Entry of the Windows program: the main dialog is the whole application.
#include "ui/resource.h"
#include "ui/win32/dialogs.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr,
                    kurvane::win32::main_dialog_proc, 0);
    return 0;
}
