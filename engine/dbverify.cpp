// dbverify TABLE...: checks each table against its memo file and its structural index and
// prints every disagreement in plain words. Exit status: 0 when every table is consistent,
// 1 when one disagrees, 2 when one cannot be opened, 3 when none disagrees but some checks
// could not be made (the keys of a tag this engine cannot evaluate or compare); for several
// tables the worst, in the order 2, 1, 3, 0.
//
// dbverify --repair [--from INDEX] [--drop-unknown] TABLE: rebuilds the table's structural
// index from its tags' definitions (the repair call), then checks the table as above. Exit
// status as above, 2 also when the index could not be rebuilt (nothing was changed then).
#include "engine/engine.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string lastError() {
    engine::Result code = 0;
    std::string text;
    engine::getLastError(code, text);
    return text;
}

int verify(const std::string& name) {
    engine::Handle t = 0;
    engine::Result r = engine::openTable(0, name, "", engine::kTypeCdx, engine::kAnsi, 0, 1,
                                         engine::kOpenShared | engine::kOpenReadOnly, t);
    if (r != engine::kOk) {
        std::printf("%s: cannot be opened (code %u): %s\n", name.c_str(), static_cast<unsigned>(r),
                    lastError().c_str());
        return 2;
    }
    std::vector<std::string> problems;
    r = engine::verifyTable(t, problems);
    for (const std::string& p : problems) std::printf("%s: %s\n", name.c_str(), p.c_str());
    int status = 0;
    if (r == engine::kOk) {
        std::printf("%s: consistent\n", name.c_str());
    } else if (r == engine::kNotAllChecked) {
        std::printf("%s: no disagreement found, and not everything was checked\n", name.c_str());
        status = 3;
    } else {
        std::printf("%s: NOT consistent (code %u)\n", name.c_str(), static_cast<unsigned>(r));
        status = 1;
    }
    engine::closeTable(t);
    return status;
}

int repair(int argc, char** argv) {
    std::string table, from;
    std::uint32_t options = 0;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--from") == 0 && i + 1 < argc) {
            from = argv[++i];
        } else if (std::strcmp(argv[i], "--drop-unknown") == 0) {
            options |= engine::kRepairDropUnknown;
        } else if (argv[i][0] != '-' && table.empty()) {
            table = argv[i];
        } else {
            table.clear();
            break;
        }
    }
    if (table.empty()) {
        std::fprintf(stderr, "usage: dbverify --repair [--from INDEX] [--drop-unknown] TABLE\n");
        return 2;
    }
    std::vector<std::string> report;
    const engine::Result r = engine::repairIndex(table, from, options, report);
    for (const std::string& line : report) std::printf("%s: %s\n", table.c_str(), line.c_str());
    if (r != engine::kOk) {
        std::printf("%s: the index was not rebuilt (code %u): %s\n", table.c_str(), static_cast<unsigned>(r),
                    lastError().c_str());
        return 2;
    }
    return verify(table);
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--repair") == 0) return repair(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: dbverify TABLE...\n"
                     "       dbverify --repair [--from INDEX] [--drop-unknown] TABLE\n"
                     "Checks each table's header, memos and structural index against its records;\n"
                     "--repair first rebuilds the table's structural index from its tags' definitions.\n");
        return 2;
    }
    int status = 0;
    const auto rank = [](int s) { return s == 3 ? 1 : s == 0 ? 0 : s + 1; }; // 0 < 3 < 1 < 2
    for (int i = 1; i < argc; ++i) {
        const int s = verify(argv[i]);
        if (rank(s) > rank(status)) status = s;
    }
    return status;
}
