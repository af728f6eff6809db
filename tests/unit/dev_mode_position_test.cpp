#include "dev_mode_position.h"

#include <gtest/gtest.h>

TEST(DevModePosition, BottomRightCornerClearOfTheTaskbar)
{
    const ScreenRect desktop = {0, 0, 1024, 768};
    struct Row {
        const char* edge;
        bool hasTaskbar;
        ScreenRect bar;  // the shell's answer and the bar window alike
        ScreenPoint expected;
    } rows[] = {
        {"none", false, {0, 0, 0, 0}, {824, 668}},
        {"bottom", true, {0, 738, 1024, 768}, {824, 638}},
        {"right", true, {964, 0, 1024, 768}, {764, 668}},
        {"top", true, {0, 0, 1024, 30}, {824, 668}},
        {"left", true, {0, 0, 60, 768}, {824, 668}},
        {"square at the origin", true, {0, 0, 40, 40}, {784, 668}},
    };
    for (const Row& row : rows) {
        const ScreenPoint at = GetDevModeWindowPosition(desktop, 200, 100, row.hasTaskbar, row.bar, row.bar);
        EXPECT_EQ(at.x, row.expected.x) << row.edge;
        EXPECT_EQ(at.y, row.expected.y) << row.edge;
    }
}
