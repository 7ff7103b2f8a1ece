// The dialog framework: resource modules and message boxes, shared brushes and fonts, window
// objects and message dispatch, TDialog and the controls.
#pragma once

#include "dialogs/common.h"
#include "dialogs/controls.h"
#include "dialogs/dialog.h"
#include "dialogs/gdiobjects.h"
#include "dialogs/msgbox.h"
#include "dialogs/platform.h"
#include "dialogs/resources.h"
#include "dialogs/window.h"
