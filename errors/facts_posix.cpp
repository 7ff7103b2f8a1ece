// System facts on POSIX systems (the native build): the program from /proc, memory from
// sysconf, the version from uname. There is no window system, so no tasks are listed.
#include "errors/cpu_x86.h"
#include "errors/system_facts.h"

#include <sys/stat.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace errors {

namespace {

constexpr std::size_t kMaxPath = 248;

std::uint64_t monotonicNanoseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

// Reads the leading number of text at pos and moves pos past it and one following dot.
std::int64_t leadingNumber(const std::string& text, std::size_t& pos) {
    std::int64_t n = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') n = n * 10 + (text[pos++] - '0');
    if (pos < text.size() && text[pos] == '.') ++pos;
    return n;
}

class PosixFacts : public SystemFacts {
  public:
    std::string moduleFileName() override {
        char buf[4096];
        const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
        if (n <= 0) return "";
        return std::string(buf, std::min(static_cast<std::size_t>(n), kMaxPath));
    }

    std::int64_t fileSize(const std::string& path) override {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
        return static_cast<std::int64_t>(st.st_size);
    }

    std::string cpuName() override { return cpuNameFrom(readCpuIdentification()); }

    std::int64_t cpuSpeed() override {
        return roundCpuSpeed(measureCpuMhz(1000000000u, monotonicNanoseconds));
    }

    std::uint64_t physicalMemory() override {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long size = sysconf(_SC_PAGESIZE);
        return pages > 0 && size > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size)
                                     : 0;
    }

    // There is no legacy resource figure here: the remembered default.
    std::int64_t freeSystemResources(int) override { return 90; }

    OsVersion osVersion() override {
        OsVersion v;
        utsname u{};
        if (uname(&u) == 0) {
            const std::string release = u.release;
            std::size_t pos = 0;
            v.major = leadingNumber(release, pos);
            v.minor = leadingNumber(release, pos);
            v.build = leadingNumber(release, pos);
            v.servicePack = u.sysname;
        }
        return v;
    }

    std::vector<std::string> windowTitles() override { return {}; }
};

} // namespace

SystemFacts& platformSystemFacts() {
    static PosixFacts facts;
    return facts;
}

} // namespace errors
