// Reading a whole file at once, for the small text files the programs edit as a whole.
#pragma once

#include <string>

// The file's bytes; FALSE when it cannot be opened or a read fails (bytes is then empty).
bool ReadWholeFile(const std::string& path, std::string& bytes);
