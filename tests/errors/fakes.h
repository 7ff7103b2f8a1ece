// Fixed system and table facts, and an error port that answers like a user would, for the
// error handler's tests.
#pragma once

#include "errors/errorsys.h"
#include "errors/system_facts.h"
#include "errors/table_facts.h"
#include "runtime/runtime.h"

#include <functional>
#include <string>
#include <vector>

namespace errtest {

class FakeFacts : public errors::SystemFacts {
  public:
    std::string path = "C:\\Prog\\instayuda.exe";
    std::int64_t size = 1048576;
    rt::Date startDay = rt::makeDate(2024, 3, 5);
    double startSecs = 13 * 3600.0;
    rt::Date day = rt::makeDate(2024, 3, 5);
    double now = 13 * 3600.0 + 14 * 60 + 15.5;
    std::vector<std::string> titles{"Wine desktop", "Notepad", "Wine", "", "instayuda"};
    std::int64_t used = 1234;
    std::int64_t peak = 5678;
    errors::OsVersion os{5, 1, 2600, 2, "Service Pack 3", true};
    std::function<void()> onCpuName; // runs inside GETCPU (a test may raise an error there)

    std::string moduleFileName() override { return path; }
    std::int64_t fileSize(const std::string& p) override { return p == path ? size : 0; }
    int processBits() override { return 32; }
    rt::Date today() override { return day; }
    double secondsNow() override { return now; }
    rt::Date startDate() override { return startDay; }
    double startSeconds() override { return startSecs; }
    std::string cpuName() override {
        if (onCpuName) onCpuName();
        return "Pentium IV";
    }
    std::int64_t cpuSpeed() override { return 2400; }
    std::uint64_t physicalMemory() override { return 512ull * 1048576 + 5; }
    std::int64_t freeSystemResources(int) override { return 90; }
    std::string runtimeVersion() override { return "instayuda runtime 1.0"; }
    errors::OsVersion osVersion() override { return os; }
    std::vector<std::string> windowTitles() override { return titles; }
    std::int64_t memUsed() override { return used; }
    std::int64_t memMax() override { return peak; }
};

class FakeTables : public errors::TableFacts {
  public:
    std::vector<std::string> drivers;
    int selected = 0;
    std::vector<errors::AreaFacts> areas;

    std::vector<std::string> driverNames() override { return drivers; }
    int selectedArea() override { return selected; }
    std::vector<errors::AreaFacts> usedAreas() override { return areas; }
};

// Answers the dialog with a fixed choice and records what the handler asked of it.
class FakePort : public errors::ErrorPort {
  public:
    rt::Value answer; // no value: Quit
    std::vector<std::string> calls;
    errors::ErrorDialogData shown;
    std::function<void()> onWrite; // runs inside the report write

    errors::OsVersion osVersion() override {
        calls.push_back("version");
        return {5, 1, 2600, 2, "Service Pack 3", true};
    }
    void prepareDialog() override { calls.push_back("prepare"); }
    bool writeReport(const std::string& name, const std::string& text) override {
        calls.push_back("write");
        if (onWrite) onWrite();
        return ErrorPort::writeReport(name, text);
    }
    rt::Value showDialog(const errors::ErrorDialogData& data) override {
        calls.push_back("dialog");
        shown = data;
        return answer;
    }
    void releaseDialog() override { calls.push_back("release"); }
    void freeResources() override { calls.push_back("free"); }
};

// Splits a report into its lines at CR LF; a bare CR or LF stays inside its line.
inline std::vector<std::string> reportLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

} // namespace errtest
