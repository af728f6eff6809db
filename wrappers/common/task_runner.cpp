#include "task_runner.h"

#include "text.h"
#include "wrapper.h"

#include <vector>

namespace {

DWORD (*g_hook)(HANDLE, DWORD) = nullptr;

const int kDefaultTimeoutSeconds = 900;

const char kSpawnFailed[] = "Failed to spawn '%s'.  Error Number: %d";
const char kExitCodeFailed[] = "Error returned from CreateProcess on task '%s', exit code: %d";
const char kTimedOut[] = "Timeout on spanwed task '%s', exit code: %d";
const char kStillRunning[] = "Task '%s' had not ended 30 seconds after it was stopped for its time-out";
const char kWaitFailed[] = "Wait on spawned task '%s' failed.  Error Code: %d";

bool IsSuccessCode(DWORD code)
{
    return code == 0 || code == 1604 || code == 3010 || code == 3011;
}

} // namespace

DWORD WaitForTask(HANDLE process, DWORD milliseconds)
{
    return g_hook ? g_hook(process, milliseconds) : WaitForSingleObject(process, milliseconds);
}

void SetTaskWaitHook(DWORD (*hook)(HANDLE process, DWORD milliseconds))
{
    g_hook = hook;
}

DWORD GetTaskWaitMilliseconds(int timeoutSeconds)
{
    // Zero and negative time-outs ask for the default; a product beyond the wait's
    // range is the longest finite wait.
    const long long seconds = timeoutSeconds <= 0 ? kDefaultTimeoutSeconds : timeoutSeconds;
    const long long milliseconds = seconds * 1000;
    const long long longest = static_cast<long long>(INFINITE) - 1;
    return static_cast<DWORD>(milliseconds > longest ? longest : milliseconds);
}

BOOL RunTask(CWrapper& wrapper, const std::string& commandLine, int timeoutSeconds, bool reportExitCode)
{
    std::vector<char> command = MakeWritableCopy(commandLine);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        ReportThroughWrapper(wrapper, FormatMessageText(kSpawnFailed, commandLine, static_cast<long>(GetLastError())));
        return FALSE;
    }
    BOOL result = FALSE;
    const DWORD waited = WaitForTask(process.hProcess, GetTaskWaitMilliseconds(timeoutSeconds));
    if (waited == WAIT_OBJECT_0) {
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        if (IsSuccessCode(code)) {
            result = TRUE;
        } else if (reportExitCode) {
            ReportThroughWrapper(wrapper, FormatMessageText(kExitCodeFailed, commandLine, static_cast<long>(code)));
        }
    } else if (waited == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 0);
        // Ended, not left running: wait until it is gone, but not for ever, so that a
        // task the system cannot end does not hold up the whole installation.
        const bool ended = WaitForTask(process.hProcess, kTaskEndWaitMs) == WAIT_OBJECT_0;
        ReportThroughWrapper(wrapper, FormatMessageText(kTimedOut, commandLine, 0));
        if (!ended)
            ReportThroughWrapper(wrapper, FormatMessageText(kStillRunning, commandLine));
    } else if (waited == WAIT_FAILED) {
        const DWORD error = GetLastError();
        TerminateProcess(process.hProcess, 0);
        ReportThroughWrapper(wrapper, FormatMessageText(kWaitFailed, commandLine, static_cast<long>(error)));
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return result;
}

void ReportThroughWrapper(CWrapper& wrapper, const std::string& message)
{
    // Through the table, as every failure report of a wrapper goes.
    std::vector<char> text = MakeWritableCopy(message);
    wrapper.WriteErrorMessage(text.data());
}
