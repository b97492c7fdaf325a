// Entry of the Windows program: the main dialog is the whole application.
#include <clocale>

#include "ui/win32/dialogs.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // std::filesystem turns narrow names into wide ones through the C
    // library's LC_CTYPE; under the default "C" locale code page 932 names
    // come out wrong and replacing an output file fails.
    std::setlocale(LC_CTYPE, "");
    kurvane::win32::run_main_dialog(instance);
    return 0;
}
