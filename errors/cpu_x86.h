// The processor back end: the identification instruction and the time-stamp counter.
#pragma once

#include "errors/system_facts.h"

#include <cstdint>

namespace errors {

// Runs the identification instruction (leaves 0, 1 and 2; leaf 3 as well when leaf 1 reports
// a serial number) after checking that it exists.
CpuIdentification readCpuIdentification();

// GETCPUSPEED's measurement: counts time-stamp ticks while the performance counter (ticking
// at frequency per second, read by readCounter) advances by at least frequency / 32.
float measureCpuMhz(std::uint64_t frequency, std::uint64_t (*readCounter)());

} // namespace errors
