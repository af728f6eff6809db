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

// A file of the source or target folder: versioned (a library, its path appended after
// its image, so that every file's bytes tell where it came from) or plain text.
void Place(const std::string& path, const char* version, int hour)
{
    if (version)
        WriteWholeFile(path, ReadWholeFile(VersionedLibrary(version)) + path);
    else
        WriteWholeFile(path, std::string("plain ") + path);
    SetWriteTime(path, 2020, 6, 1, hour);
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

TEST_F(FendrixTest, AFileReachedUnderAnotherNameIsNeitherCopiedNorDeleted)
{
    // "subst S: C:\VELK\DATA" and a junction C:\VELK\ALIAS to the same folder: every row
    // names one file twice, and /d must not take it for a copy of itself.
    CreateDirectoryA("C:\\VELK\\DATA", nullptr);
    CUnixLink drive("C:\\VELK\\DATA", "S:");
    CUnixLink alias("C:\\VELK\\DATA", "C:\\VELK\\ALIAS");
    ASSERT_TRUE(drive.IsMade() && alias.IsMade());
    const char* const rows[] = {
        "/d S:\\A.TXT C:\\VELK\\DATA",
        "/d /f S:\\A.TXT C:\\VELK\\DATA\\A.TXT",
        "/d C:\\VELK\\DATA\\A.TXT S:\\",
        "/d S:\\*.TXT C:\\VELK\\DATA",
        "/d S:\\ C:\\VELK\\DATA",
        "/d C:\\VELK\\ALIAS\\A.TXT C:\\VELK\\DATA",
        "-d -f C:\\VELK\\DATA\\A.TXT C:\\VELK\\ALIAS\\A.TXT",
    };
    for (const char* row : rows) {
        Place("C:\\VELK\\DATA\\A.TXT", nullptr, 1);
        DeleteFileA(kUtilsLog);
        EXPECT_EQ(Run(row), 0) << row;
        EXPECT_EQ(ReadWholeFile("C:\\VELK\\DATA\\A.TXT"), "plain C:\\VELK\\DATA\\A.TXT") << row;
        EXPECT_FALSE(FileExists(kUtilsLog)) << row;
    }
}

TEST_F(FendrixTest, ASourceWithoutABackslashOfItsOwnIsTakenFromItsOwnFolder)
{
    // The current folder holds a file of the same name: it is neither copied nor deleted.
    CreateDirectoryA("C:\\VELK\\DATA", nullptr);
    CreateDirectoryA("C:\\VELK\\WORK", nullptr);
    char previous[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\VELK\\WORK"));
    // "C:A.TXT" names the file in drive C:'s own current folder: for a program whose current
    // folder is on another drive, the one that "=C:" in its environment names.
    CreateDirectoryA("C:\\VELK\\OTHER", nullptr);
    CUnixLink other("C:\\VELK\\OTHER", "S:");
    ASSERT_TRUE(other.IsMade());
    const struct {
        const char* commandLine;
        const char* currentFolder;
    } rows[] = {
        {"C:/VELK/DATA/A.TXT C:\\VELK\\BACKUP /d", "C:\\VELK\\WORK"},
        {"C:/VELK/DATA/*.TXT C:\\VELK\\BACKUP /d", "C:\\VELK\\WORK"},
        {"C:A.TXT C:\\VELK\\BACKUP /d", "S:\\"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.commandLine);
        CreateDirectoryA("C:\\VELK\\BACKUP", nullptr);
        Place("C:\\VELK\\DATA\\A.TXT", nullptr, 9);
        Place("C:\\VELK\\WORK\\A.TXT", nullptr, 9);
        Place("S:\\A.TXT", nullptr, 9);
        ASSERT_TRUE(SetEnvironmentVariableA("=C:", "C:\\VELK\\DATA"));
        ASSERT_TRUE(SetCurrentDirectoryA(row.currentFolder));
        EXPECT_EQ(Run(row.commandLine), 0);
        EXPECT_EQ(ReadWholeFile("C:\\VELK\\BACKUP\\A.TXT"), "plain C:\\VELK\\DATA\\A.TXT");
        EXPECT_FALSE(FileExists("C:\\VELK\\DATA\\A.TXT"));
        EXPECT_EQ(ReadWholeFile("C:\\VELK\\WORK\\A.TXT"), "plain C:\\VELK\\WORK\\A.TXT");
        EXPECT_EQ(ReadWholeFile("S:\\A.TXT"), "plain S:\\A.TXT");
        DeleteTreeForTest("C:\\VELK\\BACKUP");
    }
    SetEnvironmentVariableA("=C:", nullptr);
    SetCurrentDirectoryA(previous);
}

TEST_F(FendrixTest, ACopyThatFailsLeavesTheTargetAsItWasAttributesIncluded)
{
    Place(std::string(kSource) + "\\a.txt", nullptr, 9);
    Place(std::string(kTarget) + "\\a.txt", nullptr, 1);
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    SetFileAttributesA("C:\\VELK\\DST\\a.txt", kept);
    {
        CHolder locked("C:\\VELK\\DST\\a.txt", true);
        ASSERT_TRUE(locked.IsHolding());
        EXPECT_EQ(Run("C:\\VELK\\SRC\\a.txt C:\\VELK\\DST"), ERROR_SHARING_VIOLATION);
    }
    EXPECT_EQ(GetFileAttributesA("C:\\VELK\\DST\\a.txt") & kept, kept);
    EXPECT_EQ(ReadWholeFile("C:\\VELK\\DST\\a.txt"), "plain C:\\VELK\\DST\\a.txt");
    EXPECT_EQ(ReadWholeFile(kUtilsLog).find("FENDRIX: Failed copying C:\\VELK\\SRC\\a.txt to C:\\VELK\\DST\\a.txt. "
                                            "System Error Code 32 CreateWin32 error 0"),
              0u);
}
