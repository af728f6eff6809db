#include "message_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
using Lines = std::vector<std::string>;

// The eight texts in key order, so that whole sets compare at once.
Lines GetAllTexts(const MessageTexts& t)
{
    return {t.iconTitle, t.title,        t.inProgress, t.success,
            t.failGeneral, t.noPrivileges, t.restart,    t.restartButton};
}

MessageTexts ApplyToDefaults(const Lines& lines)
{
    MessageTexts texts;
    ApplyMessageTextLines(lines, texts);
    return texts;
}

const MessageTexts kDefaults;
}

TEST(MessageTexts, StartsWithTheBuiltInTexts)
{
    EXPECT_EQ(GetAllTexts(kDefaults),
              (Lines{"Complete Velk Setup", "Velk Setup",
                     "Now completing installation of applications...",
                     "Velk Setup completed successfully.  You must restart your computer before "
                     "the new settings will take effect.",
                     "Velk Setup did not complete successfully.  Your Velk-installed software may "
                     "not be configured properly.  Restart your system and run Velk Setup again.",
                     "You must log in as Administrator to complete Velk Setup.",
                     "Setup will restart your computer in 10 seconds...", "Restart"}));
    EXPECT_EQ(GetAllTexts(ApplyToDefaults(Lines())), GetAllTexts(kDefaults));
}

TEST(MessageTexts, SetsEachTextByItsKey)
{
    const MessageTexts texts = ApplyToDefaults({
        "MSG_ICONTITLE=\"Icon\"", "MSG_TITLE=\"Title\"",
        // Only the key and the first and last quotes matter.
        "  MSG_INPROGRESS = \"Work \"now\"  ; \"", "MSG_SUCCESS \"Done\"",
        "MSG_FAILGENERAL=\"Failed\"", "MSG_NOPRIVS=\"No rights\"",
        "MSG_RESTART=\"Restarting\"", "MSG_RESTART_BTN=\"Now\"",
    });
    EXPECT_EQ(GetAllTexts(texts), (Lines{"Icon", "Title", "Work \"now\"  ; ", "Done", "Failed",
                                         "No rights", "Restarting", "Now"}));
}

TEST(MessageTexts, TheFirstKeyInKeyOrderDecidesAndLaterLinesWin)
{
    // "MSG_RESTART_BTN" contains "MSG_RESTART" but sets only the button.
    MessageTexts texts = ApplyToDefaults({"MSG_RESTART_BTN=\"Go\""});
    EXPECT_EQ(texts.restartButton, "Go");
    EXPECT_EQ(texts.restart, kDefaults.restart);

    // Two keys on one line: the title comes before the success text in key order.
    texts = ApplyToDefaults({"MSG_SUCCESS MSG_TITLE=\"x\""});
    EXPECT_EQ(texts.title, "x");
    EXPECT_EQ(texts.success, kDefaults.success);

    // A key inside the quotes counts as well.
    EXPECT_EQ(ApplyToDefaults({"\"MSG_NOPRIVS\""}).noPrivileges, "MSG_NOPRIVS");

    texts = ApplyToDefaults({"MSG_TITLE=\"First\"", "MSG_TITLE=\"Second\"", "MSG_TITLE=\"\""});
    EXPECT_EQ(texts.title, "");

    // Keys are matched exactly, in their letter case.
    texts = ApplyToDefaults({"msg_title=\"lower\"", "TITLE=\"other\"", ""});
    EXPECT_EQ(GetAllTexts(texts), GetAllTexts(kDefaults));
}

TEST(MessageTexts, JoinsAnOpenTextWithTheFollowingLines)
{
    MessageTexts texts = ApplyToDefaults({"MSG_SUCCESS=\"One", "two", "three\"", "MSG_TITLE=\"T\""});
    EXPECT_EQ(texts.success, "One\ntwo\nthree");
    EXPECT_EQ(texts.title, "T");

    // Empty lines inside an open text are parts of it.
    EXPECT_EQ(ApplyToDefaults({"MSG_RESTART=\"a", "", "b\""}).restart, "a\n\nb");

    // A missing closing quote swallows the next setting, up to a line ending in a quote.
    texts = ApplyToDefaults({"MSG_TITLE=\"Open", "MSG_RESTART_BTN=\"Go\"", "MSG_RESTART=\"R\""});
    EXPECT_EQ(texts.title, "Open\nMSG_RESTART_BTN=\"Go");
    EXPECT_EQ(texts.restartButton, kDefaults.restartButton);
    EXPECT_EQ(texts.restart, "R");

    // A key line without quotes takes the text of the setting it runs into.
    texts = ApplyToDefaults({"MSG_TITLE=Velk", "MSG_RESTART=\"R\""});
    EXPECT_EQ(texts.title, "R");
    EXPECT_EQ(texts.restart, kDefaults.restart);

    // Left open to the end of the file, the text keeps every character it has.
    texts = ApplyToDefaults({"MSG_INPROGRESS=\"Still", "MSG_SUCCESS=\"open"});
    EXPECT_EQ(texts.inProgress, "Still\nMSG_SUCCESS=\"open");
    EXPECT_EQ(texts.success, kDefaults.success);
}

TEST(MessageTexts, MalformedSettingsChangeNothingTheyCannotName)
{
    // A key without any quote reads on to the end and then has no text to take.
    MessageTexts texts = ApplyToDefaults({"MSG_TITLE=Velk", "MSG_RESTART=R", ""});
    EXPECT_EQ(GetAllTexts(texts), GetAllTexts(kDefaults));

    // A lone quote closes the text it ends, and alone is a line without a key.
    EXPECT_EQ(ApplyToDefaults({"MSG_TITLE=\"Open", "\""}).title, "Open\n");
    texts = ApplyToDefaults({"\"", "\"\"", "", ""});
    EXPECT_EQ(GetAllTexts(texts), GetAllTexts(kDefaults));

    // The only quote is also the last character: an empty text.
    EXPECT_EQ(ApplyToDefaults({"MSG_NOPRIVS=\""}).noPrivileges, "");
}
