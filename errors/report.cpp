#include "errors/report.h"

#include "errors/errorsys.h"
#include "runtime/dates.h"
#include "runtime/frames.h"
#include "runtime/strings.h"

#include <cstdio>

namespace errors {

namespace {

constexpr const char* kEol = "\r\n";
constexpr std::int64_t kFirstLevel = 2; // above the handler and the error block
constexpr std::int64_t kLastLevel = 73;
constexpr int kMaxAreas = 255;
constexpr std::size_t kMaxOrders = 15;
constexpr std::size_t kMaxRelations = 8;

std::string num(std::int64_t n) {
    return std::to_string(n);
}

// "hh:mm:ss" for a number of seconds since midnight.
std::string clockText(double seconds) {
    auto s = static_cast<std::int64_t>(seconds);
    if (s < 0) s = 0;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(s / 3600 % 24),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    return buf;
}

// The size of the program in the picture "9,999,999 bytes". A program too big for the picture
// is shown with all its digits (and its thousands separators) instead of the picture's
// asterisks.
std::string sizeText(std::int64_t size) {
    if (size <= 9999999) return rt::TRANSFORM(size, "9,999,999 bytes");
    std::string digits = std::to_string(size), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out + " bytes";
}

void applicationSection(std::string& out, const rt::ErrorObject& e, SystemFacts& facts) {
    out += "Application\r\n";
    out += "===========\r\n";
    const std::string path = facts.moduleFileName();
    out += "   Path and name: " + path + " (" + num(facts.processBits()) + " bits)\r\n";
    out += "   Size: " + sizeText(facts.fileSize(path)) + kEol;
    out += "   Time from start: " +
           elapsedText(
               secondsFromStart(facts.startDate(), facts.startSeconds(), facts.today(), facts.secondsNow())) +
           kEol;
    out += "   Error occurred at: " + rt::DTOC(facts.today()) + ", " + clockText(facts.secondsNow()) + kEol;
    out += errorDescriptionRow(e);
    if (const auto& args = e.Args.asArray()) {
        out += "   Args:\r\n";
        for (std::size_t i = 1; i <= args->size(); ++i) {
            const rt::Value arg = args->at(i);
            out += "     [" + rt::STR(static_cast<std::int64_t>(i), 4) + "] = " + arg.typeLetter() + "   " +
                   rt::CVALTOCHAR(arg) + kEol;
        }
    }
}

void stackSection(std::string& out, std::vector<std::string>& lines, std::int64_t base) {
    out += "\r\nStack Calls\r\n";
    out += "===========\r\n";
    for (std::int64_t level = kFirstLevel; level <= kLastLevel; ++level) {
        const rt::Frame* f = rt::Frame::at(base + level);
        if (!f) break;
        const std::string name = rt::TRIM(f->name());
        if (name.empty()) continue;
        std::string line = "   Called from " + name + "(" + num(f->line()) + ")";
        out += line + kEol;
        lines.push_back(std::move(line));
    }
}

void systemSection(std::string& out, const OsVersion& os, SystemFacts& facts) {
    out += "\r\nSystem\r\n";
    out += "======\r\n";
    out += "   CPU type: " + facts.cpuName() + " " + num(facts.cpuSpeed()) + " Mhz\r\n";
    out += "   Hardware memory: " + num(static_cast<std::int64_t>(facts.physicalMemory() / 1048576) + 1) +
           " megs\r\n\r\n";
    out += "   Free System resources: " + num(facts.freeSystemResources(0)) + " %\r\n";
    out += "        GDI    resources: " + num(facts.freeSystemResources(1)) + " %\r\n";
    out += "        User   resources: " + num(facts.freeSystemResources(2)) + " %\r\n\r\n";
    out += "   Compiler version: " + facts.runtimeVersion() + kEol;
    out += "   Windows version: " + num(os.major) + "." + num(os.minor) + ", Build " + num(os.build) + " " +
           os.servicePack + "\r\n\r\n";
    const std::vector<std::string> tasks = distinctTitles(facts.windowTitles());
    out += "   Windows total applications running: " + num(static_cast<std::int64_t>(tasks.size())) + kEol;
    for (std::size_t i = 0; i < tasks.size(); ++i)
        out += "    " + rt::STR(static_cast<std::int64_t>(i + 1), 3) + " " + tasks[i] + kEol;
}

void variablesSection(std::string& out, std::int64_t base) {
    out += "\r\nVariables in use\r\n================\r\n";
    out += "   Procedure     Type   Value\r\n";
    out += "   ==========================\r\n";
    for (std::int64_t level = kFirstLevel; level <= kLastLevel; ++level) {
        const rt::Frame* f = rt::Frame::at(base + level);
        if (!f) break;
        const std::string name = rt::TRIM(f->name());
        if (name.empty()) continue;
        out += "   " + name + kEol;
        for (std::size_t j = 1; j <= f->paramCount(); ++j) {
            const rt::Value v = f->paramAt(j);
            out += "     Param " + rt::STR(static_cast<std::int64_t>(j), 3) + ":    " + v.typeLetter() +
                   "    " + CGETINFO(v) + kEol;
        }
        for (std::size_t j = 1; j <= f->localCount(); ++j) {
            const rt::Value v = f->localAt(j);
            out += "     Local " + rt::STR(static_cast<std::int64_t>(j), 3) + ":    " + v.typeLetter() +
                   "    " + CGETINFO(v) + kEol;
        }
    }
}

void driversSection(std::string& out, TableFacts& tables) {
    out += "\r\nLinked RDDs\r\n===========\r\n";
    for (const std::string& name : tables.driverNames()) out += "   " + name + kEol;
}

void databasesSection(std::string& out, TableFacts& tables) {
    out += "\r\nDataBases in use\r\n================\r\n";
    const int selected = tables.selectedArea();
    for (const AreaFacts& a : tables.usedAreas()) {
        if (a.area < 1 || a.area > kMaxAreas || a.alias.empty()) continue;
        out += "\r\n" + rt::STR(a.area, 3) + ": " + (a.area == selected ? "=> " : "   ") +
               rt::PADR(a.alias, 15) + rt::SPACE(20) + "RddName: " + a.driver + kEol;
        out += "     ==============================\r\n";
        out += "     RecNo    RecCount    BOF   EOF\r\n";
        out += "    " + rt::TRANSFORM(a.recNo, "99999") + "      " + rt::TRANSFORM(a.recCount, "99999") +
               "      " + rt::CVALTOCHAR(a.bof) + "   " + rt::CVALTOCHAR(a.eof) + "\r\n\r\n";
        out += "     Indexes in use " + rt::SPACE(23) + "TagName\r\n";
        for (std::size_t i = 1; i <= a.orders.size() && i <= kMaxOrders; ++i) {
            const OrderFacts& o = a.orders[i - 1];
            if (o.key.empty()) continue;
            out += rt::SPACE(8) + (static_cast<std::size_t>(a.controllingOrder) == i ? "=> " : "   ") +
                   rt::PADR(o.key, 35) + o.name + kEol;
        }
        out += "\r\n     Relations in use\r\n";
        for (std::size_t i = 1; i <= a.relations.size() && i <= kMaxRelations; ++i) {
            const RelationFacts& r = a.relations[i - 1];
            if (r.childArea == 0) continue;
            out += rt::SPACE(8) + rt::STR(static_cast<std::int64_t>(i)) + ": " + "TO " + r.expression +
                   " INTO " + r.childAlias + kEol;
        }
    }
}

void classesSection(std::string& out) {
    out += "\r\nClasses in use:\r\n";
    out += "===============\r\n";
    for (std::int64_t n = 1;; ++n) {
        const std::string name = rt::__CLASSNAME(n);
        if (name.empty()) break;
        out += "   " + rt::STR(n, 3) + " " + name + kEol;
    }
}

void memorySection(std::string& out, SystemFacts& facts) {
    out += "\r\nMemory Analysis\r\n";
    out += "===============\r\n";
    out += "      " + num(rt::NSTATICS()) + " Static variables\r\n\r\n";
    out += "   Dynamic memory consume:\r\n";
    out += "      Actual  Value: " + rt::STR(facts.memUsed()) + " bytes\r\n";
    out += "      Highest Value: " + rt::STR(facts.memMax()) + " bytes\r\n";
}

} // namespace

std::string errorDescriptionRow(const rt::ErrorObject& e) {
    return "   Error description: " + ERRORMESSAGE(e) + kEol;
}

std::string CGETINFO(const rt::Value& v) {
    switch (v.type()) {
    case rt::Type::String:
        return "\"" + rt::CVALTOCHAR(v) + "\"";
    // A frame may hold a null reference of either kind (an object or list variable not yet
    // given one): it is shown as an object of class NIL and as an empty list.
    case rt::Type::Object:
        return std::string("Class: ") + (v.asObject() ? v.asObject()->className() : "NIL");
    case rt::Type::Array:
        return "Len: " + rt::STR(static_cast<std::int64_t>(v.asArray() ? v.asArray()->size() : 0), 4);
    default:
        return rt::CVALTOCHAR(v);
    }
}

Report buildReport(const rt::ErrorObject& e, const OsVersion& os, SystemFacts& facts, TableFacts& tables,
                   const std::function<void()>& afterSystem, std::int64_t handlerLevel) {
    Report r;
    applicationSection(r.text, e, facts);
    stackSection(r.text, r.stackLines, handlerLevel);
    systemSection(r.text, os, facts);
    if (afterSystem) afterSystem();
    variablesSection(r.text, handlerLevel);
    driversSection(r.text, tables);
    databasesSection(r.text, tables);
    classesSection(r.text);
    memorySection(r.text, facts);
    return r;
}

} // namespace errors
