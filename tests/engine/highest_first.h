// Builds descending tags laid out highest key first, as a writer that stores descending tags
// in descending order would: the tests let this engine build a tag of complemented keys and
// record numbers n + 1 - r (so stored ascending in those), then complement it in place.
// Complementing keeps every shared prefix length, so the leaves' compression stays right as
// long as no key ends in a fill byte (blank, NUL) either before or after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace highestfirst {

inline std::uint32_t le(const std::string& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}
inline std::uint32_t be32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}
inline void putBe32(std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * (3 - i)));
}

inline std::string complemented(std::string k) {
    for (char& c : k) c = static_cast<char>(~c);
    return k;
}

// Complements the keys and mirrors the record numbers (r to n + 1 - r) of the subtree at off.
inline void complementTree(std::string& b, std::uint32_t off, std::size_t keyLen, std::uint32_t n) {
    const std::size_t count = le(b, off + 2, 2);
    if (static_cast<unsigned char>(b[off]) & 2) {
        const unsigned bytes = static_cast<unsigned char>(b[off + 23]);
        const unsigned recBits = static_cast<unsigned char>(b[off + 20]);
        const std::uint32_t mask = le(b, off + 14, 4);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = off + 24 + i * bytes;
            std::uint64_t info = 0;
            for (int k = static_cast<int>(bytes) - 1; k >= 0; --k)
                info = info << 8 | static_cast<unsigned char>(b[at + k]);
            const std::uint32_t rec = n + 1 - static_cast<std::uint32_t>(info & mask);
            info = (info >> recBits << recBits) | rec;
            for (unsigned k = 0; k < bytes; ++k) b[at + k] = static_cast<char>(info >> (8 * k));
        }
        for (std::size_t i = off + 24 + count * bytes + le(b, off + 12, 2); i < off + 512; ++i)
            b[i] = static_cast<char>(~b[i]);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = off + 12 + i * (keyLen + 8);
        for (std::size_t k = 0; k < keyLen; ++k) b[at + k] = static_cast<char>(~b[at + k]);
        putBe32(b, at + keyLen, n + 1 - be32(b, at + keyLen));
        complementTree(b, be32(b, at + keyLen + 4), keyLen, n);
    }
}

// Turns the tag with its header at tag into its mirror image stored highest first, and clears
// the key type this engine notes in the header (files from elsewhere leave it unsaid).
inline void storeHighestFirst(std::string& b, std::uint32_t tag, std::size_t keyLen, std::uint32_t n) {
    complementTree(b, le(b, tag, 4), keyLen, n);
    b[tag + 496] = 0;
}

} // namespace highestfirst
