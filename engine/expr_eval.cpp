// The evaluator of the engine's expressions: runs a compiled program on a record.
#include "engine/expr_program.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {

using Kind = ExprValue::Kind;
using B = syntax::BinaryOp;

class Evaluator {
  public:
    Evaluator(const ExprProgram& prog, const RecordSource& rec, const ExprSettings& set)
        : prog_(prog), rec_(rec), set_(set) {}

    ExprValue eval(std::uint32_t n) {
        const ExprNode& node = prog_.nodes[n];
        switch (node.op) {
        case Op::Literal:
            return node.value;
        case Op::DateLiteral:
            return ExprValue::dateValue(parseDate(node.value.str, set_.dateFormat, set_.epoch));
        case Op::Field:
            return field(node.field);
        case Op::Call:
            return call(node);
        case Op::Neg: {
            ExprValue v = eval(node.a);
            if (v.kind != Kind::Numeric) return {};
            return ExprValue::numeric(-v.num);
        }
        case Op::Not: {
            ExprValue v = eval(node.a);
            if (v.kind != Kind::Logical) return {};
            return ExprValue::logicalValue(!v.logical);
        }
        case Op::Binary:
            break;
        }
        if (node.bin == B::And || node.bin == B::Or) {
            // Both sides are evaluated; only the logical result matters.
            const ExprValue a = eval(node.a);
            if (a.kind != Kind::Logical) return {};
            if (node.bin == B::And && !a.logical) return a;
            if (node.bin == B::Or && a.logical) return a;
            const ExprValue b = eval(node.b);
            if (b.kind != Kind::Logical) return {};
            return b;
        }
        return binary(node.bin, eval(node.a), eval(node.b));
    }

  private:
    const ExprProgram& prog_;
    const RecordSource& rec_;
    const ExprSettings& set_;

    ExprValue field(std::size_t i) {
        const FieldDesc& f = prog_.fields[i];
        ExprValue v = rec_.field(i);
        if (v.kind != kindOf(staticType(f.type))) return {};
        if (v.kind == Kind::Numeric) {
            v.width = f.len;
            v.decimals = f.dec;
        }
        return v;
    }

    ExprValue binary(B op, const ExprValue& a, const ExprValue& b) {
        if (a.isNil() || b.isNil()) return {};
        switch (op) {
        case B::Add:
            if (a.kind == Kind::Character && b.kind == Kind::Character) {
                if (a.str.size() + b.str.size() > kMaxExprString) return {};
                return ExprValue::character(a.str + b.str);
            }
            if (a.kind == Kind::Numeric && b.kind == Kind::Numeric) return ExprValue::numeric(a.num + b.num);
            if (a.kind == Kind::Date && b.kind == Kind::Numeric) return addDays(a.date, b.num);
            if (a.kind == Kind::Numeric && b.kind == Kind::Date) return addDays(b.date, a.num);
            return {};
        case B::Sub:
            if (a.kind == Kind::Character && b.kind == Kind::Character) {
                if (a.str.size() + b.str.size() > kMaxExprString) return {};
                return ExprValue::character(lang::joinMovingBlanks(a.str, b.str));
            }
            if (a.kind == Kind::Numeric && b.kind == Kind::Numeric) return ExprValue::numeric(a.num - b.num);
            if (a.kind == Kind::Date && b.kind == Kind::Numeric) return addDays(a.date, -b.num);
            if (a.kind == Kind::Date && b.kind == Kind::Date) {
                if (!a.date || !b.date) return ExprValue::numeric(0);
                return ExprValue::numeric(static_cast<double>(a.date) - b.date);
            }
            return {};
        case B::Mul:
        case B::Div:
        case B::Mod:
        case B::Pow: {
            if (a.kind != Kind::Numeric || b.kind != Kind::Numeric) return {};
            double r = 0;
            // Division by zero answers 0, as the runtime's error handler does.
            if (op == B::Mul)
                r = a.num * b.num;
            else if (op == B::Div)
                r = b.num == 0 ? 0 : a.num / b.num;
            else if (op == B::Mod)
                r = b.num == 0 ? 0 : std::fmod(a.num, b.num);
            else
                r = std::pow(a.num, b.num);
            if (!std::isfinite(r)) r = 0;
            return ExprValue::numeric(r);
        }
        case B::Contains:
            if (a.kind != Kind::Character || b.kind != Kind::Character) return {};
            return ExprValue::logicalValue(b.str.find(a.str) != std::string::npos);
        default:
            break;
        }
        // Comparisons.
        if (a.kind != b.kind) return {};
        if (a.kind == Kind::Character) {
            if (op == B::EqEq) return ExprValue::logicalValue(a.str == b.str);
            if (op == B::Eq || op == B::Ne) {
                const bool eq = lang::stringEquals(a.str, b.str, set_.exact);
                return ExprValue::logicalValue(op == B::Eq ? eq : !eq);
            }
            return ordered(op, compareStrings(a.str, b.str, set_.exact));
        }
        int c = 0;
        switch (a.kind) {
        case Kind::Numeric:
            c = a.num < b.num ? -1 : a.num > b.num ? 1 : 0;
            break;
        case Kind::Date:
            c = a.date < b.date ? -1 : a.date > b.date ? 1 : 0;
            break;
        case Kind::Logical:
            c = a.logical == b.logical ? 0 : a.logical ? 1 : -1;
            break;
        default:
            return {};
        }
        if (op == B::EqEq) op = B::Eq;
        return ordered(op, c);
    }

    static ExprValue ordered(B op, int c) {
        switch (op) {
        case B::Eq:
            return ExprValue::logicalValue(c == 0);
        case B::Ne:
            return ExprValue::logicalValue(c != 0);
        case B::Lt:
            return ExprValue::logicalValue(c < 0);
        case B::Le:
            return ExprValue::logicalValue(c <= 0);
        case B::Gt:
            return ExprValue::logicalValue(c > 0);
        case B::Ge:
            return ExprValue::logicalValue(c >= 0);
        default:
            return {};
        }
    }

    static ExprValue addDays(std::int32_t date, double days) {
        return ExprValue::dateValue(lang::addDays(date, days));
    }

    ExprValue call(const ExprNode& node) {
        if (node.fn == Fn::Iif) {
            const ExprValue c = eval(node.args[0]);
            if (c.kind != Kind::Logical) return {};
            return eval(node.args[c.logical ? 1 : 2]);
        }
        if (node.fn == Fn::Deleted) return ExprValue::logicalValue(rec_.deleted());
        if (node.fn == Fn::Recno) return ExprValue::numeric(rec_.recno());

        ExprValue args[3];
        const std::size_t n = std::min<std::size_t>(node.args.size(), 3);
        for (std::size_t i = 0; i < n; ++i) {
            args[i] = eval(node.args[i]);
            if (args[i].isNil() && node.fn != Fn::Empty) return {};
        }
        return callFunction(node.fn, args, n, set_);
    }
};

} // namespace

ExprValue evalProgram(const ExprProgram& prog, std::uint32_t n, const RecordSource& record,
                      const ExprSettings& settings) {
    Evaluator ev(prog, record, settings);
    return ev.eval(n);
}

bool operator==(const ExprValue& a, const ExprValue& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case Kind::Nil:
        return true;
    case Kind::Character:
        return a.str == b.str;
    case Kind::Numeric:
        return a.num == b.num;
    case Kind::Date:
        return a.date == b.date;
    case Kind::Logical:
        return a.logical == b.logical;
    }
    return false;
}

ExprValue BlankRecord::field(std::size_t index) const {
    if (index >= fields_.size()) return {};
    const FieldDesc& f = fields_[index];
    switch (staticType(f.type)) {
    case 'C':
        return ExprValue::character((f.type == 'M' || f.type == 'm') ? std::string()
                                                                     : std::string(f.len, ' '));
    case 'N':
        return ExprValue::numeric(0, f.len, f.dec);
    case 'D':
        return ExprValue::dateValue(0);
    case 'L':
        return ExprValue::logicalValue(false);
    default:
        return {};
    }
}

} // namespace engine
