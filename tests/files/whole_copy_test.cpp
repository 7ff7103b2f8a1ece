// The copy that installs a file: the target receives the whole copy or stays as it was, also
// when the disk fills up part way.
#include "files/files.h"
#include "files/os.h"

#include "testdrive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace files;
using testsupport::TestDrive;

namespace {

std::vector<std::string> namesIn(const std::string& mask) {
    std::vector<std::string> names;
    const rt::ArrayPtr list = DIRECTORY(mask);
    for (const rt::Value& entry : list->items) names.push_back(entry.asArray()->at(1).asString());
    return names;
}

std::string hostRead(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

TEST(WholeCopy, TheTargetIsReplacedOrLeftAsItWas) {
    TestDrive drive{'W'};
    drive.file("ayuda.chm", std::string("new\0help\x1A", 9));
    drive.file("EMPRESA/norvceni.chm", "old help");
    EXPECT_TRUE(COPYFILEWHOLE(drive.path("ayuda.chm"), drive.path("EMPRESA/norvceni.chm")));
    EXPECT_EQ(drive.read("EMPRESA/norvceni.chm"), std::string("new\0help\x1A", 9));
    EXPECT_FALSE(COPYFILEWHOLE(drive.path("ayuda.chm"), drive.path("NUEVA/norvceni.chm"))); // no folder
    drive.folder("NUEVA");
    EXPECT_TRUE(COPYFILEWHOLE(drive.path("ayuda.chm"), drive.path("NUEVA/norvceni.chm")));
    // A source that cannot be read: the old copy stays, nothing else appears.
    drive.file("EMPRESA/norvceni.chm", "old help");
    EXPECT_FALSE(COPYFILEWHOLE(drive.path("falta.chm"), drive.path("EMPRESA/norvceni.chm")));
    EXPECT_EQ(drive.read("EMPRESA/norvceni.chm"), "old help");
    EXPECT_EQ(namesIn(drive.path("EMPRESA/*.*")), (std::vector<std::string>{"norvceni.chm"}));
    EXPECT_EQ(namesIn(drive.path("NUEVA/*.*")), (std::vector<std::string>{"norvceni.chm"}));
}

// A help file copied from a CD is read-only, and Windows copies that attribute with the file.
// Neither the installed copy nor its temporary copy may keep it: a read-only temporary copy
// could not be deleted after a failed replace, and a read-only installed copy could not be
// replaced by the next install. Each case leaves no temporary copy behind.
TEST(WholeCopy, NothingIsReadOnlyBecauseTheSourceWas) {
    TestDrive drive{'W'};
    drive.file("cd/ayuda.chm", "help from a CD");
    ASSERT_TRUE(drive.setReadOnly("cd/ayuda.chm", true));
    const std::string source = drive.path("cd/ayuda.chm");

    // Installed over nothing, then over itself: both times a writable copy.
    drive.folder("EMPRESA");
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_TRUE(COPYFILEWHOLE(source, drive.path("EMPRESA/norvceni.chm")));
        EXPECT_EQ(drive.read("EMPRESA/norvceni.chm"), "help from a CD");
        EXPECT_FALSE(drive.readOnly("EMPRESA/norvceni.chm"));
        EXPECT_EQ(namesIn(drive.path("EMPRESA/*.*")), (std::vector<std::string>{"norvceni.chm"}));
    }

    // An older copy that an earlier install left read-only is replaced.
    drive.file("VIEJA/norvceni.chm", "old help");
    ASSERT_TRUE(drive.setReadOnly("VIEJA/norvceni.chm", true));
    EXPECT_TRUE(COPYFILEWHOLE(source, drive.path("VIEJA/norvceni.chm")));
    EXPECT_EQ(drive.read("VIEJA/norvceni.chm"), "help from a CD");
    EXPECT_FALSE(drive.readOnly("VIEJA/norvceni.chm"));

    // A read-only temporary copy left by a run that was stopped is replaced.
    drive.file("PARADA/norvceni.chm.tmp", "half a he");
    ASSERT_TRUE(drive.setReadOnly("PARADA/norvceni.chm.tmp", true));
    EXPECT_TRUE(COPYFILEWHOLE(source, drive.path("PARADA/norvceni.chm")));
    EXPECT_EQ(drive.read("PARADA/norvceni.chm"), "help from a CD");
    EXPECT_EQ(namesIn(drive.path("PARADA/*.*")), (std::vector<std::string>{"norvceni.chm"}));

    // The replace step fails (a folder stands where the help file goes): the temporary copy,
    // read-only as the source is, goes all the same.
    drive.folder("CARPETA/norvceni.chm");
    EXPECT_FALSE(COPYFILEWHOLE(source, drive.path("CARPETA/norvceni.chm")));
    EXPECT_EQ(namesIn(drive.path("CARPETA/*.*")), (std::vector<std::string>{}));
    EXPECT_TRUE(drive.exists("CARPETA/norvceni.chm"));

    drive.setReadOnly("cd/ayuda.chm", false); // so that the tree can be removed
}

// On a file system of fixed size that the copy fills up. tests/files/small_fs.sh mounts one
// (a tmpfs of 512 KiB, as root) and names its host folder in INSTAYUDA_SMALL_FS; under Wine the
// folder is reached through drive Z:, natively through a drive letter mapped onto it.
TEST(WholeCopy, ADiskThatFillsUpLeavesTheFolderAsItWas) {
    const char* small = std::getenv("INSTAYUDA_SMALL_FS");
    if (!small || !*small)
        GTEST_SKIP() << "no small file system to fill: tests/files/small_fs.sh mounts one as root";
    std::string root;
    if (testsupport::onWindows()) {
        root = std::string("Z:") + small;
        for (char& c : root)
            if (c == '/') c = '\\';
        root += '\\';
    } else {
        ASSERT_TRUE(mapDrive('S', small));
        root = "S:\\";
    }
    // Host-side paths (not through the code under test): under Wine the same Z: path.
    const std::string host = testsupport::onWindows() ? root : std::string(small) + "/";
    const std::string sep = testsupport::onWindows() ? "\\" : "/";
    std::filesystem::create_directories(host + "EMPRESA");
    { std::ofstream(host + "EMPRESA" + sep + "norvceni.chm", std::ios::binary) << "old help"; }

    TestDrive drive{'W'};
    const std::string big(2 * 1024 * 1024, 'h'); // four times the file system
    drive.file("ayuda.chm", big);
    EXPECT_FALSE(COPYFILEWHOLE(drive.path("ayuda.chm"), root + "EMPRESA\\norvceni.chm"));
    EXPECT_EQ(hostRead(host + "EMPRESA" + sep + "norvceni.chm"), "old help");
    EXPECT_EQ(namesIn(root + "EMPRESA\\*.*"), (std::vector<std::string>{"norvceni.chm"}));
    // Without an older copy, nothing is left either; and the space is free again.
    EXPECT_FALSE(COPYFILEWHOLE(drive.path("ayuda.chm"), root + "norvceni.chm"));
    EXPECT_TRUE(namesIn(root + "norvceni*").empty());
    drive.file("small.chm", std::string(200 * 1024, 's'));
    EXPECT_TRUE(COPYFILEWHOLE(drive.path("small.chm"), root + "EMPRESA\\norvceni.chm"));
    EXPECT_EQ(hostRead(host + "EMPRESA" + sep + "norvceni.chm"), std::string(200 * 1024, 's'));
    std::filesystem::remove_all(host + "EMPRESA");
    if (!testsupport::onWindows()) mapDrive('S', "");
}
