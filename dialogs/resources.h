// The resource-module registry (the libraries that hold dialog templates and bitmaps), bitmap
// loading from the current resource module and the free-system-resources figure.
#pragma once

#include "dialogs/common.h"

#include <cstddef>
#include <cstdint>

namespace dialogs {

// SETRESOURCES(name): loads the module once per name (names compare without regard to case) and
// makes it current; SETRESOURCES(number): makes that handle current without registering it; any
// other argument changes nothing. Answers the current resource module (0 for none).
std::intptr_t SETRESOURCES(const rt::Value& module = {});
// The module resources are taken from: the current resource module, else the program's own.
HMODULE GETRESOURCES();
// Releases every registered module; no module is current afterwards.
void FREERESOURCES();
// Loads a library without registering it; 0 on failure.
std::intptr_t LOADLIBRARY(const rt::Value& name);
// Releases a registered module given by name or handle; anything unregistered is left alone.
void FREELIBRARY(const rt::Value& nameOrHandle);
// The platform's resource search: module (number), name and type (text or number). 0 when absent.
std::intptr_t FINDRESOURCE(const rt::Value& module, const rt::Value& name, const rt::Value& type);

// A device bitmap and its palette (0 when the image has 16 colours or fewer).
struct BitmapPair {
    HBITMAP hBitmap = nullptr;
    HPALETTE hPalette = nullptr;
};
// Builds a device bitmap (and, above 16 colours, a logical palette) from a packed DIB: a
// BITMAPINFOHEADER, its colour table, then the pixels. size bounds every read.
BitmapPair bitmapFromPackedDib(const void* packed, std::size_t size);
// The bitmap resource nameOrId (text, or number: low 16 bits) of a module; (0, 0) when absent.
BitmapPair loadBitmapResource(HMODULE module, const rt::Value& nameOrId);
// PALBMPLOAD(nameOrId): {bitmap, palette} from GETRESOURCES(), as a two-element list of numbers.
rt::ArrayPtr PALBMPLOAD(const rt::Value& nameOrId);

// GETFREESYSTEMRESOURCES(kind): the free share in percent. The 16-bit figure does not exist on
// the platforms this program runs on, so the remembered value (90 until one was obtained) is
// answered.
int GETFREESYSTEMRESOURCES(int kind = 0);

} // namespace dialogs
