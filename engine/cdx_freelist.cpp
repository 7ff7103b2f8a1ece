// The free list: nodes no tag uses any more, chained through their first four bytes from the
// file header, taken again before the file grows. A list is followed only through pages that
// are free; one that names anything else is dropped (its pages are lost, nothing more).
#include "engine/cdx_state.h"

namespace engine {

// Whether the listed page at off may be handed out, and the next one on the list. It must lie
// in the file, be no tag's header, and be free: freed in this change, or written as a free
// page (zeros after the link, where a node in use keeps its sibling links).
bool CdxState::freePage(std::uint32_t off, std::uint32_t& next) {
    if (off % kNodeSize || off < kHeaderSize || off + std::uint64_t{kNodeSize} > end) return false;
    for (const TagInfo& tag : tags)
        if (off == tag.id || off == tag.id + kNodeSize) return false;
    if (const CdxNode* n = cache.find(off)) {
        if (!n->freed) return false;
        next = n->nextFree;
    } else {
        unsigned char buf[kNodeSize];
        if (!file->read(off, buf, kNodeSize)) return false;
        for (std::size_t i = 4; i < kNodeSize; ++i)
            if (buf[i]) return false;
        next = le32(buf);
    }
    if (next == 0) next = kNone;
    return true;
}

std::uint32_t CdxState::allocate(const TagMeta& t, CdxNode*& out) {
    std::uint32_t off = kNone;
    if (freeList != kNone) {
        std::uint32_t next = kNone;
        if (freePage(freeList, next)) {
            off = freeList;
            freeList = next;
        } else {
            freeList = kNone; // written empty with this change
        }
    }
    if (off == kNone) {
        end = (end + kNodeSize - 1) / kNodeSize * kNodeSize;
        off = static_cast<std::uint32_t>(end);
        end += kNodeSize;
    }
    CdxNode& n = create(off);
    n.keyLen = t.keyLen;
    markDirty(off, n, t);
    out = &n;
    return off;
}

void CdxState::release(std::uint32_t off, CdxNode& n, const TagMeta& t) {
    touch(off);
    const bool wasDirty = n.dirty;
    const std::uint32_t stamp = n.stamp;
    n = CdxNode();
    n.dirty = wasDirty;
    n.stamp = stamp;
    n.freed = true;
    n.keyLen = t.keyLen;
    n.nextFree = freeList;
    freeList = off;
    markDirty(off, n, t);
}

} // namespace engine
