#include "line_file_text.h"

#include <cstring>

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

    const std::size_t left = bytes.size() - offset;
    // The line's characters lie within the window; a line feed right after it still
    // ends a CR LF that begins inside.
    const std::size_t window = maxLength < left ? maxLength : left;
    const std::size_t searched = window < left ? window + 1 : window;
    const char* start = bytes.data() + offset;
    const void* found = std::memchr(start, '\n', searched);
    if (found) {
        const std::size_t feed = static_cast<std::size_t>(static_cast<const char*>(found) - start);
        line.assign(start, feed > 0 && start[feed - 1] == '\r' ? feed - 1 : feed);
        offset += feed + 1;
        return true;
    }
    // The buffer is full: a line end right here still belongs to this line.
    line.assign(start, window);
    offset += window;
    offset += GetLineEndLength(bytes, offset);
    return true;
}

bool IsWithinLineLimit(const std::string& line)
{
    return line.size() <= kMaxLineLength;
}
