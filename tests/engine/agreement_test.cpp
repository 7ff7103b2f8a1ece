// A table and its indexes keep agreeing through ordinary use and through damage they meet:
// unique and candidate tags, blank records, the free page list, a missing structural index,
// tags this engine can only read, and what the verify call may call consistent.
#include "spawn.h"
#include "table_support.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>

using namespace engine;
using namespace enginetest;

namespace {

class Agreement : public EngineTest {
  protected:
    // Copies a sample table with its companion files into the scratch folder.
    std::string copySample(const std::string& base) {
        for (const char* ext : {".dbf", ".CDX", ".FPT"}) {
            const std::filesystem::path from = std::filesystem::path(FOREIGN_FIXTURES) / (base + ext);
            if (std::filesystem::exists(from)) writeFile(tmp.path(base + ext), readFile(from.string()));
        }
        return tmp.path(base + ".dbf");
    }

    Handle open(const std::string& path, std::uint32_t mode) {
        Handle t = 0;
        EXPECT_EQ(openTable(0, path, "", kTypeCdx, kAnsi, 0, 1, mode, t), kOk) << path;
        return t;
    }

    // The (key text, record) pairs of a character tag in its order.
    std::vector<std::pair<std::string, std::uint32_t>> entries(Handle t, Handle idx, const char* field) {
        std::vector<std::pair<std::string, std::uint32_t>> out;
        EXPECT_EQ(gotoTop(idx), kOk);
        for (int i = 0; i < 1000; ++i) {
            bool eof = false;
            atEOF(t, eof);
            if (eof) break;
            std::uint32_t n = 0;
            getRecordNum(t, n);
            std::string v;
            getField(t, field, v);
            while (!v.empty() && v.back() == ' ') v.pop_back();
            out.emplace_back(v, n);
            if (skip(idx, 1) != kOk) break;
        }
        return out;
    }

    std::uint32_t count(Handle t) {
        std::uint32_t n = 0;
        EXPECT_EQ(getRecordCount(t, n), kOk);
        return n;
    }

    // The verify call's answer, every line it gave passed to the test's log.
    Result verified(Handle t, std::vector<std::string>* lines = nullptr) {
        std::vector<std::string> problems;
        const Result r = verifyTable(t, problems);
        for (const std::string& p : problems) std::printf("  verify: %s\n", p.c_str());
        if (lines) *lines = problems;
        return r;
    }

    std::string lastError() {
        Result code = 0;
        std::string text;
        getLastError(code, text);
        return text;
    }
};

const char* modeName(std::uint32_t mode) {
    return mode == kOpenShared ? "shared" : "exclusive";
}

} // namespace

TEST_F(Agreement, AUniqueTagKeepsEachKeyWithTheLowestRecordHoldingIt) {
    for (std::uint32_t mode : {kOpenExclusive, kOpenShared}) {
        SCOPED_TRACE(modeName(mode));
        const std::string path = tmp.path(std::string("uniq_") + modeName(mode));
        Handle t = 0;
        const std::vector<FieldDef> fields = {{"NAME", 'C', 6, 0}, {"N", 'N', 4, 0}};
        ASSERT_EQ(createTable(path, "", kTypeCdx, kAnsi, fields, t), kOk);
        for (const char* name : {"A", "A", "C", "A"}) {
            ASSERT_EQ(appendRecord(t), kOk);
            ASSERT_EQ(setString(t, "NAME", name), kOk);
        }
        Handle idx = 0, live = 0;
        ASSERT_EQ(createIndex(t, "", "ONCE", "NAME", "", "", kIndexCompound | kIndexUnique, idx), kOk);
        ASSERT_EQ(createIndex(t, "", "LIVE", "NAME", "!DELETED()", "", kIndexCompound | kIndexUnique, live),
                  kOk);
        ASSERT_EQ(closeTable(t), kOk);
        t = open(path + ".dbf", mode);
        ASSERT_EQ(getIndexHandle(t, "ONCE", idx), kOk);
        ASSERT_EQ(getIndexHandle(t, "LIVE", live), kOk);
        using E = std::vector<std::pair<std::string, std::uint32_t>>;
        EXPECT_EQ(entries(t, idx, "NAME"), (E{{"A", 1}, {"C", 3}}));

        // The record holding the entry leaves the key: the entry goes to the next record
        // holding it.
        ASSERT_EQ(gotoRecord(t, 1), kOk);
        ASSERT_EQ(setString(t, "NAME", "B"), kOk);
        ASSERT_EQ(writeRecord(t), kOk);
        bool found = false;
        ASSERT_EQ(seek(idx, ExprValue::character("A"), false, found), kOk);
        EXPECT_TRUE(found);
        EXPECT_EQ(entries(t, idx, "NAME"), (E{{"A", 2}, {"B", 1}, {"C", 3}}));
        // A record below the one holding the entry takes the key: the entry moves to it.
        ASSERT_EQ(gotoRecord(t, 1), kOk);
        ASSERT_EQ(setString(t, "NAME", "A"), kOk);
        ASSERT_EQ(writeRecord(t), kOk);
        EXPECT_EQ(entries(t, idx, "NAME"), (E{{"A", 1}, {"C", 3}}));
        // One above it: nothing moves.
        ASSERT_EQ(gotoRecord(t, 3), kOk);
        ASSERT_EQ(setString(t, "NAME", "A"), kOk);
        ASSERT_EQ(writeRecord(t), kOk);
        EXPECT_EQ(entries(t, idx, "NAME"), (E{{"A", 1}}));
        // Leaving through the FOR condition: the entry goes to the next record the condition
        // takes.
        ASSERT_EQ(gotoRecord(t, 1), kOk);
        ASSERT_EQ(deleteRecord(t), kOk);
        ASSERT_EQ(gotoRecord(t, 2), kOk);
        ASSERT_EQ(deleteRecord(t), kOk);
        EXPECT_EQ(entries(t, live, "NAME"), (E{{"A", 3}}));
        // The last record holding a key leaves it: the key leaves the tag.
        for (std::uint32_t n : {1u, 2u, 3u, 4u}) {
            ASSERT_EQ(gotoRecord(t, n), kOk);
            ASSERT_EQ(setString(t, "NAME", "Z" + std::to_string(n)), kOk);
        }
        ASSERT_EQ(writeRecord(t), kOk);
        EXPECT_EQ(entries(t, idx, "NAME"), (E{{"Z1", 1}, {"Z2", 2}, {"Z3", 3}, {"Z4", 4}}));
        EXPECT_EQ(verified(t), kOk);
        ASSERT_EQ(closeTable(t), kOk);
    }
}

TEST_F(Agreement, ACandidateTagRefusesAnAppendWhoseKeyItHolds) {
    // calls: CALL_ID is a candidate tag over 16 records numbered 1 to 16.
    for (std::uint32_t mode : {kOpenExclusive, kOpenShared}) {
        SCOPED_TRACE(modeName(mode));
        const std::string path = copySample("calls");
        Handle t = open(path, mode);
        Handle byId = 0;
        ASSERT_EQ(getIndexHandle(t, "CALL_ID", byId), kOk);
        // A blank record (key 0) goes in once; the second one is refused whole.
        ASSERT_EQ(appendRecord(t), kOk);
        EXPECT_EQ(appendRecord(t), kDuplicateKey);
        EXPECT_NE(lastError().find("candidate"), std::string::npos) << lastError();
        EXPECT_EQ(count(t), 17u);
        std::uint32_t n = 0;
        getRecordNum(t, n);
        EXPECT_EQ(n, 17u);
        EXPECT_EQ(verified(t), kOk);
        // Once the blank record has a key of its own, the next blank one goes in.
        ASSERT_EQ(setDouble(t, "CALL_ID", 17), kOk);
        ASSERT_EQ(appendRecord(t), kOk);
        EXPECT_EQ(count(t), 18u);
        // A key that another record holds is refused; the appended record stays blank.
        ASSERT_EQ(setDouble(t, "CALL_ID", 4), kOk);
        ASSERT_EQ(setString(t, "SUBJECT", "never written"), kOk);
        EXPECT_EQ(writeRecord(t), kDuplicateKey);
        double id = -1;
        ASSERT_EQ(getDouble(t, "CALL_ID", id), kOk);
        EXPECT_EQ(id, 0);
        EXPECT_EQ(count(t), 18u);
        EXPECT_EQ(verified(t), kOk);
        ASSERT_EQ(closeTable(t), kOk);
        t = open(path, kOpenShared | kOpenReadOnly);
        EXPECT_EQ(count(t), 18u);
        EXPECT_EQ(verified(t), kOk);
        ASSERT_EQ(closeTable(t), kOk);
    }
}

TEST_F(Agreement, ABlankRecordHasNoNullAndEmptyVaryingFields) {
    // A 0x30 table from the published layout: five C(1) fields accepting NULL (bits 0 to 4),
    // NAME C(5) accepting NULL (bit 5, the bit a blank 0x20 would set), CODE V(6) (bit 6, its
    // length bit), N I accepting NULL (bit 7), then _NullFlags.
    struct Def {
        const char* name;
        char type;
        int len, flags;
    };
    const std::vector<Def> defs = {{"F1", 'C', 1, 2},   {"F2", 'C', 1, 2}, {"F3", 'C', 1, 2},
                                   {"F4", 'C', 1, 2},   {"F5", 'C', 1, 2}, {"NAME", 'C', 5, 2},
                                   {"CODE", 'V', 6, 0}, {"N", 'I', 4, 6},  {"_NullFlags", '0', 1, 5}};
    std::string h(32 + defs.size() * 32 + 1 + 263, '\0');
    h[0] = 0x30;
    h[1] = 26, h[2] = 1, h[3] = 2;
    h[8] = static_cast<char>(h.size() & 0xFF), h[9] = static_cast<char>(h.size() >> 8);
    std::size_t recLen = 1;
    for (std::size_t i = 0; i < defs.size(); ++i) {
        const std::size_t at = 32 + 32 * i;
        h.replace(at, std::strlen(defs[i].name), defs[i].name);
        h[at + 11] = defs[i].type;
        h[at + 16] = static_cast<char>(defs[i].len);
        h[at + 18] = static_cast<char>(defs[i].flags);
        recLen += static_cast<std::size_t>(defs[i].len);
    }
    h[10] = static_cast<char>(recLen);
    h[29] = 3;
    h[32 + defs.size() * 32] = 0x0D;
    const std::string path = tmp.path("blank.dbf");
    writeFile(path, h + "\x1A");
    for (std::uint32_t mode : {kOpenExclusive, kOpenShared}) {
        Handle t = open(path, mode);
        ASSERT_EQ(appendRecord(t), kOk);
        for (const char* f : {"F1", "F5", "NAME", "N"}) {
            bool null = true;
            ASSERT_EQ(isNull(t, f, null), kOk);
            EXPECT_FALSE(null) << f << " " << modeName(mode);
        }
        std::string code = "?";
        ASSERT_EQ(getField(t, "CODE", code), kOk);
        EXPECT_EQ(code, "") << modeName(mode);
        ASSERT_EQ(closeTable(t), kOk);
    }
    const std::string bytes = readFile(path);
    for (std::size_t r = 0; r < 2; ++r) {
        const std::size_t at = h.size() + r * recLen;
        EXPECT_EQ(bytes.substr(at, 11), std::string(11, ' ')) << r;
        EXPECT_EQ(bytes.substr(at + 11, 6), std::string("     \0", 6)) << r; // CODE: empty
        EXPECT_EQ(bytes.substr(at + 17, 4), std::string(4, '\0')) << r;
        EXPECT_EQ(bytes[at + 21], 0x40) << r; // CODE's length bit alone
    }
    // A tag on the varying field holds blank keys for them; verify agrees.
    Handle t = open(path, kOpenExclusive);
    Handle idx = 0;
    ASSERT_EQ(createIndex(t, "", "CODE", "CODE", "", "", kIndexCompound, idx), kOk);
    ASSERT_EQ(appendRecord(t), kOk);
    EXPECT_EQ(verified(t), kOk);
    ASSERT_EQ(closeTable(t), kOk);
}

TEST_F(Agreement, VerifyAccountsForEveryPageOfTheIndex) {
    const std::string path = copySample("calls");
    Handle t = open(path, kOpenShared | kOpenReadOnly);
    std::vector<std::string> lines;
    EXPECT_EQ(verified(t, &lines), kOk);
    // calls.CDX keeps an older copy of a tag in three pages that nothing reaches.
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("3072, 3584, 4096"), std::string::npos) << lines[0];
    ASSERT_EQ(closeTable(t), kOk);

    // A free list naming CALL_ID's root.
    const std::string cdxPath = tmp.path("calls.CDX");
    std::string cdx = readFile(cdxPath);
    for (int i = 0; i < 4; ++i) cdx[4 + i] = static_cast<char>(2560 >> (8 * i));
    writeFile(cdxPath, cdx);
    t = open(path, kOpenShared | kOpenReadOnly);
    EXPECT_EQ(verified(t, &lines), kIndexDamaged);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("free list"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("CALL_ID"), std::string::npos) << lines[0];
    ASSERT_EQ(closeTable(t), kOk);

    // Changes that need new pages take none that a tag uses, whatever the free list says. Of
    // two tags, only B takes the new records' keys; the list names A's root.
    const std::vector<FieldDef> fields = {{"NAME", 'C', 10, 0}, {"AMOUNT", 'N', 8, 2}};
    const std::string own = tmp.path("own");
    ASSERT_EQ(createTable(own, "", kTypeCdx, kAnsi, fields, t), kOk);
    for (int i = 1; i <= 5; ++i) {
        ASSERT_EQ(appendRecord(t), kOk);
        ASSERT_EQ(setString(t, "NAME", "A" + std::to_string(i)), kOk);
        ASSERT_EQ(setDouble(t, "AMOUNT", i), kOk);
    }
    Handle a = 0, b = 0;
    ASSERT_EQ(createIndex(t, "", "A", "NAME", "AMOUNT > 0", "", kIndexCompound, a), kOk);
    ASSERT_EQ(createIndex(t, "", "B", "NAME", "AMOUNT < 0", "", kIndexCompound, b), kOk);
    ASSERT_EQ(closeTable(t), kOk);
    cdx = readFile(own + ".cdx");
    const std::size_t rootA = le32(cdx, 1536); // A's header comes first
    for (int i = 0; i < 4; ++i) cdx[4 + i] = static_cast<char>(rootA >> (8 * i));
    writeFile(own + ".cdx", cdx);
    t = open(own + ".dbf", kOpenExclusive);
    for (int i = 1; i <= 200; ++i) {
        ASSERT_EQ(appendRecord(t), kOk);
        ASSERT_EQ(setString(t, "NAME", "B" + std::to_string(1000 + i)), kOk);
        ASSERT_EQ(setDouble(t, "AMOUNT", -i), kOk);
    }
    EXPECT_EQ(verified(t, &lines), kOk);
    EXPECT_TRUE(lines.empty());
    ASSERT_EQ(closeTable(t), kOk);
}

TEST_F(Agreement, AMissingStructuralIndexKeepsTheTableFromChanging) {
    // calls.dbf says it has a structural index (header byte 28, bit 0); calls.CDX is gone.
    const std::string path = copySample("calls");
    const std::string cdxPath = tmp.path("calls.CDX");
    const std::string cdx = readFile(cdxPath);
    std::filesystem::remove(cdxPath);
    const std::string before = readFile(path);
    for (std::uint32_t mode : {kOpenExclusive, kOpenShared}) {
        SCOPED_TRACE(modeName(mode));
        Handle t = open(path, mode);
        ASSERT_EQ(gotoRecord(t, 3), kOk);
        double id = 0;
        ASSERT_EQ(getDouble(t, "CALL_ID", id), kOk); // read as ever
        EXPECT_EQ(id, 3);
        EXPECT_EQ(setDouble(t, "CALL_ID", 99), kIndexMissing);
        EXPECT_NE(lastError().find("calls.cdx"), std::string::npos) << lastError();
        EXPECT_EQ(deleteRecord(t), kIndexMissing);
        EXPECT_EQ(appendRecord(t), kIndexMissing);
        EXPECT_EQ(count(t), 16u);
        std::vector<std::string> lines;
        EXPECT_EQ(verified(t, &lines), kIndexMissing);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("structural index"), std::string::npos) << lines[0];
        ASSERT_EQ(closeTable(t), kOk);
    }
    EXPECT_EQ(readFile(path), before);
    Handle t = open(path, kOpenShared | kOpenReadOnly);
    EXPECT_EQ(verified(t), kIndexMissing);
    ASSERT_EQ(closeTable(t), kOk);

    // The index back in its place agrees with the table, which can change again.
    writeFile(cdxPath, cdx);
    t = open(path, kOpenExclusive);
    EXPECT_EQ(verified(t), kOk);
    ASSERT_EQ(gotoRecord(t, 3), kOk);
    ASSERT_EQ(setDouble(t, "CALL_ID", 99), kOk);
    EXPECT_EQ(verified(t), kOk);
    ASSERT_EQ(closeTable(t), kOk);

    // Or a new structural index made on the table: from then on it changes.
    std::filesystem::remove(cdxPath);
    t = open(path, kOpenExclusive);
    Handle idx = 0;
    ASSERT_EQ(createIndex(t, "", "CALL_ID", "CALL_ID", "", "", kIndexCompound, idx), kOk);
    ASSERT_EQ(appendRecord(t), kOk);
    ASSERT_EQ(setDouble(t, "CALL_ID", 100), kOk);
    EXPECT_EQ(verified(t), kOk);
    ASSERT_EQ(closeTable(t), kOk);
}

TEST_F(Agreement, ATagWithNodesOfAnUnknownLayoutIsOnlyRead) {
    // A tag of three levels' worth of keys, one of its leaves (not the one changes land in)
    // carrying an attribute bit this engine does not know.
    const std::vector<FieldDef> fields = {{"NAME", 'C', 10, 0}, {"AMOUNT", 'N', 8, 2}};
    const std::string path = tmp.path("odd");
    Handle t = 0;
    ASSERT_EQ(createTable(path, "", kTypeCdx, kAnsi, fields, t), kOk);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(appendRecord(t), kOk);
        ASSERT_EQ(setString(t, "NAME", "K" + std::to_string(1000 + i)), kOk);
        ASSERT_EQ(setDouble(t, "AMOUNT", i), kOk);
    }
    Handle names = 0, amounts = 0;
    ASSERT_EQ(createIndex(t, "", "NAMES", "NAME", "", "", kIndexCompound, names), kOk);
    ASSERT_EQ(createIndex(t, "", "AMOUNTS", "AMOUNT", "", "", kIndexCompound, amounts), kOk);
    ASSERT_EQ(closeTable(t), kOk);
    std::string cdx = readFile(path + ".cdx");
    const std::uint32_t root = le32(cdx, 1536); // NAMES's header comes first
    ASSERT_EQ(cdx[root] & 2, 0) << "the root should be interior";
    const std::uint32_t second = be32(cdx, root + 12 + (10 + 8) + 14); // the second child
    cdx[second] = static_cast<char>(cdx[second] | 0x10);
    writeFile(path + ".cdx", cdx);

    for (std::uint32_t mode : {kOpenExclusive, kOpenShared}) {
        SCOPED_TRACE(modeName(mode));
        t = open(path + ".dbf", mode);
        // A key that lands in the last leaf, far from the odd one.
        ASSERT_EQ(gotoRecord(t, 300), kOk);
        ASSERT_EQ(setString(t, "NAME", "K1299X"), kOk);
        EXPECT_EQ(writeRecord(t), kIndexReadOnly);
        EXPECT_NE(lastError().find("NAMES"), std::string::npos) << lastError();
        // Keys taken out of the first leaf until it would merge with the odd one.
        for (std::uint32_t n = 1; n <= 40; ++n) {
            ASSERT_EQ(gotoRecord(t, n), kOk);
            ASSERT_EQ(setString(t, "NAME", "Z" + std::to_string(n)), kOk);
            EXPECT_EQ(writeRecord(t), kIndexReadOnly) << n;
        }
        EXPECT_EQ(appendRecord(t), kIndexReadOnly);
        EXPECT_EQ(count(t), 300u);
        // A change that leaves the tag's keys alone goes through.
        ASSERT_EQ(gotoRecord(t, 5), kOk);
        ASSERT_EQ(setDouble(t, "AMOUNT", -5), kOk);
        EXPECT_EQ(writeRecord(t), kOk);
        std::vector<std::string> lines;
        EXPECT_EQ(verified(t, &lines), kOk);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("only read"), std::string::npos) << lines[0];
        ASSERT_EQ(closeTable(t), kOk);
        EXPECT_EQ(readFile(path + ".cdx")[second] & 0x10, 0x10);
    }
}

TEST_F(Agreement, ATagWithKeysTooLongIsRefusedByNameAndTheTableOpens) {
    // calls.CDX with CONTACT_ID's key length (tag header at 4608) said to be 300 bytes.
    const std::string path = copySample("calls");
    std::string cdx = readFile(tmp.path("calls.CDX"));
    ASSERT_EQ(le16(cdx, 4608 + 12), 4u);
    cdx[4608 + 12] = static_cast<char>(300 & 0xFF);
    cdx[4608 + 13] = static_cast<char>(300 >> 8);
    writeFile(tmp.path("calls.CDX"), cdx);
    const std::string before = readFile(path);
    for (std::uint32_t mode :
         {std::uint32_t{kOpenExclusive}, std::uint32_t{kOpenShared}, kOpenShared | kOpenReadOnly}) {
        SCOPED_TRACE(mode);
        Handle t = open(path, mode);
        Handle idx = 0;
        EXPECT_EQ(getIndexHandle(t, "contact_id", idx), kUnsupported);
        const std::string why = lastError();
        EXPECT_NE(why.find("CONTACT_ID"), std::string::npos) << why;
        EXPECT_NE(why.find("300"), std::string::npos) << why;
        std::uint16_t orders = 0;
        ASSERT_EQ(getNumIndexes(t, orders), kOk);
        EXPECT_EQ(orders, 1);
        ASSERT_EQ(getIndexHandle(t, "CALL_ID", idx), kOk);
        bool found = false;
        ASSERT_EQ(seek(idx, ExprValue::numeric(7), false, found), kOk);
        EXPECT_TRUE(found);
        if (!(mode & kOpenReadOnly)) {
            // No change can keep that tag up to date.
            ASSERT_EQ(setDouble(t, "CONTACT_ID", 12), kOk);
            EXPECT_EQ(writeRecord(t), kIndexReadOnly);
            EXPECT_NE(lastError().find("CONTACT_ID"), std::string::npos) << lastError();
            EXPECT_EQ(appendRecord(t), kIndexReadOnly);
        }
        ASSERT_EQ(closeTable(t), kOk);
    }
    EXPECT_EQ(readFile(path), before);
    // A tag of that name made anew replaces it.
    Handle t = open(path, kOpenExclusive);
    Handle idx = 0;
    ASSERT_EQ(createIndex(t, "", "CONTACT_ID", "CONTACT_ID", "", "", kIndexCompound, idx), kOk);
    ASSERT_EQ(gotoRecord(t, 2), kOk);
    ASSERT_EQ(setDouble(t, "CONTACT_ID", 12), kOk);
    EXPECT_EQ(verified(t), kOk);
    ASSERT_EQ(closeTable(t), kOk);

    // A header that does not hold together still keeps the table closed, saying so once.
    cdx[4608 + 12] = 0;
    cdx[4608 + 13] = 0;
    writeFile(tmp.path("calls.CDX"), cdx);
    EXPECT_EQ(openTable(0, path, "", kTypeCdx, kAnsi, 0, 1, kOpenShared, t), kIndexDamaged);
    const std::string damaged = lastError();
    std::string lower = damaged; // the file's name as the system spells it
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(lower.find("calls.cdx"), std::string::npos) << damaged;
    EXPECT_EQ(damaged.find("damaged index file: damaged"), std::string::npos) << damaged;
}

TEST_F(Agreement, ConsistentMeansEverythingWasChecked) {
    // setup.CDX with its tag's key expression made of a function this engine does not know,
    // and calls.CDX with a tag of another collation: keys that cannot be compared.
    const std::string setup = copySample("setup");
    std::string cdx = readFile(tmp.path("setup.CDX"));
    ASSERT_EQ(cdx.substr(1536 + 512, 8), "key_name");
    cdx.replace(1536 + 512, 8, "kname(x)");
    writeFile(tmp.path("setup.CDX"), cdx);
    const std::string calls = copySample("calls");
    const std::string callsCdx = readFile(tmp.path("calls.CDX"));
    std::string other = callsCdx;
    other.replace(1536 + 64, 7, "GENERAL");
    writeFile(tmp.path("calls.CDX"), other);
    for (const std::string& path : {setup, calls}) {
        Handle t = open(path, kOpenShared | kOpenReadOnly);
        std::vector<std::string> lines;
        EXPECT_EQ(verified(t, &lines), kNotAllChecked) << path;
        bool said = false;
        for (const std::string& line : lines) said = said || line.find("not compared") != std::string::npos;
        EXPECT_TRUE(said) << path;
        ASSERT_EQ(closeTable(t), kOk);
    }
    // A disagreement found among the checks made is answered as such.
    writeFile(tmp.path("calls.CDX"), callsCdx);
    std::string dbf = readFile(calls);
    dbf[488 + 1] = 99; // record 1's CALL_ID behind the index's back
    writeFile(calls, dbf);
    Handle t = open(calls, kOpenShared | kOpenReadOnly);
    EXPECT_EQ(verified(t), kIndexDamaged);
    ASSERT_EQ(closeTable(t), kOk);

    // dbverify's exit status: 0 consistent, 1 a disagreement, 2 a table that cannot be
    // opened, 3 no disagreement but not everything checked; the worst of them, in that order
    // (2, 1, 3, 0), for several tables.
    writeFile(tmp.path("good.dbf"), readFile(std::string(FOREIGN_FIXTURES) + "/calls.dbf"));
    writeFile(tmp.path("good.CDX"), callsCdx);
    writeFile(tmp.path("good.FPT"), readFile(std::string(FOREIGN_FIXTURES) + "/calls.FPT"));
    const std::string good = tmp.path("good.dbf"), missing = tmp.path("missing.dbf");
    const auto dbverify = [&](const std::vector<std::string>& tables) {
        const std::intptr_t p = startProcess(programFolder() + DBVERIFY_NAME, tables);
        EXPECT_NE(p, 0);
        return p ? waitProcess(p) : -1;
    };
    EXPECT_EQ(dbverify({good}), 0);
    EXPECT_EQ(dbverify({setup}), 3);
    EXPECT_EQ(dbverify({good, setup}), 3);
    EXPECT_EQ(dbverify({setup, calls}), 1);
    EXPECT_EQ(dbverify({calls, setup}), 1);
    EXPECT_EQ(dbverify({missing, calls}), 2);
    EXPECT_EQ(dbverify({calls, missing, setup}), 2);
}
