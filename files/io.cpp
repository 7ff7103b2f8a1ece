// Whole-file read and the log writer: MEMOREAD, LOGFILE, LOGSTACK; SETHANDLECOUNT.

#include "files.h"
#include "os.h"

#include "runtime/dates.h"
#include "runtime/frames.h"
#include "runtime/strings.h"

namespace files {

bool COPYFILEWHOLE(std::string_view source, std::string_view target) {
    const std::string part = std::string(target) + ".tmp";
    // A temporary copy that a stopped run left behind is replaced; it may be read-only.
    os::clearReadOnly(part);
    os::removeFile(part);
    const rt::Value copied = COPYFILE(rt::Value(source), rt::Value(part));
    // The copy takes the source's attributes: a help file from a CD is read-only, and the
    // installed one must not be (the next install could not replace it). What the system still
    // holds of the copy goes to the disk before the copy takes the target's place, so that a
    // power cut never leaves a target with unwritten data. An older target made read-only by an
    // earlier install is replaced all the same.
    if (copied.isLogical() && copied.asLogical() && os::clearReadOnly(part) && os::flushFile(part)) {
        os::clearReadOnly(target);
        if (os::replaceFile(part, target)) return true;
    }
    os::clearReadOnly(part);
    os::removeFile(part);
    return false;
}

std::string tempFolder() {
    char folder[1024];
    return os::tempFolder(folder, sizeof folder) ? std::string(folder) : std::string();
}

bool appendToFile(std::string_view fileName, std::string_view bytes) {
    if (fileName.empty() || fileName.find('\0') != std::string_view::npos) return false;
    return os::appendRaw(std::string(fileName).c_str(), bytes.data(), bytes.size());
}

void QUIETSYSTEMNOTICES() {
    os::quietSystemNotices();
}

std::string MEMOREAD(std::string_view name) {
    std::string contents;
    if (!os::readWholeFile(name, contents)) return {};
    if (!contents.empty() && contents.back() == '\x1A') contents.pop_back();
    return contents;
}

void LOGFILE(std::string_view fileName, const rt::Value& values) {
    std::string line = rt::DTOC(rt::DATE()) + " " + rt::TIME() + ": ";
    if (const rt::ArrayPtr& list = values.asArray()) {
        for (const rt::Value& v : list->items) line += rt::CVALTOCHAR(v) + "\t";
    } else if (!values.isNil()) {
        line += rt::CVALTOCHAR(values) + "\t";
    }
    line += "\r\n";
    if (!os::createIfMissing(fileName)) return;
    os::appendToFile(fileName, line);
}

void LOGSTACK() {
    static constexpr std::string_view kLog = "stack.txt";
    LOGFILE(kLog, rt::Value(rt::makeArray({""})));
    LOGFILE(kLog, rt::Value(rt::makeArray({"LogStack() called"})));
    LOGFILE(kLog, rt::Value(rt::makeArray({"================="})));
    // LOGSTACK keeps no frame of its own: level 0 is its caller.
    for (std::int64_t level = 0; const rt::Frame* f = rt::Frame::at(level); ++level) {
        auto values = rt::makeArray({rt::Value(std::string(f->name()))});
        for (std::size_t i = 1; i <= f->paramCount(); ++i) values->add(f->paramAt(i));
        LOGFILE(kLog, rt::Value(values));
    }
}

rt::Value SETHANDLECOUNT(const rt::Value& n) {
    return n;
}

} // namespace files
