// Shared pieces of the dialog-framework tests: captured message boxes and framework errors,
// and scripts that drive a running dialog from a timer (each step runs on one tick; a dialog
// left open after its last step is ended and reported).
#pragma once

#include "dialogs/dialogs.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_dialogs {

struct Box {
    HWND owner;
    std::string text, title;
    UINT style;
};
extern std::vector<Box> boxes;           // every message box shown since the last reset
extern int boxAnswer;                    // what a box answers (IDOK by default)
extern std::function<void()> insideBox;  // runs while a box is "shown"
extern std::vector<rt::ErrorPtr> errors; // framework errors handed to the error block
void resetCaptures();

using Step = std::function<void(HWND hDlg)>;
// A block for bInit that starts the steps on the dialog's window.
rt::Value script(std::vector<Step> steps);
// Starts the steps on any window.
void runSteps(HWND hWnd, std::vector<Step> steps);

// A dialog of 300 x 200 pixels built from an in-memory template.
std::shared_ptr<dialogs::TDialog> pixelDialog(const char* caption = "Test");

// Sends a WM_COMMAND as a control of the dialog would (notification code, identifier, handle).
void command(HWND hDlg, int code, int id, HWND hCtl);

const char* testResources(); // "dialogs_test_res.dll"

} // namespace testing_dialogs
