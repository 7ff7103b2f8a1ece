// Windows-style paths on a POSIX host: the one place that says which host file a name such as
// "T:\datos\clientes.dbf" stands for, so that the file services and the table engine open the
// same file for the same name. Standard library and POSIX only; built on POSIX hosts (on
// Windows the platform itself gives paths their meaning).
//
// The rules:
//   - "\" and "/" both separate folders; a run of separators counts as one;
//   - a drive letter ("T:") stands for the host folder the drive table maps it to (mapDrive);
//     an unmapped letter is a missing drive; ".." never climbs above a drive's root;
//   - a path without a drive letter that begins with a separator is a host path from "/";
//     any other path is relative to the current folder;
//   - names match without regard to letter case (ASCII letters); an exact match is preferred,
//     then the first match in listing order;
//   - trailing dots and blanks of a name are ignored, as Windows ignores them;
//   - a path longer than 259 characters names nothing (the ANSI path limit of Windows).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hostpath {

// Maps a drive letter (either case) to a host folder; an empty folder removes the mapping.
// Answers false when the letter is not A to Z.
bool mapDrive(char letter, std::string_view hostFolder);

// A path taken apart: the host folder it starts from and the names below it, with "." and
// ".." already applied.
struct ParsedPath {
    std::string root;               // host folder: a drive's folder, or "/"
    std::vector<std::string> parts; // names below root
    bool endsWithSeparator = false; // "C:\Vendrax\": names a folder, not an entry
    bool endsWithDots = false;      // "C:\Vendrax\." or "\..": names the folder itself
};

// Nothing for a path that names nothing: empty, too long, holding NUL, a missing drive, a
// network share.
std::optional<ParsedPath> parsePath(std::string_view path);

// The host folder of the first count names of a parsed path, each of which must be a folder.
std::optional<std::string> resolveFolder(const ParsedPath& p, std::size_t count);

// The host path of a file a path names (existing or to be created): its folder must exist;
// the name takes the spelling of an existing entry when there is one. Nothing for a path that
// ends in a separator or dots, or whose name holds wildcards.
std::optional<std::string> resolveFile(std::string_view path);

// The entry of a host folder whose name matches name without regard to case (an exact match
// first, then the first one in listing order).
std::optional<std::string> lookupName(const std::string& hostFolder, const std::string& name);

std::string joinHost(const std::string& folder, const std::string& name);

// Listing order: names compared upper-cased byte by byte; names that differ only in case in
// plain byte order.
bool listsBefore(const std::string& a, const std::string& b);

char upperAscii(char c);
bool equalsNoCase(std::string_view a, std::string_view b);
bool hasWildcards(std::string_view s);

} // namespace hostpath
