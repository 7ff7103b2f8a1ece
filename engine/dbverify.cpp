// dbverify TABLE...: checks each table against its memo file and its structural index and
// prints every disagreement in plain words. Exit status: 0 when every table is consistent,
// 1 when one disagrees, 2 when one cannot be opened.
#include "engine/engine.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: dbverify TABLE...\n"
                             "Checks each table's header, memos and structural index against its records.\n");
        return 2;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        engine::Handle t = 0;
        engine::Result r = engine::openTable(0, name, "", engine::kTypeCdx, engine::kAnsi, 0, 1,
                                             engine::kOpenShared | engine::kOpenReadOnly, t);
        if (r != engine::kOk) {
            engine::Result code = 0;
            std::string text;
            engine::getLastError(code, text);
            std::printf("%s: cannot be opened (code %u): %s\n", name.c_str(), static_cast<unsigned>(r),
                        text.c_str());
            status = 2;
            continue;
        }
        std::vector<std::string> problems;
        r = engine::verifyTable(t, problems);
        for (const std::string& p : problems) std::printf("%s: %s\n", name.c_str(), p.c_str());
        if (r == engine::kOk) {
            std::printf("%s: consistent\n", name.c_str());
        } else {
            std::printf("%s: NOT consistent (code %u)\n", name.c_str(), static_cast<unsigned>(r));
            if (status == 0) status = 1;
        }
        engine::closeTable(t);
    }
    return status;
}
