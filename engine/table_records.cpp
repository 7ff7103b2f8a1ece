// Records where they are: in the file, in the window of records read ahead while no one else
// can write the table, or in the tail of appended records not yet written. Loading one as the
// current record, and whether a record is shown.
#include "engine/table.h"
#include "engine/table_internal.h"

#include <algorithm>
#include <cstring>

namespace engine {

using namespace table_detail;

namespace {

// Records read at once when a whole table is scanned.
constexpr std::size_t scanBytes = std::size_t{256} << 10;

} // namespace

// A record already in memory (appended and not yet written, or in the read window), or null.
const std::uint8_t* Table::recordInMemory(std::uint32_t recno) const {
    const std::size_t len = hdr_.recordLength;
    if (!tail_.empty() && recno >= tailFirst_) {
        const std::size_t at = static_cast<std::size_t>(recno - tailFirst_) * len;
        return at + len <= tail_.size() ? tail_.data() + at : nullptr;
    }
    if ((!shared_ || tableLocked_) && recno >= windowFirst_ && recno < windowFirst_ + windowCount_)
        return window_.data() + static_cast<std::size_t>(recno - windowFirst_) * len;
    return nullptr;
}

Result Table::readRecordAt(std::uint32_t recno, std::uint8_t* out) {
    const std::size_t len = hdr_.recordLength;
    if (!tail_.empty() && recno >= tailFirst_) {
        std::size_t at = static_cast<std::size_t>(recno - tailFirst_) * len;
        if (at + len > tail_.size()) return kTableDamaged;
        std::memcpy(out, tail_.data() + at, len);
        return kOk;
    }
    // While no one else can write the table, records are read many at a time.
    if (!shared_ || tableLocked_) {
        if (recno < windowFirst_ || recno >= windowFirst_ + windowCount_) {
            const std::uint32_t last = tail_.empty() ? count_ : tailFirst_ - 1;
            // Many records when reading goes on from the window, forwards or backwards; one
            // when it jumps (a seek), so that random reads stay cheap.
            const bool onward = windowCount_ != 0 && recno == windowFirst_ + windowCount_;
            const bool backward = windowCount_ != 0 && recno + 1 == windowFirst_;
            const std::uint32_t batch =
                onward || backward ? static_cast<std::uint32_t>(std::max<std::size_t>(1, windowBytes / len))
                                   : 1;
            std::uint32_t first = recno;
            if (backward) first = recno >= batch ? recno - batch + 1 : 1;
            const std::uint32_t n = recno <= last ? std::min(batch, last - first + 1) : 0;
            window_.resize(static_cast<std::size_t>(n) * len);
            std::size_t got = 0;
            windowCount_ = 0;
            if (n > 0 && file_.read(hdr_.headerLength + std::uint64_t{first - 1} * len, window_.data(),
                                    window_.size(), got) == os::Status::ok) {
                windowFirst_ = first;
                windowCount_ = static_cast<std::uint32_t>(got / len);
            }
        }
        if (recno >= windowFirst_ && recno < windowFirst_ + windowCount_) {
            std::memcpy(out, window_.data() + static_cast<std::size_t>(recno - windowFirst_) * len, len);
            return kOk;
        }
    }
    std::uint64_t offset = hdr_.headerLength + std::uint64_t{recno - 1} * len;
    std::size_t got = 0;
    if (file_.read(offset, out, len, got) != os::Status::ok) return kIoError;
    if (got < len) {
        setErrorDetail("record " + std::to_string(recno) + " lies past the end of " + path_);
        return kTableDamaged;
    }
    return kOk;
}

void Table::dropWindow() {
    windowCount_ = 0;
}

Result Table::writeRecordAt(std::uint32_t recno, const std::uint8_t* data) {
    const std::size_t len = hdr_.recordLength;
    if (!tail_.empty() && recno >= tailFirst_) {
        std::memcpy(tail_.data() + static_cast<std::size_t>(recno - tailFirst_) * len, data, len);
        return kOk;
    }
    if (recno >= windowFirst_ && recno < windowFirst_ + windowCount_)
        std::memcpy(window_.data() + static_cast<std::size_t>(recno - windowFirst_) * len, data, len);
    std::uint64_t offset = hdr_.headerLength + std::uint64_t{recno - 1} * len;
    return file_.write(offset, data, len) == os::Status::ok ? kOk : kIoError;
}

Result Table::loadRecord(std::uint32_t recno) {
    Result r = readRecordAt(recno, rec_.data());
    if (r != kOk) {
        setEof();
        return r;
    }
    recno_ = recno;
    bof_ = eof_ = false;
    dirty_ = isNew_ = false;
    return kOk;
}

void Table::setEof() {
    recno_ = count_ + 1;
    eof_ = true;
    bof_ = false;
    rec_ = blank_;
    dirty_ = isNew_ = false;
}

bool Table::hidden(const std::uint8_t* rec) const {
    return !settings().showDeleted && rec[0] == '*';
}

Result Table::visible(std::uint32_t recno, bool& show) {
    show = false;
    if (recno == 0) return kIndexDamaged;
    if (recno > count_) {
        Result r = refreshCount();
        if (r != kOk) return r;
        if (recno > count_) {
            setErrorDetail("an index entry names record " + std::to_string(recno) + ", past the end of " +
                           path_);
            return kIndexDamaged;
        }
    }
    if (settings().showDeleted) {
        show = true;
        return kOk;
    }
    // Only the deleted mark is needed: no copy when the record is in memory.
    if (const std::uint8_t* rec = recordInMemory(recno)) {
        show = !hidden(rec);
        return kOk;
    }
    scratch_.resize(hdr_.recordLength);
    Result r = readRecordAt(recno, scratch_.data());
    if (r == kOk) show = !hidden(scratch_.data());
    return r;
}

Result Table::scan(std::uint32_t from, const std::function<Result(const std::uint8_t*, std::uint32_t)>& fn) {
    const std::size_t len = hdr_.recordLength;
    const std::size_t batch = std::max<std::size_t>(1, scanBytes / len);
    std::vector<std::uint8_t> buf(batch * len);
    std::uint32_t r = from;
    while (r >= 1 && r <= count_) {
        if (!tail_.empty() && r >= tailFirst_) {
            Result res = fn(tail_.data() + static_cast<std::size_t>(r - tailFirst_) * len, r);
            if (res != kOk) return res;
            ++r;
            continue;
        }
        std::uint32_t last = count_;
        if (!tail_.empty()) last = std::min(last, tailFirst_ - 1);
        std::size_t n = std::min<std::size_t>(batch, last - r + 1);
        std::size_t got = 0;
        std::uint64_t offset = hdr_.headerLength + std::uint64_t{r - 1} * len;
        if (file_.read(offset, buf.data(), n * len, got) != os::Status::ok) return kIoError;
        if (got < n * len) return kTableDamaged;
        for (std::size_t i = 0; i < n; ++i) {
            Result res = fn(buf.data() + i * len, r + static_cast<std::uint32_t>(i));
            if (res != kOk) return res;
        }
        r += static_cast<std::uint32_t>(n);
    }
    return kOk;
}

} // namespace engine
