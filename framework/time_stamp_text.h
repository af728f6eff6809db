// Time texts: the run-list stamps, the engine's log-line prefix, the utilities' start line.
#pragma once

#include "local_time_values.h"

#include <string>

// "HH:MM:SS", 24-hour clock, as in the run list's START, STOP and CLEAN stamps.
std::string FormatTimeOfDay(const LocalTimeValues& now);

// The log line prefix "MM/DD/YYYY - HH:MM:SS " (the year keeps all its digits).
std::string FormatLogStamp(const LocalTimeValues& now);

// One whole log line as written in a single write: prefix, text, CR LF.
std::string FormatLogLine(const LocalTimeValues& now, const std::string& text);

// "Www Mmm DD HH:MM:SS YYYY" and a line feed, 25 characters in all: English day and month
// names, the day with a leading zero. Dates outside the calendar give "???" names.
std::string FormatCalendarTime(const LocalTimeValues& now);
