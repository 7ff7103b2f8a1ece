// The start of a run with switches (options.h): the run's record, the silent mode's quiet
// replacements for every window, and the end of a run whose command line is wrong.
#pragma once

#include <string_view>

namespace app {

// Called by the start-up once the options are read, before MAIN, when the command line has a
// switch. Opens the run's record (the /REGISTRO file, or "instayuda.log" in the temp folder in
// the silent mode), which is written when the process ends, whatever ends it. In the silent
// mode, message boxes become lines of the record, the error handler writes its report and ends
// the process with exit code 1 without a dialog, and the platform shows no notices of its own.
// A wrong command line ends the process here with exit code 2 after a line in the record and,
// in the dialog mode, a stop box; nothing is installed.
void beginUnattended(std::string_view commandTail);

// Puts back what beginUnattended replaced (the tests run the program several times).
void endUnattended();

} // namespace app
