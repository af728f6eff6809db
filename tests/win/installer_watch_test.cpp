// The watch for installer processes, with fixture processes whose paths hold the watched
// names and a fake clock: the pauses, the lines on the diskette, the kill pass.
#include "engine_test_support.h"
#include "installer_watch.h"
#include "pause.h"

#include <algorithm>

namespace {

const char kDiskette[] = "C:\\floppy";
const char kLog[] = "C:\\floppy\\LOG";
const char kCommand[] = "MSIEXEC /I C:\\APPS\\FOO\\FOO.MSI /qn";

// A process that stays until the fake clock reaches its time, or the watch ends it.
struct Watched {
    HANDLE process = nullptr;
    unsigned long leavesAtMs = 0;  // 0: never by itself
};
std::vector<Watched> g_watched;
unsigned long g_nowMs = 0;
std::vector<unsigned long>* g_pauses = nullptr;

void AdvanceFakeClock(unsigned long milliseconds)
{
    g_pauses->push_back(milliseconds);
    g_nowMs += milliseconds;
    for (Watched& watched : g_watched) {
        if (watched.leavesAtMs && g_nowMs >= watched.leavesAtMs && watched.process) {
            TerminateProcess(watched.process, 0);
            WaitForSingleObject(watched.process, INFINITE);
        }
    }
}

} // namespace

class InstallerWatchTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        CreateDirectoryA(kDiskette, nullptr);
        DeleteFileA(kLog);
        g_nowMs = 0;
        g_pauses = &pauseLengths;
        SetPauseHook(AdvanceFakeClock);
    }
    void TearDown() override
    {
        for (Watched& watched : g_watched) {
            TerminateProcess(watched.process, 0);
            WaitForSingleObject(watched.process, INFINITE);
            CloseHandle(watched.process);
        }
        g_watched.clear();
        DeleteFileA(kLog);
        RemoveDirectoryA(kDiskette);
        EngineTest::TearDown();
    }

    // Starts the task fixture under the given name; waits until the system lists its path.
    void StartWatched(const std::string& path, unsigned long leavesAtMs)
    {
        const std::string folder = path.substr(0, path.rfind('\\'));
        CreateDirectoryA(folder.c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(ToWindowsPath(VELK_TEST_TASK).c_str(), path.c_str(), FALSE));
        std::string command = path + " 0 600000 " + folder + "\\started.txt";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process));
        CloseHandle(process.hThread);
        while (ReadWholeFile(folder + "\\started.txt") == "<missing>")
            Sleep(10);
        Watched watched;
        watched.process = process.hProcess;
        watched.leavesAtMs = leavesAtMs;
        g_watched.push_back(watched);
    }
    bool AllEnded() const
    {
        return std::all_of(g_watched.begin(), g_watched.end(),
                           [](const Watched& w) { return WaitForSingleObject(w.process, 0) == WAIT_OBJECT_0; });
    }
};

TEST_F(InstallerWatchTest, NothingRunningMeansNoPauseAndNoLine)
{
    WatchInstallerProcesses("PRE INST", kCommand);
    EXPECT_TRUE(pauseLengths.empty());
    EXPECT_FALSE(FileExists(kLog));
}

TEST_F(InstallerWatchTest, AProcessThatLeavesAfterTwelveSecondsCostsThreePauses)
{
    StartWatched("C:\\VELK\\W1\\IKERNEL.EXE", 12000);
    WatchInstallerProcesses("PRE INST", kCommand);
    EXPECT_EQ(pauseLengths, (std::vector<unsigned long>{5000, 5000, 5000}));
    EXPECT_EQ(ReadWholeFile(kLog), std::string("INS PRE INST DELAYS 3 : ") + kCommand + "\r\n");
}

TEST_F(InstallerWatchTest, ProcessesThatStayAreAllEndedInOnePass)
{
    // Any folder, any letter case, and a watched name inside a longer file name.
    StartWatched("C:\\VELK\\W1\\_isdel.exe", 0);
    StartWatched("C:\\VELK\\W2\\SETUPIKERNEL.EXE", 0);
    WatchInstallerProcesses("PRE CLEAN", kCommand);
    EXPECT_EQ(pauseLengths, std::vector<unsigned long>(6, 5000));
    EXPECT_TRUE(AllEnded());
    const std::string log = ReadWholeFile(kLog);
    EXPECT_EQ(log.find(std::string("INS PRE CLEAN FAIL: ") + kCommand + "\r\n"), 0u) << log;
    EXPECT_NE(log.find("KILL PROC OK: C:\\VELK\\W1\\_ISDEL.EXE\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("KILL PROC OK: C:\\VELK\\W2\\SETUPIKERNEL.EXE\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.substr(log.size() - 16), "INS NOT IN MEM\r\n");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4);
}

TEST_F(InstallerWatchTest, WithoutADisketteTheLinesAreLostAndTheTimingStays)
{
    RemoveDirectoryA(kDiskette);
    StartWatched("C:\\VELK\\W1\\KNLWRAP.EXE", 0);
    WatchInstallerProcesses("PRE INST", kCommand);
    EXPECT_EQ(pauseLengths, std::vector<unsigned long>(6, 5000));
    EXPECT_TRUE(AllEnded());
    EXPECT_FALSE(FileExists(kLog));
}

TEST_F(InstallerWatchTest, ThePausesTakeTheirRealFiveSeconds)
{
    SetPauseHook(nullptr);
    StartWatched("C:\\VELK\\W1\\IKERNEL.EXE", 0);
    // The process leaves on its own, one second into the first real pause.
    struct Ender {
        static DWORD WINAPI Run(LPVOID process)
        {
            Sleep(1000);
            TerminateProcess(static_cast<HANDLE>(process), 0);
            return 0;
        }
    };
    HANDLE ender = CreateThread(nullptr, 0, Ender::Run, g_watched[0].process, 0, nullptr);
    const DWORD start = GetTickCount();
    WatchInstallerProcesses("PRE INST", kCommand);
    const DWORD elapsed = GetTickCount() - start;
    WaitForSingleObject(ender, INFINITE);
    CloseHandle(ender);
    EXPECT_GE(elapsed, 5000u);
    EXPECT_EQ(ReadWholeFile(kLog), std::string("INS PRE INST DELAYS 1 : ") + kCommand + "\r\n");
}
