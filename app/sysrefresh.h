// SYSREFRESH for the Windows programs: the thread's waiting window messages dispatched, dialog
// keys included, so that windows keep repainting while a routine waits.
#pragma once

namespace app {

// Makes the dispatch below the table layer's SYSREFRESH.
void installWindowRefresh();

} // namespace app
