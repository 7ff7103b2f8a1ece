// The "ADS" driver's engine calls, operation by operation, through a recording port that
// stands in for the engine.
#include "tables/ads.h"
#include "tables/registry.h"
#include "tables/workarea.h"

#include "runtime/dates.h"
#include "runtime/error.h"
#include "runtime/settings.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace tables;
using Result = EnginePort::Result;

namespace {

constexpr Handle T = 100; // the table handle the port hands out
constexpr Handle I = 201; // index handles are 200 + position

std::string str(Handle h) {
    return h == T ? "T" : h > 200 && h < 300 ? "I" + std::to_string(h - 200) : std::to_string(h);
}
template <typename V> std::string str(const V& v) {
    std::ostringstream s;
    s << v;
    return s.str();
}
std::string str(bool b) {
    return b ? "T" : "F";
}
std::string str(std::string_view s) {
    return "'" + std::string(s) + "'";
}

struct PortField {
    std::string name;
    char type;
    std::uint32_t len;
    std::uint16_t dec;
};

// Records every call as one line; answers come from a script per call name (0 when none).
class RecordingPort : public EnginePort {
  public:
    std::vector<std::string> calls;
    std::map<std::string, std::deque<Result>> script;
    std::vector<PortField> fields = {{"NOMBRE", 'C', 10, 0},
                                     {"SALDO", 'N', 10, 2},
                                     {"ALTA", 'D', 8, 0},
                                     {"ACTIVO", 'L', 1, 0},
                                     {"NOTA", 'M', 4, 0}};
    std::uint32_t count = 3;
    std::uint32_t recno = 1;
    bool bof = false, eof = false;
    std::vector<std::uint32_t> locks;
    std::string dateFormat = "dd-mm-yyyy";

    template <typename... A> Result rec(const char* name, const A&... args) {
        std::string line = name;
        ((line += " " + str(args)), ...);
        calls.push_back(line);
        auto it = script.find(name);
        if (it == script.end() || it->second.empty()) return 0;
        const Result r = it->second.front();
        it->second.pop_front();
        return r;
    }

    Result setServerType(std::uint16_t m) override { return rec("setServerType", m); }
    Result setExact(bool b) override { return rec("setExact", b); }
    Result setDateFormat(std::string_view f) override {
        dateFormat = f;
        return rec("setDateFormat", f);
    }
    Result getDateFormat(std::string& f) override {
        f = dateFormat;
        return rec("getDateFormat");
    }
    Result setEpoch(std::uint16_t y) override { return rec("setEpoch", y); }
    Result setSearchPath(std::string_view p) override { return rec("setSearchPath", p); }
    Result setDefaultFolder(std::string_view f) override { return rec("setDefaultFolder", f); }
    Result setShowDeleted(bool b) override { return rec("setShowDeleted", b); }
    Result applicationExit() override { return rec("applicationExit"); }
    Result getVersion(std::uint32_t& major, std::uint32_t& minor, char& letter, std::string& d) override {
        major = 6, minor = 2, letter = 'b', d = "Motor local";
        return rec("getVersion");
    }
    Result showError(std::string_view text) override { return rec("showError", text); }

    Result openTable(Handle c, std::string_view name, std::string_view alias, std::uint16_t type,
                     std::uint16_t ch, std::uint16_t lock, std::uint16_t rights, std::uint32_t mode,
                     Handle& t) override {
        const Result r = rec("openTable", c, name, alias, type, ch, lock, rights, mode);
        if (r == 0) t = T;
        return r;
    }
    Result createTable(std::string_view name, std::string_view alias, std::uint16_t type, std::uint16_t ch,
                       std::span<const engine::FieldDef> defs, Handle& t) override {
        std::string list;
        for (const auto& d : defs)
            list += d.name + ":" + d.type + std::to_string(d.len) + "." + std::to_string(d.dec) + ",";
        const Result r = rec("createTable", name, alias, type, ch, std::string_view(list));
        if (r == 0) t = T;
        return r;
    }
    Result closeTable(Handle t) override { return rec("closeTable", t); }
    Result getNumFields(Handle t, std::uint16_t& n) override {
        n = static_cast<std::uint16_t>(fields.size());
        return rec("getNumFields", t);
    }
    Result getFieldName(Handle t, std::uint32_t p, std::string& n) override {
        n = fields.at(p - 1).name;
        return rec("getFieldName", t, p);
    }
    Result getFieldType(Handle t, std::uint32_t p, char& type) override {
        type = fields.at(p - 1).type;
        return rec("getFieldType", t, p);
    }
    Result getFieldLength(Handle t, std::uint32_t p, std::uint32_t& l) override {
        l = fields.at(p - 1).len;
        return rec("getFieldLength", t, p);
    }
    Result getFieldDecimals(Handle t, std::uint32_t p, std::uint16_t& d) override {
        d = fields.at(p - 1).dec;
        return rec("getFieldDecimals", t, p);
    }
    Result getRecordCount(Handle t, std::uint32_t& n) override {
        n = count;
        return rec("getRecordCount", t);
    }
    Result getTableType(Handle t, std::uint16_t& type) override {
        type = 2;
        return rec("getTableType", t);
    }
    Result getRecordNum(Handle t, std::uint32_t& n) override {
        n = recno;
        return rec("getRecordNum", t);
    }
    Result refreshRecord(Handle t) override { return rec("refreshRecord", t); }
    Result gotoRecord(Handle t, std::uint32_t n) override {
        recno = n;
        return rec("gotoRecord", t, n);
    }
    Result gotoTop(Handle h) override { return rec("gotoTop", h); }
    Result gotoBottom(Handle h) override { return rec("gotoBottom", h); }
    Result skip(Handle h, std::int32_t n) override { return rec("skip", h, n); }
    Result atBOF(Handle h, bool& b) override {
        b = bof;
        return rec("atBOF", h);
    }
    Result atEOF(Handle h, bool& e) override {
        e = eof;
        return rec("atEOF", h);
    }
    Result seek(Handle h, const engine::ExprValue& key, bool soft, bool& found) override {
        found = true;
        return rec("seek", h, std::string_view(key.str), soft);
    }
    Result getField(Handle t, std::string_view f, std::string& text) override {
        text = f == "ALTA" ? (dateFormat == "YYYYMMDD" ? "20090331" : "31-03-2009") : "Ana       ";
        return rec("getField", t, f);
    }
    Result getDouble(Handle t, std::string_view f, double& v) override {
        v = 12.5;
        return rec("getDouble", t, f);
    }
    Result getLogical(Handle t, std::string_view f, bool& v) override {
        v = true;
        return rec("getLogical", t, f);
    }
    Result getMemoLength(Handle t, std::string_view f, std::uint32_t& n) override {
        n = 4;
        return rec("getMemoLength", t, f);
    }
    Result getString(Handle t, std::string_view f, std::string& text) override {
        text = "nota";
        return rec("getString", t, f);
    }
    Result setField(Handle t, std::string_view f, std::string_view text) override {
        return rec("setField", t, f, text);
    }
    Result setString(Handle t, std::string_view f, std::string_view text) override {
        return rec("setString", t, f, text);
    }
    Result setDouble(Handle t, std::string_view f, double v) override { return rec("setDouble", t, f, v); }
    Result setLogical(Handle t, std::string_view f, bool v) override { return rec("setLogical", t, f, v); }
    Result isDeleted(Handle t, bool& d) override {
        d = false;
        return rec("isDeleted", t);
    }
    Result deleteRecord(Handle t) override { return rec("deleteRecord", t); }
    Result recallRecord(Handle t) override { return rec("recallRecord", t); }
    Result appendRecord(Handle t) override { return rec("appendRecord", t); }
    Result writeRecord(Handle t) override { return rec("writeRecord", t); }
    Result lockRecord(Handle t, std::uint32_t n) override { return rec("lockRecord", t, n); }
    Result unlockRecord(Handle t, std::uint32_t n) override {
        std::erase(locks, n);
        return rec("unlockRecord", t, n);
    }
    Result getAllLocks(Handle t, std::span<std::uint32_t> room, std::uint16_t& n) override {
        n = 0;
        for (std::uint32_t l : locks) {
            if (n == room.size()) break;
            room[n++] = l;
        }
        rec("getAllLocks", t, room.size());
        return locks.size() > room.size() ? 5005 : 0;
    }
    Result lockTable(Handle t) override { return rec("lockTable", t); }
    Result unlockTable(Handle t) override { return rec("unlockTable", t); }
    Result createIndex(Handle h, std::string_view bag, std::string_view tag, std::string_view key,
                       std::string_view forText, std::string_view whileText, std::uint32_t options,
                       Handle& index) override {
        const Result r = rec("createIndex", h, bag, tag, key, forText, whileText, options);
        if (r == 0) index = 205;
        return r;
    }
    Result openIndex(Handle t, std::string_view bag, std::span<Handle> room, std::uint16_t& n) override {
        room[0] = 203;
        room[1] = 204;
        n = 2;
        return rec("openIndex", t, bag, room.size());
    }
    Result closeAllIndexes(Handle t) override { return rec("closeAllIndexes", t); }
    Result getIndexName(Handle h, std::string& name) override {
        name = "TAG" + std::to_string(h - 200);
        return rec("getIndexName", h);
    }
    Result getIndexExpr(Handle h, std::string& key) override {
        key = "UPPER(NOMBRE)";
        return rec("getIndexExpr", h);
    }
    Result getIndexOrder(Handle h, std::uint16_t& n) override {
        n = static_cast<std::uint16_t>(h - 200);
        return rec("getIndexOrder", h);
    }
    Result getIndexHandleByOrder(Handle t, std::uint16_t n, Handle& h) override {
        h = 200 + n;
        return rec("getIndexHandleByOrder", t, n);
    }
    Result getIndexHandle(Handle t, std::string_view name, Handle& h) override {
        h = 202;
        return rec("getIndexHandle", t, name);
    }
    Result extractKey(Handle h, engine::ExprValue& key) override {
        key = engine::ExprValue::character("ANA       ");
        return rec("extractKey", h);
    }
};

using Calls = std::vector<std::string>;

class DriverCalls : public ::testing::Test {
  public:
    void SetUp() override {
        resetRegistry();
        rt::resetSettings();
        setEnginePort(&port);
        setTraceOutput([this](std::string_view line) { trace.emplace_back(line); });
        rt::ERRORBLOCK(rt::Value(rt::makeBlock("TEST", [this](rt::Args a) -> rt::Value {
            errors.push_back(a[0].objectAs<rt::ErrorObject>());
            if (!inGuard) {
                // Outside broke() the break ends the program: make that a failure.
                ADD_FAILURE() << "unexpected error " << errors.back()->SubCode.asInteger();
                rt::ERRORLEVEL(1);
            }
            rt::BREAK();
        })));
        registerStartupDrivers();
        RDDREGISTER("ADS", 1);
        RDDSETDEFAULT("ADS");
        rt::SET(rt::_SET_DATEFORMAT, "dd-mm-yyyy");
    }
    void TearDown() override {
        resetRegistry();
        rt::resetSettings();
        setEnginePort(nullptr);
        setTraceOutput(nullptr);
    }
    // Opens "clientes" in a new work area and forgets the calls that took.
    void open(bool shared = true) {
        ASSERT_TRUE(DBUSEAREA(true, {}, "clientes", {}, shared));
        port.calls.clear();
    }
    bool broke(const std::function<void()>& fn) {
        inGuard = true;
        const bool b = !rt::guarded(fn);
        inGuard = false;
        return b;
    }

    bool inGuard = false;
    RecordingPort port;
    std::vector<std::string> trace;
    std::vector<rt::ErrorPtr> errors;
};

Calls structureCalls() {
    Calls c = {"getNumFields T"};
    for (int i = 1; i <= 5; ++i)
        for (const char* q :
             {"getFieldName T ", "getFieldType T ", "getFieldLength T ", "getFieldDecimals T "})
            c.push_back(q + std::to_string(i));
    c.push_back("getRecordCount T");
    return c;
}

Calls operator+(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

// Every operation of the table's "Engine operations", with the state it starts from and the
// calls it must make, in order.
TEST_F(DriverCalls, EngineCallSequences) {
    struct Row {
        const char* what;
        std::function<void(DriverCalls&)> setup;
        std::function<void()> action;
        Calls expected;
    };
    const auto none = [](DriverCalls&) {};
    const auto shared = [](DriverCalls& t) { t.open(true); };
    const auto exclusive = [](DriverCalls& t) { t.open(false); };
    const auto ordered = [](DriverCalls& t) {
        t.open(true);
        DBSETORDER(1);
        t.port.calls.clear();
    };
    const Calls top = {"gotoTop T", "atBOF T", "atEOF T"};
    const std::vector<Row> rows = {
        {"open shared", none, [] { DBUSEAREA(true, {}, "clientes", {}, true); },
         Calls{"openTable 0 'clientes.dbf' 'CLIENTES' 2 1 1 1 4"} + structureCalls() + top},
        {"open exclusive read-only", none, [] { DBUSEAREA(true, {}, "c.dbf", "X", false, true); },
         Calls{"openTable 0 'c.dbf' 'X' 2 1 1 1 3"} + structureCalls() + top},
        {"close", shared, [] { DBCLOSEAREA(); }, {"closeTable T"}},
        {"go to the current record", shared, [] { DBGOTO(1); }, {"getRecordNum T", "refreshRecord T"}},
        {"go to another record", shared, [] { DBGOTO(3); }, {"getRecordNum T", "gotoRecord T 3"}},
        {"go past the count (shared: count first)",
         shared,
         [] { DBGOTO(4); },
         {"getRecordCount T", "getRecordNum T", "atEOF T", "gotoRecord T 0"}},
        {"go to 0 (exclusive)",
         exclusive,
         [] { DBGOTO(0); },
         {"getRecordNum T", "atEOF T", "gotoRecord T 0"}},
        {"go top in natural order", shared, [] { DBGOTOP(); }, top},
        {"go bottom in an order", ordered, [] { DBGOBOTTOM(); }, {"gotoBottom I1", "atBOF I1", "atEOF I1"}},
        {"skip 0", shared, [] { DBSKIP(0); }, {"skip T 0", "refreshRecord T"}},
        {"skip 2",
         ordered,
         [] { DBSKIP(2); },
         {"skip I1 1", "atBOF I1", "atEOF I1", "skip I1 1", "atBOF I1", "atEOF I1"}},
        {"skip -1", shared, [] { DBSKIP(-1); }, {"skip T -1", "atBOF T", "atEOF T"}},
        {"record number", shared, [] { RECNO(); }, {"getRecordNum T"}},
        {"record count", shared, [] { RECCOUNT(); }, {"getRecordCount T"}},
        {"read character", shared, [] { FIELDGET(1); }, {"getFieldName T 1", "getField T 'NOMBRE'"}},
        {"read number", shared, [] { FIELDGET(2); }, {"getFieldName T 2", "getDouble T 'SALDO'"}},
        {"read date",
         shared,
         [] { FIELDGET(3); },
         {"getFieldName T 3", "getDateFormat", "setDateFormat 'YYYYMMDD'", "getField T 'ALTA'",
          "setDateFormat 'dd-mm-yyyy'"}},
        {"read logical", shared, [] { FIELDGET(4); }, {"getFieldName T 4", "getLogical T 'ACTIVO'"}},
        {"read memo",
         shared,
         [] { FIELDGET(5); },
         {"getFieldName T 5", "getMemoLength T 'NOTA'", "getString T 'NOTA'"}},
        {"write character (cut)",
         shared,
         [] { FIELDPUT(1, "Ana Maria Ortiz"); },
         {"getFieldName T 1", "setString T 'NOMBRE' 'Ana Maria '"}},
        {"write number", shared, [] { FIELDPUT(2, 7.25); }, {"getFieldName T 2", "setDouble T 'SALDO' 7.25"}},
        {"write date",
         shared,
         [] { FIELDPUT(3, rt::makeDate(2009, 3, 1)); },
         {"getFieldName T 3", "getDateFormat", "setDateFormat 'YYYYMMDD'", "setField T 'ALTA' '20090301'",
          "setDateFormat 'dd-mm-yyyy'"}},
        {"write logical",
         shared,
         [] { FIELDPUT(4, false); },
         {"getFieldName T 4", "setLogical T 'ACTIVO' F"}},
        {"write memo (whole)",
         shared,
         [] { FIELDPUT(5, std::string(30, 'x')); },
         {"getFieldName T 5", "setString T 'NOTA' '" + std::string(30, 'x') + "'"}},
        {"append", shared, [] { DBAPPEND(); }, {"appendRecord T"}},
        {"commit", shared, [] { DBCOMMIT(); }, {"writeRecord T"}},
        {"delete, recall, deleted",
         shared,
         [] { DBDELETE(), DBRECALL(), DELETED(); },
         {"deleteRecord T", "recallRecord T", "isDeleted T"}},
        {"RLOCK on a shared table",
         shared,
         [] { RLOCK(); },
         {"getAllLocks T 5", "getRecordNum T", "lockRecord T 1"}},
        {"RLOCK with seven locks held",
         [](DriverCalls& t) {
             t.open(true);
             t.port.locks = {1, 2, 3, 4, 5, 6, 7};
         },
         [] { RLOCK(); },
         {"getAllLocks T 5", "unlockRecord T 1", "unlockRecord T 2", "unlockRecord T 3", "unlockRecord T 4",
          "unlockRecord T 5", "getAllLocks T 5", "unlockRecord T 6", "unlockRecord T 7", "getRecordNum T",
          "lockRecord T 1"}},
        {"RLOCK on an exclusive table", exclusive, [] { RLOCK(); }, {}},
        {"DBRLOCK adds a record lock", shared, [] { DBRLOCK(3); }, {"lockRecord T 3"}},
        {"FLOCK", shared, [] { FLOCK(); }, {"getAllLocks T 5", "getRecordNum T", "lockTable T"}},
        {"FLOCK again, then RLOCK: nothing asked",
         shared,
         [] { FLOCK(), FLOCK(), RLOCK(); },
         {"getAllLocks T 5", "getRecordNum T", "lockTable T"}},
        {"unlock a shared table", shared, [] { DBUNLOCK(); }, {"unlockTable T"}},
        {"unlock an exclusive table", exclusive, [] { DBUNLOCK(); }, {}},
        {"create a tag, no condition",
         shared,
         [] { ORDCREATE({}, "NOMBRE", "UPPER(NOMBRE)"); },
         {"closeAllIndexes T", "createIndex T '' 'NOMBRE' 'UPPER(NOMBRE)' '' '' 2", "gotoTop I5", "atBOF I5",
          "atEOF I5"}},
        {"create an index file, unique",
         shared,
         [] { DBCREATEINDEX("porsaldo", "SALDO", {}, true); },
         {"closeAllIndexes T", "createIndex T 'porsaldo' '' 'SALDO' '' '' 1", "gotoTop I5", "atBOF I5",
          "atEOF I5"}},
        {"create with a condition for all records",
         shared,
         [] {
             ORDCONDSET("SALDO>0", {}, {}, {}, {}, {}, 1, {}, {}, {}, true, {}, {}, true);
             ORDCREATE("b", "T", "NOMBRE");
         },
         {"closeAllIndexes T", "createIndex T 'b' 'T' 'NOMBRE' 'SALDO>0' '' 14", "gotoTop I5", "atBOF I5",
          "atEOF I5"}},
        {"create with a pending scope: the bag reopened",
         shared,
         [] {
             ORDCONDSET({}, {}, {}, {}, {}, {}, {}, {}, {}, true);
             ORDCREATE("b", {}, "NOMBRE");
         },
         {"createIndex T 'b' '' 'NOMBRE' '' '' 0", "closeAllIndexes T", "openIndex T 'b' 50", "gotoTop I3",
          "atBOF I3", "atEOF I3"}},
        {"create additive in the current order",
         ordered,
         [] {
             ORDCONDSET("ACTIVO", {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, true, true);
             ORDCREATE({}, "SUB", "NOMBRE");
         },
         {"getIndexExpr I1", "extractKey I1",
          "createIndex I1 '' 'SUB' 'NOMBRE' 'ACTIVO' 'UPPER(NOMBRE)<=\"ANA       \".AND.(ACTIVO)' 2",
          "gotoTop I5", "atBOF I5", "atEOF I5"}},
        {"open an index bag", shared, [] { ORDLISTADD("otro"); }, {"openIndex T 'otro' 50"}},
        {"clear indexes", ordered, [] { DBCLEARINDEX(); }, {"closeAllIndexes T"}},
        {"set order by number",
         ordered,
         [] { DBSETORDER(2); },
         {"getIndexName I1", "getIndexHandleByOrder T 2"}},
        {"set order by name", shared, [] { DBSETORDER("NOMBRE   "); }, {"getIndexHandle T 'NOMBRE'"}},
        {"natural order", ordered, [] { DBSETORDER(0); }, {"getIndexName I1"}},
        {"order number", ordered, [] { INDEXORD(); }, {"getIndexOrder I1"}},
        {"order number, natural", shared, [] { INDEXORD(); }, {}},
        {"seek", ordered, [] { DBSEEK("ANA"); }, {"seek I1 'ANA' F", "atBOF I1", "atEOF I1"}},
        {"driver name", shared, [] { RDDNAME(); }, {"getTableType T"}},
        {"program end", shared, [] { closeAllAreasAndExitDrivers(); }, {"closeTable T", "applicationExit"}},
        {"create a table",
         none,
         [] {
             DBCREATE("nueva",
                      rt::makeArray({rt::makeArray({"A", "C", 5, 0}), rt::makeArray({"M", "M", 10, 0})}));
         },
         {"createTable 'nueva.dbf' '' 2 1 'A:C5.0,M:M0.0,'", "closeTable T"}},
    };
    for (const Row& row : rows) {
        TearDown();
        port = RecordingPort{};
        trace.clear();
        errors.clear();
        SetUp();
        row.setup(*this);
        port.calls.clear();
        row.action();
        EXPECT_EQ(port.calls, row.expected) << row.what;
        EXPECT_TRUE(errors.empty()) << row.what;
    }
}

TEST_F(DriverCalls, EngineResultsTheDriverLooksAt) {
    // A close the engine refuses: a trace line, and the work area is closed all the same.
    open();
    port.script["closeTable"] = {7};
    DBCLOSEAREA();
    EXPECT_FALSE(USED());
    EXPECT_EQ(trace, (std::vector<std::string>{"adsCloseTable failed (7, clientes.dbf)"}));

    // An open refused with 1001: quiet, network-error flag set; another result: "Open error".
    port.script["openTable"] = {1001, 7001};
    EXPECT_FALSE(DBUSEAREA(true, {}, "clientes", {}, true));
    EXPECT_TRUE(NETERR());
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(broke([] { DBUSEAREA(true, {}, "clientes", {}, true); }));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->GenCode, rt::Value(21));
    EXPECT_EQ(errors[0]->Description, rt::Value("Open error"));
    EXPECT_EQ(errors[0]->SubCode, rt::Value(7001));
    EXPECT_EQ(errors[0]->SubSystem, rt::Value("ADSCDX"));
    EXPECT_EQ(errors[0]->FileName, rt::Value("clientes.dbf"));
    EXPECT_EQ(errors[0]->OsCode, rt::Value(0));
    EXPECT_FALSE(errors[0]->CanRetry || errors[0]->CanDefault || errors[0]->CanSubstitute);
    EXPECT_TRUE(NETERR());

    // A refused append sets the flag and raises nothing; a refused lock leaves it alone.
    errors.clear();
    open();
    port.script["appendRecord"] = {5};
    EXPECT_FALSE(DBAPPEND());
    EXPECT_TRUE(NETERR());
    NETERR(false);
    port.script["lockRecord"] = {7018};
    EXPECT_FALSE(RLOCK());
    EXPECT_FALSE(NETERR());
    port.script["lockTable"] = {7018};
    EXPECT_FALSE(FLOCK());
    EXPECT_TRUE(RLOCK()); // not file-locked: the record lock is asked for again
    EXPECT_TRUE(errors.empty());

    // A number the field refuses: "Data type error" 33 / 1020.
    port.script["setDouble"] = {5003};
    EXPECT_TRUE(broke([] { FIELDPUT(2, 1e20); }));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->GenCode, rt::Value(33));
    EXPECT_EQ(errors[0]->SubCode, rt::Value(1020));
    EXPECT_EQ(errors[0]->FileName, rt::Value(""));

    // An index the engine cannot create: "Create error" with the bag name.
    errors.clear();
    port.script["createIndex"] = {7012};
    EXPECT_TRUE(broke([] { ORDCREATE("bolsa", "T", "NOMBRE +"); }));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->GenCode, rt::Value(20));
    EXPECT_EQ(errors[0]->Description, rt::Value("Create error"));
    EXPECT_EQ(errors[0]->SubCode, rt::Value(7012));
    EXPECT_EQ(errors[0]->FileName, rt::Value("bolsa"));

    // An index bag that is open already is accepted; its first tag becomes the order.
    port.script["openIndex"] = {5065};
    EXPECT_TRUE(ORDLISTADD("otro"));
    EXPECT_EQ(INDEXORD(), 3);

    // A skip forward from the beginning that finds no record marks the end.
    port.script["skip"] = {5068};
    EXPECT_TRUE(DBSKIP());
    EXPECT_TRUE(EOF_());
    // A step back from the end that lands on the beginning goes to the bottom.
    port.bof = true;
    port.calls.clear();
    DBSETORDER(0);
    DBSKIP(-1);
    EXPECT_EQ(port.calls, (Calls{"getIndexName I3", "skip T -1", "atBOF T", "atEOF T", "gotoBottom T"}));
    EXPECT_FALSE(BOF() || EOF_()); // on the last record

    // Reads without a current record: blanks and the end flag.
    port.script["getField"] = {5068};
    port.script["getLogical"] = {5068};
    port.script["getMemoLength"] = {5068};
    EXPECT_EQ(FIELDGET(1), rt::Value(std::string(10, ' ')));
    EXPECT_EQ(FIELDGET(4), rt::Value(false));
    EXPECT_EQ(FIELDGET(5), rt::Value(""));
    EXPECT_TRUE(EOF_());
}

TEST_F(DriverCalls, LockMethodsAndUnlockResults) {
    AdsDriver driver;
    AdsArea area;
    area.table = T;
    area.shared = true;
    LockInfo lock;
    lock.method = 4;
    EXPECT_FALSE(driver.lock(area, lock));
    EXPECT_FALSE(lock.result);
    ASSERT_FALSE(port.calls.empty());
    EXPECT_EQ(port.calls.back(), "showError 'Error in pLockInfo->uiMethod'");

    // Method 1 with a record number releases the others first; method 2 does not.
    port.calls.clear();
    port.locks = {9};
    lock = LockInfo{};
    lock.record = 4;
    lock.method = LockInfo::kRecord;
    driver.lock(area, lock);
    EXPECT_EQ(port.calls, (Calls{"getAllLocks T 5", "unlockRecord T 9", "lockRecord T 4"}));
    EXPECT_TRUE(lock.result);

    // Unlock: a record; the table with 5064 or 5087 counts as done.
    port.calls.clear();
    driver.unlock(area, 4u);
    area.fileLocked = true;
    port.script["unlockTable"] = {5064};
    EXPECT_TRUE(driver.unlock(area, std::nullopt));
    EXPECT_FALSE(area.fileLocked);
    area.fileLocked = true;
    port.script["unlockTable"] = {5087};
    EXPECT_TRUE(driver.unlock(area, std::nullopt));
    EXPECT_FALSE(area.fileLocked);
    area.fileLocked = true;
    port.script["unlockTable"] = {7010};
    EXPECT_TRUE(driver.unlock(area, std::nullopt)); // always reported as done
    EXPECT_TRUE(area.fileLocked);
    EXPECT_EQ(port.calls, (Calls{"unlockRecord T 4", "unlockTable T", "unlockTable T", "unlockTable T"}));
}

TEST_F(DriverCalls, IdentityAndWhileTexts) {
    AdsDriver driver;
    EXPECT_EQ(driver.info(DriverInfo::kVersion, nullptr), "ADS RDD 1.12");
    EXPECT_EQ(driver.info(DriverInfo::kEngineVersion, nullptr), "Motor local, v6.2b");
    EXPECT_EQ(driver.info(DriverInfo::kTableExt, nullptr), ".dbf");
    EXPECT_EQ(driver.info(DriverInfo::kMemoExt, nullptr), ".fpt");
    EXPECT_EQ(driver.info(DriverInfo::kIndexExt, nullptr), ".cdx");
    EXPECT_EQ(driver.name(nullptr), "ADSCDX");
    ADSSETFILETYPE(1);
    EXPECT_EQ(driver.info(DriverInfo::kMemoExt, nullptr), ".dbt");
    EXPECT_EQ(driver.info(DriverInfo::kIndexExt, nullptr), ".ntx");
    EXPECT_EQ(driver.name(nullptr), "ADSNTX");
    ADSSETFILETYPE(3);
    EXPECT_EQ(driver.info(DriverInfo::kTableExt, nullptr), ".adt");
    EXPECT_EQ(driver.info(DriverInfo::kMemoExt, nullptr), ".adm");
    EXPECT_EQ(driver.info(DriverInfo::kIndexExt, nullptr), ".adi");
    EXPECT_EQ(driver.name(nullptr), "ADSADT");

    using engine::ExprValue;
    EXPECT_EQ(whileText("K", ExprValue::character("Ana")), "K<=\"Ana\"");
    EXPECT_EQ(whileText("K", ExprValue::character("5\" pulg")), "K<='5\" pulg'");
    EXPECT_EQ(whileText("K", ExprValue::character("O'Neil \"x\"")), "K<=[O'Neil \"x\"]");
    EXPECT_EQ(whileText("ALTA", ExprValue::dateValue(rt::makeDate(2009, 3, 1).julian)),
              "ALTA<=STOD(\"20090301\")");
    EXPECT_EQ(whileText("N", ExprValue::numeric(12.5)), "N<=12.5");
    EXPECT_EQ(whileText("N", ExprValue::numeric(-3)), "N<=-3");
}

// Whatever a character key holds, its WHILE text compiles and its literal reads back as
// exactly that key: the data never ends its literal and becomes part of the condition.
TEST_F(DriverCalls, WhileTextLiteralsReadBackAsTheKey) {
    std::vector<std::string> values = {"\"'] .OR. .T. .OR. [x]==[x",
                                       "\"'] .OR. .T. .OR. [x]==[x          ",
                                       "\"'[]",
                                       "]'\"",
                                       "a\"\"b''c]]d",
                                       "\"\"\"",
                                       "x\") .OR. (\"",
                                       "'\" + [",
                                       "]",
                                       "",
                                       std::string("\"'\0]", 4),
                                       "\r\n\"'] \t"};
    std::string alternating; // the deepest case: a double quote every other byte
    for (int i = 0; i < 120; ++i) alternating += i % 2 ? "']" : "\"";
    values.push_back(alternating);
    values.push_back(std::string(240, '"') + "']");
    const std::vector<engine::FieldDesc> fields = {{"K", 'C', 250, 0}};
    for (const std::string& v : values) {
        const std::string text = whileText("K", engine::ExprValue::character(v));
        ASSERT_EQ(text.substr(0, 3), "K<=") << v;
        engine::Expression condition, literal;
        std::size_t pos = 0;
        ASSERT_EQ(engine::Expression::compile(text, fields, "", condition, pos), engine::kOk)
            << text << " @" << pos;
        EXPECT_EQ(condition.resultKind(), engine::ExprValue::Kind::Logical) << text;
        ASSERT_EQ(engine::Expression::compile(text.substr(3), fields, "", literal, pos), engine::kOk) << text;
        const engine::ExprValue read = literal.eval(engine::BlankRecord(fields), engine::ExprSettings{});
        EXPECT_EQ(read.kind, engine::ExprValue::Kind::Character) << text;
        EXPECT_EQ(read.str, v) << text;
    }
}

// Field names are read with a limit of 10 characters (128 for the engine's own table type).
TEST_F(DriverCalls, FieldNamesAreCutToTheTableTypesLimit) {
    port.fields[0].name = "NOMBRECOMPLETO";
    port.fields[1].name = std::string(130, 'S');
    open();
    EXPECT_EQ(FIELDNAME(1), "NOMBRECOMP");
    EXPECT_EQ(FIELDNAME(2), std::string(10, 'S'));
    EXPECT_EQ(FIELDPOS("NOMBRECOMP"), 1);
    DBCLOSEAREA();
    ADSSETFILETYPE(3);
    open();
    EXPECT_EQ(FIELDNAME(1), "NOMBRECOMPLETO");
    EXPECT_EQ(FIELDNAME(2), std::string(128, 'S'));
    ADSSETFILETYPE(2);
}
