// The table layer in compiled text: its commands registered with the macro compiler by name,
// and the field access that lets compiled text read fields ("NOMBRE", "CLIENTES->NOMBRE").
#pragma once

#include "runtime/macro.h"

#include <string_view>

namespace tables {

// Fields of the current work area, or of the work area open under an alias, for compiled text.
class WorkAreaFields : public rt::FieldAccess {
  public:
    bool get(std::string_view alias, std::string_view name, rt::Value& out) override;
};

// Registers every table command and registry routine under its name, installs the field
// access, and lets DBSETRELATION compile a key text given without a block. Idempotent.
void registerTableRoutines();

} // namespace tables
