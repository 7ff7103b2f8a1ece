#include "app/sysrefresh.h"

#include "tables/shared_routines.h"

#include <windows.h>

namespace app {

namespace {

// Dispatches what waits in the thread's queue; a quit request is put back for the loop that
// owns it and ends the dispatching.
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

void installWindowRefresh() {
    tables::setRefreshFunction(refreshWindows);
}

} // namespace app
