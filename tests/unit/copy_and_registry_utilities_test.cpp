#include "fendrix_command_line.h"
#include "morlane_text.h"
#include "next_parameter.h"

#include <gtest/gtest.h>

TEST(NextParameter, QuotesTabsLengthsAndTheEnd)
{
    struct Row {
        std::string text;
        int position;
        std::string parameter;
        int next;
        std::string problem;
    } rows[] = {
        {"a b", 0, "a", 2, ""},
        {"a   b", 0, "a", 4, ""},
        {"\"a b\" c", 0, "a b", 6, ""},
        {"\"a b\"   c", 0, "a b", 8, ""},
        {"a\tb c", 0, "a\tb", 4, ""},
        {"last   ", 0, "last", -1, ""},
        {"x last", 2, "last", -1, ""},
        {"\"open to the end", 0, "open to the end", -1, ""},
        {"", 0, "", -1, "Invalid Command line param"},
        {std::string(300, 'p') + " next", 0, std::string(260, 'p'), 301,
         "Individual command line parameter exceeds maximum length"},
    };
    for (const Row& row : rows) {
        std::string parameter;
        std::string problem;
        EXPECT_EQ(NextParameter(row.text, row.position, parameter, problem), row.next) << row.text;
        EXPECT_EQ(parameter, row.parameter) << row.text;
        EXPECT_EQ(problem, row.problem) << row.text;
    }
}

TEST(FendrixCommandLine, SwitchesInLowerCaseOnly)
{
    const FendrixArguments upper = ParseFendrixCommandLine("/D /F \"C:\\My Src\\a.txt\" C:\\DST -x");
    EXPECT_FALSE(upper.move);
    EXPECT_FALSE(upper.force);
    EXPECT_EQ(upper.source, "C:\\My Src\\a.txt");
    EXPECT_EQ(upper.destination, "C:\\DST");
    EXPECT_EQ(upper.messages, (std::vector<std::string>{"Invalid command line switch: /D", "Invalid command line switch: /F",
                                                        "Invalid command line switch: -x"}));
    const FendrixArguments lower = ParseFendrixCommandLine("-d /f /l C:\\SRC C:\\ONE C:\\TWO");
    EXPECT_TRUE(lower.move);
    EXPECT_TRUE(lower.force);
    EXPECT_EQ(lower.destination, "C:\\TWO");  // a third plain parameter replaces the second
    EXPECT_TRUE(lower.messages.empty());
    EXPECT_EQ(ParseFendrixCommandLine("").messages, std::vector<std::string>{"Invalid Command line param"});
}

TEST(MorlaneCommandLine, LowerCasedSwitchesKeysAndTheMode)
{
    const MorlaneArguments record =
        ParseMorlaneCommandLine("/x /T /L D:\\Apps C:\\Data.TXT /m Software\\Velk /u SOFTWARE\\User /q");
    EXPECT_TRUE(record.record);
    EXPECT_TRUE(record.log);
    EXPECT_EQ(record.first, "d:\\apps");
    EXPECT_EQ(record.second, "c:\\data.txt");
    EXPECT_EQ(record.machineKey, "software\\velk");
    EXPECT_EQ(record.userKey, "software\\user");
    // Only what went wrong after /l is logged.
    EXPECT_EQ(record.messages, std::vector<std::string>{"Invalid command line switch: /q"});
    EXPECT_EQ(ParseMorlaneCommandLine("c:\\data.txt /m").machineKey, "");
    EXPECT_TRUE(ParseMorlaneCommandLine(std::string(260, 'x')).tooLong);

    EXPECT_TRUE(IsRecordMode("d:\\apps /T"));
    EXPECT_TRUE(IsRecordMode("/tl d:\\apps"));
    EXPECT_FALSE(IsRecordMode("-t d:\\apps"));
}

TEST(DriveReferenceRecord, WrittenAndReadBack)
{
    EXPECT_EQ(FormatDriveReferenceRecord("HKEY_CURRENT_USER", "Software\\Velk", "Path", "D:\\Apps"),
              (std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\Velk", "Path", "d:\\apps"}));
    DriveReference reference;
    ASSERT_TRUE(ParseDriveReferenceRecord("HKEY_LOCAL_MACHINE\\Software\\Velk\\Sub", "Path", "e:\\apps", reference));
    EXPECT_TRUE(reference.machine);
    EXPECT_EQ(reference.keyPath, "Software\\Velk\\Sub");
    EXPECT_EQ(reference.text, "c:\\apps");
    ASSERT_TRUE(ParseDriveReferenceRecord("HKEY_CURRENT_USER", "Path", "e:\\", reference));
    EXPECT_FALSE(reference.machine);
    EXPECT_EQ(reference.keyPath, "");
    EXPECT_FALSE(ParseDriveReferenceRecord("hkey_local_machine\\x", "Path", "e:\\apps", reference));
    EXPECT_FALSE(ParseDriveReferenceRecord("HKEY_CURRENT_USER\\x", "", "e:\\apps", reference));
    EXPECT_FALSE(ParseDriveReferenceRecord("HKEY_CURRENT_USER\\x", "Path", "", reference));
}

TEST(DriveReferenceRecord, TheTextGoesToTheCdRomRootAndNothingElseChanges)
{
    struct Row {
        const char* data;
        const char* text;  // as recorded
        const char* result;
        char letter;
        bool repaired;
    } rows[] = {
        // The folder followed by a file: the doubled backslash goes.
        {"D:\\Apps\\Tool.exe", "e:\\apps", "f:\\Tool.exe", 'd', true},
        // Letters are tried from c; the first that matches is the only one replaced.
        {"C:\\APPS\\X;D:\\APPS\\Y", "d:\\apps\\", "f:\\X;D:\\APPS\\Y", 'c', false},
        {"%ProgramFiles%\\App;I:\\Apps\\Data", "c:\\apps\\", "%ProgramFiles%\\App;f:\\Data", 'i', false},
        {"J:\\Apps\\Data", "c:\\apps\\", "J:\\Apps\\Data", 0, false},
        {"e:\\apps e:\\APPS", "e:\\apps", "f:\\ f:\\", 'e', false},
    };
    for (const Row& row : rows) {
        std::string data = row.data;
        bool repaired = false;
        EXPECT_EQ(ReplaceLateBindText(data, row.text, "f:\\", repaired), row.letter) << row.data;
        EXPECT_EQ(data, row.result) << row.data;
        EXPECT_EQ(repaired, row.repaired) << row.data;
    }
}

TEST(DriveReferenceFile, RecordsUpToTheEndOrTheFirstBadOne)
{
    const std::string key = "HKEY_CURRENT_USER\\Software\\Velk";
    struct Row {
        std::vector<std::string> lines;
        std::size_t records;
        bool invalid;
        std::string badKeyLine;
    } rows[] = {
        // An empty file is an incomplete record.
        {{}, 0, true, ""},
        {{key, "Path", "d:\\apps", key, "Data", "d:\\data"}, 2, false, ""},
        // Only a line beginning with "H" starts another record.
        {{key, "Path", "d:\\apps", "", key, "Data", "d:\\data"}, 1, false, ""},
        {{key, "Path", "d:\\apps", "rem", key}, 1, false, ""},
        {{key, "Path", "d:\\apps", "Hello", "x", "y"}, 1, true, "Hello"},
        {{key, "Path"}, 0, true, key},
        {{key, "", "d:\\apps"}, 0, true, key},
    };
    for (const Row& row : rows) {
        std::size_t next = 0;
        const DriveReferenceFile file = ReadDriveReferenceFile([&](std::string& line) {
            if (next >= row.lines.size())
                return false;
            line = row.lines[next++];
            return true;
        });
        EXPECT_EQ(file.records.size(), row.records) << row.lines.size();
        EXPECT_EQ(file.invalid, row.invalid) << row.lines.size();
        EXPECT_EQ(file.keyLine, row.badKeyLine) << row.lines.size();
    }
}
