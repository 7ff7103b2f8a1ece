// TDialog: a dialog from a template of the resource module or from an in-memory template,
// with the control objects bound to its items, run modally (or modelessly) by Activate.
#pragma once

#include "dialogs/window.h"

#include <vector>

namespace dialogs {

class TControl;

class TDialog : public TWindow {
  public:
    static const rt::ClassInfo kClass;
    TDialog() : TWindow(kClass) {}

    // ---- members (see also TWindow)
    rt::Value cResName;                               // template name; nil or empty: in-memory template
    rt::Value cResData;                               // a ready in-memory template, used instead of cToChar
    HMODULE hResources = nullptr;                     // module of cResName
    std::vector<std::shared_ptr<TControl>> aControls; // in registration order
    rt::Value nResult; // 0 after New, nil at Activate, the focused control while running, the end code
    bool lCentered = false, lModal = true, lModify = true, lResize16 = false, lVbx = false;
    rt::Value lHelpIcon; // nil: becomes true in Initiate (context-help button)
    rt::Value bInit, bStart;
    rt::Value bZip, bUnZip; // compressed-file progress (commands 15001 and 15000)
    std::weak_ptr<TControl> oCtlFocus;
    HWND hCtlFocus = nullptr;
    std::int64_t nPixWidth = 0, nPixHeight = 0; // New positions 18 and 19
    bool lWindowFont = false; // oFont is the font the platform made for the window (it dies with it)

    // New: 19 positional arguments, nil takes the default.
    struct NewArgs {
        rt::Value nTop, nLeft, nBottom, nRight; // 0, 0, 10, 40 (text cells unless lPixel)
        rt::Value cCaption;                     // nil keeps the template's caption
        rt::Value cResName;                     // template name
        rt::Value hResources;                   // module (number); default: current resource module
        rt::Value lVbx;                         // false
        rt::Value nStyle;                       // 0x80C80080
        rt::Value nClrText;                     // 0
        rt::Value nClrBack;                     // system colour COLOR_BTNFACE
        rt::Value oBrush;                       // a solid brush of the background colour
        rt::Value oWnd;                         // owner window object
        rt::Value lPixel;                       // false
        rt::Value oIcon, oFont, nHelpId;
        rt::Value nWidth, nHeight; // pixels; either non-zero forces the pixel flag
    };
    static std::shared_ptr<TDialog> New(const NewArgs& a = {});

    // Activate: 10 positional arguments; always answers nil (the end code is in nResult).
    struct ActivateArgs {
        rt::Value bLClicked, bMoved, bPainted;
        rt::Value lCentered; // false
        rt::Value bValid;    // evaluated with the dialog before it may end
        rt::Value lModal;    // true
        rt::Value bInit;     // evaluated with the dialog at initialisation
        rt::Value bRClicked;
        rt::Value bWhen;     // evaluated with the dialog first: false refuses the activation
        rt::Value lResize16; // false
    };
    rt::Value Activate(const ActivateArgs& a = {});

    rt::Value Initiate(HWND hWndFocus, HWND hWndDlg);
    // Asks the dialog to end with nResult (default 2): false when the valid test refused.
    bool End(const rt::Value& nResult = {}) override;
    rt::Value HandleEvent(UINT nMsg, WPARAM nWParam, LPARAM nLParam) override;
    rt::Value Command(WPARAM nWParam, LPARAM nLParam) override;
    rt::Value Close(WPARAM nResult) override;
    // Progress of a compression (command 15001) or decompression (15000): the block with the value.
    rt::Value Zip(LPARAM nLParam);
    rt::Value UnZip(int nPercent);
    rt::Value KeyChar(WPARAM nKey, LPARAM nFlags) override;
    rt::Value SysCommand(WPARAM nType, LPARAM nLParam) override;
    rt::Value EraseBkGnd(HDC hDC) override;
    rt::Value Display();
    rt::Value QueryEndSession() override;
    rt::Value Destroy() override;
    // Registers a control: an automatic identifier when it has none; framework error 2 for an
    // identifier already registered.
    void DefControl(const std::shared_ptr<TControl>& oControl);
    HWND GetItem(int nId) const;
    // The in-memory template (DLGTEMPLATE and one DLGITEMTEMPLATE per control, no font).
    // Captions longer than kMaxTemplateCaption characters are cut to that length.
    std::string cToChar(HWND hWndOwner) const;
    static constexpr std::size_t kMaxTemplateCaption = 112;
    void SetFont(const std::shared_ptr<TFont>& oNewFont) override;
    std::shared_ptr<TFont> GetFont() override;
    void Help95();
    // The control registered with identifier nId, or null.
    std::shared_ptr<TControl> controlById(int nId) const;
    // Applies every control's when test (enable when true, disable otherwise).
    void AEvalWhen();

    // The number of Activate calls in progress.
    static int nestingCount();

    rt::Value send(std::string_view method, rt::Args args) override;

    std::shared_ptr<TDialog> selfDialog() { return std::static_pointer_cast<TDialog>(shared_from_this()); }
};

} // namespace dialogs
