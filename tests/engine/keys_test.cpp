// Key encodings: bytes sort as the values do, and decode back.
#include "engine/keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace engine;

TEST(Keys, NumericKeysSortAsNumbers) {
    std::mt19937_64 rng(42);
    std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 1e-300, -1e-300, 1e300, -1e300,
                                  std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                                  std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    std::uniform_real_distribution<double> uniform(-1e6, 1e6);
    std::uniform_int_distribution<std::uint64_t> bits;
    for (int i = 0; i < 2000; ++i) values.push_back(uniform(rng));
    for (int i = 0; i < 2000; ++i) {
        std::uint64_t b = bits(rng);
        double d;
        std::memcpy(&d, &b, sizeof d);
        if (!std::isnan(d)) values.push_back(d);
    }
    for (int i = 0; i < 200; ++i) values.push_back(static_cast<double>(static_cast<int>(rng() % 21) - 10));

    std::vector<std::string> keys;
    for (double v : values) {
        const std::string k = encodeKey(ExprValue::numeric(v), 'N', 8);
        ASSERT_EQ(k.size(), 8u);
        EXPECT_EQ(decodeDouble(k), v == 0 ? 0.0 : v);
        keys.push_back(k);
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        for (std::size_t j = i + 1; j < values.size() && j < i + 50; ++j) {
            const int c = compareKeys(keys[i], keys[j]);
            const int want = values[i] < values[j] ? -1 : values[i] > values[j] ? 1 : 0;
            ASSERT_EQ(c, want) << values[i] << " vs " << values[j];
        }
    }
    // Zero of either sign is one key.
    EXPECT_EQ(encodeDouble(0.0), encodeDouble(-0.0));
    EXPECT_EQ(encodeDouble(0.0), std::string("\x80\0\0\0\0\0\0\0", 8));
    EXPECT_EQ(encodeDouble(1.0), std::string("\xBF\xF0\0\0\0\0\0\0", 8));
    EXPECT_EQ(encodeDouble(-1.0), std::string("\x40\x0F\xFF\xFF\xFF\xFF\xFF\xFF", 8));
}

TEST(Keys, DatesSortAsDays) {
    std::vector<std::int32_t> days = {0, 1721426, 2451545, 2451546, 2460000, 5373484};
    std::string prev;
    for (std::int32_t d : days) {
        const std::string k = encodeKey(ExprValue::dateValue(d), 'D', 8);
        EXPECT_EQ(k, encodeDouble(d));
        EXPECT_LT(compareKeys(prev, k), 0);
        EXPECT_EQ(decodeKey(k, 'D'), ExprValue::dateValue(d));
        prev = k;
    }
    EXPECT_TRUE(decodeKey(encodeDouble(-3), 'D').isNil());
    EXPECT_TRUE(decodeKey(encodeDouble(2.5), 'D').isNil());
    EXPECT_TRUE(decodeKey("short", 'D').isNil());
}

TEST(Keys, CharacterAndLogical) {
    EXPECT_EQ(encodeKey(ExprValue::character("ab"), 'C', 5), "ab   ");
    EXPECT_EQ(encodeKey(ExprValue::character("abcdef"), 'C', 4), "abcd");
    EXPECT_EQ(seekKey(ExprValue::character("ab"), 'C', 5), "ab");
    EXPECT_EQ(seekKey(ExprValue::character("abcdef"), 'C', 4), "abcd");
    EXPECT_EQ(seekKey(ExprValue::numeric(2), 'N', 8), encodeDouble(2));
    EXPECT_EQ(encodeKey(ExprValue::logicalValue(true), 'L', 1), "T");
    EXPECT_EQ(encodeKey(ExprValue::logicalValue(false), 'L', 1), "F");
    EXPECT_EQ(decodeKey("T", 'L'), ExprValue::logicalValue(true));
    EXPECT_EQ(decodeKey("ab ", 'C'), ExprValue::character("ab "));
    // Nil or a value of the wrong kind gives the key of the empty value.
    EXPECT_EQ(encodeKey(ExprValue::nil(), 'C', 3), "   ");
    EXPECT_EQ(encodeKey(ExprValue::character("x"), 'N', 8), encodeDouble(0));
    EXPECT_EQ(encodeKey(ExprValue::numeric(1), 'D', 8), encodeDouble(0));
    EXPECT_EQ(encodeKey(ExprValue::nil(), 'L', 1), "F");
    // Bytes compare unsigned: accented letters sort after ASCII.
    EXPECT_LT(compareKeys("z", "\xE9"), 0);
    EXPECT_LT(compareKeys("ab", "ab "), 0);
    EXPECT_EQ(keyFill('C'), ' ');
    EXPECT_EQ(keyFill('N'), '\0');
    EXPECT_TRUE(validKeyType('D'));
    EXPECT_FALSE(validKeyType('M'));
}

// Integer keys: 4 bytes, big-endian with the sign bit flipped, as tags on integer fields are
// written; they sort as the numbers do and decode back.
TEST(Keys, IntegerKeysSortAsTheirNumbers) {
    EXPECT_EQ(encodeKey(ExprValue::numeric(1), 'I', 4), std::string("\x80\x00\x00\x01", 4));
    EXPECT_EQ(encodeKey(ExprValue::numeric(-1), 'I', 4), std::string("\x7F\xFF\xFF\xFF", 4));
    EXPECT_EQ(fixedKeyLength('I'), 4u);
    EXPECT_EQ(keyFill('I'), '\0');
    const double values[] = {-2147483648.0, -70000, -1, 0, 1, 255, 256, 2147483647.0};
    for (std::size_t i = 0; i + 1 < std::size(values); ++i)
        EXPECT_LT(compareKeys(encodeKey(ExprValue::numeric(values[i]), 'I', 4),
                              encodeKey(ExprValue::numeric(values[i + 1]), 'I', 4)),
                  0)
            << values[i];
    for (double v : values) EXPECT_EQ(decodeKey(encodeKey(ExprValue::numeric(v), 'I', 4), 'I').num, v);
}
