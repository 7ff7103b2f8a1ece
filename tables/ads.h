// The "ADS" driver's process-wide side: its table routine, its engine settings and the
// listener that mirrors the process settings into the engine. Its work areas come with the
// work-area layer.
#pragma once

#include "registry.h"

#include "runtime/value.h"

#include <cstdint>
#include <string>

namespace tables {

// The driver's table routine: method count 95, the settings listener registered (once), the
// exit step set.
int ADS_GETFUNCTABLE(std::uint16_t* count, MethodTable* table);
constexpr std::uint16_t kAdsMethodCount = 95;

// ADSSETFILETYPE([n]): answers the file type as it was; n from 1 to 3 (1 NTX, 2 CDX, 3 ADT)
// becomes the file type, anything else is ignored. Default 2.
std::int64_t ADSSETFILETYPE(const rt::Value& n = {});
// The file type in force.
int adsFileType();

// ADSSETSERVERTYPE([n]): hands n (as an unsigned 16-bit value) to the engine and answers the
// engine's result code; without an argument answers 999999 and calls nothing.
std::int64_t ADSSETSERVERTYPE(const rt::Value& n = {});

// The driver's name for a table type: "ADSNTX", "ADSCDX" or "ADSADT".
std::string adsDriverName(int tableType);

// Back to the defaults, the listener removed (for tests).
void resetAds();

} // namespace tables
