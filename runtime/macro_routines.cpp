// The runtime's routines as compiled text reaches them by name: each adapts the call's
// arguments to the routine and checks what the routine itself cannot (a text where a number
// is given), raising the routine's usual argument error.
#include "dates.h"
#include "error.h"
#include "frames.h"
#include "macro.h"
#include "settings.h"
#include "strings.h"

#include "lang/lang.h"

#include <cmath>
#include <cstdlib>

namespace rt {

namespace {

Value arg(Args a, std::size_t i) {
    return i < a.size() ? a[i] : Value();
}

Value argError(std::int64_t subCode, std::string_view op, Args args) {
    return raiseSubstitutable(
        makeError(EG_ARG, subCode, op, makeArray(std::vector<Value>(args.begin(), args.end()))));
}

// A routine whose first argument must be a string.
void text1(const char* name, std::int64_t subCode, std::string (*fn)(std::string_view)) {
    registerRoutine(name, [name, subCode, fn](Args a) -> Value {
        if (!arg(a, 0).isString()) return argError(subCode, name, a);
        return Value(fn(arg(a, 0).asString()));
    });
}

// The result of a routine that builds count bytes, or "String overflow" when that is too many.
bool fits(double count) {
    return count <= static_cast<double>(kMaxMacroString);
}

Value overflow(std::string_view name, Args a) {
    return raiseSubstitutable(
        makeError(EG_STROVERFLOW, 1209, name, makeArray(std::vector<Value>(a.begin(), a.end()))));
}

// A routine of a string and a count (LEFT, RIGHT, SPACE-like).
void textCount(const char* name, std::int64_t subCode, std::string (*fn)(std::string_view, std::int64_t)) {
    registerRoutine(name, [name, subCode, fn](Args a) -> Value {
        if (!arg(a, 0).isString() || !arg(a, 1).isNumber()) return argError(subCode, name, a);
        return Value(fn(arg(a, 0).asString(), arg(a, 1).asInteger()));
    });
}

// PADR, PADL, PADC: any printable value, a width, a fill character.
void pad(const char* name, std::string (*fn)(std::string_view, std::int64_t, char)) {
    registerRoutine(name, [name, fn](Args a) -> Value {
        const Value v = arg(a, 0);
        if (!arg(a, 1).isNumber()) return Value("");
        std::string s;
        if (v.isString())
            s = v.asString();
        else if (v.isNumber() || v.isDate())
            s = CVALTOCHAR(v);
        else
            return Value("");
        const Value fill = arg(a, 2);
        const char c = fill.isString() && !fill.asString().empty() ? fill.asString()[0] : ' ';
        if (!fits(arg(a, 1).asNumber())) return overflow(name, a);
        return Value(fn(s, arg(a, 1).asInteger(), c));
    });
}

// VAL: the number at the start of a text (blanks first allowed); 0 when there is none.
Value val(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool dot = false;
    const double d = lang::leadingNumber(s.substr(i), dot);
    if (!dot && std::fabs(d) < 9.0e15) return Value(static_cast<std::int64_t>(d));
    return Value(d);
}

void registerAll() {
    registerRoutine("UPPER", [](Args a) { return Value(UPPER(arg(a, 0))); });
    registerRoutine("LOWER", [](Args a) { return Value(LOWER(arg(a, 0))); });
    text1("TRIM", 1100, TRIM);
    text1("RTRIM", 1100, RTRIM);
    text1("LTRIM", 1101, LTRIM);
    text1("ALLTRIM", 2022, ALLTRIM);
    textCount("LEFT", 1124, LEFT);
    textCount("RIGHT", 1124, RIGHT);
    registerRoutine("REPLICATE", [](Args a) -> Value {
        if (!arg(a, 0).isString() || !arg(a, 1).isNumber()) return argError(1106, "REPLICATE", a);
        if (!fits(static_cast<double>(arg(a, 0).asString().size()) * arg(a, 1).asNumber()))
            return overflow("REPLICATE", a);
        return Value(REPLICATE(arg(a, 0).asString(), arg(a, 1).asInteger()));
    });
    registerRoutine("SUBSTR", [](Args a) -> Value {
        if (!arg(a, 0).isString() || !arg(a, 1).isNumber() || !(arg(a, 2).isNil() || arg(a, 2).isNumber()))
            return argError(1110, "SUBSTR", a);
        return Value(SUBSTR(arg(a, 0).asString(), arg(a, 1).asInteger(),
                            arg(a, 2).isNil() ? -1 : arg(a, 2).asInteger()));
    });
    registerRoutine("SPACE", [](Args a) -> Value {
        if (!arg(a, 0).isNumber()) return argError(1105, "SPACE", a);
        if (!fits(arg(a, 0).asNumber())) return overflow("SPACE", a);
        return Value(SPACE(arg(a, 0).asInteger()));
    });
    pad("PADR", PADR);
    pad("PAD", PADR);
    pad("PADL", PADL);
    pad("PADC", PADC);
    registerRoutine("STR", [](Args a) -> Value {
        if (!arg(a, 0).isNumber()) return argError(1099, "STR", a);
        return Value(STR(arg(a, 0), arg(a, 1), arg(a, 2)));
    });
    registerRoutine("VAL", [](Args a) -> Value {
        if (!arg(a, 0).isString()) return argError(1098, "VAL", a);
        return val(arg(a, 0).asString());
    });
    registerRoutine("LEN", [](Args a) -> Value {
        if (!arg(a, 0).isString() && !arg(a, 0).isArray()) return argError(1111, "LEN", a);
        return Value(LEN(arg(a, 0)));
    });
    registerRoutine("AT", [](Args a) { return Value(AT(arg(a, 0), arg(a, 1), arg(a, 2), arg(a, 3))); });
    registerRoutine("EMPTY", [](Args a) { return Value(EMPTY(arg(a, 0))); });
    registerRoutine("CVALTOCHAR", [](Args a) { return Value(CVALTOCHAR(arg(a, 0))); });
    registerRoutine("VALTYPE", [](Args a) { return Value(VALTYPE(arg(a, 0))); });
    // The same formatting as everywhere else in the program (a text control's picture, the
    // error report's figures): TRANSFORM of strings.h, for every type of value.
    registerRoutine("TRANSFORM", [](Args a) -> Value {
        if (!arg(a, 1).isString()) return argError(1122, "TRANSFORM", a);
        return Value(TRANSFORM(arg(a, 0), arg(a, 1).asString()));
    });
    // IIF is evaluated by the compiler itself (only the branch taken runs); this entry serves a
    // caller that reaches it with values already evaluated.
    registerRoutine("IIF", [](Args a) -> Value {
        if (!arg(a, 0).isLogical()) return argError(1066, "IIF", a);
        return arg(a, 0).asLogical() ? arg(a, 1) : arg(a, 2);
    });
    registerRoutine("IF", [](Args a) -> Value {
        if (!arg(a, 0).isLogical()) return argError(1066, "IF", a);
        return arg(a, 0).asLogical() ? arg(a, 1) : arg(a, 2);
    });

    // Dates.
    registerRoutine("DATE", [](Args) { return Value(DATE()); });
    registerRoutine("TIME", [](Args) { return Value(TIME()); });
    registerRoutine("SECONDS", [](Args) { return Value(SECONDS()); });
    registerRoutine("DTOS", [](Args a) -> Value {
        if (!arg(a, 0).isDate()) return argError(1120, "DTOS", a);
        return Value(DTOS(arg(a, 0).asDate()));
    });
    registerRoutine("DTOC", [](Args a) -> Value {
        if (!arg(a, 0).isDate()) return argError(1118, "DTOC", a);
        return Value(DTOC(arg(a, 0).asDate()));
    });
    registerRoutine("STOD", [](Args a) -> Value {
        if (!arg(a, 0).isString()) return Value(Date{});
        return Value(STOD(arg(a, 0).asString()));
    });
    registerRoutine("CTOD", [](Args a) -> Value {
        if (!arg(a, 0).isString()) return argError(1119, "CTOD", a);
        return Value(CTOD(arg(a, 0).asString()));
    });
    const auto datePart = [](const char* name, std::int64_t subCode, int which) {
        registerRoutine(name, [name, subCode, which](Args a) -> Value {
            if (!arg(a, 0).isDate()) return argError(subCode, name, a);
            int y, m, d;
            splitDate(arg(a, 0).asDate(), y, m, d);
            return Value(which == 0 ? y : which == 1 ? m : d);
        });
    };
    datePart("YEAR", 1112, 0);
    datePart("MONTH", 1113, 1);
    datePart("DAY", 1114, 2);

    // Lists and blocks.
    registerRoutine("AADD", [](Args a) { return AADD(arg(a, 0), arg(a, 1)); });
    registerRoutine("ASCAN", [](Args a) { return Value(ASCAN(arg(a, 0), arg(a, 1), arg(a, 2), arg(a, 3))); });
    registerRoutine("ARRAY", [](Args a) -> Value {
        if (!arg(a, 0).isNumber() || arg(a, 0).asInteger() < 0 || arg(a, 0).asInteger() > (1 << 20))
            return argError(1131, "ARRAY", a);
        return Value(ARRAY(arg(a, 0).asInteger()));
    });
    registerRoutine("EVAL", [](Args a) -> Value {
        if (!arg(a, 0).isBlock()) return argError(1004, "EVAL", a);
        return eval(arg(a, 0), a.size() > 1 ? a.subspan(1) : Args());
    });

    // Settings and errors.
    registerRoutine("SET", [](Args a) -> Value {
        if (!arg(a, 0).isNumber()) return Value();
        return SET(static_cast<int>(arg(a, 0).asInteger()), arg(a, 1));
    });
    registerRoutine("__SETCENTURY", [](Args a) { return Value(__SETCENTURY(arg(a, 0))); });
    registerRoutine("NETERR", [](Args a) { return Value(NETERR(arg(a, 0))); });
    registerRoutine("ERRORLEVEL", [](Args a) { return Value(ERRORLEVEL(arg(a, 0))); });
    registerRoutine("ERRORBLOCK", [](Args a) { return ERRORBLOCK(arg(a, 0)); });
    registerRoutine("PROCNAME", [](Args a) { return Value(PROCNAME(arg(a, 0).asInteger())); });
}

} // namespace

void registerRuntimeRoutines() {
    static const bool done = (registerAll(), true);
    (void)done;
}

} // namespace rt
