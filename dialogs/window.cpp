#include "window.h"

#include "deferred.h"
#include "dialog.h"
#include "msgbox.h"

#include <dde.h>

#include <array>
#include <new>
#include <set>
#include <vector>
#include <utility>

namespace dialogs {

const rt::ClassInfo TWindow::kClass{"TWINDOW", nullptr};

namespace {

rt::ArrayPtr& objectTable() {
    static rt::ArrayPtr table = rt::makeArray();
    return table;
}

HWND g_mainWindow = nullptr;
std::weak_ptr<TWindow> g_defaultWindow;

// ---- slot procedures --------------------------------------------------------------------

LRESULT commonProcedure(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam, int nSlot);

template <int N> LRESULT CALLBACK slotProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    return commonProcedure(hWnd, nMsg, wParam, lParam, N);
}

template <int... N>
constexpr std::array<WNDPROC, sizeof...(N)> makeSlotProcs(std::integer_sequence<int, N...>) {
    return {{&slotProc<N>...}};
}

constexpr std::array<WNDPROC, kSlotProcedures> kSlotProcs =
    makeSlotProcs(std::make_integer_sequence<int, kSlotProcedures>{});

// The result record: filled by the routing after HandleEvent has returned, read at once.
struct ResultRecord {
    rt::Value result;
    WNDPROC nOldProc = nullptr;
};
ResultRecord g_record;

const ResultRecord* route(UINT nMsg, WPARAM wParam, LPARAM lParam, int nSlot) {
    if (nSlot == 0) return nullptr;
    const rt::Value entry = objectTable()->at(static_cast<std::size_t>(nSlot));
    const auto object = entry.objectAs<TWindow>();
    if (!object) return nullptr;
    rt::Value result = object->HandleEvent(nMsg, wParam, lParam);
    g_record.result = std::move(result);
    g_record.nOldProc = object->nOldProc;
    return &g_record;
}

[[noreturn]] void escapedException() {
    rt::unrecoverable(9010, "Exception left a window procedure");
}

LRESULT commonProcedure(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam, int nSlot) {
    // A break raised by a handler never unwinds through the platform's frames.
    rt::BreakBarrier barrier;
    try {
        const ResultRecord* record = route(nMsg, wParam, lParam, nSlot);
        rt::Value result;
        WNDPROC oldProc = nullptr;
        if (record) {
            result = record->result;
            oldProc = record->nOldProc;
        }
        if (result.isNil())
            return oldProc ? CallWindowProcA(oldProc, hWnd, nMsg, wParam, lParam)
                           : DefWindowProcA(hWnd, nMsg, wParam, lParam);
        return resultNumber(result);
    } catch (const std::bad_alloc&) {
        rt::memoryLow();
    } catch (...) {
        escapedException();
    }
}

std::set<std::string>& registeredClasses() {
    static std::set<std::string> names;
    return names;
}

} // namespace

LRESULT resultNumber(const rt::Value& v) {
    if (v.isNumber()) return static_cast<LRESULT>(v.asInteger());
    if (v.isLogical()) return v.asLogical() ? 1 : 0;
    return 0;
}

// ---- registry routines ------------------------------------------------------------------

WNDPROC slotProcedure(int nSlot) {
    return nSlot >= 1 && nSlot < kSlotProcedures ? kSlotProcs[static_cast<std::size_t>(nSlot)] : nullptr;
}

WNDPROC XCHANGEPROC(HWND hWnd, int nSlot) {
    const WNDPROC proc = slotProcedure(nSlot);
    if (!proc) return nullptr;
    return reinterpret_cast<WNDPROC>(SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

WNDPROC RESTPROC(HWND hWnd, WNDPROC nOldProc) {
    return reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(nOldProc)));
}

rt::Value OWNDFROMHWND(HWND hWnd) {
    if (!hWnd) return {};
    for (const rt::Value& entry : objectTable()->items) {
        const auto w = entry.objectAs<TWindow>();
        if (w && w->hWnd == hWnd) return entry;
    }
    return {};
}

std::shared_ptr<TWindow> windowFromHandle(HWND hWnd) {
    return OWNDFROMHWND(hWnd).objectAs<TWindow>();
}

rt::ArrayPtr GETALLWIN() {
    return objectTable();
}

rt::Value WNDMAIN() {
    return OWNDFROMHWND(g_mainWindow);
}
void setMainWindow(HWND hWnd) {
    g_mainWindow = hWnd;
}
HWND mainWindow() {
    return g_mainWindow;
}

std::shared_ptr<TWindow> defaultWindow() {
    return g_defaultWindow.lock();
}
void setDefaultWindow(const std::shared_ptr<TWindow>& w) {
    g_defaultWindow = w;
}

// ---- TWindow: registry ------------------------------------------------------------------

void TWindow::Link(bool lSubclass) {
    if (!hWnd) return;
    auto& table = objectTable()->items;
    std::size_t slot = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const auto w = table[i].objectAs<TWindow>();
        if (w.get() == this) return; // already linked
        if (!slot && !table[i].isObject()) slot = i + 1;
    }
    if (slot) {
        table[slot - 1] = rt::Value(shared_from_this());
    } else {
        table.push_back(rt::Value(shared_from_this()));
        slot = table.size();
    }
    if (!lSubclass) return;
    if (static_cast<int>(slot) >= kSlotProcedures) {
        // The pool has no procedure for this slot: the window stays unsubclassed.
        frameworkMessageBox(nullptr, "Error from _XBPPProc", "wAt > 2000", MB_OK);
        return;
    }
    nOldProc = XCHANGEPROC(hWnd, static_cast<int>(slot));
}

void TWindow::UnLink() {
    auto& table = objectTable()->items;
    std::size_t slot = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const auto w = table[i].objectAs<TWindow>();
        if (w.get() == this) {
            slot = i + 1;
            break;
        }
    }
    WNDPROC replaced = nullptr;
    if (nOldProc && hWnd) {
        replaced = RESTPROC(hWnd, nOldProc);
        nOldProc = nullptr;
    }
    if (slot) table[slot - 1] = rt::Value(0);
    XFREEPROC(replaced);
}

void TWindow::Register(UINT nClassStyle) {
    const std::string name = className();
    if (registeredClasses().count(name)) return;
    if (!nClrPane) nClrPane = GetSysColor(COLOR_WINDOW);
    if (!oBrush) oBrush = TBrush::New({}, static_cast<long long>(*nClrPane));
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA known{};
    bool registered = GetClassInfoA(instance, name.c_str(), &known) != 0;
    if (!registered) {
        WNDCLASSA wc{};
        wc.style = nClassStyle | CS_GLOBALCLASS | CS_DBLCLKS;
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = instance;
        wc.hbrBackground = oBrush->hBrush;
        wc.hIcon = asHandle<HICON>(oIcon);
        wc.lpszClassName = name.c_str();
        registered = RegisterClassA(&wc) != 0;
        // The platform class keeps the brush handle for the life of the process.
        if (registered) ++oBrush->nCount;
    }
    if (registered) registeredClasses().insert(name);
}

// ---- TWindow: the generic dispatch ------------------------------------------------------

rt::Value TWindow::HandleEvent(UINT nMsg, WPARAM w, LPARAM l) {
    const int lo = LOWORD(l), hi = HIWORD(l);
    const auto slo = static_cast<short>(LOWORD(l)), shi = static_cast<short>(HIWORD(l));
    switch (nMsg) {
    case WM_DESTROY:
        return Destroy();
    case WM_MOVE:
        return Moved(w, lo, hi);
    case WM_SIZE:
        return ReSize(w, lo, hi);
    case WM_SETFOCUS:
        return GotFocus(reinterpret_cast<HWND>(w));
    case WM_KILLFOCUS:
        return LostFocus(reinterpret_cast<HWND>(w));
    case WM_PAINT:
        BeginPaint();
        Paint();
        return EndPaint();
    case WM_CLOSE:
        return Close(w);
    case WM_QUERYENDSESSION:
        return QueryEndSession();
    case WM_ERASEBKGND:
        return EraseBkGnd(reinterpret_cast<HDC>(w));
    case WM_GETMINMAXINFO:
        return GetMinMaxInfo(l);
    case WM_DRAWITEM:
        return DrawItem(w, l);
    case WM_MEASUREITEM:
        return MeasureItem(w, l);
    case WM_QUERYDRAGICON:
        return QueryDragIcon();
    case WM_COMMNOTIFY:
        return CommNotify(w, l);
    case WM_NOTIFY:
        return Notify(w, l);
    case WM_NCACTIVATE:
        return NcActivate(w != 0);
    case WM_GETDLGCODE:
        return GetDlgCode(w);
    case WM_NCMOUSEMOVE:
        return NcMouseMove(w, hi, lo);
    case WM_KEYDOWN:
        return KeyDown(w, l);
    case WM_CHAR:
        return KeyChar(w, l);
    case WM_COMMAND:
        return Command(w, l);
    case WM_SYSCOMMAND:
        return SysCommand(w, l);
    case WM_TIMER:
        return Timer(w, l);
    case WM_HSCROLL:
        return HScroll(w, l);
    case WM_VSCROLL:
        return VScroll(w, l);
    case WM_INITMENUPOPUP:
        return InitMenuPopup(w, lo, hi != 0);
    case WM_MENUSELECT:
        return MenuSelect(LOWORD(w), hi, l);
    case WM_MENUCHAR:
        return MenuChar(LOWORD(w), hi, l);
    // The child's handle travels at full pointer width in lParam.
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC:
        return CtlColor(reinterpret_cast<HWND>(l), reinterpret_cast<HDC>(w));
    case WM_MOUSEMOVE:
        return MouseMove(hi, lo, w);
    case WM_LBUTTONDOWN:
        return LButtonDown(hi, lo, w);
    case WM_LBUTTONUP:
        return LButtonUp(hi, lo, w);
    case WM_LBUTTONDBLCLK:
        return LDblClick(hi, lo, w);
    case WM_RBUTTONDOWN:
        return RButtonDown(hi, lo, w);
    case WM_RBUTTONUP:
        return RButtonUp(hi, lo, w);
    case WM_MBUTTONDOWN:
        return MButtonDown(hi, lo, w);
    case WM_MBUTTONUP:
        return MButtonUp(hi, lo, w);
    case WM_MOUSEWHEEL:
        return MouseWheel(LOWORD(w), static_cast<short>(HIWORD(w)), slo, shi);
    case WM_DROPFILES:
        return DropFiles(reinterpret_cast<HDROP>(w));
    case WM_QUERYNEWPALETTE:
        return QueryNewPalette();
    case WM_PALETTECHANGED:
        return PaletteChanged(w);
    case WM_DDE_INITIATE:
        return DdeInitiate(w, lo, hi);
    case WM_DDE_TERMINATE:
        return DdeTerminate(w);
    case WM_DDE_ACK:
        return DdeAck(w, l);
    case WM_DDE_EXECUTE:
        return DdeExecute(w, l);
    case WMX_DRAWITEM:
        return DrawItem(w, l);
    case WMX_HELPF1:
        return HelpF1();
    case WMX_DROPOVER:
        return DropOver(lo, hi, l);
    case WMX_ASYNCSELECT:
        return AsyncSelect(w, l);
    case WMX_TASKBAR:
        return TaskBar(w, l);
    default:
        return {};
    }
}

// ---- TWindow: handlers with behaviour of their own --------------------------------------

rt::Value TWindow::Destroy() {
    if (!hWnd) return {};
    if (oBrush) std::exchange(oBrush, nullptr)->End();
    if (oFont) std::exchange(oFont, nullptr)->End();
    if (oCursor.isObject()) rt::send(oCursor, "End");
    if (oDragCursor.isObject()) rt::send(oDragCursor, "End");
    if (oIcon.isObject()) rt::send(oIcon, "End");
    if (oMenu.isObject()) rt::send(oMenu, "Destroy");
    if (oSysMenu.isObject()) rt::send(oSysMenu, "End");
    if (hDrop) deferred::dragFinish(std::exchange(hDrop, nullptr));
    if (oVScroll.isObject()) rt::send(oVScroll, "End");
    if (oHScroll.isObject()) rt::send(oHScroll, "End");
    UnLink();
    if (hWnd == g_mainWindow) PostQuitMessage(0);
    if (defaultWindow().get() == this) g_defaultWindow.reset();
    hWnd = nullptr;
    return {};
}

rt::Value TWindow::Moved(WPARAM, int nX, int nY) {
    if (bMoved.isBlock()) rt::evalWith(bMoved, nY, nX);
    return {};
}

rt::Value TWindow::ReSize(WPARAM, int, int) {
    return {};
}

rt::Value TWindow::GotFocus(HWND) {
    lFocused = true;
    if (bGotFocus.isBlock()) rt::evalWith(bGotFocus, rt::Value(shared_from_this()));
    return {};
}

rt::Value TWindow::LostFocus(HWND) {
    lFocused = false;
    if (bLostFocus.isBlock()) rt::evalWith(bLostFocus, rt::Value(shared_from_this()));
    return {};
}

rt::Value TWindow::BeginPaint() {
    hDC = ::BeginPaint(hWnd, &cPS);
    return {};
}

rt::Value TWindow::Paint() {
    if (bPainted.isBlock()) rt::evalWith(bPainted, handleValue(hDC), rt::Value(shared_from_this()));
    return {};
}

rt::Value TWindow::EndPaint() {
    ::EndPaint(hWnd, &cPS);
    hDC = nullptr;
    return 0;
}

rt::Value TWindow::Close(WPARAM) {
    return {};
}
rt::Value TWindow::QueryEndSession() {
    return {};
}
rt::Value TWindow::EraseBkGnd(HDC) {
    return {};
}
rt::Value TWindow::DrawItem(WPARAM, LPARAM) {
    return {};
}
rt::Value TWindow::MeasureItem(WPARAM, LPARAM) {
    return {};
}
rt::Value TWindow::GetDlgCode(WPARAM) {
    return {};
}

rt::Value TWindow::KeyDown(WPARAM nKey, LPARAM nFlags) {
    if (bKeyDown.isBlock())
        return rt::evalWith(bKeyDown, static_cast<long long>(nKey), static_cast<long long>(nFlags),
                            rt::Value(shared_from_this()));
    return {};
}

rt::Value TWindow::KeyChar(WPARAM nKey, LPARAM nFlags) {
    if (bKeyChar.isBlock())
        return rt::evalWith(bKeyChar, static_cast<long long>(nKey), static_cast<long long>(nFlags),
                            rt::Value(shared_from_this()));
    return {};
}

rt::Value TWindow::Command(WPARAM, LPARAM) {
    return {};
}
rt::Value TWindow::SysCommand(WPARAM, LPARAM) {
    return {};
}

rt::Value TWindow::CtlColor(HWND hWndChild, HDC hDCChild) {
    if (!hWndChild || GetWindowLongPtrA(hWndChild, GWLP_ID) == -1 || GetParent(hWndChild) != hWnd) return {};
    const LRESULT brush = SendMessageA(hWndChild, WMX_COLORS, reinterpret_cast<WPARAM>(hDCChild), 0);
    // A child without an object of ours answers 0: default colours.
    if (!brush) return {};
    return static_cast<long long>(brush);
}

rt::Value TWindow::LButtonDown(int nRow, int nCol, WPARAM nKeyFlags) {
    if (bLClicked.isBlock())
        rt::evalWith(bLClicked, nRow, nCol, static_cast<long long>(nKeyFlags), rt::Value(shared_from_this()));
    return {};
}

rt::Value TWindow::RButtonDown(int nRow, int nCol, WPARAM nKeyFlags) {
    if (bRClicked.isBlock())
        rt::evalWith(bRClicked, nRow, nCol, static_cast<long long>(nKeyFlags), rt::Value(shared_from_this()));
    return {};
}

rt::Value TWindow::QueryNewPalette() {
    if (!hWnd || !realiseBitmapPalettes(hWnd, false)) return {};
    return true;
}

rt::Value TWindow::PaletteChanged(WPARAM hWndPalChg) {
    const HWND changer = reinterpret_cast<HWND>(hWndPalChg);
    // Our own realisation: answering it again would loop.
    if (!hWnd || changer == hWnd || IsChild(hWnd, changer)) return {};
    if (!realiseBitmapPalettes(hWnd, true)) return {};
    return 0;
}

// ---- the bitmap-palette table -----------------------------------------------------------

namespace {

struct PaletteEntry {
    const void* owner;
    HWND hWnd;
    HBITMAP hBitmap;
    HPALETTE hPalette;
};

std::vector<PaletteEntry>& paletteTable() {
    static std::vector<PaletteEntry> table;
    return table;
}

} // namespace

void recordBitmapPalette(const void* owner, HWND hWnd, HBITMAP hBitmap, HPALETTE hPalette) {
    forgetBitmapPalette(owner);
    if (hPalette) paletteTable().push_back({owner, hWnd, hBitmap, hPalette});
}

void forgetBitmapPalette(const void* owner) {
    auto& table = paletteTable();
    std::erase_if(table, [owner](const PaletteEntry& e) { return e.owner == owner; });
}

int realiseBitmapPalettes(HWND hTop, bool lBackground) {
    int realised = 0;
    // A copy: repainting may change the table.
    const std::vector<PaletteEntry> entries = paletteTable();
    for (const PaletteEntry& e : entries) {
        if (!e.hWnd || !hTop || (e.hWnd != hTop && !IsChild(hTop, e.hWnd))) continue;
        HDC dc = GetDC(e.hWnd);
        if (!dc) continue;
        const HPALETTE old = SelectPalette(dc, e.hPalette, lBackground ? TRUE : FALSE);
        const UINT changed = RealizePalette(dc);
        if (old) SelectPalette(dc, old, TRUE);
        ReleaseDC(e.hWnd, dc);
        if (changed != GDI_ERROR && changed > 0) InvalidateRect(e.hWnd, nullptr, TRUE);
        ++realised;
    }
    return realised;
}

rt::Value TWindow::DropFiles(HDROP h) {
    hDrop = h;
    return {};
}

// ---- TWindow: colours, fonts, state -----------------------------------------------------

void TWindow::SetColor(const rt::Value& nClrFore, const rt::Value& nClrBack,
                       std::shared_ptr<TBrush> oNewBrush) {
    if (nClrFore.isNumber())
        nClrText = static_cast<COLORREF>(nClrFore.asInteger());
    else
        nClrText.reset();
    if (nClrBack.isNumber())
        nClrPane = static_cast<COLORREF>(nClrBack.asInteger());
    else
        nClrPane.reset();
    if (oBrush) std::exchange(oBrush, nullptr)->End();
    if (oNewBrush)
        oBrush = std::move(oNewBrush);
    else if (nClrPane)
        oBrush = TBrush::New({}, static_cast<long long>(*nClrPane));
}

void TWindow::SetFont(const std::shared_ptr<TFont>& oNewFont) {
    if (!oNewFont) return;
    if (oFont != oNewFont) {
        if (oFont) oFont->End();
        oFont = oNewFont;
    }
    ++oFont->nCount;
    if (hWnd) SendMessageA(hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(oFont->hFont), TRUE);
}

std::shared_ptr<TFont> TWindow::GetFont() {
    if (!oFont && hWnd) {
        if (const auto font = reinterpret_cast<HFONT>(SendMessageA(hWnd, WM_GETFONT, 0, 0)))
            oFont = TFont::adopt(font);
    }
    return oFont;
}

void TWindow::Enable() {
    lActive = true;
    if (hWnd) EnableWindow(hWnd, TRUE);
}

void TWindow::Disable() {
    lActive = false;
    if (hWnd) EnableWindow(hWnd, FALSE);
}

void TWindow::Refresh() {
    if (hWnd) InvalidateRect(hWnd, nullptr, TRUE);
}

void TWindow::SetFocus() {
    if (hWnd) ::SetFocus(hWnd);
}

bool TWindow::End(const rt::Value&) {
    if (hWnd) SendMessageA(hWnd, WM_CLOSE, 0, 0);
    return true;
}

void TWindow::SetText(const rt::Value& text) {
    cCaption = rt::CVALTOCHAR(text);
    if (hWnd) SetWindowTextA(hWnd, cCaption.asString().c_str());
}

std::string TWindow::GetText() const {
    if (!hWnd) return cCaption.asString();
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(hWnd)) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(hWnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::shared_ptr<TDialog> TWindow::ownerDialog() const {
    return std::dynamic_pointer_cast<TDialog>(oWnd.lock());
}

rt::Value TWindow::send(std::string_view method, rt::Args args) {
    const std::string m = rt::UPPER(rt::Value(method));
    const rt::Value arg1 = args.empty() ? rt::Value() : args[0];
    if (m == "DISABLE") return Disable(), rt::Value();
    if (m == "ENABLE") return Enable(), rt::Value();
    if (m == "REFRESH") return Refresh(), rt::Value();
    if (m == "SETFOCUS") return SetFocus(), rt::Value();
    if (m == "END") return End(arg1);
    if (m == "SETTEXT") return SetText(arg1), rt::Value();
    if (m == "GETTEXT") return GetText();
    if (m == "SHOW" || m == "HIDE") {
        if (hWnd) ShowWindow(hWnd, m == "SHOW" ? SW_SHOWNA : SW_HIDE);
        return {};
    }
    if (m == "HWND") return handleValue(hWnd);
    if (m == "NID") return nId;
    if (m == "CCAPTION") return cCaption;
    return rt::Object::send(method, args);
}

} // namespace dialogs
