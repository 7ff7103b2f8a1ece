// The macro compiler: arbitrary text is compiled as the body of a code block and, when it
// compiles, evaluated with the runtime's routines and two fields. Every error is answered with
// NIL by the error block; the process-wide state the text may change is put back after each run.
#include "runtime/macro.h"
#include "runtime/runtime.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

struct Fields : rt::FieldAccess {
    bool get(std::string_view alias, std::string_view name, rt::Value& out) override {
        if (!alias.empty() && alias != "CLI") return false;
        if (name == "NOMBRE")
            out = rt::Value("Fuzz \xE9t\xE9   ");
        else if (name == "SALDO")
            out = rt::Value(-12.5);
        else
            return false;
        return true;
    }
};

struct Exit {};
[[noreturn]] void throwingExit(int) {
    throw Exit{};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fields fields;
    static const bool ready = [] {
        rt::registerRuntimeRoutines();
        rt::setExitFunction(throwingExit);
        rt::setErrorOutput([](std::string_view) {});
        rt::setFieldAccess(&fields);
        return true;
    }();
    (void)ready;
    rt::ERRORBLOCK(rt::Value(rt::makeBlock("FUZZ", [](rt::Args) { return rt::Value(); })));
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        rt::evalMacro(text);
        rt::compileBlock(text);
    } catch (const Exit&) {
        // An unrecoverable error ends the process in production; here it ends the run.
    }
    rt::resetSettings();
    rt::NETERR(false);
    rt::ERRORLEVEL(0);
    return 0;
}
