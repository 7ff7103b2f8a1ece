// The state of an open compound index: the header fields, the tag list, the cache of decoded
// nodes and the change being made. Internal to the index (cdx*.cpp); CdxIndex and CdxCursor
// hold one and work through it.
#pragma once

#include "engine/cdx_node.h"

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace engine {

// Decoded nodes by their place in the file, in pages of slots (one per 512 bytes of file)
// made as they are needed: finding one is two steps, with no hashing. Offsets are those of
// nodes (multiples of 512); nodes stay where they are until erased.
class NodeCache {
  public:
    CdxNode* find(std::uint32_t off) const {
        const std::size_t i = off / kNodeSize;
        if (off % kNodeSize || i / kPage >= pages_.size() || !pages_[i / kPage]) return nullptr;
        return (*pages_[i / kPage])[i % kPage].get();
    }
    // The node at off, made empty when there is none.
    CdxNode& get(std::uint32_t off) {
        std::unique_ptr<CdxNode>& slot = slotOf(off);
        if (!slot) {
            slot = std::make_unique<CdxNode>();
            ++size_;
        }
        return *slot;
    }
    CdxNode& put(std::uint32_t off, CdxNode&& n) { return get(off) = std::move(n); }
    void erase(std::uint32_t off) {
        const std::size_t i = off / kNodeSize;
        if (off % kNodeSize || i / kPage >= pages_.size() || !pages_[i / kPage]) return;
        std::unique_ptr<CdxNode>& slot = (*pages_[i / kPage])[i % kPage];
        if (slot) --size_;
        slot.reset();
    }
    void clear() {
        pages_.clear();
        size_ = 0;
    }
    std::size_t size() const { return size_; }
    // Erases the nodes for which drop(node) is true.
    template <class Drop> void eraseIf(Drop drop) {
        for (auto& page : pages_) {
            if (!page) continue;
            for (auto& slot : *page) {
                if (slot && drop(*slot)) {
                    slot.reset();
                    --size_;
                }
            }
        }
    }

  private:
    static constexpr std::size_t kPage = 1024;
    using Page = std::array<std::unique_ptr<CdxNode>, kPage>;
    std::unique_ptr<CdxNode>& slotOf(std::uint32_t off) {
        const std::size_t i = off / kNodeSize;
        if (i / kPage >= pages_.size()) pages_.resize(i / kPage + 1);
        if (!pages_[i / kPage]) pages_[i / kPage] = std::make_unique<Page>();
        return (*pages_[i / kPage])[i % kPage];
    }
    std::vector<std::unique_ptr<Page>> pages_;
    std::size_t size_ = 0;
};

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
    // Tags looked at whole for nodes of a layout this engine does not know: those that have
    // some (only read, for good), and the others with the root they had then. Both are kept
    // across reload(): nothing this engine writes makes a tag odd.
    std::set<TagId> oddTags;
    std::map<TagId, std::uint32_t> plainAt;

    NodeCache cache;
    std::size_t cacheBytes = 0; // weight() of the nodes read into the cache
    // Changed nodes (each also marked dirty) and tag headers not yet written: those of the
    // change being made, and those of changes committed with their writing held back
    // (commit(true)).
    std::vector<std::uint32_t> dirty;
    std::set<TagId> dirtyHeaders; // tag headers whose root moved
    bool unwritten = false;       // a change committed and not written (the counter at least)
    std::size_t heldCheck = 0;    // the number of dirty nodes at which to weigh them again

    // The change being made (begin() to commit() or abort()): what undoes it, newest last.
    // A leaf that only took or lost one entry notes just that; any other node changed is
    // noted whole before its first change (or as new, when it was not in the cache).
    struct Undo {
        enum class Kind : std::uint8_t { inserted, erased, image, fresh } kind;
        std::uint32_t off = 0;
        std::size_t slot = 0;
        CdxEntry entry; // erased
        CdxNode node;   // image
    };
    bool changeOpen = false;
    std::uint32_t changeStamp = 0; // numbers the changes; a node noted whole carries it
    std::vector<Undo> undo;
    std::size_t dirtyBefore = 0;   // dirty.size() when the change began
    std::vector<TagId> newHeaders; // tag headers this change made dirty
    std::uint32_t savedFree = kNone;
    std::uint64_t savedEnd = 0;
    std::vector<std::pair<TagId, std::uint32_t>> savedRoots;

    TagMeta* meta(TagId id) {
        if (id == 0) return &dir;
        const auto it = metas.find(id);
        return it == metas.end() ? nullptr : &it->second;
    }

    // The cache and writing a change out (cdx_cache.cpp).
    Result load(const TagMeta& t, std::uint32_t off, CdxNode*& out);
    void markDirty(std::uint32_t off, CdxNode& n, const TagMeta& t) {
        n.tag = &t;
        if (n.dirty) return;
        n.dirty = true;
        dirty.push_back(off);
    }
    void markHeader(TagId id) {
        if (dirtyHeaders.insert(id).second && changeOpen) newHeaders.push_back(id);
    }
    // Before a node other than a leaf's single entry changes: notes it for abort(). A node
    // not in the cache is one being made.
    void touch(std::uint32_t off);
    // A node made anew at off (noted for abort() first).
    CdxNode& create(std::uint32_t off);
    // A leaf's single entry taken in or given up at slot (the change already made).
    void noteInserted(std::uint32_t off, const CdxNode& n, std::size_t slot) {
        if (changeOpen && n.stamp != changeStamp) undo.push_back({Undo::Kind::inserted, off, slot});
    }
    void noteErased(std::uint32_t off, const CdxNode& n, std::size_t slot) {
        if (changeOpen && n.stamp != changeStamp)
            undo.push_back({Undo::Kind::erased, off, slot, n.copy(slot)});
    }
    void trim();
    // Drops the nodes that are as the file holds them; changed ones stay until written.
    void forget();
    // Drops every node, written or not (the file is read again or made anew).
    void discard();
    void begin();
    void endChange();
    void abort();
    Result writeHeaderFields(TagId id, std::uint32_t root);
    // Ends the change begun: written at once, or (hold) kept in memory with the changes
    // held before, until writeOut() or a change committed without hold.
    Result commit(bool hold = false);
    // Writes every changed node and header and the change counter.
    Result writeOut();
    // Roughly the memory a decoded node takes.
    static std::size_t weight(const CdxNode& n) { return 160 + n.count() * (n.keyLen + 8u); }

    // The free list (cdx_freelist.cpp).
    std::uint32_t allocate(const TagMeta& t, CdxNode*& out);
    bool freePage(std::uint32_t off, std::uint32_t& next);
    void release(std::uint32_t off, CdxNode& n, const TagMeta& t);

    // Reading a tree (cdx_cursor.cpp).

    struct Pos {
        std::uint32_t leaf = kNone;
        std::size_t slot = 0;
        bool atEnd() const { return leaf == kNone; }
    };

    Result edge(const TagMeta& t, bool last, Pos& pos);
    Result stepOn(const TagMeta& t, Pos from, const EntryView* current, Pos& out, bool fromEmpty = false);
    Result stepBack(const TagMeta& t, Pos from, const EntryView* current, Pos& out, bool fromEmpty = false);
    Result lowerBoundEntry(const TagMeta& t, std::string_view key, std::uint32_t recno, Pos& pos);
    std::optional<EntryView> entryAt(const TagMeta& t, Pos p);
    // The first entry for which before(key, recno) is false; before must be true for a
    // leading run of the entries and false for the rest.
    template <class Before> Result lowerBound(const TagMeta& t, Before before, Pos& pos) {
        std::uint32_t off = t.root;
        for (int depth = 0;; ++depth) {
            if (depth > kMaxDepth) return kCdxDamaged;
            CdxNode* n;
            if (const Result r = load(t, off, n)) return r;
            // Entries are in order, so before() holds for a leading run: search it in halves.
            std::size_t i = 0, hi = n->count();
            while (i < hi) {
                const std::size_t mid = (i + hi) / 2;
                if (before(n->key(mid), n->recno(mid)))
                    i = mid + 1;
                else
                    hi = mid;
            }
            if (n->leaf) {
                if (i < n->count()) {
                    pos = {off, i};
                    return kOk;
                }
                if (n->empty() && n->left == kNone && n->right == kNone) {
                    pos = Pos();
                    return kOk;
                }
                // Past this leaf's entries: the answer, if any, starts the next leaf.
                const EntryView lastEntry = n->empty() ? EntryView() : n->entry(n->count() - 1);
                if (const Result r = stepOn(t, {off, n->empty() ? 0 : n->count() - 1},
                                            n->empty() ? nullptr : &lastEntry, pos, n->empty()))
                    return r;
                if (!pos.atEnd()) {
                    CdxNode* m;
                    if (const Result r = load(t, pos.leaf, m)) return r;
                    if (before(m->key(pos.slot), m->recno(pos.slot))) pos = Pos();
                }
                return kOk;
            }
            if (n->empty()) return kCdxDamaged;
            if (i == n->count()) {
                pos = Pos();
                return kOk;
            }
            off = n->child(i);
        }
    }

    // Changing a tree (cdx_tree.cpp).
    Result checkNodes(TagMeta& t);
    Result unlinkAndRelease(const TagMeta& t, std::uint32_t off);
    // Where an over-full node is cut: the first entry of each piece after the first.
    std::vector<std::size_t> split(const TagMeta& t, const CdxNode& n);
    bool fits(const TagMeta& t, CdxNode& n);
    Result finish(const TagMeta& t, std::uint32_t off, CdxNode& n, std::vector<Ref>& out);
    Result mergeChild(const TagMeta& t, CdxNode& parent, std::size_t i);
    // out receives what the parent must hold in the node's place; kept tells instead that
    // the node stays where it was with the same last entry, so the parent need not change.
    Result modify(const TagMeta& t, std::uint32_t off, bool insert, std::string_view key, std::uint32_t recno,
                  int depth, std::vector<Ref>& out, bool& kept);
    Result change(TagMeta& t, bool insert, std::string_view key, std::uint32_t recno);
    Result settleRoot(TagMeta& t, std::vector<Ref> refs);
    Result build(TagMeta& t, const KeyList& keys, const std::vector<std::uint32_t>& order);

    // The file header and the tag directory (cdx_directory.cpp).
    Result readTags();
    Result readTagHeader(TagId id, std::string_view dirKey, TagInfo& info, TagMeta& m);
    bool storedHighestFirst(const TagMeta& t);
    Result readFileHeader();
    Result reload();
};

} // namespace engine
