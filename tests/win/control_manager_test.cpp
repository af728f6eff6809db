// The walk over the run list with test plug-ins whose results are scripted and whose
// calls are recorded: phases, stamps, messages to the error file, restarts, progress.
#include "engine_test_support.h"
#include "file_rewrite.h"
#include "text.h"

#include <cstdlib>
#include <functional>
#include <memory>

namespace {

const char kRunList[] = "C:\\VELK\\RUN.NUV";
const char kErr[] = "c:\\velk\\nuv.err";

std::string PluginPath(const std::string& name)
{
    return ToWindowsPath(std::string(VELK_TEST_PLUGIN_DIR) + "/" + name);
}

std::vector<std::pair<UINT, LPARAM>> g_progress;
// Another program's change to the run list, made as the first entry is reported done.
std::function<void()> g_changeAtFirstStep;

LRESULT CALLBACK RecordProgress(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PROGRESS_INIT || message == WM_PROGRESS_STEP)
        g_progress.push_back({message, lParam});
    if (message == WM_PROGRESS_STEP && g_changeAtFirstStep) {
        g_changeAtFirstStep();
        g_changeAtFirstStep = nullptr;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

typedef void (*ResetProc)();
typedef void (*SetResultsProc)(const char*);
typedef const char* (*GetRecordProc)();
typedef int (*LiveObjectsProc)();
typedef void (*SetInstallHookProc)(void (*)());

// The operator who opens "Dev Mode" while an entry installs and ticks both switches.
CNUVApp* g_operatorApp = nullptr;
void TickSwitchesDuringInstall()
{
    CDevMode* devMode = g_operatorApp->GetDevMode();
    devMode->SetSkipReboots(TRUE);
    devMode->SetDisableAppCleanup(TRUE);
}

// Another program that empties the run list while an entry installs.
void EmptyRunListDuringInstall()
{
    WriteWholeFile(kRunList, "");
}

// A scanner that comes upon the run list while an entry installs and keeps it open.
std::unique_ptr<CHolder> g_scanner;
void ScanRunListDuringInstall()
{
    g_scanner.reset(new CHolder(kRunList));
}

} // namespace

class WalkTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        // Held by the test too, so that the plug-in keeps its record across the walk.
        scripted = LoadLibraryA(PluginPath("scripted_wrapper.dll").c_str());
        ASSERT_NE(scripted, nullptr);
        reset = reinterpret_cast<ResetProc>(reinterpret_cast<void*>(GetProcAddress(scripted, "ScriptedReset")));
        setResults =
            reinterpret_cast<SetResultsProc>(reinterpret_cast<void*>(GetProcAddress(scripted, "ScriptedSetResults")));
        getRecord =
            reinterpret_cast<GetRecordProc>(reinterpret_cast<void*>(GetProcAddress(scripted, "ScriptedGetRecord")));
        liveObjects =
            reinterpret_cast<LiveObjectsProc>(reinterpret_cast<void*>(GetProcAddress(scripted, "ScriptedLiveObjects")));
        setInstallHook = reinterpret_cast<SetInstallHookProc>(
            reinterpret_cast<void*>(GetProcAddress(scripted, "ScriptedSetInstallHook")));
        ASSERT_TRUE(reset && setResults && getRecord && liveObjects && setInstallHook);
        reset();
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = RecordProgress;
        windowClass.lpszClassName = "WalkTestProgress";
        RegisterClassA(&windowClass);
        window = CreateWindowA("WalkTestProgress", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        app.SetMainWindow(window);
        g_progress.clear();
    }

    void TearDown() override
    {
        DestroyWindow(window);
        FreeLibrary(scripted);
        EngineTest::TearDown();
    }

    std::string Scripted() const { return PluginPath("scripted_wrapper.dll"); }
    std::string Record() const { return getRecord(); }
    std::string RunList() const { return ReadWholeFile(kRunList); }
    int Steps() const
    {
        int steps = 0;
        for (const auto& message : g_progress)
            steps += message.first == WM_PROGRESS_STEP;
        return steps;
    }
    void Walk() { app.GetControlManager().InstallApplications(); }

    CTestApp app;
    HMODULE scripted = nullptr;
    ResetProc reset = nullptr;
    SetResultsProc setResults = nullptr;
    GetRecordProc getRecord = nullptr;
    LiveObjectsProc liveObjects = nullptr;
    SetInstallHookProc setInstallHook = nullptr;
    HWND window = nullptr;
    const std::string stamp = "18:25:04";
};

TEST_F(WalkTest, ANewEntryRunsEveryPhaseAndGetsItsThreeStamps)
{
    app.SetLoggingEnabled(TRUE);
    WriteWholeFile(kRunList, Scripted() + ",setup.exe /s,C:\\VELK\\APPS\\X,600\r\n");
    // Copies that replacements cut off after their renames left beside the list, the
    // engine's and Hobrint's: older than the list, they go as the walk begins.
    WriteWholeFile("C:\\VELK\\~RUN.OLD", "an older list\r\n");
    WriteWholeFile("C:\\VELK\\~RUN.NUV.OLD", "an older list\r\n");
    Walk();
    EXPECT_FALSE(FileExists("C:\\VELK\\~RUN.OLD") || FileExists("C:\\VELK\\~RUN.NUV.OLD"));
    EXPECT_EQ(Record(), "create 1\npre 1\ninstall 1 600 setup.exe /s\npost 1\ncleanup 1 C:\\VELK\\APPS\\X\ndestroy 1\n");
    EXPECT_EQ(RunList(), Scripted() + ", setup.exe /s, C:\\VELK\\APPS\\X, 600, , START " + stamp + ", STOP " + stamp +
                             ", CLEAN " + stamp + "\r\n");
    ASSERT_EQ(g_progress.size(), 2u);
    EXPECT_EQ(g_progress[0], std::make_pair(WM_PROGRESS_INIT, LPARAM(MAKELPARAM(0, 1))));
    EXPECT_EQ(g_progress[1].first, WM_PROGRESS_STEP);
    EXPECT_FALSE(FileExists(kErr));
    EXPECT_FALSE(app.IsSystemShutdownRequested());
    EXPECT_EQ(liveObjects(), 0);

    const std::string log = ReadWholeFile("c:\\velk\\nuv.log");
    const char* expected[] = {"CControlManager::InstallApplications(...) called",
                              "CControlManager::InstallApplications(...) GetEntry(...) return valid entry",
                              "\tSetting start time",
                              "\tLoadWrapperAndCreateInstance(...) was successful",
                              "\tNo stop time detected.  Proceeding with installation",
                              "\tCalling pWrapper->PreInstallApplication(...)",
                              "\tCalling pWrapper->InstallApplication(...)",
                              "\tCalling pWrapper->PostInstallApplication(...)",
                              "\tInstallations successful.  Entering stop time.",
                              "\tCleanupInstallationFiles(...) complete.  Entering clean time.",
                              "\tDeleting entry object...",
                              "CControlManager::InstallApplications(...) UnloadWrappers(...) being called"};
    std::string::size_type at = 0;
    for (const char* line : expected) {
        at = log.find(std::string(line) + "\r\n", at);
        ASSERT_NE(at, std::string::npos) << line;
    }
}

struct StampRow {
    const char* stamps;      // fields 6 to 8 as prepared
    const char* calls;       // the plug-in's record
    const char* written;     // fields 6 to 8 afterwards; nullptr: the line is not rewritten
};

class StampTableTest : public WalkTest, public ::testing::WithParamInterface<StampRow> {};

TEST_P(StampTableTest, TheStampsDecideWhatThePassDoes)
{
    const StampRow row = GetParam();
    WriteWholeFile(kRunList, Scripted() + ",cmd,C:\\SRC,5,REBOOT" + row.stamps + "\r\n");
    Walk();
    EXPECT_EQ(Record(), row.calls);
    if (row.written)
        EXPECT_EQ(RunList(), Scripted() + ", cmd, C:\\SRC, 5, REBOOT" + row.written + "\r\n");
    else
        EXPECT_EQ(RunList(), Scripted() + ",cmd,C:\\SRC,5,REBOOT" + row.stamps + "\r\n");
    EXPECT_FALSE(FileExists(kErr));
    // A restart follows only a clean-up phase of this pass.
    const bool cleaned = std::string(row.calls).find("cleanup") != std::string::npos;
    EXPECT_EQ(app.IsSystemShutdownRequested(), cleaned ? TRUE : FALSE);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StampTableTest,
    ::testing::Values(
        StampRow{"", "create 1\npre 1\ninstall 1 5 cmd\npost 1\ncleanup 1 C:\\SRC\ndestroy 1\n",
                 ", START 18:25:04, STOP 18:25:04, CLEAN 18:25:04"},
        StampRow{",START 1,STOP 2,CLEAN 3", "create 1\ndestroy 1\n", nullptr},
        StampRow{",START 1,,CLEAN 3", "create 1\npre 1\ninstall 1 5 cmd\npost 1\ndestroy 1\n",
                 ", START 1, STOP 18:25:04, CLEAN 3"},
        StampRow{",,STOP 2", "create 1\ncleanup 1 C:\\SRC\ndestroy 1\n", ", START 18:25:04, STOP 2, CLEAN 18:25:04"},
        StampRow{",,,CLEAN 3", "create 1\npre 1\ninstall 1 5 cmd\npost 1\ndestroy 1\n",
                 ", START 18:25:04, STOP 18:25:04, CLEAN 3"},
        StampRow{",,STOP 2,CLEAN 3", "create 1\ndestroy 1\n", ", START 18:25:04, STOP 2, CLEAN 3"}));

TEST_F(WalkTest, AnEntryStartedOnAnEarlierBootButNeverCleanedFailsTheRun)
{
    WriteWholeFile(kRunList, Scripted() + ",cmd,,,,START 1,STOP 2\r\n" + Scripted() + ",next\r\n");
    Walk();
    EXPECT_EQ(Record(), "");
    EXPECT_EQ(ReadWholeFile(kErr), "Failing Download. Install started but did not complete before reboot! :\r\n\t'" +
                                       Scripted() + ", cmd, , , , START 1, STOP 2'\r\n");
    EXPECT_EQ(Steps(), 0);
    EXPECT_EQ(RunList(), Scripted() + ",cmd,,,,START 1,STOP 2\r\n" + Scripted() + ",next\r\n");
}

TEST_F(WalkTest, ALibraryThatDoesNotLoadFailsTheEntryWithItsLoadMessages)
{
    struct Case {
        const char* plugin;
        const char* error;
    } cases[] = {
        {"no_such_wrapper.dll", "126"},
        // The C plug-in built for the other architecture: refused by the system's loader.
        {"other_arch_wrapper.dll", "193"},
    };
    for (const Case& c : cases) {
        DeleteFileA(kErr);
        g_progress.clear();
        const std::string plugin = PluginPath(c.plugin);
        WriteWholeFile(kRunList, plugin + ",cmd\r\n" + Scripted() + ",next\r\n");
        CTestApp fresh;
        fresh.SetMainWindow(window);
        fresh.GetControlManager().InstallApplications();
        EXPECT_EQ(ReadWholeFile(kErr), "Failed to load library " + plugin + " Error Number: " + c.error + "\r\n" +
                                           "LoadWrapperAndCreateInstace return NULL unable to proceed with\r\n\t'" +
                                           plugin + ", cmd, , , , START 18:25:04'\r\n")
            << c.plugin;
        EXPECT_EQ(Steps(), 1) << c.plugin;
        EXPECT_EQ(Record(), "") << c.plugin;
    }
}

TEST_F(WalkTest, PlugInsWithoutTheirExportsOrObjectFail)
{
    struct Case {
        const char* plugin;
        std::string firstLine;
    } cases[] = {
        {"no_create_wrapper.dll", "Failed to load 'CreateWrapperInstance' function.  Error Number: 127\r\n"},
        {"no_destroy_wrapper.dll", "Failed to load 'DestroyWrapperInstance' function.  Error Number: 127\r\n"},
        {"null_wrapper.dll", ""},
    };
    const UINT previousMode = SetErrorMode(0);
    for (const Case& c : cases) {
        DeleteFileA(kErr);
        const std::string plugin = PluginPath(c.plugin);
        WriteWholeFile(kRunList, plugin + ",cmd\r\n");
        CTestApp fresh;
        fresh.GetControlManager().InstallApplications();
        EXPECT_EQ(ReadWholeFile(kErr), c.firstLine + "LoadWrapperAndCreateInstace return NULL unable to proceed with\r\n\t'" +
                                           plugin + ", cmd, , , , START 18:25:04'\r\n")
            << c.plugin;
        // Nothing of the library is left loaded after the walk.
        EXPECT_EQ(GetModuleHandleA(plugin.c_str()), nullptr) << c.plugin;
    }
    // While a plug-in loads, a missing DLL of its own gives no system box.
    const UINT mode = std::strtoul(ReadWholeFile("C:\\VELK\\load_error_mode.txt").c_str(), nullptr, 10);
    EXPECT_EQ(mode & SEM_FAILCRITICALERRORS, UINT(SEM_FAILCRITICALERRORS));
    EXPECT_EQ(SetErrorMode(previousMode), 0u);  // and the mode is given back
}

TEST_F(WalkTest, CreateReturningNullLeavesTheLibraryCachedAndEndsTheWalk)
{
    setResults("create:0");
    WriteWholeFile(kRunList, Scripted() + ",one\r\n" + Scripted() + ",two\r\n");
    Walk();
    EXPECT_EQ(Record(), "create null\n");
    EXPECT_EQ(ReadWholeFile(kErr), "LoadWrapperAndCreateInstace return NULL unable to proceed with\r\n\t'" + Scripted() +
                                       ", one, , , , START 18:25:04'\r\n");
    EXPECT_EQ(Steps(), 1);
}

TEST_F(WalkTest, TheFirstFailingInstallPhaseSkipsTheRestAndLeavesStopEmpty)
{
    struct Case {
        const char* script;
        const char* calls;
    } cases[] = {
        {"pre:0", "create 1\npre 1\ndestroy 1\n"},
        {"install:0", "create 1\npre 1\ninstall 1 0 cmd\ndestroy 1\n"},
        {"post:0", "create 1\npre 1\ninstall 1 0 cmd\npost 1\ndestroy 1\n"},
    };
    for (const Case& c : cases) {
        reset();
        setResults(c.script);
        DeleteFileA(kErr);
        WriteWholeFile(kRunList, Scripted() + ",cmd,C:\\SRC,,REBOOT\r\n" + Scripted() + ",next\r\n");
        CTestApp fresh;
        fresh.GetControlManager().InstallApplications();
        EXPECT_EQ(Record(), c.calls) << c.script;
        EXPECT_EQ(ReadWholeFile(kErr), "Installation Failed\r\n\t'" + Scripted() + ", cmd, C:\\SRC, , REBOOT, START " +
                                           stamp + "'\r\n");
        EXPECT_EQ(RunList(), Scripted() + ", cmd, C:\\SRC, , REBOOT, START " + stamp + "\r\n" + Scripted() + ",next\r\n");
        // No restart after a failed install, and the walk ends.
        EXPECT_FALSE(fresh.IsSystemShutdownRequested());
    }
}

TEST_F(WalkTest, AFailedCleanUpStillRestartsWhenTheEntryAsksForIt)
{
    setResults("cleanup:0");
    WriteWholeFile(kRunList, Scripted() + ",cmd,C:\\SRC,,reboot\r\n" + Scripted() + ",next\r\n");
    Walk();
    EXPECT_EQ(ReadWholeFile(kErr), "CleanupInstallationFiles Failed\r\n\t'" + Scripted() + ", cmd, C:\\SRC, , REBOOT, START " +
                                       stamp + ", STOP " + stamp + "'\r\n");
    EXPECT_TRUE(app.IsSystemShutdownRequested());
    EXPECT_EQ(Record(), "create 1\npre 1\ninstall 1 0 cmd\npost 1\ncleanup 1 C:\\SRC\ndestroy 1\n");
    EXPECT_EQ(Steps(), 0);
}

TEST_F(WalkTest, ARebootEntryEndsTheWalkWithARestartRequest)
{
    app.SetLoggingEnabled(TRUE);
    WriteWholeFile(kRunList, Scripted() + ",first,,,REBOOT\r\n" + Scripted() + ",second\r\n");
    Walk();
    EXPECT_TRUE(app.IsSystemShutdownRequested());
    EXPECT_FALSE(app.GetControlManager().IsLastEntry());
    EXPECT_EQ(Record(), "create 1\npre 1\ninstall 1 0 first\npost 1\ndestroy 1\n");
    EXPECT_EQ(Steps(), 0);
    const std::string log = ReadWholeFile("c:\\velk\\nuv.log");
    EXPECT_NE(log.find("\tNo clean directory.  Entering clean time as placeholder.\r\n"), std::string::npos);
    EXPECT_NE(log.find("\tItem requested an intermediate reboot.  Calling system shutdown...\r\n"), std::string::npos);
    EXPECT_NE(log.find("CNUVApp::SetSystemShutdown(...) called [bSet=TRUE,bFinal=FALSE]\r\n"), std::string::npos);
    EXPECT_EQ(log.find("UnloadWrappers(...) being called"), std::string::npos);
}

TEST_F(WalkTest, DevelopmentModeCanSkipTheRestartAndTheCleanUp)
{
    app.SetLoggingEnabled(TRUE);
    CDevMode* devMode = app.GetDevMode();
    devMode->SetSkipReboots(TRUE);
    devMode->SetDisableAppCleanup(TRUE);
    WriteWholeFile(kRunList, Scripted() + ",first,C:\\SRC,,REBOOT\r\n" + Scripted() + ",second\r\n");
    Walk();
    EXPECT_FALSE(app.IsSystemShutdownRequested());
    EXPECT_EQ(Record(), "create 1\npre 1\ninstall 1 0 first\npost 1\ndestroy 1\n"
                        "create 2\npre 2\ninstall 2 0 second\npost 2\ndestroy 2\n");
    EXPECT_EQ(Steps(), 2);
    const std::string log = ReadWholeFile("c:\\velk\\nuv.log");
    EXPECT_NE(log.find("\tDevelopment mode disabled source cleanup.  Entering clean time as placeholder.\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("\tItem requested an intermediate reboot.  Development Mode skip reboot enabled. Skipping "
                       "reboot...\r\n"),
              std::string::npos);
}

TEST_F(WalkTest, SwitchesTickedWhileAnEntryInstallsCountForThatEntry)
{
    g_operatorApp = &app;
    setInstallHook(TickSwitchesDuringInstall);
    WriteWholeFile(kRunList, Scripted() + ",first,C:\\SRC,,REBOOT\r\n" + Scripted() + ",second\r\n");
    Walk();
    // No clean-up, no restart: the walk goes on to the end, as the switches say.
    EXPECT_FALSE(app.IsSystemShutdownRequested());
    EXPECT_EQ(Record(), "create 1\npre 1\ninstall 1 0 first\npost 1\ndestroy 1\n"
                        "create 2\npre 2\ninstall 2 0 second\npost 2\ndestroy 2\n");
}

TEST_F(WalkTest, StopAndCleanThatCannotBeRecordedTogetherLeaveTheEntryAtItsStart)
{
    setInstallHook(ScanRunListDuringInstall);
    WriteWholeFile(kRunList, Scripted() + ",one,,,REBOOT\r\n");
    Walk();
    g_scanner.reset();
    const std::string started = Scripted() + ", one, , , REBOOT, START " + stamp;
    EXPECT_EQ(RunList(), started + "\r\n");
    // As if the STOP stamp alone had failed; no restart, no CLEAN.
    EXPECT_EQ(ReadWholeFile(kErr), "Unable to record the STOP stamp in the run list: C:\\VELK\\~RUN.NUV could not take "
                                   "the place of C:\\VELK\\RUN.NUV (Error Number: 5)\r\n\t'" + started + ", STOP " +
                                       stamp + "'\r\n");
    EXPECT_FALSE(app.IsSystemShutdownRequested());
}

TEST_F(WalkTest, AnErrorFileFromAnEarlierBootEndsTheWalkAfterTheFirstEntry)
{
    WriteWholeFile(kErr, "old failure\r\n");
    WriteWholeFile(kRunList, Scripted() + ",first\r\n" + Scripted() + ",second\r\n");
    Walk();
    EXPECT_EQ(Record(), "create 1\npre 1\ninstall 1 0 first\npost 1\ndestroy 1\n");
    EXPECT_EQ(Steps(), 1);
    EXPECT_EQ(ReadWholeFile(kErr), "old failure\r\n");
}

TEST_F(WalkTest, OneLibraryNamedInTwoLetterCasesServesBothEntriesWithOwnObjects)
{
    std::string upper = Scripted();
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    WriteWholeFile(kRunList, Scripted() + ",one,,x1\r\n" + upper + ",two,,12s\r\n");
    FreeLibrary(scripted);  // only the engine holds it now
    scripted = nullptr;
    app.GetControlManager().InstallApplications();
    EXPECT_EQ(GetModuleHandleA(Scripted().c_str()), nullptr);
    scripted = LoadLibraryA(Scripted().c_str());
    // The record did not survive the unload, but the run list shows both entries done,
    // the second with the time-out read as far as it is numeric.
    EXPECT_EQ(RunList(), Scripted() + ", one, , x1, , START " + stamp + ", STOP " + stamp + ", CLEAN " + stamp + "\r\n" +
                             upper + ", two, , 12s, , START " + stamp + ", STOP " + stamp + ", CLEAN " + stamp + "\r\n");
    EXPECT_EQ(Steps(), 2);
    EXPECT_FALSE(FileExists(kErr));
}

TEST_F(WalkTest, TwoEntriesOfOneLibraryAreEachDrivenAndDestroyed)
{
    WriteWholeFile(kRunList, Scripted() + ",one,,x1\r\n" + Scripted() + ",two,,12s\r\n");
    Walk();
    EXPECT_EQ(Record(), "create 1\npre 1\ninstall 1 0 one\npost 1\ndestroy 1\n"
                        "create 2\npre 2\ninstall 2 12 two\npost 2\ndestroy 2\n");
    EXPECT_EQ(liveObjects(), 0);
}

TEST_F(WalkTest, AMissingOrEmptyRunListEndsAtOnce)
{
    app.SetLoggingEnabled(TRUE);
    Walk();
    WriteWholeFile(kRunList, "");
    Walk();
    ASSERT_EQ(g_progress.size(), 2u);
    EXPECT_EQ(g_progress[0], std::make_pair(WM_PROGRESS_INIT, LPARAM(0)));
    EXPECT_EQ(g_progress[1], std::make_pair(WM_PROGRESS_INIT, LPARAM(0)));
    EXPECT_EQ(Record(), "");
    EXPECT_NE(ReadWholeFile("c:\\velk\\nuv.log")
                  .find("CControlManager::InstallApplications(...) UnloadWrappers(...) being called\r\n"),
              std::string::npos);
}

TEST_F(WalkTest, APlugInWrittenInCWithAHandBuiltTableIsDrivenThroughTheContract)
{
    const std::string plugin = PluginPath("c_wrapper.dll");
    HMODULE module = LoadLibraryA(plugin.c_str());
    ASSERT_NE(module, nullptr);
    auto getRecordC = reinterpret_cast<GetRecordProc>(reinterpret_cast<void*>(GetProcAddress(module, "CWrapperGetRecord")));
    auto resetC = reinterpret_cast<ResetProc>(reinterpret_cast<void*>(GetProcAddress(module, "CWrapperReset")));
    ASSERT_TRUE(getRecordC && resetC);
    resetC();
    WriteWholeFile(kRunList, plugin + ",good.exe,C:\\SRC,30\r\n" + plugin + ",fail,,7\r\n");
    Walk();
    EXPECT_EQ(std::string(getRecordC()), "create 1\npre 1\ninstall 1 30 good.exe\npost 1\ncleanup 1 C:\\SRC\ndestroy 1\n"
                                         "create 2\npre 2\ninstall 2 7 fail\ndestroy 2\n");
    EXPECT_EQ(ReadWholeFile(kErr), "Installation Failed\r\n\t'" + plugin + ", fail, , 7, , START " + stamp + "'\r\n");
    FreeLibrary(module);
}

TEST_F(WalkTest, TheCommandHandedToThePlugInIsItsOwnCopy)
{
    // The scripted plug-in overwrites the first character of the command it gets.
    WriteWholeFile(kRunList, Scripted() + ",setup.exe\r\n");
    Walk();
    EXPECT_EQ(RunList(), Scripted() + ", setup.exe, , , , START " + stamp + ", STOP " + stamp + ", CLEAN " + stamp + "\r\n");
}

TEST_F(WalkTest, AStampThatCannotBeRecordedFailsTheRunAndNothingIsInstalledUnrecorded)
{
    // Commands of such a length that the stamped line passes the 4095-character limit
    // at the START, the STOP or the CLEAN stamp; with a clean-up folder and without one
    // (STOP and CLEAN then go together where the line holds both).
    const char* const stampNames[] = {"START", "STOP", "CLEAN"};
    const int stampWidths[] = {16, 15, 16};  // ", START 18:25:04" and so on
    for (int row = 0; row < 6; ++row) {
        const int fitting = row % 3;
        const std::string directory = row < 3 ? "C:\\SRC" : "";
        SCOPED_TRACE(stampNames[fitting] + directory);
        reset();
        DeleteFileA(kErr);
        const std::string fixed = Scripted() + ", , " + directory + ", , REBOOT";
        int stamped = static_cast<int>(fixed.size());
        for (int i = 0; i < fitting; ++i)
            stamped += stampWidths[i];
        const std::string command(4095 - stampWidths[fitting] + 1 - stamped, 'c');
        WriteWholeFile(kRunList, Scripted() + "," + command + "," + directory + ",,REBOOT\r\n" + Scripted() + ",next\r\n");
        CTestApp fresh;
        fresh.SetMainWindow(window);
        fresh.GetControlManager().InstallApplications();

        std::string line = Scripted() + ", " + command + ", " + directory + ", , REBOOT";
        const char* const stamps[] = {", START ", ", STOP ", ", CLEAN "};
        for (int i = 0; i < fitting; ++i)
            line += stamps[i] + stamp;
        const std::string unrecorded = line + stamps[fitting] + stamp;
        EXPECT_EQ(ReadWholeFile(kErr), std::string("Unable to record the ") + stampNames[fitting] +
                                           " stamp in the run list: the line with its stamps would be longer than "
                                           "4095 characters\r\n\t'" + unrecorded + "'\r\n");
        // What is on disk is exactly what was done: an install only after its START.
        if (fitting == 0)
            EXPECT_EQ(RunList(), Scripted() + "," + command + "," + directory + ",,REBOOT\r\n" + Scripted() + ",next\r\n");
        else
            EXPECT_EQ(RunList(), line + "\r\n" + Scripted() + ",next\r\n");
        const std::string installed = "create 1\npre 1\ninstall 1 0 " + command + "\npost 1\n";
        const std::string cleanup = directory.empty() ? "" : "cleanup 1 C:\\SRC\n";
        const std::string records[] = {"", "destroy 1\n", cleanup + "destroy 1\n"};
        EXPECT_EQ(Record(), fitting == 0 ? std::string() : installed + records[fitting]);
        // No restart: after it the entry would only be found unfinished.
        EXPECT_FALSE(fresh.IsSystemShutdownRequested());
        EXPECT_TRUE(fresh.IsErrorFlagEnabled());
    }
}

namespace {

FILETIME LastWriteTime(const char* path)
{
    FILETIME time = {};
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(GetFileTime(file, nullptr, nullptr, &time));
    CloseHandle(file);
    return time;
}

void SetLastWriteTime(const char* path, const FILETIME& time)
{
    HANDLE file = CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
    CloseHandle(file);
}

} // namespace

TEST_F(WalkTest, AListAnotherProgramChangesBetweenEntriesIsReadAsItIsNow)
{
    // The engine reads on from where its last stamp left the list only while the list is
    // still what it wrote: the same file, size and last-write time, a line's end before
    // the stamped line and the stamped line itself. Each row below fails one of them; read
    // on, the walk would run or stamp the wrong line.
    const std::string done = ", , , , START " + stamp + ", STOP " + stamp + ", CLEAN " + stamp + "\r\n";
    const std::string one = Scripted() + ", one" + done;
    const std::string plain = Scripted() + ",one\r\n" + Scripted() + ",two\r\n";
    const std::string remarked = "#ab\r\n" + plain;
    const std::string entries = "create 1\npre 1\ninstall 1 0 one\npost 1\ndestroy 1\n";
    // The finished first entry found again, then the second run.
    const std::string again = entries + "create 2\ndestroy 2\ncreate 3\npre 3\ninstall 3 0 two\npost 3\ndestroy 3\n";
    enum How { kInPlace, kInPlaceTimeKept, kNewFileTimeKept };
    struct Row {
        const char* name;
        std::string original;
        How how;
        std::string changed;  // the list as the other program leaves it after the first entry
        std::string calls;
        std::string after;
    } rows[] = {
        {"the next entry changed in place", plain, kInPlace, one + Scripted() + ",TWO\r\n",
         entries + "create 2\npre 2\ninstall 2 0 TWO\npost 2\ndestroy 2\n", one + Scripted() + ", TWO" + done},
        {"a remark put in front", plain, kInPlace, "# remark\r\n" + one + Scripted() + ",two\r\n", again,
         "# remark\r\n" + one + Scripted() + ", two" + done},
        {"cut after the first entry", plain, kInPlace, one, entries, one},
        // The same size, the stamped line where it was: only the time tells.
        {"three empty lines for the remark, in place", remarked, kInPlace, "\r\n\r\n\n" + one + Scripted() + ",two\r\n",
         again, "\r\n\r\n\r\n" + one + Scripted() + ", two" + done},
        // Only the file's index tells.
        {"the same in a new file with the old time", remarked, kNewFileTimeKept,
         "\r\n\r\n\n" + one + Scripted() + ",two\r\n", again, "\r\n\r\n\r\n" + one + Scripted() + ", two" + done},
        // Only the byte before the stamped line tells: the remark now runs into it, and
        // from the top the second entry is the second line, counted as done. (Read on, it
        // would run as the third, whose stamp finds no such line.)
        {"the remark's line end taken away, the time kept", remarked, kInPlaceTimeKept,
         "#abcd" + one + Scripted() + ",two\r\n", entries, "#abcd" + one + Scripted() + ",two\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        reset();
        WriteWholeFile(kRunList, row.original);
        g_changeAtFirstStep = [&] {
            const FILETIME written = LastWriteTime(kRunList);
            if (row.how == kNewFileTimeKept) {
                WriteWholeFile("C:\\VELK\\RUN.NEW", row.changed);
                EXPECT_TRUE(MoveFileExA("C:\\VELK\\RUN.NEW", kRunList, MOVEFILE_REPLACE_EXISTING));
            } else {
                WriteWholeFile(kRunList, row.changed);
            }
            if (row.how != kInPlace)
                SetLastWriteTime(kRunList, written);
        };
        CTestApp fresh;
        fresh.SetMainWindow(window);
        fresh.GetControlManager().InstallApplications();
        g_changeAtFirstStep = nullptr;
        EXPECT_FALSE(FileExists(kErr)) << ReadWholeFile(kErr);
        EXPECT_EQ(Record(), row.calls);
        EXPECT_EQ(RunList(), row.after);
    }
}

TEST_F(WalkTest, AStampForALineAnotherProgramRemovedIsAFailureAndTheListStaysAsItIs)
{
    setInstallHook(EmptyRunListDuringInstall);
    WriteWholeFile(kRunList, Scripted() + ",one,,,REBOOT\r\n");
    Walk();
    EXPECT_EQ(ReadWholeFile(kErr), "Unable to record the STOP stamp in the run list: C:\\VELK\\RUN.NUV no longer has "
                                   "line 1\r\n\t'" + Scripted() + ", one, , , REBOOT, START " + stamp + ", STOP " +
                                       stamp + "'\r\n");
    EXPECT_EQ(RunList(), "");
    EXPECT_FALSE(FileExists("C:\\VELK\\~RUN.NUV"));
    EXPECT_FALSE(app.IsSystemShutdownRequested());
}

TEST_F(WalkTest, ARunListOfAnyFormOrHeldIsWalkedAsFarAsItCanBeAndNeverLost)
{
    // Missing, empty and a last line without a line end are rows of the tests above; the
    // run list's path is fixed, so only its folder can be missing.
    enum class Hold { None, Scan, Lock };
    const std::string entry = Scripted() + ",one\r\n";
    const std::string done = Scripted() + ", one, , , , START " + stamp + ", STOP " + stamp + ", CLEAN " + stamp + "\r\n";
    const std::string record = "create 1\npre 1\ninstall 1 0 one\npost 1\ndestroy 1\n";
    const std::string binary("MZ\x90\0\3\0\0\0\xff\xfe\x1a", 11);
    const std::string invalid = "\x81\xff\xe0\x80\xc3\x28 \x82";
    const std::string big = Scripted() + "," + std::string(1 << 20, 'x') + "\r\n";
    std::string remarks;
    for (int i = 0; i < 99998; ++i)
        remarks += "# remark\r\n";
    const std::string held = "Unable to record the START stamp in the run list: C:\\VELK\\~RUN.NUV could not take the "
                             "place of C:\\VELK\\RUN.NUV (Error Number: %d)\r\n\t'" +
                             Scripted() + ", one, , , , START " + stamp + "'\r\n";
    struct Row {
        const char* name;
        std::string content;
        Hold hold;
        bool readOnly;
        int oneStep;          // -1: as the system has it; 0: the 9x family's delete and rename
        std::string errors;   // the error file afterwards
        std::string calls;    // the plug-in's record
        std::string after;    // the run list afterwards
    } rows[] = {
        {"binary", entry + binary + "\r\n", Hold::None, false, -1,
         "Failed to load library " + binary + "DLL Error Number: 126\r\nLoadWrapperAndCreateInstace return NULL unable "
         "to proceed with\r\n\t'" + binary + ", , , , , START " + stamp + "'\r\n",
         record, done + binary + ", , , , , START " + stamp + "\r\n"},
        {"one 1 MB line", big, Hold::None, false, -1,
         "Unable to record the START stamp in the run list: the line with its stamps would be longer than 4095 "
         "characters\r\n\t'" + Scripted() + ", " + std::string(4095 - Scripted().size() - 1, 'x') + ", , , , START " +
             stamp + "'\r\n",
         "", big},
        {"100 000 lines", entry + remarks + Scripted() + ",last\r\n", Hold::None, false, -1, "",
         record + "create 2\npre 2\ninstall 2 0 last\npost 2\ndestroy 2\n",
         done + remarks + Scripted() + ", last, , , , START " + stamp + ", STOP " + stamp + ", CLEAN " + stamp + "\r\n"},
        {"invalid multibyte", Scripted() + ",setup " + invalid + "\r\n", Hold::None, false, -1, "",
         "create 1\npre 1\ninstall 1 0 setup " + invalid + "\npost 1\ndestroy 1\n",
         Scripted() + ", setup " + invalid + ", , , , START " + stamp + ", STOP " + stamp + ", CLEAN " + stamp + "\r\n"},
        // Replaced all the same: recording its progress is the engine's job.
        {"read-only", entry, Hold::None, true, -1, "", record, done},
        {"locked", entry, Hold::Lock, false, -1,
         "Unable to read the run list: C:\\VELK\\RUN.NUV could not be opened (Error Number: 32)\r\n", "", entry},
        {"held", entry, Hold::Scan, false, -1, FormatMessageText(held, "", 5), "", entry},
        {"held, delete and rename", entry, Hold::Scan, false, 0, FormatMessageText(held, "", 32), "", entry},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        reset();
        DeleteFileA(kErr);
        DeleteFileA("C:\\VELK\\~RUN.NUV");
        SetAtomicReplaceAvailable(row.oneStep);
        WriteWholeFile(kRunList, row.content);
        if (row.readOnly)
            SetFileAttributesA(kRunList, FILE_ATTRIBUTE_READONLY);
        std::unique_ptr<CHolder> holder;
        if (row.hold != Hold::None)
            holder.reset(new CHolder(kRunList, row.hold == Hold::Lock));
        CTestApp fresh;
        fresh.SetMainWindow(window);
        fresh.GetControlManager().InstallApplications();
        holder.reset();
        EXPECT_EQ(ReadWholeFile(kErr), row.errors.empty() ? "<missing>" : row.errors);
        EXPECT_EQ(Record(), row.calls);
        EXPECT_EQ(RunList(), row.after);
    }

    // Its folder missing: a missing list, the walk ends at once and nothing is written.
    SetAtomicReplaceAvailable(-1);
    reset();
    DeleteTreeForTest("C:\\VELK");
    CTestApp fresh;
    fresh.GetControlManager().InstallApplications();
    EXPECT_EQ(Record(), "");
    EXPECT_FALSE(FileExists("C:\\VELK"));
    CreateDirectoryA("C:\\VELK", nullptr);
}
