// Memo reader: the first 16 bytes of the input are the memo pointers of a table's four
// records, the rest is its memo file. Every memo is read, rewritten shorter and longer, and
// read again. Anything may be refused; nothing may crash, hang or read out of bounds.
#include "engine/engine.h"
#include "engine/memo.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string folder() {
    static const std::string dir = [] {
        auto p = std::filesystem::temp_directory_path() / ("fuzz_fpt_" + std::to_string(getpid()));
        std::filesystem::create_directories(p);
        return p.string();
    }();
    return dir;
}

// A table of four records with a memo field, written once; each run puts the pointers in.
std::string makeTable() {
    static std::string bytes;
    if (bytes.empty()) {
        const std::vector<engine::FieldDef> fields = {{"ID", 'N', 4, 0}, {"NOTES", 'M', 0, 0}};
        engine::Handle t = 0;
        engine::createTable(folder() + "/m.dbf", "", 2, 1, fields, t);
        for (int i = 0; i < 4; ++i) engine::appendRecord(t);
        engine::closeTable(t);
        std::ifstream in(folder() + "/m.dbf", std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 16) return 0;
    std::string dbf = makeTable();
    const std::size_t header = 32 + 2 * 32 + 1 + 263, record = 1 + 4 + 4;
    if (dbf.size() < header + 4 * record) return 0;
    for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t i = 0; i < 4; ++i)
            dbf[header + r * record + 5 + i] = static_cast<char>(data[r * 4 + i]);
    std::ofstream(folder() + "/m.dbf", std::ios::binary | std::ios::trunc)
        .write(dbf.data(), static_cast<std::streamsize>(dbf.size()));
    std::ofstream(folder() + "/m.fpt", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 16), static_cast<std::streamsize>(size - 16));

    engine::Handle t = 0;
    if (engine::openTable(0, folder() + "/m.dbf", "", 2, 1, 1, 1, engine::kOpenExclusive, t) != engine::kOk)
        return 0;
    std::string s;
    std::uint32_t len = 0;
    for (std::uint32_t r = 1; r <= 4; ++r) {
        engine::gotoRecord(t, r);
        engine::getMemoLength(t, "NOTES", len);
        engine::getString(t, "NOTES", s);
    }
    for (std::uint32_t r = 1; r <= 4; ++r) {
        engine::gotoRecord(t, r);
        engine::setString(t, "NOTES", "x");
        if (engine::setString(t, "NOTES", std::string(300, 'y')) == engine::kOk) {
            // A memo just written must read back.
            if (engine::getString(t, "NOTES", s) != engine::kOk || s != std::string(300, 'y'))
                __builtin_trap();
        }
    }
    engine::closeTable(t);
    return 0;
}
