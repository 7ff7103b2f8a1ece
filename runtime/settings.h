// The process-wide settings store. SET(n[, value]) answers the value before the call and,
// when a value is given, changes the setting. Listeners hear of every change (the table
// driver forwards exact compare, date format, epoch, path, default folder and the deleted
// filter to its engine).
#pragma once

#include "value.h"

#include <functional>
#include <string>

namespace rt {

enum SetId : int {
    _SET_EXACT = 1,       // logical, off
    _SET_DATEFORMAT = 4,  // text, "mm/dd/yy"
    _SET_EPOCH = 5,       // number, 1900
    _SET_PATH = 6,        // text, ""
    _SET_DEFAULT = 7,     // text, ""
    _SET_DELETED = 11,    // logical, off
};

// SET(n) answers setting n; SET(n, value) also changes it. A logical setting accepts a
// logical, or a string whose first two characters are "ON" in either case (any other string
// turns it off). Setting the date format also sets the century switch: on when the first
// run of the letter y (either case) in the pattern is longer than three letters.
// Unknown setting numbers answer no value and change nothing.
Value SET(int n, const Value& value = {});

// __SETCENTURY([value]): the century switch; a value turns it on or off (logical, or "ON"
// strings as above) and rewrites the year part of the date format ("yy" <-> "yyyy"), which
// counts as a change of the date format.
bool __SETCENTURY(const Value& value = {});

// Typed readers for the runtime's own use.
bool setExact();
const std::string& setDateFormat();
int setEpoch();
bool setDeleted();
bool setCentury();

// Change listeners, called after each change with the setting number and its new value
// (a century change is reported as setting 4 with the rewritten format).
int addSettingsListener(std::function<void(int setId, const Value& newValue)> listener);
void removeSettingsListener(int handle);

// Back to the start-up defaults (for tests); listeners are kept but not called.
void resetSettings();

}  // namespace rt
