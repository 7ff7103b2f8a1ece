#include "startup.h"

#include "main.h"
#include "options.h"
#include "unattended.h"
#include "state.h"
#include "table_facts.h"

#include "errors/errorsys.h"
#include "errors/table_facts.h"
#include "runtime/process.h"
#include "tables/registry.h"

#include "files/os.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

namespace app {

namespace {
ArgumentTable g_arguments;
std::uintptr_t g_instance = 0;
} // namespace

const ArgumentTable& argumentTable() {
    return g_arguments;
}

void setInstanceHandle(std::uintptr_t handle) {
    g_instance = handle;
}
std::uintptr_t instanceHandle() {
    return g_instance;
}

void installErrorHandler() {
    static WorkAreaFacts tableReport;
    errors::setTableFacts(&tableReport);
    errors::ERRORSYS();
}

void startupProcedures() {
    rt::INITTIME();
    // The runtime's own: the public GETLIST, the error handler, the help key.
    rt::PUBLICVAR("GETLIST", rt::Value(rt::makeArray()));
    installErrorHandler();
    rt::__SETHELPK();
    tables::registerStartupDrivers();
}

namespace {

// The error output's copy in "Error.log", CR LF line ends, kept in a buffer of its own: the
// process's last words are written without allocating.
char g_fatalLines[20000];
char g_fatalLogPath[1100];

} // namespace

void writeFatalText(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    std::size_t n = 0;
    for (const char c : text) {
        if (n + 2 > sizeof g_fatalLines) break;
        if (c == '\n') g_fatalLines[n++] = '\r';
        g_fatalLines[n++] = c;
    }
    if (files::os::appendRaw(kFatalLogName, g_fatalLines, n)) return;
    // The current folder cannot be written: the temp folder's "Error.log".
    const std::size_t name = std::strlen(kFatalLogName);
    if (!files::os::tempFolder(g_fatalLogPath, sizeof g_fatalLogPath - name)) return;
    std::memcpy(g_fatalLogPath + std::strlen(g_fatalLogPath), kFatalLogName, name + 1);
    files::os::appendRaw(g_fatalLogPath, g_fatalLines, n);
}

void installLastResort() {
    rt::installTerminateHandler();
    rt::setErrorOutput(writeFatalText);
}

void run(std::string_view programPath, std::string_view commandLine) {
    // Whatever C++ exception would end the process through std::terminate ends it as an
    // unrecoverable error instead: its line is written and the exit code is 1.
    rt::installTerminateHandler();
    // Memory that runs out is reported where it ran out.
    rt::reserveMemory();
    try {
        // The command line is copied once; the table is read-only from here on.
        g_arguments = buildArgumentTable(programPath, commandLine);
        const std::string tail = commandTail(commandLine);
        endUnattended(); // what an earlier run in this process left (tests run several)
        options() = parseOptions(splitCommandLine(tail));
        // The runtime's own state (settings, error level) starts at its defaults; then the
        // module's static initialiser and the start-up procedures.
        initStatics();
        startupProcedures();
        if (options().switches) {
            // An unattended run: its record, the silent mode, a wrong command line's end.
            beginUnattended(tail);
            MAIN(rt::Value(options().helpFile));
        } else {
            const std::vector<rt::Value> arguments = mainArguments(g_arguments);
            MAIN(arguments.empty() ? rt::Value() : arguments.front());
        }
    } catch (const std::bad_alloc&) {
        rt::memoryLow();
    } catch (const std::exception&) {
        // (Any other exception reaches WinMain's last resort or the terminate handler.)
        rt::exceptionLeft("the program");
    }
    rt::shutdownAndExit(static_cast<int>(rt::ERRORLEVEL()));
}

} // namespace app
