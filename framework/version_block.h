// The fixed part of a version resource as a program file holds it (a VS_VERSIONINFO
// block: little-endian lengths and type, a UTF-16 key, then the fixed file information).
#pragma once

#include <string>

// The file version's four 16-bit parts, most significant first; false when the block is
// too short for them or its fixed part is missing or cut short.
bool ReadFixedVersionFromBlock(const std::string& block, unsigned short parts[4]);
