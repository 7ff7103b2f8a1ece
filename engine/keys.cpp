#include "engine/keys.h"

#include <cmath>
#include <cstring>

namespace engine {

bool validKeyType(char t) {
    return t == 'C' || t == 'N' || t == 'D' || t == 'L';
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
