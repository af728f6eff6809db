#include "time_stamp_text.h"

#include <cstdio>

namespace
{
const char* const kLogStampSeparator = " - ";
const char* const kLineEnd = "\r\n";

// "%02d" of one value. Any int fits: at most 11 characters, sign included.
std::string FormatTwoDigits(int value)
{
    char digits[16];
    const int length = std::snprintf(digits, sizeof(digits), "%02d", value);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof(digits))
        return std::string();
    return std::string(digits, static_cast<std::size_t>(length));
}
}

std::string FormatTimeOfDay(const LocalTimeValues& now)
{
    return FormatTwoDigits(now.hour) + ":" + FormatTwoDigits(now.minute) + ":"
        + FormatTwoDigits(now.second);
}

std::string FormatLogStamp(const LocalTimeValues& now)
{
    return FormatTwoDigits(now.month) + "/" + FormatTwoDigits(now.day) + "/"
        + FormatTwoDigits(now.year) + kLogStampSeparator + FormatTimeOfDay(now) + " ";
}

std::string FormatLogLine(const LocalTimeValues& now, const std::string& text)
{
    return FormatLogStamp(now) + text + kLineEnd;
}
