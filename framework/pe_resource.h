// Finding a program file's version resource in the file itself, through its section table
// and resource directory, without having the system load the file (which costs it a
// mapping of the whole file). Only the plain case is answered: the files a factory
// copies have one version resource, in one language.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Reads up to size bytes at offset of the file into bytes (fewer at its end); false when
// the read failed.
typedef std::function<bool(std::uint32_t offset, std::size_t size, std::string& bytes)> FileRangeReader;

// The bytes of the version resource (type 16, id 1; at most the 64 KB its 16-bit length
// can span) of a 32-bit or 64-bit program file. False wherever the answer is not plain:
// no such resource, more than one language of it, a directory out of order, a structure
// outside the sections' bytes or cut short. The system's own reading must then decide.
bool FindVersionResource(const FileRangeReader& read, std::string& block);
