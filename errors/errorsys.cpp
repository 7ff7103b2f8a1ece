#include "errors/errorsys.h"

#include "errors/report.h"
#include "errors/table_facts.h"
#include "runtime/frames.h"
#include "runtime/process.h"
#include "runtime/strings.h"
#include "runtime/ui.h"

#include <cstdio>

namespace errors {

namespace {

ErrorPort* g_port = nullptr;

bool isZero(const rt::Value& v) {
    return v.isNumber() && v.asNumber() == 0;
}

// The block that replaces the handler's own after the first reported error: any later error
// shows a stop box with its line and the line where it arose, and ends the process. The exit
// code is set to 1 first, so a run that stopped on an error never reports success.
rt::Value fallbackErrorBlock() {
    return rt::makeBlock("ERRORDIALOG", [](rt::Args args) -> rt::Value {
        const auto e = args.empty() ? nullptr : args[0].objectAs<rt::ErrorObject>();
        const std::string text =
            (e ? ERRORMESSAGE(*e) : std::string()) + " from Errorsys, line:" + rt::STR(rt::PROCLINE(1), 3);
        rt::showMessage(rt::MessageKind::Stop, text);
        rt::ERRORLEVEL(1);
        rt::__QUIT();
    });
}

// The error block while the report is written: any error breaks off the write.
rt::Value breakErrorBlock() {
    return rt::makeBlock("ERRORDIALOG", [](rt::Args) -> rt::Value {
        DOBREAK();
        return {};
    });
}

} // namespace

// ---- the port ----------------------------------------------------------------------------------

OsVersion ErrorPort::osVersion() {
    return systemFacts().osVersion();
}

bool ErrorPort::writeReport(const std::string& fileName, const std::string& text) {
    return MEMOWRIT(fileName, text);
}

ErrorPort& errorPort() {
    return g_port ? *g_port : platformErrorPort();
}
void setErrorPort(ErrorPort* port) {
    g_port = port;
}

// ---- the routines --------------------------------------------------------------------------------

void ERRORSYS() {
    rt::ERRORBLOCK(rt::makeBlock("ERRORSYS", [](rt::Args args) -> rt::Value {
        return ERRORDIALOG(args.empty() ? rt::Value() : args[0]);
    }));
}

rt::Value ERRORDIALOG(const rt::Value& oError) {
    rt::Frame frame("ERRORDIALOG", {&oError});
    const auto e = oError.objectAs<rt::ErrorObject>();
    if (!e) return {}; // not an error object: the launch reports a recovery failure
    ErrorPort& port = errorPort();

    // The version record, for the report and the dialog's size.
    const OsVersion os = port.osVersion();

    // Division by zero: the quotient or remainder becomes 0, silently.
    if (e->GenCode == rt::Value(rt::EG_ZERODIV)) return 0;

    // A table open refused because another process holds the file, and a failed append
    // lock: the caller sees NETERR() and may try again.
    if (e->GenCode == rt::Value(rt::EG_OPEN) && (e->OsCode == rt::Value(32) || e->OsCode == rt::Value(5)) &&
        e->CanDefault) {
        rt::NETERR(true);
        return false;
    }
    if (e->GenCode == rt::Value(rt::EG_APPENDLOCK) && e->CanDefault) {
        rt::NETERR(true);
        return false;
    }

    // From here on every further error ends the process through the fallback block; the
    // handler's own block is never put back.
    const rt::Value fallback = fallbackErrorBlock();
    rt::ERRORBLOCK(fallback);

    // The report, built in memory, then written with any error turned into a break.
    const Report report = buildReport(*e, os, systemFacts(), tableFacts(), [&port] { port.prepareDialog(); });
    rt::ERRORBLOCK(breakErrorBlock());
    rt::guarded([&] { port.writeReport(kReportFileName, report.text); });
    rt::ERRORBLOCK(fallback);

    // The dialog; then what it drew is released.
    ErrorDialogData data;
    data.errorLine = errorDescriptionRow(*e);
    data.stackLines = report.stackLines;
    data.canRetry = e->CanRetry;
    data.canDefault = e->CanDefault;
    data.ntFamily = os.ntFamily;
    const rt::Value result = port.showDialog(data);
    port.releaseDialog();

    // Quit, or a retry with no event loop to go back to: the process ends with exit code 1.
    if (result.isNil() || (result.isLogical() && result.asLogical() && !rt::LWRUNNING())) {
        port.freeResources();
        rt::ERRORLEVEL(1);
        rt::__QUIT();
    }
    // Retry or default.
    return result;
}

std::string ERRORMESSAGE(const rt::ErrorObject& e) {
    std::string out;
    if (e.OsCode.isNumber() && !isZero(e.OsCode))
        out = "(DOS Error " + rt::numberText(e.OsCode) + ") ";
    else
        out = e.Severity.isNumber() && e.Severity.asNumber() > 1 ? "Error " : "Warning ";
    out += e.SubSystem.isString() ? e.SubSystem.asString() : std::string("???");
    out += e.SubCode.isNumber() ? "/" + rt::numberText(e.SubCode) : std::string("/???");
    if (e.Description.isString()) out += "  " + e.Description.asString();
    if (!rt::EMPTY(e.FileName))
        out += ": " + rt::CVALTOCHAR(e.FileName);
    else if (!rt::EMPTY(e.Operation))
        out += ": " + rt::CVALTOCHAR(e.Operation);
    return out;
}

void DOBREAK() {
    rt::BREAK();
}

void ERRORLINK() {}

bool MEMOWRIT(const std::string& fileName, const std::string& text) {
    std::FILE* f = std::fopen(fileName.c_str(), "w+b");
    if (!f) return false;
    bool whole = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const char eof = 26;
    std::fwrite(&eof, 1, 1, f);
    if (std::fclose(f) != 0) whole = false;
    return whole;
}

} // namespace errors
