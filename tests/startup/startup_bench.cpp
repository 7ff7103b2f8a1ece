// startup_bench: how long instayuda.exe takes from process creation to its main dialog, against
// bare_dialog.exe, a program that shows the same template from the same progdll.dll and does
// nothing else (the baseline). Run by hand, not by the suites:
//
//   startup_bench [rounds] [program] [baseline]
//
// The programs default to instayuda.exe and bare_dialog.exe beside this one; any two can be
// compared (two builds of the installer, say). Each is started in its own folder, where
// progdll.dll is, with a help-file path as its argument, which instayuda.exe does not read
// before the install button is pressed and the bare program ignores. Each round starts both, the
// one that goes first alternating from round to round; an unrecorded round first brings the
// files into the cache. A start is timed from just before CreateProcess to the moment the
// process's dialog window (a top-level "#32770") is visible. Nothing polls while the program
// starts: the platform reports the dialog's creation to this process as a window event
// (EVENT_OBJECT_CREATE, hooked out of context; Wine reports no EVENT_OBJECT_SHOW), and only from
// then on, while the dialog initialises its controls, is its visibility looked at, every
// millisecond. The dialog is then ended with its exit button (id 551) and the process waited for.
// Prints each round, each program's median, the ratio of the medians and the median of the
// rounds' own ratios.
#include "tests/bench_clock.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Watch {
    DWORD pid = 0;
    HWND dialog = nullptr;
};
Watch g_watch;

bool isDialogOf(HWND window, DWORD pid) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != pid) return false;
    if (GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD) return false;
    char name[16];
    return GetClassNameA(window, name, sizeof name) > 0 && std::string(name) == "#32770";
}

void CALLBACK onCreate(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD) {
    if (g_watch.dialog || !window || object != OBJID_WINDOW || child != CHILDID_SELF) return;
    if (isDialogOf(window, g_watch.pid)) g_watch.dialog = window;
}

// Waits up to ms milliseconds for the process to end or a message to arrive, and dispatches what
// arrived (the window events among it). True when the process has ended.
bool waitAndDispatch(HANDLE process, DWORD ms) {
    const DWORD r = MsgWaitForMultipleObjects(1, &process, FALSE, ms, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    return r == WAIT_OBJECT_0;
}

std::string folderOf(const std::string& path) {
    const auto at = path.find_last_of("\\/");
    return at == std::string::npos ? std::string(".") : path.substr(0, at);
}

std::string ownFolder() {
    char buf[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    return folderOf(std::string(buf, n));
}

// The program's file name without its folder and extension.
std::string labelOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

struct Program {
    std::string label;
    std::string path;
    std::string arguments;
};

// One start: milliseconds from CreateProcess to the dialog shown, or a negative number when the
// program could not be started or ended without showing it.
double timeStart(const Program& p) {
    std::string commandLine = "\"" + p.path + "\"" + (p.arguments.empty() ? "" : " " + p.arguments);
    const std::string folder = folderOf(p.path);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    g_watch = Watch{};
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, onCreate, 0, 0,
                                         WINEVENT_OUTOFCONTEXT);
    if (!hook) {
        std::fprintf(stderr, "cannot hook window events (error %lu)\n", GetLastError());
        return -1;
    }
    const auto start = bench::Clock::now();
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si,
                        &pi)) {
        std::fprintf(stderr, "cannot start %s (error %lu)\n", p.path.c_str(), GetLastError());
        UnhookWinEvent(hook);
        return -1;
    }
    g_watch.pid = pi.dwProcessId;
    const DWORD limit = GetTickCount() + 30000;
    auto left = [&] {
        const LONG ms = static_cast<LONG>(limit - GetTickCount());
        return ms > 0 ? static_cast<DWORD>(ms) : 0;
    };
    bool ended = false;
    while (!g_watch.dialog && !ended && left()) ended = waitAndDispatch(pi.hProcess, left());
    // The controls' creation is not to wait on this process's dispatching.
    UnhookWinEvent(hook);
    bool shown = false;
    bench::Clock::time_point shownAt;
    while (g_watch.dialog && !ended && left()) {
        if (IsWindowVisible(g_watch.dialog)) {
            shownAt = bench::Clock::now();
            shown = true;
            break;
        }
        ended = waitAndDispatch(pi.hProcess, 1);
    }
    double ms = -1;
    if (shown) {
        ms = std::chrono::duration<double, std::milli>(shownAt - start).count();
        HWND exitButton = GetDlgItem(g_watch.dialog, 551);
        PostMessageA(g_watch.dialog, WM_COMMAND, MAKEWPARAM(551, BN_CLICKED),
                     reinterpret_cast<LPARAM>(exitButton));
    } else {
        std::fprintf(stderr, "%s: %s\n", p.label.c_str(),
                     ended ? "ended without showing its dialog" : "no dialog shown in 30 s");
    }
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "%s did not end when asked; stopped\n", p.label.c_str());
        TerminateProcess(pi.hProcess, 9);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return ms;
}

// A start that failed (the platform refusing to create the process now and then on a loaded
// machine) is tried again, up to three times in all.
double timeStartTrying(const Program& p) {
    for (int attempt = 1; attempt <= 3; ++attempt) {
        const double ms = timeStart(p);
        if (ms >= 0) return ms;
        if (attempt < 3) std::fprintf(stderr, "%s: trying again\n", p.label.c_str());
    }
    return -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    const std::string here = ownFolder();
    Program programs[2] = {
        {"", argc > 2 ? argv[2] : here + "\\instayuda.exe", "C:\\norvceni.chm"},
        {"", argc > 3 ? argv[3] : here + "\\bare_dialog.exe", "C:\\norvceni.chm"},
    };
    for (Program& p : programs) p.label = labelOf(p.path);
    // Not recorded: the programs' files come into the cache, the platform's libraries too.
    for (const Program& p : programs)
        if (timeStartTrying(p) < 0) return 1;

    std::vector<double> times[2], ratios;
    std::printf("start-up to the dialog, ms (%d rounds, the first program alternating)\n", rounds);
    std::printf("round  %10s  %10s\n", programs[0].label.c_str(), programs[1].label.c_str());
    for (int round = 0; round < rounds; ++round) {
        double ms[2];
        for (int k = 0; k < 2; ++k) {
            const int which = (round % 2) ? 1 - k : k;
            ms[which] = timeStartTrying(programs[which]);
            if (ms[which] < 0) return 1;
        }
        times[0].push_back(ms[0]);
        times[1].push_back(ms[1]);
        ratios.push_back(ms[0] / ms[1]);
        std::printf("%5d  %10.1f  %10.1f\n", round + 1, ms[0], ms[1]);
        std::fflush(stdout);
    }
    const double m0 = median(times[0]), m1 = median(times[1]);
    std::printf("median %s %.1f ms, %s %.1f ms: ratio %.3f\n", programs[0].label.c_str(), m0,
                programs[1].label.c_str(), m1, m0 / m1);
    // The two starts of a round meet the same load on the machine: the median of the rounds' own
    // ratios is the steadier figure where other work comes and goes.
    std::printf("median of the rounds' ratios: %.3f\n", median(ratios));
    return 0;
}
