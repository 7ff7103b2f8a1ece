// Message boxes (text and title rules, styles, the runtime hook) and the resource-module
// registry with bitmap loading.
#include "harness.h"

#include "dialogs/deferred.h"

#include <cstring>

using namespace dialogs;
using namespace testing_dialogs;

namespace {

class MessageBoxes : public ::testing::Test {
  protected:
    void SetUp() override { resetCaptures(); }
    void TearDown() override { rt::resetSettings(); }
};

TEST_F(MessageBoxes, TitleOnlyWithExactlyTwoArguments) {
    MSGINFO();
    MSGINFO("text", "title");
    MSGINFO("a", "b", "c");
    MSGINFO("only");
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].text, "");
    EXPECT_EQ(boxes[0].title, "Information");
    EXPECT_EQ(boxes[1].title, "title");
    EXPECT_EQ(boxes[2].text, "a");
    EXPECT_EQ(boxes[2].title, "Information");
    EXPECT_EQ(boxes[3].title, "Information");
    for (const Box& b : boxes) EXPECT_EQ(b.style, 0x40u);
}

TEST_F(MessageBoxes, ValuesBecomeText) {
    rt::SET(rt::_SET_DATEFORMAT, "dd-mm-yy");
    MSGINFO(12);
    MSGINFO(-7);
    MSGINFO(true);
    MSGINFO(false);
    MSGINFO(rt::Value());
    MSGINFO(1.5);
    MSGINFO(rt::makeDate(2009, 7, 4));
    MSGINFO(rt::makeArray({1}));
    MSGINFO(rt::Value(rt::ERRORNEW()));
    MSGINFO(rt::makeBlock("T", [](rt::Args) { return rt::Value(); }));
    MSGINFO("x", 5);
    const std::vector<std::string> expected = {
        "12",       "-7",       ".T.",   ".F.",    "nil",
        "1.500000", "04-07-09", "Array", "Object", "ValtoChar not suported type yet",
        "x"};
    ASSERT_EQ(boxes.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(boxes[i].text, expected[i]) << i;
    EXPECT_EQ(boxes.back().title, "5");
}

TEST_F(MessageBoxes, StylesTitlesAndYesNoAnswer) {
    MSGALERT("a");
    MSGSTOP("s");
    boxAnswer = IDYES;
    EXPECT_TRUE(MSGYESNO("q"));
    boxAnswer = IDNO;
    EXPECT_FALSE(MSGYESNO("q"));
    boxAnswer = IDOK; // anything but Yes is No
    EXPECT_FALSE(MSGYESNO("q", "Choose"));
    ASSERT_EQ(boxes.size(), 5u);
    EXPECT_EQ(boxes[0].style, 0x30u);
    EXPECT_EQ(boxes[0].title, "Alert");
    EXPECT_EQ(boxes[1].style, 0x10u);
    EXPECT_EQ(boxes[1].title, "Stop");
    EXPECT_EQ(boxes[2].style, 0x24u);
    EXPECT_EQ(boxes[2].title, "Select an option");
    EXPECT_EQ(boxes[4].title, "Choose");
    EXPECT_EQ(boxes[0].owner, GetActiveWindow());
}

TEST_F(MessageBoxes, RuntimeHookReachesTheBoxes) {
    install();
    rt::showMessage(rt::MessageKind::Alert, "from below", "Files");
    boxAnswer = IDYES;
    EXPECT_TRUE(rt::showMessage(rt::MessageKind::YesNo, "sure?"));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "from below");
    EXPECT_EQ(boxes[0].title, "Files");
    EXPECT_EQ(boxes[0].style, 0x30u);
    EXPECT_EQ(boxes[1].title, "Select an option");
}

TEST_F(MessageBoxes, AboutBoxArguments) {
    std::vector<std::pair<std::string, std::string>> shown;
    setAboutBoxFunction([&](HWND, const std::string& app, const std::string& other) {
        shown.emplace_back(app, other);
        return 1;
    });
    MSGABOUT();
    MSGABOUT("App", "More");
    MSGABOUT("App", "More", "ignored");
    setAboutBoxFunction(nullptr);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0], std::make_pair(std::string(), std::string("About")));
    EXPECT_EQ(shown[1], std::make_pair(std::string("App"), std::string("More")));
    EXPECT_EQ(shown[2].second, "About");
}

// The about box, the release of dropped files and the font chooser reach their system routines
// through libraries loaded on first use: a wrong library or routine name would leave them doing
// nothing, without a word.
TEST(DeferredRoutines, EachIsFoundInItsLibrary) {
    for (const deferred::Routine& r : deferred::kRoutines)
        EXPECT_NE(deferred::find(r), nullptr) << r.library << " " << r.name;
    EXPECT_EQ(deferred::find({"shell32.dll", "NoSuchRoutine"}), nullptr);
    EXPECT_EQ(deferred::find({"nosuchlibrary.dll", "ShellAboutA"}), nullptr);
}

class ResourceModules : public ::testing::Test {
  protected:
    void TearDown() override { FREERESOURCES(); }
};

TEST_F(ResourceModules, LoadedOncePerNameWithoutRegardToCase) {
    const std::intptr_t first = SETRESOURCES(testResources());
    ASSERT_NE(first, 0);
    EXPECT_EQ(SETRESOURCES(testResources()), first);
    EXPECT_EQ(SETRESOURCES("DIALOGS_TEST_RES.DLL"), first);
    EXPECT_EQ(reinterpret_cast<std::intptr_t>(GETRESOURCES()), first);
    // A handle makes that module current without registering it.
    EXPECT_EQ(SETRESOURCES(rt::Value(0)), 0);
    EXPECT_EQ(GETRESOURCES(), GetModuleHandleA(nullptr));
    EXPECT_EQ(SETRESOURCES(rt::Value(static_cast<long long>(first))), first);
    // Anything else changes nothing.
    EXPECT_EQ(SETRESOURCES(true), first);
    FREERESOURCES();
    EXPECT_EQ(SETRESOURCES(), 0);
    EXPECT_EQ(GETRESOURCES(), GetModuleHandleA(nullptr));
}

TEST_F(ResourceModules, MissingModuleFallsBackToTheProgram) {
    EXPECT_EQ(SETRESOURCES("no_such_module.dll"), 0);
    EXPECT_EQ(GETRESOURCES(), GetModuleHandleA(nullptr));
    // The failed load is remembered, not retried.
    EXPECT_EQ(SETRESOURCES("no_such_module.dll"), 0);
}

TEST_F(ResourceModules, ManyNamesGrowTheRegistry) {
    // More than 16 names: the registry grows instead of writing past its tables.
    for (int i = 0; i < 40; ++i) SETRESOURCES("missing" + std::to_string(i) + ".dll");
    const std::intptr_t handle = SETRESOURCES(testResources());
    EXPECT_NE(handle, 0);
    EXPECT_EQ(SETRESOURCES("Dialogs_Test_Res.dll"), handle);
}

TEST_F(ResourceModules, FreeLibraryByNameOrHandle) {
    const std::intptr_t handle = SETRESOURCES(testResources());
    FREELIBRARY(rt::Value(12345)); // not registered: nothing happens
    EXPECT_NE(GetModuleHandleA(testResources()), nullptr);
    FREELIBRARY(testResources());
    EXPECT_EQ(GetModuleHandleA(testResources()), nullptr);
    // The freed module was current: lookups go to the program again, not to the freed one.
    EXPECT_EQ(GETRESOURCES(), GetModuleHandleA(nullptr));
    EXPECT_EQ(SETRESOURCES(), 0);
    // Registered again after the release, with a fresh load.
    EXPECT_NE(SETRESOURCES(testResources()), 0);
    FREELIBRARY(rt::Value(static_cast<long long>(SETRESOURCES())));
    EXPECT_EQ(GetModuleHandleA(testResources()), nullptr);
    EXPECT_EQ(GETRESOURCES(), GetModuleHandleA(nullptr));
    (void)handle;
    const std::intptr_t lib = LOADLIBRARY(testResources());
    EXPECT_NE(lib, 0);
    FreeLibrary(reinterpret_cast<HMODULE>(lib));
    EXPECT_EQ(LOADLIBRARY("no_such_module.dll"), 0);
}

TEST_F(ResourceModules, BitmapsWithAndWithoutPalette) {
    const std::intptr_t module = SETRESOURCES(testResources());
    const rt::ArrayPtr rich = PALBMPLOAD("PAL256");
    ASSERT_EQ(rich->size(), 2u);
    EXPECT_NE(rich->at(1).asInteger(), 0);
    const auto palette = asHandle<HPALETTE>(rich->at(2));
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(GetPaletteEntries(palette, 0, 0, nullptr), 256u);
    PALETTEENTRY entry{};
    GetPaletteEntries(palette, 10, 1, &entry);
    EXPECT_EQ(entry.peRed, 10);
    EXPECT_EQ(entry.peGreen, 30);
    EXPECT_EQ(entry.peBlue, 245);
    EXPECT_EQ(entry.peFlags, 0);
    BITMAP bm{};
    GetObjectA(asHandle<HBITMAP>(rich->at(1)), sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 16);
    DeleteObject(asHandle<HGDIOBJ>(rich->at(1)));
    DeleteObject(palette);

    const rt::ArrayPtr poor = PALBMPLOAD("PAL16");
    EXPECT_NE(poor->at(1).asInteger(), 0);
    EXPECT_EQ(poor->at(2).asInteger(), 0);
    DeleteObject(asHandle<HGDIOBJ>(poor->at(1)));

    const rt::ArrayPtr byId = PALBMPLOAD(0x10000 + 300); // low 16 bits name the resource
    EXPECT_NE(byId->at(1).asInteger(), 0);
    DeleteObject(asHandle<HGDIOBJ>(byId->at(1)));

    const rt::ArrayPtr missing = PALBMPLOAD("NOPE");
    EXPECT_EQ(missing->at(1).asInteger(), 0);
    EXPECT_EQ(missing->at(2).asInteger(), 0);

    EXPECT_NE(FINDRESOURCE(static_cast<long long>(module), "PAL16", 2), 0);
    EXPECT_EQ(FINDRESOURCE(static_cast<long long>(module), "NOPE", 2), 0);
    EXPECT_EQ(GETFREESYSTEMRESOURCES(0), 90);
}

TEST(PackedDib, DamagedImagesAreRefused) {
    std::vector<std::uint8_t> dib(sizeof(BITMAPINFOHEADER) + 16, 0);
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = 64;
    h.biHeight = 64; // far more pixels than the buffer holds
    h.biPlanes = 1;
    h.biBitCount = 24;
    std::memcpy(dib.data(), &h, sizeof h);
    EXPECT_EQ(bitmapFromPackedDib(dib.data(), dib.size()).hBitmap, nullptr);
    h.biBitCount = 8;
    h.biClrUsed = 5000;
    std::memcpy(dib.data(), &h, sizeof h);
    EXPECT_EQ(bitmapFromPackedDib(dib.data(), dib.size()).hBitmap, nullptr);
    EXPECT_EQ(bitmapFromPackedDib(dib.data(), 10).hBitmap, nullptr);
}

} // namespace
