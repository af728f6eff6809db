// The run list on disk: its paths, its safe rewrite (framework/file_rewrite.h) and the
// recovery of a rewrite that an interrupted replacement left beside a missing list.
#pragma once

#include "file_rewrite.h"

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

// Rewrites the run list through "~RUN.NUV", every line as edit gives it, read through
// reader. Empty when the rewrite is the run list now; otherwise why not, with the list as
// it was, or (9x family) missing beside its whole rewrite, which RestoreRunList puts back.
std::string RewriteRunList(CLineFile& reader, const LineEdit& edit);
