// The entry point of tablas without a window system: a message box is written to the error
// output as its title and text and counts as answered at once.
#include "app/tablas.h"

#include "runtime/error.h"
#include "runtime/strings.h"
#include "runtime/ui.h"

int main(int argc, char** argv) {
    rt::setMessageBoxHook([](rt::MessageKind kind, rt::Args args) {
        static const char* const kTitles[] = {"Information", "Alert", "Stop", "Select an option"};
        const std::string text = args.empty() ? std::string() : rt::CVALTOCHAR(args[0]);
        const std::string title =
            args.size() == 2 ? rt::CVALTOCHAR(args[1]) : std::string(kTitles[static_cast<int>(kind)]);
        rt::writeErrorOutput(title + ": " + text + "\n");
        return false;
    });
    app::tablasMain(std::vector<std::string>(argv + 1, argv + argc));
}
