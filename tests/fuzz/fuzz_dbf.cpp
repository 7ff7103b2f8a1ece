// Table reader: arbitrary bytes are checked as a DBF header, then opened as a table (beside a
// valid empty memo file) and read field by field, walked both ways, appended to and written.
// Anything may be refused; nothing may crash, hang or read out of bounds.
#include "engine/dbf.h"
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
        auto p = std::filesystem::temp_directory_path() / ("fuzz_dbf_" + std::to_string(getpid()));
        std::filesystem::create_directories(p);
        return p.string();
    }();
    return dir;
}

void readEverything(engine::Handle t) {
    std::uint16_t fields = 0;
    engine::getNumFields(t, fields);
    std::string s;
    double d = 0;
    bool b = false;
    std::int32_t jd = 0;
    std::uint32_t len = 0;
    for (int f = 1; f <= fields; ++f) {
        engine::getField(t, f, s);
        engine::getDouble(t, f, d);
        engine::getLogical(t, f, b);
        engine::getJulian(t, f, jd);
        engine::getMemoLength(t, f, len);
    }
    engine::isDeleted(t, b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    engine::dbf::Header h;
    engine::dbf::readHeader(std::span(data, size), h);

    const std::string dbf = folder() + "/t.dbf";
    std::ofstream(dbf, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    {
        engine::MemoFile memo;
        memo.create(folder() + "/t.fpt");
    }
    std::filesystem::remove(folder() + "/t.cdx");
    engine::Handle t = 0;
    if (engine::openTable(0, dbf, "", 2, 1, 1, 1, engine::kOpenExclusive, t) != engine::kOk) return 0;
    std::uint32_t count = 0;
    engine::getRecordCount(t, count);
    for (std::uint32_t r = 1; r <= count && r <= 64; ++r) {
        engine::gotoRecord(t, r);
        readEverything(t);
    }
    engine::showDeleted(false);
    engine::gotoTop(t);
    bool eof = false;
    for (int i = 0; i < 64 && engine::atEOF(t, eof) == engine::kOk && !eof; ++i) engine::skip(t, 1);
    engine::gotoBottom(t);
    for (int i = 0; i < 64; ++i) engine::skip(t, -1);
    engine::showDeleted(true);
    // Changes: a new record with a value in every field, and an index on the first field.
    if (engine::appendRecord(t) == engine::kOk) {
        std::uint16_t fields = 0;
        engine::getNumFields(t, fields);
        for (int f = 1; f <= fields; ++f) {
            engine::setField(t, f, "12");
            engine::setDouble(t, f, 3.5);
            engine::setLogical(t, f, true);
            engine::setJulian(t, f, 2451545);
            engine::setString(t, f, "memo text");
        }
        engine::deleteRecord(t);
        readEverything(t);
        std::string name;
        engine::Handle idx = 0;
        if (engine::getFieldName(t, 1, name) == engine::kOk)
            engine::createIndex(t, "", "FUZZ", name, "", "", engine::kIndexCompound, idx);
        engine::gotoTop(idx);
        engine::skip(idx, 1);
    }
    engine::closeTable(t);
    return 0;
}
