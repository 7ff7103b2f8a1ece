// The error port of programs without the dialog framework: the error line and the stack go
// to the error output, and the answer is always Quit.
#include "errors/errorsys.h"

#include "runtime/error.h"

namespace errors {

namespace {

class TextErrorPort : public ErrorPort {
  public:
    rt::Value showDialog(const ErrorDialogData& data) override {
        std::string text = data.errorLine;
        for (const std::string& line : data.stackLines) text += line + "\r\n";
        rt::writeErrorOutput(text);
        return {};
    }
};

} // namespace

ErrorPort& platformErrorPort() {
    static TextErrorPort port;
    return port;
}

} // namespace errors
