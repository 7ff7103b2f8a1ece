// The free list: nodes no tag uses any more, chained through their first four bytes from the
// file header, taken again before the file grows.
#include "engine/cdx_state.h"

namespace engine {

std::uint32_t CdxState::allocate(const TagMeta& t, CdxNode*& out) {
    std::uint32_t off = kNone;
    if (freeList != kNone) {
        const std::uint32_t cand = freeList;
        std::uint32_t next = kNone;
        bool ok = cand % kNodeSize == 0 && cand >= kHeaderSize && cand + std::uint64_t{kNodeSize} <= end;
        if (ok) {
            if (const CdxNode* n = cache.find(cand)) {
                ok = n->freed;
                next = n->nextFree;
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
