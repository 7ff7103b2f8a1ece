#include "runtime/runtime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace rt;

TEST(At, FindsBytesOverTheFullLength) {
    const std::string text = std::string("DBF\0\0\0", 6) + "v2009/12";
    EXPECT_EQ(AT("2009/1", text), 8);
    EXPECT_EQ(AT("", "abc"), 0);
    EXPECT_EQ(AT("abcd", "abc"), 0);
    EXPECT_EQ(AT("c", "abcabc", 4), 6);
    EXPECT_EQ(AT("c", "abcabc", 4, 5), 0);
    EXPECT_EQ(AT("2009/1", "2009/2"), 0);
}

TEST(Upper, ChangesOnlyAsciiLetters) {
    EXPECT_EQ(UPPER(Value("a\xE9z1")), "A\xE9Z1");
    EXPECT_EQ(LOWER(Value("AbC")), "abc");
}

TEST(Empty, FollowsTheRuntimeRules) {
    EXPECT_TRUE(EMPTY(Value()));
    EXPECT_TRUE(EMPTY(Value(" \t\r\n")));
    EXPECT_FALSE(EMPTY(Value(" x")));
    EXPECT_TRUE(EMPTY(Value(0)));
    EXPECT_TRUE(EMPTY(Value(0.0)));
    EXPECT_TRUE(EMPTY(Value(false)));
    EXPECT_TRUE(EMPTY(Value(Date{})));
    EXPECT_TRUE(EMPTY(Value(makeArray())));
    EXPECT_FALSE(EMPTY(Value(makeBlock("X", [](Args) { return Value(); }))));
}

TEST(Str, WidthsAndOverflow) {
    EXPECT_EQ(STR(5, 3), "  5");
    EXPECT_EQ(STR(1234, 3), "***");
    EXPECT_EQ(STR(0), "         0");
    EXPECT_EQ(STR(-12, 4), " -12");
    EXPECT_EQ(STR(3.14159), "         3.14");
    EXPECT_EQ(STR(2.5, 6, 1), "   2.5");
    EXPECT_EQ(STR("x"), "");
}

TEST(CValToChar, EveryType) {
    EXPECT_EQ(CVALTOCHAR(Value("abc")), "abc");
    EXPECT_EQ(CVALTOCHAR(Value(true)), ".t.");
    EXPECT_EQ(CVALTOCHAR(Value(false)), ".f.");
    EXPECT_EQ(CVALTOCHAR(Value(-42)), "-42");
    EXPECT_EQ(CVALTOCHAR(Value(5.28)), "5.28");
    EXPECT_EQ(CVALTOCHAR(Value(makeBlock("X", [](Args) { return Value(); }))), "{|| ... }");
    EXPECT_EQ(CVALTOCHAR(Value(makeArray({1}))), "{ ... }");
    EXPECT_EQ(CVALTOCHAR(Value(ERRORNEW())), "Object");
    EXPECT_EQ(CVALTOCHAR(Value()), "");
}

TEST(Transform, ReportPictures) {
    EXPECT_EQ(TRANSFORM(1048576, "9,999,999 bytes"), "1,048,576 bytes");
    EXPECT_EQ(TRANSFORM(4096, "9,999,999 bytes"), "    4,096 bytes");
    EXPECT_EQ(TRANSFORM(12, "9,999,999 bytes"), "       12 bytes");
    EXPECT_EQ(TRANSFORM(0, "9,999,999 bytes"), "        0 bytes");
    EXPECT_EQ(TRANSFORM(12345678, "9,999,999 bytes"), "********* bytes");
    EXPECT_EQ(TRANSFORM(42, "99999"), "   42");
    EXPECT_EQ(TRANSFORM(99999, "99999"), "99999");
}

TEST(Transform, LongPicturesAndNumbersThatFitNone) {
    const std::string decimals(600, '9');
    const std::string out = TRANSFORM(-1.5, "99." + decimals);
    EXPECT_EQ(out, "-1.5" + std::string(599, '0'));
    EXPECT_EQ(TRANSFORM(1e300, "999." + decimals).find_first_not_of("*."), std::string::npos);
    EXPECT_EQ(TRANSFORM(std::numeric_limits<double>::infinity(), "9999.99"), "****.**");
    EXPECT_EQ(TRANSFORM(std::nan(""), "99"), "**");
    EXPECT_EQ(TRANSFORM(-0.001, "9.99"), "0.00"); // no sign on a number that shows as zero
}

TEST(Transform, TextDatesAndLogicals) {
    resetSettings();
    EXPECT_EQ(TRANSFORM("abc", "@!"), "ABC");
    EXPECT_EQ(TRANSFORM("abc", "@A"), "abc"); // "A" is not "!": letters stay as they are
    EXPECT_EQ(TRANSFORM("abc", "@a"), "abc");
    EXPECT_EQ(TRANSFORM("ab12", "!X-99"), "Ab-12");
    EXPECT_EQ(TRANSFORM("ab", "XXXX"), "ab  ");
    EXPECT_EQ(TRANSFORM("abcdef", "XXX"), "abc");
    EXPECT_EQ(TRANSFORM("x", ""), "x");
    const Value d(CTOD("12/31/09"));
    EXPECT_EQ(TRANSFORM(d, ""), "12/31/09");
    EXPECT_EQ(TRANSFORM(d, "@E"), "31/12/09");
    EXPECT_EQ(TRANSFORM(d, "@e"), "31/12/09"); // function letters in either case
    EXPECT_EQ(TRANSFORM(true, "Y"), "Y");
    EXPECT_EQ(TRANSFORM(false, ""), "F");
    EXPECT_EQ(TRANSFORM(42, "@Z 999"), " 42");
    EXPECT_EQ(TRANSFORM(Value(), "XX"), "");
}

TEST(TrimPad, BlanksOnly) {
    EXPECT_EQ(TRIM("ab  "), "ab");
    EXPECT_EQ(ALLTRIM("  ab \t"), "ab \t");
    EXPECT_EQ(PADR("abc", 5), "abc  ");
    EXPECT_EQ(PADR("abcdef", 3), "abc");
    EXPECT_EQ(PADL("7", 3, '0'), "007");
    EXPECT_EQ(SUBSTR("abcdef", 2, 3), "bcd");
    EXPECT_EQ(SUBSTR("abcdef", 9), "");
    EXPECT_EQ(RIGHT("abcdef", 2), "ef");
}

TEST(StringCompare, PrefixRuleAndExactRule) {
    EXPECT_TRUE(stringEquals("C:\\Vendrax\\DATOS2009", "C:\\Vendrax\\DATOS", false));
    EXPECT_FALSE(stringEquals("C:\\Vendrax\\DATOS", "C:\\Vendrax\\DATOS2009", false));
    EXPECT_TRUE(stringEquals("anything", "", false));
    EXPECT_TRUE(stringEquals("abc  ", "abc", true));
    EXPECT_FALSE(stringEquals("abcd", "abc", true));
}

TEST(AScan, PrefixRuleUnderExactOffAndOn) {
    resetSettings();
    const Value list(makeArray({1, "C:\\V\\ABC", "C:\\V\\AB"}));
    EXPECT_EQ(ASCAN(list, "C:\\V\\AB"), 2); // the longer path begins with the searched one
    EXPECT_EQ(ASCAN(Value(makeArray({"C:\\V\\AB"})), "C:\\V\\ABC"), 0);
    EXPECT_EQ(ASCAN(list, 1), 1);
    EXPECT_EQ(ASCAN(list, "zz"), 0);
    EXPECT_EQ(ASCAN(list, "C:\\V\\AB", 3), 3);
    SET(_SET_EXACT, true);
    EXPECT_EQ(ASCAN(list, "C:\\V\\AB"), 3);
    EXPECT_EQ(ASCAN(list, "C:\\V\\AB  "), 3);
    resetSettings();
    EXPECT_EQ(ASCAN(Value(), 1), 0);
    const Value even(
        makeBlock("T", [](Args a) { return Value(a[0].isNumber() && a[0].asInteger() % 2 == 0); }));
    EXPECT_EQ(ASCAN(Value(makeArray({1, 3, 4})), even), 3);
}

TEST(AScan, ABlockThatShrinksTheListAndHugeCounts) {
    const auto items = makeArray({1, 2, 3, 4, 5});
    int calls = 0;
    const Value shrink(makeBlock("T", [&](Args) {
        ++calls;
        items->items.pop_back();
        items->items.pop_back();
        return Value(false);
    }));
    EXPECT_EQ(ASCAN(Value(items), shrink), 0);
    EXPECT_EQ(calls, 2); // elements 1 and 2, then the list had one left
    const Value list(makeArray({1, 2, 3}));
    EXPECT_EQ(ASCAN(list, 3, 2, std::numeric_limits<std::int64_t>::max()), 3);
    EXPECT_EQ(
        ASCAN(list, 3, std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::max()),
        0);
    EXPECT_EQ(ASCAN(list, 3, 1, std::numeric_limits<std::int64_t>::min()), 0);
    EXPECT_EQ(ASCAN(list, 3, 1, 2), 0);
    EXPECT_EQ(ASCAN(list, 3, 2, 2), 3);
}
