#include "controls.h"

namespace dialogs {

const rt::ClassInfo TComboBox::kClass{"TCOMBOBOX", &TControl::kClass};
const rt::ClassInfo TGet::kClass{"TGET", &TControl::kClass};

std::shared_ptr<TComboBox> TComboBox::ReDefine(const ReDefineArgs& a) {
    rt::Frame frame("TCOMBOBOX:REDEFINE",
                    {&a.nId, &a.bSetGet, &a.aItems, &a.oWnd, &a.nHelpId, &a.bValid, &a.bChange, &a.nClrText,
                     &a.nClrBack, &a.cMsg, &a.lUpdate, &a.bWhen, &a.aBitmaps, &a.bDrawItem, &a.nStyle,
                     &a.cEditPicture, &a.bEditChange});
    auto c = std::make_shared<TComboBox>();
    c->bSetGet = a.bSetGet;
    c->aItems = a.aItems.isArray() ? a.aItems.asArray() : rt::makeArray();
    c->nHelpId = a.nHelpId;
    c->bValid = a.bValid;
    c->bChange = a.bChange;
    c->cMsg = a.cMsg;
    c->lUpdate = a.lUpdate.asLogical();
    c->bWhen = a.bWhen;
    c->aBitmaps = a.aBitmaps;
    c->bDrawItem = a.bDrawItem;
    c->nStyle = a.nStyle.isNumber() ? a.nStyle : rt::Value(CBS_DROPDOWNLIST);
    c->nAt = 0;
    c->lOwnerDraw = a.aBitmaps.isArray();
    const rt::Value text =
        a.nClrText.isNumber() ? a.nClrText : rt::Value(static_cast<long long>(GetSysColor(COLOR_WINDOWTEXT)));
    const rt::Value back =
        a.nClrText.isNil() ? rt::Value(static_cast<long long>(GetSysColor(COLOR_WINDOW))) : a.nClrBack;
    c->SetColor(text, back);
    if (c->nStyle.asInteger() & 2) {
        // The companion edit field; it comes to life only when the combo box has an edit child.
        auto get = std::make_shared<TGet>();
        get->bSetGet = c->bSetGet;
        get->oWnd = c;
        get->oCombo = c;
        get->nHelpId = c->nHelpId;
        get->cPicture = a.cEditPicture;
        get->bChange = a.bEditChange;
        get->nClrText = c->nClrText;
        get->nClrPane = c->nClrPane;
        c->oGet = get;
        c->aControls.push_back(get);
    }
    c->Redefine(static_cast<int>(a.nId.asInteger()), a.oWnd.objectAs<TWindow>());
    return c;
}

std::shared_ptr<TComboBox> TComboBox::New(const NewArgs& a) {
    rt::Frame frame("TCOMBOBOX:NEW",
                    {&a.nRow, &a.nCol, &a.bSetGet, &a.aItems, &a.nWidth, &a.nHeight, &a.oWnd});
    // Everything but the placement is what ReDefine stores; without an owner it registers nothing.
    auto c = ReDefine({.bSetGet = a.bSetGet,
                       .aItems = a.aItems,
                       .nHelpId = a.nHelpId,
                       .bValid = a.bValid,
                       .bChange = a.bChange,
                       .nClrText = a.nClrText,
                       .nClrBack = a.nClrBack,
                       .cMsg = a.cMsg,
                       .lUpdate = a.lUpdate,
                       .bWhen = a.bWhen,
                       .aBitmaps = a.aBitmaps,
                       .bDrawItem = a.bDrawItem,
                       .nStyle = a.nStyle,
                       .cEditPicture = a.cEditPicture,
                       .bEditChange = a.bEditChange});
    auto owner = a.oWnd.objectAs<TWindow>();
    if (!owner) owner = defaultWindow();
    c->oWnd = owner;
    c->oFont = a.oFont.objectAs<TFont>();
    c->lDrag = a.lDesign.asLogical();
    const std::int64_t width = a.nWidth.isNumber() ? a.nWidth.asInteger() : 60;
    const std::int64_t height = a.nHeight.isNumber() ? a.nHeight.asInteger() : 100;
    c->place(a.nRow, a.nCol, width, height, a.lPixel.asLogical(), true);
    c->createOrDefine(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL |
                      static_cast<DWORD>(c->nStyle.asInteger()));
    return c;
}

int TComboBox::find(const rt::Value& text) const {
    for (std::size_t i = 1; i <= aItems->size(); ++i)
        if (sameItemText(aItems->at(i), text)) return static_cast<int>(i);
    return 0;
}

void TComboBox::store(const rt::Value& v) {
    rt::evalWith(bSetGet, v);
}

rt::Value TComboBox::Initiate(HWND hDlg) {
    TControl::Initiate(hDlg);
    if (!hWnd) return {};
    const rt::Value self(shared_from_this());
    rt::Frame frame("TCOMBOBOX:INITIATE", {&self});
    RT_LINE();
    Default();
    if (oGet) {
        if (HWND edit = GetWindow(hWnd, GW_CHILD)) oGet->Attach(edit);
    }
    RT_LINE();
    Refresh();
    return {};
}

void TComboBox::Default() {
    rt::Value start = rt::eval(bSetGet);
    if (start.isNil()) {
        start = aItems->size() ? aItems->at(1) : rt::Value("");
        store(start);
    }
    for (const rt::Value& item : aItems->items)
        SendMessageA(hWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(rt::CVALTOCHAR(item).c_str()));
    nAt = start.isNumber() ? static_cast<int>(start.asInteger()) : find(start);
    if (nAt == 0) nAt = 1;
    Set(start);
}

void TComboBox::Refresh() {
    Set(rt::eval(bSetGet));
    TControl::Refresh();
}

void TComboBox::Select(int n) {
    nAt = n;
    if (hWnd) SendMessageA(hWnd, CB_SETCURSEL, static_cast<WPARAM>(n - 1), 0);
}

void TComboBox::Set(const rt::Value& value) {
    if (value.isNumber()) {
        const int n = static_cast<int>(value.asInteger());
        Select(n == 0 ? 1 : n);
        return;
    }
    if (const int position = find(value)) {
        Select(position);
        return;
    }
    // Text not in the list: it becomes the bound value and the shown text.
    const std::string text = rt::CVALTOCHAR(value);
    store(text);
    if (hWnd) SetWindowTextA(hWnd, text.c_str());
}

rt::Value TComboBox::Change() {
    const rt::Value self(shared_from_this());
    rt::Frame frame("TCOMBOBOX:CHANGE", {&self});
    const std::string text = GetText();
    const int position = static_cast<int>(SendMessageA(hWnd, CB_GETCURSEL, 0, 0)) + 1;
    const rt::Value current = rt::eval(bSetGet);
    if (position == nAt && !rt::EMPTY(current)) return {};
    nAt = position;
    if (position >= 1 && static_cast<std::size_t>(position) <= aItems->size()) {
        RT_LINE();
        store(current.isNumber() ? rt::Value(position) : aItems->at(static_cast<std::size_t>(position)));
    }
    if (oGet) oGet->SetValue(rt::eval(bSetGet));
    RT_LINE();
    if (bChange.isBlock()) rt::evalWith(bChange, self, text);
    return {};
}

rt::Value TComboBox::LostFocus(HWND hWndGetFocus) {
    const rt::Value self(shared_from_this());
    rt::Frame frame("TCOMBOBOX:LOSTFOCUS", {&self});
    const auto selection = SendMessageA(hWnd, CB_GETCURSEL, 0, 0);
    RT_LINE();
    TControl::LostFocus(hWndGetFocus);
    if (selection != CB_ERR) {
        nAt = static_cast<int>(selection) + 1;
        RT_LINE();
        store(rt::eval(bSetGet).isNumber() ? rt::Value(nAt) : aItems->at(static_cast<std::size_t>(nAt)));
    } else {
        store(GetText());
    }
    return {};
}

rt::Value TComboBox::VarGet() {
    const auto selection = SendMessageA(hWnd, CB_GETCURSEL, 0, 0);
    if (selection == CB_ERR) return GetText();
    nAt = static_cast<int>(selection) + 1;
    return aItems->at(static_cast<std::size_t>(nAt));
}

bool TComboBox::lValid() {
    if (!bValid.isBlock()) return true;
    const rt::Value v = rt::evalWith(bValid, oGet ? rt::Value(oGet) : rt::Value());
    return !(v.isLogical() && !v.asLogical());
}

rt::Value TComboBox::Destroy() {
    if (aBitmaps.isArray())
        for (const rt::Value& b : aBitmaps.asArray()->items)
            if (b.isNumber() && b.asInteger()) DeleteObject(asHandle<HGDIOBJ>(b));
    if (oGet && oGet->hWnd) oGet->Destroy();
    return TControl::Destroy();
}

void TComboBox::EditLostFocus(HWND hWndGetFocus) {
    if (!oGet || !oGet->hWnd) return;
    const std::string text = oGet->GetText();
    const auto position =
        SendMessageA(hWnd, CB_FINDSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
    store(text);
    if (position != CB_ERR) SendMessageA(hWnd, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
    SetWindowTextA(oGet->hWnd, text.c_str());
    if (bValid.isBlock() && hWndGetFocus && GetParent(hWndGetFocus) == GetParent(hWnd) && !lValid())
        ::SetFocus(hWnd); // the focus goes back to the combo box
}

rt::Value TComboBox::send(std::string_view method, rt::Args args) {
    const std::string m = rt::UPPER(rt::Value(method));
    const rt::Value arg1 = args.empty() ? rt::Value() : args[0];
    if (m == "SET") return Set(arg1), rt::Value();
    if (m == "SELECT") return Select(static_cast<int>(arg1.asInteger())), rt::Value();
    if (m == "VARGET") return VarGet();
    if (m == "NAT") return nAt;
    return TControl::send(method, args);
}

// ---- TGet -------------------------------------------------------------------------------

void TGet::Attach(HWND hEdit) {
    hWnd = hEdit;
    Link();
}

rt::Value TGet::LostFocus(HWND hWndGetFocus) {
    TControl::LostFocus(hWndGetFocus);
    if (const auto combo = oCombo.lock()) combo->EditLostFocus(hWndGetFocus);
    return {};
}

void TGet::SetValue(const rt::Value& v) {
    if (hWnd) SetWindowTextA(hWnd, rt::CVALTOCHAR(v).c_str());
}

} // namespace dialogs
