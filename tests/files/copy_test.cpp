#include "files/dyncall.h"
#include "files/files.h"
#include "files/os.h"

#include "runtime/ui.h"
#include "testdrive.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace files;
using testsupport::TestDrive;

namespace {

struct Shown {
    rt::MessageKind kind;
    std::vector<rt::Value> args;
};

class Copy : public ::testing::Test {
  protected:
    void SetUp() override {
        rt::setMessageBoxHook([this](rt::MessageKind kind, rt::Args args) {
            shown.push_back({kind, std::vector<rt::Value>(args.begin(), args.end())});
            return false;
        });
    }
    void TearDown() override { rt::setMessageBoxHook(nullptr); }
    TestDrive drive{'T'};
    std::vector<Shown> shown;
};

} // namespace

TEST_F(Copy, CopiesAndOverwritesUnlessAsked) {
    const std::string help = std::string("ayuda\0chm", 9) + std::string(100000, 'z');
    drive.file("src/Ayuda.chm", help);
    drive.file("dst/norvceni.chm", "old");
    EXPECT_EQ(COPYFILE(drive.path("src\\AYUDA.CHM"), drive.path("dst\\nuevo.chm")), rt::Value(true));
    EXPECT_EQ(drive.read("dst/nuevo.chm"), help);
    // Without the flag an existing target is overwritten (its name is matched without case).
    EXPECT_EQ(COPYFILE(drive.path("src\\ayuda.chm"), drive.path("DST\\NORVCENI.CHM")), rt::Value(true));
    EXPECT_EQ(drive.read("dst/norvceni.chm"), help);
    drive.file("dst/keep.chm", "keep");
    EXPECT_EQ(COPYFILE(drive.path("src\\ayuda.chm"), drive.path("dst\\keep.chm"), 1), rt::Value(false));
    EXPECT_EQ(COPYFILE(drive.path("src\\ayuda.chm"), drive.path("dst\\keep.chm"), true), rt::Value(false));
    EXPECT_EQ(drive.read("dst/keep.chm"), "keep");
    EXPECT_TRUE(shown.empty());
}

TEST_F(Copy, FailuresAnswerFalse) {
    drive.file("src/ayuda.chm", "help");
    drive.folder("dst/norvceni.chm");
    EXPECT_EQ(COPYFILE(drive.path("src\\nada.chm"), drive.path("dst\\x.chm")), rt::Value(false));
    EXPECT_EQ(COPYFILE(drive.path("src\\ayuda.chm"), drive.path("nada\\x.chm")), rt::Value(false));
    EXPECT_EQ(COPYFILE(drive.path("src\\ayuda.chm"), drive.path("dst\\norvceni.chm")), rt::Value(false));
    EXPECT_EQ(COPYFILE(drive.path("src\\ayuda.chm"), drive.path("src\\AYUDA.chm")), rt::Value(false));
    EXPECT_EQ(drive.read("src/ayuda.chm"), "help"); // copying a file onto itself keeps it
    EXPECT_EQ(COPYFILE(rt::Value(), drive.path("dst\\x.chm")), rt::Value(false));
    EXPECT_EQ(COPYFILE(drive.path("src\\ayuda.chm"), 42), rt::Value(false));
    EXPECT_FALSE(drive.exists("dst/x.chm"));
    EXPECT_TRUE(shown.empty());
}

TEST_F(Copy, ALibraryThatDoesNotLoadIsReportedForEachCall) {
    drive.file("src/ayuda.chm", "help");
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(
            copyFileThrough("NoSuchLib.dll", drive.path("src\\ayuda.chm"), drive.path("x.chm"), {}).isNil());
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].kind, rt::MessageKind::Alert);
    ASSERT_EQ(shown[0].args.size(), 1u);
    EXPECT_EQ(shown[0].args[0], rt::Value("Error code: 0 loading NoSuchLib.dll"));
    EXPECT_FALSE(drive.exists("x.chm"));
}

TEST_F(Copy, DescriptorLayout) {
    const std::intptr_t lib = os::loadLibrary("Kernel32.dll");
    ASSERT_FALSE(libraryLoadFailed(lib));
    const std::string d = makeCallDescriptor(lib, "CopyFileA", true, 5, {9, 9, 7});
    ASSERT_EQ(d.size(), 3 + 3 + sizeof(void*));
    std::uintptr_t address = 0;
    std::memcpy(&address, d.data(), sizeof address);
    EXPECT_EQ(address, os::findRoutine(lib, "CopyFileA"));
    EXPECT_NE(address, 0u);
    EXPECT_EQ(d.substr(sizeof(void*)), std::string("\x01\x05\x03\x09\x09\x07"));
    EXPECT_EQ(makeCallDescriptor(lib, "NoSuchRoutine", true, 5, {}), "");

    EXPECT_TRUE(libraryLoadFailed(0));
    EXPECT_TRUE(libraryLoadFailed(32));
    EXPECT_TRUE(libraryLoadFailed(-5));
    EXPECT_FALSE(libraryLoadFailed(33));
}

TEST_F(Copy, MalformedDescriptorsAreRefused) {
    drive.file("src/a", "a");
    const std::intptr_t lib = os::loadLibrary("kernel32.dll");
    rt::Value args[] = {drive.path("src\\a"), drive.path("src\\b"), 0};
    // Unknown argument or result types: nothing is called.
    EXPECT_TRUE(callDescriptor(makeCallDescriptor(lib, "CopyFileA", true, 5, {9, 9, 13}), args).isNil());
    EXPECT_TRUE(callDescriptor(makeCallDescriptor(lib, "CopyFileA", true, 0, {9, 9, 7}), args).isNil());
    EXPECT_FALSE(drive.exists("src/b"));
    std::string d = makeCallDescriptor(lib, "CopyFileA", true, 5, {9, 9, 7});
    EXPECT_TRUE(callDescriptor(d.substr(0, d.size() - 1), args).isNil()); // count and length disagree
    EXPECT_TRUE(callDescriptor("", args).isNil());
    EXPECT_TRUE(callDescriptor(std::string(sizeof(void*) + 3, '\0'), args).isNil()); // no address
    EXPECT_FALSE(drive.exists("src/b"));
    EXPECT_EQ(callDescriptor(d, args), rt::Value(true));
    EXPECT_EQ(drive.read("src/b"), "a");
}

TEST_F(Copy, DiskFreeSpaceThroughByReferenceBuffers) {
    drive.folder("x");
    rt::Value free, total, freeToAll;
    ASSERT_TRUE(GETDISKFREESPACEEX(drive.path("x\\"), &free, &total, &freeToAll));
    EXPECT_TRUE(free.isNumber() && total.isNumber() && freeToAll.isNumber());
    EXPECT_GT(total.asInteger(), 0);
    EXPECT_LE(free.asInteger(), total.asInteger());
    EXPECT_LE(freeToAll.asInteger(), total.asInteger());
    EXPECT_TRUE(GETDISKFREESPACEEX(rt::Value()));
    EXPECT_FALSE(GETDISKFREESPACEEX("Q:\\", &free, &total));
    EXPECT_EQ(total, rt::Value(0));
}
