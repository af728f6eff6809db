// What every wrapper plug-in shares: starting a task and waiting for it, deleting a
// directory tree, and appending to the error file that the engine reads.
#include "wrapper.h"

#include "pause.h"
#include "process_wait.h"
#include "shared_file.h"
#include "text.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

const char kErrorFile[] = "c:\\velk\\nuv.err";
const int kDefaultTimeoutSeconds = 900;
const DWORD kDeleteRetryPauseMs = 5000;
const int kDeleteRetries = 2;

std::vector<char> Writable(const std::string& text)
{
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

bool IsSuccessCode(DWORD code)
{
    return code == 0 || code == 1604 || code == 3010 || code == 3011;
}

} // namespace

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
    std::vector<char> command = Writable(commandLine);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::vector<char> message = Writable(FormatMessageText("Failed to spawn '%s'.  Error Number: %d", commandLine,
                                                    static_cast<long>(GetLastError())));
        wrapper.WriteErrorMessage(message.data());
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
            std::vector<char> message = Writable(FormatMessageText("Error returned from CreateProcess on task '%s', exit code: %d",
                                                        commandLine, static_cast<long>(code)));
            wrapper.WriteErrorMessage(message.data());
        }
    } else if (waited == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 0);
        // Ended, not left running: wait until it really is gone.
        WaitForSingleObject(process.hProcess, INFINITE);
        std::vector<char> message = Writable(FormatMessageText("Timeout on spanwed task '%s', exit code: %d", commandLine, 0));
        wrapper.WriteErrorMessage(message.data());
    } else if (waited == WAIT_FAILED) {
        const DWORD error = GetLastError();
        TerminateProcess(process.hProcess, 0);
        std::vector<char> message =
            Writable(FormatMessageText("Wait on spawned task '%s' failed.  Error Code: %d", commandLine, static_cast<long>(error)));
        wrapper.WriteErrorMessage(message.data());
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return result;
}

int CWrapper::SpawnTask(char* commandLine, int timeoutSeconds)
{
    return RunTask(*this, commandLine ? commandLine : "", timeoutSeconds, true);
}

int CWrapper::DeleteTree(char* directoryText)
{
    std::string directory = directoryText ? directoryText : "";
    if (directory.empty())
        return TRUE;
    if (directory[directory.size() - 1] != '\\')
        directory += '\\';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;
    do {
        const std::string name = found.cFileName;
        const std::string path = directory + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name == "." || name == "..")
                continue;
            std::vector<char> child = Writable(path);
            if (DeleteTree(child.data()))
                continue;
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (DeleteFileA(path.c_str()))
                continue;
        }
        bool deleted = false;
        for (int retry = 0; retry < kDeleteRetries && !deleted; ++retry) {
            PauseMilliseconds(kDeleteRetryPauseMs);
            deleted = DeleteFileA(path.c_str()) != FALSE;
        }
        if (!deleted) {
            std::vector<char> message =
                Writable(FormatMessageText("Failed to delete '%s'.  Error Number: %d", name, static_cast<long>(GetLastError())));
            WriteErrorMessage(message.data());
        }
    } while (FindNextFileA(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES)
        return FALSE;
    SetFileAttributesA(directory.c_str(), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryA(directory.c_str()) ? TRUE : FALSE;
}

void CWrapper::WriteErrorMessage(char* message)
{
    // Retried briefly when another writer holds the file, as the engine does; a line
    // that still cannot be written is dropped and the phase goes on.
    AppendToSharedFile(kErrorFile, std::string(message ? message : "") + "\r\n");
}
