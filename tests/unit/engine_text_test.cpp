#include "time_stamp_text.h"
#include "wrapper_library_name.h"

#include <gtest/gtest.h>

namespace
{
LocalTimeValues On(int year, int month, int day, int hour, int minute, int second)
{
    LocalTimeValues now;
    now.year = year;
    now.month = month;
    now.day = day;
    now.hour = hour;
    now.minute = minute;
    now.second = second;
    return now;
}
}

TEST(TimeStampText, FormatsStampsAndLogLines)
{
    EXPECT_EQ(FormatTimeOfDay(On(2026, 12, 6, 9, 5, 31)), "09:05:31");
    EXPECT_EQ(FormatLogStamp(On(2026, 12, 6, 18, 25, 4)), "12/06/2026 - 18:25:04 ");
    EXPECT_EQ(FormatLogStamp(On(2003, 1, 3, 9, 5, 7)), "01/03/2003 - 09:05:07 ");
    EXPECT_EQ(FormatLogLine(On(2003, 1, 3, 0, 0, 0), "NUV: Started -=-\r\n"),
              "01/03/2003 - 00:00:00 NUV: Started -=-\r\n\r\n");
}

TEST(WrapperLibraryName, AppendsDllOnlyWhenTheNameDoesNotEndInIt)
{
    EXPECT_EQ(ApplyLibrarySuffixRule("SETUPWRAP"), "SETUPWRAPDLL");
    EXPECT_EQ(ApplyLibrarySuffixRule("setupwrap.dll"), "setupwrap.dll");
    EXPECT_EQ(ApplyLibrarySuffixRule("Ostrel.DlL"), "Ostrel.DlL");
    EXPECT_EQ(ApplyLibrarySuffixRule("OSTRELDLL"), "OSTRELDLL");
    EXPECT_EQ(ApplyLibrarySuffixRule("DL"), "DLDLL");
    EXPECT_EQ(ApplyLibrarySuffixRule(""), "DLL");
}
