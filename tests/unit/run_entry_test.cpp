#include "line_file_text.h"
#include "run_entry.h"

#include <gtest/gtest.h>

#include <climits>

namespace
{
LocalTimeValues At(int hour, int minute, int second)
{
    LocalTimeValues now;
    now.hour = hour;
    now.minute = minute;
    now.second = second;
    return now;
}
}

TEST(RunEntry, FinishesTheTwoExampleEntriesAsTheyArePrinted)
{
    CRunEntry tool(3, "OSTREL.DLL,C:\\VELK\\APPS\\TOOL\\SETUP.EXE -s,C:\\VELK\\APPS\\TOOL,600");
    EXPECT_EQ(tool.GetLineNumber(), 3);
    EXPECT_EQ(tool.GetWrapperName(), "OSTREL.DLL");
    EXPECT_EQ(tool.GetInstallCommand(), "C:\\VELK\\APPS\\TOOL\\SETUP.EXE -s");
    EXPECT_EQ(tool.GetCleanDirectory(), "C:\\VELK\\APPS\\TOOL");
    EXPECT_EQ(tool.GetTimeout(), 600);
    EXPECT_EQ(tool.IsRebootRequested(), 0);
    tool.SetStartTime(At(9, 5, 31));
    tool.SetStopTime(At(9, 7, 2));
    tool.SetCleanTime(At(9, 7, 3));
    EXPECT_EQ(tool.FormatLine(), "OSTREL.DLL, C:\\VELK\\APPS\\TOOL\\SETUP.EXE -s, C:\\VELK\\APPS\\TOOL, 600, "
                                 ", START 09:05:31, STOP 09:07:02, CLEAN 09:07:03");

    CRunEntry driver(4, "OSTREL.DLL, C:\\VELK\\APPS\\DRIVER\\INSTALL.EXE, , , reboot");
    EXPECT_EQ(driver.IsRebootRequested(), 1);
    EXPECT_EQ(driver.GetCleanDirectory(), "");
    EXPECT_EQ(driver.GetTimeout(), 0);
    driver.SetStartTime(At(9, 7, 4));
    driver.SetStopTime(At(9, 8, 40));
    driver.SetCleanTime(At(9, 8, 40));
    EXPECT_EQ(driver.FormatLine(), "OSTREL.DLL, C:\\VELK\\APPS\\DRIVER\\INSTALL.EXE, , , REBOOT, "
                                   "START 09:07:04, STOP 09:08:40, CLEAN 09:08:40");
}

TEST(RunEntry, RewritesFieldsInTheirNormalForm)
{
    const struct { const char* text; const char* written; } cases[] = {
        {"  a  ,\tb  c ,d\r\n", "a, b  c, d, , "},              // blanks around commas go
        {"a,,c,", "a, , c, , "},                              // doubled and trailing commas
        {"a,b,c,d,ReBoOt", "a, b, c, d, REBOOT"},
        {"a,b,c,d,yes", "a, b, c, d, "},                      // other restart text is lost
        {"a,b,c,d,,START 1,STOP 2,CLEAN 3,x,y", "a, b, c, d, , START 1, STOP 2, CLEAN 3"},
        {" \t ", ", , , , "},
        {"a,b,c,d,,START 1", "a, b, c, d, , START 1"},        // empty stamps at the end left out
    };
    for (const auto& c : cases)
        EXPECT_EQ(CRunEntry(1, c.text).FormatLine(), c.written) << c.text;
}

TEST(RunEntry, KeepsTheClearedPlaceOfAStampBeforeASetOne)
{
    CRunEntry entry(1, "a,b,c,d,,,,CLEAN 1");
    entry.SetStartTime(At(23, 59, 0));
    EXPECT_EQ(entry.FormatLine(), "a, b, c, d, , START 23:59:00, , CLEAN 1");
    const CRunEntry readBack(1, entry.FormatLine());
    EXPECT_EQ(readBack.GetStopTime(), "");
    EXPECT_EQ(readBack.GetCleanTime(), "CLEAN 1");
}

TEST(RunEntry, ReadsTheTimeoutLikeADecimalInteger)
{
    const struct { const char* field; int value; } cases[] = {
        {"", 0}, {"abc", 0}, {"12s", 12}, {"-5", -5}, {"+7", 7}, {"0600", 600},
        {"99999999999", INT_MAX}, {"-99999999999", INT_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CRunEntry(1, std::string("a,b,c,") + c.field).GetTimeout(), c.value) << c.field;
}

TEST(RunEntry, ReplacesStampsAndParsesAfreshEachTime)
{
    CRunEntry entry(7, "a,b,c,d,REBOOT,START 1,STOP 2,CLEAN 3");
    entry.SetStopTime(At(0, 0, 9));
    EXPECT_EQ(entry.GetStopTime(), "STOP 00:00:09");
    entry.ParseLine("x");
    EXPECT_EQ(entry.FormatLine(), "x, , , , ");
    EXPECT_EQ(entry.GetLineNumber(), 7);
}

TEST(RunEntry, ReportsARewriteThatWouldNoLongerFitTheLineLimit)
{
    const std::string command(kMaxLineLength - 8, 'x');
    CRunEntry entry(1, "A.DLL," + command);
    EXPECT_EQ(entry.GetInstallCommand(), command);
    EXPECT_FALSE(IsWithinLineLimit(entry.FormatLine()));
    EXPECT_TRUE(IsWithinLineLimit(std::string(kMaxLineLength, 'x')));
}
