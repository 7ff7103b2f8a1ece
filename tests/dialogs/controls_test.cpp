// Controls bound to a template from the test resource library: binding, the combo box's rules
// for its bound value, the click path and its re-entry guard, the list box, automatic
// identifiers, transparent bitmaps, dynamic calls and call frames.
#include "harness.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

using namespace dialogs;
using namespace testing_dialogs;

namespace {

rt::Value block(std::function<rt::Value()> fn) {
    return rt::makeBlock("TEST", [fn](rt::Args) { return fn(); });
}

// A get/set block over a value, counting the stores.
struct Bound {
    rt::Value value;
    int stores = 0;
    rt::Value blockOf() {
        return rt::makeBlock("TEST", [this](rt::Args a) {
            if (!a.empty()) {
                value = a[0];
                ++stores;
            }
            return value;
        });
    }
};

class Controls : public ::testing::Test {
  protected:
    void SetUp() override {
        resetCaptures();
        SETRESOURCES(testResources());
    }
    void TearDown() override { FREERESOURCES(); }
};

std::string windowText(HWND h) {
    char buf[256] = {};
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
}

TEST_F(Controls, TemplateItemsAreBoundLikeTheMainDialog) {
    auto d = TDialog::New({.cCaption = " Caption \xE9", .cResName = "TESTDLG"});
    auto bmp = TBitmap::ReDefine({.nId = 700, .cResName = "PAL256", .oWnd = d, .lTransparent = true});
    auto say = TSay::ReDefine(
        {.nId = 101, .bText = block([] { return rt::Value("Line one\n\r\n\rLine two"); }), .oWnd = d});
    Bound drive{rt::Value("C")};
    auto combo = TComboBox::ReDefine(
        {.nId = 110, .bSetGet = drive.blockOf(), .aItems = rt::makeArray({"C", "D", "E"}), .oWnd = d});
    bool exitFlag = false;
    auto install = TButton::ReDefine({.nId = 550, .oWnd = d});
    auto exit = TButton::ReDefine({.nId = 551,
                                   .bAction = block([&] {
                                       exitFlag = true;
                                       d->End();
                                       return rt::Value();
                                   }),
                                   .oWnd = d,
                                   .lCancel = true});
    ASSERT_NE(bmp->hBitmap, nullptr);
    EXPECT_NE(bmp->hPalette, nullptr);
    EXPECT_EQ(d->aControls.size(), 5u);
    HWND h = nullptr;
    std::shared_ptr<TFont> font;
    d->Activate({.lCentered = true,
                 .bValid = block([&] { return rt::Value(exitFlag); }),
                 .bInit = script({
                     [&](HWND w) {
                         h = w;
                         EXPECT_EQ(windowText(w), " Caption \xE9");
                         char cls[32] = {};
                         GetClassNameA(bmp->hWnd, cls, sizeof cls);
                         EXPECT_STREQ(cls, "TBITMAP");
                         EXPECT_EQ(OWNDFROMHWND(bmp->hWnd).objectAs<TBitmap>(), bmp);
                         EXPECT_EQ(windowText(say->hWnd), "Line one\n\r\n\rLine two");
                         EXPECT_EQ(SendMessageA(combo->hWnd, CB_GETCOUNT, 0, 0), 3);
                         EXPECT_EQ(SendMessageA(combo->hWnd, CB_GETCURSEL, 0, 0), 0);
                         EXPECT_EQ(drive.stores, 0);
                         EXPECT_TRUE(exit->lCancel);
                         EXPECT_FALSE(install->lCancel);
                         EXPECT_FALSE(install->lDefault);
                         // Centred on the screen.
                         RECT r{}, s{};
                         GetWindowRect(w, &r);
                         GetWindowRect(GetDesktopWindow(), &s);
                         EXPECT_LE(std::abs((r.left + r.right) - (s.left + s.right)), 1);
                         // The controls share the dialog's font.
                         ASSERT_NE(d->oFont, nullptr);
                         EXPECT_FALSE(d->oFont->lDestroy);
                         EXPECT_EQ(d->oFont->nCount, 6);
                         EXPECT_EQ(say->oFont, d->oFont);
                         font = d->oFont;
                         EXPECT_EQ(GetWindowLongPtrA(w, GWL_EXSTYLE) & WS_EX_CONTEXTHELP, WS_EX_CONTEXTHELP);
                         UpdateWindow(w);
                     },
                     [&](HWND w) { PostMessageA(w, WM_CLOSE, 0, 0); }, // refused: no button pressed yet
                     [&](HWND w) {
                         EXPECT_EQ(d->hWnd, w);
                         PostMessageA(exit->hWnd, BM_CLICK, 0, 0);
                     },
                 })});
    ASSERT_EQ(d->nResult, rt::Value(2));
    EXPECT_TRUE(exitFlag);
    EXPECT_FALSE(IsWindow(h));
    for (const auto& c : d->aControls) EXPECT_EQ(c->hWnd, nullptr);
    // The template's font went with the window; the dialog and every control ended their use.
    EXPECT_EQ(d->oFont, nullptr);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->nCount, 0);
    EXPECT_EQ(bmp->hBitmap, nullptr);
    EXPECT_EQ(drive.value, rt::Value("C"));
}

TEST_F(Controls, ComboBoxBindingRules) {
    auto d = TDialog::New({.cResName = "TESTDLG"});
    Bound bound{rt::Value("c ")};
    int changes = 0;
    std::string changedText;
    auto combo = TComboBox::ReDefine({.nId = 110,
                                      .bSetGet = bound.blockOf(),
                                      .aItems = rt::makeArray({"A", "C"}),
                                      .oWnd = d,
                                      .bChange = rt::makeBlock("TEST", [&](rt::Args a) {
                                          ++changes;
                                          changedText = a[1].asString();
                                          return rt::Value();
                                      })});
    d->Activate({.bInit = script({[&](HWND w) {
                     // "c " finds the item "C"; the bound value is not rewritten.
                     EXPECT_EQ(SendMessageA(combo->hWnd, CB_GETCURSEL, 0, 0), 1);
                     EXPECT_EQ(combo->nAt, 2);
                     EXPECT_EQ(bound.value, rt::Value("c "));
                     EXPECT_EQ(bound.stores, 0);
                     // The same item again: no store, no change block.
                     command(w, CBN_SELCHANGE, 110, combo->hWnd);
                     EXPECT_EQ(bound.stores, 0);
                     EXPECT_EQ(changes, 0);
                     // A new choice is stored at once.
                     SendMessageA(combo->hWnd, CB_SETCURSEL, 0, 0);
                     command(w, CBN_SELCHANGE, 110, combo->hWnd);
                     EXPECT_EQ(bound.value, rt::Value("A"));
                     EXPECT_EQ(changes, 1);
                     EXPECT_EQ(changedText, "A");
                     EXPECT_EQ(combo->VarGet(), rt::Value("A"));
                     // A text that is not in the list becomes the bound value.
                     combo->Set("Q");
                     EXPECT_EQ(bound.value, rt::Value("Q"));
                     // Losing the focus stores the selected item.
                     combo->LostFocus(nullptr);
                     EXPECT_EQ(bound.value, rt::Value("A"));
                     // Dynamic calls from portable code.
                     rt::send(rt::Value(combo), "Disable");
                     EXPECT_FALSE(IsWindowEnabled(combo->hWnd));
                     rt::send(rt::Value(combo), "Enable");
                     EXPECT_TRUE(IsWindowEnabled(combo->hWnd));
                     rt::send(rt::Value(combo), "Refresh");
                     EXPECT_EQ(rt::send(rt::Value(d), "End"), rt::Value(true));
                 }})});
    EXPECT_EQ(d->nResult, rt::Value(2));
    EXPECT_NE(combo->oGet, nullptr);       // made for the drop-down style ...
    EXPECT_EQ(combo->oGet->hWnd, nullptr); // ... but inert: a drop-down list has no edit field
}

TEST_F(Controls, ComboBoxBoundToNilTakesTheFirstItem) {
    auto d = TDialog::New({.cResName = "TESTDLG"});
    Bound bound;
    auto combo = TComboBox::ReDefine(
        {.nId = 110, .bSetGet = bound.blockOf(), .aItems = rt::makeArray({"X", "Y"}), .oWnd = d});
    d->Activate({.bInit = script({[&](HWND) {
                     EXPECT_EQ(bound.value, rt::Value("X"));
                     EXPECT_EQ(SendMessageA(combo->hWnd, CB_GETCURSEL, 0, 0), 0);
                     d->End();
                 }})});
    Bound number{rt::Value(2)};
    auto d2 = TDialog::New({.cResName = "TESTDLG"});
    auto combo2 = TComboBox::ReDefine(
        {.nId = 110, .bSetGet = number.blockOf(), .aItems = rt::makeArray({"X", "Y"}), .oWnd = d2});
    d2->Activate({.bInit = script({[&](HWND w) {
                      EXPECT_EQ(SendMessageA(combo2->hWnd, CB_GETCURSEL, 0, 0), 1);
                      SendMessageA(combo2->hWnd, CB_SETCURSEL, 0, 0);
                      command(w, CBN_SELCHANGE, 110, combo2->hWnd);
                      EXPECT_EQ(number.value, rt::Value(1)); // a numeric binding receives the position
                      d2->End();
                  }})});
}

TEST_F(Controls, SecondClickWhileTheActionRunsIsIgnored) {
    auto d = TDialog::New({.cResName = "TESTDLG"});
    int runs = 0;
    std::string frames;
    std::shared_ptr<TButton> install;
    install = TButton::ReDefine({.nId = 550,
                                 .bAction = block([&] {
                                     ++runs;
                                     frames = rt::PROCNAME(0) + " " + rt::PROCNAME(1);
                                     // While the box is up, the user clicks again.
                                     insideBox = [&] {
                                         command(d->hWnd, BN_CLICKED, 550, install->hWnd);
                                         SendMessageA(install->hWnd, WMX_CLICK, 0, 0);
                                     };
                                     MSGINFO("busy");
                                     d->End();
                                     return rt::Value();
                                 }),
                                 .oWnd = d});
    d->Activate({.bInit = script({[&](HWND) { PostMessageA(install->hWnd, BM_CLICK, 0, 0); }})});
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(frames, "(b)TEST TBUTTON:CLICK");
    EXPECT_FALSE(install->lProcessing);
}

TEST_F(Controls, ListBoxSelectsTheMatchingItem) {
    auto d = TDialog::New({.cCaption = "List", .nWidth = 300, .nHeight = 200});
    Bound bound{rt::Value(" three")};
    Bound other{rt::Value("none")};
    auto items = rt::makeArray({"One", "Two ", "THREE"});
    auto list = TListBox::New({.nRow = 10,
                               .nCol = 10,
                               .bSetGet = bound.blockOf(),
                               .aItems = items,
                               .nWidth = 100,
                               .nHeight = 60,
                               .oWnd = d,
                               .lPixel = true});
    auto list2 = TListBox::New({.nRow = 10,
                                .nCol = 120,
                                .bSetGet = other.blockOf(),
                                .aItems = items,
                                .nWidth = 100,
                                .nHeight = 60,
                                .oWnd = d,
                                .lPixel = true});
    d->Activate({.bInit = script({[&](HWND w) {
                     char cls[32] = {};
                     GetClassNameA(list->hWnd, cls, sizeof cls);
                     EXPECT_STREQ(cls, "ListBox");
                     EXPECT_EQ(SendMessageA(list->hWnd, LB_GETCOUNT, 0, 0), 3);
                     EXPECT_EQ(SendMessageA(list->hWnd, LB_GETCURSEL, 0, 0), 2);
                     EXPECT_EQ(SendMessageA(list2->hWnd, LB_GETCURSEL, 0, 0), 0);
                     SendMessageA(list->hWnd, LB_SETCURSEL, 1, 0);
                     command(w, LBN_SELCHANGE, list->nId, list->hWnd);
                     EXPECT_EQ(bound.value, rt::Value("Two "));
                     d->End();
                 }})});
}

TEST_F(Controls, AutomaticIdentifiersAndLiveCreation) {
    TControl::nInitID = 100;
    auto d = TDialog::New({.cCaption = "Ids", .nWidth = 300, .nHeight = 200});
    auto a = TSay::New({.nRow = 5,
                        .nCol = 5,
                        .bText = block([] { return rt::Value("&Stack List"); }),
                        .oWnd = d,
                        .lPixels = true});
    auto b = TButton::New({.nRow = 30, .nCol = 5, .cCaption = "B", .oWnd = d, .lPixel = true});
    EXPECT_EQ(a->nId, 101);
    EXPECT_EQ(b->nId, 102);
    // Default label size: six pixels a letter less four, fifteen high.
    EXPECT_EQ(a->nRight - a->nLeft + 1, 62);
    EXPECT_EQ(a->nBottom - a->nTop + 1, 15);
    std::shared_ptr<TButton> late;
    d->Activate({.bInit = script({[&](HWND w) {
                     // With the window running, New makes the control at once.
                     late =
                         TButton::New({.nRow = 60, .nCol = 5, .cCaption = "Late", .oWnd = d, .lPixel = true});
                     EXPECT_EQ(late->nId, 103);
                     ASSERT_NE(late->hWnd, nullptr);
                     EXPECT_EQ(GetParent(late->hWnd), w);
                     EXPECT_EQ(windowText(late->hWnd), "Late");
                     d->End();
                 }})});
    ASSERT_NE(late, nullptr); // the dialog ran
    EXPECT_EQ(late->hWnd, nullptr);
}

TEST_F(Controls, FocusLossRunsTheValidTestUnlessACancelButtonTakesIt) {
    auto d = TDialog::New({.cResName = "TESTDLG"});
    Bound drive{rt::Value("C")};
    bool valid = false;
    int asked = 0;
    auto combo = TComboBox::ReDefine({.nId = 110,
                                      .bSetGet = drive.blockOf(),
                                      .aItems = rt::makeArray({"C", "D"}),
                                      .oWnd = d,
                                      .bValid = block([&] {
                                          ++asked;
                                          return rt::Value(valid);
                                      })});
    auto install =
        TButton::ReDefine({.nId = 550, .oWnd = d, .bWhen = block([] { return rt::Value(false); })});
    auto exit = TButton::ReDefine({.nId = 551, .oWnd = d, .lCancel = true});
    d->Activate({.bInit = script({
                     [&](HWND) {
                         EXPECT_FALSE(IsWindowEnabled(install->hWnd)); // its when test answered false
                         EnableWindow(install->hWnd, TRUE);
                         ::SetFocus(combo->hWnd);
                         EXPECT_TRUE(combo->lFocused);
                         EXPECT_EQ(d->nResult.objectAs<TComboBox>(), combo);
                         d->nLastKey = VK_TAB;
                         ::SetFocus(install->hWnd); // the valid test runs once the message arrives
                     },
                     [&](HWND) {
                         EXPECT_EQ(asked, 1);
                         EXPECT_EQ(GetFocus(), combo->hWnd); // refused: the focus came back
                         EXPECT_FALSE(d->lValidating);
                         d->nLastKey = 0;
                         ::SetFocus(exit->hWnd); // a cancel button: no valid test
                     },
                     [&](HWND) {
                         EXPECT_EQ(asked, 1);
                         EXPECT_EQ(GetFocus(), exit->hWnd);
                         d->End();
                     },
                 })});
}

// An arrow key that the combo box uses is no navigation key, and a focus change made with a
// mouse button held stays where the click put it whatever key came before.
TEST_F(Controls, KeysTheComboBoxUsesNeverMoveAClickedFocus) {
    auto d = TDialog::New({.cResName = "TESTDLG"});
    Bound drive{rt::Value("C")};
    auto combo = TComboBox::ReDefine(
        {.nId = 110, .bSetGet = drive.blockOf(), .aItems = rt::makeArray({"C", "D", "E"}), .oWnd = d});
    auto install = TButton::ReDefine({.nId = 550, .oWnd = d});
    auto exit = TButton::ReDefine({.nId = 551, .oWnd = d, .lCancel = true});
    auto ask = [&](UINT message, WPARAM key) {
        MSG m{combo->hWnd, message, key, 0, 0, {0, 0}};
        SendMessageA(combo->hWnd, WM_GETDLGCODE, key, reinterpret_cast<LPARAM>(&m));
    };
    BYTE saved[256] = {};
    d->Activate({.bInit = script({
                     [&](HWND) {
                         ::SetFocus(combo->hWnd);
                         ask(WM_KEYDOWN, VK_DOWN);
                         EXPECT_EQ(d->nLastKey, 0); // the combo box's own key
                         ask(WM_KEYDOWN, VK_TAB);
                         EXPECT_EQ(d->nLastKey, VK_TAB);
                         ask(WM_CHAR, '('); // a typed character, not the Down key
                         EXPECT_EQ(d->nLastKey, VK_TAB);
                         d->nLastKey = VK_DOWN; // left over from before
                         GetKeyboardState(saved);
                         BYTE held[256];
                         std::copy(std::begin(saved), std::end(saved), held);
                         held[VK_LBUTTON] = 0x80;
                         SetKeyboardState(held);
                         ::SetFocus(exit->hWnd); // as the button does on the mouse press
                         SetKeyboardState(saved);
                     },
                     [&](HWND) {
                         EXPECT_EQ(GetFocus(), exit->hWnd); // not moved on to the install button
                         EXPECT_EQ(d->nLastKey, 0);
                         ::SetFocus(combo->hWnd);
                     },
                     [&](HWND) {
                         ask(WM_KEYDOWN, VK_TAB);
                         ::SetFocus(exit->hWnd); // the key moves the focus on as before
                     },
                     [&](HWND) {
                         EXPECT_EQ(GetFocus(), install->hWnd);
                         d->End();
                     },
                 })});
}

// The bitmap-palette table: a bitmap with a palette is found by the palette messages of its
// dialog once its window is known, and is gone with the window. A resource name clears the
// object's file name; a picture formats text as well as numbers.
TEST_F(Controls, PaletteMessagesRealiseTheBitmapsPalette) {
    auto d = TDialog::New({.cResName = "TESTDLG"});
    auto bmp = TBitmap::ReDefine({.nId = 700, .cResName = "PAL256", .cBmpFile = "  nothing.bmp ", .oWnd = d});
    EXPECT_TRUE(bmp->cBmpFile.isNil());
    auto say = TSay::ReDefine(
        {.nId = 101, .bText = block([] { return rt::Value("abc"); }), .oWnd = d, .cPicture = "@!"});
    EXPECT_EQ(say->cCaption, rt::Value("ABC"));
    ASSERT_NE(bmp->hPalette, nullptr);
    HWND h = nullptr;
    d->Activate({.bInit = script({[&](HWND w) {
                     h = w;
                     EXPECT_EQ(realiseBitmapPalettes(w, false), 1);
                     EXPECT_EQ(d->QueryNewPalette(), rt::Value(true));
                     EXPECT_TRUE(d->PaletteChanged(reinterpret_cast<WPARAM>(bmp->hWnd)).isNil()); // its own
                     EXPECT_EQ(d->PaletteChanged(reinterpret_cast<WPARAM>(GetDesktopWindow())), rt::Value(0));
                     EXPECT_EQ(realiseBitmapPalettes(GetDesktopWindow(), false), 0); // not a window of ours
                     SendMessageA(w, WM_QUERYNEWPALETTE, 0, 0);
                     d->End();
                 }})});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(realiseBitmapPalettes(h, false), 0);
    EXPECT_EQ(bmp->hPalette, nullptr);
}

// The combo box's edit field: a refused valid test puts the focus back into it.
TEST_F(Controls, ComboBoxEditTakesTheFocusBackWhenItsValidTestFails) {
    auto d = pixelDialog("Edit combo");
    Bound text{rt::Value("abc")};
    auto combo = TComboBox::New({.nRow = 10,
                                 .nCol = 10,
                                 .bSetGet = text.blockOf(),
                                 .aItems = rt::makeArray({"abc", "def"}),
                                 .nWidth = 100,
                                 .oWnd = d,
                                 .bValid = block([] { return rt::Value(false); }),
                                 .lPixel = true,
                                 .nStyle = CBS_DROPDOWN});
    auto other = TButton::New({.nRow = 80, .nCol = 10, .cCaption = "Other", .oWnd = d, .lPixel = true});
    d->Activate({.bInit = script({
                     [&](HWND) {
                         ASSERT_NE(combo->oGet, nullptr);
                         ASSERT_NE(combo->oGet->hWnd, nullptr);
                         ::SetFocus(combo->oGet->hWnd);
                         ::SetFocus(other->hWnd);
                     },
                     [&](HWND) {
                         EXPECT_EQ(GetFocus(), combo->oGet->hWnd);
                         d->End();
                     },
                 })});
}

TEST_F(Controls, EnterClicksTheTemplatesDefaultButton) {
    auto d = TDialog::New({.cResName = "DEFDLG"});
    int clicks = 0;
    auto go = TButton::ReDefine({.nId = 550,
                                 .bAction = block([&] {
                                     ++clicks;
                                     return rt::Value();
                                 }),
                                 .oWnd = d});
    auto other = TButton::ReDefine({.nId = 551, .oWnd = d});
    d->Activate({.bInit = script({
                     [&](HWND w) {
                         EXPECT_TRUE(go->lDefault);
                         EXPECT_FALSE(other->lDefault);
                         ::SetFocus(GetDlgItem(w, 120));
                         PostMessageA(GetDlgItem(w, 120), WM_KEYDOWN, VK_RETURN, 0);
                     },
                     [&](HWND) {
                         EXPECT_EQ(clicks, 1);
                         d->End();
                     },
                 })});
}

TEST(PlatformRoutines, DrawBitmapAndOemText) {
    EXPECT_EQ(OEMTOANSI("Atenci\xA2n \x82"), "Atenci\xF3n \xE9"); // code page 437 to 1252
    EXPECT_EQ(OEMTOANSI(std::string("a\0b", 3)), std::string("a\0b", 3));
    HDC screen = GetDC(nullptr);
    HDC target = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, 20, 20);
    HBITMAP dot = CreateCompatibleBitmap(screen, 2, 2);
    HDC dotDC = CreateCompatibleDC(screen);
    HGDIOBJ oldDot = SelectObject(dotDC, dot);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) SetPixel(dotDC, x, y, RGB(0, 0, 255));
    SelectObject(dotDC, oldDot);
    HGDIOBJ oldCanvas = SelectObject(target, canvas);
    RECT all{0, 0, 20, 20};
    FillRect(target, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DRAWBITMAP(target, dot, 6, 3); // row 6, column 3
    EXPECT_EQ(GetPixel(target, 3, 6), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(target, 4, 7), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(target, 6, 3), RGB(255, 255, 255));
    SelectObject(target, oldCanvas);
    DeleteDC(dotDC);
    DeleteDC(target);
    DeleteObject(dot);
    DeleteObject(canvas);
    ReleaseDC(nullptr, screen);
}

TEST_F(Controls, ComboBoxAndBitmapByCoordinates) {
    auto d = TDialog::New({.cCaption = "Coordinates", .nWidth = 300, .nHeight = 200});
    Bound drive;
    auto combo = TComboBox::New({.nRow = 10,
                                 .nCol = 10,
                                 .bSetGet = drive.blockOf(),
                                 .aItems = rt::makeArray({"C", "D"}),
                                 .oWnd = d,
                                 .lPixel = true});
    auto picture = TBitmap::New({.nRow = 10, .nCol = 100, .cResName = "PAL16", .oWnd = d, .lPixel = true});
    EXPECT_EQ(picture->nRight - picture->nLeft + 1, 16); // the image's own size
    EXPECT_NE(d->cToChar(nullptr).find(std::string("T\0B\0I\0T\0M\0A\0P\0\0\0", 16)), std::string::npos);
    d->Activate({.bInit = script({[&](HWND) {
                     ASSERT_NE(combo->hWnd, nullptr);
                     ASSERT_NE(picture->hWnd, nullptr);
                     EXPECT_EQ(SendMessageA(combo->hWnd, CB_GETCOUNT, 0, 0), 2);
                     EXPECT_EQ(drive.value, rt::Value("C"));
                     char cls[32] = {};
                     GetClassNameA(picture->hWnd, cls, sizeof cls);
                     EXPECT_STREQ(cls, "TBITMAP");
                     d->End();
                 }})});
}

TEST(Bitmaps, TransparencyReplacesOnlyTheKeyColour) {
    auto b = std::make_shared<TBitmap>();
    HDC screen = GetDC(nullptr);
    b->hBitmap = CreateCompatibleBitmap(screen, 4, 2);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, b->hBitmap);
    const COLORREF key = RGB(255, 0, 255), nearKey = RGB(254, 0, 255), other = RGB(255, 255, 255);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) SetPixel(dc, x, y, other);
    SetPixel(dc, 0, 0, key);
    SetPixel(dc, 3, 1, key);
    SetPixel(dc, 1, 0, nearKey);
    SelectObject(dc, old);
    b->nClrPane = RGB(10, 20, 30);
    EXPECT_TRUE(b->ReplaceKeyColour());
    old = SelectObject(dc, b->hBitmap);
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(10, 20, 30));
    EXPECT_EQ(GetPixel(dc, 3, 1), RGB(10, 20, 30));
    EXPECT_EQ(GetPixel(dc, 1, 0), nearKey);
    EXPECT_EQ(GetPixel(dc, 2, 0), other);
    SelectObject(dc, old);
    // The top-left pixel now equals the background: nothing more changes.
    EXPECT_FALSE(b->ReplaceKeyColour());
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    DeleteObject(b->hBitmap);
    b->hBitmap = nullptr;
}

// With DIALOGS_SHOW_SECONDS set, shows the template dialog that long (for a screenshot).
TEST_F(Controls, ShowForAScreenshot) {
    const char* seconds = std::getenv("DIALOGS_SHOW_SECONDS");
    if (!seconds) GTEST_SKIP() << "set DIALOGS_SHOW_SECONDS to look at the dialog";
    auto d = TDialog::New({.cCaption = " Instalaci\xF3n de prueba", .cResName = "TESTDLG"});
    TBitmap::ReDefine({.nId = 700, .cResName = "PAL256", .oWnd = d, .lTransparent = true});
    TSay::ReDefine(
        {.nId = 101,
         .bText = block([] { return rt::Value("Texto de prueba con acentos: \xE1\xE9\xED\xF3\xFA"); }),
         .oWnd = d});
    Bound drive{rt::Value("C")};
    TComboBox::ReDefine(
        {.nId = 110, .bSetGet = drive.blockOf(), .aItems = rt::makeArray({"C", "D", "E"}), .oWnd = d});
    TButton::ReDefine({.nId = 550, .oWnd = d});
    TButton::ReDefine({.nId = 551, .oWnd = d, .lCancel = true});
    std::vector<Step> steps;
    for (int i = 0; i < std::atoi(seconds) * 100; ++i) steps.push_back([](HWND) {});
    steps.push_back([&](HWND) { d->End(); });
    d->Activate({.lCentered = true, .bInit = script(steps)});
}

} // namespace

namespace {

// The main dialog's template of the program's resource library, bound the way the program
// binds it. With DIALOGS_SHOW_SECONDS set it stays up that long, for a screenshot.
TEST(ResourceLibrary, PrincipalTemplateBindsTheFiveControls) {
    resetCaptures();
    if (!SETRESOURCES("progdll.dll")) {
        FREERESOURCES();
        GTEST_SKIP() << "progdll.dll is not beside the test program";
    }
    auto d = TDialog::New({.cCaption = " Instalaci\xF3n de Ayuda para Norvaledo C\xE9"
                                       "nit v.2009 R07",
                           .cResName = "PRINCIPAL",
                           .lVbx = false,
                           .lPixel = false});
    auto bmp = TBitmap::ReDefine({.nId = 700, .cResName = "norvaled", .oWnd = d, .lTransparent = true});
    const std::string start = "Este proceso instala la Ayuda de NORVALEDO C\xC9NIT v.2009 Release 07.\n\r\n\r"
                              "Por favor, seleccione UNIDAD de proceso :";
    auto say = TSay::ReDefine({.nId = 101, .bText = block([start] { return rt::Value(start); }), .oWnd = d});
    Bound drive{rt::Value("C")};
    auto letters = rt::makeArray();
    for (const char* l : {"C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N",
                          "O", "P", "Q", "R", "S", "T", "U", "V", "X", "Y", "Z"})
        letters->add(l);
    auto combo = TComboBox::ReDefine({.nId = 110, .bSetGet = drive.blockOf(), .aItems = letters, .oWnd = d});
    bool exitFlag = false;
    TButton::ReDefine({.nId = 550, .oWnd = d});
    auto exit = TButton::ReDefine({.nId = 551,
                                   .bAction = block([&] {
                                       exitFlag = true;
                                       d->End();
                                       return rt::Value();
                                   }),
                                   .oWnd = d,
                                   .lCancel = true});
    EXPECT_NE(bmp->hPalette, nullptr); // a 256-colour image
    const char* seconds = std::getenv("DIALOGS_SHOW_SECONDS");
    std::vector<Step> steps{[&](HWND) {
        EXPECT_NE(bmp->hWnd, nullptr);
        EXPECT_EQ(windowText(say->hWnd), start);
        EXPECT_EQ(SendMessageA(combo->hWnd, CB_GETCOUNT, 0, 0), 23);
    }};
    for (int i = 0; seconds && i < std::atoi(seconds) * 100; ++i) steps.push_back([](HWND) {});
    steps.push_back([&](HWND) { PostMessageA(exit->hWnd, BM_CLICK, 0, 0); });
    d->Activate(
        {.lCentered = true, .bValid = block([&] { return rt::Value(exitFlag); }), .bInit = script(steps)});
    FREERESOURCES();
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(d->nResult, rt::Value(2));
}

} // namespace
