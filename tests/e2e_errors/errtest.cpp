// errtest: a small program that starts like the installer (start time, message boxes, the
// error handler) and raises the error named on its command line, so the end-to-end suite can
// watch the handler from outside: the report, the dialog, the stop box and the exit code.
//
// What the program learns along the way goes to "result.txt" in the current folder, one
// "key=value" line at a time; the process's error output goes to "errout.txt".
#include "dialogs/dialogs.h"
#include "errors/errorsys.h"
#include "runtime/runtime.h"

#include <cstdio>
#include <functional>
#include <map>
#include <string>

namespace {

void note(const std::string& key, const std::string& value) {
    if (std::FILE* f = std::fopen("result.txt", "ab")) {
        std::fprintf(f, "%s=%s\n", key.c_str(), value.c_str());
        std::fclose(f);
    }
}

const char* recoveryName(rt::Recovery::Kind k) {
    switch (k) {
    case rt::Recovery::Retry:
        return "retry";
    case rt::Recovery::Default:
        return "default";
    case rt::Recovery::Substitute:
        return "substitute";
    }
    return "?";
}

// A table open error as the DBF drivers raise it, with the recovery flags asked for.
rt::ErrorPtr openError(int osCode, bool canRetry, bool canDefault) {
    auto e = rt::makeError(rt::EG_OPEN, 1001, "USE", 0, "DBFCDX");
    e->FileName = "clientes.dbf";
    e->OsCode = osCode;
    e->CanRetry = canRetry;
    e->CanDefault = canDefault;
    return e;
}

// Raises e from a routine of its own, noting each answer, until the answer is not a retry.
void openTable(const rt::ErrorPtr& e) {
    const rt::Value file = e->FileName;
    rt::Frame frame("ABRETABLA", {&file});
    rt::Value attempt = 0;
    frame.local(attempt);
    for (;;) {
        attempt = attempt.asInteger() + 1;
        note("attempt", std::to_string(attempt.asInteger()));
        RT_LINE();
        const rt::Recovery r = rt::launchError(e);
        note("recovery", recoveryName(r.kind));
        if (r.kind != rt::Recovery::Retry) return;
    }
}

// Runs body inside a modal dialog's initialisation, so that an event loop is running; the
// dialog ends when body returns.
void insideEventLoop(const std::function<void()>& body) {
    dialogs::TDialog::NewArgs n;
    n.cCaption = "errtest host";
    n.nWidth = 240;
    n.nHeight = 80;
    const auto host = dialogs::TDialog::New(n);
    dialogs::TDialog::ActivateArgs a;
    a.bInit = rt::makeBlock("ERRTEST", [body](rt::Args args) {
        note("eventloop", rt::LWRUNNING() ? ".t." : ".f.");
        body();
        if (auto d = args.empty() ? nullptr : args[0].objectAs<dialogs::TDialog>()) d->End();
        return rt::Value(true);
    });
    host->Activate(a);
}

// An error block that raises a new error every time it is called, to pile up launches.
rt::Value recursiveBlock() {
    return rt::makeBlock("ERRTEST", [](rt::Args) -> rt::Value {
        note("depth", std::to_string(rt::errorLaunchDepth()));
        rt::launchError(rt::makeError(rt::EG_ARG, 9999, "AGAIN"));
        return false;
    });
}

int run(const std::string& command) {
    rt::Value cmd = command;
    rt::Frame main("MAIN", {&cmd});
    RT_LINE();

    static const std::map<std::string, std::function<void()>> commands{
        // Division by zero: 0, silently.
        {"zerodiv",
         [] {
             RT_LINE();
             const rt::Value q =
                 rt::raiseSubstitutable(rt::makeError(rt::EG_ZERODIV, 1340, "/", rt::makeArray({10, 0})));
             note("quotient", rt::CVALTOCHAR(q));
         }},
        // A table open refused by another process: NETERR() and the default.
        {"neterr",
         [] {
             rt::NETERR(false);
             openTable(openError(32, true, true));
             note("neterr", rt::NETERR() ? ".t." : ".f.");
         }},
        // An argument error: the dialog offers only Quit.
        {"argerror",
         [] {
             RT_LINE();
             rt::UPPER(5);
             note("after", "returned");
         }},
        // Dialogs with 2 and 3 buttons; the answers before any event loop runs.
        {"retry", [] { openTable(openError(2, true, false)); }},
        {"default", [] { openTable(openError(2, false, true)); }},
        {"both", [] { openTable(openError(2, true, true)); }},
        // The same open errors while a modal dialog's loop runs.
        {"retry-loop", [] { insideEventLoop([] { openTable(openError(2, true, false)); }); }},
        {"both-loop", [] { insideEventLoop([] { openTable(openError(2, true, true)); }); }},
        // A description with an ampersand and an accented letter.
        {"ampersand",
         [] {
             auto e = rt::makeError(rt::EG_ARG, 1108, "AT", rt::makeArray({"A&B"}));
             e->Description = "Argument error A&B in a\xF1o";
             RT_LINE();
             rt::launchError(e);
         }},
        // A template the program does not have: framework error 3.
        {"notemplate",
         [] {
             dialogs::TDialog::NewArgs n;
             n.cResName = "PRINCIPAL";
             RT_LINE();
             dialogs::TDialog::New(n)->Activate();
             note("after", "returned");
         }},
        // The runtime's unrecoverable errors.
        {"unrecoverable-9001",
         [] {
             rt::ERRORBLOCK(rt::makeBlock("ERRTEST", [](rt::Args) { return rt::Value(false); }));
             rt::launchError(rt::makeError(rt::EG_ARG, 1108, "AT"));
         }},
        {"unrecoverable-9003",
         [] {
             rt::ERRORBLOCK(recursiveBlock());
             rt::launchError(rt::makeError(rt::EG_ARG, 1108, "AT"));
         }},
    };

    if (command == "unrecoverable-9002") {
        // No error block at all: the start-up never installed one.
        rt::launchError(rt::makeError(rt::EG_ARG, 1108, "AT"));
        return 0;
    }
    errors::ERRORSYS();
    const auto it = commands.find(command);
    if (it == commands.end()) {
        note("unknown", command);
        return 3;
    }
    it->second();
    note("end", "normal");
    return static_cast<int>(rt::ERRORLEVEL());
}

} // namespace

int main(int argc, char** argv) {
    rt::INITTIME();
    rt::setErrorOutput([](std::string_view text) {
        if (std::FILE* f = std::fopen("errout.txt", "ab")) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
    });
    dialogs::install();
    rt::SET(rt::_SET_DATEFORMAT, "dd-mm-yy");
    const std::string command = argc > 1 ? argv[1] : "";
    note("start", command);
    rt::shutdownAndExit(run(command));
}
