// The copy that installs a file puts it on the disk before it takes the target's place: a power
// cut right after an install must not leave a target whose data were never written. Natively,
// this program's own fsync and rename stand in front of the C library's (a program's
// definitions come before a shared library's) and note each call, with the file it concerned,
// before passing it on.
#include "files/files.h"

#include "testdrive.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_calls;

std::string fileOf(int fd) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "?";
}

} // namespace

extern "C" int fsync(int fd) {
    g_calls.push_back("fsync " + fileOf(fd));
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept {
    g_calls.push_back(std::string("rename ") + from + " " + to);
    static const auto real = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "rename"));
    return real(from, to);
}

TEST(WholeCopy, TheCopyIsOnTheDiskBeforeItReplacesTheTarget) {
    testsupport::TestDrive drive{'W'};
    drive.file("ayuda.chm", "new help");
    drive.file("EMPRESA/norvceni.chm", "old help");
    g_calls.clear();
    ASSERT_TRUE(files::COPYFILEWHOLE(drive.path("ayuda.chm"), drive.path("EMPRESA/norvceni.chm")));
    const std::string folder = drive.hostPath("EMPRESA");
    const std::string part = folder + "/norvceni.chm.tmp";
    const std::string target = folder + "/norvceni.chm";
    EXPECT_EQ(g_calls, (std::vector<std::string>{"fsync " + part, "rename " + part + " " + target,
                                                 "fsync " + folder}));
    EXPECT_EQ(drive.read("EMPRESA/norvceni.chm"), "new help");
}
