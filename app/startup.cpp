#include "startup.h"

#include "main.h"
#include "state.h"

#include "runtime/process.h"
#include "runtime/strings.h"
#include "tables/registry.h"

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

std::string interimErrorLine(const rt::ErrorObject& e) {
    std::string line;
    if (e.OsCode.isNumber() && e.OsCode.asInteger() != 0)
        line = "(DOS Error " + rt::numberText(e.OsCode) + ") ";
    else
        line = e.Severity.asInteger() > 1 ? "Error " : "Warning ";
    line += e.SubSystem.isString() ? e.SubSystem.asString() : std::string("???");
    line += e.SubCode.isNumber() ? "/" + rt::numberText(e.SubCode) : std::string("/???");
    if (e.Description.isString()) line += "  " + e.Description.asString();
    if (!rt::CVALTOCHAR(e.FileName).empty())
        line += ": " + rt::CVALTOCHAR(e.FileName);
    else if (!rt::CVALTOCHAR(e.Operation).empty())
        line += ": " + rt::CVALTOCHAR(e.Operation);
    return line;
}

void installInterimErrorBlock() {
    rt::ERRORBLOCK(rt::Value(rt::makeBlock("ERRORSYS", [](rt::Args a) -> rt::Value {
        if (const auto e = a.empty() ? nullptr : a[0].objectAs<rt::ErrorObject>())
            rt::writeErrorOutput(interimErrorLine(*e) + "\n");
        rt::ERRORLEVEL(1);
        rt::__QUIT();
    })));
}

void installErrorHandler() {
    installInterimErrorBlock();
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
