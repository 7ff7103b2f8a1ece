#include "registry.h"

#include "ads.h"
#include "local_drivers.h"
#include "workarea.h"

#include "runtime/error.h"

#include <memory>

namespace tables {

namespace {

struct LinkedRoutine {
    std::string name;
    TableRoutine routine;
};

// The drivers linked into the program, found by the name of their table routine.
std::vector<LinkedRoutine> programDrivers() {
    return {
        {"DBF_GETFUNCTABLE", DBF_GETFUNCTABLE},
        {"SDF_GETFUNCTABLE", SDF_GETFUNCTABLE},
        {"DELIM_GETFUNCTABLE", DELIM_GETFUNCTABLE},
        {"ADS_GETFUNCTABLE", ADS_GETFUNCTABLE},
    };
}

struct Registry {
    std::vector<LinkedRoutine> linked = programDrivers();
    std::vector<std::unique_ptr<Driver>> drivers; // registry order; entries never move
    std::string defaultName;
    int shutdownHook = 0;
};

Registry& registry() {
    static Registry r;
    return r;
}

std::string driverName(std::string_view name) {
    std::string out(name.substr(0, kMaxDriverName));
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

TableRoutine linkedRoutine(const std::string& routineName) {
    for (const LinkedRoutine& l : registry().linked)
        if (l.name == routineName) return l.routine;
    return nullptr;
}

std::string setDefault(const rt::Value& name, std::string_view operation) {
    Registry& r = registry();
    const std::string old = r.defaultName;
    if (!name.isString() || name.asString().empty()) return old;
    const std::string wanted = driverName(name.asString());
    if (!findDriver(wanted)) {
        rt::launchError(rt::makeError(rt::EG_ARG, 1015, operation, 0, "DBCMD"));
        return old;
    }
    r.defaultName = wanted;
    return old;
}

} // namespace

int registerDriver(std::string_view name, int type) {
    if (name.empty()) return kRegistered;
    Registry& r = registry();
    const std::string upper = driverName(name);
    if (findDriver(upper)) return kAlreadyRegistered;
    const TableRoutine routine = linkedRoutine(upper + "_GETFUNCTABLE");
    if (!routine) return kNoTableRoutine;
    auto entry = std::make_unique<Driver>();
    entry->name = upper;
    entry->type = type;
    if (routine(&entry->methodCount, &entry->driver) != 0) return kTableRoutineFailed;
    if (!entry->driver) entry->driver = std::make_unique<WorkAreaDriver>();
    r.drivers.push_back(std::move(entry));
    if (!r.shutdownHook) r.shutdownHook = rt::addShutdownHook(closeAllAreasAndExitDrivers);
    return kRegistered;
}

void RDDREGISTER(const rt::Value& name, const rt::Value& type) {
    const int result =
        registerDriver(name.isString() ? std::string_view(name.asString()) : std::string_view(),
                       static_cast<int>(type.asInteger()));
    if (result == kNoTableRoutine || result == kTableRoutineFailed)
        rt::unrecoverable(9004, "RDD invalid or failed to load");
}

std::string RDDSETDEFAULT(const rt::Value& name) {
    return setDefault(name, "RDDSETDEFAULT");
}
std::string DBSETDRIVER(const rt::Value& name) {
    return setDefault(name, "DBSETDRIVER");
}

rt::ArrayPtr RDDLIST(const rt::Value& type) {
    auto list = rt::makeArray();
    const std::int64_t only = type.isNumber() ? type.asInteger() : 0;
    for (const auto& d : registry().drivers)
        if (only == 0 || d->type == only) list->add(rt::Value(d->name));
    return list;
}

const Driver* findDriver(std::string_view name) {
    for (const auto& d : registry().drivers)
        if (d->name == name) return d.get();
    return nullptr;
}

const std::string& defaultDriverName() {
    return registry().defaultName;
}

void registerStartupDrivers() {
    registry().defaultName = "DBFNTX";
    registerDriver("DBF", kFullDriver);
    registerDriver("SDF", kTransferDriver);
    registerDriver("DELIM", kTransferDriver);
}

void exitDrivers() {
    Registry& r = registry();
    r.defaultName.clear();
    for (const auto& d : r.drivers) d->driver->exit();
}

void linkDriver(std::string_view routineName, TableRoutine routine) {
    registry().linked.push_back({std::string(routineName), routine});
}

void resetRegistry() {
    Registry& r = registry();
    resetWorkAreas();
    if (r.shutdownHook) rt::removeShutdownHook(r.shutdownHook);
    r = Registry{};
    resetAds();
}

} // namespace tables
