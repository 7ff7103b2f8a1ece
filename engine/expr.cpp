// The engine's expression compiler: turns the syntax tree of a key or condition into a program
// over a table's fields, resolving field and function names and checking types as it goes.
#include "engine/expr.h"

#include "engine/expr_program.h"
#include "lang/syntax.h"

#include <algorithm>

namespace engine {

namespace {

using Kind = ExprValue::Kind;

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}
bool digit(char c) {
    return c >= '0' && c <= '9';
}

Result faultCode(syntax::Fault f) {
    switch (f) {
    case syntax::Fault::None:
        return kOk;
    case syntax::Fault::Paren:
        return kExprParen;
    case syntax::Fault::Trailing:
        return kExprTrailing;
    case syntax::Fault::TooDeep:
        return kExprTooDeep;
    case syntax::Fault::Empty:
        return kExprEmpty;
    default:
        return kExprSyntax;
    }
}

// Walks the tree children first, left to right, so faults are found in the order of the text.
class Compiler {
  public:
    Compiler(std::span<const FieldDesc> fields, std::string_view alias, ExprProgram& prog)
        : fields_(fields), prog_(prog) {
        for (char c : alias) alias_ += upper(c);
    }

    Result compile(const syntax::Node& root, std::size_t& errorPos) {
        std::uint32_t n;
        if (!walk(root, n)) {
            errorPos = errPos_;
            return err_;
        }
        prog_.root = n;
        return kOk;
    }

  private:
    std::span<const FieldDesc> fields_;
    ExprProgram& prog_;
    std::string alias_;
    Result err_ = kOk;
    std::size_t errPos_ = 0;

    bool error(Result code, std::size_t pos) {
        if (err_ == kOk) err_ = code, errPos_ = pos;
        return false;
    }

    std::uint32_t add(ExprNode node, std::size_t pos, bool& ok) {
        std::size_t h = 0;
        if (node.op >= Op::Neg) {
            h = prog_.nodes[node.a].height;
            if (node.op == Op::Binary) h = std::max(h, prog_.nodes[node.b].height);
        }
        for (std::uint32_t arg : node.args) h = std::max(h, prog_.nodes[arg].height);
        node.height = h + 1;
        if (node.height > kMaxExprDepth) ok = error(kExprTooDeep, pos);
        prog_.nodes.push_back(std::move(node));
        return static_cast<std::uint32_t>(prog_.nodes.size() - 1);
    }

    char typeOf(std::uint32_t n) const { return prog_.nodes[n].type; }

    bool binary(syntax::BinaryOp op, std::size_t pos, std::uint32_t left, std::uint32_t right,
                std::uint32_t& out) {
        const char l = typeOf(left), r = typeOf(right);
        const bool known = l != 'U' && r != 'U';
        char type = 'U';
        using B = syntax::BinaryOp;
        bool bad = false;
        switch (op) {
        case B::And:
        case B::Or:
            bad = (l != 'U' && l != 'L') || (r != 'U' && r != 'L');
            type = 'L';
            break;
        case B::Add:
            if (known) {
                if (l == 'C' && r == 'C')
                    type = 'C';
                else if (l == 'N' && r == 'N')
                    type = 'N';
                else if ((l == 'D' && r == 'N') || (l == 'N' && r == 'D'))
                    type = 'D';
                else
                    bad = true;
            }
            break;
        case B::Sub:
            if (known) {
                if (l == 'C' && r == 'C')
                    type = 'C';
                else if (l == 'N' && r == 'N')
                    type = 'N';
                else if (l == 'D' && r == 'N')
                    type = 'D';
                else if (l == 'D' && r == 'D')
                    type = 'N';
                else
                    bad = true;
            }
            break;
        case B::Mul:
        case B::Div:
        case B::Mod:
        case B::Pow:
            bad = (l != 'U' && l != 'N') || (r != 'U' && r != 'N');
            type = 'N';
            break;
        case B::Contains:
            bad = (l != 'U' && l != 'C') || (r != 'U' && r != 'C');
            type = 'L';
            break;
        default: // comparisons
            bad = known && l != r;
            type = 'L';
            break;
        }
        if (bad) return error(kExprType, pos);
        ExprNode node;
        node.op = Op::Binary;
        node.bin = op;
        node.type = type;
        node.a = left;
        node.b = right;
        bool ok = true;
        out = add(std::move(node), pos, ok);
        return ok;
    }

    bool unaryNode(Op op, std::size_t pos, std::uint32_t operand, std::uint32_t& out) {
        const char t = typeOf(operand);
        const char want = op == Op::Not ? 'L' : 'N';
        if (t != 'U' && t != want) return error(kExprType, pos);
        ExprNode node;
        node.op = op;
        node.type = want;
        node.a = operand;
        bool ok = true;
        out = add(std::move(node), pos, ok);
        return ok;
    }

    bool literal(ExprValue v, char type, std::size_t pos, std::uint32_t& out) {
        ExprNode node;
        node.op = Op::Literal;
        node.type = type;
        node.value = std::move(v);
        bool ok = true;
        out = add(std::move(node), pos, ok);
        return ok;
    }

    // {^yyyy-mm-dd} is read now; {dd-mm-yy} and the like follow the date format at run time.
    bool dateLiteral(const syntax::Node& t, std::uint32_t& out) {
        std::string_view body = t.text;
        while (!body.empty() && body.front() == ' ') body.remove_prefix(1);
        bool iso = false;
        long y = 0, m = 0, d = 0;
        const bool parts = syntax::isoDateParts(body, iso, y, m, d);
        if (iso) {
            const std::int32_t day = parts ? makeDate(y, m, d) : 0;
            if (!day) return error(kExprSyntax, t.pos);
            return literal(ExprValue::dateValue(day), 'D', t.pos, out);
        }
        bool anyDigit = false;
        for (char c : body) {
            if (digit(c))
                anyDigit = true;
            else if (c != ' ' && c != '/' && c != '-' && c != '.')
                return error(kExprSyntax, t.pos);
        }
        if (!anyDigit) return literal(ExprValue::dateValue(0), 'D', t.pos, out);
        ExprNode node;
        node.op = Op::DateLiteral;
        node.type = 'D';
        node.value = ExprValue::character(std::string(body));
        bool ok = true;
        out = add(std::move(node), t.pos, ok);
        return ok;
    }

    bool fieldByName(const std::string& name, std::size_t pos, std::uint32_t& out) {
        auto match = [&](std::string_view want) -> std::size_t {
            for (std::size_t i = 0; i < fields_.size(); ++i) {
                const std::string& f = fields_[i].name;
                if (f.size() != want.size()) continue;
                bool same = true;
                for (std::size_t k = 0; k < f.size() && same; ++k) same = upper(f[k]) == want[k];
                if (same) return i;
            }
            return fields_.size();
        };
        std::size_t index = match(name);
        // Names count to their tenth character, as field names do.
        if (index == fields_.size() && name.size() > 10) index = match(std::string_view(name).substr(0, 10));
        if (index == fields_.size()) return error(kExprUnknownField, pos);
        ExprNode node;
        node.op = Op::Field;
        node.field = index;
        node.type = staticType(fields_[index].type);
        bool ok = true;
        out = add(std::move(node), pos, ok);
        return ok;
    }

    bool call(const syntax::Node& n, std::uint32_t& out) {
        const FnInfo* f = findFunction(n.text);
        if (!f) return error(kExprUnknownFunction, n.pos);
        std::vector<std::uint32_t> args;
        for (std::size_t i = 0; i < n.kids.size(); ++i) {
            if (args.size() == f->maxArgs) return error(kExprArgCount, n.argPos[i]);
            std::uint32_t arg;
            if (!walk(*n.kids[i], arg)) return false;
            args.push_back(arg);
        }
        const std::vector<std::size_t>& argPos = n.argPos;
        if (args.size() < f->minArgs) return error(kExprArgCount, n.endPos);
        for (std::size_t i = 0; i < args.size(); ++i) {
            const char want = f->argTypes[i];
            const char have = typeOf(args[i]);
            if (want != '*' && have != 'U' && have != want) return error(kExprType, argPos[i]);
            if ((f->fn == Fn::Padl || f->fn == Fn::Padr || f->fn == Fn::Padc) && i == 0 && have == 'L')
                return error(kExprType, argPos[i]);
        }
        char type = f->result;
        if (type == '1') {
            const char a = typeOf(args[0]), b = typeOf(args[1]);
            if (a == 'L' || (a != 'U' && b != 'U' && a != b)) return error(kExprType, argPos[1]);
            type = a;
        } else if (type == '?') {
            const char a = typeOf(args[1]), b = typeOf(args[2]);
            type = a == b ? a : 'U';
        }
        ExprNode node;
        node.op = Op::Call;
        node.fn = f->fn;
        node.type = type;
        node.args = std::move(args);
        bool ok = true;
        out = add(std::move(node), n.pos, ok);
        return ok;
    }

    bool walk(const syntax::Node& n, std::uint32_t& out) {
        using K = syntax::NodeKind;
        switch (n.kind) {
        case K::Number:
            return literal(ExprValue::numeric(n.number), 'N', n.pos, out);
        case K::String:
            return literal(ExprValue::character(n.text), 'C', n.pos, out);
        case K::Logical:
            return literal(ExprValue::logicalValue(n.logical), 'L', n.pos, out);
        case K::Date:
            return dateLiteral(n, out);
        case K::Name:
            if (!n.alias.empty()) {
                const bool known =
                    n.alias == alias_ || (n.arrow && (n.alias == "FIELD" || n.alias == "_FIELD"));
                if (!known) return error(kExprUnknownField, n.pos);
            }
            return fieldByName(n.text, n.endPos, out);
        case K::Call:
            return call(n, out);
        case K::Unary: {
            std::uint32_t operand;
            if (!walk(*n.kids[0], operand)) return false;
            if (n.unary() == syntax::UnaryOp::Plus) {
                const char t = typeOf(operand);
                if (t != 'U' && t != 'N') return error(kExprType, n.pos);
                out = operand;
                return true;
            }
            return unaryNode(n.unary() == syntax::UnaryOp::Neg ? Op::Neg : Op::Not, n.pos, operand, out);
        }
        case K::Binary: {
            std::uint32_t left, right;
            if (!walk(*n.kids[0], left) || !walk(*n.kids[1], right)) return false;
            return binary(n.binary(), n.pos, left, right, out);
        }
        case K::Index: {
            // The program's lists never reach a record, so a subscript can only be a mistake;
            // it is refused at its "[" with a code of its own.
            std::uint32_t value;
            if (!walk(*n.kids[0], value)) return false;
            return error(kExprSubscript, n.pos);
        }
        default:
            // Arrays, code blocks, NIL and omitted arguments are not part of keys and conditions.
            return error(kExprSyntax, n.pos);
        }
    }
};

} // namespace

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

Result Expression::compile(std::string_view text, std::span<const FieldDesc> fields, std::string_view alias,
                           const ExprSettings& settings, Expression& out, std::size_t& errorPos) {
    out = Expression();
    errorPos = 0;
    std::unique_ptr<syntax::Node> tree;
    syntax::Options options;
    options.maxDepth = kMaxExprDepth;
    if (const syntax::Fault f = syntax::parse(text, options, tree, errorPos); f != syntax::Fault::None)
        return faultCode(f);
    auto prog = std::make_shared<ExprProgram>();
    prog->text = std::string(text);
    prog->fields.assign(fields.begin(), fields.end());
    Compiler compiler(fields, alias, *prog);
    if (const Result r = compiler.compile(*tree, errorPos)) return r;

    Expression e;
    e.program_ = std::move(prog);
    const ExprValue probe = e.eval(BlankRecord(fields), settings);
    e.kind_ = probe.kind;
    switch (probe.kind) {
    case Kind::Character:
        e.width_ = probe.str.size();
        break;
    case Kind::Numeric:
    case Kind::Date:
        e.width_ = 8;
        break;
    case Kind::Logical:
        e.width_ = 1;
        break;
    case Kind::Nil:
        e.width_ = 0;
        break;
    }
    out = std::move(e);
    return kOk;
}

ExprValue Expression::eval(const RecordSource& record, const ExprSettings& settings) const {
    if (!program_) return {};
    return evalProgram(*program_, program_->root, record, settings);
}

bool Expression::test(const RecordSource& record, const ExprSettings& settings) const {
    const ExprValue v = eval(record, settings);
    return v.kind == Kind::Logical && v.logical;
}

const std::string& Expression::text() const {
    static const std::string none;
    return program_ ? program_->text : none;
}

char Expression::keyType() const {
    switch (kind_) {
    case Kind::Character:
        return 'C';
    case Kind::Numeric:
        return 'N';
    case Kind::Date:
        return 'D';
    case Kind::Logical:
        return 'L';
    default:
        return 0;
    }
}

} // namespace engine