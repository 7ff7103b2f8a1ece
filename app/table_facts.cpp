#include "app/table_facts.h"

#include "tables/registry.h"
#include "tables/workarea.h"

namespace app {

namespace {

constexpr int kReportedOrders = 15;
constexpr int kReportedRelations = 8;

// Reads one work area's facts with that area selected.
errors::AreaFacts readArea(int area, const std::string& alias) {
    errors::AreaFacts a;
    a.area = area;
    a.alias = alias;
    a.driver = tables::RDDNAME();
    a.recNo = tables::RECNO();
    a.recCount = tables::RECCOUNT();
    a.bof = tables::BOF();
    a.eof = tables::EOF_();
    a.controllingOrder = static_cast<int>(tables::INDEXORD());
    for (int i = 1; i <= kReportedOrders; ++i) a.orders.push_back({tables::INDEXKEY(i), tables::ORDNAME(i)});
    for (int i = 1; i <= kReportedRelations; ++i) {
        errors::RelationFacts r;
        r.childArea = static_cast<int>(tables::DBRSELECT(i));
        if (r.childArea != 0) {
            r.expression = tables::DBRELATION(i);
            r.childAlias = tables::ALIAS(r.childArea);
        }
        a.relations.push_back(r);
    }
    return a;
}

} // namespace

std::vector<std::string> WorkAreaFacts::driverNames() {
    const rt::ArrayPtr list = tables::RDDLIST(1);
    std::vector<std::string> names;
    for (const rt::Value& name : list->items) names.push_back(name.asString());
    return names;
}

int WorkAreaFacts::selectedArea() {
    return tables::currentArea();
}

std::vector<errors::AreaFacts> WorkAreaFacts::usedAreas() {
    std::vector<errors::AreaFacts> areas;
    const int selected = tables::currentArea();
    for (int area = 1; area <= tables::kMaxAreas; ++area) {
        const std::string alias = tables::ALIAS(area);
        if (alias.empty()) continue;
        tables::DBSELECTAREA(area);
        areas.push_back(readArea(area, alias));
    }
    tables::DBSELECTAREA(selected);
    return areas;
}

} // namespace app
