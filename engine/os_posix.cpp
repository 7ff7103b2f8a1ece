// POSIX back end of the engine's operating-system layer. Locks are open-file-description
// locks (F_OFD_SETLK): they belong to the open file, not to the process, so two opens in one
// process conflict like two processes and closing one descriptor never drops another's locks.
#include "engine/os.h"

#include "files/hostpath.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace engine::os {
namespace {

Status fromErrno(int e) {
    switch (e) {
    case ENOENT:
    case ENOTDIR:
        return Status::notFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return Status::denied;
    case EEXIST:
        return Status::exists;
    case EAGAIN:
        return Status::busy;
    default:
        return Status::ioError;
    }
}

int fdOf(std::intptr_t h) {
    return static_cast<int>(h);
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

bool existsAny(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string slashes(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

// Resolves every component of path, taking the exact name when it exists and otherwise the
// first directory entry that matches without regard to case. Components that match nothing
// are kept as written; found tells whether the whole path exists.
std::string resolveComponents(const std::string& path, bool& found) {
    found = true;
    std::string out;
    std::size_t pos = 0;
    if (!path.empty() && path[0] == '/') {
        out = "/";
        pos = 1;
    }
    while (pos <= path.size()) {
        std::size_t next = path.find('/', pos);
        if (next == std::string::npos) next = path.size();
        std::string part = path.substr(pos, next - pos);
        pos = next + 1;
        if (part.empty()) continue;
        std::string candidate = out.empty() || out.back() == '/' ? out + part : out + "/" + part;
        if (!found || existsAny(candidate) || part == "." || part == "..") {
            if (found && !existsAny(candidate)) found = false;
            out = candidate;
            continue;
        }
        std::string folder = out.empty() ? "." : out;
        std::string match;
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (dirent* entry = ::readdir(dir)) {
                if (sameNoCase(entry->d_name, part)) {
                    match = entry->d_name;
                    break;
                }
            }
            ::closedir(dir);
        }
        if (match.empty()) {
            found = false;
            out = candidate;
        } else {
            out = out.empty() || out.back() == '/' ? out + match : out + "/" + match;
        }
    }
    return out;
}

// "T:..." names a file through the drive table, exactly as the file services read it.
bool hasDrive(std::string_view path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

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
    int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return fromErrno(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Status::notFound;
    }
    handle_ = fd;
    return Status::ok;
}

Status File::sysCreate(const std::string& path, bool mustBeNew) {
    int flags = O_RDWR | O_CREAT | O_CLOEXEC | (mustBeNew ? O_EXCL : 0);
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return fromErrno(errno);
    handle_ = fd;
    return Status::ok;
}

void File::sysClose() {
    if (handle_ != invalid) ::close(fdOf(handle_));
    handle_ = invalid;
}

Status File::sysRead(std::uint64_t offset, void* data, std::size_t len, std::size_t& got) {
    got = 0;
    if (handle_ == invalid) return Status::ioError;
    auto* p = static_cast<char*>(data);
    while (got < len) {
        ssize_t n = ::pread(fdOf(handle_), p + got, len - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return fromErrno(errno);
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return Status::ok;
}

Status File::sysWrite(std::uint64_t offset, const void* data, std::size_t len) {
    if (handle_ == invalid) return Status::ioError;
    const auto* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < len) {
        ssize_t n = ::pwrite(fdOf(handle_), p + done, len - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return fromErrno(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    return Status::ok;
}

Status File::sysSize(std::uint64_t& out) {
    struct stat st;
    if (handle_ == invalid || ::fstat(fdOf(handle_), &st) != 0) return Status::ioError;
    out = static_cast<std::uint64_t>(st.st_size);
    return Status::ok;
}

Status File::sysTruncate(std::uint64_t length) {
    if (handle_ == invalid) return Status::ioError;
    return ::ftruncate(fdOf(handle_), static_cast<off_t>(length)) == 0 ? Status::ok : fromErrno(errno);
}

Status File::sysFlush() {
    if (handle_ == invalid) return Status::ioError;
    return ::fdatasync(fdOf(handle_)) == 0 ? Status::ok : fromErrno(errno);
}

Status File::sysLock(std::uint64_t offset, std::uint64_t length, bool exclusive) {
    if (handle_ == invalid) return Status::ioError;
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    if (::fcntl(fdOf(handle_), F_OFD_SETLK, &fl) == 0) return Status::ok;
    return (errno == EAGAIN || errno == EACCES) ? Status::busy : fromErrno(errno);
}

Status File::sysUnlock(std::uint64_t offset, std::uint64_t length) {
    if (handle_ == invalid) return Status::ioError;
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    return ::fcntl(fdOf(handle_), F_OFD_SETLK, &fl) == 0 ? Status::ok : fromErrno(errno);
}

bool isFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isFolder(const std::string& path) {
    if (hasDrive(path)) {
        const auto p = hostpath::parsePath(path);
        return p && hostpath::resolveFolder(*p, p->parts.size()).has_value();
    }
    struct stat st;
    return ::stat(slashes(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string findFile(const std::string& path) {
    if (path.empty()) return {};
    if (hasDrive(path)) {
        const auto host = hostpath::resolveFile(path);
        return host && isFile(*host) ? *host : std::string();
    }
    if (isFile(path)) return path;
    std::string p = slashes(path);
    if (isFile(p)) return p;
    bool found = false;
    std::string resolved = resolveComponents(p, found);
    return found && isFile(resolved) ? resolved : std::string();
}

std::string nativePath(const std::string& path) {
    // A drive path whose folder does not resolve names nothing the engine could create.
    if (hasDrive(path)) return hostpath::resolveFile(path).value_or(std::string());
    std::string p = slashes(path);
    std::size_t cut = p.rfind('/');
    if (cut == std::string::npos) return p;
    std::string folder = p.substr(0, cut);
    if (folder.empty() || existsAny(folder)) return p;
    bool found = false;
    std::string resolved = resolveComponents(folder, found);
    return found ? resolved + p.substr(cut) : p;
}

bool isAbsolute(std::string_view path) {
    return (!path.empty() && (path[0] == '/' || path[0] == '\\')) || hasDrive(path);
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (!out.empty() && out.back() != '/' && out.back() != '\\') out += '/';
    out += name;
    return out;
}

Status systemRemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? Status::ok : fromErrno(errno);
}

void systemSleepMs(unsigned ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void today(int& year, int& month, int& day) {
    std::time_t now = std::time(nullptr);
    struct tm local;
    ::localtime_r(&now, &local);
    year = local.tm_year + 1900;
    month = local.tm_mon + 1;
    day = local.tm_mday;
}

} // namespace engine::os
