// The entry point of tablas.exe, a console program: the arguments come parsed by the C
// runtime (quotes group blanks), and the framework's message boxes and error dialog are real
// windows.
#include "app/startup.h"
#include "app/sysrefresh.h"
#include "app/tablas.h"

#include "dialogs/msgbox.h"

#include <windows.h>

int main(int argc, char** argv) {
    app::setInstanceHandle(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)));
    dialogs::install();
    app::installWindowRefresh();
    app::tablasMain(std::vector<std::string>(argv + 1, argv + argc));
}
