// Indexes on tables: creation, upkeep under appends and writes checked against a sort of the
// records, navigation and seeks in index order, bags, and the refusals of bad requests.
#include "table_support.h"

#include "engine/cdx.h"
#include "highest_first.h"

#include "engine/calendar.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <tuple>

using namespace engine;
using namespace enginetest;

namespace {

// One record as the test models it.
struct Row {
    std::string name; // 10 characters
    double amount = 0;
    bool deleted = false;
};

class Indexes : public EngineTest {
  protected:
    Handle t = 0;
    std::vector<Row> rows; // rows[i] is record i + 1
    std::mt19937 rng{12345};

    void SetUp() override {
        EngineTest::SetUp();
        auto fields = sampleFields();
        ASSERT_EQ(createTable(tmp.path("people"), "", kTypeCdx, kAnsi, fields, t), kOk);
    }

    std::string randomName() {
        static const char* stems[] = {"ANA", "ANABEL", "BO", "BORIS", "", "ZOE", "ANA MARIA", "\xD1U"};
        std::string s = stems[rng() % 8];
        if (rng() % 2) s += static_cast<char>('a' + rng() % 3);
        s.resize(10, ' ');
        return s;
    }

    void append(const std::string& name, double amount) {
        ASSERT_EQ(appendRecord(t), kOk);
        ASSERT_EQ(setString(t, "NAME", name), kOk);
        ASSERT_EQ(setDouble(t, "AMOUNT", amount), kOk);
        std::string padded = name;
        padded.resize(10, ' ');
        rows.push_back({padded, amount, false});
    }

    // The records in the order a tag must give, by (key, record number).
    template <typename Key>
    std::vector<std::uint32_t> expected(Key key, bool descending = false, bool unique = false,
                                        bool hideDeleted = false) {
        std::vector<std::uint32_t> order;
        for (std::uint32_t i = 0; i < rows.size(); ++i) order.push_back(i + 1);
        std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return key(rows[a - 1]) < key(rows[b - 1]);
        });
        if (unique) {
            std::vector<std::uint32_t> firsts;
            for (std::uint32_t r : order)
                if (firsts.empty() || key(rows[firsts.back() - 1]) != key(rows[r - 1]))
                    firsts.push_back(r);
                else if (r < firsts.back())
                    firsts.back() = r;
            order = firsts;
        }
        if (descending) std::reverse(order.begin(), order.end());
        if (hideDeleted) std::erase_if(order, [&](std::uint32_t r) { return rows[r - 1].deleted; });
        return order;
    }

    std::vector<std::uint32_t> walk(Handle idx) {
        std::vector<std::uint32_t> out;
        EXPECT_EQ(gotoTop(idx), kOk);
        for (;;) {
            bool e = false;
            atEOF(t, e);
            if (e) break;
            std::uint32_t r = 0;
            getRecordNum(t, r);
            out.push_back(r);
            if (skip(idx, 1) != kOk || out.size() > rows.size() + 1) break;
        }
        return out;
    }

    std::vector<std::uint32_t> walkBack(Handle idx) {
        std::vector<std::uint32_t> out;
        EXPECT_EQ(gotoBottom(idx), kOk);
        for (;;) {
            bool e = false, b = false;
            atEOF(t, e);
            if (e) break;
            std::uint32_t r = 0;
            getRecordNum(t, r);
            out.push_back(r);
            EXPECT_EQ(skip(idx, -1), kOk);
            atBOF(t, b);
            if (b || out.size() > rows.size() + 1) break;
        }
        std::reverse(out.begin(), out.end());
        return out;
    }

    Handle make(const char* tag, const char* key, std::uint32_t options = kIndexCompound,
                const char* cond = "") {
        Handle idx = 0;
        EXPECT_EQ(createIndex(t, "", tag, key, cond, "", options, idx), kOk) << tag;
        return idx;
    }
};

auto byName = [](const Row& r) { return r.name; };
auto byAmount = [](const Row& r) { return r.amount; };

} // namespace

TEST_F(Indexes, OrderFollowsRandomAppendsAndWrites) {
    for (int i = 0; i < 300; ++i)
        append(randomName(), std::uniform_int_distribution<int>(-50, 50)(rng) / 4.0);
    Handle names = make("NAMES", "NAME");
    Handle amounts = make("AMOUNTS", "AMOUNT");
    Handle down = make("DOWN", "UPPER(NAME)", kIndexCompound | kIndexDescending);
    Handle once = make("ONCE", "AMOUNT", kIndexCompound | kIndexUnique);
    Handle positive = make("POSITIVE", "NAME", kIndexCompound, "AMOUNT > 0");
    auto upperName = [](const Row& r) {
        std::string s = r.name;
        for (char& c : s)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return s;
    };
    auto check = [&](const char* when) {
        EXPECT_EQ(walk(names), expected(byName)) << when;
        EXPECT_EQ(walk(amounts), expected(byAmount)) << when;
        EXPECT_EQ(walk(down), expected(upperName, true)) << when;
        // A unique tag holds each key once, with the lowest record that has it.
        EXPECT_EQ(walk(once), expected(byAmount, false, true)) << when;
        std::vector<std::uint32_t> pos;
        for (std::uint32_t r : expected(byName))
            if (rows[r - 1].amount > 0) pos.push_back(r);
        EXPECT_EQ(walk(positive), pos) << when;
        EXPECT_EQ(walkBack(names), expected(byName)) << when;
    };
    check("after the build");

    for (int round = 0; round < 400; ++round) {
        const int what = static_cast<int>(rng() % 4);
        if (what == 0) {
            append(randomName(), std::uniform_int_distribution<int>(-50, 50)(rng) / 4.0);
        } else {
            std::uint32_t r =
                std::uniform_int_distribution<std::uint32_t>(1, static_cast<std::uint32_t>(rows.size()))(rng);
            ASSERT_EQ(gotoRecord(t, r), kOk);
            if (what == 1) {
                std::string n = randomName();
                ASSERT_EQ(setString(t, "NAME", n), kOk);
                rows[r - 1].name = n;
            } else {
                double a = std::uniform_int_distribution<int>(-50, 50)(rng) / 4.0;
                ASSERT_EQ(setDouble(t, "AMOUNT", a), kOk);
                rows[r - 1].amount = a;
            }
            if (what == 3) { // two changes of one record before it is written
                std::string n = randomName();
                ASSERT_EQ(setString(t, "NAME", n), kOk);
                rows[r - 1].name = n;
            }
        }
        if (round % 100 == 99) check("after random changes");
    }
    ASSERT_EQ(closeTable(t), kOk);

    // Tags survive closing: the structural index opens with the table.
    ASSERT_EQ(openTable(0, tmp.path("people"), "", kTypeCdx, kAnsi, 1, 1, kOpenShared, t), kOk);
    EXPECT_EQ(static_cast<unsigned char>(readFile(tmp.path("people.dbf"))[28]) & 0x01, 0x01);
    std::uint16_t n = 0;
    ASSERT_EQ(getNumIndexes(t, n), kOk);
    EXPECT_EQ(n, 5);
    ASSERT_EQ(getIndexHandle(t, "names", names), kOk);
    ASSERT_EQ(getIndexHandle(t, "Amounts ", amounts), kOk);
    ASSERT_EQ(getIndexHandle(t, "DOWN", down), kOk);
    ASSERT_EQ(getIndexHandle(t, "ONCE", once), kOk);
    ASSERT_EQ(getIndexHandle(t, "POSITIVE", positive), kOk);
    check("after reopening");
    // Every page of the index is in a tree, a header or the free list.
    std::vector<std::string> problems;
    EXPECT_EQ(verifyTable(t, problems), kOk);
    for (const std::string& p : problems) ADD_FAILURE() << p;
    std::string text;
    ASSERT_EQ(getIndexExpr(positive, text), kOk);
    EXPECT_EQ(text, "NAME");
    ASSERT_EQ(getIndexCondition(positive, text), kOk);
    EXPECT_EQ(text, "AMOUNT > 0");
}

TEST_F(Indexes, DeletedRecordsAreSteppedOverInIndexOrder) {
    for (int i = 0; i < 40; ++i) append(randomName(), i);
    Handle names = make("NAMES", "NAME");
    for (std::uint32_t r = 1; r <= 40; r += 3) {
        ASSERT_EQ(gotoRecord(t, r), kOk);
        ASSERT_EQ(deleteRecord(t), kOk);
        rows[r - 1].deleted = true;
    }
    ASSERT_EQ(showDeleted(false), kOk);
    EXPECT_EQ(walk(names), expected(byName, false, false, true));
    EXPECT_EQ(walkBack(names), expected(byName, false, false, true));
    ASSERT_EQ(showDeleted(true), kOk);
    EXPECT_EQ(walk(names), expected(byName));
    // An index whose condition uses the deleted mark follows it.
    Handle live = make("LIVE", "NAME", kIndexCompound, "!DELETED()");
    EXPECT_EQ(walk(live), expected(byName, false, false, true));
    ASSERT_EQ(gotoRecord(t, 1), kOk);
    ASSERT_EQ(recallRecord(t), kOk);
    rows[0].deleted = false;
    EXPECT_EQ(walk(live), expected(byName, false, false, true));
}

TEST_F(Indexes, SeeksFindKeysPrefixesAndSoftPositions) {
    append("BETA", 2);
    append("ALPHA", 1);
    append("GAMMA", 3);
    append("ALPHABET", 4);
    append("DELTA", -7.5);
    Handle names = make("NAMES", "NAME");
    Handle amounts = make("AMOUNTS", "AMOUNT");
    bool found = false;
    std::uint32_t r = 0;
    ASSERT_EQ(seek(names, ExprValue::character("ALPHA"), false, found), kOk);
    EXPECT_TRUE(found);
    getRecordNum(t, r);
    EXPECT_EQ(r, 2u);
    ASSERT_EQ(seek(names, ExprValue::character("ALPHAB"), false, found), kOk);
    EXPECT_TRUE(found);
    getRecordNum(t, r);
    EXPECT_EQ(r, 4u);
    ASSERT_EQ(seek(names, ExprValue::character("C"), false, found), kOk);
    EXPECT_FALSE(found);
    bool e = false;
    atEOF(t, e);
    EXPECT_TRUE(e);
    ASSERT_EQ(seek(names, ExprValue::character("C"), true, found), kOk); // soft: the next key
    EXPECT_FALSE(found);
    getRecordNum(t, r);
    EXPECT_EQ(r, 5u);
    ASSERT_EQ(seek(names, ExprValue::character("ZZ"), true, found), kOk);
    atEOF(t, e);
    EXPECT_TRUE(e);
    ASSERT_EQ(skip(names, -1), kOk); // from past the end back to the last key
    getRecordNum(t, r);
    EXPECT_EQ(r, 3u);
    ASSERT_EQ(setExact(true), kOk);
    ASSERT_EQ(seek(names, ExprValue::character("ALPHAB"), false, found), kOk);
    EXPECT_FALSE(found);
    ASSERT_EQ(seek(names, ExprValue::character("ALPHABET"), false, found), kOk);
    EXPECT_TRUE(found);
    ASSERT_EQ(setExact(false), kOk);
    ASSERT_EQ(seek(amounts, ExprValue::numeric(-7.5), false, found), kOk);
    EXPECT_TRUE(found);
    getRecordNum(t, r);
    EXPECT_EQ(r, 5u);
    ASSERT_EQ(seek(amounts, ExprValue::numeric(2.5), true, found), kOk);
    EXPECT_FALSE(found);
    getRecordNum(t, r);
    EXPECT_EQ(r, 3u);
    EXPECT_EQ(seek(amounts, ExprValue::character("2"), false, found), kWrongType);
    EXPECT_EQ(seek(t, ExprValue::character("A"), false, found), kBadHandle);
    // A skip in index order goes on from where the seek landed.
    ASSERT_EQ(seek(names, ExprValue::character("BETA"), false, found), kOk);
    ASSERT_EQ(skip(names, 1), kOk);
    getRecordNum(t, r);
    EXPECT_EQ(r, 5u);
    // Dates seek by day.
    ASSERT_EQ(gotoRecord(t, 3), kOk);
    ASSERT_EQ(setJulian(t, "BORN", calendar::julian(2009, 1, 5)), kOk);
    Handle born = make("BORN", "BORN");
    ASSERT_EQ(seek(born, ExprValue::dateValue(calendar::julian(2009, 1, 5)), false, found), kOk);
    EXPECT_TRUE(found);
    getRecordNum(t, r);
    EXPECT_EQ(r, 3u);
}

TEST_F(Indexes, KeyChangeMovesTheRecordInTheOrder) {
    append("A", 1);
    append("C", 2);
    append("E", 3);
    Handle names = make("NAMES", "NAME");
    ASSERT_EQ(gotoTop(names), kOk); // on A
    ASSERT_EQ(setString(t, "NAME", "D"), kOk);
    ASSERT_EQ(skip(names, 1), kOk); // from D's new place: E
    std::uint32_t r = 0;
    getRecordNum(t, r);
    EXPECT_EQ(r, 3u);
    ASSERT_EQ(skip(names, -2), kOk); // D, then C
    getRecordNum(t, r);
    EXPECT_EQ(r, 2u);
}

TEST_F(Indexes, BagsOrdersAndNames) {
    append("X", 1);
    append("Y", 2);
    Handle a = make("A", "NAME");
    Handle inBag = 0, plain = 0;
    ASSERT_EQ(createIndex(t, tmp.path("extra"), "BYAMT", "AMOUNT", "", "", kIndexCompound, inBag), kOk);
    ASSERT_EQ(createIndex(t, "single", "", "NAME", "", "", 0, plain), kOk); // beside the table
    EXPECT_TRUE(std::filesystem::exists(tmp.path("extra.cdx")));
    EXPECT_TRUE(std::filesystem::exists(tmp.path("single.cdx")));
    std::string s;
    ASSERT_EQ(getIndexName(plain, s), kOk);
    EXPECT_EQ(s, "SINGLE");
    std::uint16_t pos = 0;
    ASSERT_EQ(getIndexOrder(a, pos), kOk);
    EXPECT_EQ(pos, 1);
    ASSERT_EQ(getIndexOrder(inBag, pos), kOk);
    EXPECT_EQ(pos, 2);
    ASSERT_EQ(getIndexOrder(plain, pos), kOk);
    EXPECT_EQ(pos, 3);
    Handle h = 0;
    ASSERT_EQ(getIndexHandleByOrder(t, 2, h), kOk);
    EXPECT_EQ(h, inBag);
    EXPECT_EQ(getIndexHandleByOrder(t, 4, h), kIndexNotFound);
    EXPECT_EQ(getIndexHandleByOrder(t, 0, h), kIndexNotFound);
    EXPECT_EQ(getIndexHandle(t, "NOPE", h), kIndexNotFound);
    EXPECT_EQ(getIndexHandle(t, std::string(200, 'A'), h), kNameTooLong);
    ASSERT_EQ(getTableHandle(inBag, h), kOk);
    EXPECT_EQ(h, t);

    // Closing the indexes keeps the structural one; the others' handles die.
    ASSERT_EQ(closeAllIndexes(t), kOk);
    std::uint16_t n = 0;
    ASSERT_EQ(getNumIndexes(t, n), kOk);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(getIndexName(inBag, s), kBadHandle);
    EXPECT_EQ(gotoTop(inBag), kBadHandle);
    EXPECT_EQ(getIndexName(a, s), kOk);

    Handle room[50];
    std::uint16_t count = 0;
    ASSERT_EQ(openIndex(t, tmp.path("extra.cdx"), room, count), kOk);
    ASSERT_EQ(count, 1);
    ASSERT_EQ(getIndexName(room[0], s), kOk);
    EXPECT_EQ(s, "BYAMT");
    EXPECT_EQ(openIndex(t, "EXTRA", room, count), kIndexAlreadyOpen); // beside the table, any case
    EXPECT_EQ(count, 1);
    EXPECT_EQ(openIndex(t, "missing", room, count), kFileNotFound);
    std::uint32_t r = 0;
    ASSERT_EQ(gotoBottom(room[0]), kOk);
    getRecordNum(t, r);
    EXPECT_EQ(r, 2u);
    // A bag that is not open is not kept up to date; once opened again it is.
    ASSERT_EQ(appendRecord(t), kOk);
    ASSERT_EQ(setString(t, "NAME", "W"), kOk);
    ASSERT_EQ(gotoTop(a), kOk);
    getRecordNum(t, r);
    EXPECT_EQ(r, 3u);
}

TEST_F(Indexes, ReplacingATagAndBuildingWhileACondition) {
    for (int i = 1; i <= 10; ++i) append("N" + std::to_string(i % 5), i);
    Handle first = make("T", "NAME");
    Handle second = make("T", "AMOUNT", kIndexCompound | kIndexDescending); // replaces T
    std::string s;
    EXPECT_EQ(getIndexName(first, s), kBadHandle);
    ASSERT_EQ(getIndexExpr(second, s), kOk);
    EXPECT_EQ(s, "AMOUNT");
    std::uint16_t n = 0;
    ASSERT_EQ(getNumIndexes(t, n), kOk);
    EXPECT_EQ(n, 1);
    // WHILE: from the current record on, in the given order, while the condition holds.
    ASSERT_EQ(gotoRecord(t, 4), kOk);
    Handle part = 0;
    ASSERT_EQ(createIndex(t, "", "PART", "NAME", "", "AMOUNT < 8", kIndexCompound, part), kOk);
    std::vector<std::uint32_t> got = walk(part);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::uint32_t>{4, 5, 6, 7}));
    ASSERT_EQ(gotoRecord(t, 9), kOk); // AMOUNT 9, descending: 9, 8, 7, ... while > 5
    ASSERT_EQ(createIndex(second, "", "PART2", "NAME", "", "AMOUNT > 5", kIndexCompound, part), kOk);
    got = walk(part);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::uint32_t>{6, 7, 8, 9}));
}

TEST_F(Indexes, BadRequestsAreRefused) {
    append("A", 1);
    Handle idx = 0;
    std::size_t pos = 99;
    Result r = createIndex(t, "", "BAD", "NAME + ", "", "", kIndexCompound, idx, &pos);
    EXPECT_NE(r, kOk);
    EXPECT_EQ(pos, 7u);
    r = createIndex(t, "", "BAD", "NOSUCH", "", "", kIndexCompound, idx, &pos);
    EXPECT_EQ(r, kExprUnknownField);
    EXPECT_EQ(pos, 0u);
    EXPECT_EQ(createIndex(t, "", "BAD", "NAME", "AMOUNT", "", kIndexCompound, idx, &pos), kBadExpression);
    EXPECT_EQ(createIndex(t, "", "BAD", "NAME", "", "NAME", kIndexCompound, idx, &pos), kBadExpression);
    EXPECT_EQ(createIndex(t, "", "BAD", "TRIM(NAME)", "", "", kIndexCompound, idx),
              kBadExpression); // width 0
    EXPECT_EQ(createIndex(t, "", "BAD", "NAME", "", "", kIndexCompound | kIndexCustom, idx), kUnsupported);
    EXPECT_EQ(createIndex(t, "", "BAD", "NAME", "", "", 16 | kIndexCompound, idx), kBadArgument);
    EXPECT_EQ(createIndex(t, "", "ELEVENCHARS", "NAME", "", "", kIndexCompound, idx), kNameTooLong);
    EXPECT_EQ(createIndex(t, "", "", "NAME", "", "", kIndexCompound, idx), kBadArgument);
    EXPECT_EQ(createIndex(t, "", "BAD NAME", "NAME", "", "", kIndexCompound, idx), kBadArgument);
    std::uint16_t n = 9;
    ASSERT_EQ(getNumIndexes(t, n), kOk);
    EXPECT_EQ(n, 0);
    EXPECT_FALSE(std::filesystem::exists(tmp.path("people.cdx")) &&
                 (static_cast<unsigned char>(readFile(tmp.path("people.dbf"))[28]) & 1));
    Result code = 0;
    std::string text;
    createIndex(t, "", "BAD", "NAME + ", "", "", kIndexCompound, idx, &pos);
    getLastError(code, text);
    EXPECT_NE(text.find("position 7"), std::string::npos) << text;
}

TEST_F(Indexes, AnotherHandleKeepsNewTagsUpToDate) {
    append("B", 1);
    ASSERT_EQ(closeTable(t), kOk);
    Handle a = 0, b = 0;
    ASSERT_EQ(openTable(0, tmp.path("people"), "", kTypeCdx, kAnsi, 1, 1, kOpenShared, a), kOk);
    ASSERT_EQ(openTable(0, tmp.path("people"), "", kTypeCdx, kAnsi, 1, 1, kOpenShared, b), kOk);
    Handle idx = 0;
    ASSERT_EQ(createIndex(a, "", "NAMES", "NAME", "", "", kIndexCompound, idx), kOk);
    // b opened the table before the index existed.
    ASSERT_EQ(appendRecord(b), kOk);
    ASSERT_EQ(setString(b, "NAME", "A"), kOk);
    ASSERT_EQ(unlockRecord(b, 2), kOk);
    // b opened the table with no structural index; appending, it found the one a made and
    // keeps it up to date from then on (its append is in it).
    Handle room[50];
    std::uint16_t count = 0;
    ASSERT_EQ(openIndex(b, "people", room, count), kIndexAlreadyOpen);
    std::vector<std::string> problems;
    EXPECT_EQ(verifyTable(b, problems), kOk);
    for (const std::string& p : problems) ADD_FAILURE() << p;
    ASSERT_EQ(gotoRecord(b, 2), kOk);
    ASSERT_EQ(setString(b, "NAME", "C"), kOk);
    ASSERT_EQ(writeRecord(b), kOk);
    ASSERT_EQ(createIndex(a, "", "AMT", "AMOUNT", "", "", kIndexCompound, idx), kOk);
    ASSERT_EQ(appendRecord(b), kOk); // b learns of AMT when it next writes the index
    ASSERT_EQ(setDouble(b, "AMOUNT", -5), kOk);
    ASSERT_EQ(writeRecord(b), kOk);
    ASSERT_EQ(gotoTop(idx), kOk);
    std::uint32_t r = 0;
    getRecordNum(a, r);
    EXPECT_EQ(r, 3u);
}

// A descending tag from elsewhere stored highest key first: the table walks and seeks it in
// descending order, verify finds it sound, and changes that touch it are refused.
TEST_F(Indexes, DescendingTagStoredHighestFirst) {
    const char* letters = "ABCDE";
    for (int i = 0; i < 400; ++i) {
        std::string name(10, 'A');
        for (char& c : name) c = letters[rng() % (i < 200 ? 2 : 5)];
        append(name, i);
    }
    make("DOWN", "NAME", kIndexCompound | kIndexDescending);
    ASSERT_EQ(closeTable(t), kOk);

    // Rebuild DOWN laid out highest first.
    const std::string cdxPath = tmp.path("people.cdx");
    ASSERT_TRUE(std::filesystem::exists(cdxPath));
    const auto n = static_cast<std::uint32_t>(rows.size());
    MemoryBlockFile file(readFile(cdxPath));
    {
        CdxIndex cdx(file);
        ASSERT_EQ(cdx.open(), kOk);
        const TagInfo* down = cdx.findTag("DOWN");
        ASSERT_TRUE(down);
        TagSpec downTag{"DOWN", "NAME", "", 'C', 10, false, true};
        ASSERT_EQ(cdx.removeTag("DOWN"), kOk);
        KeyList keys(10, 'C');
        for (std::uint32_t r = 1; r <= n; ++r) keys.add(highestfirst::complemented(rows[n - r].name), r);
        TagId id = 0;
        ASSERT_EQ(cdx.addTag(downTag, keys, &id), kOk);
        highestfirst::storeHighestFirst(file.bytes, id, 10, n);
    }
    writeFile(cdxPath, file.bytes);
    const std::string dbfBefore = readFile(tmp.path("people.dbf"));

    ASSERT_EQ(openTable(0, tmp.path("people"), "", kTypeCdx, kAnsi, 0, 1, kOpenExclusive, t), kOk);
    Handle down = 0;
    ASSERT_EQ(getIndexHandle(t, "DOWN", down), kOk);
    const std::vector<std::uint32_t> want = expected(byName, true);
    EXPECT_EQ(walk(down), want);
    EXPECT_EQ(walkBack(down), want);
    for (const std::string p : {"BBBBBAAAAA", "BBA", "C", "AZ", "E", "F"}) {
        const auto at = std::find_if(want.begin(), want.end(), [&](std::uint32_t r) {
            return rows[r - 1].name.compare(0, p.size(), p) <= 0;
        });
        bool found = false;
        ASSERT_EQ(seek(down, ExprValue::character(p), true, found), kOk) << p;
        std::uint32_t r = 0;
        getRecordNum(t, r);
        if (at == want.end()) {
            EXPECT_EQ(r, n + 1) << p;
            continue;
        }
        EXPECT_EQ(found, rows[*at - 1].name.compare(0, p.size(), p) == 0) << p;
        EXPECT_EQ(r, *at) << p;
    }
    for (const Row& row : rows) { // every key: the first record holding it in index order
        bool found = false;
        ASSERT_EQ(seek(down, ExprValue::character(row.name), false, found), kOk);
        EXPECT_TRUE(found);
        std::uint32_t r = 0;
        getRecordNum(t, r);
        EXPECT_EQ(r, *std::find_if(want.begin(), want.end(),
                                   [&](std::uint32_t w) { return rows[w - 1].name == row.name; }));
    }
    std::vector<std::string> problems;
    EXPECT_EQ(verifyTable(t, problems), kOk);
    for (const std::string& p : problems) ADD_FAILURE() << p;

    EXPECT_EQ(appendRecord(t), kIndexReadOnly);
    ASSERT_EQ(gotoRecord(t, 4), kOk);
    ASSERT_EQ(setString(t, "NAME", "ZZZZZZZZZZ"), kOk);
    EXPECT_EQ(writeRecord(t), kIndexReadOnly);
    ASSERT_EQ(closeTable(t), kOk);
    t = 0;
    EXPECT_EQ(readFile(cdxPath), file.bytes);
    EXPECT_EQ(readFile(tmp.path("people.dbf")), dbfBefore);
}

// A tag whose key is one field named alone takes its keys straight from the record; they must
// be the very keys the expression gives. Each field has two tags, the field alone and the same
// value through the expression evaluator, and the two hold the same entries byte for byte.
TEST_F(Indexes, KeysOfAFieldAloneAreTheKeysOfItsExpression) {
    ASSERT_EQ(closeTable(t), kOk);
    const std::vector<FieldDef> fields = {{"NAME", 'C', 12, 0},
                                          {"AMOUNT", 'N', 9, 2},
                                          {"RATE", 'F', 10, 4},
                                          {"BORN", 'D', 0, 0},
                                          {"OK", 'L', 0, 0}};
    ASSERT_EQ(createTable(tmp.path("kinds"), "", kTypeCdx, kAnsi, fields, t), kOk);
    const std::vector<std::pair<std::string, std::string>> pairs = {{"NAME", "NAME+''"},
                                                                    {"AMOUNT", "AMOUNT+0"},
                                                                    {"RATE", "RATE*1"},
                                                                    {"BORN", "BORN+0"},
                                                                    {"OK", "OK .AND. .T."}};
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        Handle idx = 0;
        ASSERT_EQ(createIndex(t, "", "A" + std::to_string(i), pairs[i].first, "", "", kIndexCompound, idx),
                  kOk);
        ASSERT_EQ(createIndex(t, "", "B" + std::to_string(i), pairs[i].second, "", "", kIndexCompound, idx),
                  kOk);
    }
    // Appends and changes, with fields left blank now and then.
    std::size_t records = 0;
    for (int i = 0; i < 300; ++i) {
        if (i < 200 || rng() % 2) {
            ASSERT_EQ(appendRecord(t), kOk);
            ++records;
        } else {
            ASSERT_EQ(gotoRecord(t, 1 + static_cast<std::uint32_t>(rng() % 200)), kOk);
        }
        const auto now = [&] { return rng() % 5 != 0; };
        EXPECT_EQ(now() ? setString(t, "NAME", randomName()) : kOk, kOk);
        EXPECT_EQ(now() ? setDouble(t, "AMOUNT", static_cast<int>(rng() % 20001) / 100.0 - 100) : kOk, kOk);
        EXPECT_EQ(now() ? setDouble(t, "RATE", static_cast<int>(rng() % 2001) / 1000.0 - 1) : kOk, kOk);
        EXPECT_EQ(now() ? setJulian(t, "BORN", 2440000 + static_cast<std::int32_t>(rng() % 30000)) : kOk,
                  kOk);
        EXPECT_EQ(now() ? setLogical(t, "OK", rng() % 2 == 0) : kOk, kOk);
    }
    ASSERT_EQ(closeTable(t), kOk);
    t = 0;
    MemoryBlockFile file(readFile(tmp.path("kinds.cdx")));
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.open(), kOk);
    const auto entries = [&](const std::string& name) {
        std::vector<std::pair<std::string, std::uint32_t>> out;
        const TagInfo* info = cdx.findTag(name);
        EXPECT_TRUE(info) << name;
        if (!info) return out;
        CdxCursor c(cdx, info->id);
        EXPECT_EQ(c.first(), kOk);
        for (; c.positioned(); c.next()) out.emplace_back(c.key(), c.recno());
        return out;
    };
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const auto alone = entries("A" + std::to_string(i));
        EXPECT_EQ(alone.size(), records) << pairs[i].first;
        EXPECT_EQ(alone, entries("B" + std::to_string(i))) << pairs[i].first;
    }
}
