// The seam of the engine's operating-system layer: which back end new files are opened
// through, and the calls that are not a File's. The platform code is in os_posix.cpp and
// os_win32.cpp.
#include "engine/os.h"

namespace engine::os {

namespace detail {
Backend* current = nullptr;
}

void install(Backend* backend) {
    detail::current = backend;
}

Backend* installed() {
    return detail::current;
}

Status Backend::removeFile(const std::string& path) {
    return systemRemoveFile(path);
}

void Backend::sleepMs(unsigned ms) {
    systemSleepMs(ms);
}

Status removeFile(const std::string& path) {
    return detail::current ? detail::current->removeFile(path) : systemRemoveFile(path);
}

void sleepMs(unsigned ms) {
    if (detail::current)
        detail::current->sleepMs(ms);
    else
        systemSleepMs(ms);
}

} // namespace engine::os
