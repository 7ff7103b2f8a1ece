// The Win32 back end of the file services: paths go to the platform's ANSI routines as they
// are.

#include "os.h"

#include <utility>

#include <windows.h>

namespace files {

namespace {

os::LocalTime localTimeOf(const FILETIME& utc) {
    os::LocalTime out;
    SYSTEMTIME universal, local;
    if (!FileTimeToSystemTime(&utc, &universal)) return out;
    // The offset in force on that date (daylight saving included), not today's.
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) return out;
    out.year = local.wYear;
    out.month = local.wMonth;
    out.day = local.wDay;
    out.hour = local.wHour;
    out.minute = local.wMinute;
    out.second = local.wSecond;
    out.valid = true;
    return out;
}

// The platform's routines take NUL-terminated names: a name with a NUL inside names nothing.
bool usable(std::string_view path) {
    return !path.empty() && path.find('\0') == std::string_view::npos;
}

template <std::size_t> using Word = std::uintptr_t;

template <std::size_t... I>
std::uintptr_t callCalleeCleans(std::uintptr_t address, [[maybe_unused]] std::span<const std::uintptr_t> a,
                                std::index_sequence<I...>) {
    using Fn = std::uintptr_t(WINAPI*)(Word<I>...);
    return reinterpret_cast<Fn>(address)(a[I]...);
}

template <std::size_t... I>
std::uintptr_t callCallerCleans(std::uintptr_t address, [[maybe_unused]] std::span<const std::uintptr_t> a,
                                std::index_sequence<I...>) {
    using Fn = std::uintptr_t(__cdecl*)(Word<I>...);
    return reinterpret_cast<Fn>(address)(a[I]...);
}

template <std::size_t N>
std::uintptr_t callArity(std::uintptr_t address, bool calleeCleans, std::span<const std::uintptr_t> a) {
    return calleeCleans ? callCalleeCleans(address, a, std::make_index_sequence<N>())
                        : callCallerCleans(address, a, std::make_index_sequence<N>());
}

} // namespace

bool mapDrive(char, std::string_view) {
    return false;
}

namespace os {

void findFiles(std::string_view mask, const std::function<bool(const FindEntry&)>& visit) {
    if (!usable(mask)) return;
    const std::string name(mask);
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA(name.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return;
    FindEntry entry;
    do {
        entry.name = data.cFileName;
        entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        entry.written = localTimeOf(data.ftLastWriteTime);
        entry.attributes = data.dwFileAttributes;
        if (!visit(entry)) break;
    } while (FindNextFileA(search, &data));
    FindClose(search);
}

std::optional<std::string> volumeLabel(std::string_view mask) {
    std::string root;
    if (mask.size() >= 2 && mask[1] == ':') root = std::string(mask.substr(0, 2)) + "\\";
    char label[MAX_PATH + 1] = {};
    if (!GetVolumeInformationA(root.empty() ? nullptr : root.c_str(), label, sizeof label, nullptr, nullptr,
                               nullptr, nullptr, 0))
        return std::nullopt;
    if (!label[0]) return std::nullopt;
    return std::string(label);
}

bool readWholeFile(std::string_view path, std::string& contents) {
    contents.clear();
    if (!usable(path)) return false;
    const std::string name(path);
    const HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > contents.max_size()) {
        ok = false;
    } else {
        try {
            contents.resize(static_cast<std::size_t>(size.QuadPart));
            std::size_t done = 0;
            while (done < contents.size()) {
                const std::size_t left = contents.size() - done;
                const DWORD ask = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
                DWORD got = 0;
                if (!ReadFile(file, contents.data() + done, ask, &got, nullptr)) {
                    ok = false;
                    break;
                }
                if (got == 0) break; // the file shrank meanwhile
                done += got;
            }
            contents.resize(done);
        } catch (const std::exception&) { // too big to hold
            ok = false;
        }
    }
    CloseHandle(file);
    if (!ok) contents.clear();
    return ok;
}

bool createIfMissing(std::string_view path) {
    if (!usable(path)) return false;
    const std::string name(path);
    if (GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
    CloseHandle(file);
    return true;
}

bool appendToFile(std::string_view path, std::string_view bytes) {
    if (!usable(path)) return false;
    const std::string name(path);
    // Append access: each write lands at the end of the file even when other programs append
    // to it at the same time.
    const HANDLE file = CreateFileA(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t left = bytes.size() - done;
        const DWORD ask = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD put = 0;
        if (!WriteFile(file, bytes.data() + done, ask, &put, nullptr) || put == 0) {
            ok = false;
            break;
        }
        done += put;
    }
    if (!CloseHandle(file)) ok = false;
    return ok;
}

bool replaceFile(std::string_view from, std::string_view to) {
    if (!usable(from) || !usable(to)) return false;
    return MoveFileExA(std::string(from).c_str(), std::string(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool removeFile(std::string_view path) {
    return usable(path) && DeleteFileA(std::string(path).c_str()) != 0;
}

std::string currentFolder() {
    const DWORD need = GetCurrentDirectoryA(0, nullptr);
    if (need == 0) return {};
    std::string folder(need, '\0');
    const DWORD got = GetCurrentDirectoryA(need, folder.data());
    if (got == 0 || got >= need) return {};
    folder.resize(got);
    return folder;
}

bool setCurrentFolder(std::string_view path) {
    if (!usable(path)) return false;
    const std::string name(path);
    return SetCurrentDirectoryA(name.c_str()) != 0;
}

std::intptr_t loadLibrary(std::string_view name) {
    if (!usable(name)) return 0;
    const std::string library(name);
    return reinterpret_cast<std::intptr_t>(LoadLibraryA(library.c_str()));
}

std::uintptr_t findRoutine(std::intptr_t library, std::string_view name) {
    if (library == 0 || !usable(name)) return 0;
    const std::string routine(name);
    return reinterpret_cast<std::uintptr_t>(
        GetProcAddress(reinterpret_cast<HMODULE>(library), routine.c_str()));
}

bool callRoutine(std::uintptr_t address, bool calleeCleans, std::span<const std::uintptr_t> a,
                 std::uintptr_t& result) {
    // Every argument travels as one machine word. On 32-bit Windows the convention decides who
    // removes the arguments from the stack; on 64-bit Windows there is only one convention.
    switch (a.size()) {
    case 0:
        result = callArity<0>(address, calleeCleans, a);
        return true;
    case 1:
        result = callArity<1>(address, calleeCleans, a);
        return true;
    case 2:
        result = callArity<2>(address, calleeCleans, a);
        return true;
    case 3:
        result = callArity<3>(address, calleeCleans, a);
        return true;
    case 4:
        result = callArity<4>(address, calleeCleans, a);
        return true;
    case 5:
        result = callArity<5>(address, calleeCleans, a);
        return true;
    case 6:
        result = callArity<6>(address, calleeCleans, a);
        return true;
    case 7:
        result = callArity<7>(address, calleeCleans, a);
        return true;
    case 8:
        result = callArity<8>(address, calleeCleans, a);
        return true;
    default:
        return false;
    }
}

} // namespace os
} // namespace files
