// The work-area driver interface: the operations a table driver performs for a work area.
// The base class is the generic driver: every operation it does not have fails quietly.
// The work-area layer (workarea.cpp) keeps the work areas and calls their driver.
#pragma once

#include "runtime/value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tables {

class WorkAreaDriver;

// A field as the driver presents it: character, numeric, date, logical or memo.
struct FieldInfo {
    std::string name;
    char type = 'C'; // C N D L M
    std::uint32_t len = 0;
    std::uint16_t dec = 0;
};

// The condition ORDCONDSET leaves for the next index creation of a work area.
struct OrderCondition {
    std::string forText;
    bool all = true; // all records (no start record, NEXT, RECORD or REST scope)
    bool additive = false;
    bool useCurrent = false; // scan in the current order
    bool custom = false;
    bool descending = false;
};

// One relation from a parent work area to a child.
struct Relation {
    int child = 0;
    rt::Value key; // a code block evaluated in the parent
    std::string text;
};

// What every work area holds; a driver derives its own state from it.
class WorkArea {
  public:
    virtual ~WorkArea() = default;
    int number = 0;
    std::string alias; // upper case
    WorkAreaDriver* driver = nullptr;
    bool bof = false;
    bool eof = false;
    bool found = false;
    std::vector<FieldInfo> fields;
    std::optional<OrderCondition> pendingCondition;
    std::vector<Relation> relations;
};

struct OpenRequest {
    std::string table; // as passed to the open, extension added
    std::string alias;
    bool shared = false;
    bool readOnly = false;
};

struct CreateOrderRequest {
    std::string bag; // empty: the table's structural compound index
    std::string tag;
    std::string key;
    rt::Value keyBlock;
    bool unique = false;
};

// A lock request: record number (none for the current record), method, out result.
struct LockInfo {
    enum Method : int { kRecord = 1, kAddRecord = 2, kTable = 3 };
    std::optional<std::uint32_t> record;
    int method = kRecord;
    bool result = false;
};

enum class OrderInfo { kName, kKey };
enum class DriverInfo { kVersion, kEngineVersion, kTableExt, kMemoExt, kIndexExt };

class WorkAreaDriver {
  public:
    virtual ~WorkAreaDriver() = default;

    // A new work area's state (the table type is copied from the file type here).
    virtual std::unique_ptr<WorkArea> newArea();
    // The driver's name for the work area (null: for a new work area); "" when it gives none.
    virtual std::string name(const WorkArea* area);
    virtual std::string info(DriverInfo what, const WorkArea* area);

    virtual bool open(WorkArea& area, const OpenRequest& request);
    virtual bool create(std::string_view table, std::span<const FieldInfo> fields);
    virtual bool close(WorkArea& area);

    virtual bool goTo(WorkArea& area, std::uint32_t record);
    // Go to a record by identifier: anything but a number is a data-type error.
    virtual bool goToId(WorkArea& area, const rt::Value& id);
    virtual bool goTop(WorkArea& area);
    virtual bool goBottom(WorkArea& area);
    virtual bool skip(WorkArea& area, std::int64_t count);
    virtual bool seek(WorkArea& area, const rt::Value& key, bool soft, bool last);
    virtual bool recordNumber(WorkArea& area, std::uint32_t& record);
    virtual bool recordCount(WorkArea& area, std::uint32_t& count);

    // Fields by 1-based position.
    virtual bool getValue(WorkArea& area, std::uint32_t position, rt::Value& value);
    virtual bool putValue(WorkArea& area, std::uint32_t position, const rt::Value& value);

    virtual bool deleted(WorkArea& area, bool& isDeleted);
    virtual bool deleteRecord(WorkArea& area);
    virtual bool recall(WorkArea& area);
    virtual bool append(WorkArea& area);
    virtual bool flush(WorkArea& area);

    virtual bool lock(WorkArea& area, LockInfo& lock);
    virtual bool unlock(WorkArea& area, std::optional<std::uint32_t> record);

    virtual bool orderCreate(WorkArea& area, const CreateOrderRequest& request);
    virtual bool orderListAdd(WorkArea& area, std::string_view bag);
    virtual bool orderListClear(WorkArea& area);
    // A number (0 natural order) or a tag name.
    virtual bool setOrder(WorkArea& area, const rt::Value& order);
    virtual bool orderNumber(WorkArea& area, std::uint16_t& position);
    // Name or key of an order (a number, a name, or none for the current one).
    virtual bool orderInfo(WorkArea& area, OrderInfo what, const rt::Value& order, std::string& result);

    // The driver's exit step, run once at program end.
    virtual void exit();
};

// Raises a driver's error: generic code and its description, sub-code, file name when known,
// severity 2 and subsystem = the driver's name for the work area ("???DRIVER" when it gives
// none), handed to the installed error handler through the error launch.
void raiseDriverError(WorkAreaDriver& driver, const WorkArea* area, int genCode, std::int64_t subCode,
                      std::string_view fileName = {}, std::string_view operation = {});

// The runtime's diagnostic trace output (by default the process's error output); tests
// replace it.
void setTraceOutput(std::function<void(std::string_view)> writer);
void traceLine(std::string_view line);

} // namespace tables
