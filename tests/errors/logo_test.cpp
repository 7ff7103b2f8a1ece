// The logo is a well-formed 32 x 32, 16-colour BMP file image of 630 bytes.
#include "errors/logo.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

std::uint32_t dword(std::size_t at) {
    const unsigned char* p = errors::kLogoBmp + at;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint32_t word(std::size_t at) {
    return errors::kLogoBmp[at] | (errors::kLogoBmp[at + 1] << 8);
}

} // namespace

TEST(Logo, IsA630ByteSixteenColourBitmapFile) {
    ASSERT_EQ(errors::kLogoBmpSize, 630u);
    // File header: "BM", the file size, the offset of the pixels after 14 + 40 + 16 x 4 bytes.
    EXPECT_EQ(errors::kLogoBmp[0], 'B');
    EXPECT_EQ(errors::kLogoBmp[1], 'M');
    EXPECT_EQ(dword(2), 630u);
    EXPECT_EQ(dword(10), 14u + 40u + 64u);
    // Information header: 40 bytes, 32 x 32 bottom-up, one plane, 4 bits, no compression,
    // 16 colours.
    EXPECT_EQ(dword(14), 40u);
    EXPECT_EQ(dword(18), 32u);
    EXPECT_EQ(dword(22), 32u);
    EXPECT_EQ(word(26), 1u);
    EXPECT_EQ(word(28), 4u);
    EXPECT_EQ(dword(30), 0u);
    EXPECT_EQ(dword(34), 512u);
    EXPECT_EQ(dword(46), 16u);
    // The picture uses more than one colour (it is not a blank square).
    const unsigned char first = errors::kLogoBmp[118];
    int different = 0;
    for (std::size_t i = 118; i < 630; ++i) different += errors::kLogoBmp[i] != first;
    EXPECT_GT(different, 100);
}
