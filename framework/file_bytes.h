// Reading a whole file at once, for the small text files the programs edit as a whole.
#pragma once

#include <string>

// Whether a file exists: it opens for no access, with read and write sharing. A file
// that another program holds without sharing still counts.
bool IsExistingFile(const std::string& path);

// The file's bytes; FALSE when it cannot be opened or a read fails (bytes is then empty).
bool ReadWholeFile(const std::string& path, std::string& bytes);
