// Rules of the expression language that do not depend on how values are held: the order of
// strings, the number at the start of a text, dates as text. The engine's expressions and the
// runtime's compiled code blocks both follow them, so they live here once.
//
// Standard library only, so that both the engine and the runtime can link it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lang {

// String order of the comparisons. With exact off a string equals every string it begins
// (so "" equals all); with exact on trailing blanks do not count.
int compareStrings(std::string_view a, std::string_view b, bool exact);

// "=" between strings: with exact off a equals every string it begins with; with exact on
// trailing blanks do not count.
bool stringEquals(std::string_view a, std::string_view b, bool exact);

// The text without its trailing blanks.
std::string rtrimBlanks(std::string_view s);

// "-" between strings: a and b joined, a's trailing blanks moved to the end of the result.
std::string joinMovingBlanks(std::string_view a, std::string_view b);

// A date (a Julian day number, 0 the empty date) plus a number of days, the fraction dropped:
// the empty date stays empty, and a result outside the years 1 to 9999 is the empty date.
std::int32_t addDays(std::int32_t julian, double days);

// The number at the very start of s (the caller skips any blanks): a sign, digits and at most
// one point, read up to 64 characters; 0 when there is none. hasPoint tells whether a point
// was read.
double leadingNumber(std::string_view s, bool& hasPoint);

// The date as text in the pattern: "dd", "mm" and runs of "y" (two digits, or four for three
// letters or more) are replaced, other characters are copied; when empty, the replaced places
// are blanks.
std::string formatDate(int year, int month, int day, bool empty, std::string_view pattern);

// Reads the three digit groups of a date written in the pattern's order of day, month and
// year; a year of at most two digits falls in the 100-year window that starts at epoch.
// Answers false when the pattern or the text does not have three; the values are not checked
// for naming a real day.
bool dateParts(std::string_view text, std::string_view pattern, int epoch, long& year, long& month,
               long& day);

} // namespace lang
