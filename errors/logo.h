// The error dialog's logo: a 32 x 32 picture in 16 colours, kept in the program as a complete
// BMP file image (14-byte file header, 40-byte information header, 16-entry colour table,
// 4 bits a pixel: 630 bytes). make_logo.py draws it.
#pragma once

#include <cstddef>

namespace errors {

extern const unsigned char kLogoBmp[];
extern const std::size_t kLogoBmpSize;
inline constexpr std::size_t kBmpFileHeaderSize = 14;

} // namespace errors
