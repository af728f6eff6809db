// The run list on disk: its paths, its safe rewrite (framework/file_rewrite.h) and the
// recovery of a rewrite that an interrupted replacement left beside a missing list.
#pragma once

#include "file_rewrite.h"

#include <string>

extern const char kRunListPath[];
extern const char kRunListRewritePath[];
// Where the list stands while its rewrite takes its place (9x family).
extern const char kRunListAsidePath[];
// The rewrite the run-list drive fix-up utility (Hobrint) replaces a list through, in the
// list's own folder; the list stands aside meanwhile (9x family) as GetAsidePath says.
extern const char kFixupRewriteName[];

// Present, Missing (nothing to put back in its place), or Stuck (nothing beside it could
// take its place).
using RunListState = ReplacedFileState;

// When the run list is missing because a replacement was cut off between its renames,
// the engine's or the fix-up utility's, puts back what RestoreReplacedFile says. Called
// before every run-list operation; on Stuck, failure says why and nothing may write the
// files.
RunListState RestoreRunList(std::string& failure);

// Deletes a copy of the list that a replacement, the engine's or the fix-up utility's,
// cut off after its renames left beside it. Called once as the walk begins.
void DeleteLeftRunListCopies();

// Rewrites the run list through "~RUN.NUV" with replacement in the place of line number
// lineNumber and every other line as it is, read through reader. Empty when the rewrite
// is the run list now; otherwise why not, with the list as it was (9x family: if even
// renaming it back failed, set aside beside its whole rewrite, which RestoreRunList puts
// back). A list that no longer has the line stays as it is: the line cannot be stamped.
std::string RewriteRunList(CLineFile& reader, int lineNumber, const std::string& replacement,
                           LineRewritten& rewritten);
