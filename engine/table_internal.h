// What the files of the table half (table*.cpp) share besides table.h: small helpers and the
// view of a record buffer that expressions read. Not for use elsewhere.
#pragma once

#include "engine/cdx.h"
#include "engine/dbf.h"
#include "engine/engine.h"
#include "engine/expr.h"
#include "engine/os.h"
#include "engine/table.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace engine::table_detail {

inline Result fromStatus(os::Status s) {
    switch (s) {
    case os::Status::ok:
        return kOk;
    case os::Status::notFound:
        return kFileNotFound;
    case os::Status::denied:
        return kAccessDenied;
    case os::Status::busy:
        return kLockRefused;
    default:
        return kIoError;
    }
}

// Index-half results as the table half reports them.
inline Result fromIndex(Result r) {
    switch (r) {
    case kOk:
        return kOk;
    case kCdxIo:
        return kIoError;
    case kCdxTooBig:
        return kTableFull;
    case kCdxBadTagName:
        return kBadArgument;
    case kCdxExprTooLong:
        return kBadExpression;
    case kKeyBadLength:
    case kKeyBadType:
        return kBadExpression;
    case kCdxNoTag:
        return kIndexNotFound;
    case kCdxReadOnlyTag:
        return kIndexReadOnly;
    case kCdxDuplicateKey:
        return kDuplicateKey;
    default:
        return kIndexDamaged;
    }
}

inline char upperChar(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = upperChar(c);
    return out;
}

inline bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upperChar(a[i]) != upperChar(b[i])) return false;
    return true;
}

inline std::string_view trim(std::string_view s) {
    std::size_t a = s.find_first_not_of(' ');
    if (a == std::string_view::npos) return {};
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

inline std::size_t folderEnd(std::string_view path) {
    std::size_t cut = path.find_last_of("/\\:");
    return cut == std::string_view::npos ? 0 : cut + 1;
}

inline void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The bytes of a blank field: blanks in text fields, zeros in binary ones.
inline void blankField(const dbf::Field& f, std::uint8_t* rec) {
    bool binary = f.type == 'I' || f.type == 'B' || f.type == 'Y' || f.type == 'T' || f.type == 'Q' ||
                  (dbf::isMemoType(f.type) && f.len == 4);
    std::memset(rec + f.offset, binary ? 0 : ' ', f.len);
}

} // namespace engine::table_detail

namespace engine {

// A record buffer as the expressions see it.
class RecordView final : public RecordSource {
  public:
    RecordView(Table& table, const std::uint8_t* rec, std::uint32_t recno)
        : table_(table), rec_(rec), recno_(recno) {}

    ExprValue field(std::size_t index) const override {
        const auto& fields = table_.hdr_.fields;
        // Past the fields: the long names of a container's table, each standing for a field.
        if (index >= fields.size() && index - fields.size() < table_.longNameOf_.size())
            index = table_.longNameOf_[index - fields.size()];
        if (index >= fields.size()) return {};
        const dbf::Field& f = fields[index];
        // A NULL field reads as its type's empty value.
        const std::uint8_t* rec_ = table_.fieldBytes(f, this->rec_);
        switch (f.type) {
        case 'C':
            return ExprValue::character(std::string(reinterpret_cast<const char*>(rec_) + f.offset, f.len));
        case 'V':
        case 'Q': {
            std::string v = dbf::getVar(table_.hdr_, f, rec_);
            v.resize(f.len, f.type == 'V' ? ' ' : '\0');
            return ExprValue::character(std::move(v));
        }
        case 'N':
        case 'F':
            return ExprValue::numeric(dbf::getNumber(f, rec_), f.len, f.dec);
        case 'I':
            return ExprValue::numeric(dbf::getNumber(f, rec_), 11, 0);
        case 'B':
            return ExprValue::numeric(dbf::getNumber(f, rec_), 20, f.dec);
        case 'Y':
            return ExprValue::numeric(dbf::getNumber(f, rec_), 20, 4);
        case 'D':
        case 'T':
            return ExprValue::dateValue(dbf::getDate(f, rec_));
        case 'L':
            return ExprValue::logicalValue(dbf::getLogical(f, rec_));
        default: {
            std::string text;
            if (table_.memo_ && table_.memo_->read(dbf::getMemoBlock(f, rec_), text) != kOk) text.clear();
            return ExprValue::character(std::move(text));
        }
        }
    }
    std::uint32_t recno() const override { return recno_; }
    bool deleted() const override { return rec_[0] == '*'; }

  private:
    Table& table_;
    const std::uint8_t* rec_;
    std::uint32_t recno_;
};

} // namespace engine
