// The local time as plain values, so that everything that prints a time can be
// tested with a fixed clock. The Win32 side fills it from GetLocalTime.
#pragma once

struct LocalTimeValues
{
    int year = 0;   // four digits, e.g. 2026
    int month = 0;  // 1 to 12
    int day = 0;    // 1 to 31
    int hour = 0;   // 0 to 23
    int minute = 0;
    int second = 0;
};
