// Time texts of the engine: the run-list stamps and the log-line prefix.
#pragma once

#include "local_time_values.h"

#include <string>

// "HH:MM:SS", 24-hour clock, as in the run list's START, STOP and CLEAN stamps.
std::string FormatTimeOfDay(const LocalTimeValues& now);

// The log line prefix "MM/DD/YYYY - HH:MM:SS " (the year keeps all its digits).
std::string FormatLogStamp(const LocalTimeValues& now);

// One whole log line as written in a single write: prefix, text, CR LF.
std::string FormatLogLine(const LocalTimeValues& now, const std::string& text);
