// Appending whole lines to a file that several writers share (the engine's log, the
// error file that the engine and the wrappers write). Each line is written in one
// write between open and close, so the file survives a crash or a restart at any moment.
#pragma once

#include <string>

// Appends text to the file, creating it when missing; the file is opened with deny-write
// sharing. When another writer holds the file at that instant, tries again a few times
// a little later. FALSE when the text could not be written; nothing is then changed.
bool AppendToSharedFile(const std::string& path, const std::string& text);
