// Replacing a text file by a rewrite of it without ever losing it: the rewrite is written
// beside the file, checked to hold the whole file, flushed, and only then put in the
// file's place, in one step where the system can. A file another program holds (a
// scanner, an indexer) is tried again for about a second.
#pragma once

#include "line_file.h"

#include <functional>
#include <string>
#include <vector>

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

// Where a rewrite of one line put it.
struct LineRewritten
{
    bool found = false;                // the file had the line
    unsigned long long lineStart = 0;  // the byte offset of the line in the rewrite
    bool identityKnown = false;
    // The rewrite as it takes the file's place: a rename keeps all of it, so a later
    // reader can tell whether the file is still the rewrite as written.
    FileIdentity identity;
};

// WriteRewrite with an edit that puts replacement in the place of line number lineNumber
// and gives every other line as it is, read as ReadLine reads it with CR LF after it; the
// lines around it go over as spans of bytes. The replacement is one line: it holds no
// line end. A file without that line is rewritten whole all the same (rewritten.found
// tells).
RewriteResult WriteRewriteOfLine(CLineFile& reader, const std::string& path, const std::string& rewritePath,
                                 int lineNumber, const std::string& replacement, LineRewritten& rewritten);

// Whether this system replaces a file in one step (MoveFileExA, the NT family).
bool HasOneStepReplace();

// Puts the complete rewrite in the file's place; ERROR_SUCCESS, or the system's error
// with the file as it was, its attributes included. Where the system has no one-step
// replacement (the 9x family has MoveFileExA only as a stub) the file is never deleted
// before its rewrite stands in its place: it steps aside to asidePath, the rewrite is
// renamed into its place, and only then does the copy set aside go; the rewrite failing,
// the file is renamed back (if even that fails, it stands at asidePath beside its whole
// rewrite, and RestoreReplacedFile puts one back). A file that is not there yet is
// simply the rewrite renamed.
DWORD MoveRewriteIntoPlace(const std::string& rewritePath, const std::string& path, const std::string& asidePath);

// The two names a replacement uses beside its file.
struct ReplacementNames
{
    std::string rewritePath;
    std::string asidePath;
};

enum class ReplacedFileState
{
    Present,  // the file is there
    Missing,  // neither the file nor anything to put back in its place is there
    Stuck     // the file is missing and nothing beside it could take its place
};

// What a copy set aside alone beside a missing file is: the file's own earlier contents,
// to be put back (a file that never goes missing, such as the run list), or a copy left
// when a replacement was cut off after its renames and the file then went as it does in
// normal use (WININIT.INI, which the system carries out and renames at its start), to be
// deleted.
enum class LoneAsideCopy { PutBack, Delete };

// The one recovery rule of every file replaced through MoveRewriteIntoPlace. Where the
// file is missing and a replacement's rewrite and copy set aside are both there, that
// replacement was cut off between its renames: its rewrite is put back (the file steps
// aside only once its rewrite is whole, and the rewrite is newer), or, where it cannot
// be, the copy set aside; the copy then goes. A rewrite alone is never taken (it may
// have been cut off while it was written); a copy alone is treated as lone says.
// replacements: every pair of names that may have replaced the file, the likeliest
// first. On Stuck, error says why.
ReplacedFileState RestoreReplacedFile(const std::string& path, const std::vector<ReplacementNames>& replacements,
                                      LoneAsideCopy lone, DWORD& error);

// "PATH is missing and its rewrite could not take its place (Error Number: N)".
std::string DescribeStuckFailure(const std::string& path, DWORD error);

// The name a file that is not the run list steps aside under while its rewrite takes its
// place: "~NAME.OLD" beside it, its own name in it, so that files of one folder never
// share it.
std::string GetAsidePath(const std::string& path);

// Where the file stands and the copy set aside by one of its replacements is beside it,
// that replacement was cut off after its renames: the copy is older than the file and
// goes (never a copy that is the file itself). Called once where a program starts to
// work on the file, so that a copy left so is never taken for a cut between the renames.
void DeleteLeftAsideCopies(const std::string& path, const std::vector<ReplacementNames>& replacements);

// Replaces a small file by the given bytes: they are written to rewritePath, flushed, and
// put in the file's place with MoveRewriteIntoPlace (a missing file is created so). Empty
// when the file holds them now; otherwise why not, with the file as it was. A file that
// is itself rewritePath, under any name, is refused.
std::string ReplaceWholeFile(const std::string& path, const std::string& bytes, const std::string& rewritePath,
                             const std::string& asidePath);

// Failure texts: "PATH could not be opened (Error Number: N)" and the like.
std::string DescribeOpenFailure(const std::string& path, DWORD error);
std::string DescribeReadFailure(const std::string& path, DWORD error);
std::string DescribeMoveFailure(const std::string& rewritePath, const std::string& path, DWORD error);

// Test seam: whether the one-step replacement may be used (-1: where the system has it).
void SetAtomicReplaceAvailable(int available);
