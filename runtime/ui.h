// The message boxes belong to the dialog framework. Modules below it (file services, table
// layer) and portable code reach them through these hooks, which the framework installs at
// start-up. Until then, and in programs without windows, the text goes to the error output.
#pragma once

#include "value.h"

#include <functional>

namespace rt {

enum class MessageKind { Info, Alert, Stop, YesNo };

// Shows a message box of the given kind with the arguments as the caller gave them (so the
// box applies its own argument-count rules). Answers true only for "Yes" of a YesNo box.
using MessageBoxHook = std::function<bool(MessageKind, Args)>;
void setMessageBoxHook(MessageBoxHook hook);
const MessageBoxHook& messageBoxHook();
bool showMessageBox(MessageKind kind, Args args);

template <class... A>
bool showMessage(MessageKind kind, A&&... a) {
    const Value args[] = {Value(std::forward<A>(a))..., Value()};
    return showMessageBox(kind, Args(args, sizeof...(A)));
}

}  // namespace rt
