// bare_dialog: the start-up benchmark's baseline. It does the least a program can do to show the
// installer's main dialog: load progdll.dll, register the window class that the template's bitmap
// item names (a plain class: the dialog cannot be created without it) and show the template
// "PRINCIPAL" with DialogBoxParam. Nothing is bound, drawn or set up beyond that; the exit
// button, Escape and the close box end it. The class is registered as the framework registers it,
// global to the process, since the template's items are made for progdll.dll's instance.
#include <windows.h>

namespace {

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND) {
        const WORD id = LOWORD(wParam);
        if (id == IDCANCEL || id == 551) {
            EndDialog(dialog, id);
            return TRUE;
        }
    }
    return FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    HMODULE resources = LoadLibraryA("progdll.dll");
    if (!resources) return 2;
    WNDCLASSA bitmapClass{};
    bitmapClass.style = CS_GLOBALCLASS;
    bitmapClass.lpfnWndProc = DefWindowProcA;
    bitmapClass.hInstance = instance;
    bitmapClass.lpszClassName = "TBITMAP";
    RegisterClassA(&bitmapClass);
    const INT_PTR result = DialogBoxParamA(resources, "PRINCIPAL", nullptr, dialogProc, 0);
    return result == -1 ? 3 : 0;
}
