// Dates as the engine stores and shows them: Julian day numbers (0 is the empty date), the
// eight-digit "YYYYMMDD" text of DBF date fields, and dates in a date format such as
// "DD-MM-YYYY" with two-digit years placed by an epoch.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace engine::calendar {

// The Julian day number of a day of the Gregorian calendar; 0 when year, month and day do not
// name a real day of the years 1 to 9999.
std::int32_t julian(int year, int month, int day);
// Splits a Julian day number; all 0 for 0 or for numbers outside the years 1 to 9999.
void split(std::int32_t jd, int& year, int& month, int& day);

// "YYYYMMDD", or eight blanks for the empty date.
std::string toStamp(std::int32_t jd);
// Reads "YYYYMMDD"; blanks give the empty date. ok is false for anything else.
std::int32_t fromStamp(std::string_view text, bool& ok);

// The date in a format: "DD", "MM" and runs of "Y" (two or four; letters in either case) are
// replaced by the day, month and year; every other character is copied. The empty date gives
// the format's length in blanks.
std::string format(std::int32_t jd, std::string_view fmt);
// Reads a date written in a format (the inverse of format). A two-digit year falls in the
// hundred years that start at epoch. Blank text is the empty date; ok is false for text that
// is not a date in that format.
std::int32_t parse(std::string_view text, std::string_view fmt, int epoch, bool& ok);

} // namespace engine::calendar
