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
#include <memory>

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

namespace {

// Runs expressions one by one in the MAIN frame, which shows the text being run among its
// locals and its source (argument position or script line) as its line.
class Runner {
  public:
    explicit Runner(const std::function<void(std::string_view)>& writeLine)
        : writeLine_(writeLine), frame_("MAIN") {
        frame_.local(expression_);
    }

    void run(const std::string& text, int line) {
        expression_ = text;
        frame_.setLine(line);
        const rt::Value block = rt::compileBlock("{ ||" + text + "}");
        const rt::Value value = rt::eval(block);
        writeLine_(tablasText(value) + "\n");
    }

    // Every expression of the script, line by line as it is read.
    void runScript(const std::string& name) {
        const bool input = name == "-";
        const std::unique_ptr<std::FILE, Closer> opened(input ? nullptr : openScript(name));
        std::FILE* file = input ? stdin : opened.get();
        if (!file) return;
        std::string line;
        for (int number = 1; readScriptLine(file, line); ++number)
            if (scriptExpression(line)) run(line, number);
    }

  private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };

    const std::function<void(std::string_view)>& writeLine_;
    rt::Value expression_;
    rt::Frame frame_;

    // The script opened for reading, or null when it cannot be and the handler did not ask
    // to try again.
    static std::FILE* openScript(const std::string& name) {
        for (;;) {
            if (std::FILE* f = std::fopen(name.c_str(), "rb")) return f;
            const rt::ErrorPtr e = rt::makeError(rt::EG_OPEN, 1001, "-f", rt::makeArray({rt::Value(name)}));
            e->FileName = name;
            e->CanRetry = true;
            e->CanDefault = true; // the default: go on without that script
            if (rt::launchError(e).kind != rt::Recovery::Retry) return nullptr;
        }
    }
};

} // namespace

bool scriptExpression(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t\r");
    return first != std::string_view::npos && line[first] != '#';
}

bool readScriptLine(std::FILE* file, std::string& line) {
    line.clear();
    int c = std::getc(file);
    if (c == EOF) return false;
    for (; c != EOF && c != '\n'; c = std::getc(file)) line += static_cast<char>(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void runExpressions(const std::vector<std::string>& arguments,
                    const std::function<void(std::string_view)>& writeLine) {
    Runner runner(writeLine);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "-f") {
            runner.runScript(i + 1 < arguments.size() ? arguments[++i] : std::string());
            continue;
        }
        runner.run(arguments[i], static_cast<int>(i + 1));
    }
}

void tablasMain(const std::vector<std::string>& arguments) {
    startTablas();
    runExpressions(arguments, [](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    });
    rt::shutdownAndExit(static_cast<int>(rt::ERRORLEVEL()));
}

} // namespace app
