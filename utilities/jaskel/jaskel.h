// Jaskel: resolves a drive variable in any text file. The fixed drive that holds the tag
// file (typically the installer program) is written in place of every "${variable}".
#pragma once

#include <string>

// The backup of an edited file: its name up to the last dot, then "BAK"; a path without
// a dot gets ".BAK".
std::string GetJaskelBackupPath(const std::string& path);

// The whole run: the command line as the program got it; the program's exit code.
int RunJaskel(const std::string& commandLine);
