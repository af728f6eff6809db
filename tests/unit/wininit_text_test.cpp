#include "wininit_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
using Lines = std::vector<std::string>;

const char kFolder[] = "C:\\VELK\\NUV";
const char kProgram[] = "C:\\VELK\\NUV\\NUV.exe";

// One restart-time deletion as the engine does it: read the file, add, write back.
std::string AddDeletionToFile(const std::string& bytes, const std::string& shortPath)
{
    return JoinWininitLines(AddWininitDeletion(SplitWininitBytes(bytes), shortPath));
}
}

TEST(WininitText, StartsASectionWhenThereIsNone)
{
    EXPECT_EQ(AddDeletionToFile("", kFolder), "[rename]\r\n\r\nNUL=C:\\VELK\\NUV\r\n");
    EXPECT_EQ(AddWininitDeletion(Lines{"[boot]", "x=1"}, kFolder),
              (Lines{"[boot]", "x=1", "", "[rename]", "", "NUL=C:\\VELK\\NUV"}));
    // A header with something before it on its line, or another name, is not one.
    EXPECT_EQ(AddWininitDeletion(Lines{" [rename]", "[renamed]"}, kFolder),
              (Lines{" [rename]", "[renamed]", "", "[rename]", "", "NUL=C:\\VELK\\NUV"}));
}

TEST(WininitText, AddsDirectlyUnderTheFirstHeaderInAnyCase)
{
    const Lines lines{"; kept", "[Rename]", "NUL=C:\\OLD", "", "[RENAME] ; second", "x=y"};
    EXPECT_EQ(AddWininitDeletion(lines, kProgram),
              (Lines{"; kept", "[Rename]", "NUL=C:\\VELK\\NUV\\NUV.exe", "NUL=C:\\OLD", "",
                     "[RENAME] ; second", "x=y"}));
    EXPECT_EQ(AddWininitDeletion(Lines{"[rEnAmE]"}, kFolder),
              (Lines{"[rEnAmE]", "NUL=C:\\VELK\\NUV"}));
    // Without a path there is nothing to delete.
    EXPECT_EQ(AddWininitDeletion(lines, ""), lines);
}

TEST(WininitText, TheProgramFileComesFirstAfterTheFolderWasAdded)
{
    const std::string fresh = AddDeletionToFile(AddDeletionToFile("", kFolder), kProgram);
    EXPECT_EQ(fresh, "[rename]\r\nNUL=C:\\VELK\\NUV\\NUV.exe\r\n\r\nNUL=C:\\VELK\\NUV\r\n");

    const std::string existing =
        AddDeletionToFile(AddDeletionToFile("[Rename]\r\nNUL=C:\\A\r\n", kFolder), kProgram);
    EXPECT_EQ(existing,
              "[Rename]\r\nNUL=C:\\VELK\\NUV\\NUV.exe\r\nNUL=C:\\VELK\\NUV\r\nNUL=C:\\A\r\n");
}

TEST(WininitText, ReadsLinesAsTheFileWritesThem)
{
    EXPECT_EQ(SplitWininitBytes(""), Lines());
    EXPECT_EQ(SplitWininitBytes("\r\n"), Lines{""});
    EXPECT_EQ(SplitWininitBytes("a\r\nb\nc"), (Lines{"a", "b", "c"}));
    EXPECT_EQ(SplitWininitBytes("a\r\r\n\n\rb\rc\r"), (Lines{"a\r", "", "\rb\rc"}));
    const std::string longLine(5000, 'x');
    EXPECT_EQ(SplitWininitBytes(longLine + "\r\n" + longLine), (Lines{longLine, longLine}));

    EXPECT_EQ(JoinWininitLines(Lines()), "");
    EXPECT_EQ(JoinWininitLines(Lines{"", "a"}), "\r\na\r\n");
    const Lines lines{"[rename]", "", "NUL=C:\\X", std::string("a\0b", 3)};
    EXPECT_EQ(SplitWininitBytes(JoinWininitLines(lines)), lines);
}
