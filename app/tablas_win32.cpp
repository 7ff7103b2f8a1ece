// The entry point of tablas.exe, a console program: the arguments come parsed by the C
// runtime (quotes group blanks), and the framework's message boxes and error dialog are real
// windows.
#include "app/startup.h"
#include "app/tablas.h"

#include "dialogs/msgbox.h"
#include "tables/shared_routines.h"

#include <windows.h>

namespace {

// SYSREFRESH: dispatches what waits in the thread's queue, dialog keys included; a quit
// request is put back for the loop that owns it.
bool refreshWindows() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        HWND active = GetActiveWindow();
        if (active && IsDialogMessageA(active, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    app::setInstanceHandle(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)));
    dialogs::install();
    tables::setRefreshFunction(refreshWindows);
    app::tablasMain(std::vector<std::string>(argv + 1, argv + argc));
}
