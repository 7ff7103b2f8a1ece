// The local drivers "DBF", "SDF" and "DELIM". They register at start-up like every driver of
// the program but serve no work area here: their table routines only answer a method count.

#include "local_drivers.h"

namespace tables {

namespace {
int localTable(std::uint16_t* count, MethodTable* table, std::uint16_t methods) {
    if (!count || !table) return 1;
    *count = methods;
    return 0;
}
} // namespace

int DBF_GETFUNCTABLE(std::uint16_t* count, MethodTable* table) {
    return localTable(count, table, 90);
}
int SDF_GETFUNCTABLE(std::uint16_t* count, MethodTable* table) {
    return localTable(count, table, 90);
}
int DELIM_GETFUNCTABLE(std::uint16_t* count, MethodTable* table) {
    return localTable(count, table, 90);
}

} // namespace tables
