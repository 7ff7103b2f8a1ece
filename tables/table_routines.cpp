#include "table_routines.h"

#include "ads.h"
#include "registry.h"
#include "workarea.h"

#include <string>

namespace tables {

namespace {

const rt::Value& arg(rt::Args a, std::size_t i) {
    static const rt::Value nil;
    return i < a.size() ? a[i] : nil;
}

WorkAreaFields g_fields;

} // namespace

bool WorkAreaFields::get(std::string_view alias, std::string_view name, rt::Value& out) {
    const std::string wanted = upperTrim(alias);
    int area = currentArea();
    if (!wanted.empty() && wanted != "FIELD") {
        area = areaOfAlias(wanted);
        if (!area) return false;
    }
    const int saved = currentArea();
    if (area != saved) DBSELECTAREA(area);
    const std::int64_t position = FIELDPOS(std::string(name));
    if (position > 0) out = FIELDGET(position);
    if (area != saved) DBSELECTAREA(saved);
    return position > 0;
}

void registerTableRoutines() {
    using rt::Args;
    using rt::registerRoutine;
    using rt::Value;
    rt::setFieldAccess(&g_fields);
    setKeyCompiler([](std::string_view text) { return rt::compileBlock("{||" + std::string(text) + "}"); });

    // Selection, open and close.
    registerRoutine("SELECT", [](Args a) { return Value(SELECT(arg(a, 0))); });
    registerRoutine("DBSELECTAREA", [](Args a) { return Value(DBSELECTAREA(arg(a, 0))); });
    registerRoutine("ALIAS", [](Args a) { return Value(ALIAS(arg(a, 0))); });
    registerRoutine("USED", [](Args) { return Value(USED()); });
    registerRoutine("NETERR", [](Args a) { return Value(NETERR(arg(a, 0))); });
    registerRoutine("DBUSEAREA", [](Args a) {
        return Value(DBUSEAREA(arg(a, 0), arg(a, 1), arg(a, 2), arg(a, 3), arg(a, 4), arg(a, 5)));
    });
    registerRoutine("DBCREATE", [](Args a) {
        return Value(DBCREATE(arg(a, 0), arg(a, 1), arg(a, 2), arg(a, 3), arg(a, 4)));
    });
    registerRoutine("DBCLOSEAREA", [](Args) {
        DBCLOSEAREA();
        return Value();
    });
    registerRoutine("DBCLOSEALL", [](Args) {
        DBCLOSEALL();
        return Value();
    });
    registerRoutine("DELDBFMDX", [](Args a) { return Value(DELDBFMDX(arg(a, 0))); });

    // Position.
    registerRoutine("RECNO", [](Args) { return Value(RECNO()); });
    registerRoutine("RECCOUNT", [](Args) { return Value(RECCOUNT()); });
    registerRoutine("LASTREC", [](Args) { return Value(LASTREC()); });
    registerRoutine("BOF", [](Args) { return Value(BOF()); });
    registerRoutine("EOF", [](Args) { return Value(EOF_()); });
    registerRoutine("FOUND", [](Args) { return Value(FOUND()); });
    registerRoutine("DBGOTO", [](Args a) { return Value(DBGOTO(arg(a, 0))); });
    registerRoutine("DBGOTOP", [](Args) { return Value(DBGOTOP()); });
    registerRoutine("DBGOBOTTOM", [](Args) { return Value(DBGOBOTTOM()); });
    registerRoutine("DBSKIP", [](Args a) { return Value(DBSKIP(arg(a, 0))); });
    registerRoutine("DBSEEK", [](Args a) { return Value(DBSEEK(arg(a, 0), arg(a, 1), arg(a, 2))); });

    // Records and fields.
    registerRoutine("DELETED", [](Args) { return Value(DELETED()); });
    registerRoutine("DBDELETE", [](Args) { return Value(DBDELETE()); });
    registerRoutine("DBRECALL", [](Args) { return Value(DBRECALL()); });
    registerRoutine("FCOUNT", [](Args) { return Value(FCOUNT()); });
    registerRoutine("FIELDNAME", [](Args a) { return Value(FIELDNAME(arg(a, 0))); });
    registerRoutine("FIELDPOS", [](Args a) { return Value(FIELDPOS(arg(a, 0))); });
    registerRoutine("FIELDGET", [](Args a) { return FIELDGET(arg(a, 0)); });
    registerRoutine("FIELDPUT", [](Args a) { return FIELDPUT(arg(a, 0), arg(a, 1)); });
    registerRoutine("DBAPPEND", [](Args a) { return Value(DBAPPEND(arg(a, 0))); });
    registerRoutine("DBCOMMIT", [](Args) { return Value(DBCOMMIT()); });

    // Locks.
    registerRoutine("RLOCK", [](Args) { return Value(RLOCK()); });
    registerRoutine("FLOCK", [](Args) { return Value(FLOCK()); });
    registerRoutine("DBRLOCK", [](Args a) { return Value(DBRLOCK(arg(a, 0))); });
    registerRoutine("DBUNLOCK", [](Args) { return Value(DBUNLOCK()); });

    // Orders.
    registerRoutine("DBSETORDER", [](Args a) { return Value(DBSETORDER(arg(a, 0))); });
    registerRoutine("INDEXORD", [](Args) { return Value(INDEXORD()); });
    registerRoutine("INDEXKEY", [](Args a) { return Value(INDEXKEY(arg(a, 0))); });
    registerRoutine("ORDNAME", [](Args a) { return Value(ORDNAME(arg(a, 0), arg(a, 1))); });
    registerRoutine("ORDCONDSET", [](Args a) {
        return Value(ORDCONDSET(arg(a, 0), arg(a, 1), arg(a, 2), arg(a, 3), arg(a, 4), arg(a, 5), arg(a, 6),
                                arg(a, 7), arg(a, 8), arg(a, 9), arg(a, 10), arg(a, 11), arg(a, 12),
                                arg(a, 13), arg(a, 14)));
    });
    registerRoutine("ORDCREATE", [](Args a) {
        return Value(ORDCREATE(arg(a, 0), arg(a, 1), arg(a, 2), arg(a, 3), arg(a, 4)));
    });
    registerRoutine("DBCREATEINDEX",
                    [](Args a) { return Value(DBCREATEINDEX(arg(a, 0), arg(a, 1), arg(a, 2), arg(a, 3))); });
    registerRoutine("DBCLEARINDEX", [](Args) { return Value(DBCLEARINDEX()); });
    registerRoutine("ORDLISTADD", [](Args a) { return Value(ORDLISTADD(arg(a, 0), arg(a, 1))); });
    registerRoutine("INDEXEXT", [](Args) { return Value(INDEXEXT()); });

    // Relations.
    registerRoutine("DBSETRELATION",
                    [](Args a) { return Value(DBSETRELATION(arg(a, 0), arg(a, 1), arg(a, 2))); });
    registerRoutine("DBCLEARRELATION", [](Args) { return Value(DBCLEARRELATION()); });
    registerRoutine("DBRSELECT", [](Args a) { return Value(DBRSELECT(arg(a, 0))); });
    registerRoutine("DBRELATION", [](Args a) { return Value(DBRELATION(arg(a, 0))); });

    // The registry and the "ADS" settings.
    registerRoutine("RDDREGISTER", [](Args a) {
        RDDREGISTER(arg(a, 0), arg(a, 1));
        return Value();
    });
    registerRoutine("RDDSETDEFAULT", [](Args a) { return Value(RDDSETDEFAULT(arg(a, 0))); });
    registerRoutine("DBSETDRIVER", [](Args a) { return Value(DBSETDRIVER(arg(a, 0))); });
    registerRoutine("RDDNAME", [](Args) { return Value(RDDNAME()); });
    registerRoutine("RDDLIST", [](Args a) { return Value(RDDLIST(arg(a, 0))); });
    registerRoutine("ADSSETFILETYPE", [](Args a) { return Value(ADSSETFILETYPE(arg(a, 0))); });
    registerRoutine("ADSSETSERVERTYPE", [](Args a) { return Value(ADSSETSERVERTYPE(arg(a, 0))); });
}

} // namespace tables
