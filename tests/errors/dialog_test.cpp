// The error dialog's controls before it is shown: order, classes, texts, rectangles, styles,
// the default button and what each button's action leaves as the result.
#include "errors/error_dialog.h"

#include "errors/logo.h"

#include <gtest/gtest.h>

using namespace dialogs;

namespace {

struct Rect {
    std::int64_t top, left, bottom, right;
    friend bool operator==(const Rect&, const Rect&) = default;
};
Rect rectOf(const TWindow& w) {
    return {w.nTop, w.nLeft, w.nBottom, w.nRight};
}

std::ostream& operator<<(std::ostream& os, const Rect& r) {
    return os << "{" << r.top << ", " << r.left << ", " << r.bottom << ", " << r.right << "}";
}

errors::ErrorDialogData dataWith(bool retry, bool deflt, bool nt = true) {
    errors::ErrorDialogData d;
    d.errorLine = "   Error description: Error BASE/1108  Argument error: A&B\r\n";
    d.stackLines = {"   Called from AT(0)", "   Called from MAIN(12)"};
    d.canRetry = retry;
    d.canDefault = deflt;
    d.ntFamily = nt;
    return d;
}

DWORD styleOf(const TWindow& w) {
    return static_cast<DWORD>(w.nStyle.asInteger());
}
bool isDefaultButton(const TWindow& w) {
    return (styleOf(w) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

// The buttons of the row, by caption.
std::shared_ptr<TButton> buttonNamed(const TDialog& d, const char* caption) {
    for (const auto& c : d.aControls)
        if (auto b = std::dynamic_pointer_cast<TButton>(c); b && b->cCaption == rt::Value(caption)) return b;
    return nullptr;
}

} // namespace

TEST(ErrorDialog, DialogLabelsAndList) {
    auto result = std::make_shared<rt::Value>();
    const auto d = errors::buildErrorDialog(dataWith(false, false), result);
    EXPECT_EQ(d->cCaption, rt::Value("Velloro for Quendar"));
    EXPECT_TRUE(rt::EMPTY(d->cResName));
    EXPECT_EQ(rectOf(*d), (Rect{0, 0, 250, 300}));
    ASSERT_EQ(d->aControls.size(), 5u);

    const auto& label = *d->aControls[0];
    EXPECT_EQ(label.platformClass(), "STATIC");
    EXPECT_EQ(label.cCaption, rt::Value("   Error description: Error BASE/1108  Argument error: A&B\r\n"));
    EXPECT_EQ(rectOf(label), (Rect{3, 22, 25, 148}));
    EXPECT_EQ(styleOf(label), static_cast<DWORD>(WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX));

    const auto& title = *d->aControls[1];
    EXPECT_EQ(title.platformClass(), "STATIC");
    EXPECT_EQ(title.cCaption, rt::Value("&Stack List"));
    EXPECT_EQ(rectOf(title), (Rect{24, 6, 38, 67}));
    EXPECT_EQ(styleOf(title), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));

    const auto list = std::dynamic_pointer_cast<TListBox>(d->aControls[2]);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->platformClass(), "LISTBOX");
    EXPECT_EQ(rectOf(*list), (Rect{33, 3, 110, 147}));
    EXPECT_EQ(styleOf(*list), static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | WS_VSCROLL |
                                                 LBS_NOTIFY | LBS_USETABSTOPS));
    ASSERT_EQ(list->aItems->size(), 2u);
    EXPECT_EQ(list->aItems->at(1), rt::Value("   Called from AT(0)"));
    EXPECT_EQ(rt::eval(list->bSetGet), rt::Value("   Called from AT(0)")); // the first line is selected

    const auto& report = *d->aControls[4];
    EXPECT_EQ(report.platformClass(), "BUTTON");
    EXPECT_EQ(report.cCaption, rt::Value("See Error.log file"));
    EXPECT_EQ(rectOf(report), (Rect{21, 100, 31, 147}));
    EXPECT_EQ(styleOf(report), static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON));
}

TEST(ErrorDialog, OlderSystemsGetTheShortLayout) {
    const auto d = errors::buildErrorDialog(dataWith(true, true, false), std::make_shared<rt::Value>());
    EXPECT_EQ(rectOf(*d), (Rect{0, 0, 200, 300}));
    EXPECT_EQ(rectOf(*d->aControls[2]), (Rect{33, 3, 92, 147}));
    EXPECT_EQ(d->aControls[3]->nTop, 88);
}

TEST(ErrorDialog, ButtonRows) {
    struct Case {
        bool retry, deflt;
        std::vector<std::pair<const char*, std::int64_t>> row; // caption, left, in creation order
        const char* defaultButton;                             // or null
    };
    const Case cases[] = {
        {false, false, {{"&Quit", 60}}, "&Quit"},
        {true, false, {{"&Quit", 37}, {"&Retry", 82}}, nullptr},
        {false, true, {{"&Quit", 37}, {"&Default", 108}}, nullptr},
        {true, true, {{"&Quit", 60}, {"&Retry", 13}, {"&Default", 108}}, "&Quit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.row.size()) + " buttons, retry " + std::to_string(c.retry));
        const auto d = errors::buildErrorDialog(dataWith(c.retry, c.deflt), std::make_shared<rt::Value>());
        ASSERT_EQ(d->aControls.size(), 4 + c.row.size());
        for (std::size_t i = 0; i < c.row.size(); ++i) {
            const auto& b = *d->aControls[3 + i];
            EXPECT_EQ(b.cCaption, rt::Value(c.row[i].first));
            EXPECT_EQ(rectOf(b), (Rect{112, c.row[i].second, 123, c.row[i].second + 30}));
            const bool shouldBeDefault = c.defaultButton && std::string(c.defaultButton) == c.row[i].first;
            EXPECT_EQ(isDefaultButton(b), shouldBeDefault) << c.row[i].first;
            EXPECT_TRUE(styleOf(b) & WS_TABSTOP);
        }
        EXPECT_EQ(d->aControls.back()->cCaption, rt::Value("See Error.log file"));
    }
}

TEST(ErrorDialog, ButtonActionsSetTheResult) {
    auto result = std::make_shared<rt::Value>();
    const auto d = errors::buildErrorDialog(dataWith(true, true), result);
    rt::eval(buttonNamed(*d, "&Quit")->bAction);
    EXPECT_TRUE(result->isNil());
    rt::eval(buttonNamed(*d, "&Retry")->bAction);
    EXPECT_EQ(*result, rt::Value(true));
    rt::eval(buttonNamed(*d, "&Default")->bAction);
    EXPECT_EQ(*result, rt::Value(false));
}

TEST(ErrorDialog, LogoBitmap) {
    HBITMAP logo = errors::makeLogoBitmap();
    ASSERT_TRUE(logo);
    BITMAP bm{};
    ASSERT_TRUE(GetObjectA(logo, sizeof bm, &bm));
    EXPECT_EQ(bm.bmWidth, 32);
    EXPECT_EQ(bm.bmHeight, 32);
    DeleteObject(logo);
}
