// Dynamic calls into a system library through a call descriptor: the byte string built when a
// routine is looked up, holding the routine's address, the calling-convention flag, the result
// type, the argument count and one type byte per argument. COPYFILE and GETDISKFREESPACEEX
// call the platform this way.
//
// Type codes (argument / result):
//   1, 2       16-bit integer / integer
//   3, 4, 6    32-bit integer / number (3, 4), no value (6)
//   5          logical passed as 0 or 1 / true when the routine answered non-zero
//   7, 10, 12  32-bit integer; by reference a pointer to it, written back after the call / number
//   8, 9       pointer to the string's characters; by reference the string is written back
//              whole after the call (a buffer the routine fills) / string
//   11         64-bit floating-point number (by value only) / floating-point number
#pragma once

#include "runtime/value.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace files {

// The address field: 4 bytes on 32-bit Windows as the descriptor has always stored it, and
// pointer-width (8 bytes) on 64-bit builds so that an address is never cut. A descriptor is
// therefore n + 3 + sizeof(void*) bytes long.
constexpr std::size_t kDescriptorAddressSize = sizeof(void*);

// A loaded-library handle counts as a failed load when its absolute value is 32 or less.
bool libraryLoadFailed(std::intptr_t handle);

// The descriptor of routine in a loaded library; "" when the library has no such routine.
// calleeCleans: the routine removes its own arguments (the platform's usual convention).
std::string makeCallDescriptor(std::intptr_t library, std::string_view routine, bool calleeCleans,
                               std::uint8_t resultType, std::initializer_list<std::uint8_t> argumentTypes);

// Calls through a descriptor. Argument i is passed by reference when bit i of byReference is
// set; such arguments are written back after the call. Missing arguments are passed as 0 (an
// empty string for the string types). Answers the result in the descriptor's result type; no
// value, without calling, for a malformed descriptor, one with an unknown type or more
// arguments than the platform layer passes (os::kMaxCallArguments), or one the platform
// cannot call (the POSIX back end takes no floating-point numbers).
rt::Value callDescriptor(std::string_view descriptor, std::span<rt::Value> arguments,
                         std::uint32_t byReference = 0);

// COPYFILE with the library named: what COPYFILE does with "Kernel32.dll".
rt::Value copyFileThrough(std::string_view library, const rt::Value& source, const rt::Value& target,
                          const rt::Value& failIfExists);

} // namespace files
