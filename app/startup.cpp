#include "startup.h"

#include "main.h"
#include "state.h"
#include "table_facts.h"

#include "errors/errorsys.h"
#include "errors/table_facts.h"
#include "runtime/process.h"
#include "tables/registry.h"

#include <cstdio>
#include <exception>
#include <filesystem>
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

bool appendTo(const std::filesystem::path& file, const std::string& text) {
    std::FILE* f = std::fopen(file.string().c_str(), "ab");
    if (!f) return false;
    const bool whole = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && whole;
}

} // namespace

void writeFatalText(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    std::string lines;
    for (char c : text) {
        if (c == '\n') lines += '\r';
        lines += c;
    }
    if (appendTo(kFatalLogName, lines)) return;
    std::error_code ec;
    const auto temp = std::filesystem::temp_directory_path(ec);
    if (!ec) appendTo(temp / kFatalLogName, lines);
}

void run(std::string_view programPath, std::string_view commandLine) {
    // Whatever C++ exception would end the process through std::terminate ends it as an
    // unrecoverable error instead: its line is written and the exit code is 1.
    std::set_terminate([] { rt::unrecoverable(9010, "Exception left the program"); });
    try {
        // The command line is copied once; the table is read-only from here on.
        g_arguments = buildArgumentTable(programPath, commandLine);
        // The runtime's own state (settings, error level) starts at its defaults; then the
        // module's static initialiser and the start-up procedures.
        initStatics();
        startupProcedures();
        const std::vector<rt::Value> arguments = mainArguments(g_arguments);
        MAIN(arguments.empty() ? rt::Value() : arguments.front());
    } catch (const std::bad_alloc&) {
        rt::memoryLow();
    } catch (const std::exception& e) {
        rt::unrecoverable(9010, std::string("Exception left the program: ") + e.what());
    }
    rt::shutdownAndExit(static_cast<int>(rt::ERRORLEVEL()));
}

} // namespace app
