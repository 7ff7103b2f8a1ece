#include "table_support.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace enginetest {

TempDir::TempDir() : TempDir(fs::temp_directory_path().string()) {}

TempDir::TempDir(const std::string& parent) {
    static std::atomic<unsigned> serial{0};
    std::random_device rd;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path p = fs::path(parent) / ("engine-test-" + std::to_string(stamp) + "-" + std::to_string(rd()) +
                                     "-" + std::to_string(serial++));
    fs::create_directories(p);
    dir_ = p.string();
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::string TempDir::path(std::string_view name) const {
    return (fs::path(dir_) / name).string();
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::uint32_t le32(const std::string& b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b.at(at))) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b.at(at + 1))) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b.at(at + 2))) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b.at(at + 3))) << 24;
}

std::uint16_t le16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b.at(at)) |
                                      static_cast<unsigned char>(b.at(at + 1)) << 8);
}

std::uint32_t be32(const std::string& b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b.at(at))) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b.at(at + 1))) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b.at(at + 2))) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b.at(at + 3)));
}

void EngineTest::SetUp() {
    engine::setExact(false);
    engine::setDateFormat("MM/DD/YY");
    engine::setEpoch(1900);
    engine::setSearchPath("");
    engine::setDefault("");
    engine::showDeleted(true);
}

void EngineTest::TearDown() {
    engine::applicationExit();
}

std::vector<engine::FieldDef> sampleFields() {
    return {{"NAME", 'C', 10, 0},
            {"AMOUNT", 'N', 8, 2},
            {"BORN", 'D', 0, 0},
            {"OK", 'L', 0, 0},
            {"NOTES", 'M', 0, 0}};
}

} // namespace enginetest
