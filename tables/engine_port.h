// What the "ADS" driver asks of the table engine outside the work areas: the server type, the
// process settings it mirrors, and the end of the program. The base class forwards each call
// to our table engine (engine/engine.h); tests put a recording port in its place.
#pragma once

#include <cstdint>
#include <string_view>

namespace tables {

// Every call answers the engine's result code, 0 meaning success.
class EnginePort {
  public:
    virtual ~EnginePort() = default;
    // The engine's server-type mask: 1 local server, 2 remote server, 4 internet server.
    virtual std::uint32_t setServerType(std::uint16_t mask);
    virtual std::uint32_t setExact(bool exact);
    virtual std::uint32_t setDateFormat(std::string_view format);
    virtual std::uint32_t setEpoch(std::uint16_t year);
    virtual std::uint32_t setSearchPath(std::string_view path);
    virtual std::uint32_t setDefaultFolder(std::string_view folder);
    virtual std::uint32_t setShowDeleted(bool show);
    virtual std::uint32_t applicationExit();
};

// Installs a port in place of the engine (null puts the engine back). The port must outlive its
// use; the registry does not own it.
void setEnginePort(EnginePort* port);
EnginePort& enginePort();

} // namespace tables
