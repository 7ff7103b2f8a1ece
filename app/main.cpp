#include "main.h"

#include "options.h"
#include "revayuda.h"
#include "runlog.h"
#include "state.h"
#include "texts.h"

#include "files/files.h"
#include "runtime/frames.h"
#include "runtime/settings.h"
#include "runtime/strings.h"
#include "tables/ads.h"
#include "tables/registry.h"

namespace app {

namespace {

MainDialogPort g_idlePort;
MainDialogPort* g_port = &g_idlePort;

// The drives the combo box offers: C to Z without W.
rt::ArrayPtr driveLetters() {
    auto list = rt::makeArray();
    for (char c = 'C'; c <= 'Z'; ++c)
        if (c != 'W') list->add(rt::Value(std::string(1, c)));
    return list;
}

// The code blocks of the main dialog's controls.
MainDialog dialogBlocks(const std::shared_ptr<MainLocals>& locals) {
    MainDialog d;
    d.locals = locals;
    const rt::Value startText = locals->aStartText;
    d.bSay = rt::Value(rt::makeBlock("MAIN", [startText](rt::Args) { return startText.asArray()->at(1); }));
    d.bDrive = rt::Value(rt::makeBlock("MAIN", [](rt::Args a) {
        if (!a.empty()) state().cDrive = a[0];
        return state().cDrive;
    }));
    d.bInstall = rt::Value(rt::makeBlock("MAIN", [locals](rt::Args) {
        REVAYUDA(locals->cHelpFile, state().aTextHolder, locals->oCombo, locals->aButtons, locals->oDlg);
        return rt::Value();
    }));
    d.bExit = rt::Value(rt::makeBlock("MAIN", [locals](rt::Args) {
        runLog().note(kLogExitButton, kLogExitButtonText);
        state().lExit = true;
        return rt::send(locals->oDlg, "End");
    }));
    d.bValid = rt::Value(rt::makeBlock("MAIN", [](rt::Args) { return state().lExit; }));
    return d;
}

} // namespace

void MainDialogPort::setResources(std::string_view) {}
void MainDialogPort::run(MainDialog&) {}

void setMainDialogPort(MainDialogPort* port) {
    g_port = port ? port : &g_idlePort;
}
MainDialogPort& mainDialogPort() {
    return *g_port;
}

int fileTypeOf(std::string_view indexKind) {
    const std::string kind = rt::UPPER(rt::Value(indexKind));
    if (kind == "NTX") return 1;
    if (kind == "CDX") return 2;
    return 3;
}

void MAIN(const rt::Value& helpFile) {
    const auto locals = std::make_shared<MainLocals>();
    locals->cHelpFile = helpFile;
    rt::Frame frame("MAIN", {&locals->cHelpFile});
    frame.locals(locals->aStartText, locals->aButtons, locals->oDlg, locals->oCombo, locals->oBmp);

    RT_LINE();
    files::SETHANDLECOUNT(255);
    locals->aStartText = rt::Value(rt::makeArray({rt::Value(kStartText)}));
    locals->aButtons = rt::Value(rt::ARRAY(2));

    // Without a help file there is nothing to do: no window, no settings, no engine.
    if (locals->cHelpFile.isNil()) locals->cHelpFile = "";
    if (rt::EMPTY(locals->cHelpFile)) return;

    AppState& s = state();
    s.aDrives = rt::Value(driveLetters());
    // "C", unless /UNIDAD chose another of the letters.
    s.cDrive = options().drive.empty() ? std::string("C") : options().drive;
    const bool silent = options().silent;
    s.aTextHolder = rt::Value(rt::ARRAY(1));

    RT_LINE();
    tables::RDDREGISTER("ADS", 1);
    tables::RDDSETDEFAULT("ADS");
    tables::ADSSETSERVERTYPE(1);
    tables::ADSSETFILETYPE(fileTypeOf("CDX"));

    // The silent mode shows nothing: it needs no resource module.
    RT_LINE();
    if (!silent) mainDialogPort().setResources(kResourceModule);

    rt::SET(rt::_SET_EPOCH, 1950);
    rt::SET(rt::_SET_DATEFORMAT, rt::__SETCENTURY() ? "dd-mm-yyyy" : "dd-mm-yy");
    rt::SET(rt::_SET_DELETED, "ON");

    s.lExit = false;

    if (silent) {
        // No dialog: the search and copy on the chosen drive, the outcome in the exit code.
        RT_LINE();
        INSTALASILENCIOSO(locals->cHelpFile);
        return;
    }

    MainDialog dialog = dialogBlocks(locals);
    RT_LINE();
    mainDialogPort().run(dialog);
}

} // namespace app
