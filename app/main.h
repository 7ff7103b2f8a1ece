// MAIN, the application's start routine, and the seam through which it reaches the dialog
// framework: loading the resource module and running the main dialog "PRINCIPAL".
#pragma once

#include "runtime/value.h"

#include <memory>
#include <string_view>

namespace app {

// MAIN's locals that the dialog steps fill and the controls' code blocks read. They live as
// long as anything holds them (the blocks do), so a block evaluated late never dangles.
struct MainLocals {
    rt::Value cHelpFile;  // the help file's path (argument 1)
    rt::Value aStartText; // { start text }
    rt::Value aButtons;   // { install button, exit button }, filled by the dialog steps
    rt::Value oDlg;       // the dialog
    rt::Value oCombo;     // the drive combo box
    rt::Value oBmp;       // the bitmap control
};

// What MAIN hands to the dialog steps: its locals and the code blocks of the control table.
struct MainDialog {
    std::shared_ptr<MainLocals> locals;
    rt::Value bSay;     // the text control's value: element 1 of the start-text list
    rt::Value bDrive;   // the combo box's get/set block on the selected drive
    rt::Value bInstall; // the install button's action: REVAYUDA(...)
    rt::Value bExit;    // the exit button's action: exit flag true, then the dialog's End
    rt::Value bValid;   // the dialog's valid test: the exit flag
};

// The dialog framework's side. The framework implements it: setResources is SETRESOURCES;
// run creates the dialog (caption kDialogCaption, template kDialogTemplate), binds the five
// controls in the order of the control table (storing the text control in element 1 of the
// state's text holder and the buttons in locals->aButtons), and activates it centred and modal
// with bValid. The default does nothing, so MAIN returns at once.
class MainDialogPort {
  public:
    virtual ~MainDialogPort() = default;
    virtual void setResources(std::string_view moduleName);
    virtual void run(MainDialog& dialog);
};

// Installs the framework's port (null puts the do-nothing one back); not owned.
void setMainDialogPort(MainDialogPort* port);
MainDialogPort& mainDialogPort();

// MAIN(helpFile): returns at once when the argument is missing or blank; otherwise selects the
// table engine, loads the resource module, applies the settings and runs the main dialog.
void MAIN(const rt::Value& helpFile = {});

// The table file type for an index kind: "NTX" 1, "CDX" 2, anything else 3 (upper-cased first).
int fileTypeOf(std::string_view indexKind);

} // namespace app
