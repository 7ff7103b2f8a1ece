#include "ui.h"

#include "error.h"
#include "strings.h"

namespace rt {

namespace {
MessageBoxHook& hook() {
    static MessageBoxHook h;
    return h;
}
}  // namespace

void setMessageBoxHook(MessageBoxHook h) { hook() = std::move(h); }
const MessageBoxHook& messageBoxHook() { return hook(); }

bool showMessageBox(MessageKind kind, Args args) {
    if (hook()) return hook()(kind, args);
    // No window system: the text goes to the error output, one line per box.
    std::string line;
    for (const Value& v : args) {
        if (!line.empty()) line += " | ";
        line += CVALTOCHAR(v);
    }
    writeErrorOutput(line + "\n");
    return false;
}

}  // namespace rt
