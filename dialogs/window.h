// Window objects and how messages reach them.
//
// Three routes: a modal dialog's own window finds its object through the modal-dialog stack; a
// linked window (controls, modeless dialogs) is subclassed with the window procedure of its slot
// in the window-object table, which carries the slot number to the common procedure; in both
// cases the object's HandleEvent answers. A result of no value means default processing.
//
// Each slot has its own window procedure, made at compile time (no executable memory is
// written): slotProcedure(n) serves slot n, for n in 1..1999.
#pragma once

#include "dialogs/common.h"
#include "dialogs/gdiobjects.h"

#include <memory>
#include <optional>

namespace dialogs {

class TDialog;

class TWindow : public rt::Object {
  public:
    static const rt::ClassInfo kClass;
    explicit TWindow(const rt::ClassInfo& cls = kClass) : rt::Object(cls) {}

    // ---- members
    HWND hWnd = nullptr;         // the window; 0 when none
    WNDPROC nOldProc = nullptr;  // the procedure Link replaced; null when not subclassed
    int nId = 0;                 // identifier of a template item; 0 when none
    std::weak_ptr<TWindow> oWnd; // owner: the dialog of a control, the owner of a dialog
    rt::Value cCaption;          // text, or nil
    std::int64_t nTop = 0, nLeft = 0, nBottom = 0, nRight = 0;
    rt::Value nStyle; // window style of a generated template item or dialog (nil: default)
    std::optional<COLORREF> nClrText, nClrPane;
    std::shared_ptr<TBrush> oBrush;
    std::shared_ptr<TFont> oFont;
    rt::Value oCursor, oDragCursor, oIcon, oMenu, oPopup, oSysMenu, oVScroll, oHScroll;
    rt::Value bValid, bWhen;                             // valid and enable tests
    rt::Value bLClicked, bRClicked, bMoved, bPainted;    // mouse, move and paint hooks
    rt::Value bGotFocus, bLostFocus, bKeyDown, bKeyChar; // focus and key hooks
    rt::Value cMsg, nHelpId;
    bool lActive = true, lFocused = false, lCancel = false, lCaptured = false, lDrag = false;
    bool lVisible = false, lValidating = false;
    int nLastKey = 0;  // last navigation key seen by a control of this dialog
    HDC hDC = nullptr; // paint device context between BeginPaint and EndPaint
    PAINTSTRUCT cPS{};
    HDROP hDrop = nullptr; // a file drop not finished yet

    // ---- registry and subclassing
    // Enters the object in the window-object table (first free slot, else a new one) and, with
    // the flag, subclasses the window with the slot's procedure.
    void Link(bool lSubclass = true);
    // Restores the replaced procedure and frees the slot.
    void UnLink();
    // Registers the platform window class named after the object's class, once per class.
    void Register(UINT nClassStyle = CS_VREDRAW | CS_HREDRAW);

    // ---- the generic dispatch: each message to its method (nil: default processing)
    virtual rt::Value HandleEvent(UINT nMsg, WPARAM nWParam, LPARAM nLParam);

    virtual rt::Value Destroy();
    virtual rt::Value Moved(WPARAM nType, int nX, int nY);
    virtual rt::Value ReSize(WPARAM nType, int nWidth, int nHeight);
    virtual rt::Value GotFocus(HWND hWndLoseFocus);
    virtual rt::Value LostFocus(HWND hWndGetFocus);
    virtual rt::Value BeginPaint();
    virtual rt::Value Paint();
    virtual rt::Value EndPaint();
    virtual rt::Value Close(WPARAM nResult);
    virtual rt::Value QueryEndSession();
    virtual rt::Value EraseBkGnd(HDC hDC);
    virtual rt::Value GetMinMaxInfo(LPARAM) { return {}; }
    virtual rt::Value DrawItem(WPARAM nIdCtl, LPARAM pDrawItem);
    virtual rt::Value MeasureItem(WPARAM nIdCtl, LPARAM pMeasureItem);
    virtual rt::Value QueryDragIcon() { return {}; }
    virtual rt::Value CommNotify(WPARAM, LPARAM) { return {}; }
    virtual rt::Value Notify(WPARAM, LPARAM) { return {}; }
    virtual rt::Value NcActivate(bool) { return {}; }
    virtual rt::Value GetDlgCode(WPARAM nKey);
    virtual rt::Value NcMouseMove(WPARAM, int, int) { return {}; }
    virtual rt::Value KeyDown(WPARAM nKey, LPARAM nFlags);
    virtual rt::Value KeyChar(WPARAM nKey, LPARAM nFlags);
    virtual rt::Value Command(WPARAM nWParam, LPARAM nLParam);
    virtual rt::Value SysCommand(WPARAM nType, LPARAM nLParam);
    virtual rt::Value Timer(WPARAM, LPARAM) { return {}; }
    virtual rt::Value HScroll(WPARAM, LPARAM) { return {}; }
    virtual rt::Value VScroll(WPARAM, LPARAM) { return {}; }
    virtual rt::Value InitMenuPopup(WPARAM, int, bool) { return {}; }
    virtual rt::Value MenuSelect(int, int, LPARAM) { return {}; }
    virtual rt::Value MenuChar(int, int, LPARAM) { return {}; }
    virtual rt::Value CtlColor(HWND hWndChild, HDC hDCChild);
    virtual rt::Value MouseMove(int, int, WPARAM) { return {}; }
    virtual rt::Value LButtonDown(int nRow, int nCol, WPARAM nKeyFlags);
    virtual rt::Value LButtonUp(int, int, WPARAM) { return {}; }
    virtual rt::Value LDblClick(int, int, WPARAM) { return {}; }
    virtual rt::Value RButtonDown(int nRow, int nCol, WPARAM nKeyFlags);
    virtual rt::Value RButtonUp(int, int, WPARAM) { return {}; }
    virtual rt::Value MButtonDown(int, int, WPARAM) { return {}; }
    virtual rt::Value MButtonUp(int, int, WPARAM) { return {}; }
    virtual rt::Value MouseWheel(int, int, int, int) { return {}; }
    virtual rt::Value DropFiles(HDROP hDrop);
    // The window becomes active: the palettes of its bitmaps are realised in the foreground
    // (true); nil when it shows none.
    virtual rt::Value QueryNewPalette();
    // Another window changed the system palette: the bitmaps' palettes are realised again in the
    // background; nil when the change came from this window or it shows no palette.
    virtual rt::Value PaletteChanged(WPARAM hWndPalChg);
    virtual rt::Value DdeInitiate(WPARAM, int, int) { return {}; }
    virtual rt::Value DdeTerminate(WPARAM) { return {}; }
    virtual rt::Value DdeAck(WPARAM, LPARAM) { return {}; }
    virtual rt::Value DdeExecute(WPARAM, LPARAM) { return {}; }
    virtual rt::Value HelpF1() { return {}; }
    virtual rt::Value DropOver(int, int, LPARAM) { return {}; }
    virtual rt::Value AsyncSelect(WPARAM, LPARAM) { return {}; }
    virtual rt::Value TaskBar(WPARAM, LPARAM) { return {}; }

    // ---- colours, fonts and state
    // Stores the colours (nil keeps a colour unset), ends the previous brush and keeps the given
    // one or a shared solid brush of the background colour.
    void SetColor(const rt::Value& nClrFore, const rt::Value& nClrBack,
                  std::shared_ptr<TBrush> oNewBrush = {});
    virtual void SetFont(const std::shared_ptr<TFont>& oNewFont);
    virtual std::shared_ptr<TFont> GetFont();
    virtual void Enable();
    virtual void Disable();
    virtual void Refresh();
    virtual void SetFocus();
    virtual bool End(const rt::Value& nResult = {});
    void SetText(const rt::Value& text);
    std::string GetText() const;

    std::shared_ptr<TWindow> owner() const { return oWnd.lock(); }
    std::shared_ptr<TDialog> ownerDialog() const;

    // Dynamic calls: Disable, Enable, Refresh, End, SetFocus, SetText, GetText, Show, Hide,
    // hWnd, nId; subclasses add their own.
    rt::Value send(std::string_view method, rt::Args args) override;

  protected:
    std::shared_ptr<TWindow> self() { return std::static_pointer_cast<TWindow>(shared_from_this()); }
};

// ---- routines of the registry
// The object in the window-object table whose window is hWnd, or nil.
rt::Value OWNDFROMHWND(HWND hWnd);
std::shared_ptr<TWindow> windowFromHandle(HWND hWnd);
// The window-object table itself: entries are window objects or 0 (free).
rt::ArrayPtr GETALLWIN();
// The object whose window is the main application window, or nil.
rt::Value WNDMAIN();
// The main application window (none by default; a program with a main window sets it).
void setMainWindow(HWND hWnd);
HWND mainWindow();

// Installs slot nSlot's procedure as the window procedure of hWnd; answers the previous one.
WNDPROC XCHANGEPROC(HWND hWnd, int nSlot);
// Puts nOldProc back; answers the replaced procedure.
WNDPROC RESTPROC(HWND hWnd, WNDPROC nOldProc);
// Slot procedures are permanent and stay with their slot: nothing to release.
inline void XFREEPROC(WNDPROC) {}
// The procedure of slot n (1..1999), null outside the pool.
WNDPROC slotProcedure(int nSlot);
constexpr int kSlotProcedures = 2000; // numbers 0..1999; 0 is never used

// ---- the bitmap-palette table
// The bitmaps with a palette, each with the window that shows it (null until it is bound),
// keyed by the object that owns them. The palette messages realise those palettes again.
void recordBitmapPalette(const void* owner, HWND hWnd, HBITMAP hBitmap, HPALETTE hPalette);
void forgetBitmapPalette(const void* owner);
// Realises the palettes of the table's windows that are hTop or lie inside it (as background
// palettes when lBackground) and repaints the windows whose colours changed. Answers the number
// of palettes realised (0: hTop shows none).
int realiseBitmapPalettes(HWND hTop, bool lBackground);

// The default window: the dialog most recently made by TDialog::New, given to control
// constructors that receive no owner.
std::shared_ptr<TWindow> defaultWindow();
void setDefaultWindow(const std::shared_ptr<TWindow>& w);

// ---- modal dialogs
// Runs a modal dialog from a named template (text, or number as resource identifier) of
// module, owned by hOwner; its messages reach oDlg through the modal-dialog stack. Answers the
// end code (-1 when the platform could not create the dialog).
INT_PTR DIALOGBOX(HINSTANCE hInst, const rt::Value& template_, HWND hOwner,
                  const std::shared_ptr<TDialog>& oDlg);
// The same from an in-memory template (the bytes of TDialog::cToChar); an empty template
// creates nothing and answers 0.
INT_PTR DIALOGBOXINDIRECT(HINSTANCE hInst, const std::string& template_, HWND hOwner,
                          const std::shared_ptr<TDialog>& oDlg);
constexpr int kModalStackSize = 50;
// The number of entries on the modal-dialog stack (for tests and diagnostics).
int modalStackDepth();
// The dialog object bound to a modal dialog window through the stack, or null.
std::shared_ptr<TDialog> modalDialogFromHandle(HWND hWnd);

// Modeless dialogs with controls are kept in a registry of this many entries.
constexpr int kModelessDialogs = 32;
bool registerModeless(const std::shared_ptr<TDialog>& oDlg); // false when the registry is full
void unregisterModeless(const TDialog* oDlg);
bool modelessSlotFree();
// The dialog procedure of modeless dialogs; messages before the dialog is linked are routed to
// the dialog being created.
INT_PTR CALLBACK modelessDialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
void setPendingModeless(const std::shared_ptr<TDialog>& oDlg);

// The result a handler's value gives the platform: numbers as they are, logicals 1 or 0.
LRESULT resultNumber(const rt::Value& v);

} // namespace dialogs
