// Key and condition expressions: parsing, evaluation, settings, refused expressions.
#include "engine/expr.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace engine;

namespace {

std::int32_t jd(int y, int m, int d) {
    const int a = (14 - m) / 12;
    const int yy = y + 4800 - a;
    const int mm = m + 12 * a - 3;
    return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

const std::vector<FieldDesc> kFields = {
    {"NAME", 'C', 20, 0}, {"AGE", 'N', 5, 0}, {"PRICE", 'N', 10, 2}, {"BORN", 'D', 8, 0},
    {"ACTIVE", 'L', 1, 0}, {"NOTES", 'M', 10, 0},
};

struct Record : RecordSource {
    std::vector<ExprValue> values;
    std::uint32_t no = 7;
    bool del = false;
    ExprValue field(std::size_t i) const override { return i < values.size() ? values[i] : ExprValue(); }
    std::uint32_t recno() const override { return no; }
    bool deleted() const override { return del; }
};

Record sample() {
    Record r;
    r.values = {ExprValue::character("Smith               "), ExprValue::numeric(42), ExprValue::numeric(12.5),
                ExprValue::dateValue(jd(1980, 7, 4)), ExprValue::logicalValue(true),
                ExprValue::character("memo text")};
    return r;
}

struct Eval {
    ExprSettings settings;
    Record record = sample();

    ExprValue operator()(const std::string& text) {
        Expression e;
        std::size_t pos = 99;
        const Result r = Expression::compile(text, kFields, "CUST", settings, e, pos);
        EXPECT_EQ(r, kOk) << text << " at " << pos;
        return e.eval(record, settings);
    }
    std::string str(const std::string& text) {
        const ExprValue v = (*this)(text);
        EXPECT_EQ(v.kind, ExprValue::Kind::Character) << text;
        return v.str;
    }
    double num(const std::string& text) {
        const ExprValue v = (*this)(text);
        EXPECT_EQ(v.kind, ExprValue::Kind::Numeric) << text;
        return v.num;
    }
    bool logical(const std::string& text) {
        const ExprValue v = (*this)(text);
        EXPECT_EQ(v.kind, ExprValue::Kind::Logical) << text;
        return v.logical;
    }
    std::int32_t date(const std::string& text) {
        const ExprValue v = (*this)(text);
        EXPECT_EQ(v.kind, ExprValue::Kind::Date) << text;
        return v.date;
    }
};

// Compiles and answers the result code; pos receives the fault's position.
Result refuse(const std::string& text, std::size_t& pos) {
    Expression e;
    const Result r = Expression::compile(text, kFields, "CUST", e, pos);
    if (r) {
        EXPECT_FALSE(e.valid());
    }
    return r;
}

}  // namespace

TEST(Expr, ArithmeticAndPrecedence) {
    Eval ev;
    EXPECT_EQ(ev.num("1 + 2 * 3"), 7);
    EXPECT_EQ(ev.num("(1 + 2) * 3"), 9);
    EXPECT_EQ(ev.num("2 ** 3 ** 2"), 64);  // left to right
    EXPECT_EQ(ev.num("2 ^ 10"), 1024);
    EXPECT_EQ(ev.num("-2 ** 2"), 4);       // the sign binds first
    EXPECT_EQ(ev.num("10 % 3 + 10 / 4"), 3.5);
    EXPECT_EQ(ev.num("7 / 0"), 0);         // division by zero answers 0
    EXPECT_EQ(ev.num("7 % 0"), 0);
    EXPECT_EQ(ev.num(".5 + 1.25"), 1.75);
    EXPECT_EQ(ev.num("- - 3"), 3);
    EXPECT_TRUE(ev.logical(".T. .OR. .F. .AND. .F."));  // .AND. binds tighter
    EXPECT_FALSE(ev.logical("(.T. .OR. .F.) .AND. .F."));
    EXPECT_TRUE(ev.logical(".NOT. 1 = 2"));              // .NOT. (1 = 2)
    EXPECT_TRUE(ev.logical("!.f. .and. .y. .and. !.N."));
    EXPECT_TRUE(ev.logical("1 + 1 = 2 .AND. 3 > 2 .AND. 2 >= 2 .AND. 1 < 2 .AND. 2 <= 2"));
    EXPECT_TRUE(ev.logical("1 <> 2 .AND. 1 # 2 .AND. 1 != 2 .AND. .NOT. 1 == 2"));
    EXPECT_TRUE(ev.logical(".F. < .T."));
}

TEST(Expr, Strings) {
    Eval ev;
    EXPECT_EQ(ev.str("'ab ' + \"cd\" + [ef]"), "ab cdef");
    EXPECT_EQ(ev.str("'ab  ' - 'cd'"), "abcd  ");  // trailing blanks move to the end
    EXPECT_EQ(ev.str("'' - 'x'"), "x");
    EXPECT_TRUE(ev.logical("'ll' $ 'hello'"));
    EXPECT_FALSE(ev.logical("'LL' $ 'hello'"));
    EXPECT_EQ(ev.str("[it's \"quoted\"]"), "it's \"quoted\"");
}

TEST(Expr, StringComparisonFollowsExact) {
    Eval ev;
    ev.settings.exact = false;
    EXPECT_TRUE(ev.logical("'abc' = 'ab'"));   // a begins with b
    EXPECT_FALSE(ev.logical("'ab' = 'abc'"));
    EXPECT_TRUE(ev.logical("'abc' = ''"));     // an empty right side equals everything
    EXPECT_FALSE(ev.logical("'ab' = 'ab '"));
    EXPECT_FALSE(ev.logical("'abc' == 'ab'")); // "==" is always exact
    EXPECT_TRUE(ev.logical("'abc' >= 'ab' .AND. .NOT. 'abc' > 'ab'"));
    EXPECT_TRUE(ev.logical("'ab' < 'abc' .AND. 'abd' > 'abc' .AND. 'B' > 'A'"));
    EXPECT_TRUE(ev.logical("'abc' <> 'abd'"));
    EXPECT_TRUE(ev.logical("NAME = 'Smi'"));

    ev.settings.exact = true;
    EXPECT_FALSE(ev.logical("'abc' = 'ab'"));
    EXPECT_FALSE(ev.logical("'abc' = ''"));
    EXPECT_TRUE(ev.logical("'ab  ' = 'ab'"));  // trailing blanks do not count
    EXPECT_TRUE(ev.logical("'ab' = 'ab   '"));
    EXPECT_FALSE(ev.logical("'ab' == 'ab '"));
    EXPECT_TRUE(ev.logical("'abc' > 'ab'"));
    EXPECT_TRUE(ev.logical("'ab' < 'ab!'"));   // "!" sorts after the blank it is padded with
    EXPECT_FALSE(ev.logical("NAME = 'Smi'"));
    EXPECT_TRUE(ev.logical("NAME = 'Smith'"));
}

TEST(Expr, DatesAndEpoch) {
    Eval ev;
    EXPECT_EQ(ev.date("{^2024-02-28} + 1"), jd(2024, 2, 29));
    EXPECT_EQ(ev.date("1 + {^2024-02-29}"), jd(2024, 3, 1));
    EXPECT_EQ(ev.date("{^2024-03-01} - 1"), jd(2024, 2, 29));
    EXPECT_EQ(ev.num("{^2024-03-01} - {^2024-02-01}"), 29);
    EXPECT_EQ(ev.date("{}"), 0);
    EXPECT_EQ(ev.date("{  /  /  } + 5"), 0);  // the empty date stays empty
    EXPECT_TRUE(ev.logical("BORN < {^1980-07-05} .AND. BORN > {^1980-07-03} .AND. BORN = {^1980-07-04}"));
    EXPECT_EQ(ev.str("DTOS(BORN)"), "19800704");
    EXPECT_EQ(ev.str("DTOS({})"), "        ");
    EXPECT_EQ(ev.num("YEAR(BORN) * 10000 + MONTH(BORN) * 100 + DAY(BORN)"), 19800704);
    EXPECT_EQ(ev.date("STOD('20240229')"), jd(2024, 2, 29));
    EXPECT_EQ(ev.date("STOD('20230229')"), 0);

    ev.settings.dateFormat = "dd-mm-yy";
    ev.settings.epoch = 1950;
    EXPECT_EQ(ev.date("{15-03-24}"), jd(2024, 3, 15));
    EXPECT_EQ(ev.date("CTOD('01-02-49')"), jd(2049, 2, 1));
    EXPECT_EQ(ev.date("CTOD('01-02-50')"), jd(1950, 2, 1));
    EXPECT_EQ(ev.date("CTOD('31-02-50')"), 0);
    EXPECT_EQ(ev.date("CTOD('')"), 0);
    EXPECT_EQ(ev.str("DTOC(BORN)"), "04-07-80");
    EXPECT_EQ(ev.str("DTOC({})"), "  -  -  ");
    ev.settings.epoch = 1900;
    EXPECT_EQ(ev.date("{15-03-24}"), jd(1924, 3, 15));
    ev.settings.dateFormat = "mm/dd/yyyy";
    EXPECT_EQ(ev.str("DTOC(BORN)"), "07/04/1980");
    EXPECT_EQ(ev.date("CTOD('12/31/1999')"), jd(1999, 12, 31));
}

TEST(Expr, FieldsAndAliases) {
    Eval ev;
    EXPECT_EQ(ev.str("name"), "Smith               ");
    EXPECT_EQ(ev.num("cust->Age + CUST.age + field->AGE + _FIELD->age"), 168);
    EXPECT_EQ(ev.str("NOTES"), "memo text");
    EXPECT_TRUE(ev.logical("ACTIVE .AND. !DELETED()"));
    EXPECT_EQ(ev.num("RECNO()"), 7);
    ev.record.del = true;
    EXPECT_TRUE(ev.logical("DELETED()"));
    // A value of the wrong kind from the record is taken as Nil, never trusted.
    ev.record.values[1] = ExprValue::character("x");
    EXPECT_TRUE(ev("AGE + 1").isNil());
}

TEST(Expr, Functions) {
    Eval ev;
    EXPECT_EQ(ev.str("UPPER('aBc1') + LOWER('AbC1')"), "ABC1abc1");
    EXPECT_EQ(ev.str("UPPE(NAME)"), "SMITH               ");  // four-letter abbreviation
    EXPECT_EQ(ev.str("STR(3.14159, 8, 2)"), "    3.14");
    EXPECT_EQ(ev.str("STR(2.5, 3)"), "  3");  // half away from zero
    EXPECT_EQ(ev.str("STR(-2.5, 3)"), " -3");
    EXPECT_EQ(ev.str("STR(12345, 3)"), "***");
    EXPECT_EQ(ev.str("STR(AGE)"), "   42");      // a field keeps its width
    EXPECT_EQ(ev.str("STR(PRICE)"), "     12.50");
    EXPECT_EQ(ev.str("STR(7)"), "         7");
    EXPECT_EQ(ev.str("STR(AGE, 6, 1)"), "  42.0");
    EXPECT_EQ(ev.str("STRZERO(42, 5)"), "00042");
    EXPECT_EQ(ev.str("STRZERO(-5, 4)"), "-005");
    EXPECT_EQ(ev.num("VAL('  12.5abc') + VAL('-3') + VAL('x')"), 9.5);
    EXPECT_EQ(ev.str("SUBSTR('hello', 2, 3) + SUBS('hello', 4) + SUBSTR('hello', -2)"), "elllolo");
    EXPECT_EQ(ev.str("SUBSTR('hello', 9) + SUBSTR('hello', 2, 0) + SUBSTR('hello', 0, 2)"), "he");
    EXPECT_EQ(ev.str("LEFT('hello', 2) + RIGHT('hello', 2) + LEFT('hi', 9) + RIGHT('hi', -1)"), "helohi");
    EXPECT_EQ(ev.str("TRIM('  a  ') + '|' + RTRIM(' b ') + '|' + LTRIM('  c ') + '|' + ALLT('  d  ')"),
              "  a| b|c |d");
    EXPECT_EQ(ev.str("PADL('ab', 5) + PADR('ab', 4, '*') + PADC('x', 4, '-') + PADL('abcdef', 3)"),
              "   abab**-x--abc");
    EXPECT_EQ(ev.str("PADL(AGE, 4, '0') + PADR({^2024-01-02}, 9)"), "004201/02/24 ");
    EXPECT_EQ(ev.str("IIF(AGE > 40, 'old', 'young') + IF(.F., 'x', 'y')"), "oldy");
    EXPECT_TRUE(ev.logical("EMPTY('  ') .AND. EMPTY(0) .AND. EMPTY({}) .AND. EMPTY(.F.) .AND. !EMPTY(NAME)"));
    EXPECT_TRUE(ev.logical("EMPTY(CHR(9) + CHR(13) + CHR(10))"));
    EXPECT_EQ(ev.num("LEN(NAME) + LEN('')"), 20);
    EXPECT_EQ(ev.str("SPACE(3) + REPLICATE('ab', 2) + SPACE(-1)"), "   abab");
    EXPECT_EQ(ev.num("ABS(-2) + INT(-2.7) + ROUND(2.346, 2) + ASC('A') + AT('l', 'hello')"), 2 - 2 + 2.35 + 65 + 3);
    EXPECT_EQ(ev.num("MAX(1, 5) + MIN(1, 5)"), 6);
    EXPECT_EQ(ev.str("MAX('a', 'b')"), "b");
}

TEST(Expr, ResultTypeAndWidth) {
    struct Case {
        const char* text;
        ExprValue::Kind kind;
        std::size_t width;
        char keyType;
    };
    const Case cases[] = {
        {"UPPER(NAME)", ExprValue::Kind::Character, 20, 'C'},
        {"NAME + DTOS(BORN)", ExprValue::Kind::Character, 28, 'C'},
        {"STR(AGE) + STR(PRICE, 12, 3)", ExprValue::Kind::Character, 17, 'C'},
        {"AGE", ExprValue::Kind::Numeric, 8, 'N'},
        {"BORN", ExprValue::Kind::Date, 8, 'D'},
        {"ACTIVE", ExprValue::Kind::Logical, 1, 'L'},
        {"LEFT(NAME, 3)", ExprValue::Kind::Character, 3, 'C'},
    };
    for (const Case& c : cases) {
        Expression e;
        std::size_t pos;
        ASSERT_EQ(Expression::compile(c.text, kFields, "", e, pos), kOk) << c.text;
        EXPECT_EQ(e.resultKind(), c.kind) << c.text;
        EXPECT_EQ(e.resultWidth(), c.width) << c.text;
        EXPECT_EQ(e.keyType(), c.keyType) << c.text;
        EXPECT_EQ(e.text(), c.text);
    }
    // The width of a date text follows the date format given at compile time.
    ExprSettings s;
    s.dateFormat = "dd-mm-yyyy";
    Expression e;
    std::size_t pos;
    ASSERT_EQ(Expression::compile("DTOC(BORN)", kFields, "", s, e, pos), kOk);
    EXPECT_EQ(e.resultWidth(), 10u);
}

TEST(Expr, RefusedWithPosition) {
    struct Case {
        std::string text;
        Result code;
        std::size_t pos;
    };
    const std::vector<Case> cases = {
        {"NAME + NOPE", kExprUnknownField, 7},
        {"OTHER->NAME", kExprUnknownField, 0},
        {"OTHER.NAME", kExprUnknownField, 0},
        {"CUST->NOPE", kExprUnknownField, 6},
        {"FOO(1)", kExprUnknownFunction, 0},
        {"UPP(NAME)", kExprUnknownFunction, 0},  // abbreviations need four letters
        {"UPPERX(NAME)", kExprUnknownFunction, 0},
        {"UPPER()", kExprArgCount, 6},
        {"LEFT('a', 1, 2)", kExprArgCount, 13},
        {"DELETED(1)", kExprArgCount, 8},
        {"UPPER(AGE)", kExprType, 6},
        {"SUBSTR(NAME, 'x')", kExprType, 13},
        {"'a' + 1", kExprType, 4},
        {"BORN + BORN", kExprType, 5},
        {"NAME = AGE", kExprType, 5},
        {"ACTIVE .AND. 1", kExprType, 7},
        {"-NAME", kExprType, 0},
        {".NOT. AGE", kExprType, 0},
        {"(1 + 2", kExprParen, 6},
        {"UPPER(NAME", kExprParen, 10},
        {"1 + 2)", kExprParen, 5},
        {"'abc", kExprParen, 0},
        {"NAME + [abc", kExprParen, 7},
        {"{^2024-01-01", kExprParen, 0},
        {"1 2", kExprTrailing, 2},
        {"NAME NAME", kExprTrailing, 5},
        {"   ", kExprEmpty, 3},
        {"", kExprEmpty, 0},
        {"1 @ 2", kExprSyntax, 2},
        {"1 +", kExprSyntax, 3},
        {"LEFT(NAME,)", kExprSyntax, 10},
        {"{^2024-02-30}", kExprSyntax, 0},
        {"{ab}", kExprSyntax, 0},
        // Keys and conditions hold no lists: a subscript is refused at its bracket, after
        // whatever stands before it was checked.
        {"NAME[1]", kExprSubscript, 4},
        {"UPPER(NAME)[1] = 'S'", kExprSubscript, 11},
        {"(NAME) [1]", kExprSubscript, 7},
        {"AGE > 1 .AND. 'abc'[2] = 'b'", kExprSubscript, 19},
        {"NOPE[1]", kExprUnknownField, 0},
        {"NAME[1", kExprParen, 6},
        {"NAME]", kExprParen, 4},
    };
    for (const Case& c : cases) {
        std::size_t pos = 12345;
        EXPECT_EQ(refuse(c.text, pos), c.code) << c.text;
        EXPECT_EQ(pos, c.pos) << c.text;
    }
}

TEST(Expr, DeepNestingIsRefusedNotOverflowed) {
    std::size_t pos;
    const std::string ok = std::string(150, '(') + "1" + std::string(150, ')');
    EXPECT_EQ(refuse(ok, pos), kOk);
    const std::string deep = std::string(100000, '(') + "1" + std::string(100000, ')');
    EXPECT_EQ(refuse(deep, pos), kExprTooDeep);
    std::string chain = "1";
    for (int i = 0; i < 100000; ++i) chain += "+1";
    EXPECT_EQ(refuse(chain, pos), kExprTooDeep);
    EXPECT_EQ(refuse(std::string(100000, '!') + ".T.", pos), kExprTooDeep);
    EXPECT_EQ(refuse(std::string(100000, '-') + "1", pos), kExprTooDeep);
    std::string calls;
    for (int i = 0; i < 50000; ++i) calls += "UPPER(";
    EXPECT_EQ(refuse(calls + "NAME" + std::string(50000, ')'), pos), kExprTooDeep);
}

TEST(Expr, RunTimeTypeErrorsGiveNil) {
    Eval ev;
    // IIF with branches of different types is only known at run time.
    EXPECT_TRUE(ev("IIF(AGE > 1, 'x', 1) + 1").isNil());
    EXPECT_EQ(ev.num("IIF(AGE > 100, 'x', 1) + 1"), 2);
    EXPECT_TRUE(ev("UPPER(IIF(.T., 1, 'a'))").isNil());
    EXPECT_TRUE(ev("SPACE(1000000000000)").isNil());  // too long to build
    EXPECT_TRUE(ev("REPLICATE('ab', 1000000000)").isNil());

    // A FOR condition that does not give a logical counts as false.
    Expression e;
    std::size_t pos;
    ASSERT_EQ(Expression::compile("IIF(AGE > 1, 'x', .T.)", kFields, "", e, pos), kOk);
    EXPECT_FALSE(e.test(ev.record, ev.settings));
    ASSERT_EQ(Expression::compile("AGE = 42 .AND. ACTIVE", kFields, "", e, pos), kOk);
    EXPECT_TRUE(e.test(ev.record, ev.settings));
}

TEST(Expr, CopiesShareTheCompiledForm) {
    Expression a;
    std::size_t pos;
    ASSERT_EQ(Expression::compile("UPPER(NAME)", kFields, "", a, pos), kOk);
    Expression b = a;
    Expression c = std::move(a);
    const Record r = sample();
    EXPECT_EQ(b.eval(r, {}).str, "SMITH               ");
    EXPECT_EQ(c.eval(r, {}).str, "SMITH               ");
    EXPECT_FALSE(a.valid());  // NOLINT: a moved-from expression is empty
    EXPECT_TRUE(a.eval(r, {}).isNil());
}
