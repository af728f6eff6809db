#include "run_list_file.h"

#include "step_marks.h"

#include <windows.h>

const char kRunListPath[] = "C:\\VELK\\RUN.NUV";
const char kRunListRewritePath[] = "C:\\VELK\\~RUN.NUV";
const char kRunListAsidePath[] = "C:\\VELK\\~RUN.OLD";

namespace {

const char kMissingAndStuck[] = " is missing and its rewrite could not take its place (Error Number: ";

bool Exists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

RunListState RestoreRunList(std::string& failure)
{
    failure.clear();
    if (Exists(kRunListPath))
        return RunListState::Present;
    // A replacement cut off between its renames: the rewrite, whole before the list
    // stepped aside and the newer of the two, else the list as it stood before it.
    DWORD error = ERROR_FILE_NOT_FOUND;
    for (const char* whole : {kRunListRewritePath, kRunListAsidePath}) {
        if (!Exists(whole))
            continue;
        error = MoveFileWithRetries(whole, kRunListPath);
        if (error == ERROR_SUCCESS) {
            DeleteFileA(kRunListAsidePath);
            return RunListState::Present;
        }
    }
    if (error == ERROR_FILE_NOT_FOUND)
        return RunListState::Missing;
    failure = std::string(kRunListPath) + kMissingAndStuck + std::to_string(static_cast<unsigned long>(error)) + ")";
    return RunListState::Stuck;
}

std::string RewriteRunList(CLineFile& reader, const LineEdit& edit)
{
    const RewriteResult written = WriteRewrite(reader, kRunListPath, kRunListRewritePath, edit);
    if (written.failedStep != RewriteStep::Done)
        return written.failure;
    // Where the system has no one-step replacement the list steps aside under a known
    // name until its rewrite stands: RestoreRunList puts back what a cut leaves.
    const DWORD error =
        MoveRewriteIntoPlace(kRunListRewritePath, kRunListPath, ReplaceFallback::RenameAside, kRunListAsidePath);
    MarkStep(WorkStep::RewriteMoved);
    return error == ERROR_SUCCESS ? std::string() : DescribeMoveFailure(kRunListRewritePath, kRunListPath, error);
}
