// The decision after the walk, branch by branch: what it leaves on disk, which restart it
// asks for, and which countdown it shows.
#include "end_of_run.h"
#include "engine_test_support.h"

namespace {

const char kErr[] = "c:\\velk\\nuv.err";
const char kRanOnce[] = "C:\\VELK\\NUV\\RANONCE.NUV";
const char kFinished[] = "C:\\Velk\\nuv.dun";
const char kFailTag[] = "C:\\Velk\\KORB\\ZKTFAIL.TAG";

class CDecisionApp : public CTestApp
{
public:
    int deleteFilesCalls = 0;
    bool cleanupFails = false;

    BOOL DeleteFiles(CNUVDlg*) override
    {
        ++deleteFilesCalls;
        if (cleanupFails)
            WriteErrMsg("CNUVApp::DeleteFiles() Registry Error: File not found.");
        return TRUE;
    }
};

class CRecordedCountdown : public CRestartCountdown
{
public:
    std::vector<UINT> periods;
    void ShowCountdown(UINT periodMs) override { periods.push_back(periodMs); }
};

struct DecisionRow {
    const char* name;
    bool korb, errorBefore, ranOnceBefore, intermediate, cleanupFails;
    EndOfRun end;
    std::vector<UINT> countdowns;
    BOOL shutdownRequested;
    int deleteFilesCalls;
    bool ranOnceAfter, finishedMarkAfter, failTagAfter;
    const char* logLine;  // the line of the branch taken
};

} // namespace

class EndOfRunTest : public EngineTest {};

TEST_F(EndOfRunTest, EveryBranchOfTheDecision)
{
    const DecisionRow rows[] = {
        {"factory failure", true, true, false, false, false, EndOfRun::FactoryFailure, {}, FALSE, 0, false, true,
         true, "Errors detected and running under KORB.  Failing System."},
        {"intermediate restart", false, false, false, true, false, EndOfRun::IntermediateRestart, {5000}, TRUE, 0,
         false, false, false, "Intermediate reboot detected (SystemShutdownFinal == FALSE)."},
        {"forced factory restart", true, false, false, false, false, EndOfRun::ForcedRestart, {5000}, TRUE, 0, true,
         false, false, "Final forced reboot under KORB."},
        {"errors: one more final pass", false, true, false, false, false, EndOfRun::Finished, {10000}, TRUE, 0, true,
         false, false, "errors encountered.  Setting RANONCE.NUV."},
        {"clean run: clean-up", false, false, false, false, false, EndOfRun::Finished, {10000}, TRUE, 1, false,
         false, false, "RANONCE.NUV exists or there were no errors.  Deleting files..."},
        {"errors after the extra pass: clean-up", false, true, true, false, false, EndOfRun::Finished, {10000}, TRUE,
         1, true, false, false, "KORB not enabled.  Setting final system shutdown."},
        {"factory, second pass: stays up", true, false, true, false, false, EndOfRun::Finished, {}, FALSE, 1, true,
         false, false, "RANONCE.NUV exists or there were no errors.  Deleting files..."},
        {"factory, clean-up failed: finished mark", true, false, true, false, true, EndOfRun::Finished, {}, FALSE, 1,
         true, true, false, "errors encountered under KORB.  Setting nuv.dun."},
    };
    for (const DecisionRow& row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        CreateDirectoryA("C:\\VELK\\KORB", nullptr);
        if (row.korb)
            WriteWholeFile("C:\\VELK\\KORB\\quorvane.exe", "MZ");
        if (row.errorBefore)
            WriteWholeFile(kErr, "Installation Failed\r\n");
        if (row.ranOnceBefore)
            WriteWholeFile(kRanOnce, "");
        WriteWholeFile("C:\\VELK\\RUN.NUV", "OSTREL.DLL,A.EXE,,,REBOOT\r\nOSTREL.DLL,B.EXE\r\n");
        CDecisionApp app;
        app.SetLoggingEnabled(TRUE);
        app.cleanupFails = row.cleanupFails;
        app.DetectKORBEnabled();
        // Where the walk stopped: after the first entry, or at the end of the list.
        CControlManager& manager = app.GetControlManager();
        delete manager.GetEntry();
        if (row.intermediate)
            app.SetSystemShutdown(TRUE, FALSE);
        else
            delete manager.GetEntry();
        CRecordedCountdown countdown;

        EXPECT_EQ(DecideEndOfRun(app, countdown, nullptr), row.end);
        EXPECT_EQ(countdown.periods, row.countdowns);
        EXPECT_EQ(app.IsSystemShutdownRequested(), row.shutdownRequested);
        // Only the clean-up's restart is the final one.
        if (row.shutdownRequested) {
            EXPECT_EQ(app.IsSystemShutdownFinal(), row.countdowns == std::vector<UINT>{10000} ? TRUE : FALSE);
        }
        EXPECT_EQ(app.deleteFilesCalls, row.deleteFilesCalls);
        EXPECT_EQ(FileExists(kRanOnce), row.ranOnceAfter);
        EXPECT_EQ(FileExists(kFinished), row.finishedMarkAfter);
        EXPECT_EQ(FileExists(kFailTag), row.failTagAfter);
        const std::string log = ReadWholeFile("c:\\velk\\nuv.log");
        EXPECT_NE(log.find(std::string("CNUVDlg: SystemRestoreThread(...) ") + row.logLine + "\r\n"), std::string::npos);
        if (row.end == EndOfRun::FactoryFailure) {
            // The factory gets the error file with the run list at its end.
            const std::string errors = ReadWholeFile(kErr);
            EXPECT_EQ(ReadWholeFile("c:\\velk\\korb\\nuv.err"), errors);
            EXPECT_NE(errors.find("\r\n-=-=-=-=-= R U N . N U V   C O N T  E N T S =-=-=-=-=-\r\n"
                                  "OSTREL.DLL,A.EXE,,,REBOOT\r\nOSTREL.DLL,B.EXE\r\n"),
                      std::string::npos);
        }
        // Under the factory the run list goes to the diskette log before the clean-up.
        EXPECT_EQ(log.find("CNUVApp::AppendRunNUVtoLOG(...) called") != std::string::npos,
                  row.korb && row.deleteFilesCalls == 1);
    }
}
