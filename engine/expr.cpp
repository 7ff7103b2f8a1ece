#include "engine/expr.h"

namespace engine {

struct ExprProgram {
    std::string text;
};

bool operator==(const ExprValue& a, const ExprValue& b) {
    return a.kind == b.kind && a.str == b.str && a.num == b.num && a.date == b.date && a.logical == b.logical;
}

ExprValue BlankRecord::field(std::size_t) const { return {}; }

Expression::Expression() = default;
Expression::~Expression() = default;
Expression::Expression(const Expression&) = default;
Expression& Expression::operator=(const Expression&) = default;
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;

Result Expression::compile(std::string_view text, std::span<const FieldDesc> fields, std::string_view alias,
                           Expression& out, std::size_t& errorPos) {
    return compile(text, fields, alias, ExprSettings{}, out, errorPos);
}
Result Expression::compile(std::string_view, std::span<const FieldDesc>, std::string_view, const ExprSettings&,
                           Expression& out, std::size_t& errorPos) {
    out = Expression();
    errorPos = 0;
    return kExprSyntax;
}
ExprValue Expression::eval(const RecordSource&, const ExprSettings&) const { return {}; }
bool Expression::test(const RecordSource&, const ExprSettings&) const { return false; }
const std::string& Expression::text() const {
    static const std::string none;
    return program_ ? program_->text : none;
}
char Expression::keyType() const { return 0; }

}  // namespace engine
