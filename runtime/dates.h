// Dates: Julian day numbers, the epoch window for two-digit years, formatting and reading in
// the date format in force.
#pragma once

#include "value.h"

#include <string>
#include <string_view>

namespace rt {

// A date from year, month, day; the empty date when they do not name a real day
// (years 1 to 9999).
Date makeDate(int year, int month, int day);
// Splits a date into year, month, day; all 0 for the empty date.
void splitDate(Date d, int& year, int& month, int& day);

// The date as text in the given pattern: "dd", "mm" and runs of "y" (two or four digits)
// are replaced, other characters are copied. The empty date gives the pattern with blanks.
std::string formatDate(Date d, std::string_view pattern);
// Reads text in the given pattern; two-digit years fall in the 100-year window that starts
// at epoch. Text that is not a date gives the empty date.
Date parseDate(std::string_view text, std::string_view pattern, int epoch);

// The runtime routines, using the settings in force.
std::string DTOC(Date d);
Date CTOD(std::string_view text);
std::string DTOS(Date d);  // "YYYYMMDD", eight blanks for the empty date
Date STOD(std::string_view text);
Date DATE();                // today, local time
std::string TIME();         // "hh:mm:ss", local time
double SECONDS();           // seconds since midnight, local time, with fractions

}  // namespace rt
