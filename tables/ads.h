// The "ADS" driver: its table routine, its engine settings, the listener that mirrors the
// process settings into the engine, and its work-area operations over the engine port.
#pragma once

#include "driver.h"
#include "engine_port.h"
#include "registry.h"

#include "runtime/value.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tables {

// A work area served by "ADS".
class AdsArea : public WorkArea {
  public:
    Handle table = 0;
    Handle order = 0; // the current index, 0 for natural order
    int tableType = 2;
    bool shared = false;
    bool readOnly = false;
    bool fileLocked = false;
    std::uint32_t cachedCount = 0;
    std::string tableName; // as passed to the open
    std::string buffer;    // the value buffer: the longest field, at least 18 characters
    bool recordChanged = false;
    std::vector<std::string> fieldNames; // by position - 1: the engine's name, asked before each use
    std::string savedFormat;
};

class AdsDriver : public WorkAreaDriver {
  public:
    std::unique_ptr<WorkArea> newArea() override;
    std::string name(const WorkArea* area) override;
    std::string info(DriverInfo what, const WorkArea* area) override;

    bool open(WorkArea& area, const OpenRequest& request) override;
    bool create(std::string_view table, std::span<const FieldInfo> fields) override;
    bool close(WorkArea& area) override;

    bool goTo(WorkArea& area, std::uint32_t record) override;
    bool goToId(WorkArea& area, const rt::Value& id) override;
    bool goTop(WorkArea& area) override;
    bool goBottom(WorkArea& area) override;
    bool skip(WorkArea& area, std::int64_t count) override;
    bool seek(WorkArea& area, const rt::Value& key, bool soft, bool last) override;
    bool recordNumber(WorkArea& area, std::uint32_t& record) override;
    bool recordCount(WorkArea& area, std::uint32_t& count) override;

    bool getValue(WorkArea& area, std::uint32_t position, rt::Value& value) override;
    bool putValue(WorkArea& area, std::uint32_t position, const rt::Value& value) override;

    bool deleted(WorkArea& area, bool& isDeleted) override;
    bool deleteRecord(WorkArea& area) override;
    bool recall(WorkArea& area) override;
    bool append(WorkArea& area) override;
    bool flush(WorkArea& area) override;

    bool lock(WorkArea& area, LockInfo& lock) override;
    bool unlock(WorkArea& area, std::optional<std::uint32_t> record) override;

    bool orderCreate(WorkArea& area, const CreateOrderRequest& request) override;
    bool orderListAdd(WorkArea& area, std::string_view bag) override;
    bool orderListClear(WorkArea& area) override;
    bool setOrder(WorkArea& area, const rt::Value& order) override;
    bool orderNumber(WorkArea& area, std::uint16_t& position) override;
    bool orderInfo(WorkArea& area, OrderInfo what, const rt::Value& order, std::string& result) override;

    void exit() override;

  private:
    bool releaseRecordLocks(AdsArea& area);
    bool readPosition(AdsArea& area, Handle cursor);
};

// The driver's table routine: method count 95, the settings listener registered (once), the
// driver made.
int ADS_GETFUNCTABLE(std::uint16_t* count, std::unique_ptr<WorkAreaDriver>* driver);
constexpr std::uint16_t kAdsMethodCount = 95;

// ADSSETFILETYPE([n]): answers the file type as it was; n of 1, 2 or 3 (1 NTX, 2 CDX, 3 ADT)
// becomes the file type, anything else (0.5 and 2.5 included) is ignored. Default 2.
std::int64_t ADSSETFILETYPE(const rt::Value& n = {});
// The file type in force.
int adsFileType();

// ADSSETSERVERTYPE([n]): hands n (as an unsigned 16-bit value) to the engine and answers the
// engine's result code; without an argument answers 999999 and calls nothing.
std::int64_t ADSSETSERVERTYPE(const rt::Value& n = {});

// The driver's name for a table type: "ADSNTX", "ADSCDX" or "ADSADT".
std::string adsDriverName(int tableType);

// The WHILE text of an index created in the current order: key expression, "<=" and the
// current key value written so that it compiles and reads back as that value (character
// values in double quotes, else single quotes, else [ ], and a value that holds all three as
// literals joined with "+"; dates as STOD("YYYYMMDD"); numbers as their plain text).
std::string whileText(std::string_view keyExpr, const engine::ExprValue& key);

// Back to the defaults, the listener removed (for tests).
void resetAds();

} // namespace tables
