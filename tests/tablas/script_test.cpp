// tablas's scripts: which lines are expressions, how lines are read, and the arguments and
// scripts run in order with their values' lines, errors and the stack line they report.
#include "app/tablas.h"

#include "runtime/error.h"
#include "runtime/frames.h"
#include "runtime/macro.h"
#include "runtime/settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using rt::Value;

TEST(TablasScript, BlankAndCommentLinesAreSkipped) {
    for (const char* line : {"", "   ", "\t \r", "#", "# DBCREATE('x', {})", "   \t# indented"})
        EXPECT_FALSE(app::scriptExpression(line)) << line;
    for (const char* line : {"1", "  1 # 2", "-1", "[#]", "'#'", "NOMBRE#'x'"})
        EXPECT_TRUE(app::scriptExpression(line)) << line;
}

TEST(TablasScript, LinesEndWithLfOrCrLf) {
    const fs::path file = fs::temp_directory_path() / "tablas_script_lines.txt";
    {
        static const char bytes[] = "a\r\nb\n\nc\rd\r\r\n\0e\n\xE1";
        std::ofstream(file, std::ios::binary).write(bytes, sizeof bytes - 1);
    }
    std::FILE* f = std::fopen(file.string().c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<std::string> lines;
    std::string line;
    while (app::readScriptLine(f, line)) lines.push_back(line);
    std::fclose(f);
    fs::remove(file);
    // The last line needs no line end; a CR inside a line stays.
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "", "c\rd\r", std::string("\0e", 2), "\xE1"}));
}

class TablasRun : public ::testing::Test {
  protected:
    void SetUp() override {
        rt::registerRuntimeRoutines();
        rt::resetSettings();
        dir_ = fs::temp_directory_path() / "tablas_script_run";
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        saved_ = rt::ERRORBLOCK();
        // Each error is kept with the line of the MAIN frame; a substitute of "SUBST", else
        // what answer() says.
        rt::ERRORBLOCK(Value(rt::makeBlock("TEST", [this](rt::Args a) -> Value {
            const auto e = a[0].objectAs<rt::ErrorObject>();
            errors_.push_back(e);
            int line = -1;
            for (std::int64_t level = 0; rt::Frame* f = rt::Frame::at(level); ++level)
                if (f->name() == "MAIN") line = f->line();
            errorLines_.push_back(line);
            if (e->CanSubstitute) return Value("SUBST");
            return answer_ ? answer_(*e) : Value(false);
        })));
    }
    void TearDown() override {
        rt::ERRORBLOCK(saved_.isBlock() ? saved_
                                        : Value(rt::makeBlock("T", [](rt::Args) { return Value(); })));
        fs::remove_all(dir_);
    }
    std::string script(const std::string& name, const std::string& text) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    std::vector<std::string> run(const std::vector<std::string>& arguments) {
        std::vector<std::string> out;
        app::runExpressions(arguments, [&out](std::string_view line) { out.emplace_back(line); });
        return out;
    }

    fs::path dir_;
    Value saved_;
    std::vector<rt::ErrorPtr> errors_;
    std::vector<int> errorLines_;
    std::function<Value(const rt::ErrorObject&)> answer_;
};

// Arguments and scripts run in the order given; each value on its line, the script's skipped
// lines printing nothing.
TEST_F(TablasRun, ArgumentsAndScriptsInOrder) {
    const std::string a =
        script("a.txt", "# altas\n1 + 1\n\n   # sangrado\r\n{10, 20, 30}[2]\r\n'a' + \"b\"");
    const std::string b = script("b.txt", "");
    EXPECT_EQ(run({"'x'", "-f", a, "3", "-f", b, "-f", a}),
              (std::vector<std::string>{"x\n", "2\n", "20\n", "ab\n", "3\n", "2\n", "20\n", "ab\n"}));
    EXPECT_TRUE(errors_.empty());
}

// An error in a script reaches the handler while MAIN stands on the script's line (on the
// argument's position for an argument); with a substitute, the run goes on.
TEST_F(TablasRun, ErrorsNameTheScriptLine) {
    const std::string s = script("s.txt", "1\n# nota\n\n1 + 'a'\n{1}[2]\n");
    EXPECT_EQ(run({"2", "-f", s, "{}[1]"}),
              (std::vector<std::string>{"2\n", "1\n", "SUBST\n", "SUBST\n", "SUBST\n"}));
    ASSERT_EQ(errors_.size(), 3u);
    EXPECT_EQ(errors_[0]->SubCode, Value(1081));
    EXPECT_EQ(errors_[1]->SubCode, Value(1132));
    EXPECT_EQ(errors_[2]->SubCode, Value(1132));
    EXPECT_EQ(errorLines_, (std::vector<int>{4, 5, 4}));
}

// A script that cannot be opened: "Open error" with its name; a retry opens it once it is
// there, the default goes on without it.
TEST_F(TablasRun, MissingScript) {
    const std::string missing = (dir_ / "tarde.txt").string();
    answer_ = [&](const rt::ErrorObject&) {
        script("tarde.txt", "5\n");
        return Value(true);
    };
    EXPECT_EQ(run({"-f", missing, "6"}), (std::vector<std::string>{"5\n", "6\n"}));
    ASSERT_EQ(errors_.size(), 1u);
    const rt::ErrorObject& e = *errors_[0];
    EXPECT_EQ(e.GenCode, Value(rt::EG_OPEN));
    EXPECT_EQ(e.Description, Value("Open error"));
    EXPECT_EQ(e.SubCode, Value(1001));
    EXPECT_EQ(e.SubSystem, Value("BASE"));
    EXPECT_EQ(e.Operation, Value("-f"));
    EXPECT_EQ(e.FileName, Value(missing));
    EXPECT_TRUE(e.CanRetry && e.CanDefault);

    errors_.clear();
    answer_ = {};
    EXPECT_EQ(run({"-f", (dir_ / "nunca.txt").string(), "7", "-f"}), (std::vector<std::string>{"7\n"}));
    ASSERT_EQ(errors_.size(), 2u); // the last "-f" names no script
    EXPECT_EQ(errors_[1]->FileName, Value(""));
}

} // namespace
