#include "runtime/runtime.h"

#include <gtest/gtest.h>

using namespace rt;

class Settings : public ::testing::Test {
protected:
    void SetUp() override { resetSettings(); }
    void TearDown() override { resetSettings(); }
};

TEST_F(Settings, Defaults) {
    EXPECT_EQ(SET(_SET_DATEFORMAT), Value("mm/dd/yy"));
    EXPECT_EQ(SET(_SET_EPOCH), Value(1900));
    EXPECT_EQ(SET(_SET_DELETED), Value(false));
    EXPECT_EQ(SET(_SET_EXACT), Value(false));
    EXPECT_EQ(SET(_SET_PATH), Value(""));
    EXPECT_EQ(SET(_SET_DEFAULT), Value(""));
    EXPECT_FALSE(__SETCENTURY());
    EXPECT_TRUE(SET(99).isNil());
}

TEST_F(Settings, SetAnswersTheOldValue) {
    EXPECT_EQ(SET(_SET_EPOCH, 1950), Value(1900));
    EXPECT_EQ(SET(_SET_EPOCH), Value(1950));
}

TEST_F(Settings, LogicalSettingsAcceptOnStrings) {
    SET(_SET_DELETED, "ON");
    EXPECT_TRUE(setDeleted());
    SET(_SET_DELETED, "off");
    EXPECT_FALSE(setDeleted());
    SET(_SET_DELETED, "on please");
    EXPECT_TRUE(setDeleted());
    SET(_SET_DELETED, "O");
    EXPECT_FALSE(setDeleted());
}

TEST_F(Settings, DateFormatSetsTheCenturySwitch) {
    SET(_SET_DATEFORMAT, "dd-mm-yyyy");
    EXPECT_TRUE(__SETCENTURY());
    SET(_SET_DATEFORMAT, "dd-mm-yy");
    EXPECT_FALSE(__SETCENTURY());
    SET(_SET_DATEFORMAT, "YYY.mm.dd");
    EXPECT_FALSE(__SETCENTURY());
    SET(_SET_DATEFORMAT, "YYYY.mm.dd");
    EXPECT_TRUE(__SETCENTURY());
}

TEST_F(Settings, ListenersSeeEveryChangeIncludingCentury) {
    std::vector<std::pair<int, std::string>> seen;
    const int h = addSettingsListener([&](int id, const Value& v) { seen.emplace_back(id, CVALTOCHAR(v)); });
    SET(_SET_EXACT, true);
    SET(_SET_DATEFORMAT, "dd-mm-yy");
    SET(_SET_EPOCH, 1950);
    SET(_SET_PATH, "a;b");
    SET(_SET_DEFAULT, "c:\\x");
    SET(_SET_DELETED, "ON");
    __SETCENTURY(true);
    __SETCENTURY(true);  // no change, no call
    removeSettingsListener(h);
    SET(_SET_EPOCH, 1900);
    const std::vector<std::pair<int, std::string>> expected{
        {1, ".t."}, {4, "dd-mm-yy"}, {5, "1950"}, {6, "a;b"}, {7, "c:\\x"}, {11, ".t."}, {4, "dd-mm-yyyy"}};
    EXPECT_EQ(seen, expected);
}

TEST_F(Settings, DatesFormatAndReadInTheFormatInForce) {
    const Date d = makeDate(2009, 3, 7);
    EXPECT_EQ(DTOC(d), "03/07/09");
    SET(_SET_DATEFORMAT, "dd-mm-yy");
    EXPECT_EQ(DTOC(d), "07-03-09");
    EXPECT_EQ(DTOC(Date{}), "  -  -  ");
    __SETCENTURY(true);
    EXPECT_EQ(DTOC(d), "07-03-2009");
    EXPECT_EQ(CVALTOCHAR(Value(d)), "07-03-2009");
    EXPECT_EQ(DTOS(d), "20090307");
    EXPECT_EQ(DTOS(Date{}), "        ");
    EXPECT_EQ(STOD("20090307"), d);
}

TEST_F(Settings, TwoDigitYearsFollowTheEpoch) {
    SET(_SET_DATEFORMAT, "dd-mm-yy");
    EXPECT_EQ(CTOD("01-01-50"), makeDate(1950, 1, 1));  // epoch 1900 at start
    SET(_SET_EPOCH, 1950);
    EXPECT_EQ(CTOD("01-01-50"), makeDate(1950, 1, 1));
    EXPECT_EQ(CTOD("31-12-99"), makeDate(1999, 12, 31));
    EXPECT_EQ(CTOD("01-01-00"), makeDate(2000, 1, 1));
    EXPECT_EQ(CTOD("31-12-49"), makeDate(2049, 12, 31));
    EXPECT_EQ(CTOD("29-02-1900"), Date{});  // not a day
    EXPECT_EQ(CTOD("29-02-2000"), makeDate(2000, 2, 29));
    EXPECT_EQ(CTOD("garbage"), Date{});
    EXPECT_EQ(CTOD("07-03-2009"), makeDate(2009, 3, 7));
}

TEST(Dates, JulianRoundTrip) {
    for (int y : {1, 1582, 1900, 2000, 2024, 9999}) {
        for (int m = 1; m <= 12; ++m) {
            int yy, mm, dd;
            splitDate(makeDate(y, m, 28), yy, mm, dd);
            EXPECT_EQ(yy, y);
            EXPECT_EQ(mm, m);
            EXPECT_EQ(dd, 28);
        }
    }
    EXPECT_EQ(makeDate(2009, 1, 1).julian - makeDate(2008, 12, 31).julian, 1);
    EXPECT_TRUE(makeDate(2009, 2, 29).empty());
    EXPECT_TRUE(makeDate(0, 1, 1).empty());
}
