// uidriver: looks at and drives the windows of another program in the same Wine prefix (and the
// same desktop), as a user would. Windows are found among the top-level windows by their exact
// title (closetitled: by a part of it), optionally of one window class; controls by their
// identifier or caption. wait, gone, count, box, ok and closetitled see visible windows only;
// the other commands take a hidden one when no visible one has that title (a dialog asked to end
// is hidden until its modal loop ends it). Texts are written as raw Windows-1252 bytes, without a
// line end, so that a script can compare them byte for byte.
//
//   uidriver wait <title> [seconds] [class]    the window appears (default 20 s)
//   uidriver gone <title> [seconds] [class]    no such window is left (default 20 s)
//   uidriver count <title> [class]             prints how many such windows there are
//   uidriver title <title> [class]             prints its title as the system keeps it
//   uidriver text <title> <id> [class]         prints the text of its control <id> (WM_GETTEXT)
//   uidriver items <title> <id>                prints the items of combo box <id>, one per line
//   uidriver current <title> <id>              prints the selected item of combo box <id>
//   uidriver select <title> <id> <item>        selects <item> and tells the dialog (CBN_SELCHANGE)
//   uidriver click <title> <id> [class]        posts BM_CLICK to its button <id>
//   uidriver command <title> <id>              posts WM_COMMAND BN_CLICKED of <id> to the window
//   uidriver focus <title> <id>                moves the dialog's focus to control <id>
//   uidriver send <title> <msg> [w] [l]        sends a message to the window, prints its answer
//   uidriver close <title>                     posts the system menu's Close
//   uidriver box <title> [seconds]             prints the text of a message box (static 0xFFFF)
//   uidriver ok <title> [seconds]              presses a message box's OK button
//   uidriver rect <title> [id]                 prints "left top right bottom" in screen pixels
//   uidriver closebox <title>                  prints "x y" of a point on its close box
//   uidriver pid <title> [class]               prints the id of the process that owns it
//   uidriver foreground -                      prints "class<TAB>title" of the foreground window
//   uidriver list -                            prints "class<TAB>title" of every visible window
//   uidriver dump <title>                      prints its rectangle and controls, one line each
//   uidriver press <title> <caption>           posts BM_CLICK to its button with that caption
//   uidriver escape <title>                    posts the Escape key to its focused control
//   uidriver closetitled <part> [seconds]      posts WM_CLOSE to a visible window whose title
//                                              contains <part> (any case); prints its title
//   uidriver watch <seconds> <program> [arg...] [-- <program> [arg...]]...
//                                              starts each program in turn (its arguments taken
//                                              as they are, quoted when they hold blanks) and
//                                              watches its windows until it ends: prints "shown
//                                              <class>\t<title>" for each window of it that was
//                                              shown (a window event) or seen visible (polled
//                                              every 20 ms), once each, then "exit <code>"; exit
//                                              code 1 (that program ended, the rest not started)
//                                              when one outlives <seconds>
//
// dump writes "window <left> <top> <right> <bottom> <title>" (screen pixels), then for each
// control "control <class> <style in hex> <left> <top> <right> <bottom> <text>" (the rectangle
// in the window's client coordinates) and, after a list box, "item <text>" per item and
// "selected <index>". CR and LF in these texts are written as \r and \n, one line each.
//
// Arguments may carry bytes outside ASCII as \xNN (and \r, \n, \\), so that scripts pass
// Windows-1252 titles whatever the locale Wine reads its command line in.
//
// With UIDRIVER_DESKTOP set, the windows are looked for in the desktop of that name (such as one
// that "explorer /desktop=<name>,<size> program" runs a program in) instead of the driver's own.
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

constexpr UINT kTimeoutMs = 3000;

std::string classOf(HWND h) {
    char buf[256];
    const int n = GetClassNameA(h, buf, sizeof buf);
    return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// The title of a top-level window as the system keeps it (never waits for its program).
std::string titleOf(HWND h) {
    char buf[1024];
    const int n = GetWindowTextA(h, buf, sizeof buf);
    return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// Texts of another program's controls are asked for in UTF-16, the form the platform carries
// across processes, and turned into the ANSI code page here.
std::string narrow(const std::wstring& w) {
    if (w.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring widen(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

bool ask(HWND h, UINT msg, WPARAM w, LPARAM l, DWORD_PTR& result) {
    return SendMessageTimeoutW(h, msg, w, l, SMTO_ABORTIFHUNG, kTimeoutMs, &result) != 0;
}

std::string textOf(HWND h) {
    DWORD_PTR len = 0;
    if (!ask(h, WM_GETTEXTLENGTH, 0, 0, len)) return {};
    std::wstring buf(static_cast<std::size_t>(len) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!ask(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), got)) return {};
    buf.resize(got < buf.size() ? static_cast<std::size_t>(got) : 0);
    return narrow(buf);
}

std::string comboItem(HWND combo, WPARAM i) {
    DWORD_PTR len = 0;
    if (!ask(combo, CB_GETLBTEXTLEN, i, 0, len) || static_cast<LRESULT>(len) == CB_ERR) return {};
    std::wstring buf(static_cast<std::size_t>(len) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!ask(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buf.data()), got) ||
        static_cast<LRESULT>(got) == CB_ERR)
        return {};
    buf.resize(static_cast<std::size_t>(got));
    return narrow(buf);
}

std::string listItem(HWND list, WPARAM i) {
    DWORD_PTR len = 0;
    if (!ask(list, LB_GETTEXTLEN, i, 0, len) || static_cast<LRESULT>(len) == LB_ERR) return {};
    std::wstring buf(static_cast<std::size_t>(len) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!ask(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buf.data()), got) ||
        static_cast<LRESULT>(got) == LB_ERR)
        return {};
    buf.resize(static_cast<std::size_t>(got));
    return narrow(buf);
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Moves this thread to the desktop named by UIDRIVER_DESKTOP, when it is set, so that the
// windows of a program running in that (virtual) desktop are the ones looked at.
bool joinDesktop() {
    const char* name = std::getenv("UIDRIVER_DESKTOP");
    if (!name || !*name) return true;
    // Opened afresh each time: the desktop comes and goes with the program that runs in it.
    HDESK desk = OpenDesktopA(name, 0, FALSE, DESKTOP_READOBJECTS | DESKTOP_ENUMERATE | DESKTOP_WRITEOBJECTS);
    if (!desk) return false;
    if (SetThreadDesktop(desk)) return true;
    CloseDesktop(desk);
    return false;
}

// A title matches exactly, or with part, when it contains the text in any case.
struct Search {
    std::string title, className;
    bool hidden, part;
    std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND h, LPARAM p) {
    auto* s = reinterpret_cast<Search*>(p);
    if (!s->hidden && !IsWindowVisible(h)) return TRUE;
    if (!s->className.empty() && classOf(h) != s->className) return TRUE;
    const std::string t = titleOf(h);
    if (s->part ? lower(t).find(lower(s->title)) != std::string::npos : t == s->title) s->found.push_back(h);
    return TRUE;
}

std::vector<HWND> windows(const std::string& title, const std::string& className, bool hidden = false,
                          bool part = false) {
    Search s{title, className, hidden, part, {}};
    if (joinDesktop()) EnumWindows(collect, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// The visible window of that title; with hidden, also one that is hidden (a dialog that was
// asked to end is hidden at once but lives until its program's modal loop sees the end mark).
HWND waitFor(const std::string& title, double seconds, const std::string& className = {}, bool hidden = false,
             bool part = false) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        auto found = windows(title, className, false, part);
        if (found.empty() && hidden) found = windows(title, className, true);
        if (!found.empty()) return found.front();
        if (static_cast<LONG>(GetTickCount() - end) >= 0) return nullptr;
        Sleep(50);
    }
}

bool waitGone(const std::string& title, double seconds, const std::string& className) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    while (!windows(title, className).empty()) {
        if (static_cast<LONG>(GetTickCount() - end) >= 0) return false;
        Sleep(50);
    }
    return true;
}

void put(const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fflush(stdout);
}

BOOL CALLBACK listWindow(HWND h, LPARAM) {
    if (IsWindowVisible(h)) put(classOf(h) + "\t" + titleOf(h) + "\n");
    return TRUE;
}

// A text on one line: CR and LF written as \r and \n.
std::string oneLine(const std::string& s) {
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

std::string rectText(const RECT& r) {
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
           std::to_string(r.bottom);
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

// The window and its controls in the order the system keeps them (the tab order of a dialog).
void dump(HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    put("window " + rectText(r) + " " + oneLine(titleOf(w)) + "\n");
    for (HWND h : children(w)) {
        RECT c{};
        GetWindowRect(h, &c);
        MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&c), 2);
        char style[16];
        std::snprintf(style, sizeof style, "%08lx", static_cast<unsigned long>(GetWindowLongA(h, GWL_STYLE)));
        const std::string cls = classOf(h);
        put("control " + cls + " " + style + " " + rectText(c) + " " + oneLine(textOf(h)) + "\n");
        if (lower(cls) != "listbox") continue;
        DWORD_PTR count = 0, sel = 0;
        if (!ask(h, LB_GETCOUNT, 0, 0, count) || static_cast<LRESULT>(count) == LB_ERR) count = 0;
        for (DWORD_PTR i = 0; i < count; ++i) put("item " + oneLine(listItem(h, i)) + "\n");
        if (!ask(h, LB_GETCURSEL, 0, 0, sel)) sel = static_cast<DWORD_PTR>(LB_ERR);
        put("selected " + std::to_string(static_cast<long long>(static_cast<LRESULT>(sel))) + "\n");
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char next = s[i + 1];
        if (next == 'x' && i + 3 < s.size() && hexDigit(s[i + 2]) >= 0 && hexDigit(s[i + 3]) >= 0) {
            out += static_cast<char>(hexDigit(s[i + 2]) * 16 + hexDigit(s[i + 3]));
            i += 3;
        } else if (next == 'r' || next == 'n' || next == '\\') {
            out += next == 'r' ? '\r' : next == 'n' ? '\n' : '\\';
            ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

// ---- watch: a program's windows from its start to its end -----------------------------------

struct Watched {
    DWORD pid = 0;
    std::vector<HWND> seen;
};
Watched g_watched;

void noteWindow(HWND h) {
    for (HWND s : g_watched.seen)
        if (s == h) return;
    g_watched.seen.push_back(h);
    put("shown " + classOf(h) + "\t" + titleOf(h) + "\n");
}

void CALLBACK windowEvent(HWINEVENTHOOK, DWORD, HWND h, LONG object, LONG, DWORD, DWORD) {
    if (h && object == OBJID_WINDOW && GetAncestor(h, GA_ROOT) == h) noteWindow(h);
}

BOOL CALLBACK pollWindow(HWND h, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == g_watched.pid && IsWindowVisible(h)) noteWindow(h);
    return TRUE;
}

// One program, from its start to its end; false when it outlived the time and was ended.
bool watchOne(double seconds, const std::vector<std::string>& run) {
    std::string commandLine = "\"" + run[0] + "\"";
    for (std::size_t i = 1; i < run.size(); ++i)
        commandLine +=
            run[i].find_first_of(" \t") == std::string::npos ? " " + run[i] : " \"" + run[i] + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &si, &pi)) {
        std::fprintf(stderr, "watch: cannot start %s (error %lu)\n", commandLine.c_str(), GetLastError());
        put("exit none\n");
        return true;
    }
    g_watched.pid = pi.dwProcessId;
    g_watched.seen.clear();
    // Every top-level window of the program that is shown, however briefly, as an event; what
    // stays visible, by polling as well.
    const HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, nullptr, windowEvent,
                                               pi.dwProcessId, 0, WINEVENT_OUTOFCONTEXT);
    ResumeThread(pi.hThread);
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    bool ended = false;
    while (!ended) {
        EnumWindows(pollWindow, 0);
        const DWORD r = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        ended = r == WAIT_OBJECT_0;
        if (!ended && static_cast<LONG>(GetTickCount() - end) >= 0) break;
    }
    if (hook) UnhookWinEvent(hook);
    if (!ended) {
        TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    put("exit " + std::to_string(code) + "\n");
    return ended;
}

int watch(int argc, char** argv) {
    if (argc < 4) return 2;
    const double seconds = std::atof(argv[2]);
    std::vector<std::string> run;
    for (int i = 3; i <= argc; ++i) {
        if (i < argc && std::string(argv[i]) != "--") {
            run.push_back(argv[i]);
            continue;
        }
        if (!run.empty() && !watchOne(seconds, run)) return 1;
        run.clear();
    }
    return 0;
}

int usage() {
    std::fprintf(stderr, "usage: uidriver wait|gone|count|title|text|items|current|select|click|command|"
                         "focus|send|close|box|ok|rect|closebox|pid|foreground|list|dump|press|escape|"
                         "closetitled ...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string cmd = argv[1];
    if (cmd == "watch") return watch(argc, argv);
    const std::string title = unescape(argv[2]);
    auto arg = [&](int i) { return i < argc ? unescape(argv[i]) : std::string(); };
    auto number = [&](int i, double dflt) { return i < argc ? std::atof(argv[i]) : dflt; };
    const std::string boxClass = "#32770";

    if (cmd == "wait") return waitFor(title, number(3, 20), arg(4)) ? 0 : 1;
    if (cmd == "gone") return waitGone(title, number(3, 20), arg(4)) ? 0 : 1;
    if (cmd == "list") {
        if (joinDesktop()) EnumWindows(listWindow, 0);
        return 0;
    }
    if (cmd == "foreground") {
        HWND f = joinDesktop() ? GetForegroundWindow() : nullptr;
        put(f ? classOf(f) + "\t" + titleOf(f) + "\n" : std::string("none\n"));
        return 0;
    }
    if (cmd == "count") {
        put(std::to_string(windows(title, arg(3)).size()) + "\n");
        return 0;
    }
    if (cmd == "box" || cmd == "ok") {
        HWND box = waitFor(title, number(3, 20), boxClass);
        if (!box) return 1;
        if (cmd == "box")
            put(textOf(GetDlgItem(box, 0xFFFF)));
        else
            PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        return 0;
    }
    if (cmd == "closetitled") {
        HWND w = waitFor(title, number(3, 20), {}, false, true);
        if (!w) return 1;
        put(titleOf(w));
        PostMessageA(w, WM_CLOSE, 0, 0);
        return 0;
    }

    const bool classArg = cmd == "title" || cmd == "pid";
    HWND w = waitFor(title, 20,
                     classArg                            ? arg(3)
                     : (cmd == "text" || cmd == "click") ? arg(4)
                                                         : std::string(),
                     true);
    if (!w) return 1;
    auto control = [&](int i) -> HWND { return GetDlgItem(w, std::atoi(arg(i).c_str())); };

    if (cmd == "title") {
        put(titleOf(w));
        return 0;
    }
    if (cmd == "pid") {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        put(std::to_string(pid) + "\n");
        return 0;
    }
    if (cmd == "send") {
        DWORD_PTR result = 0;
        if (!ask(w, static_cast<UINT>(std::strtoul(arg(3).c_str(), nullptr, 0)),
                 static_cast<WPARAM>(std::strtoull(arg(4).c_str(), nullptr, 0)),
                 static_cast<LPARAM>(std::strtoll(arg(5).c_str(), nullptr, 0)), result))
            return 1;
        put(std::to_string(static_cast<long long>(result)) + "\n");
        return 0;
    }
    if (cmd == "close") {
        PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    }
    if (cmd == "dump") {
        dump(w);
        return 0;
    }
    if (cmd == "press") {
        HWND b = childWithText(w, arg(3));
        if (!b) return 1;
        PostMessageA(b, BM_CLICK, 0, 0);
        return 0;
    }
    if (cmd == "escape") {
        // To the control that has the keyboard focus in the window's thread, as a key press
        // would go; to the window itself when that thread has no focus.
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        HWND focus = GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &info) && info.hwndFocus
                         ? info.hwndFocus
                         : w;
        PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        return 0;
    }
    if (cmd == "closebox") {
        // Walks the caption from the right edge until the window answers "close box".
        RECT r{};
        GetWindowRect(w, &r);
        const int captionY = r.top + GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYSIZE) / 2;
        for (int x = r.right - 1; x > r.right - 60; --x) {
            DWORD_PTR hit = 0;
            if (ask(w, WM_NCHITTEST, 0, MAKELPARAM(x, captionY), hit) && hit == HTCLOSE) {
                // The middle of the glyph: a few pixels further in.
                put(std::to_string(x - 6) + " " + std::to_string(captionY) + "\n");
                return 0;
            }
        }
        return 1;
    }
    if (cmd == "rect") {
        HWND target = argc > 3 ? control(3) : w;
        if (!target) return 1;
        RECT r{};
        GetWindowRect(target, &r);
        put(rectText(r) + "\n");
        return 0;
    }

    if (argc < 4) return usage();
    HWND c = control(3);
    if (!c) return 1;
    const int id = std::atoi(arg(3).c_str());
    if (cmd == "text") {
        put(textOf(c));
        return 0;
    }
    if (cmd == "items") {
        DWORD_PTR count = 0;
        if (!ask(c, CB_GETCOUNT, 0, 0, count)) return 1;
        for (DWORD_PTR i = 0; i < count; ++i) put(comboItem(c, i) + "\n");
        return 0;
    }
    if (cmd == "current") {
        DWORD_PTR sel = 0;
        if (!ask(c, CB_GETCURSEL, 0, 0, sel) || static_cast<LRESULT>(sel) == CB_ERR) return 1;
        put(comboItem(c, sel));
        return 0;
    }
    if (cmd == "select") {
        const std::wstring item = widen(arg(4));
        DWORD_PTR index = 0;
        if (!ask(c, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(item.c_str()),
                 index) ||
            static_cast<LRESULT>(index) == CB_ERR)
            return 1;
        DWORD_PTR done = 0;
        ask(c, CB_SETCURSEL, index, 0, done);
        // A choice made by the user reaches the dialog as this notification.
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(c));
        return 0;
    }
    if (cmd == "click") {
        PostMessageA(c, BM_CLICK, 0, 0);
        return 0;
    }
    if (cmd == "command") {
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(c));
        return 0;
    }
    if (cmd == "focus") {
        PostMessageA(w, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(c), TRUE);
        return 0;
    }
    return usage();
}
