#include "errors/table_facts.h"

namespace errors {

namespace {
TableFacts g_noTables;
TableFacts* g_tables = nullptr;
} // namespace

TableFacts& tableFacts() {
    return g_tables ? *g_tables : g_noTables;
}
void setTableFacts(TableFacts* facts) {
    g_tables = facts;
}

} // namespace errors
