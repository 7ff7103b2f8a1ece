// OEM and ANSI code pages: the system's own conversion, as the system's code pages stand.
#include "tables/shared_routines.h"

#include <windows.h>

namespace tables {

// Both calls work on a length, so NUL bytes inside the text survive.
std::string oemToAnsi(std::string_view text) {
    std::string out(text.size(), '\0');
    if (!text.empty()) OemToCharBuffA(text.data(), out.data(), static_cast<DWORD>(text.size()));
    return out;
}
std::string ansiToOem(std::string_view text) {
    std::string out(text.size(), '\0');
    if (!text.empty()) CharToOemBuffA(text.data(), out.data(), static_cast<DWORD>(text.size()));
    return out;
}

} // namespace tables
