// What every part of the dialog framework shares: the platform header, the framework's private
// window messages, handle <-> number conversion and the framework errors.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "runtime/runtime.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace dialogs {

// Private messages of the framework (in the WM_USER range).
constexpr UINT WMX_CLICK = 0x800;       // run the control's click
constexpr UINT WMX_CHANGE = 0x805;      // the control's value changed
constexpr UINT WMX_COLORS = 0x806;      // answer the brush for a device context
constexpr UINT WMX_DRAWITEM = 0x808;    // owner drawing
constexpr UINT WMX_LOSTFOCUS = 0x809;   // run the valid test after a focus loss
constexpr UINT WMX_HELPF1 = 0x80D;      // help key
constexpr UINT WMX_DROPOVER = 0x80F;    // drag and drop inside the application
constexpr UINT WMX_CHANGEFOCUS = 0x810; // posted by ChangeFocus
constexpr UINT WMX_ASYNCSELECT = 0x811; // socket notification
constexpr UINT WMX_TASKBAR = 0x813;     // task-bar icon notification

// Handles travel through dynamic values as numbers at full pointer width.
inline rt::Value handleValue(const void* h) {
    return rt::Value(static_cast<long long>(reinterpret_cast<std::intptr_t>(h)));
}
template <class H> H asHandle(const rt::Value& v) {
    return reinterpret_cast<H>(static_cast<std::intptr_t>(v.asInteger()));
}

// The framework errors, from the fixed six-entry table:
//   1 "Non defined Id", 2 "Duplicated Id", 3 "Cannot create Dialog Box", 4 "Memory Low",
//   5 "GPF occurred", 6 "Cannot create window or control".
// makeFrameworkError answers null for a number outside 1..6.
rt::ErrorPtr makeFrameworkError(int nError, std::string_view operation);
// Builds the error and hands it to the current error block; the block's answer is not used.
void frameworkError(int nError, std::string_view operation);
// "No: " followed by the identifier right-aligned in 6 characters (operation of errors 1, 2).
std::string idOperation(std::int64_t nId);

} // namespace dialogs
