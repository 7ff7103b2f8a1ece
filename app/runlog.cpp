#include "runlog.h"

#include "texts.h"

#include "files/files.h"
#include "runtime/dates.h"

#include <cstdio>

namespace app {

namespace {

// "dd-mm-yyyy hh:mm:ss", local time.
std::string now() {
    int year = 0, month = 0, day = 0;
    rt::splitDate(rt::DATE(), year, month, day);
    char date[16];
    std::snprintf(date, sizeof date, "%02d-%02d-%04d ", day, month, year);
    return date + rt::TIME();
}

} // namespace

void RunLog::open(std::string file) {
    file_ = std::move(file);
    text_.clear();
    written_ = false;
}

std::string RunLog::line(std::string_view label, std::string_view text) {
    std::string out = now() + " " + std::string(label) + ": ";
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            while (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n')) ++i;
            out += ' ';
        } else {
            out += text[i];
        }
    }
    return out + "\r\n";
}

void RunLog::note(std::string_view label, std::string_view text) {
    if (active()) text_ += line(label, text);
}

void RunLog::message(std::string_view text) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) note(kLogMessage, text.substr(start, end - start));
        start = end + 1;
    }
}

void RunLog::write(int exitCode) {
    if (!active() || written_) return;
    written_ = true;
    const std::string exitLine = line(kLogExit, std::to_string(exitCode));
    if (files::appendToFile(file_, text_ + exitLine)) return;
    const std::string fallback = defaultLogFile();
    if (files::sameFileName(fallback, file_)) return;
    files::appendToFile(fallback, text_ + line(kLogError, std::string(kLogNoLog1) + file_) + exitLine);
}

void RunLog::reset() {
    file_.clear();
    text_.clear();
    written_ = false;
}

RunLog& runLog() {
    static RunLog log;
    return log;
}

std::string defaultLogFile() {
    return files::tempFolder() + std::string(kDefaultLogName);
}

} // namespace app
