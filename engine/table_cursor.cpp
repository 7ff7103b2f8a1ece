// Moving the current record: to a record number, to the top or bottom, by steps in natural
// order or in the order of a tag, and seeking a key in a tag.
#include "engine/table.h"
#include "engine/table_internal.h"

#include "engine/keys.h"

namespace engine {

using namespace table_detail;

Result Table::refresh() {
    Result r = flushRecord();
    if (r != kOk) return r;
    if (eof_) return kOk;
    return loadRecord(recno_);
}

Result Table::gotoRecord(std::uint32_t recno) {
    Result r = flushRecord();
    if (r != kOk) return r;
    if (recno > count_) {
        r = refreshCount();
        if (r != kOk) return r;
    }
    if (recno == 0 || recno > count_) {
        setEof();
        return kOk;
    }
    return loadRecord(recno);
}

Result Table::gotoTop(OpenTag* tag) {
    Result r = flushRecord();
    if (r != kOk) return r;
    if (tag) return tagEnd(*tag, +1);
    r = refreshCount();
    if (r != kOk) return r;
    for (std::uint32_t n = 1; n <= count_; ++n) {
        bool show = false;
        r = visible(n, show);
        if (r != kOk) return r;
        if (show) return loadRecord(n);
    }
    setEof();
    bof_ = true;
    return kOk;
}

Result Table::gotoBottom(OpenTag* tag) {
    Result r = flushRecord();
    if (r != kOk) return r;
    if (tag) return tagEnd(*tag, -1);
    r = refreshCount();
    if (r != kOk) return r;
    for (std::uint32_t n = count_; n >= 1; --n) {
        bool show = false;
        r = visible(n, show);
        if (r != kOk) return r;
        if (show) return loadRecord(n);
    }
    setEof();
    bof_ = true;
    return kOk;
}

Result Table::naturalStep(int dir) {
    if (dir > 0) {
        for (std::uint32_t n = recno_ + 1;; ++n) {
            if (n > count_) {
                Result r = refreshCount();
                if (r != kOk) return r;
                if (n > count_) {
                    setEof();
                    return kOk;
                }
            }
            bool show = false;
            Result r = visible(n, show);
            if (r != kOk) return r;
            if (show) return loadRecord(n);
        }
    }
    std::uint32_t n = recno_ - 1;
    if (eof_) {
        Result r = refreshCount();
        if (r != kOk) return r;
        n = count_;
    }
    for (; n >= 1; --n) {
        bool show = false;
        Result r = visible(n, show);
        if (r != kOk) return r;
        if (show) return loadRecord(n);
    }
    // Before the first record: stay on the first one with the begin flag set.
    Result r = gotoTop(nullptr);
    bof_ = true;
    return r;
}

Result Table::skip(OpenTag* tag, std::int32_t n) {
    Result r = flushRecord();
    if (r != kOk) return r;
    if (n == 0) return eof_ ? kOk : loadRecord(recno_);
    if (n > 0 && eof_) return kNoCurrentRecord;
    if (tag) return tagSkip(*tag, n);
    const int dir = n > 0 ? 1 : -1;
    std::int64_t steps = n > 0 ? std::int64_t{n} : -std::int64_t{n};
    for (std::int64_t i = 0; i < steps; ++i) {
        r = naturalStep(dir);
        if (r != kOk) return r;
        if (eof_ || bof_) break;
    }
    return kOk;
}

// Where a tag's cursor stands relative to the current record: on it, or on the entry that
// follows it (the record's key is not in the tag, e.g. its FOR condition is false).
Result Table::positionCursor(OpenTag& tag, bool& onCurrent) {
    if (tag.keyless) {
        // No key to look for: the entry of the current record, found by walking.
        onCurrent = tag.cursor.positioned() && tag.cursor.recno() == recno_;
        Result r = onCurrent ? kOk : fromIndex(tag.cursor.first());
        while (r == kOk && !onCurrent && tag.cursor.positioned()) {
            onCurrent = tag.cursor.recno() == recno_;
            if (!onCurrent) r = fromIndex(tag.cursor.next());
        }
        return r;
    }
    bool included = false;
    std::string key;
    tagKey(tag, rec_.data(), recno_, included, key);
    if (tag.cursor.positioned() && tag.cursor.recno() == recno_ && tag.cursor.key() == key) {
        onCurrent = true;
        return kOk;
    }
    bool exact = false;
    Result r = tag.cursor.find(key, recno_, exact);
    onCurrent = exact;
    return fromIndex(r);
}

// Steps the cursor (when step) and then on past hidden records; loads the record it lands
// on. moved is false when the cursor ran off its end.
Result Table::cursorLand(OpenTag& tag, int dir, bool step, bool& moved) {
    moved = false;
    CdxCursor& c = tag.cursor;
    for (;;) {
        if (step) {
            Result r = fromIndex(dir > 0 ? c.next() : c.prev());
            if (r != kOk) return r;
        }
        step = true;
        if (!c.positioned()) return kOk;
        bool show = false;
        Result r = visible(c.recno(), show);
        if (r != kOk) return r;
        if (show) {
            moved = true;
            return loadRecord(c.recno());
        }
    }
}

Result Table::tagEnd(OpenTag& tag, int dir) {
    const Handle h = tag.handle;
    Bag& bag = *tag.bag;
    Result r = lockBag(bag, false);
    if (r != kOk) return r;
    if (!handles::find(h, handles::Kind::index)) {
        unlockBag(bag, false);
        return kIndexNotFound; // removed by another process
    }
    r = fromIndex(dir > 0 ? tag.cursor.first() : tag.cursor.last());
    bool moved = false;
    if (r == kOk) r = cursorLand(tag, dir, false, moved);
    unlockBag(bag, false);
    if (r != kOk) return r;
    if (!moved) {
        setEof();
        bof_ = true;
    }
    return kOk;
}

Result Table::tagSkip(OpenTag& tag, std::int32_t n) {
    const Handle h = tag.handle;
    Bag& bag = *tag.bag;
    Result r = lockBag(bag, false);
    if (r != kOk) return r;
    if (!handles::find(h, handles::Kind::index)) {
        unlockBag(bag, false);
        return kIndexNotFound;
    }
    const int dir = n > 0 ? 1 : -1;
    std::int64_t steps = n > 0 ? std::int64_t{n} : -std::int64_t{n};
    // The first step: from past the end backwards the last entry is the target; otherwise
    // from the current record's place in the tag.
    bool stepFirst = true;
    bool placed = true; // the cursor stands on the current record's own entry
    const std::uint32_t from = eof_ ? 0 : recno_;
    if (eof_) {
        r = fromIndex(tag.cursor.last());
        stepFirst = false;
    } else {
        r = positionCursor(tag, placed);
        if (!placed && dir > 0) stepFirst = false;
    }
    bool hitEnd = false;
    for (std::int64_t i = 0; r == kOk && i < steps; ++i) {
        bool moved = false;
        r = cursorLand(tag, dir, i > 0 || stepFirst, moved);
        if (r == kOk && !moved) {
            hitEnd = true;
            break;
        }
        // Landing on the record we started from, whose key was not found, would repeat for
        // ever: the tag holds the record under a key it does not have.
        if (r == kOk && i == 0 && !placed && from != 0 && tag.cursor.recno() == from && !tag.keyless) {
            bool included = false;
            std::string key;
            tagKey(tag, rec_.data(), recno_, included, key);
            if (!included || key != tag.cursor.key()) {
                setErrorDetail("tag " + tag.name + " holds record " + std::to_string(from) +
                               " under a key the record does not have");
                r = kIndexDamaged;
            }
        }
    }
    unlockBag(bag, false);
    if (r != kOk) return r;
    if (hitEnd) {
        if (dir > 0) {
            setEof();
        } else {
            r = tagEnd(tag, +1);
            bof_ = true;
        }
    }
    return r;
}

Result Table::seek(OpenTag& tag, const ExprValue& key, bool soft, bool& found) {
    found = false;
    Result r = flushRecord();
    if (r != kOk) return r;
    using K = ExprValue::Kind;
    const K want = tag.keyType == 'C'                         ? K::Character
                   : tag.keyType == 'N' || tag.keyType == 'I' ? K::Numeric
                   : tag.keyType == 'D'                       ? K::Date
                                                              : K::Logical;
    if (key.kind != want) {
        setErrorDetail("the key's type is not the index's");
        return kWrongType;
    }
    std::string k = (settings().exact && tag.keyType == 'C') ? encodeKey(key, tag.keyType, tag.keyLen)
                                                             : seekKey(key, tag.keyType, tag.keyLen);
    const Handle h = tag.handle;
    Bag& bag = *tag.bag;
    r = lockBag(bag, false);
    if (r != kOk) return r;
    if (!handles::find(h, handles::Kind::index)) {
        unlockBag(bag, false);
        return kIndexNotFound;
    }
    bool f = false;
    r = fromIndex(tag.cursor.seek(k, f));
    bool moved = false;
    if (r == kOk) r = cursorLand(tag, +1, false, moved);
    unlockBag(bag, false);
    if (r != kOk) return r;
    found = moved && tag.cursor.key().compare(0, k.size(), k) == 0;
    if (!found && !(soft && moved)) setEof();
    return kOk;
}

} // namespace engine
