#include "ads.h"

#include "runtime/dates.h"
#include "runtime/error.h"
#include "runtime/settings.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace tables {

namespace {

using Result = EnginePort::Result;

// Engine results the driver looks at.
constexpr Result kOk = 0;
constexpr Result kOpenRefused = 1001;
constexpr Result kNumberRefused = 5003;
constexpr Result kMoreLocks = 5005;
constexpr Result kTableNotLocked = 5064;
constexpr Result kIndexAlreadyOpen = 5065;
constexpr Result kNoCurrentRecord = 5068;
constexpr Result kRecordNotLocked = 5087;

int g_fileType = 2;
// Settings of every open; their setter routines are not part of this program.
constexpr std::uint16_t kLockType = 1;
constexpr std::uint16_t kCheckRights = 1;
constexpr std::uint16_t kCharType = 1;
int g_listener = 0; // the settings listener's handle, 0 when none

constexpr std::size_t kIndexRoom = 50;
constexpr std::size_t kLockRoom = 5;

// Mirrors a change of the process settings into the engine; the engine's answers are not
// looked at.
void forwardSetting(int setId, const rt::Value& value) {
    EnginePort& engine = enginePort();
    switch (setId) {
    case rt::_SET_EXACT:
        engine.setExact(value.asLogical());
        break;
    case rt::_SET_DATEFORMAT:
        engine.setDateFormat(value.asString());
        break; // century changes too
    case rt::_SET_EPOCH:
        engine.setEpoch(static_cast<std::uint16_t>(value.asInteger()));
        break;
    case rt::_SET_PATH:
        engine.setSearchPath(value.asString());
        break;
    case rt::_SET_DEFAULT:
        engine.setDefaultFolder(value.asString());
        break;
    case rt::_SET_DELETED:
        engine.setShowDeleted(!value.asLogical());
        break;
    default:
        break;
    }
}

AdsArea& ads(WorkArea& area) {
    return static_cast<AdsArea&>(area);
}

Handle cursorOf(const AdsArea& a) {
    return a.order ? a.order : a.table;
}

// The eight digits of a date ("YYYYMMDD"), blanks for the empty date.
void dateDigits(rt::Date d, char (&out)[8]) {
    int y = 0, m = 0, day = 0;
    rt::splitDate(d, y, m, day);
    if (d.empty() || y <= 0) {
        for (char& c : out) c = ' ';
        return;
    }
    const int parts[3] = {y, m, day};
    const int widths[3] = {4, 2, 2};
    int at = 0;
    for (int p = 0; p < 3; ++p) {
        int v = parts[p];
        for (int i = widths[p] - 1; i >= 0; --i) {
            out[at + i] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        at += widths[p];
    }
}

rt::Value numberValue(double d, std::uint16_t decimals) {
    if (decimals == 0 && std::isfinite(d) && std::fabs(d) < 9.0e15 && d == std::floor(d))
        return rt::Value(static_cast<std::int64_t>(d));
    return rt::Value(d);
}

std::string plainNumber(double d) {
    if (std::isfinite(d) && std::fabs(d) < 9.0e15 && d == std::floor(d))
        return std::to_string(static_cast<std::int64_t>(d));
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
    return std::string(buf, r.ptr);
}

engine::ExprValue keyValue(const rt::Value& v) {
    switch (v.type()) {
    case rt::Type::String:
        return engine::ExprValue::character(v.asString());
    case rt::Type::Integer:
    case rt::Type::Double:
        return engine::ExprValue::numeric(v.asNumber());
    case rt::Type::Date:
        return engine::ExprValue::dateValue(v.asDate().julian);
    case rt::Type::Logical:
        return engine::ExprValue::logicalValue(v.asLogical());
    default:
        return engine::ExprValue::nil();
    }
}

void dataTypeError(AdsDriver& driver, AdsArea& a) {
    raiseDriverError(driver, &a, rt::EG_DATATYPE, 1020);
    a.recordChanged = false;
}

// The table type: asked of the engine for an open table, else the file type in force.
int typeOf(const WorkArea* area) {
    const auto* a = dynamic_cast<const AdsArea*>(area);
    if (a && a->table) {
        std::uint16_t type = 0;
        if (enginePort().getTableType(a->table, type) == kOk) return type;
    }
    return g_fileType;
}

// The driver's view of an engine field type.
char presentedType(char engineType) {
    switch (engineType) {
    case 'N':
    case 'F':
    case 'I':
    case 'B':
    case 'Y':
        return 'N';
    case 'D':
    case 'L':
    case 'M':
        return engineType;
    case 'G':
        return 'M';
    default:
        return 'C';
    }
}

} // namespace

namespace {

// The pieces summed as a balanced tree, "(a+b)+(c+d)", so that the text nests no deeper than
// the logarithm of their number (the expression reader refuses deep nesting).
std::string balancedSum(const std::vector<std::string>& pieces, std::size_t from, std::size_t to) {
    if (to - from == 1) return pieces[from];
    const std::size_t middle = from + (to - from) / 2;
    return "(" + balancedSum(pieces, from, middle) + "+" + balancedSum(pieces, middle, to) + ")";
}

// A literal that reads back as exactly the text, whatever it holds. In one pair of delimiters
// that the text does not contain; a text that holds all three kinds is written as pieces
// joined with "+": the runs without a double quote in double quotes, the runs of double
// quotes in single quotes. No character of the text can end the literal it stands in, so the
// table's data never becomes part of the condition.
std::string textLiteral(std::string_view s) {
    if (s.find('"') == std::string_view::npos) return "\"" + std::string(s) + "\"";
    if (s.find('\'') == std::string_view::npos) return "'" + std::string(s) + "'";
    if (s.find(']') == std::string_view::npos) return "[" + std::string(s) + "]";
    std::vector<std::string> pieces;
    for (std::size_t i = 0; i < s.size();) {
        const bool quotes = s[i] == '"';
        std::size_t j = i;
        while (j < s.size() && (s[j] == '"') == quotes) ++j;
        const std::string run(s.substr(i, j - i));
        pieces.push_back(quotes ? "'" + run + "'" : "\"" + run + "\"");
        i = j;
    }
    return balancedSum(pieces, 0, pieces.size());
}

} // namespace

std::string whileText(std::string_view keyExpr, const engine::ExprValue& key) {
    std::string text(keyExpr);
    text += "<=";
    switch (key.kind) {
    case engine::ExprValue::Kind::Character:
        text += textLiteral(key.str);
        break;
    case engine::ExprValue::Kind::Date: {
        char digits[8];
        dateDigits(rt::Date{key.date}, digits);
        text += "STOD(\"" + std::string(digits, 8) + "\")";
        break;
    }
    case engine::ExprValue::Kind::Numeric:
        text += plainNumber(key.num);
        break;
    case engine::ExprValue::Kind::Logical:
        text += key.logical ? ".T." : ".F.";
        break;
    default:
        text += "NIL";
        break;
    }
    return text;
}

// ---- Identity ------------------------------------------------------------------------------

std::unique_ptr<WorkArea> AdsDriver::newArea() {
    auto a = std::make_unique<AdsArea>();
    a->tableType = g_fileType;
    return a;
}

std::string AdsDriver::name(const WorkArea* area) {
    return adsDriverName(typeOf(area));
}

std::string AdsDriver::info(DriverInfo what, const WorkArea* area) {
    const int type = typeOf(area);
    switch (what) {
    case DriverInfo::kVersion:
        return "ADS RDD 1.12";
    case DriverInfo::kEngineVersion: {
        std::uint32_t major = 0, minor = 0;
        char letter = ' ';
        std::string description;
        enginePort().getVersion(major, minor, letter, description);
        char buf[256];
        std::snprintf(buf, sizeof buf, "%s, v%ld.%ld%c", description.c_str(), static_cast<long>(major),
                      static_cast<long>(minor), letter);
        return buf;
    }
    case DriverInfo::kTableExt:
        return type == 3 ? ".adt" : ".dbf";
    case DriverInfo::kMemoExt:
        return type == 1 ? ".dbt" : type == 3 ? ".adm" : ".fpt";
    case DriverInfo::kIndexExt:
        return type == 1 ? ".ntx" : type == 3 ? ".adi" : ".cdx";
    }
    return {};
}

// ---- Open, create, close -------------------------------------------------------------------

bool AdsDriver::open(WorkArea& area, const OpenRequest& request) {
    AdsArea& a = ads(area);
    EnginePort& engine = enginePort();
    a.tableName = request.table;
    std::uint32_t mode = request.shared ? engine::kOpenShared : engine::kOpenExclusive;
    if (request.readOnly) mode |= engine::kOpenReadOnly;
    Handle table = 0;
    const Result r =
        engine.openTable(0, request.table, request.alias, static_cast<std::uint16_t>(a.tableType), kCharType,
                         kLockType, kCheckRights, mode, table);
    if (r == kOpenRefused) return false;
    if (r != kOk) {
        raiseDriverError(*this, &a, rt::EG_OPEN, r, request.table);
        return false;
    }
    a.table = table;
    a.shared = request.shared;
    a.readOnly = request.readOnly;
    a.fileLocked = false;

    std::uint16_t count = 0;
    engine.getNumFields(table, count);
    const std::size_t nameLimit = a.tableType == 3 ? 128 : 10;
    std::size_t longest = 18;
    a.fields.assign(count, FieldInfo{});
    a.fieldNames.assign(count, std::string{});
    for (std::uint16_t i = 1; i <= count; ++i) {
        FieldInfo& f = a.fields[i - 1];
        char type = 'C';
        engine.getFieldName(table, i, f.name);
        if (f.name.size() > nameLimit) f.name.resize(nameLimit);
        engine.getFieldType(table, i, type);
        engine.getFieldLength(table, i, f.len);
        engine.getFieldDecimals(table, i, f.dec);
        f.type = presentedType(type);
        if (f.len > longest) longest = f.len;
    }
    a.buffer.assign(longest, ' ');
    engine.getRecordCount(table, a.cachedCount);
    goTop(a);
    return true;
}

bool AdsDriver::create(std::string_view table, std::span<const FieldInfo> fields) {
    std::vector<engine::FieldDef> defs;
    defs.reserve(fields.size());
    // Dates, logicals and memos have the lengths of the table format whatever the structure
    // says (a memo is 10 in some structures, 4 in a compound-index table).
    for (const FieldInfo& f : fields) {
        const bool fixed = f.type == 'D' || f.type == 'L' || f.type == 'M';
        defs.push_back({f.name, f.type, static_cast<std::uint16_t>(fixed ? 0 : f.len),
                        static_cast<std::uint8_t>(fixed ? 0 : f.dec)});
    }
    Handle h = 0;
    const Result r =
        enginePort().createTable(table, "", static_cast<std::uint16_t>(g_fileType), kCharType, defs, h);
    if (r != kOk) {
        raiseDriverError(*this, nullptr, rt::EG_CREATE, r, table);
        return false;
    }
    enginePort().closeTable(h);
    return true;
}

bool AdsDriver::close(WorkArea& area) {
    AdsArea& a = ads(area);
    if (a.table) {
        const Result r = enginePort().closeTable(a.table);
        if (r != kOk) {
            char line[600];
            std::snprintf(line, sizeof line, "adsCloseTable failed (%lu, %s)", static_cast<unsigned long>(r),
                          a.tableName.c_str());
            traceLine(line);
        }
    }
    a.table = 0;
    a.order = 0;
    a.fields.clear();
    a.fieldNames.clear();
    a.buffer.clear();
    a.tableName.clear();
    a.fileLocked = false;
    return true;
}

// ---- Position ------------------------------------------------------------------------------

bool AdsDriver::readPosition(AdsArea& a, Handle cursor) {
    EnginePort& engine = enginePort();
    bool bof = false, eof = false;
    engine.atBOF(cursor, bof);
    engine.atEOF(cursor, eof);
    a.bof = bof;
    a.eof = eof;
    return true;
}

bool AdsDriver::goTo(WorkArea& area, std::uint32_t record) {
    AdsArea& a = ads(area);
    EnginePort& engine = enginePort();
    a.found = false;
    if (a.shared && record > a.cachedCount) engine.getRecordCount(a.table, a.cachedCount);
    std::uint32_t current = 0;
    engine.getRecordNum(a.table, current);
    Result r = kOk;
    if (current == record && record != 0 && !a.eof) {
        r = engine.refreshRecord(a.table);
    } else if (record >= 1 && record <= a.cachedCount) {
        r = engine.gotoRecord(a.table, record);
        a.bof = false;
        a.eof = false;
    } else {
        bool eof = false;
        engine.atEOF(a.table, eof);
        if (!eof) r = engine.gotoRecord(a.table, 0);
        a.eof = true;
        a.bof = a.cachedCount == 0;
    }
    return r == kOk;
}

bool AdsDriver::goToId(WorkArea& area, const rt::Value& id) {
    if (!id.isNumber()) {
        dataTypeError(*this, ads(area));
        return false;
    }
    const std::int64_t n = id.asInteger();
    return goTo(area, n < 0 || n > 0xFFFFFFFFLL ? 0u : static_cast<std::uint32_t>(n));
}

bool AdsDriver::goTop(WorkArea& area) {
    AdsArea& a = ads(area);
    const Handle h = cursorOf(a);
    a.found = false;
    const Result r = enginePort().gotoTop(h);
    readPosition(a, h);
    return r == kOk;
}

bool AdsDriver::goBottom(WorkArea& area) {
    AdsArea& a = ads(area);
    const Handle h = cursorOf(a);
    a.found = false;
    const Result r = enginePort().gotoBottom(h);
    readPosition(a, h);
    return r == kOk;
}

bool AdsDriver::skip(WorkArea& area, std::int64_t count) {
    AdsArea& a = ads(area);
    EnginePort& engine = enginePort();
    const Handle h = cursorOf(a);
    a.found = false;
    if (count == 0) {
        const Result r = engine.skip(h, 0);
        engine.refreshRecord(a.table);
        return r == kOk;
    }
    const std::int32_t step = count > 0 ? 1 : -1;
    for (std::int64_t left = count > 0 ? count : -count; left > 0; --left) {
        const bool fromEnd = a.eof;
        const Result r = engine.skip(h, step);
        if (r == kNoCurrentRecord && step > 0) {
            a.eof = true;
            a.bof = false;
            return true;
        }
        if (r != kOk) return false;
        readPosition(a, h);
        // The generic filter step: the engine steps over deleted records itself and no
        // other filter is set in this program.
        // Back from the end onto the beginning: the last record instead (an empty table
        // stays at both ends).
        if (step < 0 && fromEnd && a.bof) {
            engine.gotoBottom(h);
            a.bof = a.eof;
        }
        if (a.bof || a.eof) break;
    }
    return true;
}

bool AdsDriver::seek(WorkArea& area, const rt::Value& key, bool soft, bool /*last*/) {
    AdsArea& a = ads(area);
    EnginePort& engine = enginePort();
    if (!a.order) {
        raiseDriverError(*this, &a, rt::EG_NOORDER, 1201, {}, "DBSEEK");
        return false;
    }
    bool found = false;
    const Result r = engine.seek(a.order, keyValue(key), soft, found);
    readPosition(a, a.order);
    a.bof = false;
    a.found = r == kOk && found;
    return r == kOk;
}

bool AdsDriver::recordNumber(WorkArea& area, std::uint32_t& record) {
    return enginePort().getRecordNum(ads(area).table, record) == kOk;
}

bool AdsDriver::recordCount(WorkArea& area, std::uint32_t& count) {
    AdsArea& a = ads(area);
    if (enginePort().getRecordCount(a.table, a.cachedCount) != kOk) return false;
    count = a.cachedCount;
    return true;
}

// ---- Fields --------------------------------------------------------------------------------

bool AdsDriver::getValue(WorkArea& area, std::uint32_t position, rt::Value& value) {
    AdsArea& a = ads(area);
    if (position == 0 || position > a.fields.size() || position > a.fieldNames.size()) return false;
    EnginePort& engine = enginePort();
    const FieldInfo& f = a.fields[position - 1];
    std::string& fieldName = a.fieldNames[position - 1];
    engine.getFieldName(a.table, position, fieldName);
    const std::string_view name = fieldName;
    switch (f.type) {
    case 'N': {
        double d = 0;
        engine.getDouble(a.table, name, d);
        value = numberValue(d, f.dec);
        return true;
    }
    case 'L': {
        bool b = false;
        if (engine.getLogical(a.table, name, b) == kNoCurrentRecord) {
            a.eof = true;
            b = false;
        }
        value = b;
        return true;
    }
    case 'M': {
        std::uint32_t length = 0;
        if (engine.getMemoLength(a.table, name, length) == kNoCurrentRecord) {
            value = "";
            return true;
        }
        std::string text;
        text.reserve(length + 1);
        engine.getString(a.table, name, text);
        value = std::move(text);
        return true;
    }
    case 'D': {
        engine.getDateFormat(a.savedFormat);
        engine.setDateFormat("YYYYMMDD");
        const Result r = engine.getField(a.table, name, a.buffer);
        engine.setDateFormat(a.savedFormat);
        if (r == kNoCurrentRecord) a.eof = true;
        value = r == kOk ? rt::STOD(a.buffer) : rt::Date{};
        return true;
    }
    default: {
        std::string text;
        if (engine.getField(a.table, name, text) == kNoCurrentRecord) {
            text.assign(f.len, ' ');
            a.eof = true;
        }
        value = std::move(text);
        return true;
    }
    }
}

bool AdsDriver::putValue(WorkArea& area, std::uint32_t position, const rt::Value& value) {
    AdsArea& a = ads(area);
    if (position == 0 || position > a.fields.size() || position > a.fieldNames.size()) return false;
    if (a.eof) return false;
    EnginePort& engine = enginePort();
    const FieldInfo& f = a.fields[position - 1];
    std::string& fieldName = a.fieldNames[position - 1];
    engine.getFieldName(a.table, position, fieldName);
    const std::string_view name = fieldName;
    Result r = kOk;
    switch (f.type) {
    case 'C':
    case 'M': {
        if (!value.isString()) {
            dataTypeError(*this, a);
            return false;
        }
        std::string_view text = value.asString();
        if (f.type == 'C' && text.size() > f.len) text = text.substr(0, f.len);
        r = engine.setString(a.table, name, text);
        break;
    }
    case 'L':
        if (!value.isLogical()) {
            dataTypeError(*this, a);
            return false;
        }
        a.buffer[0] = value.asLogical() ? 'T' : 'F';
        r = engine.setLogical(a.table, name, value.asLogical());
        break;
    case 'N':
        if (!value.isNumber()) {
            dataTypeError(*this, a);
            return false;
        }
        r = engine.setDouble(a.table, name, value.asNumber());
        if (r == kNumberRefused) {
            dataTypeError(*this, a);
            return false;
        }
        break;
    case 'D': {
        if (!value.isDate()) {
            dataTypeError(*this, a);
            return false;
        }
        char digits[8];
        dateDigits(value.asDate(), digits);
        engine.getDateFormat(a.savedFormat);
        engine.setDateFormat("YYYYMMDD");
        r = engine.setField(a.table, name, std::string_view(digits, 8));
        engine.setDateFormat(a.savedFormat);
        break;
    }
    default:
        return false;
    }
    if (r != kOk) return false;
    a.recordChanged = true;
    return true;
}

// ---- Records -------------------------------------------------------------------------------

bool AdsDriver::deleted(WorkArea& area, bool& isDeleted) {
    return enginePort().isDeleted(ads(area).table, isDeleted) == kOk;
}
bool AdsDriver::deleteRecord(WorkArea& area) {
    return enginePort().deleteRecord(ads(area).table) == kOk;
}
bool AdsDriver::recall(WorkArea& area) {
    return enginePort().recallRecord(ads(area).table) == kOk;
}

bool AdsDriver::append(WorkArea& area) {
    AdsArea& a = ads(area);
    if (enginePort().appendRecord(a.table) != kOk) return false;
    ++a.cachedCount;
    a.bof = false;
    a.eof = false;
    a.found = false;
    return true;
}

bool AdsDriver::flush(WorkArea& area) {
    return enginePort().writeRecord(ads(area).table) == kOk;
}

// ---- Locks ---------------------------------------------------------------------------------

bool AdsDriver::releaseRecordLocks(AdsArea& a) {
    EnginePort& engine = enginePort();
    // Room for five numbers a time: list, unlock those, and list again while there were more.
    for (int round = 0; round < 1000000; ++round) {
        std::array<std::uint32_t, kLockRoom> room{};
        std::uint16_t count = 0;
        const Result r = engine.getAllLocks(a.table, room, count);
        for (std::uint16_t i = 0; i < count && i < room.size(); ++i) engine.unlockRecord(a.table, room[i]);
        if (r != kMoreLocks || count == 0) break;
    }
    return true;
}

bool AdsDriver::lock(WorkArea& area, LockInfo& lock) {
    AdsArea& a = ads(area);
    EnginePort& engine = enginePort();
    lock.result = false;
    const bool askEngine = a.shared && !a.fileLocked;
    std::uint32_t record = lock.record.value_or(0);
    if (!lock.record && askEngine) {
        releaseRecordLocks(a);
        engine.getRecordNum(a.table, record);
    }
    switch (lock.method) {
    case LockInfo::kRecord:
        if (lock.record && askEngine) releaseRecordLocks(a);
        [[fallthrough]];
    case LockInfo::kAddRecord:
        lock.result = !askEngine || engine.lockRecord(a.table, record) == kOk;
        return true;
    case LockInfo::kTable:
        if (askEngine) {
            lock.result = engine.lockTable(a.table) == kOk;
            if (lock.result) a.fileLocked = true;
        } else {
            lock.result = true;
        }
        return true;
    default:
        engine.showError("Error in pLockInfo->uiMethod");
        lock.result = false;
        return false;
    }
}

bool AdsDriver::unlock(WorkArea& area, std::optional<std::uint32_t> record) {
    AdsArea& a = ads(area);
    EnginePort& engine = enginePort();
    if (record) {
        if (a.shared && !a.fileLocked) engine.unlockRecord(a.table, *record);
        return true;
    }
    if (a.shared) {
        const Result r = engine.unlockTable(a.table);
        if (r == kOk || r == kTableNotLocked || r == kRecordNotLocked) a.fileLocked = false;
    }
    return true;
}

// ---- Orders --------------------------------------------------------------------------------

bool AdsDriver::orderCreate(WorkArea& area, const CreateOrderRequest& request) {
    AdsArea& a = ads(area);
    EnginePort& engine = enginePort();
    const std::optional<OrderCondition> condition = std::move(a.pendingCondition);
    a.pendingCondition.reset();
    const bool coversAll = !condition || (condition->all && !condition->additive);
    if (coversAll) {
        engine.closeAllIndexes(a.table);
        a.order = 0;
    }
    std::uint32_t options =
        request.bag.empty() || !request.tag.empty() ? std::uint32_t{engine::kIndexCompound} : 0u;
    if (condition && condition->custom) options |= engine::kIndexCustom;
    if (condition && condition->descending) options |= engine::kIndexDescending;
    if (request.unique) options |= engine::kIndexUnique;
    const std::string forText = condition ? condition->forText : std::string();
    std::string whileCondition;
    Handle on = a.table;
    if (condition && condition->useCurrent && a.order) {
        std::string currentKey;
        engine::ExprValue key;
        engine.getIndexExpr(a.order, currentKey);
        engine.extractKey(a.order, key);
        whileCondition = whileText(currentKey, key);
        if (!forText.empty()) whileCondition += ".AND.(" + forText + ")";
        on = a.order;
    }
    Handle index = 0;
    const Result r = engine.createIndex(on, request.bag, request.tag, request.key, forText, whileCondition,
                                        options, index);
    if (r != kOk) {
        raiseDriverError(*this, &a, rt::EG_CREATE, r, request.bag);
        return false;
    }
    a.order = index;
    if (condition && !condition->all && !condition->additive) {
        engine.closeAllIndexes(a.table);
        a.order = 0;
        std::array<Handle, kIndexRoom> room{};
        std::uint16_t count = 0;
        const Result o = engine.openIndex(a.table, request.bag, room, count);
        if ((o == kOk || o == kIndexAlreadyOpen) && count > 0) a.order = room[0];
    }
    goTop(a);
    return true;
}

bool AdsDriver::orderListAdd(WorkArea& area, std::string_view bag) {
    AdsArea& a = ads(area);
    std::array<Handle, kIndexRoom> room{};
    std::uint16_t count = 0;
    const Result r = enginePort().openIndex(a.table, bag, room, count);
    if (r != kOk && r != kIndexAlreadyOpen) {
        raiseDriverError(*this, &a, rt::EG_OPEN, r, bag);
        return false;
    }
    if (!a.order && count > 0) a.order = room[0];
    return true;
}

bool AdsDriver::orderListClear(WorkArea& area) {
    AdsArea& a = ads(area);
    enginePort().closeAllIndexes(a.table);
    a.order = 0;
    return true;
}

namespace {
// The index handle of an order given by number (0: none) or name; 0 when unknown.
Handle indexOf(const AdsArea& a, const rt::Value& order) {
    EnginePort& engine = enginePort();
    Handle h = 0;
    if (order.isNumber()) {
        const std::int64_t n = order.asInteger();
        if (n <= 0 || n > 0xFFFF) return 0;
        if (engine.getIndexHandleByOrder(a.table, static_cast<std::uint16_t>(n), h) != kOk) return 0;
        return h;
    }
    if (order.isString()) {
        std::string_view name = order.asString();
        while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
        if (name.size() > 128) name = name.substr(0, 128);
        if (engine.getIndexHandle(a.table, name, h) != kOk) return 0;
        return h;
    }
    return 0;
}
} // namespace

bool AdsDriver::setOrder(WorkArea& area, const rt::Value& order) {
    AdsArea& a = ads(area);
    if (a.order) {
        std::string previous;
        enginePort().getIndexName(a.order, previous);
    }
    if (order.isNumber() && order.asInteger() == 0) {
        a.order = 0;
        return true;
    }
    const Handle h = indexOf(a, order);
    if (!h) return false;
    a.order = h;
    return true;
}

bool AdsDriver::orderNumber(WorkArea& area, std::uint16_t& position) {
    AdsArea& a = ads(area);
    position = 0;
    if (!a.order) return true;
    return enginePort().getIndexOrder(a.order, position) == kOk;
}

bool AdsDriver::orderInfo(WorkArea& area, OrderInfo what, const rt::Value& order, std::string& result) {
    AdsArea& a = ads(area);
    result.clear();
    const Handle h = order.isNil() ? a.order : indexOf(a, order);
    if (!h) return false;
    EnginePort& engine = enginePort();
    return (what == OrderInfo::kName ? engine.getIndexName(h, result) : engine.getIndexExpr(h, result)) ==
           kOk;
}

void AdsDriver::exit() {
    enginePort().applicationExit();
    if (g_listener) rt::removeSettingsListener(g_listener);
    g_listener = 0;
}

// ---- The driver's table routine and settings -----------------------------------------------

int ADS_GETFUNCTABLE(std::uint16_t* count, std::unique_ptr<WorkAreaDriver>* driver) {
    if (!count || !driver) return 1;
    *count = kAdsMethodCount;
    *driver = std::make_unique<AdsDriver>();
    if (!g_listener) g_listener = rt::addSettingsListener(forwardSetting);
    return 0;
}

std::int64_t ADSSETFILETYPE(const rt::Value& n) {
    const int old = g_fileType;
    // Only the three types there are: a fraction such as 0.5 would otherwise become type 0,
    // which every later open would hand to the engine.
    if (n.isNumber()) {
        const double d = n.asNumber();
        if (d == 1 || d == 2 || d == 3) g_fileType = static_cast<int>(d);
    }
    return old;
}

int adsFileType() {
    return g_fileType;
}

std::int64_t ADSSETSERVERTYPE(const rt::Value& n) {
    if (n.isNil()) return 999999;
    const auto mask = static_cast<std::uint16_t>(n.asInteger());
    return enginePort().setServerType(mask);
}

std::string adsDriverName(int tableType) {
    switch (tableType) {
    case 1:
        return "ADSNTX";
    case 3:
        return "ADSADT";
    default:
        return "ADSCDX";
    }
}

void resetAds() {
    g_fileType = 2;
    if (g_listener) rt::removeSettingsListener(g_listener);
    g_listener = 0;
}

} // namespace tables
