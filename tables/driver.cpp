#include "driver.h"

#include "runtime/error.h"

namespace tables {

// The generic driver: no table behind the work area, so every operation fails quietly.
std::unique_ptr<WorkArea> WorkAreaDriver::newArea() {
    return std::make_unique<WorkArea>();
}
std::string WorkAreaDriver::name(const WorkArea*) {
    return {};
}
std::string WorkAreaDriver::info(DriverInfo, const WorkArea*) {
    return {};
}
bool WorkAreaDriver::open(WorkArea&, const OpenRequest&) {
    return false;
}
bool WorkAreaDriver::create(std::string_view, std::span<const FieldInfo>) {
    return false;
}
bool WorkAreaDriver::close(WorkArea&) {
    return true;
}
bool WorkAreaDriver::goTo(WorkArea&, std::uint32_t) {
    return false;
}
bool WorkAreaDriver::goToId(WorkArea&, const rt::Value&) {
    return false;
}
bool WorkAreaDriver::goTop(WorkArea&) {
    return false;
}
bool WorkAreaDriver::goBottom(WorkArea&) {
    return false;
}
bool WorkAreaDriver::skip(WorkArea&, std::int64_t) {
    return false;
}
bool WorkAreaDriver::seek(WorkArea&, const rt::Value&, bool, bool) {
    return false;
}
bool WorkAreaDriver::recordNumber(WorkArea&, std::uint32_t&) {
    return false;
}
bool WorkAreaDriver::recordCount(WorkArea&, std::uint32_t&) {
    return false;
}
bool WorkAreaDriver::getValue(WorkArea&, std::uint32_t, rt::Value&) {
    return false;
}
bool WorkAreaDriver::putValue(WorkArea&, std::uint32_t, const rt::Value&) {
    return false;
}
bool WorkAreaDriver::deleted(WorkArea&, bool&) {
    return false;
}
bool WorkAreaDriver::deleteRecord(WorkArea&) {
    return false;
}
bool WorkAreaDriver::recall(WorkArea&) {
    return false;
}
bool WorkAreaDriver::append(WorkArea&) {
    return false;
}
bool WorkAreaDriver::flush(WorkArea&) {
    return false;
}
bool WorkAreaDriver::lock(WorkArea&, LockInfo& lock) {
    lock.result = false;
    return false;
}
bool WorkAreaDriver::unlock(WorkArea&, std::optional<std::uint32_t>) {
    return true;
}
bool WorkAreaDriver::orderCreate(WorkArea&, const CreateOrderRequest&) {
    return false;
}
bool WorkAreaDriver::orderListAdd(WorkArea&, std::string_view) {
    return false;
}
bool WorkAreaDriver::orderListClear(WorkArea&) {
    return true;
}
bool WorkAreaDriver::setOrder(WorkArea&, const rt::Value&) {
    return false;
}
bool WorkAreaDriver::orderNumber(WorkArea&, std::uint16_t& position) {
    position = 0;
    return true;
}
bool WorkAreaDriver::orderInfo(WorkArea&, OrderInfo, const rt::Value&, std::string& result) {
    result.clear();
    return false;
}
void WorkAreaDriver::exit() {}

void raiseDriverError(WorkAreaDriver& driver, const WorkArea* area, int genCode, std::int64_t subCode,
                      std::string_view fileName, std::string_view operation) {
    std::string subsystem = driver.name(area);
    if (subsystem.empty()) subsystem = "???DRIVER";
    rt::ErrorPtr e = rt::makeError(genCode, subCode, operation, 0, subsystem);
    e->FileName = fileName;
    rt::launchError(e);
}

namespace {
std::function<void(std::string_view)> g_trace;
} // namespace

void setTraceOutput(std::function<void(std::string_view)> writer) {
    g_trace = std::move(writer);
}

void traceLine(std::string_view line) {
    if (g_trace) {
        g_trace(line);
        return;
    }
    rt::writeErrorOutput(std::string(line) + "\n");
}

} // namespace tables
