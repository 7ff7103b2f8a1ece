// The crash harness: every operation that writes is run once for every change it makes to the
// files, with the back end stopping all changes from that one on (refused, as on a full disk,
// or dropped, as in a killed process), and again with a power cut at that point that also
// loses what was not flushed, in several orders. After each run the table is opened with the
// system's own back end, and it must hold what it held before one of the operation's calls
// or after it (each call is one change), with table, memos and indexes in agreement (the
// verify call finds nothing), or answer "index out of date" (7025) and still be readable
// opened read-only.
#include "fault_os.h"
#include "table_support.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>

using namespace engine;
using namespace enginetest;

namespace {

namespace fs = std::filesystem;

// What a reader finds in a table: every record with its deleted mark and fields as text, and
// the tags with their definitions.
struct State {
    std::vector<std::string> records;
    std::vector<std::string> tags;
    bool operator==(const State&) const = default;
};

std::string describe(const State& s) {
    std::ostringstream out;
    for (const std::string& t : s.tags) out << "  tag " << t << "\n";
    for (std::size_t i = 0; i < s.records.size(); ++i) out << "  " << i + 1 << ": " << s.records[i] << "\n";
    return out.str();
}

std::string lastError() {
    Result code = 0;
    std::string text;
    getLastError(code, text);
    return std::to_string(code) + " " + text;
}

Result readState(Handle t, State& out) {
    out = State();
    std::uint16_t fields = 0, indexes = 0;
    Result r = getNumFields(t, fields);
    if (r == kOk) r = getNumIndexes(t, indexes);
    for (std::uint16_t i = 1; r == kOk && i <= indexes; ++i) {
        Handle idx = 0;
        std::string name, key, cond;
        r = getIndexHandleByOrder(t, i, idx);
        if (r == kOk) r = getIndexName(idx, name);
        if (r == kOk) r = getIndexExpr(idx, key);
        if (r == kOk) r = getIndexCondition(idx, cond);
        out.tags.push_back(name + " " + key + (cond.empty() ? "" : " FOR " + cond));
    }
    std::uint32_t count = 0;
    if (r == kOk) r = getRecordCount(t, count);
    for (std::uint32_t n = 1; r == kOk && n <= count; ++n) {
        r = gotoRecord(t, n);
        bool deleted = false;
        if (r == kOk) r = isDeleted(t, deleted);
        std::string rec = deleted ? "*" : " ";
        for (std::uint16_t f = 1; r == kOk && f <= fields; ++f) {
            std::string text;
            r = getString(t, static_cast<int>(f), text);
            rec += "|" + text;
        }
        out.records.push_back(rec);
    }
    return r;
}

// The files of a folder, by name.
using Files = std::map<std::string, std::string>;

Files snapshot(const std::string& dir) {
    Files out;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file()) out[e.path().filename().string()] = readFile(e.path().string());
    return out;
}

void restore(const std::string& dir, const Files& files) {
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file() && !files.count(e.path().filename().string())) fs::remove(e.path());
    for (const auto& [name, bytes] : files) writeFile((fs::path(dir) / name).string(), bytes);
}

// The files after a run: those the back end changed as its disk holds them, the others as they
// were before.
Files outcome(const Files& before, FaultBackend& backend) {
    Files out = before;
    for (const std::string& p : backend.touched()) {
        const std::string name = fs::path(p).filename().string();
        if (const auto bytes = backend.image(p))
            out[name] = *bytes;
        else
            out.erase(name);
    }
    return out;
}

// One call of an operation on the open table.
using Step = std::function<Result(Handle)>;

struct Operation {
    std::string name;
    std::vector<Step> steps;
};

Step gotoStep(std::uint32_t n) {
    return [n](Handle t) { return gotoRecord(t, n); };
}
Step setStep(std::string field, std::string value) {
    return [field, value](Handle t) { return setString(t, field, value); };
}
Step numberStep(std::string field, double value) {
    return [field, value](Handle t) { return setDouble(t, field, value); };
}
Step writeStep() {
    return [](Handle t) { return writeRecord(t); };
}

std::string longText(char c, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(c + static_cast<char>(i % 7));
    return s;
}

// The harness writes its small files thousands of times: in memory where the system has a
// folder there (Linux), so that the disk's load does not set its pace.
std::string scratchParent() {
    std::error_code ec;
    return fs::is_directory("/dev/shm", ec) ? std::string("/dev/shm") : fs::temp_directory_path().string();
}

class Crash : public EngineTest {
  protected:
    TempDir scratch{scratchParent()};
    std::string table() const { return scratch.path("crash.dbf"); }

    // Four records (the third deleted), memos of several lengths, and three tags in the
    // structural index: a character key, a descending number and a FOR condition.
    void makeTable(bool indexed) {
        const std::vector<FieldDef> fields = {{"ID", 'N', 4, 0}, {"NAME", 'C', 8, 0}, {"NOTE", 'M', 0, 0}};
        FaultBackend noWait; // flushes do not wait for the disk
        Handle t = 0;
        ASSERT_EQ(createTable(table(), "", kTypeCdx, kAnsi, fields, t), kOk);
        const char* names[] = {"ann", "bob", "cy", "dee"};
        for (int i = 0; i < 4; ++i) {
            ASSERT_EQ(appendRecord(t), kOk);
            ASSERT_EQ(setDouble(t, "ID", i + 1), kOk);
            ASSERT_EQ(setString(t, "NAME", names[i]), kOk);
            if (i != 3) {
                ASSERT_EQ(setString(t, "NOTE", longText('a', i == 1 ? 150 : 20)), kOk);
            }
            if (i == 2) {
                ASSERT_EQ(deleteRecord(t), kOk);
            }
        }
        if (indexed) {
            Handle idx = 0;
            ASSERT_EQ(createIndex(t, "", "NAME", "UPPER(NAME)", "", "", kIndexCompound, idx), kOk);
            ASSERT_EQ(createIndex(t, "", "IDD", "ID", "", "", kIndexCompound | kIndexDescending, idx), kOk);
            ASSERT_EQ(createIndex(t, "", "BIG", "NAME", "ID > 1", "", kIndexCompound, idx), kOk);
        }
        ASSERT_EQ(closeTable(t), kOk);
    }

    Result openIn(std::uint32_t mode, Handle& t) {
        return openTable(0, table(), "", kTypeCdx, kAnsi, 1, 1, mode, t);
    }

    // Opens the table, makes the first `upTo` calls of op (all when upTo is none) and closes it.
    // Answers the first failure, if any; the table is closed in any case.
    Result run(const Operation& op, std::uint32_t mode, std::size_t upTo) {
        Handle t = 0;
        Result r = openIn(mode, t);
        if (r != kOk) return r;
        for (std::size_t i = 0; i < upTo && i < op.steps.size() && r == kOk; ++i) r = op.steps[i](t);
        const Result c = closeTable(t);
        applicationExit();
        return r != kOk ? r : c;
    }

    // The states a reader may find after op: before any of its calls, after each.
    std::vector<State> goodStates(const Operation& op, std::uint32_t mode, const Files& before) {
        std::vector<State> out;
        for (std::size_t k = 0; k <= op.steps.size(); ++k) {
            restore(scratch.dir(), before);
            FaultBackend noWait; // no crash; flushes do not wait for the disk
            EXPECT_EQ(run(op, mode, k), kOk) << op.name << " up to call " << k << ": " << lastError();
            Handle t = 0;
            EXPECT_EQ(openIn(kOpenExclusive, t), kOk) << lastError();
            State s;
            EXPECT_EQ(readState(t, s), kOk) << lastError();
            std::vector<std::string> problems;
            EXPECT_EQ(verifyTable(t, problems), kOk) << op.name << " up to call " << k;
            closeTable(t);
            out.push_back(s);
        }
        return out;
    }

    // After a cut-off run: the table as the system's own back end finds it. Answers an empty
    // text when it is one of the good states in agreement, or 7025 and readable.
    std::string check(const std::vector<State>& good) {
        Handle t = 0;
        Result r = openIn(kOpenExclusive, t);
        if (r == kIndexOutOfDate) {
            r = openIn(kOpenExclusive | kOpenReadOnly, t);
            if (r != kOk) return "7025, and opened read-only it answers " + lastError();
            State s;
            r = readState(t, s);
            closeTable(t);
            if (r != kOk) return "7025, and read-only reading answers " + lastError();
            return {};
        }
        if (r != kOk) return "the open answers " + lastError();
        State s;
        r = readState(t, s);
        if (r != kOk) {
            closeTable(t);
            return "reading answers " + lastError();
        }
        std::vector<std::string> problems;
        r = verifyTable(t, problems);
        closeTable(t);
        if (r != kOk) {
            std::string out = "verify answers " + std::to_string(r) + ":";
            for (const std::string& p : problems) out += " " + p + ";";
            return out;
        }
        for (const State& g : good)
            if (s == g) return {};
        return "a state that is neither before nor after any call:\n" + describe(s);
    }

    struct Tally {
        std::uint64_t points = 0; // changes the operation makes
        std::uint64_t runs = 0;
        std::uint64_t checks = 0; // distinct sets of files the runs left
    };

    // Checks the files a run left, unless a run before left the very same bytes: they go to the
    // disk for the check, and the files as they were before come back after it.
    std::string checkOnce(const std::vector<State>& good, std::set<Files>& seen, Tally& tally, Files files,
                          const Files& before) {
        ++tally.runs;
        if (seen.count(files)) return {};
        ++tally.checks;
        restore(scratch.dir(), files);
        const std::string fault = check(good);
        seen.insert(std::move(files));
        restore(scratch.dir(), before);
        return fault;
    }

    // Every change point of op, in the given open mode, with every way of stopping.
    Tally walk(const Operation& op, std::uint32_t mode) {
        const Files before = snapshot(scratch.dir());
        const std::vector<State> good = goodStates(op, mode, before);
        Tally tally;
        std::set<Files> seen;
        // How many changes a whole run makes.
        restore(scratch.dir(), before);
        {
            FaultBackend count;
            EXPECT_EQ(run(op, mode, op.steps.size()), kOk) << op.name;
            tally.points = count.changes();
        }
        const std::string how = op.name + (mode & kOpenShared ? " (shared)" : " (exclusive)");
        restore(scratch.dir(), before);
        // The runs work on copies of the files in memory (the disk keeps them as they were).
        for (std::uint64_t n = 0; n <= tally.points; ++n) {
            // Refused from change n on, as on a full disk.
            std::string fault;
            {
                FaultBackend stop(n, CrashMode::refuse, false, true);
                run(op, mode, op.steps.size());
                engine::os::install(nullptr);
                fault = checkOnce(good, seen, tally, outcome(before, stop), before);
            }
            EXPECT_EQ(fault, "") << how << ", change " << n << " refused, with every change after it";
            // Dropped from change n on, as in a killed process; then, as in a power cut at that
            // point, what was not flushed lost in every file, or in some.
            FaultBackend cut(n, CrashMode::drop, true, true);
            run(op, mode, op.steps.size());
            engine::os::install(nullptr);
            fault = checkOnce(good, seen, tally, outcome(before, cut), before);
            EXPECT_EQ(fault, "") << how << ", change " << n << " dropped, with every change after it";
            std::vector<std::pair<std::string, FaultBackend::Keep>> keeps = {
                {"all lost", FaultBackend::loseAll()}};
            for (const auto& [path, pending] : cut.unflushed()) {
                if (pending == 0) continue;
                const std::string file = fs::path(path).filename().string();
                keeps.emplace_back("only " + file + " kept", FaultBackend::keepOnly(file));
                keeps.emplace_back("only " + file + " lost", FaultBackend::tornAt(file, 0));
            }
            for (const auto& [what, keep] : keeps) {
                cut.cutPower(keep);
                fault = checkOnce(good, seen, tally, outcome(before, cut), before);
                EXPECT_EQ(fault, "") << how << ", power cut at change " << n
                                     << ", unflushed changes: " << what;
            }
        }
        restore(scratch.dir(), before);
        std::printf("[ walked   ] %s: %llu change points, %llu runs, %llu distinct outcomes checked\n",
                    how.c_str(), static_cast<unsigned long long>(tally.points),
                    static_cast<unsigned long long>(tally.runs),
                    static_cast<unsigned long long>(tally.checks));
        return tally;
    }

    void walkBoth(const Operation& op) {
        walk(op, kOpenExclusive);
        walk(op, kOpenShared);
    }
};

} // namespace

TEST_F(Crash, IndexedAppend) {
    makeTable(true);
    const Step append = [](Handle t) { return appendRecord(t); };
    walkBoth({"append",
              {append, numberStep("ID", 5), setStep("NAME", "eve"), setStep("NOTE", "fifth"), writeStep()}});
    walkBoth({"two appends",
              {append, setStep("NAME", "fay"), append, numberStep("ID", 7), setStep("NOTE", "seventh")}});
}

TEST_F(Crash, AppendsUnderATableLock) {
    makeTable(true);
    walk({"appends under a table lock",
          {[](Handle t) { return lockTable(t); }, [](Handle t) { return appendRecord(t); },
           setStep("NAME", "fay"), [](Handle t) { return appendRecord(t); }, setStep("NAME", "gus"),
           [](Handle t) { return unlockTable(t); }}},
         kOpenShared);
}

TEST_F(Crash, KeyChange) {
    makeTable(true);
    walkBoth({"key change", {gotoStep(2), setStep("NAME", "zed"), numberStep("ID", 9), writeStep()}});
}

TEST_F(Crash, MemoRewrites) {
    makeTable(true);
    walkBoth({"longer memo", {gotoStep(1), setStep("NOTE", longText('k', 300)), writeStep()}});
    walkBoth({"shorter memo", {gotoStep(2), setStep("NOTE", "short"), writeStep()}});
}

TEST_F(Crash, MemoRewritesWithoutIndexes) {
    makeTable(false);
    walkBoth({"longer memo", {gotoStep(1), setStep("NOTE", longText('k', 300)), writeStep()}});
    walkBoth({"shorter memo", {gotoStep(2), setStep("NOTE", "short"), writeStep()}});
}

TEST_F(Crash, DeleteAndRecall) {
    makeTable(true);
    walkBoth({"delete", {gotoStep(2), [](Handle t) { return deleteRecord(t); }, writeStep()}});
    walkBoth({"recall", {gotoStep(3), [](Handle t) { return recallRecord(t); }, writeStep()}});
}

TEST_F(Crash, TagCreation) {
    makeTable(true);
    walkBoth({"tag creation", {[](Handle t) {
                  Handle idx = 0;
                  return createIndex(t, "", "MIX", "NAME+STR(ID,4)", "", "", kIndexCompound, idx);
              }}});
}

TEST_F(Crash, TagRebuild) {
    makeTable(true);
    walkBoth({"tag rebuild", {[](Handle t) {
                  Handle idx = 0;
                  return createIndex(t, "", "IDD", "ID", "", "", kIndexCompound | kIndexDescending, idx);
              }}});
}

TEST_F(Crash, FirstTag) {
    makeTable(false);
    walkBoth({"first tag", {[](Handle t) {
                  Handle idx = 0;
                  return createIndex(t, "", "NAME", "UPPER(NAME)", "", "", kIndexCompound, idx);
              }}});
}
