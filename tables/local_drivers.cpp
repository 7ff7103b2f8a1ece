// The local drivers "DBF", "SDF" and "DELIM". They register at start-up like every driver of
// the program but serve no work area here: their table routines only answer a method count.

#include "local_drivers.h"

#include "driver.h"

namespace tables {

namespace {
int localTable(std::uint16_t* count, std::unique_ptr<WorkAreaDriver>* driver, std::uint16_t methods) {
    if (!count || !driver) return 1;
    *count = methods;
    *driver = std::make_unique<WorkAreaDriver>();
    return 0;
}
} // namespace

int DBF_GETFUNCTABLE(std::uint16_t* count, std::unique_ptr<WorkAreaDriver>* driver) {
    return localTable(count, driver, 90);
}
int SDF_GETFUNCTABLE(std::uint16_t* count, std::unique_ptr<WorkAreaDriver>* driver) {
    return localTable(count, driver, 90);
}
int DELIM_GETFUNCTABLE(std::uint16_t* count, std::unique_ptr<WorkAreaDriver>* driver) {
    return localTable(count, driver, 90);
}

} // namespace tables
