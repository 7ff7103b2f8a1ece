// The worker of the multi-process tests. Several copies run at once on one table:
//
//   engine_stress work <table> <worker> <appends> <touches>
//       appends records (WORKER, SEQ, NAME "W<worker>-<seq>"), now and then a few of them
//       under a table lock, and "touches" random records: lock, add 1 to TOUCH, unlock.
//   engine_stress hold <table> exclusive|shared|tablelock <milliseconds> <ready file>
//       opens the table (and locks it), writes the ready file, waits, and ends without
//       closing anything.
//   engine_stress leave <table> <appends>
//       appends records (SEQ 1, 2, ...) to the table opened exclusively and ends normally
//       without closing it.
//   engine_stress try <table> exclusive|shared
//       tries one open: exit code 0 when it succeeds, 10 when it is refused with 1001.
//
// Exit code 0 means success; anything unexpected is reported on the standard error output.
#include "engine/engine.h"
#include "engine/os.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

using namespace engine;

namespace {

int fail(const char* what, Result r) {
    Result code = 0;
    std::string text;
    getLastError(code, text);
    std::fprintf(stderr, "engine_stress: %s: %u (%s)\n", what, static_cast<unsigned>(r), text.c_str());
    return 2;
}

// Repeats a call while another process holds what it needs, for at most 30 seconds.
template <typename Fn> Result retry(Fn fn) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        Result r = fn();
        if (r != kLockRefused || std::chrono::steady_clock::now() > until) return r;
        os::sleepMs(1);
    }
}

int work(const std::string& path, int worker, int appends, int touches) {
    Handle t = 0;
    Result r = openTable(0, path, "", kTypeCdx, kAnsi, 1, 1, kOpenShared, t);
    if (r != kOk) return fail("open", r);
    std::mt19937 rng(static_cast<unsigned>(worker) * 7919u + 1u);
    int touched = 0;
    int lockedRun = 0; // appends still to make under the current table lock
    for (int seq = 1; seq <= appends; ++seq) {
        if (lockedRun == 0 && seq % 25 == 0) {
            if ((r = retry([&] { return lockTable(t); })) != kOk) return fail("lock table", r);
            lockedRun = 3;
        }
        if ((r = retry([&] { return appendRecord(t); })) != kOk) return fail("append", r);
        char name[32];
        std::snprintf(name, sizeof name, "W%02d-%06d", worker, seq);
        if ((r = setDouble(t, "WORKER", worker)) != kOk) return fail("set WORKER", r);
        if ((r = setDouble(t, "SEQ", seq)) != kOk) return fail("set SEQ", r);
        if ((r = setString(t, "NAME", name)) != kOk) return fail("set NAME", r);
        if ((r = setDouble(t, "TOUCH", 0)) != kOk) return fail("set TOUCH", r);
        if (lockedRun > 0) {
            if (--lockedRun == 0 || seq == appends) {
                lockedRun = 0;
                if ((r = unlockTable(t)) != kOk) return fail("unlock table", r);
            }
        } else {
            std::uint32_t recno = 0;
            getRecordNum(t, recno);
            if ((r = unlockRecord(t, recno)) != kOk) return fail("unlock appended", r);
        }
        // Touches spread over the run.
        while (touched < touches && static_cast<long>(touched) * appends < static_cast<long>(seq) * touches) {
            std::uint32_t count = 0;
            if ((r = getRecordCount(t, count)) != kOk) return fail("count", r);
            std::uint32_t target = std::uniform_int_distribution<std::uint32_t>(1, count)(rng);
            if ((r = retry([&] { return lockRecord(t, target); })) != kOk) return fail("lock record", r);
            if ((r = gotoRecord(t, target)) != kOk) return fail("goto", r);
            double v = 0;
            if ((r = getDouble(t, "TOUCH", v)) != kOk) return fail("get TOUCH", r);
            if ((r = setDouble(t, "TOUCH", v + 1)) != kOk) return fail("touch", r);
            if ((r = unlockRecord(t, target)) != kOk) return fail("unlock touched", r);
            ++touched;
        }
    }
    if ((r = closeTable(t)) != kOk) return fail("close", r);
    return 0;
}

int hold(const std::string& path, const std::string& how, int ms, const std::string& ready) {
    Handle t = 0;
    Result r =
        openTable(0, path, "", kTypeCdx, kAnsi, 1, 1, how == "exclusive" ? kOpenExclusive : kOpenShared, t);
    if (r != kOk) return fail("open", r);
    if (how == "tablelock" && (r = lockTable(t)) != kOk) return fail("lock table", r);
    std::ofstream(ready) << "ready\n";
    os::sleepMs(static_cast<unsigned>(ms));
    // Ends without closing: the operating system must release the locks with the process.
    std::fflush(stderr);
    std::_Exit(0);
}

int leaveOpen(const std::string& path, int appends) {
    Handle t = 0;
    Result r = openTable(0, path, "", kTypeCdx, kAnsi, 1, 1, kOpenExclusive, t);
    if (r != kOk) return fail("open", r);
    for (int seq = 1; seq <= appends; ++seq) {
        if ((r = appendRecord(t)) != kOk) return fail("append", r);
        if ((r = setDouble(t, "SEQ", seq)) != kOk) return fail("set SEQ", r);
    }
    return 0; // without closing: what the engine still holds is written at exit
}

int tryOpen(const std::string& path, const std::string& how) {
    Handle t = 0;
    Result r =
        openTable(0, path, "", kTypeCdx, kAnsi, 1, 1, how == "exclusive" ? kOpenExclusive : kOpenShared, t);
    if (r == kOpenConflict) return 10;
    if (r != kOk) return fail("open", r);
    closeTable(t);
    return 0;
}

} // namespace

// The workers test sharing, not what lasts through a power cut: their flushes do not wait for
// the disk (the engine flushes around every change of a shared indexed table).
class NoFlush final : public os::Backend {
  public:
    os::Status flush(os::File&) override { return os::Status::ok; }
};

int main(int argc, char** argv) {
    static NoFlush noFlush;
    os::install(&noFlush);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "work" && argc == 6)
        return work(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    if (mode == "hold" && argc == 6) return hold(argv[2], argv[3], std::atoi(argv[4]), argv[5]);
    if (mode == "try" && argc == 4) return tryOpen(argv[2], argv[3]);
    if (mode == "leave" && argc == 4) return leaveOpen(argv[2], std::atoi(argv[3]));
    std::fprintf(stderr, "usage: engine_stress work|hold|try ...\n");
    return 1;
}
