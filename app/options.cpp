#include "options.h"

#include "texts.h"

namespace app {

namespace {

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool blank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// The drive of "/UNIDAD:": one of the dialog's letters, "X" or "X:".
std::string driveLetter(std::string_view value) {
    if (value.size() == 2 && value[1] == ':') value.remove_suffix(1);
    if (value.size() != 1) return {};
    const std::string letter = upper(value);
    return letter[0] >= 'C' && letter[0] <= 'Z' && letter[0] != 'W' ? letter : std::string();
}

std::string quoted(std::string_view token) {
    return "\"" + std::string(token) + "\"";
}

} // namespace

Options parseOptions(const std::vector<std::string>& tokens) {
    Options o;
    std::vector<std::string> seen;
    std::string help;
    bool helpGiven = false;
    const auto fail = [&o](std::string sentence) {
        if (o.error.empty()) o.error = std::move(sentence);
    };
    for (const std::string& token : tokens) {
        if (token.rfind("//", 0) == 0) continue; // reserved for the runtime
        if (token.empty() || token[0] != '/') {
            if (!helpGiven) {
                helpGiven = true;
                help = token;
            } else {
                fail(std::string(kExtraArgument1) + quoted(token) + std::string(kExtraArgument2));
            }
            continue;
        }
        o.switches = true;
        const std::size_t colon = token.find(':');
        const std::string name =
            upper(token.substr(1, colon == std::string::npos ? std::string::npos : colon - 1));
        const bool hasValue = colon != std::string::npos;
        const std::string_view value =
            hasValue ? std::string_view(token).substr(colon + 1) : std::string_view();
        const bool known = name == kSwitchDrive || name == kSwitchSilent || name == kSwitchLog;
        if (!known || (name == kSwitchSilent && hasValue)) {
            fail(std::string(kUnknownSwitch1) + quoted(token) + std::string(kUnknownSwitch2));
            continue;
        }
        bool repeated = false;
        for (const std::string& s : seen) repeated = repeated || s == name;
        if (repeated) {
            fail(std::string(kRepeatedSwitch1) + quoted(token) + std::string(kRepeatedSwitch2));
            continue;
        }
        seen.push_back(name);
        if (name == kSwitchSilent) {
            o.silent = true;
        } else if (name == kSwitchDrive) {
            o.drive = driveLetter(value);
            if (o.drive.empty()) fail(std::string(kBadDrive1) + quoted(token) + std::string(kBadDrive2));
        } else {
            o.logFile = std::string(value);
            if (blank(o.logFile)) {
                o.logFile.clear();
                fail(std::string(kNoLogFile1) + quoted(token) + std::string(kNoLogFile2));
            }
        }
    }
    if (!o.switches) {
        // As ever: the first argument is the help file, whatever it holds, and the rest is ignored.
        o.helpFile = help;
        o.error.clear();
        return o;
    }
    if (!helpGiven || blank(help))
        fail(std::string(kNoHelpFile));
    else
        o.helpFile = help;
    if (o.silent && o.drive.empty()) fail(std::string(kSilentNeedsDrive));
    return o;
}

Options& options() {
    static Options o;
    return o;
}

} // namespace app
