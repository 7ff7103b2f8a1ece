#include "spawn.h"

#include <windows.h>

namespace enginetest {
namespace {

// One argument in the quoting that the C runtime's command-line parser undoes.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    std::size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"')
            out.append(slashes * 2 + 1, '\\');
        else
            out.append(slashes, '\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, '\\');
    return out + "\"";
}

} // namespace

std::intptr_t startProcess(const std::string& program, const std::vector<std::string>& args) {
    std::string line = quoted(program);
    for (const std::string& a : args) line += " " + quoted(a);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0;
    CloseHandle(pi.hThread);
    return reinterpret_cast<std::intptr_t>(pi.hProcess);
}

int waitProcess(std::intptr_t process) {
    HANDLE h = reinterpret_cast<HANDLE>(process);
    if (WaitForSingleObject(h, INFINITE) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    BOOL ok = GetExitCodeProcess(h, &code);
    CloseHandle(h);
    return ok ? static_cast<int>(code) : -1;
}

std::string programFolder() {
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
    std::string path(buf, n);
    return path.substr(0, path.find_last_of("\\/") + 1);
}

} // namespace enginetest
