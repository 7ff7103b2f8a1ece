// tablas: runs table expressions given on the command line, one after the other in one process,
// with the program started as the installer starts ("ADS" the default driver, the installer's
// settings), and writes each one's value on a line of its own.
#pragma once

#include "runtime/value.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// The line written for a value: CVALTOCHAR's text, except that a list shows its elements
// ("{2, 1}", nested lists alike) and no value shows as "NIL".
std::string tablasText(const rt::Value& v);

// The start-up: the time of start, the error handler, the table drivers; then "ADS" registered
// and made the default on the local server with compound indexes, epoch 1950, the date format
// "dd-mm-yy" (with the century off) and deleted records hidden; the routines known by name.
void startTablas();

// Compiles each expression as the code block "{ ||" + expression + "}" and evaluates it,
// handing the value's line (with its line end) to writeLine before the next one starts.
void runExpressions(const std::vector<std::string>& expressions,
                    const std::function<void(std::string_view)>& writeLine);

// The whole program: start-up, the expressions, the orderly end with the error level as exit
// code. Never returns.
[[noreturn]] void tablasMain(const std::vector<std::string>& expressions);

} // namespace app
