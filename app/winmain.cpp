// The Windows entry point of instayuda.exe.

#include "app/main_dialog_win32.h"
#include "app/startup.h"
#include "app/sysrefresh.h"

#include "dialogs/msgbox.h"
#include "runtime/error.h"

#include <string>

#include <windows.h>

namespace {

// Before any other static initialiser of the program (the lowest priority a program may use):
// an exception that leaves one of them ends the process with exit code 1 and its line in
// "Error.log", as any later one does.
__attribute__((constructor(101))) void lastResortFirst() {
    app::installLastResort();
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    app::installLastResort();
    try {
        app::setInstanceHandle(reinterpret_cast<std::uintptr_t>(instance));
        std::string path(MAX_PATH, '\0');
        for (;;) {
            const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
            if (n < path.size()) {
                path.resize(n);
                break;
            }
            path.resize(path.size() * 2);
        }
        const char* commandLine = GetCommandLineA();
        // The framework's message boxes and main dialog take the place of the portable defaults.
        dialogs::install();
        app::installWindowRefresh();
        static app::Win32MainDialogPort port;
        app::setMainDialogPort(&port);
        app::run(path, commandLine ? commandLine : "");
    } catch (...) {
        rt::exceptionLeft("the program");
    }
}
