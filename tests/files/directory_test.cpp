#include "files/files.h"
#include "files/os.h"

#include "runtime/dates.h"
#include "runtime/settings.h"
#include "testdrive.h"

#include <gtest/gtest.h>

#include <vector>

using namespace files;
using testsupport::TestDrive;

namespace {

std::vector<std::string> names(const rt::ArrayPtr& listing) {
    std::vector<std::string> out;
    for (const rt::Value& entry : listing->items) out.push_back(entry.asArray()->at(1).asString());
    return out;
}

const rt::ArrayPtr& entryNamed(const rt::ArrayPtr& listing, std::string_view name) {
    for (const rt::Value& entry : listing->items)
        if (entry.asArray()->at(1).asString() == name) return entry.asArray();
    static const rt::ArrayPtr none = rt::makeArray();
    ADD_FAILURE() << "no entry " << name;
    return none;
}

class Directory : public ::testing::Test {
  protected:
    TestDrive drive{'T'};
};

} // namespace

TEST_F(Directory, ListsInNameOrderWithoutRegardToCaseAndDotsFirst) {
    for (const char* f : {"zz", "Zy", "_u", "-m", "ab", "abc", "ABD", "a_b", "a b", "a.b"})
        drive.folder(std::string("V/") + f);
    drive.file("V/ex.txt", "hi");
    drive.file("V/a1", "x");

    EXPECT_EQ(names(DIRECTORY(drive.path("V\\*.*"), "D")),
              (std::vector<std::string>{".", "..", "-m", "a b", "a.b", "a1", "ab", "abc", "ABD", "a_b",
                                        "ex.txt", "Zy", "zz", "_u"}));
    // Without "D" only the plain files; the mask is matched without regard to case.
    EXPECT_EQ(names(DIRECTORY(drive.path("v\\*.*"))), (std::vector<std::string>{"a1", "ex.txt"}));
    EXPECT_EQ(names(DIRECTORY(drive.path("V\\A?"), "d")), (std::vector<std::string>{"a1", "ab"}));
    EXPECT_EQ(names(DIRECTORY(drive.path("V\\*.TXT"))), (std::vector<std::string>{"ex.txt"}));
    // "name.*" finds the name without extension too.
    EXPECT_EQ(names(DIRECTORY(drive.path("V\\abc.*"), "D")), (std::vector<std::string>{"abc"}));
    // A drive's root lists no "." or "..".
    EXPECT_EQ(names(DIRECTORY(drive.path("*.*"), "D")), (std::vector<std::string>{"V"}));
}

TEST_F(Directory, EntryFields) {
    drive.file("V/sub/data.bin", std::string(1234, 'x'));
    drive.setWriteTime("V/sub/data.bin", 2009, 3, 14, 7, 5, 9);
    drive.folder("V/sub/carpeta");
    const auto listing = DIRECTORY(drive.path("V\\sub\\*.*"), "D");
    ASSERT_EQ(listing->size(), 4u);

    const auto& file = entryNamed(listing, "data.bin");
    ASSERT_EQ(file->size(), 5u);
    EXPECT_EQ(file->at(2), rt::Value(1234));
    EXPECT_EQ(file->at(3), rt::Value(rt::makeDate(2009, 3, 14)));
    EXPECT_EQ(file->at(4), rt::Value("07:05:09"));
    EXPECT_EQ(file->at(5), rt::Value("A"));

    const auto& folder = entryNamed(listing, "carpeta");
    EXPECT_EQ(folder->at(2), rt::Value(0));
    EXPECT_EQ(folder->at(5), rt::Value("D"));
    EXPECT_EQ(entryNamed(listing, ".")->at(5), rt::Value("D"));
    EXPECT_EQ(entryNamed(listing, "..")->at(5), rt::Value("D"));
}

TEST_F(Directory, SizeIsTheLow32BitsSigned) {
    drive.sparseFile("big/four-gib-plus-16", (std::uint64_t{1} << 32) + 16);
    drive.sparseFile("big/four-gib-minus-1", (std::uint64_t{1} << 32) - 1);
    drive.sparseFile("big/product", 6524928);
    EXPECT_EQ(DIRECTORY(drive.path("big\\four-gib-plus-16"))->at(1).asArray()->at(2), rt::Value(16));
    EXPECT_EQ(DIRECTORY(drive.path("big\\four-gib-minus-1"))->at(1).asArray()->at(2), rt::Value(-1));
    EXPECT_EQ(FSIZE(drive.path("big\\PRODUCT")), 6524928);
}

TEST_F(Directory, HiddenEntriesNeedTheirLetter) {
    drive.folder("V/visible");
    drive.folder("V/.oculto"); // hidden by its name on POSIX; Wine reports dot-names hidden too
    drive.file("V/.nota", "x");
    drive.file("V/plain.txt", "x");
    EXPECT_EQ(names(DIRECTORY(drive.path("V\\*.*"), "D")),
              (std::vector<std::string>{".", "..", "plain.txt", "visible"}));
    EXPECT_EQ(names(DIRECTORY(drive.path("V\\*.*"), "HD")),
              (std::vector<std::string>{".", "..", ".nota", ".oculto", "plain.txt", "visible"}));
    EXPECT_EQ(names(DIRECTORY(drive.path("V\\*.*"), "h")), (std::vector<std::string>{".nota", "plain.txt"}));
    EXPECT_EQ(entryNamed(DIRECTORY(drive.path("V\\*.*"), "HD"), ".oculto")->at(5), rt::Value("HD"));
    // Letters that name kinds listed anyway change nothing.
    EXPECT_EQ(names(DIRECTORY(drive.path("V\\*.*"), "RACEILMOPTX")), (std::vector<std::string>{"plain.txt"}));
}

TEST_F(Directory, SystemEntriesNeedTheirLetter) {
    drive.folder("V/visible");
    drive.file("V/.nota", "x");
    drive.file("V/plain.txt", "x");
    if (!drive.setAttributes("V/visible", false, true))
        GTEST_SKIP() << "no system attribute on this platform";
    drive.file("V/sistema.sys", "x");
    drive.setAttributes("V/sistema.sys", true, true);
    EXPECT_EQ(names(DIRECTORY(drive.path("V\\*.*"), "D")),
              (std::vector<std::string>{".", "..", "plain.txt"}));
    EXPECT_EQ(names(DIRECTORY(drive.path("V\\*.*"), "SD")),
              (std::vector<std::string>{".", "..", "plain.txt", "visible"}));
    EXPECT_EQ(names(DIRECTORY(drive.path("V\\*.*"), "HS")),
              (std::vector<std::string>{".nota", "plain.txt", "sistema.sys"}));
    EXPECT_EQ(entryNamed(DIRECTORY(drive.path("V\\*.*"), "SD"), "visible")->at(5), rt::Value("SD"));
    EXPECT_EQ(entryNamed(DIRECTORY(drive.path("V\\*.*"), "HS"), "sistema.sys")->at(5), rt::Value("HSA"));
    EXPECT_EQ(FSIZE(drive.path("V\\sistema.sys")), 0);
}

TEST_F(Directory, MissingThingsListNothing) {
    drive.folder("V");
    EXPECT_EQ(DIRECTORY(drive.path("V\\nada\\*.*"), "D")->size(), 0u);
    EXPECT_EQ(DIRECTORY(drive.path("V\\*.xyz"))->size(), 0u);
    EXPECT_EQ(DIRECTORY("Q:\\Vendrax\\*.*", "D")->size(), 0u); // a drive nobody mapped
    EXPECT_EQ(DIRECTORY(":\\Vendrax\\*.*", "D")->size(), 0u);  // what an empty drive letter gives
    EXPECT_EQ(DIRECTORY(drive.path("V\\"), "D")->size(), 0u);  // a folder path names no entry
    EXPECT_EQ(DIRECTORY("", "D")->size(), 0u);
    EXPECT_EQ(DIRECTORY(std::string("T:\\V\0\\*.*", 9), "D")->size(), 0u);
    EXPECT_EQ(DIRECTORY(drive.path(), "V")->size(), 0u); // a test drive has no volume label
}

TEST_F(Directory, FileFindsFilesFoldersAndWildcards) {
    drive.file("V/emp/versione.dbf", "x");
    EXPECT_TRUE(files::FILE(drive.path("V\\EMP\\VERSIONE.DBF")));
    EXPECT_TRUE(files::FILE(drive.path("V\\emp")));        // a folder counts
    EXPECT_TRUE(files::FILE(drive.path("V\\emp\\*.dbf"))); // wildcards are allowed
    EXPECT_TRUE(files::FILE(drive.path("V\\.\\emp\\..\\emp\\versione.dbf")));
    EXPECT_TRUE(files::FILE(drive.path("V\\emp\\versione.dbf."))); // trailing dots are not part of a name
    EXPECT_FALSE(files::FILE(drive.path("V\\emp\\*.cdx")));
    EXPECT_FALSE(files::FILE(drive.path("V\\emp\\versione.dbf\\x"))); // nothing below a file
    EXPECT_FALSE(files::FILE(drive.path("V\\emp\\")));
    EXPECT_FALSE(files::FILE(drive.path())); // a drive's root has no entry of its own
    EXPECT_FALSE(files::FILE("Q:\\V\\emp"));
    EXPECT_FALSE(files::FILE(""));
    // ".." never leaves the drive: from the root it stays there.
    EXPECT_TRUE(files::FILE(drive.path("..\\..\\V\\emp\\versione.dbf")));
}

TEST_F(Directory, FileLooksUpBareNamesInTheDefaultFolder) {
    drive.file("V/solo.txt", "x");
    const rt::Value saved = rt::SET(rt::_SET_DEFAULT, drive.path("V"));
    EXPECT_TRUE(files::FILE("solo.txt"));
    EXPECT_FALSE(files::FILE("otro.txt"));
    rt::SET(rt::_SET_DEFAULT, drive.path("V\\"));
    EXPECT_TRUE(files::FILE("SOLO.TXT"));
    rt::SET(rt::_SET_DEFAULT, saved);
}

TEST_F(Directory, SizeDateAndTimeOfTheFirstListedFile) {
    drive.file("V/a.txt", "12345");
    drive.setWriteTime("V/a.txt", 1999, 12, 31, 23, 59, 58);
    drive.folder("V/carpeta");
    drive.file("V/.oculto", "12345");
    EXPECT_EQ(FSIZE(drive.path("V\\A.TXT")), 5);
    EXPECT_EQ(FDATE(drive.path("V\\a.txt")), rt::makeDate(1999, 12, 31));
    EXPECT_EQ(FTIME(drive.path("V\\a.txt")), "23:59:58");
    EXPECT_EQ(FSIZE(drive.path("V\\carpeta")), 0);
    EXPECT_EQ(FSIZE(drive.path("V\\.oculto")), 0);
    EXPECT_EQ(FSIZE(drive.path("V\\nada")), 0);
    EXPECT_TRUE(FDATE(drive.path("V\\nada")).empty());
    EXPECT_EQ(FTIME(drive.path("V\\nada")), "");
}

TEST_F(Directory, IsDirRestoresTheCurrentFolder) {
    drive.folder("V/sub");
    drive.file("V/f.txt", "x");
    const std::string before = os::currentFolder();
    EXPECT_TRUE(LISDIR(drive.path("V\\SUB")));
    EXPECT_EQ(os::currentFolder(), before);
    EXPECT_FALSE(LISDIR(drive.path("V\\f.txt")));
    EXPECT_FALSE(LISDIR(drive.path("V\\nada")));
    EXPECT_FALSE(LISDIR("Q:\\"));
    EXPECT_EQ(os::currentFolder(), before);
}

TEST_F(Directory, FindFileSearchesFiveLevelsDown) {
    drive.file("R/ayuda.chm", "x");
    drive.file("R/a/AYUDA.CHM", "x");
    drive.file("R/a/b/c/d/e/ayuda.chm", "x");   // five levels below R
    drive.file("R/a/b/c/d/e/f/ayuda.chm", "x"); // six: too deep
    drive.file("R/x/otra.chm", "x");
    const rt::Value list = rt::Value(rt::makeArray());
    EXPECT_EQ(AFINDFILE("Ayuda.chm", drive.path("R"), list), list);
    std::vector<std::string> found;
    for (const rt::Value& v : list.asArray()->items) found.push_back(v.asString());
    EXPECT_EQ(found, (std::vector<std::string>{drive.path("R\\Ayuda.chm"), drive.path("R\\a\\Ayuda.chm"),
                                               drive.path("R\\a\\b\\c\\d\\e\\Ayuda.chm")}));
}

// Bad input: many entries, the longest names, paths longer than the platform takes.
TEST_F(Directory, ThousandsOfEntriesAndLongNames) {
    ASSERT_TRUE(drive.manyFiles("V", "f", 100000, 3000));
    const auto listing = DIRECTORY(drive.path("V\\*.*"), "D");
    ASSERT_EQ(listing->size(), 3002u);
    EXPECT_EQ(listing->at(3).asArray()->at(1), rt::Value("f100000"));
    EXPECT_EQ(listing->at(3002).asArray()->at(1), rt::Value("f102999"));

    const std::string longName(255, 'L');
    drive.folder("W/" + longName);
    const auto wide = DIRECTORY(drive.path("W\\*.*"), "D");
    ASSERT_EQ(wide->size(), 3u);
    EXPECT_EQ(wide->at(3).asArray()->at(1), rt::Value(longName));
    // Below it every path is longer than 259 characters: it names nothing.
    drive.file("W/" + longName + "/x.txt", "x");
    EXPECT_FALSE(files::FILE(drive.path("W\\" + longName + "\\x.txt")));
    EXPECT_EQ(DIRECTORY(drive.path("W\\" + longName + "\\*.*"), "D")->size(), 0u);
    EXPECT_EQ(DIRECTORY(std::string(5000, '\\') + "*.*")->size(), 0u);
}
