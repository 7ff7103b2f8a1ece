// FPT memo files as FoxPro lays them out. All numbers are big-endian.
//
//   offset  size  header (512 bytes)
//        0     4  next free block: where the next new memo goes
//        6     2  block size in bytes (64 in the files we create)
//        8   504  zeros
//   block n (at n * block size; the blocks inside the header are never used):
//        0     4  type: 1 text (0 picture, 2 object)
//        4     4  length of the data
//        8     ...the data, the last block filled up with zeros
//
// A memo field holds the number of its first block (0: empty memo). A memo that grows past
// its blocks moves to new blocks at the end; the old ones are left unused, as FoxPro does.
#pragma once

#include "engine/expr.h"
#include "engine/os.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace engine {

namespace fpt {

constexpr std::uint32_t headerSize = 512;
constexpr std::uint16_t defaultBlockSize = 64;
constexpr std::uint32_t typeText = 1;

struct Header {
    std::uint32_t nextFree = 0;
    std::uint16_t blockSize = defaultBlockSize;
};

std::uint32_t be32(const std::uint8_t* p);
// The first block that lies after the header.
std::uint32_t firstBlock(std::uint16_t blockSize);
// Blocks taken by a memo of len bytes (its 8-byte block header included).
std::uint64_t blocksFor(std::uint64_t len, std::uint16_t blockSize);
// False when the header cannot be one of a memo file (block size 0, next free block inside
// the header).
bool readHeader(std::span<const std::uint8_t> bytes, Header& out);
void writeHeader(const Header& h, std::uint8_t* out512);

} // namespace fpt

class MemoFile {
  public:
    // Opens an existing memo file and checks its header.
    Result open(const std::string& path, bool writable);
    // Creates (or empties) a memo file with an empty header.
    Result create(const std::string& path, std::uint16_t blockSize = fpt::defaultBlockSize);
    void close() { file_.close(); }
    // In a shared table new blocks are allocated under the memo file's lock, with the header
    // read again; an exclusive table keeps the header in memory.
    void setShared(bool shared) { shared_ = shared; }

    // The memo that starts at block (0: empty). kMemoDamaged when the block or its length
    // lies outside the file.
    Result read(std::uint32_t block, std::string& text);
    Result length(std::uint32_t block, std::uint32_t& len);
    // The block header of the memo at block: its type and length (kMemoDamaged when the block
    // lies inside the header or the memo past the end of the file). fileSize: the file's size.
    Result info(std::uint32_t block, std::uint32_t& type, std::uint32_t& len, std::uint64_t& fileSize);
    // Stores text as the memo that was at oldBlock (0: none) and answers its block (0 for an
    // empty text): in place when inPlace and it fits the old blocks, else in new blocks at
    // the end.
    Result write(std::uint32_t oldBlock, std::string_view text, std::uint32_t& block, bool inPlace = true);

    // Makes what was written so far lasting (flushed to the disk), when anything was.
    Result flush();

    const fpt::Header& header() const { return header_; }
    os::File& file() { return file_; }

  private:
    Result readBlockHeader(std::uint32_t block, std::uint32_t& len, std::uint64_t& fileSize);
    Result loadHeader();

    os::File file_;
    fpt::Header header_;
    bool shared_ = false;
    bool unflushed_ = false; // written since the last flush
};

} // namespace engine
