// errdriver: looks at and drives the windows of another program in the same Wine prefix, as a
// user would: waits for a window, reads its controls, clicks buttons, closes it.
//
//   errdriver wait <title> [seconds]        a visible top-level window with that title appears
//   errdriver dump <title>                  its rectangle and controls, one line each
//   errdriver click <title> <caption>       clicks the button with that caption
//   errdriver close <title>                 the close box (system menu Close)
//   errdriver escape <title>                the Escape key in the focused control
//   errdriver stopbox [seconds]             prints the text of the "Stop" box and presses OK
//   errdriver closetitled <part> [seconds]  closes a window whose title contains part
//
// With ERRDRIVER_DESKTOP set, the windows are looked for in that desktop.
//
// Exit code 0 on success, 1 when the window or control was not found in time, 2 for bad usage.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

// The text of a control, asked of its window (another program answers through its message loop).
std::string textOf(HWND h) {
    char buf[4096];
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutA(h, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000,
                             &n))
        return "";
    return std::string(buf, n < sizeof buf ? static_cast<std::size_t>(n) : 0);
}

// The title of a top-level window, as the system keeps it (never waits for its program).
std::string titleOf(HWND h) {
    char buf[1024];
    const int n = GetWindowTextA(h, buf, sizeof buf);
    return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::string classOf(HWND h) {
    char buf[256];
    const int n = GetClassNameA(h, buf, sizeof buf);
    return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

struct Search {
    std::string title;
    bool part;
    std::string className;
    HWND found;
};

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

BOOL CALLBACK findTopLevel(HWND h, LPARAM p) {
    auto* s = reinterpret_cast<Search*>(p);
    if (!IsWindowVisible(h)) return TRUE;
    if (!s->className.empty() && classOf(h) != s->className) return TRUE;
    const std::string t = titleOf(h);
    if (s->part ? lower(t).find(lower(s->title)) != std::string::npos : t == s->title) {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}

HWND findWindow(const std::string& title, bool part = false, const std::string& className = {}) {
    Search s{title, part, className, nullptr};
    EnumWindows(findTopLevel, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// Moves this thread to the desktop named by ERRDRIVER_DESKTOP, when it is set, so that the
// windows of a program running in that (virtual) desktop are the ones looked at.
bool joinDesktop() {
    const char* name = std::getenv("ERRDRIVER_DESKTOP");
    if (!name || !*name) return true;
    // Opened afresh each time: the desktop comes and goes with the program that runs in it.
    HDESK desk = OpenDesktopA(name, 0, FALSE, DESKTOP_READOBJECTS | DESKTOP_ENUMERATE | DESKTOP_WRITEOBJECTS);
    if (!desk) return false;
    if (SetThreadDesktop(desk)) return true;
    CloseDesktop(desk);
    return false;
}

HWND waitFor(const std::string& title, double seconds, bool part = false, const std::string& className = {}) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        if (joinDesktop())
            if (HWND h = findWindow(title, part, className)) return h;
        if (static_cast<LONG>(GetTickCount() - end) >= 0) return nullptr;
        Sleep(100);
    }
}

std::vector<HWND> children(HWND parent) {
    std::vector<HWND> out;
    for (HWND h = GetWindow(parent, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) out.push_back(h);
    return out;
}

HWND childWithText(HWND parent, const std::string& text) {
    for (HWND h : children(parent))
        if (textOf(h) == text) return h;
    return nullptr;
}

void dump(HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    std::printf("window %ld %ld %ld %ld %s\n", r.left, r.top, r.right, r.bottom, escaped(titleOf(w)).c_str());
    for (HWND h : children(w)) {
        RECT c{};
        GetWindowRect(h, &c);
        MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&c), 2);
        const auto style = static_cast<unsigned long>(GetWindowLongA(h, GWL_STYLE));
        const std::string cls = classOf(h);
        std::printf("control %s %08lx %ld %ld %ld %ld %s\n", cls.c_str(), style, c.left, c.top, c.right,
                    c.bottom, escaped(textOf(h)).c_str());
        if (lower(cls) == "listbox") {
            const LRESULT count = SendMessageA(h, LB_GETCOUNT, 0, 0);
            for (LRESULT i = 0; i < count; ++i) {
                // Asked in UTF-16: the platform carries that form of the text across processes.
                wchar_t wide[1024] = {};
                const LRESULT len = SendMessageW(h, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
                if (len < 0 || len >= 1024) continue;
                SendMessageW(h, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide));
                char buf[2048] = {};
                WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, nullptr, nullptr);
                std::printf("item %s\n", escaped(buf).c_str());
            }
            std::printf("selected %ld\n", static_cast<long>(SendMessageA(h, LB_GETCURSEL, 0, 0)));
        }
    }
}

int usage() {
    std::fprintf(stderr, "usage: errdriver wait|dump|click|close|escape|stopbox|closetitled ...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    _setmode(_fileno(stdout), _O_BINARY); // plain LF line ends in the files the script reads
    const std::string cmd = argv[1];
    auto arg = [&](int i) { return i < argc ? std::string(argv[i]) : std::string(); };
    auto seconds = [&](int i) { return i < argc ? std::atof(argv[i]) : 20.0; };

    if (cmd == "wait") return waitFor(arg(2), seconds(3)) ? 0 : 1;
    if (cmd == "dump" || cmd == "click" || cmd == "close" || cmd == "escape") {
        HWND w = waitFor(arg(2), 20);
        if (!w) return 1;
        if (cmd == "dump") {
            dump(w);
        } else if (cmd == "click") {
            HWND b = childWithText(w, arg(3));
            if (!b) return 1;
            PostMessageA(b, BM_CLICK, 0, 0);
        } else if (cmd == "close") {
            PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else {
            GUITHREADINFO info{};
            info.cbSize = sizeof info;
            HWND focus = GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &info) && info.hwndFocus
                             ? info.hwndFocus
                             : w;
            PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        }
        std::fflush(stdout);
        return 0;
    }
    if (cmd == "stopbox") {
        HWND w = waitFor("Stop", seconds(2), false, "#32770");
        if (!w) return 1;
        std::printf("stop %s\n", escaped(textOf(GetDlgItem(w, 0xFFFF))).c_str());
        std::fflush(stdout);
        PostMessageA(GetDlgItem(w, IDOK), BM_CLICK, 0, 0);
        return 0;
    }
    if (cmd == "closetitled") {
        HWND w = waitFor(arg(2), seconds(3), true);
        if (!w) return 1;
        std::printf("found %s\n", escaped(titleOf(w)).c_str());
        std::fflush(stdout);
        PostMessageA(w, WM_CLOSE, 0, 0);
        return 0;
    }
    return usage();
}
