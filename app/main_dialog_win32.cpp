// MAIN's dialog steps on Windows: the resource module through SETRESOURCES and the main dialog
// "PRINCIPAL" with its five controls, bound in the order of the control table and run modally.

#include "app/main_dialog_win32.h"

#include "app/state.h"
#include "app/texts.h"

#include "dialogs/dialogs.h"
#include "runtime/frames.h"

namespace app {

void Win32MainDialogPort::setResources(std::string_view moduleName) {
    dialogs::SETRESOURCES(rt::Value(moduleName));
}

void Win32MainDialogPort::run(MainDialog& d) {
    MainLocals& locals = *d.locals;
    AppState& s = state();
    using namespace dialogs;

    RT_LINE();
    auto oDlg = TDialog::New({.cCaption = rt::Value(kDialogCaption),
                              .cResName = rt::Value(kDialogTemplate),
                              .lVbx = false,
                              .lPixel = false});
    locals.oDlg = rt::Value(oDlg);

    RT_LINE();
    locals.oBmp = rt::Value(TBitmap::ReDefine({.nId = kIdBitmap,
                                               .cResName = rt::Value(kLogoBitmap),
                                               .oWnd = locals.oDlg,
                                               .lUpdate = false,
                                               .lTransparent = true}));

    RT_LINE();
    auto oSay = TSay::ReDefine({.nId = kIdText, .bText = d.bSay, .oWnd = locals.oDlg, .lUpdate = false});
    s.aTextHolder.asArray()->put(1, rt::Value(oSay));

    RT_LINE();
    locals.oCombo = rt::Value(TComboBox::ReDefine(
        {.nId = kIdDrives, .bSetGet = d.bDrive, .aItems = s.aDrives, .oWnd = locals.oDlg, .lUpdate = false}));

    RT_LINE();
    locals.aButtons.asArray()->put(1, rt::Value(TButton::ReDefine({.nId = kIdInstall,
                                                                   .bAction = d.bInstall,
                                                                   .oWnd = locals.oDlg,
                                                                   .lUpdate = false,
                                                                   .lCancel = false})));
    RT_LINE();
    locals.aButtons.asArray()->put(
        2,
        rt::Value(TButton::ReDefine(
            {.nId = kIdExit, .bAction = d.bExit, .oWnd = locals.oDlg, .lUpdate = false, .lCancel = true})));

    // The dialog's own mouse, move and paint actions are handed back as they are (none is set).
    RT_LINE();
    oDlg->Activate({.bLClicked = oDlg->bLClicked,
                    .bMoved = oDlg->bMoved,
                    .bPainted = oDlg->bPainted,
                    .lCentered = true,
                    .bValid = d.bValid,
                    .bRClicked = oDlg->bRClicked});
}

} // namespace app
