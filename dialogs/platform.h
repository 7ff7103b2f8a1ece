// Small platform routines the error dialog and other callers need.
#pragma once

#include "dialogs/common.h"

#include <string>

namespace dialogs {

// Copies the whole bitmap at its own size to (x = nCol, y = nRow) of the device context.
void DRAWBITMAP(HDC hDC, HBITMAP hBitmap, int nRow, int nCol);
// Starts a program through the platform's WinExec; answers the platform's result.
unsigned WINEXEC(const std::string& commandLine, int nShow = SW_SHOWNORMAL);
// The text converted from the OEM to the ANSI code page.
std::string OEMTOANSI(const std::string& text);

} // namespace dialogs
