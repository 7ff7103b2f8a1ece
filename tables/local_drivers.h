// Table routines of the local drivers linked into the program.
#pragma once

#include "registry.h"

namespace tables {

int DBF_GETFUNCTABLE(std::uint16_t* count, std::unique_ptr<WorkAreaDriver>* driver);
int SDF_GETFUNCTABLE(std::uint16_t* count, std::unique_ptr<WorkAreaDriver>* driver);
int DELIM_GETFUNCTABLE(std::uint16_t* count, std::unique_ptr<WorkAreaDriver>* driver);

} // namespace tables
