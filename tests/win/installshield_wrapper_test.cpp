// The InstallShield wrappers with a set-up that behaves like one: the result from its log
// file, the lines it leaves, the watch after it, and the two libraries' clean-ups.
#include "engine_test_support.h"
#include "installshield_wrapper.h"
#include "pause.h"
#include "text.h"

#include <memory>

namespace {

const char kErr[] = "c:\\velk\\nuv.err";
const char kDiagnostics[] = "C:\\floppy\\LOG";
const char kSetup[] = "C:\\VELK\\IS\\SETUP.EXE";
// A folder with a blank and what looks like a placeholder: the program is quoted.
const char kSpacedFolder[] = "C:\\VELK\\IS %s";
const char kLogFolder[] = "C:\\VELK\\IS-LOGS";
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
        CreateDirectoryA(kSpacedFolder, nullptr);
        CreateDirectoryA(kLogFolder, nullptr);
        ASSERT_TRUE(CopyFileA(kSetup, (std::string(kSpacedFolder) + "\\SETUP.EXE").c_str(), FALSE));
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
};

TEST_F(InstallShieldWrapperTest, TheLogFileDecidesAndEveryOutcomeLeavesItsLines)
{
    const std::string setup = kSetup;
    const std::string spaced = "\"" + std::string(kSpacedFolder) + "\\SETUP.EXE\"";
    struct Row {
        std::string program;
        const char* options;
        BOOL result;
        std::string errors;
        std::string diagnostics;
        int staleLog = 0;  // a setup.log with ResultCode=0 lies beside the program: 1 from 2020, 2 written just now
    } rows[] = {
        {setup, " /code=0", TRUE, "", ""},
        {setup, " /code=-3", FALSE, "Error InstallShield install failed: " + setup + " /code=-3 /SMS /S Error Code: -3\r\n",
         ""},
        {setup, "", FALSE, "Error InstallShield install failed: " + setup + " /SMS /S Error Code: 2\r\n",
         "INS NO LOG C:\\VELK\\IS\\setup.log FOR: " + setup + " /SMS /S\r\n"},
        // The reduced variant: a failing exit code is not reported, the log says success.
        {setup, " /code=0 /exit=5", TRUE, "", ""},
        // The watch after a successful run waits for the set-up's helper.
        {setup, " /code=0 /ikernel=60000", TRUE, "",
         "INS PRE CLEAN DELAYS 1 : " + setup + " /code=0 /ikernel=60000 /SMS /S\r\n"},
        // The log is read where the set-up writes it: beside a quoted program, at an F2
        // path with "-" or with quoted blanks.
        {spaced, " /code=0", TRUE, "", ""},
        {spaced, "", FALSE, "Error InstallShield install failed: " + spaced + " /SMS /S Error Code: 2\r\n",
         "INS NO LOG C:\\VELK\\IS %s\\setup.log FOR: " + spaced + " /SMS /S\r\n"},
        {setup, " /code=0 /f2C:\\VELK\\IS-LOGS\\IS.LOG", TRUE, "", ""},
        {setup, " /code=0 /f2\"C:\\VELK\\IS %s\\result log.txt\"", TRUE, "", ""},
        // A log from an earlier run is no log of this one: a set-up that wrote none failed.
        {setup, "", FALSE, "Error InstallShield install failed: " + setup + " /SMS /S Error Code: 2\r\n",
         "INS NO LOG C:\\VELK\\IS\\setup.log FOR: " + setup + " /SMS /S\r\n", 1},
        // The entry before wrote it a moment ago: still not this run's (no clock decides).
        {setup, "", FALSE, "Error InstallShield install failed: " + setup + " /SMS /S Error Code: 2\r\n",
         "INS NO LOG C:\\VELK\\IS\\setup.log FOR: " + setup + " /SMS /S\r\n", 2},
        {setup, " /code=-3", FALSE, "Error InstallShield install failed: " + setup + " /code=-3 /SMS /S Error Code: -3\r\n",
         "", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.program + row.options);
        for (const char* file : {kErr, kDiagnostics, kRecord, "C:\\VELK\\IS\\setup.log", "C:\\VELK\\IS %s\\setup.log"})
            DeleteFileA(file);
        if (row.staleLog != 0)
            WriteWholeFile("C:\\VELK\\IS\\setup.log", "[ResponseResult]\r\nResultCode=0\r\n");
        if (row.staleLog == 1)
            SetWriteTime("C:\\VELK\\IS\\setup.log", 2020, 6, 1, 9);
        EXPECT_EQ(Install(brakkis, row.program + row.options), row.result);
        EXPECT_EQ(ReadWholeFile(kRecord).find("run " + row.program + row.options + " /SMS /S\r\n"), 0u);
        EXPECT_EQ(ReadWholeFile(kErr), row.errors.empty() ? "<missing>" : row.errors);
        EXPECT_EQ(ReadWholeFile(kDiagnostics), row.diagnostics.empty() ? "<missing>" : row.diagnostics);
    }
}

TEST_F(InstallShieldWrapperTest, BrakkelKeepsTheSourcesOfAFailedRun)
{
    // The two shipped libraries, as the engine loads them.
    struct Row {
        const char* library;
        bool errorFile;
        bool kept;
    } rows[] = {{VELK_TEST_BRAKKEL, true, true}, {VELK_TEST_BRAKKEL, false, false}, {VELK_TEST_BRAKKIS, true, false},
                {VELK_TEST_BRAKKIS, false, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.library) + (row.errorFile ? ", error file" : ""));
        HMODULE library = LoadLibraryA(ToWindowsPath(row.library).c_str());
        ASSERT_NE(library, nullptr);
        const auto create = reinterpret_cast<CreateWrapperInstanceProc>(
            reinterpret_cast<void*>(GetProcAddress(library, WRAPPER_CREATE_EXPORT)));
        const auto destroy = reinterpret_cast<DestroyWrapperInstanceProc>(
            reinterpret_cast<void*>(GetProcAddress(library, WRAPPER_DESTROY_EXPORT)));
        ASSERT_TRUE(create && destroy);
        CreateDirectoryA("C:\\VELK\\SRC", nullptr);
        WriteWholeFile("C:\\VELK\\SRC\\data.cab", "x");
        if (row.errorFile)
            WriteWholeFile(kErr, "failed\r\n");
        else
            DeleteFileA(kErr);
        CWrapper* wrapper = create();
        ASSERT_NE(wrapper, nullptr);
        std::vector<char> directory = MakeWritableCopy("C:\\VELK\\SRC");
        EXPECT_TRUE(wrapper->CleanupInstallationFiles(directory.data()));
        EXPECT_EQ(FileExists("C:\\VELK\\SRC\\data.cab"), row.kept);
        destroy(wrapper);
        FreeLibrary(library);
    }
}

TEST_F(InstallShieldWrapperTest, AResultFileOfAnyFormOrHeldGivesItsCodeOrTheMissingResult)
{
    // The set-up writes the file, the wrapper only reads it: it is never changed. A file
    // that cannot be read, wherever it is missing from, gives the missing result, 2.
    const std::string result = "[ResponseResult]\r\nResultCode=";
    std::string many;
    for (int i = 0; i < 100000; ++i)
        many += "Key=Value\r\n";
    struct Row {
        const char* name;
        std::string content;  // none: the path alone
        bool readOnly;
        int hold;             // 0 none, 1 held as scanners hold it, 2 locked
        int code;
    } rows[] = {
        {"empty", "", false, 0, 2},
        {"binary", std::string("MZ\x90\0\3\0\0\0\xff\xfe\r\n", 12) + result + "0\r\n", false, 0, 0},
        {"one 1 MB line", std::string(1 << 20, 'x') + "\r\n" + result + "-3\r\n", false, 0, -3},
        {"a code of 1 MB", result + std::string(1 << 20, '0') + "\r\n", false, 0, 0},
        {"100 000 lines", "[Other]\r\n" + many + result + "0\r\n", false, 0, 0},
        {"no line end", result + "-3", false, 0, -3},
        {"invalid multibyte", "\x81\xff\xe0\x80\xc3\x28 \x82\r\n" + result + "0\r\n\x82", false, 0, 0},
        {"read-only", result + "0\r\n", true, 0, 0},
        {"held", result + "0\r\n", false, 1, 0},
        {"locked", result + "0\r\n", false, 2, 2},
    };
    int number = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // A file of its own for each row: the system may keep what it read of a file.
        const std::string path = "C:\\VELK\\IS\\result" + std::to_string(++number) + ".log";
        WriteWholeFile(path, row.content);
        if (row.readOnly)
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
        std::unique_ptr<CHolder> holder;
        if (row.hold != 0)
            holder.reset(new CHolder(path, row.hold == 2));
        EXPECT_EQ(ReadInstallShieldResult(path), row.code);
        holder.reset();
        EXPECT_EQ(ReadWholeFile(path), row.content);
    }
    EXPECT_EQ(ReadInstallShieldResult("C:\\VELK\\NOFOLDER\\setup.log"), 2);
    EXPECT_EQ(ReadInstallShieldResult("Q:\\setup.log"), 2);
}
