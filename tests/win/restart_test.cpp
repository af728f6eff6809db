// What happens after the walk: the final-restart rule, the restart sequence's switches,
// and the countdown dialog's end.
#include "engine_test_support.h"

#include "restart_dlg.h"

namespace {

class CRestartRecordingApp : public CTestApp
{
public:
    int exitWindowsCalls = 0;

protected:
    void CallExitWindows() override { ++exitWindowsCalls; }
};

} // namespace

class RestartTest : public EngineTest {};

TEST_F(RestartTest, ARestartAskedForByTheLastEntryIsTheFinalOne)
{
    WriteWholeFile("C:\\VELK\\RUN.NUV", "MISSING.DLL,a,,,,START 1,STOP 2,CLEAN 3\r\nx,y,,,REBOOT\r\n# end\r\n");
    CTestApp app;
    CControlManager& manager = app.GetControlManager();
    delete manager.GetEntry();
    delete manager.GetEntry();  // the walk stopped at the REBOOT entry
    app.SetSystemShutdown(TRUE, FALSE);
    EXPECT_TRUE(app.GetSystemShutdownFinal());
}

TEST_F(RestartTest, ARestartWithEntriesLeftIsIntermediate)
{
    WriteWholeFile("C:\\VELK\\RUN.NUV", "x,y,,,REBOOT\r\nx,z\r\n");
    CTestApp app;
    delete app.GetControlManager().GetEntry();
    app.SetSystemShutdown(TRUE, FALSE);
    EXPECT_FALSE(app.GetSystemShutdownFinal());
}

TEST_F(RestartTest, NoRestartIsRequestedWithoutAReason)
{
    CRestartRecordingApp app;
    app.InitInstance(0, nullptr);
    EXPECT_EQ(app.exitWindowsCalls, 0);
}

TEST_F(RestartTest, DevelopmentModeSavesItsSettingsOnlyBeforeAnIntermediateRestart)
{
    const std::string zeros(20, '\0');
    struct Row {
        const char* name;
        BOOL skipReboots, final;
        int restarts;
        bool saved;
    } rows[] = {
        {"intermediate", FALSE, FALSE, 1, true},
        {"final", FALSE, TRUE, 1, false},
        {"skip reboots", TRUE, FALSE, 0, false},
    };
    for (const Row& row : rows) {
        WriteWholeFile("c:\\velk\\nuv\\devMode.bin", zeros);
        struct App : CRestartRecordingApp {
            BOOL skip = FALSE, final = FALSE;

        protected:
            void RunProgressDialog() override
            {
                GetDevMode()->SetStepMode(TRUE);
                GetDevMode()->SetSkipReboots(skip);
                SetSystemShutdown(TRUE, final);
            }
        } app;
        app.skip = row.skipReboots;
        app.final = row.final;
        app.InitInstance(0, nullptr);
        EXPECT_EQ(app.exitWindowsCalls, row.restarts) << row.name;
        // Saved: development mode and the paused walk come back after the restart.
        const std::string expected = row.saved ? std::string("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\1\0\0\0", 20) : zeros;
        EXPECT_EQ(ReadWholeFile("c:\\velk\\nuv\\devMode.bin"), expected) << row.name;
    }
}

TEST_F(RestartTest, TheFactorySetsAutomaticLogonBeforeTheRestart)
{
    CreateDirectoryA("C:\\VELK\\KORB", nullptr);
    WriteWholeFile("C:\\VELK\\KORB\\quorvane.exe", "MZ");
    const char winlogon[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, winlogon, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegDeleteValueA(key, "AutoAdminLogon");
    struct App : CRestartRecordingApp {
    protected:
        void RunProgressDialog() override { SetSystemShutdown(TRUE, FALSE); }
    } app;
    app.InitInstance(0, nullptr);
    EXPECT_EQ(app.exitWindowsCalls, 1);
    char value[8] = "";
    DWORD size = sizeof value;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "AutoAdminLogon", nullptr, &type, reinterpret_cast<BYTE*>(value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(std::string(value), "1");
    EXPECT_EQ(size, 2u);
    RegDeleteValueA(key, "AutoAdminLogon");
    RegCloseKey(key);
}

TEST_F(RestartTest, EndingTheCountdownWhenItIsNotOpenDoesNothing)
{
    CRestartDlg countdown;
    EXPECT_FALSE(countdown.IsOpen());
    countdown.OnOK();
    EXPECT_FALSE(countdown.IsOpen());
}

TEST_F(RestartTest, TheFinalCleanUpRemovesOnlyTheEnginesOwnFilesAndValues)
{
    // The engine's folder with the program, a plug-in, and a subfolder someone put there;
    // the run list; the three Run values and one of another program beside them.
    WriteWholeFile("C:\\VELK\\NUV\\NUV.EXE", "MZ engine");
    WriteWholeFile("C:\\VELK\\NUV\\OSTREL.DLL", "MZ plug-in");
    SetFileAttributesA("C:\\VELK\\NUV\\OSTREL.DLL", FILE_ATTRIBUTE_READONLY);
    CreateDirectoryA("C:\\VELK\\NUV\\KEEP", nullptr);
    WriteWholeFile("C:\\VELK\\NUV\\KEEP\\notes.txt", "kept");
    WriteWholeFile("C:\\VELK\\RUN.NUV", "OSTREL.DLL, A.EXE, , , , START 1, STOP 2, CLEAN 3\r\n");
    const char runKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, runKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const char* name : {"Velk NUV", "Velk NUV2", "Velk NUV3", "Velk Other"})
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
    // The deletions at the next start go to WININIT.INI here, not to the test machine.
    SetDelayedDeletionAvailable(FALSE);
    CTestApp app;
    EXPECT_TRUE(app.DeleteFiles(nullptr));
    SetDelayedDeletionAvailable(TRUE);
    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, MAX_PATH);
    DeleteFileA((std::string(windows) + "\\WININIT.INI").c_str());

    EXPECT_EQ(ReadWholeFile("C:\\VELK\\NUV\\NUV.EXE"), "MZ engine");
    EXPECT_FALSE(FileExists("C:\\VELK\\NUV\\OSTREL.DLL"));
    EXPECT_EQ(ReadWholeFile("C:\\VELK\\NUV\\KEEP\\notes.txt"), "kept");
    EXPECT_EQ(ReadWholeFile("C:\\VELK\\RUN.NUV"), "OSTREL.DLL, A.EXE, , , , START 1, STOP 2, CLEAN 3\r\n");
    EXPECT_TRUE(GetFileAttributesA("C:\\VELK\\RUN.NUV") & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(FileExists("C:\\Velk\\nuv.dun"));
    EXPECT_FALSE(FileExists("c:\\velk\\nuv.err"));
    for (const char* name : {"Velk NUV", "Velk NUV2", "Velk NUV3"})
        EXPECT_NE(RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS) << name;
    EXPECT_EQ(RegQueryValueExA(key, "Velk Other", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    RegDeleteValueA(key, "Velk Other");
    RegCloseKey(key);
}
