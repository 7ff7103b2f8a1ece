// The POSIX back end of the file services: Windows-style paths over a host file system whose
// names are case-sensitive, with a drive table in place of drive letters. See os.h for the
// rules this file gives paths; hostpath.h applies them, for the table engine too.

#include "os.h"

#include "hostpath.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace files {

namespace {

using hostpath::equalsNoCase;
using hostpath::hasWildcards;
using hostpath::joinHost;
using hostpath::listsBefore;
using hostpath::lookupName;
using hostpath::parsePath;
using hostpath::resolveFile;
using hostpath::resolveFolder;
using hostpath::upperAscii;

// Wildcard match without regard to case: "*" any run of characters, "?" exactly one.
bool globMatch(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || upperAscii(pattern[p]) == upperAscii(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// A mask ending in ".*" also matches names without an extension ("abc.*" finds "abc").
bool maskMatches(std::string_view pattern, std::string_view name) {
    if (globMatch(pattern, name)) return true;
    return pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
           globMatch(pattern.substr(0, pattern.size() - 2), name);
}

os::LocalTime localTimeOf(std::time_t t) {
    os::LocalTime out;
    std::tm tm{};
    if (!::localtime_r(&t, &tm)) return out;
    out.year = tm.tm_year + 1900;
    out.month = tm.tm_mon + 1;
    out.day = tm.tm_mday;
    out.hour = tm.tm_hour;
    out.minute = tm.tm_min;
    out.second = tm.tm_sec;
    out.valid = true;
    return out;
}

bool entryOf(const std::string& host, std::string name, os::FindEntry& out) {
    struct stat st;
    if (::stat(host.c_str(), &st) != 0 && ::lstat(host.c_str(), &st) != 0) return false;
    out.name = std::move(name);
    const bool folder = S_ISDIR(st.st_mode);
    out.attributes = folder ? os::kDirectory : os::kArchive;
    if (!folder && (st.st_mode & S_IWUSR) == 0) out.attributes |= os::kReadOnly;
    if (out.name.size() > 1 && out.name[0] == '.' && out.name != "..") out.attributes |= os::kHidden;
    out.size = folder ? 0 : static_cast<std::uint64_t>(st.st_size);
    out.written = localTimeOf(st.st_mtime);
    return true;
}

// Read-only as Windows sees it: a file its owner may not write (the attribute Wine keeps that
// way). Windows refuses to delete or replace such a file.
bool readOnly(const std::string& host) {
    struct stat st;
    return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

std::string parentOf(const std::string& host, const std::string& root) {
    if (host == root) return host;
    const std::size_t slash = host.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return host.substr(0, slash);
}

// ---- the "system library": our own routines with the signatures of their Win32 namesakes ----

int CopyFileA(const char* existingName, const char* newName, int failIfExists) {
    if (!existingName || !newName) return 0;
    const auto source = resolveFile(existingName);
    const auto target = resolveFile(newName);
    if (!source || !target) return 0;
    struct stat from, to;
    if (::stat(source->c_str(), &from) != 0 || !S_ISREG(from.st_mode)) return 0;
    if (::stat(target->c_str(), &to) == 0) {
        if (failIfExists || !S_ISREG(to.st_mode)) return 0;
        if ((to.st_mode & S_IWUSR) == 0) return 0; // Windows does not overwrite a read-only file
        if (to.st_dev == from.st_dev && to.st_ino == from.st_ino) return 0; // never truncate the source
    }
    const int in = ::open(source->c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return 0;
    const int out = ::open(target->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        ::close(in);
        return 0;
    }
    bool ok = true;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                ok = false;
                break;
            }
            done += put;
        }
        if (!ok) break;
    }
    ::close(in);
    if (::close(out) != 0) ok = false;
    if (ok) {
        // A copy keeps the time of the last write and the read-only attribute, as on Windows.
        const struct timespec times[2] = {from.st_atim, from.st_mtim};
        ::utimensat(AT_FDCWD, target->c_str(), times, 0);
        if ((from.st_mode & S_IWUSR) == 0) ::chmod(target->c_str(), 0444);
    }
    return ok ? 1 : 0;
}

int GetDiskFreeSpaceExA(const char* folder, std::uint64_t* freeToCaller, std::uint64_t* total,
                        std::uint64_t* totalFree) {
    std::string host;
    if (!folder || !*folder) {
        host = ".";
    } else {
        const auto p = parsePath(folder);
        if (!p) return 0;
        const auto resolved = resolveFolder(*p, p->parts.size());
        if (!resolved) return 0;
        host = *resolved;
    }
    struct statvfs vfs;
    if (::statvfs(host.c_str(), &vfs) != 0) return 0;
    const std::uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    if (freeToCaller) *freeToCaller = static_cast<std::uint64_t>(vfs.f_bavail) * unit;
    if (total) *total = static_cast<std::uint64_t>(vfs.f_blocks) * unit;
    if (totalFree) *totalFree = static_cast<std::uint64_t>(vfs.f_bfree) * unit;
    return 1;
}

struct Routine {
    const char* name;
    std::uintptr_t address;
};

const std::array<Routine, 2>& systemLibrary() {
    static const std::array<Routine, 2> routines = {{
        {"CopyFileA", reinterpret_cast<std::uintptr_t>(&CopyFileA)},
        {"GetDiskFreeSpaceExA", reinterpret_cast<std::uintptr_t>(&GetDiskFreeSpaceExA)},
    }};
    return routines;
}

constexpr std::intptr_t kSystemLibraryHandle = 0x4B330000; // any value above 32

template <std::size_t> using Word = std::uintptr_t;

template <std::size_t... I>
std::uintptr_t callWith(std::uintptr_t address, [[maybe_unused]] std::span<const os::CallArgument> a,
                        std::index_sequence<I...>) {
    using Fn = std::uintptr_t (*)(Word<I>...);
    return reinterpret_cast<Fn>(address)(static_cast<std::uintptr_t>(a[I].bits)...);
}

using Caller = std::uintptr_t (*)(std::uintptr_t, std::span<const os::CallArgument>);

template <std::size_t... N> constexpr auto callers(std::index_sequence<N...>) {
    return std::array<Caller, sizeof...(N)>{[](std::uintptr_t address, std::span<const os::CallArgument> a) {
        return callWith(address, a, std::make_index_sequence<N>());
    }...};
}

// Writes every byte to fd (again after an interruption or a short write), then closes it.
// Allocates nothing: the last-resort path uses it too.
bool writeAllAndClose(int fd, const char* bytes, std::size_t size) noexcept {
    bool ok = true;
    for (std::size_t done = 0; done < size;) {
        const ssize_t put = ::write(fd, bytes + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(put);
    }
    if (::close(fd) != 0) ok = false;
    return ok;
}

} // namespace

bool mapDrive(char letter, std::string_view hostFolder) {
    return hostpath::mapDrive(letter, hostFolder);
}

namespace os {

void findFiles(std::string_view mask, const std::function<bool(const FindEntry&)>& visit) {
    const auto p = parsePath(mask);
    if (!p || p->endsWithSeparator) return;
    FindEntry entry;
    if (p->endsWithDots) {
        // "folder\." names the folder itself, under its own name; a drive's root has none.
        if (p->parts.empty()) return;
        const auto host = resolveFolder(*p, p->parts.size());
        if (!host) return;
        if (entryOf(*host, host->substr(host->find_last_of('/') + 1), entry)) visit(entry);
        return;
    }
    if (p->parts.empty()) return;
    const auto folder = resolveFolder(*p, p->parts.size() - 1);
    if (!folder) return;
    const std::string& pattern = p->parts.back();
    if (!hasWildcards(pattern)) {
        const auto name = lookupName(*folder, pattern);
        if (name && entryOf(joinHost(*folder, *name), *name, entry)) visit(entry);
        return;
    }
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder->c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (maskMatches(pattern, name)) names.push_back(std::move(name));
        }
        ::closedir(dir);
    } else {
        return;
    }
    std::sort(names.begin(), names.end(), listsBefore);
    if (*folder != p->root) {
        // Every folder but a drive's root lists itself as "." and its parent as "..".
        if (maskMatches(pattern, ".") && entryOf(*folder, ".", entry) && !visit(entry)) return;
        if (maskMatches(pattern, "..") && entryOf(parentOf(*folder, p->root), "..", entry) && !visit(entry))
            return;
    }
    for (const std::string& name : names)
        if (entryOf(joinHost(*folder, name), name, entry) && !visit(entry)) return;
}

std::optional<std::string> volumeLabel(std::string_view) {
    return std::nullopt;
}

bool readWholeFile(std::string_view path, std::string& contents) {
    contents.clear();
    const auto host = resolveFile(path);
    if (!host) return false;
    const int fd = ::open(host->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    try {
        contents.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < contents.size()) {
            const ssize_t got = ::read(fd, contents.data() + done, contents.size() - done);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                ok = false;
                break;
            }
            if (got == 0) break; // the file shrank meanwhile
            done += static_cast<std::size_t>(got);
        }
        contents.resize(done);
    } catch (const std::exception&) { // too big to hold
        ok = false;
    }
    ::close(fd);
    if (!ok) contents.clear();
    return ok;
}

bool createIfMissing(std::string_view path) {
    const auto host = resolveFile(path);
    if (!host) return false;
    const int fd = ::open(host->c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return ::access(host->c_str(), F_OK) == 0;
    ::close(fd);
    return true;
}

bool appendToFile(std::string_view path, std::string_view bytes) {
    const auto host = resolveFile(path);
    if (!host) return false;
    const int fd = ::open(host->c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return false;
    return writeAllAndClose(fd, bytes.data(), bytes.size());
}

bool replaceFile(std::string_view from, std::string_view to) {
    const auto source = resolveFile(from);
    const auto target = resolveFile(to);
    if (!source || !target || readOnly(*target)) return false;
    if (::rename(source->c_str(), target->c_str()) != 0) return false;
    // The rename is an entry of the folder: synchronise the folder so that it lasts.
    const std::size_t slash = target->find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target->substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;
    ::fsync(fd);
    ::close(fd);
    return true;
}

bool removeFile(std::string_view path) {
    const auto host = resolveFile(path);
    return host && !readOnly(*host) && ::unlink(host->c_str()) == 0;
}

bool clearReadOnly(std::string_view path) {
    const auto host = resolveFile(path);
    struct stat st;
    if (!host || ::stat(host->c_str(), &st) != 0) return false;
    if (st.st_mode & S_IWUSR) return true;
    return ::chmod(host->c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool flushFile(std::string_view path) {
    const auto host = resolveFile(path);
    if (!host) return false;
    const int fd = ::open(host->c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool flushed = ::fsync(fd) == 0;
    return ::close(fd) == 0 && flushed;
}

bool tempFolder(char* buffer, std::size_t size) noexcept {
    const char* folder = std::getenv("TMPDIR");
    if (!folder || !*folder) folder = "/tmp";
    const std::size_t n = std::strlen(folder);
    const bool slash = folder[n - 1] == '/';
    if (n + (slash ? 1 : 2) > size) return false;
    std::memcpy(buffer, folder, n);
    if (!slash) buffer[n] = '/';
    buffer[n + (slash ? 0 : 1)] = '\0';
    return true;
}

bool appendRaw(const char* name, const char* bytes, std::size_t size) noexcept {
    const int fd = ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    return writeAllAndClose(fd, bytes, size);
}

void quietSystemNotices() {}

std::string currentFolder() {
    std::string cwd(4096, '\0');
    if (!::getcwd(cwd.data(), cwd.size())) return {};
    cwd.resize(std::strlen(cwd.c_str()));
    return cwd;
}

bool setCurrentFolder(std::string_view path) {
    const auto p = parsePath(path);
    if (!p) return false;
    const auto host = resolveFolder(*p, p->parts.size());
    return host && ::chdir(host->c_str()) == 0;
}

std::intptr_t loadLibrary(std::string_view name) {
    return equalsNoCase(name, "kernel32.dll") || equalsNoCase(name, "kernel32") ? kSystemLibraryHandle : 0;
}

std::uintptr_t findRoutine(std::intptr_t library, std::string_view name) {
    if (library != kSystemLibraryHandle) return 0;
    for (const Routine& r : systemLibrary())
        if (name == r.name) return r.address;
    return 0;
}

bool callRoutine(std::uintptr_t address, bool, std::span<const CallArgument> a, bool floatingResult,
                 CallResult& result) {
    // The routines of the table above have fixed C signatures whose integer and pointer
    // arguments each travel in one machine word, so a call through a word-typed pointer of
    // the same arity reaches them as their own signature would. None takes or answers a
    // floating-point number.
    static constexpr auto byArity = callers(std::make_index_sequence<kMaxCallArguments + 1>());
    if (a.size() > kMaxCallArguments || floatingResult) return false;
    for (const CallArgument& argument : a)
        if (argument.floating) return false;
    result.integer = byArity[a.size()](address, a);
    return true;
}

} // namespace os
} // namespace files
