#include "run_list_file.h"

#include "os_family.h"
#include "pause.h"

#include <windows.h>

const char kRunListPath[] = "C:\\VELK\\RUN.NUV";
const char kRunListRewritePath[] = "C:\\VELK\\~RUN.NUV";

namespace {

// Scanners and indexers hold a file for a moment: a few tries over about a second.
const int kTries = 5;
const unsigned long kRetryPauseMs = 250;

const char kOpenFailed[] = " could not be opened";
const char kWriteFailed[] = " could not be written";
const char kReadFailed[] = " could not be read to its end";
const char kPlaceFailed[] = " could not take the place of ";
const char kMissingAndStuck[] = " is missing and its rewrite could not take its place";

int g_atomicAvailable = -1;

bool Exists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsHeldByAnotherProgram(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Replacing a file another program has open is refused as a sharing violation or, on
// some systems, as access denied.
bool IsRenameHeldUp(DWORD error)
{
    return IsHeldByAnotherProgram(error) || error == ERROR_ACCESS_DENIED;
}

std::string WithErrorNumber(const std::string& text, DWORD error)
{
    return text + " (Error Number: " + std::to_string(static_cast<unsigned long>(error)) + ")";
}

// Calls move until it succeeds or fails for another reason than a program holding a file.
template <typename Move> DWORD MoveWithRetries(Move move)
{
    for (int attempt = 1;; ++attempt) {
        if (move())
            return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        if (attempt >= kTries || !IsRenameHeldUp(error))
            return error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
        PauseMilliseconds(kRetryPauseMs);
    }
}

// Puts the complete, flushed rewrite in the file's place.
DWORD MoveRewriteIntoPlace(const std::string& rewritePath, const std::string& path)
{
    // A list copied from a CD-ROM is read-only; its rewrite replaces it all the same.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    const bool atomic = g_atomicAvailable < 0 ? GetRunningOSFamily() == OSFamilyNT : g_atomicAvailable != 0;
    if (atomic) {
        return MoveWithRetries([&] {
            return MoveFileExA(rewritePath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        });
    }
    // The 9x family has MoveFileExA only as a stub: delete, then rename. Until the
    // rename is done the rewrite is the list, and RestoreRunList knows it.
    const DWORD deleted = MoveWithRetries([&] { return DeleteFileA(path.c_str()); });
    if (deleted != ERROR_SUCCESS)
        return deleted;
    return MoveWithRetries([&] { return MoveFileA(rewritePath.c_str(), path.c_str()); });
}

} // namespace

std::string DescribeOpenFailure(const std::string& path, DWORD error)
{
    return WithErrorNumber(path + kOpenFailed, error);
}

std::string DescribeReadFailure(const std::string& path, DWORD error)
{
    return WithErrorNumber(path + kReadFailed, error);
}

void SetAtomicReplaceAvailable(int available)
{
    g_atomicAvailable = available;
}

RunListState RestoreRunList(std::string& failure)
{
    failure.clear();
    if (Exists(kRunListPath))
        return RunListState::Present;
    if (!Exists(kRunListRewritePath))
        return RunListState::Missing;
    const DWORD error = MoveWithRetries([] { return MoveFileA(kRunListRewritePath, kRunListPath); });
    if (error == ERROR_SUCCESS)
        return RunListState::Present;
    failure = WithErrorNumber(std::string(kRunListPath) + kMissingAndStuck, error);
    return RunListState::Stuck;
}

BOOL OpenSharedLineFile(CLineFile& file, const std::string& path, CLineFile::OpenMode mode)
{
    for (int attempt = 1;; ++attempt) {
        if (file.Open(path, mode))
            return TRUE;
        const DWORD error = GetLastError();
        if (attempt >= kTries || !IsHeldByAnotherProgram(error)) {
            SetLastError(error);
            return FALSE;
        }
        PauseMilliseconds(kRetryPauseMs);
    }
}

std::string RewriteLineFile(CLineFile& reader, const std::string& path, const std::string& rewritePath,
                            const LineEdit& edit)
{
    // The file first: while it is open here nobody can take it away, and a missing file
    // leaves its rewrite, perhaps the only copy, untouched.
    if (!OpenSharedLineFile(reader, path, CLineFile::modeRead))
        return DescribeOpenFailure(path, GetLastError());
    CLineFile rewrite;
    if (!OpenSharedLineFile(rewrite, rewritePath, CLineFile::modeWrite)) {
        const DWORD error = GetLastError();
        reader.Close();
        return DescribeOpenFailure(rewritePath, error);
    }
    std::string failure;
    std::string line;
    for (int number = 1; failure.empty() && reader.ReadLine(line); ++number) {
        rewrite.WriteLine(edit(number, line) + "\n");
        if (rewrite.HasWriteFailed())
            failure = WithErrorNumber(rewritePath + kWriteFailed, rewrite.GetFailureCode());
    }
    // A read error is not the end of the file: a rewrite of part of it must not replace it.
    if (failure.empty() && (reader.HasReadFailed() || !reader.IsEOF()))
        failure = DescribeReadFailure(path, reader.GetFailureCode());
    reader.Close();
    // The rewrite must be on the disk before it can take the file's place.
    if (failure.empty() && !rewrite.Flush())
        failure = WithErrorNumber(rewritePath + kWriteFailed, rewrite.GetFailureCode());
    rewrite.Close();
    if (!failure.empty()) {
        // A partial rewrite must never be mistaken for a whole one; the file is intact.
        DeleteFileA(rewritePath.c_str());
        return failure;
    }
    const DWORD error = MoveRewriteIntoPlace(rewritePath, path);
    if (error != ERROR_SUCCESS)
        return WithErrorNumber(rewritePath + kPlaceFailed + path, error);
    return std::string();
}
