#include "resources.h"

#include <vector>

namespace dialogs {

namespace {

// One registry slot: the global atom of the module name and the handle loaded for it.
struct Slot {
    ATOM atom = 0;
    HMODULE handle = nullptr;
};

constexpr std::size_t kGrowBy = 16;

struct Registry {
    bool exists = false;
    std::vector<Slot> slots; // both tables of the original kept side by side; they grow together
};

Registry& registry() {
    static Registry r;
    return r;
}

HMODULE g_current = nullptr;
HMODULE g_program = nullptr;
int g_lastResources = 90;

void createRegistry() {
    Registry& r = registry();
    if (r.exists) return;
    r.exists = true;
    r.slots.assign(kGrowBy, Slot{});
}

HMODULE programModule() {
    if (!g_program) g_program = GetModuleHandleA(nullptr);
    return g_program;
}

Slot* slotOfAtom(ATOM atom) {
    for (Slot& s : registry().slots)
        if (s.atom && s.atom == atom) return &s;
    return nullptr;
}

void releaseSlot(Slot& s) {
    const HMODULE handle = s.handle;
    s.handle = nullptr;
    // The freed module is no longer the current one: lookups fall back to the program's own.
    if (handle && handle == g_current) g_current = nullptr;
    if (handle) FreeLibrary(handle);
    if (s.atom) GlobalDeleteAtom(s.atom);
    s.atom = 0;
}

LPCSTR resourceName(const rt::Value& v) {
    if (v.isString()) return v.asString().c_str();
    return MAKEINTRESOURCEA(static_cast<WORD>(v.asInteger() & 0xFFFF));
}

} // namespace

std::intptr_t SETRESOURCES(const rt::Value& module) {
    if (module.isNumber()) {
        g_current = asHandle<HMODULE>(module);
    } else if (module.isString()) {
        createRegistry();
        const std::string& name = module.asString();
        const ATOM atom = GlobalAddAtomA(name.c_str());
        if (!atom) {
            g_current = nullptr;
            return 0;
        }
        if (Slot* known = slotOfAtom(atom)) {
            // Registered before (perhaps with a failed load, which is not retried).
            GlobalDeleteAtom(atom);
            g_current = known->handle;
        } else {
            const HMODULE handle = LoadLibraryA(name.c_str());
            Registry& r = registry();
            Slot* free = nullptr;
            for (Slot& s : r.slots)
                if (!s.atom) {
                    free = &s;
                    break;
                }
            if (!free) {
                r.slots.resize(r.slots.size() + kGrowBy);
                free = &r.slots[r.slots.size() - kGrowBy];
            }
            free->atom = atom;
            free->handle = handle;
            g_current = handle;
        }
    }
    return reinterpret_cast<std::intptr_t>(g_current);
}

HMODULE GETRESOURCES() {
    return g_current ? g_current : programModule();
}

void FREERESOURCES() {
    Registry& r = registry();
    for (Slot& s : r.slots) {
        if (s.handle) FreeLibrary(s.handle);
        s.handle = nullptr;
    }
    for (Slot& s : r.slots) {
        if (s.atom) GlobalDeleteAtom(s.atom);
        s.atom = 0;
    }
    r.slots.clear();
    r.exists = false;
    g_current = nullptr;
}

std::intptr_t LOADLIBRARY(const rt::Value& name) {
    if (!name.isString()) return 0;
    return reinterpret_cast<std::intptr_t>(LoadLibraryA(name.asString().c_str()));
}

void FREELIBRARY(const rt::Value& nameOrHandle) {
    Registry& r = registry();
    if (!r.exists) return;
    if (nameOrHandle.isString()) {
        const ATOM atom = GlobalFindAtomA(nameOrHandle.asString().c_str());
        if (!atom) return;
        if (Slot* s = slotOfAtom(atom)) releaseSlot(*s);
    } else if (nameOrHandle.isNumber()) {
        const HMODULE handle = asHandle<HMODULE>(nameOrHandle);
        if (!handle) return;
        for (Slot& s : r.slots)
            if (s.atom && s.handle == handle) {
                releaseSlot(s);
                return;
            }
    }
}

std::intptr_t FINDRESOURCE(const rt::Value& module, const rt::Value& name, const rt::Value& type) {
    return reinterpret_cast<std::intptr_t>(
        FindResourceA(asHandle<HMODULE>(module), resourceName(name), resourceName(type)));
}

BitmapPair bitmapFromPackedDib(const void* packed, std::size_t size) {
    BitmapPair pair;
    if (!packed || size < sizeof(BITMAPINFOHEADER)) return pair;
    const auto* info = static_cast<const BITMAPINFO*>(packed);
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > size) return pair;
    std::size_t colours = h.biClrUsed;
    if (colours == 0 && h.biBitCount <= 8) colours = std::size_t{1} << h.biBitCount;
    if (colours > 256) return pair;
    std::size_t tableBytes = colours * sizeof(RGBQUAD);
    if (h.biCompression == BI_BITFIELDS) tableBytes += 3 * sizeof(DWORD);
    const std::size_t bitsOffset = h.biSize + tableBytes;
    if (bitsOffset > size) return pair;
    if (h.biCompression == BI_RGB) {
        const long long height = h.biHeight < 0 ? -static_cast<long long>(h.biHeight) : h.biHeight;
        const long long stride = ((static_cast<long long>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
        if (h.biWidth <= 0 || stride <= 0 || static_cast<long long>(size - bitsOffset) < stride * height)
            return pair;
    }
    const auto* bits = static_cast<const std::uint8_t*>(packed) + bitsOffset;
    const auto* table = reinterpret_cast<const RGBQUAD*>(static_cast<const std::uint8_t*>(packed) + h.biSize);

    HDC screen = GetDC(nullptr);
    HPALETTE oldPalette = nullptr;
    if (colours > 16) {
        std::vector<std::uint8_t> buffer(sizeof(LOGPALETTE) + colours * sizeof(PALETTEENTRY));
        auto* logical = reinterpret_cast<LOGPALETTE*>(buffer.data());
        logical->palVersion = 0x300;
        logical->palNumEntries = static_cast<WORD>(colours);
        for (std::size_t i = 0; i < colours; ++i) {
            logical->palPalEntry[i].peRed = table[i].rgbRed;
            logical->palPalEntry[i].peGreen = table[i].rgbGreen;
            logical->palPalEntry[i].peBlue = table[i].rgbBlue;
            logical->palPalEntry[i].peFlags = 0;
        }
        pair.hPalette = CreatePalette(logical);
        if (pair.hPalette) {
            oldPalette = SelectPalette(screen, pair.hPalette, FALSE);
            RealizePalette(screen);
        }
    }
    pair.hBitmap = CreateDIBitmap(screen, &h, CBM_INIT, bits, info, DIB_RGB_COLORS);
    if (oldPalette) {
        SelectPalette(screen, oldPalette, FALSE);
        RealizePalette(screen);
    }
    ReleaseDC(nullptr, screen);
    return pair;
}

BitmapPair loadBitmapResource(HMODULE module, const rt::Value& nameOrId) {
    if (!nameOrId.isString() && !nameOrId.isNumber()) return {};
    HRSRC found = FindResourceA(module, resourceName(nameOrId), MAKEINTRESOURCEA(2) /* RT_BITMAP */);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    if (!loaded) return {};
    const BitmapPair pair = bitmapFromPackedDib(LockResource(loaded), SizeofResource(module, found));
    FreeResource(loaded);
    return pair;
}

rt::ArrayPtr PALBMPLOAD(const rt::Value& nameOrId) {
    const BitmapPair pair = loadBitmapResource(GETRESOURCES(), nameOrId);
    return rt::makeArray({handleValue(pair.hBitmap), handleValue(pair.hPalette)});
}

int GETFREESYSTEMRESOURCES(int /*kind*/) {
    return g_lastResources;
}

} // namespace dialogs
