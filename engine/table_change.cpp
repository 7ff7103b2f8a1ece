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
    Result r = kOk;
    // In a shared table, the header lock (taken before the index locks, as appends take them)
    // keeps this write apart from a tag being built elsewhere from the records. A handle without
    // a structural index takes it for every record it writes to the file, and first opens one
    // that another handle may have created since; one with indexes takes it when appended
    // records kept in memory under a table lock go to the file with this record's keys.
    const bool inTail = !tail_.empty() && recno_ >= tailFirst_;
    bool headerHeld = false;
    if (shared_ && ((bags_.empty() && !inTail) || (!bags_.empty() && !tail_.empty()))) {
        r = lockmap::wait(file_, lockmap::header, 1, true);
        if (r != kOk) return r;
        headerHeld = true;
        Bag* adopted = nullptr;
        if (bags_.empty()) r = adoptStructural(adopted);
        if (r != kOk) {
            file_.unlock(lockmap::header, 1);
            return r;
        }
    }
    const bool indexed = !bags_.empty();
    const bool withTail = indexed && shared_ && !tail_.empty();
    const auto unlockAll = [&] {
        if (indexed && shared_) unlockBags(true);
        if (headerHeld) file_.unlock(lockmap::header, 1);
    };
    if (indexed && shared_) {
        r = lockBags(true);
        if (r != kOk) {
            if (headerHeld) file_.unlock(lockmap::header, 1);
            return r;
        }
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
        unlockAll();
        setErrorDetail("tag " + keyless->name + " of " + keyless->bag->path +
                       " has an expression this engine cannot evaluate; the index is only read");
        return refuseRecord(kIndexReadOnly);
    }
    if (const std::string why = unusableTag(); !why.empty()) {
        if (indexed && shared_) unlockBags(true);
        setErrorDetail(why);
        return refuseRecord(kIndexReadOnly);
    }
    // Every key change first, bag by bag; then each bag takes them in memory, or the first
    // refusal leaves the files as they were.
    std::vector<std::vector<KeyChange>> changes(bags_.size());
    std::vector<std::pair<std::size_t, OpenTag*>> leaving; // unique tags losing this record's key
    for (std::size_t b = 0; b < bags_.size(); ++b) {
        for (auto& tag : bags_[b]->tags) {
            bool included = false;
            std::string key;
            tagKey(*tag, rec_.data(), recno_, included, key);
            const bool same = included == tag->oldIncluded && (!included || key == tag->oldKey);
            if (!same) {
                if (tag->oldIncluded) {
                    changes[b].push_back({tag->id, false, tag->oldKey, recno_});
                    if (tag->unique) leaving.emplace_back(b, tag.get());
                }
                if (included) changes[b].push_back({tag->id, true, std::move(key), recno_});
            }
        }
    }
    r = passOnUniqueKeys(changes, leaving);
    if (r == kOk) r = stageChanges(changes);
    if (r != kOk) {
        unlockAll();
        return refuseRecord(r);
    }
    // The bags that change carry the mark of a change under way until table and index are
    // both written: a change cut off half-way is seen on the next open. With the record come
    // the appended records still in memory: a bag whose keys change marks even when this
    // record's keys stay the same.
    for (std::size_t b = 0; b < bags_.size() && r == kOk; ++b)
        if ((!changes[b].empty() || withTail) && !bags_[b]->marked) r = markBag(*bags_[b], true);
    // Memo blocks the record points at reach the disk before the record does.
    if (r == kOk && memo_ && !inTail) r = memo_->flush();
    if (r == kOk) r = writeRecordAt(recno_, rec_.data());
    if (r == kOk && withTail) r = writeTail();
    if (r == kOk) modified_ = true; // the header's date follows on closing
    if (r != kOk) {
        for (auto& bag : bags_) bag->cdx.dropStaged();
        if (tail_.empty()) unmarkBags();
        unlockAll();
        return r;
    }
    for (std::size_t b = 0; b < bags_.size(); ++b) {
        if (changes[b].empty()) continue;
        Result e = fromIndex(bags_[b]->cdx.commitStaged(holdKeys()));
        if (e != kOk) {
            bags_[b]->stuck = true; // the bag keeps its mark: out of date
            if (r == kOk) r = e;
        }
    }
    for (auto& tag : orders()) tag->oldValid = false;
    // While appended records are kept in memory, their keys are in the indexes already: the
    // mark stays until they are in the file too.
    if (r == kOk && tail_.empty()) unmarkBags();
    unlockAll();
    dirty_ = false;
    isNew_ = false;
    freshBlocks_.clear();
    releaseImplicitLock();
    return r;
}

// A unique tag holds each key once, with the lowest record that has it. When the record being
// written holds a key's entry and gives the key up, the entry goes to the next record that
// has the key (the table is read to find it), or leaves with it.
Result Table::passOnUniqueKeys(std::vector<std::vector<KeyChange>>& changes,
                               const std::vector<std::pair<std::size_t, OpenTag*>>& leaving) {
    struct Heir {
        std::size_t bag;
        OpenTag* tag;
        std::uint32_t recno;
    };
    std::vector<Heir> heirs;
    for (auto [b, tag] : leaving) {
        CdxCursor holds(tag->bag->cdx, tag->id);
        bool exact = false;
        if (const Result r = fromIndex(holds.find(tag->oldKey, recno_, exact))) return r;
        if (exact) heirs.push_back({b, tag, 0});
    }
    if (heirs.empty()) return kOk;
    Result r = refreshCount();
    if (r != kOk) return r;
    std::size_t wanted = heirs.size();
    std::string key;
    constexpr Result allFound = kNoCurrentRecord; // ends the scan early
    r = scan(1, [&](const std::uint8_t* rec, std::uint32_t n) -> Result {
        if (n == recno_) return kOk;
        for (Heir& h : heirs) {
            if (h.recno) continue;
            bool included = false;
            tagKey(*h.tag, rec, n, included, key);
            if (included && key == h.tag->oldKey) h.recno = n, --wanted;
        }
        return wanted ? kOk : allFound;
    });
    if (r != kOk && r != allFound) return r;
    for (const Heir& h : heirs)
        if (h.recno) changes[h.bag].push_back({h.tag->id, true, h.tag->oldKey, h.recno});
    return kOk;
}

Result Table::stageChanges(const std::vector<std::vector<KeyChange>>& changes) {
    for (std::size_t b = 0; b < bags_.size(); ++b) {
        if (changes[b].empty()) continue;
        Result e = bags_[b]->cdx.stage(changes[b]);
        if (e != kOk) {
            for (std::size_t c = 0; c < b; ++c) bags_[c]->cdx.dropStaged();
            if (e == kCdxReadOnlyTag) {
                setErrorDetail("a tag of " + bags_[b]->path + " is of a kind this engine only reads");
                for (const TagInfo& info : bags_[b]->cdx.tags()) {
                    if (const std::string why = readOnlyReason(info); !why.empty()) {
                        setErrorDetail("tag " + info.name + " of " + bags_[b]->path + " " + why);
                        break;
                    }
                }
            }
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
        if (r == kOk) r = stageChanges(changes);
        for (std::size_t b = 0; r == kOk && b < bags_.size(); ++b)
            if (!changes[b].empty() && !bags_[b]->marked) r = markBag(*bags_[b], true);
        for (std::size_t b = 0; b < bags_.size(); ++b) {
            if (changes[b].empty()) continue;
            if (r == kOk) {
                r = fromIndex(bags_[b]->cdx.commitStaged(holdKeys()));
                if (r != kOk) bags_[b]->stuck = true;
            } else {
                bags_[b]->cdx.dropStaged();
            }
        }
        if (r == kOk && tail_.empty()) unmarkBags();
        if (locked) unlockBags(true);
        // Not even its blank keys go in: the record leaves the table again.
        if (r != kOk) {
            for (auto& tag : orders()) tag->oldValid = false;
            freshBlocks_.clear();
            dropAppended();
            return why;
        }
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

namespace {

bool autoIncrement(const dbf::Field& f) {
    return (f.flags & dbf::fieldAutoIncrement) && f.type == 'I' && f.descriptorAt != 0;
}

} // namespace

// Autoincrement fields of a record being appended: each takes the field's next value (read
// again in a shared table, under the header lock the caller holds). Once the record is taken,
// keepAutoValues moves the next values on by their steps in the file's descriptors.
Result Table::takeAutoValues(std::vector<std::uint8_t>& rec) {
    for (dbf::Field& f : hdr_.fields) {
        if (!autoIncrement(f)) continue;
        if (shared_ && !tableLocked_) {
            std::uint8_t d[5];
            std::size_t got = 0;
            if (file_.read(f.descriptorAt + 19, d, sizeof d, got) != os::Status::ok || got != sizeof d)
                return kIoError;
            f.autoNext = static_cast<std::uint32_t>(d[0]) | static_cast<std::uint32_t>(d[1]) << 8 |
                         static_cast<std::uint32_t>(d[2]) << 16 | static_cast<std::uint32_t>(d[3]) << 24;
            f.autoStep = d[4];
        }
        put32(rec.data() + f.offset, f.autoNext);
        dbf::setNull(hdr_, f, rec.data(), false);
    }
    return kOk;
}

Result Table::keepAutoValues() {
    for (dbf::Field& f : hdr_.fields) {
        if (!autoIncrement(f)) continue;
        std::uint8_t d[4];
        put32(d, f.autoNext + f.autoStep);
        if (file_.write(f.descriptorAt + 19, d, 4) != os::Status::ok) return kIoError;
        f.autoNext += f.autoStep;
    }
    return kOk;
}

// Whether a candidate tag holds a blank record's key already (kDuplicateKey): such a record
// is not appended. Only for appends kept in memory, whose keys reach the indexes later.
Result Table::checkBlankKeys(std::uint32_t recno, const std::vector<std::uint8_t>& rec) {
    for (auto& bag : bags_) {
        bool locked = false;
        for (auto& tag : bag->tags) {
            if (!tag->candidate) continue;
            bool included = false;
            std::string key;
            tagKey(*tag, rec.data(), recno, included, key);
            if (!included) continue;
            if (!locked && shared_) {
                if (const Result r = lockBag(*bag, false)) return r;
                locked = true;
            }
            CdxCursor probe(bag->cdx, tag->id);
            bool found = false;
            Result r = fromIndex(probe.seek(key, found));
            if (r == kOk && found) {
                setErrorDetail("the candidate tag " + tag->name + " of " + bag->path +
                               " holds a blank record's key for another record");
                r = kDuplicateKey;
            }
            if (r != kOk) {
                if (locked) unlockBag(*bag, false);
                return r;
            }
        }
        if (locked) unlockBag(*bag, false);
    }
    return kOk;
}

// The record just appended (the last one, kept in memory or already in the file) leaves the
// table again.
void Table::dropAppended() {
    if (recno_ != count_ || recno_ == 0) return;
    const std::size_t len = hdr_.recordLength;
    if (!tail_.empty() && recno_ >= tailFirst_) {
        tail_.resize(tail_.size() - len);
    } else {
        const std::uint64_t end = hdr_.headerLength + std::uint64_t{recno_ - 1} * len;
        const std::uint8_t mark = dbf::endOfFile;
        writeCount(recno_ - 1);
        file_.write(end, &mark, 1);
        file_.truncate(end + 1);
    }
    dropWindow();
    recordLocks_.erase(recno_);
    count_ = recno_ - 1;
    setEof();
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

// The mark reaches the disk before anything of the change it announces; it is cleared only
// once everything of the change has.
Result Table::markBag(Bag& bag, bool on) {
    if (!on && bag.stuck) return kOk;
    Result r = fromIndex(bag.cdx.markChanging(on));
    if (r == kOk) bag.marked = on;
    if (r == kOk && on && bag.file.flush() != os::Status::ok) r = kIoError;
    return r;
}

// The keys held in memory are written first; a bag whose keys cannot be written keeps its
// mark.
void Table::unmarkBags() {
    bool any = false;
    for (auto& bag : bags_) {
        if (!bag->marked || bag->stuck) continue;
        if (bag->cdx.writeHeld() != kOk)
            bag->stuck = true;
        else
            any = true;
    }
    if (!any || makeDurable() != kOk) return;
    for (auto& bag : bags_)
        if (bag->marked) markBag(*bag, false);
}

// While appended records are kept in memory in a table no one else can open, the bags keep
// the mark of a change under way: the keys of each record are kept in memory too, and the
// index is written when the records are.
bool Table::holdKeys() const {
    return !shared_ && !tail_.empty();
}

Result Table::makeDurable() {
    if (file_.flush() != os::Status::ok) return kIoError;
    if (memo_ && memo_->flush() != kOk) return kIoError;
    for (auto& bag : bags_)
        if (bag->marked && bag->file.flush() != os::Status::ok) return kIoError;
    return kOk;
}

Result Table::checkUpToDate(Bag& bag) {
    if (!bag.cdx.outOfDate() || readOnly_) return kOk;
    setErrorDetail(
        "the index " + bag.path +
        " may not agree with its table: a change of the two was cut off; rebuild it (dbverify --repair)");
    return kIndexOutOfDate;
}

Result Table::writeTail() {
    if (tail_.empty()) return kOk;
    // Memo blocks the records point at reach the disk before the records do.
    if (memo_ && memo_->flush() != kOk) return kIoError;
    tail_.push_back(dbf::endOfFile);
    std::uint64_t offset = hdr_.headerLength + std::uint64_t{tailFirst_ - 1} * hdr_.recordLength;
    os::Status s = file_.write(offset, tail_.data(), tail_.size());
    tail_.pop_back();
    if (s != os::Status::ok) return kIoError;
    Result r = writeCount(count_);
    if (r == kOk) tail_.clear();
    return r;
}

Result Table::flushTail() {
    if (tail_.empty()) return kOk;
    Result r = kOk;
    Bag* adopted = nullptr;
    std::vector<KeyChange> keys;
    if (shared_) {
        r = lockmap::wait(file_, lockmap::header, 1, true);
        if (r != kOk) return r;
        r = adoptStructural(adopted);
        // A structural index created elsewhere meanwhile takes the keys of the records kept in
        // memory, which go to the file with them under its mark.
        if (r == kOk && adopted) r = lockBag(*adopted, true);
        if (r == kOk && adopted) {
            const std::size_t len = hdr_.recordLength;
            for (std::size_t at = 0; at + len <= tail_.size(); at += len) {
                const std::uint32_t n = tailFirst_ + static_cast<std::uint32_t>(at / len);
                for (auto& tag : adopted->tags) {
                    bool included = false;
                    std::string key;
                    tagKey(*tag, tail_.data() + at, n, included, key);
                    if (included) keys.push_back({tag->id, true, std::move(key), n});
                }
            }
            r = fromIndex(adopted->cdx.stage(keys, false));
            if (r == kOk) r = markBag(*adopted, true);
            if (r != kOk) {
                adopted->cdx.dropStaged();
                unlockBag(*adopted, true);
            }
        }
    }
    if (r == kOk) r = writeTail();
    if (adopted) {
        if (r == kOk) {
            r = fromIndex(adopted->cdx.commitStaged());
            if (r != kOk) adopted->stuck = true;
        } else {
            adopted->cdx.dropStaged();
        }
        unlockBag(*adopted, true);
    }
    if (shared_) file_.unlock(lockmap::header, 1);
    if (r == kOk) unmarkBags(); // the keys of the appended records are in the indexes already
    return r;
}

Result Table::adoptStructural(Bag*& out) {
    out = nullptr;
    if (!shared_ || readOnly_) return kOk;
    for (auto& bag : bags_)
        if (bag->structural) return kOk;
    const std::string path = relatedPath(".cdx");
    if (path.empty()) return kOk;
    return openBag(path, true, false, out);
}

Result Table::writeAll() {
    Result r = flushRecord();
    if (r != kOk) return r;
    return flushTail();
}

Result Table::append() {
    if (readOnly_) return kReadOnly;
    if (!missingIndex_.empty()) return refuseWithoutIndex();
    // A record needs keys in every tag: none may be one this engine only reads.
    if (const OpenTag* keyless = firstKeyless()) {
        setErrorDetail("tag " + keyless->name + " of " + keyless->bag->path +
                       " has an expression this engine cannot evaluate; the index is only read");
        return kIndexReadOnly;
    }
    for (auto& bag : bags_) {
        // Each tag looked at whole, here where no one else changes the index (a shared append's
        // own change does it there).
        if (!shared_ || tableLocked_) {
            Result r = lockBag(*bag, false);
            for (std::size_t i = 0; r == kOk && i < bag->cdx.tags().size(); ++i) {
                const Result w = bag->cdx.writable(bag->cdx.tags()[i].id);
                if (w != kOk && w != kCdxReadOnlyTag) r = fromIndex(w);
            }
            unlockBag(*bag, false);
            if (r != kOk) return r;
        }
        for (const TagInfo& info : bag->cdx.tags()) {
            if (const std::string why = readOnlyReason(info); !why.empty()) {
                setErrorDetail("tag " + info.name + " of " + bag->path + " " + why +
                               "; this engine only reads it");
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
        if (r == kOk) r = checkBlankKeys(n, fresh);
        if (r == kOk) r = keepAutoValues();
        if (r != kOk) return r;
        if (tail_.empty()) tailFirst_ = n;
        tail_.insert(tail_.end(), fresh.begin(), fresh.end());
        count_ = n;
        if (tableLocked_) recordLocks_.insert(n);
    } else {
        r = lockmap::wait(file_, lockmap::header, 1, true);
        if (r != kOk) return r;
        Bag* adopted = nullptr;
        r = adoptStructural(adopted);
        if (r == kOk) r = refreshCount();
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
                // A key a candidate tag holds already refuses the whole append.
                if (r == kOk) r = stageChanges(keys);
                for (std::size_t b = 0; r == kOk && b < bags_.size(); ++b)
                    if (!keys[b].empty()) r = markBag(*bags_[b], true);
            }
        }
        bool written = false;
        if (r == kOk && !indexed) r = takeAutoValues(fresh);
        if (r == kOk) r = keepAutoValues();
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
