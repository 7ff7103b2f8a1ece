// Inside the engine's expressions: the compiled form that expr.cpp builds from the syntax tree,
// the evaluator (expr_eval.cpp) runs and the function library (expr_functions.cpp) serves.
// Not part of the engine's interface.
#pragma once

#include "engine/expr.h"
#include "lang/lang.h"
#include "lang/syntax.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// Longest string an expression may build (SPACE, REPLICATE, padding, concatenation); longer
// results give Nil instead of exhausting memory on a hostile expression.
inline constexpr std::size_t kMaxExprString = std::size_t{4} << 20;

enum class Fn : std::uint8_t {
    Upper,
    Lower,
    Str,
    Val,
    Dtos,
    Dtoc,
    Ctod,
    Stod,
    Substr,
    Left,
    Right,
    Trim,
    Rtrim,
    Ltrim,
    Alltrim,
    Padl,
    Padr,
    Padc,
    Iif,
    Deleted,
    Recno,
    Empty,
    Day,
    Month,
    Year,
    Strzero,
    Len,
    Space,
    Replicate,
    Abs,
    Int,
    Round,
    Max,
    Min,
    Chr,
    Asc,
    At,
};

// Static types: 'C' 'N' 'D' 'L', 'U' unknown (checked at run time), '*' any (arguments).
struct FnInfo {
    const char* name;
    Fn fn;
    std::uint8_t minArgs, maxArgs;
    const char* argTypes; // one letter per argument
    char result;          // '1' = the type of argument 1 (MAX, MIN), '?' = IIF's rule
};

// A function by name (upper case): the full name, or an abbreviation of at least four letters.
const FnInfo* findFunction(std::string_view name);

// Calls a function on its evaluated arguments (at most three). IIF, DELETED and RECNO need the
// evaluator and are not served here.
ExprValue callFunction(Fn fn, const ExprValue* args, std::size_t count, const ExprSettings& settings);

// The static type letter of a field type, and the value kind of a static type.
char staticType(char fieldType);
ExprValue::Kind kindOf(char staticType);

// Dates: 0 unless year, month and day name a real day; text in a date pattern and back.
std::int32_t makeDate(long y, long m, long d);
std::int32_t parseDate(std::string_view text, std::string_view pattern, int epoch);

// String order and blank trimming, as the runtime's compiled code has them.
using lang::compareStrings;
using lang::rtrimBlanks;

// ---------------------------------------------------------------------------------------
// The compiled form: a flat list of nodes, children before their parents, the root last.

enum class Op : std::uint8_t {
    Literal,
    DateLiteral,
    Field,
    Call,
    Neg,
    Not,
    Binary, // the operator is in bin
};

struct ExprNode {
    Op op = Op::Literal;
    syntax::BinaryOp bin = syntax::BinaryOp::And;
    char type = 'U';                 // static type
    std::uint32_t a = 0, b = 0;      // children (unary, binary)
    std::vector<std::uint32_t> args; // call arguments
    Fn fn = Fn::Upper;
    std::size_t field = 0;
    ExprValue value; // literal; date literal text in value.str
    std::size_t height = 1;
};

struct ExprProgram {
    std::string text;
    std::vector<FieldDesc> fields;
    std::vector<ExprNode> nodes;
    std::uint32_t root = 0;
};

// Evaluates the program's node n on a record.
ExprValue evalProgram(const ExprProgram& prog, std::uint32_t n, const RecordSource& record,
                      const ExprSettings& settings);

} // namespace engine
