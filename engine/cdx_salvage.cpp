// The tags' definitions as a damaged file still tells them: the tag directory walked leaf by
// leaf and each tag's header read on its own, without the trees, so that a file cut off or
// broken anywhere past its directory and headers can be rebuilt from what it says.
#include "engine/cdx_node.h"

#include <set>

namespace engine {

namespace {

// The definition in one tag header; why says what does not hold together.
bool readHeader(BlockFile& file, std::uint64_t size, TagDefinition& d) {
    unsigned char h[kHeaderSize];
    if (d.id % kNodeSize || d.id < kHeaderSize || d.id + std::uint64_t{kHeaderSize} > size) {
        d.why = "its header lies past the end of the file";
        return false;
    }
    if (!file.read(d.id, h, sizeof h)) {
        d.why = "its header cannot be read";
        return false;
    }
    const std::uint16_t keyLen = le16(h + 12);
    const std::size_t forLen = le16(h + 506), keyPool = le16(h + 510);
    if (keyLen < 1 || keyLen > kMaxKeyLen || !(h[14] & kOptCompact) || keyPool < 2 ||
        keyPool + forLen > kHeaderSize - 512) {
        d.why = "its header is damaged";
        return false;
    }
    const auto text = [&](std::size_t at, std::size_t len) {
        const char* p = reinterpret_cast<const char*>(h + 512 + at);
        const void* nul = std::memchr(p, 0, len);
        return std::string(p, nul ? static_cast<const char*>(nul) - p : static_cast<std::ptrdiff_t>(len));
    };
    TagSpec& s = d.tagSpec;
    s.keyExpr = text(0, keyPool);
    s.forExpr = forLen ? text(keyPool, forLen) : std::string();
    if (s.keyExpr.find_first_not_of(' ') == std::string::npos) {
        d.why = "its header holds no key expression";
        return false;
    }
    s.keyLen = keyLen;
    s.unique = h[14] & kOptUnique;
    s.candidate = h[14] & kOptCandidate;
    s.descending = le16(h + 502) != 0;
    const char hint = static_cast<char>(h[kKeyTypeAt]);
    d.keyTypeKnown = validKeyType(hint) && (hint == 'C' || fixedKeyLength(hint) == keyLen);
    s.keyType = d.keyTypeKnown ? hint : 'C';
    for (std::size_t i = kCollationFrom; i < kCollationTo && !d.otherCollation; ++i)
        d.otherCollation = h[i] != 0;
    return true;
}

} // namespace

Result readTagDefinitions(BlockFile& file, std::vector<TagDefinition>& defs) {
    defs.clear();
    std::uint64_t size = 0;
    if (!file.size(size)) return kCdxIo;
    unsigned char h[kHeaderSize];
    if (size < kHeaderSize + kNodeSize) return kCdxDamaged;
    if (!file.read(0, h, sizeof h)) return kCdxIo;
    if (le16(h + 12) != kTagNameLen || !(h[14] & kOptCompact)) return kCdxDamaged;
    const std::uint64_t end = std::min<std::uint64_t>(size, 0xFFFFFFFFull);
    TagMeta dir;
    dir.keyLen = kTagNameLen;
    dir.keyType = 'C';
    dir.fill = ' ';

    unsigned char buf[kNodeSize];
    CdxNode n;
    std::set<std::uint32_t> seen;
    const auto load = [&](std::uint32_t off) {
        return off % kNodeSize == 0 && off >= kHeaderSize && off + std::uint64_t{kNodeSize} <= end &&
               seen.insert(off).second && file.read(off, buf, kNodeSize) &&
               decodeNode(buf, dir, 0xFFFFFFFFull, n, false) == kOk; // pointers checked as followed
    };
    // Down the left edge to the first leaf, then along the leaves.
    std::uint32_t off = le32(h);
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth || !load(off)) return kCdxDamaged;
        if (n.leaf) break;
        if (n.empty()) return kCdxDamaged;
        off = n.child(0);
    }
    std::set<std::uint32_t> ids;
    for (;;) {
        for (std::size_t i = 0; i < n.count(); ++i) {
            if (!ids.insert(n.recno(i)).second) return kCdxDamaged;
            TagDefinition d;
            d.id = n.recno(i);
            d.tagSpec.name = std::string(n.key(i));
            while (!d.tagSpec.name.empty() && (d.tagSpec.name.back() == ' ' || d.tagSpec.name.back() == '\0'))
                d.tagSpec.name.pop_back();
            d.readable = readHeader(file, end, d);
            defs.push_back(std::move(d));
        }
        if (n.right == kNone) break;
        if (!load(n.right)) {
            std::sort(defs.begin(), defs.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
            return kCdxDamaged;
        }
    }
    std::sort(defs.begin(), defs.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    return kOk;
}

} // namespace engine
