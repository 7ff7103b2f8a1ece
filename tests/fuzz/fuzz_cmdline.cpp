// Command lines of any length and content: the argument table stays within its 20 entries,
// entry 0 within 248 characters, and no token keeps a quote.

#include "app/cmdline.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const app::ArgumentTable table = app::buildArgumentTable(line, line);
    if (table.count < 1 || table.count > app::ArgumentTable::kEntries) std::abort();
    if (table.entries[0].size() > app::ArgumentTable::kMaxProgramPath) std::abort();
    for (std::size_t i = 1; i < table.count; ++i)
        if (table.entries[i].find('"') != std::string::npos) std::abort();
    for (std::size_t i = table.count; i < app::ArgumentTable::kEntries; ++i)
        if (!table.entries[i].empty()) std::abort();
    const auto arguments = app::mainArguments(table);
    if (arguments.size() >= table.count) std::abort();
    return 0;
}
