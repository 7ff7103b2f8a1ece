#include "startup.h"

#include "main.h"
#include "state.h"
#include "table_facts.h"

#include "errors/errorsys.h"
#include "errors/table_facts.h"
#include "runtime/process.h"
#include "tables/registry.h"

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
    installErrorHandler();
    tables::registerStartupDrivers();
}

void run(std::string_view programPath, std::string_view commandLine) {
    // The command line is copied once; the table is read-only from here on.
    g_arguments = buildArgumentTable(programPath, commandLine);
    // The runtime's own state (settings, error level) starts at its defaults; then the
    // module's static initialiser and the start-up procedures.
    initStatics();
    startupProcedures();
    const std::vector<rt::Value> arguments = mainArguments(g_arguments);
    MAIN(arguments.empty() ? rt::Value() : arguments.front());
    rt::shutdownAndExit(static_cast<int>(rt::ERRORLEVEL()));
}

} // namespace app
