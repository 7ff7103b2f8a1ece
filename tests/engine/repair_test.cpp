// Rebuilding a structural index: cut off at every page, a broken node, the mark of a change
// that did not end, the file gone; tags of every kind, ours and another program's. After each
// repair the table opens for writing, verifies, and every record is found by a seek.
#include "table_support.h"

#include "engine/cdx.h"

#include <cctype>
#include <cstring>
#include <filesystem>

using namespace engine;
using namespace enginetest;

namespace {

constexpr int kRecords = 80;

// The fields a definition keeps, compared before and after a rebuild.
std::string describe(const TagDefinition& d) {
    const TagSpec& s = d.tagSpec;
    return s.name + "|" + s.keyExpr + "|" + s.forExpr + "|" + std::to_string(s.keyLen) + "|" +
           (s.unique ? "U" : "") + (s.candidate ? "C" : "") + (s.descending ? "D" : "");
}

std::vector<std::string> definitions(const std::string& cdx) {
    MemoryBlockFile f(readFile(cdx));
    std::vector<TagDefinition> defs;
    EXPECT_EQ(readTagDefinitions(f, defs), kOk) << cdx;
    std::vector<std::string> out;
    for (const TagDefinition& d : defs) {
        EXPECT_TRUE(d.readable) << d.tagSpec.name << ": " << d.why;
        out.push_back(describe(d));
    }
    return out;
}

class Repair : public EngineTest {
  protected:
    // A table with a tag of each kind we write: plain, unique, descending, FOR, candidate (the
    // option bit set by hand, as other programs write it).
    void makeTable() {
        Handle t = 0;
        auto fields = sampleFields();
        ASSERT_EQ(createTable(tmp.path("t"), "", kTypeCdx, kAnsi, fields, t), kOk);
        for (int i = 1; i <= kRecords; ++i) {
            ASSERT_EQ(appendRecord(t), kOk);
            ASSERT_EQ(setString(t, "NAME", "n" + std::to_string(1000 + i * 7 % kRecords)), kOk);
            ASSERT_EQ(setDouble(t, "AMOUNT", i % 13), kOk);
            ASSERT_EQ(setLogical(t, "OK", i % 3 == 0), kOk);
            ASSERT_EQ(setString(t, "NOTES", "memo " + std::to_string(i)), kOk);
        }
        Handle idx = 0;
        ASSERT_EQ(createIndex(t, "", "NAME", "NAME", "", "", kIndexCompound, idx), kOk);
        ASSERT_EQ(createIndex(t, "", "UNAME", "UPPER(NAME)", "", "", kIndexCompound | kIndexUnique, idx),
                  kOk);
        ASSERT_EQ(createIndex(t, "", "AMTDOWN", "AMOUNT", "", "", kIndexCompound | kIndexDescending, idx),
                  kOk);
        ASSERT_EQ(createIndex(t, "", "OKNAMES", "NAME", "OK", "", kIndexCompound, idx), kOk);
        ASSERT_EQ(createIndex(t, "", "CAND", "NAME+STR(AMOUNT)", "", "", kIndexCompound, idx), kOk);
        ASSERT_EQ(closeTable(t), kOk);
        std::string cdx = readFile(tmp.path("t.cdx"));
        MemoryBlockFile f(cdx);
        std::vector<TagDefinition> defs;
        ASSERT_EQ(readTagDefinitions(f, defs), kOk);
        ASSERT_EQ(defs.back().tagSpec.name, "CAND");
        cdx[defs.back().id + 14] = static_cast<char>(cdx[defs.back().id + 14] | 4);
        writeFile(tmp.path("t.cdx"), cdx);
        std::filesystem::create_directory(tmp.path("backup"));
        for (const char* ext : {".dbf", ".fpt", ".cdx"})
            writeFile(tmp.path("backup/t") + ext, readFile(tmp.path("t") + ext));
        good = definitions(tmp.path("t.cdx"));
        ASSERT_EQ(good.size(), 5u);
        EXPECT_EQ(good[4], "CAND|NAME+STR(AMOUNT)||18|C");
    }
    // The table and index as made, back in place.
    void restore() {
        for (const char* ext : {".dbf", ".fpt", ".cdx"})
            writeFile(tmp.path("t") + ext, readFile(tmp.path("backup/t") + ext));
    }
    Result open(Handle& t, std::uint32_t mode = kOpenShared) {
        return openTable(0, tmp.path("t"), "", kTypeCdx, kAnsi, 0, 1, mode, t);
    }
    Result repair(std::vector<std::string>& report, std::string_view from = "", std::uint32_t options = 0) {
        return repairIndex(tmp.path("t"), from, options, report);
    }
    // Usable again: opens for writing, verifies, every record found by a seek in each tag,
    // and a change goes through.
    void expectUsable(const std::string& what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(definitions(tmp.path("t.cdx")), good);
        Handle t = 0;
        ASSERT_EQ(open(t), kOk);
        std::vector<std::string> problems;
        EXPECT_EQ(verifyTable(t, problems), kOk) << (problems.empty() ? "" : problems.front());
        Handle name = 0, uname = 0, down = 0, ok = 0, cand = 0;
        ASSERT_EQ(getIndexHandle(t, "NAME", name), kOk);
        ASSERT_EQ(getIndexHandle(t, "UNAME", uname), kOk);
        ASSERT_EQ(getIndexHandle(t, "AMTDOWN", down), kOk);
        ASSERT_EQ(getIndexHandle(t, "OKNAMES", ok), kOk);
        ASSERT_EQ(getIndexHandle(t, "CAND", cand), kOk);
        std::uint16_t order = 0;
        EXPECT_EQ(getIndexOrder(cand, order), kOk);
        EXPECT_EQ(order, 5); // the tags keep their order
        for (std::uint32_t n = 1; n <= kRecords; ++n) {
            ASSERT_EQ(gotoRecord(t, n), kOk);
            std::string nm;
            double amount = 0;
            bool flag = false;
            getString(t, "NAME", nm);
            getDouble(t, "AMOUNT", amount);
            getLogical(t, "OK", flag);
            const auto seekAt = [&](Handle idx, const ExprValue& key) {
                bool found = false;
                EXPECT_EQ(seek(idx, key, false, found), kOk);
                std::uint32_t at = 0;
                getRecordNum(t, at);
                return found ? at : 0;
            };
            EXPECT_EQ(seekAt(name, ExprValue::character(nm)), n);
            std::string upperName = nm;
            for (char& c : upperName) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_EQ(seekAt(uname, ExprValue::character(upperName)), n);
            EXPECT_EQ(seekAt(ok, ExprValue::character(nm)), flag ? n : 0);
            EXPECT_EQ(seekAt(cand, ExprValue::character(nm)), n);
            const std::uint32_t at = seekAt(down, ExprValue::numeric(amount, 8, 2));
            double there = -1;
            getDouble(t, "AMOUNT", there);
            EXPECT_TRUE(at != 0 && there == amount) << "record " << n;
        }
        EXPECT_EQ(appendRecord(t), kOk);
        EXPECT_EQ(setString(t, "NAME", "new"), kOk);
        EXPECT_EQ(verifyTable(t, problems), kOk) << (problems.empty() ? "" : problems.front());
        EXPECT_EQ(closeTable(t), kOk);
        restore();
    }
    std::vector<std::string> good;
};

TEST_F(Repair, IndexCutOffAtEveryPage) {
    makeTable();
    const std::string whole = readFile(tmp.path("t.cdx"));
    MemoryBlockFile f(whole);
    std::vector<TagDefinition> defs;
    ASSERT_EQ(readTagDefinitions(f, defs), kOk);
    const std::size_t headersEnd = defs.back().id + 1024;
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; at < whole.size(); at += 512) cuts.push_back(at);
    cuts.push_back(whole.size() / 2 + 100); // not at a page boundary
    ASSERT_GT(cuts.size(), 20u);
    int byThemselves = 0, expected = 0;
    for (std::size_t cut : cuts) expected += cut >= headersEnd;
    EXPECT_GT(expected, 0);
    for (std::size_t cut : cuts) {
        const std::string what = "cut at " + std::to_string(cut);
        writeFile(tmp.path("t.cdx"), whole.substr(0, cut));
        Handle t = 0;
        // (Exclusive: a shared open waits a while for an empty index to be filled.)
        if (open(t, kOpenExclusive) == kOk) { // only the trees are cut: it opens, verify sees it
            std::vector<std::string> problems;
            EXPECT_NE(verifyTable(t, problems), kOk) << what;
            EXPECT_EQ(closeTable(t), kOk);
        }
        std::vector<std::string> report;
        const Result r = repair(report);
        if (cut >= headersEnd) {
            // Every definition is still there: the file itself is enough.
            EXPECT_EQ(r, kOk) << what;
        } else {
            // Definitions lost: nothing changes, and the message says what to do.
            EXPECT_EQ(r, kIndexDefinitionsUnknown) << what;
            EXPECT_EQ(readFile(tmp.path("t.cdx")), whole.substr(0, cut)) << what;
            ASSERT_FALSE(report.empty());
            EXPECT_NE(report.back().find("--from"), std::string::npos);
            EXPECT_EQ(repair(report, tmp.path("backup/t.cdx")), kOk) << what;
        }
        byThemselves += r == kOk;
        expectUsable(what);
    }
    EXPECT_EQ(byThemselves, expected);
}

TEST_F(Repair, BrokenNodeAndUnfinishedChange) {
    makeTable();
    std::string cdx = readFile(tmp.path("t.cdx"));
    MemoryBlockFile f(cdx);
    std::vector<TagDefinition> defs;
    ASSERT_EQ(readTagDefinitions(f, defs), kOk);
    const std::uint32_t root = le32(cdx, defs[0].id);
    for (std::size_t i = 0; i < 512; ++i) cdx[root + i] = static_cast<char>(0xA5);
    writeFile(tmp.path("t.cdx"), cdx);
    Handle t = 0;
    ASSERT_EQ(open(t), kOk); // the trees are read when used
    Handle idx = 0;
    ASSERT_EQ(getIndexHandle(t, "NAME", idx), kOk);
    EXPECT_EQ(gotoTop(idx), kIndexDamaged);
    EXPECT_EQ(closeTable(t), kOk);
    std::vector<std::string> report;
    EXPECT_EQ(repair(report), kOk);
    expectUsable("broken node");

    // The mark of a change cut off, and a new file left half-made by a repair that died.
    cdx = readFile(tmp.path("t.cdx"));
    cdx[497] = 1;
    writeFile(tmp.path("t.cdx"), cdx);
    writeFile(tmp.path("t.cdx.new"), cdx.substr(0, 700));
    EXPECT_EQ(open(t), kIndexOutOfDate);
    EXPECT_EQ(repair(report), kOk);
    EXPECT_FALSE(std::filesystem::exists(tmp.path("t.cdx.new")));
    expectUsable("unfinished change");
}

TEST_F(Repair, MissingIndexAndOtherOptions) {
    makeTable();
    std::filesystem::remove(tmp.path("t.cdx"));
    const std::string table = readFile(tmp.path("t.dbf"));
    ASSERT_TRUE(table[28] & 1); // the header says there is a structural index
    std::vector<std::string> report;
    EXPECT_EQ(repair(report), kIndexDefinitionsUnknown);
    EXPECT_FALSE(std::filesystem::exists(tmp.path("t.cdx")));
    EXPECT_EQ(readFile(tmp.path("t.dbf")), table);
    EXPECT_EQ(repair(report, tmp.path("nowhere.cdx")), kFileNotFound);
    EXPECT_EQ(repair(report, tmp.path("backup/t.cdx")), kOk);
    expectUsable("index file gone, definitions from a copy");

    // Without definitions, and told to go on without them: no structural index at all.
    std::filesystem::remove(tmp.path("t.cdx"));
    EXPECT_EQ(repair(report, "", kRepairDropUnknown), kOk);
    EXPECT_FALSE(readFile(tmp.path("t.dbf"))[28] & 1);
    Handle t = 0;
    ASSERT_EQ(open(t), kOk);
    std::uint16_t count = 9;
    EXPECT_EQ(getNumIndexes(t, count), kOk);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(closeTable(t), kOk);
    // A table in use is not touched.
    restore();
    ASSERT_EQ(open(t), kOk);
    const std::string index = readFile(tmp.path("t.cdx"));
    EXPECT_EQ(repair(report), kOpenConflict);
    EXPECT_EQ(closeTable(t), kOk);
    EXPECT_EQ(readFile(tmp.path("t.cdx")), index);

    // A tag whose header is gone is left out only when asked to.
    std::string cdx = readFile(tmp.path("t.cdx"));
    MemoryBlockFile f(cdx);
    std::vector<TagDefinition> defs;
    ASSERT_EQ(readTagDefinitions(f, defs), kOk);
    std::fill(cdx.begin() + defs[2].id, cdx.begin() + defs[2].id + 1024, '\0');
    writeFile(tmp.path("t.cdx"), cdx);
    EXPECT_EQ(repair(report), kIndexDefinitionsUnknown);
    EXPECT_EQ(repair(report, "", kRepairDropUnknown), kOk);
    std::vector<std::string> left = good;
    left.erase(left.begin() + 2);
    EXPECT_EQ(definitions(tmp.path("t.cdx")), left);
    ASSERT_EQ(open(t), kOk);
    std::vector<std::string> problems;
    EXPECT_EQ(verifyTable(t, problems), kOk);
    EXPECT_EQ(closeTable(t), kOk);
}

// What we cannot keep is said: a tag of another collation sequence comes back in machine
// order (and can be changed again), and records that share a candidate tag's key are named.
TEST_F(Repair, OtherCollationAndSharedCandidateKeys) {
    makeTable();
    std::string cdx = readFile(tmp.path("t.cdx"));
    MemoryBlockFile f(cdx);
    std::vector<TagDefinition> defs;
    ASSERT_EQ(readTagDefinitions(f, defs), kOk);
    std::memcpy(cdx.data() + defs[0].id + 40, "GENERAL", 7);
    cdx[497] = 1;
    writeFile(tmp.path("t.cdx"), cdx);
    // Record 2 takes record 1's name and amount (the first 18 bytes after the deleted mark):
    // one key of the candidate tag.
    std::string table = readFile(tmp.path("t.dbf"));
    const std::size_t headerLen = le16(table, 8), recordLen = le16(table, 10);
    table.replace(headerLen + recordLen + 1, 18, table.substr(headerLen + 1, 18));
    writeFile(tmp.path("t.dbf"), table);

    std::vector<std::string> report;
    ASSERT_EQ(repair(report), kOk);
    std::string all;
    for (const std::string& line : report) all += line + "\n";
    EXPECT_NE(all.find("tag NAME was of another collation sequence"), std::string::npos) << all;
    EXPECT_NE(all.find("records 1 and 2 share a key"), std::string::npos) << all;
    MemoryBlockFile rebuilt(readFile(tmp.path("t.cdx")));
    ASSERT_EQ(readTagDefinitions(rebuilt, defs), kOk);
    EXPECT_FALSE(defs[0].otherCollation);
    Handle t = 0;
    ASSERT_EQ(open(t), kOk);
    std::vector<std::string> problems;
    EXPECT_EQ(verifyTable(t, problems), kIndexDamaged); // the shared key, until a record changes
    ASSERT_EQ(gotoRecord(t, 2), kOk);
    EXPECT_EQ(setString(t, "NAME", "other"), kOk);
    EXPECT_EQ(verifyTable(t, problems), kOk) << (problems.empty() ? "" : problems.front());
    EXPECT_EQ(closeTable(t), kOk);
}

// Another program's table and index: a candidate tag on an integer field.
TEST_F(Repair, ForeignTableWithCandidateTag) {
    for (const char* ext : {".dbf", ".CDX", ".FPT"})
        writeFile(
            tmp.path(std::string("calls") + ext),
            readFile((std::filesystem::path(FOREIGN_FIXTURES) / (std::string("calls") + ext)).string()));
    const std::vector<std::string> before = definitions(tmp.path("calls.CDX"));
    std::string cdx = readFile(tmp.path("calls.CDX"));
    cdx[497] = 1;
    writeFile(tmp.path("calls.CDX"), cdx);
    Handle t = 0;
    EXPECT_EQ(openTable(0, tmp.path("calls"), "", kTypeCdx, kAnsi, 0, 1, kOpenShared, t), kIndexOutOfDate);
    std::vector<std::string> report;
    ASSERT_EQ(repairIndex(tmp.path("calls"), "", 0, report), kOk);
    EXPECT_EQ(definitions(tmp.path("calls.CDX")), before);
    ASSERT_EQ(openTable(0, tmp.path("calls"), "", kTypeCdx, kAnsi, 0, 1, kOpenShared, t), kOk);
    std::vector<std::string> problems;
    EXPECT_EQ(verifyTable(t, problems), kOk) << (problems.empty() ? "" : problems.front());
    Handle id = 0;
    ASSERT_EQ(getIndexHandle(t, "CALL_ID", id), kOk);
    std::uint32_t count = 0;
    ASSERT_EQ(getRecordCount(t, count), kOk);
    for (std::uint32_t n = 1; n <= count; ++n) {
        double v = 0;
        ASSERT_EQ(gotoRecord(t, n), kOk);
        ASSERT_EQ(getDouble(t, "CALL_ID", v), kOk);
        bool found = false;
        EXPECT_EQ(seek(id, ExprValue::numeric(v, 11, 0), false, found), kOk);
        std::uint32_t at = 0;
        getRecordNum(t, at);
        EXPECT_TRUE(found && at == n) << "record " << n;
    }
    EXPECT_EQ(closeTable(t), kOk);
}

} // namespace
