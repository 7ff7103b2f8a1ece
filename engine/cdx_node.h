// The layout of a compound index file as this engine reads and writes it (see cdx.h), the
// in-memory forms of its nodes and tags, and the node codec: a node to and from its 512 bytes.
// Internal to the index (cdx*.cpp).
#pragma once

#include "engine/cdx.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::size_t kNodeSize = 512;
constexpr std::size_t kHeaderSize = 1024;
constexpr std::size_t kLeafHead = 24;
constexpr std::size_t kLeafArea = kNodeSize - kLeafHead; // 488
constexpr std::size_t kInteriorHead = 12;
constexpr std::size_t kInteriorArea = kNodeSize - kInteriorHead; // 500
constexpr std::size_t kTagNameLen = 10;
constexpr int kMaxDepth = 64; // deeper than any real tree; stops cycles in descents

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

inline std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint32_t be32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}
inline void put16(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void put32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void putBe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * (3 - i)));
}

// Number of bits needed to write x.
inline int bitsFor(std::uint64_t x) {
    return static_cast<int>(std::bit_width(x));
}

// Trailing fill bytes of a key.
inline std::size_t trailing(std::string_view key, char fill) {
    const char* p = key.data();
    std::size_t n = key.size();
    while (n > 0 && p[n - 1] == fill) --n;
    return key.size() - n;
}

// Length of the common start of two keys, at most limit.
inline std::size_t shared(std::string_view a, std::string_view b, std::size_t limit) {
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

inline int compareEntry(std::string_view aKey, std::uint32_t aRec, std::string_view bKey,
                        std::uint32_t bRec) {
    const int c = compareKeys(aKey, bKey);
    if (c) return c;
    return aRec < bRec ? -1 : aRec > bRec ? 1 : 0;
}

// In-memory forms.

// One entry, held on its own.
struct CdxEntry {
    std::string key;
    std::uint32_t recno = 0;
    std::uint32_t child = 0; // interior nodes only
};

// One entry as a node holds it: valid while the node does not change.
struct EntryView {
    std::string_view key;
    std::uint32_t recno = 0;
    std::uint32_t child = 0;
};

struct TagMeta;

// A node as read from the file. Its entries are kept one after another in one string, each
// its key (keyLen bytes), its record number and its child node (interior nodes; 0 in
// leaves), the numbers in machine order: a search reads one run of memory.
struct CdxNode {
    bool leaf = true;
    bool root = false;
    bool freed = false;   // on the free list; nextFree is its link
    bool strange = false; // attribute bits this engine does not know: read, never changed
    bool dirty = false;   // changed and not yet written (CdxState::markDirty)
    // A leaf's key bytes as stored and its largest record number, while sized: kept by the
    // changes of one entry (see resizeLeaf), dropped by any other change of the entries.
    bool sized = false;
    std::uint16_t keyLen = 0; // the tag it was read for
    std::uint32_t nextFree = kNone;
    std::uint32_t left = kNone, right = kNone;
    std::uint32_t keyBytes = 0, maxRecno = 0;
    std::uint32_t stamp = 0;      // the change that noted it whole last (CdxState::touch)
    const TagMeta* tag = nullptr; // while dirty: the tag it is written for
    std::string data;

    std::size_t stride() const { return keyLen + 8u; }
    std::size_t count() const { return count_; }
    bool empty() const { return count_ == 0; }
    std::string_view key(std::size_t i) const { return {data.data() + i * stride(), keyLen}; }
    std::uint32_t recno(std::size_t i) const { return number(i * stride() + keyLen); }
    std::uint32_t child(std::size_t i) const { return number(i * stride() + keyLen + 4); }
    EntryView entry(std::size_t i) const { return {key(i), recno(i), child(i)}; }
    CdxEntry copy(std::size_t i) const { return {std::string(key(i)), recno(i), child(i)}; }

    // Entries are changed through these only (the key must be keyLen bytes long).
    void insert(std::size_t i, std::string_view k, std::uint32_t recno, std::uint32_t child = 0) {
        const std::size_t at = i * stride();
        data.insert(at, stride(), '\0');
        ++count_;
        std::memcpy(data.data() + at, k.data(), keyLen);
        setNumber(at + keyLen, recno);
        setNumber(at + keyLen + 4, child);
    }
    void push(std::string_view k, std::uint32_t recno, std::uint32_t child = 0) {
        insert(count(), k, recno, child);
    }
    void erase(std::size_t i) { erase(i, i + 1); }
    void erase(std::size_t from, std::size_t to) {
        data.erase(from * stride(), (to - from) * stride());
        count_ -= static_cast<std::uint32_t>(to - from);
    }
    // Appends entries [from, to) of another node of the same key length.
    void append(const CdxNode& o, std::size_t from, std::size_t to) {
        data.append(o.data, from * stride(), (to - from) * stride());
        count_ += static_cast<std::uint32_t>(to - from);
    }
    // Entry i takes the key and record number of entry j (its child stays).
    void takeEntry(std::size_t i, std::size_t j) {
        std::memmove(data.data() + i * stride(), data.data() + j * stride(), keyLen + 4u);
    }
    void reserve(std::size_t n) { data.reserve(n * stride()); }
    // n entries of zero bytes, to be filled in place.
    void resize(std::size_t n) {
        data.assign(n * stride(), '\0');
        count_ = static_cast<std::uint32_t>(n);
    }

  private:
    std::uint32_t count_ = 0;
    std::uint32_t number(std::size_t at) const {
        std::uint32_t v;
        std::memcpy(&v, data.data() + at, 4);
        return v;
    }
    void setNumber(std::size_t at, std::uint32_t v) { std::memcpy(data.data() + at, &v, 4); }
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

LeafFormat leafFormat(std::uint32_t maxRecno, std::size_t keyLen);

// Sizes of the entries of a leaf as they would be stored: trailing fill bytes and the bytes
// shared with the previous entry are left out.
struct LeafSizer {
    std::vector<std::size_t> trail, dup; // dup against the previous entry in the list
    std::size_t keyLen;
    std::uint32_t maxRecno = 0;

    LeafSizer(const CdxNode& n, std::size_t len, char fill) : keyLen(len) {
        trail.resize(n.count());
        dup.resize(n.count());
        for (std::size_t i = 0; i < n.count(); ++i) {
            trail[i] = trailing(n.key(i), fill);
            dup[i] = i ? shared(n.key(i - 1), n.key(i), keyLen - trail[i]) : 0;
            maxRecno = std::max(maxRecno, n.recno(i));
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

// Key bytes a key takes in a leaf after the key prev (empty: the leaf's first entry).
inline std::size_t storedBytes(std::string_view prev, std::string_view key, std::size_t keyLen, char fill) {
    const std::size_t t = trailing(key, fill);
    return keyLen - t - (prev.empty() ? 0 : shared(prev, key, keyLen - t));
}

// Bytes a leaf's entries take, from its sizes (worked out first when it is not sized).
std::size_t leafUsed(CdxNode& n, std::size_t keyLen, char fill);
// Keeps a sized leaf's sizes after one entry was inserted at slot i (inserted) or is about to
// be erased from slot i (!inserted).
void resizeLeaf(CdxNode& n, std::size_t i, bool inserted, std::size_t keyLen, char fill);

// Encodes a node into 512 bytes; false when its entries do not fit.
bool encodeNode(const CdxNode& n, const TagMeta& t, unsigned char* out);

// Decodes and checks a node; kCdxDamaged for anything that does not hold together.
Result decodeNode(const unsigned char* b, const TagMeta& t, std::uint64_t fileEnd, CdxNode& n,
                  bool checkOrder = true);

} // namespace engine
