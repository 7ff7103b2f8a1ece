#include "engine_port.h"

#include "engine/engine.h"

namespace tables {

// The default port forwards to our table engine, which runs in this process.
std::uint32_t EnginePort::setServerType(std::uint16_t mask) { return engine::setServerType(mask); }
std::uint32_t EnginePort::setExact(bool exact) { return engine::setExact(exact); }
std::uint32_t EnginePort::setDateFormat(std::string_view format) { return engine::setDateFormat(format); }
std::uint32_t EnginePort::setEpoch(std::uint16_t year) { return engine::setEpoch(year); }
std::uint32_t EnginePort::setSearchPath(std::string_view path) { return engine::setSearchPath(path); }
std::uint32_t EnginePort::setDefaultFolder(std::string_view folder) { return engine::setDefault(folder); }
std::uint32_t EnginePort::setShowDeleted(bool show) { return engine::showDeleted(show); }
std::uint32_t EnginePort::applicationExit() { return engine::applicationExit(); }

namespace {
EnginePort g_engine;
EnginePort* g_port = &g_engine;
} // namespace

void setEnginePort(EnginePort* port) { g_port = port ? port : &g_engine; }
EnginePort& enginePort() { return *g_port; }

} // namespace tables
