// Drive variables: a name between "${" and "}" that stands for a drive letter which the
// utilities write in once they know it.
#pragma once

#include <string>

// "${" + name + "}".
std::string MakeDriveVariablePattern(const std::string& name);

// The first case-insensitive occurrence of pattern in text; an empty pattern is found at
// the start. npos when there is none.
std::string::size_type FindNoCase(const std::string& text, const std::string& pattern);

// Every occurrence of pattern (searched from the start, ignoring case) becomes the letter
// alone: the colon after the variable is the run list's own.
void ReplaceDriveVariable(std::string& line, const std::string& pattern, char letter);

// The file name in the same folder as path: its text up to and including the last
// backslash, then name; name alone when path has no backslash.
std::string GetSiblingPath(const std::string& path, const std::string& name);
