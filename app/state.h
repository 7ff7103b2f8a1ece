// The application's state: one instance for the whole process, shared by MAIN, the main
// dialog's code blocks and REVAYUDA.
#pragma once

#include "runtime/value.h"

namespace app {

struct AppState {
    rt::Value lExit;       // the main dialog may close only while this is true
    rt::Value aTextHolder; // one-element list receiving the text control
    rt::Value aDrives;     // the drive letters the combo box offers
    rt::Value cDrive;      // the drive the combo box shows and edits
};

AppState& state();

// The module's static initialiser: no exit flag or holder yet, an empty drive list, no drive.
void initStatics();

} // namespace app
