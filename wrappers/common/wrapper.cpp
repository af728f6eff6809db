// What every wrapper plug-in shares (slots 0 to 2 of the contract): starting a task and
// waiting for it (task_runner.cpp), deleting a directory tree, and appending to the
// error file that the engine reads.
#include "wrapper.h"

#include "pause.h"
#include "shared_file.h"
#include "task_runner.h"
#include "text.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

const DWORD kDeleteRetryPauseMs = 5000;
const int kDeleteRetries = 2;
const char kDeleteFailed[] = "Failed to delete '%s'.  Error Number: %d";

} // namespace

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
            std::vector<char> child = MakeWritableCopy(path);
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
        if (!deleted)
            ReportThroughWrapper(*this, FormatMessageText(kDeleteFailed, name, static_cast<long>(GetLastError())));
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
    AppendToSharedFile(WRAPPER_ERROR_FILE, std::string(message ? message : "") + "\r\n");
}
