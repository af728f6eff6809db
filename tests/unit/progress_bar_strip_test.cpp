#include "progress_bar_strip.h"

#include <gtest/gtest.h>

TEST(ProgressBarStrip, ABarsHeightEitherSideOfTheMovingEndOrTheWholeBar)
{
    const ScreenRect bar = {0, 0, 214, 16};
    struct Row {
        const char* what;
        ScreenRect client;
        int low, high, before, after;
        ScreenRect expected;
    } rows[] = {
        {"first step, cut at the left edge", bar, 0, 100, 0, 1, {0, 0, 18, 16}},
        {"in the middle", bar, 0, 100, 50, 51, {91, 0, 125, 16}},
        {"last step, cut at the right edge", bar, 0, 100, 99, 100, {195, 0, 214, 16}},
        {"a step too small to move a pixel", bar, 0, 1000, 500, 501, {91, 0, 123, 16}},
        {"a range not starting at 0", bar, 10, 20, 15, 16, {91, 0, 144, 16}},
        {"a client rectangle not at the origin", {2, 3, 216, 19}, 0, 100, 50, 51, {93, 3, 127, 19}},
        {"the largest range the message carries", bar, 0, 65535, 65534, 65535, {197, 0, 214, 16}},
        {"wrapped round", bar, 0, 100, 100, 0, bar},
        {"an empty range", bar, 0, 0, 0, 1, bar},
        {"a range upside down", bar, 5, 1, 1, 2, bar},
        {"no move", bar, 0, 100, 40, 40, {0, 0, 0, 16}},
    };
    for (const Row& row : rows) {
        const ScreenRect got = ProgressBarStripToRepaint(row.client, row.low, row.high, row.before, row.after);
        EXPECT_EQ(got.left, row.expected.left) << row.what;
        EXPECT_EQ(got.top, row.expected.top) << row.what;
        EXPECT_EQ(got.right, row.expected.right) << row.what;
        EXPECT_EQ(got.bottom, row.expected.bottom) << row.what;
    }
}
