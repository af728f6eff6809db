// The run list on disk and its safe rewrite. A rewrite goes to a file beside the list,
// is read back from nowhere but the disk, and takes the list's place only when it is
// complete and flushed, in one step where the system can: a crash, a power cut or
// another program holding a file at any instant leaves one whole list on disk.
#pragma once

#include "line_file.h"

#include <functional>
#include <string>

extern const char kRunListPath[];
extern const char kRunListRewritePath[];

enum class RunListState
{
    Present,  // the run list is there
    Missing,  // neither the list nor a rewrite of it is there
    Stuck     // the list is missing and its rewrite, now the only copy, could not take its place
};

// When the run list is missing but a rewrite was left behind by an interrupted
// replacement, puts the rewrite in its place (the list is deleted only after its rewrite
// was complete, so such a rewrite is whole). Called before every run-list operation; on
// Stuck, failure says why and nothing may write either file.
RunListState RestoreRunList(std::string& failure);

// Opens a file, trying again for about a second while another program holds it.
BOOL OpenSharedLineFile(CLineFile& file, const std::string& path, CLineFile::OpenMode mode);

// Gives the line to write in place of line number (1-based) of the file.
typedef std::function<std::string(int number, const std::string& line)> LineEdit;

// Rewrites the file at path through rewritePath: every line as edit gives it, with CR LF,
// read through reader (which must be closed). The file must exist: a missing one is
// never replaced, so a rewrite that is the only copy is never emptied. Returns an empty
// text when the rewrite has taken the file's place, otherwise why not; the file is then
// as it was, or, where the system cannot replace in one step, missing beside its
// complete rewrite, which RestoreRunList puts back.
std::string RewriteLineFile(CLineFile& reader, const std::string& path, const std::string& rewritePath,
                            const LineEdit& edit);

// Failure texts: "PATH could not be opened (Error Number: N)", "... read to its end ...".
std::string DescribeOpenFailure(const std::string& path, DWORD error);
std::string DescribeReadFailure(const std::string& path, DWORD error);

// Test seam: whether the one-step replacement may be used (-1: where the system has it).
void SetAtomicReplaceAvailable(int available);
