#include "cmdline.h"

namespace app {

namespace {
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
} // namespace

std::string commandTail(std::string_view commandLine) {
    std::size_t i = 0;
    if (!commandLine.empty() && commandLine[0] == '"') {
        const std::size_t close = commandLine.find('"', 1);
        i = close == std::string_view::npos ? commandLine.size() : close + 1;
    } else {
        while (i < commandLine.size() && !isBlank(commandLine[i])) ++i;
    }
    while (i < commandLine.size() && isBlank(commandLine[i])) ++i;
    return std::string(commandLine.substr(i));
}

std::vector<std::string> splitCommandLine(std::string_view tail) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    for (;;) {
        while (i < tail.size() && tail[i] == ' ') ++i;
        if (i == tail.size()) break;
        std::string token;
        bool quoted = false;
        for (; i < tail.size(); ++i) {
            const char c = tail[i];
            if (c == '"') {
                quoted = !quoted;
            } else if (c == ' ' && !quoted) {
                break;
            } else {
                token += c;
            }
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

ArgumentTable buildArgumentTable(std::string_view programPath, std::string_view commandLine) {
    ArgumentTable table;
    table.entries[0] = std::string(programPath.substr(0, ArgumentTable::kMaxProgramPath));
    table.count = 1;
    for (std::string& token : splitCommandLine(commandTail(commandLine))) {
        if (table.count == ArgumentTable::kEntries) {
            ++table.dropped;
            continue;
        }
        table.entries[table.count++] = std::move(token);
    }
    return table;
}

std::vector<rt::Value> mainArguments(const ArgumentTable& table) {
    std::vector<rt::Value> out;
    for (std::size_t i = 1; i < table.count; ++i)
        if (table.entries[i].rfind("//", 0) != 0) out.emplace_back(table.entries[i]);
    return out;
}

} // namespace app
