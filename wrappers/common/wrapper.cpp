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

namespace {

// A link (a junction, a symbolic link, a mount point) stands for something elsewhere,
// perhaps a user's own folder: only the link itself may go, never what it leads to.
bool IsLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

BOOL RemoveLink(const std::string& path, DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(path.c_str()) : DeleteFileA(path.c_str());
}

// One entry of a folder being deleted: a link as a link, a folder through the wrapper's
// own DeleteTree, a file with its attributes cleared; what will not go is retried and
// then reported by its bare name. TRUE when it is gone.
int DeleteTreeEntry(CWrapper& wrapper, const std::string& path, const std::string& name, DWORD attributes)
{
    const bool link = IsLink(attributes);
    if (link) {
        // Its attributes are not touched: on some systems they are those of its target.
        if (RemoveLink(path, attributes))
            return TRUE;
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        std::vector<char> child = MakeWritableCopy(path);
        if (wrapper.DeleteTree(child.data()))
            return TRUE;
    } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileA(path.c_str()))
            return TRUE;
    }
    bool deleted = false;
    for (int retry = 0; retry < kDeleteRetries && !deleted; ++retry) {
        PauseMilliseconds(kDeleteRetryPauseMs);
        deleted = (link ? RemoveLink(path, attributes) : DeleteFileA(path.c_str())) != FALSE;
    }
    if (!deleted)
        ReportThroughWrapper(wrapper, FormatMessageText(kDeleteFailed, name, static_cast<long>(GetLastError())));
    return deleted ? TRUE : FALSE;
}

} // namespace

int CWrapper::DeleteTree(char* directoryText)
{
    std::string directory = directoryText ? directoryText : "";
    if (directory.empty())
        return TRUE;
    // A folder that is itself a link is removed as a link, its target never searched.
    const std::string withoutSlash =
        directory[directory.size() - 1] == '\\' ? directory.substr(0, directory.size() - 1) : directory;
    const DWORD ownAttributes = GetFileAttributesA(withoutSlash.c_str());
    if (IsLink(ownAttributes)) {
        const std::string::size_type slash = withoutSlash.rfind('\\');
        return DeleteTreeEntry(*this, withoutSlash,
                               slash == std::string::npos ? withoutSlash : withoutSlash.substr(slash + 1), ownAttributes);
    }
    if (directory[directory.size() - 1] != '\\')
        directory += '\\';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;
    do {
        const std::string name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && (name == "." || name == ".."))
            continue;
        DeleteTreeEntry(*this, directory + name, name, found.dwFileAttributes);
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
