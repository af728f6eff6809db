// The application object: start-up decisions, the log and the error file, marker files
// and the development-mode settings file.
#include "engine_test_support.h"

#include "file_rewrite.h"
#include "pause.h"
#include "shared_file.h"

namespace {
const char kLog[] = "c:\\velk\\nuv.log";
const char kErr[] = "c:\\velk\\nuv.err";
const char kLogTag[] = "c:\\velk\\nuv\\nuvlog.tag";
const char kStamp[] = "12/06/2026 - 18:25:04 ";
}

class AppTest : public EngineTest {};

TEST_F(AppTest, StartWithoutArgumentsEntersRunModeAndLogsTheSequence)
{
    WriteWholeFile(kLogTag, "");
    CTestApp app;
    EXPECT_FALSE(app.InitInstance(0, nullptr));
    EXPECT_EQ(app.runModeCalls, 1);
    const std::string log = ReadWholeFile(kLog);
    EXPECT_EQ(log.find(std::string(kStamp) + "NUV: Started -=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-\r\n\r\n"), 0u);
    EXPECT_NE(log.find(std::string(kStamp) + "CNUVApp: Called with no parameters.  Entering RUN mode\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("CNUVApp::DetectKORBEnabled(...) called\r\n"), std::string::npos);
    EXPECT_EQ(log.find("\tKORB was detected"), std::string::npos);
    EXPECT_NE(log.find("CNUVApp:: Closing mutex handle.\r\n"), std::string::npos);
    EXPECT_NE(log.find("CNUVApp:: Returning FALSE from InitInstance(...).\r\n"), std::string::npos);
}

TEST_F(AppTest, OneNonBlankArgumentShowsTheVersionBoxInstead)
{
    CTestApp app;
    char argument[] = "/?";
    char* arguments[] = {argument};
    app.InitInstance(1, arguments);
    EXPECT_EQ(app.runModeCalls, 0);
    EXPECT_EQ(GetShownBoxes(), std::vector<std::string>{"NUV 1.20 Multibyte Build 1"});
}

TEST_F(AppTest, BlankOrSeveralArgumentsMeanRunMode)
{
    char blank[] = "  \t ";
    char one[] = "a";
    char two[] = "b";
    char* blankArguments[] = {blank};
    char* twoArguments[] = {one, two};
    CTestApp first;
    first.InitInstance(1, blankArguments);
    EXPECT_EQ(first.runModeCalls, 1);
    CTestApp second;
    second.InitInstance(2, twoArguments);
    EXPECT_EQ(second.runModeCalls, 1);
    EXPECT_TRUE(GetShownBoxes().empty());
    EXPECT_FALSE(FileExists(kLog));
}

TEST_F(AppTest, ASecondInstanceLeavesSilently)
{
    WriteWholeFile(kLogTag, "");
    HANDLE other = CreateMutexA(nullptr, FALSE, "MUTEX.NUV");
    ASSERT_NE(other, nullptr);
    CTestApp app;
    EXPECT_FALSE(app.InitInstance(0, nullptr));
    EXPECT_EQ(app.runModeCalls, 0);
    EXPECT_FALSE(FileExists(kLog));
    CloseHandle(other);
}

TEST_F(AppTest, TheFinishedMarkEndsTheStartBeforeTheBanner)
{
    WriteWholeFile(kLogTag, "");
    WriteWholeFile("C:\\Velk\\nuv.dun", "");
    CTestApp app;
    EXPECT_FALSE(app.InitInstance(0, nullptr));
    EXPECT_EQ(app.runModeCalls, 0);
    EXPECT_FALSE(FileExists(kLog));
}

TEST_F(AppTest, FactoryMarkerIsDetectedAndLogged)
{
    WriteWholeFile(kLogTag, "");
    CreateDirectoryA("C:\\VELK\\KORB", nullptr);
    WriteWholeFile("C:\\VELK\\KORB\\quorvane.exe", "MZ");
    CTestApp app;
    app.InitInstance(0, nullptr);
    EXPECT_TRUE(app.IsSilentModeEnabled());
    EXPECT_NE(ReadWholeFile(kLog).find("CNUVApp::DetectKORBEnabled(...) called\r\n" + std::string(kStamp) +
                                       "\tKORB was detected\r\n"),
              std::string::npos);
}

TEST_F(AppTest, DevelopmentModeFollowsItsMarkerAndSettingsFile)
{
    {
        CTestApp app;
        app.InitInstance(0, nullptr);
        EXPECT_FALSE(app.IsDevModeActive());
    }
    WriteWholeFile("c:\\velk\\nuv\\devMode.bin", std::string(20, '\0'));
    {
        CTestApp app;
        app.InitInstance(0, nullptr);
        ASSERT_TRUE(app.IsDevModeActive());
        EXPECT_FALSE(app.GetDevMode()->GetStepMode());
    }
    WriteWholeFile("c:\\velk\\nuv\\devmode.nuv", "");
    {
        CTestApp app;
        app.InitInstance(0, nullptr);
        ASSERT_TRUE(app.IsDevModeActive());
        EXPECT_TRUE(app.GetDevMode()->GetStepMode());
    }
}

TEST_F(AppTest, LogAndErrorLinesHaveTheirExactFormat)
{
    CTestApp app;
    app.WriteLog("first");
    app.WriteLog("second");
    EXPECT_EQ(ReadWholeFile(kLog), std::string(kStamp) + "first\r\n" + kStamp + "second\r\n");
    app.WriteErrMsg("Installation Failed\r\n\t'x'");
    app.WriteErrMsg("next");
    EXPECT_EQ(ReadWholeFile(kErr), "Installation Failed\r\n\t'x'\r\nnext\r\n");
    // Logging off: WriteErrMsg's "called" line is not written.
    EXPECT_EQ(ReadWholeFile(kLog).find("WriteErrMsg"), std::string::npos);
}

TEST_F(AppTest, ErrorFlagComesFromMemoryOrFromAnErrorFileOfAnEarlierBoot)
{
    CTestApp app;
    EXPECT_FALSE(app.IsErrorFlagEnabled());
    app.SetErrorFlag();
    EXPECT_TRUE(app.IsErrorFlagEnabled());
    EXPECT_FALSE(FileExists(kErr));
    WriteWholeFile(kErr, "");
    CTestApp later;
    EXPECT_TRUE(later.IsErrorFlagEnabled());
}

TEST_F(AppTest, ALineWaitsBrieflyForAnotherWriterThenIsWritten)
{
    CTestApp app;
    // Another writer holds the error file; it lets go during the first retry pause.
    static HANDLE holder;
    holder = CreateFileA(kErr, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    SetPauseHook([](unsigned long) {
        if (holder != INVALID_HANDLE_VALUE) {
            CloseHandle(holder);
            holder = INVALID_HANDLE_VALUE;
        }
    });
    app.WriteErrMsg("first failure");
    EXPECT_EQ(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadWholeFile(kErr), "first failure\r\n");
}

TEST_F(AppTest, ALineHeldUpTooLongIsDroppedWithoutHarm)
{
    CTestApp app;
    HANDLE holder = CreateFileA(kErr, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    app.WriteErrMsg("lost");
    EXPECT_EQ(pauseLengths, (std::vector<unsigned long>{20, 20, 20, 20}));
    CloseHandle(holder);
    EXPECT_EQ(ReadWholeFile(kErr), "");
    // A missing folder is no collision: no retries, no crash.
    EXPECT_FALSE(AppendToSharedFile("c:\\velk\\missing\\x.log", "x"));
    EXPECT_EQ(pauseLengths.size(), 4u);
}

TEST_F(AppTest, CheckForFileAndTouchFiles)
{
    CTestApp app;
    EXPECT_FALSE(app.CheckForFile("c:\\velk\\none"));
    app.TouchFile("c:\\velk\\mark.dun");
    EXPECT_TRUE(app.CheckForFile("C:\\VELK\\MARK.DUN"));
    EXPECT_EQ(GetFileAttributesA("c:\\velk\\mark.dun") & FILE_ATTRIBUTE_READONLY, DWORD(FILE_ATTRIBUTE_READONLY));
    app.TouchFileNoAttribs("c:\\velk\\plain.tag");
    EXPECT_EQ(GetFileAttributesA("c:\\velk\\plain.tag") & FILE_ATTRIBUTE_READONLY, 0u);
    WriteWholeFile("c:\\velk\\kept.tag", "content");
    app.TouchFile("c:\\velk\\kept.tag");
    EXPECT_EQ(ReadWholeFile("c:\\velk\\kept.tag"), "content");
    // Held without sharing by another program: the check asks for no access rights,
    // which sharing does not refuse, so the marker still counts as present.
    HANDLE locked = CreateFileA("c:\\velk\\kept.tag", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(app.CheckForFile("c:\\velk\\kept.tag"));
    CloseHandle(locked);
    // A folder of that name is no file.
    CreateDirectoryA("c:\\velk\\folder.tag", nullptr);
    EXPECT_FALSE(app.CheckForFile("c:\\velk\\folder.tag"));
}

TEST_F(AppTest, RunListIsCopiedToTheErrorFileAndTheDiskette)
{
    WriteWholeFile("C:\\VELK\\RUN.NUV", "OSTREL.DLL,A.EXE\r\n# note\r\n");
    CTestApp app;
    app.AppendRunEntriesToErrorFile();
    EXPECT_EQ(ReadWholeFile(kErr), "\r\n-=-=-=-=-= R U N . N U V   C O N T  E N T S =-=-=-=-=-\r\n"
                                   "OSTREL.DLL,A.EXE\r\n# note\r\n");
    // No diskette drive in the test machine: nothing is written and nothing breaks.
    app.SetLoggingEnabled(TRUE);
    app.AppendRunNUVtoLOG();
    EXPECT_NE(ReadWholeFile(kLog).find("CNUVApp::AppendRunEntriesToLog(...) error opening run.nuv or log file"),
              std::string::npos);
}

TEST_F(AppTest, RunListCopyWithoutARunListWritesOnlyTheLogLine)
{
    CTestApp app;
    app.SetLoggingEnabled(TRUE);
    app.AppendRunEntriesToErrorFile();
    EXPECT_FALSE(FileExists(kErr));
    EXPECT_NE(ReadWholeFile(kLog).find("CNUVApp::AppendRunEntriesToErrorFile(...) error opening run.nuv for reading"),
              std::string::npos);
}

TEST_F(AppTest, KeyboardInputToTheMainWindowIsDiscarded)
{
    CTestApp app;
    HWND window = CreateWindowA("STATIC", "main", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HWND child = CreateWindowA("BUTTON", "ok", WS_CHILD, 0, 0, 5, 5, window, nullptr, nullptr, nullptr);
    HWND other = CreateWindowA("STATIC", "other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    MSG message = {};
    message.message = WM_KEYDOWN;
    message.hwnd = child;
    EXPECT_FALSE(app.ProcessMessageFilter(0, &message));  // no main window yet
    app.SetMainWindow(window);
    EXPECT_TRUE(app.ProcessMessageFilter(0, &message));
    message.message = WM_SYSKEYDOWN;
    message.hwnd = window;
    EXPECT_TRUE(app.ProcessMessageFilter(0, &message));
    message.hwnd = other;
    EXPECT_FALSE(app.ProcessMessageFilter(0, &message));
    message.hwnd = window;
    message.message = WM_LBUTTONDOWN;
    EXPECT_FALSE(app.ProcessMessageFilter(0, &message));
    DestroyWindow(other);
    DestroyWindow(window);
}

class DevModeTest : public EngineTest {};

TEST_F(DevModeTest, SettingsFileRoundTripsInItsByteOrder)
{
    CTestApp app;
    {
        CDevMode settings;
        settings.SetDisableAppCleanup(TRUE);
        settings.SetSkipReboots(TRUE);
        settings.SetStepMode(TRUE);
        settings.Save();
    }
    const std::string bytes = ReadWholeFile("c:\\velk\\nuv\\devMode.bin");
    EXPECT_EQ(bytes, std::string("\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\1\0\0\0", 20));
    CDevMode loaded;
    EXPECT_TRUE(loaded.GetDisableAppCleanup());
    EXPECT_FALSE(loaded.GetDisableEngineCleanup());
    EXPECT_TRUE(loaded.GetSkipReboots());
    EXPECT_FALSE(loaded.GetDetailedLogging());
    EXPECT_TRUE(loaded.GetStepMode());
}

TEST_F(DevModeTest, SettingsAreReplacedWholeAndWhatACutLeftIsPutBackBeforeTheyAreLookedFor)
{
    const char settingsPath[] = "c:\\velk\\nuv\\devMode.bin";
    const char rewrite[] = "c:\\velk\\nuv\\~devMode.bin";
    const char aside[] = "c:\\velk\\nuv\\~devMode.old";
    const std::string skipping("\0\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\0\0\0", 20);
    for (int oneStep : {1, 0}) {
        SCOPED_TRACE(oneStep ? "one step" : "renamed aside");
        SetAtomicReplaceAvailable(oneStep);
        WriteWholeFile(settingsPath, std::string(20, '\0'));
        {
            CTestApp app;
            CDevMode settings;
            settings.SetSkipReboots(TRUE);
            settings.Save();
        }
        EXPECT_EQ(ReadWholeFile(settingsPath), skipping);
        EXPECT_FALSE(FileExists(rewrite) || FileExists(aside));
    }
    // The power went after the settings stepped aside: development mode stays on, with
    // the switches the engineer set.
    DeleteFileA(settingsPath);
    WriteWholeFile(rewrite, skipping);
    WriteWholeFile(aside, std::string(20, '\0'));
    CTestApp app;
    app.InitInstance(0, nullptr);
    ASSERT_TRUE(app.IsDevModeActive());
    EXPECT_TRUE(app.GetDevMode()->GetSkipReboots());
    EXPECT_FALSE(FileExists(aside));
    SetAtomicReplaceAvailable(-1);
}

TEST_F(DevModeTest, AShortSettingsFileSetsOnlyTheValuesItHoldsWhole)
{
    CTestApp app;
    app.SetLoggingEnabled(TRUE);
    WriteWholeFile("c:\\velk\\nuv\\devMode.bin", std::string("\0\0\0\0\1\0\0\0\1\0", 10));
    CDevMode loaded;
    EXPECT_FALSE(loaded.GetDisableAppCleanup());
    EXPECT_TRUE(loaded.GetDisableEngineCleanup());
    EXPECT_FALSE(loaded.GetSkipReboots());      // only half of it is there
    EXPECT_TRUE(loaded.GetDetailedLogging());   // default: the logging switch
    EXPECT_FALSE(loaded.GetStepMode());
}

TEST_F(DevModeTest, DetailedLoggingSwitchesTheApplicationsLogging)
{
    CTestApp app;
    CDevMode* settings = app.GetDevMode();
    EXPECT_TRUE(app.IsDevModeActive());
    settings->SetDetailedLogging(TRUE);
    EXPECT_TRUE(app.IsLoggingEnabled());
    settings->SetDetailedLogging(FALSE);
    EXPECT_FALSE(app.IsLoggingEnabled());
}
