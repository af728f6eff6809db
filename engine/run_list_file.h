// The run list on disk and its safe replacement: a rewrite goes to "~RUN.NUV" first and
// takes the list's place only when it is complete, so that a crash or power cut at any
// instant leaves one whole list on disk.
#pragma once

#include <string>

extern const char kRunListPath[];
extern const char kRunListRewritePath[];

// When the run list is missing but a complete rewrite was left behind by an interrupted
// replacement, puts the rewrite in its place. Called before every run-list operation.
void RestoreRunList();

// Puts the complete rewrite in place of the run list: atomically where the system can
// (NT family), by delete and rename elsewhere. TRUE when the rewrite is the run list now.
bool ReplaceRunList();

// Test seam: whether the atomic replacement may be used (as on the NT family).
void SetAtomicReplaceAvailable(int available);  // -1: ask the system (default), 0 or 1
