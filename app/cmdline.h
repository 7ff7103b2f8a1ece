// The command line: the part after the program name, its tokens, and the argument table the
// start-up fills once.
#pragma once

#include "runtime/value.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// The part of a command line after the program name (quoted or not) and the blanks (spaces,
// tabs) that follow it.
std::string commandTail(std::string_view commandLine);

// Splits a command tail into tokens. Spaces separate tokens (a run of them is one separator;
// tabs are not separators); a double-quoted stretch may hold spaces and its quotes are
// removed, so "C:\Mis documentos\ayuda.chm" in quotes is one token. Spaces at the end make no
// empty token.
std::vector<std::string> splitCommandLine(std::string_view tail);

// The argument table: entry 0 is the program's path (at most 248 characters), then up to 19
// tokens. Tokens beyond the 19th are dropped; nothing is written past the table.
struct ArgumentTable {
    static constexpr std::size_t kEntries = 20;
    static constexpr std::size_t kMaxProgramPath = 248;
    std::array<std::string, kEntries> entries;
    std::size_t count = 0;   // entries used, the program path included
    std::size_t dropped = 0; // tokens that did not fit
};

ArgumentTable buildArgumentTable(std::string_view programPath, std::string_view commandLine);

// The arguments MAIN receives: the tokens after entry 0 that do not begin with "//" (those are
// reserved for the runtime), in order.
std::vector<rt::Value> mainArguments(const ArgumentTable& table);

} // namespace app
