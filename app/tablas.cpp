#include "app/tablas.h"

#include "app/startup.h"

#include "runtime/error.h"
#include "runtime/frames.h"
#include "runtime/macro.h"
#include "runtime/process.h"
#include "runtime/settings.h"
#include "runtime/strings.h"
#include "tables/ads.h"
#include "tables/registry.h"
#include "tables/shared_routines.h"
#include "tables/table_routines.h"
#include "tables/workarea.h"

#include <cstdio>

namespace app {

std::string tablasText(const rt::Value& v) {
    if (v.isNil()) return "NIL";
    if (!v.isArray()) return rt::CVALTOCHAR(v);
    std::string out = "{";
    const rt::ArrayPtr& list = v.asArray();
    for (std::size_t i = 1; i <= list->size(); ++i) {
        if (i > 1) out += ", ";
        out += tablasText(list->at(i));
    }
    return out + "}";
}

void startTablas() {
    rt::INITTIME();
    installErrorHandler();
    tables::registerStartupDrivers();
    rt::registerRuntimeRoutines();
    tables::registerTableRoutines();
    tables::registerSharedRoutines();

    tables::RDDREGISTER("ADS", 1);
    tables::RDDSETDEFAULT("ADS");
    tables::ADSSETSERVERTYPE(1);
    tables::ADSSETFILETYPE(2);
    rt::SET(rt::_SET_EPOCH, 1950);
    rt::SET(rt::_SET_DATEFORMAT, rt::__SETCENTURY() ? "dd-mm-yyyy" : "dd-mm-yy");
    rt::SET(rt::_SET_DELETED, "ON");
}

void runExpressions(const std::vector<std::string>& expressions,
                    const std::function<void(std::string_view)>& writeLine) {
    rt::Value expression;
    rt::Frame frame("MAIN");
    frame.local(expression);
    for (const std::string& text : expressions) {
        expression = text;
        RT_LINE();
        const rt::Value block = rt::compileBlock("{ ||" + text + "}");
        RT_LINE();
        const rt::Value value = rt::eval(block);
        writeLine(tablasText(value) + "\n");
    }
}

void tablasMain(const std::vector<std::string>& expressions) {
    startTablas();
    runExpressions(expressions, [](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    });
    rt::shutdownAndExit(static_cast<int>(rt::ERRORLEVEL()));
}

} // namespace app
