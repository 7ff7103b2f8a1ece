#include "engine/cdx.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
#include <map>
#include <numeric>
#include <set>
#include <unordered_map>

namespace engine {

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::size_t kNodeSize = 512;
constexpr std::size_t kHeaderSize = 1024;
constexpr std::size_t kLeafHead = 24;
constexpr std::size_t kLeafArea = kNodeSize - kLeafHead; // 488
constexpr std::size_t kInteriorHead = 12;
constexpr std::size_t kInteriorArea = kNodeSize - kInteriorHead; // 500
constexpr std::size_t kTagNameLen = 10;
constexpr int kMaxDepth = 64;             // deeper than any real tree; stops cycles in descents
constexpr std::size_t kCacheLimit = 2048; // decoded nodes kept between operations
constexpr std::size_t kCacheBytes = std::size_t{8} << 20; // and roughly the memory they may take

constexpr std::uint8_t kOptUnique = 1;
constexpr std::uint8_t kOptCandidate = 4;
constexpr std::uint8_t kOptFor = 8;
constexpr std::uint8_t kOptCompact = 32;
constexpr std::uint8_t kOptCompound = 64;
constexpr std::uint8_t kSignature = 1;
constexpr std::size_t kKeyTypeAt = 496; // our key type hint inside the reserved area

constexpr std::uint16_t kAttrRoot = 1;
constexpr std::uint16_t kAttrLeaf = 2;
// Set by the FoxPro family on the root of a tag whose root is a leaf (never on the tag
// directory's root); its meaning is not published. Read as neither root nor leaf, written as
// they write it.
constexpr std::uint16_t kAttrRootLeaf = 4;
constexpr std::uint16_t kAttrKnown = 7;
// The directory header's byte that says a change of table and index was under way and did
// not end (see markChanging); zero in files from elsewhere.
constexpr std::size_t kChangingAt = 497;
// Bytes of a tag header that are zero in every machine-order tag seen; anything there is
// taken as the mark of another collation sequence (our key type hint at 496 excepted).
constexpr std::size_t kCollationFrom = 33, kCollationTo = 496;

std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint32_t be32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}
void put16(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void putBe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * (3 - i)));
}

// Number of bits needed to write x.
int bitsFor(std::uint64_t x) {
    int n = 0;
    while (x) ++n, x >>= 1;
    return n;
}

// Trailing fill bytes of a key.
std::size_t trailing(const std::string& key, char fill) {
    const char* p = key.data();
    std::size_t n = key.size();
    while (n > 0 && p[n - 1] == fill) --n;
    return key.size() - n;
}

// Length of the common start of two keys, at most limit.
std::size_t shared(const std::string& a, const std::string& b, std::size_t limit) {
    const char* p = a.data();
    const char* q = b.data();
    limit = std::min({limit, a.size(), b.size()});
    std::size_t d = 0;
    // Eight bytes at a time while they agree (every leaf is sized this way on each change).
    if constexpr (std::endian::native == std::endian::little) {
        for (; d + 8 <= limit; d += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, p + d, 8);
            std::memcpy(&y, q + d, 8);
            if (x != y) return d + static_cast<std::size_t>(std::countr_zero(x ^ y) / 8);
        }
    }
    while (d < limit && p[d] == q[d]) ++d;
    return d;
}

int compareEntry(std::string_view aKey, std::uint32_t aRec, std::string_view bKey, std::uint32_t bRec) {
    const int c = compareKeys(aKey, bKey);
    if (c) return c;
    return aRec < bRec ? -1 : aRec > bRec ? 1 : 0;
}

} // namespace

// ---------------------------------------------------------------------------------------
// In-memory forms.

struct CdxEntry {
    std::string key;
    std::uint32_t recno = 0;
    std::uint32_t child = 0; // interior nodes only
};

struct CdxNode {
    bool leaf = true;
    bool root = false;
    bool freed = false;   // on the free list; nextFree is its link
    bool strange = false; // attribute bits this engine does not know: read, never changed
    std::uint32_t nextFree = kNone;
    std::uint16_t keyLen = 0; // the tag it was read for
    std::uint32_t left = kNone, right = kNone;
    std::vector<CdxEntry> entries;
};

// What the index needs of a tag (and of the directory, which is a tag of names).
struct TagMeta {
    TagId id = 0; // header offset (0 for the directory)
    std::uint32_t root = kNone;
    std::uint16_t keyLen = 0;
    char keyType = 'C';
    char fill = ' ';
    bool unique = false;
    bool descending = false;
    bool inverted = false; // descending, and stored so: highest key first (read, never changed)
    bool readOnly = false; // another collation sequence, or inverted: walked, never changed
    bool candidate = false;
    std::size_t interiorCap() const { return kInteriorArea / (keyLen + 8u); }
    // Whether the tag's order runs against the stored order (our own descending tags).
    bool backwards() const { return descending && !inverted; }
    // Entries and keys compared in stored order.
    int order(std::string_view aKey, std::uint32_t aRec, std::string_view bKey, std::uint32_t bRec) const {
        return inverted ? compareEntry(bKey, bRec, aKey, aRec) : compareEntry(aKey, aRec, bKey, bRec);
    }
    int orderKeys(std::string_view a, std::string_view b) const {
        return inverted ? compareKeys(b, a) : compareKeys(a, b);
    }
};

struct Ref {
    std::string key;
    std::uint32_t recno;
    std::uint32_t offset;
};

// The leaf layout for a given largest record number and key length.
struct LeafFormat {
    int recBits, dupBits, trailBits, bytes;
};

LeafFormat leafFormat(std::uint32_t maxRecno, std::size_t keyLen) {
    const int kb = bitsFor(keyLen);
    const int rb = std::max(bitsFor(maxRecno), 1);
    const int bytes = std::max(3, (rb + 2 * kb + 7) / 8);
    return {std::min(32, bytes * 8 - 2 * kb), kb, kb, bytes};
}

// Sizes of the entries of a leaf as they would be stored: trailing fill bytes and the bytes
// shared with the previous entry are left out.
struct LeafSizer {
    std::vector<std::size_t> trail, dup; // dup against the previous entry in the list
    std::size_t keyLen;
    std::uint32_t maxRecno = 0;

    LeafSizer(const std::vector<CdxEntry>& e, std::size_t len, char fill) : keyLen(len) {
        trail.resize(e.size());
        dup.resize(e.size());
        for (std::size_t i = 0; i < e.size(); ++i) {
            trail[i] = trailing(e[i].key, fill);
            dup[i] = i ? shared(e[i - 1].key, e[i].key, keyLen - trail[i]) : 0;
            maxRecno = std::max(maxRecno, e[i].recno);
        }
    }
    std::size_t stored(std::size_t i, bool first) const { return keyLen - trail[i] - (first ? 0 : dup[i]); }
    // Bytes that entries [a, b) take as one node, with the entry size of the whole list.
    std::size_t bytes(std::size_t a, std::size_t b, int entryBytes) const {
        std::size_t n = 0;
        for (std::size_t i = a; i < b; ++i) n += stored(i, i == a) + static_cast<std::size_t>(entryBytes);
        return n;
    }
};

// Bytes the entries take in one leaf.
std::size_t leafBytes(const std::vector<CdxEntry>& e, std::size_t keyLen, char fill) {
    std::uint32_t maxRecno = 0;
    std::size_t keys = 0;
    for (std::size_t i = 0; i < e.size(); ++i) {
        const std::size_t t = trailing(e[i].key, fill);
        const std::size_t d = i ? shared(e[i - 1].key, e[i].key, keyLen - t) : 0;
        keys += keyLen - t - d;
        maxRecno = std::max(maxRecno, e[i].recno);
    }
    return keys + e.size() * static_cast<std::size_t>(leafFormat(maxRecno, keyLen).bytes);
}

bool leafFits(const std::vector<CdxEntry>& e, std::size_t keyLen, char fill) {
    return leafBytes(e, keyLen, fill) <= kLeafArea;
}

// Encodes a node into 512 bytes; false when its entries do not fit.
bool encodeNode(const CdxNode& n, const TagMeta& t, unsigned char* out) {
    std::memset(out, 0, kNodeSize);
    if (n.freed) {
        put32(out, n.nextFree);
        return true;
    }
    std::uint32_t attr = (n.leaf ? kAttrLeaf : 0) | (n.root ? kAttrRoot : 0);
    if (n.leaf && n.root && t.id != 0) attr |= kAttrRootLeaf;
    put16(out, attr);
    put16(out + 2, static_cast<std::uint32_t>(n.entries.size()));
    put32(out + 4, n.left);
    put32(out + 8, n.right);
    if (!n.leaf) {
        const std::size_t size = t.keyLen + 8u;
        if (n.entries.size() * size > kInteriorArea) return false;
        unsigned char* p = out + kInteriorHead;
        for (const CdxEntry& e : n.entries) {
            std::memcpy(p, e.key.data(), t.keyLen);
            putBe32(p + t.keyLen, e.recno);
            putBe32(p + t.keyLen + 4, e.child);
            p += size;
        }
        return true;
    }
    const LeafSizer s(n.entries, t.keyLen, t.fill);
    const LeafFormat f = leafFormat(s.maxRecno, t.keyLen);
    const std::size_t used = s.bytes(0, n.entries.size(), f.bytes);
    if (used > kLeafArea) return false;
    put16(out + 12, static_cast<std::uint32_t>(kLeafArea - used));
    put32(out + 14, f.recBits >= 32 ? 0xFFFFFFFFu : (1u << f.recBits) - 1);
    out[18] = static_cast<unsigned char>((1u << f.dupBits) - 1);
    out[19] = static_cast<unsigned char>((1u << f.trailBits) - 1);
    out[20] = static_cast<unsigned char>(f.recBits);
    out[21] = static_cast<unsigned char>(f.dupBits);
    out[22] = static_cast<unsigned char>(f.trailBits);
    out[23] = static_cast<unsigned char>(f.bytes);
    std::size_t keyPos = kNodeSize;
    for (std::size_t i = 0; i < n.entries.size(); ++i) {
        const CdxEntry& e = n.entries[i];
        const std::size_t dup = i ? s.dup[i] : 0;
        const std::size_t stored = t.keyLen - dup - s.trail[i];
        std::uint64_t info = e.recno;
        info |= static_cast<std::uint64_t>(dup) << f.recBits;
        info |= static_cast<std::uint64_t>(s.trail[i]) << (f.recBits + f.dupBits);
        unsigned char* p = out + kLeafHead + i * static_cast<std::size_t>(f.bytes);
        for (int b = 0; b < f.bytes; ++b) p[b] = static_cast<unsigned char>(info >> (8 * b));
        keyPos -= stored;
        std::memcpy(out + keyPos, e.key.data() + dup, stored);
    }
    return true;
}

// Decodes and checks a node; kCdxDamaged for anything that does not hold together.
Result decodeNode(const unsigned char* b, const TagMeta& t, std::uint64_t fileEnd, CdxNode& n,
                  bool checkOrder = true) {
    const std::uint16_t attr = le16(b);
    n = CdxNode();
    n.leaf = attr & kAttrLeaf;
    n.root = attr & kAttrRoot;
    n.strange = (attr & ~kAttrKnown) != 0;
    n.keyLen = t.keyLen;
    n.left = le32(b + 4);
    n.right = le32(b + 8);
    const std::size_t count = le16(b + 2);
    const auto validPointer = [&](std::uint32_t p) {
        return p == kNone ||
               (p % kNodeSize == 0 && p >= kHeaderSize && p + std::uint64_t{kNodeSize} <= fileEnd);
    };
    if (!validPointer(n.left) || !validPointer(n.right)) return kCdxDamaged;
    n.entries.resize(count);
    if (!n.leaf) {
        const std::size_t size = t.keyLen + 8u;
        if (count * size > kInteriorArea) return kCdxDamaged;
        const unsigned char* p = b + kInteriorHead;
        for (std::size_t i = 0; i < count; ++i, p += size) {
            CdxEntry& e = n.entries[i];
            e.key.assign(reinterpret_cast<const char*>(p), t.keyLen);
            e.recno = be32(p + t.keyLen);
            e.child = be32(p + t.keyLen + 4);
            if (e.child == kNone || !validPointer(e.child)) return kCdxDamaged;
            if (checkOrder && i && t.order(n.entries[i - 1].key, n.entries[i - 1].recno, e.key, e.recno) >= 0)
                return kCdxDamaged;
        }
        return kOk;
    }
    const std::uint32_t recMask = le32(b + 14);
    const unsigned dupMask = b[18], trailMask = b[19];
    const int recBits = b[20], dupBits = b[21], trailBits = b[22], bytes = b[23];
    if (count == 0) return kOk;
    if (bytes < 1 || bytes > 8 || recBits < 1 || recBits > 32 || dupBits > 8 || trailBits > 8 ||
        recBits + dupBits + trailBits > bytes * 8)
        return kCdxDamaged;
    if (recMask != (recBits == 32 ? 0xFFFFFFFFu : (1u << recBits) - 1) || dupMask != (1u << dupBits) - 1 ||
        trailMask != (1u << trailBits) - 1)
        return kCdxDamaged;
    if (count * static_cast<std::size_t>(bytes) > kLeafArea) return kCdxDamaged;
    const std::size_t infoEnd = kLeafHead + count * static_cast<std::size_t>(bytes);
    std::size_t keyPos = kNodeSize;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* p = b + kLeafHead + i * static_cast<std::size_t>(bytes);
        std::uint64_t info = 0;
        for (int k = bytes - 1; k >= 0; --k) info = info << 8 | p[k];
        CdxEntry& e = n.entries[i];
        e.recno = static_cast<std::uint32_t>(info & recMask);
        const std::size_t dup = (info >> recBits) & dupMask;
        const std::size_t trail = (info >> (recBits + dupBits)) & trailMask;
        if (dup + trail > t.keyLen || (i == 0 && dup != 0)) return kCdxDamaged;
        const std::size_t stored = t.keyLen - dup - trail;
        if (keyPos < infoEnd + stored) return kCdxDamaged;
        keyPos -= stored;
        e.key.reserve(t.keyLen);
        if (dup) e.key.assign(n.entries[i - 1].key, 0, dup);
        e.key.append(reinterpret_cast<const char*>(b + keyPos), stored);
        e.key.append(trail, t.fill);
        if (checkOrder && i && t.order(n.entries[i - 1].key, n.entries[i - 1].recno, e.key, e.recno) >= 0)
            return kCdxDamaged;
    }
    return kOk;
}

// ---------------------------------------------------------------------------------------
// The index's state.

struct CdxState {
    BlockFile* file = nullptr;
    bool open = false;
    bool changing = false;   // the file's mark of an unfinished change
    bool markedByUs = false; // ... set by this index itself
    bool staged = false;     // changes made in memory by stage(), not yet written
    std::uint32_t counter = 0;
    std::uint32_t freeList = kNone;
    std::uint64_t end = 0; // file size, plus nodes allocated and not yet written
    TagMeta dir;           // the tag directory
    std::vector<TagInfo> tags;
    std::map<TagId, TagMeta> metas;
    std::map<TagId, char> keyTypes; // key types the caller gave for tags whose file did not say
    std::set<TagId> unknownTypes;   // tags whose key type nobody has said yet

    std::unordered_map<std::uint32_t, CdxNode> cache;
    std::size_t cacheBytes = 0; // weight() of the nodes read into the cache
    std::set<std::uint32_t> dirty;
    std::map<std::uint32_t, const TagMeta*> dirtyTag; // the tag each dirty node belongs to
    std::set<TagId> dirtyHeaders;                     // tag headers whose root moved
    // Saved at the start of a change so that a failed one leaves nothing behind.
    std::uint32_t savedFree = kNone;
    std::uint64_t savedEnd = 0;
    std::map<TagId, std::uint32_t> savedRoots;

    TagMeta* meta(TagId id) {
        if (id == 0) return &dir;
        const auto it = metas.find(id);
        return it == metas.end() ? nullptr : &it->second;
    }

    Result load(const TagMeta& t, std::uint32_t off, CdxNode*& out) {
        const auto it = cache.find(off);
        if (it != cache.end()) {
            if (it->second.freed || it->second.keyLen != t.keyLen) return kCdxDamaged;
            out = &it->second;
            return kOk;
        }
        if (off % kNodeSize || off < kHeaderSize || off + std::uint64_t{kNodeSize} > end) return kCdxDamaged;
        unsigned char buf[kNodeSize];
        if (!file->read(off, buf, kNodeSize)) return kCdxIo;
        CdxNode n;
        if (const Result r = decodeNode(buf, t, end, n)) return r;
        cacheBytes += weight(n);
        out = &cache.emplace(off, std::move(n)).first->second;
        return kOk;
    }

    void markDirty(std::uint32_t off, const TagMeta& t) {
        dirty.insert(off);
        dirtyTag[off] = &t;
    }

    // Before a read: keeps the cache from growing without end.
    // Interior nodes, few and met by every search, stay; leaves go first.
    void trim() {
        if (cache.size() <= kCacheLimit && cacheBytes <= kCacheBytes) return;
        cacheBytes = 0;
        for (auto it = cache.begin(); it != cache.end();) {
            if (it->second.leaf || it->second.freed) {
                it = cache.erase(it);
            } else {
                cacheBytes += weight(it->second);
                ++it;
            }
        }
        if (cache.size() > kCacheLimit / 2 || cacheBytes > kCacheBytes / 2) forget();
    }

    // Roughly the memory a decoded node takes.
    static std::size_t weight(const CdxNode& n) { return 96 + n.entries.size() * (n.keyLen + 48u); }

    void forget() {
        cache.clear();
        cacheBytes = 0;
    }

    // Before a change.
    void begin() {
        trim();
        savedFree = freeList;
        savedEnd = end;
        savedRoots.clear();
        savedRoots[0] = dir.root;
        for (auto& [id, m] : metas) savedRoots[id] = m.root;
    }

    // Forgets every change made in memory since begin().
    void abort() {
        forget();
        dirty.clear();
        dirtyTag.clear();
        dirtyHeaders.clear();
        freeList = savedFree;
        end = savedEnd;
        for (auto& [id, root] : savedRoots)
            if (TagMeta* m = meta(id)) m->root = root;
    }

    std::uint32_t allocate(const TagMeta& t, CdxNode*& out) {
        std::uint32_t off = kNone;
        if (freeList != kNone) {
            const std::uint32_t cand = freeList;
            std::uint32_t next = kNone;
            bool ok = cand % kNodeSize == 0 && cand >= kHeaderSize && cand + std::uint64_t{kNodeSize} <= end;
            if (ok) {
                const auto it = cache.find(cand);
                if (it != cache.end()) {
                    ok = it->second.freed;
                    next = it->second.nextFree;
                } else {
                    unsigned char buf[4];
                    ok = file->read(cand, buf, 4);
                    next = le32(buf);
                }
            }
            if (ok) {
                off = cand;
                freeList = next;
            } else {
                freeList = kNone; // a broken list is dropped, not followed
            }
        }
        if (off == kNone) {
            end = (end + kNodeSize - 1) / kNodeSize * kNodeSize;
            off = static_cast<std::uint32_t>(end);
            end += kNodeSize;
        }
        CdxNode& n = cache[off];
        n = CdxNode();
        n.keyLen = t.keyLen;
        markDirty(off, t);
        out = &n;
        return off;
    }

    void release(std::uint32_t off, CdxNode& n, const TagMeta& t) {
        n = CdxNode();
        n.freed = true;
        n.keyLen = t.keyLen;
        n.nextFree = freeList;
        freeList = off;
        markDirty(off, t);
    }

    // Takes a node out of its level's sibling chain and puts it on the free list.
    Result unlinkAndRelease(const TagMeta& t, std::uint32_t off) {
        CdxNode* n;
        if (const Result r = load(t, off, n)) return r;
        const std::uint32_t left = n->left, right = n->right;
        if (left != kNone) {
            CdxNode* l;
            if (const Result r = load(t, left, l)) return r;
            l->right = right;
            markDirty(left, t);
        }
        if (right != kNone) {
            CdxNode* r;
            if (const Result res = load(t, right, r)) return res;
            r->left = left;
            markDirty(right, t);
        }
        release(off, *n, t);
        return kOk;
    }

    Result writeHeaderFields(TagId id, std::uint32_t root) {
        unsigned char buf[12];
        put32(buf, root);
        // An empty free list is written 0, as the FoxPro family writes it (-1 is read too).
        put32(buf + 4, id == 0 && freeList != kNone ? freeList : 0);
        put32(buf + 8, counter);
        return file->write(id, buf, sizeof buf) ? kOk : kCdxIo;
    }

    // Writes every changed node and header, and moves the change counter on.
    Result commit() {
        if (end > 0xFFFFFFFFull) {
            abort();
            return kCdxTooBig;
        }
        ++counter;
        std::vector<unsigned char> run;
        std::uint32_t runStart = 0;
        const auto flush = [&]() {
            if (run.empty()) return true;
            const bool ok = file->write(runStart, run.data(), run.size());
            run.clear();
            return ok;
        };
        bool ok = true;
        for (std::uint32_t off : dirty) {
            const auto it = cache.find(off);
            if (it == cache.end()) continue;
            if (!run.empty() && runStart + run.size() != off) ok = flush() && ok;
            if (run.empty()) runStart = off;
            const std::size_t at = run.size();
            run.resize(at + kNodeSize);
            if (!encodeNode(it->second, *dirtyTag[off], run.data() + at)) ok = false;
            if (run.size() >= (std::size_t{1} << 20)) ok = flush() && ok;
        }
        ok = flush() && ok;
        for (TagId id : dirtyHeaders) {
            if (id == 0) continue;
            if (const TagMeta* m = meta(id)) ok = writeHeaderFields(id, m->root) == kOk && ok;
        }
        ok = writeHeaderFields(0, dir.root) == kOk && ok;
        dirty.clear();
        dirtyTag.clear();
        dirtyHeaders.clear();
        if (!ok) {
            forget();
            return kCdxIo;
        }
        return kOk;
    }

    // ---- Reading a tree.

    struct Pos {
        std::uint32_t leaf = kNone;
        std::size_t slot = 0;
        bool atEnd() const { return leaf == kNone; }
    };

    // Physical first / last entry.
    Result edge(const TagMeta& t, bool last, Pos& pos) {
        std::uint32_t off = t.root;
        for (int depth = 0;; ++depth) {
            if (depth > kMaxDepth) return kCdxDamaged;
            CdxNode* n;
            if (const Result r = load(t, off, n)) return r;
            if (n->leaf) {
                if (n->entries.empty()) {
                    pos = Pos();
                    // An empty leaf is only normal as the root of an empty tag; otherwise look
                    // further along the level.
                    if (n->left == kNone && n->right == kNone) return kOk;
                    Pos from{off, 0};
                    return last ? stepBack(t, from, nullptr, pos, true) : stepOn(t, from, nullptr, pos, true);
                }
                pos = {off, last ? n->entries.size() - 1 : 0};
                return kOk;
            }
            if (n->entries.empty()) return kCdxDamaged;
            off = last ? n->entries.back().child : n->entries.front().child;
        }
    }

    // The next entry along the leaf level; with fromEmpty the start position is a leaf
    // without entries to look beyond. Every step must move to a larger entry, which also
    // stops a cycle in the sibling links.
    Result stepOn(const TagMeta& t, Pos from, const CdxEntry* current, Pos& out, bool fromEmpty = false) {
        CdxNode* n;
        if (const Result r = load(t, from.leaf, n)) return r;
        if (!fromEmpty && from.slot + 1 < n->entries.size()) {
            out = {from.leaf, from.slot + 1};
            return kOk;
        }
        CdxEntry last;
        if (!fromEmpty && !n->entries.empty())
            last = n->entries[std::min(from.slot, n->entries.size() - 1)];
        else if (current)
            last = *current;
        const bool haveLast = !fromEmpty || current;
        std::uint32_t next = n->right;
        for (std::uint64_t steps = 0; next != kNone; ++steps) {
            if (steps > end / kNodeSize) return kCdxDamaged;
            CdxNode* m;
            if (const Result r = load(t, next, m)) return r;
            if (!m->leaf) return kCdxDamaged;
            if (!m->entries.empty()) {
                const CdxEntry& f = m->entries.front();
                if (haveLast && t.order(last.key, last.recno, f.key, f.recno) >= 0) return kCdxDamaged;
                out = {next, 0};
                return kOk;
            }
            next = m->right;
        }
        out = Pos();
        return kOk;
    }

    Result stepBack(const TagMeta& t, Pos from, const CdxEntry* current, Pos& out, bool fromEmpty = false) {
        CdxNode* n;
        if (const Result r = load(t, from.leaf, n)) return r;
        if (!fromEmpty && from.slot > 0 && from.slot <= n->entries.size()) {
            out = {from.leaf, from.slot - 1};
            return kOk;
        }
        CdxEntry first;
        if (!fromEmpty && !n->entries.empty())
            first = n->entries.front();
        else if (current)
            first = *current;
        const bool haveFirst = !fromEmpty || current;
        std::uint32_t prev = n->left;
        for (std::uint64_t steps = 0; prev != kNone; ++steps) {
            if (steps > end / kNodeSize) return kCdxDamaged;
            CdxNode* m;
            if (const Result r = load(t, prev, m)) return r;
            if (!m->leaf) return kCdxDamaged;
            if (!m->entries.empty()) {
                const CdxEntry& l = m->entries.back();
                if (haveFirst && t.order(l.key, l.recno, first.key, first.recno) >= 0) return kCdxDamaged;
                out = {prev, m->entries.size() - 1};
                return kOk;
            }
            prev = m->left;
        }
        out = Pos();
        return kOk;
    }

    // The first entry for which before(entry) is false; before must be true for a leading run
    // of the entries and false for the rest.
    template <class Before> Result lowerBound(const TagMeta& t, Before before, Pos& pos) {
        std::uint32_t off = t.root;
        for (int depth = 0;; ++depth) {
            if (depth > kMaxDepth) return kCdxDamaged;
            CdxNode* n;
            if (const Result r = load(t, off, n)) return r;
            // Entries are in order, so before() holds for a leading run: search it in halves.
            std::size_t i = 0, hi = n->entries.size();
            while (i < hi) {
                const std::size_t mid = (i + hi) / 2;
                if (before(n->entries[mid]))
                    i = mid + 1;
                else
                    hi = mid;
            }
            if (n->leaf) {
                if (i < n->entries.size()) {
                    pos = {off, i};
                    return kOk;
                }
                if (n->entries.empty() && n->left == kNone && n->right == kNone) {
                    pos = Pos();
                    return kOk;
                }
                // Past this leaf's entries: the answer, if any, starts the next leaf.
                const CdxEntry* lastEntry = n->entries.empty() ? nullptr : &n->entries.back();
                if (const Result r = stepOn(t, {off, n->entries.empty() ? 0 : n->entries.size() - 1},
                                            lastEntry, pos, n->entries.empty()))
                    return r;
                if (!pos.atEnd()) {
                    CdxNode* m;
                    if (const Result r = load(t, pos.leaf, m)) return r;
                    if (before(m->entries[pos.slot])) pos = Pos();
                }
                return kOk;
            }
            if (n->entries.empty()) return kCdxDamaged;
            if (i == n->entries.size()) {
                pos = Pos();
                return kOk;
            }
            off = n->entries[i].child;
        }
    }

    Result lowerBoundEntry(const TagMeta& t, std::string_view key, std::uint32_t recno, Pos& pos) {
        return lowerBound(
            t, [&](const CdxEntry& e) { return t.order(e.key, e.recno, key, recno) < 0; }, pos);
    }

    const CdxEntry* entryAt(const TagMeta& t, Pos p) {
        if (p.atEnd()) return nullptr;
        CdxNode* n;
        if (load(t, p.leaf, n) || p.slot >= n->entries.size()) return nullptr;
        return &n->entries[p.slot];
    }

    // ---- Changing a tree.

    // Splits an over-full node's entries into pieces that each fit: two halves as even as
    // possible, or more when no two will do.
    std::vector<std::vector<CdxEntry>> split(const TagMeta& t, const CdxNode& n) {
        std::vector<std::vector<CdxEntry>> pieces;
        const std::size_t count = n.entries.size();
        std::vector<std::size_t> cuts; // start of each piece after the first
        if (!n.leaf) {
            const std::size_t cap = t.interiorCap();
            const std::size_t k = (count + cap - 1) / cap;
            for (std::size_t p = 1; p < k; ++p) cuts.push_back(count * p / k);
        } else {
            const LeafSizer s(n.entries, t.keyLen, t.fill);
            const int eb = leafFormat(s.maxRecno, t.keyLen).bytes;
            bool found = false;
            for (std::size_t d = 0; d < count && !found; ++d) {
                for (int sign = 0; sign < 2 && !found; ++sign) {
                    const std::size_t mid = count / 2;
                    if (sign ? d > mid : mid + d >= count) continue;
                    const std::size_t k = sign ? mid - d : mid + d;
                    if (k == 0 || k >= count) continue;
                    if (s.bytes(0, k, eb) <= kLeafArea && s.bytes(k, count, eb) <= kLeafArea) {
                        cuts.push_back(k);
                        found = true;
                    }
                }
            }
            if (!found) {
                std::size_t start = 0, used = 0;
                for (std::size_t i = 0; i < count; ++i) {
                    const std::size_t add = s.stored(i, i == start) + static_cast<std::size_t>(eb);
                    if (i > start && used + add > kLeafArea) {
                        cuts.push_back(i);
                        start = i;
                        used = s.stored(i, true) + static_cast<std::size_t>(eb);
                    } else {
                        used += add;
                    }
                }
            }
        }
        std::size_t from = 0;
        cuts.push_back(count);
        for (std::size_t c : cuts) {
            pieces.emplace_back(
                std::make_move_iterator(n.entries.begin() + static_cast<std::ptrdiff_t>(from)),
                std::make_move_iterator(n.entries.begin() + static_cast<std::ptrdiff_t>(c)));
            from = c;
        }
        return pieces;
    }

    bool fits(const TagMeta& t, const CdxNode& n) {
        if (!n.leaf) return n.entries.size() <= t.interiorCap();
        return leafFits(n.entries, t.keyLen, t.fill);
    }

    // Writes back a node after its entries changed: freed when empty, split when over-full.
    // out receives what the parent must hold in its place.
    Result finish(const TagMeta& t, std::uint32_t off, CdxNode& n, std::vector<Ref>& out) {
        out.clear();
        if (n.entries.empty()) return unlinkAndRelease(t, off);
        n.root = false;
        if (fits(t, n)) {
            markDirty(off, t);
            out.push_back({n.entries.back().key, n.entries.back().recno, off});
            return kOk;
        }
        auto pieces = split(t, n);
        const std::uint32_t right = n.right;
        const bool leaf = n.leaf;
        n.entries = std::move(pieces[0]);
        markDirty(off, t);
        out.push_back({n.entries.back().key, n.entries.back().recno, off});
        std::uint32_t prevOff = off;
        CdxNode* prev = &n;
        for (std::size_t p = 1; p < pieces.size(); ++p) {
            CdxNode* m;
            const std::uint32_t mo = allocate(t, m);
            m->leaf = leaf;
            m->entries = std::move(pieces[p]);
            m->left = prevOff;
            prev->right = mo;
            out.push_back({m->entries.back().key, m->entries.back().recno, mo});
            prevOff = mo;
            prev = m;
        }
        prev->right = right;
        if (right != kNone) {
            CdxNode* r;
            if (const Result res = load(t, right, r)) return res;
            r->left = prevOff;
            markDirty(right, t);
        }
        return kOk;
    }

    // After a removal below entry i of an interior node: when that child is less than half
    // full, merges it with a neighbour under the same parent if the two fit in one node.
    Result mergeChild(const TagMeta& t, CdxNode& parent, std::size_t i) {
        if (parent.entries.size() < 2) return kOk;
        CdxNode* child;
        if (const Result r = load(t, parent.entries[i].child, child)) return r;
        const bool small = child->leaf ? leafBytes(child->entries, t.keyLen, t.fill) < kLeafArea / 2
                                       : child->entries.size() < t.interiorCap() / 2 + 1;
        if (!small) return kOk;
        const std::size_t a = i + 1 < parent.entries.size() ? i : i - 1;
        const std::size_t b = a + 1;
        const std::uint32_t aOff = parent.entries[a].child, bOff = parent.entries[b].child;
        CdxNode *na, *nb;
        if (const Result r = load(t, aOff, na)) return r;
        if (const Result r = load(t, bOff, nb)) return r;
        if (na->leaf != nb->leaf || na->right != bOff || nb->left != aOff) return kOk; // not a pair to merge
        CdxNode merged;
        merged.leaf = na->leaf;
        merged.entries = na->entries;
        merged.entries.insert(merged.entries.end(), nb->entries.begin(), nb->entries.end());
        if (!fits(t, merged)) return kOk;
        na->entries = std::move(merged.entries);
        na->right = nb->right;
        if (nb->right != kNone) {
            CdxNode* r;
            if (const Result res = load(t, nb->right, r)) return res;
            r->left = aOff;
            markDirty(nb->right, t);
        }
        markDirty(aOff, t);
        release(bOff, *nb, t);
        parent.entries[a].key = parent.entries[b].key;
        parent.entries[a].recno = parent.entries[b].recno;
        parent.entries.erase(parent.entries.begin() + static_cast<std::ptrdiff_t>(b));
        return kOk;
    }

    Result modify(const TagMeta& t, std::uint32_t off, bool insert, std::string_view key, std::uint32_t recno,
                  int depth, std::vector<Ref>& out) {
        if (depth > kMaxDepth) return kCdxDamaged;
        CdxNode* n;
        if (const Result r = load(t, off, n)) return r;
        if (n->strange) return kCdxReadOnlyTag;
        auto& es = n->entries;
        std::size_t i = 0;
        {
            std::size_t lo = 0, hi = es.size();
            while (lo < hi) {
                const std::size_t mid = (lo + hi) / 2;
                if (t.order(es[mid].key, es[mid].recno, key, recno) < 0)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            i = lo;
        }
        if (n->leaf) {
            if (insert) {
                es.insert(es.begin() + static_cast<std::ptrdiff_t>(i), CdxEntry{std::string(key), recno, 0});
            } else {
                if (i == es.size() || es[i].recno != recno || es[i].key != key) return kCdxKeyNotFound;
                es.erase(es.begin() + static_cast<std::ptrdiff_t>(i));
            }
            return finish(t, off, *n, out);
        }
        if (es.empty()) return kCdxDamaged;
        if (i == es.size()) {
            if (!insert) return kCdxKeyNotFound;
            i = es.size() - 1;
        }
        std::vector<Ref> refs;
        if (const Result r = modify(t, es[i].child, insert, key, recno, depth + 1, refs)) return r;
        // The cache keeps its nodes in place, so n is still valid.
        // An insertion that left the child's place and last key as they were leaves this node
        // as it was: it need not be written again.
        if (insert && refs.size() == 1 && refs[0].offset == es[i].child && refs[0].recno == es[i].recno &&
            refs[0].key == es[i].key) {
            out.clear();
            out.push_back({es.back().key, es.back().recno, off});
            return kOk;
        }
        es.erase(es.begin() + static_cast<std::ptrdiff_t>(i));
        std::vector<CdxEntry> repl;
        for (Ref& r : refs) repl.push_back({std::move(r.key), r.recno, r.offset});
        es.insert(es.begin() + static_cast<std::ptrdiff_t>(i), repl.begin(), repl.end());
        if (!insert && refs.size() == 1)
            if (const Result r = mergeChild(t, *n, i)) return r;
        return finish(t, off, *n, out);
    }

    // Inserts or erases one entry of a tag and settles the root.
    Result change(TagMeta& t, bool insert, std::string_view key, std::uint32_t recno) {
        if (t.readOnly) return kCdxReadOnlyTag;
        std::vector<Ref> refs;
        if (const Result r = modify(t, t.root, insert, key, recno, 0, refs)) return r;
        return settleRoot(t, std::move(refs));
    }

    Result settleRoot(TagMeta& t, std::vector<Ref> refs) {
        const std::uint32_t oldRoot = t.root;
        CdxNode* rootNode = nullptr;
        if (refs.empty()) {
            t.root = allocate(t, rootNode);
            rootNode->leaf = true;
        } else {
            // Grow new levels while the top holds more than one node.
            while (refs.size() > 1) {
                const std::size_t cap = t.interiorCap();
                const std::size_t k = (refs.size() + cap - 1) / cap;
                std::vector<Ref> up;
                std::uint32_t prevOff = kNone;
                CdxNode* prev = nullptr;
                std::size_t from = 0;
                for (std::size_t p = 1; p <= k; ++p) {
                    const std::size_t to = refs.size() * p / k;
                    CdxNode* m;
                    const std::uint32_t mo = allocate(t, m);
                    m->leaf = false;
                    for (std::size_t j = from; j < to; ++j)
                        m->entries.push_back({refs[j].key, refs[j].recno, refs[j].offset});
                    m->left = prevOff;
                    if (prev) prev->right = mo;
                    up.push_back({m->entries.back().key, m->entries.back().recno, mo});
                    prevOff = mo;
                    prev = m;
                    from = to;
                }
                refs = std::move(up);
            }
            t.root = refs[0].offset;
            if (const Result r = load(t, t.root, rootNode)) return r;
            // Drop interior roots with a single child.
            for (int depth = 0; !rootNode->leaf && rootNode->entries.size() == 1; ++depth) {
                if (depth > kMaxDepth) return kCdxDamaged;
                const std::uint32_t child = rootNode->entries[0].child;
                release(t.root, *rootNode, t);
                t.root = child;
                if (const Result r = load(t, t.root, rootNode)) return r;
            }
        }
        // A root left as it was (below it only a leaf changed) is not written again.
        const bool same =
            t.root == oldRoot && rootNode->root && rootNode->left == kNone && rootNode->right == kNone;
        rootNode->root = true;
        rootNode->left = rootNode->right = kNone;
        if (!same) markDirty(t.root, t);
        dirtyHeaders.insert(t.id);
        return kOk;
    }

    // ---- Building a whole tree from sorted entries, written in one pass.

    Result build(TagMeta& t, const KeyList& keys, const std::vector<std::uint32_t>& order) {
        const std::size_t count = order.size();
        std::uint32_t maxRecno = 0;
        for (std::uint32_t i : order) maxRecno = std::max(maxRecno, keys.recno(i));
        const LeafFormat f = leafFormat(maxRecno, t.keyLen);
        const std::size_t eb = static_cast<std::size_t>(f.bytes);

        // Cut the sorted keys into leaves, each filled as far as it goes.
        std::vector<std::size_t> starts;
        {
            std::size_t used = kLeafArea + 1;
            std::string_view prev;
            for (std::size_t i = 0; i < count; ++i) {
                const std::string_view k = keys.key(order[i]);
                std::size_t trail = 0;
                while (trail < k.size() && k[k.size() - 1 - trail] == t.fill) ++trail;
                std::size_t dup = 0;
                if (!prev.empty())
                    while (dup < k.size() && prev[dup] == k[dup]) ++dup;
                dup = std::min(dup, t.keyLen - trail);
                const std::size_t full = t.keyLen - trail + eb;
                if (used + full - dup > kLeafArea) {
                    starts.push_back(i);
                    used = full;
                } else {
                    used += full - dup;
                }
                prev = k;
            }
        }
        // Leaves take free nodes first, then new ones at the end of the file; they are written
        // with the rest of the change.
        std::vector<Ref> level;
        std::vector<CdxNode*> nodes;
        for (std::size_t l = 0; l < starts.size(); ++l) {
            const std::size_t from = starts[l], to = l + 1 < starts.size() ? starts[l + 1] : count;
            CdxNode* n;
            const std::uint32_t off = allocate(t, n);
            n->leaf = true;
            n->entries.reserve(to - from);
            for (std::size_t i = from; i < to; ++i)
                n->entries.push_back({std::string(keys.key(order[i])), keys.recno(order[i]), 0});
            if (l) {
                n->left = level.back().offset;
                nodes.back()->right = off;
            }
            level.push_back({n->entries.back().key, n->entries.back().recno, off});
            nodes.push_back(n);
        }
        return settleRoot(t, std::move(level));
    }

    // ---- The directory.

    Result readTags() {
        tags.clear();
        metas.clear();
        Pos p;
        if (const Result r = edge(dir, false, p)) return r;
        std::set<TagId> seen;
        while (!p.atEnd()) {
            const CdxEntry* e = entryAt(dir, p);
            if (!e) return kCdxDamaged;
            const TagId id = e->recno;
            if (id % kNodeSize || id < kHeaderSize || id + std::uint64_t{kHeaderSize} > end ||
                !seen.insert(id).second)
                return kCdxDamaged;
            TagInfo info;
            TagMeta m;
            if (const Result r = readTagHeader(id, *e, info, m)) return r;
            tags.push_back(info);
            metas[id] = m;
            const CdxEntry current = *e;
            if (const Result r = stepOn(dir, p, &current, p)) return r;
        }
        std::sort(tags.begin(), tags.end(), [](const TagInfo& a, const TagInfo& b) { return a.id < b.id; });
        return kOk;
    }

    Result readTagHeader(TagId id, const CdxEntry& dirEntry, TagInfo& info, TagMeta& m) {
        unsigned char h[kHeaderSize];
        if (!file->read(id, h, sizeof h)) return kCdxIo;
        m.id = id;
        m.root = le32(h);
        m.keyLen = le16(h + 12);
        if (m.keyLen < 1 || m.keyLen > kMaxKeyLen) return kCdxDamaged;
        const std::uint8_t options = h[14];
        m.unique = options & kOptUnique;
        m.candidate = options & kOptCandidate;
        m.descending = le16(h + 502) != 0;
        char hint = static_cast<char>(h[kKeyTypeAt]);
        if (const auto given = keyTypes.find(id); !validKeyType(hint) && given != keyTypes.end())
            hint = given->second;
        info.keyTypeKnown = validKeyType(hint);
        unknownTypes.erase(id);
        if (info.keyTypeKnown) {
            m.keyType = hint;
        } else {
            // Files from elsewhere do not say: a key of 1, 4 or 8 bytes may be binary, and
            // only the key expression tells. Until the caller says, read it as text.
            m.keyType = 'C';
            info.keyTypeKnown = m.keyLen != 8 && m.keyLen != 4 && m.keyLen != 1;
            if (!info.keyTypeKnown) unknownTypes.insert(id);
        }
        if (m.keyType != 'C' && m.keyLen != fixedKeyLength(m.keyType)) return kCdxDamaged;
        for (std::size_t i = kCollationFrom; i < kCollationTo && !m.readOnly; ++i) m.readOnly = h[i] != 0;
        info.readOnly = m.readOnly;
        m.fill = keyFill(m.keyType);
        if (m.descending) {
            m.inverted = storedHighestFirst(m);
            if (m.inverted) m.readOnly = true;
        }
        const std::size_t forLen = le16(h + 506), keyPool = le16(h + 510);
        if (keyPool + forLen > kHeaderSize - 512) return kCdxDamaged;
        const auto text = [&](std::size_t at, std::size_t len) {
            const char* p = reinterpret_cast<const char*>(h + 512 + at);
            const void* nul = std::memchr(p, 0, len);
            return std::string(p, nul ? static_cast<const char*>(nul) - p : static_cast<std::ptrdiff_t>(len));
        };
        info.id = id;
        std::string name = dirEntry.key;
        while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
        info.name = name;
        info.keyExpr = text(0, keyPool);
        info.forExpr = forLen ? text(keyPool, forLen) : std::string();
        info.keyType = m.keyType;
        info.keyLen = m.keyLen;
        info.unique = m.unique;
        info.descending = m.descending;
        info.storedDescending = m.inverted;
        info.candidate = m.candidate;
        return kOk;
    }

    // Whether a descending tag from elsewhere keeps its entries highest first: its leftmost
    // leaf then begins with an entry above the tag's last one (the root's last entry); in our
    // form it is below. A tag of one entry, or one that cannot be read, is taken to be in our
    // form; reading it then tells whether it holds together.
    bool storedHighestFirst(const TagMeta& t) {
        unsigned char buf[kNodeSize];
        CdxNode n;
        std::uint32_t off = t.root;
        CdxEntry last;
        for (int depth = 0; depth <= kMaxDepth; ++depth) {
            if (off % kNodeSize || off < kHeaderSize || off + std::uint64_t{kNodeSize} > end) return false;
            if (!file->read(off, buf, kNodeSize) || decodeNode(buf, t, end, n, false) || n.entries.empty())
                return false;
            if (depth == 0) last = n.entries.back();
            if (n.leaf)
                return compareEntry(n.entries.front().key, n.entries.front().recno, last.key, last.recno) > 0;
            off = n.entries.front().child;
        }
        return false;
    }

    Result readFileHeader() {
        std::uint64_t size;
        if (!file->size(size)) return kCdxIo;
        unsigned char h[kHeaderSize];
        if (size < kHeaderSize + kNodeSize) return kCdxDamaged;
        if (!file->read(0, h, sizeof h)) return kCdxIo;
        if (le16(h + 12) != kTagNameLen || !(h[14] & kOptCompact)) return kCdxDamaged;
        end = std::min<std::uint64_t>(size, 0xFFFFFFFFull);
        dir = TagMeta();
        dir.id = 0;
        dir.root = le32(h);
        dir.keyLen = kTagNameLen;
        dir.keyType = 'C';
        dir.fill = ' ';
        freeList = le32(h + 4);
        if (freeList == 0) freeList = kNone;
        counter = le32(h + 8);
        changing = h[kChangingAt] != 0;
        return kOk;
    }

    Result reload() {
        forget();
        dirty.clear();
        dirtyTag.clear();
        dirtyHeaders.clear();
        open = false;
        if (const Result r = readFileHeader()) return r;
        if (const Result r = readTags()) return r;
        open = true;
        return kOk;
    }
};

// ---------------------------------------------------------------------------------------

bool MemoryBlockFile::read(std::uint64_t offset, void* data, std::size_t size) {
    if (offset > bytes.size() || size > bytes.size() - offset) return false;
    if (size) std::memcpy(data, bytes.data() + offset, size);
    return true;
}

bool MemoryBlockFile::write(std::uint64_t offset, const void* data, std::size_t size) {
    if (offset + size > (std::uint64_t{1} << 33)) return false;
    if (offset + size > bytes.size()) bytes.resize(static_cast<std::size_t>(offset + size), '\0');
    if (size) std::memcpy(bytes.data() + offset, data, size);
    return true;
}

bool MemoryBlockFile::size(std::uint64_t& out) {
    out = bytes.size();
    return true;
}

bool MemoryBlockFile::truncate(std::uint64_t size) {
    if (size > (std::uint64_t{1} << 33)) return false;
    bytes.resize(static_cast<std::size_t>(size), '\0');
    return true;
}

KeyList::KeyList(std::size_t keyLen, char keyType) : keyLen_(keyLen), fill_(keyFill(keyType)) {}

void KeyList::reserve(std::size_t count) {
    keys_.reserve(count * keyLen_);
    recnos_.reserve(count);
}

void KeyList::add(std::string_view key, std::uint32_t recno) {
    if (key.size() >= keyLen_) {
        keys_.append(key.data(), keyLen_);
    } else {
        keys_.append(key.data(), key.size());
        keys_.append(keyLen_ - key.size(), fill_);
    }
    recnos_.push_back(recno);
}

// ---------------------------------------------------------------------------------------
// Cursors.

namespace {

bool startsWith(std::string_view key, std::string_view prefix) {
    return key.size() >= prefix.size() && key.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

struct CursorAccess {
    static Result bind(CdxCursor& c, CdxState*& s, TagMeta*& t) {
        if (!c.index_) return kCdxNotOpen;
        s = c.index_->s_.get();
        if (!s->open) return kCdxNotOpen;
        t = s->meta(c.tag_);
        if (!t || c.tag_ == 0) return kCdxNoTag;
        return kOk;
    }

    static void place(CdxCursor& c, CdxState& s, const TagMeta& t, CdxState::Pos p, bool pastEnd) {
        c.between_ = false;
        c.counter_ = s.counter;
        const CdxEntry* e = s.entryAt(t, p);
        if (!e) {
            c.state_ = pastEnd ? CdxCursor::State::Eof : CdxCursor::State::Bof;
            c.key_.clear();
            c.recno_ = 0;
            return;
        }
        c.state_ = CdxCursor::State::On;
        c.leaf_ = p.leaf;
        c.slot_ = p.slot;
        c.key_ = e->key;
        c.recno_ = e->recno;
    }

    // Makes sure (leaf_, slot_) still holds the current entry; after a change finds it again,
    // or the place where it was.
    static Result sync(CdxCursor& c, CdxState& s, const TagMeta& t) {
        if (c.state_ != CdxCursor::State::On || c.between_) {
            if (c.counter_ == s.counter) return kOk;
        } else if (c.counter_ == s.counter) {
            const CdxEntry* e = s.entryAt(t, {c.leaf_, c.slot_});
            if (e && e->recno == c.recno_ && e->key == c.key_) return kOk;
        }
        CdxState::Pos p;
        if (const Result r = s.lowerBoundEntry(t, c.key_, c.recno_, p)) return r;
        const CdxEntry* e = s.entryAt(t, p);
        c.counter_ = s.counter;
        c.leaf_ = p.leaf;
        c.slot_ = p.slot;
        c.between_ = !(e && e->recno == c.recno_ && e->key == c.key_);
        return kOk;
    }

    // One step in stored order (forward = along the leaf links, left to right).
    static Result step(CdxCursor& c, bool forward) {
        CdxState* s;
        TagMeta* t;
        if (const Result r = bind(c, s, t)) return r;
        s->trim();
        if (c.state_ == CdxCursor::State::None ||
            c.state_ == (forward != t->backwards() ? CdxCursor::State::Bof : CdxCursor::State::Eof)) {
            // From before the start in this direction: the first entry of the direction.
            CdxState::Pos p;
            if (const Result r = s->edge(*t, !forward, p)) return r;
            place(c, *s, *t, p, true);
            if (!p.atEnd()) return kOk;
            c.state_ = forward != t->backwards() ? CdxCursor::State::Eof : CdxCursor::State::Bof;
            return kOk;
        }
        if (c.state_ != CdxCursor::State::On) return kOk; // already off this end
        if (const Result r = sync(c, *s, *t)) return r;
        const bool pastEnd = forward != t->backwards();
        const CdxEntry cur{c.key_, c.recno_, 0};
        CdxState::Pos p;
        if (c.between_) {
            if (forward) {
                p = {c.leaf_, c.slot_};
            } else if (c.leaf_ == kNone) {
                if (const Result r = s->edge(*t, true, p)) return r;
            } else if (const Result r = s->stepBack(*t, {c.leaf_, c.slot_}, &cur, p)) {
                return r;
            }
        } else if (const Result r = forward ? s->stepOn(*t, {c.leaf_, c.slot_}, &cur, p)
                                            : s->stepBack(*t, {c.leaf_, c.slot_}, &cur, p)) {
            return r;
        }
        place(c, *s, *t, p, pastEnd);
        return kOk;
    }
};

Result CdxCursor::first() {
    CdxState* s;
    TagMeta* t;
    if (const Result r = CursorAccess::bind(*this, s, t)) return r;
    s->trim();
    CdxState::Pos p;
    if (const Result r = s->edge(*t, t->backwards(), p)) return r;
    CursorAccess::place(*this, *s, *t, p, true);
    return kOk;
}

Result CdxCursor::last() {
    CdxState* s;
    TagMeta* t;
    if (const Result r = CursorAccess::bind(*this, s, t)) return r;
    s->trim();
    CdxState::Pos p;
    if (const Result r = s->edge(*t, !t->backwards(), p)) return r;
    CursorAccess::place(*this, *s, *t, p, false);
    return kOk;
}

Result CdxCursor::next() {
    if (!index_) return kCdxNotOpen;
    const CdxState* s = index_->s_.get();
    const TagMeta* t = s->open ? const_cast<CdxState*>(s)->meta(tag_) : nullptr;
    return CursorAccess::step(*this, !(t && t->backwards()));
}

Result CdxCursor::prev() {
    if (!index_) return kCdxNotOpen;
    const CdxState* s = index_->s_.get();
    const TagMeta* t = s->open ? const_cast<CdxState*>(s)->meta(tag_) : nullptr;
    return CursorAccess::step(*this, t && t->backwards());
}

namespace {

// The first entry in stored order whose first key.size() bytes are not below key.
Result firstNotBelow(CdxState& s, const TagMeta& t, std::string_view key, CdxState::Pos& p) {
    const std::size_t n = key.size();
    return s.lowerBound(
        t, [&](const CdxEntry& e) { return t.orderKeys(std::string_view(e.key).substr(0, n), key) < 0; }, p);
}

// The last entry in stored order whose first key.size() bytes are not above key.
Result lastNotAbove(CdxState& s, const TagMeta& t, std::string_view key, CdxState::Pos& p) {
    const std::size_t n = key.size();
    if (const Result r = s.lowerBound(
            t, [&](const CdxEntry& e) { return t.orderKeys(std::string_view(e.key).substr(0, n), key) <= 0; },
            p))
        return r;
    if (p.atEnd()) return s.edge(t, true, p);
    const CdxEntry* e = s.entryAt(t, p);
    if (!e) return kCdxDamaged;
    const CdxEntry cur = *e;
    return s.stepBack(t, p, &cur, p);
}

} // namespace

Result CdxCursor::seek(std::string_view key, bool& found) {
    found = false;
    CdxState* s;
    TagMeta* t;
    if (const Result r = CursorAccess::bind(*this, s, t)) return r;
    s->trim();
    if (key.size() > t->keyLen) key = key.substr(0, t->keyLen);
    CdxState::Pos p;
    if (const Result r = t->backwards() ? lastNotAbove(*s, *t, key, p) : firstNotBelow(*s, *t, key, p))
        return r;
    CursorAccess::place(*this, *s, *t, p, true);
    found = positioned() && startsWith(key_, key);
    return kOk;
}

Result CdxCursor::seekLast(std::string_view key, bool& found) {
    found = false;
    CdxState* s;
    TagMeta* t;
    if (const Result r = CursorAccess::bind(*this, s, t)) return r;
    s->trim();
    if (key.size() > t->keyLen) key = key.substr(0, t->keyLen);
    CdxState::Pos p;
    if (const Result r = t->backwards() ? firstNotBelow(*s, *t, key, p) : lastNotAbove(*s, *t, key, p))
        return r;
    const CdxEntry* e = s->entryAt(*t, p);
    if (e && startsWith(e->key, key)) {
        CursorAccess::place(*this, *s, *t, p, true);
        found = true;
        return kOk;
    }
    return seek(key, found);
}

Result CdxCursor::find(std::string_view key, std::uint32_t recno, bool& exact) {
    exact = false;
    CdxState* s;
    TagMeta* t;
    if (const Result r = CursorAccess::bind(*this, s, t)) return r;
    s->trim();
    CdxState::Pos p;
    if (const Result r = s->lowerBoundEntry(*t, key, recno, p)) return r;
    const CdxEntry* e = s->entryAt(*t, p);
    exact = e && e->recno == recno && e->key == key;
    if (!exact && t->backwards()) {
        // The entry that follows in descending order is the one before in the file.
        if (p.atEnd()) {
            if (const Result r = s->edge(*t, true, p)) return r;
        } else {
            const CdxEntry cur = *e;
            if (const Result r = s->stepBack(*t, p, &cur, p)) return r;
        }
    }
    CursorAccess::place(*this, *s, *t, p, true);
    return kOk;
}

// ---------------------------------------------------------------------------------------
// The index.

CdxIndex::CdxIndex(BlockFile& file) : s_(std::make_unique<CdxState>()) {
    s_->file = &file;
}
CdxIndex::~CdxIndex() = default;

Result CdxIndex::create() {
    CdxState& s = *s_;
    s.open = false;
    s.forget();
    if (!s.file->truncate(0)) return kCdxIo;
    unsigned char buf[kHeaderSize + kNodeSize] = {};
    put32(buf, kHeaderSize); // the directory's root: an empty leaf right after the header
    put32(buf + 4, 0);
    put32(buf + 8, 0);
    put16(buf + 12, kTagNameLen);
    buf[14] = kOptCompact | kOptCompound;
    buf[15] = kSignature;
    buf[kKeyTypeAt] = 'C';
    put16(buf + 506, 1);
    put16(buf + 510, 1);
    TagMeta dir;
    dir.keyLen = kTagNameLen;
    CdxNode root;
    root.leaf = true;
    root.root = true;
    encodeNode(root, dir, buf + kHeaderSize);
    if (!s.file->write(0, buf, sizeof buf)) return kCdxIo;
    return s.reload();
}

Result CdxIndex::open() {
    return s_->reload();
}

bool CdxIndex::isOpen() const {
    return s_->open;
}

Result CdxIndex::refresh(bool* changed) {
    if (changed) *changed = false;
    CdxState& s = *s_;
    // The fields a change moves, and the mark of a change under way (which a process that
    // died half-way leaves without moving anything else).
    unsigned char h[kChangingAt + 1];
    if (!s.file->read(0, h, sizeof h)) return kCdxIo;
    std::uint64_t size = 0;
    if (!s.file->size(size)) return kCdxIo;
    const std::uint32_t freeList = le32(h + 4) == 0 ? kNone : le32(h + 4);
    if (s.open && le32(h + 8) == s.counter && le32(h) == s.dir.root && freeList == s.freeList &&
        size == s.end && (h[kChangingAt] != 0) == s.changing)
        return kOk;
    if (changed) *changed = true;
    return s.reload();
}

std::uint32_t CdxIndex::changeCounter() const {
    return s_->counter;
}

void CdxIndex::dropCache() {
    s_->forget();
}

const std::vector<TagInfo>& CdxIndex::tags() const {
    return s_->tags;
}

const TagInfo* CdxIndex::findTag(std::string_view name) const {
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    for (const TagInfo& t : s_->tags) {
        if (t.name.size() != name.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i)
            same = std::toupper(static_cast<unsigned char>(t.name[i])) ==
                   std::toupper(static_cast<unsigned char>(name[i]));
        if (same) return &t;
    }
    return nullptr;
}

const TagInfo* CdxIndex::tag(TagId id) const {
    for (const TagInfo& t : s_->tags)
        if (t.id == id) return &t;
    return nullptr;
}

Result CdxIndex::addTag(const TagSpec& def, KeyList& keys, TagId* id) {
    CdxState& s = *s_;
    if (!s.open) return kCdxNotOpen;
    // The name: 1 to 10 letters, digits and underscores, not starting with a digit.
    std::string name;
    for (char c : def.name) name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name.empty() || name.size() > kTagNameLen || std::isdigit(static_cast<unsigned char>(name[0])))
        return kCdxBadTagName;
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return kCdxBadTagName;
    if (findTag(name)) return kCdxTagExists;
    if (!validKeyType(def.keyType)) return kKeyBadType;
    const std::size_t wantLen = def.keyType == 'C' ? def.keyLen : fixedKeyLength(def.keyType);
    if (def.keyLen != wantLen || def.keyLen < 1 || def.keyLen > kMaxKeyLen || keys.keyLen() != def.keyLen)
        return kKeyBadLength;
    if (def.keyExpr.size() + 1 + def.forExpr.size() + 1 > kHeaderSize - 512 ||
        def.keyExpr.find('\0') != std::string::npos || def.forExpr.find('\0') != std::string::npos)
        return kCdxExprTooLong;

    // Sort (key, record number); a unique tag keeps the first record of each key. The first
    // eight key bytes, as one big-endian number, settle most comparisons without touching
    // the key list.
    struct Item {
        std::uint64_t head;
        std::uint32_t index;
    };
    std::vector<Item> items(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::string_view k = keys.key(i);
        std::uint64_t head = 0;
        for (std::size_t b = 0; b < 8; ++b)
            head = head << 8 | (b < k.size() ? static_cast<unsigned char>(k[b]) : 0u);
        items[i] = {head, static_cast<std::uint32_t>(i)};
    }
    const std::size_t tailLen = def.keyLen > 8 ? def.keyLen - 8u : 0u;
    std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
        if (a.head != b.head) return a.head < b.head;
        if (tailLen) {
            const int c = std::memcmp(keys.key(a.index).data() + 8, keys.key(b.index).data() + 8, tailLen);
            if (c) return c < 0;
        }
        return keys.recno(a.index) < keys.recno(b.index);
    });
    std::vector<std::uint32_t> order(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) order[i] = items[i].index;
    items = {};
    if (def.unique) {
        order.erase(std::unique(order.begin(), order.end(),
                                [&](std::uint32_t a, std::uint32_t b) { return keys.key(a) == keys.key(b); }),
                    order.end());
    } else {
        // The same pair twice would break the order of the tree; keep one.
        order.erase(std::unique(order.begin(), order.end(),
                                [&](std::uint32_t a, std::uint32_t b) {
                                    return keys.recno(a) == keys.recno(b) && keys.key(a) == keys.key(b);
                                }),
                    order.end());
    }

    s.begin();
    // The tag header goes at the end of the file, the tree right after it.
    s.end = (s.end + kNodeSize - 1) / kNodeSize * kNodeSize;
    const TagId tagId = static_cast<TagId>(s.end);
    s.end += kHeaderSize;
    TagMeta m;
    m.id = tagId;
    m.keyLen = def.keyLen;
    m.keyType = def.keyType;
    m.fill = keyFill(def.keyType);
    m.unique = def.unique;
    m.descending = def.descending;

    unsigned char h[kHeaderSize] = {};
    put16(h + 12, def.keyLen);
    h[14] = static_cast<unsigned char>(kOptCompact | kOptCompound | (def.unique ? kOptUnique : 0) |
                                       (def.forExpr.empty() ? 0 : kOptFor));
    h[15] = kSignature;
    h[kKeyTypeAt] = static_cast<unsigned char>(def.keyType);
    put16(h + 502, def.descending ? 1 : 0);
    put16(h + 506, static_cast<std::uint32_t>(def.forExpr.size() + 1));
    put16(h + 510, static_cast<std::uint32_t>(def.keyExpr.size() + 1));
    std::memcpy(h + 512, def.keyExpr.data(), def.keyExpr.size());
    std::memcpy(h + 512 + def.keyExpr.size() + 1, def.forExpr.data(), def.forExpr.size());
    if (!s.file->write(tagId, h, sizeof h)) {
        s.abort();
        return kCdxIo;
    }
    auto& stored = s.metas[tagId] = m;
    Result r = s.build(stored, keys, order);
    if (!r) {
        std::string dirKey = name;
        dirKey.resize(kTagNameLen, ' ');
        r = s.change(s.dir, true, dirKey, tagId);
    }
    if (!r) r = s.commit();
    if (r) {
        s.abort();
        s.metas.erase(tagId);
        return r;
    }
    TagInfo info;
    info.id = tagId;
    info.name = name;
    info.keyExpr = def.keyExpr;
    info.forExpr = def.forExpr;
    info.keyType = def.keyType;
    info.keyLen = def.keyLen;
    info.unique = def.unique;
    info.descending = def.descending;
    info.keyTypeKnown = true;
    s.tags.push_back(info);
    std::sort(s.tags.begin(), s.tags.end(), [](const TagInfo& a, const TagInfo& b) { return a.id < b.id; });
    if (id) *id = tagId;
    return kOk;
}

Result CdxIndex::removeTag(std::string_view name) {
    CdxState& s = *s_;
    if (!s.open) return kCdxNotOpen;
    const TagInfo* info = findTag(name);
    if (!info) return kCdxNoTag;
    const TagId tagId = info->id;
    std::string dirKey = info->name;
    dirKey.resize(kTagNameLen, ' ');
    TagMeta& m = s.metas[tagId];
    s.begin();
    // Collect the tag's nodes level by level; a damaged tree is left where it is.
    std::vector<std::uint32_t> nodes;
    {
        std::vector<std::uint32_t> levelNodes{m.root};
        std::set<std::uint32_t> seen;
        bool ok = true;
        for (int depth = 0; ok && !levelNodes.empty(); ++depth) {
            if (depth > kMaxDepth) ok = false;
            std::vector<std::uint32_t> below;
            for (std::uint32_t off : levelNodes) {
                CdxNode* n;
                if (!ok || !seen.insert(off).second || s.load(m, off, n)) {
                    ok = false;
                    break;
                }
                nodes.push_back(off);
                if (!n->leaf)
                    for (const CdxEntry& e : n->entries) below.push_back(e.child);
            }
            levelNodes = std::move(below);
        }
        if (!ok) nodes.clear();
    }
    Result r = s.change(s.dir, false, dirKey, tagId);
    if (!r) {
        for (std::uint32_t off : nodes) {
            CdxNode* n;
            if (s.load(m, off, n) == kOk) s.release(off, *n, m);
        }
        // The header's two blocks are free nodes too.
        for (std::uint32_t off : {tagId, tagId + static_cast<std::uint32_t>(kNodeSize)}) {
            CdxNode& n = s.cache[off];
            s.release(off, n, m);
        }
        r = s.commit();
    }
    if (r) {
        s.abort();
        return r;
    }
    s.metas.erase(tagId);
    s.keyTypes.erase(tagId);
    s.unknownTypes.erase(tagId);
    s.tags.erase(
        std::remove_if(s.tags.begin(), s.tags.end(), [&](const TagInfo& t) { return t.id == tagId; }),
        s.tags.end());
    return kOk;
}

Result CdxIndex::setKeyType(TagId id, char keyType) {
    CdxState& s = *s_;
    if (!s.open) return kCdxNotOpen;
    TagMeta* m = id ? s.meta(id) : nullptr;
    if (!m) return kCdxNoTag;
    if (!validKeyType(keyType)) return kKeyBadType;
    if (keyType != 'C' && m->keyLen != fixedKeyLength(keyType)) return kKeyBadLength;
    s.keyTypes[id] = keyType;
    s.unknownTypes.erase(id);
    if (m->keyType != keyType) {
        m->keyType = keyType;
        m->fill = keyFill(keyType);
        s.forget(); // nodes decoded with the old fill byte
    }
    for (TagInfo& t : s.tags)
        if (t.id == id) t.keyType = keyType, t.keyTypeKnown = true;
    return kOk;
}

Result CdxIndex::insert(TagId id, std::string_view key, std::uint32_t recno, bool* added) {
    if (added) *added = false;
    CdxState& s = *s_;
    if (!s.open) return kCdxNotOpen;
    TagMeta* m = id ? s.meta(id) : nullptr;
    if (!m) return kCdxNoTag;
    if (key.size() != m->keyLen) return kKeyBadLength;
    if (s.unknownTypes.count(id)) return kKeyBadType; // its trailing fill byte is not known
    s.begin();
    CdxState::Pos p;
    const std::uint32_t from = m->unique ? 0 : recno;
    if (const Result r = s.lowerBoundEntry(*m, key, from, p)) return r;
    if (const CdxEntry* e = s.entryAt(*m, p)) {
        // A unique tag keeps its first record of a key; the same pair is never stored twice.
        if (e->key == key && (m->unique || e->recno == recno)) return kOk;
    }
    Result r = s.change(*m, true, key, recno);
    if (!r) r = s.commit();
    if (r) {
        s.abort();
        return r;
    }
    if (added) *added = true;
    return kOk;
}

Result CdxIndex::erase(TagId id, std::string_view key, std::uint32_t recno) {
    CdxState& s = *s_;
    if (!s.open) return kCdxNotOpen;
    TagMeta* m = id ? s.meta(id) : nullptr;
    if (!m) return kCdxNoTag;
    if (key.size() != m->keyLen) return kKeyBadLength;
    if (s.unknownTypes.count(id)) return kKeyBadType;
    s.begin();
    Result r = s.change(*m, false, key, recno);
    if (!r) r = s.commit();
    if (r) s.abort();
    return r;
}

Result CdxIndex::stage(const std::vector<KeyChange>& changes, bool candidates) {
    CdxState& s = *s_;
    if (!s.open) return kCdxNotOpen;
    if (s.staged) s.abort();
    s.begin();
    s.staged = true;
    for (const KeyChange& c : changes) {
        TagMeta* m = c.tag ? s.meta(c.tag) : nullptr;
        Result r = kOk;
        if (!m)
            r = kCdxNoTag;
        else if (c.key.size() != m->keyLen)
            r = kKeyBadLength;
        else if (s.unknownTypes.count(c.tag))
            r = kKeyBadType;
        else if (m->readOnly)
            r = kCdxReadOnlyTag;
        if (!r && c.insert) {
            CdxState::Pos p;
            r = s.lowerBoundEntry(*m, c.key, m->unique ? 0 : c.recno, p);
            const CdxEntry* e = r ? nullptr : s.entryAt(*m, p);
            if (e && e->key == c.key && (m->unique || e->recno == c.recno)) continue;
            if (!r && m->candidate && candidates) {
                // Another record holding the key: erased by this same change, or a refusal.
                CdxState::Pos q;
                r = s.lowerBoundEntry(*m, c.key, 0, q);
                const CdxEntry* other = r ? nullptr : s.entryAt(*m, q);
                if (other && other->key == c.key && other->recno != c.recno) r = kCdxDuplicateKey;
            }
            if (!r) r = s.change(*m, true, c.key, c.recno);
        } else if (!r) {
            r = s.change(*m, false, c.key, c.recno);
            if (r == kCdxKeyNotFound) r = kOk; // a unique tag may hold the key for another record
        }
        if (r) {
            s.abort();
            s.staged = false;
            return r;
        }
    }
    return kOk;
}

Result CdxIndex::commitStaged() {
    CdxState& s = *s_;
    if (!s.staged) return kOk;
    s.staged = false;
    const Result r = s.commit();
    if (r) s.abort();
    return r;
}

void CdxIndex::dropStaged() {
    CdxState& s = *s_;
    if (!s.staged) return;
    s.staged = false;
    s.abort();
}

Result CdxIndex::markChanging(bool on) {
    CdxState& s = *s_;
    if (!s.open) return kCdxNotOpen;
    const unsigned char b = on ? 1 : 0;
    if (!s.file->write(kChangingAt, &b, 1)) return kCdxIo;
    s.changing = on;
    s.markedByUs = on;
    return kOk;
}

bool CdxIndex::outOfDate() const {
    return s_->open && s_->changing && !s_->markedByUs;
}

Result CdxIndex::verify(TagId id, std::uint64_t* count) {
    if (count) *count = 0;
    CdxState& s = *s_;
    if (!s.open) return kCdxNotOpen;
    TagMeta* m = s.meta(id);
    if (!m) return kCdxNoTag;
    s.trim();
    // Level by level from the root: every node once, sibling links matching the order of the
    // level, each interior entry naming its child's last entry, all leaves on one level.
    std::set<std::uint32_t> seen;
    std::vector<std::uint32_t> level{m->root};
    std::uint64_t entries = 0;
    for (int depth = 0; !level.empty(); ++depth) {
        if (depth > kMaxDepth) return kCdxDamaged;
        std::vector<std::uint32_t> below;
        bool leafLevel = false;
        const CdxEntry* prevEntry = nullptr;
        CdxEntry prevCopy;
        for (std::size_t i = 0; i < level.size(); ++i) {
            const std::uint32_t off = level[i];
            if (!seen.insert(off).second) return kCdxDamaged;
            CdxNode* n;
            if (const Result r = s.load(*m, off, n)) return r;
            if (i == 0) leafLevel = n->leaf;
            if (n->leaf != leafLevel) return kCdxDamaged;
            if (n->root != (depth == 0)) return kCdxDamaged;
            if (n->left != (i ? level[i - 1] : kNone) ||
                n->right != (i + 1 < level.size() ? level[i + 1] : kNone))
                return kCdxDamaged;
            if (n->entries.empty() && !(depth == 0 && n->leaf)) return kCdxDamaged;
            for (const CdxEntry& e : n->entries) {
                if (prevEntry && m->order(prevEntry->key, prevEntry->recno, e.key, e.recno) >= 0)
                    return kCdxDamaged;
                if (leafLevel && m->unique && prevEntry && prevEntry->key == e.key) return kCdxDamaged;
                prevCopy = e;
                prevEntry = &prevCopy;
                if (!n->leaf) {
                    // The child's last entry must be this entry.
                    CdxNode* c;
                    if (const Result r = s.load(*m, e.child, c)) return r;
                    if (c->entries.empty() || c->entries.back().key != e.key ||
                        c->entries.back().recno != e.recno)
                        return kCdxDamaged;
                    below.push_back(e.child);
                }
            }
            if (leafLevel) entries += n->entries.size();
        }
        if (leafLevel && !below.empty()) return kCdxDamaged;
        level = std::move(below);
    }
    if (count) *count = entries;
    return kOk;
}

} // namespace engine
