// Shared brush and font objects. A request whose attributes equal those of a live object answers
// that object with its use count raised; End lowers the count and the last End deletes the
// platform object.
#pragma once

#include "dialogs/common.h"

#include <memory>
#include <vector>

namespace dialogs {

class TBrush : public rt::Object {
  public:
    static const rt::ClassInfo kClass;
    TBrush() : rt::Object(kClass) {}

    HBRUSH hBrush = nullptr;   // 0 until made and after release
    HBITMAP hBitmap = nullptr; // pattern bitmap of a pattern brush
    int nCount = 0;            // use count
    rt::Value cStyle;          // style name, "NULL", or nil for a solid brush
    rt::Value nRGBColor;       // colour of a solid or hatched brush
    rt::Value cBmpFile;        // bitmap file of a pattern brush
    rt::Value cBmpRes;         // bitmap resource (name or number) of a pattern brush

    // New(cStyle, nRGBColor, cBmpFile, cBmpRes). Styles: "NULL" (the hollow stock brush), a
    // pattern name "BORLAND", "BRICKS", "TILED", "TABS" or a hatch name "HORIZONTAL",
    // "VERTICAL", "FDIAGONAL", "BDIAGONAL", "CROSS", "DIAGCROSS"; a name matches the first entry
    // that begins with it ("T" is "TILED").
    static std::shared_ptr<TBrush> New(const rt::Value& cStyle = {}, const rt::Value& nRGBColor = {},
                                       const rt::Value& cBmpFile = {}, const rt::Value& cBmpRes = {});
    void End();
    void Release() { End(); }

    // The live brushes, in creation order.
    static const std::vector<std::shared_ptr<TBrush>>& aBrushes();
    rt::Value send(std::string_view method, rt::Args args) override;
};

// The built-in 8 x 8 monochrome pattern bitmaps, 1 to 4 ("BORLAND", "BRICKS", "TILED", "TABS"),
// as packed DIBs; a new device bitmap of one (0 for another number).
const std::vector<std::uint8_t>& patternDib(int n);
HBITMAP patternBitmap(int n);

class TFont : public rt::Object {
  public:
    static const rt::ClassInfo kClass;
    TFont() : rt::Object(kClass) {}

    rt::Value cFaceName;
    HFONT hFont = nullptr;
    HFONT hFontOld = nullptr; // the font Activate replaced in a device context
    bool lBold = false, lItalic = false, lUnderline = false, lStrikeOut = false;
    int nInpHeight = 0, nInpWidth = 0; // logical units; a negative height is character height
    int nEscapement = 0, nOrientation = 0, nWeight = 0;
    int nCharSet = 0, nOutPrecision = 0, nClipPrecision = 0, nQuality = 0, nPitchFamily = 0;
    int nCount = 0;       // use count
    bool lDestroy = true; // false for stock fonts and fonts adopted from a window
    bool lNew = false;    // whether the last New made this object (false: it was shared)

    // The positional arguments of New; nil takes the default.
    struct NewArgs {
        rt::Value cFaceName; // "SYSTEM_FONT"
        rt::Value nWidth;    // 0
        rt::Value nHeight;   // 14
        rt::Value lFromUser; // false: true shows the platform's font dialog
        rt::Value lBold;
        rt::Value nEscapement, nOrientation, nWeight;
        rt::Value lItalic, lUnderline, lStrikeOut;
        rt::Value nCharSet, nOutPrecision, nClipPrecision, nQuality;
        rt::Value oDevice; // a device context (number): the height is then given in points
        rt::Value nPitchFamily;
    };
    static std::shared_ptr<TFont> New(const NewArgs& a = {});
    // A font object for a font the platform made (a dialog's template font): count 1, not
    // owned, not in the font list.
    static std::shared_ptr<TFont> adopt(HFONT hFont);

    void End();
    void Release() { End(); }
    void Activate(HDC hDC);
    void DeActivate(HDC hDC);
    double nSize() const; // points
    double nWidth() const;
    void _nWidth(int n) { nInpWidth = n; }
    int nHeight() const;
    void _nHeight(int n) { nInpHeight = n; }

    // The fonts New created, in creation order (stock and adopted fonts are not in it).
    static const std::vector<std::shared_ptr<TFont>>& aFonts();
    rt::Value send(std::string_view method, rt::Args args) override;
};

// Appends one line to a log file through the file services' LOGFILE (date, time, ": ", each
// value as text followed by a tab, CR LF). Used for "resources.txt".
void logLine(const std::string& fileName, std::initializer_list<rt::Value> values);

} // namespace dialogs
