#include "engine/dbf.h"

#include "engine/calendar.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace engine::dbf {
namespace {

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint64_t le64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(le32(p)) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put64(std::uint8_t* p, std::uint64_t v) {
    put32(p, static_cast<std::uint32_t>(v));
    put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

bool visualVersion(std::uint8_t v) {
    return v == 0x30 || v == 0x31 || v == 0x32;
}

bool knownVersion(std::uint8_t v) {
    return v == 0x03 || v == 0x30 || v == 0x31 || v == 0x32 || v == 0xF5;
}

// Other members of the DBF family: dBase tables (with or without DBT memos, with SQL
// tables or MDX production indexes), FoxBASE tables and tables with varchar fields.
bool otherFamily(std::uint8_t v) {
    switch (v) {
    case 0x02:
    case 0x04:
    case 0x05:
    case 0x43:
    case 0x63:
    case 0x7B:
    case 0x83:
    case 0x8B:
    case 0x8C:
    case 0x8E:
    case 0xB3:
    case 0xCB:
    case 0xE5:
    case 0xFB:
        return true;
    default:
        return false;
    }
}

// The fixed length of a field type, or 0 when the type takes a length of its own.
std::uint16_t fixedLength(char type) {
    switch (type) {
    case 'D':
    case 'B':
    case 'Y':
    case 'T':
        return 8;
    case 'L':
        return 1;
    case 'I':
        return 4;
    default:
        return 0;
    }
}

bool validStoredField(const Field& f) {
    switch (f.type) {
    case 'C':
        return f.len >= 1;
    case 'N':
    case 'F':
        return f.len >= 1 && f.len <= 32 && f.dec < f.len;
    case 'M':
    case 'G':
    case 'P':
        return f.len == 4 || f.len == 10;
    case 'W':
        return f.len == 4;
    case 'V':
    case 'Q':
        return f.len >= 1 && f.len <= 254;
    default:
        return fixedLength(f.type) != 0 && f.len == fixedLength(f.type);
    }
}

std::string_view trimmed(const std::uint8_t* p, std::size_t n) {
    std::string_view s(reinterpret_cast<const char*>(p), n);
    std::size_t a = s.find_first_not_of(' ');
    if (a == std::string_view::npos) return {};
    std::size_t b = s.find_last_not_of(' ');
    return s.substr(a, b - a + 1);
}

bool nameChar(char c, bool first) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
    if (first) return false;
    return (c >= '0' && c <= '9') || c == '_';
}

// value = 0.d1d2...d15 * 10^(exp+1): fifteen significant decimal digits of a finite |value|.
void decimalDigits(double a, std::string& digits, int& exp) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", a);
    digits.assign(1, buf[0]);
    digits.append(buf + 2, 14);
    exp = std::atoi(std::strchr(buf, 'e') + 1);
}

} // namespace

bool Header::hasMemo() const {
    for (const Field& f : fields)
        if (isMemoType(f.type)) return true;
    return false;
}

bool isMemoType(char type) {
    return type == 'M' || type == 'G' || type == 'P' || type == 'W';
}

int yearFromByte(std::uint8_t b) {
    return b < 80 ? 2000 + b : 1900 + b;
}

std::uint8_t yearByte(int year) {
    return static_cast<std::uint8_t>(((year % 100) + 100) % 100);
}

namespace {

bool nullBitSet(const Header& h, int bit, const std::uint8_t* rec) {
    if (bit < 0 || h.nullFlagsLen == 0) return false;
    return (rec[h.nullFlagsOffset + static_cast<std::size_t>(bit) / 8] >> (bit % 8)) & 1;
}

void putNullBit(const Header& h, int bit, std::uint8_t* rec, bool on) {
    if (bit < 0 || h.nullFlagsLen == 0) return;
    std::uint8_t& b = rec[h.nullFlagsOffset + static_cast<std::size_t>(bit) / 8];
    const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
    b = on ? static_cast<std::uint8_t>(b | mask) : static_cast<std::uint8_t>(b & ~mask);
}

} // namespace

bool isNull(const Header& h, const Field& f, const std::uint8_t* rec) {
    return nullBitSet(h, f.nullBit, rec);
}

void setNull(const Header& h, const Field& f, std::uint8_t* rec, bool null) {
    putNullBit(h, f.nullBit, rec, null);
}

std::string getVar(const Header& h, const Field& f, const std::uint8_t* rec) {
    const char* p = reinterpret_cast<const char*>(rec + f.offset);
    if (!nullBitSet(h, f.varBit, rec)) return std::string(p, f.len);
    const std::size_t n = std::min<std::size_t>(rec[f.offset + f.len - 1], f.len - 1u);
    return std::string(p, n);
}

void putVar(const Header& h, const Field& f, std::uint8_t* rec, std::string_view value) {
    std::uint8_t* p = rec + f.offset;
    const std::uint8_t pad = f.type == 'Q' ? 0 : ' ';
    if (value.size() >= f.len || f.varBit < 0) {
        const std::size_t n = std::min<std::size_t>(value.size(), f.len);
        if (n) std::memcpy(p, value.data(), n);
        std::memset(p + n, pad, f.len - n);
        putNullBit(h, f.varBit, rec, false);
        return;
    }
    if (!value.empty()) std::memcpy(p, value.data(), value.size());
    std::memset(p + value.size(), pad, f.len - value.size());
    p[f.len - 1] = static_cast<std::uint8_t>(value.size());
    putNullBit(h, f.varBit, rec, true);
}

Check readPrefix(std::span<const std::uint8_t> bytes, Header& out) {
    if (bytes.size() < prefixSize) return Check::truncated;
    const std::uint8_t* p = bytes.data();
    out.version = p[0];
    if (!knownVersion(p[0])) return otherFamily(p[0]) ? Check::unsupported : Check::notTable;
    out.year = yearFromByte(p[1]);
    out.month = p[2];
    out.day = p[3];
    out.recordCount = le32(p + 4);
    out.headerLength = le16(p + 8);
    out.recordLength = le16(p + 10);
    out.flags = p[28];
    out.codePage = p[29];
    if (out.headerLength < prefixSize + descriptorSize + 1 || out.recordLength < 2) return Check::damaged;
    return Check::ok;
}

Check readHeader(std::span<const std::uint8_t> bytes, Header& out) {
    Check c = readPrefix(bytes, out);
    if (c != Check::ok) return c;
    if (bytes.size() < out.headerLength) return Check::truncated;
    out.fields.clear();
    out.nullFlagsOffset = 0;
    out.nullFlagsLen = 0;
    std::uint32_t offset = 1;
    std::size_t pos = prefixSize;
    for (;;) {
        if (pos >= out.headerLength) return Check::damaged; // no terminator inside the header
        if (bytes[pos] == 0x0D) break;
        if (pos + descriptorSize > out.headerLength || out.fields.size() >= maxFields) return Check::damaged;
        const std::uint8_t* d = bytes.data() + pos;
        Field f;
        std::size_t n = 0;
        while (n < 11 && d[n] != 0) ++n;
        f.name.assign(reinterpret_cast<const char*>(d), n);
        while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
        for (char& ch : f.name)
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        f.type = static_cast<char>(d[11]);
        if (f.type >= 'a' && f.type <= 'z') f.type = static_cast<char>(f.type - 'a' + 'A');
        f.len = d[16];
        f.dec = d[17];
        f.flags = d[18];
        f.autoNext = le32(d + 19);
        f.autoStep = d[23];
        f.descriptorAt = static_cast<std::uint32_t>(pos);
        f.offset = offset;
        if (f.name.empty()) return Check::damaged;
        if (f.type == '0') {
            // The system field of null and varlength bits: kept out of the field list.
            if (out.nullFlagsLen != 0 || f.len < 1) return Check::damaged;
            out.nullFlagsOffset = offset;
            out.nullFlagsLen = f.len;
            offset += f.len;
            if (offset > out.recordLength) return Check::damaged;
            pos += descriptorSize;
            continue;
        }
        if (!validStoredField(f)) return Check::damaged;
        offset += f.len;
        if (offset > out.recordLength) return Check::damaged;
        out.fields.push_back(std::move(f));
        pos += descriptorSize;
    }
    if (out.fields.empty()) return Check::damaged;
    out.backlink.clear();
    if (visualVersion(out.version) && pos + 1 + backlinkSize <= out.headerLength) {
        const char* b = reinterpret_cast<const char*>(bytes.data() + pos + 1);
        std::size_t n = 0;
        while (n < backlinkSize && b[n] != 0) ++n;
        out.backlink.assign(b, n);
    }
    // Bits of the null flags, in descriptor order: a V or Q field's varlength bit, then the
    // null bit of a field that accepts NULL. Only 0x30 to 0x32 tables have them.
    const bool visual = visualVersion(out.version);
    int bit = 0;
    for (Field& f : out.fields) {
        if (!visual) break;
        if (f.type == 'V' || f.type == 'Q') f.varBit = bit++;
        if (f.flags & fieldNullable) f.nullBit = bit++;
    }
    if (bit > 0 && static_cast<std::size_t>(bit) > std::size_t{out.nullFlagsLen} * 8) return Check::damaged;
    return Check::ok;
}

void writePrefix(const Header& h, std::uint8_t* p) {
    std::memset(p, 0, prefixSize);
    p[0] = h.version;
    p[1] = yearByte(h.year);
    p[2] = static_cast<std::uint8_t>(h.month);
    p[3] = static_cast<std::uint8_t>(h.day);
    put32(p + 4, h.recordCount);
    put16(p + 8, h.headerLength);
    put16(p + 10, h.recordLength);
    p[28] = h.flags;
    p[29] = h.codePage;
}

std::vector<std::uint8_t> buildHeader(Header& h) {
    std::size_t headerLength = prefixSize + descriptorSize * h.fields.size() + 1 + backlinkSize;
    std::uint32_t offset = 1;
    for (Field& f : h.fields) {
        f.offset = offset;
        offset += f.len;
    }
    h.headerLength = static_cast<std::uint16_t>(headerLength);
    h.recordLength = static_cast<std::uint16_t>(offset);
    if (h.hasMemo())
        h.flags |= flagMemo;
    else
        h.flags &= static_cast<std::uint8_t>(~flagMemo);
    std::vector<std::uint8_t> out(headerLength, 0);
    writePrefix(h, out.data());
    std::size_t pos = prefixSize;
    for (const Field& f : h.fields) {
        std::uint8_t* d = out.data() + pos;
        std::memcpy(d, f.name.data(), std::min<std::size_t>(f.name.size(), maxFieldName));
        d[11] = static_cast<std::uint8_t>(f.type);
        put32(d + 12, f.offset);
        d[16] = static_cast<std::uint8_t>(f.len);
        d[17] = f.dec;
        // Binary fields, flagged as the FoxPro family flags them.
        d[18] = f.type == 'B' || f.type == 'I' || f.type == 'T' || f.type == 'Y' ? 0x04 : 0;
        pos += descriptorSize;
    }
    out[pos] = 0x0D;
    return out;
}

FieldProblem checkField(const Field& f) {
    if (f.name.empty()) return FieldProblem::badName;
    if (f.name.size() > maxFieldName) return FieldProblem::nameTooLong;
    for (std::size_t i = 0; i < f.name.size(); ++i)
        if (!nameChar(f.name[i], i == 0)) return FieldProblem::badName;
    switch (f.type) {
    case 'C':
        return f.len >= 1 && f.len <= 254 && f.dec == 0 ? FieldProblem::none : FieldProblem::badLength;
    case 'N':
    case 'F':
        return f.len >= 1 && f.len <= 20 && (f.dec == 0 || f.dec + 2 <= f.len) ? FieldProblem::none
                                                                               : FieldProblem::badLength;
    case 'M':
        return f.len == 4 ? FieldProblem::none : FieldProblem::badLength;
    case 'B':
        return f.len == 8 && f.dec <= 18 ? FieldProblem::none : FieldProblem::badLength;
    case 'D':
    case 'L':
    case 'I':
    case 'Y':
    case 'T':
        return f.len == fixedLength(f.type) && f.dec == 0 ? FieldProblem::none : FieldProblem::badLength;
    default:
        return FieldProblem::badType;
    }
}

std::string formatNumber(double value, std::size_t len, std::size_t dec) {
    if (!std::isfinite(value) || dec > 30) return {};
    if (std::fabs(value) >= 1e15) {
        // Past fifteen digits the double's own digits are written as they are.
        if (std::fabs(value) >= 1e40) return {};
        char buf[128];
        std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(dec), value);
        std::string text = buf;
        if (text.size() > len) return {};
        return std::string(len - text.size(), ' ') + text;
    }
    bool negative = value < 0;
    // Most numbers: |value| * 10^dec is a double well inside the exact integers and not close
    // to a rounding boundary, so plain arithmetic rounds as the decimal digits would.
    if (dec <= 15) {
        static const double powers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        const double scaled = std::fabs(value) * powers[dec];
        if (scaled < 1e15) {
            const double whole = std::floor(scaled);
            const double frac = scaled - whole;
            if (std::fabs(frac - 0.5) > scaled * 2e-15 + 1e-12) {
                const auto n = static_cast<std::uint64_t>(whole) + (frac > 0.5 ? 1 : 0);
                char buf[32];
                auto end = std::to_chars(buf, buf + sizeof buf, n).ptr;
                std::string text(buf, end);
                if (text.size() < dec + 1) text.insert(0, dec + 1 - text.size(), '0');
                if (dec > 0) text.insert(text.size() - dec, 1, '.');
                if (negative && n != 0) text.insert(text.begin(), '-');
                if (text.size() > len) return {};
                return std::string(len - text.size(), ' ') + text;
            }
        }
    }
    std::string digits;
    int exp = 0;
    decimalDigits(std::fabs(value), digits, exp);
    // n = round(|value| * 10^dec) as decimal text: it has exp + dec + 1 digits before rounding.
    int keep = exp + static_cast<int>(dec) + 1;
    if (keep > 40) return {};
    std::string n;
    if (keep <= 0) {
        n = (keep == 0 && digits[0] >= '5') ? "1" : "0";
    } else if (keep >= static_cast<int>(digits.size())) {
        n = digits + std::string(static_cast<std::size_t>(keep) - digits.size(), '0');
    } else {
        n = digits.substr(0, static_cast<std::size_t>(keep));
        if (digits[static_cast<std::size_t>(keep)] >= '5') {
            std::size_t i = n.size();
            while (i > 0 && n[i - 1] == '9') n[--i] = '0';
            if (i == 0)
                n.insert(n.begin(), '1');
            else
                ++n[i - 1];
        }
    }
    std::size_t first = n.find_first_not_of('0');
    if (first == std::string::npos) {
        n = "0";
        negative = false;
    } else {
        n.erase(0, first);
    }
    if (n.size() < dec + 1) n.insert(0, dec + 1 - n.size(), '0');
    std::string text = n.substr(0, n.size() - dec);
    if (dec > 0) text += "." + n.substr(n.size() - dec);
    if (negative) text.insert(text.begin(), '-');
    if (text.size() > len) return {};
    return std::string(len - text.size(), ' ') + text;
}

double getNumber(const Field& f, const std::uint8_t* rec) {
    const std::uint8_t* p = rec + f.offset;
    switch (f.type) {
    case 'I':
        return static_cast<double>(static_cast<std::int32_t>(le32(p)));
    case 'B':
        return std::bit_cast<double>(le64(p));
    case 'Y':
        return static_cast<double>(static_cast<std::int64_t>(le64(p))) / 10000.0;
    case 'N':
    case 'F': {
        std::string_view s = trimmed(p, f.len);
        if (!s.empty() && s[0] == '+') s.remove_prefix(1);
        double v = 0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), v);
        if (r.ec != std::errc() || !std::isfinite(v)) return 0;
        return v;
    }
    default:
        return 0;
    }
}

bool putNumber(const Field& f, std::uint8_t* rec, double value) {
    std::uint8_t* p = rec + f.offset;
    if (!std::isfinite(value)) return false;
    switch (f.type) {
    case 'I': {
        double r = std::round(value);
        if (r < -2147483648.0 || r > 2147483647.0) return false;
        put32(p, static_cast<std::uint32_t>(static_cast<std::int32_t>(r)));
        return true;
    }
    case 'B':
        put64(p, std::bit_cast<std::uint64_t>(value));
        return true;
    case 'Y': {
        double r = std::round(value * 10000.0);
        if (r < -9.2e18 || r > 9.2e18) return false;
        put64(p, static_cast<std::uint64_t>(static_cast<std::int64_t>(r)));
        return true;
    }
    case 'N':
    case 'F': {
        std::string text = formatNumber(value, f.len, f.dec);
        if (text.empty()) return false;
        std::memcpy(p, text.data(), f.len);
        return true;
    }
    default:
        return false;
    }
}

bool getLogical(const Field& f, const std::uint8_t* rec) {
    char c = static_cast<char>(rec[f.offset]);
    return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}

void putLogical(const Field& f, std::uint8_t* rec, bool value) {
    rec[f.offset] = value ? 'T' : 'F';
}

std::int32_t getDate(const Field& f, const std::uint8_t* rec) {
    const std::uint8_t* p = rec + f.offset;
    if (f.type == 'T') {
        auto jd = static_cast<std::int32_t>(le32(p));
        int y, m, d;
        calendar::split(jd, y, m, d);
        return y == 0 ? 0 : jd;
    }
    if (f.type != 'D' || f.len != 8) return 0;
    bool ok = false;
    std::int32_t jd = calendar::fromStamp(std::string_view(reinterpret_cast<const char*>(p), 8), ok);
    return ok ? jd : 0;
}

void putDate(const Field& f, std::uint8_t* rec, std::int32_t jd) {
    std::uint8_t* p = rec + f.offset;
    if (f.type == 'T') {
        put32(p, static_cast<std::uint32_t>(jd));
        put32(p + 4, 0);
        return;
    }
    std::string s = calendar::toStamp(jd);
    std::memcpy(p, s.data(), 8);
}

std::uint32_t getMemoBlock(const Field& f, const std::uint8_t* rec) {
    const std::uint8_t* p = rec + f.offset;
    if (f.len == 4) return le32(p);
    std::string_view s = trimmed(p, f.len);
    std::uint32_t v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() ? v : 0;
}

void putMemoBlock(const Field& f, std::uint8_t* rec, std::uint32_t block) {
    std::uint8_t* p = rec + f.offset;
    if (f.len == 4) {
        put32(p, block);
        return;
    }
    std::memset(p, ' ', f.len);
    if (block != 0) {
        std::string s = std::to_string(block);
        if (s.size() <= f.len) std::memcpy(p + f.len - s.size(), s.data(), s.size());
    }
}

} // namespace engine::dbf
