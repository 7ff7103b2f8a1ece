// The node codec: a node's entries to and from the 512 bytes of the file, leaves with their
// keys compressed against the previous key and their trailing fill left out.
#include "engine/cdx_node.h"

#include <cassert>

namespace engine {

LeafFormat leafFormat(std::uint32_t maxRecno, std::size_t keyLen) {
    const int kb = bitsFor(keyLen);
    const int rb = std::max(bitsFor(maxRecno), 1);
    const int bytes = std::max(3, (rb + 2 * kb + 7) / 8);
    return {std::min(32, bytes * 8 - 2 * kb), kb, kb, bytes};
}

std::size_t leafUsed(CdxNode& n, std::size_t keyLen, char fill) {
    if (!n.sized) {
        std::size_t keys = 0;
        std::uint32_t maxRecno = 0;
        for (std::size_t i = 0; i < n.count(); ++i) {
            keys += storedBytes(i ? n.key(i - 1) : std::string_view(), n.key(i), keyLen, fill);
            maxRecno = std::max(maxRecno, n.recno(i));
        }
        n.keyBytes = static_cast<std::uint32_t>(keys);
        n.maxRecno = maxRecno;
        n.sized = true;
    }
    return n.keyBytes + n.count() * static_cast<std::size_t>(leafFormat(n.maxRecno, keyLen).bytes);
}

void resizeLeaf(CdxNode& n, std::size_t i, bool inserted, std::size_t keyLen, char fill) {
    if (!n.sized) return;
    const std::string_view prev = i ? n.key(i - 1) : std::string_view();
    const std::string_view k = n.key(i);
    const bool hasNext = i + 1 < n.count();
    // The entry's own bytes, and the next entry's against it or against prev.
    const std::size_t own = storedBytes(prev, k, keyLen, fill);
    const std::size_t nextAfterKey = hasNext ? storedBytes(k, n.key(i + 1), keyLen, fill) : 0;
    const std::size_t nextAfterPrev = hasNext ? storedBytes(prev, n.key(i + 1), keyLen, fill) : 0;
    if (inserted) {
        n.keyBytes = static_cast<std::uint32_t>(n.keyBytes + own + nextAfterKey - nextAfterPrev);
        n.maxRecno = std::max(n.maxRecno, n.recno(i));
    } else {
        n.keyBytes = static_cast<std::uint32_t>(n.keyBytes - own - nextAfterKey + nextAfterPrev);
        if (n.recno(i) == n.maxRecno) n.sized = false; // the largest may be another now
    }
}

bool encodeNode(const CdxNode& n, const TagMeta& t, unsigned char* out) {
    std::memset(out, 0, kNodeSize);
    if (n.freed) {
        put32(out, n.nextFree);
        return true;
    }
    std::uint32_t attr = (n.leaf ? kAttrLeaf : 0) | (n.root ? kAttrRoot : 0);
    if (n.leaf && n.root && t.id != 0) attr |= kAttrRootLeaf;
    put16(out, attr);
    put16(out + 2, static_cast<std::uint32_t>(n.count()));
    put32(out + 4, n.left);
    put32(out + 8, n.right);
    if (!n.leaf) {
        const std::size_t size = t.keyLen + 8u;
        if (n.count() * size > kInteriorArea) return false;
        unsigned char* p = out + kInteriorHead;
        for (std::size_t i = 0; i < n.count(); ++i, p += size) {
            std::memcpy(p, n.key(i).data(), t.keyLen);
            putBe32(p + t.keyLen, n.recno(i));
            putBe32(p + t.keyLen + 4, n.child(i));
        }
        return true;
    }
    const LeafSizer s(n, t.keyLen, t.fill);
    const LeafFormat f = leafFormat(s.maxRecno, t.keyLen);
    const std::size_t used = s.bytes(0, n.count(), f.bytes);
    assert(!n.sized ||
           (n.maxRecno == s.maxRecno && used == n.keyBytes + n.count() * static_cast<std::size_t>(f.bytes)));
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
    for (std::size_t i = 0; i < n.count(); ++i) {
        const std::size_t dup = i ? s.dup[i] : 0;
        const std::size_t stored = t.keyLen - dup - s.trail[i];
        std::uint64_t info = n.recno(i);
        info |= static_cast<std::uint64_t>(dup) << f.recBits;
        info |= static_cast<std::uint64_t>(s.trail[i]) << (f.recBits + f.dupBits);
        unsigned char* p = out + kLeafHead + i * static_cast<std::size_t>(f.bytes);
        for (int b = 0; b < f.bytes; ++b) p[b] = static_cast<unsigned char>(info >> (8 * b));
        keyPos -= stored;
        std::memcpy(out + keyPos, n.key(i).data() + dup, stored);
    }
    return true;
}

Result decodeNode(const unsigned char* b, const TagMeta& t, std::uint64_t fileEnd, CdxNode& n,
                  bool checkOrder) {
    const std::uint16_t attr = le16(b);
    n = CdxNode();
    n.leaf = attr & kAttrLeaf;
    n.root = attr & kAttrRoot;
    n.strange = (attr & ~kAttrKnown) != 0;
    n.keyLen = t.keyLen;
    n.left = le32(b + 4);
    n.right = le32(b + 8);
    const std::size_t count = le16(b + 2);
    const std::size_t keyLen = t.keyLen;
    const auto validPointer = [&](std::uint32_t p) {
        return p == kNone ||
               (p % kNodeSize == 0 && p >= kHeaderSize && p + std::uint64_t{kNodeSize} <= fileEnd);
    };
    if (!validPointer(n.left) || !validPointer(n.right)) return kCdxDamaged;
    const auto inOrder = [&](std::size_t i) {
        return !checkOrder || i == 0 || t.order(n.key(i - 1), n.recno(i - 1), n.key(i), n.recno(i)) < 0;
    };
    if (!n.leaf) {
        const std::size_t size = keyLen + 8u;
        if (count * size > kInteriorArea) return kCdxDamaged;
        n.reserve(count);
        const unsigned char* p = b + kInteriorHead;
        for (std::size_t i = 0; i < count; ++i, p += size) {
            const std::uint32_t child = be32(p + keyLen + 4);
            if (child == kNone || !validPointer(child)) return kCdxDamaged;
            n.push(std::string_view(reinterpret_cast<const char*>(p), keyLen), be32(p + keyLen), child);
            if (!inOrder(i)) return kCdxDamaged;
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
    n.resize(count);
    const std::size_t infoEnd = kLeafHead + count * static_cast<std::size_t>(bytes);
    std::size_t keyPos = kNodeSize;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* p = b + kLeafHead + i * static_cast<std::size_t>(bytes);
        std::uint64_t info = 0;
        for (int k = bytes - 1; k >= 0; --k) info = info << 8 | p[k];
        const std::uint32_t recno = static_cast<std::uint32_t>(info & recMask);
        const std::size_t dup = (info >> recBits) & dupMask;
        const std::size_t trail = (info >> (recBits + dupBits)) & trailMask;
        if (dup + trail > keyLen || (i == 0 && dup != 0)) return kCdxDamaged;
        const std::size_t stored = keyLen - dup - trail;
        if (keyPos < infoEnd + stored) return kCdxDamaged;
        keyPos -= stored;
        char* k = n.data.data() + i * n.stride();
        if (dup) std::memcpy(k, k - n.stride(), dup);
        std::memcpy(k + dup, b + keyPos, stored);
        std::memset(k + dup + stored, t.fill, trail);
        std::memcpy(k + keyLen, &recno, 4);
        if (!inOrder(i)) return kCdxDamaged;
    }
    return kOk;
}

} // namespace engine
