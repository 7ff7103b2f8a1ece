// Shared brushes and fonts: sharing, use counts, the kinds of brush, stock and created fonts,
// the size queries and the log line of a failed deletion.
#include "harness.h"

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace dialogs;

namespace {

bool listed(const std::shared_ptr<TBrush>& b) {
    const auto& all = TBrush::aBrushes();
    return std::find(all.begin(), all.end(), b) != all.end();
}

TEST(Brushes, SameColourIsSharedUntilTheLastEnd) {
    const auto a = TBrush::New({}, RGB(1, 2, 3));
    const auto b = TBrush::New({}, RGB(1, 2, 3));
    ASSERT_EQ(a, b);
    EXPECT_EQ(a->nCount, 2);
    const HBRUSH handle = a->hBrush;
    ASSERT_NE(handle, nullptr);
    EXPECT_NE(TBrush::New({}, RGB(1, 2, 4)), a);
    a->End();
    EXPECT_EQ(a->hBrush, handle);
    EXPECT_TRUE(listed(a));
    EXPECT_NE(GetObjectType(handle), 0u);
    b->End();
    EXPECT_EQ(a->hBrush, nullptr);
    EXPECT_FALSE(listed(a));
    EXPECT_EQ(GetObjectType(handle), 0u); // the platform brush is gone
    // A new request makes a new object.
    const auto c = TBrush::New({}, RGB(1, 2, 3));
    EXPECT_NE(c, a);
    c->End();
    TBrush::New({}, RGB(1, 2, 4))->End();
}

TEST(Brushes, PatternHatchAndEmptyBrushes) {
    const auto tiled = TBrush::New("T"); // the first pattern name that begins with "T"
    ASSERT_NE(tiled->hBitmap, nullptr);
    ASSERT_NE(tiled->hBrush, nullptr);
    LOGBRUSH lb{};
    GetObjectA(tiled->hBrush, sizeof lb, &lb);
    EXPECT_EQ(lb.lbStyle, static_cast<UINT>(BS_PATTERN));
    BITMAP bm{};
    GetObjectA(tiled->hBitmap, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 8);
    EXPECT_EQ(bm.bmHeight, 8);
    // The stored TILED image: its second row is 10000001 (black at both ends).
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, tiled->hBitmap);
    EXPECT_EQ(GetPixel(dc, 0, 1), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(dc, 1, 1), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(dc, 7, 1), RGB(0, 0, 0));
    SelectObject(dc, old);
    DeleteDC(dc);

    const auto cross = TBrush::New("CROSS", RGB(200, 0, 0));
    GetObjectA(cross->hBrush, sizeof lb, &lb);
    EXPECT_EQ(lb.lbStyle, static_cast<UINT>(BS_HATCHED));
    EXPECT_EQ(lb.lbHatch, static_cast<ULONG_PTR>(HS_CROSS));
    EXPECT_EQ(lb.lbColor, RGB(200, 0, 0));

    const auto hollow = TBrush::New("NULL");
    EXPECT_EQ(hollow->hBrush, GetStockObject(NULL_BRUSH));
    // A file that does not exist makes no brush, but the object is counted and listed.
    const auto missing = TBrush::New("no-such-file.bmp");
    EXPECT_EQ(missing->hBrush, nullptr);
    EXPECT_EQ(missing->nCount, 1);
    EXPECT_TRUE(listed(missing));
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(patternDib(n).size(), 80u);
    for (const auto& b : {tiled, cross, hollow, missing}) b->End();
    EXPECT_FALSE(listed(missing));
}

TEST(Brushes, FailedDeletionIsLogged) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    char old[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, old);
    SetCurrentDirectoryA(folder);
    DeleteFileA("resources.txt");
    const auto b = TBrush::New({}, RGB(9, 9, 9));
    const HBRUSH handle = b->hBrush;
    DeleteObject(handle); // behind the object's back
    b->End();
    std::ifstream in("resources.txt", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    DeleteFileA("resources.txt");
    SetCurrentDirectoryA(old);
    const std::string line = text.str();
    EXPECT_NE(line.find(": DeleteObject( ::hBrush ) failed from TBrush:End()\t" +
                        std::to_string(reinterpret_cast<std::intptr_t>(handle)) + "\t\r\n"),
              std::string::npos)
        << line;
    EXPECT_EQ(b->hBrush, nullptr);
}

TEST(Fonts, StockFontsAreNeverDeleted) {
    const auto f = TFont::New();
    EXPECT_EQ(f->hFont, GetStockObject(SYSTEM_FONT));
    EXPECT_FALSE(f->lDestroy);
    EXPECT_TRUE(f->lNew);
    EXPECT_EQ(f->nCount, 1);
    EXPECT_GT(f->nInpHeight, 0);
    EXPECT_TRUE(std::find(TFont::aFonts().begin(), TFont::aFonts().end(), f) == TFont::aFonts().end());
    f->End();
    f->End();
    EXPECT_EQ(f->hFont, GetStockObject(SYSTEM_FONT));
    EXPECT_NE(GetObjectType(f->hFont), 0u);
}

TEST(Fonts, SameAttributesShareOneFont) {
    const auto a = TFont::New({.cFaceName = "Arial", .nWidth = 0, .nHeight = -12});
    const auto b = TFont::New({.cFaceName = "Arial", .nWidth = 0, .nHeight = -12});
    const auto bold = TFont::New({.cFaceName = "Arial", .nWidth = 0, .nHeight = -12, .lBold = true});
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->nCount, 2);
    EXPECT_FALSE(a->lNew);
    EXPECT_NE(bold, a);
    EXPECT_TRUE(bold->lBold);
    EXPECT_EQ(bold->nWeight, 700);
    const HFONT handle = a->hFont;
    a->End();
    EXPECT_EQ(a->hFont, handle);
    b->End();
    EXPECT_EQ(a->hFont, nullptr);
    EXPECT_EQ(a->nCount, 0);
    EXPECT_TRUE(std::find(TFont::aFonts().begin(), TFont::aFonts().end(), a) == TFont::aFonts().end());
    bold->End();
}

TEST(Fonts, SizesAndTheTahomaRule) {
    const auto t = TFont::New({.cFaceName = "SYSTAHOMA", .nWidth = 0, .nHeight = -8});
    EXPECT_EQ(t->cFaceName, rt::Value("TAHOMA"));
    EXPECT_EQ(t->nInpHeight, -12);
    EXPECT_DOUBLE_EQ(t->nWidth(), 5.28);
    EXPECT_EQ(t->nHeight(), 12);
    t->End();

    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (dpi == 96) {
        const auto f16 = TFont::New({.cFaceName = "Arial", .nHeight = -16});
        const auto f13 = TFont::New({.cFaceName = "Arial", .nHeight = -13});
        EXPECT_DOUBLE_EQ(f16->nSize(), 12.0);
        EXPECT_DOUBLE_EQ(f13->nSize(), 10.0); // 9.75 + 0.25
        f16->End();
        f13->End();
    }
}

} // namespace
