// Index keys: the fixed-length byte strings that compound index tags sort, compared as
// unsigned bytes (binary collation).
//
//   C  the value's bytes, padded with blanks or cut to the key length;
//   N  8 bytes: the IEEE double, big-endian, with the sign bit flipped for values >= 0 and
//      every bit inverted for negative values, so the bytes sort as the numbers do;
//   D  8 bytes: the Julian day number as a double in the numeric encoding (the empty date is
//      day 0);
//   L  1 byte: "T" or "F";
//   I  4 bytes: a 32-bit integer (the value rounded), big-endian with the sign bit flipped, as
//      tags on integer fields are written by the FoxPro family.
#pragma once

#include "engine/expr.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace engine {

inline constexpr std::size_t kMaxKeyLen = 240;

// True for 'C', 'N', 'D', 'L', 'I'.
bool validKeyType(char keyType);

// The key length of a type whose keys have a fixed length (N, D 8; L 1; I 4); 0 for C.
std::size_t fixedKeyLength(char keyType);

// The byte a key of this type is padded with and whose trailing runs an index leaf drops:
// blank for character keys, NUL for the others.
char keyFill(char keyType);

// The full key of a value. keyLen is used for character keys (the other types have their
// fixed length). A value of another kind than the key type, or Nil, gives
// the key of the type's empty value (blanks, 0, the empty date, false).
std::string encodeKey(const ExprValue& value, char keyType, std::size_t keyLen);

// The key to seek with: as encodeKey, except that a character value is not padded (a seek
// matches every key that begins with it); it is still cut to keyLen.
std::string seekKey(const ExprValue& value, char keyType, std::size_t keyLen);

// The 8-byte sortable form of a double (negative zero is taken as zero) and back.
std::string encodeDouble(double value);
double decodeDouble(std::string_view key8); // 0 when the text is not 8 bytes

// The value a key stands for: Character (the key bytes as they are), Numeric (N and I), Date
// or Logical; Nil when the key does not have the type's length.
ExprValue decodeKey(std::string_view key, char keyType);

// Binary comparison of two keys (unsigned bytes; a shorter key that is a prefix of the other
// sorts first): < 0, 0, > 0.
int compareKeys(std::string_view a, std::string_view b);

} // namespace engine
