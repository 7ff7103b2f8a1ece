// The process-wide error handler.
//
// ERRORSYS installs an error block that hands every runtime error to ERRORDIALOG. The handler
// recovers silently from division by zero (the result is 0) and from a refused table open or
// append lock (NETERR() becomes true and the operation gives up). Any other error is written to
// "Error.log" in the current folder, shown in the error dialog and, unless the user chooses
// Retry (while an event loop runs) or Default, ends the process with exit code 1.
//
// After the first reported error the handler's block is replaced for good by a fallback block:
// any later error shows a stop box with the error line and ends the process with exit code 1.
//
// The handler reaches the window system through an ErrorPort: the version query, the dialog
// and the release of the resource module. The platform's port shows the real dialog; tests
// install their own.
#pragma once

#include "errors/system_facts.h"
#include "runtime/error.h"

#include <string>
#include <vector>

namespace errors {

// What the error dialog shows.
struct ErrorDialogData {
    std::string errorLine;               // "   Error description: " + ERRORMESSAGE + CR LF
    std::vector<std::string> stackLines; // the report's stack rows, without line ends
    bool canRetry = false;               // offers "&Retry"
    bool canDefault = false;             // offers "&Default"
    bool ntFamily = false;               // the NT family gets a taller dialog

    int buttonCount() const { return 1 + (canRetry ? 1 : 0) + (canDefault ? 1 : 0); }
};

class ErrorPort {
  public:
    virtual ~ErrorPort() = default;
    // The operating-system version record and the NT-family flag, read as the handler starts.
    virtual OsVersion osVersion();
    // Runs while the report is built, between its System and Variables sections: makes what
    // the dialog will draw.
    virtual void prepareDialog() {}
    // Writes the report file; MEMOWRIT by default.
    virtual bool writeReport(const std::string& fileName, const std::string& text);
    // Shows the error dialog and waits until it closes. Answers no value ("&Quit", the close
    // box, the cancel key), true ("&Retry") or false ("&Default").
    virtual rt::Value showDialog(const ErrorDialogData& data) = 0;
    // Runs after the dialog has closed: releases what prepareDialog made.
    virtual void releaseDialog() {}
    // FREERESOURCES: releases the resource module before the process ends.
    virtual void freeResources() {}
};

// The port in force: the platform's, unless one has been installed (the caller keeps
// ownership; nullptr goes back to the platform's).
ErrorPort& errorPort();
void setErrorPort(ErrorPort* port);
// The platform's port: the error dialog on Windows; elsewhere the error line and the stack go
// to the error output and the answer is always Quit.
ErrorPort& platformErrorPort();

// ERRORSYS(): makes the error block a block that calls ERRORDIALOG. The start-up runs it once.
void ERRORSYS();

// ERRORDIALOG(oError): the handler. Answers 0 (division by zero), false (a silent network
// case, or "&Default") or true ("&Retry" while an event loop runs); otherwise the process ends.
rt::Value ERRORDIALOG(const rt::Value& oError);

// ERRORMESSAGE(oError): the one-line error text, e.g. "Error BASE/1340  Zero divisor: /".
std::string ERRORMESSAGE(const rt::ErrorObject& e);

// DOBREAK(): requests a break with no value (the error block while the report is written).
void DOBREAK();

// ERRORLINK(): links the error module into a program; does nothing.
void ERRORLINK();

// MEMOWRIT(cFile, cText): creates or truncates cFile, writes cText and the end-of-file byte 26.
// Answers true when the whole text was written; false, without an error, when the file
// cannot be created.
bool MEMOWRIT(const std::string& fileName, const std::string& text);

// The file name of the report.
inline constexpr const char* kReportFileName = "Error.log";

} // namespace errors
