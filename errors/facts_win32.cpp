// System facts on Windows.
#include "errors/cpu_x86.h"
#include "errors/system_facts.h"

#include <windows.h>

namespace errors {

namespace {

constexpr DWORD kMaxPath = 248;

std::uint64_t performanceCounter() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<std::uint64_t>(c.QuadPart);
}

class Win32Facts : public SystemFacts {
  public:
    std::string moduleFileName() override {
        char buf[kMaxPath + 1];
        DWORD n = GetModuleFileNameA(nullptr, buf, kMaxPath + 1);
        if (n > kMaxPath) n = kMaxPath; // cut, as the report has always shown it
        return std::string(buf, n);
    }

    std::int64_t fileSize(const std::string& path) override {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                         data.nFileSizeLow);
    }

    std::string cpuName() override { return cpuNameFrom(readCpuIdentification()); }

    std::int64_t cpuSpeed() override {
        LARGE_INTEGER f;
        if (!QueryPerformanceFrequency(&f) || f.QuadPart <= 0) return roundCpuSpeed(0.0f);
        return roundCpuSpeed(measureCpuMhz(static_cast<std::uint64_t>(f.QuadPart), performanceCounter));
    }

    std::uint64_t physicalMemory() override {
        MEMORYSTATUSEX m;
        m.dwLength = sizeof m;
        return GlobalMemoryStatusEx(&m) ? m.ullTotalPhys : 0;
    }

    // The free-resource figure came from the 16-bit windowing layer, which the NT family does
    // not have: the remembered default.
    std::int64_t freeSystemResources(int) override { return 90; }

    OsVersion osVersion() override {
        OsVersion v;
        OSVERSIONINFOA info;
        ZeroMemory(&info, sizeof info);
        info.dwOSVersionInfoSize = sizeof info;
        if (GetVersionExA(&info)) {
            v.major = info.dwMajorVersion;
            v.minor = info.dwMinorVersion;
            v.build = info.dwBuildNumber & 0xFFFF;
            v.platformId = info.dwPlatformId;
            v.servicePack = info.szCSDVersion;
        }
        // GetVersionEx answers 6.2 to programs without a compatibility manifest; the loader's
        // own query tells the truth.
        using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
        if (HMODULE ntdll = GetModuleHandleA("ntdll.dll")) {
            auto fn = reinterpret_cast<RtlGetVersionFn>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
            OSVERSIONINFOW w;
            ZeroMemory(&w, sizeof w);
            w.dwOSVersionInfoSize = sizeof w;
            if (fn && fn(&w) == 0) {
                v.major = w.dwMajorVersion;
                v.minor = w.dwMinorVersion;
                v.build = w.dwBuildNumber & 0xFFFF;
                v.platformId = w.dwPlatformId;
            }
        }
        v.ntFamily = v.platformId == VER_PLATFORM_WIN32_NT;
        return v;
    }

    std::vector<std::string> windowTitles() override {
        std::vector<std::string> titles;
        HWND active = GetActiveWindow();
        if (!active) return titles;
        for (HWND h = GetWindow(active, GW_HWNDFIRST); h; h = GetWindow(h, GW_HWNDNEXT)) {
            const int length = GetWindowTextLengthA(h);
            std::string title(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
            const int n = GetWindowTextA(h, title.data(), static_cast<int>(title.size()));
            title.resize(static_cast<std::size_t>(n > 0 ? n : 0));
            titles.push_back(std::move(title));
        }
        return titles;
    }
};

} // namespace

SystemFacts& platformSystemFacts() {
    static Win32Facts facts;
    return facts;
}

} // namespace errors
