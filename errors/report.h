// The error report "Error.log": a snapshot of the program, its call stack, the machine, the
// variables of every active routine, the open work areas, the known classes and the memory
// counters, built in memory as one string.
#pragma once

#include "errors/system_facts.h"
#include "errors/table_facts.h"
#include "runtime/error.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace errors {

struct Report {
    std::string text;                    // the report, CR LF line ends, without the final byte 26
    std::vector<std::string> stackLines; // "   Called from NAME(line)", as in the report
};

// Builds the report of error e.
//
// The call stack is read from the runtime's frames: handlerLevel is the level of the handler's
// own frame counted from the innermost one (0 when the handler itself builds the report); the
// handler's caller (the error block) is one level above it, and the routines shown are the 72
// levels above that. os is the version record read when the handler started. afterSystem runs
// between the System and Variables sections (the error dialog prepares its logo there).
Report buildReport(const rt::ErrorObject& e, const OsVersion& os, SystemFacts& facts, TableFacts& tables,
                   const std::function<void()>& afterSystem = {}, std::int64_t handlerLevel = 0);

// Row 1.7 of the report: "   Error description: " + ERRORMESSAGE(e) + CR LF. The error
// dialog shows it too.
std::string errorDescriptionRow(const rt::ErrorObject& e);

// CGETINFO: a value as the Variables section shows it (strings quoted, objects by class, lists
// by length).
std::string CGETINFO(const rt::Value& v);

} // namespace errors
