#include "runtime/macro.h"

#include "runtime/runtime.h"

#include <gtest/gtest.h>

#include <map>

using namespace rt;

namespace {

// Two work areas: the current one (alias "CLI") and "ART".
class FakeFields : public FieldAccess {
  public:
    bool get(std::string_view alias, std::string_view name, Value& out) override {
        const std::string key = std::string(alias.empty() ? "CLI" : alias) + "->" + std::string(name);
        const auto it = fields.find(key);
        if (it == fields.end()) return false;
        out = it->second;
        return true;
    }
    std::map<std::string, Value> fields = {
        {"CLI->NOMBRE", Value("Ana  ")},
        {"CLI->SALDO", Value(12.5)},
        {"CLI->ALTA", Value(makeDate(2024, 2, 29))},
        {"ART->NOMBRE", Value("Tornillo")},
    };
};

class Macro : public ::testing::Test {
  protected:
    void SetUp() override {
        registerRuntimeRoutines();
        resetSettings();
        saved = ERRORBLOCK();
        setFieldAccess(&fields);
        // Every error is recorded; the substitute is the text "SUBST".
        ERRORBLOCK(Value(makeBlock("ERRORSYS", [this](Args a) {
            errors.push_back(a[0].objectAs<ErrorObject>());
            return Value("SUBST");
        })));
    }
    void TearDown() override {
        setFieldAccess(nullptr);
        ERRORBLOCK(saved.isBlock() ? saved : Value(makeBlock("T", [](Args) { return Value(); })));
        resetSettings();
    }
    std::string show(const Value& v) {
        if (v.isArray()) {
            std::string s = "{";
            for (std::size_t i = 1; i <= v.asArray()->size(); ++i)
                s += (i > 1 ? ", " : "") + show(v.asArray()->at(i));
            return s + "}";
        }
        if (v.isNil()) return "NIL";
        return std::string(1, v.typeLetter()) + ":" + CVALTOCHAR(v);
    }
    std::string run(std::string_view text) { return show(evalMacro(text)); }

    FakeFields fields;
    std::vector<ErrorPtr> errors;
    Value saved;
};

} // namespace

TEST_F(Macro, LiteralsAndArrays) {
    EXPECT_EQ(run("'it''s'"), "NIL"); // two strings in a row do not compile
    errors.clear();
    EXPECT_EQ(run("\"a'b\" + [c\"d]"), "C:a'bc\"d");
    EXPECT_EQ(run("12"), "N:12");
    EXPECT_TRUE(evalMacro("12").isInteger());
    EXPECT_EQ(run(".5 + 1"), "N:1.5");
    EXPECT_EQ(run(".T."), "L:.t.");
    EXPECT_EQ(run(".n."), "L:.f.");
    EXPECT_EQ(run("NIL"), "NIL");
    EXPECT_EQ(run("{^2024-02-29} + 1"), "D:03/01/24");
    EXPECT_EQ(run("{1, 'x', {}, {NIL, {2}}}"), "{N:1, C:x, {}, {NIL, {N:2}}}");
    EXPECT_EQ(run("LEN({1, 2, 3})"), "N:3");
    EXPECT_TRUE(errors.empty());
}

TEST_F(Macro, OperatorPrecedence) {
    EXPECT_EQ(run("1 + 2 * 3 ** 2"), "N:19");
    EXPECT_EQ(run("(1 + 2) * 3"), "N:9");
    EXPECT_EQ(run("2 ^ 3 ^ 2"), "N:64"); // left to right
    EXPECT_EQ(run("-2 ** 2"), "N:4");
    EXPECT_EQ(run("7 % 4 + 10 / 4"), "N:5.5");
    EXPECT_EQ(run("1 + 1 = 2 .AND. .NOT. 3 < 2 .OR. .F."), "L:.t.");
    EXPECT_EQ(run("!.T. .OR. 'b' $ 'abc'"), "L:.t.");
    EXPECT_EQ(run(".NOT. 1 = 2"), "L:.t.");
    EXPECT_EQ(run("'Ana  ' - 'Gil'"), "C:AnaGil  ");
    EXPECT_EQ(run("{^2024-03-01} - {^2024-02-01}"), "N:29");
    // "=" compares as far as the right side goes (exact off); "==" compares everything.
    EXPECT_EQ(run("'Anabel' = 'Ana'"), "L:.t.");
    EXPECT_EQ(run("'Anabel' == 'Ana'"), "L:.f.");
    EXPECT_EQ(run("'Anabel' != 'Ana'"), "L:.f.");
    EXPECT_EQ(run("NIL == NIL"), "L:.t.");
    // Only the branch taken runs, and .AND. stops at the first false.
    EXPECT_EQ(run("IIF(.T., 1, NOSUCH)"), "N:1");
    EXPECT_EQ(run(".F. .AND. NOSUCH"), "L:.f.");
    EXPECT_TRUE(errors.empty());
}

TEST_F(Macro, FieldsAndAliases) {
    EXPECT_EQ(run("NOMBRE"), "C:Ana  ");
    EXPECT_EQ(run("trim(cli->nombre) + '/' + ART->NOMBRE"), "C:Ana/Tornillo");
    EXPECT_EQ(run("FIELD->SALDO * 2"), "N:25");
    EXPECT_EQ(run("DTOS(ALTA)"), "C:20240229");
    ASSERT_TRUE(errors.empty());

    // An unknown name: "Variable does not exist", and the handler's substitute takes its place.
    EXPECT_EQ(run("NOPE + '!'"), "C:SUBST!");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->GenCode, Value(EG_NOVAR));
    EXPECT_EQ(errors[0]->SubCode, Value(1003));
    EXPECT_EQ(errors[0]->SubSystem, Value("BASE"));
    EXPECT_EQ(errors[0]->Description, Value("Variable does not exist"));
    EXPECT_EQ(errors[0]->Operation, Value("NOPE"));
    EXPECT_EQ(run("ART->SALDO"), "C:SUBST");
    setFieldAccess(nullptr);
    EXPECT_EQ(run("NOMBRE"), "C:SUBST");
    EXPECT_EQ(errors.size(), 3u);
}

TEST_F(Macro, RoutinesByNameWithOmittedArguments) {
    std::vector<std::string> seen;
    registerRoutine("Probe", [&seen](Args a) {
        std::string s;
        for (const Value& v : a) s += v.isNil() ? "U" : CVALTOCHAR(v);
        seen.push_back(s);
        return Value(static_cast<std::int64_t>(a.size()));
    });
    EXPECT_TRUE(hasRoutine("PROBE"));
    EXPECT_TRUE(hasRoutine("probe"));
    EXPECT_FALSE(hasRoutine("PROBES"));
    EXPECT_EQ(run("PROBE()"), "N:0");
    EXPECT_EQ(run("probe(1, , 3)"), "N:3");
    EXPECT_EQ(run("PROBE(, 'b')"), "N:2");
    EXPECT_EQ(run("PROBE(1, )"), "N:2");
    EXPECT_EQ(run("PROBE(,)"), "N:2");
    EXPECT_EQ((std::vector<std::string>{"", "1U3", "Ub", "1U", "UU"}), seen);

    EXPECT_EQ(run("UPPER(SUBSTR('hola mundo', 6))"), "C:MUNDO");
    EXPECT_EQ(run("STR(SALDO, 6, 1) + PADL(7, 3, '0')"), "C:  12.5007");
    EXPECT_EQ(run("VAL(' 42abc') + 1"), "N:43");
    EXPECT_EQ(run("ASCAN({'a', 'b'}, {|x| x == 'b'})"), "N:2");
    EXPECT_EQ(run("EVAL({|a, b| a * b, a + b}, 3, 4)"), "N:7");
    EXPECT_EQ(run("SET(4, 'dd/mm/yyyy') + DTOC(ALTA)"), "C:mm/dd/yy29/02/2024");
    EXPECT_TRUE(errors.empty());

    // A routine nobody registered: "Undefined function".
    EXPECT_EQ(run("NOSUCH(1)"), "C:SUBST");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->GenCode, Value(EG_NOFUNC));
    EXPECT_EQ(errors[0]->Operation, Value("NOSUCH"));
}

TEST_F(Macro, WrongOperandsRaiseArgumentErrors) {
    struct Case {
        const char* text;
        int genCode;
        int subCode;
        const char* op;
    };
    const Case cases[] = {
        {"'a' + 1", EG_ARG, 1081, "+"},
        {"1 - .T.", EG_ARG, 1082, "-"},
        {"'a' * 2", EG_ARG, 1083, "*"},
        {"1 / 0", EG_ZERODIV, 1340, "/"},
        {"5 % 0", EG_ZERODIV, 1341, "%"},
        {"-'a'", EG_ARG, 1080, "-"},
        {".NOT. 1", EG_ARG, 1077, ".NOT."},
        {"1 .AND. .T.", EG_ARG, 1078, ".AND."},
        {"1 < 'a'", EG_ARG, 1073, "<"},
        {"{1} = {1}", EG_ARG, 1071, "="},
        {"1 $ 'a'", EG_ARG, 1109, "$"},
        {"UPPER(1)", EG_ARG, 1102, "UPPER"},
        {"SUBSTR('a', 'b')", EG_ARG, 1110, "SUBSTR"},
        {"SPACE(1000000000000000)", EG_STROVERFLOW, 1209, "SPACE"},
        {"REPLICATE('ab', 9000000)", EG_STROVERFLOW, 1209, "REPLICATE"},
        {"PADL('', 2000000000)", EG_STROVERFLOW, 1209, "PADL"},
        {"SPACE(9000000) + SPACE(9000000)", EG_STROVERFLOW, 1209, "+"},
    };
    for (const Case& c : cases) {
        errors.clear();
        EXPECT_EQ(run(c.text), "C:SUBST") << c.text;
        ASSERT_EQ(errors.size(), 1u) << c.text;
        EXPECT_EQ(errors[0]->GenCode, Value(c.genCode)) << c.text;
        EXPECT_EQ(errors[0]->SubCode, Value(c.subCode)) << c.text;
        EXPECT_EQ(errors[0]->Operation, Value(c.op)) << c.text;
        EXPECT_TRUE(errors[0]->CanSubstitute) << c.text;
    }
}

TEST_F(Macro, SyntaxErrorsReachTheErrorBlockWithTheirPosition) {
    struct Case {
        const char* block;
        int position; // 1-based, in the block text
    };
    const Case cases[] = {
        {"{ || UPPER(NOMBRE }", 19}, {"{ || 1 + }", 10}, {"{ || 'abc }", 6}, {"{ || 1 2 }", 8},
        {"{ || {^2024-02-30} }", 6}, {"{ || }", 6},      {"1 + 2", 1},       {"{ || a @ b }", 8},
        {"{ |a b| a }", 6},
    };
    for (const Case& c : cases) {
        errors.clear();
        EXPECT_TRUE(compileBlock(c.block).isNil()) << c.block;
        ASSERT_EQ(errors.size(), 1u) << c.block;
        EXPECT_EQ(errors[0]->GenCode, Value(EG_SYNTAX)) << c.block;
        EXPECT_EQ(errors[0]->Description, Value("Syntax error")) << c.block;
        EXPECT_EQ(errors[0]->SubSystem, Value("BASE")) << c.block;
        EXPECT_EQ(errors[0]->Operation, Value("position " + std::to_string(c.position))) << c.block;
    }
    errors.clear();
    const Value block = compileBlock("{ |n| n * 2 }");
    ASSERT_TRUE(block.isBlock());
    EXPECT_EQ(evalWith(block, 21), Value(42));
    EXPECT_EQ(eval(block, {}), Value("SUBST")); // NIL * 2
    EXPECT_EQ(errors.size(), 1u);
}

TEST_F(Macro, DeepNestingIsRefusedCleanly) {
    EXPECT_EQ(run(std::string(150, '(') + "1" + std::string(150, ')')), "N:1");
    EXPECT_TRUE(errors.empty());
    const std::string deep[] = {
        std::string(100000, '(') + "1" + std::string(100000, ')'),
        std::string(100000, '{') + std::string(100000, '}'),
        std::string(100000, '-') + "1",
        [] {
            std::string s = "1";
            for (int i = 0; i < 100000; ++i) s += "+1";
            return s;
        }(),
        [] {
            std::string s;
            for (int i = 0; i < 50000; ++i) s += "UPPER(";
            return s + "'a'" + std::string(50000, ')');
        }(),
    };
    for (const std::string& text : deep) {
        errors.clear();
        EXPECT_EQ(run(text), "NIL");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->GenCode, Value(EG_SYNTAX));
    }

    // Blocks that evaluate each other without end stop with "Operation too complex".
    errors.clear();
    EXPECT_EQ(run("EVAL({|b| EVAL(b, b)}, {|b| EVAL(b, b)})"), "C:SUBST");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->GenCode, Value(EG_COMPLEXITY));
}

TEST_F(Macro, SubscriptsAfterAnyOperand) {
    struct Case {
        const char* text;
        const char* value;
    };
    const Case cases[] = {
        {"{10, 20, 30}[2]", "N:20"},                        // a literal list
        {"{{1, 2}, {3, 4}}[2][1]", "N:3"},                  // a subscript of a subscript
        {"(IIF(.T., {5, 6}, {}))[2]", "N:6"},               // a parenthesised expression
        {"EVAL({|| {7, 8}})[2]", "N:8"},                    // a call
        {"EVAL({|a| a[2] * 2}, {4, 5})", "N:10"},           // a block's parameter
        {"{1, 2, 3}[1 + 1] + {1, 2, 3}[{3, 1}[1]]", "N:5"}, // expressions as indexes
        {"{1, 2}[1.9]", "N:1"},                             // the fraction is dropped
        {"ARRAY(2)[1]", "NIL"},
        {"-{4}[1] ** 2", "N:16"},           // binds tighter than any operator
        {"{'ab', 'c'} [1] + 'x'", "C:abx"}, // blanks before the bracket
        // Where an operand is expected, "[" still opens a text.
        {"[ab] + [c]", "C:abc"},
        {"{[a], [b]}[2]", "C:b"},
        {"LEN([x]) + {1}[1]", "N:2"},
        {"'[1]' $ 'a[1]'", "L:.t."},
    };
    for (const Case& c : cases) EXPECT_EQ(run(c.text), c.value) << c.text;
    EXPECT_TRUE(errors.empty());
}

TEST_F(Macro, SubscriptErrors) {
    struct Case {
        const char* text;
        int genCode;
        int subCode;
    };
    // Not a list, or an index that is not a number: the argument error of array access; an
    // index outside the list: its bound error. Each carries the value and the index.
    const Case cases[] = {
        {"{1, 2}[3]", EG_BOUND, 1132}, {"{1, 2}[0]", EG_BOUND, 1132},      {"{1, 2}[-1]", EG_BOUND, 1132},
        {"{}[1]", EG_BOUND, 1132},     {"{1}[10 ** 300]", EG_BOUND, 1132}, {"'abc'[1]", EG_ARG, 1068},
        {"NOMBRE[1]", EG_ARG, 1068},   {"NIL[1]", EG_ARG, 1068},           {"{1}['1']", EG_ARG, 1068},
        {"{1}[NIL]", EG_ARG, 1068},    {"{1}[.T.]", EG_ARG, 1068},
    };
    for (const Case& c : cases) {
        errors.clear();
        EXPECT_EQ(run(c.text), "C:SUBST") << c.text;
        ASSERT_EQ(errors.size(), 1u) << c.text;
        EXPECT_EQ(errors[0]->GenCode, Value(c.genCode)) << c.text;
        EXPECT_EQ(errors[0]->SubCode, Value(c.subCode)) << c.text;
        EXPECT_EQ(errors[0]->SubSystem, Value("BASE")) << c.text;
        EXPECT_EQ(errors[0]->Operation, Value("array access")) << c.text;
        EXPECT_TRUE(errors[0]->CanSubstitute) << c.text;
        ASSERT_TRUE(errors[0]->Args.isArray()) << c.text;
        EXPECT_EQ(errors[0]->Args.asArray()->size(), 2u) << c.text;
    }

    // Brackets that do not close, or hold nothing, do not compile.
    const struct {
        const char* block;
        int position;
    } syntax[] = {
        {"{ || {1}[ }", 11}, {"{ || {1}[1 }", 12}, {"{ || {1}[] }", 10}, {"{ || 1] }", 7}, {"{ || [1 }", 6}};
    for (const auto& c : syntax) {
        errors.clear();
        EXPECT_TRUE(compileBlock(c.block).isNil()) << c.block;
        ASSERT_EQ(errors.size(), 1u) << c.block;
        EXPECT_EQ(errors[0]->GenCode, Value(EG_SYNTAX)) << c.block;
        EXPECT_EQ(errors[0]->Operation, Value("position " + std::to_string(c.position))) << c.block;
    }

    // Long chains and deep nests of subscripts are refused, not followed down the stack.
    std::string chain = "{1}";
    for (int i = 0; i < 100000; ++i) chain += "[1]";
    std::string nest;
    for (int i = 0; i < 50000; ++i) nest += "{1}[";
    nest += "1" + std::string(50000, ']');
    for (const std::string& text : {chain, nest}) {
        errors.clear();
        EXPECT_EQ(run(text), "NIL");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]->GenCode, Value(EG_SYNTAX));
    }
}

// Compiled text's TRANSFORM is the program's own: every value and picture gives what the C++
// routine gives.
TEST_F(Macro, TransformIsTheProgramsRoutine) {
    const char* values[] = {"'abc'", "'ab12'", "42", "-1.5", "1048576", ".T.", ".F.", "{^2009-12-31}", "NIL"};
    const char* pictures[] = {"",      "@!",     "@A", "@E",   "Y", "!X-99", "XXXX", "9,999,999 bytes",
                              "99999", "@Z 999", "@a", "99.99"};
    for (const char* v : values) {
        for (const char* p : pictures) {
            const std::string text = std::string("TRANSFORM(") + v + ", '" + p + "')";
            const Value expected(TRANSFORM(evalMacro(v), p));
            EXPECT_EQ(evalMacro(text), expected) << text;
        }
    }
    EXPECT_EQ(run("TRANSFORM('abc', '@!')"), "C:ABC");
    EXPECT_EQ(run("TRANSFORM(.T., 'Y')"), "C:Y");
    EXPECT_EQ(run("TRANSFORM('abc', '@A')"), "C:abc");
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(run("TRANSFORM(1, 2)"), "C:SUBST"); // the picture must be text
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->SubCode, Value(1122));
}
