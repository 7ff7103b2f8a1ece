// The window-object table: slots and their procedures, routing of a subclassed window's
// messages, and the end of the procedure pool.
#include "harness.h"

using namespace dialogs;
using namespace testing_dialogs;

namespace {

// A window object that answers WM_SETTEXT with a value chosen by the test.
class Probe : public TWindow {
  public:
    rt::Value answer;
    int seen = 0;
    rt::Value HandleEvent(UINT nMsg, WPARAM w, LPARAM l) override {
        if (nMsg == WM_SETTEXT) {
            ++seen;
            return answer;
        }
        return TWindow::HandleEvent(nMsg, w, l);
    }
};

std::shared_ptr<Probe> probeWindow() {
    auto p = std::make_shared<Probe>();
    p->hWnd =
        CreateWindowExA(0, "STATIC", "start", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, nullptr, nullptr);
    return p;
}

std::size_t slotOf(const std::shared_ptr<TWindow>& w) {
    const auto& items = GETALLWIN()->items;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].objectAs<TWindow>() == w) return i + 1;
    return 0;
}

WNDPROC procOf(HWND h) {
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(h, GWLP_WNDPROC));
}

std::string textOf(HWND h) {
    char buf[64] = {};
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
}

TEST(Registry, FreedSlotIsReusedWithTheSameProcedure) {
    auto a = probeWindow(), b = probeWindow(), c = probeWindow();
    const WNDPROC classProc = procOf(a->hWnd);
    a->Link();
    b->Link();
    const std::size_t slotA = slotOf(a), slotB = slotOf(b);
    ASSERT_NE(slotA, 0u);
    ASSERT_NE(slotB, 0u);
    EXPECT_NE(slotA, slotB);
    EXPECT_EQ(procOf(a->hWnd), slotProcedure(static_cast<int>(slotA)));
    EXPECT_EQ(procOf(b->hWnd), slotProcedure(static_cast<int>(slotB)));
    EXPECT_NE(slotProcedure(static_cast<int>(slotA)), slotProcedure(static_cast<int>(slotB)));
    EXPECT_EQ(a->nOldProc, classProc);
    EXPECT_EQ(OWNDFROMHWND(a->hWnd).objectAs<Probe>(), a);
    EXPECT_TRUE(WNDMAIN().isNil());
    setMainWindow(b->hWnd);
    EXPECT_EQ(WNDMAIN().objectAs<Probe>(), b);
    setMainWindow(nullptr);

    a->UnLink();
    EXPECT_EQ(GETALLWIN()->at(slotA), rt::Value(0));
    EXPECT_EQ(procOf(a->hWnd), classProc);
    EXPECT_EQ(a->nOldProc, nullptr);
    EXPECT_TRUE(OWNDFROMHWND(a->hWnd).isNil());

    c->Link();
    EXPECT_EQ(slotOf(c), slotA);
    EXPECT_EQ(procOf(c->hWnd), slotProcedure(static_cast<int>(slotA)));

    // WM_DESTROY reaches Destroy, which unlinks the object.
    const HWND hc = c->hWnd;
    DestroyWindow(hc);
    EXPECT_EQ(c->hWnd, nullptr);
    EXPECT_EQ(GETALLWIN()->at(slotA), rt::Value(0));
    DestroyWindow(b->hWnd);
    DestroyWindow(a->hWnd);
    EXPECT_EQ(slotProcedure(0), nullptr);
    EXPECT_EQ(slotProcedure(kSlotProcedures), nullptr);
}

TEST(Registry, NilLetsTheClassProcedureWorkANumberReplacesIt) {
    auto p = probeWindow();
    p->Link();
    SetWindowTextA(p->hWnd, "changed"); // nil: the static's own procedure stores the text
    EXPECT_EQ(textOf(p->hWnd), "changed");
    p->answer = 1;
    SetWindowTextA(p->hWnd, "ignored");
    EXPECT_EQ(textOf(p->hWnd), "changed");
    EXPECT_EQ(p->seen, 2);
    DestroyWindow(p->hWnd);
}

TEST(Registry, ThePoolEndsAtSlot1999) {
    resetCaptures();
    auto& items = GETALLWIN()->items;
    const std::size_t before = items.size();
    std::vector<std::size_t> filled;
    auto fillTo = [&](std::size_t n) { // occupy every slot up to n
        for (std::size_t i = 0; i < items.size() && i < n; ++i)
            if (!items[i].isObject()) {
                items[i] = rt::Value(std::make_shared<TWindow>());
                filled.push_back(i);
            }
        while (items.size() < n) {
            items.push_back(rt::Value(std::make_shared<TWindow>()));
            filled.push_back(items.size() - 1);
        }
    };
    fillTo(1998);
    auto last = probeWindow();
    last->Link();
    EXPECT_EQ(slotOf(last), 1999u);
    EXPECT_EQ(procOf(last->hWnd), slotProcedure(1999));
    EXPECT_TRUE(boxes.empty());

    auto beyond = probeWindow();
    const WNDPROC classProc = procOf(beyond->hWnd);
    beyond->Link();
    EXPECT_EQ(slotOf(beyond), 2000u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error from _XBPPProc");
    EXPECT_EQ(boxes[0].title, "wAt > 2000");
    EXPECT_EQ(procOf(beyond->hWnd), classProc); // left unsubclassed
    EXPECT_EQ(beyond->nOldProc, nullptr);

    DestroyWindow(last->hWnd);
    beyond->UnLink();
    DestroyWindow(beyond->hWnd);
    for (std::size_t i : filled) items[i] = rt::Value(0);
    while (items.size() > before && !items.back().isObject()) items.pop_back();
}

TEST(FrameworkErrors, TheFixedTable) {
    const auto e1 = makeFrameworkError(1, "No:    700");
    EXPECT_EQ(e1->Description, rt::Value("Non defined Id"));
    EXPECT_EQ(e1->SubSystem, rt::Value("Velloro"));
    EXPECT_EQ(e1->SubCode, rt::Value(1));
    EXPECT_EQ(e1->Severity, rt::Value(3));
    EXPECT_FALSE(e1->CanDefault);
    EXPECT_EQ(e1->Operation, rt::Value("No:    700"));
    const auto e4 = makeFrameworkError(4, "");
    EXPECT_EQ(e4->Description, rt::Value("Memory Low"));
    EXPECT_EQ(e4->SubSystem, rt::Value("BASE"));
    EXPECT_EQ(e4->SubCode, rt::Value(5300));
    EXPECT_EQ(e4->Severity, rt::Value(1));
    EXPECT_TRUE(e4->CanDefault);
    EXPECT_EQ(makeFrameworkError(6, "")->Description, rt::Value("Cannot create window or control"));
    EXPECT_EQ(makeFrameworkError(0, ""), nullptr);
    EXPECT_EQ(makeFrameworkError(7, ""), nullptr);
    EXPECT_EQ(idOperation(110), "No:    110");
    EXPECT_EQ(idOperation(123456), "No: 123456");
}

} // namespace
