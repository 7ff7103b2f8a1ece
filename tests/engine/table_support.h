// Shared pieces of the table engine's tests: a fresh folder per test, whole-file reads and
// writes, and a fixture that puts the engine's settings back to their defaults.
#pragma once

#include "engine/engine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace enginetest {

// A new empty folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    // Under parent instead of the system's temporary folder.
    explicit TempDir(const std::string& parent);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(std::string_view name) const;
    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, std::string_view bytes);
std::uint32_t le32(const std::string& bytes, std::size_t at);
std::uint16_t le16(const std::string& bytes, std::size_t at);
std::uint32_t be32(const std::string& bytes, std::size_t at);

// Resets the engine's settings before each test and closes every table after it.
class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    TempDir tmp;
};

// A table with the usual test fields: NAME C(10), AMOUNT N(8,2), BORN D, OK L, NOTES M.
std::vector<engine::FieldDef> sampleFields();

} // namespace enginetest
