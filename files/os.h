// The file services' operating-system back end: the few primitive operations the portable
// routines of files.h are built on. One implementation per platform (os_win32.cpp,
// os_posix.cpp); nothing above this header knows which one is linked.
//
// Paths are Windows-style byte strings in the ANSI code page ("C:\Vendrax\*.*"). The Win32
// back end hands them to the platform unchanged. The POSIX back end gives them the meaning
// they have on Windows:
//   - "\" and "/" both separate folders; a run of separators counts as one;
//   - a drive letter ("T:") stands for the folder the drive table maps it to (mapDrive); an
//     unmapped letter is a missing drive; ".." never climbs above a drive's root;
//   - a path without a drive letter that begins with a separator is a host path from "/";
//     any other path is relative to the current folder;
//   - names match without regard to letter case (ASCII letters); an exact match is preferred;
//   - trailing dots and blanks of a name are ignored, as Windows ignores them;
//   - a path longer than 259 characters names nothing (the ANSI path limit of Windows);
//   - an entry is hidden when its name begins with "." (other than "." and "..");
//   - a listing comes back sorted by name without regard to case (as Wine returns them),
//     with "." and ".." first in every folder that is not a drive's root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace files {

// Maps a drive letter (either case) to a host folder for the POSIX back end; an empty folder
// removes the mapping. Answers false when the letter is not A to Z, or on Windows, where the
// platform owns its drive letters (tests there map drives through the Wine prefix).
bool mapDrive(char letter, std::string_view hostFolder);

namespace os {

// Platform attribute bits, with the values Windows gives them.
enum Attribute : std::uint32_t {
    kReadOnly = 0x1,
    kHidden = 0x2,
    kSystem = 0x4,
    kVolumeLabel = 0x8,
    kDirectory = 0x10,
    kArchive = 0x20,
    kTemporary = 0x100,
    kSparse = 0x200,
    kReparsePoint = 0x400,
    kCompressed = 0x800,
    kOffline = 0x1000,
    kNotIndexed = 0x2000,
    kEncrypted = 0x4000,
    kIntegrity = 0x8000,
    kRecallOnAccess = 0x400000,
};

// A time of day and date in local time; valid is false when the platform's time could not be
// converted.
struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool valid = false;
};

// One entry of a file search.
struct FindEntry {
    std::string name; // no folder part
    std::uint64_t size = 0;
    LocalTime written;
    std::uint32_t attributes = 0;
};

// Runs the platform's file search for mask ("*" and "?" wildcards in the last part) and calls
// visit for each entry, in the platform's order, until visit answers false or the search has
// no further entries. A mask that matches nothing, a missing folder or drive: no call.
void findFiles(std::string_view mask, const std::function<bool(const FindEntry&)>& visit);

// The volume label of the drive a mask names (the current drive when it names none); nothing
// when the drive has no label or the platform cannot tell.
std::optional<std::string> volumeLabel(std::string_view mask);

// Reads a whole file, opened read-only with reading and writing by others allowed. Answers
// false when the file cannot be opened or read (or is too big to hold in memory).
bool readWholeFile(std::string_view path, std::string& contents);

// Creates the file empty when it does not exist; answers whether it exists afterwards.
bool createIfMissing(std::string_view path);
// Opens an existing file write-only with sharing allowed, appends bytes at its end and closes
// it. Answers false when the file cannot be opened or the write fails.
bool appendToFile(std::string_view path, std::string_view bytes);

// Puts the file from in place of the file to (which may exist; it is replaced as a whole, on
// the same volume), and deletes a file. Both answer false when the platform refuses, as
// Windows refuses to replace or delete a read-only file. The POSIX back end makes the new name
// itself durable too (the folder is synchronised after the rename).
bool replaceFile(std::string_view from, std::string_view to);
bool removeFile(std::string_view path);

// Clears the read-only attribute of an existing file (POSIX: gives its owner write access).
// Answers false when the file is missing or the platform refuses.
bool clearReadOnly(std::string_view path);
// Writes what the system still holds of the file to the disk (FlushFileBuffers, fsync).
// Answers false when the file cannot be opened for writing or the flush fails.
bool flushFile(std::string_view path);

// For the process's last words, when memory may have run out: these two allocate nothing.
// The temp folder (%TEMP%; natively TMPDIR or /tmp) with its final separator, NUL-terminated,
// into buffer; false when the platform cannot tell or it does not fit.
bool tempFolder(char* buffer, std::size_t size) noexcept;
// Creates the file when missing and appends the bytes at its end in one write, others allowed
// to read and append meanwhile. The name goes to the platform as it is (natively a host path;
// no drive table). False when the file cannot be opened or the write fails.
bool appendRaw(const char* name, const char* bytes, std::size_t size) noexcept;

// Asks the platform not to show its own notices (a drive without a medium, a program fault) for
// this process: the calls fail instead. Nothing to do natively.
void quietSystemNotices();

// The current folder as drive + ":\" + folder (POSIX: the host folder), and changing it.
std::string currentFolder();
bool setCurrentFolder(std::string_view path);

// Dynamic calls into a system library. A library handle is a number; a failed load answers
// the platform's failure value (0).
std::intptr_t loadLibrary(std::string_view name);
// The address of a routine of a loaded library, or 0.
std::uintptr_t findRoutine(std::intptr_t library, std::string_view name);
// One argument of a dynamic call: an integer or pointer (its machine word, sign- or
// zero-extended), or a 64-bit floating-point number (the number's bits).
struct CallArgument {
    std::uint64_t bits = 0;
    bool floating = false;
};
// What a routine answered: its integer register (the pointer width) and, when the call asked
// for a floating-point result, that number.
struct CallResult {
    std::uint64_t integer = 0;
    double floating = 0;
};
// Calls the routine at address. calleeCleans tells whether the routine removes its own
// arguments (it matters only on 32-bit Windows, and the call is safe for either kind whatever
// the flag says). floatingResult: the routine answers a floating-point number. Answers false,
// without calling, when there are more than kMaxCallArguments arguments. The POSIX back end's
// library has no routine that takes or answers a floating-point number and refuses such calls.
constexpr std::size_t kMaxCallArguments = 16;
bool callRoutine(std::uintptr_t address, bool calleeCleans, std::span<const CallArgument> arguments,
                 bool floatingResult, CallResult& result);

} // namespace os
} // namespace files
