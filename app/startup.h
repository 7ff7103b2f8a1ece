// The process from its entry point to its exit: the argument table, the start-up procedures,
// MAIN, and the shutdown with the error level as exit code.
#pragma once

#include "cmdline.h"

#include "runtime/error.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace app {

// Runs the program: fills the argument table from the program path and the raw command line,
// runs the static initialisers and the start-up procedures, calls MAIN with the tokens that do
// not begin with "//", and ends the process with exit code = ERRORLEVEL(). Never returns.
[[noreturn]] void run(std::string_view programPath, std::string_view commandLine);

// The error output of the windowed program (a GUI process on Windows has no standard error a
// person sees): the unrecoverable errors' text goes to standard error and to the end of
// "Error.log" in the current folder (the folder of the last error report), or of the temp
// folder's "Error.log" when the current folder cannot be written; line ends become CR LF.
// Nothing is allocated on the way (the text may be the last words of a process that ran out of
// memory).
inline constexpr const char* kFatalLogName = "Error.log";
void writeFatalText(std::string_view text);

// The process's last resort, set up before anything else can throw (the Windows program calls
// it from its earliest static initialiser and again in WinMain): the terminate handler, and
// writeFatalText as the error output.
void installLastResort();

// The argument table run() filled.
const ArgumentTable& argumentTable();

// The module instance handle the entry routine records.
void setInstanceHandle(std::uintptr_t handle);
std::uintptr_t instanceHandle();

// The start-up procedures, in order: the time of start, the public variable GETLIST (an empty
// list), the error handler, the help key, the table layer's default driver and local drivers.
void startupProcedures();

// The start-up's error handler: ERRORSYS makes ERRORDIALOG the error block (errors/), and the
// report learns the table drivers from the registry.
void installErrorHandler();

} // namespace app
