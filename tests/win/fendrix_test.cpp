// Fendrix with real files: which source counts as newer, what a copy keeps of the target,
// moves, directories, and the exit codes of a command that cannot be done.
#include "engine_test_support.h"
#include "fendrix.h"

namespace {

const char kUtilsLog[] = "C:\\Velk\\Utils.Log";
const char kSource[] = "C:\\VELK\\SRC";
const char kTarget[] = "C:\\VELK\\DST";

std::string VersionedLibrary(const char* version)
{
    return ToWindowsPath(std::string(VELK_TEST_VERSIONED_DIR) + "/version_" + version + ".dll");
}

// Sets the file's last-write time to the given hour of 1 June 2020.
void SetWriteHour(const std::string& path, int hour)
{
    SYSTEMTIME local = {};
    local.wYear = 2020;
    local.wMonth = 6;
    local.wDay = 1;
    local.wHour = static_cast<WORD>(hour);
    FILETIME localTime;
    FILETIME time;
    SystemTimeToFileTime(&local, &localTime);
    LocalFileTimeToFileTime(&localTime, &time);
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

// A file of the source or target folder: versioned (a library, its path appended after
// its image, so that every file's bytes tell where it came from) or plain text.
void Place(const std::string& path, const char* version, int hour)
{
    if (version)
        WriteWholeFile(path, ReadWholeFile(VersionedLibrary(version)) + path);
    else
        WriteWholeFile(path, std::string("plain ") + path);
    SetWriteHour(path, hour);
}

} // namespace

class FendrixTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        CreateDirectoryA(kSource, nullptr);
        CreateDirectoryA(kTarget, nullptr);
    }
    int Run(const std::string& commandLine) { return RunFendrix(commandLine); }
};

TEST_F(FendrixTest, VersionBeforeTimeAndTimeAtWholeSeconds)
{
    struct Row {
        const char* name;
        const char* sourceVersion;
        int sourceHour;
        const char* targetVersion;
        int targetHour;
        bool force;
        bool copied;
    } rows[] = {
        {"newer version, older file", "5.0.0.2", 1, "5.0.0.1", 9, false, true},
        {"older version, younger file", "5.0.0.1", 9, "5.0.0.2", 1, false, false},
        {"older version, forced", "5.0.0.1", 9, "5.0.0.2", 1, true, true},
        {"equal versions, younger file", "5.0.0.1", 9, "5.0.0.1", 1, false, true},
        {"equal versions, equal times", "5.0.0.1", 5, "5.0.0.1", 5, false, false},
        {"unversioned over versioned", nullptr, 9, "5.0.0.1", 1, false, false},
        {"versioned over unversioned", "5.0.0.1", 1, nullptr, 9, false, true},
        {"plain, younger", nullptr, 9, nullptr, 1, false, true},
        {"plain, older", nullptr, 1, nullptr, 9, false, false},
    };
    for (const Row& row : rows) {
        const std::string source = std::string(kSource) + "\\file.dll";
        const std::string target = std::string(kTarget) + "\\file.dll";
        Place(source, row.sourceVersion, row.sourceHour);
        Place(target, row.targetVersion, row.targetHour);
        const std::string before = ReadWholeFile(target);
        EXPECT_EQ(Run(std::string(row.force ? "/f " : "") + source + " " + kTarget), 0) << row.name;
        EXPECT_EQ(ReadWholeFile(target) == ReadWholeFile(source), row.copied) << row.name;
        if (!row.copied) {
            EXPECT_EQ(ReadWholeFile(target), before) << row.name;
        }
    }
}

TEST_F(FendrixTest, ACopyKeepsTheTargetsAttributesAndAMoveRemovesTheSource)
{
    Place(std::string(kSource) + "\\a.txt", nullptr, 9);
    Place(std::string(kTarget) + "\\a.txt", nullptr, 1);
    SetFileAttributesA("C:\\VELK\\DST\\a.txt", FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(Run("C:\\VELK\\SRC\\a.txt C:\\VELK\\DST"), 0);
    EXPECT_EQ(ReadWholeFile("C:\\VELK\\DST\\a.txt"), "plain C:\\VELK\\SRC\\a.txt");
    EXPECT_TRUE(GetFileAttributesA("C:\\VELK\\DST\\a.txt") & FILE_ATTRIBUTE_READONLY);

    // Moved, also where the target is newer and nothing is copied.
    Place(std::string(kSource) + "\\old.txt", nullptr, 1);
    Place(std::string(kTarget) + "\\old.txt", nullptr, 9);
    EXPECT_EQ(Run("-d C:\\VELK\\SRC\\old.txt C:\\VELK\\DST"), 0);
    EXPECT_FALSE(FileExists("C:\\VELK\\SRC\\old.txt"));
    EXPECT_EQ(ReadWholeFile("C:\\VELK\\DST\\old.txt"), "plain C:\\VELK\\DST\\old.txt");
}

TEST_F(FendrixTest, AFileMovedOrCopiedOntoItselfStaysAsItIs)
{
    const std::string folder = "C:\\VELK\\Long Folder";
    CreateDirectoryA(folder.c_str(), nullptr);
    char shortFolder[MAX_PATH] = "";
    ASSERT_NE(GetShortPathNameA(folder.c_str(), shortFolder, MAX_PATH), 0u);
    const std::string rows[] = {
        "/d \"" + folder + "\\a.txt\" \"" + folder + "\"",
        "/d \"" + folder + "\" \"" + folder + "\"",
        "-d -f \"" + folder + "\\A.TXT\" \"" + folder + "\\\"",
        "/d " + std::string(shortFolder) + "\\a.txt \"" + folder + "\"",
        "/f \"" + folder + "\\a.txt\" \"" + folder + "\\a.txt\"",
    };
    for (const std::string& row : rows) {
        Place(folder + "\\a.txt", nullptr, 1);
        DeleteFileA(kUtilsLog);
        EXPECT_EQ(Run(row), 0) << row;
        EXPECT_EQ(ReadWholeFile(folder + "\\a.txt"), "plain " + folder + "\\a.txt") << row;
        EXPECT_FALSE(FileExists(kUtilsLog)) << row;
    }
}

TEST_F(FendrixTest, ADirectoryGivesItsTopLevelFilesAndAMissingTargetIsCreated)
{
    Place(std::string(kSource) + "\\one.txt", nullptr, 1);
    Place(std::string(kSource) + "\\two.txt", nullptr, 1);
    CreateDirectoryA("C:\\VELK\\SRC\\sub", nullptr);
    Place("C:\\VELK\\SRC\\sub\\deep.txt", nullptr, 1);
    EXPECT_EQ(Run("C:\\VELK\\SRC C:\\VELK\\DST"), 0);
    EXPECT_TRUE(FileExists("C:\\VELK\\DST\\one.txt") && FileExists("C:\\VELK\\DST\\two.txt"));
    EXPECT_FALSE(FileExists("C:\\VELK\\DST\\sub") || FileExists("C:\\VELK\\DST\\deep.txt"));
    // A single file to a name that does not exist yet.
    EXPECT_EQ(Run("C:\\VELK\\SRC\\one.txt C:\\VELK\\copy.txt"), 0);
    EXPECT_EQ(ReadWholeFile("C:\\VELK\\copy.txt"), "plain C:\\VELK\\SRC\\one.txt");
}

TEST_F(FendrixTest, CommandsThatCannotBeDoneEndWithTheirCodes)
{
    Place(std::string(kSource) + "\\one.txt", nullptr, 1);
    struct Row {
        std::string commandLine;
        int code;
        std::string logged;
    } rows[] = {
        {"", 3, "FENDRIX: Invalid Command line param\r\nFENDRIX: Invalid command line. : \r\n"},
        {"C:\\VELK\\SRC\\one.txt", 3, "FENDRIX: Invalid command line. : C:\\VELK\\SRC\\one.txt\r\n"},
        {"C:\\VELK\\SRC\\one.txt C:\\VELK\\D*", 3, "FENDRIX: No wild cards allowed in destination : C:\\VELK\\D*\r\n"},
        {"C:\\VELK\\SRC\\*.txt C:\\VELK\\file.txt", 2,
         "FENDRIX: First param C:\\VELK\\SRC\\*.txt must be a single file if second param C:\\VELK\\file.txt is not a "
         "directory\r\n"},
        {"C:\\VELK\\SRC C:\\VELK\\file.txt", 2,
         "FENDRIX: First param C:\\VELK\\SRC\\*.* must be a single file if second param C:\\VELK\\file.txt is not a "
         "directory\r\n"},
        {"C:\\VELK\\none.txt C:\\VELK\\file.txt", 3, "FENDRIX: First param C:\\VELK\\none.txt not found\r\n"},
        // A name may hold what looks like a placeholder: it is written as it is.
        {"C:\\VELK\\%s%d\\*.txt C:\\VELK\\%s.txt", 2,
         "FENDRIX: First param C:\\VELK\\%s%d\\*.txt must be a single file if second param C:\\VELK\\%s.txt is not a "
         "directory\r\n"},
        // Upper-case switches are no switches: logged, and the copy done without them.
        {"/D /F C:\\VELK\\SRC\\one.txt C:\\VELK\\DST", 0,
         "FENDRIX: Invalid command line switch: /D\r\nFENDRIX: Invalid command line switch: /F\r\n"},
    };
    for (const Row& row : rows) {
        DeleteFileA(kUtilsLog);
        EXPECT_EQ(Run(row.commandLine), row.code) << row.commandLine;
        EXPECT_EQ(ReadWholeFile(kUtilsLog), row.logged) << row.commandLine;
    }
    EXPECT_TRUE(FileExists("C:\\VELK\\SRC\\one.txt"));
    EXPECT_TRUE(FileExists("C:\\VELK\\DST\\one.txt"));
}
