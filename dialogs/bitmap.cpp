#include "controls.h"

#include "resources.h"

namespace dialogs {

const rt::ClassInfo TBitmap::kClass{"TBITMAP", &TControl::kClass};

std::shared_ptr<TBitmap> TBitmap::ReDefine(const ReDefineArgs& a) {
    rt::Frame frame("TBITMAP:REDEFINE",
                    {&a.nId, &a.cResName, &a.cBmpFile, &a.oWnd, &a.bLClicked, &a.bRClicked, &a.lScroll,
                     &a.lStretch, &a.oCursor, &a.cMsg, &a.lUpdate, &a.bWhen, &a.bValid, &a.lTransparent});
    auto b = std::make_shared<TBitmap>();
    b->cResName = a.cResName;
    b->cBmpFile = a.cBmpFile.isString() ? rt::Value(rt::ALLTRIM(a.cBmpFile.asString())) : a.cBmpFile;
    b->bLClicked = a.bLClicked;
    b->bRClicked = a.bRClicked;
    b->lScroll = a.lScroll.isLogical() ? a.lScroll : rt::Value(false);
    b->lStretch = a.lStretch.asLogical();
    b->oCursor = a.oCursor;
    b->lUpdate = a.lUpdate.asLogical();
    b->bWhen = a.bWhen;
    b->bValid = a.bValid;
    b->lTransparent = a.lTransparent.asLogical();
    RT_LINE();
    b->LoadImage(b->cResName, b->cBmpFile);
    // The class "TBITMAP" exists before the dialog, so template items of that class can be made.
    b->Redefine(static_cast<int>(a.nId.asInteger()), a.oWnd.objectAs<TWindow>());
    b->SetColor(static_cast<long long>(GetSysColor(COLOR_WINDOWTEXT)),
                static_cast<long long>(GetSysColor(COLOR_BTNFACE)));
    return b;
}

std::shared_ptr<TBitmap> TBitmap::New(const NewArgs& a) {
    rt::Frame frame("TBITMAP:NEW",
                    {&a.nRow, &a.nCol, &a.nWidth, &a.nHeight, &a.cResName, &a.cBmpFile, &a.oWnd});
    auto b = ReDefine({.cResName = a.cResName,
                       .cBmpFile = a.cBmpFile,
                       .bLClicked = a.bLClicked,
                       .bRClicked = a.bRClicked,
                       .lScroll = a.lScroll,
                       .lStretch = a.lStretch,
                       .oCursor = a.oCursor,
                       .cMsg = a.cMsg,
                       .lUpdate = a.lUpdate,
                       .bWhen = a.bWhen,
                       .bValid = a.bValid,
                       .lTransparent = a.lTransparent});
    auto owner = a.oWnd.objectAs<TWindow>();
    if (!owner) owner = defaultWindow();
    b->oWnd = owner;
    b->lDrag = a.lDesign.asLogical();
    BITMAP bm{};
    if (b->hBitmap) GetObjectA(b->hBitmap, sizeof bm, &bm);
    const std::int64_t width = a.nWidth.isNumber() ? a.nWidth.asInteger() : (bm.bmWidth ? bm.bmWidth : 40);
    const std::int64_t height =
        a.nHeight.isNumber() ? a.nHeight.asInteger() : (bm.bmHeight ? bm.bmHeight : 40);
    b->place(a.nRow, a.nCol, width, height, a.lPixel.asLogical(), true);
    b->createOrDefine(WS_CHILD | WS_VISIBLE | (a.lNoBorder.asLogical() ? 0 : WS_BORDER));
    return b;
}

bool TBitmap::LoadImage(const rt::Value& resName, const rt::Value& bmpFile) {
    const rt::Value name = resName.isNil() ? cResName : resName;
    rt::Value file = bmpFile.isNil() ? cBmpFile : bmpFile;
    BitmapPair image;
    bool taken = false;
    if ((name.isString() && !name.asString().empty()) || name.isNumber()) {
        image = loadBitmapResource(GETRESOURCES(), name);
        cBmpFile = rt::Value(); // the resource takes the place of any file
        taken = image.hBitmap != nullptr;
        if (taken) cResName = name;
    } else if (file.isString() && !file.asString().empty() &&
               GetFileAttributesA(file.asString().c_str()) != INVALID_FILE_ATTRIBUTES) {
        image.hBitmap = static_cast<HBITMAP>(
            ::LoadImageA(nullptr, file.asString().c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
        taken = image.hBitmap != nullptr;
        if (taken) cBmpFile = file;
    }
    if (!taken) {
        if (image.hPalette) DeleteObject(image.hPalette);
        return false;
    }
    if (hBitmap) DeleteObject(hBitmap);
    if (hPalette) DeleteObject(hPalette);
    hBitmap = image.hBitmap;
    hPalette = image.hPalette;
    recordBitmapPalette(this, hWnd, hBitmap, hPalette);
    return true;
}

rt::Value TBitmap::Initiate(HWND hDlg) {
    TControl::Initiate(hDlg);
    if (hWnd) Default();
    return {};
}

void TBitmap::Default() {
    if (lScroll.isNil()) lScroll = (GetWindowLongPtrA(hWnd, GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL)) != 0;
    // The window is known now: the palette messages can reach the bitmap.
    if (hBitmap) recordBitmapPalette(this, hWnd, hBitmap, hPalette);
    // Scroll-bar objects belong to the wider class library; the image is drawn at offset 0.
}

rt::Value TBitmap::EraseBkGnd(HDC hDCErase) {
    if (!oBrush || !oBrush->hBrush) return {};
    RECT r{};
    GetClientRect(hWnd, &r);
    FillRect(hDCErase, &r, oBrush->hBrush);
    return 1;
}

rt::Value TBitmap::Display() {
    BeginPaint();
    Paint();
    return EndPaint();
}

bool TBitmap::ReplaceKeyColour() {
    if (!hBitmap) return false;
    const COLORREF pane = nClrPane ? *nClrPane : GetSysColor(COLOR_BTNFACE);
    BITMAP bm{};
    GetObjectA(hBitmap, sizeof bm, &bm);
    HDC screen = GetDC(nullptr);
    HDC image = CreateCompatibleDC(screen);
    HGDIOBJ oldImage = SelectObject(image, hBitmap);
    const COLORREF key = GetPixel(image, 0, 0);
    bool changed = false;
    if (key != CLR_INVALID && key != pane) {
        // Mask: 1 where the image has the key colour.
        HBITMAP mask = CreateBitmap(bm.bmWidth, bm.bmHeight, 1, 1, nullptr);
        HDC maskDC = CreateCompatibleDC(screen);
        HGDIOBJ oldMask = SelectObject(maskDC, mask);
        SetBkColor(image, key);
        BitBlt(maskDC, 0, 0, bm.bmWidth, bm.bmHeight, image, 0, 0, SRCCOPY);
        // Where the mask is set take the brush (pane), elsewhere keep the image: D = (S & P) | (~S & D).
        HBRUSH fill = CreateSolidBrush(pane);
        HGDIOBJ oldBrush = SelectObject(image, fill);
        SetTextColor(image, RGB(0, 0, 0));
        SetBkColor(image, RGB(255, 255, 255));
        BitBlt(image, 0, 0, bm.bmWidth, bm.bmHeight, maskDC, 0, 0, 0x00E20746);
        SelectObject(image, oldBrush);
        DeleteObject(fill);
        SelectObject(maskDC, oldMask);
        DeleteDC(maskDC);
        DeleteObject(mask);
        changed = true;
    }
    SelectObject(image, oldImage);
    DeleteDC(image);
    ReleaseDC(nullptr, screen);
    return changed;
}

rt::Value TBitmap::Paint() {
    const rt::Value selfValue(shared_from_this());
    if (!hBitmap && cBmpFile.isString()) LoadImage(rt::Value(), cBmpFile);
    if (!hBitmap) {
        if (bPainted.isBlock()) rt::evalWith(bPainted, handleValue(hDC), selfValue);
        return {};
    }
    if (lTransparent && !lStretch && nZoom > 0) ReplaceKeyColour();
    BITMAP bm{};
    GetObjectA(hBitmap, sizeof bm, &bm);
    HPALETTE oldPalette = nullptr;
    if (hPalette) {
        oldPalette = SelectPalette(hDC, hPalette, FALSE);
        RealizePalette(hDC);
    }
    HDC image = CreateCompatibleDC(hDC);
    HGDIOBJ old = SelectObject(image, hBitmap);
    if (lStretch) {
        RECT r{};
        GetClientRect(hWnd, &r);
        SetStretchBltMode(hDC, COLORONCOLOR);
        StretchBlt(hDC, nX, nY, r.right, r.bottom, image, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
    } else if (nZoom > 0) {
        // "Its own size" is in 96-DPI pixels, as the template's dialog units are: at another system
        // DPI the image grows or shrinks with the frame the template gives it. A frame placed in
        // pixels (a bitmap made at run time, sized to its image) does not scale, and neither does
        // the image when the scaled one would not fit.
        const int dpi = GetDeviceCaps(hDC, LOGPIXELSY);
        const int width = dpi > 0 ? MulDiv(bm.bmWidth, dpi, 96) : bm.bmWidth;
        const int height = dpi > 0 ? MulDiv(bm.bmHeight, dpi, 96) : bm.bmHeight;
        RECT r{};
        GetClientRect(hWnd, &r);
        if ((width == bm.bmWidth && height == bm.bmHeight) || nX + width > r.right ||
            nY + height > r.bottom) {
            BitBlt(hDC, nX, nY, bm.bmWidth, bm.bmHeight, image, 0, 0, SRCCOPY);
        } else {
            SetStretchBltMode(hDC, COLORONCOLOR);
            StretchBlt(hDC, nX, nY, width, height, image, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
        }
    }
    SelectObject(image, old);
    DeleteDC(image);
    if (oldPalette) SelectPalette(hDC, oldPalette, FALSE);
    if (bPainted.isBlock()) rt::evalWith(bPainted, handleValue(hDC), selfValue);
    return {};
}

rt::Value TBitmap::Destroy() {
    forgetBitmapPalette(this);
    if (hBitmap) DeleteObject(hBitmap);
    if (hPalette) DeleteObject(hPalette);
    hBitmap = nullptr;
    hPalette = nullptr;
    return TControl::Destroy();
}

} // namespace dialogs
