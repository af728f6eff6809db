// Hobrint and Jaskel replacing the file they edit, in both families' ways: the file is
// never missing nor emptied, a replacement cut off between its renames is put back at the
// next start, and a replacement that fails leaves the file as it was, attributes included.
#include "engine_test_support.h"
#include "hobrint.h"
#include "jaskel.h"

#include "file_rewrite.h"

namespace {

const char kList[] = "C:\\VELK\\RUN.NUV";
const char kSettings[] = "C:\\VELK\\APP\\APP.INI";
const char kProgram[] = "C:\\VELK\\APP\\SETUP.EXE";

// One program's files and the command that fixes its file.
struct Program {
    const char* name;
    int (*run)(const std::string&);
    const char* commandLine;
    const char* file;
    const char* rewrite;
    const char* aside;
    const char* backup;
    const char* original;
    const char* fixed;
};

const Program kPrograms[] = {
    {"Hobrint", RunHobrint, "C:\\VELK\\RUN.NUV OSTREL.DLL NUVDEST", kList, "C:\\VELK\\RUNNUV.TMP",
     "C:\\VELK\\~RUN.NUV.OLD", "C:\\VELK\\RUNNUV.BAK", "# list\r\nOSTREL.DLL, ${NUVDEST}:\\VELK\\APP\\SETUP.EXE, , 60\r\n",
     "# list\r\nOSTREL.DLL, C:\\VELK\\APP\\SETUP.EXE, , 60\r\n"},
    {"Jaskel", RunJaskel, "\\VELK\\APP\\SETUP.EXE C:\\VELK\\APP\\APP.INI NUVDEST", kSettings,
     "C:\\VELK\\APP\\F0E1D2C3.TMP", "C:\\VELK\\APP\\~APP.INI.OLD", "C:\\VELK\\APP\\APP.BAK",
     "[Paths]\r\nData=${NUVDEST}:\\DATA\r\n", "[Paths]\r\nData=C:\\DATA\r\n"},
};

} // namespace

class DriveFixupFileTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        CreateDirectoryA("C:\\VELK\\APP", nullptr);
        WriteWholeFile(kProgram, "MZ");
    }
    void TearDown() override
    {
        SetAtomicReplaceAvailable(-1);
        EngineTest::TearDown();
    }
};

TEST_F(DriveFixupFileTest, TheFileIsReplacedInOneStepOrThroughItsAsideName)
{
    for (const Program& program : kPrograms) {
        for (int oneStep : {1, 0}) {
            SCOPED_TRACE(std::string(program.name) + (oneStep ? ", one step" : ", renamed aside"));
            SetAtomicReplaceAvailable(oneStep);
            WriteWholeFile(program.file, program.original);
            // A copy that a replacement cut off after its renames left beside the file is
            // older than it: it goes, and can never be taken for a cut between the renames.
            WriteWholeFile(program.aside, "an old copy");
            EXPECT_EQ(program.run(program.commandLine), 0);
            EXPECT_EQ(ReadWholeFile(program.file), program.fixed);
            EXPECT_EQ(ReadWholeFile(program.backup), program.original);
            EXPECT_FALSE(FileExists(program.rewrite));
            EXPECT_FALSE(FileExists(program.aside));
        }
    }
}

TEST_F(DriveFixupFileTest, AReplacementCutOffBetweenItsRenamesIsPutBackAtTheNextStart)
{
    for (const Program& program : kPrograms) {
        SCOPED_TRACE(program.name);
        SetAtomicReplaceAvailable(0);
        // The power went after the file stepped aside: its whole rewrite stands beside it.
        DeleteFileA(program.file);
        WriteWholeFile(program.rewrite, program.fixed);
        WriteWholeFile(program.aside, program.original);
        EXPECT_EQ(program.run(program.commandLine), 0);
        EXPECT_EQ(ReadWholeFile(program.file), program.fixed);
        EXPECT_FALSE(FileExists(program.rewrite));
        EXPECT_FALSE(FileExists(program.aside));
    }
}

TEST_F(DriveFixupFileTest, AFailedReplacementLeavesTheFileAsItWasAttributesIncluded)
{
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    for (const Program& program : kPrograms) {
        for (int oneStep : {1, 0}) {
            SCOPED_TRACE(std::string(program.name) + (oneStep ? ", one step" : ", renamed aside"));
            SetAtomicReplaceAvailable(oneStep);
            SetFileAttributesA(program.file, FILE_ATTRIBUTE_NORMAL);
            WriteWholeFile(program.file, program.original);
            SetFileAttributesA(program.file, kept);
            {
                // A scanner holds the file past every retry: it cannot be renamed.
                CHolder scanner(program.file);
                ASSERT_TRUE(scanner.IsHolding());
                EXPECT_EQ(program.run(program.commandLine), 1);
            }
            EXPECT_EQ(ReadWholeFile(program.file), program.original);
            EXPECT_EQ(GetFileAttributesA(program.file) & kept, kept);
            EXPECT_FALSE(FileExists(program.aside));
        }
    }
}

TEST_F(DriveFixupFileTest, TwoFilesOfOneFolderNeverTakeEachOthersCopy)
{
    // The power went while the first file stood aside; the second file of the folder is
    // fixed before the first is looked at again. Each has its own aside name: the second
    // run neither deletes the first file's copy nor takes it for its own.
    SetAtomicReplaceAvailable(0);
    const Program& jaskel = kPrograms[1];
    const std::string first = "C:\\VELK\\APP\\FIRST.INI";
    DeleteFileA(first.c_str());
    WriteWholeFile(jaskel.rewrite, jaskel.fixed);
    WriteWholeFile("C:\\VELK\\APP\\~FIRST.INI.OLD", jaskel.original);
    WriteWholeFile(jaskel.file, jaskel.original);
    EXPECT_EQ(jaskel.run(jaskel.commandLine), 0);
    EXPECT_EQ(ReadWholeFile(jaskel.file), jaskel.fixed);
    EXPECT_EQ(ReadWholeFile("C:\\VELK\\APP\\~FIRST.INI.OLD"), jaskel.original);
    // The first file's rewrite went with the second run; its own earlier contents are put
    // back, and fixed.
    EXPECT_EQ(RunJaskel("\\VELK\\APP\\SETUP.EXE " + first + " NUVDEST"), 0);
    EXPECT_EQ(ReadWholeFile(first), jaskel.fixed);
    EXPECT_FALSE(FileExists("C:\\VELK\\APP\\~FIRST.INI.OLD"));
}

TEST_F(DriveFixupFileTest, AnAsideNameThatIsTheFileItselfIsRefused)
{
    // Where a file would step aside under its own name, the old copy deleted first would be
    // the file itself.
    SetAtomicReplaceAvailable(0);
    WriteWholeFile(kList, "the list");
    WriteWholeFile("C:\\VELK\\RUN.NEW", "its rewrite");
    EXPECT_EQ(MoveRewriteIntoPlace("C:\\VELK\\RUN.NEW", kList, "c:\\velk\\run.nuv"), DWORD(ERROR_FILE_EXISTS));
    EXPECT_EQ(ReadWholeFile(kList), "the list");
}
