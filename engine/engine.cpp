// The public engine calls: handles, settings, name resolution and the mapping of each call
// onto the Table that does the work.
#include "engine/engine.h"

#include "engine/lockmap.h"
#include "engine/table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

namespace engine {

namespace {

struct Slot {
    std::uint32_t generation = 0;
    handles::Kind kind = handles::Kind::table;
    void* object = nullptr;
};

struct State {
    Settings settings;
    std::vector<Slot> slots = std::vector<Slot>(1); // slot 0 is never used
    std::vector<std::uint32_t> freeSlots;
    std::vector<std::unique_ptr<Table>> tables;
    std::function<void(std::string_view)> errorDisplay;
    std::string detail;
    Result lastCode = kOk;
    std::string lastText;

    // Tables still open when the process ends are closed (their appends written) while the
    // rest of the state still stands.
    ~State() {
        while (!tables.empty()) {
            std::unique_ptr<Table> t = std::move(tables.back());
            tables.pop_back();
            t->close();
        }
    }
};

// Every call goes through state(): after the first, it is one load and a test.
State* g_state = nullptr;

[[gnu::noinline]] State& firstState() {
    static State s;
    g_state = &s;
    return s;
}

inline State& state() {
    if (g_state) [[likely]]
        return *g_state;
    return firstState();
}

std::string describe(Result r) {
    switch (r) {
    case kOk:
        return "no error";
    case kOpenConflict:
        return "the table is open elsewhere in a mode that excludes this open";
    case kNumberRefused:
        return "the number does not fit the field";
    case kMoreLocks:
        return "more locks are held than there was room for";
    case kTableNotLocked:
        return "the table was not locked";
    case kIndexAlreadyOpen:
        return "the index is open already";
    case kNoCurrentRecord:
        return "no current record";
    case kRecordNotLocked:
        return "the record was not locked";
    case kFileNotFound:
        return "file not found";
    case kTableDamaged:
        return "damaged table file";
    case kMemoDamaged:
        return "damaged memo file";
    case kIndexDamaged:
        return "damaged index file";
    case kUnsupported:
        return "not supported";
    case kNotTable:
        return "not a table";
    case kBadHandle:
        return "invalid handle";
    case kBadArgument:
        return "invalid argument";
    case kBadExpression:
        return "invalid expression";
    case kNameTooLong:
        return "name too long";
    case kUnknownField:
        return "unknown field";
    case kWrongType:
        return "wrong type for the field or index";
    case kReadOnly:
        return "the table is open read-only";
    case kIoError:
        return "input/output error";
    case kLockRefused:
        return "locked by another handle";
    case kBadValue:
        return "not a value of the field's type";
    case kIndexNotFound:
        return "index not found";
    case kAccessDenied:
        return "access denied";
    case kTableFull:
        return "the file would grow too large";
    case kBadField:
        return "invalid field definition";
    case kIndexReadOnly:
        return "the index cannot take the change";
    case kIndexOutOfDate:
        return "the index may not agree with its table";
    case kDuplicateKey:
        return "a candidate tag holds that key already";
    case kNotAllChecked:
        return "not everything could be checked";
    case kIndexMissing:
        return "the structural index is missing";
    case kIndexDefinitionsUnknown:
        return "the definitions of the index's tags are not known";
    default:
        if (r == 7510) return "invalid expression: keys and conditions cannot hold a subscript";
        if (r >= 7501 && r <= 7509) return "invalid expression";
        return "error " + std::to_string(r);
    }
}

[[gnu::noinline]] void keepError(Result r) {
    if (r == kIndexAlreadyOpen || r == kTableNotLocked || r == kRecordNotLocked) return;
    State& s = state();
    s.lastCode = r;
    s.lastText = describe(r);
    if (!s.detail.empty()) s.lastText += ": " + s.detail;
}

// Every call starts with a Call and returns through done(), which keeps the last error.
struct Call {
    Call() { state().detail.clear(); }
    Result done(Result r) {
        if (r != kOk) [[unlikely]]
            keepError(r);
        return r;
    }
};

// A handle's object, or null when the handle is not a live one of that kind.
inline void* lookup(Handle h, handles::Kind kind) {
    const State& s = state();
    const std::uint32_t slot = static_cast<std::uint32_t>(h & 0xFFFFFFFFu);
    const std::uint32_t generation = static_cast<std::uint32_t>(h >> 32) & 0xFFFFFFu;
    const auto k = static_cast<std::uint8_t>(h >> 56);
    if (slot == 0 || slot >= s.slots.size()) return nullptr;
    const Slot& e = s.slots[slot];
    if (!e.object || e.generation != generation || static_cast<std::uint8_t>(e.kind) != k || e.kind != kind)
        return nullptr;
    return e.object;
}

Table* tableOf(Handle h) {
    return static_cast<Table*>(lookup(h, handles::Kind::table));
}
OpenTag* tagOf(Handle h) {
    return static_cast<OpenTag*>(lookup(h, handles::Kind::index));
}

// A table handle, or an index handle standing for its table in that index's order.
Table* tableOrIndex(Handle h, OpenTag*& tag) {
    tag = nullptr;
    if (static_cast<handles::Kind>(h >> 56) == handles::Kind::index) {
        tag = tagOf(h);
        return tag ? tag->bag->owner : nullptr;
    }
    return tableOf(h);
}

std::string_view trimmed(std::string_view s) {
    std::size_t a = s.find_first_not_of(' ');
    if (a == std::string_view::npos) return {};
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

bool hasExtension(std::string_view path) {
    std::size_t cut = path.find_last_of("/\\:");
    std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
    return name.find('.') != std::string_view::npos;
}

std::string baseName(std::string_view path) {
    std::size_t cut = path.find_last_of("/\\:");
    std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
    return std::string(name.substr(0, name.find('.')));
}

constexpr std::size_t maxPath = 259;
constexpr std::size_t maxAlias = 128;

// Finds an existing table: absolute names as they are; relative ones in the default folder
// (or the current one), then in each folder of the search path.
Result findTable(std::string_view name, std::string& path) {
    std::string n(trimmed(name));
    if (n.empty()) return kBadArgument;
    if (!hasExtension(n)) n += ".dbf";
    if (n.size() > maxPath) return kNameTooLong;
    const Settings& st = settings();
    std::vector<std::string> candidates;
    if (os::isAbsolute(n)) {
        candidates.push_back(n);
    } else {
        candidates.push_back(st.defaultFolder.empty() ? n : os::joinPath(st.defaultFolder, n));
        std::size_t from = 0;
        while (from <= st.searchPath.size()) {
            std::size_t to = st.searchPath.find_first_of(";,", from);
            if (to == std::string::npos) to = st.searchPath.size();
            std::string_view folder = trimmed(std::string_view(st.searchPath).substr(from, to - from));
            if (!folder.empty()) candidates.push_back(os::joinPath(folder, n));
            from = to + 1;
        }
    }
    for (const std::string& c : candidates) {
        std::string found = os::findFile(c);
        if (!found.empty()) {
            path = found;
            return kOk;
        }
    }
    setErrorDetail("table not found: " + std::string(name));
    return kFileNotFound;
}

Result checkTableType(std::uint16_t type) {
    if (type == 0 || type == kTypeCdx) return kOk;
    if (type == kTypeNtx || type == kTypeAdt) {
        setErrorDetail("only table type 2 (DBF tables with CDX indexes) is supported");
        return kUnsupported;
    }
    return kBadArgument;
}

Result checkAlias(std::string_view alias) {
    return alias.size() > maxAlias ? kNameTooLong : kOk;
}

// Runs fn on the table of a table handle and its field.
template <typename Fn> Result onField(Handle h, const FieldRef& field, Fn fn) {
    Call call;
    Table* t = tableOf(h);
    if (!t) return call.done(kBadHandle);
    std::size_t index = 0;
    Result r = t->findField(field, index);
    if (r != kOk) return call.done(r);
    return call.done(fn(*t, index));
}

template <typename Fn> Result onTable(Handle h, Fn fn) {
    Call call;
    Table* t = tableOf(h);
    if (!t) return call.done(kBadHandle);
    return call.done(fn(*t));
}

template <typename Fn> Result onTag(Handle h, Fn fn) {
    Call call;
    OpenTag* tag = tagOf(h);
    if (!tag) return call.done(kBadHandle);
    return call.done(fn(*tag));
}

} // namespace

Settings& settings() {
    return state().settings;
}

void setErrorDetail(std::string text) {
    state().detail = std::move(text);
}

// ---- Handles -----------------------------------------------------------------------------

namespace handles {

Handle add(Kind kind, void* object) {
    State& s = state();
    std::uint32_t slot;
    if (!s.freeSlots.empty()) {
        slot = s.freeSlots.back();
        s.freeSlots.pop_back();
    } else {
        slot = static_cast<std::uint32_t>(s.slots.size());
        s.slots.emplace_back();
    }
    Slot& e = s.slots[slot];
    e.generation = (e.generation + 1) & 0xFFFFFFu;
    if (e.generation == 0) e.generation = 1;
    e.kind = kind;
    e.object = object;
    return static_cast<Handle>(kind) << 56 | static_cast<Handle>(e.generation) << 32 | slot;
}

void* find(Handle h, Kind kind) {
    return lookup(h, kind);
}

void remove(Handle h) {
    State& s = state();
    const std::uint32_t slot = static_cast<std::uint32_t>(h & 0xFFFFFFFFu);
    if (slot == 0 || slot >= s.slots.size() || !s.slots[slot].object) return;
    if (s.slots[slot].generation != (static_cast<std::uint32_t>(h >> 32) & 0xFFFFFFu)) return;
    s.slots[slot].object = nullptr;
    s.freeSlots.push_back(slot);
}

} // namespace handles

// ---- Short waits for locks ---------------------------------------------------------------

Result lockmap::wait(os::File& file, std::uint64_t offset, std::uint64_t length, bool exclusive) {
    for (unsigned waited = 0;; ++waited) {
        os::Status s = file.lock(offset, length, exclusive);
        if (s == os::Status::ok) return kOk;
        if (s != os::Status::busy) return kIoError;
        if (waited >= waitMs) return kLockRefused;
        os::sleepMs(1);
    }
}

// ---- Tables ------------------------------------------------------------------------------

Result openTable(Handle connection, std::string_view name, std::string_view alias, std::uint16_t tableType,
                 std::uint16_t charType, std::uint16_t lockType, std::uint16_t checkRights,
                 std::uint32_t mode, Handle& table) {
    Call call;
    (void)lockType;
    (void)checkRights;
    if (connection != 0) return call.done(kBadHandle);
    Result r = checkTableType(tableType);
    if (r != kOk) return call.done(r);
    const bool shared = (mode & kOpenShared) != 0, exclusive = (mode & kOpenExclusive) != 0;
    if ((mode & ~std::uint32_t{kOpenShared | kOpenExclusive | kOpenReadOnly}) || shared == exclusive)
        return call.done(kBadArgument);
    if (charType != 0 && charType != kAnsi && charType != kOem) return call.done(kBadArgument);
    if ((r = checkAlias(alias)) != kOk) return call.done(r);
    std::string path;
    if ((r = findTable(name, path)) != kOk) return call.done(r);
    auto t = std::make_unique<Table>();
    std::string a(trimmed(alias));
    if (a.empty()) a = baseName(path);
    r = t->open(path, a, charType == kOem ? kOem : kAnsi, mode);
    if (r != kOk) return call.done(r);
    t->handle = handles::add(handles::Kind::table, t.get());
    table = t->handle;
    state().tables.push_back(std::move(t));
    return call.done(kOk);
}

Result createTable(std::string_view name, std::string_view alias, std::uint16_t tableType,
                   std::uint16_t charType, std::span<const FieldDef> fields, Handle& table) {
    Call call;
    Result r = checkTableType(tableType);
    if (r != kOk) return call.done(r);
    if ((r = checkAlias(alias)) != kOk) return call.done(r);
    if (charType != 0 && charType != kAnsi && charType != kOem) return call.done(kBadArgument);
    if (fields.empty() || fields.size() > dbf::maxFields) {
        setErrorDetail("a table has 1 to 255 fields");
        return call.done(kBadField);
    }
    std::vector<dbf::Field> defs;
    std::size_t recordLength = 1;
    for (const FieldDef& in : fields) {
        dbf::Field f;
        for (char c : in.name) f.name += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        f.type = (in.type >= 'a' && in.type <= 'z') ? static_cast<char>(in.type - 'a' + 'A') : in.type;
        f.len = in.len;
        f.dec = in.dec;
        if (f.len == 0) {
            switch (f.type) {
            case 'D':
            case 'B':
            case 'Y':
            case 'T':
                f.len = 8;
                break;
            case 'L':
                f.len = 1;
                break;
            case 'M':
            case 'I':
                f.len = 4;
                break;
            default:
                break;
            }
        }
        dbf::FieldProblem p = dbf::checkField(f);
        if (p == dbf::FieldProblem::nameTooLong) {
            setErrorDetail("field name longer than 10 characters: " + in.name);
            return call.done(kNameTooLong);
        }
        for (const dbf::Field& g : defs)
            if (g.name == f.name) p = dbf::FieldProblem::duplicate;
        if (p != dbf::FieldProblem::none) {
            setErrorDetail("field " + in.name);
            return call.done(kBadField);
        }
        recordLength += f.len;
        defs.push_back(std::move(f));
    }
    if (recordLength > 65535) {
        setErrorDetail("records longer than 65535 bytes");
        return call.done(kBadField);
    }
    std::string n(trimmed(name));
    if (n.empty()) return call.done(kBadArgument);
    if (!hasExtension(n)) n += ".dbf";
    if (n.size() > maxPath) return call.done(kNameTooLong);
    if (!os::isAbsolute(n) && !settings().defaultFolder.empty())
        n = os::joinPath(settings().defaultFolder, n);
    std::string existing = os::findFile(n);
    std::string path = existing.empty() ? os::nativePath(n) : existing;
    auto t = std::make_unique<Table>();
    std::string a(trimmed(alias));
    if (a.empty()) a = baseName(path);
    r = t->create(path, a, charType == kOem ? kOem : kAnsi, std::move(defs));
    if (r != kOk) return call.done(r);
    t->handle = handles::add(handles::Kind::table, t.get());
    table = t->handle;
    state().tables.push_back(std::move(t));
    return call.done(kOk);
}

Result closeTable(Handle table) {
    Call call;
    Table* t = tableOf(table);
    if (!t) return call.done(kBadHandle);
    Result r = t->close();
    handles::remove(t->handle);
    auto& tables = state().tables;
    for (std::size_t i = 0; i < tables.size(); ++i) {
        if (tables[i].get() == t) {
            tables.erase(tables.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    return call.done(r);
}

Result getNumFields(Handle table, std::uint16_t& count) {
    return onTable(table, [&](Table& t) -> Result {
        count = static_cast<std::uint16_t>(t.fields().size());
        return kOk;
    });
}

Result getFieldName(Handle table, FieldRef field, std::string& name) {
    return onField(table, field, [&](Table& t, std::size_t i) -> Result {
        name = t.fields()[i].name;
        return kOk;
    });
}

Result getFieldType(Handle table, FieldRef field, char& type) {
    return onField(table, field, [&](Table& t, std::size_t i) -> Result {
        type = t.fields()[i].type;
        return kOk;
    });
}

Result getFieldLength(Handle table, FieldRef field, std::uint32_t& length) {
    return onField(table, field, [&](Table& t, std::size_t i) -> Result {
        length = t.fields()[i].len;
        return kOk;
    });
}

Result getFieldDecimals(Handle table, FieldRef field, std::uint16_t& decimals) {
    return onField(table, field, [&](Table& t, std::size_t i) -> Result {
        decimals = t.fields()[i].dec;
        return kOk;
    });
}

Result getRecordCount(Handle table, std::uint32_t& count) {
    return onTable(table, [&](Table& t) { return t.recordCount(count); });
}

Result getTableType(Handle table, std::uint16_t& type) {
    return onTable(table, [&](Table&) -> Result {
        type = kTypeCdx;
        return kOk;
    });
}

// ---- Position ----------------------------------------------------------------------------

Result getRecordNum(Handle table, std::uint32_t& recno) {
    return onTable(table, [&](Table& t) -> Result {
        recno = t.recno();
        return kOk;
    });
}

Result refreshRecord(Handle table) {
    return onTable(table, [&](Table& t) { return t.refresh(); });
}

Result gotoRecord(Handle table, std::uint32_t recno) {
    return onTable(table, [&](Table& t) { return t.gotoRecord(recno); });
}

Result gotoTop(Handle tableOrIndexHandle) {
    Call call;
    OpenTag* tag = nullptr;
    Table* t = tableOrIndex(tableOrIndexHandle, tag);
    if (!t) return call.done(kBadHandle);
    return call.done(t->gotoTop(tag));
}

Result gotoBottom(Handle tableOrIndexHandle) {
    Call call;
    OpenTag* tag = nullptr;
    Table* t = tableOrIndex(tableOrIndexHandle, tag);
    if (!t) return call.done(kBadHandle);
    return call.done(t->gotoBottom(tag));
}

Result skip(Handle tableOrIndexHandle, std::int32_t n) {
    Call call;
    OpenTag* tag = nullptr;
    Table* t = tableOrIndex(tableOrIndexHandle, tag);
    if (!t) return call.done(kBadHandle);
    return call.done(t->skip(tag, n));
}

Result atBOF(Handle tableOrIndexHandle, bool& bof) {
    Call call;
    OpenTag* tag = nullptr;
    Table* t = tableOrIndex(tableOrIndexHandle, tag);
    if (!t) return call.done(kBadHandle);
    bof = t->bof();
    return call.done(kOk);
}

Result atEOF(Handle tableOrIndexHandle, bool& eof) {
    Call call;
    OpenTag* tag = nullptr;
    Table* t = tableOrIndex(tableOrIndexHandle, tag);
    if (!t) return call.done(kBadHandle);
    eof = t->eof();
    return call.done(kOk);
}

Result seek(Handle index, const ExprValue& key, bool soft, bool& found) {
    return onTag(index, [&](OpenTag& tag) -> Result { return tag.bag->owner->seek(tag, key, soft, found); });
}

// ---- Fields ------------------------------------------------------------------------------

Result getField(Handle table, FieldRef field, std::string& text) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.getText(i, text); });
}

Result getDouble(Handle table, FieldRef field, double& value) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.getNumber(i, value); });
}

Result getLogical(Handle table, FieldRef field, bool& value) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.getLogical(i, value); });
}

Result getJulian(Handle table, FieldRef field, std::int32_t& julian) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.getJulian(i, julian); });
}

Result getMemoLength(Handle table, FieldRef field, std::uint32_t& length) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.getMemoLength(i, length); });
}

Result getString(Handle table, FieldRef field, std::string& text) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.getText(i, text); });
}

Result setField(Handle table, FieldRef field, std::string_view text) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.setText(i, text); });
}

Result setString(Handle table, FieldRef field, std::string_view text) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.setText(i, text); });
}

Result setDouble(Handle table, FieldRef field, double value) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.setNumber(i, value); });
}

Result setLogical(Handle table, FieldRef field, bool value) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.setLogical(i, value); });
}

Result setJulian(Handle table, FieldRef field, std::int32_t julian) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.setJulian(i, julian); });
}

Result setEmpty(Handle table, FieldRef field) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.setEmpty(i); });
}

Result verifyTable(Handle table, std::vector<std::string>& problems) {
    problems.clear();
    return onTable(table, [&](Table& t) { return t.verify(problems); });
}

Result repairIndex(std::string_view name, std::string_view definitions, std::uint32_t options,
                   std::vector<std::string>& report) {
    Call call;
    report.clear();
    if (options & ~std::uint32_t{kRepairDropUnknown}) return call.done(kBadArgument);
    std::string path;
    Result r = findTable(name, path);
    if (r != kOk) return call.done(r);
    std::string from;
    if (!trimmed(definitions).empty()) {
        from = os::findFile(std::string(trimmed(definitions)));
        if (from.empty()) {
            setErrorDetail("index file not found: " + std::string(trimmed(definitions)));
            return call.done(kFileNotFound);
        }
    }
    Table t;
    t.leaveStructuralClosed();
    r = t.open(path, baseName(path), kAnsi, kOpenExclusive);
    if (r != kOk) return call.done(r);
    r = t.repairStructural(from, options, report);
    const Result c = t.close();
    return call.done(r != kOk ? r : c);
}

Result isNull(Handle table, FieldRef field, bool& null) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.isNull(i, null); });
}

Result setNull(Handle table, FieldRef field) {
    return onField(table, field, [&](Table& t, std::size_t i) { return t.setNull(i); });
}

Result isDeleted(Handle table, bool& deleted) {
    return onTable(table, [&](Table& t) { return t.isDeleted(deleted); });
}

Result deleteRecord(Handle table) {
    return onTable(table, [&](Table& t) { return t.setDeleted(true); });
}

Result recallRecord(Handle table) {
    return onTable(table, [&](Table& t) { return t.setDeleted(false); });
}

Result appendRecord(Handle table) {
    return onTable(table, [&](Table& t) { return t.append(); });
}

Result writeRecord(Handle table) {
    return onTable(table, [&](Table& t) { return t.writeAll(); });
}

// ---- Locks -------------------------------------------------------------------------------

Result lockRecord(Handle table, std::uint32_t recno) {
    return onTable(table, [&](Table& t) { return t.lockRecord(recno); });
}

Result unlockRecord(Handle table, std::uint32_t recno) {
    return onTable(table, [&](Table& t) { return t.unlockRecord(recno); });
}

Result getAllLocks(Handle table, std::span<std::uint32_t> room, std::uint16_t& count) {
    return onTable(table, [&](Table& t) -> Result {
        const auto& locks = t.recordLocks();
        std::size_t n = 0;
        for (std::uint32_t recno : locks) {
            if (n == room.size() || n == 0xFFFF) break;
            room[n++] = recno;
        }
        count = static_cast<std::uint16_t>(n);
        return n < locks.size() ? kMoreLocks : kOk;
    });
}

Result lockTable(Handle table) {
    return onTable(table, [&](Table& t) { return t.lockTable(); });
}

Result unlockTable(Handle table) {
    return onTable(table, [&](Table& t) { return t.unlockTable(); });
}

Result isTableLocked(Handle table, bool& locked) {
    return onTable(table, [&](Table& t) -> Result {
        locked = t.tableLocked();
        return kOk;
    });
}

Result isRecordLocked(Handle table, std::uint32_t recno, bool& locked) {
    return onTable(table, [&](Table& t) -> Result {
        locked = t.tableLocked() || t.recordLocks().count(recno) != 0;
        return kOk;
    });
}

// ---- Indexes -----------------------------------------------------------------------------

Result createIndex(Handle tableOrIndexHandle, std::string_view bag, std::string_view tag,
                   std::string_view key, std::string_view forText, std::string_view whileText,
                   std::uint32_t options, Handle& index, std::size_t* errorPos) {
    Call call;
    OpenTag* order = nullptr;
    Table* t = tableOrIndex(tableOrIndexHandle, order);
    if (!t) return call.done(kBadHandle);
    if (bag.size() > maxPath) return call.done(kNameTooLong);
    OpenTag* made = nullptr;
    std::size_t pos = 0;
    Result r = t->createIndex(order, bag, tag, key, forText, whileText, options, made, pos);
    if (errorPos) *errorPos = pos;
    if (r == kOk) index = made->handle;
    return call.done(r);
}

Result openIndex(Handle table, std::string_view bag, std::span<Handle> room, std::uint16_t& count) {
    Call call;
    Table* t = tableOf(table);
    if (!t) return call.done(kBadHandle);
    if (bag.size() > maxPath) return call.done(kNameTooLong);
    std::vector<OpenTag*> tags;
    Result r = t->openIndex(bag, tags);
    if (r == kOk || r == kIndexAlreadyOpen) {
        std::size_t n = std::min(tags.size(), room.size());
        for (std::size_t i = 0; i < n; ++i) room[i] = tags[i]->handle;
        count = static_cast<std::uint16_t>(n);
    }
    return call.done(r);
}

Result closeAllIndexes(Handle table) {
    return onTable(table, [&](Table& t) { return t.closeIndexes(); });
}

Result getIndexName(Handle index, std::string& name) {
    return onTag(index, [&](OpenTag& tag) -> Result {
        name = tag.name;
        return kOk;
    });
}

Result getIndexExpr(Handle index, std::string& key) {
    return onTag(index, [&](OpenTag& tag) -> Result {
        key = tag.keyText;
        return kOk;
    });
}

Result getIndexCondition(Handle index, std::string& forText) {
    return onTag(index, [&](OpenTag& tag) -> Result {
        forText = tag.forText;
        return kOk;
    });
}

Result getIndexOrder(Handle index, std::uint16_t& position) {
    return onTag(index, [&](OpenTag& tag) -> Result {
        position = tag.bag->owner->orderOf(&tag);
        return kOk;
    });
}

Result getIndexHandleByOrder(Handle table, std::uint16_t position, Handle& index) {
    return onTable(table, [&](Table& t) -> Result {
        std::vector<OpenTag*> orders = t.orders();
        if (position == 0 || position > orders.size()) return kIndexNotFound;
        index = orders[position - 1]->handle;
        return kOk;
    });
}

Result getIndexHandle(Handle table, std::string_view name, Handle& index) {
    return onTable(table, [&](Table& t) -> Result {
        std::string_view n = trimmed(name);
        if (name.size() > 128) return kNameTooLong;
        for (OpenTag* tag : t.orders()) {
            if (tag->name.size() != n.size()) continue;
            bool same = true;
            for (std::size_t i = 0; i < n.size() && same; ++i) {
                char a = tag->name[i], b = n[i];
                if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
                if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
                same = a == b;
            }
            if (same) {
                index = tag->handle;
                return kOk;
            }
        }
        if (const std::string why = t.unusableTag(n); !why.empty()) {
            setErrorDetail(why);
            return kUnsupported;
        }
        return kIndexNotFound;
    });
}

Result getNumIndexes(Handle table, std::uint16_t& count) {
    return onTable(table, [&](Table& t) -> Result {
        count = static_cast<std::uint16_t>(t.orders().size());
        return kOk;
    });
}

Result getTableHandle(Handle index, Handle& table) {
    return onTag(index, [&](OpenTag& tag) -> Result {
        table = tag.bag->owner->handle;
        return kOk;
    });
}

// ---- Settings and process ----------------------------------------------------------------

Result setExact(bool on) {
    settings().exact = on;
    return kOk;
}

Result getExact(bool& on) {
    on = settings().exact;
    return kOk;
}

Result setDateFormat(std::string_view format) {
    Call call;
    // Callers switch formats around each date they read or write: keep that cheap.
    Settings& st = settings();
    if (format == st.dateFormat) return call.done(kOk);
    if (format.size() > 32) return call.done(kBadArgument);
    // A format needs a day, a month and a year.
    static constexpr auto part = [] {
        std::array<std::uint8_t, 256> t{};
        t['D'] = t['d'] = 1;
        t['M'] = t['m'] = 2;
        t['Y'] = t['y'] = 4;
        return t;
    }();
    unsigned seen = 0;
    for (char c : format) seen |= part[static_cast<unsigned char>(c)];
    if (seen != 7) return call.done(kBadArgument);
    // In place: no reallocation, and no general replace for a short text.
    std::string& f = st.dateFormat;
    const std::size_t keep = std::min(f.size(), format.size());
    std::copy_n(format.data(), keep, f.data());
    if (format.size() < f.size())
        f.erase(format.size());
    else
        f.append(format.substr(keep));
    return call.done(kOk);
}

Result getDateFormat(std::string& format) {
    const std::string& now = settings().dateFormat;
    if (format.size() != now.size() || !std::equal(now.begin(), now.end(), format.begin())) format = now;
    return kOk;
}

Result setEpoch(std::uint16_t year) {
    Call call;
    if (year > 9999) return call.done(kBadArgument);
    settings().epoch = year;
    return call.done(kOk);
}

Result getEpoch(std::uint16_t& year) {
    year = static_cast<std::uint16_t>(settings().epoch);
    return kOk;
}

Result setSearchPath(std::string_view path) {
    Call call;
    if (path.size() > 4096) return call.done(kNameTooLong);
    settings().searchPath = std::string(path);
    return call.done(kOk);
}

Result setDefault(std::string_view folder) {
    Call call;
    if (folder.size() > maxPath) return call.done(kNameTooLong);
    settings().defaultFolder = std::string(trimmed(folder));
    return call.done(kOk);
}

Result showDeleted(bool show) {
    settings().showDeleted = show;
    return kOk;
}

Result setServerType(std::uint16_t mask) {
    Call call;
    return call.done((mask & 1) ? kOk : kUnsupported);
}

Result applicationExit() {
    Call call;
    State& s = state();
    Result r = kOk;
    while (!s.tables.empty()) {
        std::unique_ptr<Table> t = std::move(s.tables.back());
        s.tables.pop_back();
        Result c = t->close();
        if (r == kOk) r = c;
        handles::remove(t->handle);
    }
    return call.done(r);
}

Result getVersion(std::uint32_t& major, std::uint32_t& minor, char& letter, std::string& description) {
    major = kVersionMajor;
    minor = kVersionMinor;
    letter = kVersionLetter;
    description = "DBF/CDX table engine";
    return kOk;
}

Result showError(std::string_view text) {
    State& s = state();
    if (s.errorDisplay) {
        s.errorDisplay(text);
    } else {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fputc('\n', stderr);
    }
    return kOk;
}

void setErrorDisplay(std::function<void(std::string_view)> hook) {
    state().errorDisplay = std::move(hook);
}

Result getLastError(Result& code, std::string& text) {
    code = state().lastCode;
    text = state().lastText;
    return kOk;
}

} // namespace engine
