// Where the engine's byte-range locks lie (see the lock map in engine.h), and waiting for the
// short-lived ones.
#pragma once

#include "engine/expr.h"
#include "engine/os.h"

#include <cstdint>

namespace engine::lockmap {

constexpr std::uint64_t base = std::uint64_t{1} << 32; // past every 32-bit file offset
constexpr std::uint64_t openMode = base;               // table file
constexpr std::uint64_t header = base + 1;             // table file
constexpr std::uint64_t records = base + 16;           // + record number, table file
constexpr std::uint64_t recordSpan = std::uint64_t{1} << 32;
constexpr std::uint64_t indexFile = base; // index file
constexpr std::uint64_t memoAlloc = base; // memo file

// How long a short-lived lock (header, index, memo allocation) is waited for.
constexpr unsigned waitMs = 5000;

// Takes a lock, retrying while another handle holds it, for at most waitMs milliseconds:
// 0, kLockRefused (still held elsewhere) or kIoError.
Result wait(os::File& file, std::uint64_t offset, std::uint64_t length, bool exclusive);

} // namespace engine::lockmap
