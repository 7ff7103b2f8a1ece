#include "controls.h"

namespace dialogs {

const rt::ClassInfo TButton::kClass{"TBUTTON", &TControl::kClass};

std::shared_ptr<TButton> TButton::ReDefine(const ReDefineArgs& a) {
    rt::Frame frame("TBUTTON:REDEFINE", {&a.nId, &a.bAction, &a.oWnd, &a.nHelpId, &a.cMsg, &a.lUpdate,
                                         &a.bWhen, &a.bValid, &a.cPrompt, &a.lCancel});
    auto b = std::make_shared<TButton>();
    auto owner = a.oWnd.objectAs<TWindow>();
    if (!owner) owner = defaultWindow();
    b->bAction = a.bAction;
    b->nHelpId = a.nHelpId;
    b->cMsg = a.cMsg;
    b->lUpdate = a.lUpdate.asLogical();
    b->bWhen = a.bWhen;
    b->bValid = a.bValid;
    b->cCaption = a.cPrompt;
    b->lCancel = a.lCancel.asLogical();
    b->Redefine(static_cast<int>(a.nId.asInteger()), owner);
    return b;
}

std::shared_ptr<TButton> TButton::New(const NewArgs& a) {
    rt::Frame frame("TBUTTON:NEW", {&a.nRow, &a.nCol, &a.cCaption, &a.oWnd, &a.bAction, &a.nWidth, &a.nHeight,
                                    &a.nHelpId, &a.oFont, &a.lDefault, &a.lPixel, &a.lDesign, &a.cMsg,
                                    &a.lUpdate, &a.bWhen, &a.bValid, &a.lCancel});
    auto b = std::make_shared<TButton>();
    auto owner = a.oWnd.objectAs<TWindow>();
    if (!owner) owner = defaultWindow();
    b->oWnd = owner;
    b->cCaption = a.cCaption.isNil() ? rt::Value("") : a.cCaption;
    b->bAction = a.bAction;
    b->nHelpId = a.nHelpId;
    b->oFont = a.oFont.objectAs<TFont>();
    b->lDrag = a.lDesign.asLogical();
    b->cMsg = a.cMsg;
    b->lUpdate = a.lUpdate.asLogical();
    b->bWhen = a.bWhen;
    b->bValid = a.bValid;
    b->lCancel = a.lCancel.asLogical();
    const std::int64_t width = a.nWidth.isNumber() ? a.nWidth.asInteger() : 40;
    const std::int64_t height = a.nHeight.isNumber() ? a.nHeight.asInteger() : 12;
    b->place(a.nRow, a.nCol, width, height, a.lPixel.asLogical(), false);
    b->Register(CS_VREDRAW | CS_HREDRAW);
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP |
                        static_cast<DWORD>(a.lDefault.asLogical() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    b->createOrDefine(style);
    return b;
}

rt::Value TButton::Initiate(HWND hDlg) {
    TControl::Initiate(hDlg);
    if (!hWnd) return {};
    lDefault = (GetWindowLongPtrA(hWnd, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    lProcessing = false;
    if (cCaption.isString() && !cCaption.asString().empty())
        SetWindowTextA(hWnd, cCaption.asString().c_str());
    return {};
}

rt::Value TButton::Click() {
    const rt::Value self(shared_from_this());
    rt::Frame frame("TBUTTON:CLICK", {&self});
    // A click delivered while this button's action runs (from a message box or a dialog the
    // action opened) is ignored.
    if (lProcessing) return {};
    lProcessing = true;
    RT_LINE();
    if (bAction.isBlock()) rt::eval(bAction);
    const auto dialog = ownerDialog();
    RT_LINE();
    if (!lCancel && dialog && dialog->hWnd) dialog->AEvalWhen();
    if (hWnd) {
        if (GetFocus() == hWnd)
            PostMessageA(hWnd, BM_SETSTYLE, BS_DEFPUSHBUTTON, 1);
        else if (!lDefault)
            PostMessageA(hWnd, BM_SETSTYLE, BS_PUSHBUTTON, 1);
    }
    lProcessing = false;
    return {};
}

rt::Value TButton::GotFocus(HWND hWndLoseFocus) {
    PostMessageA(hWnd, BM_SETSTYLE, BS_DEFPUSHBUTTON, 1);
    return TControl::GotFocus(hWndLoseFocus);
}

rt::Value TButton::KillFocus(HWND hWndGetFocus) {
    if (!lDefault) PostMessageA(hWnd, BM_SETSTYLE, BS_PUSHBUTTON, 1);
    return TControl::KillFocus(hWndGetFocus);
}

rt::Value TButton::KeyDown(WPARAM nKey, LPARAM nFlags) {
    const auto dialog = ownerDialog();
    if (dialog) dialog->nLastKey = static_cast<int>(nKey);
    switch (nKey) {
    case VK_UP:
    case VK_LEFT:
        if (dialog && dialog->hWnd)
            if (HWND prev = GetNextDlgTabItem(dialog->hWnd, hWnd, TRUE)) ::SetFocus(prev);
        return 0;
    case VK_DOWN:
    case VK_RIGHT:
        if (dialog && dialog->hWnd)
            if (HWND next = GetNextDlgTabItem(dialog->hWnd, hWnd, FALSE)) ::SetFocus(next);
        return 0;
    case VK_RETURN:
        PostMessageA(hWnd, WMX_CLICK, 0, 0);
        return 0;
    default:
        return TControl::KeyDown(nKey, nFlags);
    }
}

} // namespace dialogs
