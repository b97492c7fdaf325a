// Entry of the Windows program: the main dialog is the whole application.
#include <clocale>

#include "ui/resource.h"
#include "ui/win32/dialogs.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // std::filesystem turns narrow names into wide ones through the C
    // library's LC_CTYPE; under the default "C" locale code page 932 names
    // come out wrong and replacing an output file fails.
    std::setlocale(LC_CTYPE, "");
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr,
                    kurvane::win32::main_dialog_proc, 0);
    return 0;
}
