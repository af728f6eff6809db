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

TEST(TextHelpers, TrimsOnlySpacesAndTabsAtTheEnds)
{
    EXPECT_EQ(TrimBlanks("  \t a b \t "), "a b");
    EXPECT_EQ(TrimBlanks(" \t "), "");
    EXPECT_EQ(TrimBlanks(""), "");
    EXPECT_EQ(TrimBlanks("\r\nx\r\n"), "\r\nx\r\n");
}
