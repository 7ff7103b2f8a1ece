// Facts about the machine and the process that the error report prints: the program's path
// and size, the time since start, the processor, memory, the Windows version, the running
// applications and the memory manager's counters.
//
// The report asks for them through SystemFacts, so the report builder stays portable and the
// tests can feed it fixed values. Each platform provides one implementation
// (facts_win32.cpp, facts_posix.cpp); the rules that turn raw readings into report values are
// the pure functions below, shared by both.
#pragma once

#include "runtime/value.h"

#include <cstdint>
#include <string>
#include <vector>

namespace errors {

// The operating-system version record (GETVERSION) and the NT-family flag.
struct OsVersion {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    std::int64_t build = 0;
    std::int64_t platformId = 0; // 2 for the NT family
    std::string servicePack;
    bool ntFamily = false;
};

// What the processor identification instruction told us (GETCPU's input).
struct CpuIdentification {
    bool hasCpuid = true;     // bit 21 (ID) of the flags register could be toggled
    bool canToggleAc = true;  // bit 18 (AC) could be toggled (checked only without CPUID)
    std::uint32_t leaf0[4]{}; // EAX, EBX, ECX, EDX of leaf 0
    std::uint32_t leaf1[4]{};
    std::uint32_t leaf2[4]{};
};

class SystemFacts {
  public:
    virtual ~SystemFacts() = default;

    // GETMODULEFILENAME(GETINSTANCE()): the running executable, at most 248 characters.
    virtual std::string moduleFileName() = 0;
    // FSIZE: bytes in the file, 0 when it cannot be found.
    virtual std::int64_t fileSize(const std::string& path) = 0;
    // Width of the program's addresses, 32 or 64 (the report's "(32 bits)").
    virtual int processBits() { return static_cast<int>(sizeof(void*) * 8); }

    // The clock: today, seconds since midnight, and the start recorded by INITTIME.
    virtual rt::Date today();
    virtual double secondsNow();
    virtual rt::Date startDate();
    virtual double startSeconds();

    virtual std::string cpuName() = 0;          // GETCPU
    virtual std::int64_t cpuSpeed() = 0;        // GETCPUSPEED, MHz
    virtual std::uint64_t physicalMemory() = 0; // NEXTMEM, bytes
    // GETFREESYSTEMRESOURCES(kind): kind 0 system, 1 GDI, 2 USER, in percent.
    virtual std::int64_t freeSystemResources(int kind) = 0;
    virtual std::string runtimeVersion(); // VERSION
    virtual OsVersion osVersion() = 0;    // GETVERSION and the NT-family flag
    // The titles of the top-level windows, in window order, starting at the first window at
    // the level of the active one; empty when there is no active window. GETTASKS filters them.
    virtual std::vector<std::string> windowTitles() = 0;
    virtual std::int64_t memUsed(); // MEMUSED
    virtual std::int64_t memMax();  // MEMMAX
};

// The facts in force: the platform's, unless a test has installed others.
SystemFacts& systemFacts();
// Installs other facts (nullptr goes back to the platform's). The caller keeps ownership.
void setSystemFacts(SystemFacts* facts);
// The platform's own facts object.
SystemFacts& platformSystemFacts();

// ---- the routines, over the facts in force --------------------------------------------------

std::string GETMODULEFILENAME();
std::int64_t FSIZE(const std::string& path);
double SECSFROMSTART(rt::Date startDate, double startSeconds);
std::string TIMEFROMSTART();
std::string GETCPU();
std::int64_t GETCPUSPEED();
std::uint64_t NEXTMEM();
std::int64_t GETFREESYSTEMRESOURCES(int kind);
std::string VERSION();
rt::ArrayPtr GETVERSION(); // { major, minor, build, platform id, service-pack text }
rt::ArrayPtr GETTASKS();
std::int64_t MEMUSED();
std::int64_t MEMMAX();

// ---- the rules, as pure functions ------------------------------------------------------------

// Seconds between the start and now. A later day counts 86399 seconds; a clock that went back
// a day or more gives 0.
double secondsFromStart(rt::Date startDate, double startSeconds, rt::Date today, double nowSeconds);
// "<h> hours <m> mins <s> secs " for a number of seconds.
std::string elapsedText(double seconds);
// The processor's name from its identification.
std::string cpuNameFrom(const CpuIdentification& id);
// The clock in MHz from the raw measurement, rounded to the usual marketing figures.
std::int64_t roundCpuSpeed(float rawMhz);
// The raw measurement: time-stamp ticks over performance-counter ticks, scaled to MHz.
float cpuMhzFromCounters(std::uint64_t tscDelta, std::uint64_t counterDelta, std::uint64_t counterFrequency);
// GETTASKS' rule: a title is added unless a title already listed begins with it.
std::vector<std::string> distinctTitles(const std::vector<std::string>& titles);

// ---- the memory manager's counters (memory_count.cpp) ------------------------------------

// Bytes allocated through the program's operator new and not yet released, and the most
// there ever were. Both stay 0 in builds that do not count (the sanitizer builds).
std::int64_t dynamicMemoryInUse();
std::int64_t dynamicMemoryPeak();

} // namespace errors
