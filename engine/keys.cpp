#include "engine/keys.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace engine {

bool validKeyType(char t) {
    return t == 'C' || t == 'N' || t == 'D' || t == 'L' || t == 'I';
}

std::size_t fixedKeyLength(char t) {
    switch (t) {
    case 'N':
    case 'D':
        return 8;
    case 'L':
        return 1;
    case 'I':
        return 4;
    default:
        return 0;
    }
}

char keyFill(char t) {
    return t == 'C' ? ' ' : '\0';
}

std::string encodeDouble(double value) {
    if (value == 0 || std::isnan(value)) value = 0; // one key for +0, -0 (and NaN)
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if (bits >> 63)
        bits = ~bits;
    else
        bits |= std::uint64_t{1} << 63;
    std::string out(8, '\0');
    for (int i = 7; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = static_cast<char>(bits & 0xFF);
        bits >>= 8;
    }
    return out;
}

double decodeDouble(std::string_view key) {
    if (key.size() != 8) return 0;
    std::uint64_t bits = 0;
    for (char c : key) bits = bits << 8 | static_cast<unsigned char>(c);
    if (bits >> 63)
        bits &= ~(std::uint64_t{1} << 63);
    else
        bits = ~bits;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

namespace {

std::string characterKey(const ExprValue& value, std::size_t keyLen, bool pad) {
    std::string key = value.kind == ExprValue::Kind::Character ? value.str : std::string();
    if (key.size() > keyLen)
        key.resize(keyLen);
    else if (pad)
        key.resize(keyLen, ' ');
    return key;
}

} // namespace

std::string encodeKey(const ExprValue& value, char keyType, std::size_t keyLen) {
    switch (keyType) {
    case 'N':
        return encodeDouble(value.kind == ExprValue::Kind::Numeric ? value.num : 0.0);
    case 'D':
        return encodeDouble(value.kind == ExprValue::Kind::Date ? static_cast<double>(value.date) : 0.0);
    case 'L':
        return value.kind == ExprValue::Kind::Logical && value.logical ? "T" : "F";
    case 'I': {
        double v = value.kind == ExprValue::Kind::Numeric ? std::round(value.num) : 0.0;
        if (!(v >= -2147483648.0)) v = -2147483648.0; // also NaN
        if (v > 2147483647.0) v = 2147483647.0;
        const std::uint32_t bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(v)) ^ 0x80000000u;
        std::string out(4, '\0');
        for (int i = 0; i < 4; ++i)
            out[static_cast<std::size_t>(i)] = static_cast<char>(bits >> (8 * (3 - i)));
        return out;
    }
    default:
        return characterKey(value, keyLen, true);
    }
}

std::string seekKey(const ExprValue& value, char keyType, std::size_t keyLen) {
    if (keyType == 'C') return characterKey(value, keyLen, false);
    return encodeKey(value, keyType, keyLen);
}

ExprValue decodeKey(std::string_view key, char keyType) {
    switch (keyType) {
    case 'C':
        return ExprValue::character(std::string(key));
    case 'N':
        return key.size() == 8 ? ExprValue::numeric(decodeDouble(key)) : ExprValue::nil();
    case 'D': {
        if (key.size() != 8) return ExprValue::nil();
        const double day = decodeDouble(key);
        // Only whole day numbers in the calendar's range are dates.
        if (!(day >= 0 && day <= 5373484) || day != std::floor(day)) return ExprValue::nil();
        return ExprValue::dateValue(static_cast<std::int32_t>(day));
    }
    case 'I': {
        if (key.size() != 4) return ExprValue::nil();
        std::uint32_t bits = 0;
        for (char c : key) bits = bits << 8 | static_cast<unsigned char>(c);
        return ExprValue::numeric(static_cast<double>(static_cast<std::int32_t>(bits ^ 0x80000000u)));
    }
    case 'L':
        if (key.size() != 1) return ExprValue::nil();
        return ExprValue::logicalValue(key[0] == 'T');
    default:
        return ExprValue::nil();
    }
}

int compareKeys(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    if (n) {
        const int c = std::memcmp(a.data(), b.data(), n);
        if (c) return c < 0 ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

} // namespace engine
