// The index's calls for keys: one insert or erase, a staged set of changes written as one,
// the mark of a change under way, and the check of a whole tag. Also the in-memory block file
// and the key list tags are built from.
#include "engine/cdx_state.h"

namespace engine {

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

CdxIndex::CdxIndex(BlockFile& file) : s_(std::make_unique<CdxState>()) {
    s_->file = &file;
}
CdxIndex::~CdxIndex() = default;

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
    if (const Result r = s.lowerBoundEntry(*m, key, from, p)) {
        s.abort();
        return r;
    }
    std::uint32_t holder = 0; // a higher record a unique tag holds the key with
    if (const auto e = s.entryAt(*m, p); e && e->key == key) {
        // The same pair is never stored twice; a unique tag keeps the lowest record of a key.
        if (e->recno == recno || (m->unique && e->recno < recno)) {
            s.abort();
            return kOk;
        }
        if (m->unique) holder = e->recno;
    }
    Result r = holder ? s.change(*m, false, key, holder) : kOk;
    if (!r) r = s.change(*m, true, key, recno);
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
        if (!r && c.insert && m->candidate && candidates) {
            // Another record holding the key: erased by this same change, or a refusal.
            CdxState::Pos q;
            r = s.lowerBoundEntry(*m, c.key, 0, q);
            const auto other = r ? std::nullopt : s.entryAt(*m, q);
            if (other && other->key == c.key && other->recno != c.recno) r = kCdxDuplicateKey;
        }
        if (!r && c.insert) {
            // A unique tag keeps a key with the lowest record holding it, so the key moves to
            // a lower record. (The same pair twice the change itself leaves alone.)
            if (m->unique) {
                CdxState::Pos p;
                r = s.lowerBoundEntry(*m, c.key, 0, p);
                const auto e = r ? std::nullopt : s.entryAt(*m, p);
                if (e && e->key == c.key) {
                    if (e->recno <= c.recno) continue;
                    r = s.change(*m, false, c.key, e->recno);
                }
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

Result CdxIndex::commitStaged(bool hold) {
    CdxState& s = *s_;
    if (!s.staged) return kOk;
    s.staged = false;
    return s.commit(hold);
}

Result CdxIndex::writeHeld() {
    CdxState& s = *s_;
    if (s.staged) return kCdxNotOpen; // a staged change is committed or dropped first
    return s.writeOut();
}

bool CdxIndex::holding() const {
    return s_->unwritten || !s_->dirty.empty();
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
    // The mark goes only once everything it covers is written.
    if (!on)
        if (const Result r = writeHeld()) return r;
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
        bool havePrev = false;
        CdxEntry prev;
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
            if (n->empty() && !(depth == 0 && n->leaf)) return kCdxDamaged;
            for (std::size_t j = 0; j < n->count(); ++j) {
                const std::string_view key = n->key(j);
                const std::uint32_t recno = n->recno(j);
                if (havePrev && m->order(prev.key, prev.recno, key, recno) >= 0) return kCdxDamaged;
                if (leafLevel && m->unique && havePrev && prev.key == key) return kCdxDamaged;
                prev.key.assign(key);
                prev.recno = recno;
                havePrev = true;
                if (!n->leaf) {
                    // The child's last entry must be this entry.
                    CdxNode* c;
                    if (const Result r = s.load(*m, n->child(j), c)) return r;
                    if (c->empty() || c->key(c->count() - 1) != prev.key || c->recno(c->count() - 1) != recno)
                        return kCdxDamaged;
                    below.push_back(n->child(j));
                }
            }
            if (leafLevel) entries += n->count();
        }
        if (leafLevel && !below.empty()) return kCdxDamaged;
        level = std::move(below);
    }
    if (count) *count = entries;
    return kOk;
}

Result CdxIndex::checkPages(PageReport& report) {
    report = PageReport();
    CdxState& s = *s_;
    if (!s.open) return kCdxNotOpen;
    s.trim();
    std::map<std::uint32_t, std::string> used; // page: what uses it
    used[0] = used[kNodeSize] = "the file header";
    // Every node of a tree, level by level; false when the tree cannot be walked.
    const auto walkTree = [&](const TagMeta& t, const std::string& owner) {
        std::vector<std::uint32_t> level{t.root};
        for (int depth = 0; !level.empty(); ++depth) {
            if (depth > kMaxDepth) return false;
            std::vector<std::uint32_t> below;
            for (std::uint32_t off : level) {
                CdxNode* n;
                if (s.load(t, off, n)) return false;
                const auto [at, fresh] = used.emplace(off, owner);
                if (!fresh) {
                    if (at->second == owner) return false; // a cycle
                    report.faults.push_back("the page at " + std::to_string(off) + " is used by " +
                                            at->second + " and " + owner);
                    return false;
                }
                if (!n->leaf)
                    for (std::size_t i = 0; i < n->count(); ++i) below.push_back(n->child(i));
            }
            level = std::move(below);
        }
        return true;
    };
    for (const TagInfo& info : s.tags) {
        used.emplace(info.id, "tag " + info.name);
        used.emplace(info.id + kNodeSize, "tag " + info.name);
    }
    if (!walkTree(s.dir, "the tag directory")) report.complete = false;
    for (const TagInfo& info : s.tags) {
        const TagMeta* m = s.meta(info.id);
        if (!m || !walkTree(*m, "tag " + info.name)) report.complete = false;
    }
    // The free list as the file holds it.
    unsigned char h[8];
    if (!s.file->read(0, h, sizeof h)) return kCdxIo;
    std::set<std::uint32_t> listed;
    for (std::uint32_t p = le32(h + 4); p != 0 && p != kNone;) {
        const std::string at = "the free list names the page at " + std::to_string(p);
        if (p % kNodeSize || p < kHeaderSize || p + std::uint64_t{kNodeSize} > s.end) {
            report.faults.push_back(at + ", outside the file's pages");
            break;
        }
        if (const auto u = used.find(p); u != used.end()) {
            report.faults.push_back(at + ", which " + u->second + " uses");
            break;
        }
        if (!listed.insert(p).second) {
            report.faults.push_back(at + " twice: the list runs in a circle");
            break;
        }
        unsigned char link[4];
        if (!s.file->read(p, link, sizeof link)) return kCdxIo;
        p = le32(link);
    }
    if (report.complete)
        for (std::uint64_t off = 0; off + kNodeSize <= s.end; off += kNodeSize)
            if (!used.count(static_cast<std::uint32_t>(off)) &&
                !listed.count(static_cast<std::uint32_t>(off)))
                report.unreached.push_back(static_cast<std::uint32_t>(off));
    return kOk;
}

} // namespace engine
