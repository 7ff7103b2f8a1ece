#include "tables/shared_routines.h"

#include "tables/registry.h"
#include "tables/workarea.h"

#include "files/files.h"
#include "runtime/error.h"
#include "runtime/frames.h"
#include "runtime/macro.h"
#include "runtime/strings.h"
#include "runtime/ui.h"

#include <chrono>
#include <thread>

namespace tables {

namespace {

SleepFunction& sleeper() {
    static SleepFunction fn;
    return fn;
}
RefreshFunction& refresher() {
    static RefreshFunction fn;
    return fn;
}

bool logicalOr(const rt::Value& v, bool dflt) {
    return v.isLogical() ? v.asLogical() : dflt;
}
double numberOr(const rt::Value& v, double dflt) {
    return v.isNumber() ? v.asNumber() : dflt;
}

// The attempt budget: decreased per failed attempt; the loop runs while it is above 0, or for
// ever when it started at 0.
class Budget {
  public:
    explicit Budget(const rt::Value& seconds) : left_(numberOr(seconds, 1)), endless_(left_ == 0) {}
    bool allows() const { return endless_ || left_ > 0; }
    void spend(double amount) { left_ -= amount; }

  private:
    double left_;
    bool endless_;
};

// Selects a work area for the time of one table call and selects the previous one again.
class AreaScope {
  public:
    explicit AreaScope(int area) : saved_(currentArea()) { DBSELECTAREA(area); }
    ~AreaScope() { DBSELECTAREA(saved_); }
    AreaScope(const AreaScope&) = delete;
    AreaScope& operator=(const AreaScope&) = delete;

  private:
    int saved_;
};

// Runs one table call inside the work area of alias. An alias that names no open work area
// raises "Alias does not exist" (BASE 15/1002, retry allowed); a retry finds the alias again,
// so one opened by the handler meanwhile goes ahead. Without a retry the call is not made.
template <class F> void inAlias(const rt::Value& alias, F call) {
    for (;;) {
        const int area = alias.isString() ? areaOfAlias(alias.asString()) : 0;
        if (area > 0) {
            AreaScope scope(area);
            call();
            return;
        }
        const rt::ErrorPtr e =
            rt::makeError(rt::EG_NOALIAS, 1002, alias.isString() ? alias.asString() : rt::CVALTOCHAR(alias));
        e->CanRetry = true;
        if (rt::launchError(e).kind != rt::Recovery::Retry) return;
    }
}

// "{ ||" + key + "}" compiled. A key that is not text fails like the concatenation would, with
// the argument error of "+"; a substituted text is compiled in its place, anything else ends
// the routine (NIL).
rt::Value compileKey(rt::Value& key) {
    if (!key.isString()) {
        const rt::ErrorPtr e = rt::makeError(rt::EG_ARG, 1081, "+", rt::makeArray({"{ ||", key}));
        e->CanSubstitute = true;
        const rt::Value text = rt::raiseSubstitutable(e);
        if (!text.isString() || text.asString().size() < 4 || text.asString().compare(0, 4, "{ ||") != 0)
            return {};
        key = text.asString().substr(4);
    }
    return rt::compileBlock("{ ||" + key.asString() + "}");
}

// ORDCONDSET as these routines set it: every record, no condition, not additive, starting at
// the current record.
void pendingConditionFromHere() {
    const rt::Value n;
    ORDCONDSET(n, n, n, n, n, n, RECNO(), n, n, n, n);
}

} // namespace

void setSleepFunction(SleepFunction fn) {
    sleeper() = std::move(fn);
}
void setRefreshFunction(RefreshFunction fn) {
    refresher() = std::move(fn);
}

void SEGUNDOS(const rt::Value& seconds) {
    const double s = numberOr(seconds, 0);
    if (sleeper()) {
        sleeper()(s);
        return;
    }
    if (s > 0) std::this_thread::sleep_for(std::chrono::duration<double>(s));
}

bool SYSREFRESH() {
    return refresher() ? refresher()() : false;
}

std::string OEMTOANSI(const rt::Value& text) {
    return text.isString() ? oemToAnsi(text.asString()) : std::string();
}
std::string ANSITOOEM(const rt::Value& text) {
    return text.isString() ? ansiToOem(text.asString()) : std::string();
}

void MSGALERT(const rt::Value& text, const rt::Value& title) {
    if (title.isNil())
        rt::showMessage(rt::MessageKind::Alert, text);
    else
        rt::showMessage(rt::MessageKind::Alert, text, title);
}

bool LNETUSE(const rt::Value& file, const rt::Value& exclusive, const rt::Value& seconds,
             const rt::Value& alias, const rt::Value& showMessage, const rt::Value& spare,
             const rt::Value& newArea) {
    rt::Frame frame("LNETUSE", {&file, &exclusive, &seconds, &alias, &showMessage, &spare, &newArea});
    const bool exclusiveOpen = logicalOr(exclusive, false);
    const bool show = logicalOr(showMessage, true);
    const bool inNewArea = logicalOr(newArea, true);
    Budget budget(seconds);

    // A table whose production index (single-index bags) is missing gets its header mark
    // cleared so that it opens; with compound indexes the extension never matches.
    if (file.isString()) {
        const std::string ext = INDEXEXT();
        const std::string base = files::CFILEPATH(file.asString()) + files::CFILENOEXT(file.asString());
        if (ext == ".MDX" && !files::FILE(base + ext)) DELDBFMDX(base + ".dbf");
    }

    while (budget.allows()) {
        RT_LINE();
        DBUSEAREA(inNewArea, DBSETDRIVER(), file, alias, !exclusiveOpen, rt::Value());
        if (!rt::NETERR()) return true;
        SEGUNDOS(1);
        budget.spend(1);
    }
    RT_LINE();
    if (show) MSGALERT("Fichero(s) bloqueado(s). Acceso Denegado", "Atenci\xF3n");
    return false;
}

bool LNETRECLOCK(const rt::Value& seconds) {
    rt::Frame frame("LNETRECLOCK", {&seconds});
    Budget budget(seconds);
    RT_LINE();
    if (RLOCK()) return true;
    while (budget.allows()) {
        RT_LINE();
        if (RLOCK()) return true;
        SYSREFRESH();
        SEGUNDOS(0.5);
        budget.spend(0.5);
    }
    RT_LINE();
    MSGALERT("El registro que se intenta procesar est\xE1 bloqueado", "Acceso denegado");
    return false;
}

bool LNETRECADD(const rt::Value& seconds) {
    rt::Frame frame("LNETRECADD", {&seconds});
    Budget budget(seconds);
    RT_LINE();
    DBAPPEND();
    RLOCK();
    if (!rt::NETERR()) return true;
    while (budget.allows()) {
        RT_LINE();
        DBAPPEND();
        RLOCK();
        if (!rt::NETERR()) return true;
        SEGUNDOS(0.5);
        budget.spend(0.5);
    }
    return false;
}

rt::ArrayPtr ASETSTATUS(const rt::Value& alias) {
    rt::Frame frame("ASETSTATUS", {&alias});
    rt::Value recNo, order;
    RT_LINE();
    inAlias(alias, [&] { recNo = RECNO(); });
    inAlias(alias, [&] { order = INDEXORD(); });
    return rt::makeArray({recNo, order});
}

void GETSTATUS(const rt::Value& alias, const rt::Value& status) {
    rt::Frame frame("GETSTATUS", {&alias, &status});
    const rt::ArrayPtr pair = status.isArray() ? status.asArray() : rt::makeArray();
    RT_LINE();
    inAlias(alias, [&] { DBSETORDER(pair->at(2)); });
    inAlias(alias, [&] { DBGOTO(pair->at(1)); });
}

void CREATECDX(const rt::Value& aliasArg, const rt::Value& keyArg, const rt::Value& tagArg,
               const rt::Value& uniqueArg, const rt::Value& resetArg) {
    rt::Value alias = aliasArg, key = keyArg, tag = tagArg;
    rt::Frame frame("CREATECDX", {&aliasArg, &keyArg, &tagArg, &uniqueArg, &resetArg});
    frame.locals(alias, key, tag);
    RT_LINE();
    const rt::Value block = compileKey(key);
    if (!block.isBlock()) return;
    if (alias.isNil()) alias = ALIAS();
    const bool unique = logicalOr(uniqueArg, false);
    if (logicalOr(resetArg, false)) inAlias(alias, [] { DBSETORDER(0); });
    tag = files::CFILENOEXT(tag.isString() ? tag.asString() : std::string());
    RT_LINE();
    inAlias(alias, [] { pendingConditionFromHere(); });
    inAlias(alias, [&] { ORDCREATE(rt::Value(), tag, key, block, unique); });
}

void CREAINDICE(const rt::Value& aliasArg, const rt::Value& keyArg, const rt::Value& fileArg,
                const rt::Value& uniqueArg, const rt::Value& resetArg, const rt::Value& namedBagArg,
                const rt::Value& spare) {
    rt::Value alias = aliasArg, key = keyArg, file = fileArg;
    rt::Frame frame("CREAINDICE",
                    {&aliasArg, &keyArg, &fileArg, &uniqueArg, &resetArg, &namedBagArg, &spare});
    frame.locals(alias, key, file);
    RT_LINE();
    const rt::Value block = compileKey(key);
    if (!block.isBlock()) return;
    const rt::Value bag = fileArg; // the bag name exactly as passed
    if (alias.isNil()) alias = ALIAS();
    const bool unique = logicalOr(uniqueArg, false);
    const bool reset = logicalOr(resetArg, false);
    const bool namedBag = logicalOr(namedBagArg, false);
    RT_LINE();
    if (DBSETDRIVER() == "DBFNTX") {
        if (reset) inAlias(alias, [] { DBCLEARINDEX(); });
        inAlias(alias, [&] { DBCREATEINDEX(file, key, block, unique ? rt::Value(true) : rt::Value()); });
        return;
    }
    if (reset) inAlias(alias, [] { DBSETORDER(0); });
    file = files::CFILENOEXT(file.isString() ? file.asString() : std::string());
    RT_LINE();
    inAlias(alias, [] { pendingConditionFromHere(); });
    inAlias(alias, [&] { ORDCREATE(namedBag ? bag : rt::Value(), file, key, block, unique); });
}

rt::ArrayPtr ACAMPOSLEE() {
    rt::Frame frame("ACAMPOSLEE");
    const std::int64_t n = FCOUNT();
    const rt::ArrayPtr list = rt::ARRAY(n);
    for (std::int64_t i = 1; i <= n; ++i) {
        RT_LINE();
        const rt::Value v = FIELDGET(i);
        list->put(static_cast<std::size_t>(i), v.isString() ? rt::Value(OEMTOANSI(v)) : v);
    }
    return list;
}

bool ACAMPOSGRABA(const rt::Value& list) {
    rt::Frame frame("ACAMPOSGRABA", {&list});
    if (!list.isArray()) return true;
    bool allWritten = true;
    const rt::ArrayPtr items = list.asArray();
    for (std::size_t i = 1; i <= items->size(); ++i) {
        RT_LINE();
        const rt::Value v = items->at(i);
        const std::int64_t n = static_cast<std::int64_t>(i);
        if (FIELDPUT(n, v.isString() ? rt::Value(ANSITOOEM(v)) : v).isNil()) allWritten = false;
    }
    return allWritten;
}

void DBFDBT() {}

} // namespace tables

namespace tables {

namespace {
rt::Value arg(rt::Args a, std::size_t i) {
    return i < a.size() ? a[i] : rt::Value();
}
} // namespace

void registerSharedRoutines() {
    using rt::Args;
    using rt::Value;
    rt::registerRoutine("LNETUSE", [](Args a) {
        return Value(LNETUSE(arg(a, 0), arg(a, 1), arg(a, 2), arg(a, 3), arg(a, 4), arg(a, 5), arg(a, 6)));
    });
    rt::registerRoutine("LNETRECLOCK", [](Args a) { return Value(LNETRECLOCK(arg(a, 0))); });
    rt::registerRoutine("LNETRECADD", [](Args a) { return Value(LNETRECADD(arg(a, 0))); });
    rt::registerRoutine("ASETSTATUS", [](Args a) { return Value(ASETSTATUS(arg(a, 0))); });
    rt::registerRoutine("GETSTATUS", [](Args a) {
        GETSTATUS(arg(a, 0), arg(a, 1));
        return Value();
    });
    rt::registerRoutine("CREATECDX", [](Args a) {
        CREATECDX(arg(a, 0), arg(a, 1), arg(a, 2), arg(a, 3), arg(a, 4));
        return Value();
    });
    rt::registerRoutine("CREAINDICE", [](Args a) {
        CREAINDICE(arg(a, 0), arg(a, 1), arg(a, 2), arg(a, 3), arg(a, 4), arg(a, 5), arg(a, 6));
        return Value();
    });
    rt::registerRoutine("ACAMPOSLEE", [](Args) { return Value(ACAMPOSLEE()); });
    rt::registerRoutine("ACAMPOSGRABA", [](Args a) { return Value(ACAMPOSGRABA(arg(a, 0))); });
    rt::registerRoutine("DBFDBT", [](Args) {
        DBFDBT();
        return Value();
    });
    rt::registerRoutine("SEGUNDOS", [](Args a) {
        SEGUNDOS(arg(a, 0));
        return Value();
    });
    rt::registerRoutine("SYSREFRESH", [](Args) { return Value(SYSREFRESH()); });
    rt::registerRoutine("OEMTOANSI", [](Args a) { return Value(OEMTOANSI(arg(a, 0))); });
    rt::registerRoutine("ANSITOOEM", [](Args a) { return Value(ANSITOOEM(arg(a, 0))); });
    rt::registerRoutine("MSGALERT", [](Args a) {
        MSGALERT(arg(a, 0), arg(a, 1));
        return Value();
    });
}

} // namespace tables
