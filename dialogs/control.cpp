#include "controls.h"

#include "internal.h"

#include <cmath>
#include <vector>

namespace dialogs {

const rt::ClassInfo TControl::kClass{"TCONTROL", &TWindow::kClass};

int TControl::nInitID = 100;

int TControl::GetNewId() {
    return ++nInitID;
}

bool shareAncestor(HWND a, HWND b) {
    if (!a || !b) return false;
    std::vector<HWND> chain;
    for (HWND p = GetParent(a); p; p = GetParent(p)) chain.push_back(p);
    for (HWND p = GetParent(b); p; p = GetParent(p))
        for (HWND q : chain)
            if (p == q) return true;
    return false;
}

void TControl::Redefine(int id, const std::shared_ptr<TWindow>& owner) {
    nId = id;
    oWnd = owner;
    lValidating = false;
    Register(CS_VREDRAW | CS_HREDRAW);
    if (const auto dialog = std::dynamic_pointer_cast<TDialog>(owner))
        dialog->DefControl(std::static_pointer_cast<TControl>(shared_from_this()));
}

void TControl::place(const rt::Value& nRow, const rt::Value& nCol, std::int64_t nWidth, std::int64_t nHeight,
                     bool lPixel, bool lInclusive) {
    const double row = nRow.asNumber(), col = nCol.asNumber();
    nTop = lPixel ? static_cast<std::int64_t>(row) : static_cast<std::int64_t>(row * 15.1);
    nLeft = lPixel ? static_cast<std::int64_t>(col) : static_cast<std::int64_t>(col * 7.9);
    // Labels and lists end on their last pixel, buttons one past it.
    nBottom = nTop + nHeight - (lInclusive ? 1 : 0);
    nRight = nLeft + nWidth - (lInclusive ? 1 : 0);
}

void TControl::createOrDefine(DWORD style) {
    nStyle = static_cast<long long>(style);
    const auto dialog = ownerDialog();
    if (!dialog) return;
    const auto self = std::static_pointer_cast<TControl>(shared_from_this());
    if (!dialog->hWnd) {
        dialog->DefControl(self);
        return;
    }
    // The dialog already runs: register, make the window now and bind it like a template item.
    dialog->DefControl(self);
    if (dialog->controlById(nId) != self) return; // refused as a duplicate
    const std::string caption = cCaption.isNil() ? std::string() : rt::CVALTOCHAR(cCaption);
    const HWND created = CreateWindowExA(
        0, platformClass().c_str(), caption.c_str(), style, static_cast<int>(nLeft), static_cast<int>(nTop),
        static_cast<int>(nRight - nLeft + 1), static_cast<int>(nBottom - nTop + 1), dialog->hWnd,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(nId)), GetModuleHandleA(nullptr), nullptr);
    if (!created) {
        frameworkError(6, idOperation(nId));
        return;
    }
    Initiate(dialog->hWnd);
}

rt::Value TControl::Initiate(HWND hDlg) {
    const rt::Value pDlg = handleValue(hDlg);
    rt::Frame frame("TCONTROL:INITIATE", {&pDlg});
    hWnd = GetDlgItem(hDlg, nId);
    if (!hWnd) {
        RT_LINE();
        frameworkError(1, idOperation(nId));
        return {};
    }
    EnableWindow(hWnd, lActive);
    lActive = IsWindowEnabled(hWnd) != 0;
    Link();
    if (oFont) {
        SetFont(oFont);
    } else if (const auto dialog = ownerDialog()) {
        if (const auto font = dialog->oFont) {
            oFont = font;
            ++font->nCount;
            SendMessageA(hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font->hFont), FALSE);
        }
    }
    return {};
}

rt::Value TControl::HandleEvent(UINT nMsg, WPARAM w, LPARAM l) {
    switch (nMsg) {
    case WMX_CLICK:
        return Click();
    case WM_GETDLGCODE:
        nDlgCodeMsg = l;
        return GetDlgCode(w);
    case 0x0019 /* WM_CTLCOLOR */:
        return CtlColor(reinterpret_cast<HWND>(static_cast<INT_PTR>(LOWORD(l))), reinterpret_cast<HDC>(w));
    case WM_HELP:
        return HelpTopic();
    case WM_KILLFOCUS:
        return KillFocus(reinterpret_cast<HWND>(w));
    case WM_PAINT:
        return Display();
    case WMX_CHANGE:
        return Change();
    case WMX_COLORS:
        return Colors(reinterpret_cast<HDC>(w));
    case WMX_LOSTFOCUS:
        return FWLostFocus(reinterpret_cast<HWND>(w));
    case WM_SYSCOMMAND:
        return SysCommand(w, l);
    default:
        return TWindow::HandleEvent(nMsg, w, l);
    }
}

rt::Value TControl::Colors(HDC hDCColors) {
    if (!nClrText) nClrText = GetTextColor(hDCColors);
    if (!nClrPane) nClrPane = GetBkColor(hDCColors);
    if (!oBrush) oBrush = TBrush::New({}, static_cast<long long>(*nClrPane));
    SetTextColor(hDCColors, *nClrText);
    SetBkColor(hDCColors, *nClrPane);
    return handleValue(oBrush->hBrush);
}

rt::Value TControl::Display() {
    // Without a paint hook the control's own procedure paints it.
    if (!bPainted.isBlock()) return {};
    BeginPaint();
    Paint();
    return EndPaint();
}

rt::Value TControl::GotFocus(HWND hWndLoseFocus) {
    lFocused = true;
    if (const auto dialog = ownerDialog()) {
        const auto self = std::static_pointer_cast<TControl>(shared_from_this());
        dialog->nResult = rt::Value(self);
        dialog->oCtlFocus = self;
        dialog->hCtlFocus = hWnd;
    }
    // Status messages (cMsg) need a status bar, which these dialogs do not have.
    (void)hWndLoseFocus;
    if (bGotFocus.isBlock()) rt::evalWith(bGotFocus, rt::Value(shared_from_this()));
    return {};
}

rt::Value TControl::LostFocus(HWND) {
    lFocused = false;
    if (bLostFocus.isBlock()) rt::evalWith(bLostFocus, rt::Value(shared_from_this()));
    return {};
}

rt::Value TControl::KillFocus(HWND hWndGetFocus) {
    const rt::Value pGet = handleValue(hWndGetFocus);
    rt::Frame frame("TCONTROL:KILLFOCUS", {&pGet});
    const auto dialog = ownerDialog();
    // The focus moves with a mouse button held: the user clicked the window that takes it, and
    // no key recorded earlier may move the focus on from there (the click would be lost).
    if (dialog && (GetKeyState(VK_LBUTTON) < 0 || GetKeyState(VK_RBUTTON) < 0 || GetKeyState(VK_MBUTTON) < 0))
        dialog->nLastKey = 0;
    if (hWndGetFocus && bValid.isBlock() && shareAncestor(hWndGetFocus, hWnd) && dialog) {
        const auto receiver = windowFromHandle(hWndGetFocus);
        const bool cancelButton = receiver && receiver->isKindOf(TButton::kClass) && receiver->lCancel;
        const int key = dialog->nLastKey;
        if (cancelButton && key != VK_TAB && key != VK_RETURN && key != VK_DOWN && key != VK_UP) {
            // A cancel button takes the focus: no valid test.
            dialog->lValidating = true;
            dialog->nLastKey = 0;
            RT_LINE();
            ForWhen();
            dialog->lValidating = false;
            return LostFocus(hWndGetFocus);
        }
    }
    if (hWndGetFocus && dialog && !dialog->lValidating && dialog->hWnd && IsWindowVisible(dialog->hWnd) &&
        shareAncestor(hWndGetFocus, hWnd))
        PostMessageA(hWnd, WMX_LOSTFOCUS, reinterpret_cast<WPARAM>(hWndGetFocus), 0);
    RT_LINE();
    return LostFocus(hWndGetFocus);
}

rt::Value TControl::FWLostFocus(HWND hWndGetFocus) {
    const rt::Value pGet = handleValue(hWndGetFocus);
    rt::Frame frame("TCONTROL:FWLOSTFOCUS", {&pGet});
    const auto dialog = ownerDialog();
    if (dialog) dialog->lValidating = true;
    RT_LINE();
    if (!lValid()) {
        if (hWnd) ::SetFocus(hWnd);
    } else {
        RT_LINE();
        ForWhen();
    }
    if (dialog) dialog->lValidating = false;
    return {};
}

bool TControl::lValid() {
    if (!bValid.isBlock()) return true;
    const rt::Value v = rt::evalWith(bValid, rt::Value(shared_from_this()));
    return !(v.isLogical() && !v.asLogical());
}

void TControl::ForWhen() {
    const auto dialog = ownerDialog();
    if (!dialog) return;
    dialog->AEvalWhen();
    lCaptured = false;
    if (const auto jump = oJump.lock()) {
        oJump.reset();
        if (jump->hWnd) ::SetFocus(jump->hWnd);
    } else if (dialog->hWnd && hWnd) {
        const int key = dialog->nLastKey;
        const bool shift = GetKeyState(VK_SHIFT) < 0;
        if (key == VK_UP || (key == VK_TAB && shift)) {
            if (HWND prev = GetNextDlgTabItem(dialog->hWnd, hWnd, TRUE)) ::SetFocus(prev);
        } else if (key == VK_DOWN || key == VK_RETURN || key == VK_TAB) {
            if (HWND next = GetNextDlgTabItem(dialog->hWnd, hWnd, FALSE)) ::SetFocus(next);
        }
        if (!GetFocus()) ::SetFocus(hWnd);
    }
    dialog->nLastKey = 0;
}

rt::Value TControl::GetDlgCode(WPARAM nKey) {
    const auto dialog = ownerDialog();
    if (!dialog || dialog->lValidating) return nDlgCode;
    // Only a key press counts (the same question comes for typed characters, where 38 and 40
    // are '&' and '('), and only a key the control leaves to the dialog: an arrow key that a
    // combo box uses to change its selection moves no focus, now or at the next focus change.
    const auto* msg = reinterpret_cast<const MSG*>(nDlgCodeMsg);
    if (msg && msg->message != WM_KEYDOWN) return nDlgCode;
    if (nKey != VK_RETURN && nKey != VK_TAB && nKey != VK_DOWN && nKey != VK_UP) return nDlgCode;
    LRESULT wants = 0;
    if (nDlgCode.isNumber())
        wants = static_cast<LRESULT>(nDlgCode.asInteger());
    else if (nOldProc && hWnd)
        wants = CallWindowProcA(nOldProc, hWnd, WM_GETDLGCODE, nKey, nDlgCodeMsg);
    const bool own = (wants & (DLGC_WANTALLKEYS | DLGC_WANTMESSAGE)) ||
                     ((nKey == VK_DOWN || nKey == VK_UP) && (wants & DLGC_WANTARROWS)) ||
                     (nKey == VK_TAB && (wants & DLGC_WANTTAB));
    dialog->nLastKey = own ? 0 : static_cast<int>(nKey);
    return nDlgCode;
}

std::string TControl::cToChar() {
    if (!nId) nId = GetNewId();
    const LONG base = GetDialogBaseUnits();
    const double widthUnit = LOWORD(base), heightUnit = HIWORD(base);
    const auto top = static_cast<std::int64_t>(std::trunc(16.0 * nTop / heightUnit));
    const auto left = static_cast<std::int64_t>(std::trunc(8.0 * nLeft / widthUnit));
    const auto bottom = static_cast<std::int64_t>(std::trunc(16.0 * nBottom / heightUnit));
    const auto right = static_cast<std::int64_t>(std::trunc(8.0 * nRight / widthUnit));
    const auto style = static_cast<std::uint32_t>(nStyle.isNumber() ? nStyle.asInteger() : 0x50010000);

    std::string out;
    putTemplateDword(out, style);
    putTemplateDword(out, 0);
    putTemplateWord(out, static_cast<std::uint32_t>(left));
    putTemplateWord(out, static_cast<std::uint32_t>(top));
    putTemplateWord(out, static_cast<std::uint32_t>(right - left + 1));
    putTemplateWord(out, static_cast<std::uint32_t>(bottom - top + 1));
    putTemplateWord(out, static_cast<std::uint32_t>(nId));
    putTemplateText(out, platformClass());
    putTemplateText(out, cCaption.isNil() ? std::string() : rt::CVALTOCHAR(cCaption));
    putTemplateWord(out, 0); // no creation data
    while (out.size() % 4) out += '\0';
    return out;
}

rt::Value TControl::send(std::string_view method, rt::Args args) {
    const std::string m = rt::UPPER(rt::Value(method));
    if (m == "CLICK") return Click();
    if (m == "CHANGE") return Change();
    if (m == "LVALID") return lValid();
    return TWindow::send(method, args);
}

bool sameItemText(const rt::Value& item, const rt::Value& value) {
    if (!item.isString() || !value.isString()) return false;
    return rt::UPPER(rt::Value(rt::ALLTRIM(item.asString()))) ==
           rt::UPPER(rt::Value(rt::ALLTRIM(value.asString())));
}

} // namespace dialogs
