#include "pomrel_text.h"
#include "tevrost_text.h"

#include <gtest/gtest.h>

TEST(TevrostCommandLine, CountCommandAndProgram)
{
    struct Row {
        const char* text;
        bool usage;
        std::uint32_t count;
        const char* command;
        const char* program;
    } rows[] = {
        {"3 prog arg", false, 3, "prog arg", "prog"},
        {"12s C:\\TOOLS\\RUN.EXE /q", false, 12, "C:\\TOOLS\\RUN.EXE /q", "C:\\TOOLS\\RUN.EXE"},
        // Two spaces: the command keeps its leading space, and the program name is empty.
        {"3  prog arg", false, 3, " prog arg", ""},
        {"+5 prog", false, 5, "prog", "prog"},
        {"x3 prog", true, 0, "", ""},
        {"0 prog", true, 0, "", ""},
        {"-3 prog", true, 0, "", ""},
        {"3", true, 0, "", ""},
        {"", true, 0, "", ""},
        {"99999999999 prog", false, 0xFFFFFFFFu, "prog", "prog"},
    };
    for (const Row& row : rows) {
        const TevrostCommand parsed = ParseTevrostCommandLine(row.text);
        EXPECT_EQ(parsed.usage, row.usage) << row.text;
        if (row.usage)
            continue;
        EXPECT_EQ(parsed.count, row.count) << row.text;
        EXPECT_EQ(parsed.command, row.command) << row.text;
        EXPECT_EQ(parsed.program, row.program) << row.text;
    }
}

TEST(TevrostCommandLine, PositionValueAndDots)
{
    // 0*(a+1) + 1*(b+1) + 2*(c+1): 0 + 99 + 200.
    EXPECT_EQ(GetPositionValue("abc"), 299u);
    // Signed bytes: 0xFF counts as -1 + 1 = 0.
    EXPECT_EQ(GetPositionValue(std::string("a\xff") + "b"), 198u);
    // Long enough to wrap around 32 bits without harm.
    const std::string huge(100000, '~');
    std::uint64_t sum = 0;
    for (std::uint64_t i = 0; i < huge.size(); ++i)
        sum += i * 127;
    EXPECT_EQ(GetPositionValue(huge), static_cast<std::uint32_t>(sum));

    EXPECT_EQ(GetCountdownDots(0, 3), "...");
    EXPECT_EQ(GetCountdownDots(2, 3), ".");
    EXPECT_EQ(GetCountdownDots(3, 3), "");
    EXPECT_EQ(GetCountdownDots(0, 34), std::string(34, '.'));
    EXPECT_EQ(GetCountdownDots(0, 100), std::string(35, '.'));
    EXPECT_EQ(GetCountdownDots(50, 100), std::string(17, '.'));
    EXPECT_EQ(GetCountdownDots(99, 100), "");
}

TEST(PomrelCommandLine, NumberAndSkip)
{
    struct Row {
        const char* text;
        bool usage;
        int seconds;
        bool skip;
    } rows[] = {
        {"3", false, 3, false},   {"3 /s", false, 3, true},   {" 3 then", false, 3, false},
        {"/S 3", true, 0, true},  {"/s", true, 0, true},      {"", true, 0, false},
        {"0", true, 0, false},    {"-2", true, -2, false},    {"x/s", true, 0, true},
    };
    for (const Row& row : rows) {
        const PomrelCommand parsed = ParsePomrelCommandLine(row.text);
        EXPECT_EQ(parsed.usage, row.usage) << row.text;
        EXPECT_EQ(parsed.seconds, row.seconds) << row.text;
        EXPECT_EQ(parsed.skip, row.skip) << row.text;
    }
}
