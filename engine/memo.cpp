#include "engine/memo.h"

#include "engine/engine.h"
#include "engine/lockmap.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace engine {

namespace fpt {

std::uint32_t be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

std::uint32_t firstBlock(std::uint16_t blockSize) {
    return (headerSize + blockSize - 1) / blockSize;
}

std::uint64_t blocksFor(std::uint64_t len, std::uint16_t blockSize) {
    return (len + 8 + blockSize - 1) / blockSize;
}

bool readHeader(std::span<const std::uint8_t> bytes, Header& out) {
    if (bytes.size() < headerSize) return false;
    out.nextFree = be32(bytes.data());
    out.blockSize = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    if (out.blockSize == 0) return false;
    return out.nextFree >= firstBlock(out.blockSize);
}

void writeHeader(const Header& h, std::uint8_t* out) {
    std::memset(out, 0, headerSize);
    out[0] = static_cast<std::uint8_t>(h.nextFree >> 24);
    out[1] = static_cast<std::uint8_t>(h.nextFree >> 16);
    out[2] = static_cast<std::uint8_t>(h.nextFree >> 8);
    out[3] = static_cast<std::uint8_t>(h.nextFree);
    out[6] = static_cast<std::uint8_t>(h.blockSize >> 8);
    out[7] = static_cast<std::uint8_t>(h.blockSize);
}

} // namespace fpt

namespace {

Result fromStatus(os::Status s) {
    switch (s) {
    case os::Status::ok:
        return kOk;
    case os::Status::notFound:
        return kFileNotFound;
    case os::Status::denied:
        return kAccessDenied;
    default:
        return kIoError;
    }
}

void putBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// Memo files stay below 4 GiB, where the locks begin.
constexpr std::uint64_t maxFileSize = std::uint64_t{1} << 32;

} // namespace

Result MemoFile::loadHeader() {
    std::uint8_t bytes[fpt::headerSize];
    std::size_t got = 0;
    if (file_.read(0, bytes, sizeof bytes, got) != os::Status::ok) return kIoError;
    if (got < sizeof bytes || !fpt::readHeader(bytes, header_)) return kMemoDamaged;
    return kOk;
}

Result MemoFile::open(const std::string& path, bool writable) {
    os::Status s = file_.open(path, writable);
    if (s != os::Status::ok) return fromStatus(s);
    Result r = loadHeader();
    if (r != kOk) file_.close();
    return r;
}

Result MemoFile::create(const std::string& path, std::uint16_t blockSize) {
    os::Status s = file_.create(path, false);
    if (s != os::Status::ok) return fromStatus(s);
    header_.blockSize = blockSize;
    header_.nextFree = fpt::firstBlock(blockSize);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(header_.nextFree) * blockSize, 0);
    fpt::writeHeader(header_, bytes.data());
    unflushed_ = true;
    if (file_.truncate(0) != os::Status::ok || file_.write(0, bytes.data(), bytes.size()) != os::Status::ok) {
        file_.close();
        return kIoError;
    }
    return kOk;
}

Result MemoFile::readBlockHeader(std::uint32_t block, std::uint32_t& len, std::uint64_t& fileSize) {
    if (!file_.isOpen()) return kMemoDamaged;
    if (file_.size(fileSize) != os::Status::ok) return kIoError;
    if (block < fpt::firstBlock(header_.blockSize)) return kMemoDamaged;
    std::uint64_t offset = std::uint64_t{block} * header_.blockSize;
    if (offset + 8 > fileSize) return kMemoDamaged;
    std::uint8_t head[8];
    std::size_t got = 0;
    if (file_.read(offset, head, 8, got) != os::Status::ok) return kIoError;
    if (got < 8) return kMemoDamaged;
    len = static_cast<std::uint32_t>(head[4]) << 24 | static_cast<std::uint32_t>(head[5]) << 16 |
          static_cast<std::uint32_t>(head[6]) << 8 | head[7];
    if (len > fileSize - offset - 8) return kMemoDamaged;
    return kOk;
}

Result MemoFile::info(std::uint32_t block, std::uint32_t& type, std::uint32_t& len, std::uint64_t& fileSize) {
    type = len = 0;
    fileSize = 0;
    Result r = readBlockHeader(block, len, fileSize);
    if (r != kOk) return r;
    std::uint8_t head[4];
    std::size_t got = 0;
    if (file_.read(std::uint64_t{block} * header_.blockSize, head, 4, got) != os::Status::ok || got < 4)
        return kIoError;
    type = fpt::be32(head);
    return kOk;
}

Result MemoFile::length(std::uint32_t block, std::uint32_t& len) {
    len = 0;
    if (block == 0) return kOk;
    std::uint64_t fileSize = 0;
    return readBlockHeader(block, len, fileSize);
}

Result MemoFile::read(std::uint32_t block, std::string& text) {
    text.clear();
    if (block == 0) return kOk;
    std::uint32_t len = 0;
    std::uint64_t fileSize = 0;
    Result r = readBlockHeader(block, len, fileSize);
    if (r != kOk) return r;
    text.resize(len);
    std::size_t got = 0;
    if (file_.read(std::uint64_t{block} * header_.blockSize + 8, text.data(), len, got) != os::Status::ok) {
        text.clear();
        return kIoError;
    }
    if (got < len) {
        text.clear();
        return kMemoDamaged;
    }
    return kOk;
}

Result MemoFile::write(std::uint32_t oldBlock, std::string_view text, std::uint32_t& block, bool inPlace) {
    block = 0;
    if (text.empty()) return kOk;
    const std::uint16_t bs = header_.blockSize;
    const std::uint64_t needed = fpt::blocksFor(text.size(), bs);
    if (needed * bs >= maxFileSize) return kTableFull;

    std::vector<std::uint8_t> data(static_cast<std::size_t>(needed * bs), 0);
    putBe32(data.data(), fpt::typeText);
    putBe32(data.data() + 4, static_cast<std::uint32_t>(text.size()));
    std::memcpy(data.data() + 8, text.data(), text.size());

    // In place when the old memo's blocks are enough.
    if (oldBlock != 0 && inPlace) {
        std::uint32_t oldLen = 0;
        std::uint64_t fileSize = 0;
        if (readBlockHeader(oldBlock, oldLen, fileSize) == kOk && needed <= fpt::blocksFor(oldLen, bs)) {
            // The new memo whole, and of its padding what the file holds already: an old memo
            // that ends the file may be shorter than the new one, and the file then grows.
            std::uint64_t offset = std::uint64_t{oldBlock} * bs;
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(data.size(), fileSize - offset));
            n = std::max(n, text.size() + 8);
            unflushed_ = true;
            if (file_.write(offset, data.data(), n) != os::Status::ok) return kIoError;
            block = oldBlock;
            return kOk;
        }
    }

    if (shared_) {
        Result r = lockmap::wait(file_, lockmap::memoAlloc, 1, true);
        if (r != kOk) return r;
        r = loadHeader();
        if (r != kOk) {
            file_.unlock(lockmap::memoAlloc, 1);
            return r;
        }
    }
    Result result = kOk;
    std::uint64_t fileSize = 0;
    if (file_.size(fileSize) != os::Status::ok) {
        result = kIoError;
    } else {
        // Never below the end of the file, whatever the header says.
        std::uint64_t start = std::max<std::uint64_t>(header_.nextFree, (fileSize + bs - 1) / bs);
        std::uint64_t end = start + needed;
        if (end * bs < maxFileSize) unflushed_ = true;
        if (end * bs >= maxFileSize) {
            result = kTableFull;
        } else if (file_.write(start * bs, data.data(), data.size()) != os::Status::ok) {
            result = kIoError;
        } else {
            std::uint8_t next[4];
            putBe32(next, static_cast<std::uint32_t>(end));
            if (file_.write(0, next, 4) != os::Status::ok) {
                result = kIoError;
            } else {
                header_.nextFree = static_cast<std::uint32_t>(end);
                block = static_cast<std::uint32_t>(start);
            }
        }
    }
    if (shared_) file_.unlock(lockmap::memoAlloc, 1);
    return result;
}

Result MemoFile::flush() {
    if (!unflushed_) return kOk;
    if (file_.flush() != os::Status::ok) return kIoError;
    unflushed_ = false;
    return kOk;
}

} // namespace engine
