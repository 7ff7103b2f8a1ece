// The framework's message boxes, owned by the window that is active at the moment of the call.
//
// MSGINFO, MSGALERT, MSGSTOP and MSGYESNO take (text, title): the text is argument 1 (empty when
// there is none); the title is argument 2 only when exactly two arguments are given, else the
// box's default title ("Information", "Alert", "Stop", "Select an option"). Values that are not
// strings are shown through msgText.
#pragma once

#include "dialogs/common.h"

#include <functional>
#include <string>

namespace dialogs {

// The text a message box shows for a value: "nil", decimal integers, "%f" for floating-point
// numbers, dates in the date format in force, ".T."/".F.", strings unchanged, "Array",
// "Object", and "ValtoChar not suported type yet" for anything else.
std::string msgText(const rt::Value& v);

void MSGINFO(rt::Args args);
void MSGALERT(rt::Args args);
void MSGSTOP(rt::Args args);
bool MSGYESNO(rt::Args args); // true when the user chose Yes
// The platform's about box: appText (default empty) and, only with exactly two arguments,
// otherText (else "About").
void MSGABOUT(rt::Args args);

template <class... A> void MSGINFO(A&&... a) {
    const rt::Value args[] = {rt::Value(std::forward<A>(a))..., rt::Value()};
    MSGINFO(rt::Args(args, sizeof...(A)));
}
template <class... A> void MSGALERT(A&&... a) {
    const rt::Value args[] = {rt::Value(std::forward<A>(a))..., rt::Value()};
    MSGALERT(rt::Args(args, sizeof...(A)));
}
template <class... A> void MSGSTOP(A&&... a) {
    const rt::Value args[] = {rt::Value(std::forward<A>(a))..., rt::Value()};
    MSGSTOP(rt::Args(args, sizeof...(A)));
}
template <class... A> bool MSGYESNO(A&&... a) {
    const rt::Value args[] = {rt::Value(std::forward<A>(a))..., rt::Value()};
    return MSGYESNO(rt::Args(args, sizeof...(A)));
}
template <class... A> void MSGABOUT(A&&... a) {
    const rt::Value args[] = {rt::Value(std::forward<A>(a))..., rt::Value()};
    MSGABOUT(rt::Args(args, sizeof...(A)));
}

// Every message box of the framework goes through these two functions (MessageBoxA and
// ShellAboutA by default). Tests replace them to see text, title and style without a window;
// an empty function restores the platform's.
using MessageBoxFunction =
    std::function<int(HWND owner, const std::string& text, const std::string& title, UINT style)>;
void setMessageBoxFunction(MessageBoxFunction fn);
int frameworkMessageBox(HWND owner, const std::string& text, const std::string& title, UINT style);

using AboutBoxFunction =
    std::function<int(HWND owner, const std::string& appText, const std::string& otherText)>;
void setAboutBoxFunction(AboutBoxFunction fn);

// Start-up: makes these boxes the runtime's message boxes, so portable code (file services,
// table layer, error handler) reaches them through rt::showMessage.
void install();

} // namespace dialogs
