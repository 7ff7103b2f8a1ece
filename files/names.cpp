// File-name routines: splitting paths (CFILE*), new and temporary names, name comparison.

#include "files.h"

#include "runtime/dates.h"
#include "runtime/strings.h"

#include <chrono>
#include <string>
#include <thread>

namespace files {

namespace {

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// Upper case in the ANSI code page (Windows-1252), as Windows compares file names.
unsigned char foldCase(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
    switch (c) {
    case 0x9A:
        return 0x8A; // s caron
    case 0x9C:
        return 0x8C; // oe
    case 0x9E:
        return 0x8E; // z caron
    case 0xFF:
        return 0x9F; // y diaeresis
    default:
        return c;
    }
}

} // namespace

std::string CFILEDISC(std::string_view path) {
    return path.find(':') == 1 ? upper(path.substr(0, 2)) : std::string();
}

std::string CFILEPATH(std::string_view path) {
    const std::size_t slash = path.rfind('\\');
    if (slash == std::string_view::npos) return CFILEDISC(path) + "\\";
    return upper(path.substr(0, slash + 1));
}

std::string CFILENOPATH(std::string_view path) {
    const std::size_t slash = path.rfind('\\');
    if (slash != std::string_view::npos && slash + 1 < path.size()) return upper(path.substr(slash + 1));
    const std::size_t colon = path.find(':');
    if (colon != std::string_view::npos) return upper(path.substr(colon + 1));
    return upper(path);
}

std::string CFILENAME(std::string_view path) {
    return CFILENOPATH(path);
}

std::string CFILENOEXT(std::string_view path) {
    const std::string name = rt::ALLTRIM(CFILENOPATH(path));
    return rt::ALLTRIM(std::string_view(name).substr(0, name.find('.')));
}

std::string CFILEEXT(std::string_view path) {
    const std::string name = rt::ALLTRIM(CFILENOPATH(path));
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size()) return {};
    return rt::ALLTRIM(std::string_view(name).substr(dot + 1));
}

std::string CFILEMASK(std::string_view path) {
    std::string name = CFILENOPATH(path);
    return name.find_first_of("*?") != std::string::npos ? name : std::string();
}

std::string CFILESUBDIR(std::string_view path) {
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    return CFILEPATH(path);
}

std::string CNEWFILENAME(std::string_view root, std::string_view extension) {
    // The counter runs to three digits; past 999 there is no free name in the series.
    for (int n = 1; n <= 999; ++n) {
        std::string name = std::string(root) + std::to_string(n) + "." + std::string(extension);
        if (!FILE(name)) return name;
    }
    return {};
}

std::string CTEMPFILE() {
    static std::string previous;
    for (;;) {
        std::string name = rt::TIME();
        std::erase(name, ':');
        if (name != previous && !FILE(name)) {
            previous = name;
            return name;
        }
        // Taken: wait for the clock to give another second.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool sameFileName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldCase(static_cast<unsigned char>(a[i])) != foldCase(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace files
