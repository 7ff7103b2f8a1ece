// The Windows side of MAIN's dialog seam: SETRESOURCES and the main dialog "PRINCIPAL" of the
// dialog framework.
#pragma once

#include "app/main.h"

namespace app {

class Win32MainDialogPort : public MainDialogPort {
  public:
    void setResources(std::string_view moduleName) override;
    // Creates the dialog, binds bitmap 700, text 101, combo box 110 and buttons 550 and 551 in
    // that order, and activates it centred and modal with the valid test on the exit flag.
    void run(MainDialog& dialog) override;
};

} // namespace app
