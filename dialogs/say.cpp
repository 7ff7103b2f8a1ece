#include "controls.h"

namespace dialogs {

const rt::ClassInfo TSay::kClass{"TSAY", &TControl::kClass};

std::string TSay::textOf(const rt::Value& v) const {
    if (cPicture.isString() && !cPicture.asString().empty()) return rt::TRANSFORM(v, cPicture.asString());
    return rt::CVALTOCHAR(v);
}

std::shared_ptr<TSay> TSay::ReDefine(const ReDefineArgs& a) {
    rt::Frame frame("TSAY:REDEFINE",
                    {&a.nId, &a.bText, &a.oWnd, &a.cPicture, &a.nClrText, &a.nClrBack, &a.lUpdate, &a.oFont});
    auto s = std::make_shared<TSay>();
    auto owner = a.oWnd.objectAs<TWindow>();
    if (!owner) owner = defaultWindow();
    s->l3D = false;
    s->bGet = a.bText;
    s->bSetGet = a.bText;
    s->cPicture = a.cPicture;
    RT_LINE();
    if (a.bText.isBlock()) s->cCaption = s->textOf(rt::eval(a.bText));
    s->lWantClick = false;
    s->lUpdate = a.lUpdate.asLogical();
    s->oFont = a.oFont.objectAs<TFont>();
    rt::Value text = a.nClrText;
    if (!text.isNumber() && owner && owner->nClrText) text = static_cast<long long>(*owner->nClrText);
    const rt::Value back =
        a.nClrBack.isNumber() ? a.nClrBack : rt::Value(static_cast<long long>(GetSysColor(COLOR_BTNFACE)));
    s->SetColor(text, back);
    s->Redefine(static_cast<int>(a.nId.asInteger()), owner);
    return s;
}

std::shared_ptr<TSay> TSay::New(const NewArgs& a) {
    rt::Frame frame("TSAY:NEW", {&a.nRow, &a.nCol, &a.bText, &a.oWnd, &a.cPicture, &a.oFont, &a.lCentered,
                                 &a.lRight, &a.lBorder, &a.lPixels, &a.nClrText, &a.nClrBack, &a.nWidth,
                                 &a.nHeight, &a.lDesign, &a.lUpdate, &a.lShaded, &a.lBox, &a.lRaised});
    auto s = std::make_shared<TSay>();
    auto owner = a.oWnd.objectAs<TWindow>();
    if (!owner) owner = defaultWindow();
    s->oWnd = owner;
    s->bGet = a.bText;
    s->bSetGet = a.bText;
    s->cPicture = a.cPicture;
    RT_LINE();
    s->cCaption = a.bText.isBlock() ? rt::Value(s->textOf(rt::eval(a.bText))) : rt::Value("");
    s->oFont = a.oFont.objectAs<TFont>();
    s->lUpdate = a.lUpdate.asLogical();
    s->lDrag = a.lDesign.asLogical();
    // Without a size the label is as wide as its text at six pixels a letter, 15 high.
    const std::int64_t width = a.nWidth.isNumber()
                                   ? a.nWidth.asInteger()
                                   : 6 * static_cast<std::int64_t>(s->cCaption.asString().size()) - 4;
    const std::int64_t height = a.nHeight.isNumber() ? a.nHeight.asInteger() : 15;
    s->place(a.nRow, a.nCol, width, height, a.lPixels.asLogical(), true);
    DWORD style = WS_CHILD | WS_VISIBLE;
    if (a.lCentered.asLogical())
        style |= SS_CENTER;
    else if (a.lRight.asLogical())
        style |= SS_RIGHT;
    if (a.lBorder.asLogical()) style |= WS_BORDER;
    rt::Value text = a.nClrText;
    if (!text.isNumber() && owner && owner->nClrText) text = static_cast<long long>(*owner->nClrText);
    const rt::Value back =
        a.nClrBack.isNumber() ? a.nClrBack : rt::Value(static_cast<long long>(GetSysColor(COLOR_BTNFACE)));
    s->SetColor(text, back);
    s->Register(CS_VREDRAW | CS_HREDRAW);
    s->createOrDefine(style);
    return s;
}

rt::Value TSay::Initiate(HWND hDlg) {
    TControl::Initiate(hDlg);
    if (!hWnd) return {};
    if (!cCaption.isNil())
        SetWindowTextA(hWnd, rt::CVALTOCHAR(cCaption).c_str());
    else
        cCaption = GetText();
    return {};
}

rt::Value TSay::HandleEvent(UINT nMsg, WPARAM w, LPARAM l) {
    switch (nMsg) {
    case WM_LBUTTONDOWN:
        return LButtonDown(HIWORD(l), LOWORD(l), w);
    case WM_NCHITTEST:
        // Statics are transparent to the mouse unless the label wants clicks.
        if (lDrag || lWantClick) return static_cast<long long>(DefWindowProcA(hWnd, nMsg, w, l));
        return {};
    default:
        return TControl::HandleEvent(nMsg, w, l);
    }
}

void TSay::Refresh() {
    if (bGet.isBlock()) {
        cCaption = textOf(rt::eval(bGet));
        if (hWnd) SetWindowTextA(hWnd, cCaption.asString().c_str());
    }
    TControl::Refresh();
}

} // namespace dialogs
