// The host file a table layer's file name stands for, as the file services and the engine read
// it: on Windows the name itself; on other hosts "T:\datos\clientes.dbf" and the like through
// the drive table and case-blind names (files/hostpath.h).
#pragma once

#include <string>
#include <string_view>

namespace tables {

std::string hostFileName(std::string_view name);

} // namespace tables
