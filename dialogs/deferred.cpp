#include "deferred.h"

namespace dialogs::deferred {

namespace {

// The routine's address, looked up once; the library stays loaded to the end of the process.
template <class F> F routine(const char* library, const char* name) {
    HMODULE module = GetModuleHandleA(library);
    if (!module) module = LoadLibraryA(library);
    return module ? reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
}

} // namespace

int shellAbout(HWND owner, const char* appText, const char* otherText, HICON icon) {
    using Fn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, HICON);
    static const Fn fn = routine<Fn>("shell32.dll", "ShellAboutA");
    return fn ? fn(owner, appText, otherText, icon) : 0;
}

void dragFinish(HDROP drop) {
    using Fn = void(WINAPI*)(HDROP);
    static const Fn fn = routine<Fn>("shell32.dll", "DragFinish");
    if (fn) fn(drop);
}

BOOL chooseFont(CHOOSEFONTA* choice) {
    using Fn = BOOL(WINAPI*)(CHOOSEFONTA*);
    static const Fn fn = routine<Fn>("comdlg32.dll", "ChooseFontA");
    return fn ? fn(choice) : FALSE;
}

} // namespace dialogs::deferred
