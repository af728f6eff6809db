#include "line_file_text.h"
#include "run_list_text.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
std::vector<std::string> ReadAllLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    std::size_t offset = 0;
    std::string line;
    while (ReadNextLine(bytes, offset, line))
        lines.push_back(line);
    return lines;
}

using Lines = std::vector<std::string>;
}

TEST(LineFileText, EndsLinesAtLineFeedsAndDropsTheCarriageReturnBefore)
{
    EXPECT_EQ(ReadAllLines(""), Lines());
    EXPECT_EQ(ReadAllLines("a\r\nb\nc"), (Lines{"a", "b", "c"}));
    EXPECT_EQ(ReadAllLines("a\n\r\n\n"), (Lines{"a", "", ""}));
    EXPECT_EQ(ReadAllLines("a\rb\r\r\nc\r"), (Lines{"a\rb\r", "c\r"}));
}

TEST(LineFileText, CutsLinesOverTheLimitIntoLinesOfTheirOwn)
{
    const std::string full(kMaxLineLength, 'x');
    EXPECT_EQ(ReadAllLines(full + "\r\nb"), (Lines{full, "b"}));
    EXPECT_EQ(ReadAllLines(full + "\n"), (Lines{full}));
    EXPECT_EQ(ReadAllLines(full + "yz\r\n"), (Lines{full, "yz"}));
    EXPECT_EQ(ReadAllLines(full + full + "\n"), (Lines{full, full}));
}

TEST(LineFileText, TellsBlankAndCommentLinesFromEntries)
{
    EXPECT_EQ(GetRunListLineKind(" \t\t "), RunListLineKind::Blank);
    EXPECT_EQ(GetRunListLineKind("\r\v\f"), RunListLineKind::Blank);
    EXPECT_EQ(GetRunListLineKind("   # remark"), RunListLineKind::Comment);
    EXPECT_EQ(GetRunListLineKind("OSTREL.DLL # not a remark"), RunListLineKind::Entry);
    EXPECT_EQ(GetRunListLineKind(", x"), RunListLineKind::Entry);
    EXPECT_EQ(TrimWhiteSpace("\f\v a b\t\r\n"), "a b");
}
