// Everything the "ADS" driver asks of the table engine: the server type, the process settings
// it mirrors, the end of the program, and every table, field, lock and index call of its work
// areas. The base class forwards each call to our table engine (engine/engine.h); tests put a
// recording port in its place. The driver calls the engine only through this port.
#pragma once

#include "engine/engine.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tables {

using engine::Handle;

// Every call answers the engine's result code, 0 meaning success.
class EnginePort {
  public:
    using Result = std::uint32_t;
    virtual ~EnginePort() = default;

    // ---- Process -------------------------------------------------------------------------
    // The engine's server-type mask: 1 local server, 2 remote server, 4 internet server.
    virtual Result setServerType(std::uint16_t mask);
    virtual Result setExact(bool exact);
    virtual Result setDateFormat(std::string_view format);
    virtual Result getDateFormat(std::string& format);
    virtual Result setEpoch(std::uint16_t year);
    virtual Result setSearchPath(std::string_view path);
    virtual Result setDefaultFolder(std::string_view folder);
    virtual Result setShowDeleted(bool show);
    virtual Result applicationExit();
    virtual Result getVersion(std::uint32_t& major, std::uint32_t& minor, char& letter,
                              std::string& description);
    // The engine's error display.
    virtual Result showError(std::string_view text);

    // ---- Tables --------------------------------------------------------------------------
    virtual Result openTable(Handle connection, std::string_view name, std::string_view alias,
                             std::uint16_t tableType, std::uint16_t charType, std::uint16_t lockType,
                             std::uint16_t checkRights, std::uint32_t mode, Handle& table);
    virtual Result createTable(std::string_view name, std::string_view alias, std::uint16_t tableType,
                               std::uint16_t charType, std::span<const engine::FieldDef> fields,
                               Handle& table);
    virtual Result closeTable(Handle table);
    virtual Result getNumFields(Handle table, std::uint16_t& count);
    virtual Result getFieldName(Handle table, std::uint32_t position, std::string& name);
    virtual Result getFieldType(Handle table, std::uint32_t position, char& type);
    virtual Result getFieldLength(Handle table, std::uint32_t position, std::uint32_t& length);
    virtual Result getFieldDecimals(Handle table, std::uint32_t position, std::uint16_t& decimals);
    virtual Result getRecordCount(Handle table, std::uint32_t& count);
    virtual Result getTableType(Handle table, std::uint16_t& type);

    // ---- Position ------------------------------------------------------------------------
    virtual Result getRecordNum(Handle table, std::uint32_t& recno);
    virtual Result refreshRecord(Handle table);
    virtual Result gotoRecord(Handle table, std::uint32_t recno);
    virtual Result gotoTop(Handle tableOrIndex);
    virtual Result gotoBottom(Handle tableOrIndex);
    virtual Result skip(Handle tableOrIndex, std::int32_t n);
    virtual Result atBOF(Handle tableOrIndex, bool& bof);
    virtual Result atEOF(Handle tableOrIndex, bool& eof);
    virtual Result seek(Handle index, const engine::ExprValue& key, bool soft, bool& found);

    // ---- Fields (by name) ----------------------------------------------------------------
    virtual Result getField(Handle table, std::string_view field, std::string& text);
    virtual Result getDouble(Handle table, std::string_view field, double& value);
    virtual Result getLogical(Handle table, std::string_view field, bool& value);
    virtual Result getMemoLength(Handle table, std::string_view field, std::uint32_t& length);
    virtual Result getString(Handle table, std::string_view field, std::string& text);
    virtual Result setField(Handle table, std::string_view field, std::string_view text);
    virtual Result setString(Handle table, std::string_view field, std::string_view text);
    virtual Result setDouble(Handle table, std::string_view field, double value);
    virtual Result setLogical(Handle table, std::string_view field, bool value);

    // ---- Records -------------------------------------------------------------------------
    virtual Result isDeleted(Handle table, bool& deleted);
    virtual Result deleteRecord(Handle table);
    virtual Result recallRecord(Handle table);
    virtual Result appendRecord(Handle table);
    virtual Result writeRecord(Handle table);

    // ---- Locks ---------------------------------------------------------------------------
    virtual Result lockRecord(Handle table, std::uint32_t recno);
    virtual Result unlockRecord(Handle table, std::uint32_t recno);
    virtual Result getAllLocks(Handle table, std::span<std::uint32_t> room, std::uint16_t& count);
    virtual Result lockTable(Handle table);
    virtual Result unlockTable(Handle table);

    // ---- Indexes -------------------------------------------------------------------------
    virtual Result createIndex(Handle tableOrIndex, std::string_view bag, std::string_view tag,
                               std::string_view key, std::string_view forText, std::string_view whileText,
                               std::uint32_t options, Handle& index);
    virtual Result openIndex(Handle table, std::string_view bag, std::span<Handle> room,
                             std::uint16_t& count);
    virtual Result closeAllIndexes(Handle table);
    virtual Result getIndexName(Handle index, std::string& name);
    virtual Result getIndexExpr(Handle index, std::string& key);
    virtual Result getIndexOrder(Handle index, std::uint16_t& position);
    virtual Result getIndexHandleByOrder(Handle table, std::uint16_t position, Handle& index);
    virtual Result getIndexHandle(Handle table, std::string_view name, Handle& index);
    // The key value of the current record in an index's order.
    virtual Result extractKey(Handle index, engine::ExprValue& key);
};

// Installs a port in place of the engine (null puts the engine back). The port must outlive its
// use; the registry does not own it.
void setEnginePort(EnginePort* port);
EnginePort& enginePort();

} // namespace tables
