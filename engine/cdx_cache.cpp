// The index's cache of decoded nodes, and a change made in memory: begun, abandoned, or
// written out in runs of adjacent nodes with the headers and the change counter.
#include "engine/cdx_state.h"

namespace engine {

namespace {

constexpr std::size_t kCacheLimit = 2048;                 // decoded nodes kept between operations
constexpr std::size_t kCacheBytes = std::size_t{8} << 20; // and roughly the memory they may take

} // namespace

Result CdxState::load(const TagMeta& t, std::uint32_t off, CdxNode*& out) {
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

void CdxState::markDirty(std::uint32_t off, const TagMeta& t) {
    dirty.insert(off);
    dirtyTag[off] = &t;
}

// Before a read: keeps the cache from growing without end.
// Interior nodes, few and met by every search, stay; leaves go first.
void CdxState::trim() {
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

void CdxState::forget() {
    cache.clear();
    cacheBytes = 0;
}

// Before a change.
void CdxState::begin() {
    trim();
    savedFree = freeList;
    savedEnd = end;
    savedRoots.clear();
    savedRoots[0] = dir.root;
    for (auto& [id, m] : metas) savedRoots[id] = m.root;
}

// Forgets every change made in memory since begin().
void CdxState::abort() {
    forget();
    dirty.clear();
    dirtyTag.clear();
    dirtyHeaders.clear();
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

// Writes every changed node and header, and moves the change counter on.
Result CdxState::commit() {
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

} // namespace engine
