// The work-area layer and the "ADS" driver on real tables through the engine.
#include "tables/ads.h"
#include "tables/registry.h"
#include "tables/table_routines.h"
#include "tables/workarea.h"

#include "engine/engine.h"
#include "runtime/dates.h"
#include "runtime/error.h"
#include "runtime/settings.h"
#include "tests/support/testdrive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

using namespace tables;
namespace fs = std::filesystem;

namespace {

class WorkAreas : public ::testing::Test {
  protected:
    void SetUp() override {
        static std::atomic<unsigned> serial{0};
        dir =
            fs::temp_directory_path() /
            ("workarea-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
             "-" + std::to_string(serial++));
        fs::create_directories(dir);
        resetRegistry();
        rt::resetSettings();
        rt::ERRORBLOCK(rt::Value(rt::makeBlock("TEST", [this](rt::Args a) -> rt::Value {
            errors.push_back(a[0].objectAs<rt::ErrorObject>());
            if (rt::errorLaunchDepth() > 0 && !inGuard) {
                const auto& e = errors.back();
                ADD_FAILURE() << "unexpected error " << e->SubSystem.asString() << "/"
                              << e->GenCode.asInteger() << "/" << e->SubCode.asInteger() << " "
                              << e->Operation.asString() << " " << e->FileName.asString();
                // Outside a guarded sequence the break ends the program: with a failure's
                // exit code, so that the run does not count as passed.
                rt::ERRORLEVEL(1);
            }
            rt::BREAK();
        })));
        registerStartupDrivers();
        RDDREGISTER("ADS", 1);
        RDDSETDEFAULT("ADS");
        ADSSETSERVERTYPE(1);
        ADSSETFILETYPE(2);
        rt::SET(rt::_SET_EPOCH, 1950);
        rt::SET(rt::_SET_DATEFORMAT, "dd-mm-yyyy");
        rt::NETERR(false);
    }
    void TearDown() override {
        resetRegistry();
        rt::resetSettings();
        engine::applicationExit();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    bool broke(const std::function<void()>& fn) {
        inGuard = true;
        const bool b = !rt::guarded(fn);
        inGuard = false;
        return b;
    }
    bool inGuard = false;

    // CLIENTES: NOMBRE C(10), SALDO N(10,2), ALTA D, ACTIVO L, NOTA M.
    void createClientes(const std::string& name = "clientes") {
        auto field = [](const char* n, const char* t, int len, int dec) {
            return rt::Value(rt::makeArray({n, t, len, dec}));
        };
        ASSERT_TRUE(DBCREATE(
            path(name),
            rt::makeArray({field("NOMBRE", "C", 10, 0), field("SALDO", "N", 10, 2), field("ALTA", "D", 8, 0),
                           field("ACTIVO", "L", 1, 0), field("NOTA", "M", 10, 0)})));
    }
    void addClient(const std::string& name, double saldo, rt::Date alta, bool activo,
                   const std::string& nota) {
        ASSERT_TRUE(DBAPPEND());
        FIELDPUT(1, name);
        FIELDPUT(2, saldo);
        FIELDPUT(3, alta);
        FIELDPUT(4, activo);
        FIELDPUT(5, nota);
    }
    void expectError(std::size_t i, int gen, int sub, const char* subsystem, const std::string& operation) {
        ASSERT_LT(i, errors.size());
        EXPECT_EQ(errors[i]->GenCode, rt::Value(gen));
        EXPECT_EQ(errors[i]->Description, rt::Value(rt::genCodeText(gen)));
        EXPECT_EQ(errors[i]->SubCode, rt::Value(sub));
        EXPECT_EQ(errors[i]->SubSystem, rt::Value(subsystem));
        EXPECT_EQ(errors[i]->Operation, rt::Value(operation));
        EXPECT_EQ(errors[i]->Severity, rt::Value(2));
    }

    fs::path dir;
    std::vector<rt::ErrorPtr> errors;
};

} // namespace

TEST_F(WorkAreas, CreateOpenWriteAndReadEveryFieldType) {
    createClientes();
    ASSERT_TRUE(DBUSEAREA(true, {}, path("clientes"), {}, true));
    EXPECT_FALSE(NETERR());
    EXPECT_EQ(SELECT(), 1);
    EXPECT_EQ(ALIAS(), "CLIENTES");
    EXPECT_EQ(RDDNAME(), "ADSCDX");
    EXPECT_EQ(INDEXEXT(), ".cdx");
    EXPECT_EQ(FCOUNT(), 5);
    EXPECT_EQ(FIELDNAME(2), "SALDO");
    EXPECT_EQ(FIELDPOS("alta "), 3);
    EXPECT_EQ(RECCOUNT(), 0);
    EXPECT_TRUE(EOF_());
    EXPECT_TRUE(BOF());
    DBSKIP(-1); // an empty table stays at both ends
    EXPECT_TRUE(EOF_());
    EXPECT_TRUE(BOF());

    const rt::Date alta = rt::makeDate(2009, 3, 31);
    addClient("Ana", 1234.5, alta, true, "primera\r\nlinea");
    addClient("Bernardo Gil Toledo", -7, {}, false, "");
    EXPECT_EQ(FIELDGET(1), rt::Value("Bernardo G")); // cut to the field's length
    EXPECT_EQ(RECCOUNT(), 2);
    EXPECT_EQ(LASTREC(), 2);
    ASSERT_TRUE(DBCOMMIT());

    ASSERT_TRUE(DBGOTOP());
    EXPECT_EQ(RECNO(), 1);
    EXPECT_EQ(FIELDGET(1), rt::Value("Ana       "));
    EXPECT_EQ(FIELDGET(2), rt::Value(1234.5));
    EXPECT_EQ(FIELDGET(3), rt::Value(alta));
    EXPECT_EQ(FIELDGET(4), rt::Value(true));
    EXPECT_EQ(FIELDGET(5), rt::Value("primera\r\nlinea"));
    EXPECT_TRUE(FIELDGET(6).isNil());
    EXPECT_TRUE(FIELDPUT(0, "x").isNil());
    // The date format of the engine is the process's again after each date read and write.
    std::string format;
    engine::getDateFormat(format);
    EXPECT_EQ(format, "dd-mm-yyyy");

    ASSERT_TRUE(DBSKIP());
    EXPECT_EQ(FIELDGET(2), rt::Value(-7));
    EXPECT_EQ(FIELDGET(3), rt::Value(rt::Date{}));
    EXPECT_EQ(FIELDGET(4), rt::Value(false));
    EXPECT_EQ(FIELDGET(5), rt::Value(""));
    ASSERT_TRUE(DBSKIP());
    EXPECT_TRUE(EOF_());
    EXPECT_EQ(RECNO(), 3);
    EXPECT_EQ(FIELDGET(1), rt::Value(std::string(10, ' ')));
    EXPECT_TRUE(FIELDPUT(1, "nadie").isNil()); // past the end nothing is written
    ASSERT_TRUE(DBSKIP(-1));                   // back from the end: the last record
    EXPECT_EQ(RECNO(), 2);
    EXPECT_FALSE(EOF_());

    DBGOTO(7);
    EXPECT_TRUE(EOF_());
    EXPECT_EQ(RECNO(), 3);
    DBGOTO(1);
    EXPECT_FALSE(EOF_());
    EXPECT_FALSE(DELETED());
    ASSERT_TRUE(DBDELETE());
    EXPECT_TRUE(DELETED());
    ASSERT_TRUE(DBRECALL());
    EXPECT_FALSE(DELETED());
    EXPECT_TRUE(errors.empty());

    // Reopened, the values are in the file.
    DBCLOSEAREA();
    EXPECT_FALSE(USED());
    ASSERT_TRUE(DBUSEAREA(false, "ADS", path("clientes.dbf"), "cli", false));
    EXPECT_EQ(ALIAS(), "CLI");
    EXPECT_EQ(RECCOUNT(), 2);
    EXPECT_EQ(FIELDGET(3), rt::Value(alta));
    EXPECT_EQ(rt::DTOC(FIELDGET(3).asDate()), "31-03-2009");
}

TEST_F(WorkAreas, SelectionAliasesAndOpenFailures) {
    createClientes();
    createClientes("otra");
    ASSERT_TRUE(DBUSEAREA(true, {}, path("clientes"), {}, true));
    ASSERT_TRUE(DBUSEAREA(true, {}, path("otra"), "l", true)); // L is not a work-area letter
    EXPECT_EQ(SELECT(), 2);
    EXPECT_EQ(ALIAS(), "L");
    EXPECT_EQ(SELECT("clientes"), 1);
    EXPECT_EQ(SELECT("nada"), 0);
    EXPECT_EQ(DBSELECTAREA("Clientes "), 1);
    EXPECT_EQ(ALIAS(2), "L");
    EXPECT_EQ(areaOfAlias("l"), 2);
    EXPECT_EQ(DBSELECTAREA(0), 3); // the lowest free one
    EXPECT_FALSE(USED());

    // Refused and taken aliases.
    for (const char* alias : {"A", "k", "M", "1CLI", "clientes"}) {
        errors.clear();
        EXPECT_TRUE(broke([&] { DBUSEAREA(false, {}, path("otra"), alias, true); })) << alias;
        expectError(0, rt::EG_DUPALIAS, 1011, "DBCMD",
                    rt::Value(alias).asString() == "clientes" ? "CLIENTES"
                    : std::string(alias) == "k"               ? "K"
                                                              : alias);
        EXPECT_TRUE(NETERR());
        EXPECT_FALSE(USED());
    }

    // A missing table: "Open error" from the driver with the engine's result and the name.
    errors.clear();
    EXPECT_TRUE(broke([&] { DBUSEAREA(false, {}, path("falta"), {}, true); }));
    expectError(0, rt::EG_OPEN, engine::kFileNotFound, "ADSCDX", "");
    EXPECT_EQ(errors[0]->FileName, rt::Value(path("falta") + ".dbf"));
    EXPECT_TRUE(NETERR());

    // A file that is not a table, and an index bag that is not an index: "Open error" too.
    errors.clear();
    {
        std::ofstream(path("basura.dbf"), std::ios::binary) << std::string(100, 'x');
        std::ofstream(path("basura.cdx"), std::ios::binary) << std::string(1000, 'x');
    }
    EXPECT_TRUE(broke([&] { DBUSEAREA(false, {}, path("basura"), {}, true); }));
    expectError(0, rt::EG_OPEN, errors.empty() ? 0 : errors[0]->SubCode.asInteger(), "ADSCDX", "");
    EXPECT_NE(errors[0]->SubCode, rt::Value(0));
    DBSELECTAREA("CLIENTES");
    EXPECT_TRUE(broke([&] { ORDLISTADD(path("basura.cdx")); }));
    expectError(1, rt::EG_OPEN, errors.size() > 1 ? errors[1]->SubCode.asInteger() : 0, "ADSCDX", "");
    EXPECT_EQ(INDEXORD(), 0);
    EXPECT_EQ(ALIAS(), "CLIENTES");

    // A table held exclusively elsewhere: the open fails quietly with the network-error flag.
    errors.clear();
    DBSELECTAREA(1);
    DBCLOSEAREA();
    ASSERT_TRUE(DBUSEAREA(false, {}, path("clientes"), {}, false));
    DBSELECTAREA(5);
    EXPECT_FALSE(DBUSEAREA(false, {}, path("clientes"), "OTRO", true));
    EXPECT_TRUE(NETERR());
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(USED());
    EXPECT_FALSE(NETERR(false));
    EXPECT_FALSE(NETERR());

    // A file name that is not text.
    EXPECT_TRUE(broke([] { DBUSEAREA(false, {}, 5); }));
    expectError(0, rt::EG_ARG, 1005, "DBCMD", "DBUSEAREA");

    // An alias that is not open.
    errors.clear();
    EXPECT_TRUE(broke([] { DBSELECTAREA("NADA"); }));
    expectError(0, rt::EG_NOALIAS, 1002, "BASE", "NADA");
    EXPECT_TRUE(errors[0]->CanRetry);
}

TEST_F(WorkAreas, CommandsWithoutATable) {
    DBSELECTAREA(9);
    EXPECT_EQ(RECNO(), 0);
    EXPECT_EQ(RECCOUNT(), 0);
    EXPECT_EQ(FCOUNT(), 0);
    EXPECT_EQ(INDEXORD(), 0);
    EXPECT_EQ(ALIAS(), "");
    EXPECT_TRUE(FIELDGET(1).isNil());
    EXPECT_EQ(INDEXEXT(), ".cdx"); // the default driver's
    const std::vector<std::pair<std::string, std::function<void()>>> commands = {
        {"RLOCK", [] { RLOCK(); }},
        {"FLOCK", [] { FLOCK(); }},
        {"DBAPPEND", [] { DBAPPEND(); }},
        {"ORDCREATE", [] { ORDCREATE({}, "T", "NOMBRE"); }},
        {"DBGOTO", [] { DBGOTO(1); }},
        {"DBSKIP", [] { DBSKIP(); }},
        {"DBSETORDER", [] { DBSETORDER(1); }},
        {"RDDNAME", [] { RDDNAME(); }},
        {"DBCOMMIT", [] { DBCOMMIT(); }},
    };
    for (const auto& [name, command] : commands) {
        errors.clear();
        EXPECT_TRUE(broke(command)) << name;
        expectError(0, rt::EG_NOTABLE, 2001, "DBCMD", name);
    }
    rt::NETERR(false);
    broke([] { DBAPPEND(); });
    EXPECT_FALSE(NETERR()); // no table: an error, not a refused append
}

TEST_F(WorkAreas, WrongTypesAndRefusedNumbers) {
    createClientes();
    ASSERT_TRUE(DBUSEAREA(true, {}, path("clientes"), {}, true));
    addClient("Ana", 1, rt::makeDate(2001, 1, 2), true, "");
    const std::vector<std::pair<int, rt::Value>> wrong = {
        {1, 5}, {2, "5"}, {3, "20010102"}, {4, 1}, {5, rt::Value(true)}, {2, 1e12}};
    for (const auto& [field, value] : wrong) {
        errors.clear();
        EXPECT_TRUE(broke([&] { FIELDPUT(field, value); })) << field;
        expectError(0, rt::EG_DATATYPE, 1020, "ADSCDX", "");
        EXPECT_EQ(errors[0]->FileName, rt::Value(""));
    }
    errors.clear();
    EXPECT_TRUE(broke([] { DBGOTO("1"); }));
    expectError(0, rt::EG_DATATYPE, 1020, "ADSCDX", "");
    EXPECT_TRUE(broke([] { DBGOTO(); }));
    expectError(1, rt::EG_ARG, 1003, "DBCMD", "DBGOTO");
    EXPECT_EQ(FIELDGET(2), rt::Value(1)); // nothing was written
}

TEST_F(WorkAreas, IndexesOrdersAndSeeks) {
    createClientes();
    ASSERT_TRUE(DBUSEAREA(true, {}, path("clientes"), {}, true));
    for (const char* n : {"Pedro", "ana", "Luis", "Bea", "Zoe"}) addClient(n, 0, {}, true, "");
    const auto order = [] {
        std::vector<std::string> names;
        for (DBGOTOP(); !EOF_(); DBSKIP()) names.push_back(FIELDGET(1).asString().substr(0, 5));
        return names;
    };

    ASSERT_TRUE(ORDCREATE({}, "NOMBRE", "UPPER(NOMBRE)"));
    EXPECT_EQ(INDEXORD(), 1);
    EXPECT_EQ(ORDNAME(), "NOMBRE");
    EXPECT_EQ(INDEXKEY(), "UPPER(NOMBRE)");
    EXPECT_EQ(FIELDGET(1), rt::Value("ana       ")); // on the first record in the new order
    EXPECT_EQ(order(), (std::vector<std::string>{"ana  ", "Bea  ", "Luis ", "Pedro", "Zoe  "}));
    EXPECT_TRUE(fs::exists(path("clientes.cdx")));

    EXPECT_TRUE(DBSEEK("LUIS"));
    EXPECT_TRUE(FOUND());
    EXPECT_EQ(RECNO(), 3);
    EXPECT_FALSE(DBSEEK("M"));
    EXPECT_TRUE(EOF_());
    EXPECT_FALSE(DBSEEK("M", true)); // soft: on the following key
    EXPECT_FALSE(EOF_());
    EXPECT_EQ(FIELDGET(1), rt::Value("Pedro     "));

    // A bag of its own, then natural order and orders by number, text number and name.
    ASSERT_TRUE(DBCREATEINDEX(path("porsaldo"), "NOMBRE"));
    EXPECT_TRUE(fs::exists(path("porsaldo.cdx")));
    EXPECT_EQ(ORDNAME(), "PORSALDO");
    EXPECT_EQ(order(), (std::vector<std::string>{"Bea  ", "Luis ", "Pedro", "Zoe  ", "ana  "}));
    ASSERT_TRUE(DBSETORDER(0));
    EXPECT_EQ(INDEXORD(), 0);
    EXPECT_EQ(order(), (std::vector<std::string>{"Pedro", "ana  ", "Luis ", "Bea  ", "Zoe  "}));
    ASSERT_TRUE(DBSETORDER("1"));
    EXPECT_EQ(ORDNAME(), "NOMBRE");
    ASSERT_TRUE(DBSETORDER("PORSALDO  "));
    EXPECT_EQ(INDEXORD(), 2);
    EXPECT_FALSE(DBSETORDER("NADA")); // unknown: quietly refused
    EXPECT_FALSE(DBSETORDER(9));
    EXPECT_EQ(INDEXORD(), 2);
    EXPECT_TRUE(errors.empty());

    ASSERT_TRUE(DBCLEARINDEX());
    EXPECT_EQ(INDEXORD(), 0);
    ASSERT_TRUE(ORDLISTADD(path("porsaldo")));
    EXPECT_EQ(ORDNAME(), "PORSALDO");
    ASSERT_TRUE(ORDLISTADD(path("porsaldo"))); // already open: tolerated

    EXPECT_TRUE(broke([] { ORDCREATE({}, {}, "NOMBRE"); }));
    expectError(0, rt::EG_ARG, 1006, "DBCMD", "ORDCREATE");
    EXPECT_TRUE(broke([] { ORDCREATE("x", "T"); }));
    expectError(1, rt::EG_ARG, 1006, "DBCMD", "ORDCREATE");
    EXPECT_TRUE(broke([] { ORDCREATE({}, "MALA", "NOMBRE +"); }));
    expectError(2, rt::EG_CREATE, errors.size() > 2 ? errors[2]->SubCode.asInteger() : 0, "ADSCDX", "");
    EXPECT_NE(errors[2]->SubCode, rt::Value(0));
    EXPECT_TRUE(broke([&] { ORDLISTADD(path("nohay")); }));
    EXPECT_EQ(errors.size(), 4u);

    // A key or a FOR condition with a subscript is refused with a code of its own.
    EXPECT_TRUE(broke([] { ORDCREATE({}, "SUB", "NOMBRE[1]"); }));
    expectError(4, rt::EG_CREATE, engine::kExprSubscript, "ADSCDX", "");
    ORDCONDSET("SALDO[1] > 0");
    EXPECT_TRUE(broke([] { ORDCREATE({}, "SUB", "NOMBRE"); }));
    expectError(5, rt::EG_CREATE, engine::kExprSubscript, "ADSCDX", "");
    EXPECT_EQ(errors.size(), 6u);
}

TEST_F(WorkAreas, IndexInTheCurrentOrderCompilesForEveryKeyValue) {
    createClientes();
    ASSERT_TRUE(DBUSEAREA(true, {}, path("clientes"), {}, true));
    addClient("A\"b", 1, rt::makeDate(2000, 1, 1), true, "");
    addClient("C'd", 2, rt::makeDate(2001, 1, 1), true, "");
    addClient("E\"f'g", 3, rt::makeDate(2002, 1, 1), true, "");
    addClient("H", 4, rt::makeDate(2003, 1, 1), true, "");
    struct Case {
        const char* key;
        int start; // record to start on
        int expected;
    };
    // The scan starts on the current record and goes on while the key is not above its key.
    const Case cases[] = {
        {"NOMBRE", 1, 1}, {"NOMBRE", 2, 1}, {"NOMBRE", 3, 1}, {"ALTA", 2, 1}, {"SALDO", 3, 1}};
    for (const Case& c : cases) {
        ASSERT_TRUE(ORDCREATE({}, "CUR", c.key));
        DBGOTO(c.start);
        // Additive, in the current order: a WHILE condition "key <= current value".
        ORDCONDSET({}, {}, {}, {}, {}, {}, RECNO(), {}, {}, {}, {}, true, true);
        ASSERT_TRUE(ORDCREATE({}, "SUB", c.key)) << c.key << " " << c.start;
        std::int64_t n = 0;
        for (DBGOTOP(); !EOF_(); DBSKIP()) ++n;
        EXPECT_EQ(n, c.expected) << c.key << " " << c.start;
    }
    EXPECT_TRUE(errors.empty());
}

// The data of the table never becomes part of the WHILE condition: a key holding ", ' and ]
// (and text that would read as ".OR. .T." if it ended its literal) selects exactly the records
// whose key is that value, from the current record on.
TEST_F(WorkAreas, IndexInTheCurrentOrderHoldsWhatItsConditionSelects) {
    ASSERT_TRUE(DBCREATE(path("claves"), rt::makeArray({rt::makeArray({"NOMBRE", "C", 40, 0})})));
    ASSERT_TRUE(DBUSEAREA(true, {}, path("claves"), {}, true));
    const std::vector<std::string> hostile = {"\"'] .OR. .T. .OR. [x]==[x", "x\"'] .OR. .T. .OR. [x]==[x",
                                              "\"\"'']]\"'", "]'\") .OR. (\""};
    // Each hostile value twice, among plain ones: the plain ones sort after every hostile one
    // but the second, which begins with "x".
    const std::vector<std::string> values = {"Ana",      hostile[0], "Zoe",     hostile[1],
                                             hostile[0], hostile[2], "Luis",    hostile[1],
                                             hostile[2], hostile[3], hostile[3]};
    for (const std::string& v : values) {
        ASSERT_TRUE(DBAPPEND());
        FIELDPUT(1, v);
    }
    for (const std::string& start : hostile) {
        ASSERT_TRUE(ORDCREATE({}, "TODOS", "NOMBRE"));
        ASSERT_TRUE(DBSEEK(start)) << start;
        ORDCONDSET({}, {}, {}, {}, {}, {}, RECNO(), {}, {}, {}, {}, true, true);
        ASSERT_TRUE(ORDCREATE({}, "SUB", "NOMBRE")) << start;
        std::vector<std::int64_t> held, expected;
        for (DBGOTOP(); !EOF_(); DBSKIP()) held.push_back(RECNO());
        for (std::size_t i = 0; i < values.size(); ++i)
            if (values[i] == start) expected.push_back(static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(held, expected) << start;
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(WorkAreas, LocksOnSharedAndExclusiveTables) {
    createClientes();
    ASSERT_TRUE(DBUSEAREA(true, {}, path("clientes"), "UNO", true));
    addClient("a", 1, {}, true, "");
    addClient("b", 2, {}, true, "");
    DBUNLOCK();
    ASSERT_TRUE(DBUSEAREA(true, {}, path("clientes"), "DOS", true));

    DBSELECTAREA("UNO");
    DBGOTO(1);
    EXPECT_TRUE(RLOCK());
    DBSELECTAREA("DOS");
    DBGOTO(1);
    rt::NETERR(false);
    EXPECT_FALSE(RLOCK()); // held by the other handle
    EXPECT_FALSE(NETERR());
    EXPECT_FALSE(FLOCK());
    DBGOTO(2);
    EXPECT_TRUE(RLOCK());
    EXPECT_TRUE(DBRLOCK(2));
    DBSELECTAREA("UNO");
    DBGOTO(2);
    EXPECT_FALSE(RLOCK()); // releases record 1; 2 is held by DOS
    DBSELECTAREA("DOS");
    DBGOTO(1);
    EXPECT_TRUE(DBRLOCK(1)); // free again
    DBSELECTAREA("DOS");
    EXPECT_TRUE(DBUNLOCK());
    DBSELECTAREA("UNO");
    EXPECT_TRUE(RLOCK());
    EXPECT_TRUE(FLOCK());
    DBSELECTAREA("DOS");
    EXPECT_FALSE(DBRLOCK(1));
    DBSELECTAREA("UNO");
    DBUNLOCK();
    DBSELECTAREA("DOS");
    EXPECT_TRUE(DBRLOCK(1));
    EXPECT_TRUE(errors.empty());

    DBCLOSEALL();
    ASSERT_TRUE(DBUSEAREA(true, {}, path("clientes"), {}, false));
    EXPECT_TRUE(RLOCK());
    EXPECT_TRUE(FLOCK());
    EXPECT_TRUE(DBUNLOCK());
}

TEST_F(WorkAreas, ChildFollowsItsParent) {
    createClientes("padre");
    createClientes("hijo");
    ASSERT_TRUE(DBUSEAREA(true, {}, path("hijo"), {}, true));
    for (const char* n : {"x1", "x2", "x3"}) addClient(n, 0, {}, true, "");
    ASSERT_TRUE(ORDCREATE({}, "NOMBRE", "NOMBRE"));
    ASSERT_TRUE(DBUSEAREA(true, {}, path("padre"), {}, true));
    for (const char* n : {"x3", "x1", "zz"}) addClient(n, 0, {}, true, "");
    const rt::Value key(rt::makeBlock("TEST", [](rt::Args) { return FIELDGET(1); }));
    ASSERT_TRUE(DBSETRELATION("HIJO", key, "NOMBRE"));
    EXPECT_EQ(DBRSELECT(1), 1);
    EXPECT_EQ(DBRELATION(1), "NOMBRE");
    EXPECT_EQ(DBRSELECT(2), 0);
    const auto child = [] {
        const std::int64_t saved = SELECT();
        DBSELECTAREA("HIJO");
        std::string name = EOF_() ? "<eof>" : FIELDGET(1).asString().substr(0, 2);
        DBSELECTAREA(saved);
        return name;
    };
    DBGOTOP();
    EXPECT_EQ(child(), "x3");
    DBSKIP();
    EXPECT_EQ(child(), "x1");
    DBGOBOTTOM();
    EXPECT_EQ(child(), "<eof>");
    DBGOTO(1);
    EXPECT_EQ(SELECT(), 2); // the selection is the parent's again
    EXPECT_EQ(child(), "x3");
    ASSERT_TRUE(DBCLEARRELATION());
    DBGOTO(2);
    EXPECT_EQ(child(), "x3");
    EXPECT_TRUE(errors.empty());
}

TEST_F(WorkAreas, ProductionIndexMarkAndShutdown) {
    createClientes();
    std::string before;
    {
        std::ifstream in(path("clientes.dbf"), std::ios::binary);
        before.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(before.size(), 32u);
    before[28] = 1;
    {
        std::ofstream out(path("clientes.dbf"), std::ios::binary);
        out << before;
    }
    EXPECT_TRUE(DELDBFMDX(path("clientes.dbf")));
    EXPECT_FALSE(DELDBFMDX(path("nohay.dbf")));
    std::string after;
    {
        std::ifstream in(path("clientes.dbf"), std::ios::binary);
        after.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_EQ(after[28], 0);
    EXPECT_EQ(after.substr(0, 28), before.substr(0, 28));
    EXPECT_EQ(after.substr(29), before.substr(29));

    ASSERT_TRUE(DBUSEAREA(true, {}, path("clientes"), {}, false));
    ASSERT_TRUE(DBUSEAREA(true, {}, path("clientes"), "OTRA", true) == false);
    closeAllAreasAndExitDrivers();
    DBSELECTAREA(1);
    EXPECT_FALSE(USED());
    EXPECT_EQ(DBSETDRIVER(), ""); // the registry's exit step ran
    // The table is free again.
    ASSERT_TRUE(DBUSEAREA(true, "ADS", path("clientes"), {}, false));
}

TEST_F(WorkAreas, CommandsAndFieldsInCompiledText) {
    rt::registerRuntimeRoutines();
    registerTableRoutines();
    createClientes("hijo");
    const std::string use = "DBUSEAREA(.T., , '" + path("clientes") + "', , .T.)";
    ASSERT_TRUE(DBCREATE(path("clientes"), rt::makeArray({rt::makeArray({"NOMBRE", "C", 10, 0})})));
    EXPECT_EQ(rt::evalMacro(use), rt::Value(true));
    EXPECT_EQ(rt::evalMacro("DBAPPEND()"), rt::Value(true));
    EXPECT_EQ(rt::evalMacro("FIELDPUT(1, 'x2')"), rt::Value("x2"));
    EXPECT_EQ(rt::evalMacro("NOMBRE"), rt::Value("x2        "));
    EXPECT_EQ(rt::evalMacro("clientes->NOMBRE"), rt::Value("x2        "));
    EXPECT_EQ(rt::evalMacro("RDDNAME() + INDEXEXT()"), rt::Value("ADSCDX.cdx"));

    // A relation given by its text alone is compiled; the child follows.
    EXPECT_EQ(rt::evalMacro("DBUSEAREA(.T., , '" + path("hijo") + "', , .T.)"), rt::Value(true));
    for (const char* n : {"x1", "x2"}) addClient(n, 0, {}, true, "");
    ASSERT_TRUE(ORDCREATE({}, "NOMBRE", "NOMBRE"));
    DBSELECTAREA("CLIENTES");
    EXPECT_EQ(rt::evalMacro("DBSETRELATION('HIJO', , 'NOMBRE')"), rt::Value(true));
    EXPECT_EQ(rt::evalMacro("DBRELATION(1)"), rt::Value("NOMBRE"));
    DBGOTOP();
    DBSELECTAREA("HIJO");
    EXPECT_EQ(RECNO(), 2);
    EXPECT_TRUE(errors.empty());
    rt::setFieldAccess(nullptr);
    setKeyCompiler(nullptr);
}

TEST_F(WorkAreas, DrivePathsNameTheSameFiles) {
    testsupport::TestDrive drive('T');
    ASSERT_TRUE(drive.folder("datos"));
    ASSERT_TRUE(DBCREATE("T:\\datos\\clientes", rt::makeArray({rt::makeArray({"NOMBRE", "C", 10, 0})})));
    EXPECT_TRUE(drive.exists("datos/clientes.dbf"));
    ASSERT_TRUE(DBUSEAREA(true, {}, "t:\\DATOS\\Clientes", {}, true));
    EXPECT_EQ(ALIAS(), "CLIENTES");
    DBCLOSEAREA();
    std::string bytes = drive.read("datos/clientes.dbf");
    ASSERT_GT(bytes.size(), 32u);
    bytes[28] = 1;
    ASSERT_TRUE(drive.file("datos/clientes.dbf", bytes));
    EXPECT_TRUE(DELDBFMDX("T:\\Datos\\CLIENTES.DBF"));
    EXPECT_EQ(drive.read("datos/clientes.dbf")[28], 0);
    EXPECT_FALSE(DELDBFMDX("T:\\datos\\nohay.dbf"));
    EXPECT_TRUE(errors.empty());
}
