// Sharing a table with other handles and processes: record and table locks, the lock that
// stands for a pending write, the locks of the index files, and following the tags another
// process added or removed.
#include "engine/table.h"
#include "engine/table_internal.h"

#include "engine/lockmap.h"

#include <algorithm>

namespace engine {

using namespace table_detail;

Result Table::lockRecord(std::uint32_t recno) {
    if (recno == 0) return kBadArgument;
    if (recno > count_) {
        Result r = refreshCount();
        if (r != kOk) return r;
        if (recno > count_) return kBadArgument;
    }
    if (recordLocks_.count(recno)) return kOk;
    if (!shared_ || tableLocked_) {
        recordLocks_.insert(recno);
        return kOk;
    }
    if (implicitLock_ == recno) {
        implicitLock_ = 0;
    } else {
        os::Status s = file_.lock(lockmap::records + recno, 1, true);
        if (s == os::Status::busy) {
            setErrorDetail("record " + std::to_string(recno) + " is locked by another handle");
            return kLockRefused;
        }
        if (s != os::Status::ok) return kIoError;
        // The current record is read again: another process may have changed it.
        if (recno == recno_ && !eof_ && !dirty_) {
            Result r = readRecordAt(recno, rec_.data());
            if (r != kOk) {
                file_.unlock(lockmap::records + recno, 1);
                return r;
            }
        }
    }
    heldLocks_.insert(recno);
    recordLocks_.insert(recno);
    return kOk;
}

Result Table::unlockRecord(std::uint32_t recno) {
    if (!recordLocks_.count(recno)) return kRecordNotLocked;
    if (recno == recno_ && dirty_) {
        Result r = flushRecord();
        if (r != kOk) return r;
    }
    recordLocks_.erase(recno);
    if (shared_ && !tableLocked_ && heldLocks_.count(recno)) {
        file_.unlock(lockmap::records + recno, 1);
        heldLocks_.erase(recno);
    }
    return kOk;
}

Result Table::lockTable() {
    if (tableLocked_) return kOk;
    if (!shared_) {
        tableLocked_ = true;
        return kOk;
    }
    // The records this handle holds already are left out: their locks stay as they are and
    // the table lock covers everything around them.
    std::set<std::uint32_t> held = heldLocks_;
    if (implicitLock_ != 0) held.insert(implicitLock_);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    std::uint64_t from = lockmap::records;
    for (std::uint32_t n : held) {
        std::uint64_t at = lockmap::records + n;
        if (at > from) ranges.emplace_back(from, at - from);
        from = at + 1;
    }
    const std::uint64_t end = lockmap::records + lockmap::recordSpan;
    if (from < end) ranges.emplace_back(from, end - from);
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        os::Status s = file_.lock(ranges[i].first, ranges[i].second, true);
        if (s != os::Status::ok) {
            for (std::size_t j = 0; j < i; ++j) file_.unlock(ranges[j].first, ranges[j].second);
            if (s == os::Status::busy) {
                setErrorDetail("records of the table are locked by another handle");
                return kLockRefused;
            }
            return kIoError;
        }
    }
    tableRanges_ = std::move(ranges);
    // Others may have appended since the count was last read; from now on no one can.
    Result r = refreshCount();
    if (r != kOk) {
        for (const auto& range : tableRanges_) file_.unlock(range.first, range.second);
        tableRanges_.clear();
        return r;
    }
    tableLocked_ = true;
    return kOk;
}

Result Table::unlockTable() {
    Result r = writeAll();
    if (r != kOk) return r;
    const bool was = tableLocked_;
    if (shared_) {
        for (const auto& range : tableRanges_) file_.unlock(range.first, range.second);
        for (std::uint32_t n : heldLocks_) file_.unlock(lockmap::records + n, 1);
    }
    tableRanges_.clear();
    heldLocks_.clear();
    recordLocks_.clear();
    tableLocked_ = false;
    dropWindow(); // others may write again
    return was ? kOk : kTableNotLocked;
}

void Table::releaseImplicitLock() {
    if (implicitLock_ == 0) return;
    if (tableLocked_)
        heldLocks_.insert(implicitLock_); // covered by the table lock's ranges
    else
        file_.unlock(lockmap::records + implicitLock_, 1);
    implicitLock_ = 0;
}

Result Table::lockBag(Bag& bag, bool exclusive) {
    if (!shared_) return kOk;
    Result r = lockmap::wait(bag.file, lockmap::indexFile, 1, exclusive);
    if (r != kOk) {
        if (r == kLockRefused) setErrorDetail("the index " + bag.path + " stays locked by another handle");
        return r;
    }
    if (!bag.cdx.isOpen()) return kOk;
    bool changed = false;
    r = fromIndex(bag.cdx.refresh(&changed));
    if (r == kOk && changed) r = syncTags(bag);
    if (r == kOk) r = checkUpToDate(bag);
    if (r != kOk) {
        bag.file.unlock(lockmap::indexFile, 1);
        return r;
    }
    return kOk;
}

void Table::unlockBag(Bag& bag, bool) {
    if (shared_) bag.file.unlock(lockmap::indexFile, 1);
}

Result Table::lockBags(bool exclusive) {
    // Always in the same order, so two handles never wait on each other crosswise for long.
    std::vector<Bag*> order;
    for (auto& bag : bags_) order.push_back(bag.get());
    std::sort(order.begin(), order.end(), [](Bag* a, Bag* b) { return a->path < b->path; });
    for (std::size_t i = 0; i < order.size(); ++i) {
        Result r = lockBag(*order[i], exclusive);
        if (r != kOk) {
            for (std::size_t j = 0; j < i; ++j) unlockBag(*order[j], exclusive);
            return r;
        }
    }
    return kOk;
}

void Table::unlockBags(bool exclusive) {
    for (auto& bag : bags_) unlockBag(*bag, exclusive);
}

// Another process added or removed tags: follow the file's tag list.
Result Table::syncTags(Bag& bag) {
    const auto& infos = bag.cdx.tags();
    for (std::size_t i = 0; i < bag.tags.size();) {
        OpenTag& tag = *bag.tags[i];
        bool present = std::any_of(infos.begin(), infos.end(), [&](const TagInfo& info) {
            return info.id == tag.id && sameText(info.name, tag.name);
        });
        if (present) {
            ++i;
        } else {
            handles::remove(tag.handle);
            bag.tags.erase(bag.tags.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    for (const TagInfo& info : infos) {
        bool known = std::any_of(bag.tags.begin(), bag.tags.end(),
                                 [&](const std::unique_ptr<OpenTag>& t) { return t->id == info.id; });
        if (!known) addOpenTag(bag, info); // a tag that does not compile here is left alone
    }
    return kOk;
}

} // namespace engine
