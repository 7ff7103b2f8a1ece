// The index's cache of decoded nodes, and a change made in memory: begun, abandoned, or
// written out in runs of adjacent nodes with the headers and the change counter.
#include "engine/cdx_state.h"

#include <algorithm>

namespace engine {

namespace {

// Decoded nodes kept between operations (besides those not yet written), and roughly the
// memory they may take; and the memory that changed nodes held back from writing may take.
constexpr std::size_t kCacheLimit = 8192;
constexpr std::size_t kCacheBytes = std::size_t{16} << 20;
constexpr std::size_t kHeldBytes = std::size_t{32} << 20;

} // namespace

Result CdxState::load(const TagMeta& t, std::uint32_t off, CdxNode*& out) {
    if (CdxNode* cached = cache.find(off)) {
        if (cached->freed || cached->keyLen != t.keyLen) return kCdxDamaged;
        out = cached;
        return kOk;
    }
    if (off % kNodeSize || off < kHeaderSize || off + std::uint64_t{kNodeSize} > end) return kCdxDamaged;
    unsigned char buf[kNodeSize];
    if (!file->read(off, buf, kNodeSize)) return kCdxIo;
    CdxNode n;
    if (const Result r = decodeNode(buf, t, end, n)) return r;
    cacheBytes += weight(n);
    out = &cache.put(off, std::move(n));
    return kOk;
}

void CdxState::touch(std::uint32_t off) {
    if (!changeOpen) return;
    CdxNode* n = cache.find(off);
    if (!n) {
        undo.push_back({Undo::Kind::fresh, off});
        return;
    }
    if (n->stamp == changeStamp) return;
    n->stamp = changeStamp;
    undo.push_back({Undo::Kind::image, off, 0, {}, *n});
}

CdxNode& CdxState::create(std::uint32_t off) {
    touch(off);
    CdxNode& n = cache.get(off);
    const bool wasDirty = n.dirty; // a freed node taken again may be in the list already
    n = CdxNode();
    n.dirty = wasDirty;
    n.stamp = changeStamp;
    return n;
}

// Before a read or a change: keeps the cache from growing without end. Interior nodes, few
// and met by every search, stay; leaves go first. Nodes not yet written always stay, and
// count for nothing here: cacheBytes is the weight of the nodes read since the last trim,
// and of the written nodes it kept.
void CdxState::trim() {
    if (changeOpen || (cache.size() <= kCacheLimit + dirty.size() && cacheBytes <= kCacheBytes)) return;
    cacheBytes = 0;
    cache.eraseIf([&](const CdxNode& n) {
        if (n.dirty) return false;
        if (n.leaf || n.freed) return true;
        cacheBytes += weight(n);
        return false;
    });
    if (cache.size() > kCacheLimit / 2 + dirty.size() || cacheBytes > kCacheBytes / 2) forget();
}

void CdxState::forget() {
    cacheBytes = 0;
    if (dirty.empty()) {
        cache.clear();
        return;
    }
    cache.eraseIf([](const CdxNode& n) { return !n.dirty; });
}

void CdxState::discard() {
    cache.clear();
    cacheBytes = 0;
    dirty.clear();
    dirtyHeaders.clear();
    unwritten = false;
    heldCheck = 0;
    changeOpen = false;
    undo.clear();
    newHeaders.clear();
}

// Before a change.
void CdxState::begin() {
    if (changeOpen) abort();
    trim();
    changeOpen = true;
    ++changeStamp;
    dirtyBefore = dirty.size();
    savedFree = freeList;
    savedEnd = end;
    savedRoots.clear();
    savedRoots.emplace_back(0, dir.root);
    for (auto& [id, m] : metas) savedRoots.emplace_back(id, m.root);
}

void CdxState::endChange() {
    changeOpen = false;
    undo.clear();
    newHeaders.clear();
}

// Undoes the change begun, step by step from the last: the cache, the nodes to write, the
// free list, the end of the file and the roots are as they were at begin().
void CdxState::abort() {
    if (!changeOpen) return;
    for (auto u = undo.rbegin(); u != undo.rend(); ++u) {
        if (u->kind == Undo::Kind::fresh) {
            cache.erase(u->off);
            continue;
        }
        if (u->kind == Undo::Kind::image) {
            cache.put(u->off, std::move(u->node));
            continue;
        }
        CdxNode* found = cache.find(u->off);
        if (!found) continue; // cannot be: the cache is not trimmed during a change
        CdxNode& n = *found;
        n.sized = false;
        if (u->kind == Undo::Kind::inserted) {
            if (u->slot < n.count()) n.erase(u->slot);
        } else if (u->slot <= n.count()) {
            n.insert(u->slot, u->entry.key, u->entry.recno, u->entry.child);
        }
    }
    // The nodes this change made dirty are as written again (or gone).
    for (std::size_t i = dirtyBefore; i < dirty.size(); ++i)
        if (CdxNode* n = cache.find(dirty[i])) n->dirty = false;
    dirty.resize(dirtyBefore);
    for (TagId id : newHeaders) dirtyHeaders.erase(id);
    endChange();
    freeList = savedFree;
    end = savedEnd;
    for (auto& [id, root] : savedRoots)
        if (TagMeta* m = meta(id)) m->root = root;
}

Result CdxState::writeHeaderFields(TagId id, std::uint32_t root) {
    unsigned char buf[12];
    put32(buf, root);
    // An empty free list is written 0, as the FoxPro family writes it (-1 is read too).
    put32(buf + 4, id == 0 && freeList != kNone ? freeList : 0);
    put32(buf + 8, counter);
    return file->write(id, buf, sizeof buf) ? kOk : kCdxIo;
}

Result CdxState::commit(bool hold) {
    if (end > 0xFFFFFFFFull) {
        abort();
        return kCdxTooBig;
    }
    endChange();
    ++counter;
    unwritten = true;
    if (hold) {
        // Held changes are written all the same once they would keep too much in memory:
        // weighed each time their number has grown by an eighth.
        if (dirty.size() < heldCheck) return kOk;
        std::size_t bytes = 0;
        for (std::uint32_t off : dirty)
            if (const CdxNode* n = cache.find(off)) bytes += weight(*n);
        if (bytes <= kHeldBytes) {
            heldCheck = dirty.size() + std::max<std::size_t>(64, dirty.size() / 8);
            return kOk;
        }
    }
    return writeOut();
}

// Every changed node in runs of adjacent nodes, then the tag headers whose root moved, then
// the file header with the free list and the change counter. What fails to be written stays
// in memory, to be written by the next change.
Result CdxState::writeOut() {
    if (!unwritten && dirty.empty() && dirtyHeaders.empty()) return kOk;
    std::sort(dirty.begin(), dirty.end());
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
        const CdxNode* n = cache.find(off);
        if (!n || !n->tag) continue;
        if (!run.empty() && runStart + run.size() != off) ok = flush() && ok;
        if (run.empty()) runStart = off;
        const std::size_t at = run.size();
        run.resize(at + kNodeSize);
        if (!encodeNode(*n, *n->tag, run.data() + at)) ok = false;
        if (run.size() >= (std::size_t{1} << 20)) ok = flush() && ok;
    }
    ok = flush() && ok;
    for (TagId id : dirtyHeaders) {
        if (id == 0) continue;
        if (const TagMeta* m = meta(id)) ok = writeHeaderFields(id, m->root) == kOk && ok;
    }
    ok = writeHeaderFields(0, dir.root) == kOk && ok;
    if (!ok) return kCdxIo;
    for (std::uint32_t off : dirty)
        if (CdxNode* n = cache.find(off)) n->dirty = false;
    dirty.clear();
    dirtyHeaders.clear();
    unwritten = false;
    heldCheck = 0;
    return kOk;
}

} // namespace engine
