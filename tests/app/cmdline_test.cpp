#include "app/cmdline.h"

#include <gtest/gtest.h>

#include <random>

using namespace app;
using Tokens = std::vector<std::string>;

TEST(CommandLine, TailAfterTheProgramName) {
    EXPECT_EQ(commandTail("instayuda.exe C:\\ayuda.chm"), "C:\\ayuda.chm");
    EXPECT_EQ(commandTail("\"C:\\Program Files\\instayuda.exe\"   C:\\ayuda.chm  "), "C:\\ayuda.chm  ");
    EXPECT_EQ(commandTail("instayuda.exe \t \tx"), "x");
    EXPECT_EQ(commandTail("instayuda.exe"), "");
    EXPECT_EQ(commandTail("\"C:\\sin cierre.exe x"), ""); // an unclosed quote runs to the end
    EXPECT_EQ(commandTail(""), "");
}

TEST(CommandLine, SpacesSeparateTabsDoNot) {
    EXPECT_EQ(splitCommandLine("a  b   c"), (Tokens{"a", "b", "c"}));
    EXPECT_EQ(splitCommandLine("a\tb c"), (Tokens{"a\tb", "c"}));
    EXPECT_EQ(splitCommandLine("\t"), (Tokens{"\t"}));
    EXPECT_EQ(splitCommandLine("   a   "), (Tokens{"a"})); // no empty token at either end
    EXPECT_EQ(splitCommandLine("    "), Tokens{});
    EXPECT_EQ(splitCommandLine(""), Tokens{});
}

TEST(CommandLine, QuotedTokensKeepTheirSpaces) {
    EXPECT_EQ(splitCommandLine("\"C:\\Mis documentos\\ayuda.chm\""),
              (Tokens{"C:\\Mis documentos\\ayuda.chm"}));
    EXPECT_EQ(splitCommandLine("\"C:\\Mis documentos\\ayuda.chm\" //x otra"),
              (Tokens{"C:\\Mis documentos\\ayuda.chm", "//x", "otra"}));
    EXPECT_EQ(splitCommandLine("C:\\Mis\" \"documentos\\a.chm b"),
              (Tokens{"C:\\Mis documentos\\a.chm", "b"}));
    EXPECT_EQ(splitCommandLine("\"\" x"), (Tokens{"", "x"}));      // an explicit empty argument
    EXPECT_EQ(splitCommandLine("\"a b   c"), (Tokens{"a b   c"})); // unclosed: to the end
    EXPECT_EQ(splitCommandLine("\"  \""), (Tokens{"  "}));
}

TEST(CommandLine, ArgumentTableHoldsTwentyEntries) {
    std::string line = "prog.exe";
    for (int i = 1; i <= 25; ++i) line += " t" + std::to_string(i);
    const ArgumentTable table = buildArgumentTable("C:\\prog.exe", line);
    EXPECT_EQ(table.count, 20u);
    EXPECT_EQ(table.dropped, 6u);
    EXPECT_EQ(table.entries[0], "C:\\prog.exe");
    EXPECT_EQ(table.entries[1], "t1");
    EXPECT_EQ(table.entries[19], "t19");

    const std::string longPath = "C:\\" + std::string(400, 'p') + "\\prog.exe";
    EXPECT_EQ(buildArgumentTable(longPath, "").entries[0], longPath.substr(0, 248));
}

TEST(CommandLine, ReservedTokensAreWithheldFromMain) {
    const auto args = mainArguments(buildArgumentTable("p.exe", "p.exe //INFO \"//x y\" C:\\a.chm // b"));
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(args[0], rt::Value("C:\\a.chm"));
    EXPECT_EQ(args[1], rt::Value("b"));
    EXPECT_TRUE(mainArguments(buildArgumentTable("p.exe", "p.exe //a //b")).empty());
    // A "//" token counts against the table even though MAIN never sees it.
    std::string line = "p.exe";
    for (int i = 0; i < 19; ++i) line += " //r";
    EXPECT_TRUE(mainArguments(buildArgumentTable("p.exe", line + " C:\\a.chm")).empty());
}

// Bad input: any length and content gives a bounded table of tokens without quotes.
TEST(CommandLine, AnyLengthOrContent) {
    std::mt19937 random(20090107);
    const std::string alphabet = "ab \"\t/\\:\x01\xF3\r\n";
    for (int round = 0; round < 300; ++round) {
        std::string line(random() % (round < 290 ? 200 : 200000), ' ');
        for (char& c : line) c = alphabet[random() % alphabet.size()];
        const ArgumentTable table = buildArgumentTable(line, line);
        ASSERT_LE(table.count, ArgumentTable::kEntries);
        ASSERT_LE(table.entries[0].size(), ArgumentTable::kMaxProgramPath);
        std::size_t tokens = 0;
        for (std::size_t i = 1; i < table.count; ++i) {
            ASSERT_EQ(table.entries[i].find('"'), std::string::npos);
            ++tokens;
        }
        ASSERT_EQ(tokens + table.dropped, splitCommandLine(commandTail(line)).size());
    }
}
