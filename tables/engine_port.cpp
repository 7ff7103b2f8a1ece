#include "engine_port.h"

namespace tables {

std::uint32_t EnginePort::setServerType(std::uint16_t) {
    return 0;
}
std::uint32_t EnginePort::setExact(bool) {
    return 0;
}
std::uint32_t EnginePort::setDateFormat(std::string_view) {
    return 0;
}
std::uint32_t EnginePort::setEpoch(std::uint16_t) {
    return 0;
}
std::uint32_t EnginePort::setSearchPath(std::string_view) {
    return 0;
}
std::uint32_t EnginePort::setDefaultFolder(std::string_view) {
    return 0;
}
std::uint32_t EnginePort::setShowDeleted(bool) {
    return 0;
}
std::uint32_t EnginePort::applicationExit() {
    return 0;
}

namespace {
EnginePort g_idle;
EnginePort* g_port = &g_idle;
} // namespace

void setEnginePort(EnginePort* port) {
    g_port = port ? port : &g_idle;
}
EnginePort& enginePort() {
    return *g_port;
}

} // namespace tables
