// The Windows program itself, started as a user would start it: without a help file it ends
// at once with exit code 0 and shows no window.

#include <gtest/gtest.h>

#include <string>

#include <windows.h>

namespace {

std::string programPath() {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string folder(self, n);
    return folder.substr(0, folder.find_last_of('\\') + 1) + "instayuda.exe";
}

struct Outcome {
    DWORD exitCode = 0xFFFFFFFF;
    bool ended = false;
    bool window = false;
};

BOOL CALLBACK findWindowOf(HWND hwnd, LPARAM param) {
    auto* state = reinterpret_cast<std::pair<DWORD, bool>*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == state->first && IsWindowVisible(hwnd)) state->second = true;
    return TRUE;
}

// Starts the program with a raw command line and waits up to 20 s for it to end, watching for
// visible windows of its own meanwhile.
Outcome start(std::string commandLine) {
    Outcome run;
    const std::string program = programPath();
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
        ADD_FAILURE() << "cannot start " << program << " (error " << GetLastError() << ")";
        return run;
    }
    for (int waited = 0; waited < 20000; waited += 20) {
        std::pair<DWORD, bool> state{pi.dwProcessId, false};
        EnumWindows(findWindowOf, reinterpret_cast<LPARAM>(&state));
        run.window = run.window || state.second;
        if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0) {
            run.ended = true;
            break;
        }
    }
    if (!run.ended) TerminateProcess(pi.hProcess, 99);
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

} // namespace

TEST(Instayuda, WithoutAHelpFileEndsAtOnceWithExitCodeZero) {
    std::string reserved = "instayuda.exe";
    for (int i = 0; i < 30; ++i) reserved += " //r" + std::to_string(i); // past the argument table too
    const std::string lines[] = {
        "instayuda.exe",
        "\"" + programPath() + "\"",
        "instayuda.exe          ",
        "instayuda.exe \t \t \t",
        "instayuda.exe \"\t \"",
        "instayuda.exe //INFO",
        "instayuda.exe //a //b //c",
        reserved,
        "instayuda.exe " + std::string(30000, ' '),
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line.substr(0, 80));
        const Outcome run = start(line);
        EXPECT_TRUE(run.ended);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_FALSE(run.window);
    }
}
