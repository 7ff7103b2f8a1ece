#include "common.h"

namespace dialogs {

namespace {
struct Entry {
    const char* description;
    int severity;
    const char* subSystem;
    int subCode;
};
constexpr Entry kErrors[] = {
    {"Non defined Id", 3, "Velloro", 1},
    {"Duplicated Id", 3, "Velloro", 2},
    {"Cannot create Dialog Box", 3, "Velloro", 3},
    {"Memory Low", 1, "BASE", 5300},
    {"GPF occurred", 3, "Velloro", 5},
    {"Cannot create window or control", 3, "Velloro", 6},
};
} // namespace

rt::ErrorPtr makeFrameworkError(int nError, std::string_view operation) {
    if (nError < 1 || nError > 6) return nullptr;
    const Entry& entry = kErrors[nError - 1];
    auto e = rt::ERRORNEW();
    e->Description = entry.description;
    e->Severity = entry.severity;
    e->SubSystem = entry.subSystem;
    e->SubCode = entry.subCode;
    e->CanDefault = entry.severity < 3;
    e->Operation = operation;
    return e;
}

void frameworkError(int nError, std::string_view operation) {
    const auto e = makeFrameworkError(nError, operation);
    if (!e) return;
    const rt::Value errorValue(e);
    rt::eval(rt::ERRORBLOCK(), rt::Args(&errorValue, 1));
}

std::string idOperation(std::int64_t nId) {
    return "No: " + rt::STR(rt::Value(nId), 6);
}

} // namespace dialogs
