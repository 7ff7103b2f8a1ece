#include "engine_port.h"

#include <algorithm>
#include <vector>

namespace tables {

using Result = EnginePort::Result;

namespace {

// The field names of the open tables, as the engine gave them: the driver asks for a field's
// name before every read and write, and a table's names do not change while it is open.
// Handles are never reused (they carry a generation), and a table's entry goes when it closes.
struct NameCache {
    Handle table = 0;
    std::vector<std::string> names; // by position - 1; empty: not asked yet
};
std::vector<NameCache> g_names;
std::size_t g_lastNames = 0;

NameCache* namesOf(Handle table) {
    if (g_lastNames < g_names.size() && g_names[g_lastNames].table == table) return &g_names[g_lastNames];
    for (std::size_t i = 0; i < g_names.size(); ++i)
        if (g_names[i].table == table) {
            g_lastNames = i;
            return &g_names[i];
        }
    return nullptr;
}

void forgetNames(Handle table) {
    std::erase_if(g_names, [table](const NameCache& c) { return c.table == table; });
    g_lastNames = 0;
}

} // namespace

// The default port forwards to our table engine, which runs in this process.
Result EnginePort::setServerType(std::uint16_t mask) {
    return engine::setServerType(mask);
}
Result EnginePort::setExact(bool exact) {
    return engine::setExact(exact);
}
Result EnginePort::setDateFormat(std::string_view format) {
    return engine::setDateFormat(format);
}
Result EnginePort::getDateFormat(std::string& format) {
    return engine::getDateFormat(format);
}
Result EnginePort::setEpoch(std::uint16_t year) {
    return engine::setEpoch(year);
}
Result EnginePort::setSearchPath(std::string_view path) {
    return engine::setSearchPath(path);
}
Result EnginePort::setDefaultFolder(std::string_view folder) {
    return engine::setDefault(folder);
}
Result EnginePort::setShowDeleted(bool show) {
    return engine::showDeleted(show);
}
Result EnginePort::applicationExit() {
    g_names.clear();
    return engine::applicationExit();
}
Result EnginePort::getVersion(std::uint32_t& major, std::uint32_t& minor, char& letter,
                              std::string& description) {
    return engine::getVersion(major, minor, letter, description);
}
Result EnginePort::showError(std::string_view text) {
    return engine::showError(text);
}

Result EnginePort::openTable(Handle connection, std::string_view name, std::string_view alias,
                             std::uint16_t tableType, std::uint16_t charType, std::uint16_t lockType,
                             std::uint16_t checkRights, std::uint32_t mode, Handle& table) {
    return engine::openTable(connection, name, alias, tableType, charType, lockType, checkRights, mode,
                             table);
}
Result EnginePort::createTable(std::string_view name, std::string_view alias, std::uint16_t tableType,
                               std::uint16_t charType, std::span<const engine::FieldDef> fields,
                               Handle& table) {
    return engine::createTable(name, alias, tableType, charType, fields, table);
}
Result EnginePort::closeTable(Handle table) {
    forgetNames(table);
    return engine::closeTable(table);
}
Result EnginePort::getNumFields(Handle table, std::uint16_t& count) {
    return engine::getNumFields(table, count);
}

Result EnginePort::getFieldName(Handle table, std::uint32_t position, std::string& name) {
    NameCache* cache = namesOf(table);
    if (cache && position >= 1 && position <= cache->names.size() && !cache->names[position - 1].empty()) {
        // Callers mostly keep a buffer per field, holding this name already.
        const std::string& known = cache->names[position - 1];
        if (name.size() != known.size() || !std::equal(known.begin(), known.end(), name.begin()))
            name.assign(known);
        return 0;
    }
    const Result r = engine::getFieldName(table, static_cast<int>(position), name);
    if (r != 0 || position == 0 || position > 0xFFFF) return r;
    if (!cache) {
        g_names.push_back({table, {}});
        cache = &g_names.back();
        g_lastNames = g_names.size() - 1;
    }
    if (cache->names.size() < position) cache->names.resize(position);
    cache->names[position - 1] = name;
    return r;
}
Result EnginePort::getFieldType(Handle table, std::uint32_t position, char& type) {
    return engine::getFieldType(table, static_cast<int>(position), type);
}
Result EnginePort::getFieldLength(Handle table, std::uint32_t position, std::uint32_t& length) {
    return engine::getFieldLength(table, static_cast<int>(position), length);
}
Result EnginePort::getFieldDecimals(Handle table, std::uint32_t position, std::uint16_t& decimals) {
    return engine::getFieldDecimals(table, static_cast<int>(position), decimals);
}
Result EnginePort::getRecordCount(Handle table, std::uint32_t& count) {
    return engine::getRecordCount(table, count);
}
Result EnginePort::getTableType(Handle table, std::uint16_t& type) {
    return engine::getTableType(table, type);
}

Result EnginePort::getRecordNum(Handle table, std::uint32_t& recno) {
    return engine::getRecordNum(table, recno);
}
Result EnginePort::refreshRecord(Handle table) {
    return engine::refreshRecord(table);
}
Result EnginePort::gotoRecord(Handle table, std::uint32_t recno) {
    return engine::gotoRecord(table, recno);
}
Result EnginePort::gotoTop(Handle tableOrIndex) {
    return engine::gotoTop(tableOrIndex);
}
Result EnginePort::gotoBottom(Handle tableOrIndex) {
    return engine::gotoBottom(tableOrIndex);
}
Result EnginePort::skip(Handle tableOrIndex, std::int32_t n) {
    return engine::skip(tableOrIndex, n);
}
Result EnginePort::atBOF(Handle tableOrIndex, bool& bof) {
    return engine::atBOF(tableOrIndex, bof);
}
Result EnginePort::atEOF(Handle tableOrIndex, bool& eof) {
    return engine::atEOF(tableOrIndex, eof);
}
Result EnginePort::seek(Handle index, const engine::ExprValue& key, bool soft, bool& found) {
    return engine::seek(index, key, soft, found);
}

Result EnginePort::getField(Handle table, std::string_view field, std::string& text) {
    return engine::getField(table, field, text);
}
Result EnginePort::getDouble(Handle table, std::string_view field, double& value) {
    return engine::getDouble(table, field, value);
}
Result EnginePort::getLogical(Handle table, std::string_view field, bool& value) {
    return engine::getLogical(table, field, value);
}
Result EnginePort::getMemoLength(Handle table, std::string_view field, std::uint32_t& length) {
    return engine::getMemoLength(table, field, length);
}
Result EnginePort::getString(Handle table, std::string_view field, std::string& text) {
    return engine::getString(table, field, text);
}
Result EnginePort::setField(Handle table, std::string_view field, std::string_view text) {
    return engine::setField(table, field, text);
}
Result EnginePort::setString(Handle table, std::string_view field, std::string_view text) {
    return engine::setString(table, field, text);
}
Result EnginePort::setDouble(Handle table, std::string_view field, double value) {
    return engine::setDouble(table, field, value);
}
Result EnginePort::setLogical(Handle table, std::string_view field, bool value) {
    return engine::setLogical(table, field, value);
}

Result EnginePort::isDeleted(Handle table, bool& deleted) {
    return engine::isDeleted(table, deleted);
}
Result EnginePort::deleteRecord(Handle table) {
    return engine::deleteRecord(table);
}
Result EnginePort::recallRecord(Handle table) {
    return engine::recallRecord(table);
}
Result EnginePort::appendRecord(Handle table) {
    return engine::appendRecord(table);
}
Result EnginePort::writeRecord(Handle table) {
    return engine::writeRecord(table);
}

Result EnginePort::lockRecord(Handle table, std::uint32_t recno) {
    return engine::lockRecord(table, recno);
}
Result EnginePort::unlockRecord(Handle table, std::uint32_t recno) {
    return engine::unlockRecord(table, recno);
}
Result EnginePort::getAllLocks(Handle table, std::span<std::uint32_t> room, std::uint16_t& count) {
    return engine::getAllLocks(table, room, count);
}
Result EnginePort::lockTable(Handle table) {
    return engine::lockTable(table);
}
Result EnginePort::unlockTable(Handle table) {
    return engine::unlockTable(table);
}

Result EnginePort::createIndex(Handle tableOrIndex, std::string_view bag, std::string_view tag,
                               std::string_view key, std::string_view forText, std::string_view whileText,
                               std::uint32_t options, Handle& index) {
    return engine::createIndex(tableOrIndex, bag, tag, key, forText, whileText, options, index);
}
Result EnginePort::openIndex(Handle table, std::string_view bag, std::span<Handle> room,
                             std::uint16_t& count) {
    return engine::openIndex(table, bag, room, count);
}
Result EnginePort::closeAllIndexes(Handle table) {
    return engine::closeAllIndexes(table);
}
Result EnginePort::getIndexName(Handle index, std::string& name) {
    return engine::getIndexName(index, name);
}
Result EnginePort::getIndexExpr(Handle index, std::string& key) {
    return engine::getIndexExpr(index, key);
}
Result EnginePort::getIndexOrder(Handle index, std::uint16_t& position) {
    return engine::getIndexOrder(index, position);
}
Result EnginePort::getIndexHandleByOrder(Handle table, std::uint16_t position, Handle& index) {
    return engine::getIndexHandleByOrder(table, position, index);
}
Result EnginePort::getIndexHandle(Handle table, std::string_view name, Handle& index) {
    return engine::getIndexHandle(table, name, index);
}

namespace {

// The current record of a table as the expression evaluator reads it.
class EngineRecord final : public engine::RecordSource {
  public:
    EngineRecord(Handle table, const std::vector<engine::FieldDesc>& fields)
        : table_(table), fields_(fields) {}
    engine::ExprValue field(std::size_t index) const override {
        const int position = static_cast<int>(index + 1);
        const engine::FieldDesc& f = fields_[index];
        switch (f.type) {
        case 'N':
        case 'F': {
            double d = 0;
            engine::getDouble(table_, position, d);
            return engine::ExprValue::numeric(d, f.len, f.dec);
        }
        case 'D': {
            std::int32_t j = 0;
            engine::getJulian(table_, position, j);
            return engine::ExprValue::dateValue(j);
        }
        case 'L': {
            bool b = false;
            engine::getLogical(table_, position, b);
            return engine::ExprValue::logicalValue(b);
        }
        default: {
            std::string s;
            engine::getString(table_, position, s);
            return engine::ExprValue::character(std::move(s));
        }
        }
    }
    std::uint32_t recno() const override {
        std::uint32_t n = 0;
        engine::getRecordNum(table_, n);
        return n;
    }
    bool deleted() const override {
        bool d = false;
        engine::isDeleted(table_, d);
        return d;
    }

  private:
    Handle table_;
    const std::vector<engine::FieldDesc>& fields_;
};

} // namespace

Result EnginePort::extractKey(Handle index, engine::ExprValue& key) {
    Handle table = 0;
    std::string text;
    if (Result r = engine::getTableHandle(index, table); r != 0) return r;
    if (Result r = engine::getIndexExpr(index, text); r != 0) return r;
    std::uint16_t count = 0;
    if (Result r = engine::getNumFields(table, count); r != 0) return r;
    std::vector<engine::FieldDesc> fields(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        std::uint32_t len = 0;
        std::uint16_t dec = 0;
        const int position = i + 1;
        engine::getFieldName(table, position, fields[i].name);
        engine::getFieldType(table, position, fields[i].type);
        engine::getFieldLength(table, position, len);
        engine::getFieldDecimals(table, position, dec);
        fields[i].len = static_cast<std::uint16_t>(len);
        fields[i].dec = static_cast<std::uint8_t>(dec);
    }
    engine::ExprSettings settings;
    bool exact = false;
    engine::getExact(exact);
    settings.exact = exact;
    engine::getDateFormat(settings.dateFormat);
    std::uint16_t epoch = 1900;
    engine::getEpoch(epoch);
    settings.epoch = epoch;
    engine::Expression expr;
    std::size_t errorPos = 0;
    if (Result r = engine::Expression::compile(text, fields, "", settings, expr, errorPos); r != 0) return r;
    key = expr.eval(EngineRecord(table, fields), settings);
    return 0;
}

namespace {
EnginePort g_engine;
EnginePort* g_port = &g_engine;
} // namespace

void setEnginePort(EnginePort* port) {
    g_port = port ? port : &g_engine;
}
EnginePort& enginePort() {
    return *g_port;
}

} // namespace tables
