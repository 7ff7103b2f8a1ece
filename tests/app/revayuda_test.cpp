#include "app/revayuda.h"
#include "app/state.h"
#include "app/texts.h"

#include "runtime/frames.h"
#include "runtime/strings.h"
#include "runtime/ui.h"
#include "testdrive.h"

#include <gtest/gtest.h>

using namespace app;
using testsupport::TestDrive;
using Paths = std::vector<std::string>;

namespace {

// A control or dialog that records the methods sent to it.
class FakeWindow : public rt::Object {
  public:
    static const rt::ClassInfo kClass;
    FakeWindow(std::string name, std::vector<std::string>& log)
        : rt::Object(kClass), name_(std::move(name)), log_(log) {}
    rt::Value send(std::string_view method, rt::Args) override {
        log_.push_back(name_ + ":" + std::string(method));
        caller = rt::PROCNAME(0);
        return {};
    }
    std::string caller;

  private:
    std::string name_;
    std::vector<std::string>& log_;
};
const rt::ClassInfo FakeWindow::kClass{"TFAKEWINDOW", nullptr};

struct Shown {
    rt::MessageKind kind;
    std::string text, title;
};

// A product table: a header, field descriptions and records; where the release mark goes is
// up to the test.
std::string versionTable(std::string_view header, std::string_view records) {
    std::string t = std::string("\x30\x6D\x05\x0E\x02\0\0\0", 8) + std::string(24, '\0');
    t += header;
    t += std::string("VERSION\0\0\0\0C\0\0\0\0\x0A\0", 18) + "\x0D";
    t += records;
    return t + "\x1A";
}

class Revayuda : public ::testing::Test {
  protected:
    void SetUp() override {
        state().cDrive = "U";
        state().lExit = false;
        rt::setMessageBoxHook([this](rt::MessageKind kind, rt::Args args) {
            log.push_back("message");
            shown.push_back(
                {kind, args.size() > 0 ? args[0].asString() : "", args.size() > 1 ? args[1].asString() : ""});
            return false;
        });
        drive.file("fuente/Ayuda.chm", help);
    }
    void TearDown() override { rt::setMessageBoxHook(nullptr); }

    // A complete installation of the product's 2009 release 1 at folder.
    void install(const std::string& folder, std::uint64_t programSize = 6524928,
                 std::string table = versionTable("", " 2009/1    ")) {
        drive.sparseFile(folder + (folder.empty() ? "" : "/") + "norvalew.exe", programSize);
        drive.file(folder + (folder.empty() ? "" : "/") + "emp/versione.dbf", table);
    }
    void run(const rt::Value& helpFile) { REVAYUDA(helpFile, holder, combo, buttons, dialog); }
    void run() { run(rt::Value(drive.path("fuente\\ayuda.chm"))); }
    bool received(const std::string& folder) const {
        return drive.read(folder.empty() ? "norvceni.chm" : folder + "/norvceni.chm") == help;
    }
    std::string vendrax(const std::string& name) const { return "U:\\Vendrax\\" + name; }
    void expectInstalled() {
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].kind, rt::MessageKind::Info);
        EXPECT_EQ(shown[0].text, kInstalledText);
        EXPECT_EQ(shown[0].title, kInstalledTitle);
    }
    void expectNothingFound() {
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].kind, rt::MessageKind::Info);
        EXPECT_EQ(shown[0].text, kNotFoundText);
        EXPECT_EQ(shown[0].title, kNotFoundTitle);
    }

    TestDrive drive{'U'};
    const std::string help = std::string("ITSF\0\0\0\x03", 8) + std::string(5000, 'h');
    std::vector<std::string> log;
    std::vector<Shown> shown;
    std::shared_ptr<FakeWindow> comboWindow = std::make_shared<FakeWindow>("combo", log);
    rt::Value combo = rt::Value(comboWindow);
    rt::Value buttons = rt::Value(rt::makeArray({rt::Value(std::make_shared<FakeWindow>("install", log)),
                                                 rt::Value(std::make_shared<FakeWindow>("exit", log))}));
    std::shared_ptr<FakeWindow> dialogWindow = std::make_shared<FakeWindow>("dialog", log);
    rt::Value dialog = rt::Value(dialogWindow);
    rt::Value holder = rt::Value(rt::makeArray({rt::Value()}));
};

} // namespace

TEST_F(Revayuda, FiveTestsDecideWhichFoldersReceiveTheHelpFile) {
    install("Vendrax/EMPRESA1");
    install("Vendrax/empresa2");
    drive.file("Vendrax/SinPrograma/emp/versione.dbf", versionTable("", "2009/1"));          // test 1
    drive.sparseFile("Vendrax/SinTabla/norvalew.exe", 6524928);                              // test 2
    install("Vendrax/Release2", 6524928, versionTable("", " 2009/2 2010/1 2009-1 2009 /1")); // test 4
    install("Vendrax/Grande", 6524929);                                                      // test 5
    install("Vendrax/Chico", 6524927);
    drive.folder("Vendrax/ProgramaCarpeta/norvalew.exe"); // a folder of that name passes test 1...
    drive.file("Vendrax/ProgramaCarpeta/emp/versione.dbf",
               versionTable("", "2009/1")); // ...but its size is 0
    drive.file("Vendrax/leeme.txt", "a plain file fails test 1");
    drive.file("Vendrax/norvceni.chm", "not touched");

    run();

    EXPECT_TRUE(received("Vendrax/EMPRESA1"));
    EXPECT_TRUE(received("Vendrax/empresa2"));
    for (const char* f : {"SinPrograma", "SinTabla", "Release2", "Grande", "Chico", "ProgramaCarpeta"})
        EXPECT_FALSE(drive.exists(std::string("Vendrax/") + f + "/norvceni.chm")) << f;
    EXPECT_EQ(drive.read("Vendrax/norvceni.chm"), "not touched");
    expectInstalled();
    EXPECT_EQ(state().lExit, rt::Value(true));
    // The controls are disabled and refreshed first; the dialog ends before the message shows.
    EXPECT_EQ(log,
              (std::vector<std::string>{"combo:Disable", "combo:Refresh", "install:Disable", "exit:Disable",
                                        "install:Refresh", "exit:Refresh", "dialog:End", "message"}));
    EXPECT_EQ(dialogWindow->caller, "REVAYUDA");
}

TEST_F(Revayuda, ReleaseMarkAnywhereInTheRawTable) {
    install("Vendrax/Doce", 6524928, versionTable("", " 2009/12  "));
    install("Vendrax/Diez", 6524928, versionTable("", " 2009/10  "));
    install("Vendrax/Cabecera", 6524928, versionTable("2009/1", " 2008/4   ")); // only in the header
    install("Vendrax/Borrado", 6524928,
            versionTable("", " 2008/4   *2009/1    ")); // only in a deleted record
    install("Vendrax/TrasNul", 6524928, std::string(300, '\0') + "2009/1");
    install("Vendrax/Vacia", 6524928, "");
    install("Vendrax/SoloMarca", 6524928, "2009/1\x1A");
    install("Vendrax/MarcaCortada", 6524928, "2009/\x1A");

    run();

    for (const char* f : {"Doce", "Diez", "Cabecera", "Borrado", "TrasNul", "SoloMarca"})
        EXPECT_TRUE(received(std::string("Vendrax/") + f)) << f;
    EXPECT_FALSE(drive.exists("Vendrax/Vacia/norvceni.chm"));
    EXPECT_FALSE(drive.exists("Vendrax/MarcaCortada/norvceni.chm"));
    expectInstalled();
}

TEST_F(Revayuda, DotEntriesAreTestedLikeAnyFolder) {
    install("Vendrax"); // the vendor folder itself, reached as "U:\Vendrax\."
    install("");        // the drive's root, reached as "U:\Vendrax\.."
    run();
    EXPECT_TRUE(received("Vendrax"));
    EXPECT_TRUE(received(""));
    expectInstalled();
}

TEST_F(Revayuda, HiddenFoldersAreNotListed) {
    install("Vendrax/.oculta"); // hidden by its name (POSIX), hidden by Wine too
    install("Vendrax/Visible");
    run();
    EXPECT_FALSE(drive.exists("Vendrax/.oculta/norvceni.chm"));
    EXPECT_TRUE(received("Vendrax/Visible"));
}

TEST_F(Revayuda, HiddenOrSystemByAttribute) {
    install("Vendrax/Oculta");
    install("Vendrax/Sistema");
    install("Vendrax/ProgramaOculto");
    if (!drive.setAttributes("Vendrax/Oculta", true, false))
        GTEST_SKIP() << "no such attributes on this platform";
    drive.setAttributes("Vendrax/Sistema", false, true);
    // A hidden product program exists for test 1 but is not listed for test 5.
    drive.setAttributes("Vendrax/ProgramaOculto/norvalew.exe", true, false);
    run();
    for (const char* f : {"Oculta", "Sistema", "ProgramaOculto"})
        EXPECT_FALSE(drive.exists(std::string("Vendrax/") + f + "/norvceni.chm")) << f;
    expectNothingFound();
}

TEST_F(Revayuda, ALongerAcceptedNameDoesNotHideAShorterOne) {
    install("Vendrax/DATOS");
    install("Vendrax/DATOS2009");
    install("Vendrax/AB");
    install("Vendrax/ABC");
    run();
    for (const char* f : {"DATOS", "DATOS2009", "AB", "ABC"})
        EXPECT_TRUE(received(std::string("Vendrax/") + f)) << f;
    expectInstalled();
}

TEST(RevayudaDuplicates, WholePathsWithoutRegardToCase) {
    // Listed in the order DATOS2009, DATOS (a file system that keeps creation order), the
    // list search's prefix rule would refuse DATOS; the duplicate test does not.
    const Paths found = {"C:\\Vendrax\\DATOS2009"};
    EXPECT_EQ(rt::ASCAN(rt::Value(rt::makeArray({rt::Value(found[0])})), rt::Value("C:\\Vendrax\\DATOS")), 1);
    EXPECT_FALSE(alreadyFound(found, "C:\\Vendrax\\DATOS"));
    EXPECT_FALSE(alreadyFound(found, "C:\\Vendrax\\DATOS20"));
    EXPECT_FALSE(alreadyFound(found, "C:\\Vendrax\\DATOS20090"));
    EXPECT_TRUE(alreadyFound(found, "C:\\Vendrax\\DATOS2009"));
    EXPECT_TRUE(alreadyFound(found, "c:\\vendrax\\datos2009"));
    EXPECT_TRUE(alreadyFound({"C:\\Vendrax\\A\xD1O"}, "C:\\Vendrax\\a\xF1o"));
    EXPECT_FALSE(alreadyFound({}, "C:\\Vendrax\\DATOS"));
}

TEST_F(Revayuda, NamesDifferingOnlyInCaseAreOneFolder) {
    if (testsupport::onWindows()) GTEST_SKIP() << "a Windows file system cannot hold both names";
    install("Vendrax/DATOS");
    install("Vendrax/datos");
    run();
    EXPECT_TRUE(received("Vendrax/DATOS")); // listed first
    EXPECT_FALSE(drive.exists("Vendrax/datos/norvceni.chm"));
    expectInstalled();
}

TEST_F(Revayuda, AnExistingHelpFileIsOverwritten) {
    install("Vendrax/Empresa");
    drive.file("Vendrax/Empresa/NORVCENI.CHM", "old help");
    run();
    EXPECT_EQ(drive.read("Vendrax/Empresa/NORVCENI.CHM"), help);
    expectInstalled();
}

TEST_F(Revayuda, EveryCopyFailedIsReportedWithTheFolders) {
    install("Vendrax/Uno");
    install("Vendrax/Dos");
    run(rt::Value(drive.path("fuente\\noexiste.chm")));
    EXPECT_FALSE(drive.exists("Vendrax/Uno/norvceni.chm"));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, rt::MessageKind::Stop);
    EXPECT_EQ(shown[0].title, " Atenci\xF3n");
    EXPECT_EQ(shown[0].text, "No se pudo instalar la Ayuda en:\r\nU:\\Vendrax\\Dos\r\nU:\\Vendrax\\Uno");
    EXPECT_EQ(state().lExit, rt::Value(true));
    EXPECT_EQ(log.back(), "message");
}

TEST_F(Revayuda, SomeCopiesFailedListsBoth) {
    install("Vendrax/Bien");
    install("Vendrax/Mal");
    drive.folder("Vendrax/Mal/norvceni.chm"); // the copy cannot replace a folder
    run();
    EXPECT_TRUE(received("Vendrax/Bien"));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, rt::MessageKind::Stop);
    EXPECT_EQ(shown[0].text,
              "No se pudo instalar la Ayuda en:\r\nU:\\Vendrax\\Mal\r\n\r\nSe instal\xF3 en:\r\n"
              "U:\\Vendrax\\Bien");
}

TEST(RevayudaOutcome, LongListsAreCutAtFifteen) {
    Paths failed, installed;
    for (int i = 1; i <= 17; ++i) failed.push_back("C:\\Vendrax\\F" + std::to_string(i));
    for (int i = 1; i <= 16; ++i) installed.push_back("C:\\Vendrax\\I" + std::to_string(i));
    const Outcome o = outcomeOf(installed, failed);
    std::string expected = "No se pudo instalar la Ayuda en:";
    for (int i = 1; i <= 15; ++i) expected += "\r\nC:\\Vendrax\\F" + std::to_string(i);
    expected += "\r\n(y 2 m\xE1s)\r\n\r\nSe instal\xF3 en:";
    for (int i = 1; i <= 15; ++i) expected += "\r\nC:\\Vendrax\\I" + std::to_string(i);
    expected += "\r\n(y 1 m\xE1s)";
    EXPECT_EQ(o.text, expected);
    EXPECT_EQ(o.kind, rt::MessageKind::Stop);

    failed.resize(15);
    EXPECT_EQ(outcomeOf({}, failed).text.find("(y "), std::string::npos);
    EXPECT_EQ(outcomeOf({"C:\\x"}, {}).text, "La AYUDA de Norvaledo C\xE9nit se instal\xF3 correctamente.");
    EXPECT_EQ(outcomeOf({}, {}).text,
              "En la UNIDAD seleccionada no se encontr\xF3 ning\xFAn Norvaledo C\xE9nit "
              "v.2009 R07.\n\r\n\rAyuda NO instalada.");
}

TEST_F(Revayuda, NoDriveNoVendorFolderNoFolders) {
    state().cDrive = "Q"; // no such drive
    run();
    expectNothingFound();
    shown.clear();
    state().cDrive = "U"; // a drive without Vendrax
    run();
    expectNothingFound();
    shown.clear();
    drive.folder("Vendrax");
    run();
    expectNothingFound();
    shown.clear();
    for (const rt::Value& odd : {rt::Value(""), rt::Value("UU"), rt::Value(), rt::Value(7)}) {
        install("Vendrax/Empresa");
        state().cDrive = odd;
        run();
        expectNothingFound();
        shown.clear();
    }
    EXPECT_FALSE(drive.exists("Vendrax/Empresa/norvceni.chm"));
    EXPECT_EQ(log.back(), "message");
}

TEST_F(Revayuda, AVersionTableHeldExclusivelyReadsEmpty) {
    install("Vendrax/Abierta");
    testsupport::ExclusiveHold hold(drive, "Vendrax/Abierta/emp/versione.dbf");
    if (!hold.held()) GTEST_SKIP() << "no exclusive opens on this platform";
    run();
    EXPECT_FALSE(drive.exists("Vendrax/Abierta/norvceni.chm"));
    expectNothingFound();
}

// Bad input: a huge version table, a folder name of 255 characters, thousands of entries.
TEST_F(Revayuda, HugeTablesLongNamesAndCrowdedFolders) {
    drive.sparseFile("Vendrax/Enorme/emp/versione.dbf", 100u << 20, "2009/1\x1A"); // the mark at the very end
    drive.sparseFile("Vendrax/Enorme/norvalew.exe", 6524928);
    drive.sparseFile("Vendrax/EnormeSin/emp/versione.dbf", 100u << 20);
    drive.sparseFile("Vendrax/EnormeSin/norvalew.exe", 6524928);
    install("Vendrax/" + std::string(255, 'N')); // below it every path is too long
    ASSERT_TRUE(drive.manyFiles("Vendrax", "relleno", 1, 3000));
    install("Vendrax/Zeta");
    run();
    EXPECT_TRUE(received("Vendrax/Enorme"));
    EXPECT_FALSE(drive.exists("Vendrax/EnormeSin/norvceni.chm"));
    EXPECT_FALSE(drive.exists("Vendrax/" + std::string(255, 'N') + "/norvceni.chm"));
    EXPECT_TRUE(received("Vendrax/Zeta"));
    expectInstalled();
}
