#include "local_time.h"

#include <windows.h>

namespace {
LocalTimeValues (*g_source)() = nullptr;
}

LocalTimeValues GetLocalTimeValues()
{
    if (g_source)
        return g_source();
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    LocalTimeValues values;
    values.year = now.wYear;
    values.month = now.wMonth;
    values.day = now.wDay;
    values.hour = now.wHour;
    values.minute = now.wMinute;
    values.second = now.wSecond;
    return values;
}

void SetLocalTimeSource(LocalTimeValues (*source)())
{
    g_source = source;
}
