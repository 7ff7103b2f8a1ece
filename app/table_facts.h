// The error report's view of the table layer: the registered drivers and every open work area,
// read with each area selected in turn.
#pragma once

#include "errors/table_facts.h"

namespace app {

class WorkAreaFacts : public errors::TableFacts {
  public:
    std::vector<std::string> driverNames() override;
    int selectedArea() override;
    std::vector<errors::AreaFacts> usedAreas() override;
};

} // namespace app
