// The function library of the engine's expressions: the functions that keys and conditions may
// call, and the date, number and string rules they share with the operators.
#include "engine/calendar.h"
#include "engine/expr_program.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace engine {

namespace {

using Kind = ExprValue::Kind;

// ---------------------------------------------------------------------------------------
// Dates: Julian day numbers, text in a date format, the epoch window.

void splitDate(std::int32_t julian, int& year, int& month, int& day) {
    calendar::split(julian, year, month, day);
}

// The date as text in the pattern; the empty date gives blanks.
std::string formatDate(std::int32_t julian, std::string_view pattern) {
    int y, m, d;
    splitDate(julian, y, m, d);
    return lang::formatDate(y, m, d, julian <= 0, pattern);
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
    bool hasPoint;
    return lang::leadingNumber(s.substr(i), hasPoint);
}

bool blankByte(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string ltrim(std::string_view s) {
    std::size_t start = 0;
    while (start < s.size() && s[start] == ' ') ++start;
    return std::string(s.substr(start));
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

// Order of two values of the same kind, as the "<" operator sees it.
bool lessThan(const ExprValue& a, const ExprValue& b, bool exact) {
    switch (a.kind) {
    case Kind::Character:
        return compareStrings(a.str, b.str, exact) < 0;
    case Kind::Numeric:
        return a.num < b.num;
    case Kind::Date:
        return a.date < b.date;
    default:
        return false;
    }
}

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

} // namespace

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

namespace {

// A count argument as an integer, clamped so that huge values cannot overflow.
long long count(const ExprValue& v) {
    if (v.kind != Kind::Numeric || !std::isfinite(v.num)) return 0;
    if (v.num > 1e12) return 1000000000000LL;
    if (v.num < -1e12) return -1000000000000LL;
    return static_cast<long long>(v.num);
}

std::string pad(std::string_view s, long long width, char fill, int side) {
    if (width <= 0) return {};
    const auto w = static_cast<std::size_t>(width);
    if (s.size() >= w) return std::string(s.substr(0, w)); // longer text keeps its start
    const std::size_t missing = w - s.size();
    if (side == 0) return std::string(missing, fill) + std::string(s); // left
    if (side == 1) return std::string(s) + std::string(missing, fill); // right
    return std::string(missing / 2, fill) + std::string(s) + std::string(missing - missing / 2, fill);
}

} // namespace

ExprValue callFunction(Fn fn, const ExprValue* args, std::size_t n, const ExprSettings& set_) {
    static const ExprValue none;
    const ExprValue& a = n > 0 ? args[0] : none;
    const ExprValue& b = n > 1 ? args[1] : none;
    const ExprValue& c = n > 2 ? args[2] : none;
    const auto isC = [](const ExprValue& v) { return v.kind == Kind::Character; };
    const auto isN = [](const ExprValue& v) { return v.kind == Kind::Numeric; };
    const auto isD = [](const ExprValue& v) { return v.kind == Kind::Date; };

    switch (fn) {
    case Fn::Upper:
    case Fn::Lower: {
        if (!isC(a)) return {};
        std::string s = a.str;
        for (char& ch : s) {
            if (fn == Fn::Upper && ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
            if (fn == Fn::Lower && ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
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
        if (fn == Fn::Strzero && s.find('*') == std::string::npos) {
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
        return ExprValue::character(fn == Fn::Left ? a.str.substr(0, m) : a.str.substr(a.str.size() - m));
    }
    case Fn::Trim:
    case Fn::Rtrim:
        return isC(a) ? ExprValue::character(rtrimBlanks(a.str)) : ExprValue{};
    case Fn::Ltrim:
        return isC(a) ? ExprValue::character(ltrim(a.str)) : ExprValue{};
    case Fn::Alltrim:
        return isC(a) ? ExprValue::character(ltrim(rtrimBlanks(a.str))) : ExprValue{};
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
        if (w > static_cast<long long>(kMaxExprString)) return {};
        const char fill = n > 2 && !c.str.empty() ? c.str[0] : ' ';
        return ExprValue::character(pad(s, w, fill, fn == Fn::Padl ? 0 : fn == Fn::Padr ? 1 : 2));
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
        return ExprValue::numeric(fn == Fn::Day ? d : fn == Fn::Month ? m : y);
    }
    case Fn::Len:
        return isC(a) ? ExprValue::numeric(static_cast<double>(a.str.size())) : ExprValue{};
    case Fn::Space: {
        if (!isN(a)) return {};
        const long long k = count(a);
        if (k > static_cast<long long>(kMaxExprString)) return {};
        return ExprValue::character(std::string(k > 0 ? static_cast<std::size_t>(k) : 0, ' '));
    }
    case Fn::Replicate: {
        if (!isC(a) || !isN(b)) return {};
        const long long k = count(b);
        if (k <= 0 || a.str.empty()) return ExprValue::character("");
        if (static_cast<double>(k) * static_cast<double>(a.str.size()) > static_cast<double>(kMaxExprString))
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
        const double scale = std::pow(10.0, static_cast<double>(std::clamp<long long>(count(b), -15, 15)));
        const double r = std::round(a.num * scale) / scale;
        return ExprValue::numeric(std::isfinite(r) ? r : a.num);
    }
    case Fn::Max:
    case Fn::Min: {
        if (a.kind != b.kind || a.kind == Kind::Logical) return {};
        const bool aFirst = lessThan(a, b, set_.exact) == (fn == Fn::Min);
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

// 0 unless year, month and day name a real day (the values come from digit groups of any size).
std::int32_t makeDate(long y, long m, long d) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return 0;
    return calendar::julian(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d));
}

// Reads a date written in the pattern's order of day, month and year; two-digit years fall in
// the 100-year window that starts at epoch. Anything that is not a real date gives 0.
std::int32_t parseDate(std::string_view text, std::string_view pattern, int epoch) {
    long y, m, d;
    return lang::dateParts(text, pattern, epoch, y, m, d) ? makeDate(y, m, d) : 0;
}

} // namespace engine
