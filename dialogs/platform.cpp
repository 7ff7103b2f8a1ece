#include "platform.h"

#include <vector>

namespace dialogs {

void DRAWBITMAP(HDC hDC, HBITMAP hBitmap, int nRow, int nCol) {
    if (!hDC || !hBitmap) return;
    BITMAP bm{};
    GetObjectA(hBitmap, sizeof bm, &bm);
    HDC image = CreateCompatibleDC(hDC);
    HGDIOBJ old = SelectObject(image, hBitmap);
    BitBlt(hDC, nCol, nRow, bm.bmWidth, bm.bmHeight, image, 0, 0, SRCCOPY);
    SelectObject(image, old);
    DeleteDC(image);
}

unsigned WINEXEC(const std::string& commandLine, int nShow) {
    return WinExec(commandLine.c_str(), static_cast<UINT>(nShow));
}

std::string OEMTOANSI(const std::string& text) {
    // OemToCharBuff works on a length, so NUL bytes inside the text survive.
    std::string out(text.size(), '\0');
    if (!text.empty()) OemToCharBuffA(text.data(), out.data(), static_cast<DWORD>(text.size()));
    return out;
}

} // namespace dialogs
