// The processor back end for x86 processors (32 and 64 bits); other processors report no
// identification and no clock.
#include "errors/cpu_x86.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#define ERRORS_X86 1
#endif

namespace errors {

namespace {

#if defined(__i386__)
// Whether a bit of the flags register can be changed; the flags are restored afterwards.
bool flagToggles(std::uint32_t mask) {
    std::uint32_t before, after;
    __asm__ volatile("pushfl\n\t"
                     "pushfl\n\t"
                     "popl %0\n\t"
                     "movl %0, %1\n\t"
                     "xorl %2, %1\n\t"
                     "pushl %1\n\t"
                     "popfl\n\t"
                     "pushfl\n\t"
                     "popl %1\n\t"
                     "popfl\n\t"
                     : "=&r"(before), "=&r"(after)
                     : "ir"(mask)
                     : "cc");
    return ((before ^ after) & mask) != 0;
}
#elif defined(__x86_64__)
// Every 64-bit processor has the identification instruction.
bool flagToggles(std::uint32_t) {
    return true;
}
#endif

constexpr std::uint32_t kIdFlag = 1u << 21;
constexpr std::uint32_t kAcFlag = 1u << 18;
constexpr std::uint32_t kSerialNumber = 1u << 18; // leaf 1, EDX

} // namespace

CpuIdentification readCpuIdentification() {
    CpuIdentification id;
#ifdef ERRORS_X86
    if (!flagToggles(kIdFlag)) {
        id.hasCpuid = false;
        id.canToggleAc = flagToggles(kAcFlag);
        return id;
    }
    auto leaf = [](unsigned n, std::uint32_t(&r)[4]) {
        unsigned a, b, c, d;
        __cpuid(n, a, b, c, d);
        r[0] = a;
        r[1] = b;
        r[2] = c;
        r[3] = d;
    };
    leaf(0, id.leaf0);
    leaf(1, id.leaf1);
    leaf(2, id.leaf2);
    if (id.leaf1[3] & kSerialNumber) {
        std::uint32_t serial[4];
        leaf(3, serial); // read as the routine always has; the name does not use it
    }
#else
    id.hasCpuid = false;
    id.canToggleAc = false;
#endif
    return id;
}

float measureCpuMhz(std::uint64_t frequency, std::uint64_t (*readCounter)()) {
#ifdef ERRORS_X86
    if (frequency == 0 || !readCounter) return 0.0f;
    const std::uint64_t c0 = readCounter();
    const std::uint64_t t0 = __rdtsc();
    const std::uint64_t wait = frequency >> 5;
    while (readCounter() - c0 < wait) {
    }
    const std::uint64_t c1 = readCounter();
    const std::uint64_t t1 = __rdtsc();
    return cpuMhzFromCounters(t1 - t0, c1 - c0, frequency);
#else
    (void)frequency;
    (void)readCounter;
    return 0.0f;
#endif
}

} // namespace errors
