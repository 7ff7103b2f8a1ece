// TDialog: the in-memory template, the ways a dialog ends and the valid test, nested modal
// dialogs and the stack, refused activation, creation failures, modeless dialogs.
#include "harness.h"

#include <vector>

using namespace dialogs;
using namespace testing_dialogs;

namespace {

rt::Value block(std::function<rt::Value()> fn) {
    return rt::makeBlock("TEST", [fn](rt::Args) { return fn(); });
}

// A hand-built little-endian byte string.
struct Bytes {
    std::string s;
    Bytes& w(unsigned v) {
        s += static_cast<char>(v & 0xFF);
        s += static_cast<char>((v >> 8) & 0xFF);
        return *this;
    }
    Bytes& d(unsigned v) { return w(v & 0xFFFF).w(v >> 16); }
    Bytes& t(std::u16string_view text) {
        for (char16_t c : text) w(c);
        return w(0);
    }
    Bytes& pad() {
        while (s.size() % 4) s += '\0';
        return *this;
    }
};

class Dialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        resetCaptures();
        const LONG base = GetDialogBaseUnits();
        wu = LOWORD(base);
        hu = HIWORD(base);
    }
    long long wu = 0, hu = 0;
};

TEST_F(Dialogs, InMemoryTemplateBytes) {
    TControl::nInitID = 100;
    // Coordinates chosen as whole multiples of the base units, so every conversion is exact.
    auto d = TDialog::New({.nTop = 2 * hu,
                           .nLeft = 3 * wu,
                           .nBottom = 12 * hu,
                           .nRight = 50 * wu,
                           .cCaption = "Abc",
                           .lPixel = true});
    TSay::New({.nRow = hu,
               .nCol = wu,
               .bText = block([] { return rt::Value("Hi"); }),
               .oWnd = d,
               .lPixels = true,
               .nWidth = 5 * wu + 1,
               .nHeight = 2 * hu + 1});
    TButton::New({.nRow = 4 * hu,
                  .nCol = 2 * wu,
                  .cCaption = "&Go",
                  .oWnd = d,
                  .nWidth = 3 * wu,
                  .nHeight = hu,
                  .lDefault = true,
                  .lPixel = true});
    Bytes expected;
    expected.d(0x80C80080).d(0).w(2).w(12).w(16).w(200 - 12 + 1).w(96 - 16 + 1).w(0).w(0).t(u"Abc ");
    expected.d(0x50000000)
        .d(0)
        .w(8)
        .w(16)
        .w(48 - 8 + 1)
        .w(48 - 16 + 1)
        .w(101)
        .t(u"STATIC")
        .t(u"Hi")
        .w(0)
        .pad();
    expected.d(0x50010001)
        .d(0)
        .w(16)
        .w(64)
        .w(40 - 16 + 1)
        .w(80 - 64 + 1)
        .w(102)
        .t(u"BUTTON")
        .t(u"&Go")
        .w(0)
        .pad();
    EXPECT_EQ(d->cToChar(nullptr), expected.s);
    EXPECT_EQ(expected.s.size() % 4, 0u);
}

TEST_F(Dialogs, TemplateCaptionsStylesAndLimits) {
    auto d = TDialog::New({.cCaption = "Instalaci\xF3n", .nStyle = 2, .nWidth = 100, .nHeight = 50});
    std::string t = d->cToChar(nullptr);
    EXPECT_EQ(Bytes().d(0x80000002).d(0x20).s, t.substr(0, 8));
    EXPECT_EQ(t.substr(22), Bytes().t(u"Instalaci\u00F3n ").s); // ANSI text, padded to even length

    d = TDialog::New({.nStyle = 0x10000000, .nWidth = 100, .nHeight = 50});
    t = d->cToChar(nullptr);
    EXPECT_EQ(Bytes().d(0xC0000000).d(0).s, t.substr(0, 8));
    EXPECT_EQ(t.size(), 24u); // no caption: only the terminator

    // Long captions are cut to 112 characters: the header never exceeds 250 bytes.
    d = TDialog::New({.cCaption = std::string(300, 'x'), .nWidth = 100, .nHeight = 50});
    t = d->cToChar(nullptr);
    EXPECT_EQ(t.size(), 22u + 2 * 113);
}

TEST_F(Dialogs, ValidBlockRefusesEveryWayOut) {
    auto d = pixelDialog("Valid");
    auto button = TButton::New(
        {.nRow = 10, .nCol = 10, .cCaption = "OK", .oWnd = d, .nWidth = 40, .nHeight = 12, .lPixel = true});
    bool flag = false;
    int asked = 0;
    HWND h = nullptr;
    d->Activate({.bValid = block([&] {
                     ++asked;
                     return rt::Value(flag);
                 }),
                 .bInit = script({
                     [&](HWND w) {
                         h = w;
                         // Escape through the platform's dialog manager.
                         PostMessageA(button->hWnd, WM_KEYDOWN, VK_ESCAPE, 0);
                     },
                     [&](HWND w) { PostMessageA(w, WM_CLOSE, 0, 0); },
                     [&](HWND w) { PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0); },
                     [&](HWND w) { command(w, 0, IDCANCEL, nullptr); },
                     [&](HWND w) {
                         EXPECT_EQ(asked, 4);
                         EXPECT_TRUE(IsWindowVisible(w));
                         EXPECT_EQ(d->hWnd, w);
                         EXPECT_TRUE(d->lVisible);
                         flag = true;
                         PostMessageA(w, WM_CLOSE, 0, 0);
                     },
                 })});
    EXPECT_EQ(asked, 5);
    EXPECT_EQ(d->nResult, rt::Value(2));
    EXPECT_FALSE(d->lVisible);
    EXPECT_EQ(d->hWnd, nullptr);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(button->hWnd, nullptr); // the control unlinked itself on WM_DESTROY
    EXPECT_TRUE(OWNDFROMHWND(h).isNil());
}

TEST_F(Dialogs, CommandPaths) {
    auto d = pixelDialog("Commands");
    int first = 0, second = 0;
    auto b1 = TButton::New({.nRow = 10,
                            .nCol = 10,
                            .cCaption = "One",
                            .oWnd = d,
                            .bAction = block([&] {
                                ++first;
                                return rt::Value();
                            }),
                            .nWidth = 40,
                            .nHeight = 12,
                            .lPixel = true});
    auto b2 = TButton::New({.nRow = 10,
                            .nCol = 60,
                            .cCaption = "Two",
                            .oWnd = d,
                            .bAction = block([&] {
                                ++second;
                                return rt::Value();
                            }),
                            .nWidth = 40,
                            .nHeight = 12,
                            .lPixel = true,
                            .lCancel = true});
    auto label = TSay::New({.nRow = 40,
                            .nCol = 10,
                            .bText = block([] { return rt::Value("label"); }),
                            .oWnd = d,
                            .lPixels = true});
    HWND stray = nullptr;
    d->Activate({.bInit = script({
                     [&](HWND w) {
                         // The focused control's valid test fails: only a cancel button gets through.
                         label->bValid = block([] { return rt::Value(false); });
                         d->nResult = rt::Value(label);
                         command(w, BN_CLICKED, b1->nId, b1->hWnd);
                         command(w, BN_CLICKED, b2->nId, b2->hWnd);
                         EXPECT_EQ(first, 0);
                         EXPECT_EQ(second, 1);
                         label->bValid = rt::Value();
                         command(w, BN_CLICKED, b1->nId, b1->hWnd);
                         EXPECT_EQ(first, 1);
                         // Enter without a default button moves the focus on; the dialog stays.
                         ::SetFocus(b1->hWnd);
                         command(w, BN_CLICKED, IDOK, nullptr);
                         EXPECT_EQ(GetFocus(), b2->hWnd);
                         EXPECT_EQ(d->hWnd, w);
                         // An accelerator-like command with code 1 and no control does nothing.
                         command(w, 1, 4242, nullptr);
                         EXPECT_EQ(d->hWnd, w);
                         // Compression progress: 15001 to bZip with lParam, 15000 to bUnZip with
                         // its low word.
                         std::vector<long long> zip, unzip;
                         d->bZip = rt::makeBlock("TEST", [&](rt::Args a) {
                             zip.push_back(a[0].asInteger());
                             return rt::Value();
                         });
                         d->bUnZip = rt::makeBlock("TEST", [&](rt::Args a) {
                             unzip.push_back(a[0].asInteger());
                             return rt::Value();
                         });
                         SendMessageA(w, WM_COMMAND, MAKEWPARAM(15001, 2), 0x00030007);
                         SendMessageA(w, WM_COMMAND, MAKEWPARAM(15000, 2), 0x00030007);
                         EXPECT_EQ(zip, (std::vector<long long>{0x00030007}));
                         EXPECT_EQ(unzip, (std::vector<long long>{7}));
                         EXPECT_EQ(d->hWnd, w);
                     },
                     [&](HWND w) {
                         // IDOK from a control that has no object ends the dialog with 1.
                         stray = CreateWindowExA(0, "BUTTON", "stray", WS_CHILD, 0, 0, 10, 10, w,
                                                 reinterpret_cast<HMENU>(IDOK), nullptr, nullptr);
                         command(w, BN_CLICKED, IDOK, stray);
                     },
                 })});
    EXPECT_EQ(d->nResult, rt::Value(1));
    EXPECT_FALSE(IsWindow(stray));
}

TEST_F(Dialogs, NestedDialogBindsItsOwnStackEntry) {
    int aClicks = 0, bClicks = 0;
    auto a = pixelDialog("A");
    auto aButton = TButton::New({.nRow = 10,
                                 .nCol = 10,
                                 .cCaption = "A",
                                 .oWnd = a,
                                 .bAction = block([&] {
                                     ++aClicks;
                                     return rt::Value();
                                 }),
                                 .lPixel = true});
    auto b = pixelDialog("B");
    auto bButton = TButton::New({.nRow = 10,
                                 .nCol = 10,
                                 .cCaption = "B",
                                 .oWnd = b,
                                 .bAction = block([&] {
                                     ++bClicks;
                                     return rt::Value();
                                 }),
                                 .lPixel = true});
    HWND ha = nullptr, hb = nullptr;
    EXPECT_FALSE(rt::LWRUNNING());
    a->Activate({.bInit = script({
                     [&](HWND w) {
                         ha = w;
                         EXPECT_EQ(modalStackDepth(), 1);
                         EXPECT_TRUE(rt::LWRUNNING());
                         b->Activate({.bInit = script({[&](HWND w2) {
                                          hb = w2;
                                          EXPECT_EQ(modalStackDepth(), 2);
                                          EXPECT_EQ(TDialog::nestingCount(), 2);
                                          EXPECT_EQ(modalDialogFromHandle(ha), a);
                                          EXPECT_EQ(modalDialogFromHandle(hb), b);
                                          EXPECT_EQ(GetWindow(hb, GW_OWNER), ha);
                                          command(ha, BN_CLICKED, aButton->nId, aButton->hWnd);
                                          command(hb, BN_CLICKED, bButton->nId, bButton->hWnd);
                                          EXPECT_EQ(aClicks, 1);
                                          EXPECT_EQ(bClicks, 1);
                                          b->End();
                                      }})});
                         EXPECT_EQ(modalStackDepth(), 1);
                         EXPECT_EQ(b->nResult, rt::Value(2));
                     },
                     [&](HWND w) {
                         command(w, BN_CLICKED, aButton->nId, aButton->hWnd);
                         EXPECT_EQ(aClicks, 2);
                         EXPECT_TRUE(OWNDFROMHWND(w).isNil()); // modal dialogs are not in the table
                         a->End();
                     },
                 })});
    EXPECT_EQ(modalStackDepth(), 0);
    EXPECT_EQ(TDialog::nestingCount(), 0);
    EXPECT_FALSE(rt::LWRUNNING());
}

TEST_F(Dialogs, NestingBeyondFiftyIsRefused) {
    int routed = 0;
    std::function<void(int)> open = [&](int level) {
        const std::string caption = "D" + std::to_string(level);
        auto d = pixelDialog(caption.c_str());
        if (level == 51) {
            // No stack entry is left for it: it is refused with framework error 3, no window.
            const std::size_t before = errors.size();
            EXPECT_TRUE(d->Activate().isNil());
            ASSERT_EQ(errors.size(), before + 1);
            EXPECT_EQ(errors.back()->SubCode, rt::Value(3));
            EXPECT_EQ(errors.back()->Operation, rt::Value("\r\nTitle: D51"));
            EXPECT_EQ(d->nResult, rt::Value(-1));
            EXPECT_EQ(FindWindowA("#32770", "D51 "), nullptr);
            EXPECT_EQ(modalStackDepth(), 50);
            return;
        }
        d->Activate({.bInit = script({
                         [&open, level](HWND) { open(level + 1); },
                         [&routed, d](HWND w) {
                             EXPECT_EQ(modalDialogFromHandle(w), d);
                             ++routed;
                             d->End();
                         },
                     })});
    };
    open(1);
    EXPECT_EQ(routed, 50);
    EXPECT_EQ(modalStackDepth(), 0);
}

// The template's font belongs to the window and dies with it: a second activation shows the
// new window's font, never the deleted one.
TEST_F(Dialogs, SecondActivationTakesTheNewWindowsFont) {
    SETRESOURCES(testResources());
    auto d = TDialog::New({.cResName = "TESTDLG"});
    auto say = TSay::ReDefine({.nId = 101, .oWnd = d});
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        d->Activate({.bInit = script({[&](HWND w) {
                         const auto windowFont = reinterpret_cast<HFONT>(SendMessageA(w, WM_GETFONT, 0, 0));
                         ASSERT_NE(d->oFont, nullptr);
                         EXPECT_EQ(d->oFont->hFont, windowFont);
                         EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(say->hWnd, WM_GETFONT, 0, 0)),
                                   windowFont);
                         LOGFONTA lf{};
                         EXPECT_NE(GetObjectA(d->oFont->hFont, sizeof lf, &lf), 0); // a live font
                         d->End();
                     }})});
        EXPECT_EQ(d->oFont, nullptr);
    }
    FREERESOURCES();
}

// A modeless dialog without controls needs no slot of the registry.
TEST_F(Dialogs, ModelessDialogsWithoutControlsTakeNoSlot) {
    std::vector<std::shared_ptr<TDialog>> open;
    for (int i = 0; i < kModelessDialogs + 2; ++i) {
        auto d = pixelDialog("Bare");
        d->Activate({.lModal = false});
        ASSERT_NE(d->hWnd, nullptr) << i;
        open.push_back(d);
    }
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(modelessSlotFree());
    for (const auto& d : open) DestroyWindow(d->hWnd);
    for (const auto& d : open) EXPECT_EQ(d->hWnd, nullptr);
}

TEST_F(Dialogs, RefusedActivationMakesNoWindow) {
    auto d = pixelDialog("Never");
    bool initialised = false;
    const int before = TDialog::nestingCount();
    EXPECT_TRUE(d->Activate({.bInit = block([&] {
                                 initialised = true;
                                 return rt::Value();
                             }),
                             .bWhen = block([] { return rt::Value(false); })})
                    .isNil());
    EXPECT_FALSE(initialised);
    EXPECT_EQ(d->nResult, rt::Value(2));
    EXPECT_FALSE(d->lVisible);
    EXPECT_EQ(d->hWnd, nullptr);
    EXPECT_EQ(TDialog::nestingCount(), before);
}

TEST_F(Dialogs, MissingTemplateRaisesError3) {
    SETRESOURCES(testResources());
    auto d = TDialog::New({.cResName = "NOPE"});
    EXPECT_TRUE(d->Activate().isNil());
    FREERESOURCES();
    ASSERT_EQ(errors.size(), 1u);
    const auto& e = errors[0];
    EXPECT_EQ(e->Description, rt::Value("Cannot create Dialog Box"));
    EXPECT_EQ(e->SubSystem, rt::Value("Velloro"));
    EXPECT_EQ(e->SubCode, rt::Value(3));
    EXPECT_EQ(e->Severity, rt::Value(3));
    EXPECT_EQ(e->Operation, rt::Value("\r\nResource: NOPE"));
    EXPECT_EQ(d->nResult, rt::Value(-1));
    EXPECT_FALSE(d->lVisible);
    EXPECT_EQ(modalStackDepth(), 0);
}

TEST_F(Dialogs, DuplicateAndUnknownIdentifiers) {
    SETRESOURCES(testResources());
    auto d = TDialog::New({.cResName = "TESTDLG"});
    auto first = TSay::ReDefine({.nId = 101, .oWnd = d});
    auto twin = TSay::ReDefine({.nId = 101, .oWnd = d});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->SubCode, rt::Value(2));
    EXPECT_EQ(errors[0]->Description, rt::Value("Duplicated Id"));
    EXPECT_EQ(errors[0]->Operation, rt::Value("No:    101"));
    EXPECT_EQ(d->aControls.size(), 1u);

    auto unknown = TSay::ReDefine({.nId = 999, .oWnd = d});
    d->Activate({.bInit = script({[&](HWND) {
                     EXPECT_NE(first->hWnd, nullptr);
                     EXPECT_EQ(unknown->hWnd, nullptr);
                     d->End();
                 }})});
    FREERESOURCES();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1]->SubCode, rt::Value(1));
    EXPECT_EQ(errors[1]->Description, rt::Value("Non defined Id"));
    EXPECT_EQ(errors[1]->Operation, rt::Value("No:    999"));
}

void pump() {
    for (int i = 0; i < 20; ++i) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        Sleep(5);
    }
}

TEST_F(Dialogs, ModelessDialogClosesThroughItsValidTest) {
    auto d = pixelDialog("Modeless");
    auto button = TButton::New({.nRow = 10, .nCol = 10, .cCaption = "OK", .oWnd = d, .lPixel = true});
    bool flag = false;
    EXPECT_TRUE(d->Activate({.bValid = block([&] { return rt::Value(flag); }), .lModal = false}).isNil());
    const HWND h = d->hWnd;
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_EQ(OWNDFROMHWND(h).objectAs<TDialog>(), d); // modeless dialogs are linked
    EXPECT_NE(button->hWnd, nullptr);
    EXPECT_TRUE(d->End());
    pump();
    EXPECT_TRUE(IsWindow(h));
    flag = true;
    d->End();
    pump();
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(d->hWnd, nullptr);
    EXPECT_EQ(d->nResult, rt::Value(2));
    EXPECT_TRUE(OWNDFROMHWND(h).isNil());
    EXPECT_EQ(button->hWnd, nullptr);
    EXPECT_TRUE(modelessSlotFree());
}

} // namespace
