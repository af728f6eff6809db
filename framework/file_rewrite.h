// Replacing a text file by a rewrite of it without ever losing it: the rewrite is written
// beside the file, checked to hold the whole file, flushed, and only then put in the
// file's place, in one step where the system can. A file another program holds (a
// scanner, an indexer) is tried again for about a second.
#pragma once

#include "line_file.h"

#include <functional>
#include <string>

// Opens a file, trying again for about a second while another program holds it.
BOOL OpenSharedLineFile(CLineFile& file, const std::string& path, CLineFile::OpenMode mode);

// Moves a file, trying again for about a second while another program holds either file.
DWORD MoveFileWithRetries(const std::string& from, const std::string& to);

// Deletes a file, read-only or not, trying again for about a second while another
// program holds it. ERROR_SUCCESS when the file is gone (also when it was not there),
// or the system's error with the file still there.
DWORD DeleteFileWithRetries(const std::string& path);

// The text to write in place of line number (1-based) of the file, with "\n" at its end
// for a line end (written as CR LF after the line's own bytes).
// hadLineEnd: whether a line end followed the line (or piece) in the file.
typedef std::function<std::string(int number, const std::string& line, bool hadLineEnd)> LineEdit;

enum class RewriteStep
{
    Done,
    OpenFile,       // the file could not be opened
    CreateRewrite,  // the rewrite could not be created
    WriteRewrite,   // writing or flushing the rewrite failed
    ReadFile        // the file could not be read to its end
};

struct RewriteResult
{
    RewriteStep failedStep = RewriteStep::Done;
    std::string failure;  // why, for messages: "PATH could not be ... (Error Number: N)"
};

// Writes the rewrite of the file at path to rewritePath, every line as edit gives it,
// read through reader (closed, at most its piece length a line). The file is opened
// first, so a missing file never lets its rewrite be emptied; a file that is itself
// rewritePath (under any name) is refused as CreateRewrite. A rewrite that is not whole
// is deleted. The file itself is not touched.
RewriteResult WriteRewrite(CLineFile& reader, const std::string& path, const std::string& rewritePath,
                           const LineEdit& edit);

// Where the system has no one-step replacement (the 9x family has MoveFileExA only as
// a stub): rename the file aside, rename the rewrite into its place and delete the file
// set aside (the rewrite failing, the file is renamed back; the caller recovers whichever
// whole file a cut between the renames leaves beside a missing file), or copy the
// rewrite over the file (the file is never missing).
enum class ReplaceFallback { RenameAside, CopyOver };

// Whether this system replaces a file in one step (MoveFileExA, the NT family).
bool HasOneStepReplace();

// Puts the complete rewrite in the file's place; ERROR_SUCCESS, or the system's error
// with the file as it was (after RenameAside, if even the way back failed, the file
// stands at asidePath beside its rewrite). asidePath serves RenameAside only.
DWORD MoveRewriteIntoPlace(const std::string& rewritePath, const std::string& path, ReplaceFallback fallback,
                           const std::string& asidePath = std::string());

// Failure texts: "PATH could not be opened (Error Number: N)" and the like.
std::string DescribeOpenFailure(const std::string& path, DWORD error);
std::string DescribeReadFailure(const std::string& path, DWORD error);
std::string DescribeMoveFailure(const std::string& rewritePath, const std::string& path, DWORD error);

// Test seam: whether the one-step replacement may be used (-1: where the system has it).
void SetAtomicReplaceAvailable(int available);
