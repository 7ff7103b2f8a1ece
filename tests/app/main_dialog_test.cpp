// MAIN with the Windows dialog steps, in process: what the end-to-end tests cannot see from
// outside (the order in which the controls are bound, the objects MAIN hands on, the resource
// module it leaves current, the centring), looked at from a timer while the dialog runs.

#include "app/main.h"
#include "app/main_dialog_win32.h"
#include "app/state.h"
#include "app/texts.h"

#include "dialogs/dialogs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>

namespace {

struct Seen {
    bool dialog = false;
    std::vector<int> ids;
    std::vector<std::string> classes;
    std::string comboText;
    bool sayInHolder = false;
    int centreDx = 1000, centreDy = 1000;
} g_seen;

HWND mainDialog() {
    return FindWindowA("#32770", std::string(app::kDialogCaption).c_str());
}

void CALLBACK inspect(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND h = mainDialog();
    if (!h || !IsWindowVisible(h)) return;
    KillTimer(nullptr, timer);
    g_seen.dialog = true;
    if (const auto dialog = dialogs::modalDialogFromHandle(h)) {
        for (const auto& control : dialog->aControls) {
            g_seen.ids.push_back(control->nId);
            g_seen.classes.push_back(control->className());
        }
    }
    char text[16] = {};
    GetWindowTextA(GetDlgItem(h, app::kIdDrives), text, sizeof text);
    g_seen.comboText = text;
    const auto say = app::state().aTextHolder.asArray()->at(1).objectAs<dialogs::TSay>();
    g_seen.sayInHolder = say && say->nId == app::kIdText && say->hWnd == GetDlgItem(h, app::kIdText);
    RECT r{}, screen{};
    GetWindowRect(h, &r);
    GetWindowRect(GetDesktopWindow(), &screen);
    g_seen.centreDx = (r.left + r.right) / 2 - (screen.left + screen.right) / 2;
    g_seen.centreDy = (r.top + r.bottom) / 2 - (screen.top + screen.bottom) / 2;
    PostMessageA(GetDlgItem(h, app::kIdExit), BM_CLICK, 0, 0);
}

// Should the dialog not end (a fault under test), it is ended here so the suite goes on.
void CALLBACK rescue(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (HWND h = mainDialog()) {
        app::state().lExit = true;
        EndDialog(h, 0);
    }
}

TEST(MainDialog, BindsTheFiveControlsInOrderCentredAndEndsByTheExitButton) {
    char self[MAX_PATH];
    std::string folder(self, GetModuleFileNameA(nullptr, self, sizeof self));
    folder.resize(folder.find_last_of('\\') + 1);
    if (GetFileAttributesA((folder + "progdll.dll").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "progdll.dll is not beside the test program";
    app::initStatics();
    static app::Win32MainDialogPort port;
    app::setMainDialogPort(&port);
    SetTimer(nullptr, 0, 100, inspect);
    SetTimer(nullptr, 0, 20000, rescue);

    app::MAIN(rt::Value("Z:\\nowhere\\ayuda.chm"));
    app::setMainDialogPort(nullptr);

    ASSERT_TRUE(g_seen.dialog);
    EXPECT_EQ(g_seen.ids, (std::vector<int>{700, 101, 110, 550, 551}));
    EXPECT_EQ(g_seen.classes,
              (std::vector<std::string>{"TBITMAP", "TSAY", "TCOMBOBOX", "TBUTTON", "TBUTTON"}));
    EXPECT_EQ(g_seen.comboText, "C");
    EXPECT_TRUE(g_seen.sayInHolder);
    EXPECT_LE(std::abs(g_seen.centreDx), 1);
    EXPECT_LE(std::abs(g_seen.centreDy), 1);
    // The exit button's action: the flag, then the dialog's end; the module stays current.
    EXPECT_EQ(app::state().lExit, rt::Value(true));
    EXPECT_EQ(app::state().cDrive, rt::Value("C"));
    EXPECT_EQ(reinterpret_cast<HMODULE>(dialogs::SETRESOURCES()), GetModuleHandleA("progdll.dll"));
    EXPECT_EQ(mainDialog(), nullptr);
}

} // namespace
