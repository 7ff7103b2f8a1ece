#include "lang/syntax.h"

#include <algorithm>
#include <cstdlib>

namespace syntax {

namespace {

enum class Tok : std::uint8_t {
    End,
    Number,
    String,
    Date,
    Logical,
    Ident,
    LParen,
    RParen,
    LBrace,
    RBrace,
    LBracket, // "[" after an operand: a subscript (elsewhere "[" opens a text)
    RBracket,
    Pipe,
    Comma,
    Arrow,
    Dot,
    Plus,
    Minus,
    Star,
    Slash,
    Percent,
    Power,
    Eq,
    EqEq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    Dollar,
    Not,
    And,
    Or,
};

struct Token {
    Tok kind = Tok::End;
    std::size_t pos = 0;
    std::string text; // identifier (upper case), string contents, date literal contents
    double number = 0;
    bool logical = false;
};

bool identStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool identChar(char c) {
    return identStart(c) || (c >= '0' && c <= '9');
}
bool digit(char c) {
    return c >= '0' && c <= '9';
}
char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}
bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool matchWordAt(std::string_view s, std::size_t i, std::string_view word) {
    if (i + word.size() > s.size()) return false;
    for (std::size_t k = 0; k < word.size(); ++k)
        if (upper(s[i + k]) != word[k]) return false;
    return true;
}

// With brace arrays on, "{" opens a date literal only when "^" follows it (blanks allowed).
bool dateBrace(std::string_view s, std::size_t i, bool braceArrays) {
    if (!braceArrays) return true;
    ++i;
    while (i < s.size() && s[i] == ' ') ++i;
    return i < s.size() && s[i] == '^';
}

// Whether a token ends an operand, so that a "[" after it is a subscript.
bool endsOperand(Tok t) {
    switch (t) {
    case Tok::Number:
    case Tok::String:
    case Tok::Date:
    case Tok::Logical:
    case Tok::Ident:
    case Tok::RParen:
    case Tok::RBrace:
    case Tok::RBracket:
        return true;
    default:
        return false;
    }
}

// Splits the whole text into tokens; answers Fault::None or the fault with its position.
Fault tokenize(std::string_view s, const Options& opt, std::vector<Token>& out, std::size_t& errorPos) {
    std::size_t i = 0;
    while (true) {
        while (i < s.size() && blank(s[i])) ++i;
        Token t;
        t.pos = i;
        if (i >= s.size()) {
            out.push_back(t);
            return Fault::None;
        }
        const char c = s[i];
        const char c1 = i + 1 < s.size() ? s[i + 1] : '\0';
        if (digit(c) || (c == '.' && digit(c1))) {
            std::size_t j = i;
            while (j < s.size() && digit(s[j])) ++j;
            if (j < s.size() && s[j] == '.' && j + 1 < s.size() && digit(s[j + 1])) {
                ++j;
                while (j < s.size() && digit(s[j])) ++j;
            }
            const std::string text(s.substr(i, j - i));
            t.kind = Tok::Number;
            t.number = std::strtod(text.c_str(), nullptr);
            i = j;
        } else if (identStart(c)) {
            std::size_t j = i;
            while (j < s.size() && identChar(s[j])) ++j;
            t.kind = Tok::Ident;
            for (std::size_t k = i; k < j; ++k) t.text += upper(s[k]);
            i = j;
        } else if (c == '[' && !out.empty() && endsOperand(out.back().kind)) {
            t.kind = Tok::LBracket;
            i += 1;
        } else if (c == '"' || c == '\'' || c == '[') {
            const char close = c == '[' ? ']' : c;
            const std::size_t end = s.find(close, i + 1);
            if (end == std::string_view::npos) {
                errorPos = i;
                return Fault::Paren;
            }
            t.kind = Tok::String;
            t.text = std::string(s.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == '{' && dateBrace(s, i, opt.braceArrays)) {
            const std::size_t end = s.find('}', i + 1);
            if (end == std::string_view::npos) {
                errorPos = i;
                return Fault::Paren;
            }
            t.kind = Tok::Date;
            t.text = std::string(s.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == '.') {
            // .T. .F. .Y. .N. .AND. .OR. .NOT. or a lone dot (alias.field).
            if (i + 2 < s.size() && s[i + 2] == '.' &&
                (matchWordAt(s, i + 1, "T") || matchWordAt(s, i + 1, "F") || matchWordAt(s, i + 1, "Y") ||
                 matchWordAt(s, i + 1, "N"))) {
                t.kind = Tok::Logical;
                t.logical = upper(s[i + 1]) == 'T' || upper(s[i + 1]) == 'Y';
                i += 3;
            } else if (matchWordAt(s, i + 1, "AND.")) {
                t.kind = Tok::And;
                i += 5;
            } else if (matchWordAt(s, i + 1, "OR.")) {
                t.kind = Tok::Or;
                i += 4;
            } else if (matchWordAt(s, i + 1, "NOT.")) {
                t.kind = Tok::Not;
                i += 5;
            } else {
                t.kind = Tok::Dot;
                i += 1;
            }
        } else {
            std::size_t len = 1;
            switch (c) {
            case '(':
                t.kind = Tok::LParen;
                break;
            case ')':
                t.kind = Tok::RParen;
                break;
            case ',':
                t.kind = Tok::Comma;
                break;
            case '+':
                t.kind = Tok::Plus;
                break;
            case '-':
                if (c1 == '>')
                    t.kind = Tok::Arrow, len = 2;
                else
                    t.kind = Tok::Minus;
                break;
            case '*':
                if (c1 == '*')
                    t.kind = Tok::Power, len = 2;
                else
                    t.kind = Tok::Star;
                break;
            case '^':
                t.kind = Tok::Power;
                break;
            case '/':
                t.kind = Tok::Slash;
                break;
            case '%':
                t.kind = Tok::Percent;
                break;
            case '$':
                t.kind = Tok::Dollar;
                break;
            case '#':
                t.kind = Tok::Ne;
                break;
            case '=':
                if (c1 == '=')
                    t.kind = Tok::EqEq, len = 2;
                else
                    t.kind = Tok::Eq;
                break;
            case '!':
                if (c1 == '=')
                    t.kind = Tok::Ne, len = 2;
                else
                    t.kind = Tok::Not;
                break;
            case '<':
                if (c1 == '=')
                    t.kind = Tok::Le, len = 2;
                else if (c1 == '>')
                    t.kind = Tok::Ne, len = 2;
                else
                    t.kind = Tok::Lt;
                break;
            case '>':
                if (c1 == '=')
                    t.kind = Tok::Ge, len = 2;
                else
                    t.kind = Tok::Gt;
                break;
            case '{':
                t.kind = Tok::LBrace; // only reached with brace arrays on
                break;
            case ']':
                t.kind = Tok::RBracket;
                break;
            case '}':
            case '|':
                if (!opt.braceArrays) {
                    errorPos = i;
                    return Fault::Syntax;
                }
                t.kind = c == '}' ? Tok::RBrace : Tok::Pipe;
                break;
            default:
                errorPos = i;
                return Fault::Syntax;
            }
            i += len;
        }
        out.push_back(std::move(t));
    }
}

using NodePtr = std::unique_ptr<Node>;

class Parser {
  public:
    Parser(std::vector<Token>& tokens, const Options& options) : toks_(tokens), opt_(options) {}

    Fault parse(NodePtr& out, std::size_t& errorPos) {
        if (peek().kind == Tok::End) {
            errorPos = peek().pos;
            return Fault::Empty;
        }
        NodePtr root;
        if (!expression(root)) {
            errorPos = errPos_;
            return err_;
        }
        if (peek().kind != Tok::End) {
            errorPos = peek().pos;
            const Tok k = peek().kind;
            return k == Tok::RParen || k == Tok::RBrace || k == Tok::RBracket ? Fault::Paren
                                                                              : Fault::Trailing;
        }
        out = std::move(root);
        return Fault::None;
    }

  private:
    std::vector<Token>& toks_;
    const Options& opt_;
    std::size_t at_ = 0;
    std::size_t depth_ = 0;
    Fault err_ = Fault::None;
    std::size_t errPos_ = 0;

    const Token& peek(std::size_t ahead = 0) const {
        const std::size_t i = std::min(at_ + ahead, toks_.size() - 1);
        return toks_[i];
    }
    const Token& take() {
        const Token& t = toks_[at_];
        if (at_ + 1 < toks_.size()) ++at_;
        return t;
    }
    bool error(Fault f, std::size_t pos) {
        if (err_ == Fault::None) err_ = f, errPos_ = pos;
        return false;
    }

    static NodePtr node(NodeKind kind, std::size_t pos) {
        auto n = std::make_unique<Node>();
        n->kind = kind;
        n->pos = pos;
        return n;
    }

    // Sets the node's height from its kids and refuses it past the deepest nesting allowed.
    // A unary plus leaves its operand as it is, so it adds no height.
    bool finish(Node& n) {
        std::size_t h = 0;
        for (const NodePtr& k : n.kids) h = std::max(h, k->height);
        const bool passThrough = n.kind == NodeKind::Unary && n.unary() == UnaryOp::Plus;
        n.height = passThrough ? h : h + 1;
        if (n.height > opt_.maxDepth) return error(Fault::TooDeep, n.pos);
        return true;
    }

    // Guards the recursion of the descent: every nested parenthesis, call and prefix operator
    // goes one level deeper.
    struct Deeper {
        Parser& p;
        explicit Deeper(Parser& parser) : p(parser) { ++p.depth_; }
        ~Deeper() { --p.depth_; }
    };

    bool expression(NodePtr& out) {
        Deeper guard(*this);
        if (depth_ > opt_.maxDepth) return error(Fault::TooDeep, peek().pos);
        return orExpr(out);
    }

    bool binary(BinaryOp op, std::size_t pos, NodePtr& left, NodePtr right) {
        NodePtr n = node(NodeKind::Binary, pos);
        n->op = static_cast<std::uint8_t>(op);
        n->kids.push_back(std::move(left));
        n->kids.push_back(std::move(right));
        if (!finish(*n)) return false;
        left = std::move(n);
        return true;
    }

    bool orExpr(NodePtr& out) {
        if (!andExpr(out)) return false;
        while (peek().kind == Tok::Or) {
            const std::size_t pos = take().pos;
            NodePtr right;
            if (!andExpr(right) || !binary(BinaryOp::Or, pos, out, std::move(right))) return false;
        }
        return true;
    }

    bool andExpr(NodePtr& out) {
        if (!notExpr(out)) return false;
        while (peek().kind == Tok::And) {
            const std::size_t pos = take().pos;
            NodePtr right;
            if (!notExpr(right) || !binary(BinaryOp::And, pos, out, std::move(right))) return false;
        }
        return true;
    }

    bool unaryNode(UnaryOp op, std::size_t pos, NodePtr operand, NodePtr& out) {
        NodePtr n = node(NodeKind::Unary, pos);
        n->op = static_cast<std::uint8_t>(op);
        n->kids.push_back(std::move(operand));
        if (!finish(*n)) return false;
        out = std::move(n);
        return true;
    }

    // .NOT. binds looser than the comparisons: ".NOT. a = b" is ".NOT. (a = b)".
    bool notExpr(NodePtr& out) {
        if (peek().kind == Tok::Not) {
            Deeper guard(*this);
            if (depth_ > opt_.maxDepth) return error(Fault::TooDeep, peek().pos);
            const std::size_t pos = take().pos;
            NodePtr operand;
            return notExpr(operand) && unaryNode(UnaryOp::Not, pos, std::move(operand), out);
        }
        return relational(out);
    }

    static bool relOp(Tok t, BinaryOp& op) {
        switch (t) {
        case Tok::Eq:
            op = BinaryOp::Eq;
            return true;
        case Tok::EqEq:
            op = BinaryOp::EqEq;
            return true;
        case Tok::Ne:
            op = BinaryOp::Ne;
            return true;
        case Tok::Lt:
            op = BinaryOp::Lt;
            return true;
        case Tok::Le:
            op = BinaryOp::Le;
            return true;
        case Tok::Gt:
            op = BinaryOp::Gt;
            return true;
        case Tok::Ge:
            op = BinaryOp::Ge;
            return true;
        case Tok::Dollar:
            op = BinaryOp::Contains;
            return true;
        default:
            return false;
        }
    }

    bool relational(NodePtr& out) {
        if (!additive(out)) return false;
        BinaryOp op;
        while (relOp(peek().kind, op)) {
            const std::size_t pos = take().pos;
            NodePtr right;
            if (!additive(right) || !binary(op, pos, out, std::move(right))) return false;
        }
        return true;
    }

    bool additive(NodePtr& out) {
        if (!multiplicative(out)) return false;
        while (peek().kind == Tok::Plus || peek().kind == Tok::Minus) {
            const BinaryOp op = peek().kind == Tok::Plus ? BinaryOp::Add : BinaryOp::Sub;
            const std::size_t pos = take().pos;
            NodePtr right;
            if (!multiplicative(right) || !binary(op, pos, out, std::move(right))) return false;
        }
        return true;
    }

    bool multiplicative(NodePtr& out) {
        if (!power(out)) return false;
        while (peek().kind == Tok::Star || peek().kind == Tok::Slash || peek().kind == Tok::Percent) {
            const BinaryOp op = peek().kind == Tok::Star    ? BinaryOp::Mul
                                : peek().kind == Tok::Slash ? BinaryOp::Div
                                                            : BinaryOp::Mod;
            const std::size_t pos = take().pos;
            NodePtr right;
            if (!power(right) || !binary(op, pos, out, std::move(right))) return false;
        }
        return true;
    }

    bool power(NodePtr& out) {
        if (!unary(out)) return false;
        while (peek().kind == Tok::Power) {
            const std::size_t pos = take().pos;
            NodePtr right;
            if (!unary(right) || !binary(BinaryOp::Pow, pos, out, std::move(right))) return false;
        }
        return true;
    }

    bool unary(NodePtr& out) {
        const Tok k = peek().kind;
        if (k == Tok::Minus || k == Tok::Plus || k == Tok::Not) {
            Deeper guard(*this);
            if (depth_ > opt_.maxDepth) return error(Fault::TooDeep, peek().pos);
            const std::size_t pos = take().pos;
            NodePtr operand;
            if (!unary(operand)) return false;
            const UnaryOp op = k == Tok::Minus ? UnaryOp::Neg : k == Tok::Plus ? UnaryOp::Plus : UnaryOp::Not;
            return unaryNode(op, pos, std::move(operand), out);
        }
        return primary(out);
    }

    // A list of expressions up to the closing token; with omitted allowed, an empty place
    // between commas (or before the first one) is an Omitted node.
    bool list(Node& n, Tok close, bool omitted) {
        if (peek().kind == close) return true;
        while (true) {
            const std::size_t pos = peek().pos;
            n.argPos.push_back(pos);
            if (omitted && (peek().kind == Tok::Comma || peek().kind == close)) {
                n.kids.push_back(node(NodeKind::Omitted, pos));
            } else {
                NodePtr e;
                if (!expression(e)) return false;
                n.kids.push_back(std::move(e));
            }
            if (peek().kind == Tok::Comma) {
                take();
                continue;
            }
            return true;
        }
    }

    bool closeWith(Tok close) {
        if (peek().kind != close)
            return error(peek().kind == Tok::End ? Fault::Paren : Fault::Syntax, peek().pos);
        take();
        return true;
    }

    bool call(const Token& name, NodePtr& out) {
        NodePtr n = node(NodeKind::Call, name.pos);
        n->text = name.text;
        take(); // "("
        Deeper guard(*this);
        if (!list(*n, Tok::RParen, opt_.omittedArguments)) return false;
        n->endPos = peek().pos;
        if (!closeWith(Tok::RParen) || !finish(*n)) return false;
        out = std::move(n);
        return true;
    }

    // "{" seen: an array {a, b} or a code block {|a, b| e1, e2}.
    bool brace(NodePtr& out) {
        const std::size_t pos = take().pos;
        Deeper guard(*this);
        if (depth_ > opt_.maxDepth) return error(Fault::TooDeep, pos);
        if (peek().kind == Tok::Pipe) {
            NodePtr n = node(NodeKind::Block, pos);
            take();
            while (peek().kind != Tok::Pipe) {
                if (peek().kind != Tok::Ident)
                    return error(peek().kind == Tok::End ? Fault::Paren : Fault::Syntax, peek().pos);
                n->params.push_back(take().text);
                if (peek().kind == Tok::Comma) {
                    take();
                    if (peek().kind != Tok::Ident) return error(Fault::Syntax, peek().pos);
                } else if (peek().kind != Tok::Pipe) {
                    return error(peek().kind == Tok::End ? Fault::Paren : Fault::Syntax, peek().pos);
                }
            }
            take(); // "|"
            // A block holds at least one expression.
            if (peek().kind == Tok::RBrace) return error(Fault::Syntax, peek().pos);
            if (!list(*n, Tok::RBrace, false) || !closeWith(Tok::RBrace) || !finish(*n)) return false;
            out = std::move(n);
            return true;
        }
        NodePtr n = node(NodeKind::Array, pos);
        if (!list(*n, Tok::RBrace, false) || !closeWith(Tok::RBrace) || !finish(*n)) return false;
        out = std::move(n);
        return true;
    }

    // An operand and the subscripts that follow it: a[1], f()[2], {1, 2}[i][j].
    bool primary(NodePtr& out) {
        if (!operand(out)) return false;
        while (peek().kind == Tok::LBracket) {
            const std::size_t pos = take().pos;
            Deeper guard(*this);
            if (depth_ > opt_.maxDepth) return error(Fault::TooDeep, pos);
            NodePtr index;
            if (!expression(index) || !closeWith(Tok::RBracket)) return false;
            NodePtr n = node(NodeKind::Index, pos);
            n->kids.push_back(std::move(out));
            n->kids.push_back(std::move(index));
            if (!finish(*n)) return false;
            out = std::move(n);
        }
        return true;
    }

    bool operand(NodePtr& out) {
        const Token& t = peek();
        switch (t.kind) {
        case Tok::Number: {
            const Token& tok = take();
            out = node(NodeKind::Number, tok.pos);
            out->number = tok.number;
            return true;
        }
        case Tok::String: {
            const Token& tok = take();
            out = node(NodeKind::String, tok.pos);
            out->text = tok.text;
            return true;
        }
        case Tok::Logical: {
            const Token& tok = take();
            out = node(NodeKind::Logical, tok.pos);
            out->logical = tok.logical;
            return true;
        }
        case Tok::Date: {
            const Token& tok = take();
            out = node(NodeKind::Date, tok.pos);
            out->text = tok.text;
            return true;
        }
        case Tok::LBrace:
            return brace(out);
        case Tok::LParen: {
            take();
            if (!expression(out)) return false;
            return closeWith(Tok::RParen);
        }
        case Tok::Ident: {
            const Token& name = take();
            if (peek().kind == Tok::LParen) return call(name, out);
            if (opt_.nilLiteral && name.text == "NIL") {
                out = node(NodeKind::Nil, name.pos);
                return true;
            }
            NodePtr n = node(NodeKind::Name, name.pos);
            if (peek().kind == Tok::Arrow || (peek().kind == Tok::Dot && peek(1).kind == Tok::Ident)) {
                n->arrow = peek().kind == Tok::Arrow;
                n->alias = name.text;
                take();
                if (peek().kind != Tok::Ident) return error(Fault::Syntax, peek().pos);
                const Token& field = take();
                n->text = field.text;
                n->endPos = field.pos;
            } else {
                n->text = name.text;
                n->endPos = name.pos;
            }
            out = std::move(n);
            return true;
        }
        default:
            return error(Fault::Syntax, t.pos); // an operand is missing
        }
    }
};

} // namespace

Fault parse(std::string_view text, const Options& options, std::unique_ptr<Node>& out,
            std::size_t& errorPos) {
    out.reset();
    errorPos = 0;
    std::vector<Token> tokens;
    if (const Fault f = tokenize(text, options, tokens, errorPos); f != Fault::None) return f;
    Parser parser(tokens, options);
    return parser.parse(out, errorPos);
}

bool isoDateParts(std::string_view body, bool& isIso, long& year, long& month, long& day) {
    while (!body.empty() && body.front() == ' ') body.remove_prefix(1);
    isIso = !body.empty() && body.front() == '^';
    if (!isIso) return false;
    long parts[3] = {0, 0, 0};
    int n = 0, digitsInPart = 0;
    for (std::size_t i = 1; i < body.size(); ++i) {
        const char c = body[i];
        if (digit(c)) {
            if (n == 0 && digitsInPart == 0) n = 1;
            if (digitsInPart < 9) parts[n - 1] = parts[n - 1] * 10 + (c - '0');
            ++digitsInPart;
        } else if ((c == '-' || c == '/' || c == '.') && n > 0 && n < 3 && digitsInPart > 0) {
            ++n;
            digitsInPart = 0;
        } else if (c == ' ' && i + 1 == body.size()) {
        } else {
            return false;
        }
    }
    if (n != 3 || digitsInPart == 0) return false;
    year = parts[0];
    month = parts[1];
    day = parts[2];
    return true;
}

} // namespace syntax
