// Table routines of the local drivers linked into the program.
#pragma once

#include "registry.h"

namespace tables {

int DBF_GETFUNCTABLE(std::uint16_t* count, MethodTable* table);
int SDF_GETFUNCTABLE(std::uint16_t* count, MethodTable* table);
int DELIM_GETFUNCTABLE(std::uint16_t* count, MethodTable* table);

} // namespace tables
