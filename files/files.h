// File services: directory listing, existence, whole-file read, file size and times, file copy
// through the system library, the file-name routines and the log writer.
//
// Missing files, folders and drives are never errors here: the routines answer an empty list,
// false, "", 0 or the empty date. Paths are Windows-style byte strings (see os.h for how the
// POSIX back end reads them).
#pragma once

#include "runtime/value.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace files {

// DIRECTORY([mask], [attributes]): one five-element list per entry the platform's file
// search returns for mask, in the platform's order: name, size (the low 32 bits as a signed
// number; 0 for a folder), date of the last write (local; empty when it cannot be converted),
// time "hh:mm:ss", attribute letters ("RHSVDA" then "ETPLCOXIM").
// Without attribute letters the listing leaves out hidden, system and volume-label entries
// and folders; "H", "S" and "D" (either case) admit them; "V" lists only the volume label.
rt::ArrayPtr DIRECTORY(std::string_view mask = "*.*", std::string_view attributes = "");

// FILE(name): whether the file search finds anything for name (wildcards allowed; a folder
// counts). A name without a folder part is looked up in the default folder (SET 7) when one is
// set.
bool FILE(std::string_view name);

// MEMOREAD(name): the whole file (NUL bytes included), opened read-only with others allowed to
// read and write it; a final byte 26 (end-of-file mark) is dropped. "" when the file cannot be
// opened (a missing file, one held exclusively by another program) or is empty.
std::string MEMOREAD(std::string_view name);

// FSIZE / FDATE / FTIME: size, date and time of the first entry DIRECTORY(path) lists
// (default attribute filter, so a folder, a hidden or a system file is not found): 0, the
// empty date or "" when nothing is listed.
std::int64_t FSIZE(std::string_view path);
rt::Date FDATE(std::string_view path);
std::string FTIME(std::string_view path);

// File-name routines (results upper-cased as described).
std::string CFILEDISC(std::string_view path);   // "C:" when the first ":" is the 2nd character
std::string CFILEPATH(std::string_view path);   // up to the last "\", or CFILEDISC + "\"
std::string CFILENOPATH(std::string_view path); // the name after the last "\" (or ":")
std::string CFILENAME(std::string_view path);   // same as CFILENOPATH
std::string CFILENOEXT(std::string_view path);  // the name before its first "."
std::string CFILEEXT(std::string_view path);    // the name's part after its last "."
std::string CFILEMASK(std::string_view path);   // the name when it holds "*" or "?"
std::string CFILESUBDIR(std::string_view path); // the parent folder

// LISDIR(folder): whether folder can be made the current folder (the current folder is put
// back afterwards).
bool LISDIR(std::string_view folder);

// CNEWFILENAME(root, extension): root + "1." + extension, root + "2." + ..., the first one
// FILE does not find; "" when every counter up to 999 is taken.
std::string CNEWFILENAME(std::string_view root, std::string_view extension);

// CTEMPFILE(): the time of day as "hhmmss", never a name FILE finds nor the one the previous
// call answered (it waits for the clock to move on).
std::string CTEMPFILE();

// LOGFILE(fileName, values): appends one line to the file, creating it when missing: the date
// in the date format in force, a blank, the time, ": ", then the text form of each value
// followed by a tab, then CR LF. A file that cannot be opened is silently skipped.
void LOGFILE(std::string_view fileName, const rt::Value& values);

// LOGSTACK(): writes "", "LogStack() called", "=================" and then one line per
// active call level, innermost first (the routine's name and its parameters), to "stack.txt".
void LOGSTACK();

// AFINDFILE(fileName, folder, list): searches folder and its sub-folders (five levels below
// folder at most) for entries named fileName without regard to case, appending
// folder + "\" + fileName to list for each. Answers list.
rt::Value AFINDFILE(std::string_view fileName, std::string_view folder, const rt::Value& list);

// GETDISKFREESPACEEX(folder, &free, &total, &freeToAll): asks the system library's
// "GetDiskFreeSpaceExA" through a dynamic call for the space of folder's drive (the current
// folder when folder is empty): bytes free to this user, total bytes, bytes free in all.
// Answers whether the platform could tell; the out values are numbers (0 on failure).
bool GETDISKFREESPACEEX(const rt::Value& folder, rt::Value* free = nullptr, rt::Value* total = nullptr,
                        rt::Value* freeToAll = nullptr);

// COPYFILE(source, target, [failIfExists]): copies through the system library's "CopyFileA",
// bound by a dynamic call on every call. Answers true when the copy succeeded, false when it
// did not, and no value (after an alert) when the system library cannot be loaded. Without
// failIfExists an existing target is overwritten.
rt::Value COPYFILE(const rt::Value& source, const rt::Value& target, const rt::Value& failIfExists = {});

// COPYFILEWHOLE(source, target): the copy that installs a file. COPYFILE copies to a temporary
// name in the target's folder (the target's name + ".tmp"), which then takes the place of the
// target. Answers whether the target now holds the whole copy; a copy that fails part way (a
// full disk) leaves the folder as it was: no partial file, an older target intact. The copy
// is on the disk before it replaces the target; neither it nor the temporary copy is ever
// read-only because the source was; a temporary copy left by an earlier run is replaced, and a
// failed copy leaves none.
bool COPYFILEWHOLE(std::string_view source, std::string_view target);

// SETHANDLECOUNT(n): asks for n file handles. Modern platforms give a process as many as it
// opens, so this answers n, as 32-bit Windows does.
rt::Value SETHANDLECOUNT(const rt::Value& n);

// The temp folder (%TEMP%) with its final separator; "" when the platform cannot tell.
std::string tempFolder();

// Appends bytes to a file in one write, creating the file when missing; others may read and
// append to it meanwhile (several computers may write to one log on a shared folder). The name
// goes to the platform as it is (natively a host path: the drive table is not consulted).
// Answers false when the file cannot be opened or written.
bool appendToFile(std::string_view fileName, std::string_view bytes);

// For runs without windows: the platform's own notices (a drive without a medium, for one) are
// not shown; the file routines fail instead, as they do for a missing drive.
void QUIETSYSTEMNOTICES();

// Whether two file names are the same for Windows: equal without regard to the case of
// letters, accented letters of the ANSI code page included.
bool sameFileName(std::string_view a, std::string_view b);

} // namespace files
