// The error dialog (Windows): the error line, the list of stack lines, a button that opens
// "Error.log" in Notepad, and "&Quit" with "&Retry" and "&Default" as the error allows. It is
// assembled at run time as an in-memory template and run modally.
#pragma once

#include "dialogs/dialogs.h"
#include "errors/errorsys.h"

#include <memory>

namespace errors {

// A device bitmap of the logo; the caller deletes it.
HBITMAP makeLogoBitmap();

// The dialog object with its controls, not yet shown. The buttons store the user's choice in
// *result: true for "&Retry", false for "&Default"; "&Quit" leaves it as it is.
std::shared_ptr<dialogs::TDialog> buildErrorDialog(const ErrorDialogData& data,
                                                   std::shared_ptr<rt::Value> result);

// Builds the dialog, shows it modally and centred with the logo painted at row 6, column 6,
// and answers the user's choice: no value (Quit, the close box, the cancel key), true (Retry)
// or false (Default).
rt::Value runErrorDialog(const ErrorDialogData& data, HBITMAP logo);

// The command the report button runs.
inline constexpr const char* kShowReportCommand = "Notepad.exe error.log";

} // namespace errors
