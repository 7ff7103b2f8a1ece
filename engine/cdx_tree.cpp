// Changing a tree: a key goes into its leaf or leaves it, and the change travels up: an
// over-full node splits, an emptied one leaves its level for the free list, a small one merges
// with its neighbour, and the root grows or shrinks a level. Building a whole tree from
// sorted keys in one pass.
#include "engine/cdx_state.h"

namespace engine {

// Takes a node out of its level's sibling chain and puts it on the free list.
Result CdxState::unlinkAndRelease(const TagMeta& t, std::uint32_t off) {
    CdxNode* n;
    if (const Result r = load(t, off, n)) return r;
    const std::uint32_t left = n->left, right = n->right;
    if (left != kNone) {
        CdxNode* l;
        if (const Result r = load(t, left, l)) return r;
        touch(left);
        l->right = right;
        markDirty(left, *l, t);
    }
    if (right != kNone) {
        CdxNode* r;
        if (const Result res = load(t, right, r)) return res;
        touch(right);
        r->left = left;
        markDirty(right, *r, t);
    }
    release(off, *n, t);
    return kOk;
}

// Splits an over-full node's entries into pieces that each fit: two halves as even as
// possible, or more when no two will do.
std::vector<std::size_t> CdxState::split(const TagMeta& t, const CdxNode& n) {
    const std::size_t count = n.count();
    std::vector<std::size_t> cuts; // start of each piece after the first
    if (!n.leaf) {
        const std::size_t cap = t.interiorCap();
        const std::size_t k = (count + cap - 1) / cap;
        for (std::size_t p = 1; p < k; ++p) cuts.push_back(count * p / k);
        return cuts;
    }
    const LeafSizer s(n, t.keyLen, t.fill);
    const int eb = leafFormat(s.maxRecno, t.keyLen).bytes;
    for (std::size_t d = 0; d < count; ++d) {
        for (int sign = 0; sign < 2; ++sign) {
            const std::size_t mid = count / 2;
            if (sign ? d > mid : mid + d >= count) continue;
            const std::size_t k = sign ? mid - d : mid + d;
            if (k == 0 || k >= count) continue;
            if (s.bytes(0, k, eb) <= kLeafArea && s.bytes(k, count, eb) <= kLeafArea) {
                cuts.push_back(k);
                return cuts;
            }
        }
    }
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
    return cuts;
}

bool CdxState::fits(const TagMeta& t, CdxNode& n) {
    if (!n.leaf) return n.count() <= t.interiorCap();
    return leafUsed(n, t.keyLen, t.fill) <= kLeafArea;
}

// Writes back a node after its entries changed: freed when empty, split when over-full.
// out receives what the parent must hold in its place.
Result CdxState::finish(const TagMeta& t, std::uint32_t off, CdxNode& n, std::vector<Ref>& out) {
    out.clear();
    if (n.empty()) return unlinkAndRelease(t, off);
    if (fits(t, n)) {
        markDirty(off, n, t);
        out.push_back({std::string(n.key(n.count() - 1)), n.recno(n.count() - 1), off});
        return kOk;
    }
    touch(off);
    std::vector<std::size_t> cuts = split(t, n);
    cuts.push_back(n.count());
    const std::uint32_t right = n.right;
    std::uint32_t prevOff = off;
    CdxNode* prev = &n;
    for (std::size_t p = 0; p + 1 < cuts.size(); ++p) {
        CdxNode* m;
        const std::uint32_t mo = allocate(t, m); // n stays in place: the cache keeps its nodes
        m->leaf = n.leaf;
        m->append(n, cuts[p], cuts[p + 1]);
        m->left = prevOff;
        prev->right = mo;
        prevOff = mo;
        prev = m;
    }
    prev->right = right;
    n.root = false;
    n.erase(cuts.front(), n.count());
    n.sized = false;
    markDirty(off, n, t);
    out.push_back({std::string(n.key(n.count() - 1)), n.recno(n.count() - 1), off});
    for (std::uint32_t o = n.right; o != right;) {
        CdxNode& m = *cache.find(o);
        out.push_back({std::string(m.key(m.count() - 1)), m.recno(m.count() - 1), o});
        o = m.right;
    }
    if (right != kNone) {
        CdxNode* r;
        if (const Result res = load(t, right, r)) return res;
        touch(right);
        r->left = prevOff;
        markDirty(right, *r, t);
    }
    return kOk;
}

// After a removal below entry i of an interior node: when that child is less than half
// full, merges it with a neighbour under the same parent if the two fit in one node.
Result CdxState::mergeChild(const TagMeta& t, CdxNode& parent, std::size_t i) {
    if (parent.count() < 2) return kOk;
    CdxNode* child;
    if (const Result r = load(t, parent.child(i), child)) return r;
    const bool small = child->leaf ? leafUsed(*child, t.keyLen, t.fill) < kLeafArea / 2
                                   : child->count() < t.interiorCap() / 2 + 1;
    if (!small) return kOk;
    const std::size_t a = i + 1 < parent.count() ? i : i - 1;
    const std::size_t b = a + 1;
    const std::uint32_t aOff = parent.child(a), bOff = parent.child(b);
    CdxNode *na, *nb;
    if (const Result r = load(t, aOff, na)) return r;
    if (const Result r = load(t, bOff, nb)) return r;
    if (na->leaf != nb->leaf || na->right != bOff || nb->left != aOff) return kOk; // not a pair to merge
    CdxNode merged;
    merged.leaf = na->leaf;
    merged.keyLen = na->keyLen;
    merged.append(*na, 0, na->count());
    merged.append(*nb, 0, nb->count());
    if (!fits(t, merged)) return kOk;
    touch(aOff);
    na->append(*nb, 0, nb->count());
    na->sized = false;
    na->right = nb->right;
    if (nb->right != kNone) {
        CdxNode* r;
        if (const Result res = load(t, nb->right, r)) return res;
        touch(nb->right);
        r->left = aOff;
        markDirty(nb->right, *r, t);
    }
    markDirty(aOff, *na, t);
    release(bOff, *nb, t);
    parent.takeEntry(a, b);
    parent.erase(b);
    return kOk;
}

Result CdxState::modify(const TagMeta& t, std::uint32_t off, bool insert, std::string_view key,
                        std::uint32_t recno, int depth, std::vector<Ref>& out, bool& kept) {
    kept = false;
    if (depth > kMaxDepth) return kCdxDamaged;
    CdxNode* n;
    if (const Result r = load(t, off, n)) return r;
    if (n->strange) return kCdxReadOnlyTag;
    std::size_t i = 0;
    {
        std::size_t lo = 0, hi = n->count();
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (t.order(n->key(mid), n->recno(mid), key, recno) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        i = lo;
    }
    if (n->leaf) {
        if (insert) {
            // The same pair is never stored twice.
            if (i < n->count() && n->recno(i) == recno && n->key(i) == key) {
                kept = true;
                return kOk;
            }
            n->insert(i, key, recno);
            noteInserted(off, *n, i);
            resizeLeaf(*n, i, true, t.keyLen, t.fill);
            // Not the last entry, and room for it: the parent need not know.
            if (i + 1 < n->count() && fits(t, *n)) {
                markDirty(off, *n, t);
                kept = true;
                return kOk;
            }
        } else {
            if (i == n->count() || n->recno(i) != recno || n->key(i) != key) return kCdxKeyNotFound;
            resizeLeaf(*n, i, false, t.keyLen, t.fill);
            noteErased(off, *n, i);
            n->erase(i);
        }
        return finish(t, off, *n, out);
    }
    if (n->empty()) return kCdxDamaged;
    if (i == n->count()) {
        if (!insert) return kCdxKeyNotFound;
        i = n->count() - 1;
    }
    std::vector<Ref> refs;
    bool childKept = false;
    if (const Result r = modify(t, n->child(i), insert, key, recno, depth + 1, refs, childKept)) return r;
    if (childKept) {
        kept = true;
        return kOk;
    }
    // The cache keeps its nodes in place, so n is still valid.
    // An insertion that left the child's place and last key as they were leaves this node
    // as it was: it need not be written again.
    if (insert && refs.size() == 1 && refs[0].offset == n->child(i) && refs[0].recno == n->recno(i) &&
        refs[0].key == n->key(i)) {
        out.clear();
        out.push_back({std::string(n->key(n->count() - 1)), n->recno(n->count() - 1), off});
        return kOk;
    }
    touch(off);
    n->erase(i);
    for (std::size_t j = 0; j < refs.size(); ++j)
        n->insert(i + j, refs[j].key, refs[j].recno, refs[j].offset);
    if (!insert && refs.size() == 1)
        if (const Result r = mergeChild(t, *n, i)) return r;
    return finish(t, off, *n, out);
}

// Whether a tag may be changed: not when it is read-only, nor when any of its nodes has
// attribute bits this engine does not know (a change landing elsewhere would still write a
// tag we do not understand, and a merge could drop the bits). The first time for a tag, and
// whenever its root moved behind our back, every node is read.
Result CdxState::checkNodes(TagMeta& t) {
    if (oddTags.count(t.id)) t.readOnly = true;
    if (t.readOnly) return kCdxReadOnlyTag;
    if (const auto it = plainAt.find(t.id); it != plainAt.end() && it->second == t.root) return kOk;
    std::vector<std::uint32_t> level{t.root};
    std::set<std::uint32_t> seen;
    bool odd = false;
    for (int depth = 0; !level.empty() && !odd; ++depth) {
        if (depth > kMaxDepth) return kCdxDamaged;
        std::vector<std::uint32_t> below;
        for (std::uint32_t off : level) {
            if (!seen.insert(off).second) return kCdxDamaged;
            // Read past the cache, which a walk of a whole tag would only flood.
            const CdxNode* n = nullptr;
            CdxNode read;
            if (const CdxNode* cached = cache.find(off)) {
                if (cached->freed) return kCdxDamaged;
                n = cached;
            } else {
                unsigned char buf[kNodeSize];
                if (off % kNodeSize || off < kHeaderSize || off + std::uint64_t{kNodeSize} > end)
                    return kCdxDamaged;
                if (!file->read(off, buf, kNodeSize)) return kCdxIo;
                const std::uint16_t attr = le16(buf);
                if (attr & ~kAttrKnown) odd = true;
                if (attr & kAttrLeaf) continue; // only its attribute word matters here
                if (const Result r = decodeNode(buf, t, end, read, false)) return r;
                n = &read;
            }
            if (n->strange) odd = true;
            if (!n->leaf)
                for (std::size_t i = 0; i < n->count(); ++i) below.push_back(n->child(i));
        }
        level = std::move(below);
    }
    if (!odd) {
        plainAt[t.id] = t.root;
        return kOk;
    }
    oddTags.insert(t.id);
    t.readOnly = true;
    for (TagInfo& info : tags)
        if (info.id == t.id) info.unknownNodes = true;
    return kCdxReadOnlyTag;
}

// Inserts or erases one entry of a tag and settles the root.
Result CdxState::change(TagMeta& t, bool insert, std::string_view key, std::uint32_t recno) {
    if (const Result r = checkNodes(t)) return r;
    std::vector<Ref> refs;
    bool kept = false;
    if (const Result r = modify(t, t.root, insert, key, recno, 0, refs, kept)) return r;
    if (kept) {
        markHeader(t.id);
        return kOk;
    }
    if (const Result r = settleRoot(t, std::move(refs))) return r;
    plainAt[t.id] = t.root; // our own change leaves it as plain as it was
    return kOk;
}

Result CdxState::settleRoot(TagMeta& t, std::vector<Ref> refs) {
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
                for (std::size_t j = from; j < to; ++j) m->push(refs[j].key, refs[j].recno, refs[j].offset);
                m->left = prevOff;
                if (prev) prev->right = mo;
                up.push_back({refs[to - 1].key, refs[to - 1].recno, mo});
                prevOff = mo;
                prev = m;
                from = to;
            }
            refs = std::move(up);
        }
        t.root = refs[0].offset;
        if (const Result r = load(t, t.root, rootNode)) return r;
        // Drop interior roots with a single child.
        for (int depth = 0; !rootNode->leaf && rootNode->count() == 1; ++depth) {
            if (depth > kMaxDepth) return kCdxDamaged;
            const std::uint32_t child = rootNode->child(0);
            release(t.root, *rootNode, t);
            t.root = child;
            if (const Result r = load(t, t.root, rootNode)) return r;
        }
    }
    // A root left as it was (below it only a leaf changed) is not written again.
    const bool same =
        t.root == oldRoot && rootNode->root && rootNode->left == kNone && rootNode->right == kNone;
    if (!same) touch(t.root);
    rootNode->root = true;
    rootNode->left = rootNode->right = kNone;
    if (!same) markDirty(t.root, *rootNode, t);
    markHeader(t.id);
    return kOk;
}

// Building a whole tree from sorted entries, written in one pass.
Result CdxState::build(TagMeta& t, const KeyList& keys, const std::vector<std::uint32_t>& order) {
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
        n->reserve(to - from);
        for (std::size_t i = from; i < to; ++i) n->push(keys.key(order[i]), keys.recno(order[i]));
        if (l) {
            n->left = level.back().offset;
            nodes.back()->right = off;
        }
        level.push_back({std::string(n->key(n->count() - 1)), n->recno(n->count() - 1), off});
        nodes.push_back(n);
    }
    return settleRoot(t, std::move(level));
}

} // namespace engine
