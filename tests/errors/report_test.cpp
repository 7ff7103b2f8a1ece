// The report text, line by line, against fixed facts and a call stack built by the test.
#include "errors/report.h"

#include "fakes.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace errtest;

namespace {

class ReportTest : public ::testing::Test {
  protected:
    void SetUp() override { rt::SET(rt::_SET_DATEFORMAT, "dd-mm-yy"); }
    void TearDown() override { rt::resetSettings(); }

    // The report of e as the handler would build it, with MAIN -> REVAYUDA on the stack and
    // the error block and the handler above them.
    errors::Report reportFor(const rt::ErrorPtr& e) {
        rt::Value help = "C:\\x\\ayuda.chm";
        rt::Frame main("MAIN", {&help});
        main.setLine(57);
        rt::Value count = 3;
        rt::Value list = rt::makeArray({1, 2});
        rt::Value nothing;
        rt::Value object = rt::ERRORNEW();
        rt::Value flag = true;
        main.locals(count, list, nothing, object, flag);

        rt::Value drive = "C";
        rt::Frame revayuda("REVAYUDA", {&drive});
        revayuda.setLine(112);
        drive = "D"; // values are read when the report is built

        const rt::Value errorValue(e);
        rt::Frame block("(b)ERRORSYS", rt::Args(&errorValue, 1));
        rt::Frame handler("ERRORDIALOG", {&errorValue});
        return errors::buildReport(*e, facts.os, facts, tables);
    }

    // The lines of one section: from its title up to the blank line before the next one.
    static std::vector<std::string> section(const std::vector<std::string>& lines, const std::string& title) {
        auto it = std::find(lines.begin(), lines.end(), title);
        std::vector<std::string> out;
        for (; it != lines.end(); ++it) {
            if (!out.empty() && (*it == "Stack Calls" || *it == "System" || *it == "Variables in use" ||
                                 *it == "Linked RDDs" || *it == "DataBases in use" ||
                                 *it == "Classes in use:" || *it == "Memory Analysis"))
                break;
            out.push_back(*it);
        }
        if (!out.empty() && out.back().empty()) out.pop_back();
        return out;
    }

    FakeFacts facts;
    FakeTables tables;
};

rt::ErrorPtr argumentError() {
    return rt::makeError(rt::EG_ARG, 1108, "AT", rt::makeArray({"abc", 12}));
}

} // namespace

TEST_F(ReportTest, ApplicationSection) {
    const auto lines = reportLines(reportFor(argumentError()).text);
    const std::vector<std::string> expected{
        "Application",
        "===========",
        "   Path and name: C:\\Prog\\instayuda.exe (32 bits)",
        "   Size: 1,048,576 bytes",
        "   Time from start: 0 hours 14 mins 15 secs ",
        "   Error occurred at: 05-03-24, 13:14:15",
        "   Error description: Error BASE/1108  Argument error: AT",
        "   Args:",
        "     [   1] = C   abc",
        "     [   2] = N   12",
    };
    EXPECT_EQ(section(lines, "Application"), expected);
}

TEST_F(ReportTest, ArgsRowsFollowTheArgumentsArray) {
    // No arguments at all: no "Args:" row.
    auto e = rt::makeError(rt::EG_ARG, 1108, "AT");
    auto app = section(reportLines(reportFor(e).text), "Application");
    ASSERT_EQ(app.size(), 7u);
    EXPECT_EQ(app.back(), "   Error description: Error BASE/1108  Argument error: AT");

    // An empty array: the row and nothing under it.
    e->Args = rt::makeArray();
    app = section(reportLines(reportFor(e).text), "Application");
    ASSERT_EQ(app.size(), 8u);
    EXPECT_EQ(app.back(), "   Args:");

    // Every type, shown by its letter and its text.
    e->Args = rt::makeArray({rt::Value(), true, rt::makeDate(2024, 2, 1), 2.5, rt::makeArray({1}),
                             rt::makeBlock("MAIN", [](rt::Args) { return rt::Value(); }), rt::ERRORNEW()});
    app = section(reportLines(reportFor(e).text), "Application");
    const std::vector<std::string> rows(app.end() - 7, app.end());
    EXPECT_EQ(rows, (std::vector<std::string>{"     [   1] = U   ", "     [   2] = L   .t.",
                                              "     [   3] = D   01-02-24", "     [   4] = N   2.5",
                                              "     [   5] = A   { ... }", "     [   6] = B   {|| ... }",
                                              "     [   7] = O   Object"}));
}

TEST_F(ReportTest, SizeAndTimeFromStart) {
    facts.size = 4096;
    facts.day = rt::makeDate(2024, 3, 7); // two days later, same time of day as the start
    facts.now = facts.startSecs;
    const auto app = section(reportLines(reportFor(argumentError()).text), "Application");
    EXPECT_EQ(app[3], "   Size:     4,096 bytes");
    EXPECT_EQ(app[4], "   Time from start: 47 hours 59 mins 58 secs ");
    EXPECT_EQ(app[5], "   Error occurred at: 07-03-24, 13:00:00");

    // A program file that cannot be found reads as size 0.
    facts.size = 0;
    EXPECT_EQ(section(reportLines(reportFor(argumentError()).text), "Application")[3],
              "   Size:         0 bytes");
}

TEST_F(ReportTest, StackAndVariablesShowTheRoutinesAboveTheHandler) {
    const errors::Report r = reportFor(argumentError());
    const auto lines = reportLines(r.text);
    EXPECT_EQ(section(lines, "Stack Calls"),
              (std::vector<std::string>{"Stack Calls", "===========", "   Called from REVAYUDA(112)",
                                        "   Called from MAIN(57)"}));
    EXPECT_EQ(r.stackLines,
              (std::vector<std::string>{"   Called from REVAYUDA(112)", "   Called from MAIN(57)"}));

    const std::vector<std::string> expected{
        "Variables in use",
        "================",
        "   Procedure     Type   Value",
        "   ==========================",
        "   REVAYUDA",
        "     Param   1:    C    \"D\"",
        "   MAIN",
        "     Param   1:    C    \"C:\\x\\ayuda.chm\"",
        "     Local   1:    N    3",
        "     Local   2:    A    Len:    2",
        "     Local   3:    U    ",
        "     Local   4:    O    Class: ERROR",
        "     Local   5:    L    .t.",
    };
    EXPECT_EQ(section(lines, "Variables in use"), expected);
}

TEST_F(ReportTest, StackStopsAfterSeventyTwoLevelsAndSkipsNamelessOnes) {
    std::vector<std::unique_ptr<rt::Frame>> frames;
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (int i = 0; i < 80; ++i) n.push_back("R" + std::to_string(i));
        return n;
    }();
    for (int i = 0; i < 80; ++i)
        frames.push_back(std::make_unique<rt::Frame>(names[i], std::initializer_list<const rt::Value*>{}, i));
    frames.push_back(std::make_unique<rt::Frame>("")); // a level without a name
    frames.push_back(std::make_unique<rt::Frame>("(b)ERRORSYS"));
    frames.push_back(std::make_unique<rt::Frame>("ERRORDIALOG"));
    const auto e = argumentError();
    const errors::Report r = errors::buildReport(*e, facts.os, facts, tables);
    // Levels 2 to 73: the nameless level and the 71 routines below it.
    ASSERT_EQ(r.stackLines.size(), 71u);
    EXPECT_EQ(r.stackLines.front(), "   Called from R79(79)");
    EXPECT_EQ(r.stackLines.back(), "   Called from R9(9)");
    while (!frames.empty()) frames.pop_back(); // innermost first
}

TEST_F(ReportTest, SystemSection) {
    const auto lines = reportLines(reportFor(argumentError()).text);
    const std::vector<std::string> expected{
        "System",
        "======",
        "   CPU type: Pentium IV 2400 Mhz",
        "   Hardware memory: 513 megs",
        "",
        "   Free System resources: 90 %",
        "        GDI    resources: 90 %",
        "        User   resources: 90 %",
        "",
        "   Compiler version: instayuda runtime 1.0",
        "   Windows version: 5.1, Build 2600 Service Pack 3",
        "",
        // "Wine" is covered by "Wine desktop", and an empty title by any title before it.
        "   Windows total applications running: 3",
        "      1 Wine desktop",
        "      2 Notepad",
        "      3 instayuda",
    };
    EXPECT_EQ(section(lines, "System"), expected);
}

TEST_F(ReportTest, NoDriversAndNoAreasLeaveTheTitlesOnly) {
    const auto lines = reportLines(reportFor(argumentError()).text);
    EXPECT_EQ(section(lines, "Linked RDDs"), (std::vector<std::string>{"Linked RDDs", "==========="}));
    EXPECT_EQ(section(lines, "DataBases in use"),
              (std::vector<std::string>{"DataBases in use", "================"}));
}

TEST_F(ReportTest, DriversAndWorkAreas) {
    tables.drivers = {"DBFCDX", "ADS"};
    tables.selected = 1;
    errors::AreaFacts clientes;
    clientes.area = 1;
    clientes.alias = "CLIENTES";
    clientes.driver = "ADS";
    clientes.recNo = 12;
    clientes.recCount = 345;
    clientes.eof = true;
    clientes.controllingOrder = 1;
    clientes.orders = {{"UPPER(NOMBRE)", "NOMBRE"}, {"", "HUECO"}, {"CODIGO", "CODIGO"}};
    clientes.relations = {{"CODIGO", 2, "FACTURAS"}, {"X", 0, "NADA"}};
    errors::AreaFacts facturas;
    facturas.area = 2;
    facturas.alias = "FACTURAS";
    facturas.driver = "ADS";
    facturas.recNo = 1;
    facturas.recCount = 0;
    facturas.bof = true;
    facturas.eof = true;
    errors::AreaFacts unused; // no alias: not in use
    unused.area = 3;
    tables.areas = {clientes, facturas, unused};

    const auto lines = reportLines(reportFor(argumentError()).text);
    EXPECT_EQ(section(lines, "Linked RDDs"),
              (std::vector<std::string>{"Linked RDDs", "===========", "   DBFCDX", "   ADS"}));
    const std::string gap(20, ' ');
    const std::vector<std::string> expected{
        "DataBases in use",
        "================",
        "",
        "  1: => CLIENTES       " + gap + "RddName: ADS",
        "     ==============================",
        "     RecNo    RecCount    BOF   EOF",
        "       12        345      .f.   .t.",
        "",
        "     Indexes in use                        TagName",
        "        => UPPER(NOMBRE)                      NOMBRE",
        "           CODIGO                             CODIGO",
        "",
        "     Relations in use",
        "                 1: TO CODIGO INTO FACTURAS",
        "",
        "  2:    FACTURAS       " + gap + "RddName: ADS",
        "     ==============================",
        "     RecNo    RecCount    BOF   EOF",
        "        1          0      .t.   .t.",
        "",
        "     Indexes in use                        TagName",
        "",
        "     Relations in use",
    };
    EXPECT_EQ(section(lines, "DataBases in use"), expected);
}

TEST_F(ReportTest, ClassesAndMemory) {
    (void)rt::ERRORNEW(); // the error class is in the class table from here on
    const auto lines = reportLines(reportFor(argumentError()).text);
    const auto classes = section(lines, "Classes in use:");
    ASSERT_GE(classes.size(), 3u);
    EXPECT_EQ(classes[1], "===============");
    EXPECT_EQ(classes.size() - 2, rt::classCount());
    EXPECT_NE(std::find(classes.begin(), classes.end(), "   " + rt::STR(1, 3) + " " + rt::__CLASSNAME(1)),
              classes.end());
    EXPECT_EQ(classes[2].substr(0, 7), "     1 ");

    const std::vector<std::string> expected{
        "Memory Analysis",
        "===============",
        "      " + std::to_string(rt::NSTATICS()) + " Static variables",
        "",
        "   Dynamic memory consume:",
        "      Actual  Value:       1234 bytes",
        "      Highest Value:       5678 bytes",
    };
    EXPECT_EQ(section(lines, "Memory Analysis"), expected);
}

TEST_F(ReportTest, LineEndsAndSectionOrder) {
    const std::string text = reportFor(argumentError()).text;
    // Every line ends with CR LF and the text ends with one; no bare CR or LF anywhere.
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            EXPECT_EQ(text[i - 1], '\r') << "at " << i;
        }
        if (text[i] == '\r') {
            EXPECT_EQ(text[i + 1], '\n') << "at " << i;
        }
    }
    const char* titles[] = {"Application\r\n===",          "\r\n\r\nStack Calls\r\n",
                            "\r\n\r\nSystem\r\n",          "\r\n\r\nVariables in use\r\n",
                            "\r\n\r\nLinked RDDs\r\n",     "\r\n\r\nDataBases in use\r\n",
                            "\r\n\r\nClasses in use:\r\n", "\r\n\r\nMemory Analysis\r\n"};
    std::size_t last = 0;
    for (const char* t : titles) {
        const std::size_t at = text.find(t);
        ASSERT_NE(at, std::string::npos) << t;
        EXPECT_GE(at, last) << t;
        last = at;
    }
    EXPECT_EQ(text.find("Application"), 0u);
}

TEST_F(ReportTest, DialogPreparationRunsBetweenSystemAndVariables) {
    // The hook runs after the System section has read its facts and before the Variables
    // section reads the values: a value it changes shows changed.
    rt::Value state = "before";
    rt::Frame main("MAIN", {&state});
    rt::Frame block("(b)ERRORSYS");
    rt::Frame handler("ERRORDIALOG");
    std::vector<std::string> order;
    facts.onCpuName = [&] { order.push_back("system"); };
    const auto e = argumentError();
    const errors::Report r = errors::buildReport(*e, facts.os, facts, tables, [&] {
        order.push_back("prepare");
        state = "after";
    });
    EXPECT_EQ(order, (std::vector<std::string>{"system", "prepare"}));
    EXPECT_NE(r.text.find("     Param   1:    C    \"after\"\r\n"), std::string::npos);
}

TEST(CGetInfo, ShowsValuesAsTheVariablesSectionDoes) {
    // A string is quoted: "C", four blanks and the quoted text, against the Args row's three
    // blanks and the bare text.
    EXPECT_EQ(errors::CGETINFO("abc"), "\"abc\"");
    EXPECT_EQ(errors::CGETINFO(rt::Value(rt::ERRORNEW())), "Class: ERROR");
    EXPECT_EQ(errors::CGETINFO(rt::makeArray({1, 2, 3})), "Len:    3");
    EXPECT_EQ(errors::CGETINFO(rt::makeArray()), "Len:    0");
    EXPECT_EQ(errors::CGETINFO(42), "42");
    EXPECT_EQ(errors::CGETINFO(false), ".f.");
    EXPECT_EQ(errors::CGETINFO(rt::Value()), "");
}

TEST_F(ReportTest, NullReferencesInAFrameAreReported) {
    rt::Value object = rt::ObjectPtr(), list = rt::ArrayPtr(), block = rt::BlockPtr();
    rt::Frame main("MAIN", {&object, &list, &block});
    const auto e = argumentError();
    const rt::Value errorValue(e);
    rt::Frame handlerBlock("(b)ERRORSYS", rt::Args(&errorValue, 1));
    rt::Frame handler("ERRORDIALOG", {&errorValue});
    const auto lines = reportLines(errors::buildReport(*e, facts.os, facts, tables).text);
    const auto vars = section(lines, "Variables in use");
    ASSERT_EQ(vars.size(), 8u);
    EXPECT_EQ(vars[5], "     Param   1:    O    Class: NIL");
    EXPECT_EQ(vars[6], "     Param   2:    A    Len:    0");
    EXPECT_EQ(vars[7], "     Param   3:    B    {|| ... }");
}
