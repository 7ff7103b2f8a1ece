#include "settings.h"

#include <cctype>
#include <vector>

namespace rt {

namespace {

struct Settings {
    bool exact = false;
    std::string dateFormat = "mm/dd/yy";
    int epoch = 1900;
    std::string path;
    std::string defaultFolder;
    bool deleted = false;
    bool century = false;
};

Settings& store() {
    static Settings s;
    return s;
}

struct Listener {
    int id;
    std::function<void(int, const Value&)> fn;
};
std::vector<Listener>& listeners() {
    static std::vector<Listener> l;
    return l;
}
int g_nextListener = 1;

void notify(int setId, const Value& value) {
    const std::vector<Listener> copy = listeners();  // a listener may unregister itself
    for (const auto& l : copy)
        if (l.fn) l.fn(setId, value);
}

// A logical setting's new value: a logical, or a string beginning with "ON" in either case.
bool toLogical(const Value& v, bool& out) {
    if (v.isLogical()) {
        out = v.asLogical();
        return true;
    }
    if (v.isString()) {
        const std::string& s = v.asString();
        out = s.size() >= 2 && std::toupper(static_cast<unsigned char>(s[0])) == 'O' &&
              std::toupper(static_cast<unsigned char>(s[1])) == 'N';
        return true;
    }
    return false;
}

// The century switch a date format implies: the first run of y's is longer than three.
bool centuryOf(const std::string& format) {
    std::size_t i = 0;
    while (i < format.size() && format[i] != 'y' && format[i] != 'Y') ++i;
    std::size_t run = 0;
    while (i < format.size() && (format[i] == 'y' || format[i] == 'Y')) ++i, ++run;
    return run > 3;
}

// The format with its first run of y's made two or four letters long.
std::string withCentury(const std::string& format, bool on) {
    std::size_t i = 0;
    while (i < format.size() && format[i] != 'y' && format[i] != 'Y') ++i;
    if (i == format.size()) return format;
    std::size_t end = i;
    while (end < format.size() && (format[end] == 'y' || format[end] == 'Y')) ++end;
    const char letter = format[i];
    return format.substr(0, i) + std::string(on ? 4 : 2, letter) + format.substr(end);
}

}  // namespace

Value SET(int n, const Value& value) {
    Settings& s = store();
    switch (n) {
    case _SET_EXACT: {
        const Value old = s.exact;
        bool b;
        if (!value.isNil() && toLogical(value, b)) {
            s.exact = b;
            notify(n, s.exact);
        }
        return old;
    }
    case _SET_DATEFORMAT: {
        const Value old = s.dateFormat;
        if (value.isString()) {
            s.dateFormat = value.asString();
            s.century = centuryOf(s.dateFormat);
            notify(n, s.dateFormat);
        }
        return old;
    }
    case _SET_EPOCH: {
        const Value old = s.epoch;
        if (value.isNumber()) {
            s.epoch = static_cast<int>(value.asInteger());
            notify(n, s.epoch);
        }
        return old;
    }
    case _SET_PATH:
    case _SET_DEFAULT: {
        std::string& text = n == _SET_PATH ? s.path : s.defaultFolder;
        const Value old = text;
        if (value.isString()) {
            text = value.asString();
            notify(n, text);
        }
        return old;
    }
    case _SET_DELETED: {
        const Value old = s.deleted;
        bool b;
        if (!value.isNil() && toLogical(value, b)) {
            s.deleted = b;
            notify(n, s.deleted);
        }
        return old;
    }
    default: return {};
    }
}

bool __SETCENTURY(const Value& value) {
    Settings& s = store();
    const bool old = s.century;
    bool on;
    if (!value.isNil() && toLogical(value, on) && on != s.century) {
        s.century = on;
        s.dateFormat = withCentury(s.dateFormat, on);
        notify(_SET_DATEFORMAT, s.dateFormat);
    }
    return old;
}

bool setExact() { return store().exact; }
const std::string& setDateFormat() { return store().dateFormat; }
int setEpoch() { return store().epoch; }
bool setDeleted() { return store().deleted; }
bool setCentury() { return store().century; }

int addSettingsListener(std::function<void(int, const Value&)> listener) {
    const int id = g_nextListener++;
    listeners().push_back({id, std::move(listener)});
    return id;
}

void removeSettingsListener(int handle) {
    auto& l = listeners();
    for (auto it = l.begin(); it != l.end(); ++it) {
        if (it->id == handle) {
            l.erase(it);
            return;
        }
    }
}

void resetSettings() { store() = Settings{}; }

}  // namespace rt
