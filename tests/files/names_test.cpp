#include "files/files.h"

#include <gtest/gtest.h>

using namespace files;

TEST(FileNames, DriveAndPath) {
    EXPECT_EQ(CFILEDISC("c:\\vendrax\\x.dbf"), "C:");
    EXPECT_EQ(CFILEDISC("\\vendrax\\x.dbf"), "");
    EXPECT_EQ(CFILEDISC("abc:def"), ""); // the first ":" must be the second character
    EXPECT_EQ(CFILEDISC(""), "");

    EXPECT_EQ(CFILEPATH("c:\\Vendrax\\Emp\\x.dbf"), "C:\\VENDRAX\\EMP\\");
    EXPECT_EQ(CFILEPATH("c:x.dbf"), "C:\\");
    EXPECT_EQ(CFILEPATH("x.dbf"), "\\");
    EXPECT_EQ(CFILEPATH(""), "\\");

    EXPECT_EQ(CFILESUBDIR("c:\\Vendrax\\Emp\\"), "C:\\VENDRAX\\");
    EXPECT_EQ(CFILESUBDIR("c:\\Vendrax\\Emp"), "C:\\VENDRAX\\");
    EXPECT_EQ(CFILESUBDIR("c:\\"), "C:\\");
}

TEST(FileNames, NameExtensionAndMask) {
    EXPECT_EQ(CFILENOPATH("c:\\vendrax\\norvalew.exe"), "NORVALEW.EXE");
    EXPECT_EQ(CFILENOPATH("c:norvalew.exe"), "NORVALEW.EXE");
    EXPECT_EQ(CFILENOPATH("c:\\vendrax\\emp\\"), "\\VENDRAX\\EMP\\"); // ends in "\": all after the drive
    EXPECT_EQ(CFILENOPATH("vendrax\\"), "VENDRAX\\");
    EXPECT_EQ(CFILENOPATH("norvalew.exe"), "NORVALEW.EXE");
    EXPECT_EQ(CFILENAME("c:\\a\\b.c"), CFILENOPATH("c:\\a\\b.c"));

    EXPECT_EQ(CFILENOEXT("c:\\x\\informe.2009.txt"), "INFORME"); // cut at the first dot
    EXPECT_EQ(CFILENOEXT("c:\\x\\  nombre .txt"), "NOMBRE");
    EXPECT_EQ(CFILENOEXT("c:\\x\\sin"), "SIN");
    EXPECT_EQ(CFILEEXT("c:\\x\\informe.2009.txt"), "TXT"); // after the last dot
    EXPECT_EQ(CFILEEXT("c:\\x\\final."), "");
    EXPECT_EQ(CFILEEXT("c:\\x\\sin"), "");
    EXPECT_EQ(CFILEEXT("c:\\x\\a.dbf  "), "DBF");

    EXPECT_EQ(CFILEMASK("c:\\vendrax\\*.dbf"), "*.DBF");
    EXPECT_EQ(CFILEMASK("c:\\vendrax\\a?.dbf"), "A?.DBF");
    EXPECT_EQ(CFILEMASK("c:\\vendrax\\a.dbf"), "");
}

TEST(FileNames, OnlyAsciiLettersAreUpperCased) {
    EXPECT_EQ(CFILENOPATH(std::string("c:\\x\\cami\xF3n.txt")), std::string("CAMI\xF3N.TXT"));
    EXPECT_EQ(CFILENOPATH(std::string("a\0b", 3)), std::string("A\0B", 3));
}

TEST(FileNames, SameFileNameFoldsTheAnsiCodePage) {
    EXPECT_TRUE(sameFileName("C:\\Vendrax\\Datos", "c:\\VENDRAX\\datos"));
    EXPECT_TRUE(sameFileName("Cami\xF3n", "CAMI\xD3N"));
    EXPECT_FALSE(sameFileName("DATOS", "DATOS2009"));
    EXPECT_FALSE(sameFileName("DATOS2009", "DATOS"));
    EXPECT_FALSE(sameFileName("a\xF7", "a\xD7")); // division and multiplication signs are not letters
}
