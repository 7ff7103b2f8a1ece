#include "runtime/runtime.h"

#include <gtest/gtest.h>

using namespace rt;

TEST(Value, TypesAndLetters) {
    EXPECT_EQ(Value().typeLetter(), 'U');
    EXPECT_EQ(Value(true).typeLetter(), 'L');
    EXPECT_EQ(Value(3).typeLetter(), 'N');
    EXPECT_EQ(Value(3.5).typeLetter(), 'N');
    EXPECT_TRUE(Value(3).isInteger());
    EXPECT_TRUE(Value(3.0).isDouble());
    EXPECT_EQ(Value("x").typeLetter(), 'C');
    EXPECT_EQ(Value(makeDate(2009, 1, 2)).typeLetter(), 'D');
    EXPECT_EQ(Value(makeArray()).typeLetter(), 'A');
    EXPECT_EQ(Value(makeBlock("T", [](Args) { return Value(); })).typeLetter(), 'B');
    EXPECT_EQ(Value(ERRORNEW()).typeLetter(), 'O');
}

TEST(Value, WrongTypeAccessGivesEmptyValues) {
    const Value s("abc");
    EXPECT_EQ(s.asInteger(), 0);
    EXPECT_FALSE(s.asLogical());
    EXPECT_EQ(Value(7).asString(), "");
    EXPECT_EQ(Value().asArray(), nullptr);
    EXPECT_TRUE(Value(1).asDate().empty());
}

TEST(Value, StringsAreLengthCounted) {
    const std::string bytes("a\0b", 3);
    const Value v(bytes);
    EXPECT_EQ(v.asString().size(), 3u);
    EXPECT_EQ(LEN(v), 3);
}

TEST(Value, ListsShareReferences) {
    const Value a(makeArray({1, 2}));
    const Value b = a;
    AADD(b, 3);
    EXPECT_EQ(a.asArray()->size(), 3u);
    EXPECT_EQ(a.asArray()->at(3), Value(3));
    EXPECT_TRUE(a.asArray()->at(0).isNil());  // 1-based; out of range reads as no value
    EXPECT_TRUE(a.asArray()->at(4).isNil());
    EXPECT_FALSE(a.asArray()->put(4, 1));
}

TEST(Value, EqualityOfNumbersIgnoresRepresentation) {
    EXPECT_EQ(Value(2), Value(2.0));
    EXPECT_FALSE(Value(2) == Value("2"));
    const Value a(makeArray());
    EXPECT_FALSE(a == Value(makeArray()));  // lists compare by identity
    EXPECT_EQ(a, a);
}

TEST(Block, EvaluatesWithCapturedVariablesAndPushesAFrame) {
    int counter = 0;
    std::string seenName;
    const Value block(makeBlock("MAIN", [&](Args args) {
        counter += static_cast<int>(args.size());
        seenName = PROCNAME(0);
        return Value(args.empty() ? 0 : args[0].asInteger() * 2);
    }));
    EXPECT_EQ(evalWith(block, 21), Value(42));
    EXPECT_EQ(counter, 1);
    EXPECT_EQ(seenName, "(b)MAIN");
    EXPECT_EQ(eval(Value(5)), Value(5));  // a non-block evaluates to itself
}

namespace {
const ClassInfo kBase{"TBASE", nullptr};
const ClassInfo kDerived{"TDERIVED", &kBase};
struct Derived : Object {
    Derived() : Object(kDerived) {}
};
}  // namespace

TEST(Object, ClassTableListsParentsFirstOnce) {
    auto before = classCount();
    auto a = std::make_shared<Derived>();
    auto b = std::make_shared<Derived>();
    EXPECT_EQ(classCount(), before + 2);
    EXPECT_EQ(__CLASSNAME(static_cast<std::int64_t>(before) + 1), "TBASE");
    EXPECT_EQ(__CLASSNAME(static_cast<std::int64_t>(before) + 2), "TDERIVED");
    EXPECT_EQ(__CLASSNAME(static_cast<std::int64_t>(classCount()) + 1), "");
    EXPECT_EQ(__CLASSNAME(0), "");
    EXPECT_TRUE(a->isKindOf(kBase));
    EXPECT_STREQ(a->className(), "TDERIVED");
    EXPECT_EQ(Value(a).objectAs<Derived>(), a);
}

TEST(Frames, NamesLinesParamsAndLocals) {
    Value p1 = "abc";
    Value l1 = 1;
    {
        Frame outer("OUTER", {&p1});
        outer.local(l1);
        RT_LINE();
        const int outerLine = __LINE__ - 1;
        {
            Frame inner("INNER", {}, 7);
            EXPECT_EQ(PROCNAME(0), "INNER");
            EXPECT_EQ(PROCLINE(0), 7);
            EXPECT_EQ(PROCNAME(1), "OUTER");
            EXPECT_EQ(PROCLINE(1), outerLine);
            l1 = 99;  // readers see current values
            EXPECT_EQ(GETLOCAL(1, 1), Value(99));
            EXPECT_EQ(PARAMCOUNT(1), 1);
            EXPECT_EQ(GETPARAM(1, 1), Value("abc"));
            EXPECT_EQ(LOCALCOUNT(0), 0);
            EXPECT_EQ(PROCNAME(50), "");
            EXPECT_EQ(PROCLINE(50), 0);
        }
        EXPECT_EQ(PROCNAME(0), "OUTER");
    }
}
