// The index bags of a table and their tags: opening and closing bags, compiling each tag's
// expressions, a record's key in a tag, and the orders as the caller numbers them. Creating a
// tag is in table_build.cpp.
#include "engine/table.h"
#include "engine/table_internal.h"

#include "engine/keys.h"
#include "engine/lockmap.h"

#include <algorithm>

namespace engine {

using namespace table_detail;

namespace {

bool hasExtension(std::string_view path) {
    return path.substr(folderEnd(path)).find('.') != std::string_view::npos;
}

} // namespace

bool FileBlocks::read(std::uint64_t offset, void* data, std::size_t size) {
    std::size_t got = 0;
    return file_.read(offset, data, size, got) == os::Status::ok && got == size;
}

bool FileBlocks::write(std::uint64_t offset, const void* data, std::size_t size) {
    return file_.write(offset, data, size) == os::Status::ok;
}

bool FileBlocks::size(std::uint64_t& out) {
    return file_.size(out) == os::Status::ok;
}

bool FileBlocks::truncate(std::uint64_t size) {
    return file_.truncate(size) == os::Status::ok;
}

std::string Table::bagPath(std::string_view bag) const {
    std::string name(trim(bag));
    if (!hasExtension(name)) name += ".cdx";
    if (folderEnd(name) != 0) {
        if (os::isAbsolute(name) || settings().defaultFolder.empty()) return name;
        return os::joinPath(settings().defaultFolder, name);
    }
    return path_.substr(0, folderEnd(path_)) + name;
}

Result Table::openBag(const std::string& path, bool structural, bool create, Bag*& out) {
    auto bag = std::make_unique<Bag>();
    bag->path = path;
    bag->structural = structural;
    bag->owner = this;
    Result r = kOk;
    if (create) {
        os::Status s = bag->file.create(path, true);
        if (s == os::Status::exists) return openBag(path, structural, false, out);
        if (s != os::Status::ok) return fromStatus(s);
        r = lockBag(*bag, true);
        if (r == kOk) {
            r = fromIndex(bag->cdx.create());
            unlockBag(*bag, true);
        }
    } else {
        os::Status s = bag->file.open(path, !readOnly_);
        if (s != os::Status::ok && readOnly_) s = bag->file.open(path, false);
        if (s != os::Status::ok) return fromStatus(s);
        // An empty file is one that another handle has just created and is about to fill:
        // wait for it a little.
        for (unsigned waited = 0;; waited += 10) {
            r = lockBag(*bag, false);
            if (r != kOk) break;
            r = fromIndex(bag->cdx.open());
            unlockBag(*bag, false);
            std::uint64_t size = 1;
            if (r == kOk || !shared_ || waited >= lockmap::waitMs || bag->file.size(size) != os::Status::ok ||
                size != 0)
                break;
            os::sleepMs(10);
        }
        // Still empty: its creation was cut off before anything was written to it. A reader
        // goes without it; a writer hears that the index does not agree with the table.
        std::uint64_t size = 1;
        if (r != kOk && bag->file.size(size) == os::Status::ok && size == 0) {
            closeBag(*bag);
            if (readOnly_ && structural) {
                out = nullptr;
                return kOk;
            }
            setErrorDetail("the index " + path + " is empty: its creation was cut off; rebuild the index");
            return kIndexOutOfDate;
        }
    }
    if (r == kOk) r = checkUpToDate(*bag);
    if (r == kOk) r = loadTags(*bag);
    if (r != kOk) {
        if (r == kIndexDamaged) setErrorDetail(path);
        closeBag(*bag);
        return r;
    }
    out = bag.get();
    if (structural)
        bags_.insert(bags_.begin(), std::move(bag));
    else
        bags_.push_back(std::move(bag));
    return kOk;
}

Result Table::loadTags(Bag& bag) {
    for (const TagInfo& info : bag.cdx.tags()) {
        if (!info.unusable.empty()) continue; // not an order; see unusableTag
        Result r = addOpenTag(bag, info);
        if (r != kOk) return r;
    }
    return kOk;
}

Result Table::addOpenTag(Bag& bag, const TagInfo& info) {
    auto tag = std::make_unique<OpenTag>();
    tag->bag = &bag;
    tag->id = info.id;
    tag->name = info.name;
    tag->keyText = info.keyExpr;
    tag->forText = info.forExpr;
    tag->keyLen = info.keyLen;
    tag->unique = info.unique;
    tag->candidate = info.candidate;
    tag->descending = info.descending;
    std::size_t pos = 0;
    Result r = Expression::compile(info.keyExpr, exprFields_, alias_, settings().expr(), tag->key, pos);
    if (r == kOk && !trim(info.forExpr).empty())
        r = Expression::compile(info.forExpr, exprFields_, alias_, settings().expr(), tag->cond, pos);
    if (r != kOk) {
        // Written by another program with what this engine cannot evaluate: the tag is walked
        // and searched as it stands, and changes the table would need it to take are refused.
        tag->keyless = true;
        tag->key = Expression();
        tag->cond = Expression();
        tag->keyType = info.keyType;
        tag->cursor = CdxCursor(bag.cdx, info.id);
        tag->handle = handles::add(handles::Kind::index, tag.get());
        bag.tags.push_back(std::move(tag));
        return kOk;
    }
    tag->keyType = info.keyTypeKnown ? info.keyType : tag->key.keyType();
    if (const int sole = soleField(info.keyExpr);
        sole >= 0 && hdr_.fields[static_cast<std::size_t>(sole)].type == 'T' && tag->keyType == 'D')
        tag->datetimeField = sole;
    else if (sole >= 0 && trim(info.keyExpr).find_first_of(".>") == std::string_view::npos)
        tag->keyField = sole;
    // A number kept in 4 bytes is an integer key (a tag on an integer field).
    if (!info.keyTypeKnown && tag->keyType == 'N' && info.keyLen == 4) tag->keyType = 'I';
    if (!validKeyType(tag->keyType) || (tag->keyType != 'C' && fixedKeyLength(tag->keyType) != info.keyLen)) {
        setErrorDetail("tag " + info.name + " of " + bag.path + ": key of no known type");
        return kBadExpression;
    }
    // Files written elsewhere may not say what type their keys are: the expression tells.
    if (!info.keyTypeKnown) {
        r = fromIndex(bag.cdx.setKeyType(info.id, tag->keyType));
        if (r != kOk) return r;
    }
    tag->cursor = CdxCursor(bag.cdx, info.id);
    tag->handle = handles::add(handles::Kind::index, tag.get());
    bag.tags.push_back(std::move(tag));
    return kOk;
}

void Table::closeBag(Bag& bag) {
    for (auto& tag : bag.tags) handles::remove(tag->handle);
    bag.tags.clear();
    bag.file.close();
}

Result Table::tagKey(OpenTag& tag, const std::uint8_t* rec, std::uint32_t recno, bool& included,
                     std::string& key) {
    if (tag.keyless) {
        included = false;
        key.clear();
        return kIndexReadOnly;
    }
    RecordView view(*this, rec, recno);
    included = !tag.cond.valid() || tag.cond.test(view, settings().expr());
    if (tag.datetimeField >= 0) {
        key = datetimeKey(hdr_.fields[static_cast<std::size_t>(tag.datetimeField)], rec);
    } else if (tag.keyField >= 0) {
        // The field's value as the expression would give it, without evaluating one.
        const dbf::Field& f = hdr_.fields[static_cast<std::size_t>(tag.keyField)];
        if (f.type == 'C' && tag.keyType == 'C') {
            key.assign(reinterpret_cast<const char*>(fieldBytes(f, rec)) + f.offset,
                       std::min<std::size_t>(f.len, tag.keyLen));
            key.resize(tag.keyLen, ' ');
        } else {
            key = encodeKey(view.field(static_cast<std::size_t>(tag.keyField)), tag.keyType, tag.keyLen);
        }
    } else {
        key = encodeKey(tag.key.eval(view, settings().expr()), tag.keyType, tag.keyLen);
    }
    return kOk;
}

std::string Table::unusableTag(std::string_view name) const {
    for (const auto& bag : bags_)
        for (const TagInfo& info : bag->cdx.tags())
            if (!info.unusable.empty() && (name.empty() || sameText(info.name, trim(name))))
                return "tag " + info.name + " of " + bag->path + " " + readOnlyReason(info);
    return {};
}

const OpenTag* Table::firstKeyless() const {
    for (const auto& bag : bags_)
        for (const auto& tag : bag->tags)
            if (tag->keyless) return tag.get();
    return nullptr;
}

int Table::soleField(std::string_view keyText) const {
    std::string_view text = trim(keyText);
    if (const std::size_t arrow = text.find("->"); arrow != std::string_view::npos)
        text = trim(text.substr(arrow + 2));
    else if (const std::size_t dot = text.find('.'); dot != std::string_view::npos)
        text = trim(text.substr(dot + 1));
    for (std::size_t i = 0; i < exprFields_.size(); ++i)
        if (sameText(exprFields_[i].name, text))
            return static_cast<int>(i < hdr_.fields.size() ? i : longNameOf_[i - hdr_.fields.size()]);
    return -1;
}

std::string Table::datetimeKey(const dbf::Field& f, const std::uint8_t* rec) const {
    const std::uint8_t* p = fieldBytes(f, rec) + f.offset;
    const std::int32_t day = dbf::getDate(f, fieldBytes(f, rec));
    std::uint32_t ms = 0;
    for (int i = 3; i >= 0; --i) ms = ms << 8 | p[4 + i];
    return encodeDouble(day == 0 ? 0.0 : day + std::min(ms, 86399999u) / 86400000.0);
}

std::vector<OpenTag*> Table::orders() const {
    std::vector<OpenTag*> out;
    for (const auto& bag : bags_)
        for (const auto& tag : bag->tags) out.push_back(tag.get());
    return out;
}

std::uint16_t Table::orderOf(const OpenTag* tag) const {
    std::uint16_t n = 0;
    for (const auto& bag : bags_) {
        for (const auto& t : bag->tags) {
            ++n;
            if (t.get() == tag) return n;
        }
    }
    return 0;
}

Result Table::openIndex(std::string_view bagName, std::vector<OpenTag*>& tags) {
    tags.clear();
    if (trim(bagName).empty()) return kBadArgument;
    Result r = flushRecord();
    if (r != kOk) return r;
    std::string path = os::findFile(bagPath(bagName));
    if (path.empty()) {
        setErrorDetail("index file not found: " + std::string(bagName));
        return kFileNotFound;
    }
    for (auto& bag : bags_) {
        if (sameText(bag->path, path)) {
            for (auto& tag : bag->tags) tags.push_back(tag.get());
            return kIndexAlreadyOpen;
        }
    }
    const bool structural = sameText(path, relatedPath(".cdx"));
    Bag* bag = nullptr;
    r = openBag(path, structural, false, bag);
    if (r != kOk) return r;
    if (!bag) return kIndexOutOfDate; // empty: its creation was cut off
    for (auto& tag : bag->tags) tags.push_back(tag.get());
    return kOk;
}

Result Table::closeIndexes() {
    Result r = flushRecord();
    if (r != kOk) return r;
    for (std::size_t i = 0; i < bags_.size();) {
        if (bags_[i]->structural) {
            ++i;
            continue;
        }
        closeBag(*bags_[i]);
        bags_.erase(bags_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return kOk;
}

} // namespace engine
