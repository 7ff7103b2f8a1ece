// The table-driver registry: the ordered list of table drivers a work area can be served by,
// and the default driver name used by opens that name none.
#pragma once

#include "driver.h"

#include "runtime/value.h"

#include <memory>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tables {

// A driver's table routine (name + "_GETFUNCTABLE"): answers the driver's method count and
// makes the driver (its work-area operations); answers 0 on success.
using TableRoutine = int (*)(std::uint16_t* count, std::unique_ptr<WorkAreaDriver>* driver);

enum DriverType : int { kFullDriver = 1, kTransferDriver = 2 };

struct Driver {
    std::string name; // upper case, at most 32 characters
    int type = 0;
    std::uint16_t methodCount = 0;
    std::unique_ptr<WorkAreaDriver> driver; // never null once registered
};

constexpr std::size_t kMaxDriverName = 32;

// Results of registerDriver.
enum RegisterResult : int {
    kRegistered = 0,
    kAlreadyRegistered = 1,
    kNoTableRoutine = 2,
    kTableRoutineFailed = 3
};

// Registers a driver by name (upper-cased, cut to 32 characters): looks up its table routine
// among the drivers linked into the program and appends the new entry. An empty name does
// nothing and answers kRegistered.
int registerDriver(std::string_view name, int type);

// RDDREGISTER(name, type): registerDriver, with a missing or failing table routine turned into
// the unrecoverable error 9004.
void RDDREGISTER(const rt::Value& name, const rt::Value& type);

// RDDSETDEFAULT([name]) / DBSETDRIVER([name]): answer the default driver name as it was;
// a non-empty name must be registered (else the "DBCMD" argument error 1015) and becomes the
// default.
std::string RDDSETDEFAULT(const rt::Value& name = {});
std::string DBSETDRIVER(const rt::Value& name = {});

// RDDNAME(): the name the current work area's driver gives for itself; with no table in the
// current work area the "DBCMD" error 35/2001 is raised and the answer is "".
std::string RDDNAME();

// RDDLIST([type]): the registered names in registry order; a non-zero type keeps only the
// drivers of that type.
rt::ArrayPtr RDDLIST(const rt::Value& type = {});

// The registered driver of that (upper-case) name, or null.
const Driver* findDriver(std::string_view name);
const std::string& defaultDriverName();

// The start-up procedures of the table layer: the default name becomes "DBFNTX" (unchecked:
// no driver of that name exists) and "DBF", "SDF" and "DELIM" register themselves.
void registerStartupDrivers();

// Adds a driver's table routine to the ones linked into the program, under its full name
// ("XYZ_GETFUNCTABLE"). The program's own drivers are there from the start.
void linkDriver(std::string_view routineName, TableRoutine routine);

// The program's end for the registry: the default name is dropped and each driver's exit step
// runs, in registry order. (The work-area layer closes every work area first.)
void exitDrivers();

// Back to an empty registry with only the program's own drivers linked (for tests).
void resetRegistry();

} // namespace tables
