// Sharing one table between handles of this process: each handle is its own lock owner, so
// these tests see the same conflicts that two processes would.
#include "table_support.h"

using namespace engine;
using namespace enginetest;

namespace {

class Locks : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        Handle t = 0;
        auto fields = sampleFields();
        ASSERT_EQ(createTable(tmp.path("shared"), "", kTypeCdx, kAnsi, fields, t), kOk);
        for (int i = 1; i <= 5; ++i) {
            ASSERT_EQ(appendRecord(t), kOk);
            ASSERT_EQ(setString(t, "NAME", "R" + std::to_string(i)), kOk);
        }
        ASSERT_EQ(closeTable(t), kOk);
    }
    Result open(Handle& t, std::uint32_t mode = kOpenShared) {
        return openTable(0, tmp.path("shared"), "", kTypeCdx, kAnsi, 1, 1, mode, t);
    }
    std::string nameOf(Handle t) {
        std::string s;
        getField(t, "NAME", s);
        return s.substr(0, s.find(' '));
    }
};

} // namespace

TEST_F(Locks, ExclusiveAndSharedOpensExcludeEachOther) {
    Handle a = 0, b = 0;
    ASSERT_EQ(open(a, kOpenExclusive), kOk);
    EXPECT_EQ(open(b, kOpenShared), kOpenConflict);
    EXPECT_EQ(open(b, kOpenExclusive), kOpenConflict);
    EXPECT_EQ(open(b, kOpenShared | kOpenReadOnly), kOpenConflict);
    ASSERT_EQ(closeTable(a), kOk);
    ASSERT_EQ(open(a, kOpenShared), kOk);
    ASSERT_EQ(open(b, kOpenShared | kOpenReadOnly), kOk);
    Handle c = 0;
    EXPECT_EQ(open(c, kOpenExclusive), kOpenConflict);
    EXPECT_EQ(open(c, kOpenExclusive | kOpenReadOnly), kOpenConflict);
    ASSERT_EQ(closeTable(a), kOk);
    EXPECT_EQ(open(c, kOpenExclusive), kOpenConflict); // b still has it
    ASSERT_EQ(closeTable(b), kOk);
    EXPECT_EQ(open(c, kOpenExclusive), kOk);
}

TEST_F(Locks, RecordAndTableLocksConflictAcrossHandles) {
    Handle a = 0, b = 0;
    ASSERT_EQ(open(a), kOk);
    ASSERT_EQ(open(b), kOk);
    ASSERT_EQ(lockRecord(a, 2), kOk);
    ASSERT_EQ(lockRecord(a, 2), kOk); // again: nothing changes
    EXPECT_EQ(lockRecord(b, 2), kLockRefused);
    ASSERT_EQ(lockRecord(b, 3), kOk);
    EXPECT_EQ(lockTable(a), kLockRefused); // b holds record 3
    bool locked = true;
    ASSERT_EQ(isTableLocked(a, locked), kOk);
    EXPECT_FALSE(locked);
    ASSERT_EQ(lockRecord(a, 4), kOk); // the failed table lock left a's record locks alone
    ASSERT_EQ(unlockRecord(b, 3), kOk);
    ASSERT_EQ(lockTable(a), kOk); // a's own record locks do not stand in its way
    EXPECT_EQ(lockRecord(b, 1), kLockRefused);
    EXPECT_EQ(lockRecord(b, 5), kLockRefused);
    EXPECT_EQ(lockTable(b), kLockRefused);
    EXPECT_EQ(appendRecord(b), kLockRefused);
    ASSERT_EQ(lockRecord(a, 1), kOk);
    ASSERT_EQ(unlockTable(a), kOk); // releases the table and every record lock
    EXPECT_EQ(unlockTable(a), kTableNotLocked);
    for (std::uint32_t r = 1; r <= 5; ++r) EXPECT_EQ(lockRecord(b, r), kOk) << r;
    EXPECT_EQ(unlockRecord(a, 2), kRecordNotLocked);
    EXPECT_EQ(lockRecord(b, 0), kBadArgument);
    EXPECT_EQ(lockRecord(b, 6), kBadArgument);
    // Closing a handle releases its locks.
    ASSERT_EQ(closeTable(b), kOk);
    EXPECT_EQ(lockTable(a), kOk);
}

TEST_F(Locks, ListOfLocksHandsThemOutInRoomSizedParts) {
    Handle a = 0;
    ASSERT_EQ(open(a), kOk);
    for (std::uint32_t r : {5u, 1u, 3u, 2u, 4u}) ASSERT_EQ(lockRecord(a, r), kOk);
    std::uint32_t room[2];
    std::uint16_t count = 0;
    std::vector<std::uint32_t> seen;
    Result r;
    do { // what the driver does to release every lock
        r = getAllLocks(a, room, count);
        ASSERT_TRUE(r == kOk || r == kMoreLocks);
        for (std::uint16_t i = 0; i < count; ++i) {
            seen.push_back(room[i]);
            ASSERT_EQ(unlockRecord(a, room[i]), kOk);
        }
    } while (r == kMoreLocks);
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
    ASSERT_EQ(getAllLocks(a, room, count), kOk);
    EXPECT_EQ(count, 0);
}

TEST_F(Locks, WritesNeedTheRecordAndShowUpElsewhere) {
    Handle a = 0, b = 0;
    ASSERT_EQ(open(a), kOk);
    ASSERT_EQ(open(b), kOk);
    ASSERT_EQ(gotoRecord(a, 2), kOk);
    ASSERT_EQ(gotoRecord(b, 2), kOk);
    ASSERT_EQ(lockRecord(a, 2), kOk);
    EXPECT_EQ(setString(b, "NAME", "B"), kLockRefused);
    ASSERT_EQ(setString(a, "NAME", "A"), kOk);
    ASSERT_EQ(unlockRecord(a, 2), kOk); // writes the record first
    ASSERT_EQ(refreshRecord(b), kOk);
    EXPECT_EQ(nameOf(b), "A");
    // Without an explicit lock a write takes the record until it is written.
    ASSERT_EQ(setString(b, "NAME", "B"), kOk);
    EXPECT_EQ(lockRecord(a, 2), kLockRefused);
    ASSERT_EQ(skip(b, 1), kOk);
    ASSERT_EQ(lockRecord(a, 2), kOk); // the lock that a read needs refreshes the record
    EXPECT_EQ(nameOf(a), "B");
    // Exclusive opens lock without asking anyone.
    ASSERT_EQ(closeTable(a), kOk);
    ASSERT_EQ(closeTable(b), kOk);
    ASSERT_EQ(open(a, kOpenExclusive), kOk);
    EXPECT_EQ(lockRecord(a, 1), kOk);
    EXPECT_EQ(lockTable(a), kOk);
    EXPECT_EQ(unlockTable(a), kOk);
}

TEST_F(Locks, AppendsFromTwoHandlesInterleave) {
    Handle a = 0, b = 0;
    ASSERT_EQ(open(a), kOk);
    ASSERT_EQ(open(b), kOk);
    ASSERT_EQ(appendRecord(a), kOk);
    ASSERT_EQ(setString(a, "NAME", "fromA"), kOk);
    ASSERT_EQ(appendRecord(b), kOk); // sees a's record in the count
    ASSERT_EQ(setString(b, "NAME", "fromB"), kOk);
    std::uint32_t ra = 0, rb = 0;
    ASSERT_EQ(getRecordNum(a, ra), kOk);
    ASSERT_EQ(getRecordNum(b, rb), kOk);
    EXPECT_EQ(ra, 6u);
    EXPECT_EQ(rb, 7u);
    // The appended records stay locked by their appenders.
    EXPECT_EQ(lockRecord(b, 6), kLockRefused);
    ASSERT_EQ(writeRecord(a), kOk);
    ASSERT_EQ(writeRecord(b), kOk);
    std::uint32_t count = 0;
    ASSERT_EQ(getRecordCount(a, count), kOk);
    EXPECT_EQ(count, 7u);
    ASSERT_EQ(gotoRecord(a, 7), kOk);
    EXPECT_EQ(nameOf(a), "fromB");
    ASSERT_EQ(gotoBottom(b), kOk);
    ASSERT_EQ(skip(b, -1), kOk);
    EXPECT_EQ(nameOf(b), "fromA");
}

TEST_F(Locks, AppendsUnderATableLockAreSeenAfterTheUnlock) {
    Handle a = 0, b = 0;
    ASSERT_EQ(open(a), kOk);
    ASSERT_EQ(open(b), kOk);
    ASSERT_EQ(lockTable(a), kOk);
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(appendRecord(a), kOk);
        ASSERT_EQ(setString(a, "NAME", "L" + std::to_string(i)), kOk);
    }
    std::uint32_t count = 0;
    ASSERT_EQ(getRecordCount(a, count), kOk);
    EXPECT_EQ(count, 15u);
    ASSERT_EQ(getRecordCount(b, count), kOk);
    EXPECT_EQ(count, 5u);
    ASSERT_EQ(unlockTable(a), kOk);
    ASSERT_EQ(getRecordCount(b, count), kOk);
    EXPECT_EQ(count, 15u);
    ASSERT_EQ(gotoRecord(b, 15), kOk);
    EXPECT_EQ(nameOf(b), "L9");
    ASSERT_EQ(closeTable(a), kOk);
    const std::string bytes = readFile(tmp.path("shared.dbf"));
    EXPECT_EQ(le32(bytes, 4), 15u);
    EXPECT_EQ(static_cast<unsigned char>(bytes.back()), 0x1A);
}
