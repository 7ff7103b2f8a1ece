// tables_bench: the table commands (work areas and the "ADS" driver) against plain per-record
// file I/O and against the engine called directly, on the same records, measured in one run.
// Not a test: run it by hand (a Release-like build) and read the ratios.
//
//   tables_bench [folder] [records] [rounds]
//
// Figures: appending the records with DBAPPEND and FIELDPUT to a table opened exclusively; the same
// appends to a new table with two orders open; reading the records back with FIELDGET and DBSKIP;
// ORDCREATE on a character and on a numeric field; 10,000 DBSEEKs of random keys in each order.
// Baselines: the same records written and read with one plain buffered write or read per record (the
// fields formatted and parsed as the table holds them), and the index builds and seeks made with the
// engine's own calls.
#include "tables/ads.h"
#include "tables/registry.h"
#include "tables/workarea.h"

#include "engine/engine.h"
#include "runtime/dates.h"
#include "runtime/error.h"
#include "runtime/settings.h"
#include "tests/bench_clock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::seconds;

void fail(const char* what) {
    std::fprintf(stderr, "tables_bench: %s failed\n", what);
    std::exit(1);
}

std::string nameOf(std::uint32_t i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "CUSTOMER %08u", (i * 2654435761u) % 100000000u);
    return buf;
}
double amountOf(std::uint32_t i) {
    return (i * 7919 % 1000003) / 100.0;
}
std::int32_t julianOf(std::uint32_t i) {
    return 2440000 + static_cast<std::int32_t>(i % 20000);
}

struct Figures {
    double plainWrite = 0, plainRead = 0;
    double append = 0, read = 0, appendIndexed = 0;
    double engineRead = 0;
    double engineNameIndex = 0, engineAmountIndex = 0, engineNameSeek = 0, engineAmountSeek = 0;
    double nameIndex = 0, amountIndex = 0, nameSeek = 0, amountSeek = 0;
};

// One record as a DBF holds it: deleted mark, NAME C(20), AMOUNT N(12,2), BORN D, OK L.
constexpr std::size_t kRecord = 1 + 20 + 12 + 8 + 1;

void plainBaseline(const std::string& file, std::uint32_t records, Figures& f) {
    auto start = Clock::now();
    {
        std::FILE* out = std::fopen(file.c_str(), "wb");
        if (!out) fail("plain create");
        char rec[kRecord + 1];
        for (std::uint32_t i = 1; i <= records; ++i) {
            std::memset(rec, ' ', kRecord);
            const std::string name = nameOf(i);
            std::memcpy(rec + 1, name.data(), std::min<std::size_t>(name.size(), 20));
            char num[32];
            std::snprintf(num, sizeof num, "%12.2f", amountOf(i));
            std::memcpy(rec + 21, num, 12);
            int y = 0, m = 0, d = 0;
            rt::splitDate(rt::Date{julianOf(i)}, y, m, d);
            std::snprintf(num, sizeof num, "%04d%02d%02d", y, m, d);
            std::memcpy(rec + 33, num, 8);
            rec[41] = i % 3 == 0 ? 'T' : 'F';
            if (std::fwrite(rec, kRecord, 1, out) != 1) fail("plain write");
        }
        std::fclose(out);
    }
    f.plainWrite = seconds(start);

    start = Clock::now();
    {
        std::FILE* in = std::fopen(file.c_str(), "rb");
        if (!in) fail("plain open");
        char rec[kRecord];
        std::uint32_t seen = 0;
        double total = 0;
        while (std::fread(rec, kRecord, 1, in) == 1) {
            std::string name(rec + 1, 20);
            char num[13];
            std::memcpy(num, rec + 21, 12);
            num[12] = 0;
            total += std::strtod(num, nullptr);
            const rt::Date born = rt::STOD(std::string_view(rec + 33, 8));
            const bool ok = rec[41] == 'T';
            seen += !name.empty() + (born.julian > 0 && ok ? 0 : 0);
        }
        std::fclose(in);
        if (seen != records || total < 0) fail("plain read");
    }
    f.plainRead = seconds(start);
}

void enginePhases(const std::string& table, std::uint32_t records, const std::vector<std::uint32_t>& keys,
                  Figures& f) {
    using namespace engine;
    Handle t = 0;
    if (openTable(0, table, "", kTypeCdx, kAnsi, 1, 1, kOpenExclusive, t) != kOk) fail("engine open");
    // For reference: the sequential read with the engine's calls, fields by name.
    auto start = Clock::now();
    {
        std::string s;
        double d = 0;
        std::int32_t jd = 0;
        bool b = false, eof = false;
        gotoTop(t);
        while (atEOF(t, eof) == kOk && !eof) {
            getField(t, "NAME", s);
            getDouble(t, "AMOUNT", d);
            getJulian(t, "BORN", jd);
            getLogical(t, "OK", b);
            skip(t, 1);
        }
    }
    f.engineRead = seconds(start);
    Handle byName = 0, byAmount = 0;
    start = Clock::now();
    if (createIndex(t, "", "NAME", "NAME", "", "", kIndexCompound, byName) != kOk) fail("engine index");
    f.engineNameIndex = seconds(start);
    start = Clock::now();
    if (createIndex(t, "", "AMOUNT", "AMOUNT", "", "", kIndexCompound, byAmount) != kOk) fail("engine index");
    f.engineAmountIndex = seconds(start);
    bool found = false;
    std::size_t hits = 0;
    start = Clock::now();
    for (std::uint32_t k : keys) {
        seek(byName, ExprValue::character(nameOf(k)), false, found);
        hits += found;
    }
    f.engineNameSeek = seconds(start);
    start = Clock::now();
    for (std::uint32_t k : keys) {
        seek(byAmount, ExprValue::numeric(amountOf(k)), false, found);
        hits += found;
    }
    f.engineAmountSeek = seconds(start);
    closeTable(t);
    if (hits != 2 * keys.size() || records == 0) fail("engine seeks");
}

// Appends and reads the records through the table commands; the table stays open.
void layerPhases(const std::string& table, const std::string& copy, std::uint32_t records, Figures& f) {
    using namespace tables;
    auto field = [](const char* n, const char* t, int len, int dec) {
        return rt::Value(rt::makeArray({n, t, len, dec}));
    };
    auto start = Clock::now();
    if (!DBCREATE(table, rt::makeArray({field("NAME", "C", 20, 0), field("AMOUNT", "N", 12, 2),
                                        field("BORN", "D", 8, 0), field("OK", "L", 1, 0)})))
        fail("DBCREATE");
    if (!DBUSEAREA(true, {}, table, "BENCH", false)) fail("DBUSEAREA");
    for (std::uint32_t i = 1; i <= records; ++i) {
        if (!DBAPPEND()) fail("DBAPPEND");
        FIELDPUT(1, nameOf(i));
        FIELDPUT(2, amountOf(i));
        FIELDPUT(3, rt::Date{julianOf(i)});
        FIELDPUT(4, i % 3 == 0);
    }
    DBCLOSEAREA();
    f.append = seconds(start);

    if (!DBUSEAREA(true, {}, table, "BENCH", false)) fail("DBUSEAREA");
    start = Clock::now();
    std::uint32_t seen = 0;
    const rt::Value one(1), two(2), three(3), four(4);
    for (DBGOTOP(); !EOF_(); DBSKIP()) {
        const rt::Value name = FIELDGET(one);
        const rt::Value amount = FIELDGET(two);
        const rt::Value born = FIELDGET(three);
        const rt::Value ok = FIELDGET(four);
        seen += name.isString() && amount.isNumber() && born.isDate() && ok.isLogical();
    }
    f.read = seconds(start);
    if (seen != records) fail("sequential read");
    if (std::getenv("TABLES_BENCH_READS")) // for profiling the read alone
        for (int n = std::atoi(std::getenv("TABLES_BENCH_READS")); n > 0; --n)
            for (DBGOTOP(); !EOF_(); DBSKIP()) {
                FIELDGET(one), FIELDGET(two), FIELDGET(three), FIELDGET(four);
            }
    // The engine builds its indexes on a copy of the table as it is now.
    std::filesystem::copy_file(table, copy);
}

// Appends the records again to a new table with two orders open (character and numeric keys),
// so that every append also inserts two keys.
void layerIndexedAppend(const std::string& table, std::uint32_t records, Figures& f) {
    using namespace tables;
    auto field = [](const char* n, const char* t, int len, int dec) {
        return rt::Value(rt::makeArray({n, t, len, dec}));
    };
    if (!DBCREATE(table, rt::makeArray({field("NAME", "C", 20, 0), field("AMOUNT", "N", 12, 2),
                                        field("BORN", "D", 8, 0), field("OK", "L", 1, 0)})))
        fail("DBCREATE");
    if (!DBUSEAREA(true, {}, table, "INDEXED", false)) fail("DBUSEAREA");
    if (!ORDCREATE({}, "NAME", "NAME") || !ORDCREATE({}, "AMOUNT", "AMOUNT")) fail("ORDCREATE");
    auto start = Clock::now();
    for (std::uint32_t i = 1; i <= records; ++i) {
        if (!DBAPPEND()) fail("DBAPPEND");
        FIELDPUT(1, nameOf(i));
        FIELDPUT(2, amountOf(i));
        FIELDPUT(3, rt::Date{julianOf(i)});
        FIELDPUT(4, i % 3 == 0);
    }
    DBCLOSEAREA();
    f.appendIndexed = seconds(start);
}

void layerIndexes(const std::vector<std::uint32_t>& keys, Figures& f) {
    using namespace tables;
    auto start = Clock::now();
    if (!ORDCREATE({}, "NAME", "NAME")) fail("ORDCREATE NAME");
    f.nameIndex = seconds(start);
    start = Clock::now();
    if (!ORDCREATE({}, "AMOUNT", "AMOUNT")) fail("ORDCREATE AMOUNT");
    f.amountIndex = seconds(start);
    std::size_t hits = 0;
    DBSETORDER("NAME");
    start = Clock::now();
    for (std::uint32_t k : keys) hits += DBSEEK(nameOf(k));
    f.nameSeek = seconds(start);
    DBSETORDER("AMOUNT");
    start = Clock::now();
    for (std::uint32_t k : keys) hits += DBSEEK(amountOf(k));
    f.amountSeek = seconds(start);
    DBCLOSEAREA();
    if (hits != 2 * keys.size()) fail("DBSEEK");
}

} // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path dir =
        argc > 1 && argv[1][0] ? fs::path(argv[1]) : fs::temp_directory_path() / "tables_bench";
    const std::uint32_t records = argc > 2 ? static_cast<std::uint32_t>(std::stoul(argv[2])) : 100000;
    const int rounds = argc > 3 ? std::stoi(argv[3]) : 5;

    rt::ERRORBLOCK(rt::Value(rt::makeBlock("BENCH", [](rt::Args) -> rt::Value {
        fail("a table command (error raised)");
        return {};
    })));
    tables::registerStartupDrivers();
    tables::RDDREGISTER("ADS", 1);
    tables::RDDSETDEFAULT("ADS");
    tables::ADSSETSERVERTYPE(1);
    tables::ADSSETFILETYPE(2);
    rt::SET(rt::_SET_EPOCH, 1950);
    rt::SET(rt::_SET_DATEFORMAT, "dd-mm-yy");
    rt::SET(rt::_SET_DELETED, true);

    std::mt19937 rng(1);
    std::uniform_int_distribution<std::uint32_t> pick(1, records);
    std::vector<std::uint32_t> keys(10000);
    for (auto& k : keys) k = pick(rng);

    // Each figure is the best of several rounds, so that other work on the machine counts less.
    Figures best;
    for (int round = 0; round < rounds; ++round) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        Figures f;
        plainBaseline((dir / "plain.bin").string(), records, f);
        layerPhases((dir / "layer.dbf").string(), (dir / "engine.dbf").string(), records, f);
        // Index builds and seeks: the engine first in even rounds, the layer first in odd ones.
        if (round % 2 == 0) enginePhases((dir / "engine.dbf").string(), records, keys, f);
        layerIndexes(keys, f);
        if (round % 2 == 1) enginePhases((dir / "engine.dbf").string(), records, keys, f);
        layerIndexedAppend((dir / "indexed.dbf").string(), records, f);
        if (round == 0) {
            best = f;
            continue;
        }
        double* b = &best.plainWrite;
        const double* n = &f.plainWrite;
        for (std::size_t i = 0; i < sizeof(Figures) / sizeof(double); ++i) b[i] = std::min(b[i], n[i]);
    }
    fs::remove_all(dir);
    std::printf("tables_bench: %u records, best of %d rounds\n", records, rounds);
    std::printf("baselines: plain per-record write %.4f s, read %.4f s\n", best.plainWrite, best.plainRead);
    auto line = [](const char* what, double time, double base, const char* against) {
        std::printf("%-36s %9.4f s  %6.2f x %s\n", what, time, time / base, against);
    };
    line("DBAPPEND + FIELDPUT x4", best.append, best.plainWrite, "plain write");
    line("DBAPPEND + FIELDPUT x4, 2 orders", best.appendIndexed, best.plainWrite, "plain write");
    line("(the same, against no order open)", best.appendIndexed, best.append, "no order");
    line("FIELDGET x4 + DBSKIP", best.read, best.plainRead, "plain read");
    line("(engine calls: read by name + skip)", best.engineRead, best.plainRead, "plain read");
    line("ORDCREATE, character key", best.nameIndex, best.engineNameIndex, "engine");
    line("ORDCREATE, numeric key", best.amountIndex, best.engineAmountIndex, "engine");
    line("10000 DBSEEK, character key", best.nameSeek, best.engineNameSeek, "engine");
    line("10000 DBSEEK, numeric key", best.amountSeek, best.engineAmountSeek, "engine");
    tables::closeAllAreasAndExitDrivers();
    return 0;
}
