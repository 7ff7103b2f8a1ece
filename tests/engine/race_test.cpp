// Races between two handles on one shared table, forced with the interleaving back end: one
// handle is stopped at a chosen lock or write while the other makes its change, then goes on.
// Each test fails when the lock that keeps the two apart is taken out of the engine.
#include "interleave_os.h"
#include "table_support.h"

#include "engine/lockmap.h"

#include <algorithm>
#include <set>

using namespace engine;
using namespace enginetest;

namespace {

class Races : public EngineTest {
  protected:
    std::string table() const { return tmp.path("race.dbf"); }

    void makeTable(bool indexed) {
        const std::vector<FieldDef> fields = {{"NAME", 'C', 8, 0}, {"N", 'N', 4, 0}};
        Handle t = 0;
        ASSERT_EQ(createTable(table(), "", kTypeCdx, kAnsi, fields, t), kOk);
        for (const char* name : {"ann", "bob", "cy", "dee"}) {
            ASSERT_EQ(appendRecord(t), kOk);
            ASSERT_EQ(setString(t, "NAME", name), kOk);
        }
        if (indexed) {
            Handle idx = 0;
            ASSERT_EQ(createIndex(t, "", "NAME", "NAME", "", "", kIndexCompound, idx), kOk);
        }
        ASSERT_EQ(closeTable(t), kOk);
    }

    Handle openShared() {
        Handle t = 0;
        EXPECT_EQ(openTable(0, table(), "", kTypeCdx, kAnsi, 1, 1, kOpenShared, t), kOk);
        return t;
    }

    // The names of the records, and the table in agreement with its index.
    std::multiset<std::string> names() {
        Handle t = 0;
        EXPECT_EQ(openTable(0, table(), "", kTypeCdx, kAnsi, 1, 1, kOpenExclusive, t), kOk);
        std::vector<std::string> problems;
        EXPECT_EQ(verifyTable(t, problems), kOk);
        for (const std::string& p : problems) ADD_FAILURE() << p;
        std::multiset<std::string> out;
        std::uint32_t count = 0;
        EXPECT_EQ(getRecordCount(t, count), kOk);
        for (std::uint32_t n = 1; n <= count; ++n) {
            std::string name;
            EXPECT_EQ(gotoRecord(t, n), kOk);
            EXPECT_EQ(getString(t, "NAME", name), kOk);
            out.insert(name.substr(0, name.find_last_not_of(' ') + 1));
        }
        closeTable(t);
        return out;
    }

    static Interleave::Stop firstWriteTo(std::string suffix) {
        return [suffix](const Interleave::Point& p) {
            return p.kind == Interleave::Point::Kind::write && p.path.size() >= suffix.size() &&
                   p.path.compare(p.path.size() - suffix.size(), suffix.size(), suffix) == 0;
        };
    }
};

} // namespace

// Two shared appends at once: the first is stopped as it takes the lock of its new record,
// having read the record count; the second appends, fills and releases its record meanwhile.
// The header lock, held by the first from reading the count to writing it, makes the second
// wait and take the next number; without it both would write record 5.
TEST_F(Races, SharedAppendsTakeTurnsAtTheRecordCount) {
    for (bool indexed : {false, true}) {
        SCOPED_TRACE(indexed ? "with an index" : "without an index");
        makeTable(indexed);
        {
            Interleave il;
            il.start(
                [&] {
                    Handle a = openShared();
                    EXPECT_EQ(appendRecord(a), kOk);
                    EXPECT_EQ(setString(a, "NAME", "first"), kOk);
                    std::uint32_t n = 0;
                    getRecordNum(a, n);
                    EXPECT_EQ(unlockRecord(a, n), kOk);
                    EXPECT_EQ(closeTable(a), kOk);
                },
                Interleave::atLock("race.dbf", lockmap::records + 5));
            ASSERT_TRUE(il.sideStopped()) << "the first append never locked record 5";
            Handle b = openShared();
            EXPECT_EQ(appendRecord(b), kOk);
            EXPECT_EQ(setString(b, "NAME", "second"), kOk);
            std::uint32_t n = 0;
            getRecordNum(b, n);
            EXPECT_EQ(unlockRecord(b, n), kOk);
            EXPECT_EQ(closeTable(b), kOk);
            il.resume();
            EXPECT_TRUE(il.sideDone());
        }
        EXPECT_EQ(names(), (std::multiset<std::string>{"ann", "bob", "cy", "dee", "first", "second"}));
    }
}

// A handle that holds the table locked keeps its appended records in memory and writes them,
// with the record count, when it unlocks. It is stopped as it starts writing them, while
// another handle builds the table's first tag from the records. The header lock, which the
// tag's builder holds while it reads the records and the first handle holds while it writes
// its records and finds the new index, keeps the two apart: either the records are in the file
// before the tag is built, or the tag is there when they are written, and they get their keys.
// Without it the tag is built from the records before the appended ones and the appended ones
// reach the file with no key.
TEST_F(Races, TailWrittenUnderATableLockMeetsATagBeingBuilt) {
    makeTable(false);
    {
        Interleave il;
        il.start(
            [&] {
                Handle a = openShared();
                EXPECT_EQ(lockTable(a), kOk);
                EXPECT_EQ(appendRecord(a), kOk);
                EXPECT_EQ(setString(a, "NAME", "locked"), kOk);
                EXPECT_EQ(unlockTable(a), kOk);
                EXPECT_EQ(closeTable(a), kOk);
            },
            firstWriteTo("race.dbf"));
        ASSERT_TRUE(il.sideStopped()) << "the handle under the table lock never wrote";
        Handle b = openShared();
        Handle idx = 0;
        EXPECT_EQ(createIndex(b, "", "NAME", "NAME", "", "", kIndexCompound, idx), kOk);
        EXPECT_EQ(closeTable(b), kOk);
        il.resume();
        EXPECT_TRUE(il.sideDone());
    }
    EXPECT_EQ(names(), (std::multiset<std::string>{"ann", "bob", "cy", "dee", "locked"}));
}
