#include "macro.h"

#include "dates.h"
#include "error.h"
#include "frames.h"
#include "settings.h"
#include "strings.h"

#include "lang/lang.h"
#include "lang/syntax.h"

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace rt {

namespace {

using syntax::BinaryOp;
using syntax::Node;
using syntax::NodeKind;
using syntax::UnaryOp;

std::string upperName(std::string_view name) {
    std::string s(name);
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

std::map<std::string, Routine, std::less<>>& routines() {
    static std::map<std::string, Routine, std::less<>> table;
    return table;
}

FieldAccess* g_fields = nullptr;

// How deep compiled blocks may run inside one another.
constexpr int kMaxBlockNesting = 200;
int g_blockNesting = 0;

// The variables a block's code sees: its parameters, then those of the blocks around it.
struct Scope {
    std::vector<std::string> names;
    std::vector<Value> values;
    std::shared_ptr<const Scope> outer;
};
using ScopePtr = std::shared_ptr<const Scope>;

// A compiled text: the tree stays alive as long as any block made from it.
using TreePtr = std::shared_ptr<const Node>;

Value argError(std::int64_t subCode, std::string_view op, std::initializer_list<Value> args) {
    return raiseSubstitutable(makeError(EG_ARG, subCode, op, makeArray(args)));
}

bool isNumber(const Value& v) {
    return v.isNumber();
}

// Integers stay integers while they fit; anything else is a floating-point number.
Value numberResult(double d) {
    return Value(d);
}

Value addInts(std::int64_t a, std::int64_t b, bool subtract) {
    std::int64_t r;
    if (subtract ? __builtin_sub_overflow(a, b, &r) : __builtin_add_overflow(a, b, &r))
        return Value(subtract ? static_cast<double>(a) - static_cast<double>(b)
                              : static_cast<double>(a) + static_cast<double>(b));
    return Value(r);
}

// Days added to a date; the empty date stays empty and a date outside years 1 to 9999 is empty.
Value addDays(Date d, double days) {
    return Value(Date{lang::addDays(d.julian, days)});
}

using lang::compareStrings;

struct OpInfo {
    const char* text;
    std::int64_t subCode;
};

OpInfo opInfo(BinaryOp op) {
    switch (op) {
    case BinaryOp::And:
        return {".AND.", 1078};
    case BinaryOp::Or:
        return {".OR.", 1079};
    case BinaryOp::Add:
        return {"+", 1081};
    case BinaryOp::Sub:
        return {"-", 1082};
    case BinaryOp::Mul:
        return {"*", 1083};
    case BinaryOp::Div:
        return {"/", 1084};
    case BinaryOp::Mod:
        return {"%", 1085};
    case BinaryOp::Pow:
        return {"**", 1088};
    case BinaryOp::Eq:
        return {"=", 1071};
    case BinaryOp::EqEq:
        return {"==", 1070};
    case BinaryOp::Ne:
        return {"!=", 1072};
    case BinaryOp::Lt:
        return {"<", 1073};
    case BinaryOp::Le:
        return {"<=", 1074};
    case BinaryOp::Gt:
        return {">", 1075};
    case BinaryOp::Ge:
        return {">=", 1076};
    case BinaryOp::Contains:
        return {"$", 1109};
    }
    return {"", 0};
}

Value overflow(std::string_view op, const Value& a, const Value& b) {
    return raiseSubstitutable(makeError(EG_STROVERFLOW, 1209, op, makeArray({a, b})));
}

Value binaryError(BinaryOp op, const Value& a, const Value& b) {
    const OpInfo info = opInfo(op);
    return argError(info.subCode, info.text, {a, b});
}

Value arithmetic(BinaryOp op, const Value& a, const Value& b) {
    switch (op) {
    case BinaryOp::Add:
        if (a.isString() && b.isString()) {
            if (a.asString().size() + b.asString().size() > kMaxMacroString) return overflow("+", a, b);
            return Value(a.asString() + b.asString());
        }
        if (a.isInteger() && b.isInteger()) return addInts(a.asInteger(), b.asInteger(), false);
        if (isNumber(a) && isNumber(b)) return numberResult(a.asNumber() + b.asNumber());
        if (a.isDate() && isNumber(b)) return addDays(a.asDate(), b.asNumber());
        if (isNumber(a) && b.isDate()) return addDays(b.asDate(), a.asNumber());
        break;
    case BinaryOp::Sub:
        if (a.isString() && b.isString()) {
            if (a.asString().size() + b.asString().size() > kMaxMacroString) return overflow("-", a, b);
            return Value(lang::joinMovingBlanks(a.asString(), b.asString()));
        }
        if (a.isInteger() && b.isInteger()) return addInts(a.asInteger(), b.asInteger(), true);
        if (isNumber(a) && isNumber(b)) return numberResult(a.asNumber() - b.asNumber());
        if (a.isDate() && isNumber(b)) return addDays(a.asDate(), -b.asNumber());
        if (a.isDate() && b.isDate()) {
            if (a.asDate().empty() || b.asDate().empty()) return Value(0);
            return Value(static_cast<std::int64_t>(a.asDate().julian) - b.asDate().julian);
        }
        break;
    case BinaryOp::Mul:
        if (a.isInteger() && b.isInteger()) {
            std::int64_t r;
            if (!__builtin_mul_overflow(a.asInteger(), b.asInteger(), &r)) return Value(r);
        }
        if (isNumber(a) && isNumber(b)) return numberResult(a.asNumber() * b.asNumber());
        break;
    case BinaryOp::Div:
    case BinaryOp::Mod:
        if (isNumber(a) && isNumber(b)) {
            if (b.asNumber() == 0)
                return raiseSubstitutable(makeError(EG_ZERODIV, op == BinaryOp::Div ? 1340 : 1341,
                                                    op == BinaryOp::Div ? "/" : "%", makeArray({a, b})));
            if (op == BinaryOp::Mod) {
                if (a.isInteger() && b.isInteger() && b.asInteger() != -1)
                    return Value(a.asInteger() % b.asInteger());
                return numberResult(std::fmod(a.asNumber(), b.asNumber()));
            }
            if (a.isInteger() && b.isInteger() && b.asInteger() != -1 && a.asInteger() % b.asInteger() == 0)
                return Value(a.asInteger() / b.asInteger());
            return numberResult(a.asNumber() / b.asNumber());
        }
        break;
    case BinaryOp::Pow:
        if (isNumber(a) && isNumber(b)) return numberResult(std::pow(a.asNumber(), b.asNumber()));
        break;
    case BinaryOp::Contains:
        if (a.isString() && b.isString()) return Value(b.asString().find(a.asString()) != std::string::npos);
        break;
    default:
        break;
    }
    return binaryError(op, a, b);
}

Value comparison(BinaryOp op, const Value& a, const Value& b) {
    const bool equality = op == BinaryOp::Eq || op == BinaryOp::EqEq || op == BinaryOp::Ne;
    if (equality && (a.isNil() || b.isNil())) {
        const bool same = a.isNil() && b.isNil();
        return Value(op == BinaryOp::Ne ? !same : same);
    }
    int c = 0;
    if (a.isString() && b.isString()) {
        const std::string& x = a.asString();
        const std::string& y = b.asString();
        if (op == BinaryOp::EqEq) return Value(x == y);
        if (op == BinaryOp::Eq) return Value(stringEquals(x, y));
        if (op == BinaryOp::Ne) return Value(!stringEquals(x, y));
        c = compareStrings(x, y, setExact());
    } else if (isNumber(a) && isNumber(b)) {
        if (a.isInteger() && b.isInteger())
            c = a.asInteger() < b.asInteger() ? -1 : a.asInteger() > b.asInteger() ? 1 : 0;
        else
            c = a.asNumber() < b.asNumber() ? -1 : a.asNumber() > b.asNumber() ? 1 : 0;
    } else if (a.isDate() && b.isDate()) {
        c = a.asDate().julian < b.asDate().julian ? -1 : a.asDate().julian > b.asDate().julian ? 1 : 0;
    } else if (a.isLogical() && b.isLogical()) {
        c = a.asLogical() == b.asLogical() ? 0 : a.asLogical() ? 1 : -1;
    } else if (op == BinaryOp::EqEq && a.type() == b.type() && (a.isArray() || a.isBlock() || a.isObject())) {
        return Value(a == b); // the same list, block or object
    } else {
        return binaryError(op, a, b);
    }
    switch (op) {
    case BinaryOp::Eq:
    case BinaryOp::EqEq:
        return Value(c == 0);
    case BinaryOp::Ne:
        return Value(c != 0);
    case BinaryOp::Lt:
        return Value(c < 0);
    case BinaryOp::Le:
        return Value(c <= 0);
    case BinaryOp::Gt:
        return Value(c > 0);
    default:
        return Value(c >= 0);
    }
}

Value numberLiteral(double d) {
    if (d == std::floor(d) && std::fabs(d) < 9.0e15) return Value(static_cast<std::int64_t>(d));
    return Value(d);
}

// value[index]: the element of a list, counted from 1 (a fraction is dropped). Anything but a
// list, or an index that is not a number, is the argument error of array access (1/1068); an
// index outside the list is its bound error (2/1132). Both carry the value and the index and
// take the handler's substitute as the result.
Value subscript(const Value& list, const Value& index) {
    if (!list.isArray() || !index.isNumber())
        return raiseSubstitutable(makeError(EG_ARG, 1068, "array access", makeArray({list, index})));
    const double at = std::trunc(index.asNumber());
    const ArrayPtr& items = list.asArray();
    const std::size_t size = items ? items->size() : 0;
    if (!(at >= 1 && at <= static_cast<double>(size)))
        return raiseSubstitutable(makeError(EG_BOUND, 1132, "array access", makeArray({list, index})));
    return items->at(static_cast<std::size_t>(at));
}

// Runs a tree. A block made while it runs keeps the tree and the scope it was made in.
class Evaluator {
  public:
    Evaluator(TreePtr tree, std::string owner) : tree_(std::move(tree)), owner_(std::move(owner)) {}

    Value eval(const Node& n, const ScopePtr& scope) {
        switch (n.kind) {
        case NodeKind::Number:
            return numberLiteral(n.number);
        case NodeKind::String:
            return Value(n.text);
        case NodeKind::Logical:
            return Value(n.logical);
        case NodeKind::Nil:
        case NodeKind::Omitted:
            return Value();
        case NodeKind::Date:
            return dateLiteral(n);
        case NodeKind::Array: {
            std::vector<Value> items;
            items.reserve(n.kids.size());
            for (const auto& k : n.kids) items.push_back(eval(*k, scope));
            return Value(makeArray(std::move(items)));
        }
        case NodeKind::Block:
            return makeBlockValue(n, scope);
        case NodeKind::Name:
            return name(n, scope);
        case NodeKind::Call:
            return call(n, scope);
        case NodeKind::Unary:
            return unary(n, scope);
        case NodeKind::Binary:
            return binary(n, scope);
        case NodeKind::Index: {
            const Value list = eval(*n.kids[0], scope); // the list first, then the index
            return subscript(list, eval(*n.kids[1], scope));
        }
        }
        return Value();
    }

    // Evaluates a block node's expressions in a new scope of its parameters; the last one's
    // value is the block's.
    Value runBlock(const Node& block, const ScopePtr& outer, Args args) {
        // Compiled blocks that evaluate each other without end ("EVAL(b, b)") stop here
        // instead of exhausting the stack.
        struct Nesting {
            Nesting() { ++g_blockNesting; }
            ~Nesting() { --g_blockNesting; }
        } nesting;
        if (g_blockNesting > kMaxBlockNesting)
            return raiseSubstitutable(makeError(EG_COMPLEXITY, 1000, "EVAL",
                                                makeArray(std::vector<Value>(args.begin(), args.end()))));
        auto scope = std::make_shared<Scope>();
        scope->names = block.params;
        for (std::size_t i = 0; i < block.params.size(); ++i)
            scope->values.push_back(i < args.size() ? args[i] : Value());
        scope->outer = outer;
        const ScopePtr inner = scope;
        Value result;
        for (const auto& k : block.kids) result = eval(*k, inner);
        return result;
    }

    Value makeBlockValue(const Node& n, const ScopePtr& scope) {
        TreePtr tree = tree_;
        std::string owner = owner_;
        const Node* node = &n;
        return Value(makeBlock(owner_, [tree, owner, node, scope](Args args) {
            Evaluator ev(tree, owner);
            return ev.runBlock(*node, scope, args);
        }));
    }

  private:
    TreePtr tree_;
    std::string owner_;

    static Value dateLiteral(const Node& n) {
        bool iso = false;
        long y = 0, m = 0, d = 0;
        if (syntax::isoDateParts(n.text, iso, y, m, d) && y >= 1 && y <= 9999 && m >= 1 && m <= 12 &&
            d >= 1 && d <= 31)
            return Value(makeDate(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)));
        return Value(Date{});
    }

    Value name(const Node& n, const ScopePtr& scope) {
        if (n.alias.empty()) {
            for (const Scope* s = scope.get(); s; s = s->outer.get())
                for (std::size_t i = 0; i < s->names.size(); ++i)
                    if (s->names[i] == n.text) return s->values[i];
        }
        const bool current = n.alias.empty() || (n.arrow && (n.alias == "FIELD" || n.alias == "_FIELD"));
        Value out;
        if (g_fields && g_fields->get(current ? std::string_view() : std::string_view(n.alias), n.text, out))
            return out;
        return raiseSubstitutable(makeError(EG_NOVAR, 1003, n.text));
    }

    Value call(const Node& n, const ScopePtr& scope) {
        // IIF evaluates only the branch it takes.
        if ((n.text == "IIF" || n.text == "IF") && n.kids.size() == 3) {
            const Value c = eval(*n.kids[0], scope);
            if (!c.isLogical()) return argError(1066, n.text, {c});
            return eval(*n.kids[c.asLogical() ? 1 : 2], scope);
        }
        std::vector<Value> args;
        args.reserve(n.kids.size());
        for (const auto& k : n.kids) args.push_back(eval(*k, scope));
        const auto& table = routines();
        const auto it = table.find(n.text);
        if (it == table.end())
            return raiseSubstitutable(makeError(EG_NOFUNC, 1001, n.text, makeArray(std::move(args))));
        return it->second(Args(args.data(), args.size()));
    }

    Value unary(const Node& n, const ScopePtr& scope) {
        const Value v = eval(*n.kids[0], scope);
        switch (n.unary()) {
        case UnaryOp::Neg:
            if (v.isInteger() && v.asInteger() != INT64_MIN) return Value(-v.asInteger());
            if (v.isNumber()) return Value(-v.asNumber());
            return argError(1080, "-", {v});
        case UnaryOp::Plus:
            if (v.isNumber()) return v;
            return argError(1081, "+", {v});
        case UnaryOp::Not:
            if (v.isLogical()) return Value(!v.asLogical());
            return argError(1077, ".NOT.", {v});
        }
        return Value();
    }

    Value binary(const Node& n, const ScopePtr& scope) {
        const BinaryOp op = n.binary();
        if (op == BinaryOp::And || op == BinaryOp::Or) {
            const bool isAnd = op == BinaryOp::And;
            const Value a = eval(*n.kids[0], scope);
            if (!a.isLogical()) return binaryError(op, a, Value());
            if (a.asLogical() != isAnd) return a; // decided by the left side
            const Value b = eval(*n.kids[1], scope);
            if (!b.isLogical()) return binaryError(op, a, b);
            return b;
        }
        const Value a = eval(*n.kids[0], scope);
        const Value b = eval(*n.kids[1], scope);
        switch (op) {
        case BinaryOp::Eq:
        case BinaryOp::EqEq:
        case BinaryOp::Ne:
        case BinaryOp::Lt:
        case BinaryOp::Le:
        case BinaryOp::Gt:
        case BinaryOp::Ge:
            return comparison(op, a, b);
        default:
            return arithmetic(op, a, b);
        }
    }
};

// The first ISO date literal that names no real day, or null.
const Node* badDate(const Node& n) {
    if (n.kind == NodeKind::Date) {
        bool iso = false;
        long y = 0, m = 0, d = 0;
        const bool ok = syntax::isoDateParts(n.text, iso, y, m, d) && y >= 1 && y <= 9999 && m >= 1 &&
                        m <= 12 && d >= 1 && d <= 31 &&
                        !makeDate(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)).empty();
        return ok ? nullptr : &n;
    }
    for (const auto& k : n.kids)
        if (const Node* bad = badDate(*k)) return bad;
    return nullptr;
}

Value syntaxError(std::string_view text, std::size_t pos) {
    raiseSubstitutable(
        makeError(EG_SYNTAX, 1449, "position " + std::to_string(pos + 1), makeArray({Value(text)})));
    return Value();
}

} // namespace

void registerRoutine(std::string_view name, Routine fn) {
    routines()[upperName(name)] = std::move(fn);
}

bool hasRoutine(std::string_view name) {
    return routines().count(upperName(name)) != 0;
}

void setFieldAccess(FieldAccess* access) {
    g_fields = access;
}

Value compileBlock(std::string_view blockText) {
    syntax::Options options;
    options.braceArrays = true;
    options.nilLiteral = true;
    options.omittedArguments = true;
    std::unique_ptr<Node> root;
    std::size_t pos = 0;
    if (syntax::parse(blockText, options, root, pos) != syntax::Fault::None)
        return syntaxError(blockText, pos);
    if (root->kind != NodeKind::Block) return syntaxError(blockText, 0);
    if (const Node* bad = badDate(*root)) return syntaxError(blockText, bad->pos);
    const Frame* top = Frame::top();
    const TreePtr tree(std::move(root));
    Evaluator ev(tree, top ? std::string(top->name()) : std::string("MACRO"));
    return ev.makeBlockValue(*tree, nullptr);
}

Value evalMacro(std::string_view text) {
    const Value block = compileBlock("{ ||" + std::string(text) + "}");
    return block.isBlock() ? eval(block) : Value();
}

} // namespace rt
