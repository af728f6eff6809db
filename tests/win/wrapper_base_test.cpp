// The behaviour every wrapper plug-in shares, through the command wrapper: tasks and their
// exit codes and time-outs, deleting a tree, and the error file's lines.
#include "command_wrapper.h"
#include "engine_test_support.h"
#include "pause.h"
#include "task_runner.h"
#include "text.h"

#include <cstdio>
#include <algorithm>

namespace {

const char kErr[] = "c:\\velk\\nuv.err";

std::string TaskPath()
{
    return ToWindowsPath(VELK_TEST_TASK);
}

std::vector<DWORD> g_waits;
DWORD RecordWait(HANDLE process, DWORD milliseconds)
{
    g_waits.push_back(milliseconds);
    return WaitForSingleObject(process, INFINITE);
}
// The time runs out as soon as the task has shown that it runs; the wait for the ended
// task is real, or times out too when the task is to play one that will not end.
bool g_taskWillNotEnd = false;
DWORD TimeOutOnceRunning(HANDLE process, DWORD milliseconds)
{
    g_waits.push_back(milliseconds);
    if (g_waits.size() > 1)
        return g_taskWillNotEnd ? WAIT_TIMEOUT : WaitForSingleObject(process, milliseconds);
    while ((ReadWholeFile("C:\\VELK\\task.pid") == "<missing>" || ReadWholeFile("C:\\VELK\\task.pid").empty()) &&
           WaitForSingleObject(process, 10) == WAIT_TIMEOUT) {
    }
    return WAIT_TIMEOUT;
}

} // namespace

class WrapperBaseTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        g_waits.clear();
        SetTaskWaitHook(RecordWait);
    }
    void TearDown() override
    {
        SetTaskWaitHook(nullptr);
        EngineTest::TearDown();
    }
    BOOL Install(const std::string& command, int timeout)
    {
        std::vector<char> text = MakeWritableCopy(command);
        return wrapper.InstallApplication(text.data(), timeout);
    }
    BOOL Clean(const std::string& directory)
    {
        std::vector<char> text = MakeWritableCopy(directory);
        return wrapper.CleanupInstallationFiles(text.data());
    }
    CCommandWrapper wrapper;
};

TEST_F(WrapperBaseTest, SuccessCodesSucceedWithoutAnErrorLine)
{
    for (int code : {0, 1604, 3010, 3011}) {
        EXPECT_TRUE(Install(TaskPath() + " " + std::to_string(code), 60)) << code;
    }
    EXPECT_FALSE(FileExists(kErr));
    EXPECT_TRUE(wrapper.PreInstallApplication());
    EXPECT_TRUE(wrapper.PostInstallApplication());
}

TEST_F(WrapperBaseTest, OtherCodesFailWithOneLineInTheFullVariantAndNoneInTheReduced)
{
    const std::string one = TaskPath() + " 1";
    const std::string two = TaskPath() + " 2";
    EXPECT_FALSE(Install(one, 60));
    EXPECT_FALSE(Install(two, 60));
    EXPECT_EQ(ReadWholeFile(kErr), "Error returned from CreateProcess on task '" + one + "', exit code: 1\r\n" +
                                       "Error returned from CreateProcess on task '" + two + "', exit code: 2\r\n");
    DeleteFileA(kErr);
    EXPECT_FALSE(RunTask(wrapper, one, 60, false));
    EXPECT_FALSE(FileExists(kErr));
}

TEST_F(WrapperBaseTest, AProgramThatDoesNotExistIsReportedWithTheSystemsCode)
{
    EXPECT_FALSE(Install("C:\\VELK\\no such program.exe", 60));
    EXPECT_EQ(ReadWholeFile(kErr), "Failed to spawn 'C:\\VELK\\no such program.exe'.  Error Number: 2\r\n");
}

TEST_F(WrapperBaseTest, ATaskPastItsTimeOutIsEndedAndReported)
{
    SetTaskWaitHook(TimeOutOnceRunning);
    const std::string command = TaskPath() + " 0 60000 C:\\VELK\\task.pid";
    for (bool willNotEnd : {false, true}) {
        g_taskWillNotEnd = willNotEnd;
        g_waits.clear();
        DeleteFileA(kErr);
        DeleteFileA("C:\\VELK\\task.pid");
        EXPECT_FALSE(Install(command, 5));
        // The wait for the ended task is bounded: a task that will not go is reported
        // and the installation goes on.
        EXPECT_EQ(g_waits, (std::vector<DWORD>{5000, 30000}));
        std::string expected = "Timeout on spanwed task '" + command + "', exit code: 0\r\n";
        if (willNotEnd)
            expected += "Task '" + command + "' had not ended 30 seconds after it was stopped for its time-out\r\n";
        EXPECT_EQ(ReadWholeFile(kErr), expected);
        const DWORD pid = std::strtoul(ReadWholeFile("C:\\VELK\\task.pid").c_str(), nullptr, 10);
        ASSERT_NE(pid, 0u);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
        if (process) {
            // Still known to the system only as an ended process.
            EXPECT_EQ(WaitForSingleObject(process, 10000), DWORD(WAIT_OBJECT_0));
            DWORD code = STILL_ACTIVE;
            GetExitCodeProcess(process, &code);
            EXPECT_EQ(code, 0u);
            CloseHandle(process);
        }
    }
    g_taskWillNotEnd = false;
}

TEST_F(WrapperBaseTest, TimeOutsBecomeWaitsInMilliseconds)
{
    const std::string command = TaskPath() + " 0";
    for (int timeout : {0, 60, -5, 2147483647})
        EXPECT_TRUE(Install(command, timeout));
    EXPECT_EQ(g_waits, (std::vector<DWORD>{900000, 60000, 900000, 0xFFFFFFFEu}));
}

TEST_F(WrapperBaseTest, DeleteTreeRemovesEverythingAndTheFolder)
{
    for (const char* trailing : {"", "\\"}) {
        CreateDirectoryA("C:\\VELK\\SRC", nullptr);
        CreateDirectoryA("C:\\VELK\\SRC\\sub", nullptr);
        CreateDirectoryA("C:\\VELK\\SRC\\sub\\deeper", nullptr);
        WriteWholeFile("C:\\VELK\\SRC\\a.txt", "a");
        WriteWholeFile("C:\\VELK\\SRC\\sub\\ro.txt", "r");
        WriteWholeFile("C:\\VELK\\SRC\\sub\\deeper\\hidden.txt", "h");
        SetFileAttributesA("C:\\VELK\\SRC\\sub\\ro.txt", FILE_ATTRIBUTE_READONLY);
        SetFileAttributesA("C:\\VELK\\SRC\\sub\\deeper\\hidden.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        EXPECT_TRUE(Clean(std::string("C:\\VELK\\SRC") + trailing)) << trailing;
        EXPECT_FALSE(FileExists("C:\\VELK\\SRC"));
    }
    EXPECT_TRUE(Clean(""));
    EXPECT_FALSE(Clean("C:\\VELK\\MISSING"));
    EXPECT_FALSE(FileExists(kErr));
    EXPECT_TRUE(pauseLengths.empty());
}

TEST_F(WrapperBaseTest, AFileHeldOpenIsRetriedTwiceReportedByNameAndTheRestIsDeleted)
{
    CreateDirectoryA("C:\\VELK\\SRC", nullptr);
    CreateDirectoryA("C:\\VELK\\SRC\\sub", nullptr);
    WriteWholeFile("C:\\VELK\\SRC\\held.txt", "h");
    WriteWholeFile("C:\\VELK\\SRC\\sub\\other.txt", "o");
    HANDLE held = CreateFileA("C:\\VELK\\SRC\\held.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Clean("C:\\VELK\\SRC"));
    EXPECT_EQ(pauseLengths, (std::vector<unsigned long>{5000, 5000}));
    const std::string errors = ReadWholeFile(kErr);
    EXPECT_EQ(errors.find("Failed to delete 'held.txt'.  Error Number: "), 0u) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
    EXPECT_FALSE(FileExists("C:\\VELK\\SRC\\sub"));
    EXPECT_TRUE(FileExists("C:\\VELK\\SRC\\held.txt"));

    // One level down, the folder that keeps the file cannot go either: it is retried
    // and reported too, by its own name.
    DeleteFileA(kErr);
    pauseLengths.clear();
    CreateDirectoryA("C:\\VELK\\SRC\\sub", nullptr);
    CloseHandle(held);
    MoveFileA("C:\\VELK\\SRC\\held.txt", "C:\\VELK\\SRC\\sub\\held.txt");
    held = CreateFileA("C:\\VELK\\SRC\\sub\\held.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Clean("C:\\VELK\\SRC"));
    CloseHandle(held);
    EXPECT_EQ(pauseLengths.size(), 4u);
    const std::string nested = ReadWholeFile(kErr);
    EXPECT_EQ(nested.find("Failed to delete 'held.txt'.  Error Number: "), 0u) << nested;
    EXPECT_NE(nested.find("\r\nFailed to delete 'sub'.  Error Number: "), std::string::npos) << nested;
}

TEST_F(WrapperBaseTest, ALinkInTheTreeOrAsTheTreeIsNeverFollowed)
{
    // The user's own folder, reached through a link in the clean-up folder, or named as
    // the clean-up folder itself. Under Wine the link cannot be removed (error 145): it is
    // reported like a held file, and what it leads to keeps every file.
    CreateDirectoryA("C:\\VELK\\DOCS", nullptr);
    WriteWholeFile("C:\\VELK\\DOCS\\letter.txt", "the user's");
    SetFileAttributesA("C:\\VELK\\DOCS\\letter.txt", FILE_ATTRIBUTE_READONLY);
    struct Row {
        const char* cleaned;
        const char* link;
        const char* reported;
    } rows[] = {
        {"C:\\VELK\\SRC\\Documents", "C:\\VELK\\SRC\\Documents", "Documents"},
        {"C:\\VELK\\SRC", "C:\\VELK\\SRC\\Documents", "Documents"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.cleaned);
        DeleteFileA(kErr);
        pauseLengths.clear();
        CreateDirectoryA("C:\\VELK\\SRC", nullptr);
        WriteWholeFile("C:\\VELK\\SRC\\setup.cab", "package");
        CUnixLink link("C:\\VELK\\DOCS", row.link);
        ASSERT_TRUE(link.IsMade());
        ASSERT_EQ(GetFileAttributesA(row.link), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
        EXPECT_FALSE(Clean(row.cleaned));
        EXPECT_EQ(ReadWholeFile("C:\\VELK\\DOCS\\letter.txt"), "the user's");
        EXPECT_TRUE(GetFileAttributesA("C:\\VELK\\DOCS\\letter.txt") & FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(ReadWholeFile(kErr), std::string("Failed to delete '") + row.reported + "'.  Error Number: 145\r\n");
        EXPECT_EQ(pauseLengths, (std::vector<unsigned long>{5000, 5000}));
    }
    // Beside the link in the tree, the package's own file went.
    EXPECT_FALSE(FileExists("C:\\VELK\\SRC\\setup.cab"));
}

TEST_F(WrapperBaseTest, EachErrorMessageAppendsExactlyOneLine)
{
    WriteWholeFile(kErr, "earlier\r\n");
    std::vector<char> first = MakeWritableCopy("first");
    std::vector<char> second = MakeWritableCopy("second");
    wrapper.WriteErrorMessage(first.data());
    wrapper.WriteErrorMessage(second.data());
    EXPECT_EQ(ReadWholeFile(kErr), "earlier\r\nfirst\r\nsecond\r\n");
    // No c:\velk folder: the line is lost, the call returns.
    DeleteTreeForTest("C:\\VELK");
    wrapper.WriteErrorMessage(first.data());
    EXPECT_FALSE(FileExists(kErr));
    CreateDirectoryA("C:\\VELK", nullptr);
}

TEST_F(WrapperBaseTest, TheEngineDrivesTheCommandWrapperLibrary)
{
    const std::string library = ToWindowsPath(VELK_TEST_OSTREL);
    CTestApp app;
    CreateDirectoryA("C:\\VELK\\SRC", nullptr);
    WriteWholeFile("C:\\VELK\\SRC\\setup.dat", "x");
    const std::string good = TaskPath() + " 3010";
    const std::string bad = TaskPath() + " 2";
    WriteWholeFile("C:\\VELK\\RUN.NUV", library + "," + good + ",C:\\VELK\\SRC,10\r\n" + library + "," + bad + "\r\n");
    app.GetControlManager().InstallApplications();
    const std::string runList = ReadWholeFile("C:\\VELK\\RUN.NUV");
    EXPECT_EQ(runList, library + ", " + good + ", C:\\VELK\\SRC, 10, , START 18:25:04, STOP 18:25:04, CLEAN 18:25:04\r\n" +
                           library + ", " + bad + ", , , , START 18:25:04\r\n");
    EXPECT_FALSE(FileExists("C:\\VELK\\SRC"));
    EXPECT_EQ(ReadWholeFile(kErr), "Error returned from CreateProcess on task '" + bad + "', exit code: 2\r\n" +
                                       "Installation Failed\r\n\t'" + library + ", " + bad + ", , , , START 18:25:04'\r\n");
}
