// Win32 back end of the engine's operating-system layer. Every file is opened with full
// sharing (other handles read and write it at the same time; the engine's byte-range locks,
// taken with LockFileEx beyond the end of any real file, keep them apart).
#include "engine/os.h"

#include <windows.h>

namespace engine::os {
namespace {

HANDLE handleOf(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

Status fromError(DWORD e) {
    switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE:
        return Status::notFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return Status::denied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return Status::exists;
    case ERROR_LOCK_VIOLATION:
    case ERROR_IO_PENDING:
        return Status::busy;
    default:
        return Status::ioError;
    }
}

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ov;
}

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

} // namespace

File::~File() {
    close();
}

File::File(File&& other) noexcept : handle_(other.handle_), via_(other.via_) {
    other.handle_ = invalid;
    other.via_ = nullptr;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        via_ = other.via_;
        other.handle_ = invalid;
        other.via_ = nullptr;
    }
    return *this;
}

Status File::sysOpen(const std::string& path, bool writable) {
    DWORD access = GENERIC_READ | (writable ? GENERIC_WRITE : 0);
    HANDLE h =
        ::CreateFileA(path.c_str(), access, shareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fromError(::GetLastError());
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        return Status::notFound;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return Status::ok;
}

Status File::sysCreate(const std::string& path, bool mustBeNew) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, shareAll, nullptr,
                             mustBeNew ? CREATE_NEW : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fromError(::GetLastError());
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return Status::ok;
}

void File::sysClose() {
    if (handle_ != invalid) ::CloseHandle(handleOf(handle_));
    handle_ = invalid;
}

Status File::sysRead(std::uint64_t offset, void* data, std::size_t len, std::size_t& got) {
    got = 0;
    if (handle_ == invalid) return Status::ioError;
    auto* p = static_cast<char*>(data);
    while (got < len) {
        OVERLAPPED ov = at(offset + got);
        DWORD chunk = static_cast<DWORD>(len - got > 0x40000000u ? 0x40000000u : len - got);
        DWORD n = 0;
        if (!::ReadFile(handleOf(handle_), p + got, chunk, &n, &ov)) {
            DWORD e = ::GetLastError();
            if (e == ERROR_HANDLE_EOF) break;
            return fromError(e);
        }
        if (n == 0) break;
        got += n;
    }
    return Status::ok;
}

Status File::sysWrite(std::uint64_t offset, const void* data, std::size_t len) {
    if (handle_ == invalid) return Status::ioError;
    const auto* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < len) {
        OVERLAPPED ov = at(offset + done);
        DWORD chunk = static_cast<DWORD>(len - done > 0x40000000u ? 0x40000000u : len - done);
        DWORD n = 0;
        if (!::WriteFile(handleOf(handle_), p + done, chunk, &n, &ov)) return fromError(::GetLastError());
        if (n == 0) return Status::ioError;
        done += n;
    }
    return Status::ok;
}

Status File::sysSize(std::uint64_t& out) {
    LARGE_INTEGER li;
    if (handle_ == invalid || !::GetFileSizeEx(handleOf(handle_), &li)) return Status::ioError;
    out = static_cast<std::uint64_t>(li.QuadPart);
    return Status::ok;
}

Status File::sysTruncate(std::uint64_t length) {
    if (handle_ == invalid) return Status::ioError;
    FILE_END_OF_FILE_INFO info;
    info.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    if (!::SetFileInformationByHandle(handleOf(handle_), FileEndOfFileInfo, &info, sizeof info))
        return fromError(::GetLastError());
    return Status::ok;
}

Status File::sysFlush() {
    if (handle_ == invalid) return Status::ioError;
    return ::FlushFileBuffers(handleOf(handle_)) ? Status::ok : fromError(::GetLastError());
}

Status File::sysLock(std::uint64_t offset, std::uint64_t length, bool exclusive) {
    if (handle_ == invalid) return Status::ioError;
    OVERLAPPED ov = at(offset);
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (::LockFileEx(handleOf(handle_), flags, 0, static_cast<DWORD>(length & 0xFFFFFFFFu),
                     static_cast<DWORD>(length >> 32), &ov))
        return Status::ok;
    DWORD e = ::GetLastError();
    return (e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING) ? Status::busy : fromError(e);
}

Status File::sysUnlock(std::uint64_t offset, std::uint64_t length) {
    if (handle_ == invalid) return Status::ioError;
    OVERLAPPED ov = at(offset);
    if (::UnlockFileEx(handleOf(handle_), 0, static_cast<DWORD>(length & 0xFFFFFFFFu),
                       static_cast<DWORD>(length >> 32), &ov))
        return Status::ok;
    return fromError(::GetLastError());
}

bool isFile(const std::string& path) {
    DWORD a = ::GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool isFolder(const std::string& path) {
    DWORD a = ::GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Windows matches names without regard to case already.
std::string findFile(const std::string& path) {
    return isFile(path) ? path : std::string();
}

std::string nativePath(const std::string& path) {
    std::string p = path;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

bool isAbsolute(std::string_view path) {
    if (path.size() >= 2 && path[1] == ':') return true; // drive letter
    return !path.empty() && (path[0] == '\\' || path[0] == '/');
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (!out.empty() && out.back() != '\\' && out.back() != '/' && out.back() != ':') out += '\\';
    out += name;
    return out;
}

Status systemRemoveFile(const std::string& path) {
    return ::DeleteFileA(path.c_str()) ? Status::ok : fromError(::GetLastError());
}

void systemSleepMs(unsigned ms) {
    ::Sleep(ms);
}

void today(int& year, int& month, int& day) {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    year = st.wYear;
    month = st.wMonth;
    day = st.wDay;
}

} // namespace engine::os
