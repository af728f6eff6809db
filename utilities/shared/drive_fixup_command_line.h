// The command lines of the two drive fix-up utilities: white space trimmed, the options
// cut out where they stand, slashes turned into backslashes, then three parameters, the
// first (and Jaskel's second) in double or single quotes when it holds spaces.
#pragma once

#include <string>

struct DriveFixupArguments
{
    std::string first;     // Hobrint: the run list;  Jaskel: the tag file's path without a drive
    std::string second;    // Hobrint: the line token; Jaskel: the file to edit
    std::string variable;  // the name between "${" and "}"
    bool firstAvailable = false;  // Hobrint's /F
    bool verbose = false;         // /V
};

struct ParsedCommandLine
{
    bool usage = false;   // the usage report is due, with message (empty: none)
    std::string message;
    DriveFixupArguments arguments;
};

// Longer texts are rejected with the usage report rather than cut.
const std::size_t kMaxCommandLine = 1023;
const std::size_t kMaxPathParameter = 259;
const std::size_t kMaxVariableName = 256;

ParsedCommandLine ParseHobrintCommandLine(const std::string& commandLine);
ParsedCommandLine ParseJaskelCommandLine(const std::string& commandLine);
