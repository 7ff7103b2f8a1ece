// The change under way: writing a changed or appended record together with its keys. Every
// key change is staged in the indexes first, so that a refusal leaves the files as they were;
// the bags that change carry the mark of a change under way until table and index are both
// written, so that a change cut off half-way is seen on the next open (checkUpToDate).
#include "engine/table.h"
#include "engine/table_internal.h"

#include "engine/lockmap.h"

namespace engine {

using namespace table_detail;

namespace {

// Appended records kept in memory before they are written together.
constexpr std::size_t tailLimit = std::size_t{1} << 20;

} // namespace

Result Table::flushRecord() {
    if (!dirty_) return kOk;
    const bool indexed = !bags_.empty();
    Result r = kOk;
    if (indexed && shared_) {
        // Records go to the file before their keys reach an index other processes read.
        r = flushTail();
        if (r != kOk) return r;
        r = lockBags(true);
        if (r != kOk) return r;
    }
    // The keys the record had, for tags that did not note them when it was first changed.
    if (indexed) {
        std::vector<std::uint8_t> before;
        for (auto& bag : bags_) {
            for (auto& tag : bag->tags) {
                if (tag->oldValid) continue;
                tag->oldValid = true;
                tag->oldIncluded = false;
                tag->oldKey.clear();
                if (isNew_) continue;
                if (before.empty()) {
                    before.resize(hdr_.recordLength);
                    if (readRecordAt(recno_, before.data()) != kOk) before.assign(hdr_.recordLength, ' ');
                }
                tagKey(*tag, before.data(), recno_, tag->oldIncluded, tag->oldKey);
            }
        }
    }
    // A tag whose keys cannot be worked out here refuses every change.
    if (const OpenTag* keyless = firstKeyless()) {
        if (indexed && shared_) unlockBags(true);
        setErrorDetail("tag " + keyless->name + " of " + keyless->bag->path +
                       " has an expression this engine cannot evaluate; the index is only read");
        return refuseRecord(kIndexReadOnly);
    }
    // Every key change first, bag by bag; then each bag takes them in memory, or the first
    // refusal leaves the files as they were.
    std::vector<std::vector<KeyChange>> changes(bags_.size());
    for (std::size_t b = 0; b < bags_.size(); ++b) {
        for (auto& tag : bags_[b]->tags) {
            bool included = false;
            std::string key;
            tagKey(*tag, rec_.data(), recno_, included, key);
            const bool same = included == tag->oldIncluded && (!included || key == tag->oldKey);
            if (!same) {
                if (tag->oldIncluded) changes[b].push_back({tag->id, false, tag->oldKey, recno_});
                if (included) changes[b].push_back({tag->id, true, std::move(key), recno_});
            }
        }
    }
    r = stageChanges(changes);
    if (r != kOk) {
        if (indexed && shared_) unlockBags(true);
        return refuseRecord(r);
    }
    // The bags that change carry the mark of a change under way until table and index are
    // both written: a change cut off half-way is seen on the next open.
    for (std::size_t b = 0; b < bags_.size() && r == kOk; ++b)
        if (!changes[b].empty() && !bags_[b]->marked) r = markBag(*bags_[b], true);
    if (r == kOk) r = writeRecordAt(recno_, rec_.data());
    if (r == kOk) modified_ = true; // the header's date follows on closing
    if (r != kOk) {
        for (auto& bag : bags_) bag->cdx.dropStaged();
        if (tail_.empty()) unmarkBags();
        if (indexed && shared_) unlockBags(true);
        return r;
    }
    for (std::size_t b = 0; b < bags_.size(); ++b) {
        if (changes[b].empty()) continue;
        Result e = fromIndex(bags_[b]->cdx.commitStaged(holdKeys()));
        if (e != kOk && r == kOk) r = e; // the bag keeps its mark: out of date
    }
    for (auto& tag : orders()) tag->oldValid = false;
    // While appended records are kept in memory, their keys are in the indexes already: the
    // mark stays until they are in the file too.
    if (r == kOk && tail_.empty()) unmarkBags();
    if (indexed && shared_) unlockBags(true);
    dirty_ = false;
    isNew_ = false;
    freshBlocks_.clear();
    releaseImplicitLock();
    return r;
}

Result Table::stageChanges(const std::vector<std::vector<KeyChange>>& changes, bool candidates) {
    for (std::size_t b = 0; b < bags_.size(); ++b) {
        if (changes[b].empty()) continue;
        Result e = bags_[b]->cdx.stage(changes[b], candidates);
        if (e != kOk) {
            for (std::size_t c = 0; c < b; ++c) bags_[c]->cdx.dropStaged();
            if (e == kCdxReadOnlyTag)
                setErrorDetail("a tag of " + bags_[b]->path +
                               " is of another collation sequence, or of a layout this engine only reads");
            if (e == kCdxDuplicateKey)
                setErrorDetail("a candidate tag of " + bags_[b]->path + " holds that key for another record");
            return fromIndex(e);
        }
    }
    return kOk;
}

// A record change the indexes refused: the record goes back to what the file holds (an
// appended record to a blank one, whose keys the indexes then get), nothing is written.
Result Table::refuseRecord(Result why) {
    if (isNew_) {
        // The record as appended (blank but for autoincrement values).
        if (readRecordAt(recno_, rec_.data()) != kOk) rec_ = blank_;
        const std::vector<std::vector<KeyChange>> changes = blankKeys(recno_, rec_);
        const bool locked = shared_ && !bags_.empty();
        Result r = locked ? lockBags(true) : kOk;
        // The blank record's keys go in even where a candidate tag holds them already: the
        // record is in the table, so its keys must be in the index.
        if (r == kOk) r = stageChanges(changes, false);
        for (std::size_t b = 0; r == kOk && b < bags_.size(); ++b)
            if (!changes[b].empty() && !bags_[b]->marked) r = markBag(*bags_[b], true);
        for (std::size_t b = 0; b < bags_.size(); ++b) {
            if (changes[b].empty()) continue;
            if (r == kOk)
                r = fromIndex(bags_[b]->cdx.commitStaged(holdKeys()));
            else
                bags_[b]->cdx.dropStaged();
        }
        if (r == kOk && tail_.empty()) unmarkBags();
        if (locked) unlockBags(true);
    } else if (readRecordAt(recno_, rec_.data()) != kOk) {
        rec_ = blank_;
    }
    for (auto& tag : orders()) tag->oldValid = false;
    dirty_ = false;
    isNew_ = false;
    freshBlocks_.clear();
    releaseImplicitLock();
    return why;
}

// Autoincrement fields of a record being appended: each takes the field's next value, and the
// next value moves on by the step in the file's descriptor (read again in a shared table,
// under the header lock the caller holds).
Result Table::takeAutoValues(std::vector<std::uint8_t>& rec) {
    for (dbf::Field& f : hdr_.fields) {
        if (!(f.flags & dbf::fieldAutoIncrement) || f.type != 'I' || f.descriptorAt == 0) continue;
        std::uint8_t d[5];
        if (shared_ && !tableLocked_) {
            std::size_t got = 0;
            if (file_.read(f.descriptorAt + 19, d, sizeof d, got) != os::Status::ok || got != sizeof d)
                return kIoError;
            f.autoNext = static_cast<std::uint32_t>(d[0]) | static_cast<std::uint32_t>(d[1]) << 8 |
                         static_cast<std::uint32_t>(d[2]) << 16 | static_cast<std::uint32_t>(d[3]) << 24;
            f.autoStep = d[4];
        }
        const std::uint32_t value = f.autoNext;
        put32(d, value + f.autoStep);
        if (file_.write(f.descriptorAt + 19, d, 4) != os::Status::ok) return kIoError;
        f.autoNext = value + f.autoStep;
        put32(rec.data() + f.offset, value);
        dbf::setNull(hdr_, f, rec.data(), false);
    }
    return kOk;
}

std::vector<std::vector<KeyChange>> Table::blankKeys(std::uint32_t recno,
                                                     const std::vector<std::uint8_t>& rec) {
    std::vector<std::vector<KeyChange>> changes(bags_.size());
    for (std::size_t b = 0; b < bags_.size(); ++b) {
        for (auto& tag : bags_[b]->tags) {
            bool included = false;
            std::string key;
            tagKey(*tag, rec.data(), recno, included, key);
            if (included) changes[b].push_back({tag->id, true, std::move(key), recno});
        }
    }
    return changes;
}

Result Table::markBag(Bag& bag, bool on) {
    Result r = fromIndex(bag.cdx.markChanging(on));
    if (r == kOk) bag.marked = on;
    return r;
}

// The keys held in memory are written first; a bag whose keys cannot be written keeps its
// mark.
void Table::unmarkBags() {
    for (auto& bag : bags_)
        if (bag->marked && bag->cdx.writeHeld() == kOk) markBag(*bag, false);
}

// While appended records are kept in memory in a table no one else can open, the bags keep
// the mark of a change under way: the keys of each record are kept in memory too, and the
// index is written when the records are.
bool Table::holdKeys() const {
    return !shared_ && !tail_.empty();
}

Result Table::checkUpToDate(Bag& bag) {
    if (!bag.cdx.outOfDate() || readOnly_) return kOk;
    setErrorDetail("the index " + bag.path +
                   " may not agree with its table: a change of the two was cut off; rebuild the index");
    return kIndexOutOfDate;
}

Result Table::flushTail() {
    if (tail_.empty()) return kOk;
    tail_.push_back(dbf::endOfFile);
    std::uint64_t offset = hdr_.headerLength + std::uint64_t{tailFirst_ - 1} * hdr_.recordLength;
    os::Status s = file_.write(offset, tail_.data(), tail_.size());
    tail_.pop_back();
    if (s != os::Status::ok) return kIoError;
    Result r = kOk;
    if (shared_) {
        r = lockmap::wait(file_, lockmap::header, 1, true);
        if (r != kOk) return r;
    }
    r = writeCount(count_);
    if (shared_) file_.unlock(lockmap::header, 1);
    if (r == kOk) {
        tail_.clear();
        unmarkBags(); // the keys of the appended records are in the indexes already
    }
    return r;
}

Result Table::writeAll() {
    Result r = flushRecord();
    if (r != kOk) return r;
    return flushTail();
}

Result Table::append() {
    if (readOnly_) return kReadOnly;
    // A record needs keys in every tag: none may be one this engine only reads.
    if (const OpenTag* keyless = firstKeyless()) {
        setErrorDetail("tag " + keyless->name + " of " + keyless->bag->path +
                       " has an expression this engine cannot evaluate; the index is only read");
        return kIndexReadOnly;
    }
    for (auto& bag : bags_) {
        for (const TagInfo& info : bag->cdx.tags()) {
            if (info.readOnly) {
                setErrorDetail("tag " + info.name + " of " + bag->path +
                               " is of another collation sequence; this engine only reads it");
                return kIndexReadOnly;
            }
            if (info.storedDescending) {
                setErrorDetail("tag " + info.name + " of " + bag->path +
                               " keeps its keys in descending order; this engine only reads it");
                return kIndexReadOnly;
            }
        }
    }
    Result r = flushRecord();
    if (r != kOk) return r;
    const std::size_t len = hdr_.recordLength;
    auto fits = [&](std::uint32_t n) {
        return n != 0 && hdr_.headerLength + std::uint64_t{n} * len + 1 < lockmap::base;
    };
    std::uint32_t n = 0;
    std::vector<std::uint8_t> fresh = blank_;
    if (!shared_ || tableLocked_) {
        // No one else can append: keep the record in memory with the others.
        n = count_ + 1;
        if (!fits(n)) return kTableFull;
        r = takeAutoValues(fresh);
        if (r != kOk) return r;
        if (tail_.empty()) tailFirst_ = n;
        tail_.insert(tail_.end(), fresh.begin(), fresh.end());
        count_ = n;
        if (tableLocked_) recordLocks_.insert(n);
    } else {
        r = lockmap::wait(file_, lockmap::header, 1, true);
        if (r != kOk) return r;
        r = refreshCount();
        n = count_ + 1;
        if (r == kOk && !fits(n)) r = kTableFull;
        if (r == kOk) {
            os::Status s = file_.lock(lockmap::records + n, 1, true);
            if (s == os::Status::busy) {
                setErrorDetail("the table is locked by another handle");
                r = kLockRefused;
            } else if (s != os::Status::ok) {
                r = kIoError;
            }
        }
        // Other processes see the record as soon as the count says so: its (blank) keys go to
        // the indexes with it, under the mark of a change under way.
        std::vector<std::vector<KeyChange>> keys;
        bool indexed = false;
        if (r == kOk && !bags_.empty()) {
            r = lockBags(true);
            if (r == kOk) {
                indexed = true;
                r = takeAutoValues(fresh);
                keys = blankKeys(n, fresh);
                if (r == kOk) r = stageChanges(keys, false);
                for (std::size_t b = 0; r == kOk && b < bags_.size(); ++b)
                    if (!keys[b].empty()) r = markBag(*bags_[b], true);
            }
        }
        bool written = false;
        if (r == kOk && !indexed) r = takeAutoValues(fresh);
        if (r == kOk) {
            std::vector<std::uint8_t> bytes(fresh);
            bytes.push_back(dbf::endOfFile);
            if (file_.write(hdr_.headerLength + std::uint64_t{n - 1} * len, bytes.data(), bytes.size()) !=
                    os::Status::ok ||
                writeCount(n) != kOk)
                r = kIoError;
            else
                written = true;
        }
        if (indexed) {
            for (std::size_t b = 0; b < bags_.size(); ++b) {
                if (keys[b].empty()) continue;
                if (written && r == kOk)
                    r = fromIndex(bags_[b]->cdx.commitStaged()); // on failure the mark stays
                else
                    bags_[b]->cdx.dropStaged();
            }
            if ((r == kOk || !written) && tail_.empty()) unmarkBags();
            unlockBags(true);
        }
        if (!written) file_.unlock(lockmap::records + n, 1);
        file_.unlock(lockmap::header, 1);
        if (written) {
            count_ = n;
            heldLocks_.insert(n);
            recordLocks_.insert(n);
        }
        if (r != kOk) return r;
    }
    rec_ = fresh;
    recno_ = n;
    bof_ = eof_ = false;
    dirty_ = isNew_ = true;
    modified_ = true;
    for (auto& bag : bags_) {
        for (auto& tag : bag->tags) {
            tag->oldValid = true;
            tag->oldIncluded = false;
            tag->oldKey.clear();
            // In a shared table the blank record's keys are in the indexes already.
            if (shared_ && !tableLocked_) tagKey(*tag, rec_.data(), n, tag->oldIncluded, tag->oldKey);
        }
    }
    if (shared_ && !tableLocked_) isNew_ = false;
    if (tail_.size() >= tailLimit) return flushTail();
    return kOk;
}

} // namespace engine
