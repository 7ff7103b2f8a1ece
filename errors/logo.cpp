#include "errors/logo.h"

namespace errors {

const unsigned char kLogoBmp[] = {
#include "errors/logo_bmp.inc"
};
const std::size_t kLogoBmpSize = sizeof kLogoBmp;

} // namespace errors
