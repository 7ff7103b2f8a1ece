// The shared-table routines on real tables through the "ADS" driver. Contention comes from a
// second work area on the same table (each open is its own lock owner, as another process's
// would be); the waits go to a counting sleeper, so nothing here sleeps.
#include "app/table_facts.h"
#include "app/tablas.h"
#include "tables/ads.h"
#include "tables/registry.h"
#include "tables/shared_routines.h"
#include "tables/workarea.h"

#include "runtime/error.h"
#include "runtime/dates.h"
#include "runtime/settings.h"
#include "runtime/strings.h"
#include "runtime/ui.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using rt::Value;
using namespace tables;

struct Box {
    std::string text, title;
};

class SharedRoutines : public ::testing::Test {
  protected:
    void SetUp() override {
        home_ = fs::current_path();
        dir_ = fs::temp_directory_path() /
               ("shared_routines_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::current_path(dir_);

        resetWorkAreas();
        resetRegistry();
        resetAds();
        registerStartupDrivers();
        RDDREGISTER("ADS", 1);
        RDDSETDEFAULT("ADS");
        rt::SET(rt::_SET_DELETED, "ON");

        setSleepFunction([this](double s) {
            waits_.push_back(s);
            if (onWait_) onWait_();
        });
        setRefreshFunction([this] {
            ++refreshes_;
            return true;
        });
        rt::setMessageBoxHook([this](rt::MessageKind, rt::Args a) {
            boxes_.push_back({a.size() > 0 ? a[0].asString() : "", a.size() > 1 ? a[1].asString() : ""});
            return false;
        });
        rt::ERRORBLOCK(rt::Value(rt::makeBlock("TEST", [this](rt::Args a) {
            const auto e = a[0].objectAs<rt::ErrorObject>();
            errors_.push_back(e);
            return onError_ ? onError_(*e) : Value(false);
        })));
        rt::NETERR(false);

        ASSERT_TRUE(DBCREATE(
            "clientes",
            rt::makeArray({rt::makeArray({"NOMBRE", "C", 20, 0}), rt::makeArray({"SALDO", "N", 10, 2}),
                           rt::makeArray({"ALTA", "D", 8, 0}), rt::makeArray({"NOTA", "M", 10, 0})})));
    }
    void TearDown() override {
        resetWorkAreas();
        setSleepFunction({});
        setRefreshFunction({});
        rt::setMessageBoxHook({});
        fs::current_path(home_);
        fs::remove_all(dir_);
    }

    // Opens clientes shared under an alias in a new work area and adds n records A1.., A2...
    void openWith(const char* alias, int records = 0) {
        ASSERT_TRUE(DBUSEAREA(true, Value(), "clientes", alias, true));
        for (int i = 1; i <= records; ++i) {
            ASSERT_TRUE(DBAPPEND());
            FIELDPUT(1, "A" + std::to_string(i));
        }
        DBCOMMIT();
    }

    fs::path home_, dir_;
    std::vector<double> waits_;
    int refreshes_ = 0;
    std::vector<Box> boxes_;
    std::vector<rt::ErrorPtr> errors_;
    std::function<void()> onWait_;
    std::function<Value(const rt::ErrorObject&)> onError_;
};

// Attempts and waits of LNETUSE against a table held exclusive in another work area.
TEST_F(SharedRoutines, LnetuseBudgets) {
    ASSERT_TRUE(LNETUSE("clientes", true));
    const int holder = currentArea();
    struct Case {
        Value budget;
        std::size_t waits;
    };
    // 1 (default): one attempt; 2: two; 1.5: two (1.5, 0.5); 0.5: one; negative: none.
    for (const Case& c : {Case{Value(), 1}, Case{2, 2}, Case{1.5, 2}, Case{0.5, 1}, Case{-1, 0}}) {
        waits_.clear();
        boxes_.clear();
        DBSELECTAREA(holder);
        EXPECT_FALSE(LNETUSE("clientes", false, c.budget, "OTRO")) << rt::CVALTOCHAR(c.budget);
        EXPECT_EQ(waits_, std::vector<double>(c.waits, 1.0)) << rt::CVALTOCHAR(c.budget);
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].text, "Fichero(s) bloqueado(s). Acceso Denegado");
        EXPECT_EQ(boxes_[0].title, "Atenci\xF3n");
        EXPECT_TRUE(NETERR());
    }
    EXPECT_TRUE(errors_.empty()); // a table held elsewhere is no error, only a refusal

    // The message can be suppressed.
    boxes_.clear();
    EXPECT_FALSE(LNETUSE("clientes", false, 1, "OTRO", false));
    EXPECT_TRUE(boxes_.empty());

    // Budget 0 tries until the holder lets go, and shows nothing.
    waits_.clear();
    boxes_.clear();
    onWait_ = [&] {
        if (waits_.size() == 3) {
            const int here = currentArea();
            DBSELECTAREA(holder);
            DBCLOSEAREA();
            DBSELECTAREA(here);
        }
    };
    EXPECT_TRUE(LNETUSE("clientes", false, 0, "OTRO"));
    EXPECT_EQ(waits_.size(), 3u);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(ALIAS(), "OTRO");
}

// LNETUSE with the new-area flag false replaces the current area's table.
TEST_F(SharedRoutines, LnetuseReusesTheCurrentArea) {
    ASSERT_TRUE(LNETUSE("clientes"));
    const int area = currentArea();
    ASSERT_TRUE(LNETUSE("clientes", false, 1, "OTRO", true, Value(), false));
    EXPECT_EQ(currentArea(), area);
    EXPECT_EQ(ALIAS(), "OTRO");
    EXPECT_EQ(SELECT("CLIENTES"), 0);
    EXPECT_TRUE(waits_.empty());
}

// LNETRECLOCK and LNETRECADD against a record lock and a table lock of another work area.
TEST_F(SharedRoutines, LockAndAppendRetries) {
    openWith("HOLDER", 2);
    const int holder = currentArea();
    ASSERT_TRUE(DBGOTO(1));
    ASSERT_TRUE(RLOCK());
    openWith("OTRO");
    ASSERT_TRUE(DBGOTO(1));

    // Default budget: three tries (two at once, one after half a second), then a last wait,
    // each wait preceded by message processing, then the warning.
    EXPECT_FALSE(LNETRECLOCK());
    EXPECT_EQ(waits_, (std::vector<double>{0.5, 0.5}));
    EXPECT_EQ(refreshes_, 2);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "El registro que se intenta procesar est\xE1 bloqueado");
    EXPECT_EQ(boxes_[0].title, "Acceso denegado");

    // Budget 0: until the holder unlocks, and no warning.
    waits_.clear();
    boxes_.clear();
    onWait_ = [&] {
        if (waits_.size() == 5) {
            const int here = currentArea();
            DBSELECTAREA(holder);
            DBUNLOCK();
            DBSELECTAREA(here);
        }
    };
    EXPECT_TRUE(LNETRECLOCK(0));
    EXPECT_EQ(waits_.size(), 5u);
    EXPECT_TRUE(boxes_.empty());
    onWait_ = {};

    // Appends while the holder locks the whole table: refused, no message.
    DBUNLOCK();
    DBSELECTAREA(holder);
    ASSERT_TRUE(FLOCK());
    DBSELECTAREA(SELECT("OTRO"));
    waits_.clear();
    EXPECT_FALSE(LNETRECADD());
    EXPECT_EQ(waits_, (std::vector<double>{0.5, 0.5}));
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(NETERR());
    EXPECT_EQ(RECCOUNT(), 2);

    // Once the table lock goes, the append succeeds and its record is locked by us.
    onWait_ = [&] {
        const int here = currentArea();
        DBSELECTAREA(holder);
        DBUNLOCK();
        DBSELECTAREA(here);
    };
    waits_.clear();
    EXPECT_TRUE(LNETRECADD(3));
    EXPECT_EQ(waits_.size(), 1u);
    EXPECT_FALSE(NETERR());
    EXPECT_EQ(RECNO(), 3);
    DBSELECTAREA(holder);
    DBGOTO(3);
    EXPECT_FALSE(RLOCK());
}

// The lock that follows a successful append is RLOCK's: it releases the other record locks
// this process holds on the table, so another process can lock them, and holds the new record.
TEST_F(SharedRoutines, AppendLockReleasesTheOtherRecordLocks) {
    openWith("HOLDER", 2);
    const int holder = currentArea();
    DBUNLOCK(); // the appended records stay locked until then
    openWith("OTRO");
    ASSERT_TRUE(DBGOTO(1));
    ASSERT_TRUE(RLOCK());
    DBSELECTAREA(holder);
    ASSERT_TRUE(DBGOTO(1));
    ASSERT_FALSE(RLOCK()); // held by OTRO

    DBSELECTAREA(SELECT("OTRO"));
    EXPECT_TRUE(LNETRECADD());
    EXPECT_EQ(RECNO(), 3);
    DBSELECTAREA(holder);
    ASSERT_TRUE(DBGOTO(1));
    EXPECT_TRUE(RLOCK()); // released by the append's lock
    ASSERT_TRUE(DBGOTO(3));
    EXPECT_FALSE(RLOCK()); // the new record is OTRO's
    EXPECT_TRUE(waits_.empty());
}

// On a table opened exclusive the lock is there at once.
TEST_F(SharedRoutines, ExclusiveTableLocksAtOnce) {
    ASSERT_TRUE(LNETUSE("clientes", true));
    EXPECT_TRUE(LNETRECADD());
    EXPECT_TRUE(LNETRECLOCK());
    EXPECT_TRUE(waits_.empty());
    EXPECT_TRUE(boxes_.empty());
}

// ASETSTATUS / GETSTATUS evaluate in the alias's area, restore the selection, and an alias
// that is not open is the retryable "Alias does not exist".
TEST_F(SharedRoutines, StatusByAlias) {
    openWith("CLI", 3);
    CREATECDX("CLI", "NOMBRE", "NOMBRE");
    ASSERT_EQ(INDEXORD(), 1);
    DBGOTO(2);
    openWith("OTRO");
    const int other = currentArea();

    const rt::ArrayPtr saved = ASETSTATUS("CLI");
    EXPECT_EQ(saved->at(1), Value(2));
    EXPECT_EQ(saved->at(2), Value(1));
    EXPECT_EQ(currentArea(), other);

    DBSELECTAREA("CLI");
    DBSETORDER(0);
    DBGOTO(3);
    DBSELECTAREA(other);
    GETSTATUS("cli", Value(saved));
    EXPECT_EQ(currentArea(), other);
    DBSELECTAREA("CLI");
    EXPECT_EQ(RECNO(), 2);
    EXPECT_EQ(INDEXORD(), 1);
    DBSELECTAREA(other);

    // Not open: the error, and a retry after the handler opened it goes ahead.
    onError_ = [&](const rt::ErrorObject&) {
        const int here = currentArea();
        DBUSEAREA(true, Value(), "clientes", "NUEVO", true);
        DBGOTO(3);
        DBSELECTAREA(here);
        return Value(true);
    };
    const rt::ArrayPtr late = ASETSTATUS("NUEVO");
    ASSERT_EQ(errors_.size(), 1u);
    const rt::ErrorObject& e = *errors_[0];
    EXPECT_EQ(e.GenCode, Value(15));
    EXPECT_EQ(e.SubCode, Value(1002));
    EXPECT_EQ(e.SubSystem, Value("BASE"));
    EXPECT_EQ(e.Description, Value("Alias does not exist"));
    EXPECT_TRUE(e.CanRetry);
    EXPECT_EQ(late->at(1), Value(3));
    EXPECT_EQ(currentArea(), other);
}

// CREATECDX and CREAINDICE name their tags by the base name alone; the named bag is used as
// passed; a key that is not text is an argument error before anything is created.
TEST_F(SharedRoutines, IndexBuilding) {
    openWith("CLI", 3);
    DBSELECTAREA(0);
    const int free = currentArea();
    CREATECDX("CLI", "UPPER(NOMBRE)", "datos\\porNombre.idx");
    EXPECT_EQ(currentArea(), free);
    DBSELECTAREA("CLI");
    EXPECT_EQ(ORDNAME(1), "PORNOMBRE");
    EXPECT_EQ(INDEXKEY(1), "UPPER(NOMBRE)");
    EXPECT_EQ(RECNO(), 1);
    EXPECT_TRUE(DBSEEK("A2"));

    CREAINDICE(Value(), "SALDO", "saldos.cdx", Value(), Value(), true);
    EXPECT_TRUE(fs::exists("saldos.cdx"));
    EXPECT_EQ(ORDNAME(INDEXORD()), "SALDOS");

    errors_.clear();
    onError_ = [](const rt::ErrorObject&) { return Value(); };
    CREATECDX("CLI", 5, "OTRA");
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0]->GenCode, Value(1));
    EXPECT_EQ(errors_[0]->Operation, Value("+"));
    for (int i = 1; i <= 15; ++i) EXPECT_NE(ORDNAME(i), "OTRA");
}

// Without the named-bag flag CREAINDICE puts its tag into the table's own compound index (no
// file of the given name), which opens with the table from then on.
TEST_F(SharedRoutines, CreaindiceWithoutANamedBagUsesTheTablesOwnIndex) {
    openWith("CLI", 3);
    CREAINDICE(Value(), "SALDO", "saldos.cdx");
    CREAINDICE("CLI", "NOMBRE", "datos\\nombres.idx", Value(), Value(), false);
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(ORDNAME(INDEXORD()), "NOMBRES");
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir_)) files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"clientes.cdx", "clientes.dbf", "clientes.fpt"}));

    DBCLOSEAREA();
    openWith("CLI");
    std::vector<std::string> tags;
    for (int i = 1; !ORDNAME(i).empty(); ++i) tags.push_back(ORDNAME(i));
    std::sort(tags.begin(), tags.end());
    EXPECT_EQ(tags, (std::vector<std::string>{"NOMBRES", "SALDOS"}));
}

// CREATECDX's unique flag (and CREAINDICE's): a unique tag holds each key once; without the
// flag, or with it false, every record.
TEST_F(SharedRoutines, UniqueTags) {
    openWith("CLI");
    for (const char* name : {"B", "A", "B", "C", "A"}) {
        ASSERT_TRUE(DBAPPEND());
        FIELDPUT(1, name);
    }
    DBCOMMIT();
    const auto walk = [] {
        std::string names;
        for (DBGOTOP(); !EOF_(); DBSKIP()) names += FIELDGET(1).asString().substr(0, 1);
        return names;
    };
    CREATECDX("CLI", "NOMBRE", "UNICO", true);
    EXPECT_EQ(walk(), "ABC");
    CREATECDX("CLI", "NOMBRE", "TODOS");
    EXPECT_EQ(walk(), "AABBC");
    CREATECDX("CLI", "NOMBRE", "TODOS2", false);
    EXPECT_EQ(walk(), "AABBC");
    CREAINDICE("CLI", "NOMBRE", "unico2", true);
    EXPECT_EQ(walk(), "ABC");
    EXPECT_TRUE(errors_.empty());
}

// The field list: texts through the code pages, the rest unchanged; a failed write still
// lets the others through and makes the answer false.
TEST_F(SharedRoutines, FieldLists) {
    ASSERT_TRUE(ACAMPOSLEE()->items.empty()); // no table
    EXPECT_TRUE(ACAMPOSGRABA(Value(rt::makeArray())));

    openWith("CLI");
    ASSERT_TRUE(LNETRECADD());
    const Value alta(rt::CTOD("24-12-09"));
    EXPECT_TRUE(ACAMPOSGRABA(Value(rt::makeArray({"Mu\xF1oz", 12.5, alta, "a\xF1o"}))));
    EXPECT_EQ(FIELDGET(1).asString().substr(0, 5), "Mu\xA4oz"); // stored in the OEM code page
    EXPECT_EQ(FIELDGET(4), Value("a\xA4o"));

    const rt::ArrayPtr read = ACAMPOSLEE();
    ASSERT_EQ(read->size(), 4u);
    EXPECT_EQ(read->at(1).asString().substr(0, 6), "Mu\xF1oz ");
    EXPECT_EQ(read->at(2).asNumber(), 12.5);
    EXPECT_EQ(read->at(3), alta);
    EXPECT_EQ(read->at(4), Value("a\xF1o"));

    // One element more than the table has fields: that write fails (quietly), the others
    // are made, and the answer says so.
    EXPECT_FALSE(ACAMPOSGRABA(Value(rt::makeArray({"Otro", 3, alta, "nota", "de m\xE1s"}))));
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(FIELDGET(1).asString().substr(0, 4), "Otro");
    EXPECT_EQ(FIELDGET(2), Value(3));
    EXPECT_EQ(FIELDGET(4), Value("nota"));
}

TEST(CodePages, OemAndAnsiRoundTrip) {
    // The letters of Spanish texts sit at the same places in the OEM pages in use.
    const std::string ansi = "\xC9\xD1\xE1\xE9\xED\xF3\xFA\xF1\xFC\xBF\xA1";
    const std::string oem = ANSITOOEM(ansi);
    EXPECT_EQ(oem, "\x90\xA5\xA0\x82\xA1\xA2\xA3\xA4\x81\xA8\xAD");
    EXPECT_EQ(OEMTOANSI(oem), ansi);
    EXPECT_EQ(OEMTOANSI(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(OEMTOANSI(5), "");
}

} // namespace

namespace {

// What the error report reads of the work areas: every used area in order, each read with it
// selected, the selection restored; tablas's value lines.
TEST_F(SharedRoutines, ReportFactsAndValueLines) {
    openWith("CLI", 2);
    CREATECDX("CLI", "UPPER(NOMBRE)", "NOMBRE");
    CREATECDX("CLI", "SALDO", "SALDO");
    DBSETORDER(1);
    DBGOTO(2);
    openWith("OTRO");
    DBSELECTAREA(7); // an empty area is selected while the report reads

    app::WorkAreaFacts facts;
    EXPECT_EQ(facts.driverNames(), (std::vector<std::string>{"DBF", "ADS"}));
    EXPECT_EQ(facts.selectedArea(), 7);
    const std::vector<errors::AreaFacts> areas = facts.usedAreas();
    EXPECT_EQ(currentArea(), 7);
    ASSERT_EQ(areas.size(), 2u);
    const errors::AreaFacts& a = areas[0];
    EXPECT_EQ(a.area, 1);
    EXPECT_EQ(a.alias, "CLI");
    EXPECT_EQ(a.driver, "ADSCDX");
    EXPECT_EQ(a.recNo, Value(2));
    EXPECT_EQ(a.recCount, Value(2));
    EXPECT_EQ(a.controllingOrder, 1);
    ASSERT_GE(a.orders.size(), 2u);
    EXPECT_EQ(a.orders[0].key, "UPPER(NOMBRE)");
    EXPECT_EQ(a.orders[0].name, "NOMBRE");
    EXPECT_EQ(a.orders[1].key, "SALDO");
    EXPECT_TRUE(a.orders[2].key.empty());
    EXPECT_EQ(areas[1].alias, "OTRO");

    rt::SET(rt::_SET_DATEFORMAT, "dd-mm-yy");
    EXPECT_EQ(app::tablasText(Value()), "NIL");
    EXPECT_EQ(app::tablasText(Value(rt::makeArray({2, 1}))), "{2, 1}");
    EXPECT_EQ(
        app::tablasText(Value(rt::makeArray({"a ", Value(), rt::makeArray({true}), rt::CTOD("01-02-03")}))),
        "{a , NIL, {.t.}, 01-02-03}");
    EXPECT_EQ(app::tablasText(12.5), "12.5");
}

} // namespace
