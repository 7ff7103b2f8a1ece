#include "app/main.h"
#include "app/startup.h"
#include "app/state.h"
#include "app/texts.h"

#include "errors/errorsys.h"
#include "runtime/frames.h"
#include "runtime/process.h"
#include "runtime/settings.h"
#include "runtime/strings.h"
#include "runtime/ui.h"
#include "tables/ads.h"
#include "tables/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <stdexcept>

#include <unistd.h>

using namespace app;

namespace {

struct ProcessExit {
    int code;
};
[[noreturn]] void throwingExit(int code) {
    throw ProcessExit{code};
}

class FakeDialog : public rt::Object {
  public:
    static const rt::ClassInfo kClass;
    FakeDialog() : rt::Object(kClass) {}
    rt::Value send(std::string_view method, rt::Args) override {
        sent.push_back(std::string(method));
        return {};
    }
    std::vector<std::string> sent;
};
const rt::ClassInfo FakeDialog::kClass{"TFAKEDIALOG", nullptr};

struct FakePort : MainDialogPort {
    std::vector<std::string> calls;
    std::function<void(MainDialog&)> onRun;
    void setResources(std::string_view name) override { calls.push_back("resources " + std::string(name)); }
    void run(MainDialog& d) override {
        calls.push_back("run");
        if (onRun) onRun(d);
    }
};

std::vector<std::string> strings(const rt::Value& list) {
    std::vector<std::string> out;
    for (const rt::Value& v : list.asArray()->items) out.push_back(v.asString());
    return out;
}

class Startup : public ::testing::Test {
  protected:
    void SetUp() override {
        tables::resetRegistry();
        rt::resetSettings();
        rt::ERRORLEVEL(0);
        setMainDialogPort(&port);
        rt::setExitFunction(throwingExit);
        rt::setErrorOutput([this](std::string_view s) { output += s; });
        rt::setMessageBoxHook([this](rt::MessageKind, rt::Args args) {
            messages.push_back(args.empty() ? "" : args[0].asString());
            return false;
        });
    }
    void TearDown() override {
        setMainDialogPort(nullptr);
        rt::setExitFunction(nullptr);
        rt::setErrorOutput(nullptr);
        rt::setMessageBoxHook(nullptr);
        tables::resetRegistry();
        rt::resetSettings();
        rt::ERRORLEVEL(0);
    }
    int runProgram(std::string_view commandLine) {
        try {
            app::run("C:\\Programas\\instayuda.exe", commandLine);
        } catch (const ProcessExit& e) {
            return e.code;
        }
        ADD_FAILURE() << "run returned";
        return -1;
    }
    FakePort port;
    std::string output;
    std::vector<std::string> messages;
};

} // namespace

TEST_F(Startup, WithoutAHelpFileTheProgramEndsAtOnce) {
    for (const char* line :
         {"instayuda.exe", "instayuda.exe     ", "instayuda.exe \t \t", "instayuda.exe \"\t\"",
          "\"C:\\Program Files\\instayuda.exe\" //x //y", "instayuda.exe \"\""}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(runProgram(line), 0);
        EXPECT_TRUE(port.calls.empty());
        EXPECT_EQ(rt::SET(rt::_SET_EPOCH), rt::Value(1900)); // no settings changed
        EXPECT_EQ(tables::findDriver("ADS"), nullptr);       // no engine chosen
        EXPECT_TRUE(rt::ERRORBLOCK().isBlock());
        EXPECT_EQ(state().cDrive, rt::Value(""));
        EXPECT_EQ(state().aDrives.asArray()->size(), 0u);
        EXPECT_TRUE(state().lExit.isNil());
        EXPECT_TRUE(output.empty());
    }
    EXPECT_EQ(argumentTable().entries[0], "C:\\Programas\\instayuda.exe");
    // The runtime's start-up made the public GETLIST and bound the help key.
    ASSERT_TRUE(rt::PUBLICVALUE("getlist").isArray());
    EXPECT_EQ(rt::PUBLICVALUE("GETLIST").asArray()->size(), 0u);
    const rt::Value help = rt::SETKEY(rt::K_F1);
    ASSERT_TRUE(help.isBlock());
    int asked = 0;
    rt::setHelpRoutine([&](rt::Args) { ++asked; });
    rt::eval(help);
    rt::setHelpRoutine(nullptr);
    EXPECT_EQ(asked, 1);
}

TEST_F(Startup, MainConfiguresAndRunsTheDialog) {
    rt::Value seenDefault;
    port.onRun = [&](MainDialog& d) {
        // MAIN is the routine running, with its parameter and its five locals.
        EXPECT_EQ(rt::PROCNAME(0), "MAIN");
        EXPECT_EQ(rt::PROCNAME(1), "");
        EXPECT_EQ(rt::GETPARAM(0, 1), rt::Value("C:\\Mis documentos\\ayuda.chm"));
        EXPECT_EQ(rt::LOCALCOUNT(0), 5);
        EXPECT_EQ(rt::GETLOCAL(0, 1).asArray()->at(1), rt::Value(kStartText));

        EXPECT_EQ(tables::DBSETDRIVER(), "ADS");
        EXPECT_EQ(strings(rt::Value(tables::RDDLIST())),
                  (std::vector<std::string>{"DBF", "SDF", "DELIM", "ADS"}));
        EXPECT_EQ(tables::ADSSETFILETYPE(), 2);
        EXPECT_EQ(rt::SET(rt::_SET_EPOCH), rt::Value(1950));
        EXPECT_EQ(rt::SET(rt::_SET_DATEFORMAT), rt::Value("dd-mm-yy"));
        EXPECT_EQ(rt::SET(rt::_SET_DELETED), rt::Value(true));
        EXPECT_EQ(rt::SET(rt::_SET_EXACT), rt::Value(false));

        AppState& s = state();
        EXPECT_EQ(s.lExit, rt::Value(false));
        EXPECT_EQ(s.cDrive, rt::Value("C"));
        EXPECT_EQ(strings(s.aDrives),
                  (std::vector<std::string>{"C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N",
                                            "O", "P", "Q", "R", "S", "T", "U", "V", "X", "Y", "Z"}));
        EXPECT_EQ(s.aTextHolder.asArray()->size(), 1u);
        EXPECT_EQ(d.locals->aButtons.asArray()->size(), 2u);

        // The control blocks.
        EXPECT_EQ(rt::eval(d.bSay), rt::Value(kStartText));
        EXPECT_EQ(rt::eval(d.bDrive), rt::Value("C"));
        EXPECT_EQ(rt::evalWith(d.bDrive, "E"), rt::Value("E"));
        EXPECT_EQ(s.cDrive, rt::Value("E"));
        EXPECT_EQ(rt::evalWith(d.bValid, rt::Value()), rt::Value(false));
        auto dialog = std::make_shared<FakeDialog>();
        d.locals->oDlg = rt::Value(dialog);
        rt::eval(d.bExit);
        EXPECT_EQ(rt::evalWith(d.bValid, d.locals->oDlg), rt::Value(true));
        EXPECT_EQ(dialog->sent, (std::vector<std::string>{"End"}));
        seenDefault = tables::DBSETDRIVER();
    };
    EXPECT_EQ(runProgram("instayuda.exe //INFO \"C:\\Mis documentos\\ayuda.chm\" otro"), 0);
    EXPECT_EQ(port.calls, (std::vector<std::string>{"resources progdll.dll", "run"}));
    EXPECT_EQ(seenDefault, rt::Value("ADS"));
    EXPECT_EQ(argumentTable().count, 4u);
}

TEST_F(Startup, TheDriversAreThereBeforeMain) {
    port.onRun = [](MainDialog&) {};
    bool checked = false;
    struct Probe : MainDialogPort {
        bool* checked;
        void setResources(std::string_view) override {}
        void run(MainDialog&) override { *checked = true; }
    } probe;
    probe.checked = &checked;
    setMainDialogPort(&probe);
    rt::__SETCENTURY(true);
    EXPECT_EQ(runProgram("instayuda.exe C:\\ayuda.chm"), 0);
    EXPECT_TRUE(checked);
    EXPECT_EQ(rt::SET(rt::_SET_DATEFORMAT), rt::Value("dd-mm-yyyy")); // with the century on
}

TEST_F(Startup, InstallButtonRunsTheSearch) {
    port.onRun = [](MainDialog& d) {
        auto dialog = std::make_shared<FakeDialog>();
        d.locals->oDlg = rt::Value(dialog);
        d.locals->oCombo = rt::Value(std::make_shared<FakeDialog>());
        d.locals->aButtons = rt::Value(rt::makeArray(
            {rt::Value(std::make_shared<FakeDialog>()), rt::Value(std::make_shared<FakeDialog>())}));
        rt::evalWith(d.bDrive, "Q"); // nothing there
        rt::eval(d.bInstall);
        EXPECT_EQ(dialog->sent, (std::vector<std::string>{"End"}));
        EXPECT_EQ(state().lExit, rt::Value(true));
    };
    EXPECT_EQ(runProgram("instayuda.exe C:\\ayuda.chm"), 0);
    EXPECT_EQ(messages, (std::vector<std::string>{std::string(kNotFoundText)}));
}

TEST_F(Startup, ExitCodeIsTheErrorLevel) {
    port.onRun = [](MainDialog&) { rt::ERRORLEVEL(3); };
    EXPECT_EQ(runProgram("instayuda.exe C:\\ayuda.chm"), 3);
}

// The error handler's dialog, answering Quit; the report is built but not written.
struct QuitErrorPort : errors::ErrorPort {
    errors::ErrorDialogData shown;
    std::string report;
    bool writeReport(const std::string&, const std::string& text) override {
        report = text;
        return true;
    }
    rt::Value showDialog(const errors::ErrorDialogData& data) override {
        shown = data;
        return {};
    }
};

TEST_F(Startup, ErrorsReachTheErrorHandlerWhichEndsWithOne) {
    QuitErrorPort errorPort;
    errors::setErrorPort(&errorPort);
    port.onRun = [](MainDialog&) { rt::AT(rt::Value(1), rt::Value("x")); };
    const int code = runProgram("instayuda.exe C:\\ayuda.chm");
    errors::setErrorPort(nullptr);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(errorPort.shown.errorLine, "   Error description: Error BASE/1108  Argument error: AT\r\n");
    ASSERT_FALSE(errorPort.shown.stackLines.empty());
    EXPECT_EQ(errorPort.shown.stackLines.front(), "   Called from AT(0)");
    EXPECT_EQ(errorPort.shown.stackLines.back().substr(0, 19), "   Called from MAIN");
    // The table drivers of kind 1 registered by then: the start-up's "DBF" and MAIN's "ADS".
    EXPECT_NE(
        errorPort.report.find("\r\nLinked RDDs\r\n===========\r\n   DBF\r\n   ADS\r\n\r\nDataBases in use"),
        std::string::npos);
}

namespace {
void throwsAnInteger() {
    throw 42;
}
void endsThroughTerminate() noexcept {
    throwsAnInteger();
}
} // namespace

// A C++ exception that leaves MAIN never ends the process through std::terminate unreported:
// memory exhaustion is the runtime error "Memory low" for the error handler, any other exception
// an unrecoverable error; the exit code is 1 either way.
TEST_F(Startup, ExceptionsOutsideWindowProceduresEndWithOne) {
    QuitErrorPort errorPort;
    errors::setErrorPort(&errorPort);
    port.onRun = [](MainDialog&) { throw std::bad_alloc(); };
    EXPECT_EQ(runProgram("instayuda.exe C:\\ayuda.chm"), 1);
    errors::setErrorPort(nullptr);
    EXPECT_EQ(errorPort.shown.errorLine, "   Error description: Error BASE/0  Memory low\r\n");
    EXPECT_NE(errorPort.report.find("Memory low"), std::string::npos);

    port.onRun = [](MainDialog&) { throw std::runtime_error("lost"); };
    EXPECT_EQ(runProgram("instayuda.exe C:\\ayuda.chm"), 1);
    EXPECT_NE(output.find("Unrecoverable error 9010: Exception left the program: lost"), std::string::npos);

    port.onRun = [](MainDialog&) { endsThroughTerminate(); };
    EXPECT_EXIT(
        {
            std::filesystem::current_path(std::filesystem::temp_directory_path()); // its Error.log
            rt::setExitFunction(nullptr);
            rt::setErrorOutput(writeFatalText);
            runProgram("instayuda.exe C:\\ayuda.chm");
        },
        ::testing::ExitedWithCode(1), "Unrecoverable error 9010: Exception left the program");
}

// The windowed program's error output: appended to Error.log in the current folder, CR LF.
TEST(FatalText, GoesToTheEndOfTheErrorLog) {
    const auto saved = std::filesystem::current_path();
    const auto dir = std::filesystem::temp_directory_path() / ("fataltext-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    {
        std::ofstream report(kFatalLogName, std::ios::binary);
        report << "report\r\n\x1A";
    }
    writeFatalText("\nUnrecoverable error 9002: No ERRORBLOCK() for error\nCalled from MAIN(3)\n");
    std::string text;
    {
        std::ifstream in(kFatalLogName, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::filesystem::current_path(saved);
    std::filesystem::remove_all(dir);
    EXPECT_EQ(
        text,
        "report\r\n\x1A\r\nUnrecoverable error 9002: No ERRORBLOCK() for error\r\nCalled from MAIN(3)\r\n");
}
