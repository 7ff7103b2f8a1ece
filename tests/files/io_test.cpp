#include "files/files.h"
#include "files/os.h"

#include "runtime/dates.h"
#include "runtime/frames.h"
#include "runtime/settings.h"
#include "testdrive.h"

#include <gtest/gtest.h>

#include <regex>

using namespace files;
using testsupport::TestDrive;

namespace {

class FileIo : public ::testing::Test {
  protected:
    void TearDown() override { rt::resetSettings(); }
    TestDrive drive{'T'};
};

// Runs body with the drive's root as the current folder.
template <class F> void inDriveRoot(const TestDrive& drive, F body) {
    const std::string saved = os::currentFolder();
    ASSERT_TRUE(os::setCurrentFolder(drive.path()));
    body();
    os::setCurrentFolder(saved);
}

} // namespace

TEST_F(FileIo, MemoReadKeepsEveryByteButAFinalEndOfFileMark) {
    const std::string table =
        std::string("\x03\x6D\x01\x01\0\0\0", 7) + "hdr 2009/1" + std::string(3, '\0') + "\x1A" + "tail";
    drive.file("v/emp/versione.dbf", table + "\x1A");
    EXPECT_EQ(MEMOREAD(drive.path("V\\EMP\\VERSIONE.DBF")), table); // the mark inside stays
    drive.file("v/two", "ab\x1A\x1A");
    EXPECT_EQ(MEMOREAD(drive.path("v\\two")), "ab\x1A");
    drive.file("v/only", "\x1A");
    EXPECT_EQ(MEMOREAD(drive.path("v\\only")), "");
    drive.file("v/empty", "");
    EXPECT_EQ(MEMOREAD(drive.path("v\\empty")), "");
    EXPECT_EQ(MEMOREAD(drive.path("v\\nada")), "");
    EXPECT_EQ(MEMOREAD(drive.path("v\\emp")), ""); // a folder
    EXPECT_EQ(MEMOREAD(drive.path("v\\*")), "");
    EXPECT_EQ(MEMOREAD("Q:\\x"), "");
}

TEST_F(FileIo, MemoReadOfAFileHeldExclusivelyIsEmpty) {
    drive.file("v/versione.dbf", "2009/1");
    {
        testsupport::ExclusiveHold hold(drive, "v/versione.dbf");
        if (!hold.held()) GTEST_SKIP() << "no exclusive opens on this platform";
        EXPECT_EQ(MEMOREAD(drive.path("v\\versione.dbf")), "");
        EXPECT_TRUE(files::FILE(drive.path("v\\versione.dbf"))); // it is still listed
    }
    EXPECT_EQ(MEMOREAD(drive.path("v\\versione.dbf")), "2009/1");
}

TEST_F(FileIo, LogFileAppendsOneLineInTheSameFormatWhetherTheFileExistedOrNot) {
    rt::SET(rt::_SET_DATEFORMAT, "dd-mm-yy");
    const std::string log = drive.path("logs\\Registro.txt");
    drive.folder("logs");
    LOGFILE(log, rt::Value(rt::makeArray({"uno", 2, true, rt::Value(), rt::makeDate(2009, 7, 1)})));
    LOGFILE(log, rt::Value(rt::makeArray({})));
    const std::string text = drive.read("logs/Registro.txt");
    const std::regex lines("(\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d: uno\t2\t\\.t\\.\t\t01-07-09\t\r\n)"
                           "(\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d: \r\n)");
    EXPECT_TRUE(std::regex_match(text, lines)) << text;
    EXPECT_EQ(text.substr(0, 8), rt::DTOC(rt::DATE()));
}

TEST_F(FileIo, LogFileThatCannotBeOpenedWritesNothing) {
    drive.folder("logs/carpeta");
    LOGFILE(drive.path("logs\\carpeta"), rt::Value(rt::makeArray({"x"}))); // a folder
    LOGFILE(drive.path("nada\\log.txt"), rt::Value(rt::makeArray({"x"}))); // no such folder
    LOGFILE("Q:\\log.txt", rt::Value(rt::makeArray({"x"})));
    EXPECT_FALSE(drive.exists("nada"));
}

TEST_F(FileIo, LogStackWritesTheCallersWithTheirArguments) {
    inDriveRoot(drive, [] {
        const rt::Value a = "C:\\ayuda.chm", b = 7;
        rt::Frame outer("MAIN", {&a});
        rt::Frame inner("REVAYUDA", {&a, &b});
        LOGSTACK();
    });
    const std::string text = drive.read("stack.txt");
    std::vector<std::string> tails;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = text.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(pos, end - pos);
        ASSERT_GE(line.size(), 19u);
        tails.push_back(line.substr(19)); // after "dd/mm/yy hh:mm:ss: "
        pos = end + 2;
    }
    ASSERT_GE(tails.size(), 5u);
    EXPECT_EQ(tails[0], "\t");
    EXPECT_EQ(tails[1], "LogStack() called\t");
    EXPECT_EQ(tails[2], "=================\t");
    EXPECT_EQ(tails[3], "REVAYUDA\tC:\\ayuda.chm\t7\t");
    EXPECT_EQ(tails[4], "MAIN\tC:\\ayuda.chm\t");
}

TEST_F(FileIo, NewFileNameTakesTheFirstFreeCounter) {
    for (int i = 1; i <= 11; ++i) drive.file("n/inf" + std::to_string(i) + ".txt", "");
    EXPECT_EQ(CNEWFILENAME(drive.path("n\\inf"), "txt"), drive.path("n\\inf12.txt"));
    EXPECT_EQ(CNEWFILENAME(drive.path("n\\INF"), "log"), drive.path("n\\INF1.log"));
    drive.file("n/x1.dbf", "");
    drive.file("n/x3.dbf", "");
    EXPECT_EQ(CNEWFILENAME(drive.path("n\\x"), "dbf"), drive.path("n\\x2.dbf"));
}

TEST_F(FileIo, TempFileIsTheTimeOfDayAndNeverRepeats) {
    inDriveRoot(drive, [] {
        const std::string first = CTEMPFILE();
        EXPECT_TRUE(std::regex_match(first, std::regex("\\d{6}"))) << first;
        const std::string second = CTEMPFILE();
        EXPECT_NE(first, second);
        EXPECT_TRUE(std::regex_match(second, std::regex("\\d{6}"))) << second;
    });
}
