#include "process.h"

#include "dates.h"
#include "strings.h"

#include <map>
#include <string>
#include <utility>

namespace rt {

namespace {
Date g_startDate;
double g_startSeconds = 0;
int g_eventLoop = 0;
}  // namespace

void INITTIME() {
    g_startDate = DATE();
    g_startSeconds = SECONDS();
}

Date startDate() { return g_startDate; }
double startSeconds() { return g_startSeconds; }

int eventLoopFlag() { return g_eventLoop; }

int setEventLoopFlag(int value) {
    const int old = g_eventLoop;
    g_eventLoop = value;
    return old;
}

bool LWRUNNING() { return g_eventLoop != 0; }

namespace {

std::map<std::string, Value>& publics() {
    static std::map<std::string, Value> table;
    return table;
}

std::map<std::int64_t, Value>& keys() {
    static std::map<std::int64_t, Value> table;
    return table;
}

std::function<void(Args)>& helpRoutine() {
    static std::function<void(Args)> routine;
    return routine;
}

}  // namespace

void PUBLICVAR(std::string_view name, const Value& value) { publics()[UPPER(Value(name))] = value; }

bool ISPUBLIC(std::string_view name) { return publics().count(UPPER(Value(name))) != 0; }

Value PUBLICVALUE(std::string_view name) {
    const auto it = publics().find(UPPER(Value(name)));
    return it == publics().end() ? Value() : it->second;
}

Value SETKEY(std::int64_t nKey, const Value& bAction) {
    const auto it = keys().find(nKey);
    Value old = it == keys().end() ? Value() : it->second;
    if (bAction.isBlock()) keys()[nKey] = bAction;
    return old;
}

void setHelpRoutine(std::function<void(Args)> routine) { helpRoutine() = std::move(routine); }

void __SETHELPK() {
    SETKEY(K_F1, Value(makeBlock("__SETHELPK", [](Args args) {
               if (helpRoutine()) helpRoutine()(args);
               return Value();
           })));
}

}  // namespace rt
