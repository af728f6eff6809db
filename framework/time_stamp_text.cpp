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

namespace
{
// 0 for Sunday; the Gregorian calendar (Sakamoto's rule).
int GetDayOfWeek(int year, int month, int day)
{
    static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3)
        year -= 1;
    const int weekday = (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
    return weekday < 0 ? weekday + 7 : weekday;
}
}

std::string FormatCalendarTime(const LocalTimeValues& now)
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const bool valid = now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31 && now.year > 0;
    const std::string day = valid ? days[GetDayOfWeek(now.year, now.month, now.day)] : "???";
    const std::string month = valid ? months[now.month - 1] : "???";
    char year[16];
    std::snprintf(year, sizeof year, "%04d", now.year);
    return day + " " + month + " " + FormatTwoDigits(now.day) + " " + FormatTimeOfDay(now) + " " + year + "\n";
}
