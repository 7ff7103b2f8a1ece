// Control objects bound to the items of a dialog template by identifier (ReDefine), or placed
// by coordinates (New: an item of the in-memory template, or a window made at once when the
// dialog already has one). Each binds a platform control to the program's values and actions
// through code blocks.
#pragma once

#include "dialogs/dialog.h"

namespace dialogs {

class TControl : public TWindow {
  public:
    static const rt::ClassInfo kClass;
    explicit TControl(const rt::ClassInfo& cls = kClass) : TWindow(cls) {}

    rt::Value bSetGet; // get/set block: no argument reads the value, one argument stores it
    rt::Value bChange; // evaluated after a value change
    bool lUpdate = false;
    rt::Value nDlgCode;     // answer to WM_GETDLGCODE (nil: the platform's)
    LPARAM nDlgCodeMsg = 0; // the lParam (MSG pointer or 0) of the WM_GETDLGCODE being answered
    std::weak_ptr<TControl> oJump;

    // Automatic identifiers: the counter is increased and answered (101, 102, ...).
    static int nInitID;
    static int GetNewId();

    // The base form of ReDefine: identifier and owner; registers the window class and, with an
    // owner, the control with its dialog.
    void Redefine(int nId, const std::shared_ptr<TWindow>& oWnd);

    // Binds the object to the item nId of the dialog window: framework error 1 when the
    // template has no such item.
    virtual rt::Value Initiate(HWND hDlg);
    rt::Value HandleEvent(UINT nMsg, WPARAM nWParam, LPARAM nLParam) override;
    virtual rt::Value Click() { return {}; }
    virtual rt::Value Change() { return {}; }
    virtual rt::Value Colors(HDC hDC);
    virtual rt::Value HelpTopic() { return {}; }
    virtual rt::Value Display();
    virtual rt::Value KillFocus(HWND hWndGetFocus);
    virtual rt::Value FWLostFocus(HWND hWndGetFocus);
    virtual bool lValid();
    virtual void ForWhen();
    virtual void Default() {}
    rt::Value GotFocus(HWND hWndLoseFocus) override;
    rt::Value LostFocus(HWND hWndGetFocus) override;
    rt::Value GetDlgCode(WPARAM nKey) override;

    // The item of the in-memory template: style, extended style 0, rectangle, identifier,
    // class name, caption, no creation data, padded to 4 bytes.
    std::string cToChar();
    // The platform class of the template item ("BUTTON", "STATIC", ...).
    virtual std::string platformClass() const { return className(); }

    rt::Value send(std::string_view method, rt::Args args) override;

  protected:
    // For New: the rectangle (rows and columns are text cells unless lPixel), the style, and
    // registration with the dialog or a window made at once.
    void place(const rt::Value& nRow, const rt::Value& nCol, std::int64_t nWidth, std::int64_t nHeight,
               bool lPixel, bool lInclusive);
    void createOrDefine(DWORD style);
};

class TSay : public TControl {
  public:
    static const rt::ClassInfo kClass;
    TSay() : TControl(kClass) {}

    rt::Value bGet;     // text block
    rt::Value cPicture; // format picture, or nil
    bool l3D = false, lWantClick = false;

    struct ReDefineArgs {
        rt::Value nId, bText, oWnd, cPicture, nClrText, nClrBack, lUpdate, oFont;
    };
    static std::shared_ptr<TSay> ReDefine(const ReDefineArgs& a);

    struct NewArgs {
        rt::Value nRow, nCol, bText, oWnd, cPicture, oFont, lCentered, lRight, lBorder, lPixels, nClrText,
            nClrBack, nWidth, nHeight, lDesign, lUpdate, lShaded, lBox, lRaised;
    };
    static std::shared_ptr<TSay> New(const NewArgs& a);

    rt::Value Initiate(HWND hDlg) override;
    rt::Value HandleEvent(UINT nMsg, WPARAM nWParam, LPARAM nLParam) override;
    void Refresh() override;
    std::string platformClass() const override { return "STATIC"; }

  private:
    std::string textOf(const rt::Value& v) const;
};

class TBitmap : public TControl {
  public:
    static const rt::ClassInfo kClass;
    TBitmap() : TControl(kClass) {}
    ~TBitmap() override { forgetBitmapPalette(this); }

    rt::Value cResName, cBmpFile;
    HBITMAP hBitmap = nullptr;
    HPALETTE hPalette = nullptr;
    bool lStretch = false, lTransparent = false;
    rt::Value lScroll;
    int nX = 0, nY = 0, nOldX = 0, nOldY = 0, nZoom = 1, nVStep = 1, nHStep = 1;
    rt::ArrayPtr aHotAreas = rt::makeArray();

    struct ReDefineArgs {
        rt::Value nId, cResName, cBmpFile, oWnd, bLClicked, bRClicked, lScroll, lStretch, oCursor, cMsg,
            lUpdate, bWhen, bValid, lTransparent;
    };
    static std::shared_ptr<TBitmap> ReDefine(const ReDefineArgs& a);

    // New: by coordinates (an item of class "TBITMAP"); bordered unless lNoBorder.
    struct NewArgs {
        rt::Value nRow, nCol, nWidth, nHeight, cResName, cBmpFile, lNoBorder, oWnd, bLClicked, bRClicked,
            lScroll, lStretch, oCursor, cMsg, lUpdate, bWhen, lPixel, bValid, lDesign, lTransparent;
    };
    static std::shared_ptr<TBitmap> New(const NewArgs& a);

    bool LoadImage(const rt::Value& cResName = {}, const rt::Value& cBmpFile = {});
    rt::Value Initiate(HWND hDlg) override;
    void Default() override;
    rt::Value Display() override;
    rt::Value Paint() override;
    rt::Value EraseBkGnd(HDC hDC) override;
    rt::Value Destroy() override;
    // Replaces, in the bitmap itself, every pixel of the top-left pixel's colour by the
    // background colour (when they differ). Answers whether the bitmap changed.
    bool ReplaceKeyColour();
};

class TGet;

class TComboBox : public TControl {
  public:
    static const rt::ClassInfo kClass;
    TComboBox() : TControl(kClass) {}

    rt::ArrayPtr aItems = rt::makeArray();
    int nAt = 0; // 1-based current item, 0 when none
    bool lOwnerDraw = false;
    rt::Value aBitmaps, bDrawItem, bCloseUp;
    std::shared_ptr<TGet> oGet;                       // companion edit object (editable combo boxes)
    std::vector<std::shared_ptr<TControl>> aControls; // holds the companion

    struct ReDefineArgs {
        rt::Value nId, bSetGet, aItems, oWnd, nHelpId, bValid, bChange, nClrText, nClrBack, cMsg, lUpdate,
            bWhen, aBitmaps, bDrawItem, nStyle, cEditPicture, bEditChange;
    };
    static std::shared_ptr<TComboBox> ReDefine(const ReDefineArgs& a);

    // New: by coordinates (an item of class "COMBOBOX"; the height includes the drop-down list).
    struct NewArgs {
        rt::Value nRow, nCol, bSetGet, aItems, nWidth, nHeight, oWnd, nHelpId, bChange, bValid, nClrText,
            nClrBack, lPixel, oFont, cMsg, lUpdate, bWhen, lDesign, aBitmaps, bDrawItem, nStyle, cEditPicture,
            bEditChange;
    };
    static std::shared_ptr<TComboBox> New(const NewArgs& a);

    rt::Value Initiate(HWND hDlg) override;
    void Default() override;
    void Refresh() override;
    void Set(const rt::Value& value);
    void Select(int n);
    rt::Value Change() override;
    rt::Value LostFocus(HWND hWndGetFocus) override;
    rt::Value VarGet();
    bool lValid() override;
    rt::Value Destroy() override;
    std::string platformClass() const override { return "COMBOBOX"; }
    rt::Value send(std::string_view method, rt::Args args) override;

    // The companion's lost-focus hook of an editable combo box.
    void EditLostFocus(HWND hWndGetFocus);

  private:
    int find(const rt::Value& text) const;
    void store(const rt::Value& v);
};

// The companion edit field of an editable combo box, as far as the combo box needs it.
class TGet : public TControl {
  public:
    static const rt::ClassInfo kClass;
    TGet() : TControl(kClass) {}
    rt::Value cPicture;
    std::weak_ptr<TComboBox> oCombo;
    void Attach(HWND hEdit);
    rt::Value LostFocus(HWND hWndGetFocus) override;
    void SetValue(const rt::Value& v);
    std::string platformClass() const override { return "EDIT"; }
};

class TButton : public TControl {
  public:
    static const rt::ClassInfo kClass;
    TButton() : TControl(kClass) {}

    rt::Value bAction;
    bool lDefault = false;    // the template gave the button BS_DEFPUSHBUTTON
    bool lProcessing = false; // re-entry guard of Click

    struct ReDefineArgs {
        rt::Value nId, bAction, oWnd, nHelpId, cMsg, lUpdate, bWhen, bValid, cPrompt, lCancel;
    };
    static std::shared_ptr<TButton> ReDefine(const ReDefineArgs& a);

    struct NewArgs {
        rt::Value nRow, nCol, cCaption, oWnd, bAction, nWidth, nHeight, nHelpId, oFont, lDefault, lPixel,
            lDesign, cMsg, lUpdate, bWhen, bValid, lCancel;
    };
    static std::shared_ptr<TButton> New(const NewArgs& a);

    rt::Value Initiate(HWND hDlg) override;
    rt::Value Click() override;
    rt::Value Colors(HDC) override { return 0; }
    rt::Value GotFocus(HWND hWndLoseFocus) override;
    rt::Value KillFocus(HWND hWndGetFocus) override;
    rt::Value KeyDown(WPARAM nKey, LPARAM nFlags) override;
    std::string platformClass() const override { return "BUTTON"; }
};

class TListBox : public TControl {
  public:
    static const rt::ClassInfo kClass;
    TListBox() : TControl(kClass) {}

    rt::ArrayPtr aItems = rt::makeArray();
    rt::Value bLDblClicked, aBitmaps, bDrawItem;
    bool lMulti = false, lSort = false;

    struct NewArgs {
        rt::Value nRow, nCol, bSetGet, aItems, nWidth, nHeight, bChange, oWnd, bValid, nClrFore, nClrBack,
            lPixel, lDesign, bLDblClicked, oFont, cMsg, lUpdate, bWhen, aBitmaps, bDrawItem, lMulti, lSort;
    };
    static std::shared_ptr<TListBox> New(const NewArgs& a);

    rt::Value Initiate(HWND hDlg) override;
    rt::Value Change() override;
    rt::Value VarGet();
    std::string platformClass() const override { return "LISTBOX"; }
};

// The upper-cased, trimmed comparison used to find a bound value among list items.
bool sameItemText(const rt::Value& item, const rt::Value& value);

} // namespace dialogs
