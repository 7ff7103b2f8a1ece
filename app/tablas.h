// tablas: runs table expressions given on the command line or in a script, one after the other
// in one process, with the program started as the installer starts ("ADS" the default driver,
// the installer's settings), and writes each one's value on a line of its own.
#pragma once

#include "runtime/value.h"

#include <cstdio>
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

// Whether a line of a script holds an expression: it is not blank, and its first character
// that is not a blank is not "#" (a comment). "#" is the not-equal operator, which needs an
// operand on each side, so no expression begins with it.
bool scriptExpression(std::string_view line);

// Reads one line of a script, without its line end (LF or CR LF); false at the end of the
// file. The bytes are taken as they are (Windows-1252 texts).
bool readScriptLine(std::FILE* file, std::string& line);

// Runs the arguments in order. Each one is an expression, except "-f" and the argument after
// it: the name of a script, whose lines are run in turn as they are read ("-" reads standard
// input). Each expression is compiled as the code block "{ ||" + expression + "}" and
// evaluated, and the value's line (with its line end) goes to writeLine before the next one
// starts. While an expression runs, the MAIN frame's line is the script's line number (or the
// argument's position), which is what the error report's stack shows. A script that cannot be
// opened is an "Open error" (BASE 21/1001, the file name; retry and default allowed); the
// default goes on with the next argument.
void runExpressions(const std::vector<std::string>& arguments,
                    const std::function<void(std::string_view)>& writeLine);

// The whole program: start-up, the expressions, the orderly end with the error level as exit
// code. Never returns.
[[noreturn]] void tablasMain(const std::vector<std::string>& arguments);

} // namespace app
