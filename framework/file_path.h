// Telling whether two paths name one file: the utilities must never take a file for a
// copy of itself, nor delete or empty the file they are working on under another name.
#pragma once

#include <string>

// Whether the two paths name the same file or folder: compared as full paths, in their
// short form where the file exists, ignoring letter case and a trailing backslash, so that
// "C:\X\A.TXT", "c:\x\a.txt" and a short name of either are the same file; and, where
// the names differ and both can be opened, by their identity (the volume's serial number,
// the file index, size and times), so that a second drive letter for a folder (subst, a
// mapped drive beside its UNC path, \\host\C$) or a second link to a file is seen
// through. A folder on the 9x family, which cannot be opened, is known by its names.
bool IsSameFile(const std::string& a, const std::string& b);

// The full path as the system resolves it (GetFullPathNameA): forward slashes become
// backslashes and a drive-relative path takes that drive's current folder. The path as
// given when the system cannot resolve it.
std::string GetFullPath(const std::string& path);
