// Opening, creating and closing a table, and its header: the field list, the record count
// and the files that go with it (memo file, structural index, database container).
#include "engine/table.h"
#include "engine/table_internal.h"

#include "engine/lockmap.h"

#include <algorithm>
#include <cstring>

namespace engine {

using namespace table_detail;

Table::~Table() {
    if (file_.isOpen()) close();
}

Result Table::open(const std::string& path, std::string_view alias, std::uint16_t charType,
                   std::uint32_t mode) {
    path_ = path;
    alias_ = alias;
    charType_ = charType;
    shared_ = (mode & kOpenShared) != 0;
    readOnly_ = (mode & kOpenReadOnly) != 0;
    // Read-only opens still ask for write access where they can: POSIX grants exclusive
    // locks only on files open for writing.
    os::Status s = file_.open(path, true);
    if (s != os::Status::ok && readOnly_) s = file_.open(path, false);
    if (s != os::Status::ok) return fromStatus(s);
    s = file_.lock(lockmap::openMode, 1, !shared_);
    if (s != os::Status::ok) {
        file_.close();
        if (s == os::Status::busy) {
            setErrorDetail("the table is in use by another handle: " + path);
            return kOpenConflict;
        }
        return shared_ ? kIoError : kAccessDenied;
    }
    Result r = init();
    if (r != kOk) {
        for (auto& bag : bags_) closeBag(*bag);
        bags_.clear();
        memo_.reset();
        file_.close();
    }
    return r;
}

Result Table::create(const std::string& path, std::string_view alias, std::uint16_t charType,
                     std::vector<dbf::Field> fields) {
    path_ = path;
    alias_ = alias;
    charType_ = charType;
    shared_ = false;
    readOnly_ = false;
    os::Status s = file_.create(path, false);
    if (s != os::Status::ok) return fromStatus(s);
    s = file_.lock(lockmap::openMode, 1, true);
    if (s != os::Status::ok) {
        file_.close();
        return s == os::Status::busy ? kOpenConflict : kIoError;
    }
    dbf::Header h;
    h.fields = std::move(fields);
    os::today(h.year, h.month, h.day);
    h.codePage = charType == kOem ? 0x01 : 0x03;
    std::vector<std::uint8_t> bytes = dbf::buildHeader(h);
    bytes.push_back(dbf::endOfFile);
    Result r = kOk;
    if (file_.truncate(0) != os::Status::ok || file_.write(0, bytes.data(), bytes.size()) != os::Status::ok)
        r = kIoError;
    if (r == kOk && h.hasMemo()) {
        std::string memoPath = relatedPath(".fpt");
        if (memoPath.empty()) memoPath = os::nativePath(relatedName(".fpt"));
        MemoFile memo;
        r = memo.create(memoPath);
    }
    if (r == kOk) {
        // An index left from an earlier table of this name would not fit the new one.
        std::string oldIndex = relatedPath(".cdx");
        if (!oldIndex.empty() && os::removeFile(oldIndex) != os::Status::ok) r = kAccessDenied;
    }
    if (r == kOk) r = init();
    if (r != kOk) {
        memo_.reset();
        file_.close();
    }
    return r;
}

Result Table::init() {
    std::vector<std::uint8_t> bytes(dbf::prefixSize);
    std::size_t got = 0;
    if (file_.read(0, bytes.data(), bytes.size(), got) != os::Status::ok) return kIoError;
    dbf::Header h;
    dbf::Check c = dbf::readPrefix(std::span(bytes.data(), got), h);
    if (c == dbf::Check::ok) {
        bytes.resize(h.headerLength);
        if (file_.read(0, bytes.data(), bytes.size(), got) != os::Status::ok) return kIoError;
        c = dbf::readHeader(std::span(bytes.data(), got), h);
    }
    switch (c) {
    case dbf::Check::ok:
        break;
    case dbf::Check::notTable:
        setErrorDetail("not a table: " + path_);
        return kNotTable;
    case dbf::Check::unsupported:
        setErrorDetail("a table of a kind this engine does not read: " + path_);
        return kUnsupported;
    default:
        setErrorDetail("damaged table header: " + path_);
        return kTableDamaged;
    }
    std::uint64_t size = 0;
    if (file_.size(size) != os::Status::ok) return kIoError;
    if (std::uint64_t{h.headerLength} + std::uint64_t{h.recordCount} * h.recordLength > size) {
        setErrorDetail("the table file is shorter than its record count says: " + path_);
        return kTableDamaged;
    }
    hdr_ = std::move(h);
    count_ = hdr_.recordCount;
    exprFields_.clear();
    for (const dbf::Field& f : hdr_.fields) {
        // Datetimes take part in expressions as their day, binary varchars as text.
        const char type = f.type == 'T' ? 'D' : f.type == 'Q' ? 'C' : f.type;
        exprFields_.push_back(FieldDesc{f.name, type, f.len, f.dec});
    }
    // A table of a database container: index expressions may use the container's long names.
    longNameOf_.clear();
    const std::vector<std::string> longNames = containerNames();
    for (std::size_t i = 0; i < longNames.size() && i < hdr_.fields.size(); ++i) {
        if (sameText(longNames[i], hdr_.fields[i].name)) continue;
        FieldDesc d = exprFields_[i];
        d.name = upper(longNames[i]);
        exprFields_.push_back(d);
        longNameOf_.push_back(i);
    }
    blank_.assign(hdr_.recordLength, ' ');
    for (const dbf::Field& f : hdr_.fields) blankField(f, blank_.data());
    rec_ = blank_;

    if (hdr_.hasMemo()) {
        std::string memoPath = relatedPath(".fpt");
        if (memoPath.empty()) {
            setErrorDetail("memo file not found for " + path_);
            return kFileNotFound;
        }
        memo_ = std::make_unique<MemoFile>();
        Result r = memo_->open(memoPath, !readOnly_);
        if (r == kAccessDenied && readOnly_) r = memo_->open(memoPath, false);
        if (r != kOk) {
            setErrorDetail("memo file " + memoPath);
            return r;
        }
        memo_->setShared(shared_);
    }
    std::string indexPath = relatedPath(".cdx");
    if (!indexPath.empty()) {
        Bag* bag = nullptr;
        Result r = openBag(indexPath, true, false, bag);
        if (r != kOk) return r;
    }
    return gotoTop(nullptr);
}

// The long names of this table's fields as its database container (named by the header's
// backlink) lists them: the live Field rows under the table's live Table row, in OBJECTID
// order. Empty when there is no container, it cannot be read, or the count does not fit.
std::vector<std::string> Table::containerNames() const {
    if (hdr_.backlink.empty()) return {};
    std::string link = hdr_.backlink;
    for (char& c : link)
        if (c == '\\') c = '/';
    const std::string dir = path_.substr(0, folderEnd(path_));
    const std::string found =
        os::findFile(link.find(':') != std::string::npos || link[0] == '/' ? link : dir + link);
    if (found.empty()) return {};
    os::File db;
    if (db.open(found, false) != os::Status::ok) return {};
    std::uint64_t size = 0;
    if (db.size(size) != os::Status::ok || size > (std::uint64_t{64} << 20)) return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::size_t got = 0;
    if (db.read(0, bytes.data(), bytes.size(), got) != os::Status::ok || got != bytes.size()) return {};
    dbf::Header h;
    if (dbf::readHeader(bytes, h) != dbf::Check::ok) return {};
    const dbf::Field *id = nullptr, *parent = nullptr, *type = nullptr, *name = nullptr;
    for (const dbf::Field& f : h.fields) {
        if (f.name == "OBJECTID") id = &f;
        if (f.name == "PARENTID") parent = &f;
        if (f.name == "OBJECTTYPE") type = &f;
        if (f.name == "OBJECTNAME") name = &f;
    }
    if (!id || !parent || !type || !name || type->type != 'C' || name->type != 'C') return {};
    const auto text = [&](const dbf::Field& f, const std::uint8_t* rec) {
        return std::string(trim(std::string_view(reinterpret_cast<const char*>(rec) + f.offset, f.len)));
    };
    std::string base = path_.substr(folderEnd(path_));
    base = base.substr(0, base.rfind('.'));
    double tableId = -1;
    std::vector<std::pair<double, std::string>> names;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::uint32_t n = 0; n < h.recordCount; ++n) {
            const std::uint64_t at = h.headerLength + std::uint64_t{n} * h.recordLength;
            if (at + h.recordLength > bytes.size()) break;
            const std::uint8_t* rec = bytes.data() + at;
            if (rec[0] == '*') continue;
            const std::string kind = text(*type, rec);
            if (pass == 0 && sameText(kind, "Table") && sameText(text(*name, rec), base))
                tableId = dbf::getNumber(*id, rec);
            if (pass == 1 && sameText(kind, "Field") && dbf::getNumber(*parent, rec) == tableId)
                names.emplace_back(dbf::getNumber(*id, rec), text(*name, rec));
        }
        if (tableId < 0) return {};
    }
    if (names.size() != hdr_.fields.size()) return {};
    std::sort(names.begin(), names.end());
    std::vector<std::string> out;
    for (auto& [objectId, n] : names) out.push_back(std::move(n));
    return out;
}

Result Table::close() {
    Result r = flushRecord();
    Result t = flushTail();
    if (r == kOk) r = t;
    if (modified_ && !readOnly_ && file_.isOpen()) {
        std::uint8_t date[3];
        int y, m, d;
        os::today(y, m, d);
        date[0] = dbf::yearByte(y);
        date[1] = static_cast<std::uint8_t>(m);
        date[2] = static_cast<std::uint8_t>(d);
        file_.write(1, date, 3);
    }
    for (auto& bag : bags_) closeBag(*bag);
    bags_.clear();
    memo_.reset();
    file_.close(); // every lock of this handle goes with it
    recordLocks_.clear();
    heldLocks_.clear();
    tableRanges_.clear();
    tableLocked_ = false;
    implicitLock_ = 0;
    return r;
}

std::string Table::relatedName(std::string_view ext) const {
    std::size_t start = folderEnd(path_);
    std::size_t dot = path_.find('.', start);
    std::string base = dot == std::string::npos ? path_ : path_.substr(0, path_.rfind('.'));
    std::string tableExt = dot == std::string::npos ? std::string() : path_.substr(path_.rfind('.'));
    bool upperExt = !tableExt.empty() && tableExt == upper(tableExt) && tableExt != std::string(".");
    return base + (upperExt ? upper(ext) : std::string(ext));
}

std::string Table::relatedPath(std::string_view ext) const {
    return os::findFile(relatedName(ext));
}

Result Table::lookUpField(const FieldRef& ref, std::size_t& index) const {
    if (ref.position != 0) {
        if (ref.position > hdr_.fields.size()) return kUnknownField;
        index = ref.position - 1;
        return kOk;
    }
    // Callers mostly pass a name as the table stores it (read with getFieldName): find those
    // with a plain compare first.
    for (std::size_t i = 0; i < hdr_.fields.size(); ++i) {
        if (hdr_.fields[i].name == ref.name) {
            index = lastField_ = i;
            return kOk;
        }
    }
    std::string_view name = trim(ref.name);
    std::size_t arrow = name.find("->");
    if (arrow != std::string_view::npos) name = name.substr(arrow + 2);
    for (std::size_t i = 0; i < hdr_.fields.size(); ++i) {
        if (sameText(hdr_.fields[i].name, name)) {
            index = i;
            return kOk;
        }
    }
    setErrorDetail("no field " + std::string(ref.name));
    return kUnknownField;
}

Result Table::refreshCount() {
    if (!shared_ || tableLocked_) return kOk;
    std::uint8_t p[dbf::prefixSize];
    std::size_t got = 0;
    if (file_.read(0, p, sizeof p, got) != os::Status::ok) return kIoError;
    if (got < sizeof p) return kTableDamaged;
    std::uint32_t count = static_cast<std::uint32_t>(p[4]) | static_cast<std::uint32_t>(p[5]) << 8 |
                          static_cast<std::uint32_t>(p[6]) << 16 | static_cast<std::uint32_t>(p[7]) << 24;
    // Shared tables only grow; a smaller number is a header being rewritten, so keep ours.
    if (count > count_) count_ = count;
    return kOk;
}

Result Table::recordCount(std::uint32_t& count) {
    Result r = refreshCount();
    if (r != kOk) return r;
    count = count_;
    return kOk;
}

Result Table::writeCount(std::uint32_t count) {
    std::uint8_t p[7];
    int y, m, d;
    os::today(y, m, d);
    p[0] = dbf::yearByte(y);
    p[1] = static_cast<std::uint8_t>(m);
    p[2] = static_cast<std::uint8_t>(d);
    put32(p + 3, count);
    return file_.write(1, p, sizeof p) == os::Status::ok ? kOk : kIoError;
}

} // namespace engine
