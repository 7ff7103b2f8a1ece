#include "engine/cdx.h"

namespace engine {

struct CdxState {
    BlockFile* file = nullptr;
    std::vector<TagInfo> tags;
};

bool MemoryBlockFile::read(std::uint64_t, void*, std::size_t) { return false; }
bool MemoryBlockFile::write(std::uint64_t, const void*, std::size_t) { return false; }
bool MemoryBlockFile::size(std::uint64_t& out) { out = bytes.size(); return true; }
bool MemoryBlockFile::truncate(std::uint64_t) { return false; }

KeyList::KeyList(std::size_t keyLen, char keyType) : keyLen_(keyLen), fill_(keyFill(keyType)) {}
void KeyList::reserve(std::size_t) {}
void KeyList::add(std::string_view, std::uint32_t) {}

Result CdxCursor::first() { return kCdxNotOpen; }
Result CdxCursor::last() { return kCdxNotOpen; }
Result CdxCursor::next() { return kCdxNotOpen; }
Result CdxCursor::prev() { return kCdxNotOpen; }
Result CdxCursor::seek(std::string_view, bool& found) { found = false; return kCdxNotOpen; }
Result CdxCursor::seekLast(std::string_view, bool& found) { found = false; return kCdxNotOpen; }
Result CdxCursor::find(std::string_view, std::uint32_t, bool& exact) { exact = false; return kCdxNotOpen; }

CdxIndex::CdxIndex(BlockFile& file) : s_(std::make_unique<CdxState>()) { s_->file = &file; }
CdxIndex::~CdxIndex() = default;
Result CdxIndex::create() { return kCdxNotOpen; }
Result CdxIndex::open() { return kCdxNotOpen; }
bool CdxIndex::isOpen() const { return false; }
Result CdxIndex::refresh(bool* changed) { if (changed) *changed = false; return kCdxNotOpen; }
std::uint32_t CdxIndex::changeCounter() const { return 0; }
void CdxIndex::dropCache() {}
const std::vector<TagInfo>& CdxIndex::tags() const { return s_->tags; }
const TagInfo* CdxIndex::findTag(std::string_view) const { return nullptr; }
const TagInfo* CdxIndex::tag(TagId) const { return nullptr; }
Result CdxIndex::addTag(const TagSpec&, KeyList&, TagId*) { return kCdxNotOpen; }
Result CdxIndex::removeTag(std::string_view) { return kCdxNotOpen; }
Result CdxIndex::setKeyType(TagId, char) { return kCdxNotOpen; }
Result CdxIndex::insert(TagId, std::string_view, std::uint32_t, bool* added) { if (added) *added = false; return kCdxNotOpen; }
Result CdxIndex::erase(TagId, std::string_view, std::uint32_t) { return kCdxNotOpen; }
Result CdxIndex::verify(TagId, std::uint64_t* count) { if (count) *count = 0; return kCdxNotOpen; }

}  // namespace engine
