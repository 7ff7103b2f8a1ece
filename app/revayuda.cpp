#include "revayuda.h"

#include "runlog.h"
#include "state.h"
#include "texts.h"

#include "files/files.h"
#include "runtime/error.h"
#include "runtime/frames.h"
#include "runtime/strings.h"

#include <algorithm>

namespace app {

namespace {

rt::Value element(const rt::Value& list, std::size_t i) {
    const rt::ArrayPtr& a = list.asArray();
    return a ? a->at(i) : rt::Value();
}

// One folder per line, at most kMaxListedFolders, then "(y N más)" for the rest.
std::string folderLines(const std::vector<std::string>& folders) {
    std::string out;
    const std::size_t shown = std::min(folders.size(), kMaxListedFolders);
    for (std::size_t i = 0; i < shown; ++i) out += "\r\n" + folders[i];
    if (folders.size() > shown) out += "\r\n(y " + std::to_string(folders.size() - shown) + " m\xE1s)";
    return out;
}

} // namespace

bool alreadyFound(const std::vector<std::string>& found, const std::string& candidate) {
    for (const std::string& path : found)
        if (files::sameFileName(path, candidate)) return true;
    return false;
}

Outcome outcomeOf(const std::vector<std::string>& installed, const std::vector<std::string>& failed) {
    if (installed.empty() && failed.empty())
        return {rt::MessageKind::Info, std::string(kNotFoundText), std::string(kNotFoundTitle)};
    if (failed.empty())
        return {rt::MessageKind::Info, std::string(kInstalledText), std::string(kInstalledTitle)};
    std::string text = std::string(kFailedHeader) + folderLines(failed);
    if (!installed.empty()) text += "\r\n\r\n" + std::string(kSucceededHeader) + folderLines(installed);
    return {rt::MessageKind::Stop, text, std::string(kFailedTitle)};
}

namespace {

// Steps 2 to 4 of the search and copy, for the drive in the application's state: every accepted
// folder of "<drive>:\Vendrax\" and the copy into each. The caller's frame locals are filled
// as the work goes, for the error report; each copy is noted in the run's record.
void searchAndCopy(const rt::Value& helpFile, rt::Value& cBase, rt::Value& aDir, rt::Value& cPath,
                   rt::Value& aFound, std::vector<std::string>& installed, std::vector<std::string>& failed) {
    runLog().note(kLogDrive, state().cDrive.asString());
    // Every sub-folder of the vendor folder, "." and ".." included, in listing order.
    cBase = state().cDrive.asString() + std::string(kVendorFolder);
    RT_LINE();
    aDir = rt::Value(files::DIRECTORY(cBase.asString() + "*.*", "D"));

    std::vector<std::string> found;
    for (const rt::Value& entry : aDir.asArray()->items) {
        const std::string path = cBase.asString() + element(entry, 1).asString();
        cPath = path;
        RT_LINE();
        if (!files::FILE(path + std::string(kProgramExists))) continue;
        if (!files::FILE(path + std::string(kVersionTable))) continue;
        if (alreadyFound(found, path)) continue;
        // The version table's raw bytes (header and deleted records included).
        const rt::Value table = files::MEMOREAD(path + std::string(kVersionTable));
        if (rt::AT(rt::Value(kReleaseMark), table) == 0) continue;
        if (files::FSIZE(path + std::string(kProgramSize)) != kProgramBytes) continue;
        found.push_back(path);
        rt::AADD(aFound, rt::Value(path));
    }

    for (const std::string& path : found) {
        RT_LINE();
        // Through a temporary name: a copy that fails part way leaves no half help file.
        const bool copied = files::COPYFILEWHOLE(helpFile.asString(), path + std::string(kHelpTarget));
        (copied ? installed : failed).push_back(path);
        runLog().note(copied ? kLogInstalled : kLogFailed, path);
    }
}

} // namespace

void REVAYUDA(const rt::Value& helpFile, const rt::Value& textHolder, const rt::Value& comboBox,
              const rt::Value& buttons, const rt::Value& dialog) {
    rt::Value cBase, aDir, cPath, aFound = rt::Value(rt::makeArray());
    rt::Frame frame("REVAYUDA", {&helpFile, &textHolder, &comboBox, &buttons, &dialog});
    frame.locals(cBase, aDir, cPath, aFound);

    // The controls stay disabled: the dialog ends below.
    RT_LINE();
    rt::send(comboBox, "Disable");
    rt::send(comboBox, "Refresh");
    rt::send(element(buttons, 1), "Disable");
    rt::send(element(buttons, 2), "Disable");
    rt::send(element(buttons, 1), "Refresh");
    rt::send(element(buttons, 2), "Refresh");

    std::vector<std::string> installed, failed;
    searchAndCopy(helpFile, cBase, aDir, cPath, aFound, installed, failed);

    state().lExit = true;
    RT_LINE();
    rt::send(dialog, "End");

    const Outcome outcome = outcomeOf(installed, failed);
    runLog().message(outcome.text);
    RT_LINE();
    rt::showMessage(outcome.kind, outcome.text, outcome.title);
}

int exitCodeOf(const std::vector<std::string>& installed, const std::vector<std::string>& failed) {
    if (installed.empty() && failed.empty()) return kExitNotFound;
    return failed.empty() ? kExitInstalled : kExitCopyFailed;
}

void INSTALASILENCIOSO(const rt::Value& helpFile) {
    rt::Value cBase, aDir, cPath, aFound = rt::Value(rt::makeArray());
    rt::Frame frame("INSTALASILENCIOSO", {&helpFile});
    frame.locals(cBase, aDir, cPath, aFound);

    std::vector<std::string> installed, failed;
    searchAndCopy(helpFile, cBase, aDir, cPath, aFound, installed, failed);
    state().lExit = true;
    // What the message box would have said goes to the run's record; the exit code tells it.
    runLog().message(outcomeOf(installed, failed).text);
    rt::ERRORLEVEL(exitCodeOf(installed, failed));
}

} // namespace app
