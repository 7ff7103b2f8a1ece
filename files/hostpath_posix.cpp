#include "files/hostpath.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostpath {

namespace {

constexpr std::size_t kMaxPath = 259; // longest path the ANSI file routines of Windows accept

std::array<std::string, 26>& driveTable() {
    static std::array<std::string, 26> table;
    return table;
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

bool isHostFolder(const std::string& host) {
    struct stat st;
    return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

bool mapDrive(char letter, std::string_view hostFolder) {
    const char upper = upperAscii(letter);
    if (upper < 'A' || upper > 'Z') return false;
    std::string folder(hostFolder);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    driveTable()[static_cast<std::size_t>(upper - 'A')] = std::move(folder);
    return true;
}

char upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upperAscii(a[i]) != upperAscii(b[i])) return false;
    return true;
}

// Listing order: names compared upper-cased byte by byte; names that differ only in case in
// plain byte order.
bool listsBefore(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(upperAscii(a[i]));
        const auto cb = static_cast<unsigned char>(upperAscii(b[i]));
        if (ca != cb) return ca < cb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

bool hasWildcards(std::string_view s) {
    return s.find_first_of("*?") != std::string_view::npos;
}

std::optional<ParsedPath> parsePath(std::string_view path) {
    if (path.empty() || path.size() > kMaxPath) return std::nullopt;
    if (path.find('\0') != std::string_view::npos) return std::nullopt;
    ParsedPath out;
    std::string_view rest = path;
    if (path.size() >= 2 && path[1] == ':') {
        const char letter = upperAscii(path[0]);
        if (letter < 'A' || letter > 'Z') return std::nullopt;
        out.root = driveTable()[static_cast<std::size_t>(letter - 'A')];
        if (out.root.empty()) return std::nullopt; // a missing drive
        rest = path.substr(2);
    } else if (isSeparator(path[0])) {
        if (path.size() >= 2 && isSeparator(path[1])) return std::nullopt; // no network shares here
        out.root = "/";
    } else {
        // Relative to the current folder: start from "/" with the current folder's names, so
        // that ".." can climb above it.
        out.root = "/";
        std::string cwd(4096, '\0');
        if (!::getcwd(cwd.data(), cwd.size())) return std::nullopt;
        cwd.resize(std::strlen(cwd.c_str()));
        std::size_t i = 0;
        while (i < cwd.size()) {
            while (i < cwd.size() && cwd[i] == '/') ++i;
            const std::size_t start = i;
            while (i < cwd.size() && cwd[i] != '/') ++i;
            if (i > start) out.parts.emplace_back(cwd.substr(start, i - start));
        }
    }
    out.endsWithSeparator = !rest.empty() && isSeparator(rest.back());
    std::size_t i = 0;
    bool lastWasDots = false;
    while (i < rest.size()) {
        while (i < rest.size() && isSeparator(rest[i])) ++i;
        const std::size_t start = i;
        while (i < rest.size() && !isSeparator(rest[i])) ++i;
        if (i == start) break;
        std::string name(rest.substr(start, i - start));
        if (name == "..") {
            if (!out.parts.empty()) out.parts.pop_back();
            lastWasDots = true;
            continue;
        }
        // Trailing dots and blanks are not part of a name ("." itself and "..." name nothing).
        std::size_t end = name.size();
        while (end > 0 && (name[end - 1] == '.' || name[end - 1] == ' ')) --end;
        name.resize(end);
        if (name.empty()) {
            lastWasDots = true;
            continue;
        }
        out.parts.push_back(std::move(name));
        lastWasDots = false;
    }
    out.endsWithDots = lastWasDots;
    return out;
}

std::string joinHost(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// The entry of a host folder whose name matches name without regard to case (an exact match
// first, then the first one in listing order).
std::optional<std::string> lookupName(const std::string& hostFolder, const std::string& name) {
    struct stat st;
    if (::lstat(joinHost(hostFolder, name).c_str(), &st) == 0) return name;
    DIR* dir = ::opendir(hostFolder.c_str());
    if (!dir) return std::nullopt;
    std::optional<std::string> best;
    while (const dirent* e = ::readdir(dir)) {
        const std::string entry = e->d_name;
        if (entry == "." || entry == "..") continue;
        if (equalsNoCase(entry, name) && (!best || listsBefore(entry, *best))) best = entry;
    }
    ::closedir(dir);
    return best;
}

// Resolves the first count names of a parsed path, each of which must be a folder.
std::optional<std::string> resolveFolder(const ParsedPath& p, std::size_t count) {
    std::string host = p.root;
    if (!isHostFolder(host)) return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) {
        const auto name = lookupName(host, p.parts[i]);
        if (!name) return std::nullopt;
        host = joinHost(host, *name);
        if (!isHostFolder(host)) return std::nullopt;
    }
    return host;
}

// The host path of a file a path names (existing or to be created): its folder must exist;
// the name takes the spelling of an existing entry when there is one.
std::optional<std::string> resolveFile(std::string_view path) {
    const auto p = parsePath(path);
    if (!p || p->parts.empty() || p->endsWithSeparator || p->endsWithDots) return std::nullopt;
    if (hasWildcards(p->parts.back())) return std::nullopt;
    const auto folder = resolveFolder(*p, p->parts.size() - 1);
    if (!folder) return std::nullopt;
    const auto name = lookupName(*folder, p->parts.back());
    return joinHost(*folder, name ? *name : p->parts.back());
}

} // namespace hostpath
