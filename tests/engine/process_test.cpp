// Several processes on one table: engine_stress workers appending, locking and changing
// records at once, and open and lock conflicts between processes.
#include "spawn.h"
#include "table_support.h"

#include "engine/os.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>

using namespace engine;
using namespace enginetest;

namespace {

class Processes : public EngineTest {
  protected:
    std::string stress() const { return programFolder() + ENGINE_STRESS_NAME; }
    std::string table() const { return tmp.path("stress.dbf"); }

    void makeTable(bool withIndexes) {
        std::vector<FieldDef> fields = {
            {"WORKER", 'N', 4, 0}, {"SEQ", 'N', 8, 0}, {"NAME", 'C', 20, 0}, {"TOUCH", 'N', 8, 0}};
        Handle t = 0;
        ASSERT_EQ(createTable(table(), "", kTypeCdx, kAnsi, fields, t), kOk);
        if (withIndexes) {
            Handle idx = 0;
            ASSERT_EQ(createIndex(t, "", "NAME", "NAME", "", "", kIndexCompound, idx), kOk);
            ASSERT_EQ(createIndex(t, "", "WSEQ", "STR(WORKER,4)+STR(SEQ,8)", "", "", kIndexCompound, idx),
                      kOk);
            ASSERT_EQ(createIndex(t, "", "SEQD", "SEQ", "", "", kIndexCompound | kIndexDescending, idx), kOk);
        }
        ASSERT_EQ(closeTable(t), kOk);
    }

    std::intptr_t start(const std::vector<std::string>& args) {
        std::intptr_t p = startProcess(stress(), args);
        EXPECT_NE(p, 0) << "could not start " << stress();
        return p;
    }

    // Starts a holder and waits until it has the table.
    std::intptr_t startHolder(const std::string& how, int ms) {
        const std::string ready = tmp.path("ready-" + how);
        std::intptr_t p = start({"hold", table(), how, std::to_string(ms), ready});
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!std::filesystem::exists(ready) && std::chrono::steady_clock::now() < until) os::sleepMs(10);
        EXPECT_TRUE(std::filesystem::exists(ready)) << "the holder never got the table";
        return p;
    }

    // After a run: the table, its memos and every tag agree.
    void expectVerified(Handle t) {
        std::vector<std::string> problems;
        EXPECT_EQ(verifyTable(t, problems), kOk);
        for (const std::string& p : problems) ADD_FAILURE() << p;
    }

    Result tryOpen(std::uint32_t mode, Handle& t) {
        return openTable(0, table(), "", kTypeCdx, kAnsi, 1, 1, mode, t);
    }
};

} // namespace

TEST_F(Processes, ConcurrentAppendsLocksAndWritesLoseNothing) {
    makeTable(true);
    const int workers = 4, appends = 250, touches = 60;
    std::vector<std::intptr_t> procs;
    for (int w = 1; w <= workers; ++w)
        procs.push_back(
            start({"work", table(), std::to_string(w), std::to_string(appends), std::to_string(touches)}));
    for (std::intptr_t p : procs) EXPECT_EQ(waitProcess(p), 0);

    Handle t = 0;
    ASSERT_EQ(tryOpen(kOpenShared, t), kOk);
    std::uint32_t count = 0;
    ASSERT_EQ(getRecordCount(t, count), kOk);
    ASSERT_EQ(count, static_cast<std::uint32_t>(workers * appends));
    const std::string bytes = readFile(table());
    EXPECT_EQ(bytes.size(), 32u + 4 * 32 + 1 + 263 + count * (1u + 4 + 8 + 20 + 8) + 1);
    EXPECT_EQ(static_cast<unsigned char>(bytes.back()), 0x1A);

    // Every (worker, seq) exactly once; every touch counted once.
    std::set<std::pair<int, int>> seen;
    std::map<std::string, std::uint32_t> byName;
    double touchTotal = 0;
    ASSERT_EQ(gotoTop(t), kOk);
    for (bool e = false; atEOF(t, e) == kOk && !e;) {
        double w = 0, s = 0, touch = 0;
        std::string name;
        std::uint32_t recno = 0;
        ASSERT_EQ(getDouble(t, "WORKER", w), kOk);
        ASSERT_EQ(getDouble(t, "SEQ", s), kOk);
        ASSERT_EQ(getDouble(t, "TOUCH", touch), kOk);
        ASSERT_EQ(getField(t, "NAME", name), kOk);
        ASSERT_EQ(getRecordNum(t, recno), kOk);
        EXPECT_TRUE(seen.insert({static_cast<int>(w), static_cast<int>(s)}).second) << w << "/" << s;
        byName[name] = recno;
        touchTotal += touch;
        ASSERT_EQ(skip(t, 1), kOk);
    }
    EXPECT_EQ(seen.size(), count);
    EXPECT_EQ(touchTotal, workers * touches);

    // Each index holds every record once, in order, and finds each key.
    for (const char* tagName : {"NAME", "WSEQ", "SEQD"}) {
        Handle idx = 0;
        ASSERT_EQ(getIndexHandle(t, tagName, idx), kOk);
        std::vector<std::string> keys;
        std::set<std::uint32_t> recnos;
        ASSERT_EQ(gotoTop(idx), kOk);
        for (bool e = false; atEOF(t, e) == kOk && !e;) {
            std::string name, key;
            double w = 0, s = 0;
            std::uint32_t recno = 0;
            getField(t, "NAME", name);
            getDouble(t, "WORKER", w);
            getDouble(t, "SEQ", s);
            getRecordNum(t, recno);
            recnos.insert(recno);
            if (std::string(tagName) == "NAME")
                keys.push_back(name);
            else if (std::string(tagName) == "SEQD")
                keys.push_back(std::to_string(100000000 - static_cast<int>(s)));
            else
                keys.push_back(std::to_string(10000 + static_cast<int>(w)) +
                               std::to_string(100000000 + static_cast<int>(s)));
            ASSERT_EQ(skip(idx, 1), kOk);
        }
        EXPECT_EQ(recnos.size(), count) << tagName;
        EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end())) << tagName;
    }
    Handle nameIdx = 0;
    ASSERT_EQ(getIndexHandle(t, "name", nameIdx), kOk);
    for (const auto& [name, recno] : byName) {
        bool found = false;
        ASSERT_EQ(seek(nameIdx, ExprValue::character(name), false, found), kOk);
        std::uint32_t at = 0;
        getRecordNum(t, at);
        EXPECT_TRUE(found) << name;
        EXPECT_EQ(at, recno) << name;
    }
    expectVerified(t);
}

TEST_F(Processes, OpenModesConflictAcrossProcesses) {
    makeTable(false);
    // Another process holds the table exclusively.
    std::intptr_t holder = startHolder("exclusive", 3000);
    Handle t = 0;
    EXPECT_EQ(tryOpen(kOpenShared, t), kOpenConflict);
    EXPECT_EQ(tryOpen(kOpenExclusive | kOpenReadOnly, t), kOpenConflict);
    EXPECT_EQ(waitProcess(holder), 0);
    // It ended without closing: its locks went with it.
    ASSERT_EQ(tryOpen(kOpenExclusive, t), kOk);
    EXPECT_EQ(waitProcess(start({"try", table(), "shared"})), 10);
    EXPECT_EQ(waitProcess(start({"try", table(), "exclusive"})), 10);
    ASSERT_EQ(closeTable(t), kOk);
    ASSERT_EQ(tryOpen(kOpenShared, t), kOk);
    EXPECT_EQ(waitProcess(start({"try", table(), "shared"})), 0);
    EXPECT_EQ(waitProcess(start({"try", table(), "exclusive"})), 10);
}

TEST_F(Processes, TableLockOfAnotherProcessKeepsRecordsAndAppendsOut) {
    makeTable(false);
    Handle t = 0;
    ASSERT_EQ(tryOpen(kOpenShared, t), kOk);
    ASSERT_EQ(appendRecord(t), kOk);
    ASSERT_EQ(unlockRecord(t, 1), kOk);
    std::intptr_t holder = startHolder("tablelock", 3000);
    EXPECT_EQ(lockRecord(t, 1), kLockRefused);
    EXPECT_EQ(appendRecord(t), kLockRefused);
    EXPECT_EQ(lockTable(t), kLockRefused);
    EXPECT_EQ(waitProcess(holder), 0);
    EXPECT_EQ(lockRecord(t, 1), kOk);
    EXPECT_EQ(appendRecord(t), kOk);
    expectVerified(t);
}

TEST_F(Processes, AppendsOfAProcessThatEndsWithoutClosingAreKept) {
    makeTable(true);
    EXPECT_EQ(waitProcess(start({"leave", table(), "500"})), 0);
    Handle t = 0;
    ASSERT_EQ(tryOpen(kOpenShared, t), kOk);
    std::uint32_t count = 0;
    ASSERT_EQ(getRecordCount(t, count), kOk);
    EXPECT_EQ(count, 500u);
    double seq = 0;
    ASSERT_EQ(gotoRecord(t, 500), kOk);
    ASSERT_EQ(getDouble(t, "SEQ", seq), kOk);
    EXPECT_EQ(seq, 500);
    Handle idx = 0;
    ASSERT_EQ(getIndexHandle(t, "SEQD", idx), kOk);
    ASSERT_EQ(gotoTop(idx), kOk); // descending: the highest first
    ASSERT_EQ(getDouble(t, "SEQ", seq), kOk);
    EXPECT_EQ(seq, 500);
    expectVerified(t);
}
