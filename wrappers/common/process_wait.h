// The wrappers' wait for a task, and the pieces of SpawnTask its variants share.
#pragma once

#include <windows.h>

#include <string>

class CWrapper;

// Waits for a started task; tests replace the wait to see the time asked for.
DWORD WaitForTask(HANDLE process, DWORD milliseconds);
void SetTaskWaitHook(DWORD (*hook)(HANDLE process, DWORD milliseconds));

// The wait for a time-out in seconds: 0 and below mean 900 s; clamped to a finite wait.
DWORD GetTaskWaitMilliseconds(int timeoutSeconds);

// Starts the command and waits for it. reportExitCode: the full variant reports a
// failing exit code, the reduced one does not.
BOOL RunTask(CWrapper& wrapper, const std::string& commandLine, int timeoutSeconds, bool reportExitCode);
