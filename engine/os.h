// The engine's operating-system layer: files, byte-range locks and file names. Everything
// the engine asks of the platform goes through here; os_posix.cpp and os_win32.cpp are the
// only files with platform code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace engine::os {

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

  private:
    static constexpr std::intptr_t invalid = -1;
    std::intptr_t handle_ = invalid;
};

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
Status removeFile(const std::string& path);
// Puts the file from in the place of the file to (which may or may not exist) in one step: a
// crash at any point leaves either the old file or the new one under that name, never neither
// nor a mix, and once it answers ok the change of names is on the disk. Both must be in the
// same folder, and neither open (Windows refuses to replace a file that is open).
Status replaceFile(const std::string& from, const std::string& to);
void sleepMs(unsigned ms);
// Today's date as year, month, day (local time).
void today(int& year, int& month, int& day);

} // namespace engine::os
