#include "strings.h"

#include "dates.h"
#include "error.h"
#include "frames.h"
#include "settings.h"

#include "lang/lang.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace rt {

namespace {

// Raises the argument error of a string routine and turns the handler's substitute into the
// routine's result type.
Value argumentError(std::int64_t subCode, std::string_view operation, std::initializer_list<Value> args) {
    return raiseSubstitutable(makeError(EG_ARG, subCode, operation, makeArray(args)));
}

bool isBlankByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::int64_t AT(const Value& needle, const Value& text, const Value& start, const Value& end) {
    Frame frame("AT", {&needle, &text});
    if (!needle.isString() || !text.isString())
        return argumentError(1108, "AT", {needle, text}).asInteger();
    const std::string& n = needle.asString();
    const std::string& t = text.asString();
    std::int64_t from = start.isNumber() ? start.asInteger() : 1;
    std::int64_t to = end.isNumber() ? end.asInteger() : static_cast<std::int64_t>(t.size());
    if (from < 1) from = 1;
    if (to > static_cast<std::int64_t>(t.size())) to = static_cast<std::int64_t>(t.size());
    if (n.empty() || from > to) return 0;
    const std::string_view window(t.data() + from - 1, static_cast<std::size_t>(to - from + 1));
    if (n.size() > window.size()) return 0;
    const std::size_t pos = window.find(n);
    return pos == std::string_view::npos ? 0 : static_cast<std::int64_t>(pos) + from;
}

std::string UPPER(const Value& s) {
    Frame frame("UPPER", {&s});
    if (!s.isString()) return argumentError(1102, "UPPER", {s}).asString();
    std::string out = s.asString();
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string LOWER(const Value& s) {
    Frame frame("LOWER", {&s});
    if (!s.isString()) return argumentError(1103, "LOWER", {s}).asString();
    std::string out = s.asString();
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool EMPTY(const Value& v) {
    switch (v.type()) {
    case Type::Nil: return true;
    case Type::Logical: return !v.asLogical();
    case Type::Integer:
    case Type::Double: return v.asNumber() == 0.0;
    case Type::String:
        for (char c : v.asString())
            if (!isBlankByte(c)) return false;
        return true;
    case Type::Date: return v.asDate().empty();
    case Type::Array: return !v.asArray() || v.asArray()->size() == 0;
    case Type::Block:
    case Type::Object: return false;
    }
    return false;
}

std::string numberText(const Value& n) {
    if (n.isInteger()) return std::to_string(n.asInteger());
    const double d = n.asNumber();
    if (!std::isfinite(d)) return d != d ? "NaN" : (d > 0 ? "Inf" : "-Inf");
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
    if (r.ec != std::errc{}) return "0";
    return std::string(buf, r.ptr);
}

std::string STR(const Value& n, const Value& width, const Value& decimals) {
    if (!n.isNumber()) return "";
    int dec = decimals.isNumber() ? static_cast<int>(decimals.asInteger()) : (n.isDouble() && width.isNil() ? 2 : 0);
    if (dec < 0) dec = 0;
    if (dec > 30) dec = 30;
    int w = width.isNumber() ? static_cast<int>(width.asInteger()) : (dec > 0 ? 10 + 1 + dec : 10);
    if (w < 1) w = 10;
    if (w > 255) w = 255;
    std::string text;
    if (n.isInteger() && dec == 0) {
        text = std::to_string(n.asInteger());
    } else {
        char buf[400];
        std::snprintf(buf, sizeof buf, "%.*f", dec, n.asNumber());
        text = buf;
    }
    if (static_cast<int>(text.size()) > w) return std::string(static_cast<std::size_t>(w), '*');
    return std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
}

std::string CVALTOCHAR(const Value& v) {
    switch (v.type()) {
    case Type::String: return v.asString();
    case Type::Date: return DTOC(v.asDate());
    case Type::Logical: return v.asLogical() ? ".t." : ".f.";
    case Type::Integer:
    case Type::Double: return numberText(v);
    case Type::Block: return "{|| ... }";
    case Type::Array: return "{ ... }";
    case Type::Object: return "Object";
    case Type::Nil: return "";
    }
    return "";
}

std::string VALTYPE(const Value& v) { return std::string(1, v.typeLetter()); }

std::string TRIM(std::string_view s) {
    std::size_t end = s.size();
    while (end > 0 && s[end - 1] == ' ') --end;
    return std::string(s.substr(0, end));
}

std::string RTRIM(std::string_view s) { return TRIM(s); }

std::string LTRIM(std::string_view s) {
    std::size_t start = 0;
    while (start < s.size() && s[start] == ' ') ++start;
    return std::string(s.substr(start));
}

std::string ALLTRIM(std::string_view s) { return LTRIM(TRIM(s)); }

std::string PADR(std::string_view s, std::int64_t width, char fill) {
    if (width <= 0) return "";
    const auto w = static_cast<std::size_t>(width);
    if (s.size() >= w) return std::string(s.substr(0, w));
    return std::string(s) + std::string(w - s.size(), fill);
}

std::string PADL(std::string_view s, std::int64_t width, char fill) {
    if (width <= 0) return "";
    const auto w = static_cast<std::size_t>(width);
    if (s.size() >= w) return std::string(s.substr(0, w));
    return std::string(w - s.size(), fill) + std::string(s);
}

std::string PADC(std::string_view s, std::int64_t width, char fill) {
    if (width <= 0) return "";
    const auto w = static_cast<std::size_t>(width);
    if (s.size() >= w) return std::string(s.substr(0, w));
    const std::size_t left = (w - s.size()) / 2;
    return std::string(left, fill) + std::string(s) + std::string(w - s.size() - left, fill);
}

std::string SPACE(std::int64_t n) { return n > 0 ? std::string(static_cast<std::size_t>(n), ' ') : ""; }

std::string REPLICATE(std::string_view s, std::int64_t n) {
    std::string out;
    for (std::int64_t i = 0; i < n; ++i) out += s;
    return out;
}

std::string SUBSTR(std::string_view s, std::int64_t start, std::int64_t count) {
    const auto len = static_cast<std::int64_t>(s.size());
    if (start < 0) start = len + start + 1;  // from the end
    if (start < 1) start = 1;
    if (start > len) return "";
    std::int64_t avail = len - start + 1;
    if (count < 0 || count > avail) count = count < 0 ? avail : avail;
    return std::string(s.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

std::string LEFT(std::string_view s, std::int64_t n) {
    if (n <= 0) return "";
    return std::string(s.substr(0, static_cast<std::size_t>(n)));
}

std::string RIGHT(std::string_view s, std::int64_t n) {
    if (n <= 0) return "";
    const auto k = static_cast<std::size_t>(n);
    return k >= s.size() ? std::string(s) : std::string(s.substr(s.size() - k));
}

std::int64_t LEN(const Value& v) {
    if (v.isString()) return static_cast<std::int64_t>(v.asString().size());
    if (v.isArray()) return v.asArray() ? static_cast<std::int64_t>(v.asArray()->size()) : 0;
    return 0;
}

namespace {

std::string transformNumber(const Value& n, std::string_view picture) {
    // The digit positions before and after the decimal point.
    int intDigits = 0, fracDigits = 0;
    bool afterPoint = false;
    for (char c : picture) {
        if (c == '9' || c == '#') (afterPoint ? fracDigits : intDigits)++;
        else if (c == '.') afterPoint = true;
    }
    // The text is as long as the number and the picture's decimals make it (a picture may ask
    // for hundreds of them); a number that is not finite fills no picture.
    const double value = n.asNumber();
    std::string digits;
    if (std::isfinite(value)) {
        const int length = std::snprintf(nullptr, 0, "%.*f", fracDigits, std::fabs(value));
        digits.resize(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
        std::snprintf(digits.data(), digits.size(), "%.*f", fracDigits, std::fabs(value));
        digits.resize(digits.size() - 1);
    }
    const std::size_t point = digits.find('.');
    std::string intPart = digits.substr(0, point);
    std::string fracPart = fracDigits && point != std::string::npos ? digits.substr(point + 1) : "";
    fracPart.resize(static_cast<std::size_t>(fracDigits), '0');
    const bool negative = value < 0 && digits.find_first_not_of("0.") != std::string::npos;
    const int needed = static_cast<int>(intPart.size()) + (negative ? 1 : 0);
    if (digits.empty() || needed > intDigits) {
        std::string out;
        for (char c : picture) out += (c == '9' || c == '#' || c == ',' || c == '.') ? (c == '.' ? '.' : '*') : c;
        return out;
    }
    // Right-align the integer digits (and the sign) in the integer positions.
    std::string intField = std::string(static_cast<std::size_t>(intDigits - needed), ' ') +
                           (negative ? "-" : "") + intPart;
    std::string out;
    std::size_t di = 0, fi = 0;
    bool seenDigit = false;
    afterPoint = false;
    for (char c : picture) {
        if (c == '9' || c == '#') {
            if (!afterPoint) {
                const char d = intField[di++];
                if (d >= '0' && d <= '9') seenDigit = true;
                out += d;
            } else {
                out += fracPart[fi++];
            }
        } else if (c == ',' && !afterPoint) {
            out += seenDigit ? ',' : ' ';
        } else if (c == '.') {
            afterPoint = true;
            out += '.';
        } else {
            out += c;
        }
    }
    return out;
}

bool isPlaceholder(char c) {
    return c == '9' || c == '#' || c == 'A' || c == 'N' || c == 'X' || c == 'L' || c == 'Y' || c == '!' ||
           c == '*' || c == '$' || c == 'a' || c == 'n' || c == 'x' || c == 'l' || c == 'y';
}

}  // namespace

std::string TRANSFORM(const Value& v, std::string_view picture) {
    // A picture may open with functions ("@" and letters, up to a blank); the template follows.
    std::string_view functions, mask = picture;
    if (!picture.empty() && picture[0] == '@') {
        const std::size_t blank = picture.find(' ');
        functions = picture.substr(1, blank == std::string_view::npos ? std::string_view::npos : blank - 1);
        mask = blank == std::string_view::npos ? std::string_view() : picture.substr(blank + 1);
    }
    // A function letter in either case; a sign such as "!" only as itself.
    const auto has = [functions](char f) {
        for (char c : functions)
            if (c == f || (f >= 'A' && f <= 'Z' && c == f + ('a' - 'A'))) return true;
        return false;
    };
    switch (v.type()) {
    case Type::Integer:
    case Type::Double: return mask.empty() ? numberText(v) : transformNumber(v, mask);
    case Type::String: {
        std::string text = v.asString();
        if (has('!')) text = UPPER(Value(text));
        if (mask.empty()) return text;
        // Each placeholder takes the next character ("!" upper-cased; blank past the end), any
        // other template character is inserted.
        std::string out;
        std::size_t next = 0;
        for (char m : mask) {
            if (!isPlaceholder(m)) {
                out += m;
                continue;
            }
            char c = next < text.size() ? text[next] : ' ';
            ++next;
            if (m == '!' && c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
            out += c;
        }
        return out;
    }
    case Type::Date: {
        if (!has('E')) return DTOC(v.asDate());
        // British order, with the century when the century switch is on.
        return formatDate(v.asDate(), __SETCENTURY() ? "dd/mm/yyyy" : "dd/mm/yy");
    }
    case Type::Logical:
        if (!mask.empty() && (mask[0] == 'Y' || mask[0] == 'y')) return v.asLogical() ? "Y" : "N";
        return v.asLogical() ? "T" : "F";
    default: return CVALTOCHAR(v);
    }
}

bool stringEquals(std::string_view a, std::string_view b, bool exact) {
    return lang::stringEquals(a, b, exact);
}

bool stringEquals(std::string_view a, std::string_view b) { return stringEquals(a, b, setExact()); }

Value AADD(const Value& list, const Value& value) {
    if (const auto& a = list.asArray()) a->add(value);
    return value;
}

std::int64_t ASCAN(const Value& list, const Value& value, const Value& start, const Value& count) {
    // Our own reference: the block may change the variable that held the list.
    const ArrayPtr a = list.asArray();
    if (!a) return 0;
    const auto size = static_cast<std::int64_t>(a->size());
    std::int64_t from = start.isNumber() ? start.asInteger() : 1;
    if (from < 1) from = 1;
    std::int64_t to = size;
    if (count.isNumber()) {
        const std::int64_t n = count.asInteger();
        to = n < 1 ? from - 1 : (n > size - from + 1 ? size : from + n - 1);
    }
    // A block may shrink the list while it is scanned: the scan ends at its current end.
    for (std::int64_t i = from; i <= to && i <= static_cast<std::int64_t>(a->size()); ++i) {
        const Value element = a->items[static_cast<std::size_t>(i - 1)];
        if (value.isBlock()) {
            if (evalWith(value, element).asLogical()) return i;
        } else if (value.isString()) {
            if (element.isString() && stringEquals(element.asString(), value.asString())) return i;
        } else if (element == value) {
            return i;
        }
    }
    return 0;
}

ArrayPtr ARRAY(std::int64_t n) {
    return std::make_shared<Array>(n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace rt
