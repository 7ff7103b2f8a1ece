// Tables and compound indexes another FoxPro-family program wrote (copied to a scratch folder
// first), and files built by hand from the published layouts for what those samples lack:
// open, walk every tag both ways, seek every key, change, reread and verify.
#include "table_support.h"

#include "engine/dbf.h"
#include "engine/os.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <tuple>

using namespace engine;
using namespace enginetest;

namespace {

class Foreign : public EngineTest {
  protected:
    // Copies a sample table with its companion files into the scratch folder.
    std::string copySample(const std::string& base) {
        for (const char* ext : {".dbf", ".CDX", ".FPT"}) {
            const std::filesystem::path from = std::filesystem::path(FOREIGN_FIXTURES) / (base + ext);
            if (!std::filesystem::exists(from)) continue;
            writeFile(tmp.path(base + ext), readFile(from.string()));
        }
        return tmp.path(base + ".dbf");
    }

    Handle open(const std::string& path, std::uint32_t mode = kOpenExclusive) {
        Handle t = 0;
        EXPECT_EQ(openTable(0, path, "", kTypeCdx, kAnsi, 0, 1, mode, t), kOk) << path;
        return t;
    }

    // The records of a tag's order, walking forwards or backwards, at most limit steps.
    std::vector<std::uint32_t> walk(Handle t, Handle idx, bool backwards, Result& r, int limit = 1000) {
        std::vector<std::uint32_t> out;
        r = backwards ? gotoBottom(idx) : gotoTop(idx);
        for (int i = 0; r == kOk && i < limit; ++i) {
            bool end = false;
            backwards ? atBOF(t, end) : atEOF(t, end);
            std::uint32_t n = 0;
            getRecordNum(t, n);
            if (end && (!backwards || out.empty() || out.back() == n)) break;
            out.push_back(n);
            r = skip(idx, backwards ? -1 : 1);
            if (backwards) {
                atBOF(t, end);
                if (end) break;
            }
        }
        return out;
    }

    double number(Handle t, const char* field) {
        double v = 0;
        EXPECT_EQ(getDouble(t, field, v), kOk);
        return v;
    }

    // The verify call's lines but the note that calls.CDX has pages nothing reaches (an older
    // copy of a tag that the program that wrote it left there).
    static std::vector<std::string> disagreements(const std::vector<std::string>& lines) {
        std::vector<std::string> out;
        for (const std::string& line : lines)
            if (line.find("no tag and no free list reaches") == std::string::npos) out.push_back(line);
        return out;
    }

    void expectConsistent(Handle t) {
        std::vector<std::string> problems;
        EXPECT_EQ(verifyTable(t, problems), kOk);
        for (const std::string& p : disagreements(problems)) ADD_FAILURE() << p;
    }
};

} // namespace

TEST_F(Foreign, SamplesOpenWalkAndSeekEveryKey) {
    // calls: two tags on integer fields (4-byte keys), roots with attribute word 7.
    Handle t = open(copySample("calls"));
    std::uint32_t count = 0;
    ASSERT_EQ(getRecordCount(t, count), kOk);
    ASSERT_EQ(count, 16u);
    std::map<std::uint32_t, double> callId, contactId;
    for (std::uint32_t n = 1; n <= count; ++n) {
        ASSERT_EQ(gotoRecord(t, n), kOk);
        callId[n] = number(t, "CALL_ID");
        contactId[n] = number(t, "CONTACT_ID");
    }
    for (auto [tag, values] : {std::pair{"CALL_ID", &callId}, std::pair{"CONTACT_ID", &contactId}}) {
        SCOPED_TRACE(tag);
        Handle idx = 0;
        ASSERT_EQ(getIndexHandle(t, tag, idx), kOk);
        Result r = kOk;
        const auto forwards = walk(t, idx, false, r);
        ASSERT_EQ(r, kOk);
        ASSERT_EQ(forwards.size(), 16u);
        for (std::size_t i = 1; i < forwards.size(); ++i) {
            const double a = (*values)[forwards[i - 1]], b = (*values)[forwards[i]];
            EXPECT_TRUE(a < b || (a == b && forwards[i - 1] < forwards[i])) << i;
        }
        auto backwards = walk(t, idx, true, r);
        ASSERT_EQ(r, kOk);
        std::reverse(backwards.begin(), backwards.end());
        EXPECT_EQ(backwards, forwards);
        for (auto [n, v] : *values) {
            bool found = false;
            ASSERT_EQ(seek(idx, ExprValue::numeric(v), false, found), kOk);
            EXPECT_TRUE(found) << v;
            EXPECT_EQ(number(t, tag), v);
        }
        bool found = true;
        EXPECT_EQ(seek(idx, ExprValue::numeric(-7), false, found), kOk);
        EXPECT_FALSE(found);
    }
    expectConsistent(t);
    closeTable(t);

    // setup: a character tag of 50 bytes with trailing-blank compression.
    t = open(copySample("setup"));
    Handle idx = 0;
    ASSERT_EQ(getIndexHandle(t, "KEY_NAME", idx), kOk);
    Result r = kOk;
    const auto order = walk(t, idx, false, r);
    ASSERT_EQ(r, kOk);
    ASSERT_EQ(order.size(), 3u);
    std::string prev;
    for (std::uint32_t n : order) {
        ASSERT_EQ(gotoRecord(t, n), kOk);
        std::string name;
        ASSERT_EQ(getField(t, "KEY_NAME", name), kOk);
        EXPECT_LT(prev, name);
        prev = name;
        bool found = false;
        ASSERT_EQ(seek(idx, ExprValue::character(name), false, found), kOk);
        EXPECT_TRUE(found);
        std::uint32_t at = 0;
        getRecordNum(t, at);
        EXPECT_EQ(at, n);
    }
    expectConsistent(t);
    closeTable(t);
}

TEST_F(Foreign, ChangesReachTableAndIndexTogether) {
    const std::string path = copySample("calls");
    Handle t = open(path);
    Handle byId = 0, byContact = 0;
    ASSERT_EQ(getIndexHandle(t, "CALL_ID", byId), kOk);
    ASSERT_EQ(getIndexHandle(t, "CONTACT_ID", byContact), kOk);
    // Append, change a key, delete, and a negative integer key.
    ASSERT_EQ(appendRecord(t), kOk);
    ASSERT_EQ(setDouble(t, "CALL_ID", 17), kOk);
    ASSERT_EQ(setDouble(t, "CONTACT_ID", -3), kOk);
    ASSERT_EQ(setString(t, "SUBJECT", "appended here"), kOk);
    ASSERT_EQ(setString(t, "NOTES", "a memo of the new record"), kOk);
    ASSERT_EQ(gotoRecord(t, 5), kOk);
    ASSERT_EQ(setDouble(t, "CALL_ID", 100), kOk);
    ASSERT_EQ(gotoRecord(t, 2), kOk);
    ASSERT_EQ(deleteRecord(t), kOk);
    // A candidate tag refuses a key another record holds; nothing of the change is written.
    ASSERT_EQ(gotoRecord(t, 3), kOk);
    ASSERT_EQ(setDouble(t, "CALL_ID", 4), kOk);
    ASSERT_EQ(setString(t, "SUBJECT", "never written"), kOk);
    EXPECT_EQ(writeRecord(t), kDuplicateKey);
    EXPECT_EQ(number(t, "CALL_ID"), 3);
    std::string subject;
    getField(t, "SUBJECT", subject);
    EXPECT_EQ(subject.find("never"), std::string::npos);
    ASSERT_EQ(closeTable(t), kOk);

    // The header's year is two digits; the changed tag roots keep the FoxPro attribute word.
    const std::string dbf = readFile(path);
    int y, m, d;
    os::today(y, m, d);
    EXPECT_EQ(static_cast<unsigned char>(dbf[1]), y % 100);

    t = open(path);
    ASSERT_EQ(getIndexHandle(t, "CALL_ID", byId), kOk);
    ASSERT_EQ(getIndexHandle(t, "CONTACT_ID", byContact), kOk);
    bool found = false;
    ASSERT_EQ(seek(byId, ExprValue::numeric(100), false, found), kOk);
    std::uint32_t n = 0;
    getRecordNum(t, n);
    EXPECT_TRUE(found);
    EXPECT_EQ(n, 5u);
    ASSERT_EQ(seek(byId, ExprValue::numeric(5), false, found), kOk);
    EXPECT_FALSE(found);
    ASSERT_EQ(seek(byId, ExprValue::numeric(17), false, found), kOk);
    EXPECT_TRUE(found);
    std::string memo;
    ASSERT_EQ(getString(t, "NOTES", memo), kOk);
    EXPECT_EQ(memo, "a memo of the new record");
    // The negative key sorts first.
    ASSERT_EQ(gotoTop(byContact), kOk);
    EXPECT_EQ(number(t, "CONTACT_ID"), -3);
    Result r = kOk;
    EXPECT_EQ(walk(t, byId, false, r).size(), 17u);
    EXPECT_EQ(r, kOk);
    expectConsistent(t);
    closeTable(t);
}

TEST_F(Foreign, ATagThatDisagreesWithItsRecordNeverLoops) {
    // Record 1's CALL_ID changed behind the index's back: skipping from it must end.
    const std::string path = copySample("calls");
    std::string dbf = readFile(path);
    dbf[488 + 1] = 99;
    writeFile(path, dbf);
    Handle t = open(path, kOpenShared | kOpenReadOnly);
    Handle idx = 0;
    ASSERT_EQ(getIndexHandle(t, "CALL_ID", idx), kOk);
    ASSERT_EQ(gotoRecord(t, 1), kOk);
    Result r = kOk;
    int steps = 0;
    for (bool eof = false; r == kOk && !eof && steps < 100; ++steps) {
        r = skip(idx, 1);
        atEOF(t, eof);
    }
    EXPECT_TRUE(r == kIndexDamaged || steps <= 17) << r << " after " << steps;
    std::vector<std::string> problems;
    EXPECT_EQ(verifyTable(t, problems), kIndexDamaged);
    EXPECT_EQ(disagreements(problems).size(), 2u); // record 1 lacks 99; the entry 1 is stale
    closeTable(t);
}

TEST_F(Foreign, CutOffChangesAndOtherCollationsAreRefusedClearly) {
    const std::string path = copySample("calls");
    const std::string cdxPath = tmp.path("calls.CDX");
    const std::string cdx = readFile(cdxPath);

    // A change of table and index that did not end leaves its mark: out of date.
    std::string marked = cdx;
    marked[497] = 1;
    writeFile(cdxPath, marked);
    Handle t = 0;
    EXPECT_EQ(openTable(0, path, "", kTypeCdx, kAnsi, 0, 1, kOpenExclusive, t), kIndexOutOfDate);
    t = open(path, kOpenShared | kOpenReadOnly);
    std::vector<std::string> problems;
    EXPECT_EQ(verifyTable(t, problems), kIndexOutOfDate);
    closeTable(t);

    // A tag header naming something in its reserved bytes is of another collation: it is
    // walked, and changes that touch it are refused with the files left as they were.
    std::string other = cdx;
    other.replace(1536 + 64, 7, "GENERAL");
    writeFile(cdxPath, other);
    const std::string dbfBefore = readFile(path);
    t = open(path);
    Handle idx = 0;
    ASSERT_EQ(getIndexHandle(t, "CALL_ID", idx), kOk);
    Result r = kOk;
    EXPECT_EQ(walk(t, idx, false, r).size(), 16u);
    EXPECT_EQ(r, kOk);
    EXPECT_EQ(appendRecord(t), kIndexReadOnly);
    ASSERT_EQ(gotoRecord(t, 4), kOk);
    ASSERT_EQ(setDouble(t, "CALL_ID", 40), kOk);
    EXPECT_EQ(writeRecord(t), kIndexReadOnly);
    EXPECT_EQ(number(t, "CALL_ID"), 4);
    // A change that keeps the keys goes through.
    ASSERT_EQ(setString(t, "SUBJECT", "still writable"), kOk);
    EXPECT_EQ(writeRecord(t), kOk);
    closeTable(t);
    EXPECT_EQ(readFile(cdxPath), other);
    const std::string dbfAfter = readFile(path);
    const std::size_t subject = 488 + 3 * 283 + 25; // record 4's SUBJECT, 254 bytes
    EXPECT_EQ(dbfAfter.substr(4, subject - 4), dbfBefore.substr(4, subject - 4));
    EXPECT_EQ(dbfAfter.substr(subject, 14), "still writable");
    EXPECT_EQ(dbfAfter.substr(subject + 254), dbfBefore.substr(subject + 254));
}

TEST_F(Foreign, NullFlagsAndVarcharFieldsFromThePublishedLayout) {
    // A 0x30 table: NAME C(5) accepting NULL, CODE V(6), _NullFlags (bit 0: NAME is NULL,
    // bit 1: CODE's last byte is its length), two records.
    std::string h(32 + 3 * 32 + 1 + 263, '\0');
    h[0] = 0x30;
    h[1] = 26, h[2] = 1, h[3] = 2;
    h[4] = 2;
    h[8] = static_cast<char>(h.size() & 0xFF), h[9] = static_cast<char>(h.size() >> 8);
    h[10] = 1 + 5 + 6 + 1;
    h[29] = 3;
    auto field = [&](int i, const char* name, char type, int len, int flags) {
        std::size_t at = 32 + 32 * static_cast<std::size_t>(i);
        h.replace(at, std::strlen(name), name);
        h[at + 11] = type;
        h[at + 16] = static_cast<char>(len);
        h[at + 18] = static_cast<char>(flags);
    };
    field(0, "NAME", 'C', 5, 0x02);
    field(1, "CODE", 'V', 6, 0x00);
    field(2, "_NullFlags", '0', 1, 0x05);
    h[32 + 3 * 32] = 0x0D;
    const std::string rec1 = std::string(" ") + "     " + "ab   \x02" + "\x03";
    const std::string rec2 = std::string(" ") + "Jo   " + "abcdef" + "\x00";
    const std::string path = tmp.path("nulls.dbf");
    writeFile(path, h + rec1 + std::string(rec2.data(), 13) + "\x1A");

    Handle t = open(path);
    std::uint16_t fields = 0;
    ASSERT_EQ(getNumFields(t, fields), kOk);
    EXPECT_EQ(fields, 2); // _NullFlags is the table's own
    bool null = false;
    std::string text;
    ASSERT_EQ(gotoRecord(t, 1), kOk);
    ASSERT_EQ(isNull(t, "NAME", null), kOk);
    EXPECT_TRUE(null);
    ASSERT_EQ(getField(t, "NAME", text), kOk);
    EXPECT_EQ(text, "     ");
    ASSERT_EQ(getField(t, "CODE", text), kOk);
    EXPECT_EQ(text, "ab");
    ASSERT_EQ(gotoRecord(t, 2), kOk);
    ASSERT_EQ(isNull(t, "NAME", null), kOk);
    EXPECT_FALSE(null);
    ASSERT_EQ(getField(t, "CODE", text), kOk);
    EXPECT_EQ(text, "abcdef");
    // Writes: a value clears the null bit, a short varchar gets its length byte.
    ASSERT_EQ(gotoRecord(t, 1), kOk);
    ASSERT_EQ(setString(t, "NAME", "Ann"), kOk);
    ASSERT_EQ(gotoRecord(t, 2), kOk);
    ASSERT_EQ(setString(t, "CODE", "xyz"), kOk);
    ASSERT_EQ(setNull(t, "NAME"), kOk);
    EXPECT_EQ(setNull(t, "CODE"), kWrongType);
    ASSERT_EQ(closeTable(t), kOk);
    const std::string bytes = readFile(path);
    const std::size_t r1 = h.size(), r2 = h.size() + 13;
    EXPECT_EQ(bytes.substr(r1 + 1, 5), "Ann  ");
    EXPECT_EQ(bytes[r1 + 12], 0x02); // only CODE's length bit is left
    EXPECT_EQ(bytes.substr(r2 + 1, 5), "     ");
    EXPECT_EQ(bytes.substr(r2 + 6, 6), std::string("xyz  \x03", 6));
    EXPECT_EQ(bytes[r2 + 12], 0x03);

    // A tag on the varchar reads the value without its length byte; verify agrees.
    t = open(path);
    Handle idx = 0;
    ASSERT_EQ(createIndex(t, "", "CODE", "CODE", "", "", 0, idx), kOk);
    bool found = false;
    ASSERT_EQ(seek(idx, ExprValue::character("xyz"), false, found), kOk);
    EXPECT_TRUE(found);
    expectConsistent(t);
    closeTable(t);
}

TEST_F(Foreign, IntegerTagsWeCreateUseTheFourByteKeys) {
    const std::vector<FieldDef> fields = {{"N", 'I', 0, 0}, {"NAME", 'C', 8, 0}};
    Handle t = 0;
    ASSERT_EQ(createTable(tmp.path("ints"), "", kTypeCdx, kAnsi, fields, t), kOk);
    const std::vector<double> values = {5, -2000000000, 0, 7, -1, 2000000000, 256};
    for (double v : values) {
        ASSERT_EQ(appendRecord(t), kOk);
        ASSERT_EQ(setDouble(t, "N", v), kOk);
    }
    Handle idx = 0;
    ASSERT_EQ(createIndex(t, "", "N", "n", "", "", 0, idx), kOk);
    ASSERT_EQ(closeTable(t), kOk);
    // The tag's key length is 4 (header offset 12 of the tag header after the directory).
    const std::string cdx = readFile(tmp.path("ints.cdx"));
    EXPECT_EQ(le16(cdx, 1536 + 12), 4u);

    t = open(tmp.path("ints.dbf"));
    ASSERT_EQ(getIndexHandle(t, "N", idx), kOk);
    Result r = kOk;
    std::vector<double> seen;
    for (std::uint32_t n : walk(t, idx, false, r)) {
        gotoRecord(t, n);
        seen.push_back(number(t, "N"));
    }
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(seen, sorted);
    for (double v : values) {
        bool found = false;
        ASSERT_EQ(seek(idx, ExprValue::numeric(v), false, found), kOk);
        EXPECT_TRUE(found) << v;
    }
    expectConsistent(t);
    closeTable(t);
}

TEST_F(Foreign, VersionsAndHeaderDates) {
    dbf::Header h;
    std::vector<std::uint8_t> p(32, 0);
    p[0] = 0x30, p[2] = 4, p[3] = 28, p[8] = 65, p[10] = 2;
    for (auto [byte, year] : {std::pair{15, 2015}, {126, 2026}, {95, 1995}, {0, 2000}}) {
        p[1] = static_cast<std::uint8_t>(byte);
        ASSERT_EQ(dbf::readPrefix(p, h), dbf::Check::ok);
        EXPECT_EQ(h.year, year) << byte;
    }
    p[0] = 0x8C; // a dBase table of a later version
    EXPECT_EQ(dbf::readPrefix(p, h), dbf::Check::unsupported);
    std::string bytes(p.begin(), p.end());
    writeFile(tmp.path("dbase.dbf"), bytes + std::string(64, '\0'));
    Handle t = 0;
    EXPECT_EQ(openTable(0, tmp.path("dbase.dbf"), "", kTypeCdx, kAnsi, 0, 1, kOpenExclusive, t),
              kUnsupported);
}

TEST_F(Foreign, LongFieldNamesOfADatabaseContainer) {
    // The container: a table of objects; the table's Field rows, in OBJECTID order, give the
    // long names of its fields (the .dbf keeps them cut to 10 characters).
    const std::vector<FieldDef> objects = {{"OBJECTID", 'I', 0, 0},
                                           {"PARENTID", 'I', 0, 0},
                                           {"OBJECTTYPE", 'C', 10, 0},
                                           {"OBJECTNAME", 'C', 128, 0}};
    Handle db = 0;
    ASSERT_EQ(createTable(tmp.path("shop.dbc"), "", kTypeCdx, kAnsi, objects, db), kOk);
    const std::vector<std::tuple<int, int, const char*, const char*>> rows = {
        {1, 1, "Database", "Database"}, {5, 1, "Table", "contacts"}, {7, 5, "Field", "contact_type_id"},
        {6, 5, "Field", "contact_id"},  {9, 1, "Table", "other"},    {10, 9, "Field", "other_field"}};
    for (auto [id, parent, type, name] : rows) {
        ASSERT_EQ(appendRecord(db), kOk);
        setDouble(db, "OBJECTID", id);
        setDouble(db, "PARENTID", parent);
        setString(db, "OBJECTTYPE", type);
        setString(db, "OBJECTNAME", name);
    }
    ASSERT_EQ(closeTable(db), kOk);

    Handle t = 0;
    const std::vector<FieldDef> fields = {{"CONTACT_ID", 'I', 0, 0}, {"CONTACT_TY", 'I', 0, 0}};
    ASSERT_EQ(createTable(tmp.path("contacts"), "", kTypeCdx, kAnsi, fields, t), kOk);
    for (int i = 1; i <= 5; ++i) {
        ASSERT_EQ(appendRecord(t), kOk);
        setDouble(t, "CONTACT_ID", i);
        setDouble(t, "CONTACT_TY", 10 - i);
    }
    ASSERT_EQ(closeTable(t), kOk);
    // The backlink names the container.
    std::string dbf = readFile(tmp.path("contacts.dbf"));
    dbf.replace(32 + 2 * 32 + 1, 8, "shop.dbc");
    writeFile(tmp.path("contacts.dbf"), dbf);

    t = open(tmp.path("contacts.dbf"));
    Handle idx = 0;
    ASSERT_EQ(createIndex(t, "", "TYPE", "contact_type_id", "", "", 0, idx), kOk);
    ASSERT_EQ(closeTable(t), kOk);
    t = open(tmp.path("contacts.dbf"));
    ASSERT_EQ(getIndexHandle(t, "TYPE", idx), kOk);
    ASSERT_EQ(gotoRecord(t, 2), kOk);
    ASSERT_EQ(setDouble(t, "CONTACT_TY", 1), kOk);
    ASSERT_EQ(gotoTop(idx), kOk);
    std::uint32_t n = 0;
    getRecordNum(t, n);
    EXPECT_EQ(n, 2u);
    expectConsistent(t);
    closeTable(t);
}

TEST_F(Foreign, DatetimeTagsKeyTheTimeOfDayToo) {
    const std::vector<FieldDef> fields = {{"AT", 'T', 0, 0}, {"NAME", 'C', 4, 0}};
    Handle t = 0;
    ASSERT_EQ(createTable(tmp.path("stamps"), "", kTypeCdx, kAnsi, fields, t), kOk);
    for (int day : {2451547, 2451545, 2451546}) {
        ASSERT_EQ(appendRecord(t), kOk);
        ASSERT_EQ(setJulian(t, "AT", day), kOk);
    }
    Handle idx = 0;
    ASSERT_EQ(createIndex(t, "", "AT", "at", "", "", 0, idx), kOk);
    ASSERT_EQ(closeTable(t), kOk);
    // Noon on the first day of record 2 (the earliest), written behind the engine's back.
    const std::string path = tmp.path("stamps.dbf");
    std::string dbf = readFile(path);
    const std::size_t rec2 = 32 + 2 * 32 + 1 + 263 + 13;
    const std::uint32_t noon = 43200000;
    for (int i = 0; i < 4; ++i) dbf[rec2 + 1 + 4 + i] = static_cast<char>(noon >> (8 * i));
    t = open(path);
    ASSERT_EQ(getIndexHandle(t, "AT", idx), kOk);
    bool found = false;
    ASSERT_EQ(seek(idx, ExprValue::dateValue(2451546), false, found), kOk);
    EXPECT_TRUE(found);
    std::uint32_t n = 0;
    getRecordNum(t, n);
    EXPECT_EQ(n, 3u);
    expectConsistent(t);
    closeTable(t);
    writeFile(path, dbf);
    t = open(path, kOpenShared | kOpenReadOnly);
    std::vector<std::string> problems;
    EXPECT_EQ(verifyTable(t, problems), kIndexDamaged); // the tag holds the day without its noon
    closeTable(t);
}

TEST_F(Foreign, AutoincrementFieldsNumberAppendedRecords) {
    // A 0x31 table from the published layout: ID I autoincrement (flags 0x0C, next 78, step
    // 1), NAME C(4); no records yet.
    std::string h(32 + 2 * 32 + 1 + 263, '\0');
    h[0] = 0x31;
    h[1] = 2, h[2] = 8, h[3] = 2;
    h[8] = static_cast<char>(h.size() & 0xFF), h[9] = static_cast<char>(h.size() >> 8);
    h[10] = 1 + 4 + 4;
    h.replace(32, 2, "ID");
    h[32 + 11] = 'I', h[32 + 16] = 4, h[32 + 18] = 0x0C, h[32 + 19] = 78, h[32 + 23] = 1;
    h.replace(64, 4, "NAME");
    h[64 + 11] = 'C', h[64 + 16] = 4;
    h[96] = 0x0D;
    const std::string path = tmp.path("auto.dbf");
    writeFile(path, h + "\x1A");
    for (std::uint32_t mode : {kOpenExclusive, kOpenShared}) {
        Handle t = open(path, mode);
        ASSERT_EQ(appendRecord(t), kOk);
        ASSERT_EQ(appendRecord(t), kOk);
        ASSERT_EQ(closeTable(t), kOk);
    }
    const std::string bytes = readFile(path);
    EXPECT_EQ(le32(bytes, 32 + 19), 82u); // the next value moved past the four appended
    Handle t = open(path);
    for (std::uint32_t n = 1; n <= 4; ++n) {
        ASSERT_EQ(gotoRecord(t, n), kOk);
        EXPECT_EQ(number(t, "ID"), 77 + n);
    }
    closeTable(t);
}

TEST_F(Foreign, ATagThisEngineCannotEvaluateIsOnlyRead) {
    // setup's tag with a key expression of a function this engine does not know.
    const std::string path = copySample("setup");
    std::string cdx = readFile(tmp.path("setup.CDX"));
    ASSERT_EQ(cdx.substr(1536 + 512, 8), "key_name");
    cdx.replace(1536 + 512, 8, "kname(x)");
    writeFile(tmp.path("setup.CDX"), cdx);
    const std::string before = readFile(path);
    Handle t = open(path);
    Handle idx = 0;
    ASSERT_EQ(getIndexHandle(t, "KEY_NAME", idx), kOk);
    Result r = kOk;
    EXPECT_EQ(walk(t, idx, false, r).size(), 3u);
    EXPECT_EQ(r, kOk);
    auto back = walk(t, idx, true, r);
    EXPECT_EQ(back.size(), 3u);
    EXPECT_EQ(r, kOk);
    bool found = false;
    ASSERT_EQ(seek(idx, ExprValue::character("CONTACTS"), false, found), kOk);
    EXPECT_TRUE(found);
    EXPECT_EQ(appendRecord(t), kIndexReadOnly);
    ASSERT_EQ(setDouble(t, "VALUE", 99), kOk);
    EXPECT_EQ(writeRecord(t), kIndexReadOnly);
    std::vector<std::string> problems;
    EXPECT_EQ(verifyTable(t, problems), kNotAllChecked);
    EXPECT_EQ(problems.size(), 1u); // the note that its keys were not compared
    closeTable(t);
    EXPECT_EQ(readFile(path), before);
}

TEST_F(Foreign, ARefusedChangeLeavesTheMemoAsItWas) {
    const std::string path = copySample("calls");
    Handle t = open(path);
    ASSERT_EQ(gotoRecord(t, 3), kOk);
    std::string memo;
    ASSERT_EQ(getString(t, "NOTES", memo), kOk);
    ASSERT_FALSE(memo.empty());
    ASSERT_EQ(setString(t, "NOTES", "x"), kOk); // would fit the memo's own blocks
    ASSERT_EQ(setDouble(t, "CALL_ID", 4), kOk); // a key record 4 holds: refused
    EXPECT_EQ(writeRecord(t), kDuplicateKey);
    ASSERT_EQ(closeTable(t), kOk);
    t = open(path);
    ASSERT_EQ(gotoRecord(t, 3), kOk);
    std::string after;
    ASSERT_EQ(getString(t, "NOTES", after), kOk);
    EXPECT_EQ(after, memo);
    expectConsistent(t);
    closeTable(t);
}
