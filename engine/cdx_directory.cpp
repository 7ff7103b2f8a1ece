// The file header and the tag directory: a compact tree of the tag names whose record numbers
// are the offsets of the tags' headers. Reading them on opening and after another process
// changed the file, and adding and removing tags.
#include "engine/cdx_state.h"

#include <cctype>

namespace engine {

Result CdxState::readTags() {
    tags.clear();
    metas.clear();
    Pos p;
    if (const Result r = edge(dir, false, p)) return r;
    std::set<TagId> seen;
    while (!p.atEnd()) {
        const auto e = entryAt(dir, p);
        if (!e) return kCdxDamaged;
        const TagId id = e->recno;
        if (id % kNodeSize || id < kHeaderSize || id + std::uint64_t{kHeaderSize} > end ||
            !seen.insert(id).second)
            return kCdxDamaged;
        TagInfo info;
        TagMeta m;
        const CdxEntry current{std::string(e->key), e->recno, 0};
        if (const Result r = readTagHeader(id, current.key, info, m)) return r;
        if (info.unusable.empty()) metas[id] = m;
        tags.push_back(std::move(info));
        const EntryView view{current.key, current.recno, 0};
        if (const Result r = stepOn(dir, p, &view, p)) return r;
    }
    std::sort(tags.begin(), tags.end(), [](const TagInfo& a, const TagInfo& b) { return a.id < b.id; });
    return kOk;
}

Result CdxState::readTagHeader(TagId id, std::string_view dirKey, TagInfo& info, TagMeta& m) {
    unsigned char h[kHeaderSize];
    if (!file->read(id, h, sizeof h)) return kCdxIo;
    m.id = id;
    m.root = le32(h);
    m.keyLen = le16(h + 12);
    if (m.keyLen < 1) return kCdxDamaged;
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
    if (m.keyLen > kMaxKeyLen) {
        // Written elsewhere with keys longer than our nodes take: the tag is named and
        // described, never walked or changed (readTags keeps no tree for it).
        info.unusable = "its keys are " + std::to_string(m.keyLen) + " bytes long, longer than the " +
                        std::to_string(kMaxKeyLen) + " this engine handles";
    }
    if (info.unusable.empty() && m.keyType != 'C' && m.keyLen != fixedKeyLength(m.keyType))
        return kCdxDamaged;
    for (std::size_t i = kCollationFrom; i < kCollationTo && !m.readOnly; ++i) m.readOnly = h[i] != 0;
    info.readOnly = m.readOnly;
    if (oddTags.count(id)) m.readOnly = info.unknownNodes = true;
    m.fill = keyFill(m.keyType);
    if (m.descending && info.unusable.empty()) {
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
    std::string name(dirKey);
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
bool CdxState::storedHighestFirst(const TagMeta& t) {
    unsigned char buf[kNodeSize];
    CdxNode n;
    std::uint32_t off = t.root;
    CdxEntry last;
    for (int depth = 0; depth <= kMaxDepth; ++depth) {
        if (off % kNodeSize || off < kHeaderSize || off + std::uint64_t{kNodeSize} > end) return false;
        if (!file->read(off, buf, kNodeSize) || decodeNode(buf, t, end, n, false) || n.empty()) return false;
        if (depth == 0) last = n.copy(n.count() - 1);
        if (n.leaf) return compareEntry(n.key(0), n.recno(0), last.key, last.recno) > 0;
        off = n.child(0);
    }
    return false;
}

Result CdxState::readFileHeader() {
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

Result CdxState::reload() {
    discard();
    open = false;
    if (const Result r = readFileHeader()) return r;
    if (const Result r = readTags()) return r;
    open = true;
    return kOk;
}

Result CdxIndex::create() {
    CdxState& s = *s_;
    s.open = false;
    s.discard();
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
    if (s_->open)
        if (const Result r = s_->writeOut()) return r;
    return s_->reload();
}

bool CdxIndex::isOpen() const {
    return s_->open;
}

Result CdxIndex::refresh(bool* changed) {
    if (changed) *changed = false;
    CdxState& s = *s_;
    if (const Result r = s.writeOut()) return r;
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
    m.candidate = def.candidate;
    m.descending = def.descending;

    unsigned char h[kHeaderSize] = {};
    put16(h + 12, def.keyLen);
    h[14] =
        static_cast<unsigned char>(kOptCompact | kOptCompound | (def.unique ? kOptUnique : 0) |
                                   (def.candidate ? kOptCandidate : 0) | (def.forExpr.empty() ? 0 : kOptFor));
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
    s.oddTags.erase(tagId);
    s.plainAt.erase(tagId);
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
    s.plainAt[tagId] = stored.root; // ours, plain
    TagInfo info;
    info.id = tagId;
    info.name = name;
    info.keyExpr = def.keyExpr;
    info.forExpr = def.forExpr;
    info.keyType = def.keyType;
    info.keyLen = def.keyLen;
    info.unique = def.unique;
    info.candidate = def.candidate;
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
    TagMeta unusable; // a tag this engine cannot use has no tree it knows
    unusable.id = tagId;
    unusable.keyLen = 1;
    TagMeta& m = s.metas.count(tagId) ? s.metas[tagId] : unusable;
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
                    for (std::size_t j = 0; j < n->count(); ++j) below.push_back(n->child(j));
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
            s.release(off, s.create(off), m);
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
    s.oddTags.erase(tagId);
    s.plainAt.erase(tagId);
    s.tags.erase(
        std::remove_if(s.tags.begin(), s.tags.end(), [&](const TagInfo& t) { return t.id == tagId; }),
        s.tags.end());
    return kOk;
}

Result CdxIndex::writable(TagId id) {
    CdxState& s = *s_;
    if (!s.open) return kCdxNotOpen;
    TagMeta* m = id ? s.meta(id) : nullptr;
    if (!m) {
        const TagInfo* info = tag(id);
        return info && !info->unusable.empty() ? kCdxReadOnlyTag : kCdxNoTag;
    }
    return s.checkNodes(*m);
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
        if (const Result r = s.writeOut()) return r;
        m->keyType = keyType;
        m->fill = keyFill(keyType);
        s.forget(); // nodes decoded with the old fill byte
    }
    for (TagInfo& t : s.tags)
        if (t.id == id) t.keyType = keyType, t.keyTypeKnown = true;
    return kOk;
}

} // namespace engine
