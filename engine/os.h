// The engine's operating-system layer: files, byte-range locks and file names. Everything
// the engine asks of the platform goes through here; os_posix.cpp and os_win32.cpp are the
// only files with platform code.
//
// A test may put a Backend of its own between the engine and the system (install()): every
// File opened from then on, and removeFile and sleepMs, go through it, and the engine above
// does not know. The system's own path stays direct: a File opened without a back end pays
// one test of a null pointer per call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace engine::os {

class Backend;

enum class Status {
    ok,
    notFound, // no such file or folder
    denied,   // the system refused access
    exists,   // create refused: the file is there already
    busy,     // lock refused: another handle holds a conflicting lock
    ioError,  // anything else
};

// An open file. Each File is its own lock owner: two Files on the same path, in the same
// process or not, conflict with each other's locks exactly like two processes would.
// Locks never block: a conflicting request answers busy at once. All locks of a File go
// when it is closed or the process ends.
class File {
  public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing file for reading, or for reading and writing. Other handles may read
    // and write the file at the same time.
    Status open(const std::string& path, bool writable);
    // Creates a file for reading and writing; with mustBeNew an existing file is refused
    // (exists), otherwise it is opened as it is (the caller empties it once it holds its
    // locks, so that a file in use elsewhere is never cut short).
    Status create(const std::string& path, bool mustBeNew);
    bool isOpen() const { return handle_ != invalid; }
    void close();

    // Reads up to len bytes at offset; got is short only at the end of the file.
    Status read(std::uint64_t offset, void* data, std::size_t len, std::size_t& got);
    Status write(std::uint64_t offset, const void* data, std::size_t len);
    Status size(std::uint64_t& out);
    Status truncate(std::uint64_t length);
    Status flush();

    // Byte-range locks, shared or exclusive, never blocking. The engine unlocks exactly the
    // ranges it locked and never locks an overlapping range twice on one File.
    Status lock(std::uint64_t offset, std::uint64_t length, bool exclusive);
    Status unlock(std::uint64_t offset, std::uint64_t length);

    // The back end this file was opened through; null for the system's own.
    Backend* backend() const { return via_; }

  private:
    friend class Backend;
    // The system's own operations (os_posix.cpp, os_win32.cpp).
    Status sysOpen(const std::string& path, bool writable);
    Status sysCreate(const std::string& path, bool mustBeNew);
    void sysClose();
    Status sysRead(std::uint64_t offset, void* data, std::size_t len, std::size_t& got);
    Status sysWrite(std::uint64_t offset, const void* data, std::size_t len);
    Status sysSize(std::uint64_t& out);
    Status sysTruncate(std::uint64_t length);
    Status sysFlush();
    Status sysLock(std::uint64_t offset, std::uint64_t length, bool exclusive);
    Status sysUnlock(std::uint64_t offset, std::uint64_t length);

    static constexpr std::intptr_t invalid = -1;
    std::intptr_t handle_ = invalid;
    Backend* via_ = nullptr;
};

// What a File asks of the system, as a test may take it over. Each call gets the File it is
// for; the default of each is the system's own operation, so a back end overrides only what it
// watches or changes. A back end sees a File from its open or create to its close; it may keep
// its own handle in the File (setHandle) for files that have none in the system.
class Backend {
  public:
    virtual ~Backend() = default;
    virtual Status open(File& f, const std::string& path, bool writable) { return f.sysOpen(path, writable); }
    virtual Status create(File& f, const std::string& path, bool mustBeNew) {
        return f.sysCreate(path, mustBeNew);
    }
    virtual void close(File& f) { f.sysClose(); }
    virtual Status read(File& f, std::uint64_t offset, void* data, std::size_t len, std::size_t& got) {
        return f.sysRead(offset, data, len, got);
    }
    virtual Status write(File& f, std::uint64_t offset, const void* data, std::size_t len) {
        return f.sysWrite(offset, data, len);
    }
    virtual Status size(File& f, std::uint64_t& out) { return f.sysSize(out); }
    virtual Status truncate(File& f, std::uint64_t length) { return f.sysTruncate(length); }
    virtual Status flush(File& f) { return f.sysFlush(); }
    virtual Status lock(File& f, std::uint64_t offset, std::uint64_t length, bool exclusive) {
        return f.sysLock(offset, length, exclusive);
    }
    virtual Status unlock(File& f, std::uint64_t offset, std::uint64_t length) {
        return f.sysUnlock(offset, length);
    }
    virtual Status removeFile(const std::string& path);
    virtual void sleepMs(unsigned ms);

  protected:
    // The system handle of a file (-1 when none), and a way to set one of the back end's own.
    static std::intptr_t handleOf(const File& f) { return f.handle_; }
    static void setHandle(File& f, std::intptr_t h) { f.handle_ = h; }
};

// Puts a back end between the engine and the system for every File opened from now on (null:
// the system's own again). Files already open keep the back end they were opened through.
void install(Backend* backend);
Backend* installed();

// The system's own file removal and sleep, under whatever back end is installed.
Status systemRemoveFile(const std::string& path);
void systemSleepMs(unsigned ms);

// ---- The calls of File: straight to the system unless a back end opened the file ----------

namespace detail {
extern Backend* current;
}

inline Status File::open(const std::string& path, bool writable) {
    close();
    via_ = detail::current;
    if (via_) [[unlikely]]
        return via_->open(*this, path, writable);
    return sysOpen(path, writable);
}

inline Status File::create(const std::string& path, bool mustBeNew) {
    close();
    via_ = detail::current;
    if (via_) [[unlikely]]
        return via_->create(*this, path, mustBeNew);
    return sysCreate(path, mustBeNew);
}

inline void File::close() {
    if (handle_ == invalid) return;
    if (via_) [[unlikely]]
        via_->close(*this);
    else
        sysClose();
    handle_ = invalid;
    via_ = nullptr;
}

inline Status File::read(std::uint64_t offset, void* data, std::size_t len, std::size_t& got) {
    if (via_) [[unlikely]]
        return via_->read(*this, offset, data, len, got);
    return sysRead(offset, data, len, got);
}

inline Status File::write(std::uint64_t offset, const void* data, std::size_t len) {
    if (via_) [[unlikely]]
        return via_->write(*this, offset, data, len);
    return sysWrite(offset, data, len);
}

inline Status File::size(std::uint64_t& out) {
    if (via_) [[unlikely]]
        return via_->size(*this, out);
    return sysSize(out);
}

inline Status File::truncate(std::uint64_t length) {
    if (via_) [[unlikely]]
        return via_->truncate(*this, length);
    return sysTruncate(length);
}

inline Status File::flush() {
    if (via_) [[unlikely]]
        return via_->flush(*this);
    return sysFlush();
}

inline Status File::lock(std::uint64_t offset, std::uint64_t length, bool exclusive) {
    if (via_) [[unlikely]]
        return via_->lock(*this, offset, length, exclusive);
    return sysLock(offset, length, exclusive);
}

inline Status File::unlock(std::uint64_t offset, std::uint64_t length) {
    if (via_) [[unlikely]]
        return via_->unlock(*this, offset, length);
    return sysUnlock(offset, length);
}

// True when path names an existing regular file (exactly as written).
bool isFile(const std::string& path);
// True when path names an existing folder.
bool isFolder(const std::string& path);
// The name under which an existing file can be opened: the path itself when it exists;
// on systems whose names are case-sensitive, otherwise the path whose components match
// without regard to case (these files come from Windows). Empty when there is none.
std::string findFile(const std::string& path);
// The path in this system's form: on POSIX backslashes become slashes and, where the folder
// part exists under another case, that spelling is used. Used for files about to be created.
// On POSIX a path with a drive letter ("T:\datos\clientes.dbf") is read through the drive
// table of files/hostpath.h, as the file services read it; findFile and nativePath answer ""
// when its drive or folder does not exist.
std::string nativePath(const std::string& path);
bool isAbsolute(std::string_view path);
// Joins folder and name with the separator when the folder does not end in one.
std::string joinPath(std::string_view folder, std::string_view name);
// Through the installed back end, when there is one.
Status removeFile(const std::string& path);
void sleepMs(unsigned ms);
// Today's date as year, month, day (local time).
void today(int& year, int& month, int& day);

} // namespace engine::os
