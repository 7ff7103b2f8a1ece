// What the error report asks of the table layer: the names of the table drivers and a
// snapshot of each open work area. The table layer installs its own TableFacts at start-up;
// until it does, the report lists no drivers and no areas.
#pragma once

#include "runtime/value.h"

#include <string>
#include <vector>

namespace errors {

// One order of a work area: its key expression (INDEXKEY) and tag name (ORDNAME).
struct OrderFacts {
    std::string key; // an empty key means the order is not in use
    std::string name;
};

// One relation of a work area: the expression (DBRELATION), the child area (DBRSELECT) and
// the child's alias.
struct RelationFacts {
    std::string expression;
    int childArea = 0; // 0: no relation in this slot
    std::string childAlias;
};

// A work area as the report shows it, read with that area selected.
struct AreaFacts {
    int area = 0;                         // 1 to 255
    std::string alias;                    // ALIAS(area); an area without one is not in use
    std::string driver;                   // RDDNAME()
    rt::Value recNo = 0;                  // RECNO()
    rt::Value recCount = 0;               // RECCOUNT()
    rt::Value bof = false;                // BOF()
    rt::Value eof = false;                // EOF()
    int controllingOrder = 0;             // INDEXORD()
    std::vector<OrderFacts> orders;       // orders 1, 2, ... (the report reads at most 15)
    std::vector<RelationFacts> relations; // relations 1, 2, ... (the report reads at most 8)
};

class TableFacts {
  public:
    virtual ~TableFacts() = default;
    // RDDLIST(1): the names of the registered table drivers of kind 1, in registry order.
    virtual std::vector<std::string> driverNames() { return {}; }
    // SELECT(): the selected area.
    virtual int selectedArea() { return 0; }
    // The areas with an alias, in area order. The table layer selects each area to read it and
    // restores the selected area before returning.
    virtual std::vector<AreaFacts> usedAreas() { return {}; }
};

// The facts in force (a TableFacts that reports nothing until the table layer installs its
// own). The caller of setTableFacts keeps ownership; nullptr goes back to the empty one.
TableFacts& tableFacts();
void setTableFacts(TableFacts* facts);

} // namespace errors
