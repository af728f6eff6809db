// Telling whether two paths name one file: the utilities must never take a file for a
// copy of itself, nor delete or empty the file they are working on under another name.
#pragma once

#include <string>

// Whether the two paths name the same file or folder: compared as full paths, in their
// short form where the file exists, ignoring letter case and a trailing backslash. So
// "C:\X\A.TXT", "c:\x\a.txt" and a short name of either are the same file.
bool IsSameFile(const std::string& a, const std::string& b);
