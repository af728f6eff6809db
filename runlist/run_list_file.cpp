#include "run_list_file.h"

#include <windows.h>

const char kRunListPath[] = "C:\\VELK\\RUN.NUV";
const char kRunListRewritePath[] = "C:\\VELK\\~RUN.NUV";

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
    if (!Exists(kRunListRewritePath))
        return RunListState::Missing;
    const DWORD error = MoveFileWithRetries(kRunListRewritePath, kRunListPath);
    if (error == ERROR_SUCCESS)
        return RunListState::Present;
    failure = std::string(kRunListPath) + kMissingAndStuck + std::to_string(static_cast<unsigned long>(error)) + ")";
    return RunListState::Stuck;
}

std::string RewriteRunList(CLineFile& reader, const LineEdit& edit)
{
    const RewriteResult written = WriteRewrite(reader, kRunListPath, kRunListRewritePath, edit);
    if (written.failedStep != RewriteStep::Done)
        return written.failure;
    // Where the system has no one-step replacement the list is deleted first: its whole
    // rewrite under the known name is what RestoreRunList puts back.
    const DWORD error = MoveRewriteIntoPlace(kRunListRewritePath, kRunListPath, ReplaceFallback::DeleteAndRename);
    return error == ERROR_SUCCESS ? std::string() : DescribeMoveFailure(kRunListRewritePath, kRunListPath, error);
}
