#include "run_list_file.h"

#include "step_marks.h"

#include <windows.h>

const char kRunListPath[] = "C:\\VELK\\RUN.NUV";
const char kRunListRewritePath[] = "C:\\VELK\\~RUN.NUV";
const char kRunListAsidePath[] = "C:\\VELK\\~RUN.OLD";
const char kFixupRewriteName[] = "RUNNUV.TMP";

namespace {

const char kRunListFolder[] = "C:\\VELK\\";

// The engine's own replacement first: it is the one that runs between boots.
const std::vector<ReplacementNames>& GetRunListReplacements()
{
    static const std::vector<ReplacementNames> replacements = {
        {kRunListRewritePath, kRunListAsidePath},
        {std::string(kRunListFolder) + kFixupRewriteName, GetAsidePath(kRunListPath)}};
    return replacements;
}

} // namespace

void DeleteLeftRunListCopies()
{
    DeleteLeftAsideCopies(kRunListPath, GetRunListReplacements());
}

RunListState RestoreRunList(std::string& failure)
{
    failure.clear();
    DWORD error = ERROR_SUCCESS;
    // A copy alone is the list's own earlier contents: the list never goes missing.
    const RunListState state = RestoreReplacedFile(kRunListPath, GetRunListReplacements(), LoneAsideCopy::PutBack, error);
    if (state == RunListState::Stuck)
        failure = DescribeStuckFailure(kRunListPath, error);
    return state;
}

std::string RewriteRunList(CLineFile& reader, int lineNumber, const std::string& replacement,
                           LineRewritten& rewritten)
{
    const RewriteResult written =
        WriteRewriteOfLine(reader, kRunListPath, kRunListRewritePath, lineNumber, replacement, rewritten);
    if (written.failedStep != RewriteStep::Done)
        return written.failure;
    if (!rewritten.found) {
        // Shortened by another program since the entry was read: nothing to put in place.
        DeleteFileWithRetries(kRunListRewritePath);
        return std::string(kRunListPath) + " no longer has line " + std::to_string(lineNumber);
    }
    // Where the system has no one-step replacement the list steps aside under a known
    // name until its rewrite stands: RestoreRunList puts back what a cut leaves.
    const DWORD error = MoveRewriteIntoPlace(kRunListRewritePath, kRunListPath, kRunListAsidePath);
    MarkStep(WorkStep::RewriteMoved);
    if (error != ERROR_SUCCESS) {
        rewritten = LineRewritten();
        return DescribeMoveFailure(kRunListRewritePath, kRunListPath, error);
    }
    return std::string();
}
