#include "gdiobjects.h"

#include "deferred.h"
#include "resources.h"

#include "files/files.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace dialogs {

const rt::ClassInfo TBrush::kClass{"TBRUSH", nullptr};
const rt::ClassInfo TFont::kClass{"TFONT", nullptr};

// ---- log line ---------------------------------------------------------------------------

void logLine(const std::string& fileName, std::initializer_list<rt::Value> values) {
    files::LOGFILE(fileName, rt::Value(rt::makeArray(values)));
}

// ---- pattern bitmaps --------------------------------------------------------------------

namespace {

// Rows from top to bottom; a set bit is drawn black on white.
constexpr std::array<std::array<std::uint8_t, 8>, 4> kPatternRows{{
    {0xF0, 0x78, 0x3C, 0x1E, 0x0F, 0x87, 0xC3, 0xE1}, // BORLAND: a diagonal band
    {0xFF, 0x80, 0x80, 0x80, 0xFF, 0x08, 0x08, 0x08}, // BRICKS: staggered courses
    {0xFF, 0x81, 0xBD, 0xA5, 0xA5, 0xBD, 0x81, 0xFF}, // TILED: framed tiles
    {0xF0, 0xF0, 0xF0, 0xF0, 0x0F, 0x0F, 0x0F, 0x0F}, // TABS: four-pixel checks
}};

std::vector<std::uint8_t> makeMonoDib(const std::array<std::uint8_t, 8>& rows) {
    std::vector<std::uint8_t> dib(sizeof(BITMAPINFOHEADER) + 2 * sizeof(RGBQUAD) + 8 * 4, 0);
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = 8;
    h.biHeight = 8; // bottom-up
    h.biPlanes = 1;
    h.biBitCount = 1;
    h.biCompression = BI_RGB;
    h.biSizeImage = 32;
    h.biClrUsed = 2;
    std::memcpy(dib.data(), &h, sizeof h);
    const RGBQUAD colours[2] = {{0xFF, 0xFF, 0xFF, 0}, {0, 0, 0, 0}}; // 0 white, 1 black
    std::memcpy(dib.data() + sizeof h, colours, sizeof colours);
    std::uint8_t* bits = dib.data() + sizeof h + sizeof colours;
    for (int y = 0; y < 8; ++y) bits[(7 - y) * 4] = rows[static_cast<std::size_t>(y)];
    return dib;
}

} // namespace

const std::vector<std::uint8_t>& patternDib(int n) {
    static const std::array<std::vector<std::uint8_t>, 4> dibs{
        makeMonoDib(kPatternRows[0]), makeMonoDib(kPatternRows[1]), makeMonoDib(kPatternRows[2]),
        makeMonoDib(kPatternRows[3])};
    static const std::vector<std::uint8_t> none;
    return n >= 1 && n <= 4 ? dibs[static_cast<std::size_t>(n - 1)] : none;
}

HBITMAP patternBitmap(int n) {
    const auto& dib = patternDib(n);
    if (dib.empty()) return nullptr;
    const auto* info = reinterpret_cast<const BITMAPINFO*>(dib.data());
    HDC screen = GetDC(nullptr);
    HBITMAP bmp =
        CreateDIBitmap(screen, &info->bmiHeader, CBM_INIT,
                       dib.data() + sizeof(BITMAPINFOHEADER) + 2 * sizeof(RGBQUAD), info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return bmp;
}

// ---- TBrush -----------------------------------------------------------------------------

namespace {
std::vector<std::shared_ptr<TBrush>>& brushList() {
    static std::vector<std::shared_ptr<TBrush>> list;
    return list;
}
std::vector<std::shared_ptr<TFont>>& fontList() {
    static std::vector<std::shared_ptr<TFont>> list;
    return list;
}

bool fileExists(const rt::Value& name) {
    return name.isString() && !name.asString().empty() &&
           GetFileAttributesA(name.asString().c_str()) != INVALID_FILE_ATTRIBUTES;
}

HBITMAP bitmapFromFile(const std::string& name) {
    return static_cast<HBITMAP>(LoadImageA(nullptr, name.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
}

HBITMAP bitmapFromResources(const rt::Value& res) {
    const BitmapPair pair = loadBitmapResource(GETRESOURCES(), res);
    if (pair.hPalette) DeleteObject(pair.hPalette);
    return pair.hBitmap;
}
} // namespace

const std::vector<std::shared_ptr<TBrush>>& TBrush::aBrushes() {
    return brushList();
}

std::shared_ptr<TBrush> TBrush::New(const rt::Value& cStyle, const rt::Value& nRGBColor,
                                    const rt::Value& cBmpFile, const rt::Value& cBmpRes) {
    for (const auto& b : brushList()) {
        if (b->cStyle == cStyle && b->nRGBColor == nRGBColor && b->cBmpFile == cBmpFile &&
            b->cBmpRes == cBmpRes) {
            ++b->nCount;
            return b;
        }
    }
    auto b = std::make_shared<TBrush>();
    b->cStyle = cStyle;
    b->nRGBColor = nRGBColor;
    b->cBmpFile = cBmpFile;
    b->cBmpRes = cBmpRes;
    const auto colour = static_cast<COLORREF>(nRGBColor.asInteger());
    auto patternFromFile = [&] {
        if (!fileExists(cBmpFile)) return;
        b->hBitmap = bitmapFromFile(cBmpFile.asString());
        if (b->hBitmap) b->hBrush = CreatePatternBrush(b->hBitmap);
    };
    if (cStyle.isNil()) {
        if (nRGBColor.isNumber()) {
            b->hBrush = CreateSolidBrush(colour);
        } else if (!cBmpFile.isNil()) {
            patternFromFile();
        } else if (!cBmpRes.isNil()) {
            b->hBitmap = bitmapFromResources(cBmpRes);
            if (b->hBitmap) b->hBrush = CreatePatternBrush(b->hBitmap);
        }
    } else if (cStyle.isString() && cStyle.asString() == "NULL") {
        b->hBrush = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    } else {
        static const rt::ArrayPtr patterns = rt::makeArray({"BORLAND", "BRICKS", "TILED", "TABS"});
        static const rt::ArrayPtr hatches =
            rt::makeArray({"HORIZONTAL", "VERTICAL", "FDIAGONAL", "BDIAGONAL", "CROSS", "DIAGCROSS"});
        if (const auto n = rt::ASCAN(rt::Value(patterns), cStyle); n > 0) {
            b->hBitmap = patternBitmap(static_cast<int>(n));
            if (b->hBitmap) b->hBrush = CreatePatternBrush(b->hBitmap);
        } else if (const auto h = rt::ASCAN(rt::Value(hatches), cStyle); h > 0) {
            b->hBrush = CreateHatchBrush(static_cast<int>(h - 1), colour);
        } else {
            patternFromFile();
        }
    }
    b->nCount = 1;
    brushList().push_back(b);
    return b;
}

void TBrush::End() {
    --nCount;
    if (nCount >= 1) return;
    auto& list = brushList();
    // This very object leaves the list (two brushes that failed both have handle 0).
    const auto it = std::find_if(list.begin(), list.end(), [this](const auto& p) { return p.get() == this; });
    const auto keepAlive = it != list.end() ? *it : nullptr;
    if (it != list.end()) list.erase(it);
    if (hBrush && !DeleteObject(hBrush))
        logLine("resources.txt", {"DeleteObject( ::hBrush ) failed from TBrush:End()", handleValue(hBrush)});
    if (hBitmap) DeleteObject(hBitmap);
    hBrush = nullptr;
    hBitmap = nullptr;
}

rt::Value TBrush::send(std::string_view method, rt::Args args) {
    const std::string m = rt::UPPER(rt::Value(method));
    if (m == "END" || m == "RELEASE") {
        End();
        return {};
    }
    if (m == "HBRUSH") return handleValue(hBrush);
    if (m == "NCOUNT") return nCount;
    return rt::Object::send(method, args);
}

// ---- TFont ------------------------------------------------------------------------------

namespace {

struct StockFont {
    const char* name;
    int stock;
};
constexpr StockFont kStockFonts[] = {
    {"OEM_FIXED_FONT", 10}, {"ANSI_FIXED_FONT", 11},     {"ANSI_VAR_FONT", 12},
    {"SYSTEM_FONT", 13},    {"DEVICE_DEFAULT_FONT", 14}, {"SYSTEM_FIXED_FONT", 16},
};

int intOr(const rt::Value& v, int fallback) {
    return v.isNumber() ? static_cast<int>(v.asInteger()) : fallback;
}

bool sameAttributes(const TFont& a, const TFont& b) {
    return a.nInpHeight == b.nInpHeight && a.nInpWidth == b.nInpWidth && a.nEscapement == b.nEscapement &&
           a.nOrientation == b.nOrientation && a.nWeight == b.nWeight && a.lItalic == b.lItalic &&
           a.lUnderline == b.lUnderline && a.lBold == b.lBold && a.lStrikeOut == b.lStrikeOut &&
           a.nCharSet == b.nCharSet && a.nOutPrecision == b.nOutPrecision &&
           a.nClipPrecision == b.nClipPrecision && a.nQuality == b.nQuality &&
           a.nPitchFamily == b.nPitchFamily && a.cFaceName == b.cFaceName;
}

} // namespace

const std::vector<std::shared_ptr<TFont>>& TFont::aFonts() {
    return fontList();
}

std::shared_ptr<TFont> TFont::New(const NewArgs& a) {
    auto f = std::make_shared<TFont>();
    std::string face = a.cFaceName.isString() ? a.cFaceName.asString() : std::string("SYSTEM_FONT");
    int width = intOr(a.nWidth, 0);
    int height = intOr(a.nHeight, 14);
    bool fromUser = a.lFromUser.asLogical();
    const bool bold = a.lBold.asLogical();
    int weight = intOr(a.nWeight, 0);

    if (rt::UPPER(rt::Value(face)) == "SYSTAHOMA") {
        if (height < 0 && -height < 12) height = -12;
        face = "TAHOMA";
    }
    LOGFONTA chosen{};
    if (fromUser) {
        CHOOSEFONTA cf{};
        cf.lStructSize = sizeof cf;
        cf.hwndOwner = GetActiveWindow();
        cf.lpLogFont = &chosen;
        cf.Flags = CF_SCREENFONTS;
        fromUser = deferred::chooseFont(&cf) && chosen.lfFaceName[0] != '\0';
    }
    if (bold) weight |= 700;

    if (fromUser) {
        f->cFaceName = std::string(chosen.lfFaceName);
        f->nInpHeight = chosen.lfHeight;
        f->nInpWidth = chosen.lfWidth;
        f->nEscapement = chosen.lfEscapement;
        f->nOrientation = chosen.lfOrientation;
        f->nWeight = chosen.lfWeight;
        f->lItalic = chosen.lfItalic != 0;
        f->lUnderline = chosen.lfUnderline != 0;
        f->lStrikeOut = chosen.lfStrikeOut != 0;
        f->nCharSet = chosen.lfCharSet;
        f->nOutPrecision = chosen.lfOutPrecision;
        f->nClipPrecision = chosen.lfClipPrecision;
        f->nQuality = chosen.lfQuality;
        f->nPitchFamily = chosen.lfPitchAndFamily;
        f->lBold = chosen.lfWeight != 400;
    } else {
        f->cFaceName = face;
        f->nInpHeight = height;
        f->nInpWidth = width;
        f->nEscapement = intOr(a.nEscapement, 0);
        f->nOrientation = intOr(a.nOrientation, 0);
        f->nWeight = weight;
        f->lItalic = a.lItalic.asLogical();
        f->lUnderline = a.lUnderline.asLogical();
        f->lStrikeOut = a.lStrikeOut.asLogical();
        f->nCharSet = intOr(a.nCharSet, 0);
        f->nOutPrecision = intOr(a.nOutPrecision, 0);
        f->nClipPrecision = intOr(a.nClipPrecision, 0);
        f->nQuality = intOr(a.nQuality, 0);
        f->nPitchFamily = intOr(a.nPitchFamily, 0);
        f->lBold = bold;
    }
    f->hFontOld = nullptr;
    if (a.oDevice.isNumber() && a.oDevice.asInteger() != 0) {
        const int dpi = GetDeviceCaps(asHandle<HDC>(a.oDevice), LOGPIXELSY);
        f->nInpHeight = static_cast<int>(dpi / 72.0 * f->nInpHeight);
    }

    for (const auto& live : fontList()) {
        if (sameAttributes(*live, *f)) {
            ++live->nCount;
            live->lNew = false;
            return live;
        }
    }

    const std::string upperFace = rt::UPPER(f->cFaceName);
    for (const StockFont& s : kStockFonts) {
        if (upperFace != s.name) continue;
        f->hFont = static_cast<HFONT>(GetStockObject(s.stock));
        HDC screen = GetDC(nullptr);
        HGDIOBJ old = SelectObject(screen, f->hFont);
        TEXTMETRICA tm{};
        GetTextMetricsA(screen, &tm);
        SelectObject(screen, old);
        ReleaseDC(nullptr, screen);
        f->nInpHeight = tm.tmHeight;
        f->nInpWidth = tm.tmAveCharWidth;
        f->lBold = tm.tmWeight == 700;
        f->lDestroy = false;
        f->nCount += 1;
        f->lNew = true;
        return f;
    }

    f->hFont = CreateFontA(f->nInpHeight, f->nInpWidth, f->nEscapement, f->nOrientation, f->nWeight,
                           f->lItalic, f->lUnderline, f->lStrikeOut, static_cast<DWORD>(f->nCharSet),
                           static_cast<DWORD>(f->nOutPrecision), static_cast<DWORD>(f->nClipPrecision),
                           static_cast<DWORD>(f->nQuality), static_cast<DWORD>(f->nPitchFamily),
                           f->cFaceName.asString().c_str());
    f->lDestroy = true;
    f->nCount += 1;
    f->lNew = true;
    fontList().push_back(f);
    return f;
}

std::shared_ptr<TFont> TFont::adopt(HFONT hFont) {
    auto f = std::make_shared<TFont>();
    LOGFONTA lf{};
    GetObjectA(hFont, sizeof lf, &lf);
    f->hFont = hFont;
    f->cFaceName = std::string(lf.lfFaceName);
    f->nInpHeight = lf.lfHeight;
    f->nWeight = lf.lfWeight;
    f->lBold = lf.lfWeight >= 700;
    f->nCount = 1;
    f->lDestroy = false;
    f->lNew = true;
    return f;
}

void TFont::End() {
    --nCount;
    if (nCount >= 1 || !hFont || !lDestroy) return;
    if (DeleteObject(hFont)) {
        auto& list = fontList();
        const auto it =
            std::find_if(list.begin(), list.end(), [this](const auto& p) { return p->hFont == hFont; });
        const auto keepAlive = it != list.end() ? *it : nullptr;
        if (it != list.end()) list.erase(it);
        hFont = nullptr;
        nCount = 0;
    } else {
        logLine("resources.txt",
                {"DeleteObject( ::hFont ) failed from TFont:End()", handleValue(hFont), nCount, lDestroy});
    }
}

void TFont::Activate(HDC hDC) {
    hFontOld = static_cast<HFONT>(SelectObject(hDC, hFont));
}
void TFont::DeActivate(HDC hDC) {
    if (hFontOld) SelectObject(hDC, hFontOld);
}

double TFont::nSize() const {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    const double n = -nInpHeight * 72.0 / dpi;
    const double fraction = n - std::floor(n);
    if (fraction == 0.25) return n - 0.25;
    if (fraction != 0) return n + 0.25;
    return n;
}

double TFont::nWidth() const {
    return nInpWidth != 0 ? nInpWidth : nHeight() * 0.44;
}
int TFont::nHeight() const {
    return nInpHeight < 0 ? -nInpHeight : nInpHeight;
}

rt::Value TFont::send(std::string_view method, rt::Args args) {
    const std::string m = rt::UPPER(rt::Value(method));
    if (m == "END" || m == "RELEASE") {
        End();
        return {};
    }
    if (m == "HFONT") return handleValue(hFont);
    if (m == "NSIZE") return nSize();
    if (m == "NHEIGHT") return nHeight();
    if (m == "NWIDTH") return nWidth();
    return rt::Object::send(method, args);
}

} // namespace dialogs
