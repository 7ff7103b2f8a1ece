#include "deferred.h"

namespace dialogs::deferred {

namespace {

// Looked up once; the library stays loaded to the end of the process.
template <class F> F address(const Routine& routine) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(find(routine)));
}

} // namespace

FARPROC find(const Routine& routine) {
    HMODULE module = GetModuleHandleA(routine.library);
    if (!module) module = LoadLibraryA(routine.library);
    return module ? GetProcAddress(module, routine.name) : nullptr;
}

int shellAbout(HWND owner, const char* appText, const char* otherText, HICON icon) {
    using Fn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, HICON);
    static const Fn fn = address<Fn>(kShellAbout);
    return fn ? fn(owner, appText, otherText, icon) : 0;
}

void dragFinish(HDROP drop) {
    using Fn = void(WINAPI*)(HDROP);
    static const Fn fn = address<Fn>(kDragFinish);
    if (fn) fn(drop);
}

BOOL chooseFont(CHOOSEFONTA* choice) {
    using Fn = BOOL(WINAPI*)(CHOOSEFONTA*);
    static const Fn fn = address<Fn>(kChooseFont);
    return fn ? fn(choice) : FALSE;
}

} // namespace dialogs::deferred
