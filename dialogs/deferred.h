// Routines of system libraries that only rare paths reach (the about box, the release of dropped
// files, the font chooser). Their libraries are loaded on the first call instead of with the
// program: shell32 and comdlg32 bring half a dozen more libraries with them (and, under Wine,
// the printing system's), and loading them cost every start a good part of its time before the
// dialog could be shown.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

namespace dialogs::deferred {

// ShellAboutA of shell32; 0 when the library or the routine cannot be had.
int shellAbout(HWND owner, const char* appText, const char* otherText, HICON icon);
// DragFinish of shell32; nothing when the library or the routine cannot be had.
void dragFinish(HDROP drop);
// ChooseFontA of comdlg32; FALSE (nothing chosen) when the library or the routine cannot be had.
BOOL chooseFont(CHOOSEFONTA* choice);

// The routines above, by library and name.
struct Routine {
    const char* library;
    const char* name;
};
inline constexpr Routine kShellAbout{"shell32.dll", "ShellAboutA"};
inline constexpr Routine kDragFinish{"shell32.dll", "DragFinish"};
inline constexpr Routine kChooseFont{"comdlg32.dll", "ChooseFontA"};
inline constexpr Routine kRoutines[] = {kShellAbout, kDragFinish, kChooseFont};

// The routine's address, its library loaded first when it is not yet; null when either is missing.
FARPROC find(const Routine& routine);

} // namespace dialogs::deferred
