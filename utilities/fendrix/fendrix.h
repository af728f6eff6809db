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

FileComparison CompareFiles(const std::string& source, const std::string& target);

// 0, or the system's error code of the operation that failed.
unsigned long CopyIfNewer(const std::string& source, const std::string& target, bool logErrors, bool move,
                          bool force);

// The whole run: the command line as the program got it; the program's exit code.
int RunFendrix(const std::string& commandLine);
