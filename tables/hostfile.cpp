// The table layer's one OS back-end function.
#include "hostfile.h"

#ifndef _WIN32
#include "files/hostpath.h"
#endif

namespace tables {

std::string hostFileName(std::string_view name) {
#ifdef _WIN32
    return std::string(name);
#else
    const bool windowsStyle =
        (name.size() >= 2 && name[1] == ':') || name.find('\\') != std::string_view::npos;
    if (!windowsStyle) return std::string(name);
    return hostpath::resolveFile(name).value_or(std::string());
#endif
}

} // namespace tables
