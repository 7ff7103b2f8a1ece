// The current record's fields: reading them as text, numbers, logicals and days, and writing
// them into the record buffer. The first write to a record starts a change: the record is
// locked if need be and the keys it had are noted (table_change.cpp writes it).
#include "engine/table.h"
#include "engine/table_internal.h"

#include "engine/calendar.h"
#include "engine/lockmap.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace engine {

using namespace table_detail;

namespace {

bool isYmdFormat(std::string_view fmt) {
    return fmt.size() == 8 && (std::memcmp(fmt.data(), "YYYYMMDD", 8) == 0 || sameText(fmt, "YYYYMMDD"));
}

} // namespace

Result Table::getText(std::size_t field, std::string& text) {
    const dbf::Field& f = hdr_.fields[field];
    if (eof_) {
        text.assign(dbf::isMemoType(f.type) ? 0 : f.len, ' ');
        return kNoCurrentRecord;
    }
    const std::uint8_t* src = fieldBytes(f, rec_.data());
    const std::uint8_t* p = src + f.offset;
    const std::string& fmt = settings().dateFormat;
    switch (f.type) {
    case 'C':
    case 'N':
    case 'F':
        text.assign(reinterpret_cast<const char*>(p), f.len);
        return kOk;
    case 'V':
    case 'Q':
        text = dbf::getVar(hdr_, f, src);
        return kOk;
    case 'L':
        text = dbf::getLogical(f, src) ? "T" : "F";
        return kOk;
    case 'D':
        if (isYmdFormat(fmt))
            text.assign(reinterpret_cast<const char*>(p), f.len);
        else
            text = calendar::format(dbf::getDate(f, src), fmt);
        return kOk;
    case 'T':
        text = isYmdFormat(fmt) ? calendar::toStamp(dbf::getDate(f, src))
                                : calendar::format(dbf::getDate(f, src), fmt);
        return kOk;
    case 'I':
        text = std::to_string(static_cast<long long>(dbf::getNumber(f, src)));
        return kOk;
    case 'B':
    case 'Y': {
        text = std::string(trim(dbf::formatNumber(dbf::getNumber(f, src), 40, f.type == 'Y' ? 4 : f.dec)));
        return kOk;
    }
    default: {
        if (!memo_) return kMemoDamaged;
        Result r = memo_->read(dbf::getMemoBlock(f, src), text);
        if (r == kMemoDamaged)
            setErrorDetail("memo of field " + f.name + " in record " + std::to_string(recno_));
        return r;
    }
    }
}

Result Table::getNumber(std::size_t field, double& value) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.type != 'N' && f.type != 'F' && f.type != 'I' && f.type != 'B' && f.type != 'Y') return kWrongType;
    if (eof_) {
        value = 0;
        return kNoCurrentRecord;
    }
    const std::uint8_t* src = fieldBytes(f, rec_.data());
    value = dbf::getNumber(f, src);
    return kOk;
}

Result Table::getLogical(std::size_t field, bool& value) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.type != 'L') return kWrongType;
    if (eof_) {
        value = false;
        return kNoCurrentRecord;
    }
    const std::uint8_t* src = fieldBytes(f, rec_.data());
    value = dbf::getLogical(f, src);
    return kOk;
}

Result Table::getJulian(std::size_t field, std::int32_t& julian) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.type != 'D' && f.type != 'T') return kWrongType;
    if (eof_) {
        julian = 0;
        return kNoCurrentRecord;
    }
    const std::uint8_t* src = fieldBytes(f, rec_.data());
    julian = dbf::getDate(f, src);
    return kOk;
}

Result Table::getMemoLength(std::size_t field, std::uint32_t& length) {
    const dbf::Field& f = hdr_.fields[field];
    if (!dbf::isMemoType(f.type)) return kWrongType;
    if (eof_) {
        length = 0;
        return kNoCurrentRecord;
    }
    if (!memo_) return kMemoDamaged;
    const std::uint8_t* src = fieldBytes(f, rec_.data());
    return memo_->length(dbf::getMemoBlock(f, src), length);
}

const std::uint8_t* Table::fieldBytes(const dbf::Field& f, const std::uint8_t* rec) const {
    return dbf::isNull(hdr_, f, rec) ? blank_.data() : rec;
}

Result Table::isNull(std::size_t field, bool& null) {
    null = false;
    if (eof_) return kNoCurrentRecord;
    null = dbf::isNull(hdr_, hdr_.fields[field], rec_.data());
    return kOk;
}

Result Table::setNull(std::size_t field) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.nullBit < 0) {
        setErrorDetail("field " + f.name + " does not accept NULL");
        return kWrongType;
    }
    Result r = prepareWrite();
    if (r != kOk) return r;
    blankField(f, rec_.data());
    dbf::setNull(hdr_, f, rec_.data(), true);
    return kOk;
}

Result Table::prepareWrite() {
    if (readOnly_) return kReadOnly;
    if (eof_) return kNoCurrentRecord;
    if (shared_ && !tableLocked_ && !recordLocks_.count(recno_) && implicitLock_ != recno_) {
        os::Status s = file_.lock(lockmap::records + recno_, 1, true);
        if (s == os::Status::busy) {
            setErrorDetail("record " + std::to_string(recno_) + " is locked by another handle");
            return kLockRefused;
        }
        if (s != os::Status::ok) return kIoError;
        implicitLock_ = recno_;
        // Start from the record as it is now, not as it was when it was read.
        if (!dirty_) {
            Result r = readRecordAt(recno_, rec_.data());
            if (r != kOk) return r;
        }
    }
    if (!dirty_) {
        rememberKeys();
        dirty_ = true;
    }
    return kOk;
}

void Table::rememberKeys() {
    for (auto& bag : bags_) {
        for (auto& tag : bag->tags) {
            tag->oldValid = true;
            tag->oldIncluded = false;
            tag->oldKey.clear();
            if (!isNew_) tagKey(*tag, rec_.data(), recno_, tag->oldIncluded, tag->oldKey);
        }
    }
}

Result Table::setText(std::size_t field, std::string_view text) {
    const dbf::Field& f = hdr_.fields[field];
    const Settings& st = settings();
    switch (f.type) {
    case 'C': {
        Result r = prepareWrite();
        if (r != kOk) return r;
        std::size_t n = std::min<std::size_t>(text.size(), f.len);
        std::memcpy(rec_.data() + f.offset, text.data(), n);
        std::memset(rec_.data() + f.offset + n, ' ', f.len - n);
        dbf::setNull(hdr_, f, rec_.data(), false);
        return kOk;
    }
    case 'V':
    case 'Q': {
        Result r = prepareWrite();
        if (r != kOk) return r;
        dbf::putVar(hdr_, f, rec_.data(), text);
        dbf::setNull(hdr_, f, rec_.data(), false);
        return kOk;
    }
    case 'N':
    case 'F':
    case 'I':
    case 'B':
    case 'Y': {
        std::string_view t = trim(text);
        if (t.empty()) return setEmpty(field);
        if (t[0] == '+') t.remove_prefix(1);
        double v = 0;
        auto res = std::from_chars(t.data(), t.data() + t.size(), v);
        if (res.ec != std::errc() || res.ptr != t.data() + t.size()) {
            setErrorDetail("not a number: " + std::string(text));
            return kBadValue;
        }
        return setNumber(field, v);
    }
    case 'D':
    case 'T': {
        bool ok = false;
        std::int32_t jd = isYmdFormat(st.dateFormat) ? calendar::fromStamp(text, ok)
                                                     : calendar::parse(text, st.dateFormat, st.epoch, ok);
        if (!ok) {
            setErrorDetail("not a date in the format " + st.dateFormat + ": " + std::string(text));
            return kBadValue;
        }
        return setJulian(field, jd);
    }
    case 'L': {
        std::string_view t = trim(text);
        if (t.size() == 3 && t[0] == '.' && t[2] == '.') t = t.substr(1, 1);
        if (t.empty()) return setEmpty(field);
        char c = upperChar(t[0]);
        if (t.size() == 1 && (c == 'T' || c == 'Y')) return setLogical(field, true);
        if (t.size() == 1 && (c == 'F' || c == 'N')) return setLogical(field, false);
        setErrorDetail("not a logical: " + std::string(text));
        return kBadValue;
    }
    default: {
        if (!memo_) return kMemoDamaged;
        Result r = prepareWrite();
        if (r != kOk) return r;
        std::uint32_t block = 0;
        // With indexes, which may refuse the change, the memo the file's record points at stays
        // as it is until the record is written: only blocks this change took are reused.
        const std::uint32_t old = dbf::getMemoBlock(f, rec_.data());
        r = memo_->write(old, text, block, bags_.empty() || freshBlocks_.count(old) != 0);
        if (r != kOk) return r;
        if (block != 0) freshBlocks_.insert(block);
        dbf::putMemoBlock(f, rec_.data(), block);
        dbf::setNull(hdr_, f, rec_.data(), false);
        return kOk;
    }
    }
}

Result Table::setNumber(std::size_t field, double value) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.type != 'N' && f.type != 'F' && f.type != 'I' && f.type != 'B' && f.type != 'Y') return kWrongType;
    dbf::Field g = f;
    g.offset = 0;
    std::uint8_t buf[256];
    if (!dbf::putNumber(g, buf, value)) {
        setErrorDetail("the number does not fit field " + f.name);
        return kNumberRefused;
    }
    Result r = prepareWrite();
    if (r != kOk) return r;
    std::memcpy(rec_.data() + f.offset, buf, f.len);
    dbf::setNull(hdr_, f, rec_.data(), false);
    return kOk;
}

Result Table::setLogical(std::size_t field, bool value) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.type != 'L') return kWrongType;
    Result r = prepareWrite();
    if (r != kOk) return r;
    dbf::putLogical(f, rec_.data(), value);
    dbf::setNull(hdr_, f, rec_.data(), false);
    return kOk;
}

Result Table::setJulian(std::size_t field, std::int32_t julian) {
    const dbf::Field& f = hdr_.fields[field];
    if (f.type != 'D' && f.type != 'T') return kWrongType;
    int y, m, d;
    calendar::split(julian, y, m, d);
    if (julian != 0 && y == 0) {
        setErrorDetail("not a day of the years 1 to 9999");
        return kBadValue;
    }
    Result r = prepareWrite();
    if (r != kOk) return r;
    dbf::putDate(f, rec_.data(), julian);
    dbf::setNull(hdr_, f, rec_.data(), false);
    return kOk;
}

Result Table::setEmpty(std::size_t field) {
    Result r = prepareWrite();
    if (r != kOk) return r;
    const dbf::Field& f = hdr_.fields[field];
    blankField(f, rec_.data());
    if (f.type == 'V' || f.type == 'Q') dbf::putVar(hdr_, f, rec_.data(), {});
    dbf::setNull(hdr_, f, rec_.data(), false);
    return kOk;
}

Result Table::isDeleted(bool& deleted) {
    if (eof_) {
        deleted = false;
        return kNoCurrentRecord;
    }
    deleted = rec_[0] == '*';
    return kOk;
}

Result Table::setDeleted(bool deleted) {
    Result r = prepareWrite();
    if (r != kOk) return r;
    rec_[0] = deleted ? '*' : ' ';
    return kOk;
}

} // namespace engine
