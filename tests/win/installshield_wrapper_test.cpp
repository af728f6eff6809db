// The InstallShield wrappers with a set-up that behaves like one: the result from its log
// file, the lines it leaves, the watch after it, and the two libraries' clean-ups.
#include "engine_test_support.h"
#include "installshield_wrapper.h"
#include "pause.h"
#include "text.h"

namespace {

const char kErr[] = "c:\\velk\\nuv.err";
const char kDiagnostics[] = "C:\\floppy\\LOG";
const char kSetup[] = "C:\\VELK\\IS\\SETUP.EXE";
const char kRecord[] = "C:\\VELK\\fake_setup.txt";

// At the watch's pause the set-up's lingering child is let go, and gone when it returns.
void ReleaseChild(unsigned long milliseconds)
{
    RecordPauseForTest(milliseconds);
    const std::string record = ReadWholeFile(kRecord);
    const std::string::size_type at = record.find("ikernel ");
    if (at == std::string::npos)
        return;
    const DWORD pid = std::strtoul(record.c_str() + at + 8, nullptr, 10);
    HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, pid);
    WriteWholeFile("C:\\VELK\\IS\\release.txt", "");
    if (child) {
        WaitForSingleObject(child, 30000);
        CloseHandle(child);
    }
}

} // namespace

class InstallShieldWrapperTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        CreateDirectoryA("C:\\floppy", nullptr);
        DeleteFileA(kDiagnostics);
        CreateDirectoryA("C:\\VELK\\IS", nullptr);
        ASSERT_TRUE(CopyFileA(ToWindowsPath(VELK_TEST_SETUP).c_str(), kSetup, FALSE));
        SetPauseHook(ReleaseChild);
    }
    void TearDown() override
    {
        DeleteFileA(kDiagnostics);
        RemoveDirectoryA("C:\\floppy");
        EngineTest::TearDown();
    }
    BOOL Install(CWrapper& wrapper, const std::string& command)
    {
        std::vector<char> text = MakeWritableCopy(command);
        return wrapper.InstallApplication(text.data(), 60);
    }
    CInstallShieldWrapper brakkis{false};
    CInstallShieldWrapper brakkel{true};
};

TEST_F(InstallShieldWrapperTest, TheLogFileDecidesAndEveryOutcomeLeavesItsLines)
{
    const std::string setup = kSetup;
    struct Row {
        const char* options;
        BOOL result;
        std::string errors;
        std::string diagnostics;
    } rows[] = {
        {" /code=0", TRUE, "", ""},
        {" /code=-3", FALSE, "Error InstallShield install failed: " + setup + " /code=-3 /SMS /S Error Code: -3\r\n", ""},
        {"", FALSE, "Error InstallShield install failed: " + setup + " /SMS /S Error Code: 2\r\n",
         "INS NO LOG C:\\VELK\\IS\\setup.log FOR: " + setup + " /SMS /S\r\n"},
        // The reduced variant: a failing exit code is not reported, the log says success.
        {" /code=0 /exit=5", TRUE, "", ""},
        // The watch after a successful run waits for the set-up's helper.
        {" /code=0 /ikernel=60000", TRUE, "", "INS PRE CLEAN DELAYS 1 : " + setup + " /code=0 /ikernel=60000 /SMS /S\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.options);
        DeleteFileA(kErr);
        DeleteFileA(kDiagnostics);
        DeleteFileA(kRecord);
        DeleteFileA("C:\\VELK\\IS\\setup.log");
        EXPECT_EQ(Install(brakkis, setup + row.options), row.result);
        EXPECT_EQ(ReadWholeFile(kRecord).find("run " + setup + row.options + " /SMS /S\r\n"), 0u);
        EXPECT_EQ(ReadWholeFile(kErr), row.errors.empty() ? "<missing>" : row.errors);
        EXPECT_EQ(ReadWholeFile(kDiagnostics), row.diagnostics.empty() ? "<missing>" : row.diagnostics);
    }
}

TEST_F(InstallShieldWrapperTest, BrakkelKeepsTheSourcesOfAFailedRun)
{
    struct Row {
        CWrapper* wrapper;
        bool errorFile;
        bool kept;
    } rows[] = {{&brakkel, true, true}, {&brakkel, false, false}, {&brakkis, true, false}, {&brakkis, false, false}};
    for (const Row& row : rows) {
        CreateDirectoryA("C:\\VELK\\SRC", nullptr);
        WriteWholeFile("C:\\VELK\\SRC\\data.cab", "x");
        if (row.errorFile)
            WriteWholeFile(kErr, "failed\r\n");
        else
            DeleteFileA(kErr);
        std::vector<char> directory = MakeWritableCopy("C:\\VELK\\SRC");
        EXPECT_TRUE(row.wrapper->CleanupInstallationFiles(directory.data()));
        EXPECT_EQ(FileExists("C:\\VELK\\SRC\\data.cab"), row.kept) << (row.wrapper == &brakkel) << row.errorFile;
    }
}
