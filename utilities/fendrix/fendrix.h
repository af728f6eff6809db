// Fendrix: copies a file, the files matching a pattern or those of a directory to a
// destination, each only where it is newer than what stands there (by file version when
// both have one, else by last-write time). /f copies anyway, /d moves.
#pragma once

#include <string>

// The result of CompareFiles.
enum FileComparison
{
    kCompareFailed = 0,        // a file could not be looked up
    kNewerByVersion = 1,
    kNotNewerByVersion = 2,
    kNewerByTime = 3,
    kNotNewerByTime = 4
};

// By version where both files have one and they differ, else by the last-write times.
// The times are looked at first: a file whose version cannot turn their answer is not
// read, and the answer then names the times (3 for 1, 4 for 2), newer or not all the same.
FileComparison CompareFiles(const std::string& source, const std::string& target);

// 0, or the system's error code of the operation that failed. source and target are two
// files: RunFendrix passes over a file that is its own target.
unsigned long CopyIfNewer(const std::string& source, const std::string& target, bool logErrors, bool move,
                          bool force);

// The whole run: the command line as the program got it; the program's exit code.
int RunFendrix(const std::string& commandLine);
