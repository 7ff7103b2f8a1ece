// The file-level pieces: dates, number texts, field codecs and the DBF header checks.
#include "engine/calendar.h"
#include "engine/dbf.h"
#include "engine/memo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace engine;

TEST(Calendar, JulianDaysAndBack) {
    EXPECT_EQ(calendar::julian(2000, 1, 1), 2451545);
    EXPECT_EQ(calendar::julian(1, 1, 1), 1721426);
    EXPECT_EQ(calendar::julian(2023, 2, 29), 0);
    EXPECT_EQ(calendar::julian(2024, 2, 29), calendar::julian(2024, 3, 1) - 1);
    EXPECT_EQ(calendar::julian(10000, 1, 1), 0);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> day(1721426, 5373484);
    for (int i = 0; i < 2000; ++i) {
        int jd = day(rng), y, m, d;
        calendar::split(jd, y, m, d);
        ASSERT_EQ(calendar::julian(y, m, d), jd);
    }
    int y, m, d;
    calendar::split(0, y, m, d);
    EXPECT_EQ(y + m + d, 0);
}

TEST(Calendar, StampsFormatsAndEpoch) {
    const int jd = calendar::julian(2024, 3, 5);
    EXPECT_EQ(calendar::toStamp(jd), "20240305");
    EXPECT_EQ(calendar::toStamp(0), "        ");
    bool ok = false;
    EXPECT_EQ(calendar::fromStamp("20240305", ok), jd);
    EXPECT_TRUE(ok);
    EXPECT_EQ(calendar::fromStamp("        ", ok), 0);
    EXPECT_TRUE(ok);
    calendar::fromStamp("2024030x", ok);
    EXPECT_FALSE(ok);
    calendar::fromStamp("20240231", ok);
    EXPECT_FALSE(ok);

    EXPECT_EQ(calendar::format(jd, "dd-mm-yyyy"), "05-03-2024");
    EXPECT_EQ(calendar::format(jd, "DD-MM-YY"), "05-03-24");
    EXPECT_EQ(calendar::format(jd, "MM/DD/YYYY"), "03/05/2024");
    EXPECT_EQ(calendar::format(0, "dd-mm-yy"), "        ");

    EXPECT_EQ(calendar::parse("05-03-24", "dd-mm-yy", 1950, ok), jd);
    EXPECT_TRUE(ok);
    EXPECT_EQ(calendar::parse("5/3/2024", "dd-mm-yy", 1950, ok), jd);
    EXPECT_EQ(calendar::parse("01-01-49", "dd-mm-yy", 1950, ok), calendar::julian(2049, 1, 1));
    EXPECT_EQ(calendar::parse("01-01-50", "dd-mm-yy", 1950, ok), calendar::julian(1950, 1, 1));
    EXPECT_EQ(calendar::parse("01-01-49", "dd-mm-yy", 1900, ok), calendar::julian(1949, 1, 1));
    EXPECT_EQ(calendar::parse("20240305", "yyyymmdd", 1900, ok), jd);
    EXPECT_EQ(calendar::parse("  ", "dd-mm-yy", 1900, ok), 0);
    EXPECT_TRUE(ok);
    calendar::parse("31-02-24", "dd-mm-yy", 1950, ok);
    EXPECT_FALSE(ok);
    calendar::parse("31-02", "dd-mm-yy", 1950, ok);
    EXPECT_FALSE(ok);
    calendar::parse("aa-bb-cc", "dd-mm-yy", 1950, ok);
    EXPECT_FALSE(ok);
}

TEST(NumberText, RoundsHalfAwayFromZeroAndRefusesWhatDoesNotFit) {
    EXPECT_EQ(dbf::formatNumber(12.5, 8, 2), "   12.50");
    EXPECT_EQ(dbf::formatNumber(-12.5, 8, 2), "  -12.50");
    EXPECT_EQ(dbf::formatNumber(2.675, 6, 2), "  2.68"); // 2.67499999... in binary
    EXPECT_EQ(dbf::formatNumber(1.005, 6, 2), "  1.01");
    EXPECT_EQ(dbf::formatNumber(0.5, 1, 0), "1");
    EXPECT_EQ(dbf::formatNumber(-0.5, 2, 0), "-1");
    EXPECT_EQ(dbf::formatNumber(-0.001, 5, 2), " 0.00"); // no negative zero
    EXPECT_EQ(dbf::formatNumber(0, 3, 0), "  0");
    EXPECT_EQ(dbf::formatNumber(999.994, 6, 2), "999.99");
    EXPECT_EQ(dbf::formatNumber(999.995, 6, 2), ""); // 1000.00 needs 7
    EXPECT_EQ(dbf::formatNumber(-99999, 5, 0), "");
    EXPECT_EQ(dbf::formatNumber(123456789012345678.0, 20, 0), "  123456789012345680");
    EXPECT_EQ(dbf::formatNumber(1e300, 20, 0), "");
    EXPECT_EQ(dbf::formatNumber(std::nan(""), 20, 0), "");
    EXPECT_EQ(dbf::formatNumber(0.000001, 10, 5), "   0.00000");
    EXPECT_EQ(dbf::formatNumber(0.125, 5, 2), " 0.13"); // an exact tie
    EXPECT_EQ(dbf::formatNumber(-0.125, 5, 2), "-0.13");
    EXPECT_EQ(dbf::formatNumber(2.5, 3, 0), "  3");
    // Random numbers: the text is the number rounded to the decimals.
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> any(-1e7, 1e7);
    for (int i = 0; i < 20000; ++i) {
        const double v = any(rng);
        const std::size_t dec = static_cast<std::size_t>(i % 5);
        const std::string text = dbf::formatNumber(v, 20, dec);
        ASSERT_EQ(text.size(), 20u);
        const double back = std::stod(text);
        ASSERT_LE(std::fabs(back - v), 0.5 * std::pow(10.0, -static_cast<double>(dec)) * (1 + 1e-9)) << v;
        const std::size_t point = text.find('.');
        ASSERT_EQ(dec == 0 ? std::string::npos : text.size() - point - 1, dec == 0 ? std::string::npos : dec);
    }
}

namespace {

// A record with one field of each kind, laid out as buildHeader lays them out.
struct Sample {
    dbf::Header h;
    std::vector<std::uint8_t> rec;
    Sample() {
        h.fields = {{"C1", 'C', 0, 5}, {"N1", 'N', 0, 7, 2}, {"D1", 'D', 0, 8},    {"L1", 'L', 0, 1},
                    {"M1", 'M', 0, 4}, {"I1", 'I', 0, 4},    {"B1", 'B', 0, 8, 3}, {"Y1", 'Y', 0, 8},
                    {"T1", 'T', 0, 8}, {"M2", 'M', 0, 10}};
        dbf::buildHeader(h);
        rec.assign(h.recordLength, ' ');
    }
    const dbf::Field& f(int i) const { return h.fields[static_cast<std::size_t>(i)]; }
};

} // namespace

TEST(FieldCodecs, ValuesRoundTripThroughRecordBytes) {
    Sample s;
    std::uint8_t* r = s.rec.data();
    EXPECT_EQ(s.h.recordLength, 1 + 5 + 7 + 8 + 1 + 4 + 4 + 8 + 8 + 8 + 10);

    ASSERT_TRUE(dbf::putNumber(s.f(1), r, -3.14159));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(r + s.f(1).offset), 7), "  -3.14");
    EXPECT_DOUBLE_EQ(dbf::getNumber(s.f(1), r), -3.14);
    EXPECT_FALSE(dbf::putNumber(s.f(1), r, 12345.67));  // needs 8
    EXPECT_DOUBLE_EQ(dbf::getNumber(s.f(1), r), -3.14); // unchanged

    ASSERT_TRUE(dbf::putNumber(s.f(5), r, -42));
    EXPECT_EQ(dbf::getNumber(s.f(5), r), -42);
    EXPECT_FALSE(dbf::putNumber(s.f(5), r, 3e9));
    ASSERT_TRUE(dbf::putNumber(s.f(6), r, 1.0 / 3));
    EXPECT_EQ(dbf::getNumber(s.f(6), r), 1.0 / 3);
    ASSERT_TRUE(dbf::putNumber(s.f(7), r, 12.3456));
    EXPECT_DOUBLE_EQ(dbf::getNumber(s.f(7), r), 12.3456);

    const int jd = calendar::julian(1999, 12, 31);
    dbf::putDate(s.f(2), r, jd);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(r + s.f(2).offset), 8), "19991231");
    EXPECT_EQ(dbf::getDate(s.f(2), r), jd);
    dbf::putDate(s.f(8), r, jd);
    EXPECT_EQ(dbf::getDate(s.f(8), r), jd);
    dbf::putDate(s.f(2), r, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(r + s.f(2).offset), 8), "        ");
    std::memcpy(r + s.f(2).offset, "2024XX01", 8);
    EXPECT_EQ(dbf::getDate(s.f(2), r), 0);

    dbf::putLogical(s.f(3), r, true);
    EXPECT_EQ(r[s.f(3).offset], 'T');
    EXPECT_TRUE(dbf::getLogical(s.f(3), r));
    r[s.f(3).offset] = '?';
    EXPECT_FALSE(dbf::getLogical(s.f(3), r));
    r[s.f(3).offset] = 'y';
    EXPECT_TRUE(dbf::getLogical(s.f(3), r));

    dbf::putMemoBlock(s.f(4), r, 0x01020304);
    EXPECT_EQ(r[s.f(4).offset], 0x04); // little-endian
    EXPECT_EQ(dbf::getMemoBlock(s.f(4), r), 0x01020304u);
    dbf::putMemoBlock(s.f(9), r, 77);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(r + s.f(9).offset), 10), "        77");
    EXPECT_EQ(dbf::getMemoBlock(s.f(9), r), 77u);

    // Numbers with leading blanks, a plus sign or rubbish read as far as they are numbers.
    std::memcpy(r + s.f(1).offset, "  +1.50", 7);
    EXPECT_DOUBLE_EQ(dbf::getNumber(s.f(1), r), 1.5);
    std::memcpy(r + s.f(1).offset, "*******", 7);
    EXPECT_EQ(dbf::getNumber(s.f(1), r), 0);
}

TEST(DbfHeader, BuiltHeaderReadsBack) {
    dbf::Header h;
    h.fields = {{"NAME", 'C', 0, 10}, {"NOTES", 'M', 0, 4}};
    h.year = 2024;
    h.month = 2;
    h.day = 29;
    h.recordCount = 3;
    std::vector<std::uint8_t> bytes = dbf::buildHeader(h);
    ASSERT_EQ(bytes.size(), 32u + 2 * 32 + 1 + 263);
    EXPECT_EQ(bytes[0], 0x30);
    EXPECT_EQ(bytes[1], 24); // two-digit year, as the FoxPro family writes it
    EXPECT_EQ(bytes[28], dbf::flagMemo);
    EXPECT_EQ(bytes[32 + 2 * 32], 0x0D);
    dbf::Header back;
    ASSERT_EQ(dbf::readHeader(bytes, back), dbf::Check::ok);
    EXPECT_EQ(back.recordCount, 3u);
    EXPECT_EQ(back.recordLength, 15);
    ASSERT_EQ(back.fields.size(), 2u);
    EXPECT_EQ(back.fields[1].name, "NOTES");
    EXPECT_EQ(back.fields[1].offset, 11u);
    EXPECT_TRUE(back.hasMemo());
}

TEST(DbfHeader, DamagedAndForeignHeadersAreRecognised) {
    dbf::Header h;
    h.fields = {{"A", 'C', 0, 4}, {"B", 'N', 0, 5, 1}};
    const std::vector<std::uint8_t> good = dbf::buildHeader(h);
    auto check = [&](auto change) {
        std::vector<std::uint8_t> b = good;
        change(b);
        dbf::Header out;
        return dbf::readHeader(b, out);
    };
    EXPECT_EQ(check([](auto&) {}), dbf::Check::ok);
    EXPECT_EQ(check([](auto& b) { b.resize(20); }), dbf::Check::truncated);
    EXPECT_EQ(check([](auto& b) { b.resize(70); }), dbf::Check::truncated);
    EXPECT_EQ(check([](auto& b) { b[0] = 0x83; }), dbf::Check::unsupported); // dBase with DBT memo
    EXPECT_EQ(check([](auto& b) { b[0] = 0x00; }), dbf::Check::notTable);
    EXPECT_EQ(check([](auto& b) { b[0] = '<'; }), dbf::Check::notTable);
    EXPECT_EQ(check([](auto& b) { b[10] = b[11] = 0; }), dbf::Check::damaged); // record length 0
    EXPECT_EQ(check([](auto& b) { b[10] = 5; }), dbf::Check::damaged);         // fields past the record
    EXPECT_EQ(check([](auto& b) { b[32 + 64] = 'X'; }), dbf::Check::damaged);  // no terminator
    EXPECT_EQ(check([](auto& b) {
                  b[8] = 40;
                  b[9] = 0;
              }),
              dbf::Check::damaged);                                              // header too short
    EXPECT_EQ(check([](auto& b) { b[32 + 11] = 'Z'; }), dbf::Check::damaged);    // unknown type
    EXPECT_EQ(check([](auto& b) { b[32 + 11] = 'V'; }), dbf::Check::damaged);    // V without _NullFlags
    EXPECT_EQ(check([](auto& b) { b[0] = 0x8C; }), dbf::Check::unsupported);     // dBase 7
    EXPECT_EQ(check([](auto& b) { b[32 + 16] = 0; }), dbf::Check::damaged);      // length 0
    EXPECT_EQ(check([](auto& b) { b[32 + 32 + 17] = 9; }), dbf::Check::damaged); // decimals
    EXPECT_EQ(check([](auto& b) { b[32] = 0; }), dbf::Check::damaged);           // no name
}

TEST(DbfHeader, FieldDefinitionsAreChecked) {
    using P = dbf::FieldProblem;
    EXPECT_EQ(dbf::checkField({"NAME", 'C', 0, 10}), P::none);
    EXPECT_EQ(dbf::checkField({"", 'C', 0, 10}), P::badName);
    EXPECT_EQ(dbf::checkField({"1ABC", 'C', 0, 10}), P::badName);
    EXPECT_EQ(dbf::checkField({"A B", 'C', 0, 10}), P::badName);
    EXPECT_EQ(dbf::checkField({"ABCDEFGHIJK", 'C', 0, 10}), P::nameTooLong);
    EXPECT_EQ(dbf::checkField({"A", 'C', 0, 0}), P::badLength);
    EXPECT_EQ(dbf::checkField({"A", 'C', 0, 255}), P::badLength);
    EXPECT_EQ(dbf::checkField({"A", 'N', 0, 5, 3}), P::none);
    EXPECT_EQ(dbf::checkField({"A", 'N', 0, 5, 4}), P::badLength);
    EXPECT_EQ(dbf::checkField({"A", 'N', 0, 21}), P::badLength);
    EXPECT_EQ(dbf::checkField({"A", 'D', 0, 9}), P::badLength);
    EXPECT_EQ(dbf::checkField({"A", 'X', 0, 1}), P::badType);
}

TEST(FptHeader, LayoutAndChecks) {
    fpt::Header h;
    h.blockSize = 64;
    h.nextFree = 9;
    std::uint8_t bytes[512];
    fpt::writeHeader(h, bytes);
    EXPECT_EQ(bytes[3], 9); // big-endian
    EXPECT_EQ(bytes[6], 0);
    EXPECT_EQ(bytes[7], 64);
    fpt::Header back;
    ASSERT_TRUE(fpt::readHeader(bytes, back));
    EXPECT_EQ(back.nextFree, 9u);
    EXPECT_EQ(fpt::firstBlock(64), 8u);
    EXPECT_EQ(fpt::firstBlock(100), 6u);
    EXPECT_EQ(fpt::blocksFor(56, 64), 1u);
    EXPECT_EQ(fpt::blocksFor(57, 64), 2u);
    bytes[7] = 0;
    EXPECT_FALSE(fpt::readHeader(bytes, back)); // block size 0
    bytes[7] = 64;
    bytes[3] = 2;
    EXPECT_FALSE(fpt::readHeader(bytes, back)); // next free block inside the header
    EXPECT_FALSE(fpt::readHeader(std::span(bytes, 100), back));
}
