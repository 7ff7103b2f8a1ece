#include "state.h"

#include "runtime/frames.h"

namespace app {

namespace {
// The four module-level variables above.
const rt::StaticsDeclaration g_statics(4);
} // namespace

AppState& state() {
    static AppState s;
    return s;
}

void initStatics() {
    AppState& s = state();
    s.lExit = rt::Value();
    s.aTextHolder = rt::Value();
    s.aDrives = rt::Value(rt::makeArray());
    s.cDrive = "";
}

} // namespace app
