// The error object, the error block and the error launch; BREAK and guarded sequences;
// quitting and the process's orderly shutdown.
//
// How runtime errors travel: a routine that fails builds an ERROR object and launches it.
// The launch evaluates the process-wide error block with it and interprets the answer:
// retry, take the default, or substitute a result. The block may also request a break
// (caught by the innermost guarded sequence) or a quit (the process shuts down where it
// stands: no C++ unwinding through platform code).
#pragma once

#include "value.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace rt {

// Generic error codes (the ones the runtime and its callers name).
enum GenCode : int {
    EG_UNKNOWN = 0,
    EG_ARG = 1,
    EG_BOUND = 2,
    EG_STROVERFLOW = 3,
    EG_NUMOVERFLOW = 4,
    EG_ZERODIV = 5,
    EG_NUMERR = 6,
    EG_SYNTAX = 7,
    EG_COMPLEXITY = 8,
    EG_MEM = 11,
    EG_NOFUNC = 12,
    EG_NOMETHOD = 13,
    EG_NOVAR = 14,
    EG_NOALIAS = 15,
    EG_NOVARMETHOD = 16,
    EG_BADALIAS = 17,
    EG_DUPALIAS = 18,
    EG_CREATE = 20,
    EG_OPEN = 21,
    EG_CLOSE = 22,
    EG_READ = 23,
    EG_WRITE = 24,
    EG_PRINT = 25,
    EG_UNSUPPORTED = 30,
    EG_LIMIT = 31,
    EG_CORRUPTION = 32,
    EG_DATATYPE = 33,
    EG_DATAWIDTH = 34,
    EG_NOTABLE = 35,
    EG_NOORDER = 36,
    EG_SHARED = 37,
    EG_UNLOCKED = 38,
    EG_READONLY = 39,
    EG_APPENDLOCK = 40,
    EG_LOCK = 41,
};

// The default description of a generic code ("" for codes without one).
const char* genCodeText(std::int64_t genCode);

// The error object (class ERROR). Fields in declaration order, with their initial values.
class ErrorObject : public Object {
public:
    static const ClassInfo kClass;
    ErrorObject() : Object(kClass) {}

    Value Args = 0;  // a list, or the number 0 when the raiser gives none
    bool CanDefault = false;
    bool CanRetry = false;
    bool CanSubstitute = false;
    Value Cargo;
    Value Description = "";
    Value FileName = "";
    Value GenCode = 0;
    Value Operation = "";
    Value OsCode = 0;
    Value Severity = 0;
    Value SubCode = 0;
    Value SubSystem = "";
    std::int64_t Tries = 0;
};
using ErrorPtr = std::shared_ptr<ErrorObject>;

// A new, blank error object.
ErrorPtr ERRORNEW();

// Builds a runtime-library ("BASE", severity 2) error. The description defaults to the
// generic code's text.
ErrorPtr makeError(int genCode, std::int64_t subCode, std::string_view operation, const Value& args = 0,
                   std::string_view subSystem = "BASE");

// ERRORBLOCK([block]): the current error block; installs the argument when it is a block.
Value ERRORBLOCK(const Value& newBlock = {});

// NETERR([flag]): the network-error flag; a logical argument sets it.
bool NETERR(const Value& flag = {});

// ERRORLEVEL([n]): the exit code the process will end with; returns the previous one.
std::int64_t ERRORLEVEL(const Value& n = {});

// What the raiser of an error is told to do. The launch never returns anything else: a quit,
// a break and the unrecoverable errors do not come back.
struct Recovery {
    enum Kind { Retry, Default, Substitute } kind;
    Value result;  // the substitute result (Substitute only)
};

// The error launch, rules 1 to 6: nesting limit, quit, break, substitute, retry, default.
Recovery launchError(const ErrorPtr& e);

// Launches a substitutable error and answers the substitute (the usual case for operators and
// library routines with a result).
Value raiseSubstitutable(const ErrorPtr& e);

// The number of error launches in progress.
int errorLaunchDepth();

// BREAK([value]): abandons the current operation; control passes to the recovery point of the
// innermost guarded sequence, which receives the value. With no guarded sequence between the
// break and the nearest window procedure (or none at all), the break cannot be carried and the
// process quits instead.
[[noreturn]] void BREAK(const Value& value = {});

// A guarded sequence: runs body; a BREAK inside it runs recover with the break value.
// Answers true when the body finished without a break.
bool guarded(const std::function<void()>& body, const std::function<void(const Value&)>& recover = {});

// Window procedures and other platform callbacks put a barrier between themselves and any
// guarded sequence outside them: a break never unwinds through platform frames.
class BreakBarrier {
public:
    BreakBarrier();
    ~BreakBarrier();
    BreakBarrier(const BreakBarrier&) = delete;
    BreakBarrier& operator=(const BreakBarrier&) = delete;

private:
    int saved_;
};

// Shutdown: hooks run in reverse order of registration when the process ends (work areas
// closed, table drivers' exit steps). Answers a handle for removeShutdownHook.
int addShutdownHook(std::function<void()> hook);
void removeShutdownHook(int handle);

// Runs the shutdown hooks (once) and ends the process with the error level as exit code.
[[noreturn]] void __QUIT();
// The orderly end used by __QUIT and by the start-up after MAIN returns.
[[noreturn]] void shutdownAndExit(int exitCode);

// An unrecoverable error: writes "Unrecoverable error <n>: <text>" and the call stack to the
// error output and ends the process with exit code 1 without running the error handler. The
// text is put together and written without allocating (memory may be what ran out); then the
// shutdown hooks run, and whatever they throw or lack, the process ends with exit code 1. An
// unrecoverable error inside one (a second exception while the first ends the process) writes
// its own line and ends the process at once.
[[noreturn]] void unrecoverable(unsigned long code, std::string_view text);

// A C++ exception that nothing else caught, about to leave `where` ("the program", "a window
// procedure"): unrecoverable error 9010 "Exception left <where>", with ": " and the exception's
// what() when it has one. Without allocating; call it from a catch block or a terminate handler.
[[noreturn]] void exceptionLeft(std::string_view where);

// The last resort for any exception no catch block takes, from the process's first static
// initialiser to its exit: std::terminate ends the process as exceptionLeft("the program") does.
void installTerminateHandler();

// Memory exhausted (a std::bad_alloc caught where it would otherwise leave the program): the
// error "Memory low" (generic code 11) goes to the error handler; when the handler gives it back
// or a second one comes while it runs, the process ends as unrecoverable error 9010.
[[noreturn]] void memoryLow();

// Sets aside a reserve of memory and installs a new-handler: when an allocation fails, the
// reserve is released and the error "Memory low" is raised right there, inside the allocation,
// so that the error report lists the call frames as they stood when memory ran out. Should the
// handler run out as well, the allocation fails with std::bad_alloc as it would have (and
// memoryLow takes it where it is caught).
inline constexpr std::size_t kMemoryReserve = 1 << 20;
void reserveMemory(std::size_t bytes = kMemoryReserve);

// Where the process's error output goes (standard error by default; a windowed program may
// redirect it). Tests replace it.
void setErrorOutput(std::function<void(std::string_view)> writer);
void writeErrorOutput(std::string_view text);

// How the process finally ends (std::_Exit by default). Tests that check quits replace it
// with a function that throws; production code never returns from it.
using ExitFunction = void (*)(int);
void setExitFunction(ExitFunction fn);

}  // namespace rt
