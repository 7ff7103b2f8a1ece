#include "error.h"

#include "frames.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

namespace rt {

const ClassInfo ErrorObject::kClass{"ERROR", nullptr};

namespace {

struct BreakSignal {
    Value value;
};

Value g_errorBlock;
bool g_netErr = false;
std::int64_t g_errorLevel = 0;
int g_launchDepth = 0;
int g_guardDepth = 0;    // guarded sequences in progress
int g_barrierLevel = 0;  // guard depth at the innermost platform callback

struct Hook {
    int id;
    std::function<void()> fn;
};
std::vector<Hook>& hooks() {
    static std::vector<Hook> h;
    return h;
}
int g_nextHook = 1;
bool g_shuttingDown = false;

std::function<void(std::string_view)>& errorWriter() {
    static std::function<void(std::string_view)> w = [](std::string_view text) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    };
    return w;
}

void defaultExit(int code) { std::_Exit(code); }
ExitFunction g_exit = defaultExit;

constexpr int kMaxLaunches = 8;

}  // namespace

const char* genCodeText(std::int64_t genCode) {
    switch (genCode) {
    case 0: return "Unknown error";
    case 1: return "Argument error";
    case 2: return "Bound error";
    case 3: return "String overflow";
    case 4: return "Numeric overflow";
    case 5: return "Zero divisor";
    case 6: return "Numeric error";
    case 7: return "Syntax error";
    case 8: return "Operation too complex";
    case 11: return "Memory low";
    case 12: return "Undefined function";
    case 13: return "No exported method";
    case 14: return "Variable does not exist";
    case 15: return "Alias does not exist";
    case 16: return "No exported variable";
    case 17: return "Illegal characters in alias";
    case 18: return "Alias already in use";
    case 20: return "Create error";
    case 21: return "Open error";
    case 22: return "Close error";
    case 23: return "Read error";
    case 24: return "Write error";
    case 25: return "Print error";
    case 30: return "Operation not supported";
    case 31: return "Limit exceeded";
    case 32: return "Corruption detected";
    case 33: return "Data type error";
    case 34: return "Data width error";
    case 35: return "Workarea not in use";
    case 36: return "Workarea not indexed";
    case 37: return "Exclusive required";
    case 38: return "Lock required";
    case 39: return "Write not allowed";
    case 40: return "Append lock failed";
    case 41: return "Lock Failure";
    default: return "";
    }
}

ErrorPtr ERRORNEW() { return std::make_shared<ErrorObject>(); }

ErrorPtr makeError(int genCode, std::int64_t subCode, std::string_view operation, const Value& args,
                   std::string_view subSystem) {
    auto e = ERRORNEW();
    e->GenCode = genCode;
    e->SubCode = subCode;
    e->Severity = 2;
    e->SubSystem = subSystem.empty() ? std::string_view("BASE") : subSystem;
    e->Description = genCodeText(genCode);
    e->Operation = operation;
    e->Args = args;
    return e;
}

Value ERRORBLOCK(const Value& newBlock) {
    Value old = g_errorBlock;
    if (newBlock.isBlock()) g_errorBlock = newBlock;
    return old;
}

bool NETERR(const Value& flag) {
    if (flag.isLogical()) g_netErr = flag.asLogical();
    return g_netErr;
}

std::int64_t ERRORLEVEL(const Value& n) {
    const std::int64_t old = g_errorLevel;
    if (n.isNumber()) g_errorLevel = n.asInteger();
    return old;
}

int errorLaunchDepth() { return g_launchDepth; }

Recovery launchError(const ErrorPtr& e) {
    const Value block = g_errorBlock;
    if (!block.isBlock()) unrecoverable(9002, "No ERRORBLOCK() for error");
    if (g_launchDepth >= kMaxLaunches) unrecoverable(9003, "Too many recursive error handler calls");

    struct Depth {
        Depth() { ++g_launchDepth; }
        ~Depth() { --g_launchDepth; }
    } depth;
    const Value errorValue(e);
    // A quit inside the block ends the process where it stands; a break leaves through here
    // to the innermost guarded sequence.
    const Value answer = eval(block, Args(&errorValue, 1));

    if (e->CanSubstitute) return {Recovery::Substitute, answer};
    if (answer.isLogical()) {
        if (answer.asLogical() && e->CanRetry) {
            ++e->Tries;
            return {Recovery::Retry, {}};
        }
        if (!answer.asLogical() && e->CanDefault) return {Recovery::Default, {}};
    }
    unrecoverable(9001, "Error recovery failure");
}

Value raiseSubstitutable(const ErrorPtr& e) {
    e->CanSubstitute = true;
    return launchError(e).result;
}

void BREAK(const Value& value) {
    if (g_guardDepth > g_barrierLevel) throw BreakSignal{value};
    // No guarded sequence can be reached without crossing platform frames: end the process
    // in order instead.
    __QUIT();
}

bool guarded(const std::function<void()>& body, const std::function<void(const Value&)>& recover) {
    struct Guard {
        Guard() { ++g_guardDepth; }
        ~Guard() { --g_guardDepth; }
    };
    Value breakValue;
    {
        Guard guard;
        try {
            body();
            return true;
        } catch (BreakSignal& signal) {
            breakValue = std::move(signal.value);
        }
    }
    if (recover) recover(breakValue);
    return false;
}

BreakBarrier::BreakBarrier() : saved_(g_barrierLevel) { g_barrierLevel = g_guardDepth; }
BreakBarrier::~BreakBarrier() { g_barrierLevel = saved_; }

int addShutdownHook(std::function<void()> hook) {
    const int id = g_nextHook++;
    hooks().push_back({id, std::move(hook)});
    return id;
}

void removeShutdownHook(int handle) {
    auto& h = hooks();
    for (auto it = h.begin(); it != h.end(); ++it) {
        if (it->id == handle) {
            h.erase(it);
            return;
        }
    }
}

namespace {

// Runs the shutdown hooks once, newest first; answers false when one threw (the others still
// run).
bool runShutdownHooks() {
    if (g_shuttingDown) return true;
    g_shuttingDown = true;
    bool clean = true;
    try {
        // Hooks may remove themselves while they run; work on a copy.
        const std::vector<Hook> toRun = hooks();
        for (auto it = toRun.rbegin(); it != toRun.rend(); ++it) {
            try {
                if (it->fn) it->fn();
            } catch (...) {
                clean = false;
            }
        }
    } catch (...) {
        clean = false;
    }
    g_shuttingDown = false;
    return clean;
}

[[noreturn]] void endProcess(int exitCode) {
    std::fflush(nullptr);
    g_exit(exitCode);
    std::_Exit(exitCode); // an exit function that returns is not allowed
}

// The unrecoverable error's text, put together in a buffer of its own: no allocation.
class FixedText {
  public:
    void add(std::string_view s) {
        const std::size_t n = s.size() < sizeof buffer_ - used_ ? s.size() : sizeof buffer_ - used_;
        std::memcpy(buffer_ + used_, s.data(), n);
        used_ += n;
    }
    void add(unsigned long long n) {
        char digits[24];
        std::size_t i = sizeof digits;
        do {
            digits[--i] = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n != 0);
        add(std::string_view(digits + i, sizeof digits - i));
    }
    void add(long long n) {
        if (n < 0) add(std::string_view("-"));
        add(static_cast<unsigned long long>(n < 0 ? -(n + 1) + 1ULL : n));
    }
    void clear() { used_ = 0; }
    std::string_view view() const { return {buffer_, used_}; }

  private:
    char buffer_[8192];
    std::size_t used_ = 0;
};

FixedText g_fatalText;
int g_fatalDepth = 0;

// The new-handler's reserve.
void* g_reserve = nullptr;
bool g_inMemoryHandler = false;

void outOfMemory() {
    if (!g_reserve || g_inMemoryHandler) {
        // The error handler itself ran out: the allocation fails as it would have.
        std::set_new_handler(nullptr);
        throw std::bad_alloc();
    }
    g_inMemoryHandler = true;
    std::free(g_reserve);
    g_reserve = nullptr;
    // Raised here, inside the failed allocation, the error finds every call frame in place. No
    // retry and no default: the handler reports it and ends the process.
    launchError(makeError(EG_MEM, 0, ""));
    unrecoverable(9010, "Memory low");
}

} // namespace

void shutdownAndExit(int exitCode) {
    // The hooks see the exit code the process ends with (ERRORLEVEL()).
    g_errorLevel = exitCode;
    if (!runShutdownHooks()) unrecoverable(9010, "Exception left the shutdown");
    endProcess(exitCode);
}

void __QUIT() {
    shutdownAndExit(static_cast<int>(g_errorLevel));
}

void unrecoverable(unsigned long code, std::string_view text) {
    // From here on an allocation that fails simply fails.
    std::set_new_handler(nullptr);
    struct Depth {
        Depth() { ++g_fatalDepth; }
        ~Depth() { --g_fatalDepth; } // only when a test's exit function unwinds
    } depth;
    const bool first = g_fatalDepth == 1;
    g_fatalText.clear();
    g_fatalText.add(std::string_view("\nUnrecoverable error "));
    g_fatalText.add(static_cast<unsigned long long>(code));
    g_fatalText.add(std::string_view(": "));
    g_fatalText.add(text);
    g_fatalText.add(std::string_view("\n"));
    for (std::int64_t level = 0; Frame* f = Frame::at(level); ++level) {
        g_fatalText.add(std::string_view("Called from "));
        g_fatalText.add(f->name());
        g_fatalText.add(std::string_view("("));
        g_fatalText.add(static_cast<long long>(f->line()));
        g_fatalText.add(std::string_view(")\n"));
    }
    try {
        writeErrorOutput(g_fatalText.view());
    } catch (...) {
    }
    g_errorLevel = 1;
    // The orderly part (work areas closed, drivers told) only the first time, and guarded.
    if (first) runShutdownHooks();
    endProcess(1);
}

void exceptionLeft(std::string_view where) {
    char text[512];
    std::size_t n = 0;
    const auto add = [&](std::string_view s) {
        const std::size_t k = s.size() < sizeof text - n ? s.size() : sizeof text - n;
        std::memcpy(text + n, s.data(), k);
        n += k;
    };
    add("Exception left ");
    add(where);
    // The exception in flight, when there is one: rethrown as it is (no copy is made).
    if (std::current_exception()) {
        try {
            throw;
        } catch (const std::exception& e) {
            add(": ");
            add(e.what());
        } catch (...) {
        }
    }
    unrecoverable(9010, std::string_view(text, n));
}

void installTerminateHandler() {
    std::set_terminate([] { exceptionLeft("the program"); });
}

void memoryLow() {
    static bool inside = false;
    if (!inside) {
        inside = true;
        try {
            launchError(makeError(EG_MEM, 0, "")); // no retry and no default: the handler ends it
        } catch (const std::bad_alloc&) {
            // the handler itself ran out of memory
        }
    }
    unrecoverable(9010, "Memory low");
}

void reserveMemory(std::size_t bytes) {
    std::free(g_reserve);
    g_reserve = std::malloc(bytes);
    g_inMemoryHandler = false;
    std::set_new_handler(outOfMemory);
}

void setErrorOutput(std::function<void(std::string_view)> writer) { errorWriter() = std::move(writer); }

void writeErrorOutput(std::string_view text) {
    if (errorWriter()) errorWriter()(text);
}

void setExitFunction(ExitFunction fn) { g_exit = fn ? fn : defaultExit; }

}  // namespace rt
