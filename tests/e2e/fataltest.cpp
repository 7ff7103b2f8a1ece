// fataltest: the installer's own entry point (app/winmain.cpp) with one start-up step replaced
// by one that can throw, so that the end-to-end suite can watch the process's last resort from
// outside. The environment variable FATALTEST names the fault:
//   static   a static initialiser throws
//   winmain  the start-up step in WinMain, before the program runs, throws
//   second   that step throws (no std::exception), and while the process ends on it a
//            shutdown step throws too
// Anything else: no fault (the program then ends at once, as without a help file).
#include "app/sysrefresh.h"
#include "runtime/error.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

std::string fault() {
    const char* f = std::getenv("FATALTEST");
    return f ? f : "";
}

[[maybe_unused]] const bool g_started = [] {
    if (fault() == "static") throw std::runtime_error("static initialiser");
    return true;
}();

} // namespace

namespace app {

// In the place of the window refresh's installation (sysrefresh_win32.cpp).
void installWindowRefresh() {
    if (fault() == "winmain") throw std::runtime_error("start-up step");
    if (fault() == "second") {
        rt::addShutdownHook([] { throw std::runtime_error("shutdown step"); });
        throw 42;
    }
}

} // namespace app
