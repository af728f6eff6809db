// How the engine's line file cuts a file's bytes into lines. The file is read as
// text: a line ends at a line feed, a carriage return right before it is dropped,
// and a last line without a line end is a line like any other.
#pragma once

#include <cstddef>
#include <string>

// The line buffer holds 4096 bytes with its terminating zero.
const std::size_t kLineBufferSize = 4096;
const std::size_t kMaxLineLength = kLineBufferSize - 1;

// Takes the line that starts at offset into line, without its line end, and moves
// offset past it. FALSE when nothing is left to read. A longer line yields its first
// maxLength characters; the rest comes back from the next call as a line of its
// own. A line of exactly maxLength characters is one line, with no empty line after.
bool ReadNextLine(const std::string& bytes, std::size_t& offset, std::string& line,
                  std::size_t maxLength = kMaxLineLength);

// Whether a line can be written without being cut apart when it is read again.
bool IsWithinLineLimit(const std::string& line);
