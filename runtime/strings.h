// String, number-to-text and list routines of the runtime. Strings are length-counted byte
// strings; positions are 1-based.
#pragma once

#include "value.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

// AT(needle, text[, start[, end]]): 1-based position of the first occurrence of needle in
// text (searching bytes start..end of text), comparing every byte; 0 when not found, when
// needle is empty or longer than the text. Arguments that are not strings raise the argument
// error BASE/1108.
std::int64_t AT(const Value& needle, const Value& text, const Value& start = {}, const Value& end = {});

// UPPER / LOWER: only the letters a-z / A-Z change. A non-string raises BASE/1102 (1103).
std::string UPPER(const Value& s);
std::string LOWER(const Value& s);

// EMPTY: a string of spaces, tabs, CRs and LFs (or nothing); no value; 0; false; the empty
// date; an empty list. A code block or an object never is.
bool EMPTY(const Value& v);

// STR(n[, width[, decimals]]): n right-aligned in width characters (10 for an integer without
// a width; a floating-point number without a width gets 10 integer places and its decimals);
// a number that does not fit fills the width with asterisks.
std::string STR(const Value& n, const Value& width = {}, const Value& decimals = {});

// The number's text with no blanks: integers in decimal, floating-point numbers in the
// shortest fixed notation that reads back the same.
std::string numberText(const Value& n);

// CVALTOCHAR: text form of any value. Strings unchanged; dates in the date format in force;
// logicals ".t." / ".f."; numbers without blanks; blocks "{|| ... }"; lists "{ ... }";
// objects "Object"; no value "".
std::string CVALTOCHAR(const Value& v);

// VALTYPE: the type letter.
std::string VALTYPE(const Value& v);

// Trimming and padding (blanks only, as the runtime has always done).
std::string TRIM(std::string_view s);     // trailing blanks
std::string RTRIM(std::string_view s);    // same as TRIM
std::string LTRIM(std::string_view s);    // leading blanks
std::string ALLTRIM(std::string_view s);  // both
std::string PADR(std::string_view s, std::int64_t width, char fill = ' ');
std::string PADL(std::string_view s, std::int64_t width, char fill = ' ');
std::string PADC(std::string_view s, std::int64_t width, char fill = ' ');
std::string SPACE(std::int64_t n);
std::string REPLICATE(std::string_view s, std::int64_t n);
std::string SUBSTR(std::string_view s, std::int64_t start, std::int64_t count = -1);
std::string LEFT(std::string_view s, std::int64_t n);
std::string RIGHT(std::string_view s, std::int64_t n);
std::int64_t LEN(const Value& v);  // string bytes, list elements, 0 otherwise

// A value formatted with a picture: optional functions ("@" and letters up to a blank), then a
// template. Numbers: each "9" or "#" is a digit position, a "," between digit positions
// separates thousands (a blank when no digit stands before it), any other character is copied
// ("9,999,999 bytes", "99999"); a number too wide fills the digit positions with asterisks.
// Text: "@!" upper-cases it; in a template, each of 9 # A N X L Y ! * $ takes the next
// character ("!" upper-cased, a blank past the end) and any other character is inserted.
// Dates: "@E" gives day/month/year, otherwise the current date format. Logicals: "T"/"F", or
// "Y"/"N" with a template beginning with "Y". Anything else as CVALTOCHAR.
std::string TRANSFORM(const Value& v, std::string_view picture);

// The runtime's string comparison "a = b": with exact compare off, a equals b when a is at
// least as long as b and begins with b (an empty b equals every string); with exact compare
// on, trailing blanks of both are ignored and the rest must match exactly.
bool stringEquals(std::string_view a, std::string_view b);
bool stringEquals(std::string_view a, std::string_view b, bool exact);

// Lists.
// AADD(list, value): appends value; answers value.
Value AADD(const Value& list, const Value& value);
// ASCAN(list, value[, start[, count]]): 1-based index of the first element equal to value,
// 0 when none. A string value is compared only with string elements, by stringEquals; a
// block value is evaluated with each element and the first true answer wins; other values
// compare by type and contents.
std::int64_t ASCAN(const Value& list, const Value& value, const Value& start = {}, const Value& count = {});
// ARRAY(n): a list of n empty values.
ArrayPtr ARRAY(std::int64_t n);

}  // namespace rt
