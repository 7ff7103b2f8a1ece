#include "errors/system_facts.h"

#include "runtime/dates.h"
#include "runtime/process.h"
#include "runtime/strings.h"

#include <cmath>

#ifndef INSTAYUDA_VERSION
#define INSTAYUDA_VERSION "1.0"
#endif

namespace errors {

namespace {
SystemFacts* g_facts = nullptr;
} // namespace

// ---- default facts: the runtime's clock and counters -------------------------------------

rt::Date SystemFacts::today() {
    return rt::DATE();
}
double SystemFacts::secondsNow() {
    return rt::SECONDS();
}
rt::Date SystemFacts::startDate() {
    return rt::startDate();
}
double SystemFacts::startSeconds() {
    return rt::startSeconds();
}
std::string SystemFacts::runtimeVersion() {
    return "instayuda runtime " INSTAYUDA_VERSION;
}
std::int64_t SystemFacts::memUsed() {
    return dynamicMemoryInUse();
}
std::int64_t SystemFacts::memMax() {
    return dynamicMemoryPeak();
}

SystemFacts& systemFacts() {
    return g_facts ? *g_facts : platformSystemFacts();
}
void setSystemFacts(SystemFacts* facts) {
    g_facts = facts;
}

// ---- the routines ----------------------------------------------------------------------------

std::string GETMODULEFILENAME() {
    return systemFacts().moduleFileName();
}
std::int64_t FSIZE(const std::string& path) {
    return systemFacts().fileSize(path);
}

double SECSFROMSTART(rt::Date startDate, double startSeconds) {
    SystemFacts& f = systemFacts();
    return secondsFromStart(startDate, startSeconds, f.today(), f.secondsNow());
}

std::string TIMEFROMSTART() {
    SystemFacts& f = systemFacts();
    return elapsedText(SECSFROMSTART(f.startDate(), f.startSeconds()));
}

std::string GETCPU() {
    return systemFacts().cpuName();
}
std::int64_t GETCPUSPEED() {
    return systemFacts().cpuSpeed();
}
std::uint64_t NEXTMEM() {
    return systemFacts().physicalMemory();
}
std::int64_t GETFREESYSTEMRESOURCES(int kind) {
    return systemFacts().freeSystemResources(kind);
}
std::string VERSION() {
    return systemFacts().runtimeVersion();
}

rt::ArrayPtr GETVERSION() {
    const OsVersion v = systemFacts().osVersion();
    return rt::makeArray({v.major, v.minor, v.build, v.platformId, v.servicePack});
}

rt::ArrayPtr GETTASKS() {
    std::vector<rt::Value> items;
    for (std::string& title : distinctTitles(systemFacts().windowTitles()))
        items.emplace_back(std::move(title));
    return rt::makeArray(std::move(items));
}

std::int64_t MEMUSED() {
    return systemFacts().memUsed();
}
std::int64_t MEMMAX() {
    return systemFacts().memMax();
}

// ---- the rules ---------------------------------------------------------------------------------

double secondsFromStart(rt::Date startDate, double startSeconds, rt::Date today, double nowSeconds) {
    // A day is counted as 86399 seconds, as the report has always done.
    std::int64_t days = std::int64_t{today.julian} - startDate.julian;
    if (days < 0) return 0;
    if (days > 0) {
        --days;
        return (86399 - startSeconds) + static_cast<double>(days) * 86399 + nowSeconds;
    }
    return nowSeconds - startSeconds;
}

std::string elapsedText(double seconds) {
    const auto hours = static_cast<std::int64_t>(seconds / 3600);
    const auto minutes = static_cast<std::int64_t>((seconds - static_cast<double>(hours) * 3600) / 60);
    const auto secs = static_cast<std::int64_t>(seconds - static_cast<double>(hours) * 3600 -
                                                static_cast<double>(minutes) * 60);
    return std::to_string(hours) + " hours " + std::to_string(minutes) + " mins " + std::to_string(secs) +
           " secs ";
}

std::string cpuNameFrom(const CpuIdentification& id) {
    if (!id.hasCpuid) return id.canToggleAc ? "486" : "386";
    if (id.leaf0[0] == 0) return "GetCPU() failed!";

    switch (id.leaf1[1] & 0xFF) { // brand index
    case 1:
        return "Intel Celeron";
    case 2:
        return "Intel Pentium III";
    case 3:
        return "Intel Pentium III Xeon";
    case 8:
        return "Intel Pentium IV";
    default:
        break;
    }

    const std::uint32_t family = (id.leaf1[0] >> 8) & 0xF;
    const std::uint32_t edx = id.leaf1[3];
    const bool mmx = edx & (1u << 23);
    const bool sse = edx & (1u << 25);
    const bool sse2 = edx & (1u << 26);

    // Descriptor bytes 1 to 15 of leaf 2 (byte 0 is the iteration count): 0x40 (no second-level
    // cache), 0x41 and 0x79 (128 KB) mark the small-cache parts.
    bool smallCache = false;
    for (int i = 1; i < 16; ++i) {
        const auto b = static_cast<std::uint8_t>(id.leaf2[i / 4] >> (8 * (i % 4)));
        if (b == 0x40 || b == 0x41 || b == 0x79) smallCache = true;
    }

    switch (family) {
    case 4:
        return "486";
    case 5:
        return mmx ? "Pentium MMX" : "Pentium classic";
    case 6:
        if (!mmx) return "Pentium Pro";
        if (!sse) return smallCache ? "(PII core) Celeron" : "Pentium II";
        if (!sse2) return smallCache ? "(PIII core) Celeron" : "Pentium III";
        return "Pentium IV";
    default:
        return "GetCPU() failed!";
    }
}

std::int64_t roundCpuSpeed(float rawMhz) {
    const double raw = rawMhz;
    // The nearest multiple of 50/3 MHz; x67 figures are sold as x66, except 667.
    auto n = static_cast<std::int64_t>((raw + 8.333333333333334) / 16.666666666666668);
    n = static_cast<std::int64_t>(static_cast<double>(n) * 16.666666666666668 + 0.5);
    if (n % 100 == 67 && n != 667) --n;
    if (raw < 200) {
        auto m = static_cast<std::int64_t>((raw + 15) / 30);
        m = static_cast<std::int64_t>(static_cast<double>(m) * 15 + 0.5);
        if (std::fabs(raw - static_cast<double>(m)) < std::fabs(raw - static_cast<double>(n))) n = m;
    }
    if (std::fabs(raw - static_cast<double>(n)) > std::fabs(raw - 75)) n = 75;
    if (n < 50) n = static_cast<std::int64_t>(raw + 0.5);
    return n;
}

float cpuMhzFromCounters(std::uint64_t tscDelta, std::uint64_t counterDelta, std::uint64_t counterFrequency) {
    if (counterDelta == 0) return 0.0f;
    return static_cast<float>(static_cast<double>(tscDelta) / static_cast<double>(counterDelta) *
                              static_cast<double>(counterFrequency) * 0.000001);
}

std::vector<std::string> distinctTitles(const std::vector<std::string>& titles) {
    std::vector<std::string> out;
    for (const std::string& title : titles) {
        bool listed = false;
        for (const std::string& seen : out) {
            if (rt::stringEquals(seen, title, false)) {
                listed = true;
                break;
            }
        }
        if (!listed) out.push_back(title);
    }
    return out;
}

} // namespace errors
