// The rules behind the system facts (processor name, clock rounding, time since start, task
// list) and a sanity check of the platform's own facts.
#include "errors/system_facts.h"

#include "runtime/runtime.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using errors::CpuIdentification;

namespace {

constexpr std::uint32_t kMmx = 1u << 23, kSse = 1u << 25, kSse2 = 1u << 26;

// A processor with identification, leaf 0 reporting max leaf 2.
CpuIdentification cpu(std::uint32_t brand, std::uint32_t family, std::uint32_t features) {
    CpuIdentification id;
    id.leaf0[0] = 2;
    id.leaf1[0] = family << 8;
    id.leaf1[1] = brand;
    id.leaf1[3] = features;
    id.leaf2[0] = 0x03020101; // iteration count 1, then descriptors that are not small caches
    return id;
}

} // namespace

TEST(CpuName, WithoutTheIdentificationInstruction) {
    CpuIdentification id;
    id.hasCpuid = false;
    id.canToggleAc = true;
    EXPECT_EQ(errors::cpuNameFrom(id), "486");
    id.canToggleAc = false;
    EXPECT_EQ(errors::cpuNameFrom(id), "386");
}

TEST(CpuName, BrandIndexDecidesFirst) {
    EXPECT_EQ(errors::cpuNameFrom(cpu(1, 6, kMmx)), "Intel Celeron");
    EXPECT_EQ(errors::cpuNameFrom(cpu(2, 6, kMmx | kSse)), "Intel Pentium III");
    EXPECT_EQ(errors::cpuNameFrom(cpu(3, 6, kMmx | kSse)), "Intel Pentium III Xeon");
    EXPECT_EQ(errors::cpuNameFrom(cpu(8, 15, kMmx | kSse | kSse2)), "Intel Pentium IV");
    // Only the low byte of EBX is the brand index.
    EXPECT_EQ(errors::cpuNameFrom(cpu(0x00010002, 6, kMmx)), "Intel Pentium III");
    // A leaf 0 without leaves fails whatever leaf 1 says.
    auto none = cpu(2, 6, kMmx);
    none.leaf0[0] = 0;
    EXPECT_EQ(errors::cpuNameFrom(none), "GetCPU() failed!");
}

TEST(CpuName, FamilyAndFeatures) {
    EXPECT_EQ(errors::cpuNameFrom(cpu(0, 4, 0)), "486");
    EXPECT_EQ(errors::cpuNameFrom(cpu(0, 5, kMmx)), "Pentium MMX");
    EXPECT_EQ(errors::cpuNameFrom(cpu(0, 5, 0)), "Pentium classic");
    EXPECT_EQ(errors::cpuNameFrom(cpu(0, 6, 0)), "Pentium Pro");
    EXPECT_EQ(errors::cpuNameFrom(cpu(0, 6, kMmx)), "Pentium II");
    EXPECT_EQ(errors::cpuNameFrom(cpu(0, 6, kMmx | kSse)), "Pentium III");
    EXPECT_EQ(errors::cpuNameFrom(cpu(0, 6, kMmx | kSse | kSse2)), "Pentium IV");
    EXPECT_EQ(errors::cpuNameFrom(cpu(0, 15, kMmx | kSse | kSse2)), "GetCPU() failed!");
    EXPECT_EQ(errors::cpuNameFrom(cpu(0, 3, 0)), "GetCPU() failed!");
}

TEST(CpuName, SmallCacheDescriptorsMakeACeleron) {
    // Brand index 0, family 6, MMX and SSE without SSE2, descriptor 0x41 in leaf 2.
    auto id = cpu(0, 6, kMmx | kSse);
    id.leaf2[2] = 0x00410000; // ECX, byte 2
    EXPECT_EQ(errors::cpuNameFrom(id), "(PIII core) Celeron");
    id.leaf1[1] = 2; // the same processor with brand index 2
    EXPECT_EQ(errors::cpuNameFrom(id), "Intel Pentium III");

    auto pii = cpu(0, 6, kMmx);
    pii.leaf2[3] = 0x79000000; // EDX, byte 15: the last descriptor counts
    EXPECT_EQ(errors::cpuNameFrom(pii), "(PII core) Celeron");
    pii.leaf2[3] = 0;
    pii.leaf2[1] = 0x40; // EBX, byte 4
    EXPECT_EQ(errors::cpuNameFrom(pii), "(PII core) Celeron");

    // Byte 0 is the iteration count, not a descriptor.
    auto notOne = cpu(0, 6, kMmx | kSse);
    notOne.leaf2[0] = 0x00000041;
    EXPECT_EQ(errors::cpuNameFrom(notOne), "Pentium III");
    // SSE2 parts are named without looking at the cache.
    auto p4 = cpu(0, 6, kMmx | kSse | kSse2);
    p4.leaf2[2] = 0x41;
    EXPECT_EQ(errors::cpuNameFrom(p4), "Pentium IV");
}

TEST(CpuSpeed, RoundsToTheUsualFigures) {
    EXPECT_EQ(errors::roundCpuSpeed(2394.6f), 2400);
    EXPECT_EQ(errors::roundCpuSpeed(1999.0f), 2000);
    EXPECT_EQ(errors::roundCpuSpeed(3000.4f), 3000);
    // Thirds of a hundred: x67 is sold as x66, except 667.
    EXPECT_EQ(errors::roundCpuSpeed(866.2f), 866);
    EXPECT_EQ(errors::roundCpuSpeed(1167.0f), 1166);
    EXPECT_EQ(errors::roundCpuSpeed(666.9f), 667);
    EXPECT_EQ(errors::roundCpuSpeed(466.0f), 466);
    EXPECT_EQ(errors::roundCpuSpeed(133.4f), 133);
    // Near 75 the figure snaps to 75; below 50 the raw value is rounded as it is.
    EXPECT_EQ(errors::roundCpuSpeed(80.0f), 83);
    EXPECT_EQ(errors::roundCpuSpeed(76.0f), 75);
    EXPECT_EQ(errors::roundCpuSpeed(30.0f), 30);
    EXPECT_EQ(errors::roundCpuSpeed(15.4f), 15);
    EXPECT_EQ(errors::roundCpuSpeed(0.0f), 0);
}

TEST(CpuSpeed, RawFigureFromTheCounters) {
    // 1/32 s of a 10 MHz performance counter while the time-stamp counter ran 100 million
    // ticks: 3200 MHz.
    EXPECT_FLOAT_EQ(errors::cpuMhzFromCounters(100000000, 312500, 10000000), 3200.0f);
    EXPECT_FLOAT_EQ(errors::cpuMhzFromCounters(1000, 0, 10000000), 0.0f);
}

TEST(TimeFromStart, DaysCountAsEightySixThousandThreeHundredNinetyNineSeconds) {
    const rt::Date d = rt::makeDate(2024, 3, 5);
    const rt::Date next{d.julian + 1}, later{d.julian + 2}, before{d.julian - 1};
    EXPECT_DOUBLE_EQ(errors::secondsFromStart(d, 100, d, 3700), 3600);
    EXPECT_DOUBLE_EQ(errors::secondsFromStart(d, 86000, next, 500), 899);
    EXPECT_DOUBLE_EQ(errors::secondsFromStart(d, 45000, later, 45000), 2 * 86399);
    EXPECT_DOUBLE_EQ(errors::secondsFromStart(d, 100, before, 3700), 0);

    EXPECT_EQ(errors::elapsedText(2 * 86399), "47 hours 59 mins 58 secs ");
    EXPECT_EQ(errors::elapsedText(3725.9), "1 hours 2 mins 5 secs ");
    EXPECT_EQ(errors::elapsedText(0), "0 hours 0 mins 0 secs ");
}

TEST(Tasks, ATitleIsListedUnlessAListedTitleBeginsWithIt) {
    EXPECT_EQ(
        errors::distinctTitles({"Wine desktop", "Wine", "Notepad", "Note", "Notepad - x", "Wine desktop"}),
        (std::vector<std::string>{"Wine desktop", "Notepad", "Notepad - x"}));
    // An empty title is listed only when it comes first.
    EXPECT_EQ(errors::distinctTitles({"", "A", ""}), (std::vector<std::string>{"", "A"}));
    EXPECT_EQ(errors::distinctTitles({"A", "", "B"}), (std::vector<std::string>{"A", "B"}));
    EXPECT_TRUE(errors::distinctTitles({}).empty());
    // The rule does not depend on the exact-compare setting.
    rt::SET(rt::_SET_EXACT, true);
    EXPECT_EQ(errors::distinctTitles({"Wine desktop", "Wine"}), (std::vector<std::string>{"Wine desktop"}));
    rt::resetSettings();
}

TEST(PlatformFacts, DescribeThisProcessAndMachine) {
    errors::SystemFacts& facts = errors::platformSystemFacts();
    const std::string path = facts.moduleFileName();
    ASSERT_FALSE(path.empty());
    EXPECT_LE(path.size(), 248u);
    EXPECT_NE(path.find("errors_tests"), std::string::npos);
    EXPECT_GT(facts.fileSize(path), 4096);
    EXPECT_EQ(facts.fileSize(path + ".missing"), 0);
    EXPECT_EQ(facts.processBits(), static_cast<int>(sizeof(void*) * 8));
    EXPECT_GT(facts.physicalMemory(), 16u * 1048576);
    EXPECT_EQ(facts.freeSystemResources(0), 90);
    EXPECT_FALSE(facts.cpuName().empty());
    EXPECT_GT(facts.cpuSpeed(), 0);
    const errors::OsVersion os = facts.osVersion();
    EXPECT_GT(os.major, 0);
    EXPECT_EQ(os.ntFamily, os.platformId == 2);
    // A test program has no active window.
    EXPECT_TRUE(facts.windowTitles().empty());
    EXPECT_EQ(errors::VERSION(), "instayuda runtime 1.0");
    const rt::ArrayPtr v = errors::GETVERSION();
    ASSERT_EQ(v->size(), 5u);
    EXPECT_EQ(v->at(1), rt::Value(os.major));
    EXPECT_TRUE(v->at(5).isString());
}

TEST(MemoryCounters, FollowAllocations) {
    if (errors::MEMUSED() == 0 && errors::MEMMAX() == 0) GTEST_SKIP() << "this build does not count memory";
    const std::int64_t before = errors::MEMUSED();
    auto block = std::make_unique<char[]>(1 << 20);
    block[0] = 1;
    const std::int64_t during = errors::MEMUSED();
    EXPECT_GE(during - before, 1 << 20);
    EXPECT_GE(errors::MEMMAX(), during);
    block.reset();
    EXPECT_LT(errors::MEMUSED(), during);
    EXPECT_GE(errors::MEMMAX(), during);
}
