// Entry of the Windows program: the main dialog is the whole application.
#include <clocale>

#include "ui/win32/dialogs.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The program's own paths reach Windows as UTF-16, converted by the
    // engine; the C library's narrow texts (its error messages) follow
    // LC_CTYPE, which is the system's code page rather than plain ASCII.
    std::setlocale(LC_CTYPE, "");
    kurvane::win32::run_main_dialog(instance);
    return 0;
}
