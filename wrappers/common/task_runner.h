// Running a task for a wrapper: SpawnTask's full variant (every failing exit code
// reported) and its reduced variant (exit codes judged, not reported).
#pragma once

#include <windows.h>

#include <string>

class CWrapper;

// Waits for a started task; tests replace the wait to see the time asked for and to
// play a task that does not end.
DWORD WaitForTask(HANDLE process, DWORD milliseconds);
void SetTaskWaitHook(DWORD (*hook)(HANDLE process, DWORD milliseconds));

// The wait for a time-out in seconds: 0 and below mean 900 s; clamped to a finite wait.
DWORD GetTaskWaitMilliseconds(int timeoutSeconds);

// How long a task ended for its time-out may take to go.
const DWORD kTaskEndWaitMs = 30000;

// Appends the message to the error file through the wrapper's own operation.
void ReportThroughWrapper(CWrapper& wrapper, const std::string& message);

// Starts the command and waits for it. reportExitCode: the full variant reports a
// failing exit code, the reduced one does not.
BOOL RunTask(CWrapper& wrapper, const std::string& commandLine, int timeoutSeconds, bool reportExitCode);
