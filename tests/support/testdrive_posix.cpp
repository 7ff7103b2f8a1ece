// Test drives on the POSIX back end: a folder under /tmp in the drive table.

#include "testdrive.h"

#include "files/os.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testsupport {

bool onWindows() {
    return false;
}

TestDrive::TestDrive(char letter) : letter_(letter) {
    // In memory when the host has a memory file system: test trees come and go quickly there.
    std::string pattern =
        ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/instayuda-test-XXXXXX" : "/tmp/instayuda-test-XXXXXX";
    char* name = pattern.data();
    if (!::mkdtemp(name)) {
        ADD_FAILURE() << "cannot make a temporary folder";
        return;
    }
    hostRoot_ = unixRoot_ = name;
    files::mapDrive(letter, hostRoot_);
}

TestDrive::~TestDrive() {
    files::mapDrive(letter_, "");
    std::error_code ec;
    if (!hostRoot_.empty()) fs::remove_all(hostRoot_, ec);
}

std::string TestDrive::hostPath(std::string_view relative) const {
    return relative.empty() ? hostRoot_ : hostRoot_ + "/" + std::string(relative);
}

bool TestDrive::folder(std::string_view relative) {
    std::error_code ec;
    fs::create_directories(hostPath(relative), ec);
    EXPECT_FALSE(ec) << "mkdir " << hostPath(relative) << ": " << ec.message();
    return !ec;
}

bool TestDrive::file(std::string_view relative, std::string_view bytes) {
    const fs::path p = hostPath(relative);
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    EXPECT_TRUE(out.good()) << "write " << p;
    return out.good();
}

bool TestDrive::sparseFile(std::string_view relative, std::uint64_t size, std::string_view tail) {
    if (!file(relative)) return false;
    const std::string host = hostPath(relative);
    bool ok = ::truncate(host.c_str(), static_cast<off_t>(size)) == 0;
    if (ok && !tail.empty() && tail.size() <= size) {
        const int fd = ::open(host.c_str(), O_WRONLY);
        ok = fd >= 0 && ::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(size - tail.size())) ==
                            static_cast<ssize_t>(tail.size());
        if (fd >= 0) ::close(fd);
    }
    EXPECT_TRUE(ok) << "sparse " << host;
    return ok;
}

bool TestDrive::manyFiles(std::string_view folder, std::string_view prefix, int first, int count) {
    if (!this->folder(folder)) return false;
    for (int i = first; i < first + count; ++i) {
        const std::string name = hostPath(folder) + "/" + std::string(prefix) + std::to_string(i);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0) return false;
        ::close(fd);
    }
    return true;
}

bool TestDrive::exists(std::string_view relative) const {
    struct stat st;
    return ::lstat(hostPath(relative).c_str(), &st) == 0;
}

std::string TestDrive::read(std::string_view relative) const {
    std::ifstream in(hostPath(relative), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool TestDrive::setWriteTime(std::string_view relative, int year, int month, int day, int hour, int minute,
                             int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    const struct timespec times[2] = {{t, 0}, {t, 0}};
    const bool ok = ::utimensat(AT_FDCWD, hostPath(relative).c_str(), times, 0) == 0;
    EXPECT_TRUE(ok);
    return ok;
}

bool TestDrive::setAttributes(std::string_view, bool, bool) {
    return false;
}

bool TestDrive::setReadOnly(std::string_view relative, bool readOnly) {
    const bool ok = ::chmod(hostPath(relative).c_str(), readOnly ? 0444 : 0644) == 0;
    EXPECT_TRUE(ok) << "chmod " << hostPath(relative);
    return ok;
}

bool TestDrive::readOnly(std::string_view relative) const {
    struct stat st;
    return ::stat(hostPath(relative).c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

ExclusiveHold::ExclusiveHold(const TestDrive&, std::string_view) {}
ExclusiveHold::~ExclusiveHold() = default;

} // namespace testsupport
