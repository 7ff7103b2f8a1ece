#include "unattended.h"

#include "options.h"
#include "runlog.h"
#include "texts.h"

#include "errors/errorsys.h"
#include "files/files.h"
#include "runtime/error.h"
#include "runtime/ui.h"

#include <string>

namespace app {

namespace {

// The error handler without its dialog: the report is written (in the current folder, else in
// the temp folder), its error line goes to the run's record, and the answer is Quit: the
// process ends with exit code 1.
class SilentErrorPort : public errors::ErrorPort {
  public:
    bool writeReport(const std::string& fileName, const std::string& text) override {
        where_.clear();
        if (errors::MEMOWRIT(fileName, text)) {
            where_ = fileName;
            return true;
        }
        const std::string temp = files::tempFolder() + fileName;
        if (errors::MEMOWRIT(temp, text)) {
            where_ = temp;
            return true;
        }
        return false;
    }
    rt::Value showDialog(const errors::ErrorDialogData& data) override {
        // "   Error description: <line>\r\n" without its label and line end.
        std::string line = data.errorLine;
        static constexpr std::string_view kLabel = "   Error description: ";
        if (line.rfind(kLabel, 0) == 0) line.erase(0, kLabel.size());
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (!where_.empty()) line += std::string(kLogReportIn) + where_ + ")";
        runLog().note(kLogError, line);
        return {};
    }

  private:
    std::string where_;
};

SilentErrorPort g_silentPort;
int g_logHook = 0;
rt::MessageBoxHook g_savedBoxes;
bool g_silenced = false;

} // namespace

void beginUnattended(std::string_view commandTail) {
    const Options& o = options();
    std::string file = o.logFile;
    if (file.empty() && o.silent) file = defaultLogFile();
    if (!file.empty()) {
        runLog().open(file);
        runLog().note(kLogCommand, commandTail);
        // Written on every way out: MAIN's return, the error handler's quit, an unrecoverable
        // error. The exit code is known by then.
        g_logHook = rt::addShutdownHook([] { runLog().write(static_cast<int>(rt::ERRORLEVEL())); });
    }
    if (o.silent) {
        files::QUIETSYSTEMNOTICES();
        g_savedBoxes = rt::messageBoxHook();
        g_silenced = true;
        rt::setMessageBoxHook([](rt::MessageKind, rt::Args args) {
            if (!args.empty() && args[0].isString()) runLog().message(args[0].asString());
            return false;
        });
        errors::setErrorPort(&g_silentPort);
    }
    if (!o.error.empty()) {
        runLog().note(kLogError, o.error);
        if (!o.silent)
            rt::showMessage(rt::MessageKind::Stop, o.error + "\r\n\r\n" + std::string(kUsage),
                            std::string(kCommandLineTitle));
        rt::ERRORLEVEL(kExitNotFound);
        rt::__QUIT();
    }
}

void endUnattended() {
    if (g_logHook) rt::removeShutdownHook(g_logHook);
    g_logHook = 0;
    runLog().reset();
    if (g_silenced) {
        rt::setMessageBoxHook(g_savedBoxes);
        errors::setErrorPort(nullptr);
    }
    g_silenced = false;
    g_savedBoxes = nullptr;
}

} // namespace app
