// Damaged and foreign files: each answers an error code; none takes the process down or
// keeps it busy for ever.
#include "table_support.h"

#include <cstring>
#include <filesystem>

using namespace engine;
using namespace enginetest;

namespace {

class Damaged : public EngineTest {
  protected:
    // A good table of n records with a memo on each, closed; answers the DBF bytes.
    std::string makeGood(int n, bool indexed = false) {
        Handle t = 0;
        auto fields = sampleFields();
        EXPECT_EQ(createTable(tmp.path("good"), "", kTypeCdx, kAnsi, fields, t), kOk);
        for (int i = 1; i <= n; ++i) {
            EXPECT_EQ(appendRecord(t), kOk);
            EXPECT_EQ(setString(t, "NAME", "R" + std::to_string(i)), kOk);
            EXPECT_EQ(setString(t, "NOTES", "memo " + std::to_string(i)), kOk);
        }
        if (indexed) {
            Handle idx = 0;
            EXPECT_EQ(createIndex(t, "", "NAMES", "NAME", "", "", kIndexCompound, idx), kOk);
        }
        EXPECT_EQ(closeTable(t), kOk);
        return readFile(tmp.path("good.dbf"));
    }
    Result open(const std::string& file, Handle& t) {
        return openTable(0, tmp.path(file), "", kTypeCdx, kAnsi, 1, 1, kOpenShared, t);
    }
    Result openBytes(std::string_view bytes) {
        writeFile(tmp.path("bad.dbf"), bytes);
        Handle t = 0;
        Result r = open("bad.dbf", t);
        if (r == kOk) closeTable(t);
        return r;
    }
    // Walks a tag from top to bottom; answers the first error (or 0) and how far it got.
    Result walkTag(Handle t, Handle idx, int& steps) {
        steps = 0;
        Result r = gotoTop(idx);
        for (bool e = false; r == kOk && atEOF(t, e) == kOk && !e && steps < 100000; ++steps)
            r = skip(idx, 1);
        return r;
    }
};

void put32(std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

} // namespace

TEST_F(Damaged, TableHeadersThatDoNotHoldTogether) {
    const std::string good = makeGood(3);
    EXPECT_EQ(openBytes(good), kFileNotFound); // the memo file has another name
    std::filesystem::copy_file(tmp.path("good.fpt"), tmp.path("bad.fpt"));
    EXPECT_EQ(openBytes(good), kOk);
    EXPECT_EQ(openBytes(""), kTableDamaged);
    EXPECT_EQ(openBytes(good.substr(0, 20)), kTableDamaged);  // truncated header
    EXPECT_EQ(openBytes(good.substr(0, 100)), kTableDamaged); // descriptors cut off
    std::string b = good;
    b[10] = b[11] = 0; // record length 0
    EXPECT_EQ(openBytes(b), kTableDamaged);
    b = good;
    b[32 + 5 * 32] = 'X'; // no terminator: the fields run past the header
    EXPECT_EQ(openBytes(b), kTableDamaged);
    b = good;
    put32(b, 4, 1000); // more records than the file holds
    EXPECT_EQ(openBytes(b), kTableDamaged);
    b = good;
    put32(b, 4, 0xFFFFFFFF);
    EXPECT_EQ(openBytes(b), kTableDamaged);
    b = good;
    b[32 + 16] = 0; // a field of length 0
    EXPECT_EQ(openBytes(b), kTableDamaged);
    b = good;
    b[0] = static_cast<char>(0x83); // a dBase table with DBT memos
    EXPECT_EQ(openBytes(b), kUnsupported);
    EXPECT_EQ(openBytes("Hello, this is not a table at all, but it is long enough."), kNotTable);
    // A record cut short at the end is refused when it is read, not before.
    b = good.substr(0, good.size() - 10);
    put32(b, 4, 2);
    writeFile(tmp.path("cut.dbf"), b + std::string(1, '\x1a'));
    std::filesystem::copy_file(tmp.path("good.fpt"), tmp.path("cut.fpt"));
    Handle t = 0;
    ASSERT_EQ(open("cut.dbf", t), kOk);
    std::uint32_t count = 0;
    ASSERT_EQ(getRecordCount(t, count), kOk);
    EXPECT_EQ(count, 2u);
}

TEST_F(Damaged, MemoPointersAndLengthsOutsideTheMemoFile) {
    std::string dbf = makeGood(3);
    const std::size_t header = 32 + 5 * 32 + 1 + 263, record = 32, memoAt = 28;
    put32(dbf, header + memoAt, 100000);     // record 1: a block past the end
    put32(dbf, header + record + memoAt, 2); // record 2: a block inside the header
    writeFile(tmp.path("good.dbf"), dbf);
    std::string fpt = readFile(tmp.path("good.fpt"));
    // Record 3's memo (the third block) claims to be far longer than the file.
    const std::size_t third = 512 + 2 * 64;
    fpt[third + 4] = 0x7F;
    writeFile(tmp.path("good.fpt"), fpt);
    Handle t = 0;
    ASSERT_EQ(open("good", t), kOk);
    std::string s;
    std::uint32_t len = 0;
    for (std::uint32_t r = 1; r <= 3; ++r) {
        ASSERT_EQ(gotoRecord(t, r), kOk);
        EXPECT_EQ(getString(t, "NOTES", s), kMemoDamaged) << r;
        EXPECT_EQ(getMemoLength(t, "NOTES", len), kMemoDamaged) << r;
        std::string name;
        EXPECT_EQ(getField(t, "NAME", name), kOk); // the rest of the record reads fine
    }
    // Writing a new memo over a damaged pointer puts it in new blocks.
    ASSERT_EQ(gotoRecord(t, 1), kOk);
    ASSERT_EQ(setString(t, "NOTES", "repaired"), kOk);
    ASSERT_EQ(getString(t, "NOTES", s), kOk);
    EXPECT_EQ(s, "repaired");
    ASSERT_EQ(closeTable(t), kOk);

    // A memo file whose header is broken, or that is missing, keeps the table closed.
    fpt[7] = 0; // block size 0
    writeFile(tmp.path("good.fpt"), fpt);
    EXPECT_EQ(open("good", t), kMemoDamaged);
    writeFile(tmp.path("good.fpt"), "short");
    EXPECT_EQ(open("good", t), kMemoDamaged);
    std::filesystem::remove(tmp.path("good.fpt"));
    EXPECT_EQ(open("good", t), kFileNotFound);
}

TEST_F(Damaged, IndexFilesWithBadPointersOrCycles) {
    makeGood(3000, true);
    const std::string good = readFile(tmp.path("good.cdx"));
    // The tag's header: its key expression "NAME" lies 512 bytes into it.
    std::size_t tag = std::string::npos;
    for (std::size_t at = 1024; at + 520 < good.size(); at += 512)
        if (good.compare(at + 512, 5, std::string("NAME\0", 5)) == 0) tag = at;
    ASSERT_NE(tag, std::string::npos);
    const std::uint32_t root = le32(good, tag);
    ASSERT_LT(root, good.size());
    ASSERT_EQ(good[root] & 2, 0) << "3000 keys should need an interior root";
    const std::size_t keyLen = 10;
    const std::size_t firstChild = 12 + keyLen + 4;
    auto childOf = [&](const std::string& b, std::size_t node) { return be32(b, node + firstChild); };

    auto tryWith = [&](const std::string& bytes, const char* what) {
        writeFile(tmp.path("good.cdx"), bytes);
        Handle t = 0;
        Result r = open("good", t);
        if (r != kOk) {
            EXPECT_EQ(r, kIndexDamaged) << what;
            return;
        }
        Handle idx = 0;
        ASSERT_EQ(getIndexHandle(t, "NAMES", idx), kOk) << what;
        int steps = 0;
        r = walkTag(t, idx, steps);
        EXPECT_EQ(r, kIndexDamaged) << what << " after " << steps << " steps";
        bool found = false;
        r = seek(idx, ExprValue::character("R2999"), false, found);
        EXPECT_TRUE(r == kOk || r == kIndexDamaged) << what;
        // The table itself is still usable in natural order; a write the index refuses
        // does not reach the table either.
        EXPECT_EQ(gotoRecord(t, 2), kOk) << what;
        EXPECT_EQ(setString(t, "NAME", "CHANGED"), kOk) << what;
        r = writeRecord(t);
        EXPECT_TRUE(r == kOk || r == kIndexDamaged) << what << ": " << r;
        EXPECT_EQ(gotoRecord(t, 3), kOk) << what;
        EXPECT_EQ(gotoRecord(t, 2), kOk) << what;
        std::string name;
        getField(t, "NAME", name);
        EXPECT_EQ(name, r == kOk ? "CHANGED   " : "R2        ") << what;
        closeTable(t);
    };

    std::string b = good;
    put32(b, tag, 0x7FFFFE00); // root past the end of the file
    tryWith(b, "root out of range");
    b = good;
    put32(b, tag, static_cast<std::uint32_t>(root + 7)); // not on a node boundary
    tryWith(b, "root off the node grid");
    b = good;
    {
        // The root's first child pointing back at the root.
        std::uint32_t self = root;
        for (int i = 0; i < 4; ++i) b[root + firstChild + i] = static_cast<char>(self >> (24 - 8 * i));
    }
    tryWith(b, "cycle through the root");
    b = good;
    {
        // The leftmost leaf's right sibling pointing at itself.
        std::uint32_t node = root;
        while ((b[node] & 2) == 0) node = childOf(b, node);
        put32(b, node + 8, node);
    }
    tryWith(b, "leaf linked to itself");
    b = good;
    {
        std::uint32_t node = root;
        while ((b[node] & 2) == 0) node = childOf(b, node);
        b[node + 2] = static_cast<char>(0xFF); // more keys than a node can hold
        b[node + 3] = 0x7F;
    }
    tryWith(b, "key count too large");
    tryWith(good.substr(0, 700), "truncated file");
    tryWith(std::string(4096, '\xFF'), "rubbish");
}
