#include "line_file_text.h"

namespace
{
// The length of the line end at position, 0 when there is none there.
std::size_t GetLineEndLength(const std::string& bytes, std::size_t position)
{
    if (position >= bytes.size())
        return 0;
    if (bytes[position] == '\n')
        return 1;
    if (bytes[position] == '\r' && position + 1 < bytes.size() && bytes[position + 1] == '\n')
        return 2;
    return 0;
}
}

bool ReadNextLine(const std::string& bytes, std::size_t& offset, std::string& line,
                  std::size_t maxLength)
{
    line.clear();
    if (offset >= bytes.size())
        return false;
    // A zero limit would never move on; one character per line is the least.
    if (maxLength == 0)
        maxLength = 1;

    std::size_t position = offset;
    while (position < bytes.size() && line.size() < maxLength) {
        const std::size_t endLength = GetLineEndLength(bytes, position);
        if (endLength != 0) {
            offset = position + endLength;
            return true;
        }
        line.push_back(bytes[position]);
        ++position;
    }
    // The buffer is full: a line end right here still belongs to this line.
    offset = position + GetLineEndLength(bytes, position);
    return true;
}

bool IsWithinLineLimit(const std::string& line)
{
    return line.size() <= kMaxLineLength;
}
