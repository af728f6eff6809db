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
