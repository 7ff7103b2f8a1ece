// Test drives under Wine: a folder under the Unix /tmp (reached as Z:\tmp\...) that the
// prefix's dosdevices entry for the letter points at. A Windows program cannot make that Unix
// symbolic link itself, but Wine starts Unix programs too, so the link is made with /bin/ln.

#include "testdrive.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>

namespace testsupport {

namespace {

std::wstring widen(std::string_view s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

// Long-path form, so that test trees may hold names the ANSI routines cannot reach.
std::wstring longPath(const std::string& windowsPath) {
    return L"\\\\?\\" + widen(windowsPath);
}

std::string quote(const std::string& s) {
    return "\"" + s + "\"";
}

// Starts a Unix program through Wine. Wine cannot wait for Unix processes, so callers poll for
// the effect they expect.
void runUnix(const std::string& program, const std::string& arguments) {
    std::string commandLine = program + " " + arguments;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const std::string application = "Z:" + program;
    if (!CreateProcessA(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
        ADD_FAILURE() << "cannot start " << program << " (error " << GetLastError() << ")";
        return;
    }
    // For a Unix program Wine fills in no process: the fields stay zero under 64-bit Wine and
    // hold stale bytes under 32-bit Wine. Closing them could close some other handle of ours
    // (standard output, say), so they are left alone.
}

template <class F> bool pollFor(F done) {
    for (int i = 0; i < 1000; ++i) {
        if (done()) return true;
        Sleep(10);
    }
    return false;
}

std::string prefixFolder() {
    char buffer[2048];
    const DWORD n = GetEnvironmentVariableA("WINEPREFIX", buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer) return std::string(buffer, n);
    const DWORD h = GetEnvironmentVariableA("HOME", buffer, sizeof buffer);
    return (h > 0 && h < sizeof buffer ? std::string(buffer, h) : std::string("/root")) + "/.wine";
}

std::string linkOf(char letter) {
    const char lower = static_cast<char>(letter >= 'A' && letter <= 'Z' ? letter - 'A' + 'a' : letter);
    return prefixFolder() + "/dosdevices/" + lower + ":";
}

bool makeFolders(const std::string& windowsPath) {
    // Every folder from the drive's root down.
    for (std::size_t i = 3; i <= windowsPath.size(); ++i) {
        if (i != windowsPath.size() && windowsPath[i] != '\\') continue;
        const std::wstring p = longPath(windowsPath.substr(0, i));
        if (!CreateDirectoryW(p.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return true;
}

std::string parentOf(const std::string& windowsPath) {
    return windowsPath.substr(0, windowsPath.find_last_of('\\'));
}

std::atomic<int> g_counter{0};

} // namespace

bool onWindows() {
    return true;
}

TestDrive::TestDrive(char letter) : letter_(letter) {
    const std::string name = "instayuda-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount64()) + "-" + std::to_string(++g_counter);
    unixRoot_ = "/tmp/" + name;
    hostRoot_ = "Z:\\tmp\\" + name;
    if (!CreateDirectoryW(longPath(hostRoot_).c_str(), nullptr)) {
        ADD_FAILURE() << "cannot make " << hostRoot_;
        return;
    }
    // Point the letter at the folder and wait until a probe file shows through it.
    const std::string probe = "probe-" + name;
    file(probe, "");
    runUnix("/bin/ln", "-sfn " + quote(unixRoot_) + " " + quote(linkOf(letter)));
    const std::string through = path(probe);
    if (!pollFor([&] { return GetFileAttributesA(through.c_str()) != INVALID_FILE_ATTRIBUTES; }))
        ADD_FAILURE() << "drive " << letter << ": did not come up";
    DeleteFileW(longPath(hostPath(probe)).c_str());
}

TestDrive::~TestDrive() {
    const std::string root = path();
    runUnix("/bin/rm", "-f " + quote(linkOf(letter_)));
    pollFor([&] { return GetFileAttributesA(root.c_str()) == INVALID_FILE_ATTRIBUTES; });
    if (unixRoot_.empty()) return;
    runUnix("/bin/rm", "-rf " + quote(unixRoot_));
    const std::wstring host = longPath(hostRoot_);
    pollFor([&] { return GetFileAttributesW(host.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

std::string TestDrive::hostPath(std::string_view relative) const {
    std::string out = hostRoot_;
    if (!relative.empty()) out += '\\';
    for (char c : relative) out += c == '/' ? '\\' : c;
    return out;
}

bool TestDrive::folder(std::string_view relative) {
    const bool ok = makeFolders(hostPath(relative));
    EXPECT_TRUE(ok) << "mkdir " << hostPath(relative) << " (error " << GetLastError() << ")";
    return ok;
}

bool TestDrive::file(std::string_view relative, std::string_view bytes) {
    const std::string p = hostPath(relative);
    makeFolders(parentOf(p));
    const HANDLE h = CreateFileW(longPath(p).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = h != INVALID_HANDLE_VALUE;
    if (ok) {
        DWORD put = 0;
        ok = bytes.empty() || (WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
                               put == bytes.size());
        CloseHandle(h);
    }
    EXPECT_TRUE(ok) << "write " << p << " (error " << GetLastError() << ")";
    return ok;
}

bool TestDrive::sparseFile(std::string_view relative, std::uint64_t size, std::string_view tail) {
    const std::string p = hostPath(relative);
    makeFolders(parentOf(p));
    const HANDLE h = CreateFileW(longPath(p).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = h != INVALID_HANDLE_VALUE;
    if (ok) {
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        ok = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
        if (ok && !tail.empty() && tail.size() <= size) {
            end.QuadPart = static_cast<LONGLONG>(size - tail.size());
            DWORD put = 0;
            ok = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) &&
                 WriteFile(h, tail.data(), static_cast<DWORD>(tail.size()), &put, nullptr) &&
                 put == tail.size();
        }
        CloseHandle(h);
    }
    EXPECT_TRUE(ok) << "sparse " << p;
    return ok;
}

bool TestDrive::manyFiles(std::string_view folder, std::string_view prefix, int first, int count) {
    // Wine looks through a folder for every name it creates there, so thousands of files are
    // made on the Unix side; a last marker file says when they are all there.
    if (!this->folder(folder)) return false;
    const std::string unixFolder = unixRoot_ + "/" + std::string(folder);
    const std::string marker = "~done-" + std::to_string(GetTickCount64());
    const std::string script = "cd '" + unixFolder + "' && seq -f '" + std::string(prefix) + "%.0f' " +
                               std::to_string(first) + " " + std::to_string(first + count - 1) +
                               " | xargs touch && touch " + marker;
    runUnix("/bin/sh", "-c " + quote(script));
    const std::wstring done = longPath(hostPath(std::string(folder) + "/" + marker));
    const bool ok = pollFor([&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; });
    DeleteFileW(done.c_str());
    EXPECT_TRUE(ok) << "files in " << folder;
    return ok;
}

bool TestDrive::exists(std::string_view relative) const {
    return GetFileAttributesW(longPath(hostPath(relative)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string TestDrive::read(std::string_view relative) const {
    const HANDLE h = CreateFileW(longPath(hostPath(relative)).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string out;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
    CloseHandle(h);
    return out;
}

bool TestDrive::setWriteTime(std::string_view relative, int year, int month, int day, int hour, int minute,
                             int second) {
    SYSTEMTIME local{}, utc{};
    local.wYear = static_cast<WORD>(year);
    local.wMonth = static_cast<WORD>(month);
    local.wDay = static_cast<WORD>(day);
    local.wHour = static_cast<WORD>(hour);
    local.wMinute = static_cast<WORD>(minute);
    local.wSecond = static_cast<WORD>(second);
    FILETIME ft;
    bool ok = TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) && SystemTimeToFileTime(&utc, &ft);
    if (ok) {
        const HANDLE h = CreateFileW(longPath(hostPath(relative)).c_str(), FILE_WRITE_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ok = h != INVALID_HANDLE_VALUE && SetFileTime(h, nullptr, nullptr, &ft);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    EXPECT_TRUE(ok);
    return ok;
}

bool TestDrive::setAttributes(std::string_view relative, bool hidden, bool system) {
    DWORD attributes = (hidden ? FILE_ATTRIBUTE_HIDDEN : 0) | (system ? FILE_ATTRIBUTE_SYSTEM : 0);
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    const bool ok = SetFileAttributesW(longPath(hostPath(relative)).c_str(), attributes) != 0;
    EXPECT_TRUE(ok) << "attributes of " << hostPath(relative);
    return ok;
}

bool TestDrive::setReadOnly(std::string_view relative, bool readOnly) {
    const std::wstring name = longPath(hostPath(relative));
    const DWORD attributes = GetFileAttributesW(name.c_str());
    bool ok = attributes != INVALID_FILE_ATTRIBUTES;
    if (ok) {
        const DWORD wanted = readOnly ? attributes | FILE_ATTRIBUTE_READONLY
                                      : attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        ok = SetFileAttributesW(name.c_str(), wanted) != 0;
    }
    EXPECT_TRUE(ok) << "read-only attribute of " << hostPath(relative);
    return ok;
}

bool TestDrive::readOnly(std::string_view relative) const {
    const DWORD attributes = GetFileAttributesW(longPath(hostPath(relative)).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

ExclusiveHold::ExclusiveHold(const TestDrive& drive, std::string_view relative) {
    // Another process holds the file: hold_file.exe, built beside the test programs.
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string helper(self, n);
    helper = helper.substr(0, helper.find_last_of('\\') + 1) + "hold_file.exe";
    const std::string event =
        "instayuda-hold-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++g_counter);
    const HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
    std::string commandLine = "hold_file.exe " + quote(drive.hostPath(relative)) + " " + event;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!ready || !CreateProcessA(helper.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &si, &pi)) {
        ADD_FAILURE() << "cannot start " << helper;
        if (ready) CloseHandle(ready);
        return;
    }
    CloseHandle(pi.hThread);
    const HANDLE waitFor[] = {ready, pi.hProcess};
    if (WaitForMultipleObjects(2, waitFor, FALSE, 20000) == WAIT_OBJECT_0) {
        handle_ = reinterpret_cast<std::uintptr_t>(pi.hProcess);
    } else {
        ADD_FAILURE() << "hold_file did not open " << drive.hostPath(relative);
        TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(ready);
}

ExclusiveHold::~ExclusiveHold() {
    if (!handle_) return;
    const auto process = reinterpret_cast<HANDLE>(handle_);
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 20000);
    CloseHandle(process);
}

} // namespace testsupport
