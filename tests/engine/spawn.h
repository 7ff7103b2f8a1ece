// Starting and waiting for other processes in the multi-process tests (one back end per
// operating system: spawn_posix.cpp, spawn_win32.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace enginetest {

// Starts program (a path) with the arguments; 0 when it could not be started.
std::intptr_t startProcess(const std::string& program, const std::vector<std::string>& args);
// Waits for a started process to end and answers its exit code (-1 when waiting failed).
int waitProcess(std::intptr_t process);
// The folder of the running program, with a trailing separator.
std::string programFolder();

} // namespace enginetest
