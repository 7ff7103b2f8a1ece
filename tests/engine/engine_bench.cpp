// engine_bench: how fast the engine is against plain file I/O on the same bytes, measured in
// one run. Not a test: run it by hand (a Release-like build) and read the ratios.
//
//   engine_bench [folder] [records] [rounds]
//
// Figures: appending the records to a table opened exclusively; reading them back in natural
// order (every field of every record); building an index on a character and on a numeric
// field; 10,000 seeks of random keys in each index. Baselines: writing the table's bytes with
// plain buffered writes, reading them back with plain buffered reads. Last, what flushing to
// the disk costs a shared table with an index: record changes made as they are, against the
// same changes through a back end of the OS layer whose flush does nothing.
#include "engine/engine.h"
#include "engine/os.h"
#include "tests/bench_clock.h"

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace engine;

namespace {

using bench::Clock;
using bench::seconds;

void check(Result r, const char* what) {
    if (r == kOk) return;
    Result code = 0;
    std::string text;
    getLastError(code, text);
    std::fprintf(stderr, "engine_bench: %s failed: %u %s\n", what, static_cast<unsigned>(r), text.c_str());
    std::exit(1);
}

std::string nameOf(std::uint32_t i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "CUSTOMER %08u", (i * 2654435761u) % 100000000u);
    return buf;
}

struct Figures {
    double append = 0, read = 0, nameIndex = 0, amountIndex = 0, nameSeek = 0, amountSeek = 0;
    double writeBase = 0, readBase = 0;
    std::uint64_t tableBytes = 0;
};

Figures runOnce(const std::filesystem::path& dir, std::uint32_t records, int lookups) {
    namespace fs = std::filesystem;
    Figures f;
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string table = (dir / "bench.dbf").string();

    // The engine.
    std::vector<FieldDef> fields = {
        {"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 12, 2}, {"BORN", 'D', 0, 0}, {"OK", 'L', 0, 0}};
    Handle t = 0;
    auto start = Clock::now();
    check(createTable(table, "", kTypeCdx, kAnsi, fields, t), "create");
    for (std::uint32_t i = 1; i <= records; ++i) {
        check(appendRecord(t), "append");
        check(setString(t, "NAME", nameOf(i)), "set NAME");
        check(setDouble(t, "AMOUNT", (i * 7919 % 1000003) / 100.0), "set AMOUNT");
        check(setJulian(t, "BORN", 2440000 + static_cast<std::int32_t>(i % 20000)), "set BORN");
        check(setLogical(t, "OK", i % 3 == 0), "set OK");
    }
    check(closeTable(t), "close");
    f.append = seconds(start);
    f.tableBytes = fs::file_size(table);

    check(openTable(0, table, "", kTypeCdx, kAnsi, 1, 1, kOpenExclusive, t), "open");
    start = Clock::now();
    std::string s;
    double d = 0;
    std::int32_t jd = 0;
    bool b = false, eof = false;
    std::uint32_t seen = 0;
    check(gotoTop(t), "top");
    while (atEOF(t, eof) == kOk && !eof) {
        getField(t, "NAME", s);
        getDouble(t, "AMOUNT", d);
        getJulian(t, "BORN", jd);
        getLogical(t, "OK", b);
        ++seen;
        check(skip(t, 1), "skip");
    }
    f.read = seconds(start);
    if (seen != records) {
        std::fprintf(stderr, "engine_bench: read %u records of %u\n", seen, records);
        std::exit(1);
    }

    Handle byName = 0, byAmount = 0;
    start = Clock::now();
    check(createIndex(t, "", "NAME", "NAME", "", "", kIndexCompound, byName), "index on NAME");
    f.nameIndex = seconds(start);
    start = Clock::now();
    check(createIndex(t, "", "AMOUNT", "AMOUNT", "", "", kIndexCompound, byAmount), "index on AMOUNT");
    f.amountIndex = seconds(start);

    std::mt19937 rng(1);
    std::uniform_int_distribution<std::uint32_t> pick(1, records);
    std::vector<std::uint32_t> keys(static_cast<std::size_t>(lookups));
    for (auto& k : keys) k = pick(rng);
    bool found = false;
    int hits = 0;
    start = Clock::now();
    for (std::uint32_t k : keys) {
        check(seek(byName, ExprValue::character(nameOf(k)), false, found), "seek NAME");
        hits += found;
    }
    f.nameSeek = seconds(start);
    start = Clock::now();
    for (std::uint32_t k : keys) {
        check(seek(byAmount, ExprValue::numeric((k * 7919 % 1000003) / 100.0), false, found), "seek AMOUNT");
        hits += found;
    }
    f.amountSeek = seconds(start);
    check(closeTable(t), "close");
    if (hits != 2 * lookups) {
        std::fprintf(stderr, "engine_bench: %d of %d keys found\n", hits, 2 * lookups);
        std::exit(1);
    }

    // The same bytes with plain file I/O: buffered writes, buffered reads.
    const std::string plain = (dir / "plain.bin").string();
    std::vector<char> chunk(1 << 16, 'x');
    start = Clock::now();
    {
        os::File file;
        if (file.create(plain, false) != os::Status::ok) std::exit(1);
        for (std::uint64_t at = 0; at < f.tableBytes; at += chunk.size())
            file.write(at, chunk.data(),
                       static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), f.tableBytes - at)));
    }
    f.writeBase = seconds(start);
    start = Clock::now();
    {
        os::File file;
        if (file.open(plain, false) != os::Status::ok) std::exit(1);
        std::size_t got = 0;
        for (std::uint64_t at = 0; at < f.tableBytes; at += got) {
            file.read(at, chunk.data(), chunk.size(), got);
            if (got == 0) break;
        }
    }
    f.readBase = seconds(start);
    fs::remove_all(dir);
    return f;
}

// A back end of the OS layer that never waits for the disk.
class NoFlush final : public os::Backend {
  public:
    os::Status flush(os::File&) override { return os::Status::ok; }
};

// Seconds for changes to the key of records of a shared table with one tag.
double sharedChanges(const std::filesystem::path& dir, int changes) {
    namespace fs = std::filesystem;
    fs::create_directories(dir);
    const std::string table = (dir / "shared.dbf").string();
    const std::vector<FieldDef> fields = {{"NAME", 'C', 20, 0}};
    Handle t = 0;
    check(createTable(table, "", kTypeCdx, kAnsi, fields, t), "create");
    for (int i = 0; i < 100; ++i) {
        check(appendRecord(t), "append");
        check(setString(t, "NAME", nameOf(static_cast<std::uint32_t>(i))), "set");
    }
    Handle idx = 0;
    check(createIndex(t, "", "NAME", "NAME", "", "", kIndexCompound, idx), "index");
    check(closeTable(t), "close");
    check(openTable(0, table, "", kTypeCdx, kAnsi, 1, 1, kOpenShared, t), "open");
    const auto start = Clock::now();
    for (int i = 0; i < changes; ++i) {
        const std::uint32_t recno = static_cast<std::uint32_t>(i % 100) + 1;
        check(gotoRecord(t, recno), "goto");
        check(setString(t, "NAME", nameOf(static_cast<std::uint32_t>(1000 + i))), "set");
        check(writeRecord(t), "write");
    }
    const double time = seconds(start);
    check(closeTable(t), "close");
    fs::remove_all(dir);
    return time;
}

} // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path dir =
        argc > 1 && argv[1][0] ? fs::path(argv[1]) : fs::temp_directory_path() / "engine_bench";
    const std::uint32_t records = argc > 2 ? static_cast<std::uint32_t>(std::stoul(argv[2])) : 100000;
    const int rounds = argc > 3 ? std::stoi(argv[3]) : 5;
    const int lookups = 10000;
    // Each figure is the best of several rounds, so that other work on the machine counts less.
    Figures best;
    for (int round = 0; round < rounds; ++round) {
        Figures f = runOnce(dir, records, lookups);
        if (round == 0) {
            best = f;
            continue;
        }
        best.append = std::min(best.append, f.append);
        best.read = std::min(best.read, f.read);
        best.nameIndex = std::min(best.nameIndex, f.nameIndex);
        best.amountIndex = std::min(best.amountIndex, f.amountIndex);
        best.nameSeek = std::min(best.nameSeek, f.nameSeek);
        best.amountSeek = std::min(best.amountSeek, f.amountSeek);
        best.writeBase = std::min(best.writeBase, f.writeBase);
        best.readBase = std::min(best.readBase, f.readBase);
    }
    std::printf("engine_bench: %u records, %llu table bytes, best of %d rounds\n", records,
                static_cast<unsigned long long>(best.tableBytes), rounds);
    std::printf("baseline: plain write %.4f s, plain read %.4f s\n", best.writeBase, best.readBase);
    auto line = [](const char* what, double time, double base, const char* against) {
        std::printf("%-34s %9.4f s  %8.1f x plain %s\n", what, time, time / base, against);
    };
    line("append + write all fields", best.append, best.writeBase, "write");
    line("read all fields sequentially", best.read, best.readBase, "read");
    line("index on character field", best.nameIndex, best.readBase, "read");
    line("index on numeric field", best.amountIndex, best.readBase, "read");
    line("10000 seeks, character key", best.nameSeek, best.readBase, "read");
    line("10000 seeks, numeric key", best.amountSeek, best.readBase, "read");
    const int changes = 500;
    const double durable = sharedChanges(dir, changes);
    NoFlush noFlush;
    os::install(&noFlush);
    const double unflushed = sharedChanges(dir, changes);
    os::install(nullptr);
    std::printf("%d shared indexed changes: %.4f s flushed, %.4f s unflushed: %.1f x\n", changes, durable,
                unflushed, durable / unflushed);
    return 0;
}
