#include "engine/table.h"

#include "engine/calendar.h"
#include "engine/keys.h"
#include "engine/lockmap.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace engine {

namespace {

Result fromStatus(os::Status s) {
    switch (s) {
    case os::Status::ok:
        return kOk;
    case os::Status::notFound:
        return kFileNotFound;
    case os::Status::denied:
        return kAccessDenied;
    case os::Status::busy:
        return kLockRefused;
    default:
        return kIoError;
    }
}

// Index-half results as the table half reports them.
Result fromIndex(Result r) {
    switch (r) {
    case kOk:
        return kOk;
    case kCdxIo:
        return kIoError;
    case kCdxTooBig:
        return kTableFull;
    case kCdxBadTagName:
        return kBadArgument;
    case kCdxExprTooLong:
        return kBadExpression;
    case kKeyBadLength:
    case kKeyBadType:
        return kBadExpression;
    case kCdxNoTag:
        return kIndexNotFound;
    case kCdxReadOnlyTag:
        return kIndexReadOnly;
    case kCdxDuplicateKey:
        return kDuplicateKey;
    default:
        return kIndexDamaged;
    }
}

// Appended records kept in memory before they are written together.
constexpr std::size_t tailLimit = std::size_t{1} << 20;
// Records read at once when a whole table is scanned.
constexpr std::size_t scanBytes = std::size_t{256} << 10;

char upperChar(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = upperChar(c);
    return out;
}

bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upperChar(a[i]) != upperChar(b[i])) return false;
    return true;
}

std::string_view trim(std::string_view s) {
    std::size_t a = s.find_first_not_of(' ');
    if (a == std::string_view::npos) return {};
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

std::size_t folderEnd(std::string_view path) {
    std::size_t cut = path.find_last_of("/\\:");
    return cut == std::string_view::npos ? 0 : cut + 1;
}

bool hasExtension(std::string_view path) {
    return path.substr(folderEnd(path)).find('.') != std::string_view::npos;
}

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool isYmdFormat(std::string_view fmt) {
    return fmt.size() == 8 && (std::memcmp(fmt.data(), "YYYYMMDD", 8) == 0 || sameText(fmt, "YYYYMMDD"));
}

// The bytes of a blank field: blanks in text fields, zeros in binary ones.
void blankField(const dbf::Field& f, std::uint8_t* rec) {
    bool binary = f.type == 'I' || f.type == 'B' || f.type == 'Y' || f.type == 'T' || f.type == 'Q' ||
                  (dbf::isMemoType(f.type) && f.len == 4);
    std::memset(rec + f.offset, binary ? 0 : ' ', f.len);
}

} // namespace

// A record buffer as the expressions see it.
class RecordView final : public RecordSource {
  public:
    RecordView(Table& table, const std::uint8_t* rec, std::uint32_t recno)
        : table_(table), rec_(rec), recno_(recno) {}

    ExprValue field(std::size_t index) const override {
        const auto& fields = table_.hdr_.fields;
        // Past the fields: the long names of a container's table, each standing for a field.
        if (index >= fields.size() && index - fields.size() < table_.longNameOf_.size())
            index = table_.longNameOf_[index - fields.size()];
        if (index >= fields.size()) return {};
        const dbf::Field& f = fields[index];
        // A NULL field reads as its type's empty value.
        const std::uint8_t* rec_ = table_.fieldBytes(f, this->rec_);
        switch (f.type) {
        case 'C':
            return ExprValue::character(std::string(reinterpret_cast<const char*>(rec_) + f.offset, f.len));
        case 'V':
        case 'Q': {
            std::string v = dbf::getVar(table_.hdr_, f, rec_);
            v.resize(f.len, f.type == 'V' ? ' ' : '\0');
            return ExprValue::character(std::move(v));
        }
        case 'N':
        case 'F':
            return ExprValue::numeric(dbf::getNumber(f, rec_), f.len, f.dec);
        case 'I':
            return ExprValue::numeric(dbf::getNumber(f, rec_), 11, 0);
        case 'B':
            return ExprValue::numeric(dbf::getNumber(f, rec_), 20, f.dec);
        case 'Y':
            return ExprValue::numeric(dbf::getNumber(f, rec_), 20, 4);
        case 'D':
        case 'T':
            return ExprValue::dateValue(dbf::getDate(f, rec_));
        case 'L':
            return ExprValue::logicalValue(dbf::getLogical(f, rec_));
        default: {
            std::string text;
            if (table_.memo_ && table_.memo_->read(dbf::getMemoBlock(f, rec_), text) != kOk) text.clear();
            return ExprValue::character(std::move(text));
        }
        }
    }
    std::uint32_t recno() const override { return recno_; }
    bool deleted() const override { return rec_[0] == '*'; }

  private:
    Table& table_;
    const std::uint8_t* rec_;
    std::uint32_t recno_;
};

// ---- Index files as block storage --------------------------------------------------------

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

// ---- Opening and closing -----------------------------------------------------------------

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

// ---- Structure and header ----------------------------------------------------------------

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

// ---- Records -----------------------------------------------------------------------------

// A record already in memory (appended and not yet written, or in the read window), or null.
const std::uint8_t* Table::recordInMemory(std::uint32_t recno) const {
    const std::size_t len = hdr_.recordLength;
    if (!tail_.empty() && recno >= tailFirst_) {
        const std::size_t at = static_cast<std::size_t>(recno - tailFirst_) * len;
        return at + len <= tail_.size() ? tail_.data() + at : nullptr;
    }
    if ((!shared_ || tableLocked_) && recno >= windowFirst_ && recno < windowFirst_ + windowCount_)
        return window_.data() + static_cast<std::size_t>(recno - windowFirst_) * len;
    return nullptr;
}

Result Table::readRecordAt(std::uint32_t recno, std::uint8_t* out) {
    const std::size_t len = hdr_.recordLength;
    if (!tail_.empty() && recno >= tailFirst_) {
        std::size_t at = static_cast<std::size_t>(recno - tailFirst_) * len;
        if (at + len > tail_.size()) return kTableDamaged;
        std::memcpy(out, tail_.data() + at, len);
        return kOk;
    }
    // While no one else can write the table, records are read many at a time.
    if (!shared_ || tableLocked_) {
        if (recno < windowFirst_ || recno >= windowFirst_ + windowCount_) {
            const std::uint32_t last = tail_.empty() ? count_ : tailFirst_ - 1;
            // Many records when reading goes on from the window, forwards or backwards; one
            // when it jumps (a seek), so that random reads stay cheap.
            const bool onward = windowCount_ != 0 && recno == windowFirst_ + windowCount_;
            const bool backward = windowCount_ != 0 && recno + 1 == windowFirst_;
            const std::uint32_t batch =
                onward || backward ? static_cast<std::uint32_t>(std::max<std::size_t>(1, windowBytes / len))
                                   : 1;
            std::uint32_t first = recno;
            if (backward) first = recno >= batch ? recno - batch + 1 : 1;
            const std::uint32_t n = recno <= last ? std::min(batch, last - first + 1) : 0;
            window_.resize(static_cast<std::size_t>(n) * len);
            std::size_t got = 0;
            windowCount_ = 0;
            if (n > 0 && file_.read(hdr_.headerLength + std::uint64_t{first - 1} * len, window_.data(),
                                    window_.size(), got) == os::Status::ok) {
                windowFirst_ = first;
                windowCount_ = static_cast<std::uint32_t>(got / len);
            }
        }
        if (recno >= windowFirst_ && recno < windowFirst_ + windowCount_) {
            std::memcpy(out, window_.data() + static_cast<std::size_t>(recno - windowFirst_) * len, len);
            return kOk;
        }
    }
    std::uint64_t offset = hdr_.headerLength + std::uint64_t{recno - 1} * len;
    std::size_t got = 0;
    if (file_.read(offset, out, len, got) != os::Status::ok) return kIoError;
    if (got < len) {
        setErrorDetail("record " + std::to_string(recno) + " lies past the end of " + path_);
        return kTableDamaged;
    }
    return kOk;
}

void Table::dropWindow() {
    windowCount_ = 0;
}

Result Table::writeRecordAt(std::uint32_t recno, const std::uint8_t* data) {
    const std::size_t len = hdr_.recordLength;
    if (!tail_.empty() && recno >= tailFirst_) {
        std::memcpy(tail_.data() + static_cast<std::size_t>(recno - tailFirst_) * len, data, len);
        return kOk;
    }
    if (recno >= windowFirst_ && recno < windowFirst_ + windowCount_)
        std::memcpy(window_.data() + static_cast<std::size_t>(recno - windowFirst_) * len, data, len);
    std::uint64_t offset = hdr_.headerLength + std::uint64_t{recno - 1} * len;
    return file_.write(offset, data, len) == os::Status::ok ? kOk : kIoError;
}

Result Table::loadRecord(std::uint32_t recno) {
    Result r = readRecordAt(recno, rec_.data());
    if (r != kOk) {
        setEof();
        return r;
    }
    recno_ = recno;
    bof_ = eof_ = false;
    dirty_ = isNew_ = false;
    return kOk;
}

void Table::setEof() {
    recno_ = count_ + 1;
    eof_ = true;
    bof_ = false;
    rec_ = blank_;
    dirty_ = isNew_ = false;
}

bool Table::hidden(const std::uint8_t* rec) const {
    return !settings().showDeleted && rec[0] == '*';
}

Result Table::visible(std::uint32_t recno, bool& show) {
    show = false;
    if (recno == 0) return kIndexDamaged;
    if (recno > count_) {
        Result r = refreshCount();
        if (r != kOk) return r;
        if (recno > count_) {
            setErrorDetail("an index entry names record " + std::to_string(recno) + ", past the end of " +
                           path_);
            return kIndexDamaged;
        }
    }
    if (settings().showDeleted) {
        show = true;
        return kOk;
    }
    // Only the deleted mark is needed: no copy when the record is in memory.
    if (const std::uint8_t* rec = recordInMemory(recno)) {
        show = !hidden(rec);
        return kOk;
    }
    scratch_.resize(hdr_.recordLength);
    Result r = readRecordAt(recno, scratch_.data());
    if (r == kOk) show = !hidden(scratch_.data());
    return r;
}

Result Table::scan(std::uint32_t from, const std::function<Result(const std::uint8_t*, std::uint32_t)>& fn) {
    const std::size_t len = hdr_.recordLength;
    const std::size_t batch = std::max<std::size_t>(1, scanBytes / len);
    std::vector<std::uint8_t> buf(batch * len);
    std::uint32_t r = from;
    while (r >= 1 && r <= count_) {
        if (!tail_.empty() && r >= tailFirst_) {
            Result res = fn(tail_.data() + static_cast<std::size_t>(r - tailFirst_) * len, r);
            if (res != kOk) return res;
            ++r;
            continue;
        }
        std::uint32_t last = count_;
        if (!tail_.empty()) last = std::min(last, tailFirst_ - 1);
        std::size_t n = std::min<std::size_t>(batch, last - r + 1);
        std::size_t got = 0;
        std::uint64_t offset = hdr_.headerLength + std::uint64_t{r - 1} * len;
        if (file_.read(offset, buf.data(), n * len, got) != os::Status::ok) return kIoError;
        if (got < n * len) return kTableDamaged;
        for (std::size_t i = 0; i < n; ++i) {
            Result res = fn(buf.data() + i * len, r + static_cast<std::uint32_t>(i));
            if (res != kOk) return res;
        }
        r += static_cast<std::uint32_t>(n);
    }
    return kOk;
}

Result Table::refresh() {
    Result r = flushRecord();
    if (r != kOk) return r;
    if (eof_) return kOk;
    return loadRecord(recno_);
}

Result Table::gotoRecord(std::uint32_t recno) {
    Result r = flushRecord();
    if (r != kOk) return r;
    if (recno > count_) {
        r = refreshCount();
        if (r != kOk) return r;
    }
    if (recno == 0 || recno > count_) {
        setEof();
        return kOk;
    }
    return loadRecord(recno);
}

Result Table::gotoTop(OpenTag* tag) {
    Result r = flushRecord();
    if (r != kOk) return r;
    if (tag) return tagEnd(*tag, +1);
    r = refreshCount();
    if (r != kOk) return r;
    for (std::uint32_t n = 1; n <= count_; ++n) {
        bool show = false;
        r = visible(n, show);
        if (r != kOk) return r;
        if (show) return loadRecord(n);
    }
    setEof();
    bof_ = true;
    return kOk;
}

Result Table::gotoBottom(OpenTag* tag) {
    Result r = flushRecord();
    if (r != kOk) return r;
    if (tag) return tagEnd(*tag, -1);
    r = refreshCount();
    if (r != kOk) return r;
    for (std::uint32_t n = count_; n >= 1; --n) {
        bool show = false;
        r = visible(n, show);
        if (r != kOk) return r;
        if (show) return loadRecord(n);
    }
    setEof();
    bof_ = true;
    return kOk;
}

Result Table::naturalStep(int dir) {
    if (dir > 0) {
        for (std::uint32_t n = recno_ + 1;; ++n) {
            if (n > count_) {
                Result r = refreshCount();
                if (r != kOk) return r;
                if (n > count_) {
                    setEof();
                    return kOk;
                }
            }
            bool show = false;
            Result r = visible(n, show);
            if (r != kOk) return r;
            if (show) return loadRecord(n);
        }
    }
    std::uint32_t n = recno_ - 1;
    if (eof_) {
        Result r = refreshCount();
        if (r != kOk) return r;
        n = count_;
    }
    for (; n >= 1; --n) {
        bool show = false;
        Result r = visible(n, show);
        if (r != kOk) return r;
        if (show) return loadRecord(n);
    }
    // Before the first record: stay on the first one with the begin flag set.
    Result r = gotoTop(nullptr);
    bof_ = true;
    return r;
}

Result Table::skip(OpenTag* tag, std::int32_t n) {
    Result r = flushRecord();
    if (r != kOk) return r;
    if (n == 0) return eof_ ? kOk : loadRecord(recno_);
    if (n > 0 && eof_) return kNoCurrentRecord;
    if (tag) return tagSkip(*tag, n);
    const int dir = n > 0 ? 1 : -1;
    std::int64_t steps = n > 0 ? std::int64_t{n} : -std::int64_t{n};
    for (std::int64_t i = 0; i < steps; ++i) {
        r = naturalStep(dir);
        if (r != kOk) return r;
        if (eof_ || bof_) break;
    }
    return kOk;
}

// ---- Fields ------------------------------------------------------------------------------

Result Table::getText(std::size_t field, std::string& text) {
    const dbf::Field& f = hdr_.fields[field];
    if (eof_) {
        text.assign(dbf::isMemoType(f.type) ? 0 : f.len, ' ');
        return kNoCurrentRecord;
    }
    const std::uint8_t* src = fieldBytes(f, rec_.data());
    const std::uint8_t* p = src + f.offset;
    const std::string& fmt = settings().dateFormat;
    switch (f.type) {
    case 'C':
    case 'N':
    case 'F':
        text.assign(reinterpret_cast<const char*>(p), f.len);
        return kOk;
    case 'V':
    case 'Q':
        text = dbf::getVar(hdr_, f, src);
        return kOk;
    case 'L':
        text = dbf::getLogical(f, src) ? "T" : "F";
        return kOk;
    case 'D':
        if (isYmdFormat(fmt))
            text.assign(reinterpret_cast<const char*>(p), f.len);
        else
            text = calendar::format(dbf::getDate(f, src), fmt);
        return kOk;
    case 'T':
        text = isYmdFormat(fmt) ? calendar::toStamp(dbf::getDate(f, src))
                                : calendar::format(dbf::getDate(f, src), fmt);
        return kOk;
    case 'I':
        text = std::to_string(static_cast<long long>(dbf::getNumber(f, src)));
        return kOk;
    case 'B':
    case 'Y': {
        text = std::string(trim(dbf::formatNumber(dbf::getNumber(f, src), 40, f.type == 'Y' ? 4 : f.dec)));
        return kOk;
    }
    default: {
        if (!memo_) return kMemoDamaged;
        Result r = memo_->read(dbf::getMemoBlock(f, src), text);
        if (r == kMemoDamaged)
            setErrorDetail("memo of field " + f.name + " in record " + std::to_string(recno_));
        return r;
    }
    }
}

Result Table::getNumber(std::size_t field, double& value) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.type != 'N' && f.type != 'F' && f.type != 'I' && f.type != 'B' && f.type != 'Y') return kWrongType;
    if (eof_) {
        value = 0;
        return kNoCurrentRecord;
    }
    const std::uint8_t* src = fieldBytes(f, rec_.data());
    value = dbf::getNumber(f, src);
    return kOk;
}

Result Table::getLogical(std::size_t field, bool& value) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.type != 'L') return kWrongType;
    if (eof_) {
        value = false;
        return kNoCurrentRecord;
    }
    const std::uint8_t* src = fieldBytes(f, rec_.data());
    value = dbf::getLogical(f, src);
    return kOk;
}

Result Table::getJulian(std::size_t field, std::int32_t& julian) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.type != 'D' && f.type != 'T') return kWrongType;
    if (eof_) {
        julian = 0;
        return kNoCurrentRecord;
    }
    const std::uint8_t* src = fieldBytes(f, rec_.data());
    julian = dbf::getDate(f, src);
    return kOk;
}

Result Table::getMemoLength(std::size_t field, std::uint32_t& length) {
    const dbf::Field& f = hdr_.fields[field];
    if (!dbf::isMemoType(f.type)) return kWrongType;
    if (eof_) {
        length = 0;
        return kNoCurrentRecord;
    }
    if (!memo_) return kMemoDamaged;
    const std::uint8_t* src = fieldBytes(f, rec_.data());
    return memo_->length(dbf::getMemoBlock(f, src), length);
}

const std::uint8_t* Table::fieldBytes(const dbf::Field& f, const std::uint8_t* rec) const {
    return dbf::isNull(hdr_, f, rec) ? blank_.data() : rec;
}

Result Table::isNull(std::size_t field, bool& null) {
    null = false;
    if (eof_) return kNoCurrentRecord;
    null = dbf::isNull(hdr_, hdr_.fields[field], rec_.data());
    return kOk;
}

Result Table::setNull(std::size_t field) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.nullBit < 0) {
        setErrorDetail("field " + f.name + " does not accept NULL");
        return kWrongType;
    }
    Result r = prepareWrite();
    if (r != kOk) return r;
    blankField(f, rec_.data());
    dbf::setNull(hdr_, f, rec_.data(), true);
    return kOk;
}

Result Table::prepareWrite() {
    if (readOnly_) return kReadOnly;
    if (eof_) return kNoCurrentRecord;
    if (shared_ && !tableLocked_ && !recordLocks_.count(recno_) && implicitLock_ != recno_) {
        os::Status s = file_.lock(lockmap::records + recno_, 1, true);
        if (s == os::Status::busy) {
            setErrorDetail("record " + std::to_string(recno_) + " is locked by another handle");
            return kLockRefused;
        }
        if (s != os::Status::ok) return kIoError;
        implicitLock_ = recno_;
        // Start from the record as it is now, not as it was when it was read.
        if (!dirty_) {
            Result r = readRecordAt(recno_, rec_.data());
            if (r != kOk) return r;
        }
    }
    if (!dirty_) {
        rememberKeys();
        dirty_ = true;
    }
    return kOk;
}

void Table::rememberKeys() {
    for (auto& bag : bags_) {
        for (auto& tag : bag->tags) {
            tag->oldValid = true;
            tag->oldIncluded = false;
            tag->oldKey.clear();
            if (!isNew_) tagKey(*tag, rec_.data(), recno_, tag->oldIncluded, tag->oldKey);
        }
    }
}

Result Table::setText(std::size_t field, std::string_view text) {
    const dbf::Field& f = hdr_.fields[field];
    const Settings& st = settings();
    switch (f.type) {
    case 'C': {
        Result r = prepareWrite();
        if (r != kOk) return r;
        std::size_t n = std::min<std::size_t>(text.size(), f.len);
        std::memcpy(rec_.data() + f.offset, text.data(), n);
        std::memset(rec_.data() + f.offset + n, ' ', f.len - n);
        dbf::setNull(hdr_, f, rec_.data(), false);
        return kOk;
    }
    case 'V':
    case 'Q': {
        Result r = prepareWrite();
        if (r != kOk) return r;
        dbf::putVar(hdr_, f, rec_.data(), text);
        dbf::setNull(hdr_, f, rec_.data(), false);
        return kOk;
    }
    case 'N':
    case 'F':
    case 'I':
    case 'B':
    case 'Y': {
        std::string_view t = trim(text);
        if (t.empty()) return setEmpty(field);
        if (t[0] == '+') t.remove_prefix(1);
        double v = 0;
        auto res = std::from_chars(t.data(), t.data() + t.size(), v);
        if (res.ec != std::errc() || res.ptr != t.data() + t.size()) {
            setErrorDetail("not a number: " + std::string(text));
            return kBadValue;
        }
        return setNumber(field, v);
    }
    case 'D':
    case 'T': {
        bool ok = false;
        std::int32_t jd = isYmdFormat(st.dateFormat) ? calendar::fromStamp(text, ok)
                                                     : calendar::parse(text, st.dateFormat, st.epoch, ok);
        if (!ok) {
            setErrorDetail("not a date in the format " + st.dateFormat + ": " + std::string(text));
            return kBadValue;
        }
        return setJulian(field, jd);
    }
    case 'L': {
        std::string_view t = trim(text);
        if (t.size() == 3 && t[0] == '.' && t[2] == '.') t = t.substr(1, 1);
        if (t.empty()) return setEmpty(field);
        char c = upperChar(t[0]);
        if (t.size() == 1 && (c == 'T' || c == 'Y')) return setLogical(field, true);
        if (t.size() == 1 && (c == 'F' || c == 'N')) return setLogical(field, false);
        setErrorDetail("not a logical: " + std::string(text));
        return kBadValue;
    }
    default: {
        if (!memo_) return kMemoDamaged;
        Result r = prepareWrite();
        if (r != kOk) return r;
        std::uint32_t block = 0;
        // With indexes, which may refuse the change, the memo the file's record points at stays
        // as it is until the record is written: only blocks this change took are reused.
        const std::uint32_t old = dbf::getMemoBlock(f, rec_.data());
        r = memo_->write(old, text, block, bags_.empty() || freshBlocks_.count(old) != 0);
        if (r != kOk) return r;
        if (block != 0) freshBlocks_.insert(block);
        dbf::putMemoBlock(f, rec_.data(), block);
        dbf::setNull(hdr_, f, rec_.data(), false);
        return kOk;
    }
    }
}

Result Table::setNumber(std::size_t field, double value) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.type != 'N' && f.type != 'F' && f.type != 'I' && f.type != 'B' && f.type != 'Y') return kWrongType;
    dbf::Field g = f;
    g.offset = 0;
    std::uint8_t buf[256];
    if (!dbf::putNumber(g, buf, value)) {
        setErrorDetail("the number does not fit field " + f.name);
        return kNumberRefused;
    }
    Result r = prepareWrite();
    if (r != kOk) return r;
    std::memcpy(rec_.data() + f.offset, buf, f.len);
    dbf::setNull(hdr_, f, rec_.data(), false);
    return kOk;
}

Result Table::setLogical(std::size_t field, bool value) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.type != 'L') return kWrongType;
    Result r = prepareWrite();
    if (r != kOk) return r;
    dbf::putLogical(f, rec_.data(), value);
    dbf::setNull(hdr_, f, rec_.data(), false);
    return kOk;
}

Result Table::setJulian(std::size_t field, std::int32_t julian) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.type != 'D' && f.type != 'T') return kWrongType;
    int y, m, d;
    calendar::split(julian, y, m, d);
    if (julian != 0 && y == 0) {
        setErrorDetail("not a day of the years 1 to 9999");
        return kBadValue;
    }
    Result r = prepareWrite();
    if (r != kOk) return r;
    dbf::putDate(f, rec_.data(), julian);
    dbf::setNull(hdr_, f, rec_.data(), false);
    return kOk;
}

Result Table::setEmpty(std::size_t field) {
    Result r = prepareWrite();
    if (r != kOk) return r;
    const dbf::Field& f = hdr_.fields[field];
    blankField(f, rec_.data());
    if (f.type == 'V' || f.type == 'Q') dbf::putVar(hdr_, f, rec_.data(), {});
    dbf::setNull(hdr_, f, rec_.data(), false);
    return kOk;
}

Result Table::isDeleted(bool& deleted) {
    if (eof_) {
        deleted = false;
        return kNoCurrentRecord;
    }
    deleted = rec_[0] == '*';
    return kOk;
}

Result Table::setDeleted(bool deleted) {
    Result r = prepareWrite();
    if (r != kOk) return r;
    rec_[0] = deleted ? '*' : ' ';
    return kOk;
}

// ---- Writing -----------------------------------------------------------------------------

Result Table::flushRecord() {
    if (!dirty_) return kOk;
    Result r = kOk;
    // In a shared table, the header lock (taken before the index locks, as appends take them)
    // keeps this write apart from a tag being built elsewhere from the records. A handle without
    // a structural index takes it for every record it writes to the file, and first opens one
    // that another handle may have created since; one with indexes takes it when appended
    // records kept in memory under a table lock go to the file with this record's keys.
    const bool inTail = !tail_.empty() && recno_ >= tailFirst_;
    bool headerHeld = false;
    if (shared_ && ((bags_.empty() && !inTail) || (!bags_.empty() && !tail_.empty()))) {
        r = lockmap::wait(file_, lockmap::header, 1, true);
        if (r != kOk) return r;
        headerHeld = true;
        Bag* adopted = nullptr;
        if (bags_.empty()) r = adoptStructural(adopted);
        if (r != kOk) {
            file_.unlock(lockmap::header, 1);
            return r;
        }
    }
    const bool indexed = !bags_.empty();
    const bool withTail = indexed && shared_ && !tail_.empty();
    const auto unlockAll = [&] {
        if (indexed && shared_) unlockBags(true);
        if (headerHeld) file_.unlock(lockmap::header, 1);
    };
    if (indexed && shared_) {
        r = lockBags(true);
        if (r != kOk) {
            if (headerHeld) file_.unlock(lockmap::header, 1);
            return r;
        }
    }
    // The keys the record had, for tags that did not note them when it was first changed.
    if (indexed) {
        std::vector<std::uint8_t> before;
        for (auto& bag : bags_) {
            for (auto& tag : bag->tags) {
                if (tag->oldValid) continue;
                tag->oldValid = true;
                tag->oldIncluded = false;
                tag->oldKey.clear();
                if (isNew_) continue;
                if (before.empty()) {
                    before.resize(hdr_.recordLength);
                    if (readRecordAt(recno_, before.data()) != kOk) before.assign(hdr_.recordLength, ' ');
                }
                tagKey(*tag, before.data(), recno_, tag->oldIncluded, tag->oldKey);
            }
        }
    }
    // A tag whose keys cannot be worked out here refuses every change.
    if (const OpenTag* keyless = firstKeyless()) {
        unlockAll();
        setErrorDetail("tag " + keyless->name + " of " + keyless->bag->path +
                       " has an expression this engine cannot evaluate; the index is only read");
        return refuseRecord(kIndexReadOnly);
    }
    // Every key change first, bag by bag; then each bag takes them in memory, or the first
    // refusal leaves the files as they were.
    std::vector<std::vector<KeyChange>> changes(bags_.size());
    for (std::size_t b = 0; b < bags_.size(); ++b) {
        for (auto& tag : bags_[b]->tags) {
            bool included = false;
            std::string key;
            tagKey(*tag, rec_.data(), recno_, included, key);
            const bool same = included == tag->oldIncluded && (!included || key == tag->oldKey);
            if (!same) {
                if (tag->oldIncluded) changes[b].push_back({tag->id, false, tag->oldKey, recno_});
                if (included) changes[b].push_back({tag->id, true, std::move(key), recno_});
            }
        }
    }
    r = stageChanges(changes);
    if (r != kOk) {
        unlockAll();
        return refuseRecord(r);
    }
    // The bags that change carry the mark of a change under way until table and index are
    // both written: a change cut off half-way is seen on the next open. With the record come
    // the appended records still in memory: a bag whose keys change marks even when this
    // record's keys stay the same.
    for (std::size_t b = 0; b < bags_.size() && r == kOk; ++b)
        if ((!changes[b].empty() || withTail) && !bags_[b]->marked) r = markBag(*bags_[b], true);
    // Memo blocks the record points at reach the disk before the record does.
    if (r == kOk && memo_ && !inTail) r = memo_->flush();
    if (r == kOk) r = writeRecordAt(recno_, rec_.data());
    if (r == kOk && withTail) r = writeTail();
    if (r == kOk) modified_ = true; // the header's date follows on closing
    if (r != kOk) {
        for (auto& bag : bags_) bag->cdx.dropStaged();
        if (tail_.empty()) unmarkBags();
        unlockAll();
        return r;
    }
    for (std::size_t b = 0; b < bags_.size(); ++b) {
        if (changes[b].empty()) continue;
        Result e = fromIndex(bags_[b]->cdx.commitStaged());
        if (e != kOk) {
            bags_[b]->stuck = true; // the bag keeps its mark: out of date
            if (r == kOk) r = e;
        }
    }
    for (auto& tag : orders()) tag->oldValid = false;
    // While appended records are kept in memory, their keys are in the indexes already: the
    // mark stays until they are in the file too.
    if (r == kOk && tail_.empty()) unmarkBags();
    unlockAll();
    dirty_ = false;
    isNew_ = false;
    freshBlocks_.clear();
    releaseImplicitLock();
    return r;
}

Result Table::stageChanges(const std::vector<std::vector<KeyChange>>& changes, bool candidates) {
    for (std::size_t b = 0; b < bags_.size(); ++b) {
        if (changes[b].empty()) continue;
        Result e = bags_[b]->cdx.stage(changes[b], candidates);
        if (e != kOk) {
            for (std::size_t c = 0; c < b; ++c) bags_[c]->cdx.dropStaged();
            if (e == kCdxReadOnlyTag)
                setErrorDetail("a tag of " + bags_[b]->path +
                               " is of another collation sequence, or of a layout this engine only reads");
            if (e == kCdxDuplicateKey)
                setErrorDetail("a candidate tag of " + bags_[b]->path + " holds that key for another record");
            return fromIndex(e);
        }
    }
    return kOk;
}

// A record change the indexes refused: the record goes back to what the file holds (an
// appended record to a blank one, whose keys the indexes then get), nothing is written.
Result Table::refuseRecord(Result why) {
    if (isNew_) {
        // The record as appended (blank but for autoincrement values).
        if (readRecordAt(recno_, rec_.data()) != kOk) rec_ = blank_;
        const std::vector<std::vector<KeyChange>> changes = blankKeys(recno_, rec_);
        const bool locked = shared_ && !bags_.empty();
        Result r = locked ? lockBags(true) : kOk;
        // The blank record's keys go in even where a candidate tag holds them already: the
        // record is in the table, so its keys must be in the index.
        if (r == kOk) r = stageChanges(changes, false);
        for (std::size_t b = 0; r == kOk && b < bags_.size(); ++b)
            if (!changes[b].empty() && !bags_[b]->marked) r = markBag(*bags_[b], true);
        for (std::size_t b = 0; b < bags_.size(); ++b) {
            if (changes[b].empty()) continue;
            if (r == kOk) {
                r = fromIndex(bags_[b]->cdx.commitStaged());
                if (r != kOk) bags_[b]->stuck = true;
            } else {
                bags_[b]->cdx.dropStaged();
            }
        }
        if (r == kOk && tail_.empty()) unmarkBags();
        if (locked) unlockBags(true);
    } else if (readRecordAt(recno_, rec_.data()) != kOk) {
        rec_ = blank_;
    }
    for (auto& tag : orders()) tag->oldValid = false;
    dirty_ = false;
    isNew_ = false;
    freshBlocks_.clear();
    releaseImplicitLock();
    return why;
}

// Autoincrement fields of a record being appended: each takes the field's next value, and the
// next value moves on by the step in the file's descriptor (read again in a shared table,
// under the header lock the caller holds).
Result Table::takeAutoValues(std::vector<std::uint8_t>& rec) {
    for (dbf::Field& f : hdr_.fields) {
        if (!(f.flags & dbf::fieldAutoIncrement) || f.type != 'I' || f.descriptorAt == 0) continue;
        std::uint8_t d[5];
        if (shared_ && !tableLocked_) {
            std::size_t got = 0;
            if (file_.read(f.descriptorAt + 19, d, sizeof d, got) != os::Status::ok || got != sizeof d)
                return kIoError;
            f.autoNext = static_cast<std::uint32_t>(d[0]) | static_cast<std::uint32_t>(d[1]) << 8 |
                         static_cast<std::uint32_t>(d[2]) << 16 | static_cast<std::uint32_t>(d[3]) << 24;
            f.autoStep = d[4];
        }
        const std::uint32_t value = f.autoNext;
        put32(d, value + f.autoStep);
        if (file_.write(f.descriptorAt + 19, d, 4) != os::Status::ok) return kIoError;
        f.autoNext = value + f.autoStep;
        put32(rec.data() + f.offset, value);
        dbf::setNull(hdr_, f, rec.data(), false);
    }
    return kOk;
}

std::vector<std::vector<KeyChange>> Table::blankKeys(std::uint32_t recno,
                                                     const std::vector<std::uint8_t>& rec) {
    std::vector<std::vector<KeyChange>> changes(bags_.size());
    for (std::size_t b = 0; b < bags_.size(); ++b) {
        for (auto& tag : bags_[b]->tags) {
            bool included = false;
            std::string key;
            tagKey(*tag, rec.data(), recno, included, key);
            if (included) changes[b].push_back({tag->id, true, std::move(key), recno});
        }
    }
    return changes;
}

// The mark reaches the disk before anything of the change it announces; it is cleared only
// once everything of the change has.
Result Table::markBag(Bag& bag, bool on) {
    if (!on && bag.stuck) return kOk;
    Result r = fromIndex(bag.cdx.markChanging(on));
    if (r == kOk) bag.marked = on;
    if (r == kOk && on && bag.file.flush() != os::Status::ok) r = kIoError;
    return r;
}

void Table::unmarkBags() {
    bool any = false;
    for (auto& bag : bags_) any = any || (bag->marked && !bag->stuck);
    if (!any || makeDurable() != kOk) return;
    for (auto& bag : bags_)
        if (bag->marked) markBag(*bag, false);
}

Result Table::makeDurable() {
    if (file_.flush() != os::Status::ok) return kIoError;
    if (memo_ && memo_->flush() != kOk) return kIoError;
    for (auto& bag : bags_)
        if (bag->marked && bag->file.flush() != os::Status::ok) return kIoError;
    return kOk;
}

void Table::releaseImplicitLock() {
    if (implicitLock_ == 0) return;
    if (tableLocked_)
        heldLocks_.insert(implicitLock_); // covered by the table lock's ranges
    else
        file_.unlock(lockmap::records + implicitLock_, 1);
    implicitLock_ = 0;
}

Result Table::writeTail() {
    if (tail_.empty()) return kOk;
    // Memo blocks the records point at reach the disk before the records do.
    if (memo_ && memo_->flush() != kOk) return kIoError;
    tail_.push_back(dbf::endOfFile);
    std::uint64_t offset = hdr_.headerLength + std::uint64_t{tailFirst_ - 1} * hdr_.recordLength;
    os::Status s = file_.write(offset, tail_.data(), tail_.size());
    tail_.pop_back();
    if (s != os::Status::ok) return kIoError;
    Result r = writeCount(count_);
    if (r == kOk) tail_.clear();
    return r;
}

Result Table::flushTail() {
    if (tail_.empty()) return kOk;
    Result r = kOk;
    Bag* adopted = nullptr;
    std::vector<KeyChange> keys;
    if (shared_) {
        r = lockmap::wait(file_, lockmap::header, 1, true);
        if (r != kOk) return r;
        r = adoptStructural(adopted);
        // A structural index created elsewhere meanwhile takes the keys of the records kept in
        // memory, which go to the file with them under its mark.
        if (r == kOk && adopted) r = lockBag(*adopted, true);
        if (r == kOk && adopted) {
            const std::size_t len = hdr_.recordLength;
            for (std::size_t at = 0; at + len <= tail_.size(); at += len) {
                const std::uint32_t n = tailFirst_ + static_cast<std::uint32_t>(at / len);
                for (auto& tag : adopted->tags) {
                    bool included = false;
                    std::string key;
                    tagKey(*tag, tail_.data() + at, n, included, key);
                    if (included) keys.push_back({tag->id, true, std::move(key), n});
                }
            }
            r = fromIndex(adopted->cdx.stage(keys, false));
            if (r == kOk) r = markBag(*adopted, true);
            if (r != kOk) {
                adopted->cdx.dropStaged();
                unlockBag(*adopted, true);
            }
        }
    }
    if (r == kOk) r = writeTail();
    if (adopted) {
        if (r == kOk) {
            r = fromIndex(adopted->cdx.commitStaged());
            if (r != kOk) adopted->stuck = true;
        } else {
            adopted->cdx.dropStaged();
        }
        unlockBag(*adopted, true);
    }
    if (shared_) file_.unlock(lockmap::header, 1);
    if (r == kOk) unmarkBags(); // the keys of the appended records are in the indexes already
    return r;
}

Result Table::adoptStructural(Bag*& out) {
    out = nullptr;
    if (!shared_ || readOnly_) return kOk;
    for (auto& bag : bags_)
        if (bag->structural) return kOk;
    const std::string path = relatedPath(".cdx");
    if (path.empty()) return kOk;
    return openBag(path, true, false, out);
}

Result Table::writeAll() {
    Result r = flushRecord();
    if (r != kOk) return r;
    return flushTail();
}

Result Table::append() {
    if (readOnly_) return kReadOnly;
    // A record needs keys in every tag: none may be one this engine only reads.
    if (const OpenTag* keyless = firstKeyless()) {
        setErrorDetail("tag " + keyless->name + " of " + keyless->bag->path +
                       " has an expression this engine cannot evaluate; the index is only read");
        return kIndexReadOnly;
    }
    for (auto& bag : bags_) {
        for (const TagInfo& info : bag->cdx.tags()) {
            if (info.readOnly) {
                setErrorDetail("tag " + info.name + " of " + bag->path +
                               " is of another collation sequence; this engine only reads it");
                return kIndexReadOnly;
            }
            if (info.storedDescending) {
                setErrorDetail("tag " + info.name + " of " + bag->path +
                               " keeps its keys in descending order; this engine only reads it");
                return kIndexReadOnly;
            }
        }
    }
    Result r = flushRecord();
    if (r != kOk) return r;
    const std::size_t len = hdr_.recordLength;
    auto fits = [&](std::uint32_t n) {
        return n != 0 && hdr_.headerLength + std::uint64_t{n} * len + 1 < lockmap::base;
    };
    std::uint32_t n = 0;
    std::vector<std::uint8_t> fresh = blank_;
    if (!shared_ || tableLocked_) {
        // No one else can append: keep the record in memory with the others.
        n = count_ + 1;
        if (!fits(n)) return kTableFull;
        r = takeAutoValues(fresh);
        if (r != kOk) return r;
        if (tail_.empty()) tailFirst_ = n;
        tail_.insert(tail_.end(), fresh.begin(), fresh.end());
        count_ = n;
        if (tableLocked_) recordLocks_.insert(n);
    } else {
        r = lockmap::wait(file_, lockmap::header, 1, true);
        if (r != kOk) return r;
        Bag* adopted = nullptr;
        r = adoptStructural(adopted);
        if (r == kOk) r = refreshCount();
        n = count_ + 1;
        if (r == kOk && !fits(n)) r = kTableFull;
        if (r == kOk) {
            os::Status s = file_.lock(lockmap::records + n, 1, true);
            if (s == os::Status::busy) {
                setErrorDetail("the table is locked by another handle");
                r = kLockRefused;
            } else if (s != os::Status::ok) {
                r = kIoError;
            }
        }
        // Other processes see the record as soon as the count says so: its (blank) keys go to
        // the indexes with it, under the mark of a change under way.
        std::vector<std::vector<KeyChange>> keys;
        bool indexed = false;
        if (r == kOk && !bags_.empty()) {
            r = lockBags(true);
            if (r == kOk) {
                indexed = true;
                r = takeAutoValues(fresh);
                keys = blankKeys(n, fresh);
                if (r == kOk) r = stageChanges(keys, false);
                for (std::size_t b = 0; r == kOk && b < bags_.size(); ++b)
                    if (!keys[b].empty()) r = markBag(*bags_[b], true);
            }
        }
        bool written = false;
        if (r == kOk && !indexed) r = takeAutoValues(fresh);
        if (r == kOk) {
            std::vector<std::uint8_t> bytes(fresh);
            bytes.push_back(dbf::endOfFile);
            if (file_.write(hdr_.headerLength + std::uint64_t{n - 1} * len, bytes.data(), bytes.size()) !=
                    os::Status::ok ||
                writeCount(n) != kOk)
                r = kIoError;
            else
                written = true;
        }
        if (indexed) {
            for (std::size_t b = 0; b < bags_.size(); ++b) {
                if (keys[b].empty()) continue;
                if (written && r == kOk)
                    r = fromIndex(bags_[b]->cdx.commitStaged()); // on failure the mark stays
                else
                    bags_[b]->cdx.dropStaged();
            }
            if ((r == kOk || !written) && tail_.empty()) unmarkBags();
            unlockBags(true);
        }
        if (!written) file_.unlock(lockmap::records + n, 1);
        file_.unlock(lockmap::header, 1);
        if (written) {
            count_ = n;
            heldLocks_.insert(n);
            recordLocks_.insert(n);
        }
        if (r != kOk) return r;
    }
    rec_ = fresh;
    recno_ = n;
    bof_ = eof_ = false;
    dirty_ = isNew_ = true;
    modified_ = true;
    for (auto& bag : bags_) {
        for (auto& tag : bag->tags) {
            tag->oldValid = true;
            tag->oldIncluded = false;
            tag->oldKey.clear();
            // In a shared table the blank record's keys are in the indexes already.
            if (shared_ && !tableLocked_) tagKey(*tag, rec_.data(), n, tag->oldIncluded, tag->oldKey);
        }
    }
    if (shared_ && !tableLocked_) isNew_ = false;
    if (tail_.size() >= tailLimit) return flushTail();
    return kOk;
}

// ---- Locks -------------------------------------------------------------------------------

Result Table::lockRecord(std::uint32_t recno) {
    if (recno == 0) return kBadArgument;
    if (recno > count_) {
        Result r = refreshCount();
        if (r != kOk) return r;
        if (recno > count_) return kBadArgument;
    }
    if (recordLocks_.count(recno)) return kOk;
    if (!shared_ || tableLocked_) {
        recordLocks_.insert(recno);
        return kOk;
    }
    if (implicitLock_ == recno) {
        implicitLock_ = 0;
    } else {
        os::Status s = file_.lock(lockmap::records + recno, 1, true);
        if (s == os::Status::busy) {
            setErrorDetail("record " + std::to_string(recno) + " is locked by another handle");
            return kLockRefused;
        }
        if (s != os::Status::ok) return kIoError;
        // The current record is read again: another process may have changed it.
        if (recno == recno_ && !eof_ && !dirty_) {
            Result r = readRecordAt(recno, rec_.data());
            if (r != kOk) {
                file_.unlock(lockmap::records + recno, 1);
                return r;
            }
        }
    }
    heldLocks_.insert(recno);
    recordLocks_.insert(recno);
    return kOk;
}

Result Table::unlockRecord(std::uint32_t recno) {
    if (!recordLocks_.count(recno)) return kRecordNotLocked;
    if (recno == recno_ && dirty_) {
        Result r = flushRecord();
        if (r != kOk) return r;
    }
    recordLocks_.erase(recno);
    if (shared_ && !tableLocked_ && heldLocks_.count(recno)) {
        file_.unlock(lockmap::records + recno, 1);
        heldLocks_.erase(recno);
    }
    return kOk;
}

Result Table::lockTable() {
    if (tableLocked_) return kOk;
    if (!shared_) {
        tableLocked_ = true;
        return kOk;
    }
    // The records this handle holds already are left out: their locks stay as they are and
    // the table lock covers everything around them.
    std::set<std::uint32_t> held = heldLocks_;
    if (implicitLock_ != 0) held.insert(implicitLock_);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    std::uint64_t from = lockmap::records;
    for (std::uint32_t n : held) {
        std::uint64_t at = lockmap::records + n;
        if (at > from) ranges.emplace_back(from, at - from);
        from = at + 1;
    }
    const std::uint64_t end = lockmap::records + lockmap::recordSpan;
    if (from < end) ranges.emplace_back(from, end - from);
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        os::Status s = file_.lock(ranges[i].first, ranges[i].second, true);
        if (s != os::Status::ok) {
            for (std::size_t j = 0; j < i; ++j) file_.unlock(ranges[j].first, ranges[j].second);
            if (s == os::Status::busy) {
                setErrorDetail("records of the table are locked by another handle");
                return kLockRefused;
            }
            return kIoError;
        }
    }
    tableRanges_ = std::move(ranges);
    // Others may have appended since the count was last read; from now on no one can.
    Result r = refreshCount();
    if (r != kOk) {
        for (const auto& range : tableRanges_) file_.unlock(range.first, range.second);
        tableRanges_.clear();
        return r;
    }
    tableLocked_ = true;
    return kOk;
}

Result Table::unlockTable() {
    Result r = writeAll();
    if (r != kOk) return r;
    const bool was = tableLocked_;
    if (shared_) {
        for (const auto& range : tableRanges_) file_.unlock(range.first, range.second);
        for (std::uint32_t n : heldLocks_) file_.unlock(lockmap::records + n, 1);
    }
    tableRanges_.clear();
    heldLocks_.clear();
    recordLocks_.clear();
    tableLocked_ = false;
    dropWindow(); // others may write again
    return was ? kOk : kTableNotLocked;
}

// ---- Index bags --------------------------------------------------------------------------

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
        if (r == kIndexDamaged) setErrorDetail("damaged index file: " + path);
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

Result Table::lockBag(Bag& bag, bool exclusive) {
    if (!shared_) return kOk;
    Result r = lockmap::wait(bag.file, lockmap::indexFile, 1, exclusive);
    if (r != kOk) {
        if (r == kLockRefused) setErrorDetail("the index " + bag.path + " stays locked by another handle");
        return r;
    }
    if (!bag.cdx.isOpen()) return kOk;
    bool changed = false;
    r = fromIndex(bag.cdx.refresh(&changed));
    if (r == kOk && changed) r = syncTags(bag);
    if (r == kOk) r = checkUpToDate(bag);
    if (r != kOk) {
        bag.file.unlock(lockmap::indexFile, 1);
        return r;
    }
    return kOk;
}

Result Table::checkUpToDate(Bag& bag) {
    if (!bag.cdx.outOfDate() || readOnly_) return kOk;
    setErrorDetail("the index " + bag.path +
                   " may not agree with its table: a change of the two was cut off; rebuild the index");
    return kIndexOutOfDate;
}

void Table::unlockBag(Bag& bag, bool) {
    if (shared_) bag.file.unlock(lockmap::indexFile, 1);
}

Result Table::lockBags(bool exclusive) {
    // Always in the same order, so two handles never wait on each other crosswise for long.
    std::vector<Bag*> order;
    for (auto& bag : bags_) order.push_back(bag.get());
    std::sort(order.begin(), order.end(), [](Bag* a, Bag* b) { return a->path < b->path; });
    for (std::size_t i = 0; i < order.size(); ++i) {
        Result r = lockBag(*order[i], exclusive);
        if (r != kOk) {
            for (std::size_t j = 0; j < i; ++j) unlockBag(*order[j], exclusive);
            return r;
        }
    }
    return kOk;
}

void Table::unlockBags(bool exclusive) {
    for (auto& bag : bags_) unlockBag(*bag, exclusive);
}

// Another process added or removed tags: follow the file's tag list.
Result Table::syncTags(Bag& bag) {
    const auto& infos = bag.cdx.tags();
    for (std::size_t i = 0; i < bag.tags.size();) {
        OpenTag& tag = *bag.tags[i];
        bool present = std::any_of(infos.begin(), infos.end(), [&](const TagInfo& info) {
            return info.id == tag.id && sameText(info.name, tag.name);
        });
        if (present) {
            ++i;
        } else {
            handles::remove(tag.handle);
            bag.tags.erase(bag.tags.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    for (const TagInfo& info : infos) {
        bool known = std::any_of(bag.tags.begin(), bag.tags.end(),
                                 [&](const std::unique_ptr<OpenTag>& t) { return t->id == info.id; });
        if (!known) addOpenTag(bag, info); // a tag that does not compile here is left alone
    }
    return kOk;
}

Result Table::tagKey(OpenTag& tag, const std::uint8_t* rec, std::uint32_t recno, bool& included,
                     std::string& key) {
    if (tag.keyless) {
        included = false;
        key.clear();
        return kIndexReadOnly;
    }
    RecordView view(*this, rec, recno);
    ExprSettings es = settings().expr();
    included = !tag.cond.valid() || tag.cond.test(view, es);
    if (tag.datetimeField >= 0)
        key = datetimeKey(hdr_.fields[static_cast<std::size_t>(tag.datetimeField)], rec);
    else
        key = encodeKey(tag.key.eval(view, es), tag.keyType, tag.keyLen);
    return kOk;
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

// ---- Index order -------------------------------------------------------------------------

// Where a tag's cursor stands relative to the current record: on it, or on the entry that
// follows it (the record's key is not in the tag, e.g. its FOR condition is false).
Result Table::positionCursor(OpenTag& tag, bool& onCurrent) {
    if (tag.keyless) {
        // No key to look for: the entry of the current record, found by walking.
        onCurrent = tag.cursor.positioned() && tag.cursor.recno() == recno_;
        Result r = onCurrent ? kOk : fromIndex(tag.cursor.first());
        while (r == kOk && !onCurrent && tag.cursor.positioned()) {
            onCurrent = tag.cursor.recno() == recno_;
            if (!onCurrent) r = fromIndex(tag.cursor.next());
        }
        return r;
    }
    bool included = false;
    std::string key;
    tagKey(tag, rec_.data(), recno_, included, key);
    if (tag.cursor.positioned() && tag.cursor.recno() == recno_ && tag.cursor.key() == key) {
        onCurrent = true;
        return kOk;
    }
    bool exact = false;
    Result r = tag.cursor.find(key, recno_, exact);
    onCurrent = exact;
    return fromIndex(r);
}

// Steps the cursor (when step) and then on past hidden records; loads the record it lands
// on. moved is false when the cursor ran off its end.
Result Table::cursorLand(OpenTag& tag, int dir, bool step, bool& moved) {
    moved = false;
    CdxCursor& c = tag.cursor;
    for (;;) {
        if (step) {
            Result r = fromIndex(dir > 0 ? c.next() : c.prev());
            if (r != kOk) return r;
        }
        step = true;
        if (!c.positioned()) return kOk;
        bool show = false;
        Result r = visible(c.recno(), show);
        if (r != kOk) return r;
        if (show) {
            moved = true;
            return loadRecord(c.recno());
        }
    }
}

Result Table::tagEnd(OpenTag& tag, int dir) {
    const Handle h = tag.handle;
    Bag& bag = *tag.bag;
    Result r = lockBag(bag, false);
    if (r != kOk) return r;
    if (!handles::find(h, handles::Kind::index)) {
        unlockBag(bag, false);
        return kIndexNotFound; // removed by another process
    }
    r = fromIndex(dir > 0 ? tag.cursor.first() : tag.cursor.last());
    bool moved = false;
    if (r == kOk) r = cursorLand(tag, dir, false, moved);
    unlockBag(bag, false);
    if (r != kOk) return r;
    if (!moved) {
        setEof();
        bof_ = true;
    }
    return kOk;
}

Result Table::tagSkip(OpenTag& tag, std::int32_t n) {
    const Handle h = tag.handle;
    Bag& bag = *tag.bag;
    Result r = lockBag(bag, false);
    if (r != kOk) return r;
    if (!handles::find(h, handles::Kind::index)) {
        unlockBag(bag, false);
        return kIndexNotFound;
    }
    const int dir = n > 0 ? 1 : -1;
    std::int64_t steps = n > 0 ? std::int64_t{n} : -std::int64_t{n};
    // The first step: from past the end backwards the last entry is the target; otherwise
    // from the current record's place in the tag.
    bool stepFirst = true;
    bool placed = true; // the cursor stands on the current record's own entry
    const std::uint32_t from = eof_ ? 0 : recno_;
    if (eof_) {
        r = fromIndex(tag.cursor.last());
        stepFirst = false;
    } else {
        r = positionCursor(tag, placed);
        if (!placed && dir > 0) stepFirst = false;
    }
    bool hitEnd = false;
    for (std::int64_t i = 0; r == kOk && i < steps; ++i) {
        bool moved = false;
        r = cursorLand(tag, dir, i > 0 || stepFirst, moved);
        if (r == kOk && !moved) {
            hitEnd = true;
            break;
        }
        // Landing on the record we started from, whose key was not found, would repeat for
        // ever: the tag holds the record under a key it does not have.
        if (r == kOk && i == 0 && !placed && from != 0 && tag.cursor.recno() == from && !tag.keyless) {
            bool included = false;
            std::string key;
            tagKey(tag, rec_.data(), recno_, included, key);
            if (!included || key != tag.cursor.key()) {
                setErrorDetail("tag " + tag.name + " holds record " + std::to_string(from) +
                               " under a key the record does not have");
                r = kIndexDamaged;
            }
        }
    }
    unlockBag(bag, false);
    if (r != kOk) return r;
    if (hitEnd) {
        if (dir > 0) {
            setEof();
        } else {
            r = tagEnd(tag, +1);
            bof_ = true;
        }
    }
    return r;
}

Result Table::seek(OpenTag& tag, const ExprValue& key, bool soft, bool& found) {
    found = false;
    Result r = flushRecord();
    if (r != kOk) return r;
    using K = ExprValue::Kind;
    const K want = tag.keyType == 'C'                         ? K::Character
                   : tag.keyType == 'N' || tag.keyType == 'I' ? K::Numeric
                   : tag.keyType == 'D'                       ? K::Date
                                                              : K::Logical;
    if (key.kind != want) {
        setErrorDetail("the key's type is not the index's");
        return kWrongType;
    }
    std::string k = (settings().exact && tag.keyType == 'C') ? encodeKey(key, tag.keyType, tag.keyLen)
                                                             : seekKey(key, tag.keyType, tag.keyLen);
    const Handle h = tag.handle;
    Bag& bag = *tag.bag;
    r = lockBag(bag, false);
    if (r != kOk) return r;
    if (!handles::find(h, handles::Kind::index)) {
        unlockBag(bag, false);
        return kIndexNotFound;
    }
    bool f = false;
    r = fromIndex(tag.cursor.seek(k, f));
    bool moved = false;
    if (r == kOk) r = cursorLand(tag, +1, false, moved);
    unlockBag(bag, false);
    if (r != kOk) return r;
    found = moved && tag.cursor.key().compare(0, k.size(), k) == 0;
    if (!found && !(soft && moved)) setEof();
    return kOk;
}

// ---- Creating and opening indexes --------------------------------------------------------

Result Table::createIndex(OpenTag* order, std::string_view bagName, std::string_view tagName,
                          std::string_view keyText, std::string_view forText, std::string_view whileText,
                          std::uint32_t options, OpenTag*& made, std::size_t& errorPos) {
    errorPos = 0;
    if (readOnly_) return kReadOnly;
    if (options & ~std::uint32_t{kIndexUnique | kIndexCompound | kIndexCustom | kIndexDescending})
        return kBadArgument;
    if (options & kIndexCustom) {
        setErrorDetail("custom indexes are not supported");
        return kUnsupported;
    }
    Result r = writeAll();
    if (r != kOk) return r;

    // Names.
    std::string structuralName = relatedName(".cdx");
    std::string path = trim(bagName).empty() ? structuralName : bagPath(bagName);
    std::string existing = os::findFile(path);
    if (!existing.empty()) path = existing;
    const bool structural = sameText(path, structuralName) || sameText(path, relatedPath(".cdx"));
    std::string name(trim(tagName));
    if (name.empty()) {
        if (trim(bagName).empty() || (options & kIndexCompound)) return kBadArgument;
        std::string base = path.substr(folderEnd(path));
        name = base.substr(0, base.find('.'));
    }
    name = upper(name);
    if (name.size() > 10) {
        setErrorDetail("tag name longer than 10 characters: " + name);
        return kNameTooLong;
    }

    // Expressions.
    const ExprSettings es = settings().expr();
    Expression key, cond, whileCond;
    std::size_t pos = 0;
    r = Expression::compile(keyText, exprFields_, alias_, es, key, pos);
    if (r != kOk) {
        errorPos = pos;
        setErrorDetail("key expression, at position " + std::to_string(pos) + ": " + std::string(keyText));
        return r;
    }
    char keyType = key.keyType();
    // A tag on an integer field alone has 4-byte integer keys, as the FoxPro family writes it;
    // one on a datetime field alone keys the day and its fraction.
    const int sole = soleField(keyText);
    if (keyType == 'N' && sole >= 0 && hdr_.fields[static_cast<std::size_t>(sole)].type == 'I') keyType = 'I';
    const dbf::Field* stamp = sole >= 0 && hdr_.fields[static_cast<std::size_t>(sole)].type == 'T'
                                  ? &hdr_.fields[static_cast<std::size_t>(sole)]
                                  : nullptr;
    std::size_t keyLen = keyType == 'C' ? key.resultWidth() : fixedKeyLength(keyType);
    if (!validKeyType(keyType) || keyLen == 0 || keyLen > kMaxKeyLen) {
        setErrorDetail("the key expression gives no value that can be a key: " + std::string(keyText));
        return kBadExpression;
    }
    auto compileCondition = [&](std::string_view text, Expression& out, const char* what) -> Result {
        if (trim(text).empty()) return kOk;
        std::size_t p = 0;
        Result c = Expression::compile(text, exprFields_, alias_, es, out, p);
        if (c == kOk && out.resultKind() != ExprValue::Kind::Logical) c = kBadExpression;
        if (c != kOk) {
            errorPos = p;
            setErrorDetail(std::string(what) + " condition, at position " + std::to_string(p) + ": " +
                           std::string(text));
        }
        return c;
    };
    r = compileCondition(forText, cond, "FOR");
    if (r != kOk) return r;
    r = compileCondition(whileText, whileCond, "WHILE");
    if (r != kOk) return r;

    // The keys.
    KeyList keys(keyLen, keyType);
    auto take = [&](const std::uint8_t* rec, std::uint32_t n) -> Result {
        RecordView view(*this, rec, n);
        if (cond.valid() && !cond.test(view, es)) return kOk;
        keys.add(stamp ? datetimeKey(*stamp, rec) : encodeKey(key.eval(view, es), keyType, keyLen), n);
        return kOk;
    };

    // The bag.
    Bag* bag = nullptr;
    for (auto& b : bags_)
        if (sameText(b->path, path)) bag = b.get();
    if (!bag) {
        r = openBag(existing.empty() ? os::nativePath(path) : path, structural, existing.empty(), bag);
        if (r != kOk) return r;
    }

    // Other handles must not append while the keys are collected and the tag is built.
    if (shared_ && !tableLocked_) {
        r = lockmap::wait(file_, lockmap::header, 1, true);
        if (r != kOk) return r;
    }
    r = lockBag(*bag, true);
    if (r == kOk) {
        r = refreshCount();
        if (r == kOk && !whileCond.valid()) {
            keys.reserve(count_);
            r = scan(1, take);
        } else if (r == kOk && !eof_) {
            // From the current record on, in the given order, while the condition holds.
            std::vector<std::uint8_t> rec(hdr_.recordLength);
            CdxCursor walk;
            bool onCurrent = true;
            if (order) {
                if (order->keyless) r = kIndexReadOnly;
                if (r == kOk && order->bag != bag) r = lockBag(*order->bag, false);
                if (r == kOk) {
                    bool included = false;
                    std::string k;
                    tagKey(*order, rec_.data(), recno_, included, k);
                    walk = CdxCursor(order->bag->cdx, order->id);
                    r = fromIndex(walk.find(k, recno_, onCurrent));
                }
            }
            std::uint32_t n = recno_;
            while (r == kOk) {
                if (order) {
                    if (!walk.positioned()) break;
                    n = walk.recno();
                } else if (n > count_) {
                    break;
                }
                bool show = false;
                r = visible(n, show);
                if (r != kOk) break;
                if (show) {
                    r = readRecordAt(n, rec.data());
                    if (r != kOk) break;
                    RecordView view(*this, rec.data(), n);
                    if (!whileCond.test(view, es)) break;
                    take(rec.data(), n);
                }
                if (order)
                    r = fromIndex(walk.next());
                else
                    ++n;
            }
            if (order && order->bag != bag) unlockBag(*order->bag, false);
        }
        // Building a tag is a change under way like any other: cut off half-way, it leaves the
        // mark that makes the next open answer "index out of date".
        if (r == kOk) r = markBag(*bag, true);
        const bool markedHere = r == kOk;
        if (r == kOk) {
            // A tag of that name is replaced.
            if (const TagInfo* old = bag->cdx.findTag(name)) {
                const TagId oldId = old->id;
                r = fromIndex(bag->cdx.removeTag(name));
                for (std::size_t i = 0; r == kOk && i < bag->tags.size(); ++i) {
                    if (bag->tags[i]->id == oldId) {
                        handles::remove(bag->tags[i]->handle);
                        bag->tags.erase(bag->tags.begin() + static_cast<std::ptrdiff_t>(i));
                        break;
                    }
                }
            }
        }
        TagId id = 0;
        if (r == kOk) {
            TagSpec def;
            def.name = name;
            def.keyExpr = std::string(trim(keyText));
            def.forExpr = std::string(trim(forText));
            def.keyType = keyType;
            def.keyLen = static_cast<std::uint16_t>(keyLen);
            def.unique = (options & kIndexUnique) != 0;
            def.descending = (options & kIndexDescending) != 0;
            r = fromIndex(bag->cdx.addTag(def, keys, &id));
        }
        if (r == kOk) {
            const TagInfo* info = bag->cdx.tag(id);
            r = info ? addOpenTag(*bag, *info) : kIndexDamaged;
            if (r == kOk) made = bag->tags.back().get();
        }
        // A failure that may have left part of the tag in the file keeps the mark.
        if (markedHere && (r == kIoError || r == kTableFull || r == kIndexDamaged)) bag->stuck = true;
        if (markedHere) unmarkBags();
        unlockBag(*bag, true);
    }
    if (shared_ && !tableLocked_) file_.unlock(lockmap::header, 1);
    if (r == kOk && bag->structural && !(hdr_.flags & dbf::flagStructuralIndex)) {
        hdr_.flags |= dbf::flagStructuralIndex;
        if (file_.write(28, &hdr_.flags, 1) != os::Status::ok) r = kIoError;
    }
    return r;
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
