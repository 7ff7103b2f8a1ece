#include "msgbox.h"

#include "deferred.h"

#include <cstdio>

namespace dialogs {

namespace {

MessageBoxFunction& boxFunction() {
    static MessageBoxFunction fn;
    return fn;
}
AboutBoxFunction& aboutFunction() {
    static AboutBoxFunction fn;
    return fn;
}

int showBox(rt::Args args, const char* defaultTitle, UINT style) {
    const std::string text = args.empty() ? std::string() : msgText(args[0]);
    const std::string title = args.size() == 2 ? msgText(args[1]) : std::string(defaultTitle);
    return frameworkMessageBox(GetActiveWindow(), text, title, style);
}

} // namespace

std::string msgText(const rt::Value& v) {
    switch (v.type()) {
    case rt::Type::Nil:
        return "nil";
    case rt::Type::Integer:
        return std::to_string(v.asInteger());
    case rt::Type::Double: {
        char buf[400];
        std::snprintf(buf, sizeof buf, "%f", v.asNumber());
        return buf;
    }
    case rt::Type::Date:
        return rt::DTOC(v.asDate());
    case rt::Type::Logical:
        return v.asLogical() ? ".T." : ".F.";
    case rt::Type::String:
        return v.asString();
    case rt::Type::Array:
        return "Array";
    case rt::Type::Object:
        return "Object";
    default:
        return "ValtoChar not suported type yet";
    }
}

void MSGINFO(rt::Args args) {
    showBox(args, "Information", MB_OK | MB_ICONINFORMATION);
}
void MSGALERT(rt::Args args) {
    showBox(args, "Alert", MB_OK | MB_ICONEXCLAMATION);
}
void MSGSTOP(rt::Args args) {
    showBox(args, "Stop", MB_OK | MB_ICONSTOP);
}
bool MSGYESNO(rt::Args args) {
    return showBox(args, "Select an option", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void MSGABOUT(rt::Args args) {
    const std::string appText = args.empty() ? std::string() : msgText(args[0]);
    const std::string otherText = args.size() == 2 ? msgText(args[1]) : std::string("About");
    if (aboutFunction()) {
        aboutFunction()(GetActiveWindow(), appText, otherText);
        return;
    }
    deferred::shellAbout(GetActiveWindow(), appText.c_str(), otherText.c_str(), nullptr);
}

void setMessageBoxFunction(MessageBoxFunction fn) {
    boxFunction() = std::move(fn);
}
void setAboutBoxFunction(AboutBoxFunction fn) {
    aboutFunction() = std::move(fn);
}

int frameworkMessageBox(HWND owner, const std::string& text, const std::string& title, UINT style) {
    if (boxFunction()) return boxFunction()(owner, text, title, style);
    return MessageBoxA(owner, text.c_str(), title.c_str(), style);
}

void install() {
    rt::setMessageBoxHook([](rt::MessageKind kind, rt::Args args) -> bool {
        switch (kind) {
        case rt::MessageKind::Info:
            MSGINFO(args);
            return false;
        case rt::MessageKind::Alert:
            MSGALERT(args);
            return false;
        case rt::MessageKind::Stop:
            MSGSTOP(args);
            return false;
        case rt::MessageKind::YesNo:
            return MSGYESNO(args);
        }
        return false;
    });
}

} // namespace dialogs
