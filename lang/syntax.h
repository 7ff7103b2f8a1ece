// The expression language's grammar: one tokenizer and one parser for every place that reads
// expressions (the table engine's keys and conditions, the runtime's compiled code blocks).
// It builds a syntax tree and knows nothing of fields, functions or values; its readers
// resolve names and check types on the tree.
//
// Texts are delimited by "...", '...' or [...]. A "[" right after an operand (a name, a
// literal, a call, a closing parenthesis, brace or bracket) opens a subscript instead:
// a[1], f()[2], {1, 2}[i][j].
//
// Standard library only, so that both the engine and the runtime can link it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace syntax {

// Why a text does not parse.
enum class Fault : std::uint8_t {
    None,
    Syntax,   // unexpected character or token, or an operand is missing
    Paren,    // unbalanced parentheses, braces or brackets, unterminated literal
    Trailing, // text left over after a complete expression
    TooDeep,  // nested deeper than Options::maxDepth
    Empty,    // nothing but blanks
};

enum class NodeKind : std::uint8_t {
    Number,  // number
    String,  // text (contents, no delimiters)
    Logical, // .T. .F. .Y. .N.
    Nil,     // NIL (only with Options::nilLiteral)
    Date,    // {...} date literal; text holds what lies between the braces
    Array,   // {a, b, ...}; kids are the elements (only with Options::braceArrays)
    Block,   // {|a, b| e1, e2}; params, kids are the expressions (only with Options::braceArrays)
    Name,    // a name, perhaps with an alias: alias->name or alias.name
    Call,    // name(args); an omitted argument is a kid of kind Omitted
    Omitted, // an argument left out (only with Options::omittedArguments)
    Unary,   // op is a UnaryOp; one kid
    Binary,  // op is a BinaryOp; two kids
    Index,   // value[n]: kids are the value and the subscript; pos is the "["
};

enum class UnaryOp : std::uint8_t { Neg, Plus, Not };

enum class BinaryOp : std::uint8_t {
    And,
    Or,
    Add,
    Sub,
    Mul,
    Div,
    Mod,
    Pow,
    Eq,
    EqEq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    Contains, // $
};

struct Node {
    NodeKind kind = NodeKind::Nil;
    std::uint8_t op = 0;    // UnaryOp or BinaryOp
    std::size_t pos = 0;    // 0-based byte position: the operator, the literal, the (alias) name
    std::size_t endPos = 0; // Call: the closing parenthesis; Name: the name after the alias
    std::string text;       // Name and Call: the name in upper case; String: contents; Date: body
    std::string alias;      // Name: the alias in upper case, empty when none
    bool arrow = false;     // Name: the alias was written with "->" (else ".")
    double number = 0;
    bool logical = false;
    std::vector<std::unique_ptr<Node>> kids;
    std::vector<std::size_t> argPos; // Call: where each argument's text starts
    std::vector<std::string> params; // Block: parameter names in upper case
    std::size_t height = 1;          // longest chain of operations below and including this node

    UnaryOp unary() const { return static_cast<UnaryOp>(op); }
    BinaryOp binary() const { return static_cast<BinaryOp>(op); }
};

// What the reader accepts beyond the grammar that keys and conditions use.
struct Options {
    bool braceArrays = false;      // "{" opens an array or a code block; "{^...}" stays a date
    bool nilLiteral = false;       // NIL is the empty value, not a name
    bool omittedArguments = false; // f(a, , c) and f(, b)
    std::size_t maxDepth = 200;    // deepest nesting of operators, parentheses and calls
};

// Parses the whole text. On success answers Fault::None and the tree in out; otherwise the fault
// and the 0-based byte position where it lies (never past the end of the text).
Fault parse(std::string_view text, const Options& options, std::unique_ptr<Node>& out, std::size_t& errorPos);

// "{^yyyy-mm-dd}": when body (what lies between the braces, leading blanks allowed) starts with
// "^", reads its three numbers (separators "-", "/" or "."). Answers false for a body that
// starts with "^" but is not three numbers; isIso tells whether it started with "^".
bool isoDateParts(std::string_view body, bool& isIso, long& year, long& month, long& day);

} // namespace syntax
