// The text rules of the source-list redirection: the package folder of an install
// command, registry key paths, and which source-list values name the package folder.
#pragma once

#include <string>

// The upper-cased folder of the package the command installs, with its trailing
// backslash: the command before its first ".MSI" (else ".EXE"), after the last space
// before it, cut after the last backslash. Without either extension: the text before the
// first space, or nothing when there is none.
void ExtractPackageDirectory(std::string& command);

// The two parts, trimmed, joined by one backslash unless either side already has it.
std::string JoinKeyPath(const std::string& first, const std::string& second);

// Whether a source-list value names the package folder (both compared in upper case):
// the folder without its trailing backslash occurs in the data followed by a backslash,
// a ";" or the end of the data. So "c:\apps\foo\" and "c:\apps\foo" name C:\APPS\FOO\,
// and "c:\apps\foobar\" does not.
bool IsPackageFolderSource(const std::string& data, const std::string& folder);

// Whether a package folder is specific enough for its sources to be deleted: not empty
// and not a drive's root, which every source on the drive would contain.
bool IsRedirectableFolder(const std::string& folder);
