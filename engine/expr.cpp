#include "engine/expr.h"

#include "engine/calendar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace engine {

namespace {

using Kind = ExprValue::Kind;

// Longest string an expression may build (SPACE, REPLICATE, padding, concatenation); longer
// results give Nil instead of exhausting memory on a hostile expression.
constexpr std::size_t kMaxString = std::size_t{4} << 20;

// ---------------------------------------------------------------------------------------
// Dates: Julian day numbers, text in a date format, the epoch window.

// 0 unless year, month and day name a real day (the values come from digit groups of any size).
std::int32_t makeDate(long y, long m, long d) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return 0;
    return calendar::julian(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d));
}

void splitDate(std::int32_t julian, int& year, int& month, int& day) {
    calendar::split(julian, year, month, day);
}

bool isY(char c) {
    return c == 'y' || c == 'Y';
}
bool isM(char c) {
    return c == 'm' || c == 'M';
}
bool isD(char c) {
    return c == 'd' || c == 'D';
}

void twoDigits(std::string& out, int n) {
    out += static_cast<char>('0' + n / 10 % 10);
    out += static_cast<char>('0' + n % 10);
}

// The date as text in the pattern: "dd", "mm" and runs of "y" (two digits, or four for three
// letters or more) are replaced, other characters are copied; the empty date gives blanks.
std::string formatDate(std::int32_t julian, std::string_view pattern) {
    int y, m, d;
    splitDate(julian, y, m, d);
    const bool empty = julian <= 0;
    std::string out;
    for (std::size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        std::size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c) ++run;
        if (isY(c)) {
            if (run >= 3) {
                if (empty)
                    out.append(4, ' ');
                else
                    twoDigits(out, y / 100), twoDigits(out, y % 100);
            } else {
                if (empty)
                    out.append(2, ' ');
                else
                    twoDigits(out, y % 100);
            }
            i += run;
        } else if ((isD(c) || isM(c)) && run >= 2) {
            for (std::size_t k = 0; k + 1 < run; k += 2) {
                if (empty)
                    out += "  ";
                else
                    twoDigits(out, isD(c) ? d : m);
            }
            if (run % 2) out += c;
            i += run;
        } else {
            out += empty && (isD(c) || isM(c)) ? ' ' : c;
            ++i;
        }
    }
    return out;
}

// Reads a date written in the pattern's order of day, month and year; two-digit years fall in
// the 100-year window that starts at epoch. Anything that is not a real date gives 0.
std::int32_t parseDate(std::string_view text, std::string_view pattern, int epoch) {
    char order[3];
    int n = 0;
    for (std::size_t i = 0; i < pattern.size() && n < 3;) {
        const char c = pattern[i];
        std::size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c) ++run;
        if (isD(c) || isM(c) || isY(c)) order[n++] = isD(c) ? 'd' : isM(c) ? 'm' : 'y';
        i += run;
    }
    if (n != 3) return 0;
    long values[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    int groups = 0;
    for (std::size_t i = 0; i < text.size() && groups < 3;) {
        if (text[i] >= '0' && text[i] <= '9') {
            long v = 0;
            int count = 0;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
                if (count < 9) v = v * 10 + (text[i] - '0');
                ++count;
                ++i;
            }
            values[groups] = v;
            digits[groups] = count;
            ++groups;
        } else {
            ++i;
        }
    }
    if (groups != 3) return 0;
    long y = 0, m = 0, d = 0;
    int yDigits = 0;
    for (int k = 0; k < 3; ++k) {
        if (order[k] == 'd')
            d = values[k];
        else if (order[k] == 'm')
            m = values[k];
        else
            y = values[k], yDigits = digits[k];
    }
    if (yDigits <= 2 && y < 100) {
        y += epoch / 100 * 100;
        if (y < epoch) y += 100;
    }
    return makeDate(y, m, d);
}

// ---------------------------------------------------------------------------------------
// Numbers as text.

// n right-aligned in width characters with decimals places, rounded half away from zero;
// asterisks when it does not fit.
std::string formatNumber(double n, int width, int decimals) {
    if (decimals < 0) decimals = 0;
    if (decimals > 30) decimals = 30;
    if (width < 1) width = 10;
    if (width > 255) width = 255;
    if (!std::isfinite(n)) return std::string(static_cast<std::size_t>(width), '*');
    double scaled = n * std::pow(10.0, decimals);
    if (std::fabs(scaled) < 1e15) {
        scaled = std::round(scaled);
        n = scaled / std::pow(10.0, decimals);
    }
    if (n == 0) n = 0; // no "-0"
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, n);
    const std::size_t len = std::strlen(buf);
    if (len > static_cast<std::size_t>(width)) return std::string(static_cast<std::size_t>(width), '*');
    return std::string(static_cast<std::size_t>(width) - len, ' ') + buf;
}

// STR's width and decimals when the call leaves them out: a field's own; else 10 places for a
// whole number and 10 places and two decimals for a fraction.
void defaultWidth(const ExprValue& v, int& width, int& decimals) {
    if (v.width) {
        width = v.width;
        decimals = v.decimals;
    } else if (v.num == std::floor(v.num)) {
        width = 10;
        decimals = 0;
    } else {
        decimals = 2;
        width = 13;
    }
}

// The number's text without blanks (used when a number is padded).
std::string plainNumber(const ExprValue& v) {
    int width, decimals;
    defaultWidth(v, width, decimals);
    std::string s = formatNumber(v.num, 255, decimals);
    const std::size_t start = s.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : s.substr(start);
}

double valOf(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::string digits;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) digits += s[i++];
    bool dot = false;
    while (i < s.size() && digits.size() < 64) {
        const char c = s[i];
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c == '.' && !dot)
            dot = true, digits += c;
        else
            break;
        ++i;
    }
    return digits.empty() ? 0.0 : std::strtod(digits.c_str(), nullptr);
}

bool blankByte(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string rtrim(std::string_view s) {
    std::size_t end = s.size();
    while (end > 0 && s[end - 1] == ' ') --end;
    return std::string(s.substr(0, end));
}

std::string ltrim(std::string_view s) {
    std::size_t start = 0;
    while (start < s.size() && s[start] == ' ') ++start;
    return std::string(s.substr(start));
}

// String order of the comparisons. With exact off a string equals every string it begins
// (so "" equals all); with exact on trailing blanks do not count.
int compareStrings(std::string_view a, std::string_view b, bool exact) {
    if (exact) {
        const std::size_t n = std::max(a.size(), b.size());
        for (std::size_t i = 0; i < n; ++i) {
            const auto ca = static_cast<unsigned char>(i < a.size() ? a[i] : ' ');
            const auto cb = static_cast<unsigned char>(i < b.size() ? b[i] : ' ');
            if (ca != cb) return ca < cb ? -1 : 1;
        }
        return 0;
    }
    if (a.size() >= b.size() && a.substr(0, b.size()) == b) return 0;
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------------------
// Tokens.

enum class Tok : std::uint8_t {
    End,
    Number,
    String,
    Date,
    Logical,
    Ident,
    LParen,
    RParen,
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

bool matchWordAt(std::string_view s, std::size_t i, std::string_view word) {
    if (i + word.size() > s.size()) return false;
    for (std::size_t k = 0; k < word.size(); ++k)
        if (upper(s[i + k]) != word[k]) return false;
    return true;
}

// Splits the whole text into tokens; answers 0 or an error with its position.
Result tokenize(std::string_view s, std::vector<Token>& out, std::size_t& errorPos) {
    std::size_t i = 0;
    while (true) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
        Token t;
        t.pos = i;
        if (i >= s.size()) {
            out.push_back(t);
            return kOk;
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
        } else if (c == '"' || c == '\'' || c == '[') {
            const char close = c == '[' ? ']' : c;
            const std::size_t end = s.find(close, i + 1);
            if (end == std::string_view::npos) {
                errorPos = i;
                return kExprParen;
            }
            t.kind = Tok::String;
            t.text = std::string(s.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == '{') {
            const std::size_t end = s.find('}', i + 1);
            if (end == std::string_view::npos) {
                errorPos = i;
                return kExprParen;
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
            default:
                errorPos = i;
                return kExprSyntax;
            }
            i += len;
        }
        out.push_back(std::move(t));
    }
}

// ---------------------------------------------------------------------------------------
// Functions.

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

const FnInfo kFunctions[] = {
    {"UPPER", Fn::Upper, 1, 1, "C", 'C'},       {"LOWER", Fn::Lower, 1, 1, "C", 'C'},
    {"STR", Fn::Str, 1, 3, "NNN", 'C'},         {"VAL", Fn::Val, 1, 1, "C", 'N'},
    {"DTOS", Fn::Dtos, 1, 1, "D", 'C'},         {"DTOC", Fn::Dtoc, 1, 1, "D", 'C'},
    {"CTOD", Fn::Ctod, 1, 1, "C", 'D'},         {"STOD", Fn::Stod, 1, 1, "C", 'D'},
    {"SUBSTR", Fn::Substr, 2, 3, "CNN", 'C'},   {"LEFT", Fn::Left, 2, 2, "CN", 'C'},
    {"RIGHT", Fn::Right, 2, 2, "CN", 'C'},      {"TRIM", Fn::Trim, 1, 1, "C", 'C'},
    {"RTRIM", Fn::Rtrim, 1, 1, "C", 'C'},       {"LTRIM", Fn::Ltrim, 1, 1, "C", 'C'},
    {"ALLTRIM", Fn::Alltrim, 1, 1, "C", 'C'},   {"PADL", Fn::Padl, 2, 3, "*NC", 'C'},
    {"PADR", Fn::Padr, 2, 3, "*NC", 'C'},       {"PADC", Fn::Padc, 2, 3, "*NC", 'C'},
    {"IIF", Fn::Iif, 3, 3, "L**", '?'},         {"IF", Fn::Iif, 3, 3, "L**", '?'},
    {"DELETED", Fn::Deleted, 0, 0, "", 'L'},    {"RECNO", Fn::Recno, 0, 0, "", 'N'},
    {"EMPTY", Fn::Empty, 1, 1, "*", 'L'},       {"DAY", Fn::Day, 1, 1, "D", 'N'},
    {"MONTH", Fn::Month, 1, 1, "D", 'N'},       {"YEAR", Fn::Year, 1, 1, "D", 'N'},
    {"STRZERO", Fn::Strzero, 1, 3, "NNN", 'C'}, {"LEN", Fn::Len, 1, 1, "C", 'N'},
    {"SPACE", Fn::Space, 1, 1, "N", 'C'},       {"REPLICATE", Fn::Replicate, 2, 2, "CN", 'C'},
    {"ABS", Fn::Abs, 1, 1, "N", 'N'},           {"INT", Fn::Int, 1, 1, "N", 'N'},
    {"ROUND", Fn::Round, 2, 2, "NN", 'N'},      {"MAX", Fn::Max, 2, 2, "**", '1'},
    {"MIN", Fn::Min, 2, 2, "**", '1'},          {"CHR", Fn::Chr, 1, 1, "N", 'C'},
    {"ASC", Fn::Asc, 1, 1, "C", 'N'},           {"AT", Fn::At, 2, 2, "CC", 'N'},
};

// A function by name: the full name, or an abbreviation of at least four letters.
const FnInfo* findFunction(std::string_view name) {
    for (const FnInfo& f : kFunctions)
        if (name == f.name) return &f;
    if (name.size() >= 4)
        for (const FnInfo& f : kFunctions)
            if (std::string_view(f.name).substr(0, name.size()) == name) return &f;
    return nullptr;
}

char staticType(char fieldType) {
    switch (upper(fieldType)) {
    case 'C':
    case 'M':
    case 'V':
        return 'C';
    case 'N':
    case 'F':
    case 'I':
    case 'B':
    case 'Y':
        return 'N';
    case 'D':
        return 'D';
    case 'L':
        return 'L';
    default:
        return 'U';
    }
}

Kind kindOf(char staticType) {
    switch (staticType) {
    case 'C':
        return Kind::Character;
    case 'N':
        return Kind::Numeric;
    case 'D':
        return Kind::Date;
    case 'L':
        return Kind::Logical;
    default:
        return Kind::Nil;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------
// The compiled form: a flat list of nodes, children before their parents, the root last.

enum class Op : std::uint8_t {
    Literal,
    DateLiteral,
    Field,
    Call,
    Neg,
    Not,
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
    Contains,
};

struct ExprNode {
    Op op = Op::Literal;
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

namespace {

class Parser {
  public:
    Parser(std::vector<Token>& tokens, std::span<const FieldDesc> fields, std::string_view alias,
           ExprProgram& prog)
        : toks_(tokens), fields_(fields), prog_(prog) {
        for (char c : alias) alias_ += upper(c);
    }

    Result parse(std::size_t& errorPos) {
        if (peek().kind == Tok::End) return fail(kExprEmpty, peek().pos, errorPos);
        std::uint32_t root;
        if (!expression(root)) {
            errorPos = errPos_;
            return err_;
        }
        if (peek().kind != Tok::End)
            return fail(peek().kind == Tok::RParen ? kExprParen : kExprTrailing, peek().pos, errorPos);
        prog_.root = root;
        return kOk;
    }

  private:
    std::vector<Token>& toks_;
    std::span<const FieldDesc> fields_;
    ExprProgram& prog_;
    std::string alias_;
    std::size_t at_ = 0;
    std::size_t depth_ = 0;
    Result err_ = kOk;
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
    Result fail(Result code, std::size_t pos, std::size_t& errorPos) {
        errorPos = pos;
        return code;
    }
    bool error(Result code, std::size_t pos) {
        if (err_ == kOk) err_ = code, errPos_ = pos;
        return false;
    }

    std::uint32_t add(ExprNode node, std::size_t pos, bool& ok) {
        std::size_t h = 0;
        if (node.op >= Op::Neg) {
            h = prog_.nodes[node.a].height;
            if (node.op >= Op::And) h = std::max(h, prog_.nodes[node.b].height);
        }
        for (std::uint32_t arg : node.args) h = std::max(h, prog_.nodes[arg].height);
        node.height = h + 1;
        if (node.height > kMaxExprDepth) ok = error(kExprTooDeep, pos);
        prog_.nodes.push_back(std::move(node));
        return static_cast<std::uint32_t>(prog_.nodes.size() - 1);
    }

    char typeOf(std::uint32_t n) const { return prog_.nodes[n].type; }

    // Guards the recursion of the descent: every nested parenthesis, call and prefix operator
    // goes one level deeper.
    struct Deeper {
        Parser& p;
        explicit Deeper(Parser& parser) : p(parser) { ++p.depth_; }
        ~Deeper() { --p.depth_; }
    };

    bool expression(std::uint32_t& out) {
        Deeper guard(*this);
        if (depth_ > kMaxExprDepth) return error(kExprTooDeep, peek().pos);
        return orExpr(out);
    }

    bool binary(Op op, std::size_t pos, std::uint32_t left, std::uint32_t right, std::uint32_t& out) {
        const char l = typeOf(left), r = typeOf(right);
        const bool known = l != 'U' && r != 'U';
        char type = 'U';
        bool bad = false;
        switch (op) {
        case Op::And:
        case Op::Or:
            bad = (l != 'U' && l != 'L') || (r != 'U' && r != 'L');
            type = 'L';
            break;
        case Op::Add:
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
        case Op::Sub:
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
        case Op::Mul:
        case Op::Div:
        case Op::Mod:
        case Op::Pow:
            bad = (l != 'U' && l != 'N') || (r != 'U' && r != 'N');
            type = 'N';
            break;
        case Op::Contains:
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
        node.op = op;
        node.type = type;
        node.a = left;
        node.b = right;
        bool ok = true;
        out = add(std::move(node), pos, ok);
        return ok;
    }

    bool orExpr(std::uint32_t& out) {
        if (!andExpr(out)) return false;
        while (peek().kind == Tok::Or) {
            const std::size_t pos = take().pos;
            std::uint32_t right;
            if (!andExpr(right) || !binary(Op::Or, pos, out, right, out)) return false;
        }
        return true;
    }

    bool andExpr(std::uint32_t& out) {
        if (!notExpr(out)) return false;
        while (peek().kind == Tok::And) {
            const std::size_t pos = take().pos;
            std::uint32_t right;
            if (!notExpr(right) || !binary(Op::And, pos, out, right, out)) return false;
        }
        return true;
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

    // .NOT. binds looser than the comparisons: ".NOT. a = b" is ".NOT. (a = b)".
    bool notExpr(std::uint32_t& out) {
        if (peek().kind == Tok::Not) {
            Deeper guard(*this);
            if (depth_ > kMaxExprDepth) return error(kExprTooDeep, peek().pos);
            const std::size_t pos = take().pos;
            std::uint32_t operand;
            return notExpr(operand) && unaryNode(Op::Not, pos, operand, out);
        }
        return relational(out);
    }

    static bool relOp(Tok t, Op& op) {
        switch (t) {
        case Tok::Eq:
            op = Op::Eq;
            return true;
        case Tok::EqEq:
            op = Op::EqEq;
            return true;
        case Tok::Ne:
            op = Op::Ne;
            return true;
        case Tok::Lt:
            op = Op::Lt;
            return true;
        case Tok::Le:
            op = Op::Le;
            return true;
        case Tok::Gt:
            op = Op::Gt;
            return true;
        case Tok::Ge:
            op = Op::Ge;
            return true;
        case Tok::Dollar:
            op = Op::Contains;
            return true;
        default:
            return false;
        }
    }

    bool relational(std::uint32_t& out) {
        if (!additive(out)) return false;
        Op op;
        while (relOp(peek().kind, op)) {
            const std::size_t pos = take().pos;
            std::uint32_t right;
            if (!additive(right) || !binary(op, pos, out, right, out)) return false;
        }
        return true;
    }

    bool additive(std::uint32_t& out) {
        if (!multiplicative(out)) return false;
        while (peek().kind == Tok::Plus || peek().kind == Tok::Minus) {
            const Op op = peek().kind == Tok::Plus ? Op::Add : Op::Sub;
            const std::size_t pos = take().pos;
            std::uint32_t right;
            if (!multiplicative(right) || !binary(op, pos, out, right, out)) return false;
        }
        return true;
    }

    bool multiplicative(std::uint32_t& out) {
        if (!power(out)) return false;
        while (peek().kind == Tok::Star || peek().kind == Tok::Slash || peek().kind == Tok::Percent) {
            const Op op = peek().kind == Tok::Star ? Op::Mul : peek().kind == Tok::Slash ? Op::Div : Op::Mod;
            const std::size_t pos = take().pos;
            std::uint32_t right;
            if (!power(right) || !binary(op, pos, out, right, out)) return false;
        }
        return true;
    }

    bool power(std::uint32_t& out) {
        if (!unary(out)) return false;
        while (peek().kind == Tok::Power) {
            const std::size_t pos = take().pos;
            std::uint32_t right;
            if (!unary(right) || !binary(Op::Pow, pos, out, right, out)) return false;
        }
        return true;
    }

    bool unary(std::uint32_t& out) {
        const Tok k = peek().kind;
        if (k == Tok::Minus || k == Tok::Plus || k == Tok::Not) {
            Deeper guard(*this);
            if (depth_ > kMaxExprDepth) return error(kExprTooDeep, peek().pos);
            const std::size_t pos = take().pos;
            std::uint32_t operand;
            if (!unary(operand)) return false;
            if (k == Tok::Plus) {
                const char t = typeOf(operand);
                if (t != 'U' && t != 'N') return error(kExprType, pos);
                out = operand;
                return true;
            }
            return unaryNode(k == Tok::Minus ? Op::Neg : Op::Not, pos, operand, out);
        }
        return primary(out);
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
    bool dateLiteral(const Token& t, std::uint32_t& out) {
        std::string_view body = t.text;
        while (!body.empty() && body.front() == ' ') body.remove_prefix(1);
        if (!body.empty() && body.front() == '^') {
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
                    return error(kExprSyntax, t.pos);
                }
            }
            if (n != 3 || digitsInPart == 0) return error(kExprSyntax, t.pos);
            const std::int32_t day = makeDate(parts[0], parts[1], parts[2]);
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

    bool call(const Token& name, std::uint32_t& out) {
        const FnInfo* f = findFunction(name.text);
        if (!f) return error(kExprUnknownFunction, name.pos);
        take(); // "("
        Deeper guard(*this);
        std::vector<std::uint32_t> args;
        std::vector<std::size_t> argPos;
        if (peek().kind != Tok::RParen) {
            while (true) {
                argPos.push_back(peek().pos);
                if (args.size() == f->maxArgs) return error(kExprArgCount, peek().pos);
                std::uint32_t arg;
                if (!expression(arg)) return false;
                args.push_back(arg);
                if (peek().kind == Tok::Comma) {
                    take();
                    continue;
                }
                break;
            }
        }
        if (peek().kind != Tok::RParen)
            return error(peek().kind == Tok::End ? kExprParen : kExprSyntax, peek().pos);
        if (args.size() < f->minArgs) return error(kExprArgCount, peek().pos);
        take(); // ")"
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
        out = add(std::move(node), name.pos, ok);
        return ok;
    }

    bool primary(std::uint32_t& out) {
        const Token& t = peek();
        switch (t.kind) {
        case Tok::Number: {
            const Token& n = take();
            return literal(ExprValue::numeric(n.number), 'N', n.pos, out);
        }
        case Tok::String: {
            const Token& s = take();
            return literal(ExprValue::character(s.text), 'C', s.pos, out);
        }
        case Tok::Logical: {
            const Token& l = take();
            return literal(ExprValue::logicalValue(l.logical), 'L', l.pos, out);
        }
        case Tok::Date:
            return dateLiteral(take(), out);
        case Tok::LParen: {
            take();
            if (!expression(out)) return false;
            if (peek().kind != Tok::RParen)
                return error(peek().kind == Tok::End ? kExprParen : kExprSyntax, peek().pos);
            take();
            return true;
        }
        case Tok::Ident: {
            const Token& name = take();
            if (peek().kind == Tok::LParen) return call(name, out);
            if (peek().kind == Tok::Arrow || (peek().kind == Tok::Dot && peek(1).kind == Tok::Ident)) {
                const bool arrow = peek().kind == Tok::Arrow;
                const bool known =
                    name.text == alias_ || (arrow && (name.text == "FIELD" || name.text == "_FIELD"));
                if (!known) return error(kExprUnknownField, name.pos);
                take();
                if (peek().kind != Tok::Ident) return error(kExprSyntax, peek().pos);
                const Token& field = take();
                return fieldByName(field.text, field.pos, out);
            }
            return fieldByName(name.text, name.pos, out);
        }
        default:
            return error(kExprSyntax, t.pos); // an operand is missing
        }
    }
};

// ---------------------------------------------------------------------------------------
// Evaluation.

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
        case Op::And:
        case Op::Or: {
            // Both sides are evaluated; only the logical result matters.
            const ExprValue a = eval(node.a);
            if (a.kind != Kind::Logical) return {};
            if (node.op == Op::And && !a.logical) return a;
            if (node.op == Op::Or && a.logical) return a;
            const ExprValue b = eval(node.b);
            if (b.kind != Kind::Logical) return {};
            return b;
        }
        default:
            return binary(node.op, eval(node.a), eval(node.b));
        }
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

    ExprValue binary(Op op, const ExprValue& a, const ExprValue& b) {
        if (a.isNil() || b.isNil()) return {};
        switch (op) {
        case Op::Add:
            if (a.kind == Kind::Character && b.kind == Kind::Character) {
                if (a.str.size() + b.str.size() > kMaxString) return {};
                return ExprValue::character(a.str + b.str);
            }
            if (a.kind == Kind::Numeric && b.kind == Kind::Numeric) return ExprValue::numeric(a.num + b.num);
            if (a.kind == Kind::Date && b.kind == Kind::Numeric) return addDays(a.date, b.num);
            if (a.kind == Kind::Numeric && b.kind == Kind::Date) return addDays(b.date, a.num);
            return {};
        case Op::Sub:
            if (a.kind == Kind::Character && b.kind == Kind::Character) {
                // The left side's trailing blanks move to the end of the result.
                if (a.str.size() + b.str.size() > kMaxString) return {};
                std::string left = rtrim(a.str);
                const std::size_t blanks = a.str.size() - left.size();
                return ExprValue::character(left + b.str + std::string(blanks, ' '));
            }
            if (a.kind == Kind::Numeric && b.kind == Kind::Numeric) return ExprValue::numeric(a.num - b.num);
            if (a.kind == Kind::Date && b.kind == Kind::Numeric) return addDays(a.date, -b.num);
            if (a.kind == Kind::Date && b.kind == Kind::Date) {
                if (!a.date || !b.date) return ExprValue::numeric(0);
                return ExprValue::numeric(static_cast<double>(a.date) - b.date);
            }
            return {};
        case Op::Mul:
        case Op::Div:
        case Op::Mod:
        case Op::Pow: {
            if (a.kind != Kind::Numeric || b.kind != Kind::Numeric) return {};
            double r = 0;
            // Division by zero answers 0, as the runtime's error handler does.
            if (op == Op::Mul)
                r = a.num * b.num;
            else if (op == Op::Div)
                r = b.num == 0 ? 0 : a.num / b.num;
            else if (op == Op::Mod)
                r = b.num == 0 ? 0 : std::fmod(a.num, b.num);
            else
                r = std::pow(a.num, b.num);
            if (!std::isfinite(r)) r = 0;
            return ExprValue::numeric(r);
        }
        case Op::Contains:
            if (a.kind != Kind::Character || b.kind != Kind::Character) return {};
            return ExprValue::logicalValue(b.str.find(a.str) != std::string::npos);
        default:
            break;
        }
        // Comparisons.
        if (a.kind != b.kind) return {};
        if (a.kind == Kind::Character) {
            if (op == Op::EqEq) return ExprValue::logicalValue(a.str == b.str);
            if (op == Op::Eq || op == Op::Ne) {
                // "=" with exact off: a begins with b; with exact on trailing blanks are ignored.
                bool eq;
                if (set_.exact)
                    eq = compareStrings(a.str, b.str, true) == 0;
                else
                    eq = a.str.size() >= b.str.size() && a.str.compare(0, b.str.size(), b.str) == 0;
                return ExprValue::logicalValue(op == Op::Eq ? eq : !eq);
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
        if (op == Op::EqEq) op = Op::Eq;
        return ordered(op, c);
    }

    static ExprValue ordered(Op op, int c) {
        switch (op) {
        case Op::Eq:
            return ExprValue::logicalValue(c == 0);
        case Op::Ne:
            return ExprValue::logicalValue(c != 0);
        case Op::Lt:
            return ExprValue::logicalValue(c < 0);
        case Op::Le:
            return ExprValue::logicalValue(c <= 0);
        case Op::Gt:
            return ExprValue::logicalValue(c > 0);
        case Op::Ge:
            return ExprValue::logicalValue(c >= 0);
        default:
            return {};
        }
    }

    static ExprValue addDays(std::int32_t date, double days) {
        if (!date) return ExprValue::dateValue(0);
        const double r = std::trunc(static_cast<double>(date) + days);
        // Outside years 1 to 9999 there is no date.
        if (!(r >= 1721426 && r <= 5373484)) return ExprValue::dateValue(0);
        return ExprValue::dateValue(static_cast<std::int32_t>(r));
    }

    // A count argument as an integer, clamped so that huge values cannot overflow.
    static long long count(const ExprValue& v) {
        if (v.kind != Kind::Numeric || !std::isfinite(v.num)) return 0;
        if (v.num > 1e12) return 1000000000000LL;
        if (v.num < -1e12) return -1000000000000LL;
        return static_cast<long long>(v.num);
    }

    static std::string pad(std::string_view s, long long width, char fill, int side) {
        if (width <= 0) return {};
        const auto w = static_cast<std::size_t>(width);
        if (s.size() >= w) return std::string(s.substr(0, w)); // longer text keeps its start
        const std::size_t missing = w - s.size();
        if (side == 0) return std::string(missing, fill) + std::string(s); // left
        if (side == 1) return std::string(s) + std::string(missing, fill); // right
        return std::string(missing / 2, fill) + std::string(s) + std::string(missing - missing / 2, fill);
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
        const std::size_t n = node.args.size();
        for (std::size_t i = 0; i < n && i < 3; ++i) {
            args[i] = eval(node.args[i]);
            if (args[i].isNil() && node.fn != Fn::Empty) return {};
        }
        const ExprValue& a = args[0];
        const ExprValue& b = args[1];
        const ExprValue& c = args[2];
        const auto isC = [](const ExprValue& v) { return v.kind == Kind::Character; };
        const auto isN = [](const ExprValue& v) { return v.kind == Kind::Numeric; };
        const auto isD = [](const ExprValue& v) { return v.kind == Kind::Date; };

        switch (node.fn) {
        case Fn::Upper:
        case Fn::Lower: {
            if (!isC(a)) return {};
            std::string s = a.str;
            for (char& ch : s) {
                if (node.fn == Fn::Upper && ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
                if (node.fn == Fn::Lower && ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
            }
            return ExprValue::character(std::move(s));
        }
        case Fn::Str:
        case Fn::Strzero: {
            if (!isN(a) || (n > 1 && !isN(b)) || (n > 2 && !isN(c))) return {};
            int width, decimals;
            defaultWidth(a, width, decimals);
            if (n > 1) {
                width = static_cast<int>(std::clamp<long long>(count(b), -1, 255));
                decimals = n > 2 ? static_cast<int>(std::clamp<long long>(count(c), 0, 30)) : 0;
                if (width < 1) return ExprValue::character("");
            }
            std::string s = formatNumber(a.num, width, decimals);
            if (node.fn == Fn::Strzero && s.find('*') == std::string::npos) {
                const bool negative = s.find('-') != std::string::npos;
                for (char& ch : s)
                    if (ch == ' ' || ch == '-') ch = '0';
                if (negative) s[0] = '-';
            }
            return ExprValue::character(std::move(s));
        }
        case Fn::Val:
            return isC(a) ? ExprValue::numeric(valOf(a.str)) : ExprValue{};
        case Fn::Dtos: {
            if (!isD(a)) return {};
            if (!a.date) return ExprValue::character(std::string(8, ' '));
            return ExprValue::character(formatDate(a.date, "yyyymmdd"));
        }
        case Fn::Dtoc:
            return isD(a) ? ExprValue::character(formatDate(a.date, set_.dateFormat)) : ExprValue{};
        case Fn::Ctod:
            return isC(a) ? ExprValue::dateValue(parseDate(a.str, set_.dateFormat, set_.epoch)) : ExprValue{};
        case Fn::Stod: {
            if (!isC(a)) return {};
            if (a.str.size() != 8 || !std::all_of(a.str.begin(), a.str.end(), digit))
                return ExprValue::dateValue(0);
            return ExprValue::dateValue(parseDate(
                a.str.substr(0, 4) + "-" + a.str.substr(4, 2) + "-" + a.str.substr(6), "yyyy-mm-dd", 1900));
        }
        case Fn::Substr: {
            if (!isC(a) || !isN(b) || (n > 2 && !isN(c))) return {};
            const auto len = static_cast<long long>(a.str.size());
            long long start = count(b);
            if (start < 0) start = std::max(1LL, len + start + 1);
            if (start == 0) start = 1;
            if (start > len) return ExprValue::character("");
            long long take = n > 2 ? count(c) : len;
            if (take <= 0) return ExprValue::character("");
            take = std::min(take, len - start + 1);
            return ExprValue::character(
                a.str.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(take)));
        }
        case Fn::Left:
        case Fn::Right: {
            if (!isC(a) || !isN(b)) return {};
            const long long k = count(b);
            if (k <= 0) return ExprValue::character("");
            const auto m = std::min(static_cast<std::size_t>(k), a.str.size());
            return ExprValue::character(node.fn == Fn::Left ? a.str.substr(0, m)
                                                            : a.str.substr(a.str.size() - m));
        }
        case Fn::Trim:
        case Fn::Rtrim:
            return isC(a) ? ExprValue::character(rtrim(a.str)) : ExprValue{};
        case Fn::Ltrim:
            return isC(a) ? ExprValue::character(ltrim(a.str)) : ExprValue{};
        case Fn::Alltrim:
            return isC(a) ? ExprValue::character(ltrim(rtrim(a.str))) : ExprValue{};
        case Fn::Padl:
        case Fn::Padr:
        case Fn::Padc: {
            if (!isN(b) || (n > 2 && !isC(c))) return {};
            std::string s;
            if (isC(a))
                s = a.str;
            else if (isN(a))
                s = plainNumber(a);
            else if (isD(a))
                s = formatDate(a.date, set_.dateFormat);
            else
                return {};
            const long long w = count(b);
            if (w > static_cast<long long>(kMaxString)) return {};
            const char fill = n > 2 && !c.str.empty() ? c.str[0] : ' ';
            return ExprValue::character(pad(s, w, fill,
                                            node.fn == Fn::Padl   ? 0
                                            : node.fn == Fn::Padr ? 1
                                                                  : 2));
        }
        case Fn::Empty:
            switch (a.kind) {
            case Kind::Nil:
                return ExprValue::logicalValue(true);
            case Kind::Character:
                return ExprValue::logicalValue(std::all_of(a.str.begin(), a.str.end(), blankByte));
            case Kind::Numeric:
                return ExprValue::logicalValue(a.num == 0);
            case Kind::Date:
                return ExprValue::logicalValue(a.date == 0);
            case Kind::Logical:
                return ExprValue::logicalValue(!a.logical);
            }
            return {};
        case Fn::Day:
        case Fn::Month:
        case Fn::Year: {
            if (!isD(a)) return {};
            int y, m, d;
            splitDate(a.date, y, m, d);
            return ExprValue::numeric(node.fn == Fn::Day ? d : node.fn == Fn::Month ? m : y);
        }
        case Fn::Len:
            return isC(a) ? ExprValue::numeric(static_cast<double>(a.str.size())) : ExprValue{};
        case Fn::Space: {
            if (!isN(a)) return {};
            const long long k = count(a);
            if (k > static_cast<long long>(kMaxString)) return {};
            return ExprValue::character(std::string(k > 0 ? static_cast<std::size_t>(k) : 0, ' '));
        }
        case Fn::Replicate: {
            if (!isC(a) || !isN(b)) return {};
            const long long k = count(b);
            if (k <= 0 || a.str.empty()) return ExprValue::character("");
            if (static_cast<double>(k) * static_cast<double>(a.str.size()) > static_cast<double>(kMaxString))
                return {};
            std::string s;
            s.reserve(static_cast<std::size_t>(k) * a.str.size());
            for (long long i = 0; i < k; ++i) s += a.str;
            return ExprValue::character(std::move(s));
        }
        case Fn::Abs:
            return isN(a) ? ExprValue::numeric(std::fabs(a.num)) : ExprValue{};
        case Fn::Int:
            return isN(a) ? ExprValue::numeric(std::trunc(a.num)) : ExprValue{};
        case Fn::Round: {
            if (!isN(a) || !isN(b)) return {};
            const double scale =
                std::pow(10.0, static_cast<double>(std::clamp<long long>(count(b), -15, 15)));
            const double r = std::round(a.num * scale) / scale;
            return ExprValue::numeric(std::isfinite(r) ? r : a.num);
        }
        case Fn::Max:
        case Fn::Min: {
            if (a.kind != b.kind || a.kind == Kind::Logical) return {};
            const ExprValue less = binary(Op::Lt, a, b);
            const bool aFirst = less.logical == (node.fn == Fn::Min);
            return aFirst ? a : b;
        }
        case Fn::Chr: {
            if (!isN(a)) return {};
            const long long k = count(a);
            return ExprValue::character(std::string(1, static_cast<char>(((k % 256) + 256) % 256)));
        }
        case Fn::Asc:
            if (!isC(a)) return {};
            return ExprValue::numeric(a.str.empty() ? 0 : static_cast<unsigned char>(a.str[0]));
        case Fn::At: {
            if (!isC(a) || !isC(b)) return {};
            if (a.str.empty()) return ExprValue::numeric(0);
            const std::size_t p = b.str.find(a.str);
            return ExprValue::numeric(p == std::string::npos ? 0 : static_cast<double>(p + 1));
        }
        default:
            return {};
        }
    }
};

} // namespace

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
        return ExprValue::character(upper(f.type) == 'M' ? std::string() : std::string(f.len, ' '));
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
    std::vector<Token> tokens;
    if (const Result r = tokenize(text, tokens, errorPos)) return r;
    auto prog = std::make_shared<ExprProgram>();
    prog->text = std::string(text);
    prog->fields.assign(fields.begin(), fields.end());
    Parser parser(tokens, fields, alias, *prog);
    if (const Result r = parser.parse(errorPos)) return r;

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
    Evaluator ev(*program_, record, settings);
    return ev.eval(program_->root);
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
