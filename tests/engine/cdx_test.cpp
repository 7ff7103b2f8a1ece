// Compound index files: layout, tree operations against a model, cursors, damaged files.
#include "engine/cdx.h"
#include "highest_first.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace engine;

namespace {

using Entry = std::pair<std::string, std::uint32_t>;

std::uint32_t le32(const std::string& b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}
std::uint16_t le16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}
void put32(std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

std::vector<Entry> walk(CdxIndex& cdx, TagId tag) {
    std::vector<Entry> out;
    CdxCursor c(cdx, tag);
    EXPECT_EQ(c.first(), kOk);
    for (std::size_t guard = 0; c.positioned() && guard < 10000000; ++guard) {
        out.emplace_back(c.key(), c.recno());
        EXPECT_EQ(c.next(), kOk);
    }
    EXPECT_TRUE(c.eof());
    return out;
}

std::vector<Entry> walkBack(CdxIndex& cdx, TagId tag) {
    std::vector<Entry> out;
    CdxCursor c(cdx, tag);
    EXPECT_EQ(c.last(), kOk);
    for (std::size_t guard = 0; c.positioned() && guard < 10000000; ++guard) {
        out.emplace_back(c.key(), c.recno());
        EXPECT_EQ(c.prev(), kOk);
    }
    EXPECT_TRUE(c.bof());
    std::reverse(out.begin(), out.end());
    return out;
}

TagSpec tagDef(const std::string& name, char type, std::uint16_t len, bool unique = false, bool descending = false) {
    TagSpec s;
    s.name = name;
    s.keyExpr = "KEY";
    s.keyType = type;
    s.keyLen = len;
    s.unique = unique;
    s.descending = descending;
    return s;
}

TagId addTag(CdxIndex& cdx, const TagSpec& s, const std::vector<Entry>& entries = {}) {
    KeyList keys(s.keyLen, s.keyType);
    for (const auto& [k, r] : entries) keys.add(k, r);
    TagId id = 0;
    EXPECT_EQ(cdx.addTag(s, keys, &id), kOk);
    return id;
}

// The tag's entries in its order, from a model of (key, record) pairs.
std::vector<Entry> expected(const std::set<Entry>& model, bool descending) {
    std::vector<Entry> v(model.begin(), model.end());
    if (descending) std::reverse(v.begin(), v.end());
    return v;
}

}  // namespace

TEST(Cdx, EmptyFileAndReopen) {
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);
    EXPECT_TRUE(cdx.isOpen());
    EXPECT_TRUE(cdx.tags().empty());
    EXPECT_EQ(file.bytes.size(), 1536u);
    CdxIndex again(file);
    ASSERT_EQ(again.open(), kOk);
    EXPECT_TRUE(again.tags().empty());
    EXPECT_EQ(again.verify(0), kOk);
}

// A small file checked byte by byte against the published layout.
TEST(Cdx, HandCheckedLayout) {
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);
    TagSpec s = tagDef("name", 'C', 10);
    s.keyExpr = "UPPER(NAME)";
    s.forExpr = "!DELETED()";
    const TagId tag = addTag(cdx, s, {{"BETA", 3}, {"ALPHABET", 2}, {"ALPHA", 1}});
    const std::string& b = file.bytes;
    ASSERT_EQ(b.size(), 3072u);

    // File header: the tag directory. Root node right after it, no free nodes, one change.
    EXPECT_EQ(le32(b, 0), 1024u);
    EXPECT_EQ(le32(b, 4), 0u);  // empty free list, written 0 as the FoxPro family does
    EXPECT_EQ(le32(b, 8), 1u);
    EXPECT_EQ(le16(b, 12), 10u);
    EXPECT_EQ(static_cast<unsigned char>(b[14]), 0x60);  // compact, compound
    EXPECT_EQ(b[15], 1);

    // Directory root leaf: one entry, the name "NAME" and the tag header's offset 1536.
    const std::size_t d = 1024;
    EXPECT_EQ(le16(b, d), 3u);  // root + leaf
    EXPECT_EQ(le16(b, d + 2), 1u);
    EXPECT_EQ(le32(b, d + 4), 0xFFFFFFFFu);
    EXPECT_EQ(le32(b, d + 8), 0xFFFFFFFFu);
    // 1536 needs 11 bits; with 4 bits each for duplicate and trailing counts that is 3 bytes
    // per entry, 16 of them for the record number.
    EXPECT_EQ(le32(b, d + 14), 0xFFFFu);
    EXPECT_EQ(b[d + 18], 0x0F);
    EXPECT_EQ(b[d + 19], 0x0F);
    EXPECT_EQ(b[d + 20], 16);
    EXPECT_EQ(b[d + 21], 4);
    EXPECT_EQ(b[d + 22], 4);
    EXPECT_EQ(b[d + 23], 3);
    // 1536 = 0x600, no duplicates, 6 trailing blanks: 0x600600 little-endian.
    EXPECT_EQ(b.substr(d + 24, 3), std::string("\x00\x06\x60", 3));
    EXPECT_EQ(b.substr(d + 508, 4), "NAME");
    EXPECT_EQ(le16(b, d + 12), 488u - 3 - 4);

    // Tag header.
    const std::size_t h = 1536;
    EXPECT_EQ(tag, h);
    EXPECT_EQ(le32(b, h), 2560u);  // root
    EXPECT_EQ(le32(b, h + 4), 0u);
    EXPECT_EQ(le32(b, h + 8), 1u);  // a tag's counter follows the file's
    EXPECT_EQ(le16(b, h + 12), 10u);
    EXPECT_EQ(static_cast<unsigned char>(b[h + 14]), 0x68);  // compact, compound, has FOR
    EXPECT_EQ(b[h + 15], 1);
    EXPECT_EQ(b[h + 496], 'C');
    EXPECT_EQ(le16(b, h + 502), 0u);
    EXPECT_EQ(le16(b, h + 506), 11u);  // "!DELETED()" and its NUL
    EXPECT_EQ(le16(b, h + 510), 12u);  // "UPPER(NAME)" and its NUL
    EXPECT_EQ(b.substr(h + 512, 23), std::string("UPPER(NAME)\0!DELETED()\0", 23));

    // The tag's only node, decoded by hand:
    //   ALPHA____  rec 1  dup 0  trail 5  stored "ALPHA"
    //   ALPHABET__ rec 2  dup 5  trail 2  stored "BET"
    //   BETA______ rec 3  dup 0  trail 6  stored "BETA"
    const std::size_t n = 2560;
    EXPECT_EQ(le16(b, n), 7u);  // a tag's root leaf: root + leaf + 4
    EXPECT_EQ(le16(b, n + 2), 3u);
    EXPECT_EQ(le32(b, n + 4), 0xFFFFFFFFu);
    EXPECT_EQ(le32(b, n + 8), 0xFFFFFFFFu);
    EXPECT_EQ(le16(b, n + 12), 488u - 9 - 12);
    EXPECT_EQ(le32(b, n + 14), 0xFFFFu);
    EXPECT_EQ(b.substr(n + 18, 6), std::string("\x0F\x0F\x10\x04\x04\x03", 6));
    EXPECT_EQ(b.substr(n + 24, 9), std::string("\x01\x00\x50\x02\x00\x25\x03\x00\x60", 9));
    EXPECT_EQ(b.substr(n + 500, 12), "BETABETALPHA");
    EXPECT_EQ(b.substr(n + 33, 467), std::string(467, '\0'));

    // And the same file read back.
    CdxIndex again(file);
    ASSERT_EQ(again.open(), kOk);
    ASSERT_EQ(again.tags().size(), 1u);
    const TagInfo& t = again.tags()[0];
    EXPECT_EQ(t.name, "NAME");
    EXPECT_EQ(t.keyExpr, "UPPER(NAME)");
    EXPECT_EQ(t.forExpr, "!DELETED()");
    EXPECT_EQ(t.keyLen, 10u);
    EXPECT_EQ(t.keyType, 'C');
    EXPECT_TRUE(t.keyTypeKnown);
    EXPECT_EQ(walk(again, t.id),
              (std::vector<Entry>{{"ALPHA     ", 1}, {"ALPHABET  ", 2}, {"BETA      ", 3}}));
}

TEST(Cdx, InteriorNodeLayout) {
    // Enough keys for two leaves under one interior root.
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);
    std::vector<Entry> entries;
    for (std::uint32_t i = 1; i <= 60; ++i) entries.emplace_back("K" + std::to_string(1000 + i) + "XXXXX", i);
    const TagId tag = addTag(cdx, tagDef("T", 'C', 10), entries);
    const std::string& b = file.bytes;
    const std::uint32_t root = le32(b, tag);
    EXPECT_EQ(le16(b, root), 1u);  // root, not leaf
    const std::uint16_t count = le16(b, root + 2);
    ASSERT_GE(count, 2u);
    // The last interior entry is the last key, its record number and a child pointer, the
    // numbers big-endian.
    const std::size_t e = root + 12 + (count - 1) * 18u;
    EXPECT_EQ(b.substr(e, 10), "K1060XXXXX");
    EXPECT_EQ(b.substr(e + 10, 4), std::string("\0\0\0\x3C", 4));
    const std::uint32_t child = static_cast<unsigned char>(b[e + 14]) << 24 | static_cast<unsigned char>(b[e + 15]) << 16 |
                                static_cast<unsigned char>(b[e + 16]) << 8 | static_cast<unsigned char>(b[e + 17]);
    EXPECT_EQ(le16(b, child), 2u);  // a leaf
    EXPECT_EQ(le32(b, child + 8), 0xFFFFFFFFu);  // the rightmost one
    EXPECT_EQ(cdx.verify(tag), kOk);
}

namespace {

struct ModelCase {
    const char* name;
    char type;
    std::uint16_t keyLen;
    bool unique;
    bool descending;
    int alphabet;   // letters used in keys
    int prefix;     // length of a common prefix
    int blanks;     // percentage of keys made only of fill
};

std::string makeKey(std::mt19937& rng, const ModelCase& c) {
    if (c.type == 'N') {
        const double v = static_cast<double>(static_cast<int>(rng() % 200) - 100) / (1 + rng() % 3);
        return encodeDouble(v);
    }
    if (static_cast<int>(rng() % 100) < c.blanks) return std::string(c.keyLen, ' ');
    std::string k(static_cast<std::size_t>(c.prefix), 'P');
    const std::size_t len = 1 + rng() % (c.keyLen - c.prefix);
    for (std::size_t i = 0; i < len; ++i) k += static_cast<char>('A' + rng() % c.alphabet);
    k.resize(c.keyLen, ' ');
    return k;
}

void runModel(const ModelCase& c, int operations, std::uint32_t seed) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(seed);
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);

    // Start with a bulk-built tree, then change it one key at a time.
    std::set<Entry> model;
    std::map<std::string, std::uint32_t> uniqueModel;
    std::vector<Entry> initial;
    std::uint32_t nextRec = 1;
    for (int i = 0; i < operations / 4; ++i) initial.emplace_back(makeKey(rng, c), nextRec++);
    for (const Entry& e : initial) {
        if (c.unique) {
            if (!uniqueModel.count(e.first)) uniqueModel[e.first] = e.second;
        } else {
            model.insert(e);
        }
    }
    const TagId tag = addTag(cdx, tagDef("T", c.type, c.keyLen, c.unique, c.descending), initial);
    if (c.unique)
        for (const auto& [k, r] : uniqueModel) model.insert({k, r});

    std::vector<Entry> live(model.begin(), model.end());
    const auto check = [&](CdxIndex& index) {
        std::uint64_t count = 0;
        ASSERT_EQ(index.verify(tag, &count), kOk);
        ASSERT_EQ(count, model.size());
        const std::vector<Entry> want = expected(model, c.descending);
        ASSERT_EQ(walk(index, tag), want);
        ASSERT_EQ(walkBack(index, tag), want);
    };

    for (int op = 0; op < operations; ++op) {
        const bool doInsert = live.empty() || rng() % 100 < (op < operations / 2 ? 65u : 30u);
        if (doInsert) {
            const std::string key = makeKey(rng, c);
            const std::uint32_t rec = nextRec++;
            bool added = false;
            ASSERT_EQ(cdx.insert(tag, key, rec, &added), kOk);
            bool want = true;
            if (c.unique) {
                want = true;
                for (const Entry& e : model)
                    if (e.first == key) want = false;
            }
            ASSERT_EQ(added, want);
            if (want) {
                model.insert({key, rec});
                live.emplace_back(key, rec);
            }
        } else {
            const std::size_t i = rng() % live.size();
            const Entry e = live[i];
            live[i] = live.back();
            live.pop_back();
            ASSERT_EQ(cdx.erase(tag, e.first, e.second), kOk);
            model.erase(e);
            ASSERT_EQ(cdx.erase(tag, e.first, e.second), kCdxKeyNotFound);
        }
        if (op % 1500 == 1499) {
            check(cdx);
            // What the file holds, not only the cache: every changed node was written.
            MemoryBlockFile now(file.bytes);
            CdxIndex fresh(now);
            ASSERT_EQ(fresh.open(), kOk);
            check(fresh);
        }
    }
    check(cdx);

    // Seeks against the model, on full keys and on prefixes.
    const std::vector<Entry> ordered = expected(model, c.descending);
    for (int i = 0; i < 150; ++i) {
        std::string key = makeKey(rng, c);
        if (c.type == 'C' && rng() % 2) key.resize(rng() % (key.size() + 1));
        CdxCursor cur(cdx, tag);
        bool found = false;
        ASSERT_EQ(cur.seek(key, found), kOk);
        // The first entry in tag order that does not sort before the key.
        auto before = [&](const Entry& e) {
            const int cmp = compareKeys(std::string_view(e.first).substr(0, key.size()), key);
            return c.descending ? cmp > 0 : cmp < 0;
        };
        auto it = std::find_if_not(ordered.begin(), ordered.end(), before);
        if (it == ordered.end()) {
            ASSERT_FALSE(cur.positioned()) << key;
            ASSERT_FALSE(found);
        } else {
            ASSERT_TRUE(cur.positioned());
            ASSERT_EQ(Entry(cur.key(), cur.recno()), *it);
            ASSERT_EQ(found, it->first.compare(0, key.size(), key) == 0);
        }
        // The last entry with that prefix.
        ASSERT_EQ(cur.seekLast(key, found), kOk);
        auto lastIt = ordered.end();
        for (auto j = ordered.begin(); j != ordered.end(); ++j)
            if (j->first.compare(0, key.size(), key) == 0) lastIt = j;
        if (lastIt != ordered.end()) {
            ASSERT_TRUE(found);
            ASSERT_EQ(Entry(cur.key(), cur.recno()), *lastIt);
        } else {
            ASSERT_FALSE(found);
        }
    }

    // The same bytes opened afresh.
    MemoryBlockFile copy(file.bytes);
    CdxIndex reopened(copy);
    ASSERT_EQ(reopened.open(), kOk);
    check(reopened);

    // Emptying the tag frees its nodes; a tree built again reuses them.
    for (const Entry& e : live) ASSERT_EQ(cdx.erase(tag, e.first, e.second), kOk);
    model.clear();
    check(cdx);
    // The levels above collapsed with the leaves: the root is one empty leaf again.
    const std::uint32_t root = le32(file.bytes, tag);
    EXPECT_EQ(le16(file.bytes, root), 7u);
    EXPECT_EQ(le16(file.bytes, root + 2), 0u);
    const std::size_t sizeEmpty = file.bytes.size();
    for (int i = 0; i < operations / 4; ++i) {
        const std::string key = makeKey(rng, c);
        bool added;
        ASSERT_EQ(cdx.insert(tag, key, nextRec, &added), kOk);
        if (added) model.insert({key, nextRec});
        ++nextRec;
    }
    check(cdx);
    EXPECT_EQ(file.bytes.size(), sizeEmpty);
}

}  // namespace

TEST(Cdx, ModelManyEqualKeys) { runModel({"equal", 'C', 10, false, false, 2, 0, 20}, 4000, 1); }
TEST(Cdx, ModelLongPrefixes) { runModel({"prefix", 'C', 40, false, false, 3, 30, 5}, 4000, 2); }
TEST(Cdx, ModelLongKeysDeepTree) { runModel({"long", 'C', 240, false, false, 26, 100, 0}, 2000, 3); }
TEST(Cdx, ModelUnique) { runModel({"unique", 'C', 6, true, false, 4, 0, 10}, 5000, 4); }
TEST(Cdx, ModelDescending) { runModel({"descending", 'C', 12, false, true, 3, 2, 10}, 5000, 5); }
TEST(Cdx, ModelUniqueDescending) { runModel({"unique desc", 'C', 8, true, true, 5, 0, 5}, 4000, 6); }
TEST(Cdx, ModelNumeric) { runModel({"numeric", 'N', 8, false, false, 0, 0, 0}, 4000, 7); }
TEST(Cdx, ModelNumericDescending) { runModel({"numeric desc", 'N', 8, false, true, 0, 0, 0}, 4000, 8); }

TEST(Cdx, BulkBuildOfManyKeys) {
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);
    std::mt19937 rng(9);
    const std::uint32_t count = 100000;
    KeyList keys(10, 'C');
    keys.reserve(count);
    std::vector<Entry> model;
    for (std::uint32_t r = 1; r <= count; ++r) {
        std::string k = std::to_string(rng() % 50000);
        k.resize(10, ' ');
        keys.add(k, r);
        model.emplace_back(k, r);
    }
    TagSpec s = tagDef("BIG", 'C', 10);
    TagId tag;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(cdx.addTag(s, keys, &tag), kOk);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("bulk build of %u keys: %.1f ms, %zu bytes\n", count, ms, file.bytes.size());
    std::sort(model.begin(), model.end());
    std::uint64_t n;
    ASSERT_EQ(cdx.verify(tag, &n), kOk);
    EXPECT_EQ(n, count);
    EXPECT_EQ(walk(cdx, tag), model);

    // Record numbers past 2^16 and 2^24 widen the leaf entries.
    ASSERT_EQ(cdx.insert(tag, "0         ", 0x01000000u), kOk);
    ASSERT_EQ(cdx.insert(tag, "0         ", 0xFFFFFFFEu), kOk);
    CdxCursor c(cdx, tag);
    bool found;
    ASSERT_EQ(c.seekLast("0 ", found), kOk);
    EXPECT_TRUE(found);
    EXPECT_EQ(c.recno(), 0xFFFFFFFEu);
    ASSERT_EQ(c.prev(), kOk);
    EXPECT_EQ(c.recno(), 0x01000000u);
    EXPECT_EQ(cdx.verify(tag), kOk);
}

TEST(Cdx, CursorFindsItsPlaceAfterChanges) {
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);
    std::vector<Entry> entries;
    for (std::uint32_t i = 1; i <= 500; ++i) {
        std::string k = "K" + std::to_string(1000 + i);
        k.resize(8, ' ');
        entries.emplace_back(k, i);
    }
    const TagId tag = addTag(cdx, tagDef("T", 'C', 8), entries);
    CdxCursor c(cdx, tag);
    bool found;
    ASSERT_EQ(c.seek("K1250", found), kOk);
    ASSERT_TRUE(found);
    EXPECT_EQ(c.recno(), 250u);
    // The current entry goes away: the next step lands on its successor, not beyond.
    ASSERT_EQ(cdx.erase(tag, "K1250   ", 250), kOk);
    ASSERT_EQ(c.next(), kOk);
    EXPECT_EQ(c.recno(), 251u);
    ASSERT_EQ(cdx.erase(tag, "K1251   ", 251), kOk);
    ASSERT_EQ(c.prev(), kOk);
    EXPECT_EQ(c.recno(), 249u);
    // An entry inserted right after the current one is the next one.
    ASSERT_EQ(cdx.insert(tag, "K1249   ", 600), kOk);
    ASSERT_EQ(c.next(), kOk);
    EXPECT_EQ(c.recno(), 600u);
    ASSERT_EQ(c.next(), kOk);
    EXPECT_EQ(c.recno(), 252u);
    // find: exact, and the entry that would follow a missing one.
    bool exact;
    ASSERT_EQ(c.find("K1300   ", 300, exact), kOk);
    EXPECT_TRUE(exact);
    ASSERT_EQ(c.find("K1300   ", 299, exact), kOk);
    EXPECT_FALSE(exact);
    EXPECT_EQ(c.recno(), 300u);
    ASSERT_EQ(c.find("Z", 1, exact), kOk);
    EXPECT_TRUE(c.eof());
    // Off the ends and back.
    ASSERT_EQ(c.prev(), kOk);
    EXPECT_EQ(c.recno(), 500u);
    ASSERT_EQ(c.first(), kOk);
    ASSERT_EQ(c.prev(), kOk);
    EXPECT_TRUE(c.bof());
    ASSERT_EQ(c.prev(), kOk);
    EXPECT_TRUE(c.bof());
    ASSERT_EQ(c.next(), kOk);
    EXPECT_EQ(c.recno(), 1u);
    // Seeking past every key.
    ASSERT_EQ(c.seek("L", found), kOk);
    EXPECT_FALSE(found);
    EXPECT_TRUE(c.eof());
}

TEST(Cdx, DescendingSeekAndFind) {
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);
    const TagId tag = addTag(cdx, tagDef("D", 'C', 3, false, true),
                             {{"AAA", 1}, {"ABA", 2}, {"ABB", 3}, {"ABB", 4}, {"BAA", 5}});
    EXPECT_EQ(walk(cdx, tag), (std::vector<Entry>{{"BAA", 5}, {"ABB", 4}, {"ABB", 3}, {"ABA", 2}, {"AAA", 1}}));
    CdxCursor c(cdx, tag);
    bool found;
    ASSERT_EQ(c.seek("AB", found), kOk);
    EXPECT_TRUE(found);
    EXPECT_EQ(c.recno(), 4u);  // first in descending order
    ASSERT_EQ(c.seekLast("AB", found), kOk);
    EXPECT_TRUE(found);
    EXPECT_EQ(c.recno(), 2u);
    ASSERT_EQ(c.seek("AC", found), kOk);  // not there: the next smaller key
    EXPECT_FALSE(found);
    EXPECT_EQ(c.recno(), 4u);
    ASSERT_EQ(c.seek("A", found), kOk);
    EXPECT_EQ(c.recno(), 4u);
    ASSERT_EQ(c.seek("0", found), kOk);  // below every key: past the end
    EXPECT_TRUE(c.eof());
    bool exact;
    ASSERT_EQ(c.find("ABB", 5, exact), kOk);  // would sit between records 4 and 3
    EXPECT_FALSE(exact);
    EXPECT_EQ(c.recno(), 4u);
    ASSERT_EQ(c.first(), kOk);
    EXPECT_EQ(c.recno(), 5u);
    ASSERT_EQ(c.last(), kOk);
    EXPECT_EQ(c.recno(), 1u);
}

TEST(Cdx, TagsAddRemoveAndReuse) {
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);
    std::vector<Entry> entries;
    for (std::uint32_t i = 1; i <= 2000; ++i) entries.emplace_back(encodeDouble(i * 1.5), i);
    addTag(cdx, tagDef("ZETA", 'N', 8), entries);
    addTag(cdx, tagDef("alpha", 'D', 8), entries);
    addTag(cdx, tagDef("Mid_1", 'L', 1), {{"T", 1}, {"F", 2}});
    ASSERT_EQ(cdx.tags().size(), 3u);
    // In the order of creation, whatever the names.
    EXPECT_EQ(cdx.tags()[0].name, "ZETA");
    EXPECT_EQ(cdx.tags()[1].name, "ALPHA");
    EXPECT_EQ(cdx.tags()[2].name, "MID_1");
    ASSERT_NE(cdx.findTag("alpha "), nullptr);
    EXPECT_EQ(cdx.findTag("alpha ")->keyType, 'D');

    KeyList none(8, 'N');
    EXPECT_EQ(cdx.addTag(tagDef("zeta", 'N', 8), none), kCdxTagExists);
    EXPECT_EQ(cdx.addTag(tagDef("", 'N', 8), none), kCdxBadTagName);
    EXPECT_EQ(cdx.addTag(tagDef("ELEVENCHARS", 'N', 8), none), kCdxBadTagName);
    EXPECT_EQ(cdx.addTag(tagDef("1ST", 'N', 8), none), kCdxBadTagName);
    EXPECT_EQ(cdx.addTag(tagDef("A B", 'N', 8), none), kCdxBadTagName);
    EXPECT_EQ(cdx.addTag(tagDef("N4", 'N', 4), none), kKeyBadLength);
    EXPECT_EQ(cdx.addTag(tagDef("M", 'M', 8), none), kKeyBadType);
    KeyList wide(241, 'C');
    EXPECT_EQ(cdx.addTag(tagDef("W", 'C', 241), wide), kKeyBadLength);
    KeyList c10(10, 'C');
    EXPECT_EQ(cdx.addTag(tagDef("W", 'C', 12), c10), kKeyBadLength);
    TagSpec longExpr = tagDef("E", 'C', 10);
    longExpr.keyExpr = std::string(300, 'X');
    longExpr.forExpr = std::string(220, 'Y');
    EXPECT_EQ(cdx.addTag(longExpr, c10), kCdxExprTooLong);
    EXPECT_EQ(cdx.tags().size(), 3u);
    EXPECT_EQ(cdx.insert(cdx.tags()[0].id, "short", 1), kKeyBadLength);
    EXPECT_EQ(cdx.insert(12345, "12345678", 1), kCdxNoTag);

    const std::size_t size = file.bytes.size();
    ASSERT_EQ(cdx.removeTag("zeta"), kOk);
    EXPECT_EQ(cdx.removeTag("zeta"), kCdxNoTag);
    EXPECT_EQ(cdx.tags().size(), 2u);
    // The removed tag's nodes are reused by the next one.
    addTag(cdx, tagDef("AGAIN", 'N', 8), entries);
    EXPECT_EQ(file.bytes.size(), size + 1024);  // only the new tag header is added
    for (const TagInfo& t : cdx.tags()) EXPECT_EQ(cdx.verify(t.id), kOk) << t.name;

    MemoryBlockFile copy(file.bytes);
    CdxIndex again(copy);
    ASSERT_EQ(again.open(), kOk);
    ASSERT_EQ(again.tags().size(), 3u);
    EXPECT_EQ(again.tags()[2].name, "AGAIN");
    EXPECT_EQ(walk(again, again.tags()[2].id).size(), 2000u);
    EXPECT_EQ(walk(again, again.findTag("MID_1")->id), (std::vector<Entry>{{"F", 2}, {"T", 1}}));
}

TEST(Cdx, ManyTagsSplitTheDirectory) {
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);
    for (int i = 0; i < 120; ++i) addTag(cdx, tagDef("TAG" + std::to_string(i), 'C', 4), {{"ab", 1}});
    EXPECT_EQ(cdx.verify(0), kOk);
    EXPECT_NE(static_cast<unsigned char>(file.bytes[le32(file.bytes, 0)]) & 2, 2);  // the root is interior now
    MemoryBlockFile copy(file.bytes);
    CdxIndex again(copy);
    ASSERT_EQ(again.open(), kOk);
    ASSERT_EQ(again.tags().size(), 120u);
    EXPECT_EQ(again.tags()[119].name, "TAG119");
    for (int i = 0; i < 120; i += 2) ASSERT_EQ(again.removeTag("TAG" + std::to_string(i)), kOk);
    EXPECT_EQ(again.verify(0), kOk);
    EXPECT_EQ(again.tags().size(), 60u);
}

TEST(Cdx, ChangesSeenByAnotherInstance) {
    // Two instances over the same storage stand for two processes.
    MemoryBlockFile file;
    CdxIndex a(file);
    ASSERT_EQ(a.create(), kOk);
    const TagId tag = addTag(a, tagDef("T", 'C', 4), {{"bbbb", 2}});
    CdxIndex b(file);
    ASSERT_EQ(b.open(), kOk);
    CdxCursor cb(b, tag);
    ASSERT_EQ(cb.first(), kOk);
    EXPECT_EQ(cb.recno(), 2u);

    bool changed = true;
    ASSERT_EQ(b.refresh(&changed), kOk);
    EXPECT_FALSE(changed);
    const std::uint32_t before = a.changeCounter();
    ASSERT_EQ(a.insert(tag, "aaaa", 1), kOk);
    ASSERT_EQ(a.insert(tag, "cccc", 3), kOk);
    EXPECT_EQ(a.changeCounter(), before + 2);
    ASSERT_EQ(b.refresh(&changed), kOk);
    EXPECT_TRUE(changed);
    EXPECT_EQ(b.changeCounter(), before + 2);
    ASSERT_EQ(cb.next(), kOk);
    EXPECT_EQ(cb.recno(), 3u);
    ASSERT_EQ(cb.first(), kOk);
    EXPECT_EQ(cb.recno(), 1u);

    // A tag added elsewhere appears after refresh.
    addTag(a, tagDef("NEW", 'C', 2), {{"zz", 9}});
    ASSERT_EQ(b.refresh(&changed), kOk);
    EXPECT_TRUE(changed);
    ASSERT_NE(b.findTag("NEW"), nullptr);
    EXPECT_EQ(walk(b, b.findTag("NEW")->id), (std::vector<Entry>{{"zz", 9}}));
}

TEST(Cdx, KeyTypeOfForeignFiles) {
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);
    const TagId tag = addTag(cdx, tagDef("N", 'N', 8), {{encodeDouble(1), 1}, {encodeDouble(256), 2}});
    // A file from elsewhere carries no key type hint.
    file.bytes[tag + 496] = 0;
    CdxIndex again(file);
    ASSERT_EQ(again.open(), kOk);
    EXPECT_FALSE(again.tags()[0].keyTypeKnown);
    ASSERT_EQ(again.setKeyType(tag, 'N'), kOk);
    EXPECT_EQ(walk(again, tag), (std::vector<Entry>{{encodeDouble(1), 1}, {encodeDouble(256), 2}}));
    EXPECT_EQ(again.setKeyType(tag, 'L'), kKeyBadLength);
    EXPECT_EQ(file.bytes[tag + 496], 0);  // the file is not written
    // The type given holds across a reload after another change.
    CdxIndex other(file);
    ASSERT_EQ(other.open(), kOk);
    EXPECT_EQ(other.insert(tag, encodeDouble(-1), 3), kKeyBadType);  // would write blanks for NULs
    ASSERT_EQ(other.setKeyType(tag, 'N'), kOk);
    ASSERT_EQ(other.insert(tag, encodeDouble(-1), 3), kOk);
    bool changed;
    ASSERT_EQ(again.refresh(&changed), kOk);
    EXPECT_TRUE(changed);
    EXPECT_TRUE(again.tags()[0].keyTypeKnown);
    EXPECT_EQ(walk(again, tag), (std::vector<Entry>{{encodeDouble(-1), 3}, {encodeDouble(1), 1}, {encodeDouble(256), 2}}));
}

namespace {

// Opens the bytes and walks every tag both ways; answers the first error met.
Result openAndWalk(const std::string& bytes) {
    MemoryBlockFile f(bytes);
    CdxIndex cdx(f);
    if (const Result r = cdx.open()) return r;
    for (const TagInfo& t : cdx.tags()) {
        if (!t.unusable.empty()) continue;  // named, never walked
        CdxCursor c(cdx, t.id);
        Result r = c.first();
        for (int i = 0; !r && c.positioned() && i < 1000000; ++i) r = c.next();
        if (r) return r;
        r = c.last();
        for (int i = 0; !r && c.positioned() && i < 1000000; ++i) r = c.prev();
        if (r) return r;
        if (const Result v = cdx.verify(t.id)) return v;
    }
    return kOk;
}

std::string sampleFile(TagId& tag, std::uint32_t& root) {
    MemoryBlockFile file;
    CdxIndex cdx(file);
    EXPECT_EQ(cdx.create(), kOk);
    std::vector<Entry> entries;
    for (std::uint32_t i = 1; i <= 400; ++i) entries.emplace_back("KEY" + std::to_string(10000 + i), i);
    tag = addTag(cdx, tagDef("T", 'C', 8), entries);
    root = le32(file.bytes, tag);
    return file.bytes;
}

}  // namespace

TEST(Cdx, DamagedFilesAnswerAnError) {
    TagId tag;
    std::uint32_t root;
    const std::string good = sampleFile(tag, root);
    ASSERT_EQ(openAndWalk(good), kOk);
    ASSERT_EQ(le16(good, root), 1u);  // an interior root over several leaves
    const std::uint32_t leaf1 = static_cast<unsigned char>(good[root + 12 + 8 + 4]) << 24 |
                                static_cast<unsigned char>(good[root + 12 + 8 + 5]) << 16 |
                                static_cast<unsigned char>(good[root + 12 + 8 + 6]) << 8 |
                                static_cast<unsigned char>(good[root + 12 + 8 + 7]);
    const std::uint32_t leaf2 = le32(good, leaf1 + 8);

    struct Case {
        const char* what;
        std::string bytes;
    };
    std::vector<Case> cases;
    auto with = [&](const char* what, auto change) {
        std::string b = good;
        change(b);
        cases.push_back({what, b});
    };
    with("truncated header", [](std::string& b) { b.resize(700); });
    with("truncated tree", [&](std::string& b) { b.resize(leaf2 + 100); });
    with("empty file", [](std::string& b) { b.clear(); });
    with("directory key length", [](std::string& b) { b[12] = 11; });
    with("not compact", [](std::string& b) { b[14] = 0; });
    with("directory root past the end", [](std::string& b) { put32(b, 0, 0x7FFFFE00); });
    with("directory root unaligned", [](std::string& b) { put32(b, 0, 1030); });
    with("tag header past the end", [](std::string& b) { b[1024 + 24] = static_cast<char>(0xFE); b[1024 + 25] = 0x7F; });
    with("tag key length 0", [&](std::string& b) { b[tag + 12] = 0; b[tag + 13] = 0; });
    with("tag key length 300", [&](std::string& b) { b[tag + 12] = 0x2C; b[tag + 13] = 1; });
    with("expression pools too long", [&](std::string& b) { b[tag + 510] = 0; b[tag + 511] = 2; });
    with("tag root points at itself", [&](std::string& b) { put32(b, tag, tag); });
    with("tag root in the file header", [&](std::string& b) { put32(b, tag, 512); });
    with("child pointer cycle", [&](std::string& b) {
        for (int i = 0; i < 4; ++i) b[root + 12 + 8 + 4 + i] = static_cast<char>(root >> (8 * (3 - i)));
    });
    with("child pointer out of range", [&](std::string& b) { b[root + 12 + 8 + 4] = 0x70; });
    with("sibling cycle", [&](std::string& b) { put32(b, leaf2 + 8, leaf1); });
    with("sibling points at itself", [&](std::string& b) { put32(b, leaf1 + 8, leaf1); });
    with("sibling out of range", [&](std::string& b) { put32(b, leaf1 + 8, 0x10000000); });
    with("key count too large", [&](std::string& b) { b[leaf1 + 2] = static_cast<char>(0xFF); });
    with("interior key count too large", [&](std::string& b) { b[root + 2] = 100; });
    with("bad record mask", [&](std::string& b) { b[leaf1 + 14] = 0x12; });
    with("bad bit counts", [&](std::string& b) { b[leaf1 + 20] = 40; });
    with("entry size 0", [&](std::string& b) { b[leaf1 + 23] = 0; });
    with("duplicate count too large", [&](std::string& b) { b[leaf1 + 24 + 3 + 2] = static_cast<char>(0xFF); });
    with("keys out of order", [&](std::string& b) { std::swap(b[leaf1 + 511], b[leaf1 + 505]); });
    with("bad attributes", [&](std::string& b) { b[leaf1] = 9; });
    with("leaf marked interior", [&](std::string& b) { b[leaf1] = 0; });
    with("free list past the end", [](std::string& b) { put32(b, 4, 0x00FFFE00); });

    for (const Case& c : cases) {
        const Result r = openAndWalk(c.bytes);
        // A change that leaves a readable, consistent file is fine too; what matters is an
        // answer, without a crash or a hang.
        if (r) {
            EXPECT_TRUE(r == kCdxDamaged || r == kCdxIo) << c.what << ": " << r;
        }
    }
    EXPECT_EQ(openAndWalk(cases[0].bytes), kCdxDamaged);
    EXPECT_NE(openAndWalk(cases[3].bytes), kOk);
    EXPECT_EQ(openAndWalk(cases[11].bytes), kCdxDamaged);
    EXPECT_EQ(openAndWalk(cases[13].bytes), kCdxDamaged);
    EXPECT_EQ(openAndWalk(cases[15].bytes), kCdxDamaged);
    EXPECT_EQ(openAndWalk(cases[16].bytes), kCdxDamaged);
    EXPECT_EQ(openAndWalk(cases[18].bytes), kCdxDamaged);
    EXPECT_EQ(openAndWalk(cases[20].bytes), kCdxDamaged);
    EXPECT_EQ(openAndWalk(cases[24].bytes), kCdxDamaged);

    // Keys longer than this engine handles: the file opens, the tag is named with the reason
    // it cannot be used, and nothing reads or changes it.
    {
        MemoryBlockFile f(cases[9].bytes);
        CdxIndex cdx(f);
        ASSERT_EQ(cdx.open(), kOk);
        ASSERT_EQ(cdx.tags().size(), 1u);
        EXPECT_NE(cdx.tags()[0].unusable.find("300"), std::string::npos) << cdx.tags()[0].unusable;
        EXPECT_EQ(cdx.writable(tag), kCdxReadOnlyTag);
        EXPECT_EQ(cdx.insert(tag, "KEY99999", 1), kCdxNoTag);
        CdxCursor c(cdx, tag);
        EXPECT_NE(c.first(), kOk);
        EXPECT_EQ(f.bytes, cases[9].bytes);
    }

    // Changes on a damaged tree answer an error (or go where the damage does not reach);
    // a refused change leaves the bytes as they were.
    for (int which : {13, 15, 16, 18, 24}) {
        MemoryBlockFile f(cases[static_cast<std::size_t>(which)].bytes);
        CdxIndex cdx(f);
        if (cdx.open()) continue;
        for (std::uint32_t i = 0; i < 50; ++i) {
            const std::string before = f.bytes;
            const Result r = cdx.insert(tag, "KEY1" + std::to_string(1000 + i * 7), 1000 + i);
            if (r) {
                EXPECT_TRUE(r == kCdxDamaged || r == kCdxIo) << r;
                EXPECT_EQ(f.bytes, before);
            }
        }
        cdx.erase(tag, "KEY10001", 1);
    }
    {
        MemoryBlockFile f(cases[13].bytes);
        CdxIndex cdx(f);
        ASSERT_EQ(cdx.open(), kOk);
        EXPECT_EQ(cdx.erase(tag, "KEY10001", 1), kCdxDamaged);
    }
    // A changed file with the free list pointing past the end still takes new nodes.
    MemoryBlockFile f(cases.back().bytes);
    CdxIndex cdx(f);
    ASSERT_EQ(cdx.open(), kOk);
    for (std::uint32_t i = 0; i < 200; ++i) ASSERT_EQ(cdx.insert(tag, "KEY1" + std::to_string(5000 + i), 1000 + i), kOk);
    EXPECT_EQ(cdx.verify(tag), kOk);
}

namespace {

// Storage whose writes start failing after a given number of them.
class FailingFile final : public BlockFile {
  public:
    explicit FailingFile(std::string bytes) : mem(std::move(bytes)) {}
    bool read(std::uint64_t o, void* d, std::size_t n) override { return mem.read(o, d, n); }
    bool write(std::uint64_t o, const void* d, std::size_t n) override {
        return writesLeft-- > 0 && mem.write(o, d, n);
    }
    bool size(std::uint64_t& out) override { return mem.size(out); }
    bool truncate(std::uint64_t n) override { return mem.truncate(n); }
    MemoryBlockFile mem;
    int writesLeft = 1 << 30;
};

} // namespace

// Several changes as one: all or none in memory; a write cut off half-way leaves the mark
// that the next opener sees as out of date.
TEST(Cdx, StagedChangesLandWholeOrNotAtAll) {
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);
    std::vector<Entry> many;
    for (std::uint32_t i = 1; i <= 400; ++i) many.push_back({"K" + std::to_string(100000 + i), i});
    const TagId a = addTag(cdx, tagDef("A", 'C', 10), many);
    const TagId b = addTag(cdx, tagDef("B", 'I', 4));
    const std::string before = file.bytes;
    // The second change is refused (wrong key length): the first is not written either.
    EXPECT_EQ(cdx.stage({{a, true, "NEWKEY    ", 401}, {b, true, "TOO LONG", 401}}), kKeyBadLength);
    EXPECT_EQ(file.bytes, before);
    std::uint64_t count = 0;
    EXPECT_EQ(cdx.verify(a, &count), kOk);
    EXPECT_EQ(count, 400u);

    // I/O failing in the middle of the commit.
    FailingFile failing(before);
    CdxIndex writer(failing);
    ASSERT_EQ(writer.open(), kOk);
    ASSERT_EQ(writer.stage({{a, false, "K100001   ", 1}, {a, true, "A         ", 1}, {b, true, std::string("\x80\0\0\x01", 4), 1}}),
              kOk);
    ASSERT_EQ(writer.markChanging(true), kOk);
    failing.writesLeft = 1;
    EXPECT_EQ(writer.commitStaged(), kCdxIo);
    MemoryBlockFile after(failing.mem.bytes);
    CdxIndex reader(after);
    ASSERT_EQ(reader.open(), kOk);
    EXPECT_TRUE(reader.outOfDate());
    // A change that ends clears the mark.
    FailingFile good(before);
    CdxIndex second(good);
    ASSERT_EQ(second.open(), kOk);
    ASSERT_EQ(second.stage({{b, true, std::string("\x7F\xFF\xFF\xFF", 4), 2}}), kOk);
    ASSERT_EQ(second.markChanging(true), kOk);
    ASSERT_EQ(second.commitStaged(), kOk);
    ASSERT_EQ(second.markChanging(false), kOk);
    MemoryBlockFile done(good.mem.bytes);
    CdxIndex third(done);
    ASSERT_EQ(third.open(), kOk);
    EXPECT_FALSE(third.outOfDate());
    EXPECT_EQ(third.verify(b, &count), kOk);
    EXPECT_EQ(count, 1u);
    // Another instance that marks the file and stops there: a reader that has the file open
    // already sees the mark on its next refresh.
    CdxIndex dying(done);
    ASSERT_EQ(dying.open(), kOk);
    ASSERT_EQ(dying.markChanging(true), kOk);
    ASSERT_EQ(third.refresh(), kOk);
    EXPECT_TRUE(third.outOfDate());
    EXPECT_FALSE(dying.outOfDate()); // its own mark
}

// A unique tag holds a key with the lowest record given for it, through single inserts and
// staged changes alike.
TEST(Cdx, UniqueKeyStaysWithTheLowestRecord) {
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);
    const TagId u = addTag(cdx, tagDef("U", 'C', 4, true), {{"KEY ", 5}, {"KEY ", 7}});
    EXPECT_EQ(walk(cdx, u), (std::vector<Entry>{{"KEY ", 5}}));
    bool added = true;
    ASSERT_EQ(cdx.insert(u, "KEY ", 9, &added), kOk);
    EXPECT_FALSE(added);
    ASSERT_EQ(cdx.insert(u, "KEY ", 3, &added), kOk);
    EXPECT_TRUE(added);
    EXPECT_EQ(walk(cdx, u), (std::vector<Entry>{{"KEY ", 3}}));
    ASSERT_EQ(cdx.stage({{u, true, "KEY ", 4}, {u, true, "KEY ", 2}, {u, true, "OTHR", 8}}), kOk);
    ASSERT_EQ(cdx.commitStaged(), kOk);
    EXPECT_EQ(walk(cdx, u), (std::vector<Entry>{{"KEY ", 2}, {"OTHR", 8}}));
    EXPECT_EQ(cdx.verify(u), kOk);
}

// The free list is followed only through pages that are free: a list that names a page in
// use, runs in a circle or leaves the file is dropped, never handed out; checkPages tells
// what the list and the walks account for.
TEST(Cdx, FreeListIsCheckedBeforeItsPagesAreTaken) {
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);
    const std::vector<Entry> small = {{"AA  ", 1}, {"BB  ", 2}};
    const TagId a = addTag(cdx, tagDef("A", 'C', 4), small);
    const TagId b = addTag(cdx, tagDef("B", 'C', 4));
    PageReport pages;
    ASSERT_EQ(cdx.checkPages(pages), kOk);
    EXPECT_TRUE(pages.faults.empty());
    EXPECT_TRUE(pages.unreached.empty());
    EXPECT_TRUE(pages.complete);
    const std::string good = file.bytes;
    const auto size = static_cast<std::uint32_t>(good.size());

    struct Case {
        const char* what;
        std::string bytes;
        const char* fault;
    };
    std::vector<Case> cases;
    std::string bad = good;
    put32(bad, 4, le32(good, a)); // tag A's root
    cases.push_back({"a page in use", bad, "which tag A uses"});
    bad = good;
    put32(bad, 4, b + 512); // the second half of B's header: its expression, then zeros
    cases.push_back({"a tag header", bad, "which tag B uses"});
    bad = good + std::string(512, '\0'); // a free page whose link leads back to itself
    put32(bad, size, size);
    put32(bad, 4, size);
    cases.push_back({"a circle", bad, "twice"});
    bad = good;
    put32(bad, 4, 0x100000);
    cases.push_back({"outside the file", bad, "outside"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryBlockFile f(c.bytes);
        CdxIndex idx(f);
        ASSERT_EQ(idx.open(), kOk);
        ASSERT_EQ(idx.checkPages(pages), kOk);
        ASSERT_EQ(pages.faults.size(), 1u);
        EXPECT_NE(pages.faults[0].find(c.fault), std::string::npos) << pages.faults[0];
        // Enough keys for B's root to split a few times: no page of A or of a header is taken.
        for (std::uint32_t i = 1; i <= 300; ++i)
            ASSERT_EQ(idx.insert(b, "K" + std::to_string(100 + i), i), kOk);
        MemoryBlockFile reread(f.bytes);
        CdxIndex again(reread);
        ASSERT_EQ(again.open(), kOk);
        EXPECT_EQ(walk(again, a), small);
        EXPECT_EQ(again.verify(a), kOk);
        EXPECT_EQ(again.verify(b), kOk);
        ASSERT_NE(again.findTag("B"), nullptr);
        EXPECT_EQ(again.findTag("B")->keyExpr, "KEY");
        ASSERT_EQ(again.checkPages(pages), kOk);
        EXPECT_TRUE(pages.faults.empty()) << pages.faults.front(); // the list was dropped
        EXPECT_TRUE(pages.unreached.empty());
    }

    // A page nothing reaches is told apart from the free ones.
    MemoryBlockFile orphan(good + std::string(512, 'x'));
    CdxIndex withOrphan(orphan);
    ASSERT_EQ(withOrphan.open(), kOk);
    ASSERT_EQ(withOrphan.checkPages(pages), kOk);
    EXPECT_TRUE(pages.faults.empty());
    EXPECT_EQ(pages.unreached, std::vector<std::uint32_t>{size});
    // Two tags sharing a page.
    bad = good;
    put32(bad, b, le32(good, a));
    MemoryBlockFile shared(bad);
    CdxIndex withShared(shared);
    ASSERT_EQ(withShared.open(), kOk);
    ASSERT_EQ(withShared.checkPages(pages), kOk);
    ASSERT_EQ(pages.faults.size(), 1u);
    EXPECT_NE(pages.faults[0].find("tag A and tag B"), std::string::npos) << pages.faults[0];
}

// A descending tag from elsewhere that keeps its keys highest first: read in the same order
// as ours, searched, verified, and never changed.
TEST(Cdx, DescendingTagStoredHighestFirst) {
    std::mt19937 rng(11);
    const std::uint32_t n = 6000;
    std::vector<Entry> entries, mirrored;
    for (std::uint32_t r = 1; r <= n; ++r) {
        std::string k(3, 'A');
        for (char& c : k) c = static_cast<char>('A' + rng() % 20);
        entries.emplace_back(k, r);
        mirrored.emplace_back(highestfirst::complemented(k), n + 1 - r);
    }
    MemoryBlockFile file;
    TagId tag = 0;
    {
        CdxIndex built(file);
        ASSERT_EQ(built.create(), kOk);
        tag = addTag(built, tagDef("D", 'C', 3, false, true), mirrored);
        ASSERT_FALSE(built.tag(tag)->storedDescending);
    }
    highestfirst::storeHighestFirst(file.bytes, tag, 3, n);

    CdxIndex cdx(file);
    ASSERT_EQ(cdx.open(), kOk);
    ASSERT_TRUE(cdx.tag(tag)->descending);
    ASSERT_TRUE(cdx.tag(tag)->storedDescending);
    EXPECT_FALSE(cdx.tag(tag)->readOnly); // that flag tells of another collation

    const std::set<Entry> model(entries.begin(), entries.end());
    const std::vector<Entry> want = expected(model, true);
    EXPECT_EQ(walk(cdx, tag), want);
    EXPECT_EQ(walkBack(cdx, tag), want);
    std::uint64_t count = 0;
    EXPECT_EQ(cdx.verify(tag, &count), kOk);
    EXPECT_EQ(count, n);

    // Every key, and every one- and two-byte prefix whether held or not: seek lands on the
    // first entry in tag order that begins with it or sorts after it (a lower key), seekLast
    // on the last one that begins with it.
    std::set<std::string> probes;
    for (const auto& [k, r] : entries) probes.insert(k);
    for (char a = '@'; a <= 'U'; ++a) {
        probes.insert(std::string(1, a));
        for (char b = '@'; b <= 'U'; b += 3) probes.insert(std::string{a, b});
    }
    CdxCursor c(cdx, tag);
    for (const std::string& p : probes) {
        const auto begins = [&](const Entry& e) { return e.first.compare(0, p.size(), p) == 0; };
        const auto firstAt = std::find_if(
            want.begin(), want.end(), [&](const Entry& e) { return e.first.compare(0, p.size(), p) <= 0; });
        bool found = false;
        ASSERT_EQ(c.seek(p, found), kOk) << p;
        if (firstAt == want.end()) {
            EXPECT_TRUE(c.eof()) << p;
            continue;
        }
        EXPECT_EQ(found, begins(*firstAt)) << p;
        EXPECT_EQ(Entry(c.key(), c.recno()), *firstAt) << p;
        ASSERT_EQ(c.next(), kOk);
        if (firstAt + 1 != want.end()) {
            EXPECT_EQ(Entry(c.key(), c.recno()), *(firstAt + 1)) << p;
        }
        ASSERT_EQ(c.seekLast(p, found), kOk);
        const auto lastAt = std::find_if(want.rbegin(), want.rend(), begins);
        EXPECT_EQ(found, lastAt != want.rend()) << p;
        if (lastAt != want.rend()) {
            EXPECT_EQ(Entry(c.key(), c.recno()), *lastAt) << p;
        }
    }
    bool exact = false;
    ASSERT_EQ(c.find(want[100].first, want[100].second, exact), kOk);
    EXPECT_TRUE(exact);
    EXPECT_EQ(c.recno(), want[100].second);
    ASSERT_EQ(c.prev(), kOk);
    EXPECT_EQ(Entry(c.key(), c.recno()), want[99]);

    // Changes are refused and leave the file as it was.
    const std::string before = file.bytes;
    EXPECT_EQ(cdx.insert(tag, "ABC", n + 1), kCdxReadOnlyTag);
    EXPECT_EQ(cdx.erase(tag, want[0].first, want[0].second), kCdxReadOnlyTag);
    EXPECT_EQ(cdx.stage({{tag, true, "ABC", n + 1}}), kCdxReadOnlyTag);
    EXPECT_EQ(file.bytes, before);

    // Two leaves out of order are still damage.
    std::string broken = file.bytes;
    std::uint32_t first = le32(broken, tag);
    while (!(le16(broken, first) & 2)) first = highestfirst::be32(broken, first + 12 + 3 + 4);
    const std::uint32_t second = le32(broken, first + 8), third = le32(broken, second + 8);
    ASSERT_EQ(le16(broken, second) & 2, 2u);
    const std::string a = broken.substr(second, 512), b = broken.substr(third, 512);
    broken.replace(second + 12, 500, b.substr(12));
    broken.replace(second + 2, 2, b.substr(2, 2));
    broken.replace(third + 12, 500, a.substr(12));
    broken.replace(third + 2, 2, a.substr(2, 2));
    MemoryBlockFile brokenFile(broken);
    CdxIndex damaged(brokenFile);
    ASSERT_EQ(damaged.open(), kOk);
    EXPECT_EQ(damaged.verify(tag), kCdxDamaged);

    // One key for every record: the record numbers tell the order.
    MemoryBlockFile sameFile;
    {
        CdxIndex built(sameFile);
        ASSERT_EQ(built.create(), kOk);
        tag = addTag(built, tagDef("D", 'C', 3, false, true),
                     {{highestfirst::complemented("KEY"), 1}, {highestfirst::complemented("KEY"), 2}});
    }
    highestfirst::storeHighestFirst(sameFile.bytes, tag, 3, 2);
    CdxIndex same(sameFile);
    ASSERT_EQ(same.open(), kOk);
    EXPECT_TRUE(same.tag(tag)->storedDescending);
    EXPECT_EQ(walk(same, tag), (std::vector<Entry>{{"KEY", 2}, {"KEY", 1}}));
    EXPECT_EQ(same.verify(tag), kOk);
}

TEST(Cdx, HeldChangesAndStagesUndone) {
    std::mt19937 rng(77);
    MemoryBlockFile file;
    CdxIndex cdx(file);
    ASSERT_EQ(cdx.create(), kOk);
    const auto nameOf = [](std::uint32_t v) {
        std::string k = "N" + std::to_string(v * 7919u % 100003u);
        k.resize(10, ' ');
        return k;
    };
    const auto numberOf = [](std::uint32_t v) { return encodeDouble((v * 104729u % 1009u) / 4.0); };
    std::vector<std::uint32_t> value; // value[r - 1]: what record r holds
    std::vector<Entry> initialA, initialB;
    for (std::uint32_t r = 1; r <= 300; ++r) {
        value.push_back(r);
        initialA.emplace_back(nameOf(r), r);
        initialB.emplace_back(numberOf(r), r);
    }
    const TagId a = addTag(cdx, tagDef("A", 'C', 10), initialA);
    const TagId b = addTag(cdx, tagDef("B", 'N', 8), initialB);
    const auto model = [&](bool names) {
        std::set<Entry> m;
        for (std::uint32_t r = 1; r <= value.size(); ++r)
            m.insert({names ? nameOf(value[r - 1]) : numberOf(value[r - 1]), r});
        return std::vector<Entry>(m.begin(), m.end());
    };
    const auto check = [&](CdxIndex& index, const char* when) {
        ASSERT_EQ(index.verify(a), kOk) << when;
        ASSERT_EQ(index.verify(b), kOk) << when;
        ASSERT_EQ(walk(index, a), model(true)) << when;
        ASSERT_EQ(walk(index, b), model(false)) << when;
    };
    std::string written = file.bytes;
    std::uint32_t fresh = 1000;
    for (int round = 0; round < 400; ++round) {
        // A few records change or are added in one stage.
        std::vector<KeyChange> changes;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> updates; // record, new value
        const int many = round % 25 == 0 ? 80 : 1 + static_cast<int>(rng() % 3);
        std::uint32_t added = 0;
        for (int i = 0; i < many; ++i) {
            const bool adding = rng() % 3 == 0;
            const std::uint32_t r = adding ? static_cast<std::uint32_t>(value.size() + 1 + added)
                                           : 1 + static_cast<std::uint32_t>(rng() % value.size());
            if (std::any_of(updates.begin(), updates.end(), [&](const auto& u) { return u.first == r; }))
                continue;
            const std::uint32_t v = ++fresh;
            if (adding) ++added;
            if (!adding) {
                changes.push_back({a, false, nameOf(value[r - 1]), r});
                changes.push_back({b, false, numberOf(value[r - 1]), r});
            }
            changes.push_back({a, true, nameOf(v), r});
            changes.push_back({b, true, numberOf(v), r});
            updates.emplace_back(r, v);
        }
        const bool refuse = rng() % 5 == 0;
        if (refuse) changes.push_back({b, true, "SHORT", 1}); // a key of the wrong length, last
        if (refuse) {
            ASSERT_EQ(cdx.stage(changes), kKeyBadLength);
        } else {
            ASSERT_EQ(cdx.stage(changes), kOk);
            if (rng() % 7 == 0) {
                cdx.dropStaged();
            } else {
                const bool hold = rng() % 4 != 0;
                ASSERT_EQ(cdx.commitStaged(hold), kOk);
                for (const auto& [r, v] : updates) {
                    if (r > value.size()) value.resize(r);
                    value[r - 1] = v;
                }
                if (hold) {
                    EXPECT_EQ(file.bytes, written) << round; // nothing written yet
                    EXPECT_TRUE(cdx.holding());
                } else {
                    written = file.bytes;
                    EXPECT_FALSE(cdx.holding());
                }
            }
        }
        check(cdx, refuse ? "after a refused stage" : "after a stage");
        if (round % 40 == 39) {
            ASSERT_EQ(cdx.writeHeld(), kOk);
            EXPECT_FALSE(cdx.holding());
            written = file.bytes;
            MemoryBlockFile copy(file.bytes);
            CdxIndex reopened(copy);
            ASSERT_EQ(reopened.open(), kOk);
            check(reopened, "opened afresh");
        }
    }
    // Clearing the mark writes what is held first.
    ASSERT_EQ(cdx.markChanging(true), kOk);
    ASSERT_EQ(cdx.stage({{a, true, nameOf(5), static_cast<std::uint32_t>(value.size() + 1)},
                         {b, true, numberOf(5), static_cast<std::uint32_t>(value.size() + 1)}}),
              kOk);
    ASSERT_EQ(cdx.commitStaged(true), kOk);
    value.push_back(5);
    {
        MemoryBlockFile copy(file.bytes); // cut off here: the mark says the index is out of date
        CdxIndex reopened(copy);
        ASSERT_EQ(reopened.open(), kOk);
        EXPECT_TRUE(reopened.outOfDate());
    }
    ASSERT_EQ(cdx.markChanging(false), kOk);
    MemoryBlockFile copy(file.bytes);
    CdxIndex reopened(copy);
    ASSERT_EQ(reopened.open(), kOk);
    EXPECT_FALSE(reopened.outOfDate());
    check(reopened, "after the mark");
}
