// Reads a run list the way the engine will and tells, line by line, what would go
// wrong on the machine, before the list goes to the line.
#pragma once

#include <string>
#include <vector>

enum class FindingLevel
{
    Error,    // the run would fail, lose progress or delete what it must not
    Warning   // the run goes on, but not as the line reads
};

struct RunListFinding
{
    int lineNumber;
    FindingLevel level;
    std::string text;
};

// The package sources as they will lie on the machine's drives; paths are Windows
// paths ("C:\VELK\APPS\TOOL\SETUP.EXE"), letter case ignored.
class CSourceTree
{
public:
    virtual ~CSourceTree() = default;
    virtual bool IsFile(const std::string& windowsPath) const = 0;
    virtual bool IsFolder(const std::string& windowsPath) const = 0;
    // The drive letters the sources hold, upper case.
    virtual std::string GetDriveLetters() const = 0;
};

// The findings for a run list's bytes, in line order. Without sources, only what the
// list itself shows is checked.
std::vector<RunListFinding> CheckRunList(const std::string& bytes, const CSourceTree* sources);
