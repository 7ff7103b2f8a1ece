#include "testdrive.h"

namespace testsupport {

std::string TestDrive::path(std::string_view relative) const {
    std::string out{letter_, ':', '\\'};
    for (char c : relative) out += c == '/' ? '\\' : c;
    return out;
}

} // namespace testsupport
