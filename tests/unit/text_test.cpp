#include "text.h"

#include <gtest/gtest.h>

TEST(TextHelpers, UpperCasesAndComparesWithoutCase)
{
    EXPECT_EQ(MakeUpperText("Reboot c:\\velk\\x.dll"), "REBOOT C:\\VELK\\X.DLL");
    EXPECT_EQ(MakeUpperText(""), "");
    EXPECT_TRUE(IsSameText("ostrel.DLL", "OSTREL.dll"));
    EXPECT_FALSE(IsSameText("ostrel.dll", "ostrel.dl"));
    EXPECT_FALSE(IsSameText("a", "b"));
}

TEST(TextHelpers, TrimsWhiteSpaceAtTheEndsOnly)
{
    EXPECT_EQ(TrimWhiteSpace("  \t a  b \t "), "a  b");
    EXPECT_EQ(TrimWhiteSpace(" \t\r\n\v\f"), "");
    EXPECT_EQ(TrimWhiteSpace(""), "");
    EXPECT_EQ(TrimWhiteSpace("\r\nx\r\n"), "x");
}

TEST(TextHelpers, FillsTheSystemsMessageTexts)
{
    EXPECT_EQ(FormatMessageText("Installation Failed\r\n\t'%s'", "a, b"), "Installation Failed\r\n\t'a, b'");
    EXPECT_EQ(FormatMessageText("Failed to spawn '%s'.  Error Number: %d", "x.exe", 2),
              "Failed to spawn 'x.exe'.  Error Number: 2");
    // A text that holds placeholders of its own is taken as it is.
    EXPECT_EQ(FormatMessageText("task '%s', exit code: %d", "echo %d %s", -1), "task 'echo %d %s', exit code: -1");
    EXPECT_EQ(FormatMessageText("no placeholder", "x", 1), "no placeholder");
    EXPECT_EQ(FormatMessageText("(Error: %ld) %s", "Access denied.", 5), "(Error: 5) Access denied.");
    // Several values, each in its own place, however much they look like placeholders.
    EXPECT_EQ(FillMessageText("While moving %s to %s, an error occurred:\n  %s", {"C:\\%s%d", "C:\\%s", "(Error: 5)"}),
              "While moving C:\\%s%d to C:\\%s, an error occurred:\n  (Error: 5)");
    EXPECT_EQ(FillMessageText("Failed copying %s to %s. System Error Code %d CreateWin32 error %d",
                              {"a%d", "b", "5", "0"}),
              "Failed copying a%d to b. System Error Code 5 CreateWin32 error 0");
    EXPECT_EQ(FillMessageText("%ld and %s", {"1"}), "1 and %s");
}
