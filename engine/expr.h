// Key and condition expressions of the table engine: a parser and an evaluator for the
// expression language that index keys, FOR conditions and WHILE conditions are written in.
//
// An expression is compiled once against a table's field list and then evaluated on records
// that a RecordSource hands in. Compilation refuses a bad expression with a result code and
// the 0-based byte position of the fault; evaluation never fails: a type mismatch that could
// not be seen at compile time gives the Nil value.
//
// This header also holds the result codes of the index half of the engine (7500-7599).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// Every engine call answers a result code; 0 is success.
using Result = std::uint32_t;

// Result codes of expressions, key encoding and compound index files.
enum : Result {
    kOk = 0,
    // Expressions (compile time; errorPos says where).
    kExprSyntax = 7501,          // unexpected character or token, or an operand is missing
    kExprUnknownField = 7502,    // a name that is neither a field nor a known alias prefix
    kExprUnknownFunction = 7503, // a call of a function this engine does not know
    kExprArgCount = 7504,        // too few or too many arguments
    kExprType = 7505,            // an operand or argument of a type the operation refuses
    kExprParen = 7506,           // unbalanced parentheses or brackets, unterminated literal
    kExprTrailing = 7507,        // text left over after a complete expression
    kExprTooDeep = 7508,         // nested deeper than the evaluator allows
    kExprEmpty = 7509,           // nothing but blanks
    kExprSubscript = 7510,       // a subscript (value[n]): keys and conditions hold no lists
    // Keys and index files.
    kKeyBadType = 7520,     // key type other than C, N, D, L
    kKeyBadLength = 7521,   // key length 0, over 240, or not what the tag says
    kCdxDamaged = 7530,     // the file is not a compound index or its structure is broken
    kCdxIo = 7531,          // reading or writing the storage failed
    kCdxTagExists = 7532,   // a tag of that name is already in the file
    kCdxNoTag = 7533,       // no tag of that name / id
    kCdxBadTagName = 7534,  // empty, longer than 10 characters or not a name
    kCdxExprTooLong = 7535, // key and FOR text do not fit the tag header's pool
    kCdxKeyNotFound = 7536, // delete of a (key, record) pair that is not in the tag
    kCdxNotOpen = 7537,     // the index was not created or opened (or a cursor is unbound)
    kCdxTooBig = 7538,      // the file would grow past 4 GB
};

// A value of the expression language.
struct ExprValue {
    enum class Kind : std::uint8_t { Nil, Character, Numeric, Date, Logical };

    Kind kind = Kind::Nil;
    std::string str;       // Character: bytes
    double num = 0;        // Numeric
    std::int32_t date = 0; // Date: Julian day number, 0 the empty date
    bool logical = false;  // Logical
    // Numeric values read from a field keep the field's width and decimals (0 = unknown);
    // STR() without a width uses them.
    std::uint16_t width = 0;
    std::uint8_t decimals = 0;

    static ExprValue nil() { return {}; }
    static ExprValue character(std::string s) {
        ExprValue v;
        v.kind = Kind::Character;
        v.str = std::move(s);
        return v;
    }
    static ExprValue numeric(double n, std::uint16_t width = 0, std::uint8_t decimals = 0) {
        ExprValue v;
        v.kind = Kind::Numeric;
        v.num = n;
        v.width = width;
        v.decimals = decimals;
        return v;
    }
    static ExprValue dateValue(std::int32_t julian) {
        ExprValue v;
        v.kind = Kind::Date;
        v.date = julian;
        return v;
    }
    static ExprValue logicalValue(bool b) {
        ExprValue v;
        v.kind = Kind::Logical;
        v.logical = b;
        return v;
    }

    bool isNil() const { return kind == Kind::Nil; }
    // Same kind and same contents (width and decimals are not compared).
    friend bool operator==(const ExprValue& a, const ExprValue& b);
};

// One field of a table, as the expression compiler sees it. Types: C character, N and F
// numeric, D date, L logical, M memo (its text); other letters are accepted but give Nil.
struct FieldDesc {
    std::string name;
    char type = 'C';
    std::uint16_t len = 0;
    std::uint8_t dec = 0;
};

// The settings that change what an expression answers. The table side owns the process-wide
// values and passes them in.
struct ExprSettings {
    bool exact = false;                  // string "=" exact (trailing blanks ignored) or prefix
    std::string dateFormat = "mm/dd/yy"; // DTOC, CTOD and {dd-mm-yy} date literals
    int epoch = 1900;                    // first year of the window for two-digit years
};

// The record an expression is evaluated on.
class RecordSource {
  public:
    virtual ~RecordSource() = default;
    // Field by 0-based position in the field list given to compile; memo fields give their
    // text. The value's kind should match the field type (anything else is taken as Nil).
    virtual ExprValue field(std::size_t index) const = 0;
    virtual std::uint32_t recno() const = 0;
    virtual bool deleted() const = 0;
};

// A record of blanks (spaces, 0, empty date, false, empty memo) for the given fields, record
// number 0, not deleted. Used to find an expression's type and width.
class BlankRecord final : public RecordSource {
  public:
    explicit BlankRecord(std::span<const FieldDesc> fields) : fields_(fields) {}
    ExprValue field(std::size_t index) const override;
    std::uint32_t recno() const override { return 0; }
    bool deleted() const override { return false; }

  private:
    std::span<const FieldDesc> fields_;
};

struct ExprProgram; // the compiled form (expr.cpp)

class Expression {
  public:
    Expression();
    ~Expression();
    Expression(const Expression&);
    Expression& operator=(const Expression&);
    Expression(Expression&&) noexcept;
    Expression& operator=(Expression&&) noexcept;

    // Compiles text against the fields. Field names are matched without regard to case, with or
    // without an "alias->", "alias." or "FIELD->" prefix (alias as given, case-insensitive).
    // On failure answers a kExpr* code and the 0-based byte position of the fault in errorPos,
    // and leaves out empty. On success out also knows its result kind and width, found by
    // evaluating it on a blank record with the given settings (the defaults when none).
    static Result compile(std::string_view text, std::span<const FieldDesc> fields, std::string_view alias,
                          Expression& out, std::size_t& errorPos);
    static Result compile(std::string_view text, std::span<const FieldDesc> fields, std::string_view alias,
                          const ExprSettings& settings, Expression& out, std::size_t& errorPos);

    // Evaluates on a record. Never throws; run-time type errors give Nil.
    ExprValue eval(const RecordSource& record, const ExprSettings& settings) const;

    // Evaluates and answers true only for the logical value true (a FOR or WHILE condition
    // that gives anything else counts as false).
    bool test(const RecordSource& record, const ExprSettings& settings) const;

    bool valid() const { return program_ != nullptr; }
    const std::string& text() const;
    // The kind and width of the value on a blank record: Character width = its length,
    // Numeric and Date 8, Logical 1, Nil 0.
    ExprValue::Kind resultKind() const { return kind_; }
    std::size_t resultWidth() const { return width_; }
    // The key type letter for an index on this expression: 'C', 'N', 'D', 'L'; 0 for Nil.
    char keyType() const;

  private:
    std::shared_ptr<const ExprProgram> program_; // immutable once compiled, so copies share it
    ExprValue::Kind kind_ = ExprValue::Kind::Nil;
    std::size_t width_ = 0;
};

// Deepest nesting of operators, parentheses and calls that compile accepts.
inline constexpr std::size_t kMaxExprDepth = 200;

} // namespace engine
