#include "end_of_run.h"

#include "engine_paths.h"
#include "nuv_app.h"

EndOfRun DecideEndOfRun(CNUVApp& app, CRestartCountdown& countdown, CNUVDlg* dialog)
{
    if (app.IsErrorFlagEnabled() && app.IsSilentModeEnabled()) {
        app.Log("CNUVDlg: SystemRestoreThread(...) Errors detected and running under KORB.  Failing System.");
        app.AppendRunEntriesToErrorFile();
        CopyFileA(kErrorFile, kKorbErrorCopy, FALSE);
        app.TouchFileNoAttribs(kKorbFailTag);
        app.TouchFile(kFinishedMark);
        app.SetSystemShutdown(FALSE, FALSE);
        return EndOfRun::FactoryFailure;
    }
    if (!app.GetSystemShutdownFinal()) {
        app.Log("CNUVDlg: SystemRestoreThread(...) Intermediate reboot detected (SystemShutdownFinal == FALSE).");
        countdown.ShowCountdown(kIntermediateCountdownMs);
        return EndOfRun::IntermediateRestart;
    }
    if (app.IsSilentModeEnabled() && !app.CheckForFile(kRanOnceMark)) {
        app.Log("CNUVDlg: SystemRestoreThread(...) Final forced reboot under KORB.");
        app.TouchFile(kRanOnceMark);
        app.SetSystemShutdown(TRUE, FALSE);
        countdown.ShowCountdown(kIntermediateCountdownMs);
        return EndOfRun::ForcedRestart;
    }
    if (!app.CheckForFile(kRanOnceMark) && app.IsErrorFlagEnabled()) {
        app.Log("CNUVDlg: SystemRestoreThread(...) errors encountered.  Setting RANONCE.NUV.");
        app.TouchFile(kRanOnceMark);
    } else {
        app.Log("CNUVDlg: SystemRestoreThread(...) RANONCE.NUV exists or there were no errors.  Deleting files...");
        if (app.IsSilentModeEnabled())
            app.AppendRunNUVtoLOG();
        app.DeleteFiles(dialog);
    }
    if (app.IsSilentModeEnabled()) {
        // The clean-up itself may have recorded an error.
        if (app.IsErrorFlagEnabled()) {
            app.Log("CNUVDlg: SystemRestoreThread(...) errors encountered under KORB.  Setting nuv.dun.");
            app.TouchFile(kFinishedMark);
        }
    } else {
        app.Log("CNUVDlg: SystemRestoreThread(...) KORB not enabled.  Setting final system shutdown.");
        app.SetSystemShutdown(TRUE, TRUE);
        countdown.ShowCountdown(kFinalCountdownMs);
    }
    return EndOfRun::Finished;
}
