// The error handler's paths: the silent cases, the report and dialog, the user's answers, the
// fallback block, a failing write; and ERRORMESSAGE, DOBREAK, MEMOWRIT.
#include "errors/errorsys.h"

#include "fakes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <new>
#include <fstream>
#include <iterator>

using namespace errtest;
namespace fs = std::filesystem;

namespace {

struct ProcessExit {
    int code;
};
[[noreturn]] void throwingExit(int code) {
    throw ProcessExit{code};
}

struct Box {
    rt::MessageKind kind;
    std::string text;
};

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Handler : public ::testing::Test {
  protected:
    void SetUp() override {
        static int serial = 0;
        dir = fs::temp_directory_path() / ("errors_tests_" + std::to_string(++serial) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        oldDir = fs::current_path();
        fs::current_path(dir);

        rt::setExitFunction(throwingExit);
        rt::setErrorOutput([this](std::string_view s) { output += s; });
        rt::setMessageBoxHook([this](rt::MessageKind kind, rt::Args args) {
            boxes.push_back({kind, args.empty() ? std::string() : rt::CVALTOCHAR(args[0])});
            return false;
        });
        errors::setSystemFacts(&facts);
        errors::setErrorPort(&port);
        saved = rt::ERRORBLOCK();
        rt::ERRORLEVEL(0);
        rt::NETERR(false);
        rt::setEventLoopFlag(0);
        errors::ERRORSYS();
    }

    void TearDown() override {
        rt::ERRORBLOCK(
            saved.isBlock() ? saved : rt::Value(rt::makeBlock("TEST", [](rt::Args) { return rt::Value(); })));
        rt::setEventLoopFlag(0);
        rt::NETERR(false);
        rt::ERRORLEVEL(0);
        errors::setErrorPort(nullptr);
        errors::setSystemFacts(nullptr);
        rt::setMessageBoxHook(nullptr);
        rt::setErrorOutput(nullptr);
        rt::setExitFunction(nullptr);
        fs::current_path(oldDir);
        fs::remove_all(dir);
    }

    // Runs fn; answers the exit code when it ended the process, -1 when it returned.
    static int exitCodeOf(const std::function<void()>& fn) {
        try {
            fn();
        } catch (const ProcessExit& e) {
            return e.code;
        }
        return -1;
    }

    static bool reportExists() { return fs::exists("Error.log"); }
    bool dialogShown() const { return std::count(port.calls.begin(), port.calls.end(), "dialog") > 0; }

    fs::path dir, oldDir;
    FakeFacts facts;
    FakePort port;
    std::string output;
    std::vector<Box> boxes;
    rt::Value saved;
};

// Launches e from a routine named routine standing at line.
rt::Recovery raiseIn(std::string_view routine, int line, const rt::ErrorPtr& e) {
    rt::Frame frame(routine);
    frame.setLine(line);
    return rt::launchError(e);
}

// A table open error as the DBF drivers raise it.
rt::ErrorPtr openError(int osCode, bool canDefault) {
    auto e = rt::makeError(rt::EG_OPEN, 1001, "USE", 0, "DBFCDX");
    e->FileName = "clientes.dbf";
    e->OsCode = osCode;
    e->CanRetry = true;
    e->CanDefault = canDefault;
    return e;
}

} // namespace

TEST_F(Handler, DivisionByZeroGivesZeroSilently) {
    const rt::Value block = rt::ERRORBLOCK();
    EXPECT_EQ(rt::raiseSubstitutable(rt::makeError(rt::EG_ZERODIV, 1340, "/", rt::makeArray({10, 0}))),
              rt::Value(0));
    EXPECT_EQ(rt::raiseSubstitutable(rt::makeError(rt::EG_ZERODIV, 1341, "%", rt::makeArray({10, 0}))),
              rt::Value(0));
    EXPECT_FALSE(reportExists());
    EXPECT_FALSE(dialogShown());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(rt::ERRORBLOCK(), block); // the handler stays in place
}

TEST_F(Handler, RefusedOpensAndAppendLocksSetNetErr) {
    const rt::Value block = rt::ERRORBLOCK();
    for (int osCode : {32, 5, 32}) {
        rt::NETERR(false);
        EXPECT_EQ(raiseIn("LNETUSE", 30, openError(osCode, true)).kind, rt::Recovery::Default);
        EXPECT_TRUE(rt::NETERR()) << osCode;
    }
    auto lock = rt::makeError(rt::EG_APPENDLOCK, 1024, "APPEND", 0, "DBFCDX");
    lock->CanDefault = true;
    rt::NETERR(false);
    EXPECT_EQ(raiseIn("ADDREC", 12, lock).kind, rt::Recovery::Default);
    EXPECT_TRUE(rt::NETERR());
    EXPECT_FALSE(reportExists());
    EXPECT_FALSE(dialogShown());
    EXPECT_EQ(rt::ERRORBLOCK(), block);
}

TEST_F(Handler, OpenErrorsThatAreNotSharingProblemsAreReported) {
    // File not found.
    EXPECT_EQ(exitCodeOf([] { raiseIn("LNETUSE", 30, openError(2, true)); }), 1);
    EXPECT_TRUE(reportExists());
    EXPECT_EQ(port.shown.buttonCount(), 3);
    EXPECT_FALSE(rt::NETERR());
}

TEST_F(Handler, SharingViolationWithoutDefaultIsReported) {
    // The client engine's open errors carry no recovery flag: only "&Quit" is offered.
    auto e = rt::makeError(rt::EG_OPEN, 7008, "USE", 0, "ADSCDX");
    e->OsCode = 32;
    EXPECT_EQ(exitCodeOf([&] { raiseIn("LNETUSE", 30, e); }), 1);
    EXPECT_TRUE(reportExists());
    EXPECT_EQ(port.shown.buttonCount(), 1);
}

TEST_F(Handler, AppendLockWithoutDefaultIsReported) {
    auto lock = rt::makeError(rt::EG_APPENDLOCK, 1024, "APPEND", 0, "DBFCDX");
    EXPECT_EQ(exitCodeOf([&] { raiseIn("ADDREC", 12, lock); }), 1);
    EXPECT_TRUE(reportExists());
}

TEST_F(Handler, ReportedErrorWritesTheReportShowsTheDialogAndQuits) {
    rt::Value text = 5;
    const int code = exitCodeOf([&] {
        rt::Frame main("MAIN", {&text});
        RT_LINE();
        rt::UPPER(text);
    });
    EXPECT_EQ(code, 1);
    EXPECT_EQ(rt::ERRORLEVEL(), 1);
    EXPECT_EQ(port.calls,
              (std::vector<std::string>{"version", "prepare", "write", "dialog", "release", "free"}));

    const std::string report = readFile("Error.log");
    ASSERT_GT(report.size(), 3u);
    EXPECT_EQ(report.substr(0, 13), "Application\r\n");
    EXPECT_EQ(report.substr(report.size() - 3), std::string("\r\n\x1a"));
    EXPECT_NE(report.find("\r\n   Error description: Error BASE/1102  Argument error: UPPER\r\n   Args:\r\n"
                          "     [   1] = N   5\r\n"),
              std::string::npos);
    EXPECT_NE(report.find("   Called from UPPER(0)\r\n   Called from MAIN("), std::string::npos);
    EXPECT_NE(report.find("   MAIN\r\n     Param   1:    N    5\r\n"), std::string::npos);

    EXPECT_EQ(port.shown.errorLine, "   Error description: Error BASE/1102  Argument error: UPPER\r\n");
    ASSERT_EQ(port.shown.stackLines.size(), 2u);
    EXPECT_EQ(port.shown.stackLines[0], "   Called from UPPER(0)");
    EXPECT_EQ(port.shown.stackLines[1].substr(0, 19), "   Called from MAIN");
    EXPECT_NE(port.shown.stackLines[1], "   Called from MAIN(0)");
    EXPECT_FALSE(port.shown.canRetry);
    EXPECT_FALSE(port.shown.canDefault);
    EXPECT_TRUE(port.shown.ntFamily);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Handler, AnEarlierReportIsReplaced) {
    {
        std::ofstream old("Error.log", std::ios::binary);
        old << std::string(100000, 'x');
    }
    EXPECT_EQ(exitCodeOf([] { raiseIn("MAIN", 3, rt::makeError(rt::EG_ARG, 1108, "AT")); }), 1);
    const std::string report = readFile("Error.log");
    EXPECT_EQ(report.find('x' + std::string(20, 'x')), std::string::npos);
    EXPECT_EQ(report.substr(0, 11), "Application");
}

TEST_F(Handler, FrameworkErrorsEvaluateTheBlockDirectly) {
    // The framework hands its errors to the block itself and ignores the answer.
    auto e = rt::ERRORNEW();
    e->Severity = 3;
    e->SubSystem = "Velloro";
    e->SubCode = 3;
    e->GenCode = 0;
    e->Description = "Cannot create Dialog Box";
    e->Operation = "\r\nResource: PRINCIPAL";
    const rt::Value block = rt::ERRORBLOCK();
    EXPECT_EQ(exitCodeOf([&] {
                  rt::Frame activate("TDIALOG:ACTIVATE");
                  activate.setLine(388);
                  rt::evalWith(block, rt::Value(e));
              }),
              1);
    EXPECT_EQ(port.shown.errorLine,
              "   Error description: Error Velloro/3  Cannot create Dialog Box: \r\nResource: PRINCIPAL\r\n");
    EXPECT_EQ(port.shown.stackLines, (std::vector<std::string>{"   Called from TDIALOG:ACTIVATE(388)"}));
    EXPECT_EQ(port.shown.buttonCount(), 1);
}

TEST_F(Handler, RetryBeforeAnyEventLoopQuits) {
    port.answer = true;
    EXPECT_EQ(exitCodeOf([] { raiseIn("LNETUSE", 30, openError(2, true)); }), 1);
    EXPECT_TRUE(dialogShown());
    EXPECT_EQ(port.calls.back(), "free");
}

TEST_F(Handler, RetryWhileAnEventLoopRunsAndASecondFailureEndsTheProcess) {
    port.answer = true;
    rt::setEventLoopFlag(1);
    auto e = openError(2, true);
    EXPECT_EQ(raiseIn("LNETUSE", 30, e).kind, rt::Recovery::Retry);
    EXPECT_EQ(e->Tries, 1);
    EXPECT_EQ(std::count(port.calls.begin(), port.calls.end(), "free"), 0);
    EXPECT_EQ(rt::ERRORLEVEL(), 0);

    // The retried open fails again: the fallback block shows a stop box and ends the process
    // with exit code 1, without another report or dialog.
    fs::remove("Error.log");
    port.calls.clear();
    EXPECT_EQ(exitCodeOf([&] { raiseIn("LNETUSE", 42, e); }), 1);
    EXPECT_FALSE(reportExists());
    EXPECT_TRUE(port.calls.empty());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, rt::MessageKind::Stop);
    EXPECT_EQ(boxes[0].text, "(DOS Error 2) DBFCDX/1001  Open error: clientes.dbf from Errorsys, line: 42");
}

TEST_F(Handler, DefaultThenAnyLaterErrorEvenASilentOneGoesToTheFallback) {
    port.answer = false;
    EXPECT_EQ(raiseIn("LNETUSE", 30, openError(2, true)).kind, rt::Recovery::Default);
    EXPECT_EQ(std::count(port.calls.begin(), port.calls.end(), "free"), 0);

    EXPECT_EQ(exitCodeOf([] {
                  rt::Frame f("CALCULA");
                  f.setLine(7);
                  rt::raiseSubstitutable(rt::makeError(rt::EG_ZERODIV, 1340, "/", rt::makeArray({10, 0})));
              }),
              1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error BASE/1340  Zero divisor: / from Errorsys, line:  7");
}

TEST_F(Handler, AnErrorWhileWritingBreaksOffTheWriteSilently) {
    port.answer = false;
    port.onWrite = [] {
        auto w = rt::makeError(rt::EG_WRITE, 2014, "FWRITE");
        w->CanDefault = true;
        raiseIn("MEMOWRIT", 0, w);
        ADD_FAILURE() << "the write went on after the error";
    };
    EXPECT_EQ(raiseIn("LNETUSE", 30, openError(2, true)).kind, rt::Recovery::Default);
    EXPECT_TRUE(dialogShown());
    EXPECT_FALSE(reportExists());
    EXPECT_TRUE(boxes.empty());

    // The fallback block is back in place after the write.
    EXPECT_EQ(exitCodeOf([] { raiseIn("MAIN", 9, rt::makeError(rt::EG_ARG, 1108, "AT")); }), 1);
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(Handler, AnErrorWhileTheReportIsBuiltGoesToTheFallback) {
    facts.onCpuName = [] { raiseIn("GETCPU", 0, rt::makeError(rt::EG_ARG, 3012, "CPUID")); };
    EXPECT_EQ(exitCodeOf([] { raiseIn("MAIN", 9, rt::makeError(rt::EG_ARG, 1108, "AT")); }), 1);
    EXPECT_FALSE(reportExists());
    EXPECT_FALSE(dialogShown());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error BASE/3012  Argument error: CPUID from Errorsys, line:  0");
}

TEST_F(Handler, AReportThatCannotBeCreatedStillShowsTheDialog) {
    fs::create_directory("Error.log"); // a folder of that name: the file cannot be created
    EXPECT_EQ(exitCodeOf([] { raiseIn("MAIN", 9, rt::makeError(rt::EG_ARG, 1108, "AT")); }), 1);
    EXPECT_TRUE(dialogShown());
    EXPECT_TRUE(boxes.empty());
}

TEST(ErrorMessage, Format) {
    auto e = rt::makeError(rt::EG_ZERODIV, 1340, "/");
    EXPECT_EQ(errors::ERRORMESSAGE(*e), "Error BASE/1340  Zero divisor: /");

    // The file name wins over the operation; with neither there is no colon.
    e->FileName = "c:\\datos\\clientes.dbf";
    EXPECT_EQ(errors::ERRORMESSAGE(*e), "Error BASE/1340  Zero divisor: c:\\datos\\clientes.dbf");
    e->FileName = "";
    e->Operation = "";
    EXPECT_EQ(errors::ERRORMESSAGE(*e), "Error BASE/1340  Zero divisor");

    // Severity 1 and below is a warning; an OS code replaces either word.
    e->Severity = 1;
    EXPECT_EQ(errors::ERRORMESSAGE(*e), "Warning BASE/1340  Zero divisor");
    e->OsCode = 2;
    EXPECT_EQ(errors::ERRORMESSAGE(*e), "(DOS Error 2) BASE/1340  Zero divisor");
    e->Severity = 3;
    EXPECT_EQ(errors::ERRORMESSAGE(*e), "(DOS Error 2) BASE/1340  Zero divisor");

    // Fields of the wrong type.
    auto odd = rt::ERRORNEW();
    odd->Severity = 2;
    odd->SubSystem = rt::Value();
    odd->SubCode = "x";
    odd->Description = 5;
    odd->Operation = "UPPER";
    EXPECT_EQ(errors::ERRORMESSAGE(*odd), "Error ???"
                                          "/???: UPPER");

    // A blank error object: a warning of no subsystem.
    EXPECT_EQ(errors::ERRORMESSAGE(*rt::ERRORNEW()), "Warning /0  ");
}

TEST(DoBreak, IsCaughtByTheInnermostGuardedSequence) {
    bool recovered = false;
    EXPECT_FALSE(rt::guarded([] { errors::DOBREAK(); }, [&](const rt::Value& v) { recovered = v.isNil(); }));
    EXPECT_TRUE(recovered);
    errors::ERRORLINK();
}

TEST(MemoWrit, WritesTheTextAndTheEndOfFileByte) {
    const fs::path p = fs::temp_directory_path() / "errors_tests_memowrit.txt";
    {
        std::ofstream old(p, std::ios::binary);
        old << "a much longer earlier content";
    }
    const std::string text("line\r\n\0two\r\n", 12);
    EXPECT_TRUE(errors::MEMOWRIT(p.string(), text));
    EXPECT_EQ(readFile(p), text + '\x1a');
    EXPECT_TRUE(errors::MEMOWRIT(p.string(), ""));
    EXPECT_EQ(readFile(p), "\x1a");
    fs::remove(p);

    EXPECT_FALSE(errors::MEMOWRIT((fs::temp_directory_path() / "no such folder" / "x.log").string(), "x"));
}

// Memory that runs out is reported where it ran out: the new-handler raises "Memory low" inside
// the failed allocation, so the report's stack and variables show the routines as they stood.
TEST_F(Handler, MemoryLowListsTheFramesWhereMemoryRanOut) {
    rt::reserveMemory(64 * 1024);
    int code = -1;
    {
        const rt::Value table = "clientes";
        rt::Frame outer("LEETABLA", {&table});
        outer.setLine(12);
        code = exitCodeOf([] {
            rt::Frame inner("CARGAREGISTROS");
            inner.setLine(40);
#if defined(__SANITIZE_ADDRESS__)
            // The sanitizer's allocator ends the process instead of calling the new-handler.
            std::get_new_handler()();
#else
            volatile std::size_t huge = SIZE_MAX / 2;
            static char* volatile kept = nullptr;
            kept = new char[huge];
            delete[] kept;
#endif
        });
    }
    std::set_new_handler(nullptr);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(port.shown.errorLine, "   Error description: Error BASE/0  Memory low\r\n");
    EXPECT_EQ(port.shown.stackLines,
              (std::vector<std::string>{"   Called from CARGAREGISTROS(40)", "   Called from LEETABLA(12)"}));
    const std::string report = readFile("Error.log");
    EXPECT_NE(report.find("\r\nStack Calls\r\n===========\r\n   Called from CARGAREGISTROS(40)\r\n"
                          "   Called from LEETABLA(12)\r\n\r\n"),
              std::string::npos);
    EXPECT_NE(report.find("   LEETABLA\r\n     Param   1:    C    \"clientes\"\r\n"), std::string::npos);
}
