// Prepares the Wine prefix for dialogs_tests (run by ctest before it). Without a window manager,
// Wine waits up to two seconds whenever a managed window is hidden, and the suite opens and
// closes many dialogs; the test program gets unmanaged windows instead. The setting is scoped
// to dialogs_tests.exe and is read when a process starts, hence this separate step.
#include <windows.h>

int main() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\dialogs_tests.exe\\X11 Driver", 0,
                        nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return 1;
    const LONG rc = RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 1;
}
