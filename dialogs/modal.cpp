// Modal dialogs and their stack; modeless dialogs and their registry.
#include "window.h"

#include "dialog.h"

#include <array>
#include <cstring>
#include <new>

namespace dialogs {

namespace {

struct StackEntry {
    HWND hWnd = nullptr;
    std::shared_ptr<TDialog> oDlg;
};

// Filled from the top: g_count starts at 50; the newest entry is the one at g_count.
std::array<StackEntry, kModalStackSize> g_stack;
int g_count = kModalStackSize;

INT_PTR dialogResult(const rt::Value& v) {
    if (v.isNumber()) return static_cast<INT_PTR>(v.asInteger());
    return v.asLogical() ? 1 : 0;
}

INT_PTR CALLBACK modalDialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    rt::BreakBarrier barrier;
    try {
        StackEntry* entry = nullptr;
        for (int i = g_count; i < kModalStackSize; ++i) {
            if (g_stack[static_cast<std::size_t>(i)].hWnd == hWnd) {
                entry = &g_stack[static_cast<std::size_t>(i)];
                break;
            }
        }
        if (!entry) {
            // The first message of a new dialog binds the newest entry.
            if (g_count >= kModalStackSize || g_stack[static_cast<std::size_t>(g_count)].hWnd) return 0;
            entry = &g_stack[static_cast<std::size_t>(g_count)];
            entry->hWnd = hWnd;
        }
        const std::shared_ptr<TDialog> dialog = entry->oDlg;
        if (!dialog) return 0;
        const rt::Value result = dialog->HandleEvent(
            nMsg, wParam, nMsg == WM_INITDIALOG ? reinterpret_cast<LPARAM>(hWnd) : lParam);
        return dialogResult(result);
    } catch (const std::bad_alloc&) {
        rt::memoryLow();
    } catch (...) {
        rt::unrecoverable(9010, "Exception left a window procedure");
    }
}

// Pushes an entry for one modal creation and pops it afterwards (the callers make sure an entry
// is free).
class ModalScope {
  public:
    explicit ModalScope(const std::shared_ptr<TDialog>& oDlg) : savedFlag_(rt::setEventLoopFlag(1)) {
        if (g_count > 0) {
            --g_count;
            g_stack[static_cast<std::size_t>(g_count)] = StackEntry{nullptr, oDlg};
            pushed_ = true;
        }
    }
    ~ModalScope() {
        if (pushed_) {
            g_stack[static_cast<std::size_t>(g_count)] = StackEntry{};
            ++g_count;
        }
        rt::setEventLoopFlag(savedFlag_);
    }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

  private:
    int savedFlag_;
    bool pushed_ = false;
};

// ---- modeless registry ------------------------------------------------------------------

std::array<std::shared_ptr<TDialog>, kModelessDialogs> g_modeless;
std::array<HWND, kModelessDialogs> g_modelessHandles{};
std::weak_ptr<TDialog> g_pending;

} // namespace

INT_PTR DIALOGBOX(HINSTANCE hInst, const rt::Value& template_, HWND hOwner,
                  const std::shared_ptr<TDialog>& oDlg) {
    // Without a free stack entry the dialog's messages could reach no object and nobody could
    // close it: it is not created (the caller raises framework error 3).
    if (g_count <= 0) return -1;
    ModalScope scope(oDlg);
    const LPCSTR name = template_.isString()
                            ? template_.asString().c_str()
                            : MAKEINTRESOURCEA(static_cast<WORD>(template_.asInteger() & 0xFFFF));
    return DialogBoxParamA(hInst, name, hOwner, modalDialogProc, 0);
}

INT_PTR DIALOGBOXINDIRECT(HINSTANCE hInst, const std::string& template_, HWND hOwner,
                          const std::shared_ptr<TDialog>& oDlg) {
    if (template_.empty()) return 0;
    if (g_count <= 0) return -1;
    ModalScope scope(oDlg);
    const HCURSOR oldCursor = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514) /* IDC_WAIT */));
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, template_.size());
    if (!memory) {
        SetCursor(oldCursor);
        return -1;
    }
    void* bytes = GlobalLock(memory);
    std::memcpy(bytes, template_.data(), template_.size());
    SetCursor(oldCursor);
    const INT_PTR result =
        DialogBoxIndirectParamA(hInst, static_cast<LPCDLGTEMPLATEA>(bytes), hOwner, modalDialogProc, 0);
    GlobalUnlock(memory);
    GlobalFree(memory);
    return result;
}

int modalStackDepth() {
    return kModalStackSize - g_count;
}

std::shared_ptr<TDialog> modalDialogFromHandle(HWND hWnd) {
    for (int i = g_count; i < kModalStackSize; ++i)
        if (hWnd && g_stack[static_cast<std::size_t>(i)].hWnd == hWnd)
            return g_stack[static_cast<std::size_t>(i)].oDlg;
    return nullptr;
}

bool modelessSlotFree() {
    for (const auto& d : g_modeless)
        if (!d) return true;
    return false;
}

bool registerModeless(const std::shared_ptr<TDialog>& oDlg) {
    for (std::size_t i = 0; i < g_modeless.size(); ++i) {
        if (g_modeless[i] == oDlg) return true;
        if (!g_modeless[i]) {
            g_modeless[i] = oDlg;
            g_modelessHandles[i] = oDlg->hWnd;
            return true;
        }
    }
    return false;
}

void unregisterModeless(const TDialog* oDlg) {
    for (std::size_t i = 0; i < g_modeless.size(); ++i) {
        if (g_modeless[i].get() == oDlg) {
            g_modeless[i].reset();
            g_modelessHandles[i] = nullptr;
        }
    }
}

void setPendingModeless(const std::shared_ptr<TDialog>& oDlg) {
    g_pending = oDlg;
}

INT_PTR CALLBACK modelessDialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    rt::BreakBarrier barrier;
    try {
        std::shared_ptr<TDialog> dialog;
        for (std::size_t i = 0; i < g_modeless.size(); ++i)
            if (g_modeless[i] && g_modeless[i]->hWnd == hWnd) dialog = g_modeless[i];
        if (!dialog) {
            dialog = g_pending.lock();
            if (!dialog || (dialog->hWnd && dialog->hWnd != hWnd)) return 0;
        }
        // Once linked, the dialog's messages reach it through its slot procedure.
        if (dialog->nOldProc) return 0;
        const rt::Value result = dialog->HandleEvent(
            nMsg, wParam, nMsg == WM_INITDIALOG ? reinterpret_cast<LPARAM>(hWnd) : lParam);
        return dialogResult(result);
    } catch (const std::bad_alloc&) {
        rt::memoryLow();
    } catch (...) {
        rt::unrecoverable(9010, "Exception left a window procedure");
    }
}

} // namespace dialogs
