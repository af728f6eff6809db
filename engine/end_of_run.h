// The decision the worker makes once the walk is over: another pass after an
// intermediate restart, the factory-failure hand-over, the forced restart under the
// factory test environment, or the final clean-up with its last restart.
#pragma once

#include <windows.h>

class CNUVApp;
class CNUVDlg;

// What the decision needs of the progress window.
class CRestartCountdown
{
public:
    // Shows the countdown before a restart and returns when it has closed.
    virtual void ShowCountdown(UINT periodMs) = 0;

protected:
    ~CRestartCountdown() = default;
};

enum class EndOfRun
{
    FactoryFailure,       // errors under the factory: handed over, no restart
    IntermediateRestart,  // more entries follow the restart
    ForcedRestart,        // the factory's one extra pass before the clean-up
    Finished              // the final pass: kept for another one, or cleaned up
};

const UINT kIntermediateCountdownMs = 5000;
const UINT kFinalCountdownMs = 10000;

// The decision after InstallApplications; the dialog is handed to DeleteFiles.
EndOfRun DecideEndOfRun(CNUVApp& app, CRestartCountdown& countdown, CNUVDlg* dialog);
