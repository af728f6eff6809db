// Which run-list lines Hobrint fixes, and the program path it looks for on the drives.
#pragma once

#include <string>

// A line that begins with the token (ignoring case, over the token's length) and holds
// the variable's pattern.
bool IsFixupCandidate(const std::string& line, const std::string& token, const std::string& pattern);

// The program's path without its drive: from the first backslash after the first comma
// (or, without a comma, the first space) up to the nearer of the next comma and the next
// space. FALSE with the log text of what was missing.
bool ExtractApplicationPath(const std::string& line, std::string& path, std::string& missing);
