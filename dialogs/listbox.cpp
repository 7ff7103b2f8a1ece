#include "controls.h"

namespace dialogs {

const rt::ClassInfo TListBox::kClass{"TLISTBOX", &TControl::kClass};

std::shared_ptr<TListBox> TListBox::New(const NewArgs& a) {
    rt::Frame frame("TLISTBOX:NEW",
                    {&a.nRow,     &a.nCol,         &a.bSetGet, &a.aItems,   &a.nWidth,   &a.nHeight,
                     &a.bChange,  &a.oWnd,         &a.bValid,  &a.nClrFore, &a.nClrBack, &a.lPixel,
                     &a.lDesign,  &a.bLDblClicked, &a.oFont,   &a.cMsg,     &a.lUpdate,  &a.bWhen,
                     &a.aBitmaps, &a.bDrawItem,    &a.lMulti,  &a.lSort});
    auto l = std::make_shared<TListBox>();
    auto owner = a.oWnd.objectAs<TWindow>();
    if (!owner) owner = defaultWindow();
    l->oWnd = owner;
    l->bSetGet = a.bSetGet;
    l->aItems = a.aItems.isArray() ? a.aItems.asArray() : rt::makeArray();
    l->bChange = a.bChange;
    l->bValid = a.bValid;
    l->lDrag = a.lDesign.asLogical();
    l->bLDblClicked = a.bLDblClicked;
    l->oFont = a.oFont.objectAs<TFont>();
    l->cMsg = a.cMsg;
    l->lUpdate = a.lUpdate.asLogical();
    l->bWhen = a.bWhen;
    l->aBitmaps = a.aBitmaps;
    l->bDrawItem = a.bDrawItem;
    l->lMulti = a.lMulti.asLogical();
    l->lSort = a.lSort.asLogical();
    const std::int64_t width = a.nWidth.isNumber() ? a.nWidth.asInteger() : 40;
    const std::int64_t height = a.nHeight.isNumber() ? a.nHeight.asInteger() : 40;
    l->place(a.nRow, a.nCol, width, height, a.lPixel.asLogical(), true);
    l->SetColor(
        a.nClrFore.isNumber() ? a.nClrFore : rt::Value(static_cast<long long>(GetSysColor(COLOR_WINDOWTEXT))),
        a.nClrBack.isNumber() ? a.nClrBack : rt::Value(static_cast<long long>(GetSysColor(COLOR_WINDOW))));
    l->Register(CS_VREDRAW | CS_HREDRAW);
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_USETABSTOPS;
    if (l->lSort) style |= LBS_SORT;
    if (l->lMulti) style |= LBS_MULTIPLESEL;
    l->createOrDefine(style);
    return l;
}

rt::Value TListBox::Initiate(HWND hDlg) {
    TControl::Initiate(hDlg);
    if (!hWnd) return {};
    for (const rt::Value& item : aItems->items)
        SendMessageA(hWnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(rt::CVALTOCHAR(item).c_str()));
    const rt::Value bound = rt::eval(bSetGet);
    int selection = 0;
    for (std::size_t i = 1; i <= aItems->size(); ++i) {
        if (sameItemText(aItems->at(i), bound)) {
            selection = static_cast<int>(i) - 1;
            break;
        }
    }
    SendMessageA(hWnd, LB_SETCURSEL, static_cast<WPARAM>(selection), 0);
    return {};
}

rt::Value TListBox::VarGet() {
    const auto selection = SendMessageA(hWnd, LB_GETCURSEL, 0, 0);
    if (selection == LB_ERR) return {};
    return aItems->at(static_cast<std::size_t>(selection) + 1);
}

rt::Value TListBox::Change() {
    const rt::Value self(shared_from_this());
    rt::Frame frame("TLISTBOX:CHANGE", {&self});
    const rt::Value value = VarGet();
    if (!value.isNil()) rt::evalWith(bSetGet, value);
    RT_LINE();
    if (bChange.isBlock()) rt::evalWith(bChange, self);
    return {};
}

} // namespace dialogs
