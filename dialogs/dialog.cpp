#include "dialog.h"

#include "controls.h"
#include "internal.h"
#include "msgbox.h"
#include "resources.h"

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace dialogs {

const rt::ClassInfo TDialog::kClass{"TDIALOG", &TWindow::kClass};

namespace {

int g_nesting = 0;

constexpr DWORD kDefaultDialogStyle = 0x80C80080; // DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU

std::int64_t intOr(const rt::Value& v, std::int64_t fallback) {
    return v.isNumber() ? v.asInteger() : fallback;
}

bool isFalse(const rt::Value& v) {
    return v.isLogical() && !v.asLogical();
}

void putWord(std::string& out, std::uint32_t w) {
    out += static_cast<char>(w & 0xFF);
    out += static_cast<char>((w >> 8) & 0xFF);
}
void putDword(std::string& out, std::uint32_t d) {
    putWord(out, d & 0xFFFF);
    putWord(out, d >> 16);
}

std::string creationOperation(const TDialog& d) {
    if (!rt::EMPTY(d.cResName)) return "\r\nResource: " + rt::CVALTOCHAR(d.cResName);
    const std::string caption = d.cCaption.isString() ? d.cCaption.asString() : std::string();
    return caption.empty() ? std::string("\r\n") : "\r\nTitle: " + caption;
}

} // namespace

// Text of a template as UTF-16 with its terminator. The program's texts are ANSI, so they are
// converted from the ANSI code page.
void putTemplateText(std::string& out, const std::string& text) {
    if (!text.empty()) {
        const int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0);
        std::vector<wchar_t> wide(static_cast<std::size_t>(n));
        MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.data(), static_cast<int>(text.size()), wide.data(),
                            n);
        for (wchar_t c : wide) putWord(out, static_cast<std::uint16_t>(c));
    }
    putWord(out, 0);
}

void putTemplateWord(std::string& out, std::uint32_t w) {
    putWord(out, w);
}
void putTemplateDword(std::string& out, std::uint32_t d) {
    putDword(out, d);
}

int TDialog::nestingCount() {
    return g_nesting;
}

// ---- New and Activate -------------------------------------------------------------------

std::shared_ptr<TDialog> TDialog::New(const NewArgs& a) {
    rt::Frame frame("TDIALOG:NEW",
                    {&a.nTop, &a.nLeft, &a.nBottom, &a.nRight, &a.cCaption, &a.cResName, &a.hResources,
                     &a.lVbx, &a.nStyle, &a.nClrText, &a.nClrBack, &a.oBrush, &a.oWnd, &a.lPixel, &a.oIcon,
                     &a.oFont, &a.nHelpId, &a.nWidth, &a.nHeight});
    auto d = std::make_shared<TDialog>();
    std::int64_t top = intOr(a.nTop, 0), left = intOr(a.nLeft, 0);
    std::int64_t bottom = intOr(a.nBottom, 10), right = intOr(a.nRight, 40);
    bool pixels = a.lPixel.asLogical();
    d->nPixWidth = intOr(a.nWidth, 0);
    d->nPixHeight = intOr(a.nHeight, 0);
    if (d->nPixWidth != 0 || d->nPixHeight != 0) {
        pixels = true;
        bottom = d->nPixHeight;
        right = d->nPixWidth;
    }
    d->cResName = a.cResName;
    d->cCaption = a.cCaption;
    d->hResources =
        a.hResources.isNumber() ? asHandle<HMODULE>(a.hResources) : reinterpret_cast<HMODULE>(SETRESOURCES());
    d->lModify = true;
    d->lVbx = a.lVbx.asLogical();
    d->lVisible = false;
    d->nResult = 0;
    d->nStyle = a.nStyle.isNumber() ? a.nStyle : rt::Value(static_cast<long long>(kDefaultDialogStyle));
    d->oWnd = a.oWnd.objectAs<TWindow>();
    d->oIcon = a.oIcon;
    d->oFont = a.oFont.objectAs<TFont>();
    d->nLastKey = 0;
    d->nHelpId = a.nHelpId;
    d->lResize16 = false;
    RT_LINE();
    d->SetColor(a.nClrText.isNumber() ? a.nClrText : rt::Value(0),
                a.nClrBack.isNumber() ? a.nClrBack
                                      : rt::Value(static_cast<long long>(GetSysColor(COLOR_BTNFACE))),
                a.oBrush.objectAs<TBrush>());
    if (pixels) {
        d->nTop = top, d->nLeft = left, d->nBottom = bottom, d->nRight = right;
    } else {
        d->nTop = static_cast<std::int64_t>(top * 15.1);
        d->nBottom = static_cast<std::int64_t>(bottom * 15.1);
        d->nLeft = static_cast<std::int64_t>(left * 7.9);
        d->nRight = static_cast<std::int64_t>(right * 7.9);
    }
    // There is no control-extension library on this platform.
    if (d->lVbx) MSGALERT("VBX support not available");
    d->Register(CS_VREDRAW | CS_HREDRAW);
    setDefaultWindow(d);
    return d;
}

rt::Value TDialog::Activate(const ActivateArgs& a) {
    rt::Frame frame("TDIALOG:ACTIVATE", {&a.bLClicked, &a.bMoved, &a.bPainted, &a.lCentered, &a.bValid,
                                         &a.lModal, &a.bInit, &a.bRClicked, &a.bWhen, &a.lResize16});
    const auto self = selfDialog();
    const rt::Value selfValue(self);
    nLastKey = 0;
    ++g_nesting;
    HWND hOwner = nullptr;
    if (const auto ownerWindow = owner())
        hOwner = ownerWindow->hWnd;
    else if (g_nesting > 1 || rt::LWRUNNING())
        hOwner = GetActiveWindow();
    else
        hOwner = mainWindow();

    lCentered = a.lCentered.asLogical();
    lModal = a.lModal.isLogical() ? a.lModal.asLogical() : true;
    bLClicked = a.bLClicked;
    bRClicked = a.bRClicked;
    bWhen = a.bWhen;
    bValid = a.bValid;
    bInit = a.bInit;
    bPainted = a.bPainted;
    bMoved = a.bMoved;
    nResult = rt::Value();
    lValidating = false;
    lVisible = true;
    lResize16 = a.lResize16.asLogical();

    RT_LINE();
    if (bWhen.isBlock() && isFalse(rt::eval(bWhen, rt::Args(&selfValue, 1)))) {
        nResult = 2;
        lVisible = false;
        --g_nesting;
        return {};
    }
    RT_LINE();
    AEvalWhen();

    const bool named = !rt::EMPTY(cResName);
    std::string memoryTemplate;
    if (!named)
        memoryTemplate =
            cResData.isString() && !cResData.asString().empty() ? cResData.asString() : cToChar(hOwner);

    if (lModal) {
        RT_LINE();
        const INT_PTR result =
            named ? DIALOGBOX(hResources, cResName, hOwner, self)
                  : DIALOGBOXINDIRECT(GetModuleHandleA(nullptr), memoryTemplate, hOwner, self);
        nResult = static_cast<long long>(result);
        RT_LINE();
        if (result == -1) frameworkError(3, creationOperation(*this));
    } else if (!aControls.empty() && !modelessSlotFree()) {
        // Only a dialog with controls takes a slot of the modeless-dialog registry.
        RT_LINE();
        MSGALERT("Not possible to create more non-modal Dialogs");
    } else {
        setPendingModeless(self);
        HWND created = nullptr;
        RT_LINE();
        if (named) {
            const LPCSTR name = cResName.isString()
                                    ? cResName.asString().c_str()
                                    : MAKEINTRESOURCEA(static_cast<WORD>(cResName.asInteger()));
            created = CreateDialogParamA(hResources, name, hOwner, modelessDialogProc, 0);
        } else {
            // The platform wants the template on a 4-byte boundary.
            std::vector<DWORD> aligned((memoryTemplate.size() + 3) / 4);
            std::memcpy(aligned.data(), memoryTemplate.data(), memoryTemplate.size());
            created = CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                                                 reinterpret_cast<LPCDLGTEMPLATEA>(aligned.data()), hOwner,
                                                 modelessDialogProc, 0);
        }
        setPendingModeless(nullptr);
        RT_LINE();
        if (!created) {
            frameworkError(3, creationOperation(*this));
        } else if (!aControls.empty() && !registerModeless(self)) {
            SendMessageA(created, WM_CLOSE, 0, 0);
            MSGALERT("Not possible to create more non-modal Dialogs");
        } else {
            ShowWindow(created, SW_SHOW);
        }
    }
    --g_nesting;
    if (lModal) lVisible = false;
    return {};
}

// ---- initialisation ---------------------------------------------------------------------

rt::Value TDialog::Initiate(HWND hWndFocus, HWND hWndDlg) {
    const rt::Value pFocus = handleValue(hWndFocus), pDlg = handleValue(hWndDlg);
    rt::Frame frame("TDIALOG:INITIATE", {&pFocus, &pDlg});
    const rt::Value selfValue(shared_from_this());
    bool result = true;
    hWnd = hWndDlg;
    if (!lModal) Link();
    RT_LINE();
    if (!oFont)
        GetFont();
    else
        SetFont(oFont);

    RT_LINE();
    const auto controls = aControls; // a control's Initiate may register further controls
    for (const auto& control : controls) control->Initiate(hWnd);

    if (lResize16 && !rt::EMPTY(cResName)) {
        constexpr double kFactor = 1.16668;
        RECT own{};
        GetWindowRect(hWnd, &own);
        SetWindowPos(hWnd, nullptr, 0, 0, static_cast<int>((own.right - own.left) * kFactor),
                     own.bottom - own.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
        for (HWND child = GetWindow(hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (GetParent(child) != hWnd) continue;
            RECT r{};
            GetWindowRect(child, &r);
            MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&r), 2);
            SetWindowPos(child, nullptr, static_cast<int>(r.left * kFactor), r.top,
                         static_cast<int>((r.right - r.left) * kFactor), r.bottom - r.top,
                         SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
        }
    }

    RECT own{};
    GetWindowRect(hWnd, &own);
    const int width = own.right - own.left, height = own.bottom - own.top;
    if (lCentered) {
        RECT screen{};
        GetWindowRect(GetDesktopWindow(), &screen);
        MoveWindow(hWnd, screen.left + (screen.right - screen.left - width) / 2,
                   screen.top + (screen.bottom - screen.top - height) / 2, width, height, TRUE);
    } else if (rt::EMPTY(cResName)) {
        MoveWindow(hWnd, static_cast<int>(nLeft), static_cast<int>(nTop), width, height, TRUE);
    }

    if (!cCaption.isNil()) SetWindowTextA(hWnd, rt::CVALTOCHAR(cCaption).c_str());

    RT_LINE();
    if (bInit.isBlock() && isFalse(rt::eval(bInit, rt::Args(&selfValue, 1)))) result = false;

    Help95();
    if (!oIcon.isNil()) {
        const rt::Value icon = oIcon.isNumber() ? oIcon : rt::send(oIcon, "hIcon");
        SendMessageA(hWnd, WM_SETICON, ICON_SMALL, static_cast<LPARAM>(icon.asInteger()));
    }
    return result;
}

void TDialog::Help95() {
    if (lHelpIcon.isNil()) lHelpIcon = true;
    if (lHelpIcon.asLogical() && hWnd)
        SetWindowLongPtrA(hWnd, GWL_EXSTYLE, GetWindowLongPtrA(hWnd, GWL_EXSTYLE) | WS_EX_CONTEXTHELP);
}

std::shared_ptr<TFont> TDialog::GetFont() {
    if (oFont) return oFont;
    if (const auto font = hWnd ? reinterpret_cast<HFONT>(SendMessageA(hWnd, WM_GETFONT, 0, 0)) : nullptr) {
        oFont = TFont::adopt(font);
        lWindowFont = true;
    } else {
        LOGFONTA lf{};
        GetObjectA(GetStockObject(SYSTEM_FONT), sizeof lf, &lf);
        oFont = TFont::New({.cFaceName = std::string(lf.lfFaceName), .nHeight = -12});
    }
    return oFont;
}

void TDialog::SetFont(const std::shared_ptr<TFont>& oNewFont) {
    TWindow::SetFont(oNewFont);
    if (!hWnd || !oFont) return;
    for (HWND child = GetWindow(hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetParent(child) == hWnd)
            SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(oFont->hFont), TRUE);
}

// ---- messages ---------------------------------------------------------------------------

rt::Value TDialog::HandleEvent(UINT nMsg, WPARAM nWParam, LPARAM nLParam) {
    switch (nMsg) {
    case WM_INITDIALOG:
        return Initiate(reinterpret_cast<HWND>(nWParam), reinterpret_cast<HWND>(nLParam));
    case WM_PAINT:
        return Display();
    default:
        return TWindow::HandleEvent(nMsg, nWParam, nLParam);
    }
}

rt::Value TDialog::Display() {
    BeginPaint();
    Paint();
    EndPaint();
    if (bStart.isBlock()) {
        const rt::Value start = std::exchange(bStart, rt::Value());
        const rt::Value selfValue(shared_from_this());
        rt::eval(start, rt::Args(&selfValue, 1));
    }
    return false;
}

rt::Value TDialog::EraseBkGnd(HDC hDCErase) {
    if (!oBrush || !oBrush->hBrush) return {};
    RECT r{};
    GetClientRect(hWnd, &r);
    FillRect(hDCErase, &r, oBrush->hBrush);
    return true;
}

bool TDialog::End(const rt::Value& nEnd) {
    rt::Frame frame("TDIALOG:END", {&nEnd});
    const auto code = static_cast<INT_PTR>(nEnd.isNumber() ? nEnd.asInteger() : 2);
    if (!lModal) {
        PostMessageA(hWnd, WM_CLOSE, static_cast<WPARAM>(code), 0);
        return true;
    }
    if (bValid.isBlock()) {
        const rt::Value selfValue(shared_from_this());
        RT_LINE();
        if (isFalse(rt::eval(bValid, rt::Args(&selfValue, 1)))) return false;
    }
    nResult = static_cast<long long>(code);
    EndDialog(hWnd, code);
    hWnd = nullptr;
    return true;
}

rt::Value TDialog::Close(WPARAM nEnd) {
    if (lModal) return {}; // the platform turns it into the cancel command
    if (bValid.isBlock()) {
        const rt::Value selfValue(shared_from_this());
        if (isFalse(rt::eval(bValid, rt::Args(&selfValue, 1)))) return true;
    }
    nResult = static_cast<long long>(nEnd);
    lVisible = false;
    DestroyWindow(hWnd);
    return true;
}

rt::Value TDialog::Command(WPARAM nWParam, LPARAM nLParam) {
    const rt::Value pW = static_cast<long long>(nWParam), pL = static_cast<long long>(nLParam);
    rt::Frame frame("TDIALOG:COMMAND", {&pW, &pL});
    const int code = HIWORD(nWParam), id = LOWORD(nWParam);
    const HWND hCtl = reinterpret_cast<HWND>(nLParam);

    if (oPopup.isObject()) {
        rt::sendWith(oPopup, "Command", id);
        return {};
    }
    if (!hCtl && oMenu.isObject()) {
        rt::sendWith(oMenu, "Command", id);
        return {};
    }
    if (id == 0) return {};

    if (code == 0) {
        if (hCtl && id != IDCANCEL) {
            const auto sender = windowFromHandle(hCtl);
            if (const auto focused = nResult.objectAs<TControl>()) {
                RT_LINE();
                if (focused->lFocused) focused->LostFocus(hCtl);
                RT_LINE();
                if (focused->nId != id && !focused->lValid() && !(sender && sender->lCancel))
                    return {}; // the click is swallowed
            }
            RT_LINE();
            if (const auto control = controlById(id))
                SendMessageA(control->hWnd, WMX_CLICK, 0, 0);
            else if (id == IDOK)
                End(1);
        } else {
            RT_LINE();
            if (id == IDOK) {
                // Enter without a default button: on to the next control.
                if (hWnd)
                    if (HWND next = GetNextDlgTabItem(hWnd, GetFocus(), FALSE)) ::SetFocus(next);
            } else if (const auto control = hCtl ? controlById(id) : nullptr) {
                SendMessageA(control->hWnd, WMX_CLICK, 0, 0);
            } else {
                End(2);
            }
        }
    } else if (code == 1) {
        RT_LINE();
        if (hCtl) SendMessageA(hCtl, WMX_CHANGE, 0, 0);
    } else if (id == 15001) {
        Zip(nLParam);
    } else if (id == 15000) {
        UnZip(LOWORD(nLParam));
    }
    return {};
}

rt::Value TDialog::Zip(LPARAM nLParam) {
    if (bZip.isBlock()) rt::evalWith(bZip, static_cast<long long>(nLParam));
    return {};
}

rt::Value TDialog::UnZip(int nPercent) {
    if (bUnZip.isBlock()) rt::evalWith(bUnZip, nPercent);
    return {};
}

rt::Value TDialog::KeyChar(WPARAM nKey, LPARAM nFlags) {
    if (nKey == VK_ESCAPE) {
        const auto ownerWindow = owner();
        if (!ownerWindow || ownerWindow->isKindOf(TDialog::kClass)) {
            End();
            return {};
        }
    }
    return TWindow::KeyChar(nKey, nFlags);
}

rt::Value TDialog::SysCommand(WPARAM, LPARAM) {
    return {};
}

rt::Value TDialog::QueryEndSession() {
    return !End();
}

rt::Value TDialog::Destroy() {
    // The template's font is the platform's and is deleted with this window: a later Activate
    // must take the new window's own, so the object lets go of it whether or not End has
    // already cleared hWnd.
    if (lWindowFont) {
        lWindowFont = false;
        if (oFont) std::exchange(oFont, nullptr)->End();
    }
    if (!hWnd) return {};
    const bool modeless = !lModal;
    TWindow::Destroy();
    if (!modeless) return {};
    unregisterModeless(this);
    return true;
}

// ---- controls ---------------------------------------------------------------------------

void TDialog::DefControl(const std::shared_ptr<TControl>& oControl) {
    if (!oControl) return;
    const rt::Value pControl(oControl);
    rt::Frame frame("TDIALOG:DEFCONTROL", {&pControl});
    if (!oControl->nId) oControl->nId = TControl::GetNewId();
    if (controlById(oControl->nId)) {
        RT_LINE();
        frameworkError(2, idOperation(oControl->nId));
        return;
    }
    aControls.push_back(oControl);
    oControl->hWnd = nullptr;
}

std::shared_ptr<TControl> TDialog::controlById(int id) const {
    for (const auto& c : aControls)
        if (c->nId == id) return c;
    return nullptr;
}

void TDialog::AEvalWhen() {
    for (const auto& c : aControls) {
        if (!c->bWhen.isBlock()) continue;
        if (rt::eval(c->bWhen).asLogical())
            c->Enable();
        else
            c->Disable();
    }
}

HWND TDialog::GetItem(int id) const {
    return GetDlgItem(hWnd, id);
}

std::string TDialog::cToChar(HWND hWndOwner) const {
    std::string caption = cCaption.isNil() ? std::string() : rt::CVALTOCHAR(cCaption);
    if (caption.size() > kMaxTemplateCaption) caption.resize(kMaxTemplateCaption);
    if (caption.size() % 2) caption += ' ';

    const LONG base = GetDialogBaseUnits();
    const double widthUnit = LOWORD(base), heightUnit = HIWORD(base);
    RECT ownerRect{};
    if (hWndOwner) GetWindowRect(hWndOwner, &ownerRect);
    const auto top = static_cast<std::int64_t>(std::trunc(8.0 * (nTop - ownerRect.top) / heightUnit));
    const auto left = static_cast<std::int64_t>(std::trunc(4.0 * (nLeft - ownerRect.left) / widthUnit));
    const auto bottom = static_cast<std::int64_t>(std::trunc(8.0 * (nBottom - ownerRect.top) / heightUnit));
    const auto right = static_cast<std::int64_t>(std::trunc(4.0 * (nRight - ownerRect.left) / widthUnit));

    auto style = static_cast<std::uint32_t>(nStyle.isNumber() ? nStyle.asInteger() : kDefaultDialogStyle);
    std::uint32_t exStyle = 0;
    if (style == 2) {
        style = 0x80000002;
        exStyle = 0x20;
    } else if (style == 0x10000000) {
        style = 0xC0000000;
    }

    std::string out;
    putDword(out, style);
    putDword(out, exStyle);
    putWord(out, static_cast<std::uint32_t>(aControls.size()));
    putWord(out, static_cast<std::uint32_t>(left));
    putWord(out, static_cast<std::uint32_t>(top));
    putWord(out, static_cast<std::uint32_t>(right - left + 1));
    putWord(out, static_cast<std::uint32_t>(bottom - top + 1));
    putWord(out, 0); // no menu
    putWord(out, 0); // the platform's dialog class
    putTemplateText(out, caption);
    for (const auto& c : aControls) out += c->cToChar();
    return out;
}

rt::Value TDialog::send(std::string_view method, rt::Args args) {
    const std::string m = rt::UPPER(rt::Value(method));
    auto arg = [&](std::size_t i) { return i < args.size() ? args[i] : rt::Value(); };
    if (m == "END") return End(arg(0));
    if (m == "ACTIVATE")
        return Activate({arg(0), arg(1), arg(2), arg(3), arg(4), arg(5), arg(6), arg(7), arg(8), arg(9)});
    if (m == "GETITEM") return handleValue(GetItem(static_cast<int>(arg(0).asInteger())));
    if (m == "NRESULT") return nResult;
    if (m == "ACONTROLS") {
        auto list = rt::makeArray();
        for (const auto& c : aControls) list->add(rt::Value(c));
        return list;
    }
    return TWindow::send(method, args);
}

} // namespace dialogs
