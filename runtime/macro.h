// The macro compiler: turns the text of a code block, "{ || expression }", into a code block at
// run time. The text is read with the same grammar as the table engine's keys and conditions,
// with what the program's language adds: NIL, arrays {a, b}, code blocks {|a, b| ...},
// subscripts (list[n]; an index outside the list is "Bound error" 2/1132, a value that is not
// a list "Argument error" 1/1068) and arguments left out of a call (f(a, , c), f(, b)).
//
// Names in the text are the block's parameters, then fields of the work areas (through the
// FieldAccess the table layer installs). Calls reach the routines registered here by name.
// Errors (a text that does not compile, an unknown name or routine, operands of the wrong
// type) go through the error launch like every other runtime error.
#pragma once

#include "value.h"

#include <cstddef>
#include <functional>
#include <string_view>

namespace rt {

// Longest text compiled code builds (joining texts, SPACE, REPLICATE, padding); a longer one
// raises "String overflow" (BASE/1209) instead of exhausting memory.
inline constexpr std::size_t kMaxMacroString = std::size_t{16} << 20;

// A routine that compiled text can call by name. Arguments left out arrive as NIL; the span
// holds as many values as the call wrote.
using Routine = std::function<Value(Args)>;

// Registers (or replaces) a routine; the name is matched without regard to case.
void registerRoutine(std::string_view name, Routine fn);
bool hasRoutine(std::string_view name);

// Field access for names in compiled text. get answers false when there is no such field; an
// empty alias means the current work area.
class FieldAccess {
  public:
    virtual ~FieldAccess() = default;
    virtual bool get(std::string_view alias, std::string_view name, Value& out) = 0;
};

// Installs the field access (null: none; every name that is not a parameter is then unknown).
void setFieldAccess(FieldAccess* access);

// Compiles the whole text of a block, "{ || text }" or "{ |a, b| text }". A text that does not
// compile raises BASE/1449 "Syntax error" (generic code 7) with the operation
// "position <n>", n the 1-based position of the fault in the text, and answers NIL.
Value compileBlock(std::string_view blockText);

// Compiles "{ ||" + text + "}" and evaluates the block; NIL when it does not compile (the
// position in the syntax error counts in that block text, so text starts at position 5).
Value evalMacro(std::string_view text);

// Registers the runtime's own routines (strings, dates, lists, settings, errors) under their
// names. Idempotent; start-up calls it once.
void registerRuntimeRoutines();

} // namespace rt
