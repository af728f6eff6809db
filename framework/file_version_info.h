// A file's fixed version from its version resource: four 16-bit parts, most significant
// first (the high and low words of the version's two double words).
#pragma once

#include <string>

// FALSE when the file has no version information or it cannot be read.
bool ReadFixedFileVersion(const std::string& path, unsigned short parts[4]);
