// Tables through the public interface: creating, writing, reading back, the bytes on disk,
// navigation, deleted records, and the refusals of bad input.
#include "table_support.h"

#include "engine/calendar.h"
#include "engine/os.h"

#include <cmath>

#include <filesystem>

using namespace engine;
using namespace enginetest;

namespace {

class Tables : public EngineTest {
  protected:
    Handle makeSample(const std::string& name = "people") {
        Handle t = 0;
        auto fields = sampleFields();
        EXPECT_EQ(createTable(tmp.path(name), "", kTypeCdx, kAnsi, fields, t), kOk);
        return t;
    }
    Handle open(const std::string& name, std::uint32_t mode = kOpenShared) {
        Handle t = 0;
        EXPECT_EQ(openTable(0, tmp.path(name), "", kTypeCdx, kAnsi, 1, 1, mode, t), kOk);
        return t;
    }
    // Appends n records NAME "N<i>", AMOUNT i * 1.5.
    void fill(Handle t, int n) {
        for (int i = 1; i <= n; ++i) {
            ASSERT_EQ(appendRecord(t), kOk);
            ASSERT_EQ(setString(t, "NAME", "N" + std::to_string(i)), kOk);
            ASSERT_EQ(setDouble(t, "AMOUNT", i * 1.5), kOk);
        }
    }
    std::string name(Handle t) {
        std::string s;
        getField(t, "NAME", s);
        return s;
    }
    std::uint32_t recno(Handle t) {
        std::uint32_t r = 0;
        getRecordNum(t, r);
        return r;
    }
    bool eof(Handle t) {
        bool e = false;
        atEOF(t, e);
        return e;
    }
    bool bof(Handle t) {
        bool b = false;
        atBOF(t, b);
        return b;
    }
};

} // namespace

TEST_F(Tables, ValuesOfEveryTypeReadBackAfterReopening) {
    Handle t = makeSample();
    const std::int32_t day = calendar::julian(2009, 1, 31);
    const std::string longText(5000, 'x');
    ASSERT_EQ(appendRecord(t), kOk);
    ASSERT_EQ(setString(t, "NAME", "Ana\xF1o"), kOk);
    ASSERT_EQ(setDouble(t, "AMOUNT", -1234.5), kOk);
    ASSERT_EQ(setJulian(t, "BORN", day), kOk);
    ASSERT_EQ(setLogical(t, "OK", true), kOk);
    ASSERT_EQ(setString(t, "NOTES", longText), kOk);
    ASSERT_EQ(appendRecord(t), kOk);
    ASSERT_EQ(setString(t, 1, "a name that is far too long"), kOk); // cut to 10
    ASSERT_EQ(setField(t, "AMOUNT", " 7.25"), kOk);
    ASSERT_EQ(setDateFormat("YYYYMMDD"), kOk);
    ASSERT_EQ(setField(t, "BORN", "19991231"), kOk);
    ASSERT_EQ(setDateFormat("DD-MM-YYYY"), kOk);
    ASSERT_EQ(setField(t, "OK", "F"), kOk);
    ASSERT_EQ(setString(t, "NOTES", std::string("with\0nul", 8)), kOk);
    ASSERT_EQ(appendRecord(t), kOk); // stays blank
    ASSERT_EQ(closeTable(t), kOk);

    t = open("people.dbf", kOpenShared | kOpenReadOnly);
    std::uint32_t count = 0;
    ASSERT_EQ(getRecordCount(t, count), kOk);
    EXPECT_EQ(count, 3u);
    std::string s;
    double d = 0;
    bool b = false;
    std::int32_t jd = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(gotoRecord(t, 1), kOk);
    EXPECT_EQ(getField(t, "NAME", s), kOk);
    EXPECT_EQ(s, "Ana\xF1o     ");
    EXPECT_EQ(getDouble(t, "AMOUNT", d), kOk);
    EXPECT_EQ(d, -1234.5);
    EXPECT_EQ(getField(t, "AMOUNT", s), kOk);
    EXPECT_EQ(s, "-1234.50");
    EXPECT_EQ(getJulian(t, "BORN", jd), kOk);
    EXPECT_EQ(jd, day);
    EXPECT_EQ(getField(t, "BORN", s), kOk);
    EXPECT_EQ(s, "31-01-2009");
    EXPECT_EQ(getLogical(t, "OK", b), kOk);
    EXPECT_TRUE(b);
    EXPECT_EQ(getMemoLength(t, "NOTES", len), kOk);
    EXPECT_EQ(len, 5000u);
    EXPECT_EQ(getString(t, "NOTES", s), kOk);
    EXPECT_EQ(s, longText);

    ASSERT_EQ(skip(t, 1), kOk);
    EXPECT_EQ(getField(t, "NAME", s), kOk);
    EXPECT_EQ(s, "a name tha");
    EXPECT_EQ(getDouble(t, "AMOUNT", d), kOk);
    EXPECT_EQ(d, 7.25);
    ASSERT_EQ(setDateFormat("YYYYMMDD"), kOk);
    EXPECT_EQ(getField(t, "BORN", s), kOk);
    EXPECT_EQ(s, "19991231");
    EXPECT_EQ(getLogical(t, "OK", b), kOk);
    EXPECT_FALSE(b);
    EXPECT_EQ(getString(t, "NOTES", s), kOk);
    EXPECT_EQ(s, std::string("with\0nul", 8));

    ASSERT_EQ(skip(t, 1), kOk);
    EXPECT_EQ(getField(t, "NAME", s), kOk);
    EXPECT_EQ(s, std::string(10, ' '));
    EXPECT_EQ(getField(t, "BORN", s), kOk);
    EXPECT_EQ(s, "        ");
    EXPECT_EQ(getJulian(t, "BORN", jd), kOk);
    EXPECT_EQ(jd, 0);
    EXPECT_EQ(getMemoLength(t, "NOTES", len), kOk);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(getDouble(t, "AMOUNT", d), kOk);
    EXPECT_EQ(d, 0);
}

// The bytes of a small table and its memo file against the published layouts.
TEST_F(Tables, FilesFollowTheLayout) {
    Handle t = makeSample("layout");
    ASSERT_EQ(appendRecord(t), kOk);
    ASSERT_EQ(setString(t, "NAME", "Alice"), kOk);
    ASSERT_EQ(setDouble(t, "AMOUNT", 12.5), kOk);
    ASSERT_EQ(setJulian(t, "BORN", calendar::julian(2024, 1, 31)), kOk);
    ASSERT_EQ(setLogical(t, "OK", true), kOk);
    ASSERT_EQ(setString(t, "NOTES", "hello"), kOk);
    ASSERT_EQ(appendRecord(t), kOk);
    ASSERT_EQ(deleteRecord(t), kOk);
    ASSERT_EQ(closeTable(t), kOk);

    const std::string dbf = readFile(tmp.path("layout.dbf"));
    const std::size_t header = 32 + 5 * 32 + 1 + 263;
    const std::size_t record = 1 + 10 + 8 + 8 + 1 + 4;
    ASSERT_EQ(dbf.size(), header + 2 * record + 1);
    EXPECT_EQ(static_cast<unsigned char>(dbf[0]), 0x30);
    int y, m, d;
    os::today(y, m, d);
    EXPECT_EQ(static_cast<unsigned char>(dbf[1]), y % 100);
    EXPECT_EQ(dbf[2], m);
    EXPECT_EQ(dbf[3], d);
    EXPECT_EQ(le32(dbf, 4), 2u);
    EXPECT_EQ(le16(dbf, 8), header);
    EXPECT_EQ(le16(dbf, 10), record);
    EXPECT_EQ(dbf[28], 0x02); // memo, no structural index
    EXPECT_EQ(dbf[29], 0x03); // Windows ANSI
    struct Expect {
        const char* name;
        char type;
        std::uint32_t offset;
        int len, dec;
    } fields[] = {{"NAME", 'C', 1, 10, 0},
                  {"AMOUNT", 'N', 11, 8, 2},
                  {"BORN", 'D', 19, 8, 0},
                  {"OK", 'L', 27, 1, 0},
                  {"NOTES", 'M', 28, 4, 0}};
    for (int i = 0; i < 5; ++i) {
        const std::size_t at = 32 + 32 * static_cast<std::size_t>(i);
        std::string nameBytes(fields[i].name);
        nameBytes.resize(11, '\0');
        EXPECT_EQ(dbf.substr(at, 11), nameBytes);
        EXPECT_EQ(dbf[at + 11], fields[i].type);
        EXPECT_EQ(le32(dbf, at + 12), fields[i].offset);
        EXPECT_EQ(static_cast<unsigned char>(dbf[at + 16]), fields[i].len);
        EXPECT_EQ(dbf[at + 17], fields[i].dec);
    }
    EXPECT_EQ(dbf[32 + 5 * 32], 0x0D);
    EXPECT_EQ(dbf.substr(32 + 5 * 32 + 1, 263), std::string(263, '\0'));
    EXPECT_EQ(dbf.substr(header, record - 4), " Alice        12.5020240131T");
    EXPECT_EQ(le32(dbf, header + 28), 8u); // first block after the 512-byte memo header
    EXPECT_EQ(dbf.substr(header + record, 1), "*");
    EXPECT_EQ(dbf.substr(header + record + 1, 10), std::string(10, ' '));
    EXPECT_EQ(le32(dbf, header + record + 28), 0u);
    EXPECT_EQ(static_cast<unsigned char>(dbf.back()), 0x1A);

    const std::string fpt = readFile(tmp.path("layout.fpt"));
    ASSERT_EQ(fpt.size(), 512u + 64);
    EXPECT_EQ(be32(fpt, 0), 9u); // next free block
    EXPECT_EQ(fpt[6], 0);
    EXPECT_EQ(fpt[7], 64);         // block size, big-endian
    EXPECT_EQ(be32(fpt, 512), 1u); // text
    EXPECT_EQ(be32(fpt, 516), 5u);
    EXPECT_EQ(fpt.substr(520, 5), "hello");
    EXPECT_EQ(fpt.substr(525), std::string(64 - 13, '\0'));
}

TEST_F(Tables, MemosGrowMoveAndShrinkInPlace) {
    Handle t = makeSample();
    ASSERT_EQ(appendRecord(t), kOk);
    ASSERT_EQ(setString(t, "NOTES", "short"), kOk);
    ASSERT_EQ(writeRecord(t), kOk);
    const auto sizeAfterFirst = std::filesystem::file_size(tmp.path("people.fpt"));
    ASSERT_EQ(setString(t, "NOTES", "still short"), kOk); // fits the same block
    ASSERT_EQ(writeRecord(t), kOk);
    EXPECT_EQ(std::filesystem::file_size(tmp.path("people.fpt")), sizeAfterFirst);
    ASSERT_EQ(setString(t, "NOTES", std::string(1000, 'y')), kOk); // moves to the end
    ASSERT_EQ(writeRecord(t), kOk);
    EXPECT_EQ(std::filesystem::file_size(tmp.path("people.fpt")), sizeAfterFirst + 16 * 64);
    ASSERT_EQ(setString(t, "NOTES", "tiny"), kOk);
    ASSERT_EQ(setString(t, "NOTES", ""), kOk);
    std::uint32_t len = 7;
    ASSERT_EQ(getMemoLength(t, "NOTES", len), kOk);
    EXPECT_EQ(len, 0u);
    ASSERT_EQ(setString(t, "NOTES", "again"), kOk);
    ASSERT_EQ(closeTable(t), kOk);
    t = open("people");
    std::string s;
    ASSERT_EQ(getString(t, "NOTES", s), kOk);
    EXPECT_EQ(s, "again");
}

TEST_F(Tables, StructureByNameAndPosition) {
    Handle t = makeSample();
    std::uint16_t n = 0;
    ASSERT_EQ(getNumFields(t, n), kOk);
    EXPECT_EQ(n, 5);
    std::string s;
    char type = 0;
    std::uint32_t len = 0;
    std::uint16_t dec = 0;
    EXPECT_EQ(getFieldName(t, 2, s), kOk);
    EXPECT_EQ(s, "AMOUNT");
    EXPECT_EQ(getFieldType(t, 2, type), kOk);
    EXPECT_EQ(type, 'N');
    EXPECT_EQ(getFieldLength(t, "amount", len), kOk);
    EXPECT_EQ(len, 8u);
    EXPECT_EQ(getFieldDecimals(t, "people->AMOUNT", dec), kOk);
    EXPECT_EQ(dec, 2);
    EXPECT_EQ(getFieldType(t, 5, type), kOk);
    EXPECT_EQ(type, 'M');
    EXPECT_EQ(getFieldName(t, 6, s), kUnknownField);
    EXPECT_EQ(getFieldName(t, 0, s), kUnknownField);
    EXPECT_EQ(getFieldType(t, "NOPE", type), kUnknownField);
    std::uint16_t tableType = 0;
    EXPECT_EQ(getTableType(t, tableType), kOk);
    EXPECT_EQ(tableType, 2);
}

TEST_F(Tables, NaturalOrderNavigation) {
    Handle t = makeSample();
    fill(t, 5);
    ASSERT_EQ(gotoTop(t), kOk);
    EXPECT_EQ(recno(t), 1u);
    EXPECT_FALSE(bof(t));
    ASSERT_EQ(skip(t, -1), kOk); // before the first: begin flag, still on record 1
    EXPECT_TRUE(bof(t));
    EXPECT_EQ(recno(t), 1u);
    ASSERT_EQ(skip(t, 3), kOk);
    EXPECT_EQ(recno(t), 4u);
    EXPECT_FALSE(bof(t));
    ASSERT_EQ(skip(t, 10), kOk); // past the end
    EXPECT_TRUE(eof(t));
    EXPECT_EQ(recno(t), 6u);
    EXPECT_EQ(skip(t, 1), kNoCurrentRecord);
    ASSERT_EQ(skip(t, -1), kOk);
    EXPECT_EQ(recno(t), 5u);
    ASSERT_EQ(gotoBottom(t), kOk);
    EXPECT_EQ(name(t), "N5        ");
    ASSERT_EQ(gotoRecord(t, 3), kOk);
    EXPECT_EQ(name(t), "N3        ");
    ASSERT_EQ(skip(t, 0), kOk);
    EXPECT_EQ(recno(t), 3u);
    ASSERT_EQ(gotoRecord(t, 0), kOk);
    EXPECT_TRUE(eof(t));
    ASSERT_EQ(gotoRecord(t, 99), kOk);
    EXPECT_TRUE(eof(t));
    EXPECT_EQ(recno(t), 6u);
}

TEST_F(Tables, EmptyTableIsAtBothEnds) {
    Handle t = makeSample();
    ASSERT_EQ(gotoTop(t), kOk);
    EXPECT_TRUE(bof(t));
    EXPECT_TRUE(eof(t));
    EXPECT_EQ(recno(t), 1u);
    EXPECT_EQ(skip(t, 1), kNoCurrentRecord);
    ASSERT_EQ(skip(t, -1), kOk);
    EXPECT_TRUE(eof(t));
    ASSERT_EQ(gotoBottom(t), kOk);
    EXPECT_TRUE(bof(t) && eof(t));
}

TEST_F(Tables, PastTheEndReadsBlanksAndRefusesWrites) {
    Handle t = makeSample();
    fill(t, 1);
    ASSERT_EQ(gotoRecord(t, 0), kOk);
    std::string s = "x";
    double d = 1;
    bool b = true;
    std::uint32_t len = 1;
    std::int32_t jd = 1;
    EXPECT_EQ(getField(t, "NAME", s), kNoCurrentRecord);
    EXPECT_EQ(s, std::string(10, ' '));
    EXPECT_EQ(getDouble(t, "AMOUNT", d), kNoCurrentRecord);
    EXPECT_EQ(d, 0);
    EXPECT_EQ(getLogical(t, "OK", b), kNoCurrentRecord);
    EXPECT_FALSE(b);
    EXPECT_EQ(getMemoLength(t, "NOTES", len), kNoCurrentRecord);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(getJulian(t, "BORN", jd), kNoCurrentRecord);
    EXPECT_EQ(setString(t, "NAME", "x"), kNoCurrentRecord);
    EXPECT_EQ(deleteRecord(t), kNoCurrentRecord);
    EXPECT_EQ(isDeleted(t, b), kNoCurrentRecord);
}

TEST_F(Tables, DeletedRecordsHiddenWhileShowDeletedIsOff) {
    Handle t = makeSample();
    fill(t, 6);
    for (std::uint32_t r : {1u, 3u, 4u, 6u}) {
        ASSERT_EQ(gotoRecord(t, r), kOk);
        ASSERT_EQ(deleteRecord(t), kOk);
    }
    ASSERT_EQ(showDeleted(false), kOk);
    ASSERT_EQ(gotoTop(t), kOk);
    EXPECT_EQ(recno(t), 2u);
    ASSERT_EQ(skip(t, 1), kOk);
    EXPECT_EQ(recno(t), 5u);
    ASSERT_EQ(skip(t, 1), kOk);
    EXPECT_TRUE(eof(t));
    ASSERT_EQ(skip(t, -1), kOk);
    EXPECT_EQ(recno(t), 5u);
    ASSERT_EQ(skip(t, -1), kOk);
    EXPECT_EQ(recno(t), 2u);
    ASSERT_EQ(skip(t, -1), kOk);
    EXPECT_TRUE(bof(t));
    EXPECT_EQ(recno(t), 2u);
    ASSERT_EQ(gotoBottom(t), kOk);
    EXPECT_EQ(recno(t), 5u);
    // Going to a record by number still reaches a deleted one; counts stay physical.
    ASSERT_EQ(gotoRecord(t, 3), kOk);
    bool del = false;
    ASSERT_EQ(isDeleted(t, del), kOk);
    EXPECT_TRUE(del);
    std::uint32_t count = 0;
    ASSERT_EQ(getRecordCount(t, count), kOk);
    EXPECT_EQ(count, 6u);
    ASSERT_EQ(recallRecord(t), kOk);
    ASSERT_EQ(gotoTop(t), kOk);
    EXPECT_EQ(recno(t), 2u);
    ASSERT_EQ(skip(t, 1), kOk);
    EXPECT_EQ(recno(t), 3u);
    // Everything deleted: both ends at once.
    for (std::uint32_t r : {2u, 3u, 5u}) {
        ASSERT_EQ(gotoRecord(t, r), kOk);
        ASSERT_EQ(deleteRecord(t), kOk);
    }
    ASSERT_EQ(gotoTop(t), kOk);
    EXPECT_TRUE(eof(t) && bof(t));
    ASSERT_EQ(showDeleted(true), kOk);
    ASSERT_EQ(gotoTop(t), kOk);
    EXPECT_EQ(recno(t), 1u);
}

TEST_F(Tables, BadValuesAreRefusedAndLeaveTheRecordAlone) {
    Handle t = makeSample();
    fill(t, 1);
    double d = 0;
    EXPECT_EQ(setDouble(t, "AMOUNT", 123456.0), kNumberRefused); // N(8,2) holds 99999.99
    EXPECT_EQ(setDouble(t, "AMOUNT", std::nan("")), kNumberRefused);
    EXPECT_EQ(setField(t, "AMOUNT", "12abc"), kBadValue);
    ASSERT_EQ(getDouble(t, "AMOUNT", d), kOk);
    EXPECT_EQ(d, 1.5);
    EXPECT_EQ(setDouble(t, "NAME", 1), kWrongType);
    EXPECT_EQ(setLogical(t, "AMOUNT", true), kWrongType);
    EXPECT_EQ(setJulian(t, "OK", 2451545), kWrongType);
    EXPECT_EQ(setJulian(t, "BORN", 99), kBadValue);
    EXPECT_EQ(setField(t, "BORN", "31/02/09"), kBadValue);
    EXPECT_EQ(setField(t, "OK", "maybe"), kBadValue);
    EXPECT_EQ(getDouble(t, "NAME", d), kWrongType);
    bool b = false;
    EXPECT_EQ(getLogical(t, "NAME", b), kWrongType);
    std::uint32_t len = 0;
    EXPECT_EQ(getMemoLength(t, "NAME", len), kWrongType);
    EXPECT_EQ(setString(t, "MISSING", "x"), kUnknownField);
    EXPECT_EQ(setField(t, 0, "x"), kUnknownField);
    EXPECT_EQ(setField(t, -3, "x"), kUnknownField);
    ASSERT_EQ(setField(t, "AMOUNT", ""), kOk); // blank number
    std::string s;
    ASSERT_EQ(getField(t, "AMOUNT", s), kOk);
    EXPECT_EQ(s, std::string(8, ' '));
    Result code = 0;
    ASSERT_EQ(setDouble(t, "AMOUNT", 1e9), kNumberRefused);
    ASSERT_EQ(getLastError(code, s), kOk);
    EXPECT_EQ(code, kNumberRefused);
    EXPECT_NE(s.find("AMOUNT"), std::string::npos);
}

TEST_F(Tables, HandlesAreCheckedNotTrusted) {
    Handle t = makeSample();
    std::uint32_t count = 0;
    EXPECT_EQ(getRecordCount(0, count), kBadHandle);
    EXPECT_EQ(getRecordCount(t + 1, count), kBadHandle);
    EXPECT_EQ(getRecordCount(~t, count), kBadHandle);
    EXPECT_EQ(closeTable(t), kOk);
    EXPECT_EQ(getRecordCount(t, count), kBadHandle);
    EXPECT_EQ(closeTable(t), kBadHandle);
    EXPECT_EQ(appendRecord(t), kBadHandle);
    Handle t2 = open("people"); // may reuse the slot: the old handle stays dead
    EXPECT_EQ(getRecordCount(t, count), kBadHandle);
    EXPECT_EQ(getRecordCount(t2, count), kOk);
    std::string s;
    EXPECT_EQ(getIndexName(t2, s), kBadHandle); // a table handle is not an index handle
    EXPECT_EQ(applicationExit(), kOk);
    EXPECT_EQ(getRecordCount(t2, count), kBadHandle);
}

TEST_F(Tables, OpenArgumentsAndNames) {
    Handle t = makeSample("Mixed");
    ASSERT_EQ(closeTable(t), kOk);
    Handle h = 0;
    EXPECT_EQ(openTable(0, tmp.path("nothere"), "", kTypeCdx, kAnsi, 1, 1, kOpenShared, h), kFileNotFound);
    EXPECT_EQ(openTable(0, tmp.path("Mixed"), "", kTypeNtx, kAnsi, 1, 1, kOpenShared, h), kUnsupported);
    EXPECT_EQ(openTable(0, tmp.path("Mixed"), "", kTypeAdt, kAnsi, 1, 1, kOpenShared, h), kUnsupported);
    EXPECT_EQ(openTable(0, tmp.path("Mixed"), "", 9, kAnsi, 1, 1, kOpenShared, h), kBadArgument);
    EXPECT_EQ(openTable(0, tmp.path("Mixed"), "", kTypeCdx, kAnsi, 1, 1, kOpenShared | kOpenExclusive, h),
              kBadArgument);
    EXPECT_EQ(openTable(0, tmp.path("Mixed"), "", kTypeCdx, kAnsi, 1, 1, kOpenReadOnly, h), kBadArgument);
    EXPECT_EQ(openTable(0, tmp.path("Mixed"), "", kTypeCdx, kAnsi, 1, 1, 64 | kOpenShared, h), kBadArgument);
    EXPECT_EQ(openTable(7, tmp.path("Mixed"), "", kTypeCdx, kAnsi, 1, 1, kOpenShared, h), kBadHandle);
    EXPECT_EQ(openTable(0, "", "", kTypeCdx, kAnsi, 1, 1, kOpenShared, h), kBadArgument);
    EXPECT_EQ(openTable(0, std::string(400, 'a'), "", kTypeCdx, kAnsi, 1, 1, kOpenShared, h), kNameTooLong);
    EXPECT_EQ(openTable(0, tmp.path("Mixed"), std::string(200, 'a'), kTypeCdx, kAnsi, 1, 1, kOpenShared, h),
              kNameTooLong);
    // Other case, with and without extension; the default folder; the search path.
    ASSERT_EQ(openTable(0, tmp.path("MIXED.DBF"), "", 0, kAnsi, 1, 1, kOpenShared, h), kOk);
    ASSERT_EQ(closeTable(h), kOk);
    ASSERT_EQ(setDefault(tmp.dir()), kOk);
    ASSERT_EQ(openTable(0, "mixed", "", kTypeCdx, kAnsi, 1, 1, kOpenShared, h), kOk);
    ASSERT_EQ(closeTable(h), kOk);
    ASSERT_EQ(setDefault(tmp.path("sub")), kOk);
    EXPECT_EQ(openTable(0, "mixed", "", kTypeCdx, kAnsi, 1, 1, kOpenShared, h), kFileNotFound);
    ASSERT_EQ(setSearchPath(tmp.path("elsewhere") + ";" + tmp.dir()), kOk);
    ASSERT_EQ(openTable(0, "mixed", "", kTypeCdx, kAnsi, 1, 1, kOpenShared, h), kOk);
}

TEST_F(Tables, CompanionFilesAreFoundWhateverTheirCase) {
    Handle t = 0;
    auto fields = sampleFields();
    ASSERT_EQ(createTable(tmp.path("UPPER.DBF"), "", kTypeCdx, kAnsi, fields, t), kOk);
    ASSERT_EQ(appendRecord(t), kOk);
    ASSERT_EQ(setString(t, "NOTES", "in the memo"), kOk);
    Handle idx = 0;
    ASSERT_EQ(createIndex(t, "", "NAME", "NAME", "", "", kIndexCompound, idx), kOk);
    ASSERT_EQ(closeTable(t), kOk);
    EXPECT_TRUE(std::filesystem::exists(tmp.path("UPPER.FPT")));
    EXPECT_TRUE(std::filesystem::exists(tmp.path("UPPER.CDX")));
    // Files copied from elsewhere under other spellings.
    std::filesystem::rename(tmp.path("UPPER.DBF"), tmp.path("Mixed.dbf"));
    std::filesystem::rename(tmp.path("UPPER.FPT"), tmp.path("MIXED.fpt"));
    std::filesystem::rename(tmp.path("UPPER.CDX"), tmp.path("mixed.CDX"));
    ASSERT_EQ(openTable(0, tmp.path("MIXED"), "", kTypeCdx, kAnsi, 1, 1, kOpenShared, t), kOk);
    std::string s;
    ASSERT_EQ(getString(t, "NOTES", s), kOk);
    EXPECT_EQ(s, "in the memo");
    std::uint16_t n = 0;
    ASSERT_EQ(getNumIndexes(t, n), kOk);
    EXPECT_EQ(n, 1);
}

TEST_F(Tables, CreateChecksTheFields) {
    Handle t = 0;
    std::vector<FieldDef> none;
    EXPECT_EQ(createTable(tmp.path("a"), "", kTypeCdx, kAnsi, none, t), kBadField);
    std::vector<FieldDef> dup = {{"A", 'C', 5, 0}, {"a", 'N', 5, 0}};
    EXPECT_EQ(createTable(tmp.path("a"), "", kTypeCdx, kAnsi, dup, t), kBadField);
    std::vector<FieldDef> longName = {{"ABCDEFGHIJK", 'C', 5, 0}};
    EXPECT_EQ(createTable(tmp.path("a"), "", kTypeCdx, kAnsi, longName, t), kNameTooLong);
    std::vector<FieldDef> badType = {{"A", 'Q', 5, 0}};
    EXPECT_EQ(createTable(tmp.path("a"), "", kTypeCdx, kAnsi, badType, t), kBadField);
    std::vector<FieldDef> ok = {{"A", 'C', 5, 0}};
    EXPECT_EQ(createTable(tmp.path("a"), "", kTypeNtx, kAnsi, ok, t), kUnsupported);
    EXPECT_FALSE(std::filesystem::exists(tmp.path("a.dbf")));
    std::vector<FieldDef> wide(256, FieldDef{"X", 'C', 254, 0});
    for (std::size_t i = 0; i < wide.size(); ++i) wide[i].name = "F" + std::to_string(i);
    EXPECT_EQ(createTable(tmp.path("a"), "", kTypeCdx, kAnsi, wide, t), kBadField); // 256 fields
    wide.pop_back();
    ASSERT_EQ(createTable(tmp.path("wide"), "", kTypeCdx, kAnsi, wide, t), kOk); // 64771-byte records
    ASSERT_EQ(appendRecord(t), kOk);
    ASSERT_EQ(setString(t, 255, "last"), kOk);
    ASSERT_EQ(closeTable(t), kOk);
    ASSERT_EQ(createTable(tmp.path("a"), "", kTypeCdx, kAnsi, ok, t), kOk);
    // Replacing a table that is open is refused and leaves it as it was.
    Handle other = 0;
    ASSERT_EQ(appendRecord(t), kOk);
    ASSERT_EQ(writeRecord(t), kOk);
    EXPECT_EQ(createTable(tmp.path("a"), "", kTypeCdx, kAnsi, ok, other), kOpenConflict);
    ASSERT_EQ(closeTable(t), kOk);
    EXPECT_EQ(le32(readFile(tmp.path("a.dbf")), 4), 1u);
}

TEST_F(Tables, ReadOnlyOpensRefuseChanges) {
    Handle t = makeSample();
    fill(t, 2);
    ASSERT_EQ(closeTable(t), kOk);
    t = open("people", kOpenShared | kOpenReadOnly);
    EXPECT_EQ(appendRecord(t), kReadOnly);
    EXPECT_EQ(setString(t, "NAME", "x"), kReadOnly);
    EXPECT_EQ(deleteRecord(t), kReadOnly);
    Handle idx = 0;
    EXPECT_EQ(createIndex(t, "", "NAME", "NAME", "", "", kIndexCompound, idx), kReadOnly);
    EXPECT_EQ(lockRecord(t, 1), kOk); // locks are still possible
    EXPECT_EQ(name(t), "N1        ");
}

TEST_F(Tables, SettingsAreCheckedAndKept) {
    EXPECT_EQ(setDateFormat("XX"), kBadArgument);
    EXPECT_EQ(setDateFormat(std::string(40, 'D')), kBadArgument);
    std::string f;
    ASSERT_EQ(getDateFormat(f), kOk);
    EXPECT_EQ(f, "MM/DD/YY");
    ASSERT_EQ(setDateFormat("dd-mm-yyyy"), kOk);
    ASSERT_EQ(getDateFormat(f), kOk);
    EXPECT_EQ(f, "dd-mm-yyyy");
    EXPECT_EQ(setEpoch(10000), kBadArgument);
    ASSERT_EQ(setEpoch(1950), kOk);
    std::uint16_t e = 0;
    ASSERT_EQ(getEpoch(e), kOk);
    EXPECT_EQ(e, 1950);
    EXPECT_EQ(setServerType(1), kOk);
    EXPECT_EQ(setServerType(7), kOk);
    EXPECT_EQ(setServerType(2), kUnsupported);
    std::uint32_t major = 0, minor = 0;
    char letter = 0;
    std::string desc;
    ASSERT_EQ(getVersion(major, minor, letter, desc), kOk);
    EXPECT_EQ(major, 1u);
    EXPECT_FALSE(desc.empty());
    std::string shown;
    setErrorDisplay([&](std::string_view text) { shown = std::string(text); });
    ASSERT_EQ(showError("Error in pLockInfo->uiMethod"), kOk);
    EXPECT_EQ(shown, "Error in pLockInfo->uiMethod");
    setErrorDisplay(nullptr);
}

TEST_F(Tables, ManyAppendsInOneExclusiveOpen) {
    Handle t = makeSample();
    fill(t, 3000); // more than one buffer of appended records
    std::uint32_t count = 0;
    ASSERT_EQ(getRecordCount(t, count), kOk);
    EXPECT_EQ(count, 3000u);
    ASSERT_EQ(gotoRecord(t, 1234), kOk);
    EXPECT_EQ(name(t), "N1234     ");
    ASSERT_EQ(closeTable(t), kOk);
    const std::string bytes = readFile(tmp.path("people.dbf"));
    EXPECT_EQ(le32(bytes, 4), 3000u);
    EXPECT_EQ(bytes.size(), 456u + 3000u * 32u + 1u);
    t = open("people");
    double d = 0;
    for (std::uint32_t r : {1u, 1500u, 3000u}) {
        ASSERT_EQ(gotoRecord(t, r), kOk);
        ASSERT_EQ(getDouble(t, "AMOUNT", d), kOk);
        EXPECT_EQ(d, r * 1.5);
    }
}
