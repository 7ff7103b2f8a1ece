// uidriver: looks at and drives the windows of another program in the same Wine prefix (and the
// same desktop), as a user would. Windows are found among the top-level windows by their exact
// title, optionally of one window class; controls by their identifier. wait, gone, count, box and
// ok see visible windows only; the other commands take a hidden one when no visible one has
// that title (a dialog asked to end is hidden until its modal loop ends it). Texts are written
// as raw Windows-1252 bytes, without a line end, so that a script can compare them byte for byte.
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
//
// Arguments may carry bytes outside ASCII as \xNN (and \r, \n, \\), so that scripts pass
// Windows-1252 titles whatever the locale Wine reads its command line in.
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

struct Search {
    std::string title, className;
    bool hidden;
    std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND h, LPARAM p) {
    auto* s = reinterpret_cast<Search*>(p);
    if ((s->hidden || IsWindowVisible(h)) && titleOf(h) == s->title &&
        (s->className.empty() || classOf(h) == s->className))
        s->found.push_back(h);
    return TRUE;
}

std::vector<HWND> windows(const std::string& title, const std::string& className, bool hidden = false) {
    Search s{title, className, hidden, {}};
    EnumWindows(collect, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// The visible window of that title; with hidden, also one that is hidden (a dialog that was
// asked to end is hidden at once but lives until its program's modal loop sees the end mark).
HWND waitFor(const std::string& title, double seconds, const std::string& className = {},
             bool hidden = false) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        auto found = windows(title, className);
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

int usage() {
    std::fprintf(stderr, "usage: uidriver wait|gone|count|title|text|items|current|select|click|command|"
                         "focus|close|box|ok|rect|closebox|pid ...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string cmd = argv[1];
    const std::string title = unescape(argv[2]);
    auto arg = [&](int i) { return i < argc ? unescape(argv[i]) : std::string(); };
    auto number = [&](int i, double dflt) { return i < argc ? std::atof(argv[i]) : dflt; };
    const std::string boxClass = "#32770";

    if (cmd == "wait") return waitFor(title, number(3, 20), arg(4)) ? 0 : 1;
    if (cmd == "gone") return waitGone(title, number(3, 20), arg(4)) ? 0 : 1;
    if (cmd == "list") {
        EnumWindows(listWindow, 0);
        return 0;
    }
    if (cmd == "foreground") {
        HWND f = GetForegroundWindow();
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
        put(std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
            std::to_string(r.bottom) + "\n");
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
