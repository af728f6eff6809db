// Jaskel: resolves a drive variable in any text file. The fixed drive that holds the tag
// file (typically the installer program) is written in place of every "${variable}".
#pragma once

#include <string>

// The backup of an edited file: its path up to the last dot of the file's own name, then
// "BAK"; a name without a dot gets ".BAK", and so does a name that ends in ".BAK" (which
// would otherwise be its own backup).
std::string GetJaskelBackupPath(const std::string& path);

// The whole run: the command line as the program got it; the program's exit code.
int RunJaskel(const std::string& commandLine);
